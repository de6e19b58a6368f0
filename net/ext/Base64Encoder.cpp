#include "net/ext/Base64Encoder.h"

namespace velt {

const char kBase64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

constexpr uint32_t kLineCharacters = 76;

}  // namespace

uint64_t Base64BufferBytes(uint32_t length) {
    const uint64_t characters = (uint64_t(length) + 2) / 3 * 4;
    return characters + 2 * (characters / kLineCharacters) + 2 + 1;
}

uint32_t EncodeBase64(const uint8_t* input, uint32_t length, char* output, const char* alphabet) {
    uint32_t written = 0;
    uint32_t counted = 0;
    auto put = [&](char c, bool count) {
        output[written++] = c;
        if (count && ++counted % kLineCharacters == 0) {
            output[written++] = '\r';
            output[written++] = '\n';
        }
    };
    for (uint32_t i = 0; i < length; i += 3) {
        const uint32_t left = length - i;
        const uint32_t group = uint32_t(input[i]) << 16 | (left > 1 ? uint32_t(input[i + 1]) << 8 : 0) |
                               (left > 2 ? uint32_t(input[i + 2]) : 0);
        put(alphabet[(group >> 18) & 63], true);
        put(alphabet[(group >> 12) & 63], true);
        if (left > 1)
            put(alphabet[(group >> 6) & 63], true);
        else
            put('=', false);
        if (left > 2)
            put(alphabet[group & 63], true);
        else
            put('=', false);
    }
    output[written++] = '\r';
    output[written++] = '\n';
    output[written] = '\0';
    return written;
}

}  // namespace velt
