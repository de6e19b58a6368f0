#include "server/game/FileDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "net/BitStream.h"
#include "net/NetServerInterface.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/LzmaChunk.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

// Opens a plain file for reading without ever waiting: a pipe put in place of a model file would
// otherwise block the main thread in the open.
std::FILE* OpenPlainFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "rb");
    if (f == nullptr) close(fd);
    return f;
}

}  // namespace

FileDownload::FileDownload(GameServer& server) : server_(server) {}

FileDownload::~FileDownload() { Reset(); }

void FileDownload::Reset() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    active_ = false;
    phase_ = 0;
    sent_ = 0;
    compressedLength_ = 0;
    uncompressedLength_ = 0;
    compressed_.reset();
}

void FileDownload::SetRequest(uint8_t kind, uint32_t crc) {
    requestKind_ = kind;
    requestCrc_ = crc;
    redirected_ = false;
}

void FileDownload::Send(const BitStream& bs) {
    server_.SendRpcToPlayer(RPC_FileTransferMessage, &bs, owner_, RpcChannel::FileTransfer);
}

void FileDownload::SendKind(uint8_t kind) {
    BitStream bs;
    bs.Write(kind);
    Send(bs);
}

void FileDownload::SendFailed() { SendKind(FILE_TRANSFER_FAILED); }

void FileDownload::Start(uint8_t kind, uint32_t crc, const std::string& path, int32_t size) {
    if (file_ != nullptr) return;
    std::FILE* f = size > 0 ? OpenPlainFile(path) : nullptr;
    if (f == nullptr) {
        SendFailed();
        return;
    }
    file_ = f;
    compressed_ = std::make_unique<uint8_t[]>(kLzmaChunkBound);
    BitStream bs;
    bs.Write(uint8_t(FILE_TRANSFER_START));
    bs.Write(kind);
    bs.Write(crc);
    Send(bs);
    active_ = true;
    phase_ = 2;
    chunkCount_ = 0;
    wholeChunks_ = uint32_t(size) / kDownloadChunkSize;
}

void FileDownload::Redirect(const char* url) {
    const size_t length = url != nullptr ? strnlen(url, kMaxRedirectUrl) : 0;
    BitStream bs;
    bs.Write(uint8_t(FILE_TRANSFER_REDIRECT));
    bs.Write(requestKind_);
    bs.Write(requestCrc_);
    bs.Write(uint8_t(length));
    if (length != 0) bs.WriteBytes(url, int32_t(length));
    Send(bs);
    redirected_ = true;
}

void FileDownload::Finish() {
    Reset();
    SendKind(FILE_TRANSFER_DONE);
}

bool FileDownload::ReadNextChunk() {
    uint8_t chunk[kDownloadChunkSize];
    const size_t n = std::fread(chunk, 1, sizeof chunk, file_);
    if (std::ferror(file_)) return false;
    int error = 0;
    const size_t packed = CompressDownloadChunk(chunk, n, compressed_.get(), kLzmaChunkBound, error);
    if (packed == 0) {
        LogPrintf("Compress error: %d", error);
        return false;
    }
    uncompressedLength_ = uint32_t(n);
    compressedLength_ = uint32_t(packed);
    sent_ = 0;
    phase_ = 1;
    ++chunkCount_;
    return true;
}

void FileDownload::Tick() {
    if (!active_ || file_ == nullptr) return;
    if (phase_ == 2) {
        if (std::feof(file_)) {
            Finish();
            return;
        }
        // A chunk that cannot be read or packed whole would reach the client corrupted: the
        // download ends as failed instead.
        if (!ReadNextChunk()) {
            Reset();
            SendFailed();
            return;
        }
    }
    if (phase_ == 1) {
        NetServerInterface* net = server_.GetNetServer();
        const int32_t mtu = net != nullptr ? net->GetMTUSize() : 0;
        const uint32_t room = mtu > kPieceHeadroom ? uint32_t(mtu - kPieceHeadroom) : 1;
        const uint32_t left = compressedLength_ - sent_;
        uint32_t piece = left;
        if (left > room) {
            piece = room;
        } else {
            phase_ = 2;
        }
        BitStream bs;
        bs.Write(uint8_t(FILE_TRANSFER_PIECE));
        bs.Write(phase_);
        bs.Write(uncompressedLength_);
        bs.Write(piece);
        bs.WriteBytes(compressed_.get() + sent_, int32_t(piece));
        Send(bs);
        sent_ += piece;
    }
    if (phase_ == 2 && chunkCount_ > wholeChunks_) Finish();
}

}  // namespace velt
