#pragma once
// Shared by the format, timer and natives tests: a loaded fixture script whose heap holds the
// texts and values a test passes, and the argument array a native or the format engine receives.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "server/natives/ScriptNatives.h"
#include "server/vm/vm.h"

namespace velt::scripttest {

inline std::string FixturePath(const std::string& name) {
    return std::string(VELT_SCRIPT_FIXTURE_DIR) + "/" + name + ".vmb";
}

inline std::vector<char> ReadFixture(const std::string& name) {
    std::ifstream in(FixturePath(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ScriptMemory {
public:
    explicit ScriptMemory(const std::string& fixture) {
        file_ = ReadFixture(fixture);
        loadError = vm_LoadImage(&vm, file_.data(), file_.size());
    }
    ~ScriptMemory() {
        if (vm.image != nullptr) vm_FreeImage(&vm);
    }
    ScriptMemory(const ScriptMemory&) = delete;
    ScriptMemory& operator=(const ScriptMemory&) = delete;

    // Cells on the heap; they stay for the script's life (until the test unallots them).
    cell Alloc(const std::vector<cell>& cells) {
        cell addr = 0;
        cell* host = nullptr;
        EXPECT_EQ(vm_Allot(&vm, static_cast<int>(cells.size()), &addr, &host), VM_ERR_NONE);
        if (host != nullptr && !cells.empty()) std::memcpy(host, cells.data(), cells.size() * sizeof(cell));
        return addr;
    }
    // An unpacked text (one byte per cell, zero-extended) and its terminator.
    cell Str(const std::string& text) {
        std::vector<cell> cells(text.begin(), text.end());
        for (cell& c : cells) c &= 0xFF;
        cells.push_back(0);
        return Alloc(cells);
    }
    // A packed text: four bytes a cell, the first in the most significant byte.
    cell Packed(const std::string& text) {
        std::vector<cell> cells(text.size() / 4 + 1, 0);
        for (size_t i = 0; i < text.size(); ++i)
            cells[i / 4] |= static_cast<cell>(static_cast<ucell>(static_cast<unsigned char>(text[i]))
                                              << (24 - 8 * (i % 4)));
        return Alloc(cells);
    }
    cell Value(cell v) { return Alloc({v}); }
    cell Float(float f) { return Value(FloatToCell(f)); }

    std::vector<cell> Read(cell addr, size_t n) {
        cell* p = ScriptCellAddress(&vm, static_cast<ucell>(addr), static_cast<int32_t>(n));
        EXPECT_NE(p, nullptr);
        std::vector<cell> out(n);
        if (p != nullptr) std::memcpy(out.data(), p, n * sizeof(cell));
        return out;
    }
    std::string Text(cell addr) {
        std::string out;
        EXPECT_TRUE(ReadScriptString(&vm, addr, out));
        return out;
    }

    VmInstance vm{};
    int loadError = -1;

private:
    std::vector<char> file_;
};

// The argument cells of a call: the byte count, then the arguments.
inline std::vector<cell> Params(std::vector<cell> args) {
    args.insert(args.begin(), static_cast<cell>(args.size() * sizeof(cell)));
    return args;
}

}  // namespace velt::scripttest
