#include "net/ext/FileListTransfer.h"

#include <memory>
#include <new>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetPeerInterface.h"
#include "net/StringCompressor.h"
#include "net/ext/FileList.h"

namespace velt {

namespace {

// Names travel as texts of at most this many characters, terminator included.
constexpr int32_t kNameChars = int32_t(FileList::kMaxNameLength) + 1;
// The transport's progress notice: [92][u32 received][u32 total][u32 first piece bytes][first piece].
constexpr uint32_t kProgressHeaderBytes = 13;

uint32_t BytesOfBits(uint64_t bits) { return uint32_t((bits + 7) / 8); }

// Byte value counts over the data of every file of the list.
void CountBytes(const FileList& list, uint32_t counts[HuffmanEncodingTree::kSymbols]) {
    for (int i = 0; i < HuffmanEncodingTree::kSymbols; ++i) counts[i] = 0;
    for (uint32_t i = 0; i < list.Size(); ++i)
        for (uint8_t b : list[i].data) ++counts[b];
}

}  // namespace

FileListTransfer::Receiver::~Receiver() {
    if (ownsHandler) delete handler;
}

FileListTransfer::~FileListTransfer() { Clear(); }

uint16_t FileListTransfer::PrepareReceive(FileListTransferCBInterface* handler, bool ownsHandler,
                                          PlayerID sender) {
    if (netPeer_ == nullptr || handler == nullptr || netPeer_->GetIndexFromPlayerID(sender) < 0)
        return kNoFileListSet;
    auto receiver = std::make_unique<Receiver>();
    receiver->handler = handler;
    receiver->ownsHandler = ownsHandler;
    receiver->allowedSender = sender;
    const uint16_t id = setId_;
    // A receiver still waiting under this id since the counter last passed it gives way.
    DropReceiver(id);
    receivers_[id] = std::move(receiver);
    setId_ = setId_ == kNoFileListSet - 1 ? 0 : uint16_t(setId_ + 1);
    return id;
}

void FileListTransfer::Send(const FileList& list, NetPeerInterface* peer, PlayerID recipient, uint16_t setId,
                            PacketPriority priority, uint8_t orderingChannel, bool compress) {
    if (peer == nullptr) return;
    const uint32_t count = list.Size();
    HuffmanEncodingTree tree;
    uint32_t counts[HuffmanEncodingTree::kSymbols] = {};
    // Each file's code, coded once: the header needs the sizes before the files go.
    std::vector<std::unique_ptr<BitStream>> coded;
    uint32_t totalBytes = 0;
    uint32_t totalCompressedBytes = 0;
    if (compress && count > 0) {
        CountBytes(list, counts);
        tree.BuildFromFrequencies(counts);
        for (uint32_t i = 0; i < count; ++i) {
            auto code = std::make_unique<BitStream>();
            tree.EncodeBytes(list[i].Data(), list[i].DataLength(), *code);
            totalCompressedBytes += BytesOfBits(uint64_t(code->GetNumberOfBitsUsed()));
            coded.push_back(std::move(code));
        }
    }
    for (uint32_t i = 0; i < count; ++i) totalBytes += list[i].fileLength;
    const bool compressed = compress && count > 0;

    BitStream header;
    header.Write(ID_FILE_LIST_HEADER);
    header.Write(setId);
    header.Write(count > 0);
    if (count > 0) {
        header.Write(compressed);
        if (compressed)
            for (uint32_t c : counts) header.WriteCompressed(c);
        header.WriteCompressed(count);
        header.WriteCompressed(totalBytes);
        if (compressed) header.WriteCompressed(totalCompressedBytes);
    }
    peer->Send(&header, priority, RELIABILITY_RELIABLE_ORDERED, orderingChannel, recipient, false);

    for (uint32_t i = 0; i < count; ++i) {
        const FileListEntry& entry = list[i];
        BitStream message;
        message.Write(ID_FILE_LIST_FILE);
        message.Write(entry.context);
        message.Write(setId);
        message.WriteCompressed(i);
        message.WriteCompressed(entry.DataLength());
        if (compressed) message.WriteCompressed(uint32_t(coded[i]->GetNumberOfBitsUsed()));
        StringCompressor::Instance()->EncodeString(entry.filename.c_str(), kNameChars, message);
        if (compressed) {
            message.WriteRawBits(coded[i]->GetData(), coded[i]->GetNumberOfBitsUsed(), false);
            coded[i].reset();
        } else {
            message.WriteBytes(entry.Data(), int32_t(entry.DataLength()));
        }
        peer->Send(&message, priority, RELIABILITY_RELIABLE_ORDERED, orderingChannel, recipient, false);
    }
}

void FileListTransfer::DropReceiver(uint16_t setId) { receivers_.erase(setId); }

void FileListTransfer::Clear() { receivers_.clear(); }

void FileListTransfer::DropReceiversOf(PlayerID system) {
    for (auto it = receivers_.begin(); it != receivers_.end();) {
        if (it->second->allowedSender == system)
            it = receivers_.erase(it);
        else
            ++it;
    }
}

void FileListTransfer::ConnectionClosed(NetPeerInterface* peer, PlayerID remote) {
    (void)peer;
    std::lock_guard<std::mutex> lock(closedMutex_);
    closedSystems_.push_back(remote);
}

void FileListTransfer::DropClosedSystems() {
    std::vector<PlayerID> closed;
    {
        std::lock_guard<std::mutex> lock(closedMutex_);
        closed.swap(closedSystems_);
    }
    for (PlayerID system : closed) DropReceiversOf(system);
}

void FileListTransfer::Detached(NetPeerInterface* peer) {
    (void)peer;
    netPeer_ = nullptr;
}

void FileListTransfer::Update(NetPeerInterface* peer) {
    (void)peer;
    DropClosedSystems();
}

void FileListTransfer::Disconnecting(NetPeerInterface* peer) {
    (void)peer;
    Clear();
}

PluginReceiveResult FileListTransfer::Received(NetPeerInterface* peer, Packet* packet) {
    (void)peer;
    if (packet == nullptr || packet->length == 0) return PRR_CONTINUE;
    DropClosedSystems();
    switch (packet->data[0]) {
        case ID_CONN_CLOSED:
        case ID_CONN_LOST: DropReceiversOf(packet->sender); return PRR_CONTINUE;
        case ID_FILE_LIST_HEADER: OnHeader(*packet); return PRR_DEALLOCATE;
        case ID_FILE_LIST_FILE: OnFile(*packet, false); return PRR_DEALLOCATE;
        case ID_SPLIT_PROGRESS:
            if (packet->length <= kProgressHeaderBytes ||
                packet->data[kProgressHeaderBytes] != ID_FILE_LIST_FILE)
                return PRR_CONTINUE;
            OnFile(*packet, true);
            return PRR_DEALLOCATE;
        default: return PRR_CONTINUE;
    }
}

FileListTransfer::Receiver* FileListTransfer::ReceiverFor(uint16_t setId, const Packet& packet) {
    const auto it = receivers_.find(setId);
    if (it == receivers_.end() || it->second->allowedSender != packet.sender) {
        ++stats_.foreignMessages;
        return nullptr;
    }
    return it->second.get();
}

void FileListTransfer::OnHeader(const Packet& packet) {
    BitStream in(packet.data, packet.length, false);
    in.SkipBits(8);
    uint16_t setId = 0;
    bool nonEmpty = false;
    if (!in.Read(setId) || !in.Read(nonEmpty)) {
        ++stats_.badMessages;
        return;
    }
    Receiver* receiver = ReceiverFor(setId, packet);
    if (receiver == nullptr) return;
    if (!nonEmpty) {
        // Nothing will follow: the set is over as soon as the handler knows.
        receiver->handler->FileReceived(0, nullptr, nullptr, 0, 0, setId, 0, 0, 0, 0);
        DropReceiver(setId);
        return;
    }
    bool compressed = false;
    uint32_t counts[HuffmanEncodingTree::kSymbols];
    uint32_t setCount = 0, totalBytes = 0, totalCompressedBytes = 0;
    bool ok = in.Read(compressed);
    for (int i = 0; ok && compressed && i < HuffmanEncodingTree::kSymbols; ++i)
        ok = in.ReadCompressed(counts[i]);
    ok = ok && in.ReadCompressed(setCount) && in.ReadCompressed(totalBytes);
    if (ok && compressed) ok = in.ReadCompressed(totalCompressedBytes);
    if (!ok) {
        ++stats_.badMessages;
        return;
    }
    receiver->compressed = compressed;
    if (compressed) {
        if (!receiver->tree) receiver->tree = std::make_unique<HuffmanEncodingTree>();
        receiver->tree->BuildFromFrequencies(counts);
    } else
        totalCompressedBytes = totalBytes;
    receiver->setCount = setCount;
    receiver->totalBytes = totalBytes;
    receiver->totalCompressedBytes = totalCompressedBytes;
}

void FileListTransfer::OnFile(const Packet& packet, bool progress) {
    BitStream in(packet.data, packet.length, false);
    in.SkipBits(8);
    uint32_t partsReceived = 0, partsTotal = 0, partLength = 0;
    if (progress) {
        if (!in.Read(partsReceived) || !in.Read(partsTotal) || !in.Read(partLength)) return;
        in.SkipBits(8);
    }
    uint8_t context = 0;
    uint16_t setId = 0;
    if (!in.Read(context) || !in.Read(setId)) {
        ++stats_.badMessages;
        return;
    }
    Receiver* receiver = ReceiverFor(setId, packet);
    if (receiver == nullptr) return;
    uint32_t fileIndex = 0, dataLength = 0, compressedBits = 0;
    char name[kNameChars];
    if (!in.ReadCompressed(fileIndex) || !in.ReadCompressed(dataLength) ||
        (receiver->compressed && !in.ReadCompressed(compressedBits)) ||
        !StringCompressor::Instance()->DecodeString(name, kNameChars, in)) {
        ++stats_.badMessages;
        return;
    }
    const uint32_t compressedBytes = BytesOfBits(compressedBits);
    FileListTransferCBInterface* handler = receiver->handler;
    if (progress) {
        handler->FilePartReceived(fileIndex, name, compressedBytes, dataLength, setId, receiver->setCount,
                                  receiver->totalCompressedBytes, receiver->totalBytes, context,
                                  partsReceived, partsTotal, partLength);
        return;
    }

    // The lengths come from the sender: the bits must be in this message (every coded byte takes
    // at least one) before anything is allocated for them.
    const uint64_t unread = uint64_t(in.GetNumberOfUnreadBits());
    const uint64_t needed = receiver->compressed ? compressedBits : uint64_t(dataLength) * 8;
    if (dataLength > FileList::kMaxDataLength || needed > unread ||
        (receiver->compressed && dataLength > compressedBits)) {
        ++stats_.badMessages;
        return;
    }
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[dataLength == 0 ? 1 : dataLength]);
    if (!data) return;
    if (receiver->compressed) {
        if (receiver->tree->DecodeToBuffer(in, compressedBits, dataLength, data.get()) != dataLength) {
            ++stats_.badMessages;
            return;
        }
    } else if (!in.ReadBytes(data.get(), int32_t(dataLength))) {
        ++stats_.badMessages;
        return;
    }
    const uint32_t setCount = receiver->setCount;
    handler->FileReceived(fileIndex, name, data.get(), receiver->compressed ? compressedBytes : 0, dataLength,
                          setId, setCount, receiver->totalCompressedBytes, receiver->totalBytes, context);
    // The handler may have prepared other sets meanwhile: look the receiver up again.
    if (uint64_t(fileIndex) + 1 == setCount) {
        const auto it = receivers_.find(setId);
        if (it != receivers_.end() && it->second->handler == handler) receivers_.erase(it);
    }
}

}  // namespace velt
