// File sets between two library peers on loopback: plain and compressed sets arrive whole, a set
// ends its receiver, and a hostile sender's forged lengths, foreign sets and closed connections
// are handled without a callback, an allocation of the claimed size or a leak.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "filelist_peers.h"
#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "net/ext/FileList.h"
#include "net/ext/FileListTransfer.h"

using namespace velt;
using velt::filetest::ConnectPeers;
using velt::filetest::PumpUntil;
using velt::filetest::TestPeer;

namespace {

struct Arrival {
    uint32_t index;
    std::string name;
    std::vector<uint8_t> data;
    bool hasData;
    uint32_t compressedBytes, dataLength, setCount, totalCompressedBytes, totalBytes;
    uint16_t setId;
    uint8_t context;
};

class Recorder : public FileListTransferCBInterface {
public:
    void FileReceived(uint32_t fileIndex, const char* filename, const uint8_t* data, uint32_t compressedBytes,
                      uint32_t dataLength, uint16_t setId, uint32_t setCount, uint32_t totalCompressedBytes,
                      uint32_t totalBytes, uint8_t context) override {
        arrivals.push_back({fileIndex, filename ? filename : "",
                            data ? std::vector<uint8_t>(data, data + dataLength) : std::vector<uint8_t>(),
                            data != nullptr, compressedBytes, dataLength, setCount, totalCompressedBytes,
                            totalBytes, setId, context});
    }
    std::vector<Arrival> arrivals;
};

// Counts its own deletion, for the receivers that own their handler.
class OwnedRecorder : public Recorder {
public:
    explicit OwnedRecorder(int& deleted) : deleted_(deleted) {}
    ~OwnedRecorder() override { ++deleted_; }

private:
    int& deleted_;
};

// Two connected peers, a transfer plugin on each.
class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        ASSERT_TRUE(client_.Start());
        server_->AttachPlugin(&serverTransfer_);
        client_->AttachPlugin(&clientTransfer_);
        ASSERT_TRUE(ConnectPeers(client_, server_));
        serverSide_ = client_.Remote();  // the server as the client sees it
        clientSide_ = server_.Remote();
    }
    bool PumpUntil(const std::function<bool()>& done) {
        return filetest::PumpUntil({&server_, &client_}, done);
    }

    FileListTransfer serverTransfer_;
    FileListTransfer clientTransfer_;
    TestPeer server_;
    TestPeer client_;
    PlayerID serverSide_{};
    PlayerID clientSide_{};
};

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = uint8_t(random() % 5 == 0 ? random() : 'a' + random() % 4);
    return out;
}

TEST_F(TransferTest, SetsArriveWholePlainAndCompressed) {
    const std::vector<std::vector<uint8_t>> files{{}, {42}, Random(100000, 1), Random(3000, 2)};
    FileList list;
    for (size_t i = 0; i < files.size(); ++i)
        ASSERT_TRUE(list.AddEntry(("dir/file " + std::to_string(i)).c_str(), files[i].data(),
                                  uint32_t(files[i].size()), uint32_t(files[i].size()), uint8_t(10 + i)));
    uint32_t total = 0;
    for (const auto& f : files) total += uint32_t(f.size());

    for (bool compress : {false, true}) {
        Recorder recorder;
        const uint16_t setId = clientTransfer_.PrepareReceive(&recorder, false, serverSide_);
        ASSERT_NE(setId, kNoFileListSet);
        serverTransfer_.Send(list, server_.Get(), clientSide_, setId, HIGH_PRIORITY_LEVEL, 3, compress);
        ASSERT_TRUE(PumpUntil([&] { return recorder.arrivals.size() == files.size(); })) << compress;
        EXPECT_EQ(clientTransfer_.ReceiverCount(), 0u) << "the last file ends the set";
        uint32_t compressedTotal = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            const Arrival& a = recorder.arrivals[i];
            EXPECT_EQ(a.index, i);
            EXPECT_EQ(a.name, "dir/file " + std::to_string(i));
            EXPECT_TRUE(a.hasData) << "an empty file still comes with its (empty) bytes";
            EXPECT_EQ(a.data, files[i]) << compress << " file " << i;
            EXPECT_EQ(a.context, 10 + i);
            EXPECT_EQ(a.setId, setId);
            EXPECT_EQ(a.setCount, files.size());
            EXPECT_EQ(a.totalBytes, total);
            compressedTotal += a.compressedBytes;
            if (!compress) {
                EXPECT_EQ(a.compressedBytes, 0u);
                EXPECT_EQ(a.totalCompressedBytes, total);
            }
        }
        if (compress) {
            EXPECT_EQ(recorder.arrivals[0].totalCompressedBytes, compressedTotal);
            EXPECT_LT(compressedTotal, total / 2) << "skewed bytes compress";
        }
    }
}

TEST_F(TransferTest, SetIdsWrapAndSkipTheFailureValue) {
    Recorder recorder;
    EXPECT_EQ(clientTransfer_.PrepareReceive(&recorder, false, PlayerID{0x0100007F, 1}), kNoFileListSet);
    EXPECT_EQ(clientTransfer_.PrepareReceive(nullptr, false, serverSide_), kNoFileListSet);
    int deleted = 0;
    for (uint32_t expected = 0; expected < kNoFileListSet; ++expected)
        ASSERT_EQ(clientTransfer_.PrepareReceive(new OwnedRecorder(deleted), true, serverSide_), expected);
    EXPECT_EQ(clientTransfer_.ReceiverCount(), 0xFFFFu);
    // Id 0 comes round again: its old receiver and handler give way.
    EXPECT_EQ(clientTransfer_.PrepareReceive(&recorder, false, serverSide_), 0);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(clientTransfer_.ReceiverCount(), 0xFFFFu);
    clientTransfer_.Clear();
    EXPECT_EQ(deleted, 0xFFFF);
}

TEST_F(TransferTest, AnEmptySetIsReportedOnceAndEnds) {
    Recorder recorder;
    const uint16_t setId = clientTransfer_.PrepareReceive(&recorder, false, serverSide_);
    FileList empty;
    serverTransfer_.Send(empty, server_.Get(), clientSide_, setId, HIGH_PRIORITY_LEVEL, 0, true);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.arrivals.empty(); }));
    EXPECT_EQ(recorder.arrivals.size(), 1u);
    EXPECT_FALSE(recorder.arrivals[0].hasData);
    EXPECT_EQ(recorder.arrivals[0].name, "");
    EXPECT_EQ(recorder.arrivals[0].setId, setId);
    EXPECT_EQ(clientTransfer_.ReceiverCount(), 0u);
}

// A file message as a hostile sender would write it: any lengths, any bits after the name.
std::vector<uint8_t> FileMessage(uint16_t setId, uint32_t index, uint32_t dataLength,
                                 const uint32_t* codeBits, const char* name,
                                 const std::vector<uint8_t>& tail) {
    BitStream out;
    out.Write(ID_FILE_LIST_FILE);
    out.Write(uint8_t{0});
    out.Write(setId);
    out.WriteCompressed(index);
    out.WriteCompressed(dataLength);
    if (codeBits != nullptr) out.WriteCompressed(*codeBits);
    if (name != nullptr) StringCompressor::Instance()->EncodeString(name, 512, out);
    out.WriteBytes(tail.data(), int32_t(tail.size()));
    return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetNumberOfBytesUsed());
}

std::vector<uint8_t> Header(uint16_t setId, bool compressed, uint32_t count) {
    BitStream out;
    out.Write(ID_FILE_LIST_HEADER);
    out.Write(setId);
    out.Write(true);
    out.Write(compressed);
    for (int i = 0; compressed && i < 256; ++i) out.WriteCompressed(uint32_t(i == 'x' ? 100 : 1));
    out.WriteCompressed(count);
    out.WriteCompressed(uint32_t{1000});
    if (compressed) out.WriteCompressed(uint32_t{500});
    return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetNumberOfBytesUsed());
}

TEST_F(TransferTest, ForgedFileMessagesAreDroppedWithoutACallback) {
    for (bool compressed : {false, true}) {
        Recorder recorder;
        const uint16_t setId = clientTransfer_.PrepareReceive(&recorder, false, serverSide_);
        const uint32_t huge = 190000000, beyond = 100000, few = 64;
        const std::vector<uint8_t> eightBytes(8, 0x55);
        std::vector<std::vector<uint8_t>> messages{Header(setId, compressed, 2)};
        if (compressed) {
            messages.push_back(FileMessage(setId, 0, huge, &few, "huge", eightBytes));
            messages.push_back(FileMessage(setId, 0, 4, &beyond, "bits beyond", eightBytes));
            messages.push_back(FileMessage(setId, 0, few + 1, &few, "more bytes than bits", eightBytes));
            messages.push_back(
                FileMessage(setId, 0, FileList::kMaxDataLength + 1, &beyond, "over the cap", {}));
            // 64 alternating bits cannot be 64 one-bit codes.
            messages.push_back(FileMessage(setId, 0, few, &few, "decodes to another count", eightBytes));
        } else {
            messages.push_back(FileMessage(setId, 0, huge, nullptr, "huge", eightBytes));
            messages.push_back(FileMessage(setId, 0, 9, nullptr, "one byte short", eightBytes));
        }
        messages.push_back(FileMessage(setId, 0, 4, compressed ? &few : nullptr, nullptr, {}));  // no name
        const uint32_t badBefore = clientTransfer_.Stats().badMessages;
        for (const auto& m : messages)
            ASSERT_TRUE(server_->SendBytes(m.data(), int32_t(m.size()), HIGH_PRIORITY_LEVEL,
                                           RELIABILITY_RELIABLE_ORDERED, 0, clientSide_, false));
        // A good last file after them: everything before it has been handled once it arrives.
        FileList good;
        const std::vector<uint8_t> bytes(1000, 'x');
        good.AddEntry("a", bytes.data(), 1000, 1000, 0);
        good.AddEntry("b", bytes.data(), 1000, 1000, 0);
        serverTransfer_.Send(good, server_.Get(), clientSide_, setId, HIGH_PRIORITY_LEVEL, 0, compressed);
        ASSERT_TRUE(PumpUntil([&] { return recorder.arrivals.size() == 2; })) << compressed;
        EXPECT_EQ(recorder.arrivals[0].name, "a");
        EXPECT_EQ(recorder.arrivals[1].data, bytes);
        EXPECT_EQ(clientTransfer_.Stats().badMessages - badBefore, messages.size() - 1) << compressed;
    }
}

TEST_F(TransferTest, OnlyTheExpectedSenderFeedsASetAndItsClosingEndsIt) {
    TestPeer stranger;
    ASSERT_TRUE(stranger.Start());
    ASSERT_TRUE(filetest::ConnectPeers(stranger, client_));
    FileListTransfer strangerTransfer;
    stranger->AttachPlugin(&strangerTransfer);

    Recorder recorder;
    const uint16_t setId = clientTransfer_.PrepareReceive(&recorder, false, serverSide_);
    FileList list;
    const uint8_t byte = 1;
    list.AddEntry("f", &byte, 1, 1, 0);
    PlayerID clientFromStranger = stranger.Remote();
    const uint32_t foreign = clientTransfer_.Stats().foreignMessages;
    strangerTransfer.Send(list, stranger.Get(), clientFromStranger, setId, HIGH_PRIORITY_LEVEL, 0, false);
    ASSERT_TRUE(filetest::PumpUntil({&stranger, &client_},
                                    [&] { return clientTransfer_.Stats().foreignMessages == foreign + 2; }));
    EXPECT_TRUE(recorder.arrivals.empty());
    EXPECT_EQ(clientTransfer_.ReceiverCount(), 1u);

    // The transport's progress notices that are not of a file message stay with the application.
    const std::vector<uint8_t> notFile{ID_SPLIT_PROGRESS,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                       ID_FILE_LIST_HEADER};
    const std::vector<uint8_t> tooShort{ID_SPLIT_PROGRESS, 1, 2, 3};
    for (const auto& m : {notFile, tooShort})
        ASSERT_TRUE(server_->SendBytes(m.data(), int32_t(m.size()), HIGH_PRIORITY_LEVEL,
                                       RELIABILITY_RELIABLE_ORDERED, 0, clientSide_, false));
    auto count92 = [&] {
        size_t n = 0;
        for (const auto& p : client_.appPackets) n += !p.empty() && p[0] == ID_SPLIT_PROGRESS;
        return n;
    };
    ASSERT_TRUE(PumpUntil([&] { return count92() == 2; }));

    // The expected sender goes away: its set ends.
    client_->CloseConnection(serverSide_, true, 0);
    ASSERT_TRUE(PumpUntil([&] { return clientTransfer_.ReceiverCount() == 0; }));
    stranger->DetachPlugin(&strangerTransfer);
}

}  // namespace
