#include "server/console/ConsoleVariable.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace velt {

std::string FormatConsoleValue(const ConsoleVariable& var) {
    char buf[64];
    switch (var.type) {
        case CON_VARTYPE_FLOAT:
            // Large floats print up to ~47 characters with "%f"; the buffer holds any of them.
            std::snprintf(buf, sizeof buf, "%f", static_cast<double>(var.FloatValue()));
            return buf;
        case CON_VARTYPE_INT: std::snprintf(buf, sizeof buf, "%d", var.IntValue()); return buf;
        case CON_VARTYPE_BOOL: std::snprintf(buf, sizeof buf, "%d", var.BoolValue()); return buf;
        case CON_VARTYPE_STRING: return var.text;
    }
    return {};
}

int32_t ParseConsoleInt(const char* text) {
    if (text == nullptr) return 0;
    long long v = std::strtoll(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

float ParseConsoleFloat(const char* text) {
    if (text == nullptr) return 0.0f;
    return static_cast<float>(std::strtod(text, nullptr));
}

bool HasConsoleNumber(const char* text) {
    if (text == nullptr) return false;
    char* end = nullptr;
    (void)std::strtoll(text, &end, 10);
    return end != text;
}

}  // namespace velt
