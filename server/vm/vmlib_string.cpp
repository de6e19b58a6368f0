// String natives over packed and unpacked script strings and raw byte buffers. Every native
// reads its strings into host memory first and writes the result back in one validated step,
// so source and destination may overlap and a refused destination is left untouched.

#include "server/vm/vmlib.h"
#include "server/vm/vmlib_common.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace velt {
namespace {

using namespace vmlib;

cell Fail(VmInstance* vm, cell result = 0) {
    vm_RaiseError(vm, VM_ERR_NATIVE);
    return result;
}

// Longest string a destination of maxlength cells holds in the given form.
int64_t Capacity(cell maxlength, bool packed) {
    return packed ? int64_t{maxlength} * 4 - 1 : int64_t{maxlength} - 1;
}

// Characters stored into a packed string keep their low byte only.
std::vector<cell> InForm(std::vector<cell> chars, bool packed) {
    if (packed) {
        for (cell& c : chars) c &= 0xFF;
    }
    return chars;
}

cell FoldCase(cell c, bool ignoreCase) { return ignoreCase && c >= -128 && c <= 255 ? AsciiLower(c) : c; }

bool SameAt(const ScriptText& s, size_t at, const ScriptText& sub, bool ignoreCase) {
    for (size_t i = 0; i < sub.chars.size(); ++i) {
        if (FoldCase(s.chars[at + i], ignoreCase) != FoldCase(sub.chars[i], ignoreCase)) return false;
    }
    return true;
}

cell n_ispacked(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 1) return 0;
    unsigned char* p = ScriptSpan(vm, params[1], 4);
    // Signed on purpose: a packed string starting with a byte of 0x80 or more reports 0.
    return p != nullptr && LoadCell(p) > 0xFFFFFE ? 1 : 0;
}

cell n_memcpy(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 5) return 0;
    const int64_t index = params[3], numbytes = params[4], maxlength = params[5];
    if (index < 0 || numbytes < 0 || index + numbytes > maxlength * 4) return 0;
    unsigned char* src = ScriptSpan(vm, params[2], numbytes);
    unsigned char* dst = ScriptSpan(vm, int64_t{params[1]} + index, numbytes);
    if (src == nullptr || dst == nullptr) return 0;
    std::memmove(dst, src, static_cast<size_t>(numbytes));
    return 1;
}

cell n_strcat(VmInstance* vm, const cell* params) {
    ScriptText dest, source;
    if (ArgCount(vm, params) < 3 || !ReadText(vm, params[1], dest) || !ReadText(vm, params[2], source))
        return Fail(vm);
    const bool packed = dest.packed || (dest.chars.empty() && source.packed);
    const int64_t room = Capacity(params[3], packed) - static_cast<int64_t>(dest.chars.size());
    const size_t n =
        static_cast<size_t>(std::clamp<int64_t>(room, 0, static_cast<int64_t>(source.chars.size())));
    if (n == 0) return 0;
    source.chars.resize(n);
    const std::vector<cell> tail = InForm(std::move(source.chars), packed);
    if (!WriteText(vm, params[1], static_cast<int64_t>(dest.chars.size()), tail.data(), n, packed))
        return Fail(vm);
    return static_cast<cell>(n);
}

cell n_strcmp(VmInstance* vm, const cell* params) {
    ScriptText a, b;
    if (ArgCount(vm, params) < 4 || !ReadText(vm, params[1], a) || !ReadText(vm, params[2], b))
        return Fail(vm);
    const bool ignoreCase = params[3] != 0;
    const int64_t length = params[4];
    const int64_t lenA = static_cast<int64_t>(a.chars.size()), lenB = static_cast<int64_t>(b.chars.size());
    const int64_t n = std::min({lenA, lenB, length});
    if (n <= 0) return 0;
    for (int64_t i = 0; i < n; ++i) {
        const cell ca = FoldCase(a.chars[i], ignoreCase), cb = FoldCase(b.chars[i], ignoreCase);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return n == length ? 0 : static_cast<cell>(lenA - lenB);
}

cell n_strdel(VmInstance* vm, const cell* params) {
    ScriptText s;
    if (ArgCount(vm, params) < 3 || !ReadText(vm, params[1], s)) return Fail(vm);
    const int64_t len = static_cast<int64_t>(s.chars.size());
    const int64_t start = params[2];
    const int64_t end = std::min<int64_t>(params[3], len);
    if (start < 0 || start >= len || end <= start) return 0;
    const std::vector<cell> tail(s.chars.begin() + end, s.chars.end());
    if (!WriteText(vm, params[1], start, tail.data(), tail.size(), s.packed)) return Fail(vm);
    return 1;
}

cell n_strfind(VmInstance* vm, const cell* params) {
    ScriptText s, sub;
    if (ArgCount(vm, params) < 4 || !ReadText(vm, params[1], s) || !ReadText(vm, params[2], sub))
        return Fail(vm, -1);
    const bool ignoreCase = params[3] != 0;
    const int64_t pos = params[4];
    const int64_t len = static_cast<int64_t>(s.chars.size()), subLen = static_cast<int64_t>(sub.chars.size());
    if (subLen == 0 || pos < 0 || len < pos + subLen) return -1;
    for (int64_t i = pos; i + subLen <= len; ++i) {
        if (SameAt(s, static_cast<size_t>(i), sub, ignoreCase)) return static_cast<cell>(i);
    }
    return -1;
}

cell n_strins(VmInstance* vm, const cell* params) {
    ScriptText s, sub;
    if (ArgCount(vm, params) < 4 || !ReadText(vm, params[1], s) || !ReadText(vm, params[2], sub))
        return Fail(vm);
    const int64_t len = static_cast<int64_t>(s.chars.size());
    const int64_t pos = params[3];
    if (pos < 0 || pos > len) return Fail(vm);
    const bool packed = s.packed || (s.chars.empty() && sub.packed);
    // The result is cut to what the destination holds: inserting must not spill the string's
    // tail over whatever the script keeps behind its array.
    const int64_t cap = Capacity(params[4], packed);
    if (cap < 0) return Fail(vm);
    std::vector<cell> tail = InForm(std::move(sub.chars), packed);
    tail.insert(tail.end(), s.chars.begin() + pos, s.chars.end());
    const int64_t from = std::min(pos, cap);
    const int64_t keep =
        std::max<int64_t>(0, std::min<int64_t>(static_cast<int64_t>(tail.size()), cap - pos));
    tail.resize(static_cast<size_t>(keep));
    if (!WriteText(vm, params[1], from, tail.data(), tail.size(), packed)) return Fail(vm);
    return 1;
}

cell n_strlen(VmInstance* vm, const cell* params) {
    ScriptText s;
    if (ArgCount(vm, params) < 1 || !ReadText(vm, params[1], s)) return 0;
    return static_cast<cell>(s.chars.size());
}

cell n_strmid(VmInstance* vm, const cell* params) {
    ScriptText source;
    if (ArgCount(vm, params) < 5 || !ReadText(vm, params[2], source)) return Fail(vm);
    const int64_t len = static_cast<int64_t>(source.chars.size());
    const int64_t start = std::clamp<int64_t>(params[3], 0, len);
    const int64_t end = std::clamp<int64_t>(params[4], start, len);
    const int64_t cap = Capacity(params[5], source.packed);
    if (cap < 0) return 0;
    const int64_t n = std::min(end - start, cap);
    if (!WriteText(vm, params[1], 0, source.chars.data() + start, static_cast<size_t>(n), source.packed))
        return Fail(vm);
    return static_cast<cell>(n);
}

cell CopyInForm(VmInstance* vm, const cell* params, bool packed) {
    ScriptText source;
    if (ArgCount(vm, params) < 3 || !ReadText(vm, params[2], source)) return Fail(vm);
    const int64_t cap = Capacity(params[3], packed);
    if (cap < 0) return 0;
    const size_t n = static_cast<size_t>(std::min(static_cast<int64_t>(source.chars.size()), cap));
    source.chars.resize(n);
    const std::vector<cell> chars = InForm(std::move(source.chars), packed);
    if (!WriteText(vm, params[1], 0, chars.data(), n, packed)) return Fail(vm);
    return static_cast<cell>(n);
}

cell n_strpack(VmInstance* vm, const cell* params) { return CopyInForm(vm, params, true); }
cell n_strunpack(VmInstance* vm, const cell* params) { return CopyInForm(vm, params, false); }

cell n_strval(VmInstance* vm, const cell* params) {
    ScriptText text;
    if (ArgCount(vm, params) < 1 || !ReadText(vm, params[1], text)) return Fail(vm);
    if (text.chars.size() >= 50) return 0;
    const std::string s = ToBytes(text);
    size_t i = 0;
    // Control characters, spaces and every byte of 0x80 or more lead in, as signed chars <= 32.
    while (i < s.size() && static_cast<signed char>(s[i]) <= 32) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    uint32_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        value = value * 10u + static_cast<uint32_t>(s[i] - '0');
    return static_cast<cell>(negative ? 0u - value : value);
}

cell n_uudecode(VmInstance* vm, const cell* params) {
    ScriptText source;
    if (ArgCount(vm, params) < 3 || !ReadText(vm, params[2], source)) return Fail(vm);
    // A line is at most the count and 21 groups of four; characters missing at its end count as
    // spaces (the value 0), as trailing spaces of a line are often dropped in transit.
    std::string line = ToBytes(source).substr(0, 85);
    line.resize(85, ' ');
    auto c = [&line](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(line[i])); };
    const int count = static_cast<int>((c(0) - 32u) & 63u);
    std::vector<unsigned char> bytes;
    for (size_t at = 1; static_cast<int>(bytes.size()) < count; at += 4) {
        const unsigned c1 = c(at) - 32u, c2 = c(at + 1) - 32u, c3 = c(at + 2) - 32u, c4 = c(at + 3) - 32u;
        const unsigned char group[3] = {
            static_cast<unsigned char>((c1 << 2) | ((c2 & 63) >> 4)),
            static_cast<unsigned char>((c2 << 4) | ((c3 & 63) >> 2)),
            static_cast<unsigned char>((c3 << 6) | (c4 & 63)),
        };
        for (unsigned char b : group) {
            if (static_cast<int>(bytes.size()) < count) bytes.push_back(b);
        }
    }
    const int64_t n = std::min<int64_t>(count, std::max<int64_t>(0, int64_t{params[3]} * 4));
    if (n > 0) {
        unsigned char* dst = ScriptSpan(vm, params[1], n);
        if (dst == nullptr) return Fail(vm);
        std::memcpy(dst, bytes.data(), static_cast<size_t>(n));
    }
    return count;
}

char UuChar(unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); }

cell n_uuencode(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 4) return Fail(vm);
    const cell numbytes = params[3], maxlength = params[4];
    std::string line;
    if (numbytes >= 0 && numbytes <= 63) {
        const unsigned char* src = ScriptSpan(vm, params[2], numbytes);
        if (src == nullptr) return Fail(vm);
        line.push_back(UuChar(static_cast<unsigned>(numbytes)));
        for (cell i = 0; i < numbytes; i += 3) {
            const int left = std::min(3, numbytes - i);
            const unsigned b0 = src[i], b1 = left > 1 ? src[i + 1] : 0, b2 = left > 2 ? src[i + 2] : 0;
            const unsigned groups[4] = {b0 >> 2, ((b0 << 4) | (b1 >> 4)) & 63, ((b1 << 2) | (b2 >> 6)) & 63,
                                        b2 & 63};
            for (int g = 0; g < left + 1; ++g) line.push_back(UuChar(groups[g]));
        }
        line.push_back('\n');
    }
    // Out-of-range counts leave an empty string behind, like an empty line.
    const int64_t cap = Capacity(maxlength, true);
    if (cap >= 0 &&
        !WriteBytes(vm, params[1], line.substr(0, static_cast<size_t>(std::min<int64_t>(cap, line.size()))),
                    true)) {
        return Fail(vm);
    }
    return static_cast<cell>(line.size());
}

cell n_valstr(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return Fail(vm);
    const std::string text = std::to_string(params[2]);
    if (!WriteBytes(vm, params[1], text, params[3] != 0)) return Fail(vm);
    return static_cast<cell>(text.size());
}

const VmNativeEntry kStringNatives[] = {
    {"ispacked", n_ispacked}, {"memcpy", n_memcpy},     {"strcat", n_strcat},       {"strcmp", n_strcmp},
    {"strdel", n_strdel},     {"strfind", n_strfind},   {"strins", n_strins},       {"strlen", n_strlen},
    {"strmid", n_strmid},     {"strpack", n_strpack},   {"strunpack", n_strunpack}, {"strval", n_strval},
    {"uudecode", n_uudecode}, {"uuencode", n_uuencode}, {"valstr", n_valstr},       {nullptr, nullptr},
};

}  // namespace

int vm_AttachStringLib(VmInstance* vm) { return vm_Register(vm, kStringNatives, -1); }
int vm_DetachStringLib(VmInstance*) { return 0; }

}  // namespace velt
