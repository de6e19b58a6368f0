#include "server/shared/StringUtil.h"

#include <algorithm>
#include <cstring>

namespace velt {

namespace {

// Length of the text in a buffer that may lack its terminator.
std::size_t BoundedLength(const char* text, std::size_t size) { return text ? ::strnlen(text, size) : 0; }

int HexValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

// Terminates a text that got shorter; an untouched unterminated buffer is left as it was.
std::size_t FinishShrunk(char* text, std::size_t newLength, std::size_t oldLength) {
    if (newLength < oldLength) text[newLength] = '\0';
    return newLength;
}

std::size_t WriteText(const char* digits, std::size_t length, char* out, std::size_t outSize) {
    if (!out || outSize == 0) return 0;
    if (length + 1 > outSize) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, digits, length);
    out[length] = '\0';
    return length;
}

std::size_t FormatMagnitude(std::uint32_t magnitude, bool negative, char* out, std::size_t outSize,
                            int radix) {
    if (radix == 0) radix = 10;
    if (radix < 2 || radix > 35) return WriteText("", 0, out, outSize);

    static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    char reversed[kIntTextSize];
    std::size_t length = 0;
    do {
        reversed[length++] = kDigits[magnitude % static_cast<std::uint32_t>(radix)];
        magnitude /= static_cast<std::uint32_t>(radix);
    } while (magnitude != 0);
    if (negative) reversed[length++] = '-';
    std::reverse(reversed, reversed + length);
    return WriteText(reversed, length, out, outSize);
}

}  // namespace

char ToUpperAscii(char ch) { return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch; }

void StringToUpper(char* text, std::size_t size) {
    if (!text) return;
    for (std::size_t i = 0; i < size && text[i] != '\0'; ++i) text[i] = ToUpperAscii(text[i]);
}

void StringToUpper(std::string& text) {
    for (char& ch : text) ch = ToUpperAscii(ch);
}

const char* FindNoCase(std::string_view text, std::string_view needle) {
    if (needle.empty() || needle.size() > text.size()) return nullptr;
    const std::size_t last = text.size() - needle.size();
    for (std::size_t start = 0; start <= last; ++start) {
        std::size_t i = 0;
        while (i < needle.size() && ToUpperAscii(text[start + i]) == ToUpperAscii(needle[i])) ++i;
        if (i == needle.size()) return text.data() + start;
    }
    return nullptr;
}

int CompareNoCaseUpperN(std::string_view a, std::string_view b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const char ca = i < a.size() ? a[i] : '\0';
        const char cb = i < b.size() ? b[i] : '\0';
        const auto ua = static_cast<signed char>(ToUpperAscii(ca));
        const auto ub = static_cast<signed char>(ToUpperAscii(cb));
        if (ua != ub) return ua - ub;
        if (ca == '\0') break;
    }
    return 0;
}

bool WildcardMatch(std::string_view pattern, std::string_view text) {
    // Greedy match that remembers only the latest '*': on a mismatch the star absorbs one more
    // character and matching resumes after it. Earlier stars never need revisiting, which keeps
    // the cost polynomial where a recursive matcher would explode on patterns like "*a*a*a*b".
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t p = 0, t = 0;
    std::size_t starP = kNone, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (starP != kNone) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

void ReverseString(char* text, std::size_t size) {
    const std::size_t length = BoundedLength(text, size);
    std::reverse(text, text + length);
}

std::size_t IntToString(std::int32_t value, char* out, std::size_t outSize, int radix) {
    // Negate in unsigned arithmetic: -INT32_MIN does not exist as an int32_t.
    const bool negative = value < 0;
    const std::uint32_t magnitude =
        negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    return FormatMagnitude(magnitude, negative, out, outSize, radix);
}

std::size_t UIntToString(std::uint32_t value, char* out, std::size_t outSize, int radix) {
    return FormatMagnitude(value, false, out, outSize, radix);
}

std::size_t Base64Encode(std::string_view data, char* out, std::size_t outSize) {
    if (!out || outSize == 0) return 0;
    const std::size_t needed = Base64EncodedSize(data.size());
    if (needed > outSize) {
        out[0] = '\0';
        return 0;
    }
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::size_t w = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t left = data.size() - i;
        const std::uint32_t b0 = static_cast<unsigned char>(data[i]);
        const std::uint32_t b1 = left > 1 ? static_cast<unsigned char>(data[i + 1]) : 0u;
        const std::uint32_t b2 = left > 2 ? static_cast<unsigned char>(data[i + 2]) : 0u;
        const std::uint32_t group = (b0 << 16) | (b1 << 8) | b2;
        out[w++] = kAlphabet[(group >> 18) & 0x3F];
        out[w++] = kAlphabet[(group >> 12) & 0x3F];
        out[w++] = left > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        out[w++] = left > 2 ? kAlphabet[group & 0x3F] : '=';
    }
    out[w] = '\0';
    return w;
}

bool HasInvalidNameChar(std::string_view name) {
    for (const char ch : name) {
        const bool valid = (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                           ch == '$' || ch == '(' || ch == ')' || ch == '.' || ch == '=' || ch == '@' ||
                           ch == '[' || ch == ']' || ch == '_';
        if (!valid) return true;
    }
    return false;
}

bool IsHexDigit(char ch) { return HexValue(ch) >= 0; }

std::int32_t ParseColourEmbed(std::string_view text) {
    if (text.size() < 8 || text[0] != '{' || text[7] != '}') return -1;
    std::int32_t value = 0;
    for (std::size_t i = 1; i <= 6; ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

std::size_t StripColourEmbeds(char* text, std::size_t size) {
    // Removing embeds until none is left has one outcome whatever the order (an embed is
    // delimited by braces it cannot share with another), so one left-to-right pass that drops an
    // embed as soon as its closing brace lands gives the same text as repeated passes in O(n).
    // The written part never holds an embed, so a new one can only end at the character just
    // written.
    const std::size_t length = BoundedLength(text, size);
    std::size_t w = 0;
    for (std::size_t r = 0; r < length; ++r) {
        text[w++] = text[r];
        if (text[w - 1] == '}' && w >= 8 && ParseColourEmbed(std::string_view(text + w - 8, 8)) >= 0) w -= 8;
    }
    return FinishShrunk(text, w, length);
}

std::size_t SanitiseChatText(char* text, std::size_t size) {
    const std::size_t length = StripColourEmbeds(text, size);
    for (std::size_t i = 0; i < length; ++i) {
        // Both '%' and the "~k" token have a meaning of their own when clients render text.
        if (text[i] == '%')
            text[i] = '#';
        else if (text[i] == '~' && i + 1 < length && text[i + 1] == 'k')
            text[i] = '#';
    }
    return length;
}

std::size_t UrlDecode(char* text, std::size_t size) {
    const std::size_t length = BoundedLength(text, size);
    std::size_t w = 0;
    for (std::size_t r = 0; r < length; ++r) {
        const char ch = text[r];
        if (ch == '+') {
            text[w++] = ' ';
        } else if (ch == '%' && r + 2 < length && IsHexDigit(text[r + 1]) && IsHexDigit(text[r + 2])) {
            text[w++] = static_cast<char>(HexValue(text[r + 1]) * 16 + HexValue(text[r + 2]));
            r += 2;
        } else {
            text[w++] = ch;
        }
    }
    return FinishShrunk(text, w, length);
}

}  // namespace velt
