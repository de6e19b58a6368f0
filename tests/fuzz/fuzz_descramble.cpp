// Any datagram through the receive path's sorting: query classification and copy, descrambling
// and the hand-over. Checks that the hand-over is consistent and that a datagram the server
// accepts is exactly what the bot's scrambler would have produced for those plain bytes.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/DatagramScrambler.h"
#include "net/QueryInbox.h"
#include "net/SocketLayer.h"

namespace {

using namespace velt;

struct CheckingSink : DatagramSink {
    std::vector<std::uint8_t> plain;
    bool called = false;
    void HandleDatagram(std::uint32_t, std::uint16_t, const std::uint8_t* data,
                        std::uint32_t length) override {
        if ((data == nullptr) != (length == 0)) std::abort();
        called = true;
        plain.assign(data, data + length);  // touches every byte handed over
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 3) return 0;
    const std::uint16_t port = static_cast<std::uint16_t>(input[0] | (input[1] << 8));
    const std::uint8_t flags = input[2];
    const std::uint8_t* wire = input + 3;
    const std::size_t length = size - 3;
    if (length > kMaxDatagramBytes) return 0;  // the socket never reads more

    static QueryInbox inbox(4);
    inbox.SetGameRunning(flags & 1);
    CheckingSink sink;
    const SocketRole role = (flags & 2) ? SocketRole::BotClient : SocketRole::Server;
    SocketEndpoint endpoint(role, &sink, &inbox);
    endpoint.SetKey(port);

    // The copy keeps the input out of reach of anything that might hold on to the pointer.
    std::vector<std::uint8_t> copy(wire, wire + length);
    SocketLayer::DispatchDatagram(endpoint, 5, 0x0100007F, 4000, copy.data(),
                                  static_cast<std::uint32_t>(copy.size()));

    std::uint32_t queued = 0;
    inbox.Drain([&](const QueuedQuery& q) {
        ++queued;
        if (q.length != length || std::memcmp(q.data, wire, length) != 0 || q.socket != 5) std::abort();
    });
    const bool isQuery =
        role == SocketRole::Server && inbox.IsQuery(wire, static_cast<std::uint32_t>(length));
    if (queued != 0 && !isQuery) std::abort();
    if (isQuery && sink.called) std::abort();

    if (role == SocketRole::BotClient) {
        if (length != 0 && (!sink.called || sink.plain != copy)) std::abort();
        return 0;
    }
    if (sink.called) {
        if (sink.plain.size() + 1 != length) std::abort();
        DatagramScrambler scrambler;
        scrambler.SetKey(port);
        std::vector<std::uint8_t> again(length);
        if (scrambler.Encode(sink.plain.data(), sink.plain.size(), again.data(), again.size()) != length ||
            std::memcmp(again.data(), wire, length) != 0) {
            std::abort();
        }
    }
    return 0;
}
