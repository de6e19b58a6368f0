// Prints the shared generator's output for random_check.py: first the draws of the never-seeded
// generator, then, per seed given on the command line, "seed <s>" and its draws, and finally
// "uniform <s>" with the single-precision uniform values as IEEE bit patterns.

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/Random.h"

namespace {

constexpr int kDraws = 1500;  // more than two state reloads of 624 words

void Dump(const char* label, uint32_t seed) {
    std::printf("%s %" PRIu32, label, seed);
    for (int i = 0; i < kDraws; ++i) std::printf(" %" PRIu32, velt::TwisterNext());
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    Dump("unseeded", 0);
    for (int i = 1; i < argc; ++i) {
        const uint32_t seed = static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 0));
        velt::TwisterSeed(seed);
        Dump("seed", seed);
    }
    const uint32_t seed = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0)) : 1;
    velt::TwisterSeed(seed);
    std::printf("uniform %" PRIu32, seed);
    for (int i = 0; i < kDraws; ++i) {
        const float u = velt::TwisterUniform();
        uint32_t bits;
        std::memcpy(&bits, &u, sizeof bits);
        std::printf(" %" PRIu32, bits);
    }
    std::printf("\n");
    return 0;
}
