#pragma once
// Hands closed connections from the peer's network thread to the thread that runs a plugin's
// Update. The peer reports a closed slot from its network thread, under its own lock, where a
// plugin must neither send nor ask the peer anything; the plugin acts on the next Update.

#include <cstdint>
#include <mutex>
#include <vector>

#include "net/PlayerID.h"
#include "net/SimpleMutex.h"

namespace velt {

class ClosedConnectionInbox {
public:
    // More closings than a peer has slots cannot be pending at once unless nobody calls Update;
    // those beyond are dropped rather than grown without bound.
    static constexpr uint32_t kMaxPending = 1024;

    void Push(PlayerID closed) {
        std::lock_guard<SimpleMutex> lock(mutex_);
        if (pending_.size() < kMaxPending) pending_.push_back(closed);
    }

    // Everything pushed so far, oldest first; the inbox is empty afterwards.
    std::vector<PlayerID> TakeAll() {
        std::vector<PlayerID> taken;
        std::lock_guard<SimpleMutex> lock(mutex_);
        taken.swap(pending_);
        return taken;
    }

    void Clear() {
        std::lock_guard<SimpleMutex> lock(mutex_);
        pending_.clear();
    }

private:
    SimpleMutex mutex_;
    std::vector<PlayerID> pending_;
};

}  // namespace velt
