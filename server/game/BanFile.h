#pragma once

// The ban file keeps the transport's list of banned address patterns across restarts.
//
// "velt.ban" holds one ban per line; only the first token (up to a space or tab) counts, empty
// lines and lines starting with '#' are comments, "\n" and "\r\n" line ends both work. Lines the
// server writes read "<address> [dd/mm/yy | HH:MM:SS] <name> - <reason>".
//
// The file is never edited in place: every change writes the complete new contents to
// "velt.ban.temp", flushes it to disk and renames it over "velt.ban", so a crash at any moment
// leaves either the old file or the new one.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace velt {

inline constexpr const char* kBanFileName = "velt.ban";
inline constexpr const char* kBanTempSuffix = ".temp";
// Characters of a line that count; the rest of a longer line is skipped.
inline constexpr size_t kBanLineMax = 255;

// Where bans take effect: the transport's in-memory ban list.
class BanListTarget {
public:
    virtual ~BanListTarget() = default;
    // milliseconds 0: until removed.
    virtual void AddToBanList(const char* pattern, uint32_t milliseconds) = 0;
    virtual void RemoveFromBanList(const char* pattern) = 0;
    virtual void ClearBanList() = 0;
};

class BanFile {
public:
    explicit BanFile(BanListTarget& target, std::string path = kBanFileName);

    // Clears the target's list and adds the first token of every ban line, permanently. A
    // missing file is no error: the list stays empty and nothing is logged. Once the file was
    // read, logs the "Ban list" block. Returns whether the file was read.
    bool Load();

    // Bans address in the target at once, then adds a line for it to the file. Tabs and line
    // breaks in name and reason become blanks, so neither can start a line of its own, and a
    // line longer than kBanLineMax is cut there, so the reader reads back all of it. An empty
    // address, one holding a blank, tab or line break, or one of kBanLineMax characters or more
    // (it could not be read back as one token), is refused outright. Returns whether the file now holds the line; when it
    // cannot be written the ban holds in memory only.
    bool Add(const char* name, const char* address, const char* reason);
    // The same with the ban's time given (the line shows it in local time).
    bool Add(const char* name, const char* address, const char* reason, std::time_t when);

    // Lifts the ban in the target, then drops from the file every line whose first token (split
    // at blank, tab, "\r" and "\n") equals address exactly; every other line is kept byte for
    // byte. Returns whether the file was rewritten (false when it is missing or cannot be
    // replaced; it is then unchanged). An empty address changes nothing.
    bool Remove(const char* address);

    const std::string& Path() const { return path_; }
    std::string TempPath() const { return path_ + kBanTempSuffix; }

private:
    BanListTarget& target_;
    std::string path_;
};

// A ban list in memory with the transport's add/replace and remove rules, for tests and for
// programs that run without a transport.
class BanListStandIn : public BanListTarget {
public:
    struct Entry {
        std::string pattern;
        uint32_t milliseconds;
    };
    void AddToBanList(const char* pattern, uint32_t milliseconds) override;
    void RemoveFromBanList(const char* pattern) override;
    void ClearBanList() override { entries.clear(); }

    bool Contains(const std::string& pattern) const;
    std::vector<std::string> Patterns() const;

    std::vector<Entry> entries;
};

}  // namespace velt
