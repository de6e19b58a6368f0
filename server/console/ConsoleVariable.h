#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velt {

// Numeric codes are part of the contract: scripts, plugins and the query rules reply agree on them.
enum ConsoleVarType : int32_t {
    CON_VARTYPE_FLOAT = 0,
    CON_VARTYPE_INT = 1,
    CON_VARTYPE_BOOL = 2,
    CON_VARTYPE_STRING = 3,
};

enum ConsoleVarFlags : int32_t {
    CON_VARFLAG_DEBUG = 1,     // neither shown nor set from a console line
    CON_VARFLAG_READONLY = 2,  // shown, never set from a console line
    CON_VARFLAG_RULE = 4,      // published in the query rules reply
};

// Runs once when the variable is registered and after every change made by a console line.
using ConsoleChangeCallback = std::function<void()>;

// One named setting. Numbers live in storage owned by whoever registered them (so hot paths read
// them without a lookup); only the text of a string variable is owned here.
struct ConsoleVariable {
    ConsoleVarType type = CON_VARTYPE_INT;
    int32_t flags = 0;
    // float* for floats, int32_t* for ints, uint8_t* (0 or 1) for bools; unused for strings.
    void* value = nullptr;
    std::string text;
    ConsoleChangeCallback changed;

    float FloatValue() const { return *static_cast<const float*>(value); }
    int32_t IntValue() const { return *static_cast<const int32_t*>(value); }
    uint8_t BoolValue() const { return *static_cast<const uint8_t*>(value); }

    bool IsDebug() const { return (flags & CON_VARFLAG_DEBUG) != 0; }
    bool IsReadOnly() const { return (flags & CON_VARFLAG_READONLY) != 0; }
    bool IsRule() const { return (flags & CON_VARFLAG_RULE) != 0; }
};

// Value as the console shows it bare: "%f", "%d" or the text itself. Used by the rules reply too.
std::string FormatConsoleValue(const ConsoleVariable& var);

// atoi/atof as the console has always read numbers (leading blanks, optional sign, digits, junk
// after the number ignored, no number reads as 0), but an integer beyond the 32-bit range
// saturates instead of wrapping.
int32_t ParseConsoleInt(const char* text);
float ParseConsoleFloat(const char* text);
// True when text holds a number at all (after leading blanks), so a typo is not read as 0.
bool HasConsoleNumber(const char* text);

}  // namespace velt
