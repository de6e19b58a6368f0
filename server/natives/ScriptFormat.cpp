#include "server/natives/ScriptFormat.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "server/natives/ScriptNatives.h"
#include "server/vm/vmlib_common.h"

namespace velt {

namespace {

// The output being built and the room left in it.
struct Output {
    char* text;
    int32_t pos;
    int32_t room;

    void Put(char ch) {
        text[pos++] = ch;
        --room;
    }
    void PutAll(const char* src, size_t n) {
        for (size_t k = 0; k < n && room > 0; ++k) Put(src[k]);
    }
};

// A script string of cells, as this engine reads it: one character per cell, ended by a 0 cell.
struct CellText {
    const cell* cells = nullptr;
    int64_t length = 0;  // cells before the terminator

    cell At(int64_t i) const { return i < length ? LoadScriptCell(cells, static_cast<size_t>(i)) : 0; }
};

// Finds the cell string at `address` without leaving the script memory region it starts in (data
// and heap up to the heap top, or the stack). False for a bad or unaligned address, and for a text
// that region ends before terminating: such a text reads as empty, as every other text read does.
bool ReadCellText(VmInstance* vm, cell address, CellText& out) {
    out = {};
    if (vm == nullptr || (address & 3) != 0) return false;
    if (ScriptCellAddress(vm, static_cast<ucell>(address), 1) == nullptr) return false;
    const int64_t end = address < vm->heap ? vm->heap : static_cast<int64_t>(vm->stack_top);
    const int64_t cellsLeft = (end - address) / 4;
    if (cellsLeft <= 0 || cellsLeft > std::numeric_limits<int32_t>::max()) return false;
    const cell* p = ScriptCellAddress(vm, static_cast<ucell>(address), static_cast<int32_t>(cellsLeft));
    if (p == nullptr) return false;
    for (int64_t i = 0; i < cellsLeft; ++i) {
        if (LoadScriptCell(p, static_cast<size_t>(i)) == 0) {
            out.cells = p;
            out.length = i;
            return true;
        }
    }
    return false;
}

char LowByte(cell c) { return static_cast<char>(c & 0xFF); }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// Reads up to kFormatNumberDigits digits from position i on; the value saturates at the largest
// cell instead of wrapping into a negative width. Returns the position of the first cell not taken.
int64_t FormatReadNumber(const CellText& fmt, int64_t i, int32_t& value) {
    int64_t v = 0;
    for (int taken = 0; taken < kFormatNumberDigits && fmt.At(i) != 0 && IsDigit(LowByte(fmt.At(i)));
         ++taken, ++i) {
        v = v * 10 + (LowByte(fmt.At(i)) - '0');
    }
    value = static_cast<int32_t>(std::min<int64_t>(v, std::numeric_limits<int32_t>::max()));
    return i;
}

// The argument cursor of one formatting run.
struct Arguments {
    VmInstance* vm;
    const cell* params;
    int32_t count;
    int32_t& next;

    // The next argument's script address; false (nothing taken) when none is left.
    bool TakeAddress(cell& address) {
        if (next < 1 || next > count) return false;
        address = params[next++];
        return true;
    }
    // The next argument's value, read through its address. An argument whose address is bad is
    // taken but yields nothing.
    bool TakeValue(cell& value) {
        cell address = 0;
        if (!TakeAddress(address)) return false;
        const cell* p = ScriptCellAddress(vm, static_cast<ucell>(address), 1);
        if (p == nullptr) return false;
        value = LoadScriptCell(p);
        return true;
    }
};

size_t Pad(char* buf, size_t len, size_t count, char ch) {
    std::memset(buf + len, ch, count);
    return len + count;
}

// Padding that fits between what is written and what must still fit behind it.
size_t PadCount(int32_t width, size_t textLength, size_t used, size_t size) {
    if (width <= 0 || static_cast<int64_t>(textLength) >= width) return 0;
    const size_t wanted = static_cast<size_t>(width) - textLength;
    const size_t free = size > used + textLength ? size - used - textLength : 0;
    return std::min(wanted, free);
}

size_t FormatUnsigned(char* buf, size_t size, uint32_t value, unsigned bitsPerDigit, int32_t width,
                      bool zero) {
    static const char kDigits[] = "0123456789ABCDEF";
    char digits[32];
    size_t n = 0;
    const uint32_t mask = (1u << bitsPerDigit) - 1;
    do {
        digits[n++] = kDigits[value & mask];
        value >>= bitsPerDigit;
    } while (value != 0);
    size_t len = Pad(buf, 0, PadCount(width, n, 0, size), zero ? '0' : ' ');
    while (n > 0 && len < size) buf[len++] = digits[--n];
    return len;
}

// Left-aligned text with optional precision and width, cut to the room left.
template <class CharAt>
void AppendText(Output& o, int64_t length, int32_t width, int32_t precision, CharAt&& charAt) {
    int64_t n = length;
    if (precision >= 0 && precision < n) n = precision;
    n = std::min<int64_t>(n, o.room);
    for (int64_t k = 0; k < n; ++k) o.Put(charAt(k));
    for (int64_t pad = static_cast<int64_t>(width) - n; pad > 0 && o.room > 0; --pad) o.Put(' ');
}

void FormatAppendCells(Output& o, const CellText& text, int32_t width, int32_t precision) {
    AppendText(o, text.length, width, precision, [&](int64_t k) { return LowByte(text.At(k)); });
}

void FormatAppendChars(Output& o, const char* text, size_t length, int32_t width, int32_t precision) {
    AppendText(o, static_cast<int64_t>(length), width, precision, [&](int64_t k) { return text[k]; });
}

// "%q": the text quoted by SQLite's own rules. Quoting maps each character on its own, so the text
// is cut to the room left first: the visible result is the same and a huge script text is never
// copied whole.
void FormatAppendQuoted(Output& o, VmInstance* vm, cell address, int32_t width, int32_t precision) {
    std::string text;
    if (!ReadScriptString(vm, address, text) || text.empty()) return;
    if (text.size() > static_cast<size_t>(o.room)) text.resize(static_cast<size_t>(o.room));
    char* quoted = sqlite3_mprintf("%q", text.c_str());
    if (quoted == nullptr) return;
    FormatAppendChars(o, quoted, std::strlen(quoted), width, precision);
    sqlite3_free(quoted);
}

}  // namespace

size_t FormatDecimal(char* buf, size_t size, int32_t value, int32_t width, bool zero) {
    // The magnitude in unsigned arithmetic: -2147483648 has no positive int32 counterpart.
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    char digits[10];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t len = 0;
    if (value < 0 && len < size) buf[len++] = '-';
    // The width counts the digits alone: the sign comes in addition.
    len = Pad(buf, len, PadCount(width, n, len, size), zero ? '0' : ' ');
    while (n > 0 && len < size) buf[len++] = digits[--n];
    return len;
}

size_t FormatHex(char* buf, size_t size, uint32_t value, int32_t width, bool zero) {
    return FormatUnsigned(buf, size, value, 4, width, zero);
}

size_t FormatBinary(char* buf, size_t size, uint32_t value, int32_t width, bool zero) {
    return FormatUnsigned(buf, size, value, 1, width, zero);
}

size_t FormatFloat(char* buf, size_t size, float value, int32_t width, int32_t precision, bool zero) {
    if (size <= 2) return 0;
    double v = value;
    if (std::isnan(v)) {
        const size_t n = std::min<size_t>(3, size);
        std::memcpy(buf, "NaN", n);
        return n;
    }
    const bool negative = v < 0;
    if (negative) v = -v;
    // The integer part saturates: magnitudes beyond the 32-bit range and infinities keep the
    // largest integer part instead of wrapping to a wrong number.
    const int32_t integer = v >= 2147483647.0 ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(v);
    double fraction = std::isfinite(v) ? v - std::trunc(v) : 0.0;

    char itext[12];
    size_t ilen = 0;
    if (negative) itext[ilen++] = '-';
    char digits[10];
    size_t n = 0;
    uint32_t m = static_cast<uint32_t>(integer);
    do {
        digits[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m != 0);
    while (n > 0) itext[ilen++] = digits[--n];

    // The width covers the integer text with its sign; zero padding therefore precedes the sign.
    size_t len = Pad(buf, 0, PadCount(width, ilen, 0, size), zero ? '0' : ' ');
    for (size_t k = 0; k < ilen && len < size; ++k) buf[len++] = itext[k];

    const int32_t count = precision < 0 ? 6 : std::min<int32_t>(precision, 65);
    if (count > 0 && len + 2 <= size) {
        buf[len++] = '.';
        // Truncating digit by digit: 1.999 with two digits is "1.99", never rounded up.
        for (int32_t k = 0; k < count && len < size; ++k) {
            fraction *= 10.0;
            int d = static_cast<int>(fraction);
            d = std::clamp(d, 0, 9);
            fraction -= d;
            buf[len++] = static_cast<char>('0' + d);
        }
    }
    return len;
}

int32_t ScriptFormatter(char* out, int32_t maxChars, VmInstance* vm, cell formatAddress, const cell* params,
                        int32_t& argIndex) {
    if (out == nullptr) return 0;
    Output o{out, 0, std::max<int32_t>(maxChars, 0)};
    CellText fmt;
    if (!ReadCellText(vm, formatAddress, fmt)) {
        out[0] = '\0';
        return 0;
    }
    Arguments args{vm, params, params != nullptr ? vmlib::ArgCount(vm, params) : 0, argIndex};
    char scratch[kFormatScratchSize];

    int64_t i = 0;
    while (fmt.At(i) != 0 && o.room > 0) {
        const char ch = LowByte(fmt.At(i++));
        if (ch != '%') {
            o.Put(ch);
            continue;
        }
        if (fmt.At(i) == 0) {
            o.Put('%');
            break;
        }
        bool zero = false;
        int32_t width = 0;
        int32_t precision = -1;
        for (; fmt.At(i) != 0 && (LowByte(fmt.At(i)) == '0' || LowByte(fmt.At(i)) == '-'); ++i) {
            if (LowByte(fmt.At(i)) == '0') zero = true;
        }
        if (fmt.At(i) != 0 && LowByte(fmt.At(i)) == '*') {
            ++i;
            cell v = 0;
            if (args.TakeValue(v)) width = v;
        } else {
            i = FormatReadNumber(fmt, i, width);
        }
        if (fmt.At(i) != 0 && LowByte(fmt.At(i)) == '.') {
            ++i;
            if (fmt.At(i) != 0 && LowByte(fmt.At(i)) == '*') {
                ++i;
                cell v = 0;
                // A negative precision from an argument means "none", as in C.
                if (args.TakeValue(v)) precision = v < 0 ? -1 : v;
            } else {
                i = FormatReadNumber(fmt, i, precision);
            }
        }
        if (fmt.At(i) == 0) {
            o.Put('%');
            break;
        }
        const char conversion = LowByte(fmt.At(i++));
        cell value = 0;
        cell address = 0;
        switch (conversion) {
            case 'd':
            case 'i':
                if (args.TakeValue(value))
                    o.PutAll(scratch, FormatDecimal(scratch, sizeof scratch, value, width, zero));
                break;
            case 'x':
            case 'h':
                if (args.TakeValue(value))
                    o.PutAll(scratch,
                             FormatHex(scratch, sizeof scratch, static_cast<uint32_t>(value), width, zero));
                break;
            case 'b':
                if (args.TakeValue(value))
                    o.PutAll(scratch, FormatBinary(scratch, sizeof scratch, static_cast<uint32_t>(value),
                                                   width, zero));
                break;
            case 'f':
                if (args.TakeValue(value))
                    o.PutAll(scratch, FormatFloat(scratch, sizeof scratch, CellToFloat(value), width,
                                                  precision, zero));
                break;
            case 's':
                if (args.TakeAddress(address)) {
                    CellText text;
                    // A bad or unterminated text is an empty one: only the padding shows.
                    ReadCellText(vm, address, text);
                    FormatAppendCells(o, text, width, precision);
                }
                break;
            case 'q':
                if (args.TakeAddress(address)) FormatAppendQuoted(o, vm, address, width, precision);
                break;
            case 'c':
                if (args.TakeValue(value)) o.Put(LowByte(value));
                break;
            default:  // "%%" and unknown conversions write the character itself
                o.Put(conversion);
                break;
        }
    }
    out[o.pos] = '\0';
    return o.pos;
}

const char* FormatScriptString(VmInstance* vm, const cell* params, int32_t formatIndex, int32_t* outLength) {
    static char buffer[kFormatBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    int32_t length = 0;
    const int32_t count = params != nullptr ? vmlib::ArgCount(vm, params) : 0;
    if (formatIndex >= 1 && formatIndex <= count) {
        int32_t next = formatIndex + 1;
        length = ScriptFormatter(buffer, kFormatMaxChars, vm, params[formatIndex], params, next);
    }
    if (outLength != nullptr) *outLength = length;
    return buffer;
}

}  // namespace velt
