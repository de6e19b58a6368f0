#include "server/game/AnimationNames.h"

#include <cstring>
#include <iterator>

#include "server/shared/StringUtil.h"

namespace velt {

namespace {

// One string literal per line of animation_names.txt, written by the build.
constexpr const char* kRows[] = {
#include "AnimationNameRows.inc"
};

constexpr bool AllRowsGood() {
    for (const char* row : kRows)
        if (CheckAnimationNameRow(row) != AnimationRowFault::None) return false;
    return true;
}

static_assert(std::size(kRows) == kAnimationCount, "animation_names.txt must have one line per animation");
static_assert(AllRowsGood(), "animation_names.txt holds a malformed row (see CheckAnimationNameFile)");

}  // namespace

const char* AnimationRowFaultText(AnimationRowFault fault) {
    switch (fault) {
        case AnimationRowFault::None: return "good";
        case AnimationRowFault::TooLong: return "longer than 30 characters";
        case AnimationRowFault::NoColon: return "no colon between library and name";
        case AnimationRowFault::ExtraColon: return "more than one colon";
        case AnimationRowFault::EmptyPart: return "empty library or name";
        case AnimationRowFault::LowerCase: return "lower-case letter";
        case AnimationRowFault::BadCharacter: return "blank, control or non-ASCII character";
    }
    return "unknown fault";
}

std::string CheckAnimationNameFile(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    int32_t lines = 0;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        ++lines;
        const AnimationRowFault fault = CheckAnimationNameRow(text.substr(start, end - start));
        if (fault != AnimationRowFault::None)
            return "line " + std::to_string(lines) + ": " + AnimationRowFaultText(fault);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (lines != kAnimationCount)
        return std::to_string(lines) + " lines, not " + std::to_string(kAnimationCount);
    return {};
}

const char* AnimationNameByIndex(int32_t number) {
    if (number < 1 || number > kAnimationCount) return nullptr;
    const char* row = kRows[number - 1];
    return row[0] != '\0' ? row : nullptr;
}

int32_t AnimationIndexByName(const char* library, const char* name) {
    if (library == nullptr || name == nullptr) return -1;
    const size_t libraryLength = strnlen(library, kAnimationRowField + 1);
    const size_t nameLength = strnlen(name, kAnimationRowField + 1);
    if (libraryLength + nameLength > kAnimationRowField) return -1;
    char wanted[kAnimationRowField + 2];
    std::memcpy(wanted, library, libraryLength);
    wanted[libraryLength] = ':';
    std::memcpy(wanted + libraryLength + 1, name, nameLength);
    wanted[libraryLength + 1 + nameLength] = '\0';
    StringToUpper(wanted, sizeof wanted);
    for (int32_t i = 0; i < kAnimationCount; ++i)
        if (std::strcmp(kRows[i], wanted) == 0) return i + 1;
    return -1;
}

}  // namespace velt
