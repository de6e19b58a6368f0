// Fused instructions: every fused form run against its plain sequence (error code, PRI, ALT, the
// saved registers and the whole data block), static targets inside a would-be sequence, entries
// the loader cannot see (SCTRL 6, a continued sleep), and random loop-free programs both ways.

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "VmTestUtil.h"
#include "server/vm/vm_internal.h"

namespace velt {
namespace {

using test::Vm;

// Loads made while one of these lives keep the code of their file.
struct PlainLoads {
    PlainLoads() { vm_internal::SetCodeFusion(false); }
    ~PlainLoads() { vm_internal::SetCodeFusion(true); }
    PlainLoads(const PlainLoads&) = delete;
    PlainLoads& operator=(const PlainLoads&) = delete;
};

// What a run leaves behind for anyone to see.
struct Outcome {
    int err = -1;
    cell ret = 0;
    cell pri = 0, alt = 0, frm = 0, cip = 0, stk = 0, hea = 0;
    std::vector<uint8_t> memory;  // the data block, heap and stack included
    bool operator==(const Outcome&) const = default;
};

std::string describe(const Outcome& o) {
    std::ostringstream s;
    s << "err " << o.err << " ret " << o.ret << " pri " << o.pri << " alt " << o.alt << " frm " << o.frm
      << " cip " << o.cip << " stk " << o.stk << " hea " << o.hea;
    return s.str();
}

Outcome capture(const VmInstance& inst, int err, cell ret) {
    Outcome o;
    o.err = err;
    o.ret = ret;
    o.pri = inst.reg_pri;
    o.alt = inst.reg_alt;
    o.frm = inst.frame;
    o.cip = inst.cip;
    o.stk = inst.stack;
    o.hea = inst.heap;
    const VmFileHeader h = VmFileHeader::Read(inst.image);
    const uint8_t* data = inst.image + h.dat;
    o.memory.assign(data, data + (h.stack_top - h.dat));
    return o;
}

// The cell at a code address of a loaded script.
cell codeCell(const VmInstance& inst, uint32_t at) {
    return vm_internal::LoadBlockCell(inst.image + VmFileHeader::Read(inst.image).cod + at);
}

int fusedHeads(const VmInstance& inst) {
    int n = 0;
    for (uint32_t at = 0; at < uint32_t(inst.codeSize); at += 4)
        if (vm_internal::IsInstructionStart(&inst, at) && codeCell(inst, at) >= kVmFusedFirst) ++n;
    return n;
}

std::string seqName(int token) {
    const VmFusedInfo& f = FusedOpcodeInfo(token);
    std::string s;
    for (int i = 0; i < f.count; ++i) s += std::string(i ? "+" : "") + OpcodeInfo(f.ops[i]).name;
    return s;
}

// One image loaded twice: with fused code and with the code of the file.
struct Twin {
    Vm fused, plain;
    explicit Twin(const std::vector<uint8_t>& image, const VmNativeEntry* natives = nullptr) {
        fused.load(image, natives);
        PlainLoads off;
        plain.load(image, natives);
    }
    bool loaded() const { return fused.err == VM_ERR_NONE && plain.err == VM_ERR_NONE; }
};

Outcome callOutcome(Vm& vm, const char* name, std::vector<cell> args) {
    cell ret = 0;
    const int err = vm.call(name, std::move(args), &ret);
    return capture(vm.inst, err, ret);
}

// ---------------------------------------------------------------------------------------------
// One fused form in a small frame. Public "f"(sel): locals a [frm-4], b [frm-8], c [frm-12] and a
// four-cell array 10, 20, 0, 40 from [frm-28]; the sequence, then HALT 0. Its jumps go to
// "taken", which counts in a data cell before halting.
struct Shape {
    const char* what;
    cell a = 5, b = 9;
    cell pri = 0x11, alt = 0x22;
    cell bound = 3;
    cell array = -28;
    int wild = -1;      // this instruction's frame operand points far outside the block
    int pre = 0;        // PRI before the sequence: 0 const, 1 a local, 2 HEA (the gap), 3 -4
    int label_at = -1;  // with sel != 0, a jump lands on this instruction of the sequence
    int enter_at = -1;  // with sel != 0, SCTRL 6 lands on it (no static target)
    int nop_at = -1;    // a NOP goes right before this instruction of the sequence
    cell store = -12;   // STOR.S.PRI's local
    bool loop = false;  // a closing JUMP goes back to the first instruction of the sequence
};

struct Built {
    std::vector<uint8_t> image;
    uint32_t head = 0;  // code address of the sequence's first instruction
};

Built buildShape(const std::vector<int>& ops, const Shape& s) {
    VmImageBuilder b;
    b.GetOptions().stackBytes = 1024;
    b.DataLabel("marker");
    b.DataCell(0);
    b.Label("f");
    b.Op(OP_PROC);
    for (cell v : {s.a, s.b, cell(0x33), cell(40), cell(0), cell(20), cell(10)}) b.Op(OP_PUSH_C, v);
    b.Op(OP_LOAD_S_PRI, 12);
    if (s.label_at > 0) {
        b.Op(OP_JNZ, "mid");
    } else if (s.enter_at > 0) {
        b.Op(OP_JZER, "go");
        b.Op(OP_CONST_PRI, "mid");
        b.Op(OP_SCTRL, 6);
    }
    b.Label("go");
    b.Op(OP_CONST_ALT, s.alt);
    switch (s.pre) {
        case 0: b.Op(OP_CONST_PRI, s.pri); break;
        case 1: b.Op(OP_ADDR_PRI, -20); break;
        case 2: b.Op(OP_LCTRL, 2); break;
        default: b.Op(OP_CONST_PRI, -4); break;
    }
    Built out;
    out.head = b.CodeHere();
    b.Label("head");
    for (int i = 0; i < int(ops.size()); ++i) {
        if (i == s.label_at || i == s.enter_at) b.Label("mid");
        if (i == s.nop_at) b.Op(OP_NOP);
        const int op = ops[i];
        const cell wild = i == s.wild ? 0x40000000 : 0;
        switch (op) {
            case OP_LOAD_S_PRI:
            case OP_INC_S: b.Op(op, wild ? wild : -4); break;
            case OP_LOAD_S_ALT: b.Op(op, wild ? wild : -8); break;
            case OP_STOR_S_PRI: b.Op(op, wild ? wild : s.store); break;
            case OP_ADDR_ALT: b.Op(op, wild ? wild : s.array); break;
            case OP_CONST_ALT:
            case OP_CONST_PRI:
            case OP_ADD_C:
            case OP_PUSH_C: b.Op(op, s.b); break;
            case OP_BOUNDS: b.Op(op, s.bound); break;
            default:
                if (op == OP_JUMP && s.loop && i + 1 == int(ops.size()))
                    b.Op(op, "head");
                else if (OpcodeInfo(op).operand == VmOperand::Code)
                    b.Op(op, "taken");
                else
                    b.Op(op);
                break;
        }
    }
    b.Op(OP_HALT, 0);
    b.Label("taken");
    b.Op(OP_INC, "marker");
    b.Op(OP_HALT, 0);
    b.AddPublic("f", "f");
    out.image = test::build(b);
    return out;
}

Built buildShape(int token, const Shape& s) {
    const VmFusedInfo& f = FusedOpcodeInfo(token);
    return buildShape(std::vector<int>(f.ops, f.ops + f.count), s);
}

bool hasFrameOperand(int op) {
    return op == OP_LOAD_S_PRI || op == OP_LOAD_S_ALT || op == OP_STOR_S_PRI || op == OP_INC_S ||
           op == OP_ADDR_ALT;
}

std::vector<Shape> shapesFor(int token) {
    const VmFusedInfo& f = FusedOpcodeInfo(token);
    std::vector<Shape> v = {
        {"a < b"},
        {"a > b", 9, 5},
        {"a == b", 7, 7},
        {"-1 and 1 (signed and unsigned orders differ)", -1, 1},
        {"INT_MIN and INT_MAX", INT32_MIN, INT32_MAX},
        {"wrapping add", INT32_MAX, 1},
        {"index 0", 0, -5},
        {"index 2, a zero element", 2, 0},
        {"index 3, the last", 3, 0},
        {"index 4, past BOUNDS 3", 4, 0},
        {"zero", 0, 0},
    };
    Shape wild_array{"array base far outside"};
    wild_array.a = 2;
    wild_array.array = 0x40000000;
    v.push_back(wild_array);
    for (int pre = 1; pre <= 3; ++pre) {
        Shape p{pre == 1 ? "PRI at a local" : pre == 2 ? "PRI at HEA, inside the free space" : "PRI at -4"};
        p.pre = pre;
        v.push_back(p);
    }
    for (int i = 0; i < f.count; ++i) {
        if (!hasFrameOperand(f.ops[i])) continue;
        Shape w{"a frame operand far outside the block"};
        w.wild = i;
        v.push_back(w);
    }
    return v;
}

TEST(VmFusion, EveryFusedFormMatchesItsPlainSequence) {
    ASSERT_GT(kVmFusedCount, 0);
    for (int token = kVmFusedFirst; token < OPF_END; ++token) {
        const VmFusedInfo& f = FusedOpcodeInfo(token);
        if (f.loop) continue;  // loops have tests of their own, with values that end them
        const bool branches = OpcodeInfo(f.ops[f.count - 1]).operand == VmOperand::Code;
        int ok = 0, failed = 0, taken = 0, fell = 0;
        for (const Shape& s : shapesFor(token)) {
            const std::string what = seqName(token) + ": " + s.what;
            Built built = buildShape(token, s);
            Twin t(built.image);
            ASSERT_TRUE(t.loaded()) << what;
            EXPECT_EQ(codeCell(t.fused.inst, built.head), token) << what;
            EXPECT_EQ(codeCell(t.plain.inst, built.head), f.ops[0]) << what;
            const Outcome fused = callOutcome(t.fused, "f", {0}), plain = callOutcome(t.plain, "f", {0});
            EXPECT_EQ(fused, plain) << what << "\n fused: " << describe(fused)
                                    << "\n plain: " << describe(plain);
            (plain.err == VM_ERR_NONE ? ok : failed) += 1;
            if (plain.err == VM_ERR_NONE) (plain.memory[0] ? taken : fell) += 1;
        }
        // The table must reach both the normal end and the errors raised inside the sequence, and
        // both ways out of a branch.
        EXPECT_GT(ok, 0) << seqName(token);
        EXPECT_GT(failed, 0) << seqName(token);
        if (branches) {
            EXPECT_GT(taken, 0) << seqName(token);
            if (f.ops[f.count - 1] != OP_JUMP) {
                EXPECT_GT(fell, 0) << seqName(token);
            }
        }
    }
}

TEST(VmFusion, AJumpIntoTheMiddleKeepsTheSequencePlain) {
    for (int token = kVmFusedFirst; token < OPF_END; ++token) {
        const VmFusedInfo& f = FusedOpcodeInfo(token);
        if (f.loop) continue;
        for (int at = 1; at < f.count; ++at) {
            const std::string what = seqName(token) + ", jump target at instruction " + std::to_string(at);
            Shape s{"mid"};
            s.label_at = at;
            Built built = buildShape(token, s);
            Twin t(built.image);
            ASSERT_TRUE(t.loaded()) << what;
            // A shorter sequence may still fuse at the head, as long as it ends before the target.
            const cell head = codeCell(t.fused.inst, built.head);
            if (head >= kVmFusedFirst) {
                EXPECT_LE(FusedOpcodeInfo(head).count, at) << what;
            } else {
                EXPECT_EQ(head, f.ops[0]) << what;
            }
            for (cell sel : {0, 1}) {
                const Outcome fused = callOutcome(t.fused, "f", {sel}),
                              plain = callOutcome(t.plain, "f", {sel});
                EXPECT_EQ(fused, plain) << what << " sel " << sel << "\n fused: " << describe(fused)
                                        << "\n plain: " << describe(plain);
            }
        }
    }
}

TEST(VmFusion, AnEntryTheLoaderCannotSeeRunsThePlainTail) {
    // SCTRL 6 may land on any instruction start: past a fused head the plain cells are still there.
    for (int token = kVmFusedFirst; token < OPF_END; ++token) {
        const VmFusedInfo& f = FusedOpcodeInfo(token);
        if (f.loop) continue;
        for (int at = 1; at < f.count; ++at) {
            const std::string what = seqName(token) + ", SCTRL 6 to instruction " + std::to_string(at);
            Shape s{"enter"};
            s.enter_at = at;
            Built built = buildShape(token, s);
            Twin t(built.image);
            ASSERT_TRUE(t.loaded()) << what;
            EXPECT_EQ(codeCell(t.fused.inst, built.head), token) << what;
            for (cell sel : {0, 1}) {
                const Outcome fused = callOutcome(t.fused, "f", {sel}),
                              plain = callOutcome(t.plain, "f", {sel});
                EXPECT_EQ(fused, plain) << what << " sel " << sel << "\n fused: " << describe(fused)
                                        << "\n plain: " << describe(plain);
            }
        }
    }
}

// A run of instructions adjacent (a NOP before it keeps later addresses equal) and split by a NOP
// before each later instruction, which stops any prediction there, on plain and fused loads:
// everything seen must match the plain load with the first split.
void expectRunAlike(const std::vector<int>& ops, std::vector<Shape> shapes) {
    std::string name;
    for (int op : ops) name += std::string(name.empty() ? "" : "+") + OpcodeInfo(op).name;
    for (Shape s : shapes) {
        const std::string what = name + ": " + s.what;
        s.nop_at = 0;
        Twin adjacent(buildShape(ops, s).image);
        ASSERT_TRUE(adjacent.loaded()) << what;
        s.nop_at = 1;
        Twin first(buildShape(ops, s).image);
        ASSERT_TRUE(first.loaded()) << what;
        const Outcome want = callOutcome(first.plain, "f", {0});
        for (Vm* vm : {&adjacent.plain, &adjacent.fused, &first.fused}) {
            const Outcome got = callOutcome(*vm, "f", {0});
            EXPECT_EQ(got, want) << what << "\n got:  " << describe(got) << "\n want: " << describe(want);
        }
        for (int at = 2; at < int(ops.size()); ++at) {
            s.nop_at = at;
            Twin split(buildShape(ops, s).image);
            ASSERT_TRUE(split.loaded()) << what;
            const Outcome got = callOutcome(split.plain, "f", {0});
            EXPECT_EQ(got, want) << what << ", split before " << at << "\n got:  " << describe(got)
                                 << "\n want: " << describe(want);
        }
    }
}

// The interpreter runs the usual follower of some instructions without a dispatch.
TEST(VmFusion, PredictedFollowersRunAsTheirInstructions) {
    std::vector<std::vector<int>> pairs = {
        {OP_LOAD_S_PRI, OP_LOAD_S_ALT}, {OP_ADD, OP_STOR_S_PRI}, {OP_INC_S, OP_JUMP}, {OP_PUSH_C, OP_CALL}};
    for (int cmp : {OP_EQ, OP_NEQ, OP_LESS, OP_LEQ, OP_GRTR, OP_GEQ, OP_SLESS, OP_SLEQ, OP_SGRTR, OP_SGEQ})
        pairs.push_back({cmp, OP_JZER});
    // Longer runs: a counted loop's condition and `s = a + b`.
    pairs.push_back({OP_LOAD_S_PRI, OP_LOAD_S_ALT, OP_SLEQ, OP_JZER});
    pairs.push_back({OP_LOAD_S_PRI, OP_LOAD_S_ALT, OP_ADD, OP_STOR_S_PRI});
    for (const std::vector<int>& pair : pairs) {
        const std::string name = std::string(OpcodeInfo(pair[0]).name) + "+" + OpcodeInfo(pair[1]).name;
        // PRI and ALT decide the comparisons, the locals a and b the loads.
        std::vector<Shape> shapes = {{"PRI < ALT, a < b"},
                                     {"PRI > ALT, a > b", 9, 5, 0x22, 0x11},
                                     {"PRI == ALT", 7, 7, 5, 5},
                                     {"-1 and 1 (signed and unsigned orders differ)", -1, 1, -1, 1},
                                     {"1 and -1", 1, -1, 1, -1}};
        for (int i = 0; i < int(pair.size()); ++i) {
            if (i >= 2 && !hasFrameOperand(pair[i])) continue;
            Shape w{"a frame operand far outside the block"};
            w.wild = i;
            shapes.push_back(w);
        }
        expectRunAlike(pair, shapes);
    }
}

// The compiler's element access runs as one chain in the plain interpreter: `a[i] = k` and a
// branch on `a[i]`, with the index in range, past BOUNDS, and the array far outside or in the gap.
TEST(VmFusion, PredictedElementAccessRunsAsItsInstructions) {
    const std::vector<int> head = {OP_ADDR_ALT, OP_LOAD_S_PRI, OP_BOUNDS};
    std::vector<std::vector<int>> runs;
    for (std::vector<int> tail : {std::vector<int>{OP_IDXADDR, OP_MOVE_ALT, OP_CONST_PRI, OP_STOR_I},
                                  std::vector<int>{OP_LIDX, OP_JZER}, std::vector<int>{OP_LIDX, OP_JNZ}}) {
        runs.push_back(head);
        runs.back().insert(runs.back().end(), tail.begin(), tail.end());
    }
    std::vector<Shape> shapes = {{"index 0", 0},
                                 {"index 2, a zero element", 2},
                                 {"index 3, the last", 3},
                                 {"index 4, past BOUNDS 3", 4},
                                 {"index -1", -1}};
    Shape wild{"array base far outside"}, gap{"array base in the free space"},
        index{"index local far outside"};
    wild.array = 0x40000000;
    gap.array = -400;  // below STK, above the heap
    index.wild = 1;
    for (Shape x : {wild, gap, index}) {
        x.a = 1;
        shapes.push_back(x);
    }
    for (const std::vector<int>& run : runs) expectRunAlike(run, shapes);
}

// The counted loop of the benchmark: sum of 1..n. The compiler writes its condition as a
// comparison and a zero test; the other form branches on the comparison at once.
std::vector<uint8_t> sumLoop(bool compilerForm) {
    VmImageBuilder b;
    b.Label("run");
    b.Op(OP_PROC);
    b.Op(OP_PUSH_C, 0);  // s [frm-4]
    b.Op(OP_PUSH_C, 1);  // i [frm-8]
    b.Label("loop");
    b.Op(OP_LOAD_S_PRI, -8);
    b.Op(OP_LOAD_S_ALT, 12);
    if (compilerForm) {
        b.Op(OP_SLEQ);
        b.Op(OP_JZER, "done");
    } else {
        b.Op(OP_JSGRTR, "done");
    }
    b.Op(OP_LOAD_S_PRI, -8);
    b.Op(OP_LOAD_S_ALT, -4);
    b.Op(OP_ADD);
    b.Op(OP_STOR_S_PRI, -4);
    b.Op(OP_INC_S, -8);
    b.Op(OP_JUMP, "loop");
    b.Label("done");
    b.Op(OP_STACK, 4);
    b.Op(OP_LOAD_S_PRI, -4);
    b.Op(OP_STACK, 4);
    b.Op(OP_RETN);
    b.AddPublic("run", "run");
    return test::build(b);
}

TEST(VmFusion, CountedLoopRunsAsOneFusedInstruction) {
    for (bool compilerForm : {false, true}) {
        Twin t(sumLoop(compilerForm));
        ASSERT_TRUE(t.loaded());
        EXPECT_EQ(fusedHeads(t.fused.inst), 1) << compilerForm;
        EXPECT_EQ(fusedHeads(t.plain.inst), 0) << compilerForm;
        const std::pair<cell, cell> cases[] = {{0, 0}, {1, 1}, {1000, 500500}, {100000, cell(5000050000u)}};
        for (auto [n, sum] : cases) {
            const Outcome fused = callOutcome(t.fused, "run", {n}), plain = callOutcome(t.plain, "run", {n});
            EXPECT_EQ(fused.err, VM_ERR_NONE) << n;
            EXPECT_EQ(fused.ret, sum) << n;
            EXPECT_EQ(fused, plain) << n;
        }
    }
    Twin t(sumLoop(false));
    // A clone shares the fused code.
    std::vector<uint8_t> block(size_t(VmFileHeader::Read(t.fused.inst.image).stack_top));
    VmInstance clone{};
    ASSERT_EQ(vm_Clone(&clone, &t.fused.inst, block.data()), VM_ERR_NONE);
    cell r = 0;
    ASSERT_EQ(vm_PushCell(&clone, 1000), VM_ERR_NONE);
    EXPECT_EQ(vm_Exec(&clone, &r, 0), VM_ERR_NONE);
    EXPECT_EQ(r, 500500);
    vm_Teardown(&clone);
}

// Passes a whole-loop form of buildShape makes before it leaves (i at [frm-4], n at [frm-8], the
// body's sum stored at `store`), or -1 when that is more than a few.
int loopPasses(const VmFusedInfo& f, cell i, cell n, cell store) {
    const int op = f.ops[2];
    const bool jumps = op >= OP_JEQ && op <= OP_JSGEQ;
    const bool constBound = f.ops[1] == OP_CONST_ALT;
    const cell bound = n;
    for (int passes = 0; passes <= 40; ++passes) {
        const cell m = constBound ? bound : n;
        const bool holds[] = {i == m,
                              i != m,
                              ucell(i) < ucell(m),
                              ucell(i) <= ucell(m),
                              ucell(i) > ucell(m),
                              ucell(i) >= ucell(m),
                              i<m, i <= m, i>
                                  m,
                              i >= m};
        const bool cond = holds[jumps ? op - OP_JEQ : op - OP_EQ];
        if (jumps == cond) return passes;
        const cell sum = cell(ucell(i) + ucell(n));
        if (store == -4) i = sum;
        if (store == -8) n = sum;
        i = cell(ucell(i) + 1);
    }
    return -1;
}

TEST(VmFusion, WholeLoopsMatchTheirPlainInstructions) {
    const std::pair<cell, cell> values[] = {{5, 9},
                                            {9, 5},
                                            {7, 7},
                                            {-1, 1},
                                            {1, -1},
                                            {0, 0},
                                            {INT32_MAX - 3, INT32_MAX},
                                            {INT32_MAX - 1, INT32_MIN + 1}};
    int loops = 0;
    for (int token = kVmFusedFirst; token < OPF_END; ++token) {
        const VmFusedInfo& f = FusedOpcodeInfo(token);
        if (!f.loop || f.anyCompareAt >= 0) continue;  // store loops: see below
        ++loops;
        int none = 0, ran = 0, failed = 0;
        for (auto [i, n] : values) {
            std::vector<Shape> shapes;
            for (cell store : {-12, -4, -8}) {
                Shape s{store == -12 ? "sum to a third local" : store == -4 ? "sum into i" : "sum into n"};
                s.store = store;
                shapes.push_back(s);
            }
            for (int at = 0; at < f.count; ++at) {
                Shape w{"a frame operand far outside the block"}, l{"a jump into the loop"},
                    e{"SCTRL 6 into the loop"};
                w.wild = hasFrameOperand(f.ops[at]) ? at : -1;
                l.label_at = at;
                e.enter_at = at;
                for (const Shape& x : {w, l, e})
                    if (x.wild >= 0 || x.label_at > 0 || x.enter_at > 0) shapes.push_back(x);
            }
            for (Shape s : shapes) {
                s.a = i;
                s.b = n;
                s.loop = true;
                const int passes = loopPasses(f, i, n, s.store);
                // Entering past the head can step i once before the first test.
                const bool inside = s.label_at > 0 || s.enter_at > 0;
                if (passes < 0 || (inside && loopPasses(f, cell(ucell(i) + 1), n, s.store) < 0)) continue;
                const std::string what =
                    seqName(token) + ": " + s.what + ", i " + std::to_string(i) + ", n " + std::to_string(n);
                Built built = buildShape(token, s);
                Twin t(built.image);
                ASSERT_TRUE(t.loaded()) << what;
                if (s.label_at < 0) {
                    EXPECT_EQ(codeCell(t.fused.inst, built.head), token) << what;
                } else {
                    EXPECT_NE(codeCell(t.fused.inst, built.head), token) << what;
                }
                for (cell sel : {0, 1}) {
                    const Outcome fused = callOutcome(t.fused, "f", {sel}),
                                  plain = callOutcome(t.plain, "f", {sel});
                    EXPECT_EQ(fused, plain) << what << " sel " << sel << "\n fused: " << describe(fused)
                                            << "\n plain: " << describe(plain);
                    if (sel == 0) {
                        failed += plain.err != VM_ERR_NONE;
                        if (plain.err == VM_ERR_NONE) (passes == 0 ? none : ran) += 1;
                    }
                }
            }
        }
        // Each form must be seen leaving at once, going round, and failing.
        EXPECT_GT(none, 0) << seqName(token);
        EXPECT_GT(ran, 0) << seqName(token);
        EXPECT_GT(failed, 0) << seqName(token);
        // A closing JUMP that goes anywhere but the head leaves the loop form out.
        Shape away{"away"};
        Built built = buildShape(token, away);
        Twin t(built.image);
        ASSERT_TRUE(t.loaded());
        EXPECT_NE(codeCell(t.fused.inst, built.head), token) << seqName(token);
    }
    EXPECT_GT(loops, 0);
}

// A call runs PUSH.C, CALL and the callee's PROC at once. Recursion until the stack runs out, with
// the room left at the end varied cell by cell, must leave everything as the three instructions
// one by one: a NOP goes before PUSH.C (nothing split), between PUSH.C and CALL, or (as well as
// before PUSH.C, where it keeps the return addresses equal) before PROC.
TEST(VmFusion, CallsIntoProcRunAsTheirInstructions) {
    auto image = [](int split, int pad) {
        VmImageBuilder b;
        b.GetOptions().stackBytes = 256;
        b.DataLabel("depth");
        b.DataCell(0);
        b.Label("f");
        b.Op(OP_PROC);
        for (int i = 0; i < pad; ++i) b.Op(OP_PUSH_C, 7);
        b.Label("again");
        if (split != 1) b.Op(OP_NOP);
        b.Op(OP_PUSH_C, 0);
        if (split == 1) b.Op(OP_NOP);
        b.Op(OP_CALL, "g");
        b.Op(OP_HALT, 0);
        b.Label("g");
        if (split == 2) b.Op(OP_NOP);
        b.Op(OP_PROC);
        if (split != 2) b.Op(OP_NOP);
        b.Op(OP_INC, "depth");
        b.Op(OP_JUMP, "again");
        b.AddPublic("f", "f");
        return test::build(b);
    };
    for (int pad = 0; pad < 3; ++pad) {
        Twin want(image(1, pad));
        ASSERT_TRUE(want.loaded());
        const Outcome plain = callOutcome(want.plain, "f", {});
        EXPECT_EQ(plain.err, VM_ERR_STACKERR) << pad;
        EXPECT_GT(plain.memory[0], 5) << pad;  // it went some calls deep
        for (int split : {0, 1, 2}) {
            Twin t(image(split, pad));
            ASSERT_TRUE(t.loaded());
            for (Vm* vm : {&t.plain, &t.fused}) {
                const Outcome got = callOutcome(*vm, "f", {});
                EXPECT_EQ(got, plain) << "split " << split << " pad " << pad << "\n got:  " << describe(got)
                                      << "\n want: " << describe(plain);
            }
        }
    }
}

// Store loops: `for (j = j0; j <cmp> n; j += i) a[j] = k` over j [frm-4], n [frm-8], i [frm-12]
// and an eight-cell array from [frm-44], in both condition forms and both body orders.
struct StoreLoop {
    const char* what;
    cell j0 = 0, n = 7, i = 2;
    cell bound = 7;
    cell array = -44;     // where the body's ADDR.ALT points
    cell k = 5;           // the constant stored
    cell stepTo = -4;     // STOR.S.PRI of the step
    bool inside = false;  // sel != 0 jumps straight into the body (the loop cannot fuse)
    bool enter = false;   // sel != 0 lands in the body through SCTRL 6
    bool away = false;    // the closing JUMP goes past the head
};

Built storeLoop(const VmFusedInfo& f, int cmp, const StoreLoop& l) {
    VmImageBuilder b;
    b.GetOptions().stackBytes = 1024;
    b.Label("f");
    b.Op(OP_PROC);
    for (cell v : {l.j0, l.n, l.i}) b.Op(OP_PUSH_C, v);
    for (int c = 0; c < 8; ++c) b.Op(OP_PUSH_C, 0);
    b.Op(OP_LOAD_S_PRI, 12);
    if (l.inside) {
        b.Op(OP_JNZ, "body");
    } else if (l.enter) {
        b.Op(OP_JZER, "head");
        b.Op(OP_CONST_PRI, "body");
        b.Op(OP_SCTRL, 6);
    }
    Built out;
    out.head = b.CodeHere();
    b.Label("head");
    b.Op(OP_LOAD_S_PRI, -4);
    b.Op(OP_LOAD_S_ALT, -8);
    if (f.ops[3] == OP_JZER) {
        b.Op(cmp);
        b.Op(OP_JZER, "done");
    } else {
        b.Op(cmp, "done");
    }
    b.Label("body");
    if (f.ops[f.count - 12] == OP_ADDR_ALT) {
        b.Op(OP_ADDR_ALT, l.array);
        b.Op(OP_LOAD_S_PRI, -4);
        b.Op(OP_BOUNDS, l.bound);
    } else {
        b.Op(OP_LOAD_S_PRI, -4);
        b.Op(OP_BOUNDS, l.bound);
        b.Op(OP_ADDR_ALT, l.array);
    }
    b.Op(OP_IDXADDR);
    b.Op(OP_MOVE_ALT);
    b.Op(OP_CONST_PRI, l.k);
    b.Op(OP_STOR_I);
    b.Op(OP_LOAD_S_PRI, -12);
    b.Op(OP_LOAD_S_ALT, -4);
    b.Op(OP_ADD);
    b.Op(OP_STOR_S_PRI, l.stepTo);
    b.Op(OP_JUMP, l.away ? "done" : "head");
    b.Label("done");
    b.Op(OP_HALT, 0);
    b.AddPublic("f", "f");
    out.image = test::build(b);
    return out;
}

TEST(VmFusion, StoreLoopsMatchTheirPlainInstructions) {
    std::vector<StoreLoop> loops = {
        {"the sieve's strike"},
        {"step 3 from 1", 1, 7, 3},
        {"no pass", 9, 7, 2},
        {"counting down below zero", 6, -3, -2},
        {"past BOUNDS", 0, 20, 3},
        {"a signed and unsigned split", -1, 7, 2},
        {"near INT_MAX", INT32_MAX - 1, INT32_MAX, 1},
        {"a bound past the block end", 0, 7, 2, 0x10000000},
        {"steps that leave the block under that bound", 0, INT32_MAX, 0x1000, 0x10000000},
    };
    StoreLoop alias{"the array over the locals: a[2] is j"}, gap{"the array in the free space"},
        wild{"the array far outside"}, step{"a step that stores outside the block"},
        inside{"a jump into the body"}, enter{"SCTRL 6 into the body"}, away{"a jump that is not the loop's"};
    alias.array = -12;  // a[0] is i, a[1] n, a[2] j
    alias.j0 = 2;
    alias.k = 100;
    gap.array = -400;
    wild.array = 0x40000000;
    step.stepTo = 0x40000000;
    inside.inside = enter.enter = true;
    away.away = true;
    for (const StoreLoop& l : {alias, gap, wild, step, inside, enter, away}) loops.push_back(l);
    StoreLoop intoN{"the loop stores into n"};
    intoN.array = -12;  // a[1] is n
    intoN.j0 = 1;
    intoN.i = 1;
    intoN.k = 3;
    loops.push_back(intoN);

    int forms = 0;
    for (int token = kVmFusedFirst; token < OPF_END; ++token) {
        const VmFusedInfo& f = FusedOpcodeInfo(token);
        if (!f.loop || f.anyCompareAt < 0) continue;
        ++forms;
        const int first = f.ops[2] == OP_EQ ? OP_EQ : OP_JEQ;
        int ok = 0, failed = 0;
        for (int cmp = first; cmp < first + 10; ++cmp) {
            for (const StoreLoop& l : loops) {
                const std::string what = seqName(token) + " with " + OpcodeInfo(cmp).name + ": " + l.what;
                const Built built = storeLoop(f, cmp, l);
                Twin t(built.image);
                ASSERT_TRUE(t.loaded()) << what;
                EXPECT_EQ(codeCell(t.fused.inst, built.head) == token, !l.inside && !l.away) << what;
                EXPECT_EQ(codeCell(t.plain.inst, built.head), OP_LOAD_S_PRI) << what;
                for (cell sel : {0, 1}) {
                    const Outcome fused = callOutcome(t.fused, "f", {sel}),
                                  plain = callOutcome(t.plain, "f", {sel});
                    EXPECT_EQ(fused, plain) << what << " sel " << sel << "\n fused: " << describe(fused)
                                            << "\n plain: " << describe(plain);
                    (plain.err == VM_ERR_NONE ? ok : failed) += 1;
                }
            }
        }
        EXPECT_GT(ok, 0) << seqName(token);
        EXPECT_GT(failed, 0) << seqName(token);
    }
    EXPECT_EQ(forms, 4);
}

int g_naps = 0;
cell napThenCount(VmInstance* inst, const cell*) {
    if (g_naps++ % 2 == 0) vm_RaiseError(inst, VM_ERR_SLEEP);
    return g_naps;
}

TEST(VmFusion, SleepsAroundFusedCodeContinueAlike) {
    // The run sleeps in a native right before a fused sequence and continues into its head; the
    // second pass goes through the patched direct call. HALT 12 sleeps just before one too.
    VmImageBuilder b;
    b.Label("g");
    b.Op(OP_PROC);
    b.Op(OP_PUSH_C, 0);  // s [frm-4]
    b.Op(OP_PUSH_C, 1);  // i [frm-8]
    b.Label("loop");
    b.Op(OP_LOAD_S_PRI, -8);
    b.Op(OP_CONST_ALT, 3);
    b.Op(OP_JSGRTR, "done");
    b.Op(OP_PUSH_C, 0);
    b.Op(OP_SYSREQ_C, "nap");
    b.Op(OP_LOAD_S_ALT, -4);
    b.Op(OP_ADD);
    b.Op(OP_STOR_S_PRI, -4);
    b.Op(OP_HALT, 12);
    b.Op(OP_INC_S, -8);
    b.Op(OP_JUMP, "loop");
    b.Label("done");
    b.Op(OP_LOAD_S_PRI, -4);
    b.Op(OP_HALT, 0);
    b.AddPublic("g", "g");
    const VmNativeEntry natives[] = {{"nap", napThenCount}, {nullptr, nullptr}};
    Twin t(test::build(b), natives);
    ASSERT_TRUE(t.loaded());
    EXPECT_EQ(fusedHeads(t.fused.inst), 3);
    std::vector<Outcome> seen[2];
    for (int which = 0; which < 2; ++which) {
        Vm& vm = which ? t.plain : t.fused;
        g_naps = 0;
        cell ret = 0;
        int err = vm.call("g", {}, &ret);
        seen[which].push_back(capture(vm.inst, err, ret));
        for (int k = 0; err == VM_ERR_SLEEP && k < 20; ++k) {
            err = vm_Exec(&vm.inst, &ret, VM_EXEC_CONTINUE);
            seen[which].push_back(capture(vm.inst, err, ret));
        }
        EXPECT_EQ(err, VM_ERR_NONE);
        EXPECT_EQ(ret, 1 + 2 + 3);  // the native's count, summed over three passes
    }
    EXPECT_EQ(seen[0].size(), 6u);  // two sleeps in the native, three HALT 12, the end
    EXPECT_TRUE(seen[0] == seen[1]);
}

// ---------------------------------------------------------------------------------------------
// Random loop-free programs built mostly from fusible sequences, with labels that sometimes land
// inside them, operands that sometimes leave the block, and forward jumps only.
std::vector<uint8_t> randomProgram(std::mt19937& rng) {
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto frameOffset = [&] {
        static const cell offsets[] = {-4, -8, -12, -16, -20, -24, -28, 12, 16};
        if (pick(16) == 0) return pick(2) ? cell(0x40000000) : cell(-0x40000000);
        return offsets[pick(9)];
    };
    auto value = [&] {
        static const cell values[] = {0, 1, -1, 2, 3, 4, 7, INT32_MIN, INT32_MAX, -28, 0x100};
        return values[pick(11)];
    };
    std::vector<int> ops;
    const int pieces = 4 + pick(12);
    for (int p = 0; p < pieces; ++p) {
        if (pick(3) != 0) {
            const VmFusedInfo& f = FusedOpcodeInfo(kVmFusedFirst + pick(kVmFusedCount));
            ops.insert(ops.end(), f.ops, f.ops + f.count);
        } else {
            static const int singles[] = {OP_LOAD_S_PRI, OP_LOAD_S_ALT, OP_ADD,  OP_MOVE_ALT, OP_CONST_PRI,
                                          OP_INC_S,      OP_STOR_S_PRI, OP_LIDX, OP_XCHG,     OP_SMUL};
            ops.push_back(singles[pick(10)]);
        }
    }
    // Labels on random instructions (each one a possible jump target), and one at the end.
    std::vector<int> labelled;
    for (size_t i = 1; i < ops.size(); ++i)
        if (pick(4) == 0) labelled.push_back(int(i));
    labelled.push_back(int(ops.size()));

    VmImageBuilder b;
    b.GetOptions().stackBytes = 512;
    b.Label("p");
    b.Op(OP_PROC);
    for (cell v : {3, -1, 2, 0, 1, 7, INT32_MAX}) b.Op(OP_PUSH_C, v);
    b.Op(OP_CONST_PRI, value());
    b.Op(OP_CONST_ALT, value());
    size_t next_label = 0;
    for (size_t i = 0; i < ops.size(); ++i) {
        if (next_label < labelled.size() && labelled[next_label] == int(i))
            b.Label("L" + std::to_string(next_label++));
        const int op = ops[i];
        if (hasFrameOperand(op)) {
            b.Op(op, frameOffset());
        } else if (OpcodeInfo(op).operand == VmOperand::Code) {
            const size_t target = next_label + size_t(pick(int(labelled.size() - next_label)));
            b.Op(op, "L" + std::to_string(target));
        } else if (OpcodeInfo(op).operand == VmOperand::Value) {
            b.Op(op, op == OP_BOUNDS ? cell(pick(8)) : value());
        } else {
            b.Op(op);
        }
    }
    b.Label("L" + std::to_string(labelled.size() - 1));
    b.Op(OP_HALT, 0);
    b.AddPublic("p", "p");
    return test::build(b);
}

TEST(VmFusion, RandomProgramsRunAlikeFusedAndPlain) {
    std::mt19937 rng(20240611);
    int fused_total = 0, errors = 0;
    for (int n = 0; n < 400; ++n) {
        Twin t(randomProgram(rng));
        ASSERT_TRUE(t.loaded()) << n;
        fused_total += fusedHeads(t.fused.inst);
        const Outcome fused = callOutcome(t.fused, "p", {5, 9}), plain = callOutcome(t.plain, "p", {5, 9});
        ASSERT_EQ(fused, plain) << "program " << n << "\n fused: " << describe(fused)
                                << "\n plain: " << describe(plain);
        errors += plain.err != VM_ERR_NONE;
    }
    EXPECT_GT(fused_total, 400);
    EXPECT_GT(errors, 20);
    EXPECT_LT(errors, 380);
}

}  // namespace
}  // namespace velt
