#pragma once
// Keeps a directory of one system in step with a directory of another. The serving side offers
// the files below its root directory; the asking side sends the digests of what it already holds,
// and the serving side answers, through a FileListTransfer, with only the files that are missing or
// different there. The asking side writes each arriving file below its output directory, refusing
// any name that would leave it, and passes it on to the application's callback.
//
// A plugin of a peer, used with a FileListTransfer attached to the same peer.

#include <cstdint>
#include <string>

#include "net/NetworkTypes.h"
#include "net/PluginInterface.h"
#include "net/ext/FileList.h"

namespace velt {

class FileListTransfer;
class FileListTransferCBInterface;

inline constexpr uint8_t ID_DIRECTORY_REQUEST = 49;

// Where an arriving file goes: outputDirectory (ending in a separator) followed by name without its
// leading requestedSubdirectory (absent or empty: none). False when name does not lie in that
// subdirectory or what remains of it could leave the output directory.
bool DeltaTargetPath(const std::string& outputDirectory, const char* requestedSubdirectory, const char* name,
                     std::string& target);

class DirectoryDeltaTransfer : public PluginInterface {
public:
    // Longest root directory, without the separator that ends it.
    static constexpr size_t kMaxRootLength = 510;
    // Longest subdirectory texts a request carries.
    static constexpr size_t kMaxSubdirectoryLength = 255;

    DirectoryDeltaTransfer() = default;
    DirectoryDeltaTransfer(const DirectoryDeltaTransfer&) = delete;
    DirectoryDeltaTransfer& operator=(const DirectoryDeltaTransfer&) = delete;

    // At most kMaxRootLength characters, then "/" unless it ends in a separator; null or empty:
    // the working directory.
    void SetRootDirectory(const char* directory);
    const std::string& GetRootDirectory() const { return rootDirectory_; }
    // The transfer plugin that carries the files both ways; not owned.
    void SetTransfer(FileListTransfer* transfer) { transfer_ = transfer; }
    // Priority and ordering channel of the files this side serves.
    void SetSendOptions(PacketPriority priority, uint8_t orderingChannel);

    // Offers every file below root/subdirectory (digests only; the bytes are read when asked for).
    void OfferSubdirectory(const char* subdirectory);
    void ClearOffered() { offered_.Clear(); }
    uint32_t OfferedCount() const { return offered_.Size(); }

    // Asks host for the files below its subdirectory that differ from those below the output
    // directory here: root + outputSubdirectory with prependRoot, else outputSubdirectory alone (the
    // working directory when that is empty too). Arriving files are written there and then passed
    // to userCallback with the path written (empty for a file refused or not written). Returns the
    // set id, or kNoFileListSet when no transfer is set, host is not connected, a text is too long
    // or the output directory is the file-system root.
    uint16_t RequestSubdirectory(const char* subdirectory, const char* outputSubdirectory, bool prependRoot,
                                 PlayerID host, FileListTransferCBInterface* userCallback,
                                 PacketPriority priority, uint8_t orderingChannel);

    void Attached(NetPeerInterface* peer) override { netPeer_ = peer; }
    void Detached(NetPeerInterface* peer) override;
    PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) override;

    // Requests that could not be read and got no answer.
    uint32_t RefusedRequests() const { return refusedRequests_; }

private:
    void ServeRequest(const Packet& packet);

    std::string rootDirectory_;
    FileListTransfer* transfer_ = nullptr;
    FileList offered_;
    NetPeerInterface* netPeer_ = nullptr;
    PacketPriority priority_ = HIGH_PRIORITY_LEVEL;
    uint8_t orderingChannel_ = 0;
    uint32_t refusedRequests_ = 0;
};

}  // namespace velt
