#include "server/game/BanFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "server/console/Log.h"

namespace velt {

namespace {

// One line of the file, read in constant memory: its first kBanLineMax characters are kept, the
// rest is left in the stream for the caller to copy or skip.
struct LineHead {
    std::string text;      // kept characters, the '\n' included when it was among them
    bool complete = true;  // the line ended (or the file did) within the kept characters
};

bool ReadLineHead(std::FILE* in, LineHead& line) {
    line.text.clear();
    line.complete = true;
    int c;
    while (line.text.size() < kBanLineMax && (c = std::getc(in)) != EOF) {
        line.text.push_back(char(c));
        if (c == '\n') return true;
    }
    if (line.text.empty()) return false;
    if (line.text.size() >= kBanLineMax) {
        // A line of exactly kBanLineMax characters followed by its line end is complete.
        c = std::getc(in);
        if (c == '\n') {
            line.text.push_back('\n');
        } else if (c != EOF) {
            std::ungetc(c, in);
            line.complete = false;
        }
    }
    return true;
}

// Copies (out non-null) or skips the rest of a line whose head was cut, its '\n' included.
void PassRestOfLine(std::FILE* in, std::FILE* out) {
    int c;
    while ((c = std::getc(in)) != EOF) {
        if (out != nullptr) std::putc(c, out);
        if (c == '\n') break;
    }
}

size_t TokenLength(const std::string& text, const char* separators) {
    size_t n = 0;
    while (n < text.size() && text[n] != '\0' && std::strchr(separators, text[n]) == nullptr) ++n;
    return n;
}

std::string Sanitised(const char* text) {
    std::string s = text != nullptr ? text : "";
    for (char& c : s)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    return s;
}

// An address the reader takes back whole: one token that fits in the part of a line it reads.
bool IsUsableAddress(const char* address) {
    if (address == nullptr || address[0] == '\0') return false;
    return std::strlen(address) < kBanLineMax && std::strpbrk(address, " \t\r\n") == nullptr;
}

bool CopyAll(std::FILE* in, std::FILE* out, int& lastByte) {
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), in)) > 0) {
        if (std::fwrite(chunk, 1, n, out) != n) return false;
        lastByte = static_cast<unsigned char>(chunk[n - 1]);
    }
    return std::ferror(in) == 0;
}

// Writes the new contents of path through path.temp: body gets the current file (null when
// there is none yet and missingIsEmpty) and the temporary file. The temporary file reaches the
// disk before one rename() puts it in place; on any failure it is deleted and path is untouched.
template <class Body>
bool Rewrite(const std::string& path, const std::string& temp, bool missingIsEmpty, Body&& body) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr && !(errno == ENOENT && missingIsEmpty)) return false;
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (out == nullptr) {
        if (in != nullptr) std::fclose(in);
        return false;
    }
    struct stat st {};
    if (in != nullptr && fstat(fileno(in), &st) == 0) fchmod(fileno(out), st.st_mode & 07777);

    bool ok = body(in, out);
    if (in != nullptr) {
        ok = ok && std::ferror(in) == 0;
        std::fclose(in);
    }
    ok = ok && std::ferror(out) == 0 && std::fflush(out) == 0 && fsync(fileno(out)) == 0;
    ok = (std::fclose(out) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    std::remove(temp.c_str());
    return false;
}

}  // namespace

BanFile::BanFile(BanListTarget& target, std::string path) : target_(target), path_(std::move(path)) {}

bool BanFile::Load() {
    target_.ClearBanList();
    std::FILE* in = std::fopen(path_.c_str(), "rb");
    if (in == nullptr) return false;
    LineHead line;
    while (ReadLineHead(in, line)) {
        if (!line.complete) PassRestOfLine(in, nullptr);
        std::string& t = line.text;
        if (!t.empty() && t.back() == '\n') t.pop_back();
        if (!t.empty() && t.back() == '\r') t.pop_back();
        if (t.empty() || t[0] == '#') continue;
        const size_t n = TokenLength(t, " \t");
        // A token that runs into the cut is a fragment of something longer: not an address.
        if (n == 0 || (!line.complete && n == t.size())) continue;
        target_.AddToBanList(t.substr(0, n).c_str(), 0);
    }
    std::fclose(in);
    LogPrintf("%s", "");
    LogPrintf("Ban list");
    LogPrintf("--------");
    LogPrintf(" Loaded: %s", path_.c_str());
    LogPrintf("%s", "");
    return true;
}

bool BanFile::Add(const char* name, const char* address, const char* reason) {
    return Add(name, address, reason, std::time(nullptr));
}

bool BanFile::Add(const char* name, const char* address, const char* reason, std::time_t when) {
    if (!IsUsableAddress(address)) return false;
    char date[256] = "";
    struct tm local {};
    if (localtime_r(&when, &local) != nullptr)
        std::strftime(date, sizeof(date), "[%d/%m/%y | %H:%M:%S]", &local);

    target_.AddToBanList(address, 0);

    // The reader keeps kBanLineMax characters of a line: a longer reason is cut here, so the line
    // it reads back is the line written.
    std::string line = std::string(address) + " " + date + " " + Sanitised(name) + " - " + Sanitised(reason);
    if (line.size() > kBanLineMax) line.resize(kBanLineMax);
    return Rewrite(path_, TempPath(), true, [&](std::FILE* in, std::FILE* out) {
        int last = '\n';
        if (in != nullptr && !CopyAll(in, out, last)) return false;
        // A last line without its line end would swallow the new ban (and lose its own).
        if (last != '\n' && std::putc('\n', out) == EOF) return false;
        return std::fprintf(out, "%s\n", line.c_str()) > 0;
    });
}

bool BanFile::Remove(const char* address) {
    if (address == nullptr || address[0] == '\0') return false;
    target_.RemoveFromBanList(address);
    const std::string wanted = address;
    return Rewrite(path_, TempPath(), false, [&](std::FILE* in, std::FILE* out) {
        LineHead line;
        while (ReadLineHead(in, line)) {
            const size_t n = TokenLength(line.text, " \t\r\n");
            const bool tokenWhole = line.complete || n < line.text.size();
            const bool drop = tokenWhole && line.text.compare(0, n, wanted) == 0 && n == wanted.size();
            if (!drop && std::fwrite(line.text.data(), 1, line.text.size(), out) != line.text.size())
                return false;
            if (!line.complete) PassRestOfLine(in, drop ? nullptr : out);
        }
        return true;
    });
}

// ---- stand-in -------------------------------------------------------------------------------

void BanListStandIn::AddToBanList(const char* pattern, uint32_t milliseconds) {
    if (pattern == nullptr || pattern[0] == '\0') return;
    for (Entry& e : entries) {
        if (e.pattern == pattern) {
            e.milliseconds = milliseconds;
            return;
        }
    }
    entries.push_back({pattern, milliseconds});
}

void BanListStandIn::RemoveFromBanList(const char* pattern) {
    if (pattern == nullptr) return;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].pattern == pattern) {
            entries.erase(entries.begin() + long(i));
            return;
        }
    }
}

bool BanListStandIn::Contains(const std::string& pattern) const {
    for (const Entry& e : entries)
        if (e.pattern == pattern) return true;
    return false;
}

std::vector<std::string> BanListStandIn::Patterns() const {
    std::vector<std::string> out;
    for (const Entry& e : entries) out.push_back(e.pattern);
    return out;
}

}  // namespace velt
