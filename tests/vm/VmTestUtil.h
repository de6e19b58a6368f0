#pragma once
// Small helpers for the VM tests: a self-freeing loaded script, building images, fixtures.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "server/vm/VmImageBuilder.h"
#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"

namespace velt::test {

// A script loaded with vm_LoadImage and registered with `natives` (may be null).
struct Vm {
    VmInstance inst{};
    int err = -1;

    Vm() = default;
    explicit Vm(const std::vector<uint8_t>& image, const VmNativeEntry* natives = nullptr) {
        load(image, natives);
    }
    ~Vm() {
        if (inst.image) vm_FreeImage(&inst);
    }
    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;

    int load(const std::vector<uint8_t>& image, const VmNativeEntry* natives = nullptr) {
        err = vm_LoadImage(&inst, image.data(), image.size());
        if (err == VM_ERR_NONE) err = vm_Register(&inst, natives, -1);
        return err;
    }
    int publicIndex(const char* name) {
        int idx = -1;
        EXPECT_EQ(vm_LookupPublic(&inst, name, &idx), VM_ERR_NONE) << name;
        return idx;
    }
    // Runs public `name` with the given arguments (pushed last to first).
    int call(const char* name, std::vector<cell> args, cell* ret) {
        for (size_t i = args.size(); i-- > 0;) EXPECT_EQ(vm_PushCell(&inst, args[i]), VM_ERR_NONE);
        return vm_Exec(&inst, ret, publicIndex(name));
    }
    cell* addr(cell script_addr) {
        cell* p = nullptr;
        EXPECT_EQ(vm_GetAddr(&inst, script_addr, &p), VM_ERR_NONE);
        return p;
    }
};

inline std::vector<uint8_t> build(VmImageBuilder& b) {
    std::vector<uint8_t> out;
    std::string err;
    EXPECT_TRUE(b.Build(out, &err)) << err;
    return out;
}

inline std::vector<uint8_t> readFixture(const std::string& name) {
    std::ifstream f(std::string(VELT_VM_FIXTURE_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(f.good()) << "missing fixture " << name;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace velt::test
