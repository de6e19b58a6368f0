// Fuzz target for the text helpers that see player and network text: every in-place helper runs
// on an exactly sized, unterminated heap copy (AddressSanitizer catches any step past it), and the
// colour-embed stripper and the wildcard matcher are checked against literal readings of their
// rules.

#include "server/shared/StringUtil.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string ReferenceStrip(std::string text) {
    for (bool removed = true; removed;) {
        removed = false;
        std::string next;
        for (std::size_t i = 0; i < text.size();) {
            if (velt::ParseColourEmbed(std::string_view(text).substr(i)) >= 0) {
                i += 8;
                removed = true;
            } else {
                next += text[i++];
            }
        }
        text = next;
    }
    return text;
}

bool ReferenceMatch(std::string_view p, std::string_view t) {
    // match[i][j]: pattern suffix from i matches text suffix from j.
    std::vector<char> match((p.size() + 1) * (t.size() + 1), 0);
    auto at = [&](std::size_t i, std::size_t j) -> char& { return match[i * (t.size() + 1) + j]; };
    at(p.size(), t.size()) = 1;
    for (std::size_t i = p.size(); i-- > 0;)
        for (std::size_t j = t.size() + 1; j-- > 0;) {
            if (p[i] == '*')
                at(i, j) = at(i + 1, j) || (j < t.size() && at(i, j + 1));
            else
                at(i, j) = j < t.size() && (p[i] == '?' || p[i] == t[j]) && at(i + 1, j + 1);
        }
    return at(0, 0);
}

template <typename Fn>
std::string RunExact(std::string_view bytes, Fn fn) {
    std::unique_ptr<char[]> buffer(new char[bytes.size() ? bytes.size() : 1]);
    std::memcpy(buffer.get(), bytes.data(), bytes.size());
    const std::size_t length = fn(buffer.get(), bytes.size());
    if (length > bytes.size()) std::abort();
    return std::string(buffer.get(), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string_view text = bytes.substr(0, bytes.find('\0'));

    const std::string stripped = RunExact(bytes, velt::StripColourEmbeds);
    if (stripped != ReferenceStrip(std::string(text))) std::abort();
    RunExact(bytes, velt::SanitiseChatText);
    RunExact(bytes, velt::UrlDecode);
    RunExact(bytes, [](char* t, std::size_t n) {
        velt::StringToUpper(t, n);
        return std::size_t{0};
    });
    RunExact(bytes, [](char* t, std::size_t n) {
        velt::ReverseString(t, n);
        return std::size_t{0};
    });

    velt::HasInvalidNameChar(bytes);
    velt::ParseColourEmbed(bytes);
    velt::FindNoCase(bytes, bytes.substr(0, size / 3));
    velt::CompareNoCaseUpperN(bytes, bytes.substr(size / 2), size);

    std::vector<char> out(velt::Base64EncodedSize(size));
    if (velt::Base64Encode(bytes, out.data(), out.size()) != out.size() - 1) std::abort();
    if (size > 0 && velt::Base64Encode(bytes, out.data(), out.size() - 1) != 0) std::abort();

    const std::size_t split = bytes.find('\n');
    if (split != std::string_view::npos) {
        const std::string_view pattern = bytes.substr(0, split).substr(0, 64);
        const std::string_view subject = bytes.substr(split + 1).substr(0, 256);
        if (velt::WildcardMatch(pattern, subject) != ReferenceMatch(pattern, subject)) std::abort();
    }
    return 0;
}
