// Hostile arguments for every native that takes an address, a size or a count: each refuses
// with its own failure and writes nothing. Also every native called with too few arguments, and
// with a size cell that claims more arguments than the stack holds.

#include "tests/vm/lib_fixture.h"

#include <functional>

namespace velt::libtest {
namespace {

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(s.loadError, VM_ERR_NONE);
        ASSERT_EQ(s.attach({vm_AttachCoreLib, vm_AttachFloatLib, vm_AttachStringLib, vm_AttachFileLib,
                            vm_AttachTimeLib}),
                  VM_ERR_NONE);
    }
    void TearDown() override {
        vm_DetachCoreLib(&s.vm);
        vm_DetachTimeLib(&s.vm);
    }
    // Every byte below the heap top: the data and all that the tests allotted.
    std::vector<cell> snapshot() {
        return s.vm.heap > 0 ? s.read(0, static_cast<size_t>(s.vm.heap / 4)) : std::vector<cell>{};
    }
    Script s{"lib_all"};
};

TEST_F(Hostile, BadAddressesAndSizesWriteNothing) {
    const cell file = s.call("ftemp", {}).value;
    ASSERT_NE(file, 0);
    ASSERT_GE(s.call("fwrite", {file, s.packed("line\n")}).value, 0);
    ASSERT_EQ(s.call("fseek", {file, 0, 0}).value, 0);
    ASSERT_EQ(s.call("setproperty", {9, s.unpacked(""), 9, s.unpacked("a long property name")}).value, 0);

    // Arguments are built by `args` with every buffer it needs allotted first; `edge()` then
    // allots the four cells "abc" right below the heap top, so a range of more cells runs into
    // the free space between heap and stack.
    struct Row {
        const char* native;
        std::function<std::vector<cell>(Script&, const std::function<cell()>&)> args;
        Outcome want;
    };
    const cell NEG = -4, HUGE = INT32_MAX - 2;
    auto GAP = [](Script& sc) { return sc.vm.heap; };  // take it after the row's last allotment
    auto TOP = [](Script& sc) { return sc.vm.stack_top; };
    const std::string longText = "abcdefghijklmnopqrstu";
    const Outcome fails{VM_ERR_NATIVE, 0}, zero{VM_ERR_NONE, 0};
    const Row rows[] = {
        {"memcpy",
         [](Script& sc, auto edge) {
             cell src = sc.alloc(std::vector<cell>(8, 7));
             return std::vector<cell>{edge(), src, 0, 20, 100};
         },
         zero},
        {"memcpy",
         [](Script& sc, auto edge) {
             cell dst = sc.alloc(std::vector<cell>(8, 7));
             return std::vector<cell>{dst, edge(), 0, 20, 100};
         },
         zero},
        {"memcpy",
         [](Script& sc, auto edge) {
             cell src = sc.alloc({1});
             return std::vector<cell>{edge(), src, 14, 4, 100};
         },
         zero},
        {"memcpy",
         [&](Script& sc, auto) {
             return std::vector<cell>{NEG, sc.alloc({1}), 0, 4, 1};
         },
         zero},
        {"memcpy",
         [&](Script& sc, auto) {
             return std::vector<cell>{TOP(sc), sc.alloc({1}), 0, 4, 1};
         },
         zero},
        {"memcpy",
         [&](Script& sc, auto) {
             return std::vector<cell>{sc.alloc({1}), HUGE, 0, 4, 1};
         },
         zero},
        {"strcat",
         [](Script& sc, auto edge) {
             cell src = sc.unpacked("defgh");
             return std::vector<cell>{edge(), src, 100};
         },
         fails},
        {"strcat",
         [&](Script& sc, auto) {
             cell src = sc.unpacked("x");
             return std::vector<cell>{GAP(sc), src, 10};
         },
         fails},
        {"strcat",
         [&](Script& sc, auto) {
             return std::vector<cell>{sc.alloc({0, 0}), NEG, 10};
         },
         fails},
        {"strcmp",
         [&](Script& sc, auto) {
             cell b = sc.unpacked("x");
             return std::vector<cell>{GAP(sc), b, 0, 10};
         },
         fails},
        {"strcmp",
         [&](Script& sc, auto) {
             return std::vector<cell>{sc.unpacked("x"), NEG, 0, 10};
         },
         fails},
        {"strdel",
         [&](Script& sc, auto) {
             return std::vector<cell>{GAP(sc), 0, 1};
         },
         fails},
        {"strfind",
         [&](Script& sc, auto) {
             return std::vector<cell>{TOP(sc), sc.unpacked("x"), 0, 0};
         },
         fails},
        {"strins",
         [](Script& sc, auto edge) {
             cell sub = sc.unpacked("XY");
             return std::vector<cell>{edge(), sub, 0, 100};
         },
         fails},
        {"strins",
         [](Script& sc, auto edge) {
             cell sub = sc.unpacked("XY");
             return std::vector<cell>{edge(), sub, -1, 100};
         },
         fails},
        {"strins",
         [&](Script& sc, auto) {
             return std::vector<cell>{NEG, sc.unpacked("XY"), 0, 100};
         },
         fails},
        {"strlen", [&](Script& sc, auto) { return std::vector<cell>{GAP(sc)}; }, zero},
        {"strlen", [&](Script&, auto) { return std::vector<cell>{NEG}; }, zero},
        {"strlen", [&](Script& sc, auto) { return std::vector<cell>{TOP(sc)}; }, zero},
        {"ispacked", [&](Script& sc, auto) { return std::vector<cell>{GAP(sc)}; }, zero},
        {"strmid",
         [&](Script& sc, auto edge) {
             cell src = sc.unpacked(longText);
             return std::vector<cell>{edge(), src, 0, 100, 100};
         },
         fails},
        {"strmid",
         [&](Script& sc, auto) {
             return std::vector<cell>{NEG, sc.unpacked("x"), 0, 1, 10};
         },
         fails},
        {"strpack",
         [&](Script& sc, auto edge) {
             cell src = sc.unpacked(longText);
             return std::vector<cell>{edge(), src, 100};
         },
         fails},
        {"strunpack",
         [&](Script& sc, auto edge) {
             cell src = sc.packed(longText);
             return std::vector<cell>{edge(), src, 100};
         },
         fails},
        {"strval", [&](Script& sc, auto) { return std::vector<cell>{GAP(sc)}; }, fails},
        {"valstr",
         [](Script&, auto edge) {
             return std::vector<cell>{edge() + 12, 12345, 0};
         },
         fails},
        {"valstr",
         [&](Script& sc, auto) {
             return std::vector<cell>{TOP(sc), 1, 1};
         },
         fails},
        {"uudecode",
         [](Script& sc, auto edge) {
             cell line = sc.packed("&86)C9&5F\n");
             return std::vector<cell>{edge() + 12, line, 100};
         },
         fails},
        {"uuencode",
         [](Script& sc, auto edge) {
             cell src = sc.alloc(std::vector<cell>(8, 7));
             return std::vector<cell>{edge(), src, 30, 100};
         },
         fails},
        {"uuencode",
         [](Script& sc, auto edge) {
             cell dst = sc.alloc(std::vector<cell>(16, 7));
             return std::vector<cell>{dst, edge() + 8, 30, 100};
         },
         fails},
        {"uuencode",
         [](Script& sc, auto) {
             return std::vector<cell>{sc.alloc({7}), sc.alloc({7}), -1, 0};
         },
         zero},
        {"getproperty",
         [](Script& sc, auto edge) {
             cell name = sc.unpacked("");
             return std::vector<cell>{9, name, 9, edge() + 12};
         },
         {VM_ERR_MEMACCESS, 0}},
        {"setproperty",
         [&](Script& sc, auto) {
             cell str = sc.unpacked("");
             return std::vector<cell>{9, GAP(sc), 1, str};
         },
         zero},
        {"funcidx", [&](Script& sc, auto) { return std::vector<cell>{GAP(sc)}; }, fails},
        {"floatstr", [&](Script& sc, auto) { return std::vector<cell>{GAP(sc)}; }, zero},
        {"fread",
         [file](Script&, auto edge) {
             return std::vector<cell>{file, edge(), 100, 0};
         },
         fails},
        {"fread",
         [file](Script&, auto edge) {
             return std::vector<cell>{file, edge(), 100, 1};
         },
         fails},
        {"fread",
         [&](Script&, auto) {
             return std::vector<cell>{file, NEG, 1, 1};
         },
         fails},
        {"fblockread",
         [file](Script&, auto edge) {
             return std::vector<cell>{file, edge(), 5};
         },
         zero},
        {"fblockread",
         [file](Script&, auto edge) {
             return std::vector<cell>{file, edge(), 0x40000001};
         },
         zero},
        {"fblockwrite",
         [file](Script&, auto edge) {
             return std::vector<cell>{file, edge(), 5};
         },
         zero},
        {"fblockwrite",
         [file](Script&, auto edge) {
             return std::vector<cell>{file, edge(), INT32_MAX};
         },
         zero},
        {"fwrite",
         [&](Script& sc, auto) {
             return std::vector<cell>{file, GAP(sc)};
         },
         zero},
        {"fopen",
         [&](Script& sc, auto) {
             return std::vector<cell>{GAP(sc), 1};
         },
         zero},
        {"fexist", [&](Script&, auto) { return std::vector<cell>{NEG}; }, zero},
        {"fremove", [&](Script& sc, auto) { return std::vector<cell>{TOP(sc)}; }, zero},
    };
    int row = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.native) + " row " + std::to_string(row++));
        cell edgeAddr = -1;
        const std::function<cell()> edge = [&] { return edgeAddr = s.unpacked("abc"); };
        const std::vector<cell> args = r.args(s, edge);
        if (edgeAddr >= 0) {
            ASSERT_EQ(edgeAddr + 16, s.vm.heap);
        }
        const std::vector<cell> before = snapshot();
        const Outcome got = s.call(r.native, args);
        EXPECT_EQ(got.err, r.want.err);
        if (got.err == VM_ERR_NONE) {
            EXPECT_EQ(got.value, r.want.value);
        }
        EXPECT_EQ(snapshot(), before);
    }
    // The file was neither read nor written.
    EXPECT_EQ(s.call("flength", {file}).value, 5);
    const cell line = s.alloc(std::vector<cell>(8, 0));
    EXPECT_EQ(s.call("fread", {file, line, 8, 1}).value, 5);
    EXPECT_EQ(s.call("fclose", {file}).value, 1);
}

TEST_F(Hostile, TooFewArgumentsFailCleanly) {
    int count = 0;
    ASSERT_EQ(vm_NumNatives(&s.vm, &count), VM_ERR_NONE);
    ASSERT_GT(count, 60);
    for (int i = 0; i < count; ++i) {
        char name[64] = {};
        ASSERT_EQ(vm_GetNative(&s.vm, i, name), VM_ERR_NONE);
        SCOPED_TRACE(name);
        const std::vector<cell> before = snapshot();
        const Outcome none = s.call(name, {});
        EXPECT_TRUE(none.err == VM_ERR_NONE || none.err == VM_ERR_NATIVE) << none;

        // Called straight through the dispatcher with the cells on top of the script's stack and a
        // size cell claiming 1000 arguments: nothing lies behind it but the end of the block.
        const cell stack = s.vm.stack, patchOp = s.vm.direct_native_op;
        const int32_t pushed = s.vm.pushed_args;
        s.vm.direct_native_op = 0;  // no code to patch: this call is not from a SYSREQ
        ASSERT_EQ(vm_PushCell(&s.vm, 4000), VM_ERR_NONE);
        cell* params = nullptr;
        ASSERT_EQ(vm_GetAddr(&s.vm, s.vm.stack, &params), VM_ERR_NONE);
        cell result = 0;
        const int err = vm_Callback(&s.vm, i, &result, params);
        EXPECT_TRUE(err == VM_ERR_NONE || err == VM_ERR_NATIVE) << err;
        s.vm.stack = stack, s.vm.pushed_args = pushed, s.vm.direct_native_op = patchOp;

        for (cell handle : {none.value, result}) {
            if (std::string(name) == "ftemp" && handle > 0) s.call("fclose", {handle});
        }
        EXPECT_EQ(snapshot(), before);
    }
}

}  // namespace
}  // namespace velt::libtest
