#include "net/CompareNoCase.h"

#include <strings.h>

namespace velt {

namespace {

// Orders null texts without touching them; 2 when both are real texts.
int CompareNulls(const char* a, const char* b) {
    if (a == nullptr) return b == nullptr ? 0 : -1;
    if (b == nullptr) return 1;
    return 2;
}

}  // namespace

int CompareNoCase(const char* a, const char* b) {
    const int nulls = CompareNulls(a, b);
    return nulls != 2 ? nulls : strcasecmp(a, b);
}

int CompareNoCaseN(const char* a, const char* b, size_t n) {
    const int nulls = CompareNulls(a, b);
    return nulls != 2 ? nulls : strncasecmp(a, b, n);
}

}  // namespace velt
