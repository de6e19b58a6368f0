#pragma once
// Test harness for the native libraries: loads an assembled fixture script, attaches libraries
// to it, places arguments on its heap and calls natives through the script's generic "call"
// public, so every native runs from a real SYSREQ with its cells on the script's stack.

#include "server/vm/vm.h"
#include "server/vm/vmlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velt::libtest {

struct Outcome {
    int err;
    cell value;
    bool operator==(const Outcome&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "{err " << o.err << ", value " << o.value << "}";
}

inline cell fbits(float f) {
    cell c;
    std::memcpy(&c, &f, sizeof c);
    return c;
}

inline float bitsf(cell c) {
    float f;
    std::memcpy(&f, &c, sizeof f);
    return f;
}

class Script {
public:
    using Lib = int (*)(VmInstance*);

    explicit Script(const std::string& fixture) {
        std::ifstream in(std::string(VELT_VM_FIXTURE_DIR) + "/" + fixture + ".vmb", std::ios::binary);
        file_.assign(std::istreambuf_iterator<char>(in), {});
        loadError = vm_LoadImage(&vm, file_.data(), file_.size());
    }

    ~Script() {
        if (vm.image != nullptr) vm_FreeImage(&vm);
    }

    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    // Attaches the libraries in turn; the last vm_Register result tells whether all are bound.
    int attach(std::initializer_list<Lib> libs) {
        int result = -1;
        for (Lib lib : libs) result = lib(&vm);
        return result;
    }

    // Cells on the script's heap; they stay valid for the script's life.
    cell alloc(const std::vector<cell>& cells) {
        cell addr = 0;
        cell* host = nullptr;
        EXPECT_EQ(vm_Allot(&vm, static_cast<int>(cells.size()), &addr, &host), VM_ERR_NONE);
        if (host != nullptr && !cells.empty()) std::memcpy(host, cells.data(), cells.size() * sizeof(cell));
        return addr;
    }

    // A string in either form, in a buffer of at least `cells` cells; cells past the string's
    // own hold `fill`.
    cell str(const std::string& text, bool packed, size_t cells = 0, cell fill = 0) {
        std::vector<cell> buf;
        if (packed) {
            std::string bytes = text;
            bytes.resize(text.size() / 4 * 4 + 4, '\0');
            for (size_t i = 0; i < bytes.size(); i += 4) {
                buf.push_back(
                    static_cast<cell>(static_cast<ucell>(static_cast<unsigned char>(bytes[i])) << 24 |
                                      static_cast<ucell>(static_cast<unsigned char>(bytes[i + 1])) << 16 |
                                      static_cast<ucell>(static_cast<unsigned char>(bytes[i + 2])) << 8 |
                                      static_cast<ucell>(static_cast<unsigned char>(bytes[i + 3]))));
            }
        } else {
            for (unsigned char ch : text) buf.push_back(ch);
            buf.push_back(0);
        }
        if (buf.size() < cells) buf.resize(cells, fill);
        return alloc(buf);
    }
    cell packed(const std::string& text, size_t cells = 0) { return str(text, true, cells); }
    cell unpacked(const std::string& text, size_t cells = 0) { return str(text, false, cells); }

    std::vector<cell> read(cell addr, size_t n) {
        cell* host = nullptr;
        EXPECT_EQ(vm_GetAddrRange(&vm, addr, static_cast<int64_t>(n) * 4, &host), VM_ERR_NONE);
        std::vector<cell> out(n);
        if (host != nullptr && n != 0) std::memcpy(out.data(), host, n * sizeof(cell));
        return out;
    }

    // The string at addr as bytes (packed or unpacked; unpacked characters keep their low byte).
    std::string text(cell addr) {
        cell* host = nullptr;
        if (vm_GetAddr(&vm, addr, &host) != VM_ERR_NONE) return "<invalid>";
        std::vector<char> buf(4096);
        vm_ReadString(buf.data(), host, 0, buf.size());
        return buf.data();
    }

    // Runs a public with the given arguments (pushed last to first).
    Outcome run(const char* name, const std::vector<cell>& args) {
        int index = 0;
        if (vm_LookupPublic(&vm, name, &index) != VM_ERR_NONE) return {-1, 0};
        for (auto it = args.rbegin(); it != args.rend(); ++it) vm_PushCell(&vm, *it);
        cell value = 0;
        const int err = vm_Exec(&vm, &value, index);
        return {err, err == VM_ERR_NONE ? value : 0};
    }

    // Calls a native through the fixture's "call" public, as a script would.
    Outcome call(const char* native, std::vector<cell> args) {
        int index = 0;
        if (vm_LookupNative(&vm, native, &index) != VM_ERR_NONE) return {-2, 0};
        args.insert(args.begin(), index);
        return run("call", args);
    }

    VmInstance vm{};
    int loadError = -1;

private:
    std::vector<char> file_;
};

}  // namespace velt::libtest
