#pragma once
// Texts that go into a mail dialogue: the body made safe for the end-of-data mark, and the check
// that keeps a header value on its own line.

#include <string>

namespace velt {

// The body with every line end (LF, CR LF or a lone CR) made CR LF and a dot added in front of
// every line that starts with one, so that no line of the body can end the message early; the
// receiver removes the added dots. An empty or null body gives the empty text.
std::string DotStuffBody(const char* body);

// Whether text (null is fine) holds a CR or an LF, which would start a new header line.
bool HasLineBreak(const char* text);

}  // namespace velt
