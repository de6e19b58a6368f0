#include "npc/NpcCommandLine.h"

#include <cstring>

#include "npc/NpcLog.h"

namespace velt {

namespace {

char* OptionBuffer(NpcCommandLine& out, char letter) {
    switch (letter) {
        case 'h': return out.host;
        case 'p': return out.port;
        case 'n': return out.name;
        case 'm': return out.mode;
        case 'z': return out.password;
        default: return nullptr;
    }
}

bool EndsValue(char c) { return c == '\0' || c == ' ' || c == '-' || c == '/'; }

}  // namespace

void JoinNpcArguments(int argc, const char* const* argv, char* out, size_t outSize) {
    if (out == nullptr || outSize == 0) return;
    size_t used = 0;
    out[0] = '\0';
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        const char* arg = argv[i] != nullptr ? argv[i] : "";
        for (const char* p = arg; *p != '\0' && used + 1 < outSize; ++p) out[used++] = *p;
        if (used + 1 < outSize) out[used++] = ' ';
    }
    out[used] = '\0';
}

void ParseNpcCommandLine(const char* line, NpcCommandLine& out) {
    out = NpcCommandLine{};
    if (line == nullptr) return;
    NpcLog("%s", line);
    const size_t length = std::strlen(line);
    size_t i = 0;
    while (i < length) {
        if (line[i] != '-' && line[i] != '/') {
            ++i;
            continue;
        }
        if (i + 1 >= length) break;
        char* value = OptionBuffer(out, line[i + 1]);
        if (value == nullptr) {
            i += 2;
            continue;
        }
        size_t p = i + 2;
        while (p < length && line[p] == ' ') ++p;
        size_t n = 0;
        while (p < length && !EndsValue(line[p])) {
            // A value beyond the buffer keeps its first characters.
            if (n < kNpcOptionMax) value[n++] = line[p];
            ++p;
        }
        value[n] = '\0';
        // The value is scanned again; it holds no '-' or '/', so nothing in it starts an option.
        i += 3;
    }
}

uint16_t NpcPortFromText(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Only the value modulo 65536 matters, so the digits are accumulated in 16 bits and a long
    // text cannot overflow.
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = (value * 10u + uint32_t(*p - '0')) & 0xFFFFu;
        ++p;
    }
    if (negative) value = (0x10000u - value) & 0xFFFFu;
    return uint16_t(value);
}

}  // namespace velt
