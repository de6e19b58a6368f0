#include "net/Random.h"

#include <mutex>

namespace velt {

namespace {

constexpr int kStateWords = 624;
constexpr int kShift = 397;
constexpr uint32_t kMatrix = 0x9908B0DFu;

class Twister {
public:
    void Seed(uint32_t seed) {
        uint32_t x = seed | 1u;
        state_[0] = x;
        for (int i = 1; i < kStateWords; ++i) {
            x *= 69069u;
            state_[i] = x;
        }
        left_ = 0;
    }

    uint32_t Next() {
        if (--left_ < 0) return Reload();
        return Temper(state_[next_++]);
    }

private:
    static uint32_t Temper(uint32_t y) {
        y ^= y >> 11;
        y ^= (y << 7) & 0x9D2C5680u;
        y ^= (y << 15) & 0xEFC60000u;
        return y ^ (y >> 18);
    }

    static uint32_t Mix(uint32_t upper, uint32_t lower, uint32_t shifted) {
        const uint32_t y = (upper & 0x80000000u) | (lower & 0x7FFFFFFFu);
        return shifted ^ (y >> 1) ^ ((lower & 1u) ? kMatrix : 0u);
    }

    // Twists all 624 words and returns the first one tempered.
    uint32_t Reload() {
        if (left_ < -1) Seed(4357u);
        left_ = kStateWords - 1;
        int i = 0;
        for (; i < kStateWords - kShift; ++i) state_[i] = Mix(state_[i], state_[i + 1], state_[i + kShift]);
        for (; i < kStateWords - 1; ++i)
            state_[i] = Mix(state_[i], state_[i + 1], state_[i + kShift - kStateWords]);
        state_[kStateWords - 1] = Mix(state_[kStateWords - 1], state_[0], state_[kShift - 1]);
        next_ = 1;
        return Temper(state_[0]);
    }

    uint32_t state_[kStateWords] = {};
    int next_ = 0;
    int left_ = -1;  // -1: never seeded
};

std::mutex gTwisterMutex;
Twister gTwister;

}  // namespace

void TwisterSeed(uint32_t seed) {
    std::lock_guard<std::mutex> lock(gTwisterMutex);
    gTwister.Seed(seed);
}

uint32_t TwisterNext() {
    std::lock_guard<std::mutex> lock(gTwisterMutex);
    return gTwister.Next();
}

float TwisterUniform() {
    return static_cast<float>(static_cast<double>(TwisterNext()) * (1.0 / 4294967296.0));
}

}  // namespace velt
