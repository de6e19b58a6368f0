#pragma once

// A player's custom-model download; the downloads arrive with the custom models.

#include <cstdint>

namespace velt {

class FileDownload {
public:
    void SetOwner(uint16_t owner) { owner_ = owner; }
    uint16_t Owner() const { return owner_; }
    void Tick() {}

private:
    uint16_t owner_ = 0xFFFF;
};

}  // namespace velt
