// File library in a temporary root: how names map below the root and which are refused, the open
// modes, line reading in UTF-8 with its byte-mode fallback, characters, blocks, seeking and
// handles that are only table indexes.

#include "tests/vm/lib_fixture.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace velt::libtest {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

class FileLib : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/velt_vmfile_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        base = tmpl;
        root = base / "root";
        fs::create_directories(root / "sub");
        setenv("VMFILE", (root.string() + "/").c_str(), 1);
        ASSERT_EQ(s.loadError, VM_ERR_NONE);
        ASSERT_EQ(s.attach({vm_AttachFileLib}), VM_ERR_NONE);
    }
    void TearDown() override {
        for (cell h : opened) s.call("fclose", {h});
        unsetenv("VMFILE");
        fs::remove_all(base);
    }
    cell open(const std::string& name, cell mode) {
        const cell h = s.call("fopen", {s.unpacked(name), mode}).value;
        if (h != 0) opened.push_back(h);
        return h;
    }
    // fread into a fresh buffer of `size` cells; returns the count and the characters read.
    std::pair<cell, std::vector<cell>> readLine(cell h, cell size, bool packed) {
        const cell buf = s.alloc(std::vector<cell>(static_cast<size_t>(size) + 1, -1));
        const Outcome o = s.call("fread", {h, buf, size, packed ? 1 : 0});
        EXPECT_EQ(o.err, VM_ERR_NONE);
        std::vector<cell> chars;
        if (packed) {
            for (char c : s.text(buf)) chars.push_back(static_cast<unsigned char>(c));
        } else {
            for (cell c : s.read(buf, static_cast<size_t>(size))) {
                if (c == 0) break;
                chars.push_back(c);
            }
        }
        return {o.value, chars};
    }

    fs::path base, root;
    std::vector<cell> opened;
    Script s{"lib_file"};
};

TEST_F(FileLib, NamesMapBelowTheRoot) {
    fs::create_directories(root / "logs");
    fs::create_directories(root / "etc");
    const std::pair<std::string, fs::path> accepted[] = {
        {"logs/a.txt", root / "logs/a.txt"}, {"/etc/passwd", root / "etc/passwd"},
        {"c:/x.txt", root / "x.txt"},        {"c:\\dir|/y.txt", root / "y.txt"},
        {"//host/z.txt", root / "z.txt"},    {"a..b", root / "a..b"},
        {"sub/plain", root / "sub/plain"},
    };
    for (const auto& [name, path] : accepted) {
        EXPECT_NE(open(name, 1), 0) << name;
        EXPECT_TRUE(fs::exists(path)) << name;
        EXPECT_EQ(s.call("fexist", {s.packed(name)}).value, 1) << name;
    }
    // A root given without its trailing slash gets one.
    setenv("VMFILE", root.c_str(), 1);
    EXPECT_EQ(s.call("fexist", {s.unpacked("x.txt")}).value, 1);
}

TEST_F(FileLib, EscapesAreRefused) {
    spit(base / "outside", "secret");
    const std::string refused[] = {
        "../outside",
        "sub/../../outside",
        "a/./b",
        "x./y",
        "a.b/c",
        "..",
        "sub/..",
        ".",
        "sub/.",
        "",
        "/",
        "//host",
        "c:",
        "c:..",
        "c:/..",
        "x:y|../outside",
        std::string(4096, 'n'),
    };
    for (const std::string& name : refused) {
        const cell text = s.packed(name);
        for (cell mode : {0, 1, 2, 3})
            EXPECT_EQ(s.call("fopen", {text, mode}).value, 0) << name << " mode " << mode;
        EXPECT_EQ(s.call("fexist", {text}).value, 0) << name;
        EXPECT_EQ(s.call("fremove", {text}).value, 0) << name;
    }
    EXPECT_EQ(slurp(base / "outside"), "secret");
    EXPECT_TRUE(fs::is_directory(root / "sub"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);  // only sub/
}

TEST_F(FileLib, RootFallbacks) {
    unsetenv("VMFILE");
    for (const char* var : {"tmp", "temp", "tmpdir"}) unsetenv(var);
    EXPECT_EQ(open("nowhere.txt", 1), 0);  // no root at all
    setenv("VMFILE", "", 1);
    EXPECT_EQ(open("nowhere.txt", 1), 0);  // an empty root
    unsetenv("VMFILE");
    setenv("temp", (root / "sub").c_str(), 1);
    EXPECT_NE(open("fallback.txt", 1), 0);
    EXPECT_TRUE(fs::exists(root / "sub/fallback.txt"));
    unsetenv("temp");
}

TEST_F(FileLib, OpenModes) {
    spit(root / "f.txt", "hello");
    EXPECT_EQ(open("missing.txt", 0), 0);
    EXPECT_EQ(open("f.txt", 4), 0);
    EXPECT_EQ(open("f.txt", -1), 0);  // low 15 bits: 0x7FFF

    cell h = open("f.txt", 3);  // append
    EXPECT_EQ(s.call("fwrite", {h, s.packed("++")}).err, VM_ERR_NONE);
    EXPECT_EQ(s.call("fclose", {h}).value, 1);
    EXPECT_EQ(slurp(root / "f.txt"), "hello++");

    h = open("f.txt", 0x8000 | 2);  // read and write, high bits ignored
    EXPECT_EQ(s.call("fwrite", {h, s.packed("J")}).err, VM_ERR_NONE);
    EXPECT_EQ(s.call("fclose", {h}).value, 1);
    EXPECT_EQ(slurp(root / "f.txt"), "Jello++");

    h = open("created.txt", 2);  // read and write creates a missing file
    EXPECT_NE(h, 0);
    EXPECT_TRUE(fs::exists(root / "created.txt"));

    h = open("f.txt", 1);  // write truncates
    EXPECT_EQ(s.call("flength", {h}).value, 0);
    h = open("f.txt", 0);
    EXPECT_EQ(s.call("fwrite", {h, s.unpacked("x")}).value, 0);  // read-only
}

TEST_F(FileLib, WritingText) {
    const cell h = open("w.txt", 1);
    // Unpacked characters go out as UTF-8; below 0x80 and negative values as their low byte;
    // values no UTF-8 text may hold are skipped.
    EXPECT_EQ(s.call("fwrite", {h, s.alloc({'a', 0xE9, 0x20AC, 0x1F600, -190, 0xD800, 0})}).value, 5);
    EXPECT_GE(s.call("fwrite", {h, s.packed("\xE9|")}).value, 0);  // packed: the raw bytes
    EXPECT_EQ(s.call("fwrite", {h, s.unpacked("")}).value, 0);
    EXPECT_EQ(s.call("fputchar", {h, 0xE9, 1}).value, 1);
    EXPECT_EQ(s.call("fputchar", {h, 0, 1}).value, 0);
    EXPECT_EQ(s.call("fputchar", {h, 0xDFFF, 1}).value, 0);
    EXPECT_EQ(s.call("fputchar", {h, 0x141, 0}).value, 1);
    EXPECT_EQ(s.call("fclose", {h}).value, 1);
    EXPECT_EQ(slurp(root / "w.txt"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\x42\xE9|\xC3\xA9\x41");
}

TEST_F(FileLib, ReadingLines) {
    struct Case {
        std::string bytes;
        cell size;
        bool packed;
        std::vector<std::vector<cell>> lines;  // successive reads
    };
    const Case cases[] = {
        {"ab\r\ncd", 20, false, {{'a', 'b', '\r', '\n'}, {'c', 'd'}, {}}},
        {"ab\rcd\n", 20, false, {{'a', 'b', '\r'}, {'c', 'd', '\n'}}},
        {"ab\rcd\n", 20, true, {{'a', 'b', '\r'}, {'c', 'd', '\n'}}},
        {"\xC3\xA9\n", 20, false, {{0xE9, '\n'}}},
        {"\xC3\x41\n", 20, false, {{0xC3, 0x41, '\n'}}},  // not UTF-8: bytes
        {"\xC3\xA9\r\xC3\x41\n", 20, false, {{0xE9, '\r'}, {0xC3, 0x41, '\n'}}},
        {"\xE2\x82", 20, false, {{0xE2, 0x82}}},                    // end of file inside a sequence
        {"\xC0\x80\n", 20, false, {{0xC0, 0x80, '\n'}}},            // overlong
        {"\xED\xA0\x80\n", 20, false, {{0xED, 0xA0, 0x80, '\n'}}},  // surrogate
        {"\xEF\xBF\xBF", 20, false, {{0xEF, 0xBF, 0xBF}}},          // 0xFFFF
        {"\xF0\x9F\x98\x80x", 20, false, {{0x1F600, 'x'}}},
        {"\xC3\xA9\n", 20, true, {{0xC3, 0xA9, '\n'}}},  // packed reads bytes
        {"abcdef\n", 4, false, {{'a', 'b', 'c'}, {'d', 'e', 'f'}, {'\n'}}},
        {"abcdefghij\n", 2, true, {{'a', 'b', 'c', 'd', 'e', 'f', 'g'}, {'h', 'i', 'j', '\n'}}},
        {"", 20, false, {{}}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "lines" + std::to_string(n++) + ".txt";
        spit(root / name, c.bytes);
        const cell h = open(name, 0);
        ASSERT_NE(h, 0);
        for (const std::vector<cell>& want : c.lines) {
            const auto [count, chars] = readLine(h, c.size, c.packed);
            EXPECT_EQ(chars, want) << name;
            EXPECT_EQ(count, static_cast<cell>(want.size())) << name;
        }
    }
}

TEST_F(FileLib, Characters) {
    spit(root / "c.txt", "\xC3\xA9\xC3\x41\xF0\x9F\x98\x80");
    const cell h = open("c.txt", 0);
    EXPECT_EQ(s.call("fgetchar", {h, 0, 1}).value, 0xE9);
    EXPECT_EQ(s.call("fgetchar", {h, 0, 1}).value, 0xC3);  // bad sequence: the lead byte alone
    EXPECT_EQ(s.call("fgetchar", {h, 0, 1}).value, 0x41);
    EXPECT_EQ(s.call("fgetchar", {h, 0, 0}).value, 0xF0);  // byte mode
    EXPECT_EQ(s.call("fseek", {h, 4, 0}).value, 0);
    EXPECT_EQ(s.call("fgetchar", {h, 0, 1}).value, 0x1F600);
    EXPECT_EQ(s.call("fgetchar", {h, 0, 1}).value, -1);
}

TEST_F(FileLib, BlocksSeekingAndLength) {
    const cell h = open("b.bin", 2);
    const cell buf = s.alloc({0x04030201, -1, 0x7F});
    EXPECT_EQ(s.call("fblockwrite", {h, buf, 3}).value, 3);
    EXPECT_EQ(s.call("fblockwrite", {h, buf, 0}).value, 0);
    EXPECT_EQ(s.call("fseek", {h, 2, 0}).value, 0);
    EXPECT_EQ(s.call("flength", {h}).value, 12);
    EXPECT_EQ(s.call("fgetchar", {h, 0, 0}).value, 0x03);  // flength kept the position
    EXPECT_EQ(s.call("fseek", {h, 0, 3}).value, 0);        // unknown origin: no move
    EXPECT_EQ(s.call("fgetchar", {h, 0, 0}).value, 0x04);
    EXPECT_EQ(s.call("fseek", {h, -100, 0}).value, -1);
    EXPECT_EQ(s.call("fseek", {h, -2, 2}).value, 0);
    EXPECT_EQ(s.call("fgetchar", {h, 0, 0}).value, 0x00);
    EXPECT_EQ(s.call("fseek", {h, 0, 0}).value, 0);

    const cell back = s.alloc({0, 0, 0, 0});
    EXPECT_EQ(s.call("fblockread", {h, back, 4}).value, 3);
    EXPECT_EQ(s.read(back, 4), (std::vector<cell>{0x04030201, -1, 0x7F, 0}));
    EXPECT_EQ(slurp(root / "b.bin"), std::string("\x01\x02\x03\x04\xFF\xFF\xFF\xFF\x7F\0\0\0", 12));

    spit(root / "short.bin", "\x01\x02\x03\x04\x05\x06");  // a partial cell is not stored
    const cell hs = open("short.bin", 0);
    const cell two = s.alloc({-1, -1});
    EXPECT_EQ(s.call("fblockread", {hs, two, 2}).value, 1);
    EXPECT_EQ(s.read(two, 2), (std::vector<cell>{0x04030201, -1}));
}

TEST_F(FileLib, TempFilesRemoveAndHandles) {
    const cell t = s.call("ftemp", {}).value;
    ASSERT_NE(t, 0);
    opened.push_back(t);
    EXPECT_GE(s.call("fwrite", {t, s.packed("scratch\n")}).value, 0);
    EXPECT_EQ(s.call("fseek", {t, 0, 0}).value, 0);
    EXPECT_EQ(readLine(t, 20, true).first, 8);

    spit(root / "gone.txt", "x");
    EXPECT_EQ(s.call("fremove", {s.unpacked("gone.txt")}).value, 1);
    EXPECT_EQ(s.call("fremove", {s.unpacked("gone.txt")}).value, 0);
    EXPECT_EQ(s.call("fexist", {s.unpacked("gone.txt")}).value, 0);

    // Handles are table positions plus one, checked on every use; a closed one is dead.
    const cell h = s.call("fopen", {s.unpacked("h.txt"), 1}).value;
    ASSERT_GT(h, 0);
    EXPECT_EQ(s.call("fclose", {h}).value, 1);
    for (cell bad : {h, 0, -1, 1000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(s.call("fclose", {bad}).value, 0) << bad;
        EXPECT_EQ(s.call("fwrite", {bad, s.packed("x")}).value, 0) << bad;
        EXPECT_EQ(s.call("fputchar", {bad, 'x', 0}).value, 0) << bad;
        EXPECT_EQ(s.call("fgetchar", {bad, 0, 0}).value, -1) << bad;
        EXPECT_EQ(s.call("fread", {bad, s.alloc({0, 0}), 2, 0}).value, 0) << bad;
        EXPECT_EQ(s.call("fblockwrite", {bad, s.alloc({0}), 1}).value, 0) << bad;
        EXPECT_EQ(s.call("fblockread", {bad, s.alloc({0}), 1}).value, 0) << bad;
        EXPECT_EQ(s.call("fseek", {bad, 0, 0}).value, -1) << bad;
        EXPECT_EQ(s.call("flength", {bad}).value, 0) << bad;
    }
    // A freed slot is given out again.
    EXPECT_EQ(open("h2.txt", 1), h);
}

TEST_F(FileLib, ReadSizesAreCheckedAgainstScriptMemory) {
    spit(root / "r.txt", "abcdef\n");
    const cell h = open("r.txt", 0);
    const cell buf = s.alloc({-1, -1});
    EXPECT_EQ(s.call("fread", {h, buf, 0, 0}).value, 0);
    EXPECT_EQ(s.call("fread", {h, buf, -1, 0}).value, 0);
    // Sizes reaching past the heap top, or whose byte count needs 64 bits, fail the run without
    // reading or writing anything.
    for (cell size : {3, 0x40000001, INT32_MAX}) {
        EXPECT_EQ(s.call("fread", {h, s.vm.heap - 8, size, 0}).err, VM_ERR_NATIVE) << size;
        EXPECT_EQ(s.call("fblockread", {h, s.vm.heap - 8, size}).value, 0) << size;
    }
    EXPECT_EQ(s.call("fread", {h, -4, 1, 0}).err, VM_ERR_NATIVE);
    EXPECT_EQ(s.read(buf, 2), (std::vector<cell>{-1, -1}));
    EXPECT_EQ(readLine(h, 20, false).second, (std::vector<cell>{'a', 'b', 'c', 'd', 'e', 'f', '\n'}));
}

}  // namespace
}  // namespace velt::libtest
