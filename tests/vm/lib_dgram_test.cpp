// Datagram library on the loopback address: what sendstring and sendpacket put on the wire, and
// what the idle hook hands to "@receivestring" and "@receivepacket". Nothing is broadcast.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/vm/lib_fixture.h"

namespace velt::libtest {
namespace {

// One run of a receiving public: @receivestring(message[], source[]) or
// @receivepacket(packet[], size, source[]).
struct Received {
    std::string message;  // the text, or the packet's bytes
    bool packed = false;  // the message's form (texts)
    cell size = -1;       // packets
    std::string source;
};
std::vector<Received> g_received;

cell* Arg(VmInstance* vm, int n) {
    cell* p = nullptr;
    return vm_GetAddrRange(vm, vm->frame + 12 + 4 * n, 4, &p) == VM_ERR_NONE ? p : nullptr;
}

std::string Text(VmInstance* vm, cell addr, bool* packed = nullptr) {
    cell* p = nullptr;
    if (vm_GetAddr(vm, addr, &p) != VM_ERR_NONE) return "<bad address>";
    if (packed != nullptr) *packed = static_cast<ucell>(*p) > 0xFFFFFFu;
    std::vector<char> buf(1024);
    vm_ReadString(buf.data(), p, 0, buf.size());
    return buf.data();
}

cell n_GotString(VmInstance* vm, const cell*) {
    Received r;
    r.message = Text(vm, *Arg(vm, 0), &r.packed);
    r.source = Text(vm, *Arg(vm, 1));
    g_received.push_back(r);
    return 0;
}

cell n_GotPacket(VmInstance* vm, const cell*) {
    Received r;
    r.size = *Arg(vm, 1);
    cell* cells = nullptr;
    if (r.size >= 0 && vm_GetAddrRange(vm, *Arg(vm, 0), (r.size + 3) / 4 * 4, &cells) == VM_ERR_NONE) {
        for (cell i = 0; i < r.size; ++i)
            r.message.push_back(static_cast<char>(static_cast<ucell>(cells[i / 4]) >> (8 * (i % 4))));
    }
    r.source = Text(vm, *Arg(vm, 2));
    g_received.push_back(r);
    return 0;
}

const VmNativeEntry kGot[] = {{"GotString", n_GotString}, {"GotPacket", n_GotPacket}, {nullptr, nullptr}};

// A UDP socket on 127.0.0.1 at a port of its own.
class Peer {
public:
    Peer() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = Loopback(0);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Peer() { close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    static sockaddr_in Loopback(uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        return a;
    }
    std::string Receive() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 2000) != 1) return "<nothing>";
        char buf[2048];
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n < 0 ? "<error>" : std::string(buf, static_cast<size_t>(n));
    }
    void SendTo(uint16_t to, const std::string& bytes) {
        sockaddr_in a = Loopback(to);
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    uint16_t port = 0;

private:
    int fd_ = -1;
};

uint16_t FreePort() {
    Peer probe;
    return probe.port;
}

class DGramLib : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(s.loadError, VM_ERR_NONE);
        vm_Register(&s.vm, kGot, -1);
        ASSERT_EQ(s.attach({vm_AttachDGramLib}), VM_ERR_NONE);
        g_received.clear();
    }
    void TearDown() override { vm_DetachDGramLib(&s.vm); }
    std::string To(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }
    // Idles until a public ran (bounded).
    bool IdleUntilReceived(size_t count) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (g_received.size() < count && std::chrono::steady_clock::now() < end) {
            if (vm_DGramIdle(&s.vm) != VM_ERR_NONE) return false;
        }
        return g_received.size() >= count;
    }
    Script s{"lib_dgram"};
    Peer peer;
};

TEST_F(DGramLib, SendsMarkedTextsAndRawPackets) {
    EXPECT_EQ(s.call("sendstring", {s.str("h\xE9llo", false), s.unpacked(To(peer.port))}).value, 1);
    EXPECT_EQ(peer.Receive(), std::string("\xEF\xBB\xBFh\xC3\xA9llo\0", 10));
    EXPECT_EQ(s.call("sendstring", {s.packed("abc"), s.packed(To(peer.port))}).value, 1);
    EXPECT_EQ(peer.Receive(), std::string("\xEF\xBB\xBF"
                                          "abc\0",
                                          7));
    const cell packet = s.alloc({0x04030201, static_cast<cell>(0x88070605)});
    EXPECT_EQ(s.call("sendpacket", {packet, 2, s.unpacked(To(peer.port))}).value, 1);
    EXPECT_EQ(peer.Receive(), std::string("\x01\x02\x03\x04\x05\x06\x07\x88", 8));
    // "localhost:<port>" resolves; a colon without a digit after it is part of the host name.
    EXPECT_EQ(
        s.call("sendstring", {s.unpacked("x"), s.unpacked("localhost:" + std::to_string(peer.port))}).value,
        1);
    EXPECT_EQ(peer.Receive(), std::string("\xEF\xBB\xBFx\0", 5));
    EXPECT_EQ(s.call("sendstring", {s.unpacked("x"), s.unpacked("127.0.0.1:x")}).value, 0);
    EXPECT_EQ(s.call("sendpacket", {packet, -1, s.unpacked(To(peer.port))}).value, 0);

    vm_DetachDGramLib(&s.vm);  // the socket is gone
    EXPECT_EQ(s.call("sendstring", {s.unpacked("x"), s.unpacked(To(peer.port))}).value, 0);
}

TEST_F(DGramLib, DeliversTextsAndPacketsToTheirPublics) {
    const uint16_t port = FreePort();
    EXPECT_EQ(s.call("listenport", {port}).value, 0);
    EXPECT_EQ(vm_DGramIdle(&s.vm), VM_ERR_NONE);  // binds
    const std::string from = To(peer.port);

    peer.SendTo(port, std::string("\xEF\xBB\xBFh\xC3\xA9!\0", 8));
    ASSERT_TRUE(IdleUntilReceived(1));
    peer.SendTo(port, std::string("\xEF\xBB\xBF\xE9t\xE9\0", 7));  // not UTF-8: packed bytes
    ASSERT_TRUE(IdleUntilReceived(2));
    peer.SendTo(port, std::string("\x01\x02\x03\x04\x05", 5));
    ASSERT_TRUE(IdleUntilReceived(3));
    peer.SendTo(port, std::string("\xEF\xBB\xBFhi", 5));  // no terminator: a packet
    ASSERT_TRUE(IdleUntilReceived(4));

    EXPECT_EQ(g_received[0].message, "h\xE9!");
    EXPECT_FALSE(g_received[0].packed);
    EXPECT_EQ(g_received[1].message, "\xE9t\xE9");
    EXPECT_TRUE(g_received[1].packed);
    EXPECT_EQ(g_received[2].message, std::string("\x01\x02\x03\x04\x05", 5));
    EXPECT_EQ(g_received[2].size, 5);
    EXPECT_EQ(g_received[3].message, "\xEF\xBB\xBFhi");
    EXPECT_EQ(g_received[3].size, 5);
    for (const Received& r : g_received) EXPECT_EQ(r.source, from);
}

TEST(DGramLibTextOnly, WithoutReceivePacketEverythingIsText) {
    Script s{"lib_dgram_text"};
    ASSERT_EQ(s.loadError, VM_ERR_NONE);
    vm_Register(&s.vm, kGot, -1);
    ASSERT_EQ(s.attach({vm_AttachDGramLib}), VM_ERR_NONE);
    g_received.clear();
    const uint16_t port = FreePort();
    s.call("listenport", {port});
    ASSERT_EQ(vm_DGramIdle(&s.vm), VM_ERR_NONE);
    Peer peer;
    peer.SendTo(port, "plain");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (g_received.empty() && std::chrono::steady_clock::now() < end) vm_DGramIdle(&s.vm);
    vm_DetachDGramLib(&s.vm);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].message, "plain");
    EXPECT_EQ(g_received[0].size, -1);
    EXPECT_EQ(g_received[0].source, "127.0.0.1:" + std::to_string(peer.port));
}

}  // namespace
}  // namespace velt::libtest
