#pragma once
// Sends a whole FileList to one connected system as one set of messages (a header, then one
// message per file, optionally Huffman-coded with one code for the set) and, on the receiving
// side, hands each arriving file to the handler registered for that set. A receiver announces
// beforehand which set id it expects and from which system; everything else is consumed unseen.
//
// A plugin of a peer: attach it, then call it from the thread that calls the peer's Receive.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "net/HuffmanEncodingTree.h"
#include "net/NetworkTypes.h"
#include "net/PluginInterface.h"
#include "net/ext/FileListTransferCBInterface.h"

namespace velt {

class BitStream;
class FileList;

inline constexpr uint8_t ID_FILE_LIST_HEADER = 47;
inline constexpr uint8_t ID_FILE_LIST_FILE = 48;

// Set id that PrepareReceive hands out for a failure; never a real set's.
inline constexpr uint16_t kNoFileListSet = 0xFFFF;

// Messages the receiving side consumed without acting on them.
struct FileListTransferStats {
    uint32_t foreignMessages = 0;  // for a set nobody expects, or from another system than expected
    uint32_t badMessages = 0;      // cut short, or lengths the message cannot hold
};

class FileListTransfer : public PluginInterface {
public:
    FileListTransfer() = default;
    ~FileListTransfer() override;
    FileListTransfer(const FileListTransfer&) = delete;
    FileListTransfer& operator=(const FileListTransfer&) = delete;

    // Registers handler for the next set id and returns it; the ids run 0..0xFFFE and wrap. With
    // ownsHandler the handler is deleted when its set ends. kNoFileListSet, with nothing taken,
    // when not attached, handler is null or sender has no connection of the peer.
    uint16_t PrepareReceive(FileListTransferCBInterface* handler, bool ownsHandler, PlayerID sender);
    // Sends list as set setId to recipient, reliable and ordered; compressed with one Huffman code
    // over all its files when compress. Entries with no data go as empty files.
    void Send(const FileList& list, NetPeerInterface* peer, PlayerID recipient, uint16_t setId,
              PacketPriority priority, uint8_t orderingChannel, bool compress);
    // Drops every receiver.
    void Clear();
    // Drops every receiver that expects its files from system.
    void DropReceiversOf(PlayerID system);

    uint32_t ReceiverCount() const { return uint32_t(receivers_.size()); }
    const FileListTransferStats& Stats() const { return stats_; }

    void Attached(NetPeerInterface* peer) override { netPeer_ = peer; }
    void Detached(NetPeerInterface* peer) override;
    void Update(NetPeerInterface* peer) override;
    PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) override;
    void Disconnecting(NetPeerInterface* peer) override;
    // May run on the peer's network thread: only notes the system for the next Update.
    void ConnectionClosed(NetPeerInterface* peer, PlayerID remote) override;

private:
    struct Receiver {
        FileListTransferCBInterface* handler = nullptr;
        PlayerID allowedSender = UNASSIGNED_PLAYER_ID;
        std::unique_ptr<HuffmanEncodingTree> tree;  // only for a compressed set: the code is large
        uint32_t setCount = 0;
        uint32_t totalCompressedBytes = 0;
        uint32_t totalBytes = 0;
        bool ownsHandler = false;
        bool compressed = false;
        ~Receiver();
    };
    using ReceiverMap = std::map<uint16_t, std::unique_ptr<Receiver>>;

    // The receiver of setId when packet's sender is the one it expects, else null (counted).
    Receiver* ReceiverFor(uint16_t setId, const Packet& packet);
    void DropReceiver(uint16_t setId);
    void DropClosedSystems();
    void OnHeader(const Packet& packet);
    // progress: the packet is the transport's notice of a file message still arriving in pieces.
    void OnFile(const Packet& packet, bool progress);

    NetPeerInterface* netPeer_ = nullptr;
    uint16_t setId_ = 0;
    ReceiverMap receivers_;
    FileListTransferStats stats_;
    std::mutex closedMutex_;
    std::vector<PlayerID> closedSystems_;  // noted by ConnectionClosed, dropped on the user's thread
};

}  // namespace velt
