#include "npc/NpcFormat.h"

#include <cmath>

#include "server/runtime/ScriptMemory.h"
#include "server/vm/vmlib_common.h"

namespace velt {

namespace {

// A width or precision beyond this could never be filled: the output holds fewer characters.
constexpr int32_t kMaxFieldLength = int32_t(kNpcFormatBufferSize);

// Character `index` of a text the engine reads: one character per cell, the cell's low byte,
// whatever the first cell looks like (the engine knows no packed texts). False when that cell
// cannot be read, which ends the text.
bool ReadTextChar(VmInstance* vm, cell address, int64_t index, char& out) {
    const int64_t at = int64_t(address) + index * 4;
    if (index < 0 || at > INT32_MAX) return false;
    cell c = 0;
    if (!GetScriptCell(vm, cell(at), c)) return false;
    out = char(c & 0xFF);
    return true;
}

class Output {
public:
    Output(char* out, size_t size) : out_(out), room_(size - 1) {}
    bool Full() const { return used_ >= room_; }
    void Put(char c) {
        if (!Full()) out_[used_++] = c;
    }
    void Repeat(char c, int64_t count) {
        for (int64_t i = 0; i < count && !Full(); ++i) Put(c);
    }
    void Write(const char* text, size_t length) {
        for (size_t i = 0; i < length && !Full(); ++i) Put(text[i]);
    }
    int32_t Finish() {
        out_[used_] = '\0';
        return int32_t(used_);
    }

private:
    char* out_;
    size_t room_;
    size_t used_ = 0;
};

struct Field {
    bool left = false;
    bool zero = false;
    int32_t width = 0;
    int32_t precision = -1;
};

// The argument cells of the native call, taken one after the other.
class Arguments {
public:
    Arguments(VmInstance* vm, const cell* params, int32_t next)
        : vm_(vm), params_(params), next_(next), count_(vmlib::ArgCount(vm, params)) {}
    bool Left() const { return next_ <= count_; }
    // The next argument's address; false when none is left.
    bool TakeAddress(cell& address) {
        if (!Left()) return false;
        address = params_[next_++];
        return true;
    }
    // The value at the next argument's address; false when none is left or the address is bad
    // (the argument is consumed either way).
    bool TakeValue(cell& value) {
        cell address = 0;
        return TakeAddress(address) && GetScriptCell(vm_, address, value);
    }

private:
    VmInstance* vm_;
    const cell* params_;
    int32_t next_;
    int32_t count_;
};

int32_t ClampField(int64_t v) { return v > kMaxFieldLength ? kMaxFieldLength : int32_t(v); }

// Digits of `value` in `base`, most significant first, into buf (at least 33 bytes).
size_t UnsignedDigits(uint32_t value, uint32_t base, char* buf) {
    char rev[33];
    size_t n = 0;
    do {
        rev[n++] = "0123456789ABCDEF"[value % base];
        value /= base;
    } while (value != 0);
    for (size_t i = 0; i < n; ++i) buf[i] = rev[n - 1 - i];
    return n;
}

// Digits with an optional sign, padded as the decimal, hexadecimal and binary conversions pad.
void PutPadded(Output& o, const Field& s, bool negative, const char* digits, size_t n) {
    const char pad = s.zero ? '0' : ' ';
    // Zero padding fills up to the width with digits alone; blank padding counts the sign too.
    const int64_t produced = int64_t(n) + ((negative && !s.zero) ? 1 : 0);
    const int64_t missing = s.width > produced ? s.width - produced : 0;
    if (s.left) {
        if (negative) o.Put('-');
        o.Write(digits, n);
        o.Repeat(pad, missing);
        return;
    }
    if (s.zero) {
        if (negative) o.Put('-');
        o.Repeat('0', missing);
    } else {
        o.Repeat(' ', missing);
        if (negative) o.Put('-');
    }
    o.Write(digits, n);
}

void PutDecimal(Output& o, const Field& s, cell value) {
    const bool negative = value < 0;
    const uint32_t magnitude = negative ? 0u - uint32_t(value) : uint32_t(value);
    char digits[33];
    const size_t n = UnsignedDigits(magnitude, 10, digits);
    PutPadded(o, s, negative, digits, n);
}

void PutUnsigned(Output& o, const Field& s, cell value, uint32_t base) {
    char digits[33];
    const size_t n = UnsignedDigits(uint32_t(value), base, digits);
    PutPadded(o, s, false, digits, n);
}

void PutFloat(Output& o, const Field& s, cell bits) {
    double v = CellToFloat(bits);
    if (std::isnan(v)) {
        o.Write("NaN", 3);
        return;
    }
    const bool negative = v < 0;
    if (negative) v = -v;
    // The integer part saturates: larger magnitudes and infinities keep the largest 32-bit
    // integer part rather than converting out of range.
    const uint32_t integer = v >= 2147483647.0 ? 2147483647u : uint32_t(v);
    double fraction = std::isfinite(v) ? v - std::trunc(v) : 0.0;

    char digits[33];
    const size_t n = UnsignedDigits(integer, 10, digits);
    const int64_t produced = int64_t(n) + (negative ? 1 : 0);
    o.Repeat(' ', s.width > produced ? s.width - produced : 0);
    if (negative) o.Put('-');
    o.Write(digits, n);

    const int32_t decimals = s.precision == -1 ? 6 : s.precision;
    if (decimals <= 0) return;
    o.Put('.');
    for (int32_t k = 0; k < decimals && !o.Full(); ++k) {
        fraction *= 10.0;
        int d = int(fraction);
        if (d < 0) d = 0;
        if (d > 9) d = 9;
        fraction -= d;
        o.Put(char('0' + d));
    }
}

void PutText(Output& o, const Field& s, VmInstance* vm, cell address) {
    int64_t copied = 0;
    for (int64_t i = 0; !o.Full(); ++i) {
        if (s.precision >= 0 && i >= s.precision) break;
        char c = 0;
        if (!ReadTextChar(vm, address, i, c) || c == '\0') break;
        o.Put(c);
        ++copied;
    }
    o.Repeat(' ', s.width > copied ? s.width - copied : 0);
}

bool IsConversion(char c) {
    return c == 'd' || c == 'i' || c == 'x' || c == 'h' || c == 'b' || c == 'c' || c == 's' || c == 'f';
}

void Convert(Output& o, const Field& s, char conversion, VmInstance* vm, Arguments& args) {
    if (conversion == 's') {
        cell address = 0;
        if (args.TakeAddress(address)) PutText(o, s, vm, address);
        return;
    }
    cell value = 0;
    if (!args.TakeValue(value)) return;
    switch (conversion) {
        case 'd':
        case 'i': PutDecimal(o, s, value); break;
        case 'x':
        case 'h': PutUnsigned(o, s, value, 16); break;
        case 'b': PutUnsigned(o, s, value, 2); break;
        case 'c': o.Put(char(value & 0xFF)); break;
        case 'f': PutFloat(o, s, value); break;
        default: break;
    }
}

}  // namespace

int32_t NpcFormat(VmInstance* vm, const cell* params, int32_t formatIndex, char* out, size_t outSize) {
    if (out == nullptr || outSize == 0) return 0;
    Output o(out, outSize);
    if (params == nullptr || vm == nullptr || formatIndex < 1 || formatIndex > vmlib::ArgCount(vm, params))
        return o.Finish();

    const cell format = params[formatIndex];
    Arguments args(vm, params, formatIndex + 1);
    // Reads the format one character at a time; a cell that cannot be read ends it.
    auto at = [&](int64_t i) -> char {
        char c = 0;
        return ReadTextChar(vm, format, i, c) ? c : '\0';
    };
    auto readNumber = [&](int64_t& i) -> int32_t {
        int64_t v = 0;
        while (at(i) >= '0' && at(i) <= '9') {
            v = v * 10 + (at(i) - '0');
            if (v > kMaxFieldLength) v = kMaxFieldLength;
            ++i;
        }
        return int32_t(v);
    };

    int64_t i = 0;
    while (!o.Full()) {
        const char c = at(i);
        if (c == '\0') break;
        ++i;
        if (c != '%') {
            o.Put(c);
            continue;
        }
        Field s;
        for (;;) {
            const char f = at(i);
            if (f == '\0') {
                o.Put('%');
                return o.Finish();
            }
            if (f == '*') {
                ++i;
                cell v = 0;
                if (args.TakeValue(v)) s.width = ClampField(v);
            } else if (f == '-') {
                ++i;
                s.left = true;
            } else if (f == '0') {
                ++i;
                s.zero = true;
            } else if (f == '.') {
                ++i;
                if (at(i) == '*') {
                    ++i;
                    cell v = 0;
                    if (args.TakeValue(v)) s.precision = ClampField(v);
                } else {
                    s.precision = readNumber(i);
                }
            } else if (f >= '1' && f <= '9') {
                s.width = readNumber(i);
            } else {
                ++i;
                if (IsConversion(f)) {
                    Convert(o, s, f, vm, args);
                } else {
                    o.Put(f);
                }
                break;
            }
        }
    }
    return o.Finish();
}

}  // namespace velt
