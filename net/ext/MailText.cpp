#include "net/ext/MailText.h"

#include <cstring>

namespace velt {

std::string DotStuffBody(const char* body) {
    std::string out;
    if (body == nullptr) return out;
    out.reserve(std::strlen(body) + 64);
    bool lineStart = true;
    for (const char* p = body; *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n') {
            if (*p == '\r' && p[1] == '\n') ++p;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && *p == '.') out.push_back('.');
        out.push_back(*p);
        lineStart = false;
    }
    return out;
}

bool HasLineBreak(const char* text) { return text != nullptr && std::strpbrk(text, "\r\n") != nullptr; }

}  // namespace velt
