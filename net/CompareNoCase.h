#pragma once
// Case-insensitive comparison of ASCII texts: negative, 0 or positive like strcmp. A null text
// sorts before every text, the empty one included.

#include <cstddef>

namespace velt {

int CompareNoCase(const char* a, const char* b);
// Looks at no more than n characters of either text.
int CompareNoCaseN(const char* a, const char* b, size_t n);

}  // namespace velt
