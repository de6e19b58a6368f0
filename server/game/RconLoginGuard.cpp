#include "server/game/RconLoginGuard.h"

namespace velt {

namespace {

bool WindowOver(uint32_t firstMs, uint32_t nowMs) {
    return int32_t(nowMs - firstMs) >= int32_t(RconLoginGuard::kWindowMs);
}

}  // namespace

bool RconLoginGuard::CountFailure(uint32_t binaryAddress, uint32_t nowMs) {
    // Keep the table to the addresses that failed lately.
    if (failures_.size() > 64)
        std::erase_if(failures_,
                      [nowMs](const auto& entry) { return WindowOver(entry.second.firstMs, nowMs); });
    Failures& f = failures_[binaryAddress];
    if (f.count == 0 || WindowOver(f.firstMs, nowMs)) f = Failures{nowMs, 0};
    if (++f.count < kMaxFailures) return false;
    failures_.erase(binaryAddress);
    return true;
}

}  // namespace velt
