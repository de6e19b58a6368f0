#pragma once

// The animation numbers that clients report in their on-foot records, as the text
// "LIBRARY:NAME" scripts can read. The table is compiled in from animation_names.txt (one row per
// line, line N is animation N); the build refuses a file that CheckAnimationNameRow rejects.
//
// A row the file leaves empty is an animation whose name this server does not know: it reads
// exactly like a number outside the table (no text).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velt {

inline constexpr int32_t kAnimationCount = 1812;  // numbers 1..1812
// Clients keep each row in a 36-byte field; the longest known row is 30 characters.
inline constexpr size_t kMaxAnimationRow = 30;
inline constexpr size_t kAnimationRowField = 36;

enum class AnimationRowFault : uint8_t {
    None,          // a good row, or an empty one (a number whose name is unknown)
    TooLong,       // more than kMaxAnimationRow characters
    NoColon,       // library and name must be joined by one colon
    ExtraColon,    // neither part may hold a colon
    EmptyPart,     // the library or the name is missing
    LowerCase,     // rows are stored upper case, as the name lookup compares them
    BadCharacter,  // a blank, a control byte or a byte above 0x7E
};

constexpr AnimationRowFault CheckAnimationNameRow(std::string_view row) {
    if (row.empty()) return AnimationRowFault::None;
    if (row.size() > kMaxAnimationRow) return AnimationRowFault::TooLong;
    size_t colon = std::string_view::npos;
    for (size_t i = 0; i < row.size(); ++i) {
        const char c = row[i];
        if (c <= ' ' || c > '~') return AnimationRowFault::BadCharacter;
        if (c >= 'a' && c <= 'z') return AnimationRowFault::LowerCase;
        if (c != ':') continue;
        if (colon != std::string_view::npos) return AnimationRowFault::ExtraColon;
        colon = i;
    }
    if (colon == std::string_view::npos) return AnimationRowFault::NoColon;
    if (colon == 0 || colon + 1 == row.size()) return AnimationRowFault::EmptyPart;
    return AnimationRowFault::None;
}

const char* AnimationRowFaultText(AnimationRowFault fault);

// Checks the text of a whole names file: exactly kAnimationCount lines (the last line feed may be
// left out), each a good row or empty. Returns "" when it is good, else the first fault as
// "line N: what is wrong" (or what is wrong with the line count).
std::string CheckAnimationNameFile(std::string_view text);

// "LIBRARY:NAME" of an animation number; null for a number outside 1..1812 and for a row whose
// name is unknown.
const char* AnimationNameByIndex(int32_t number);

// The first number whose row is library, a colon and name, compared after upper-casing both; -1
// when none is, when either text is missing, or when their lengths add up to more than a row's
// field could hold.
int32_t AnimationIndexByName(const char* library, const char* name);

}  // namespace velt
