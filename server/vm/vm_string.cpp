// Script strings (packed and unpacked) and UTF-8.
//
// Packed: four characters a cell, the first in the most significant byte, ended by a zero byte.
// Unpacked: one character a cell, ended by a zero cell. A first cell above 0xFFFFFF means packed.

#include <cstring>
#include <cwchar>

#include "server/vm/vm.h"
#include "server/vm/vm_internal.h"

namespace velt {

using namespace vm_internal;

namespace {

constexpr ucell kUnpackedMax = 0xFFFFFF;

// Host pointers into script memory need not be aligned.
inline cell At(const cell* p, size_t i) { return LoadBlockCell(reinterpret_cast<const uint8_t*>(p + i)); }
inline void Put(cell* p, size_t i, cell v) { StoreBlockCell(reinterpret_cast<uint8_t*>(p + i), v); }

inline bool IsPacked(const cell* s) { return ucell(At(s, 0)) > kUnpackedMax; }

}  // namespace

int vm_StrLen(const cell* cstr, int* length) {
    *length = 0;
    if (!cstr) return VM_ERR_PARAMS;
    size_t len = 0;
    if (IsPacked(cstr)) {
        for (size_t k = 0;; ++k) {
            const ucell c = ucell(At(cstr, k));
            int b = 0;
            while (b < 4 && ((c >> (24 - 8 * b)) & 0xFF) != 0) ++b;
            len += size_t(b);
            if (b < 4) break;
        }
    } else {
        while (At(cstr, len) != 0) ++len;
    }
    *length = int(len);
    return VM_ERR_NONE;
}

int vm_SetString(cell* dest, const void* source, int packed, int wide, size_t size) {
    // Not even the terminator fits: write nothing rather than in front of the buffer.
    if (size == 0) return VM_ERR_NONE;
    const wchar_t* w = static_cast<const wchar_t*>(source);
    const unsigned char* s = static_cast<const unsigned char*>(source);
    size_t len = wide ? std::wcslen(w) : std::strlen(static_cast<const char*>(source));
    auto ch = [&](size_t i) -> ucell { return wide ? ucell(w[i]) : ucell(s[i]); };
    if (packed) {
        if (size < 0x1FFFFFFF && len >= size * 4) len = size * 4 - 1;
        for (size_t k = 0; k <= len / 4; ++k) {
            ucell c = 0;
            for (size_t b = 0; b < 4; ++b) {
                size_t i = k * 4 + b;
                if (i < len) c |= (ch(i) & 0xFF) << (24 - 8 * b);
            }
            Put(dest, k, cell(c));
        }
    } else {
        if (size < 0x7FFFFFFF && len >= size) len = size - 1;
        for (size_t i = 0; i < len; ++i) Put(dest, i, cell(ch(i)));
        Put(dest, len, 0);
    }
    return VM_ERR_NONE;
}

int vm_ReadString(void* dest, const cell* source, int wide, size_t size) {
    if (size == 0) return VM_ERR_NONE;
    char* out = static_cast<char*>(dest);
    wchar_t* wout = static_cast<wchar_t*>(dest);
    size_t i = 0;
    if (IsPacked(source)) {
        for (size_t k = 0; i + 1 < size; ++k) {
            const ucell c = ucell(At(source, k));
            int b = 0;
            for (; b < 4 && i + 1 < size; ++b) {
                const unsigned char byte = (c >> (24 - 8 * b)) & 0xFF;
                if (byte == 0) break;
                if (wide)
                    wout[i] = wchar_t(static_cast<signed char>(byte));
                else
                    out[i] = char(byte);
                ++i;
            }
            if (b < 4) break;
        }
    } else {
        for (; i + 1 < size; ++i) {
            const cell c = At(source, i);
            if (c == 0) break;
            if (wide)
                wout[i] = wchar_t(c);
            else
                out[i] = char(c & 0xFF);
        }
    }
    if (wide)
        wout[i] = 0;
    else
        out[i] = '\0';
    return VM_ERR_NONE;
}

int vm_UTF8Get(const char* text, const char** end, cell* value) {
    *value = 0;
    if (end) *end = text;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    const unsigned lead = s[0];
    ucell v;
    int follow;
    ucell least;
    if (lead < 0x80) {
        v = lead;
        follow = 0;
        least = 0;
    } else if (lead < 0xC0)
        return VM_ERR_PARAMS;
    else if (lead < 0xE0) {
        v = lead & 0x1F;
        follow = 1;
        least = 0x80;
    } else if (lead < 0xF0) {
        v = lead & 0x0F;
        follow = 2;
        least = 0x800;
    } else if (lead < 0xF8) {
        v = lead & 0x07;
        follow = 3;
        least = 0x10000;
    } else if (lead < 0xFC) {
        v = lead & 0x03;
        follow = 4;
        least = 0x200000;
    } else if (lead < 0xFE) {
        v = lead & 0x01;
        follow = 5;
        least = 0x4000000;
    } else
        return VM_ERR_PARAMS;
    // A zero byte is not a follow byte, so the walk never passes the end of the text.
    for (int i = 1; i <= follow; ++i) {
        if ((s[i] & 0xC0) != 0x80) return VM_ERR_PARAMS;
        v = (v << 6) | (s[i] & 0x3Fu);
    }
    if (v < least) return VM_ERR_PARAMS;
    if ((v >= 0xD800 && v <= 0xDFFF) || v == 0xFFFE || v == 0xFFFF) return VM_ERR_PARAMS;
    *value = cell(v);
    if (end) *end = text + 1 + follow;
    return VM_ERR_NONE;
}

int vm_UTF8Put(char* buffer, char** end, int room, cell value) {
    if (end) *end = buffer;
    int len;
    if (value < 0x80)
        len = 1;  // negative values too, as their low byte
    else if (value < 0x800)
        len = 2;
    else if (value < 0x10000) {
        if ((value >= 0xD800 && value <= 0xDFFF) || value == 0xFFFE || value == 0xFFFF) return VM_ERR_PARAMS;
        len = 3;
    } else if (value < 0x200000)
        len = 4;
    else if (value < 0x4000000)
        len = 5;
    else
        len = 6;
    if (room < len) return VM_ERR_PARAMS;
    unsigned char* p = reinterpret_cast<unsigned char*>(buffer);
    const ucell v = ucell(value);
    if (len == 1) {
        p[0] = uint8_t(v & 0xFF);
    } else {
        static const unsigned char leads[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
        for (int i = len - 1; i > 0; --i) p[i] = uint8_t(0x80 | ((v >> (6 * (len - 1 - i))) & 0x3F));
        p[0] = uint8_t(leads[len] | (v >> (6 * (len - 1))));
    }
    if (end) *end = buffer + len;
    return VM_ERR_NONE;
}

int vm_UTF8Len(const cell* cstr, int* length) {
    int err = vm_StrLen(cstr, length);
    if (err != VM_ERR_NONE || IsPacked(cstr)) return err;
    const int chars = *length;
    int bytes = 0;
    for (int i = 0; i < chars; ++i) {
        char buf[8];
        char* end = buf;
        if (vm_UTF8Put(buf, &end, int(sizeof buf), At(cstr, size_t(i))) == VM_ERR_NONE)
            bytes += int(end - buf);
    }
    *length = bytes;
    return VM_ERR_NONE;
}

int vm_UTF8Validate(const char* text, int* count) {
    int n = 0;
    const char* p = text;
    while (*p) {
        const char* next;
        cell v;
        if (vm_UTF8Get(p, &next, &v) != VM_ERR_NONE) {
            if (count) *count = n + 1;
            return VM_ERR_PARAMS;
        }
        p = next;
        ++n;
    }
    if (count) *count = n;
    return VM_ERR_NONE;
}

}  // namespace velt
