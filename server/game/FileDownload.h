#pragma once

// A player's custom-model download: the file is read in 4096-byte chunks, each compressed and sent
// in pieces that fit the connection's MTU, one piece per main-loop pass, with a start, a done or a
// failed message around them. Scripts may refuse a request or redirect it to a web address.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace velt {

class BitStream;
class GameServer;

// The kinds of FileTransferMessage.
enum FileTransferKind : uint8_t {
    FILE_TRANSFER_FAILED = 0,
    FILE_TRANSFER_PIECE = 1,
    FILE_TRANSFER_DONE = 2,
    FILE_TRANSFER_START = 5,
    FILE_TRANSFER_REDIRECT = 6,
};

// Which file of a model a client asks for.
enum DownloadRequestKind : uint8_t {
    DOWNLOAD_MODEL_FILE = 1,
    DOWNLOAD_TEXTURE_FILE = 2,
};

// The redirect message carries the address's length in one byte: longer addresses are cut.
inline constexpr size_t kMaxRedirectUrl = 255;
// What a piece leaves of the MTU for the transport's and the message's own headers.
inline constexpr int32_t kPieceHeadroom = 40;

class FileDownload {
public:
    explicit FileDownload(GameServer& server);
    ~FileDownload();
    FileDownload(const FileDownload&) = delete;
    FileDownload& operator=(const FileDownload&) = delete;

    void SetOwner(uint16_t owner) { owner_ = owner; }
    uint16_t Owner() const { return owner_; }

    // A new request: remembered for a redirect, and the redirected mark cleared.
    void SetRequest(uint8_t kind, uint32_t crc);
    bool IsRedirected() const { return redirected_; }
    bool IsActive() const { return active_; }

    // Starts sending `path` (announced as `size` bytes). Ignored while a file is being sent; an
    // empty or unreadable file answers the failed message.
    void Start(uint8_t kind, uint32_t crc, const std::string& path, int32_t size);
    // Sends the client to `url` for the pending request instead (cut to kMaxRedirectUrl bytes).
    void Redirect(const char* url);
    void SendFailed();
    // One step: the next piece, the next chunk, or the end.
    void Tick();
    // Back to idle, the file closed, nothing sent.
    void Reset();

private:
    void Send(const BitStream& bs);
    void SendKind(uint8_t kind);
    void Finish();
    bool ReadNextChunk();

    GameServer& server_;
    uint16_t owner_ = 0xFFFF;
    bool active_ = false;
    std::FILE* file_ = nullptr;
    uint8_t phase_ = 0;  // 0 idle, 1 sending the current chunk's pieces, 2 the next chunk is due
    uint8_t requestKind_ = 0;
    uint32_t requestCrc_ = 0;
    bool redirected_ = false;
    uint32_t chunkCount_ = 0;
    uint32_t wholeChunks_ = 0;
    uint32_t sent_ = 0;
    uint32_t compressedLength_ = 0;
    uint32_t uncompressedLength_ = 0;
    // Made when a download starts and dropped when it ends: an idle player holds none.
    std::unique_ptr<uint8_t[]> compressed_;
};

}  // namespace velt
