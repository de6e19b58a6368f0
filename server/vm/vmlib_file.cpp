// File natives. Scripts name files relative to one root directory and hold open files as
// handles: an index into the process's table of open files, plus one, so that a cell never
// carries a host pointer and every handle is checked before use.

#include "common/LittleEndian.h"
#include "server/vm/vmlib.h"
#include "server/vm/vmlib_common.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace velt {
namespace {

using namespace vmlib;

constexpr size_t kPathMax = 4096;  // bytes of a full path, terminator included

// Files stay open when the script that opened them is unloaded; any script may use a handle.
// Scripts run on the main thread only.
std::vector<FILE*> g_files;

cell AddFile(FILE* fp) {
    auto free = std::find(g_files.begin(), g_files.end(), nullptr);
    if (free == g_files.end()) free = g_files.insert(g_files.end(), nullptr);
    *free = fp;
    return static_cast<cell>(free - g_files.begin()) + 1;
}

FILE* FileOf(cell handle) {
    if (handle <= 0 || static_cast<size_t>(handle) > g_files.size()) return nullptr;
    return g_files[static_cast<size_t>(handle) - 1];
}

const char* FileRoot() {
    for (const char* var : {"VMFILE", "tmp", "temp", "tmpdir"}) {
        if (const char* value = std::getenv(var)) return value;
    }
    return nullptr;
}

// Full path of a script's file name below the root, or false when the name is refused.
bool FullPath(const std::string& scriptName, std::string& out) {
    const char* rootVar = FileRoot();
    if (rootVar == nullptr) return false;
    std::string root = rootVar;
    if (root.empty() || root.size() + 2 > kPathMax) return false;
    if (root.back() != '/') root += '/';

    // Drive letters, device prefixes and leading slashes are dropped, so that absolute names
    // land below the root as well.
    std::string name = scriptName;
    if (const size_t colon = name.rfind(':'); colon != std::string::npos) {
        name.erase(0, colon + 1);
        if (const size_t bar = name.find('|'); bar != std::string::npos) name.erase(0, bar + 1);
        name.erase(0, name.find_first_not_of('/'));
    } else if (name.starts_with("//")) {
        const size_t slash = name.find('/', 2);
        name.erase(0, slash == std::string::npos ? name.size() : slash + 1);
    } else if (name.starts_with("/")) {
        name.erase(0, 1);
    }

    // No directory part may hold a dot: that refuses "../", "./" and anything that could climb.
    if (const size_t dot = name.find('.');
        dot != std::string::npos && name.find('/', dot) != std::string::npos) {
        return false;
    }
    // Nor may the name end in "." or ".." (the parent of the root would be reachable) or be empty
    // (the root directory itself).
    const std::string last = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
    if (last.empty() || last == "." || last == "..") return false;

    if (root.size() + name.size() + 1 > kPathMax) return false;
    out = root + name;
    return true;
}

bool ScriptPath(VmInstance* vm, cell addr, std::string& path) {
    std::string name;
    return ReadBytes(vm, addr, name) && !name.empty() && FullPath(name, path);
}

// Encodes one character as UTF-8; values below 0x80 and negative values go out as their low
// byte. 0 for the values no UTF-8 text may hold (surrogates, 0xFFFE, 0xFFFF).
size_t EncodeUtf8(cell value, unsigned char out[6]) {
    if (value < 0x80) {
        out[0] = static_cast<unsigned char>(value & 0xFF);
        return 1;
    }
    const ucell v = static_cast<ucell>(value);
    if ((v >= 0xD800 && v <= 0xDFFF) || v == 0xFFFE || v == 0xFFFF) return 0;
    const size_t len = v < 0x800 ? 2 : v < 0x10000 ? 3 : v < 0x200000 ? 4 : v < 0x4000000 ? 5 : 6;
    static const unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (size_t i = len - 1; i > 0; --i)
        out[i] = static_cast<unsigned char>(0x80 | ((v >> (6 * (len - 1 - i))) & 0x3F));
    out[0] = static_cast<unsigned char>(kLead[len] | (v >> (6 * (len - 1))));
    return len;
}

// Decodes the rest of a UTF-8 sequence whose lead byte has been read. False for anything that
// is not a valid character: a stray follow byte or 0xFE/0xFF as lead, a missing follow byte,
// an overlong form, a surrogate, 0xFFFE/0xFFFF, or the end of the file inside the sequence.
bool DecodeUtf8(FILE* fp, int lead, cell& value) {
    int follow;
    ucell v, min;
    if ((lead & 0xE0) == 0xC0) {
        follow = 1, v = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        follow = 2, v = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        follow = 3, v = lead & 0x07, min = 0x10000;
    } else if ((lead & 0xFC) == 0xF8) {
        follow = 4, v = lead & 0x03, min = 0x200000;
    } else if ((lead & 0xFE) == 0xFC) {
        follow = 5, v = lead & 0x01, min = 0x4000000;
    } else {
        return false;
    }
    while (follow-- > 0) {
        const int c = std::fgetc(fp);
        if (c == EOF || (c & 0xC0) != 0x80) return false;
        v = (v << 6) | static_cast<ucell>(c & 0x3F);
    }
    if (v < min || (v >= 0xD800 && v <= 0xDFFF) || v == 0xFFFE || v == 0xFFFF) return false;
    value = static_cast<cell>(v);
    return true;
}

// A line ends after a line feed, or after a carriage return not followed by one (that next
// byte stays for the following read).
bool EndsLine(FILE* fp, int c) {
    if (c == '\n') return true;
    if (c != '\r') return false;
    const int next = std::fgetc(fp);
    if (next != EOF) std::ungetc(next, fp);
    return next != '\n';
}

// Reads one line byte by byte, at most `max` bytes.
std::vector<cell> ReadLineBytes(FILE* fp, size_t max) {
    std::vector<cell> line;
    while (line.size() < max) {
        const int c = std::fgetc(fp);
        if (c == EOF) break;
        line.push_back(c);
        if (EndsLine(fp, c)) break;
    }
    return line;
}

// Reads one line as UTF-8, at most `max` characters. A line that is not valid UTF-8 is read
// again from its start, one byte per character.
std::vector<cell> ReadLineUtf8(FILE* fp, size_t max) {
    const long start = std::ftell(fp);
    std::vector<cell> line;
    while (line.size() < max) {
        const int c = std::fgetc(fp);
        if (c == EOF) break;
        cell ch = c;
        if (c >= 0x80 && !DecodeUtf8(fp, c, ch)) {
            if (start < 0 || std::fseek(fp, start, SEEK_SET) != 0) return line;
            return ReadLineBytes(fp, max);
        }
        line.push_back(ch);
        if (EndsLine(fp, ch)) break;
    }
    return line;
}

cell n_fopen(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    static const char* const kModes[] = {"rb", "wb", "r+b", "ab"};
    const cell mode = params[2] & 0x7FFF;
    std::string path;
    if (mode > 3 || !ScriptPath(vm, params[1], path)) return 0;
    FILE* fp = std::fopen(path.c_str(), kModes[mode]);
    if (fp == nullptr && mode == 2) fp = std::fopen(path.c_str(), "w+b");
    return fp != nullptr ? AddFile(fp) : 0;
}

cell n_fclose(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 1) return 0;
    FILE* fp = FileOf(params[1]);
    if (fp == nullptr) return 0;
    g_files[static_cast<size_t>(params[1]) - 1] = nullptr;
    return std::fclose(fp) == 0 ? 1 : 0;
}

cell n_fwrite(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    FILE* fp = FileOf(params[1]);
    ScriptText text;
    if (fp == nullptr || !ReadText(vm, params[2], text) || text.chars.empty()) return 0;
    if (text.packed) return std::fputs(ToBytes(text).c_str(), fp);
    cell written = 0;
    for (cell c : text.chars) {
        unsigned char bytes[6];
        const size_t len = EncodeUtf8(c, bytes);
        if (len == 0) continue;
        if (std::fwrite(bytes, 1, len, fp) != len) break;
        ++written;
    }
    return written;
}

cell n_fread(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 4) return 0;
    FILE* fp = FileOf(params[1]);
    const cell size = params[3];
    if (fp == nullptr || size <= 0) return 0;
    if (ScriptSpan(vm, params[2], int64_t{size} * 4) == nullptr) {
        vm_RaiseError(vm, VM_ERR_NATIVE);
        return 0;
    }
    const bool packed = params[4] != 0;
    const std::vector<cell> line = packed ? ReadLineBytes(fp, static_cast<size_t>(size) * 4 - 1)
                                          : ReadLineUtf8(fp, static_cast<size_t>(size) - 1);
    WriteText(vm, params[2], 0, line.data(), line.size(), packed);
    return static_cast<cell>(line.size());
}

cell n_fputchar(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return 0;
    FILE* fp = FileOf(params[1]);
    if (fp == nullptr) return 0;
    const cell value = params[2];
    if (params[3] == 0) return std::fputc(value & 0xFF, fp) != EOF ? 1 : 0;
    unsigned char bytes[6];
    const size_t len = value != 0 ? EncodeUtf8(value, bytes) : 0;
    return len > 0 && std::fwrite(bytes, 1, len, fp) == len ? 1 : 0;
}

cell n_fgetchar(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return -1;
    FILE* fp = FileOf(params[1]);
    if (fp == nullptr) return -1;
    const int c = std::fgetc(fp);
    if (c == EOF) return -1;
    if (params[3] == 0 || c < 0x80) return c;
    // Not valid UTF-8: hand out the lead byte alone, as the byte-mode reading of a line would.
    const long afterLead = std::ftell(fp);
    cell value = c;
    if (!DecodeUtf8(fp, c, value)) {
        if (afterLead >= 0) std::fseek(fp, afterLead, SEEK_SET);
        return c;
    }
    return value;
}

cell n_fblockwrite(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return 0;
    FILE* fp = FileOf(params[1]);
    const cell size = params[3];
    if (fp == nullptr || size <= 0) return 0;
    const unsigned char* buf = ScriptSpan(vm, params[2], int64_t{size} * 4);
    if (buf == nullptr) return 0;
    cell count = 0;
    for (; count < size; ++count) {
        uint8_t le[4];
        WriteU32(le, static_cast<ucell>(LoadCell(buf + 4 * count)));
        if (std::fwrite(le, 1, 4, fp) != 4) break;
    }
    return count;
}

cell n_fblockread(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return 0;
    FILE* fp = FileOf(params[1]);
    const cell size = params[3];
    if (fp == nullptr || size <= 0) return 0;
    unsigned char* buf = ScriptSpan(vm, params[2], int64_t{size} * 4);
    if (buf == nullptr) return 0;
    cell count = 0;
    for (; count < size; ++count) {
        uint8_t le[4];
        if (std::fread(le, 1, 4, fp) != 4) break;
        StoreCell(buf + 4 * count, static_cast<cell>(ReadU32(le)));
    }
    return count;
}

cell n_ftemp(VmInstance*, const cell*) {
    FILE* fp = std::tmpfile();
    return fp != nullptr ? AddFile(fp) : 0;
}

cell n_fseek(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return -1;
    FILE* fp = FileOf(params[1]);
    if (fp == nullptr) return -1;
    int whence;
    switch (params[3]) {
        case 0: whence = SEEK_SET; break;
        case 1: whence = SEEK_CUR; break;
        case 2: whence = SEEK_END; break;
        default: return 0;
    }
    return std::fseek(fp, params[2], whence) == 0 ? 0 : -1;
}

cell n_fexist(VmInstance* vm, const cell* params) {
    std::string path;
    struct stat st {};
    if (ArgCount(vm, params) < 1 || !ScriptPath(vm, params[1], path)) return 0;
    return ::stat(path.c_str(), &st) == 0 ? 1 : 0;
}

cell n_flength(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 1) return 0;
    FILE* fp = FileOf(params[1]);
    if (fp == nullptr) return 0;
    const off_t here = ftello(fp);
    if (here < 0 || fseeko(fp, 0, SEEK_END) != 0) return 0;
    const off_t length = ftello(fp);
    fseeko(fp, here, SEEK_SET);
    if (length < 0) return 0;
    return static_cast<cell>(std::min<off_t>(length, std::numeric_limits<cell>::max()));
}

cell n_fremove(VmInstance* vm, const cell* params) {
    std::string path;
    if (ArgCount(vm, params) < 1 || !ScriptPath(vm, params[1], path)) return 0;
    return std::remove(path.c_str()) == 0 ? 1 : 0;
}

const VmNativeEntry kFileNatives[] = {
    {"fopen", n_fopen},
    {"fclose", n_fclose},
    {"fwrite", n_fwrite},
    {"fread", n_fread},
    {"fputchar", n_fputchar},
    {"fgetchar", n_fgetchar},
    {"fblockwrite", n_fblockwrite},
    {"fblockread", n_fblockread},
    {"ftemp", n_ftemp},
    {"fseek", n_fseek},
    {"fexist", n_fexist},
    {"flength", n_flength},
    {"fremove", n_fremove},
    {nullptr, nullptr},
};

}  // namespace

int vm_AttachFileLib(VmInstance* vm) { return vm_Register(vm, kFileNatives, -1); }
int vm_DetachFileLib(VmInstance*) { return 0; }

}  // namespace velt
