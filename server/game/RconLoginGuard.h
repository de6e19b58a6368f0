#pragma once

// Wrong remote-console passwords from inside the game, counted per address: a guesser is kicked
// and banned once a few fail within a short while, whatever connection they come through.

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace velt {

class RconLoginGuard {
public:
    // This many failures within kWindowMs of the first one end in a ban.
    static constexpr uint32_t kMaxFailures = 5;
    static constexpr uint32_t kWindowMs = 60000;

    // Counts one failure of the address at nowMs; true when it reaches the limit (the count then
    // starts over).
    bool CountFailure(uint32_t binaryAddress, uint32_t nowMs);
    // A successful login: the address starts from nothing.
    void Forget(uint32_t binaryAddress) { failures_.erase(binaryAddress); }
    size_t Size() const { return failures_.size(); }

private:
    struct Failures {
        uint32_t firstMs;
        uint32_t count;
    };
    // Addresses of connected players only, so a handful; old windows are dropped as they pass.
    std::unordered_map<uint32_t, Failures> failures_;
};

}  // namespace velt
