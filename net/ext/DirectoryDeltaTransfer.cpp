#include "net/ext/DirectoryDeltaTransfer.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/BitStream.h"
#include "net/CompareNoCase.h"
#include "net/NetPeerInterface.h"
#include "net/StringCompressor.h"
#include "net/ext/FileListPaths.h"
#include "net/ext/FileListTransfer.h"

namespace velt {

namespace {

// Subdirectory texts travel with at most this many characters, terminator included.
constexpr int32_t kSubdirectoryChars = int32_t(DirectoryDeltaTransfer::kMaxSubdirectoryLength) + 1;

// Whether directory is the file-system root, as it stands or, when it does not exist yet, as its
// "." and ".." parts resolve below the working directory.
bool ResolvesToRoot(const std::string& directory) {
    char resolved[PATH_MAX];
    if (realpath(directory.c_str(), resolved) != nullptr) return std::strcmp(resolved, "/") == 0;
    std::string path = directory;
    if (path.empty() || path[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) return true;  // cannot tell: the safe answer
        path = std::string(cwd) + "/" + path;
    }
    std::vector<std::string> parts;
    for (size_t at = 0; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    return parts.empty();
}

// Writes each arriving file of one request below its output directory, then tells the
// application. Owned by the transfer's receiver of the request's set.
class DeltaCallback final : public FileListTransferCBInterface {
public:
    DeltaCallback(std::string outputDirectory, const char* subdirectory, FileListTransferCBInterface* user)
        : outputDirectory_(std::move(outputDirectory)),
          subdirectory_(subdirectory ? subdirectory : ""),
          user_(user) {}

    void FileReceived(uint32_t fileIndex, const char* filename, const uint8_t* data, uint32_t compressedBytes,
                      uint32_t dataLength, uint16_t setId, uint32_t setCount, uint32_t totalCompressedBytes,
                      uint32_t totalBytes, uint8_t context) override {
        std::string target;
        if (filename == nullptr || data == nullptr ||
            !DeltaTargetPath(outputDirectory_, subdirectory_.c_str(), filename, target) ||
            !WriteFileCreatingDirs(target.c_str(), data, dataLength))
            target.clear();
        if (user_ != nullptr)
            user_->FileReceived(fileIndex, target.c_str(), data, compressedBytes, dataLength, setId, setCount,
                                totalCompressedBytes, totalBytes, context);
    }

    void FilePartReceived(uint32_t fileIndex, const char* filename, uint32_t compressedBytes,
                          uint32_t dataLength, uint16_t setId, uint32_t setCount,
                          uint32_t totalCompressedBytes, uint32_t totalBytes, uint8_t context,
                          uint32_t partsReceived, uint32_t partsTotal, uint32_t partLength) override {
        std::string target;
        if (filename == nullptr ||
            !DeltaTargetPath(outputDirectory_, subdirectory_.c_str(), filename, target))
            target.clear();
        if (user_ != nullptr)
            user_->FilePartReceived(fileIndex, target.c_str(), compressedBytes, dataLength, setId, setCount,
                                    totalCompressedBytes, totalBytes, context, partsReceived, partsTotal,
                                    partLength);
    }

private:
    std::string outputDirectory_;
    std::string subdirectory_;
    FileListTransferCBInterface* user_;
};

}  // namespace

bool DeltaTargetPath(const std::string& outputDirectory, const char* requestedSubdirectory, const char* name,
                     std::string& target) {
    target.clear();
    if (name == nullptr) return false;
    const char* rest = name;
    size_t prefix = requestedSubdirectory != nullptr ? std::strlen(requestedSubdirectory) : 0;
    if (prefix > 0 && IsPathSeparator(requestedSubdirectory[prefix - 1])) --prefix;
    if (prefix > 0) {
        // The name must lie in the subdirectory asked for, not merely be long enough to cut.
        if (std::strlen(name) <= prefix + 1 || CompareNoCaseN(name, requestedSubdirectory, prefix) != 0 ||
            name[prefix] != '/')
            return false;
        rest = name + prefix + 1;
    }
    if (!IsSafeRelativeName(rest) || !JoinPath(outputDirectory.c_str(), rest, target)) {
        target.clear();
        return false;
    }
    return true;
}

void DirectoryDeltaTransfer::SetRootDirectory(const char* directory) {
    rootDirectory_ = directory != nullptr ? directory : "";
    if (rootDirectory_.size() > kMaxRootLength) rootDirectory_.resize(kMaxRootLength);
    EnsureTrailingSlash(rootDirectory_);
}

void DirectoryDeltaTransfer::SetSendOptions(PacketPriority priority, uint8_t orderingChannel) {
    priority_ = priority;
    orderingChannel_ = orderingChannel;
}

void DirectoryDeltaTransfer::OfferSubdirectory(const char* subdirectory) {
    offered_.AddDirectory(rootDirectory_.c_str(), subdirectory, true, false, true, 0);
}

void DirectoryDeltaTransfer::Detached(NetPeerInterface* peer) {
    (void)peer;
    netPeer_ = nullptr;
}

uint16_t DirectoryDeltaTransfer::RequestSubdirectory(const char* subdirectory, const char* outputSubdirectory,
                                                     bool prependRoot, PlayerID host,
                                                     FileListTransferCBInterface* userCallback,
                                                     PacketPriority priority, uint8_t orderingChannel) {
    if (transfer_ == nullptr || netPeer_ == nullptr || netPeer_->GetIndexFromPlayerID(host) < 0)
        return kNoFileListSet;
    const char* subdir = subdirectory != nullptr ? subdirectory : "";
    const char* outputSubdir = outputSubdirectory != nullptr ? outputSubdirectory : "";
    // Longer texts would travel cut and name another directory.
    if (std::strlen(subdir) > kMaxSubdirectoryLength || std::strlen(outputSubdir) > kMaxSubdirectoryLength)
        return kNoFileListSet;

    std::string outputDirectory = prependRoot ? rootDirectory_ : std::string();
    outputDirectory += outputSubdir;
    EnsureTrailingSlash(outputDirectory);
    if (outputDirectory.empty()) outputDirectory = "./";
    if (ResolvesToRoot(outputDirectory)) return kNoFileListSet;

    FileList present;
    present.AddDirectory(prependRoot ? rootDirectory_.c_str() : nullptr, outputSubdir, true, false, true, 0);

    auto* callback = new DeltaCallback(outputDirectory, subdir, userCallback);
    const uint16_t setId = transfer_->PrepareReceive(callback, true, host);
    if (setId == kNoFileListSet) {
        delete callback;
        return kNoFileListSet;
    }
    BitStream request;
    request.Write(ID_DIRECTORY_REQUEST);
    request.Write(setId);
    StringCompressor::Instance()->EncodeString(subdir, kSubdirectoryChars, request);
    StringCompressor::Instance()->EncodeString(outputSubdir, kSubdirectoryChars, request);
    present.Serialize(request);
    netPeer_->Send(&request, priority, RELIABILITY_RELIABLE_ORDERED, orderingChannel, host, false);
    return setId;
}

PluginReceiveResult DirectoryDeltaTransfer::Received(NetPeerInterface* peer, Packet* packet) {
    (void)peer;
    if (packet == nullptr || packet->length == 0 || packet->data[0] != ID_DIRECTORY_REQUEST)
        return PRR_CONTINUE;
    ServeRequest(*packet);
    return PRR_DEALLOCATE;
}

void DirectoryDeltaTransfer::ServeRequest(const Packet& packet) {
    BitStream in(packet.data, packet.length, false);
    in.SkipBits(8);
    uint16_t setId = 0;
    char subdirectory[kSubdirectoryChars];
    char outputSubdirectory[kSubdirectoryChars];
    FileList present;
    if (transfer_ == nullptr || netPeer_ == nullptr || !in.Read(setId) ||
        !StringCompressor::Instance()->DecodeString(subdirectory, kSubdirectoryChars, in) ||
        !StringCompressor::Instance()->DecodeString(outputSubdirectory, kSubdirectoryChars, in) ||
        !present.Deserialize(in)) {
        ++refusedRequests_;
        return;
    }
    FileList delta;
    offered_.DiffAgainst(present, delta, subdirectory, outputSubdirectory);
    delta.LoadFromDisk(rootDirectory_.c_str(), true, false, true);
    transfer_->Send(delta, netPeer_, packet.sender, setId, priority_, orderingChannel_, true);
}

}  // namespace velt
