#pragma once
// Helpers shared by the interface tests: drain an endpoint's packets into copies, and wait for a
// condition with a bounded loop (the network threads do the work in the background).

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "net/Packet.h"
#include "net/PlayerID.h"

namespace velt::test {

struct Received {
    std::vector<uint8_t> bytes;
    PlayerID sender;
    uint16_t playerIndex;

    uint8_t id() const { return bytes.empty() ? 0 : bytes[0]; }
};

// Anything with Receive() and FreePacket(Packet*): the three interfaces.
template <class Endpoint>
void Drain(Endpoint* endpoint, std::vector<Received>& into) {
    while (Packet* p = endpoint->Receive()) {
        into.push_back(
            Received{std::vector<uint8_t>(p->data, p->data + p->length), p->sender, p->playerIndex});
        endpoint->FreePacket(p);
    }
}

inline bool HasId(const std::vector<Received>& packets, uint8_t id) {
    for (const Received& r : packets)
        if (r.id() == id) return true;
    return false;
}

// Calls step() until it returns true or the time is up. Generous: sanitizer builds on two cores.
template <class Step>
bool WaitFor(Step step, int timeoutMs = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (step()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return step();
}

}  // namespace velt::test
