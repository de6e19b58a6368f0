// The interpreter: instruction semantics by group, entry checks, sleep and continue, restore
// points, nested runs, and scripts that try to leave their block.

#include <climits>
#include <cstring>
#include <functional>
#include <optional>

#include "VmTestUtil.h"

namespace velt {
namespace {

using test::Vm;
using Body = std::function<void(VmImageBuilder&)>;

struct Result {
    int err;
    cell pri;
    cell alt;
};

// main: const.pri P; const.alt A; <body>; halt 0 — with optional data ahead of it.
Result runSnippet(cell pri, cell alt, const Body& body, const Body& data = {}) {
    VmImageBuilder b;
    b.GetOptions().stackBytes = 512;
    if (data) data(b);
    b.Label("main");
    b.Op(OP_CONST_PRI, pri);
    b.Op(OP_CONST_ALT, alt);
    body(b);
    b.Op(OP_HALT, 0);
    b.SetMain("main");
    Vm vm(test::build(b));
    EXPECT_EQ(vm.err, VM_ERR_NONE);
    Result r{};
    r.err = vm_Exec(&vm.inst, &r.pri, VM_EXEC_MAIN);
    r.alt = vm.inst.reg_alt;
    return r;
}

TEST(VmExec, ArithmeticShiftsAndSmallOpsByGroup) {
    struct Case {
        const char* what;
        int op;
        std::optional<cell> operand;
        cell pri, alt;
        int err;
        cell pri_out = 0;
        std::optional<cell> alt_out = {};
    };
    const Case cases[] = {
        // floored division: the remainder has the divisor's sign
        {"sdiv 7/-2", OP_SDIV, {}, 7, -2, 0, -4, -1},
        {"sdiv -7/2", OP_SDIV, {}, -7, 2, 0, -4, 1},
        {"sdiv 7/2", OP_SDIV, {}, 7, 2, 0, 3, 1},
        {"sdiv -7/-2", OP_SDIV, {}, -7, -2, 0, 3, -1},
        {"sdiv -8/2 exact", OP_SDIV, {}, -8, 2, 0, -4, 0},
        {"sdiv INT_MIN/-1 wraps", OP_SDIV, {}, INT32_MIN, -1, 0, INT32_MIN, 0},
        {"sdiv by zero", OP_SDIV, {}, 7, 0, VM_ERR_DIVIDE},
        {"sdiv.alt 7/-2", OP_SDIV_ALT, {}, -2, 7, 0, -4, -1},
        {"sdiv.alt INT_MIN/-1 wraps", OP_SDIV_ALT, {}, -1, INT32_MIN, 0, INT32_MIN, 0},
        {"sdiv.alt by zero", OP_SDIV_ALT, {}, 0, 7, VM_ERR_DIVIDE},
        {"udiv unsigned", OP_UDIV, {}, -1, 2, 0, 0x7FFFFFFF, 1},
        {"udiv.alt unsigned", OP_UDIV_ALT, {}, 2, -1, 0, 0x7FFFFFFF, 1},
        {"udiv by zero", OP_UDIV, {}, 1, 0, VM_ERR_DIVIDE},
        {"udiv.alt by zero", OP_UDIV_ALT, {}, 0, 1, VM_ERR_DIVIDE},
        // wrapping arithmetic
        {"smul wraps", OP_SMUL, {}, 0x40000000, 4, 0, 0, 4},
        {"smul signs", OP_SMUL, {}, -3, 7, 0, -21},
        {"umul low half", OP_UMUL, {}, 0x10001, 0x10001, 0, 0x20001},
        {"add wraps", OP_ADD, {}, INT32_MAX, 1, 0, INT32_MIN},
        {"sub wraps", OP_SUB, {}, INT32_MIN, 1, 0, INT32_MAX},
        {"sub.alt", OP_SUB_ALT, {}, 3, 10, 0, 7},
        {"neg INT_MIN", OP_NEG, {}, INT32_MIN, 0, 0, INT32_MIN},
        {"add.c wraps", OP_ADD_C, INT32_MAX, 1, 0, 0, INT32_MIN},
        {"smul.c wraps", OP_SMUL_C, -2, 0x40000001, 0, 0, 0x7FFFFFFE},
        {"inc.pri wraps", OP_INC_PRI, {}, INT32_MAX, 0, 0, INT32_MIN},
        {"dec.alt wraps", OP_DEC_ALT, {}, 0, INT32_MIN, 0, 0, INT32_MAX},
        {"not 5", OP_NOT, {}, 5, 0, 0, 0},
        {"not 0", OP_NOT, {}, 0, 0, 0, 1},
        {"invert", OP_INVERT, {}, 0x0F0F0F0F, 0, 0, cell(0xF0F0F0F0)},
        // shift counts are taken modulo 32
        {"shl by 33", OP_SHL, {}, 1, 33, 0, 2},
        {"shr logical", OP_SHR, {}, -1, 28, 0, 0xF},
        {"shr by 32 is by 0", OP_SHR, {}, -1, 32, 0, -1},
        {"sshr arithmetic", OP_SSHR, {}, -16, 2, 0, -4},
        {"shl.c.pri by 35", OP_SHL_C_PRI, 35, 1, 0, 0, 8},
        {"shl.c.alt", OP_SHL_C_ALT, 4, 0, 1, 0, 0, 16},
        {"shr.c.pri logical", OP_SHR_C_PRI, 31, -1, 0, 0, 1},
        {"shr.c.alt logical", OP_SHR_C_ALT, 28, 0, -1, 0, 0, 0xF},
        // sign extension of the low byte
        {"sign.pri 0x80", OP_SIGN_PRI, {}, 0x80, 0, 0, -128},
        {"sign.pri 0x17F unchanged", OP_SIGN_PRI, {}, 0x17F, 0, 0, 0x17F},
        {"sign.pri 0x1FF", OP_SIGN_PRI, {}, 0x1FF, 0, 0, -1},
        {"sign.alt 0xFE", OP_SIGN_ALT, {}, 0, 0xFE, 0, 0, -2},
        // BOUNDS compares unsigned
        {"bounds -1 > 9", OP_BOUNDS, 9, -1, 0, VM_ERR_BOUNDS},
        {"bounds 9 ok", OP_BOUNDS, 9, 9, 0, 0, 9},
        {"bounds 10 > 9", OP_BOUNDS, 9, 10, 0, VM_ERR_BOUNDS},
        {"align.pri 1", OP_ALIGN_PRI, 1, 0x100, 0, 0, 0x103},
        {"align.pri 4 unchanged", OP_ALIGN_PRI, 4, 0x100, 0, 0, 0x100},
        {"align.alt -1 unchanged", OP_ALIGN_ALT, -1, 0, 0x100, 0, 0, 0x100},
        {"eq.c.alt", OP_EQ_C_ALT, 5, 0, 5, 0, 1},
        {"xchg", OP_XCHG, {}, 1, 2, 0, 2, 1},
        {"idxaddr", OP_IDXADDR, {}, 3, 100, 0, 112},
        {"idxaddr.b", OP_IDXADDR_B, 1, 3, 100, 0, 106},
        {"lctrl 9 leaves PRI", OP_LCTRL, 9, 77, 0, 0, 77},
        {"call.pri is refused", OP_CALL_PRI, {}, 0, 0, VM_ERR_INVINSTR},
        {"jump.pri is refused", OP_JUMP_PRI, {}, 0, 0, VM_ERR_INVINSTR},
    };
    for (const Case& c : cases) {
        Result r = runSnippet(c.pri, c.alt, [&](VmImageBuilder& b) {
            if (c.operand)
                b.Op(c.op, *c.operand);
            else
                b.Op(c.op);
        });
        EXPECT_EQ(r.err, c.err) << c.what;
        if (c.err != VM_ERR_NONE) continue;
        EXPECT_EQ(r.pri, c.pri_out) << c.what;
        if (c.alt_out) {
            EXPECT_EQ(r.alt, *c.alt_out) << c.what;
        }
    }
}

TEST(VmExec, ComparesAndConditionalJumpsSignedAndUnsigned) {
    // Relational opcodes EQ..SGEQ and the jumps JEQ..JSGEQ are 40 apart and share their truth table.
    struct Pair {
        cell pri, alt;
        int truth[10];  // EQ NEQ LESS LEQ GRTR GEQ SLESS SLEQ SGRTR SGEQ
    };
    const Pair pairs[] = {
        {-1, 1, {0, 1, 0, 0, 1, 1, 1, 1, 0, 0}},
        {3, 3, {1, 0, 0, 1, 0, 1, 0, 1, 0, 1}},
        {INT32_MIN, INT32_MAX, {0, 1, 0, 0, 1, 1, 1, 1, 0, 0}},
        {2, 5, {0, 1, 1, 1, 0, 0, 1, 1, 0, 0}},
    };
    for (const Pair& p : pairs) {
        for (int k = 0; k < 10; ++k) {
            Result cmp = runSnippet(p.pri, p.alt, [&](VmImageBuilder& b) { b.Op(OP_EQ + k); });
            EXPECT_EQ(cmp.pri, p.truth[k]) << OpcodeInfo(OP_EQ + k).name << " " << p.pri << "," << p.alt;
            Result jmp = runSnippet(p.pri, p.alt, [&](VmImageBuilder& b) {
                b.Op(OP_JEQ + k, "taken");
                b.Op(OP_CONST_PRI, 0);
                b.Op(OP_HALT, 0);
                b.Label("taken");
                b.Op(OP_CONST_PRI, 1);
            });
            EXPECT_EQ(jmp.pri, p.truth[k]) << OpcodeInfo(OP_JEQ + k).name << " " << p.pri << "," << p.alt;
        }
    }
    for (cell v : {0, 1, -1}) {
        for (int op : {OP_JZER, OP_JNZ}) {
            Result r = runSnippet(v, 0, [&](VmImageBuilder& b) {
                b.Op(op, "taken");
                b.Op(OP_CONST_PRI, 0);
                b.Op(OP_HALT, 0);
                b.Label("taken");
                b.Op(OP_CONST_PRI, 1);
            });
            EXPECT_EQ(r.pri, (op == OP_JZER) == (v == 0)) << OpcodeInfo(op).name << " " << v;
        }
    }
}

TEST(VmExec, SwitchTakesTheFirstMatchingRecordElseTheDefault) {
    const std::pair<cell, cell> cases[] = {{5, 10}, {7, 30}, {9, 99}, {-1, 99}};
    for (auto [value, expect] : cases) {
        Result r = runSnippet(value, 0, [](VmImageBuilder& b) {
            b.Op(OP_SWITCH, "tbl");
            b.Label("tbl");
            b.CaseTable("dflt");
            b.AddCase(5, "a");
            b.AddCase(5, "b");  // duplicate: never taken
            b.AddCase(7, "c");
            b.Label("a");
            b.Op(OP_CONST_PRI, 10);
            b.Op(OP_HALT, 0);
            b.Label("b");
            b.Op(OP_CONST_PRI, 20);
            b.Op(OP_HALT, 0);
            b.Label("c");
            b.Op(OP_CONST_PRI, 30);
            b.Op(OP_HALT, 0);
            b.Label("dflt");
            b.Op(OP_CONST_PRI, 99);
        });
        EXPECT_EQ(r.pri, expect) << value;
    }
}

Body twoCells() {
    return [](VmImageBuilder& b) {
        b.DataCell(0);  // so the tested cell is not at address 0
        b.DataLabel("d0");
        b.DataCell(0x11223344);
    };
}

TEST(VmExec, ByteLoadsAndStoresByWidth) {
    const std::pair<cell, cell> loads[] = {{1, 0x44}, {2, 0x3344}, {4, 0x11223344}, {3, 4 /* PRI kept */}};
    for (auto [width, expect] : loads) {
        Result r = runSnippet(
            0, 0,
            [&](VmImageBuilder& b) {
                b.Op(OP_CONST_PRI, "d0");
                b.Op(OP_LODB_I, width);
            },
            twoCells());
        EXPECT_EQ(r.err, VM_ERR_NONE);
        EXPECT_EQ(r.pri, expect) << "lodb.i " << width;
    }
    const std::pair<cell, cell> stores[] = {
        {1, 0x112233DD}, {2, 0x1122CCDD}, {4, cell(0xAABBCCDD)}, {3, 0x11223344}};
    for (auto [width, expect] : stores) {
        Result r = runSnippet(
            cell(0xAABBCCDD), 0,
            [&](VmImageBuilder& b) {
                b.Op(OP_CONST_ALT, "d0");
                b.Op(OP_STRB_I, width);
                b.Op(OP_LOAD_PRI, "d0");
            },
            twoCells());
        EXPECT_EQ(r.pri, expect) << "strb.i " << width;
    }
    // The start address is validated like every indirect access.
    Result gap = runSnippet(0, 0, [](VmImageBuilder& b) {
        b.Op(OP_LCTRL, 2);
        b.Op(OP_LODB_I, 1);
    });
    EXPECT_EQ(gap.err, VM_ERR_MEMACCESS);
}

TEST(VmExec, BlockMovesComparesAndFills) {
    auto blocks = [](VmImageBuilder& b) {
        b.DataLabel("src");
        for (cell v : {1, 2, 3, 4}) b.DataCell(v);
        b.DataLabel("dst");
        b.DataSpace(4);
        b.DataLabel("other");
        for (cell v : {1, 2, 3, 5}) b.DataCell(v);
    };
    struct Case {
        const char* what;
        Body body;
        int err;
        cell pri = 0;
        std::vector<cell> dst = {};
    };
    const Case cases[] = {
        {"movs 12 copies three cells",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, "src");
             b.Op(OP_CONST_ALT, "dst");
             b.Op(OP_MOVS, 12);
             b.Op(OP_ZERO_PRI);
         },
         0,
         0,
         {1, 2, 3, 0}},
        {"cmps equal",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, "src");
             b.Op(OP_MOVE_ALT);
             b.Op(OP_CMPS, 16);
         },
         0, 0},
        {"cmps ALT below PRI",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, "other");
             b.Op(OP_CONST_ALT, "src");
             b.Op(OP_CMPS, 16);
         },
         0, -1},
        {"cmps ALT above PRI",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, "src");
             b.Op(OP_CONST_ALT, "other");
             b.Op(OP_CMPS, 16);
         },
         0, 1},
        {"cmps of nothing",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, "src");
             b.Op(OP_CONST_ALT, "other");
             b.Op(OP_CMPS, 0);
         },
         0, 0},
        {"fill 14 fills three cells",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, 7);
             b.Op(OP_CONST_ALT, "dst");
             b.Op(OP_FILL, 14);
             b.Op(OP_ZERO_PRI);
         },
         0,
         0,
         {7, 7, 7, 0}},
        {"movs into the free space",
         [](VmImageBuilder& b) {
             b.Op(OP_LCTRL, 2);
             b.Op(OP_MOVE_ALT);
             b.Op(OP_CONST_PRI, "src");
             b.Op(OP_MOVS, 4);
         },
         VM_ERR_MEMACCESS},
        {"movs whose end reaches the free space",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, "src");
             b.Op(OP_CONST_ALT, "other");
             b.Op(OP_MOVS, 20);
         },
         VM_ERR_MEMACCESS},
        {"movs of a negative size",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, "src");
             b.Op(OP_CONST_ALT, "dst");
             b.Op(OP_MOVS, -4);
         },
         VM_ERR_MEMACCESS},
        {"fill past the stack top",
         [](VmImageBuilder& b) {
             b.Op(OP_LCTRL, 4);
             b.Op(OP_MOVE_ALT);
             b.Op(OP_FILL, 16);
         },
         VM_ERR_MEMACCESS},
        {"load.i in the free space",
         [](VmImageBuilder& b) {
             b.Op(OP_LCTRL, 2);
             b.Op(OP_LOAD_I);
         },
         VM_ERR_MEMACCESS},
        {"load.i at the stack top",
         [](VmImageBuilder& b) {
             b.Op(OP_LCTRL, 3);
             b.Op(OP_LOAD_I);
         },
         VM_ERR_MEMACCESS},
        {"load.i at -4",
         [](VmImageBuilder& b) {
             b.Op(OP_CONST_PRI, -4);
             b.Op(OP_LOAD_I);
         },
         VM_ERR_MEMACCESS},
        {"load.i at the stack pointer",
         [](VmImageBuilder& b) {
             b.Op(OP_LCTRL, 4);
             b.Op(OP_LOAD_I);
         },
         0, 0},
    };
    for (const Case& c : cases) {
        VmImageBuilder b;
        b.GetOptions().stackBytes = 512;
        blocks(b);
        b.Label("main");
        c.body(b);
        b.Op(OP_HALT, 0);
        b.SetMain("main");
        Vm vm(test::build(b));
        ASSERT_EQ(vm.err, VM_ERR_NONE);
        cell pri = 12345;
        EXPECT_EQ(vm_Exec(&vm.inst, &pri, VM_EXEC_MAIN), c.err) << c.what;
        if (c.err != VM_ERR_NONE) continue;
        EXPECT_EQ(pri, c.pri) << c.what;
        if (!c.dst.empty()) {
            cell* dst = vm.addr(16);
            EXPECT_EQ(std::vector<cell>(dst, dst + 4), c.dst) << c.what;
        }
    }
}

std::vector<uint8_t> tinyMain(int32_t stack_bytes) {
    VmImageBuilder b;
    b.GetOptions().stackBytes = stack_bytes;
    b.Label("main");
    b.Op(OP_CONST_PRI, 5);
    b.Op(OP_HALT, 0);
    b.AddPublic("pub", "main");
    b.SetMain("main");
    return test::build(b);
}

// Inside a frame that holds every offset the code gives its frame loads, stores and increments,
// they run unchecked; around the edges of that range each access must still fail exactly when it
// leaves the block. The code names offsets -8 and 12; SCTRL 5 sets FRM to the argument.
TEST(VmExec, FrameAccessesFailExactlyWhenTheyLeaveTheBlock) {
    for (int op : {OP_LOAD_S_PRI, OP_LOAD_S_ALT, OP_STOR_S_PRI, OP_INC_S}) {
        VmImageBuilder b;
        b.GetOptions().stackBytes = 512;
        b.Label("f");
        b.Op(OP_PROC);
        b.Op(OP_LOAD_S_PRI, 12);
        b.Op(OP_SCTRL, 5);
        b.Op(op, -8);
        b.Op(op, 12);
        b.Op(OP_HALT, 0);
        b.AddPublic("f", "f");
        Vm vm(test::build(b));
        ASSERT_EQ(vm.err, VM_ERR_NONE);
        const cell stp = vm.inst.stack_top;
        for (cell frm : {cell(0), cell(4), cell(7), cell(8), cell(9), stp - 13, stp - 12, stp - 9, stp - 8,
                         stp - 5, stp - 4, stp, cell(-8), cell(INT_MIN), cell(INT_MAX - 2)}) {
            const bool outside = ucell(frm) - 8u >= ucell(stp) || ucell(frm) + 12u >= ucell(stp);
            cell ret = 0;
            EXPECT_EQ(vm.call("f", {frm}, &ret), outside ? VM_ERR_MEMACCESS : VM_ERR_NONE)
                << OpcodeInfo(op).name << " FRM " << frm << " of " << stp;
        }
    }
}

TEST(VmExec, EntryChecks) {
    Vm vm(tinyMain(512));
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    cell r;
    EXPECT_EQ(vm_Exec(&vm.inst, &r, 1), VM_ERR_INDEX);  // index == number of publics
    EXPECT_EQ(vm_Exec(&vm.inst, &r, -3), VM_ERR_INDEX);
    EXPECT_EQ(vm_Exec(&vm.inst, &r, 0), VM_ERR_NONE);
    EXPECT_EQ(r, 5);

    VmImageBuilder nomain;
    nomain.Label("f");
    nomain.Op(OP_HALT, 0);
    nomain.AddPublic("f", "f");
    Vm without(test::build(nomain));
    EXPECT_EQ(vm_Exec(&without.inst, &r, VM_EXEC_MAIN), VM_ERR_INDEX);

    VmInstance saved = vm.inst;
    vm.inst.flags &= ~VMF_NATIVES_READY;
    EXPECT_EQ(vm_Exec(&vm.inst, &r, 0), VM_ERR_NOTFOUND);
    vm.inst.native_dispatch = nullptr;
    EXPECT_EQ(vm_Exec(&vm.inst, &r, 0), VM_ERR_CALLBACK);
    vm.inst = saved;

    VmInstance blank{};
    blank.native_dispatch = vm_Callback;
    blank.flags = VMF_NATIVES_READY;
    EXPECT_EQ(vm_Exec(&blank, &r, 0), VM_ERR_INIT);
}

TEST(VmExec, RunNeedsSixteenFreeCellsAfterItsEntryPushes) {
    // Free bytes between heap and stack = stackBytes - 4 (the sentinel); the entry pushes take 8.
    struct Case {
        int32_t stack_bytes;
        int pushed;
        int err;
    };
    const Case cases[] = {
        {76, 0, VM_ERR_NONE}, {72, 0, VM_ERR_STACKERR}, {80, 1, VM_ERR_NONE}, {76, 1, VM_ERR_STACKERR}};
    for (const Case& c : cases) {
        Vm vm(tinyMain(c.stack_bytes));
        ASSERT_EQ(vm.err, VM_ERR_NONE);
        const cell stack0 = vm.inst.stack;
        for (int i = 0; i < c.pushed; ++i) ASSERT_EQ(vm_PushCell(&vm.inst, 1), VM_ERR_NONE);
        cell r;
        EXPECT_EQ(vm_Exec(&vm.inst, &r, VM_EXEC_MAIN), c.err) << c.stack_bytes << "/" << c.pushed;
        if (c.err == VM_ERR_NONE) {
            EXPECT_EQ(vm.inst.stack, stack0);
        }
    }
}

int g_snoozes = 0;
int g_snooze_limit = 0;
cell snooze(VmInstance* inst, const cell*) {
    if (g_snoozes++ < g_snooze_limit) vm_RaiseError(inst, VM_ERR_SLEEP);
    return 55;
}

TEST(VmExec, HaltTwelveSleepsAndContinues) {
    VmNativeEntry natives[] = {{"snooze", snooze}, {nullptr, nullptr}};
    Vm vm(test::readFixture("sleep.vmb"), natives);
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    const cell stack0 = vm.inst.stack, heap0 = vm.inst.heap;
    cell r = 0;
    ASSERT_EQ(vm.call("halt_sleep", {}, &r), VM_ERR_SLEEP);
    EXPECT_EQ(r, 100);                 // the sleep's value reaches the host
    EXPECT_NE(vm.inst.stack, stack0);  // the sleeping run keeps its stack
    ASSERT_EQ(vm_Exec(&vm.inst, &r, VM_EXEC_CONTINUE), VM_ERR_NONE);
    EXPECT_EQ(r, 101);
    EXPECT_EQ(vm.inst.stack, stack0);  // a normal end after continuing restores the first run's
    EXPECT_EQ(vm.inst.heap, heap0);
}

TEST(VmExec, NativeSleepsBeforeAndAfterCallPatching) {
    VmNativeEntry natives[] = {{"snooze", snooze}, {nullptr, nullptr}};
    Vm vm(test::readFixture("sleep.vmb"), natives);
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    const cell stack0 = vm.inst.stack;
    const size_t code = VmFileHeader::Read(vm.inst.image).cod;
    g_snoozes = 0;
    g_snooze_limit = 2;
    for (int round = 0; round < 2; ++round) {
        cell r = 0;
        ASSERT_EQ(vm.call("native_sleep", {}, &r), VM_ERR_SLEEP) << round;
        // After the first call the SYSREQ.C has become a direct call.
        int patched = 0;
        for (size_t at = code; at < size_t(VmFileHeader::Read(vm.inst.image).dat); at += 4) {
            cell c;
            std::memcpy(&c, vm.inst.image + at, 4);
            patched += c == VM_OP_SYSREQ_D;
        }
        EXPECT_EQ(patched, 1) << round;
        ASSERT_EQ(vm_Exec(&vm.inst, &r, VM_EXEC_CONTINUE), VM_ERR_NONE) << round;
        EXPECT_EQ(r, 56) << round;  // the native's value, plus one
        EXPECT_EQ(vm.inst.stack, stack0);
    }
    // One sleep long ago must not make the direct call sleep again.
    cell r = 0;
    EXPECT_EQ(vm.call("native_sleep", {}, &r), VM_ERR_NONE);
    EXPECT_EQ(r, 56);
}

TEST(VmExec, StackAndHeapRestoredAfterNormalEndAndAbort) {
    VmImageBuilder b;
    b.GetOptions().stackBytes = 1024;
    b.Label("f");  // f(x): takes heap, then fails BOUNDS when x > 5
    b.Op(OP_PROC);
    b.Op(OP_HEAP, 32);
    b.Op(OP_PUSH_C, 1);
    b.Op(OP_LOAD_S_PRI, 12);
    b.Op(OP_BOUNDS, 5);
    b.Op(OP_STACK, 4);
    b.Op(OP_RETN);
    b.AddPublic("f", "f");
    Vm vm(test::build(b));
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    const cell stack0 = vm.inst.stack, heap0 = vm.inst.heap;
    for (cell x : {3, 9}) {
        cell r;
        cell addr;
        ASSERT_EQ(vm_PushString(&vm.inst, &addr, nullptr, "text", 0, 0), VM_ERR_NONE);
        EXPECT_EQ(vm.call("f", {x, 2}, &r), x > 5 ? VM_ERR_BOUNDS : VM_ERR_NONE);
        EXPECT_EQ(vm.inst.stack, stack0) << x;
        EXPECT_EQ(vm.inst.heap, heap0 + 5 * 4) << x;  // the host's string stays until it frees it
        vm_Unallot(&vm.inst, addr);
        EXPECT_EQ(vm.inst.heap, heap0);
        EXPECT_EQ(vm.inst.pushed_args, 0);
    }
}

cell callInner(VmInstance* inst, const cell* params) {
    int idx;
    if (params[0] != 4 || vm_LookupPublic(inst, "inner", &idx) != VM_ERR_NONE) return -1;
    const cell stack = inst->stack, heap = inst->heap;
    cell r = 0;
    vm_PushCell(inst, params[1]);
    if (vm_Exec(inst, &r, idx) != VM_ERR_NONE) return -2;
    if (inst->stack != stack || inst->heap != heap) return -3;  // the nested run gave back its space
    return 2 * r;
}

TEST(VmExec, NativeRunsAnotherPublicOfTheSameScript) {
    VmNativeEntry natives[] = {{"call_inner", callInner}, {nullptr, nullptr}};
    Vm vm(test::readFixture("nested.vmb"), natives);
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    const cell stack0 = vm.inst.stack, heap0 = vm.inst.heap;
    for (int round = 0; round < 2; ++round) {  // the second round runs the patched direct call
        cell r = 0;
        EXPECT_EQ(vm.call("outer", {5}, &r), VM_ERR_NONE);
        EXPECT_EQ(r, 2 * 6 + 1000);
        EXPECT_EQ(vm.inst.stack, stack0);
        EXPECT_EQ(vm.inst.heap, heap0);
    }
}

cell nopNative(VmInstance*, const cell*) { return 0; }

TEST(VmExec, HostileScriptsEndWithTheirErrorCode) {
    VmNativeEntry natives[] = {{"nop_native", nopNative}, {nullptr, nullptr}};
    Vm vm(test::readFixture("hostile.vmb"), natives);
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    const std::pair<const char*, int> cases[] = {
        {"push_loop", VM_ERR_STACKERR},         {"recursion", VM_ERR_STACKERR},
        {"ret_into_operand", VM_ERR_MEMACCESS}, {"retn_huge_args", VM_ERR_STACKLOW},
        {"retn_after_load", VM_ERR_MEMACCESS},  {"retn_below_heap", VM_ERR_STACKERR},
        {"retn_two_cells", VM_ERR_STACKLOW},    {"retn_two_cells_wild", VM_ERR_MEMACCESS},
        {"pop_underflow", VM_ERR_STACKLOW},     {"sctrl4_high", VM_ERR_STACKLOW},
        {"sctrl4_low", VM_ERR_STACKERR},        {"sctrl2_high", VM_ERR_STACKERR},
        {"sctrl6_wild", VM_ERR_MEMACCESS},      {"heap_overflow", VM_ERR_STACKERR},
        {"heap_underflow", VM_ERR_HEAPLOW},     {"lref_wild", VM_ERR_MEMACCESS},
        {"sref_wild", VM_ERR_MEMACCESS},        {"lref_s_wild", VM_ERR_MEMACCESS},
        {"sref_s_wild", VM_ERR_MEMACCESS},      {"load_wild", VM_ERR_MEMACCESS},
        {"stor_wild", VM_ERR_MEMACCESS},        {"stor_i_gap", VM_ERR_MEMACCESS},
        {"inc_i_wild", VM_ERR_MEMACCESS},       {"lidx_wild", VM_ERR_MEMACCESS},
        {"movs_into_gap", VM_ERR_MEMACCESS},    {"movs_huge", VM_ERR_MEMACCESS},
        {"fill_gap", VM_ERR_MEMACCESS},         {"native_bad_params", VM_ERR_MEMACCESS},
        {"native_bad_index", VM_ERR_NOTFOUND},  {"native_unaligned_stack", VM_ERR_MEMACCESS},
    };
    const cell stack0 = vm.inst.stack, heap0 = vm.inst.heap;
    for (auto [name, expect] : cases) {
        cell r;
        EXPECT_EQ(vm.call(name, {}, &r), expect) << name;
        EXPECT_EQ(vm.inst.stack, stack0) << name;
        EXPECT_EQ(vm.inst.heap, heap0) << name;
    }
    EXPECT_EQ(test::Vm().load(test::readFixture("jump_into_casetbl.vmb")), VM_ERR_FORMAT);
}

TEST(VmExec, AFrameKeepsItsMarginAboveTheHeap) {
    // HEA set `gap` bytes below STK, then PROC alone or a call (argument size, CALL, PROC): the
    // new frame needs its cells and 64 bytes above the heap, or the run ends with STACKERR.
    auto image = [](bool call, cell gap) {
        VmImageBuilder b;
        b.Label("f");
        b.Op(OP_LCTRL, 4);
        b.Op(OP_ADD_C, -gap);
        b.Op(OP_SCTRL, 2);
        if (call) {
            b.Op(OP_PUSH_C, 0);
            b.Op(OP_CALL, "g");
        }
        b.Label("g");
        b.Op(OP_PROC);
        b.Op(OP_HALT, 0);
        b.SetMain("f");
        return test::build(b);
    };
    const struct {
        bool call;
        cell gap;
        int err;
    } cases[] = {{false, 68, VM_ERR_NONE},  {false, 67, VM_ERR_STACKERR}, {false, 3, VM_ERR_STACKERR},
                 {true, 76, VM_ERR_NONE},   {true, 75, VM_ERR_STACKERR},  {true, 72, VM_ERR_STACKERR},
                 {true, 7, VM_ERR_STACKERR}};
    for (const auto& c : cases) {
        Vm vm(image(c.call, c.gap));
        ASSERT_EQ(vm.err, VM_ERR_NONE);
        cell r;
        EXPECT_EQ(vm_Exec(&vm.inst, &r, VM_EXEC_MAIN), c.err) << c.call << " " << c.gap;
    }
}

TEST(VmExec, ResumingAtTheEndOfTheCodeIsRefused) {
    // A native call or a sleep as the very last instruction would resume past the code.
    VmNativeEntry natives[] = {{"nop_native", nopNative}, {nullptr, nullptr}};
    auto image = [](bool native_last) {
        VmImageBuilder b;
        b.Label("main");
        if (native_last) {
            b.Op(OP_PUSH_C, 0);
            b.Op(OP_SYSREQ_C, "nop_native");
        } else {
            b.Op(OP_HALT, 12);
        }
        b.SetMain("main");
        return test::build(b);
    };
    cell r;
    Vm sleeper(image(false), natives);
    ASSERT_EQ(sleeper.err, VM_ERR_NONE);
    EXPECT_EQ(vm_Exec(&sleeper.inst, &r, VM_EXEC_MAIN), VM_ERR_SLEEP);
    EXPECT_EQ(vm_Exec(&sleeper.inst, &r, VM_EXEC_CONTINUE), VM_ERR_MEMACCESS);
    Vm caller(image(true), natives);
    ASSERT_EQ(caller.err, VM_ERR_NONE);
    EXPECT_EQ(vm_Exec(&caller.inst, &r, VM_EXEC_MAIN), VM_ERR_MEMACCESS);
}

}  // namespace
}  // namespace velt
