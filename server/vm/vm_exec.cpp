// The interpreter: token-threaded dispatch (computed goto through a handler table indexed by the
// opcode cell, or by the fused token the loader put at the head of a common sequence), registers
// in locals, and containment of every data access inside the script's own block.
//
// What the loader proved (opcode cells, instruction lengths, static targets, case tables, native
// operands, no fall-through past the last instruction) is not checked again here. What a script
// can change at run time is: every data address is checked against the block end (and, for the
// indirect forms the instruction set validates, against the free space between heap and stack);
// pushes stop at the heap, pops at the stack top, and RET, RETN and SCTRL 6 must land on an
// instruction start. Invariant while running: heap_low <= HEA <= STK <= stack_top. The one
// exception: inside a frame that holds every offset the code gives its frame loads, stores and
// increments, those skip a check that could not fail (see uncheckedHandlers).

#include <cstring>

#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"
#include "server/vm/vm_internal.h"

namespace velt {

using namespace vm_internal;

#ifdef VELT_VM_STEP_BUDGET
namespace vm_internal {
int64_t g_stepBudget = -1;
}
#endif

namespace {

// Floored division: the remainder takes the sign of the divisor. INT32_MIN / -1 wraps to
// INT32_MIN with remainder 0 instead of trapping.
inline void FloorDiv(cell num, cell den, cell& quot, cell& rem) {
    if (den == -1) {
        quot = cell(0u - ucell(num));
        rem = 0;
        return;
    }
    quot = num / den;
    rem = num % den;
    if (rem != 0 && (rem ^ den) < 0) {
        quot -= 1;
        rem += den;
    }
}

#ifdef VELT_VM_STEP_BUDGET
// One instruction's step, for an instruction run without a dispatch. With none left it is not
// taken: the dispatch that follows stops the run there.
inline bool TakeStep() {
    if (vm_internal::g_stepBudget < 0) return true;
    if (vm_internal::g_stepBudget == 0) return false;
    --vm_internal::g_stepBudget;
    return true;
}
// The steps of `n` instructions run without a dispatch, all or none.
inline bool TakeSteps(int64_t n) {
    if (vm_internal::g_stepBudget < 0) return true;
    if (vm_internal::g_stepBudget < n) return false;
    vm_internal::g_stepBudget -= n;
    return true;
}
#else
// Two consecutive cells of the code (little-endian like the block).
inline uint64_t LoadPair(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
#endif

}  // namespace

int vm_Exec(VmInstance* inst, cell* retval, int index) {
    if (inst->flags & VMF_BROWSE) return VM_ERR_NONE;  // opcode cells are their own handler tokens
    if (!inst->native_dispatch) return VM_ERR_CALLBACK;
    if (!(inst->flags & VMF_NATIVES_READY)) return VM_ERR_NOTFOUND;
    if (!(inst->flags & VMF_RELOCATED)) return VM_ERR_INIT;

#define VELT_R8(x) x, x, x, x, x, x, x, x
#define VELT_OP_LABEL(num, id, name, operand) &&L_##id,
#define VELT_FUSED_LABEL(id, ...) &&LF_##id,
    static const void* const handlers[] = {
        VELT_VM_OPCODES(VELT_OP_LABEL) VELT_VM_FUSED_LOOPS(VELT_FUSED_LABEL)
            VELT_VM_FUSED_STORE_LOOPS(VELT_FUSED_LABEL) VELT_VM_FUSED(VELT_FUSED_LABEL)
        // Tokens nobody writes: unreachable after load, but never a wild jump.
        VELT_R8(&&L_NONE),
        VELT_R8(&&L_NONE), VELT_R8(&&L_NONE), &&L_NONE};
#undef VELT_FUSED_LABEL
#undef VELT_OP_LABEL
#undef VELT_R8
    static_assert(sizeof handlers / sizeof handlers[0] == 256, "one handler for every token");
    // The same, with frame accesses that skip their check: in use while the frame holds every
    // offset the code names for them (VmInstance::frameOffsetLow, frameOffsetEnd), where no check
    // could fail.
    static const void* uncheckedHandlers[256];

    // Not const: PIN() names them as register operands.
    uint8_t* code = CodeBase(inst);
    uint8_t* data = DataBase(inst);
    const uint8_t* const codeEnd = code + inst->codeSize;
    cell stp = inst->stack_top;
    const cell hlw = inst->heap_low;
    const cell hdrCod = cell(ReadU32(inst->image + 12));
    const cell hdrDat = cell(ReadU32(inst->image + 16));

    cell pri = 0, alt = 0, frm = 0;
    cell hea = inst->heap, stk = inst->stack;
    // The frames that hold every unchecked offset: FRM - uncheckedLow in [0, uncheckedSpan] as
    // unsigned cells. The span stays below STP, so no FRM outside wraps into it.
    cell uncheckedLow = 0;
    ucell uncheckedSpan = 0;
    const void* const* uncheckedTable = handlers;
    if (inst->frameOffsetLow < inst->frameOffsetEnd && -inst->frameOffsetLow <= INT32_MAX &&
        int64_t(stp) - inst->frameOffsetEnd >= -inst->frameOffsetLow) {
        uncheckedLow = cell(-inst->frameOffsetLow);
        uncheckedSpan = ucell(int64_t(stp) - inst->frameOffsetEnd - uncheckedLow);
        uncheckedTable = uncheckedHandlers;
    }
    const void* const* table = handlers;
    uint8_t* fp = data;  // data + FRM, used only inside such a frame
    cell resetHea = hea, resetStk = stk;
    const uint8_t* cip = nullptr;
    int err = VM_ERR_NONE;
    cell nidx = 0;
    // The instance and the result pointer serve only the cold paths (native calls, BREAK, HALT,
    // errors): they wait in the stack frame, so the machine registers go to the hot state.
    VmInstance* volatile coldInst = inst;
    cell* volatile coldRetval = retval;

    if (index == VM_EXEC_CONTINUE) {
        frm = inst->frame;
        pri = inst->reg_pri;
        alt = inst->reg_alt;
        resetStk = inst->resume_stack;
        resetHea = inst->resume_heap;
        if (!IsInstructionStart(inst, ucell(inst->cip))) return VM_ERR_MEMACCESS;
        cip = code + inst->cip;
    } else if (index == VM_EXEC_MAIN) {
        cell mainEntry = cell(ReadU32(inst->image + 28));
        if (mainEntry < 0) return VM_ERR_INDEX;
        cip = code + mainEntry;
    } else if (index >= 0) {
        VmTable pubs = Table(inst->image, TableKind::Publics);
        if (index >= pubs.count) return VM_ERR_INDEX;
        cip = code + ReadU32(pubs.Entry(index));
    } else {
        return VM_ERR_INDEX;
    }
    if (stk > stp) return VM_ERR_STACKLOW;
    if (hea < hlw) return VM_ERR_HEAPLOW;
    if (index != VM_EXEC_CONTINUE) {
        const int64_t args = int64_t(inst->pushed_args) * 4;
        if (args < 0 || int64_t(stk) + args > stp) return VM_ERR_STACKLOW;
        if (int64_t(hea) + 64 > int64_t(stk) - 8) return VM_ERR_STACKERR;
        resetStk = cell(stk + args);
        inst->pushed_args = 0;
        stk -= 4;
        StoreBlockCell(data + stk, cell(args));
        stk -= 4;
        StoreBlockCell(data + stk, 0);
    }
    if (int64_t(hea) + 64 > stk) return VM_ERR_STACKERR;

// After every change of FRM: the handler table that fits the new frame.
#define FRAME_CHANGED()                                                                                \
    do {                                                                                               \
        table = ucell(frm) - ucell(uncheckedLow) <= uncheckedSpan ? uncheckedTable : handlers;         \
        fp = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(data) + uintptr_t(intptr_t(frm))); \
    } while (0)

#define OPND() LoadBlockCell(cip + 4)
#define INST (static_cast<VmInstance*>(coldInst))  // the instance, from its stack slot
        // Pins the hot state to machine registers at every dispatch. Left alone, the compiler keeps FRM
        // and the code base in stack slots, and every frame access and every jump pays an extra load.
        // The statement is empty: it only says these values live in registers here. FRM goes in as an
        // input only: as an in-out operand it cost two register copies at every dispatch.
#define PIN()                                                        \
    __asm__(""                                                       \
            : "+r"(code), "+r"(pri), "+r"(alt), "+r"(stk), "+r"(hea) \
            : "r"(data), "r"(stp), "r"(table), "r"(fp))
#ifdef VELT_VM_STEP_BUDGET
// An exhausted budget stays at 0, so runs that follow (an outer run after a nested one) stop too.
#define NEXT()                                          \
    do {                                                \
        if (g_stepBudget >= 0) {                        \
            if (g_stepBudget == 0) ABORT(VM_ERR_EXIT);  \
            --g_stepBudget;                             \
        }                                               \
        PIN();                                          \
        goto* table[ucell(LoadBlockCell(cip)) & 0xFFu]; \
    } while (0)
#else
#define NEXT()                                          \
    do {                                                \
        PIN();                                          \
        goto* table[ucell(LoadBlockCell(cip)) & 0xFFu]; \
    } while (0)
#endif
#define ABORT(e)       \
    do {               \
        err = (e);     \
        goto abortRun; \
    } while (0)
#define UNLIKELY(x) __builtin_expect(!!(x), 0)
#define LIKELY(x) __builtin_expect(!!(x), 1)
// Inside the block: enough for containment, used where the instruction set promises no check.
#define CHK(a) \
    if (UNLIKELY(ucell(a) >= ucell(stp))) ABORT(VM_ERR_MEMACCESS)
        // The instruction set's validated access: also refuses the free space between heap and stack.
// The gap test is one unsigned compare: A - HEA < STK - HEA exactly when HEA <= A < STK.
#define VALID(a)                                                                             \
    if (UNLIKELY(ucell(a) >= ucell(stp) || ucell(a) - ucell(hea) < ucell(stk) - ucell(hea))) \
    ABORT(VM_ERR_MEMACCESS)
#define VALID_BLOCK(a, n)                                                                \
    do {                                                                                 \
        VALID(a);                                                                        \
        const int64_t end_ = int64_t(ucell(a)) + int64_t(ucell(n));                      \
        if (UNLIKELY(end_ > stp || (end_ > hea && end_ < stk))) ABORT(VM_ERR_MEMACCESS); \
    } while (0)
#define PUSH(v)                                              \
    do {                                                     \
        if (UNLIKELY(stk - 4 < hea)) ABORT(VM_ERR_STACKERR); \
        stk -= 4;                                            \
        StoreBlockCell(data + stk, (v));                     \
    } while (0)
#define POP(v)                                               \
    do {                                                     \
        if (UNLIKELY(stk > stp - 4)) ABORT(VM_ERR_STACKLOW); \
        (v) = LoadBlockCell(data + stk);                     \
        stk += 4;                                            \
    } while (0)
#define FRAME(off) ucell(ucell(frm) + ucell(off))
#define ADD32(a, b) cell(ucell(a) + ucell(b))
#ifdef VELT_VM_STEP_BUDGET
// A fused instruction stands for `n` steps. With fewer left, its head runs alone and the plain
// instructions after it go on, so the run stops exactly where the unfused code would.
#define FUSED(n, head)                           \
    do {                                         \
        if (g_stepBudget >= 0) {                 \
            if (g_stepBudget < (n)-1) goto head; \
            g_stepBudget -= (n)-1;               \
        }                                        \
    } while (0)
#else
#define FUSED(n, head) \
    do {               \
    } while (0)
#endif
// dst = the frame local whose offset is the operand cell at cip + at.
#define LOCAL(dst, at)                                     \
    do {                                                   \
        const ucell a_ = FRAME(LoadBlockCell(cip + (at))); \
        CHK(a_);                                           \
        (dst) = LoadBlockCell(data + a_);                  \
    } while (0)
// The comparisons EQ..SGEQ, each with its conditional jump and its condition on PRI and ALT.
#define VELT_CMP(Y)                         \
    Y(EQ, JEQ, pri == alt)                  \
    Y(NEQ, JNEQ, pri != alt)                \
    Y(LESS, JLESS, ucell(pri) < ucell(alt)) \
    Y(LEQ, JLEQ, ucell(pri) <= ucell(alt))  \
    Y(GRTR, JGRTR, ucell(pri) > ucell(alt)) \
    Y(GEQ, JGEQ, ucell(pri) >= ucell(alt))  \
    Y(SLESS, JSLESS, pri < alt)             \
    Y(SLEQ, JSLEQ, pri <= alt)              \
    Y(SGRTR, JSGRTR, pri > alt)             \
    Y(SGEQ, JSGEQ, pri >= alt)
#define JUMP_IF(cond)            \
    do {                         \
        if (cond)                \
            cip = code + OPND(); \
        else                     \
            cip += 8;            \
        NEXT();                  \
    } while (0)

// Opcode prediction: where the compiler nearly always writes one instruction after another, the
// first handler runs the second inline when it is there, so the pair pays one dispatch. Each
// instruction still runs whole and in order. Fuzz builds count the second one as its own step.
// The follower's opcode cell is read once: it decides the prediction and, when the guess is wrong,
// is the dispatch itself.
#ifdef VELT_VM_STEP_BUDGET
#define FOLLOWS(c, op) ((c) == cell(OP_##op) && TakeStep())
#define PAIR_FOLLOWS(at, a, b)                                                                     \
    (LoadBlockCell(cip + (at)) == cell(OP_##a) && LoadBlockCell(cip + (at) + 4) == cell(OP_##b) && \
     TakeSteps(2))
#define NEXT_FROM(c) NEXT()
#else
#define FOLLOWS(c, op) __builtin_expect((c) == cell(OP_##op), 1)
// Two instructions without operands follow at cip + at, compared as one 8-byte load.
#define PAIR_FOLLOWS(at, a, b) \
    __builtin_expect(LoadPair(cip + (at)) == (uint64_t(OP_##a) | uint64_t(OP_##b) << 32), 1)
#define NEXT_FROM(c)                   \
    do {                               \
        PIN();                         \
        goto* table[ucell(c) & 0xFFu]; \
    } while (0)
#endif

    static const bool uncheckedReady = ({
        std::memcpy(uncheckedHandlers, handlers, sizeof handlers);
        uncheckedHandlers[OP_LOAD_S_PRI] = &&LU_LOAD_S_PRI;
        uncheckedHandlers[OP_LOAD_S_ALT] = &&LU_LOAD_S_ALT;
        uncheckedHandlers[OP_STOR_S_PRI] = &&LU_STOR_S_PRI;
        uncheckedHandlers[OP_INC_S] = &&LU_INC_S;
        uncheckedHandlers[OP_ADD] = &&LU_ADD;
        uncheckedHandlers[OPF_LSS_ADD_SS] = &&LFU_LSS_ADD_SS;
        uncheckedHandlers[OPF_INCS_JUMP] = &&LFU_INCS_JUMP;
        uncheckedHandlers[OPF_ALSB_LIDX] = &&LFU_ALSB_LIDX;
        uncheckedHandlers[OPF_ALSB_IDXADDR] = &&LFU_ALSB_IDXADDR;
        uncheckedHandlers[OPF_LSB_LIDX] = &&LFU_LSB_LIDX;
        uncheckedHandlers[OPF_LSB_IDXADDR] = &&LFU_LSB_IDXADDR;
        uncheckedHandlers[OPF_LSS_ADD_SS_JUMP] = &&LFU_LSS_ADD_SS_JUMP;
        uncheckedHandlers[OPF_LS_ADDC_PUSH] = &&LFU_LS_ADDC_PUSH;
        uncheckedHandlers[OPF_ALSB_STORE_C] = &&LFU_ALSB_STORE_C;
        uncheckedHandlers[OPF_LSB_STORE_C] = &&LFU_LSB_STORE_C;
        uncheckedHandlers[OPF_ALSB_LIDX_JZER] = &&LFU_ALSB_LIDX_JZER;
        uncheckedHandlers[OPF_ALSB_LIDX_JNZ] = &&LFU_ALSB_LIDX_JNZ;
        uncheckedHandlers[OPF_LSB_LIDX_JZER] = &&LFU_LSB_LIDX_JZER;
        uncheckedHandlers[OPF_LSB_LIDX_JNZ] = &&LFU_LSB_LIDX_JNZ;
#define UNCHECKED_CMP(id, jcc, cond)                                \
    uncheckedHandlers[OPF_LSS_##id##_JZER] = &&LFU_LSS_##id##_JZER; \
    uncheckedHandlers[OPF_LSC_##id##_JZER] = &&LFU_LSC_##id##_JZER; \
    uncheckedHandlers[OPF_LSS_##jcc] = &&LFU_LSS_##jcc;             \
    uncheckedHandlers[OPF_LSC_##jcc] = &&LFU_LSC_##jcc;
        VELT_CMP(UNCHECKED_CMP)
#undef UNCHECKED_CMP
        true;
    });
    (void)uncheckedReady;
    FRAME_CHANGED();
    NEXT();

L_NONE:
L_CALL_PRI:
L_FILE:
L_JUMP_PRI:
L_CASETBL:
    ABORT(VM_ERR_INVINSTR);

L_LOAD_PRI : {
    cell a = OPND();
    CHK(a);
    pri = LoadBlockCell(data + a);
    cip += 8;
    NEXT();
}
L_LOAD_ALT : {
    cell a = OPND();
    CHK(a);
    alt = LoadBlockCell(data + a);
    cip += 8;
    NEXT();
}
L_LOAD_S_PRI : {
    ucell a = FRAME(OPND());
    CHK(a);
    pri = LoadBlockCell(data + a);
    const cell n = LoadBlockCell(cip + 8);
    if (FOLLOWS(n, LOAD_S_ALT)) {
        LOCAL(alt, 12);
        cip += 16;
        NEXT();
    }
    cip += 8;
    if (FOLLOWS(n, RETN)) goto L_RETN;
    NEXT_FROM(n);
}
L_LOAD_S_ALT : {
    ucell a = FRAME(OPND());
    CHK(a);
    alt = LoadBlockCell(data + a);
    cip += 8;
    NEXT();
}
L_LREF_PRI : {
    cell a = OPND();
    CHK(a);
    cell b = LoadBlockCell(data + a);
    CHK(b);
    pri = LoadBlockCell(data + b);
    cip += 8;
    NEXT();
}
L_LREF_ALT : {
    cell a = OPND();
    CHK(a);
    cell b = LoadBlockCell(data + a);
    CHK(b);
    alt = LoadBlockCell(data + b);
    cip += 8;
    NEXT();
}
L_LREF_S_PRI : {
    ucell a = FRAME(OPND());
    CHK(a);
    cell b = LoadBlockCell(data + a);
    CHK(b);
    pri = LoadBlockCell(data + b);
    cip += 8;
    NEXT();
}
L_LREF_S_ALT : {
    ucell a = FRAME(OPND());
    CHK(a);
    cell b = LoadBlockCell(data + a);
    CHK(b);
    alt = LoadBlockCell(data + b);
    cip += 8;
    NEXT();
}
L_LOAD_I : {
    VALID(pri);
    pri = LoadBlockCell(data + pri);
    cip += 4;
    NEXT();
}
L_LODB_I : {
    VALID(pri);
    switch (OPND()) {
        case 1: pri = data[pri]; break;
        case 2: {
            uint16_t v;
            std::memcpy(&v, data + pri, 2);
            pri = v;
            break;
        }
        case 4: pri = LoadBlockCell(data + pri); break;
        default: break;
    }
    cip += 8;
    NEXT();
}
L_CONST_PRI : {
    pri = OPND();
    cip += 8;
    NEXT();
}
L_CONST_ALT : {
    alt = OPND();
    cip += 8;
    NEXT();
}
L_ADDR_PRI : {
    pri = ADD32(frm, OPND());
    cip += 8;
    NEXT();
}
// The compiler's access to an element of a local array: ADDR.ALT, LOAD.S.PRI, BOUNDS, then LIDX
// (and the zero test of `if (a[i])`) or IDXADDR (and the store of `a[i] = k`). Each instruction that
// follows as predicted runs here, in order, without a dispatch of its own.
L_ADDR_ALT : {
    alt = ADD32(frm, OPND());
    cell n = LoadBlockCell(cip + 8);
    if (FOLLOWS(n, LOAD_S_PRI)) {
        LOCAL(pri, 12);
        n = LoadBlockCell(cip + 16);
        if (FOLLOWS(n, BOUNDS)) {
            if (UNLIKELY(ucell(pri) > ucell(LoadBlockCell(cip + 20)))) ABORT(VM_ERR_BOUNDS);
            n = LoadBlockCell(cip + 24);
            if (FOLLOWS(n, IDXADDR)) {
                pri = cell(ucell(alt) + ucell(pri) * 4u);
                // `a[i] = k`
                n = LoadBlockCell(cip + 28);
                if (FOLLOWS(n, MOVE_ALT)) {
                    alt = pri;
                    n = LoadBlockCell(cip + 32);
                    if (FOLLOWS(n, CONST_PRI)) {
                        pri = LoadBlockCell(cip + 36);
                        n = LoadBlockCell(cip + 40);
                        if (FOLLOWS(n, STOR_I)) {
                            VALID(alt);
                            StoreBlockCell(data + alt, pri);
                            cip += 44;
                            NEXT();
                        }
                        cip += 40;
                        NEXT_FROM(n);
                    }
                    cip += 32;
                    NEXT_FROM(n);
                }
                cip += 28;
                NEXT_FROM(n);
            }
            if (FOLLOWS(n, LIDX)) {
                const ucell a = ucell(alt) + ucell(pri) * 4u;
                VALID(a);
                pri = LoadBlockCell(data + a);
                // `if (a[i])`
                n = LoadBlockCell(cip + 28);
                if (FOLLOWS(n, JZER)) {
                    cip = pri == 0 ? code + LoadBlockCell(cip + 32) : cip + 36;
                    NEXT();
                }
                if (FOLLOWS(n, JNZ)) {
                    cip = pri != 0 ? code + LoadBlockCell(cip + 32) : cip + 36;
                    NEXT();
                }
                cip += 28;
                NEXT_FROM(n);
            }
            cip += 24;
            NEXT_FROM(n);
        }
        cip += 16;
        NEXT_FROM(n);
    }
    cip += 8;
    NEXT_FROM(n);
}
L_STOR_PRI : {
    cell a = OPND();
    CHK(a);
    StoreBlockCell(data + a, pri);
    cip += 8;
    NEXT();
}
L_STOR_ALT : {
    cell a = OPND();
    CHK(a);
    StoreBlockCell(data + a, alt);
    cip += 8;
    NEXT();
}
L_STOR_S_PRI : {
    ucell a = FRAME(OPND());
    CHK(a);
    StoreBlockCell(data + a, pri);
    cip += 8;
    NEXT();
}
L_STOR_S_ALT : {
    ucell a = FRAME(OPND());
    CHK(a);
    StoreBlockCell(data + a, alt);
    cip += 8;
    NEXT();
}
L_SREF_PRI : {
    cell a = OPND();
    CHK(a);
    cell b = LoadBlockCell(data + a);
    CHK(b);
    StoreBlockCell(data + b, pri);
    cip += 8;
    NEXT();
}
L_SREF_ALT : {
    cell a = OPND();
    CHK(a);
    cell b = LoadBlockCell(data + a);
    CHK(b);
    StoreBlockCell(data + b, alt);
    cip += 8;
    NEXT();
}
L_SREF_S_PRI : {
    ucell a = FRAME(OPND());
    CHK(a);
    cell b = LoadBlockCell(data + a);
    CHK(b);
    StoreBlockCell(data + b, pri);
    cip += 8;
    NEXT();
}
L_SREF_S_ALT : {
    ucell a = FRAME(OPND());
    CHK(a);
    cell b = LoadBlockCell(data + a);
    CHK(b);
    StoreBlockCell(data + b, alt);
    cip += 8;
    NEXT();
}
L_STOR_I : {
    VALID(alt);
    StoreBlockCell(data + alt, pri);
    cip += 4;
    NEXT();
}
L_STRB_I : {
    VALID(alt);
    switch (OPND()) {
        case 1: data[alt] = uint8_t(pri); break;
        case 2: {
            uint16_t v = uint16_t(pri);
            std::memcpy(data + alt, &v, 2);
            break;
        }
        case 4: StoreBlockCell(data + alt, pri); break;
        default: break;
    }
    cip += 8;
    NEXT();
}
L_LIDX : {
    ucell a = ucell(alt) + ucell(pri) * 4u;
    VALID(a);
    pri = LoadBlockCell(data + a);
    cip += 4;
    NEXT();
}
L_LIDX_B : {
    ucell a = ucell(alt) + (ucell(pri) << (ucell(OPND()) & 31));
    VALID(a);
    pri = LoadBlockCell(data + a);
    cip += 8;
    NEXT();
}
L_IDXADDR : {
    pri = cell(ucell(alt) + ucell(pri) * 4u);
    cip += 4;
    NEXT();
}
L_IDXADDR_B : {
    pri = cell(ucell(alt) + (ucell(pri) << (ucell(OPND()) & 31)));
    cip += 8;
    NEXT();
}
L_ALIGN_PRI : {
    ucell n = ucell(OPND());
    if (n < 4) pri ^= cell(4 - n);
    cip += 8;
    NEXT();
}
L_ALIGN_ALT : {
    ucell n = ucell(OPND());
    if (n < 4) alt ^= cell(4 - n);
    cip += 8;
    NEXT();
}
L_LCTRL : {
    switch (OPND()) {
        case 0: pri = hdrCod; break;
        case 1: pri = hdrDat; break;
        case 2: pri = hea; break;
        case 3: pri = stp; break;
        case 4: pri = stk; break;
        case 5: pri = frm; break;
        case 6: pri = cell(cip + 8 - code); break;
        default: break;
    }
    cip += 8;
    NEXT();
}
L_SCTRL : {
    switch (OPND()) {
        case 2:
            if (pri < hlw) ABORT(VM_ERR_HEAPLOW);
            if (pri > stk) ABORT(VM_ERR_STACKERR);
            hea = pri;
            break;
        case 4:
            if (pri > stp) ABORT(VM_ERR_STACKLOW);
            if (pri < hea) ABORT(VM_ERR_STACKERR);
            stk = pri;
            break;
        case 5:
            frm = pri;
            FRAME_CHANGED();
            break;
        case 6:
            if (!IsInstructionStart(INST, ucell(pri))) ABORT(VM_ERR_MEMACCESS);
            cip = code + pri;
            NEXT();
        default: break;
    }
    cip += 8;
    NEXT();
}
L_MOVE_PRI : {
    pri = alt;
    cip += 4;
    NEXT();
}
L_MOVE_ALT : {
    alt = pri;
    cip += 4;
    NEXT();
}
L_XCHG : {
    cell t = pri;
    pri = alt;
    alt = t;
    cip += 4;
    NEXT();
}
L_PUSH_PRI : {
    PUSH(pri);
    cip += 4;
    NEXT();
}
L_PUSH_ALT : {
    PUSH(alt);
    cip += 4;
    NEXT();
}
L_PUSH_R : {
    for (cell n = OPND(); n > 0; --n) PUSH(pri);
    cip += 8;
    NEXT();
}
L_PUSH_C : {
    const cell n = LoadBlockCell(cip + 8);
    if (FOLLOWS(n, CALL)) {  // the size of a call's arguments, then the call
        const uint8_t* const target = code + LoadBlockCell(cip + 12);
        // And nearly always the callee's PROC: with room for all three cells (and PROC's margin
        // above the heap), one check serves them.
        if (LIKELY(int64_t(hea) + 64 <= int64_t(stk) - 12) && FOLLOWS(LoadBlockCell(target), PROC)) {
            StoreBlockCell(data + (stk - 4), OPND());
            StoreBlockCell(data + (stk - 8), cell(cip + 16 - code));
            StoreBlockCell(data + (stk - 12), frm);
            stk -= 12;
            frm = stk;
            FRAME_CHANGED();
            cip = target + 4;
            NEXT();
        }
        PUSH(OPND());
        PUSH(cell(cip + 16 - code));
        cip = target;
        NEXT();
    }
    PUSH(OPND());
    cip += 8;
    NEXT_FROM(n);
}
L_PUSH : {
    cell a = OPND();
    CHK(a);
    PUSH(LoadBlockCell(data + a));
    cip += 8;
    NEXT();
}
L_PUSH_S : {
    ucell a = FRAME(OPND());
    CHK(a);
    PUSH(LoadBlockCell(data + a));
    cip += 8;
    NEXT();
}
L_POP_PRI : {
    POP(pri);
    cip += 4;
    NEXT();
}
L_POP_ALT : {
    POP(alt);
    cip += 4;
    NEXT();
}
L_STACK : {
    const int64_t n = int64_t(stk) + OPND();
    alt = stk;
    if (int64_t(hea) + 64 > n) ABORT(VM_ERR_STACKERR);
    if (n > stp) ABORT(VM_ERR_STACKLOW);
    stk = cell(n);
    cip += 8;
    NEXT();
}
L_HEAP : {
    const int64_t n = int64_t(hea) + OPND();
    alt = hea;
    if (n + 64 > stk) ABORT(VM_ERR_STACKERR);
    if (n < hlw) ABORT(VM_ERR_HEAPLOW);
    hea = cell(n);
    cip += 8;
    NEXT();
}
L_PROC : {
    if (LIKELY(int64_t(hea) + 64 <= int64_t(stk) - 4)) {  // the push and the margin, in one check
        stk -= 4;
        StoreBlockCell(data + stk, frm);
        frm = stk;
        FRAME_CHANGED();
        cip += 4;
        NEXT();
    }
    PUSH(frm);
    frm = stk;
    if (int64_t(hea) + 64 > stk) ABORT(VM_ERR_STACKERR);
    FRAME_CHANGED();
    cip += 4;
    NEXT();
}
L_RET : {
    cell ra;
    POP(frm);
    POP(ra);
    if (!IsInstructionStart(INST, ucell(ra))) ABORT(VM_ERR_MEMACCESS);
    FRAME_CHANGED();
    cip = code + ra;
    NEXT();
}
L_RETN : {
    // The usual case first: the three cells on the stack, read at once.
    if (LIKELY(stk <= stp - 12)) {
        const cell ra = LoadBlockCell(data + stk + 4);
        if (UNLIKELY(!IsInstructionStart(INST, ucell(ra)))) ABORT(VM_ERR_MEMACCESS);
        const int64_t s = int64_t(stk) + 12 + LoadBlockCell(data + stk + 8);
        if (UNLIKELY(s > stp)) ABORT(VM_ERR_STACKLOW);
        if (UNLIKELY(s < hea)) ABORT(VM_ERR_STACKERR);
        frm = LoadBlockCell(data + stk);
        stk = cell(s);
        FRAME_CHANGED();
        cip = code + ra;
        NEXT();
    }
    cell ra, n;
    POP(frm);
    POP(ra);
    if (!IsInstructionStart(INST, ucell(ra))) ABORT(VM_ERR_MEMACCESS);
    POP(n);
    const int64_t s = int64_t(stk) + n;
    if (s > stp) ABORT(VM_ERR_STACKLOW);
    if (s < hea) ABORT(VM_ERR_STACKERR);
    stk = cell(s);
    FRAME_CHANGED();
    cip = code + ra;
    NEXT();
}
L_CALL : {
    PUSH(cell(cip + 8 - code));
    cip = code + OPND();
    NEXT();
}
L_JUMP : {
    cip = code + OPND();
    NEXT();
}
L_JREL : {
    cip = cip + 8 + OPND();
    NEXT();
}
L_JZER:
    JUMP_IF(pri == 0);
L_JNZ:
    JUMP_IF(pri != 0);
#define PLAIN_JCC(cmp, id, cond) L_##id : JUMP_IF(cond);
    VELT_CMP(PLAIN_JCC)
#undef PLAIN_JCC
L_SHL : {
    pri = cell(ucell(pri) << (ucell(alt) & 31));
    cip += 4;
    NEXT();
}
L_SHR : {
    pri = cell(ucell(pri) >> (ucell(alt) & 31));
    cip += 4;
    NEXT();
}
L_SSHR : {
    pri = pri >> (ucell(alt) & 31);
    cip += 4;
    NEXT();
}
L_SHL_C_PRI : {
    pri = cell(ucell(pri) << (ucell(OPND()) & 31));
    cip += 8;
    NEXT();
}
L_SHL_C_ALT : {
    alt = cell(ucell(alt) << (ucell(OPND()) & 31));
    cip += 8;
    NEXT();
}
L_SHR_C_PRI : {
    pri = cell(ucell(pri) >> (ucell(OPND()) & 31));
    cip += 8;
    NEXT();
}
L_SHR_C_ALT : {
    alt = cell(ucell(alt) >> (ucell(OPND()) & 31));
    cip += 8;
    NEXT();
}
L_SMUL:
L_UMUL : {
    pri = cell(ucell(pri) * ucell(alt));
    cip += 4;
    NEXT();
}
L_SDIV : {
    if (alt == 0) ABORT(VM_ERR_DIVIDE);
    FloorDiv(pri, alt, pri, alt);
    cip += 4;
    NEXT();
}
L_SDIV_ALT : {
    if (pri == 0) ABORT(VM_ERR_DIVIDE);
    FloorDiv(alt, pri, pri, alt);
    cip += 4;
    NEXT();
}
L_UDIV : {
    if (alt == 0) ABORT(VM_ERR_DIVIDE);
    ucell q = ucell(pri) / ucell(alt), r = ucell(pri) % ucell(alt);
    pri = cell(q);
    alt = cell(r);
    cip += 4;
    NEXT();
}
L_UDIV_ALT : {
    if (pri == 0) ABORT(VM_ERR_DIVIDE);
    ucell q = ucell(alt) / ucell(pri), r = ucell(alt) % ucell(pri);
    pri = cell(q);
    alt = cell(r);
    cip += 4;
    NEXT();
}
L_ADD : {
    pri = ADD32(pri, alt);
    const cell n = LoadBlockCell(cip + 4);
    if (FOLLOWS(n, STOR_S_PRI)) {
        const ucell a = FRAME(LoadBlockCell(cip + 8));
        CHK(a);
        StoreBlockCell(data + a, pri);
        cip += 12;
        NEXT();
    }
    cip += 4;
    NEXT_FROM(n);
}
L_SUB : {
    pri = cell(ucell(pri) - ucell(alt));
    cip += 4;
    NEXT();
}
L_SUB_ALT : {
    pri = cell(ucell(alt) - ucell(pri));
    cip += 4;
    NEXT();
}
L_AND : {
    pri &= alt;
    cip += 4;
    NEXT();
}
L_OR : {
    pri |= alt;
    cip += 4;
    NEXT();
}
L_XOR : {
    pri ^= alt;
    cip += 4;
    NEXT();
}
L_NOT : {
    pri = pri == 0;
    cip += 4;
    NEXT();
}
L_NEG : {
    pri = cell(0u - ucell(pri));
    cip += 4;
    NEXT();
}
L_INVERT : {
    pri = ~pri;
    cip += 4;
    NEXT();
}
L_ADD_C : {
    pri = ADD32(pri, OPND());
    cip += 8;
    NEXT();
}
L_SMUL_C : {
    pri = cell(ucell(pri) * ucell(OPND()));
    cip += 8;
    NEXT();
}
L_ZERO_PRI : {
    pri = 0;
    cip += 4;
    NEXT();
}
L_ZERO_ALT : {
    alt = 0;
    cip += 4;
    NEXT();
}
L_ZERO : {
    cell a = OPND();
    CHK(a);
    StoreBlockCell(data + a, 0);
    cip += 8;
    NEXT();
}
L_ZERO_S : {
    ucell a = FRAME(OPND());
    CHK(a);
    StoreBlockCell(data + a, 0);
    cip += 8;
    NEXT();
}
L_SIGN_PRI : {
    if ((pri & 0xFF) >= 0x80) pri |= ~cell(0xFF);
    cip += 4;
    NEXT();
}
L_SIGN_ALT : {
    if ((alt & 0xFF) >= 0x80) alt |= ~cell(0xFF);
    cip += 4;
    NEXT();
}
// A comparison is nearly always followed by the zero test of a condition: the pair pays one dispatch.
#define PLAIN_CMP(id, jcc, cond)                                \
    L_##id : {                                                  \
        const bool c = (cond);                                  \
        pri = c;                                                \
        const cell n = LoadBlockCell(cip + 4);                  \
        if (FOLLOWS(n, JZER)) {                                 \
            cip = c ? cip + 12 : code + LoadBlockCell(cip + 8); \
            NEXT();                                             \
        }                                                       \
        cip += 4;                                               \
        NEXT_FROM(n);                                           \
    }
    VELT_CMP(PLAIN_CMP)
#undef PLAIN_CMP
L_EQ_C_PRI : {
    pri = pri == OPND();
    cip += 8;
    NEXT();
}
L_EQ_C_ALT : {
    pri = alt == OPND();
    cip += 8;
    NEXT();
}
L_INC_PRI : {
    pri = ADD32(pri, 1);
    cip += 4;
    NEXT();
}
L_INC_ALT : {
    alt = ADD32(alt, 1);
    cip += 4;
    NEXT();
}
L_INC : {
    cell a = OPND();
    CHK(a);
    StoreBlockCell(data + a, ADD32(LoadBlockCell(data + a), 1));
    cip += 8;
    NEXT();
}
L_INC_S : {
    ucell a = FRAME(OPND());
    CHK(a);
    StoreBlockCell(data + a, ADD32(LoadBlockCell(data + a), 1));
    const cell n = LoadBlockCell(cip + 8);
    if (FOLLOWS(n, JUMP)) {
        cip = code + LoadBlockCell(cip + 12);
        NEXT();
    }
    cip += 8;
    NEXT_FROM(n);
}
L_INC_I : {
    CHK(pri);
    StoreBlockCell(data + pri, ADD32(LoadBlockCell(data + pri), 1));
    cip += 4;
    NEXT();
}
L_DEC_PRI : {
    pri = ADD32(pri, -1);
    cip += 4;
    NEXT();
}
L_DEC_ALT : {
    alt = ADD32(alt, -1);
    cip += 4;
    NEXT();
}
L_DEC : {
    cell a = OPND();
    CHK(a);
    StoreBlockCell(data + a, ADD32(LoadBlockCell(data + a), -1));
    cip += 8;
    NEXT();
}
L_DEC_S : {
    ucell a = FRAME(OPND());
    CHK(a);
    StoreBlockCell(data + a, ADD32(LoadBlockCell(data + a), -1));
    cip += 8;
    NEXT();
}
L_DEC_I : {
    CHK(pri);
    StoreBlockCell(data + pri, ADD32(LoadBlockCell(data + pri), -1));
    cip += 4;
    NEXT();
}
L_MOVS : {
    const ucell n = ucell(OPND());
    VALID_BLOCK(pri, n);
    VALID_BLOCK(alt, n);
    std::memmove(data + alt, data + pri, n);
    cip += 8;
    NEXT();
}
L_CMPS : {
    const ucell n = ucell(OPND());
    VALID_BLOCK(pri, n);
    VALID_BLOCK(alt, n);
    const int r = n ? std::memcmp(data + alt, data + pri, n) : 0;
    pri = (r > 0) - (r < 0);
    cip += 8;
    NEXT();
}
L_FILL : {
    const ucell n = ucell(OPND());
    VALID_BLOCK(alt, n);
    for (ucell i = 0; i + 4 <= n; i += 4) StoreBlockCell(data + alt + i, pri);
    cip += 8;
    NEXT();
}
L_HALT : {
    const cell n = OPND();
    cip += 8;
    if (cell* const rv = coldRetval) *rv = pri;
    INST->reg_pri = pri;
    INST->reg_alt = alt;
    INST->frame = frm;
    INST->cip = cell(cip - code);
    if (n == VM_ERR_SLEEP) {
        INST->stack = stk;
        INST->heap = hea;
        INST->resume_stack = resetStk;
        INST->resume_heap = resetHea;
        return VM_ERR_SLEEP;
    }
    INST->stack = resetStk;
    INST->heap = resetHea;
    return n;
}
L_BOUNDS : {
    if (ucell(pri) > ucell(OPND())) ABORT(VM_ERR_BOUNDS);
    cip += 8;
    NEXT();
}
L_SYSREQ_PRI : {
    nidx = pri;
    cip += 4;
    goto nativeCall;
}
L_SYSREQ_C : {
    nidx = OPND();
    cip += 8;
    goto nativeCall;
}
L_LINE:
L_SRANGE : {
    cip += 12;
    NEXT();
}
L_SYMBOL : {
    cip += 8 + ucell(OPND());
    NEXT();
}
L_SWITCH : {
    const uint8_t* t = code + OPND();
    const ucell n = ucell(LoadBlockCell(t + 4));
    cip = code + LoadBlockCell(t + 8);
    for (ucell i = 0; i < n; ++i) {
        if (LoadBlockCell(t + 12 + 8 * i) == pri) {
            cip = code + LoadBlockCell(t + 16 + 8 * i);
            break;
        }
    }
    NEXT();
}
L_SWAP_PRI : {
    if (stk > stp - 4) ABORT(VM_ERR_STACKLOW);
    cell t = LoadBlockCell(data + stk);
    StoreBlockCell(data + stk, pri);
    pri = t;
    cip += 4;
    NEXT();
}
L_SWAP_ALT : {
    if (stk > stp - 4) ABORT(VM_ERR_STACKLOW);
    cell t = LoadBlockCell(data + stk);
    StoreBlockCell(data + stk, alt);
    alt = t;
    cip += 4;
    NEXT();
}
L_PUSH_ADR : {
    PUSH(ADD32(frm, OPND()));
    cip += 8;
    NEXT();
}
L_NOP : {
    cip += 4;
    NEXT();
}
L_SYMTAG : {
    cip += 8;
    NEXT();
}
L_SYSREQ_D : {
    nidx = OPND();
    cip += 8;
    INST->cip = cell(cip - code);
    INST->frame = frm;
    INST->heap = hea;
    INST->stack = stk;
    if ((stk & 3) != 0 || int64_t(stk) + 4 + int64_t(ucell(LoadBlockCell(data + stk))) > stp)
        ABORT(VM_ERR_MEMACCESS);
    if (ucell(nidx) >= ucell(INST->nativeCount) || !INST->nativeTable[nidx]) ABORT(VM_ERR_NOTFOUND);
    // A sleep raised by an earlier call must not make this one sleep too.
    INST->error_code = 0;
    pri = INST->nativeTable[nidx](INST, reinterpret_cast<const cell*>(data + stk));
    err = INST->error_code;
    if (err != VM_ERR_NONE) {
        if (err == VM_ERR_SLEEP) goto sleepInCall;
        goto abortRun;
    }
    if (cip >= codeEnd) ABORT(VM_ERR_MEMACCESS);
    NEXT();
}
L_BREAK : {
    cip += 4;
    if (INST->debug_hook) {
        INST->cip = cell(cip - code);
        INST->frame = frm;
        INST->heap = hea;
        INST->stack = stk;
        err = INST->debug_hook(INST);
        if (err != VM_ERR_NONE) {
            if (err == VM_ERR_SLEEP) goto sleepInCall;
            goto abortRun;
        }
    }
    if (cip >= codeEnd) ABORT(VM_ERR_MEMACCESS);
    NEXT();
}

// The unchecked frame accesses (uncheckedHandlers): as their checked forms above, less the check.
// Inside such a frame LU_LOAD_S_PRI also runs what its pair is most often followed by.
#define UNCHECKED_AT(at) LoadBlockCell(fp + LoadBlockCell(cip + (at)))
LU_LOAD_S_PRI : {
    pri = UNCHECKED_AT(4);
    const cell n = LoadBlockCell(cip + 8);
    if (FOLLOWS(n, LOAD_S_ALT)) {
        alt = UNCHECKED_AT(12);
        // The condition of a counted loop, `i <= n`: the comparison and its zero test.
        if (PAIR_FOLLOWS(16, SLEQ, JZER)) {
            pri = pri <= alt;
            cip = pri ? cip + 28 : code + LoadBlockCell(cip + 24);
            NEXT();
        }
        if (PAIR_FOLLOWS(16, ADD, STOR_S_PRI)) {  // `s = a + b`
            pri = ADD32(pri, alt);
            StoreBlockCell(fp + LoadBlockCell(cip + 24), pri);
            cip += 28;
            NEXT();
        }
        cip += 16;
        NEXT();
    }
    cip += 8;
    if (FOLLOWS(n, RETN)) goto L_RETN;
    NEXT_FROM(n);
}
LU_LOAD_S_ALT : {
    alt = UNCHECKED_AT(4);
    cip += 8;
    NEXT();
}
LU_STOR_S_PRI : {
    StoreBlockCell(fp + OPND(), pri);
    cip += 8;
    NEXT();
}
LU_ADD : {
    pri = ADD32(pri, alt);
    const cell n = LoadBlockCell(cip + 4);
    if (FOLLOWS(n, STOR_S_PRI)) {
        StoreBlockCell(fp + LoadBlockCell(cip + 8), pri);
        cip += 12;
        NEXT();
    }
    cip += 4;
    NEXT_FROM(n);
}
LU_INC_S : {
    uint8_t* const p = fp + OPND();
    StoreBlockCell(p, ADD32(LoadBlockCell(p), 1));
    const cell n = LoadBlockCell(cip + 8);
    if (FOLLOWS(n, JUMP)) {
        cip = code + LoadBlockCell(cip + 12);
        NEXT();
    }
    cip += 8;
    NEXT_FROM(n);
}
#undef UNCHECKED_AT

// Fused sequences (VELT_VM_FUSED). Each one does exactly what its plain instructions would, in
// their order and with their checks, and leaves PRI and ALT as they would; operands are read
// where the plain instructions keep them.
// Those that read frame locals come also in an unchecked form (LFU_, see uncheckedHandlers).
#define UNCHECKED_LOCAL(dst, at) (dst) = LoadBlockCell(fp + LoadBlockCell(cip + (at)))
#define LSS_JCC_AS(prefix, local, id, cond)                       \
    prefix##LSS_##id : {                                          \
        FUSED(3, L_LOAD_S_PRI);                                   \
        local(pri, 4);                                            \
        local(alt, 12);                                           \
        cip = (cond) ? code + LoadBlockCell(cip + 20) : cip + 24; \
        NEXT();                                                   \
    }
#define LSC_JCC_AS(prefix, local, id, cond)                       \
    prefix##LSC_##id : {                                          \
        FUSED(3, L_LOAD_S_PRI);                                   \
        local(pri, 4);                                            \
        alt = LoadBlockCell(cip + 12);                            \
        cip = (cond) ? code + LoadBlockCell(cip + 20) : cip + 24; \
        NEXT();                                                   \
    }
#define LSS_JCC(cmp, id, cond)                  \
    LSS_JCC_AS(LF_, LOCAL, id, cond)            \
    LSS_JCC_AS(LFU_, UNCHECKED_LOCAL, id, cond) \
    LSC_JCC_AS(LF_, LOCAL, id, cond)            \
    LSC_JCC_AS(LFU_, UNCHECKED_LOCAL, id, cond)
    VELT_CMP(LSS_JCC)
#undef LSS_JCC
#undef LSS_JCC_AS
#undef LSC_JCC_AS
// The compiler's form of a condition: the comparison leaves 0 or 1 in PRI, then a zero test.
#define LSS_CMP_JZER_AS(prefix, local, id, cond)                    \
    prefix##LSS_##id##_JZER : {                                     \
        FUSED(4, L_LOAD_S_PRI);                                     \
        local(pri, 4);                                              \
        local(alt, 12);                                             \
        pri = (cond);                                               \
        cip = pri == 0 ? code + LoadBlockCell(cip + 24) : cip + 28; \
        NEXT();                                                     \
    }
#define LSC_CMP_JZER_AS(prefix, local, id, cond)                    \
    prefix##LSC_##id##_JZER : {                                     \
        FUSED(4, L_LOAD_S_PRI);                                     \
        local(pri, 4);                                              \
        alt = LoadBlockCell(cip + 12);                              \
        pri = (cond);                                               \
        cip = pri == 0 ? code + LoadBlockCell(cip + 24) : cip + 28; \
        NEXT();                                                     \
    }
#define LSS_CMP_JZER(id, jcc, cond)                  \
    LSS_CMP_JZER_AS(LF_, LOCAL, id, cond)            \
    LSS_CMP_JZER_AS(LFU_, UNCHECKED_LOCAL, id, cond) \
    LSC_CMP_JZER_AS(LF_, LOCAL, id, cond)            \
    LSC_CMP_JZER_AS(LFU_, UNCHECKED_LOCAL, id, cond)
    VELT_CMP(LSS_CMP_JZER)
#undef LSS_CMP_JZER
#undef LSS_CMP_JZER_AS
#undef LSC_CMP_JZER_AS
LF_LS_JZER : {
    FUSED(2, L_LOAD_S_PRI);
    LOCAL(pri, 4);
    cip = pri == 0 ? code + LoadBlockCell(cip + 12) : cip + 16;
    NEXT();
}
LF_LS_JNZ : {
    FUSED(2, L_LOAD_S_PRI);
    LOCAL(pri, 4);
    cip = pri != 0 ? code + LoadBlockCell(cip + 12) : cip + 16;
    NEXT();
}
LF_LSS_ADD_SS : {
    FUSED(4, L_LOAD_S_PRI);
    LOCAL(pri, 4);
    LOCAL(alt, 12);
    pri = ADD32(pri, alt);
    const ucell a = FRAME(LoadBlockCell(cip + 24));
    CHK(a);
    StoreBlockCell(data + a, pri);
    cip += 28;
    NEXT();
}
LF_LSA_ADD_SS : {
    FUSED(3, L_LOAD_S_ALT);
    LOCAL(alt, 4);
    pri = ADD32(pri, alt);
    const ucell a = FRAME(LoadBlockCell(cip + 16));
    CHK(a);
    StoreBlockCell(data + a, pri);
    cip += 20;
    NEXT();
}
LF_INCS_JUMP : {
    FUSED(2, L_INC_S);
    const ucell a = FRAME(LoadBlockCell(cip + 4));
    CHK(a);
    StoreBlockCell(data + a, ADD32(LoadBlockCell(data + a), 1));
    cip = code + LoadBlockCell(cip + 12);
    NEXT();
}
LFU_LSS_ADD_SS : {
    FUSED(4, L_LOAD_S_PRI);
    UNCHECKED_LOCAL(pri, 4);
    UNCHECKED_LOCAL(alt, 12);
    pri = ADD32(pri, alt);
    StoreBlockCell(fp + LoadBlockCell(cip + 24), pri);
    cip += 28;
    NEXT();
}
LFU_INCS_JUMP : {
    FUSED(2, L_INC_S);
    uint8_t* const p = fp + LoadBlockCell(cip + 4);
    StoreBlockCell(p, ADD32(LoadBlockCell(p), 1));
    cip = code + LoadBlockCell(cip + 12);
    NEXT();
}
#define LSB_AS(prefix, local)                                                            \
    prefix##LSB_LIDX : {                                                                 \
        FUSED(4, L_LOAD_S_PRI);                                                          \
        local(pri, 4);                                                                   \
        if (UNLIKELY(ucell(pri) > ucell(LoadBlockCell(cip + 12)))) ABORT(VM_ERR_BOUNDS); \
        alt = ADD32(frm, LoadBlockCell(cip + 20));                                       \
        const ucell a = ucell(alt) + ucell(pri) * 4u;                                    \
        VALID(a);                                                                        \
        pri = LoadBlockCell(data + a);                                                   \
        cip += 28;                                                                       \
        NEXT();                                                                          \
    }                                                                                    \
    prefix##LSB_IDXADDR : {                                                              \
        FUSED(4, L_LOAD_S_PRI);                                                          \
        local(pri, 4);                                                                   \
        if (UNLIKELY(ucell(pri) > ucell(LoadBlockCell(cip + 12)))) ABORT(VM_ERR_BOUNDS); \
        alt = ADD32(frm, LoadBlockCell(cip + 20));                                       \
        pri = cell(ucell(alt) + ucell(pri) * 4u);                                        \
        cip += 28;                                                                       \
        NEXT();                                                                          \
    }
    LSB_AS(LF_, LOCAL)
    LSB_AS(LFU_, UNCHECKED_LOCAL)
#undef LSB_AS
#define ALSB_AS(prefix, local)                                                           \
    prefix##ALSB_LIDX : {                                                                \
        FUSED(4, L_ADDR_ALT);                                                            \
        alt = ADD32(frm, LoadBlockCell(cip + 4));                                        \
        local(pri, 12);                                                                  \
        if (UNLIKELY(ucell(pri) > ucell(LoadBlockCell(cip + 20)))) ABORT(VM_ERR_BOUNDS); \
        const ucell a = ucell(alt) + ucell(pri) * 4u;                                    \
        VALID(a);                                                                        \
        pri = LoadBlockCell(data + a);                                                   \
        cip += 28;                                                                       \
        NEXT();                                                                          \
    }                                                                                    \
    prefix##ALSB_IDXADDR : {                                                             \
        FUSED(4, L_ADDR_ALT);                                                            \
        alt = ADD32(frm, LoadBlockCell(cip + 4));                                        \
        local(pri, 12);                                                                  \
        if (UNLIKELY(ucell(pri) > ucell(LoadBlockCell(cip + 20)))) ABORT(VM_ERR_BOUNDS); \
        pri = cell(ucell(alt) + ucell(pri) * 4u);                                        \
        cip += 28;                                                                       \
        NEXT();                                                                          \
    }
    ALSB_AS(LF_, LOCAL)
    ALSB_AS(LFU_, UNCHECKED_LOCAL)
#undef ALSB_AS
// A constant stored into an element, `a[i] = k`: IDXADDR, MOVE.ALT, CONST.PRI and STOR.I after the
// access (`k` at cip + 36). The element's address stays in ALT, as MOVE.ALT leaves it.
#define STORE_C_TAIL()                        \
    alt = cell(ucell(alt) + ucell(pri) * 4u); \
    pri = LoadBlockCell(cip + 36);            \
    VALID(alt);                               \
    StoreBlockCell(data + alt, pri);          \
    cip += 44;                                \
    NEXT()
// A branch on an element, `if (a[i])`: LIDX, then JZER or JNZ (its target at cip + 32).
#define LIDX_JCC_TAIL(cond)                                   \
    const ucell a = ucell(alt) + ucell(pri) * 4u;             \
    VALID(a);                                                 \
    pri = LoadBlockCell(data + a);                            \
    cip = (cond) ? code + LoadBlockCell(cip + 32) : cip + 36; \
    NEXT()
// The index after ADDR.ALT (ALSB) or before it (LSB), checked against BOUNDS.
#define ALSB_HEAD(local)                      \
    alt = ADD32(frm, LoadBlockCell(cip + 4)); \
    local(pri, 12);                           \
    if (UNLIKELY(ucell(pri) > ucell(LoadBlockCell(cip + 20)))) ABORT(VM_ERR_BOUNDS)
#define LSB_HEAD(local)                                                              \
    local(pri, 4);                                                                   \
    if (UNLIKELY(ucell(pri) > ucell(LoadBlockCell(cip + 12)))) ABORT(VM_ERR_BOUNDS); \
    alt = ADD32(frm, LoadBlockCell(cip + 20))
#define ELEMENT_AS(prefix, local) \
    prefix##ALSB_STORE_C : {      \
        FUSED(7, L_ADDR_ALT);     \
        ALSB_HEAD(local);         \
        STORE_C_TAIL();           \
    }                             \
    prefix##LSB_STORE_C : {       \
        FUSED(7, L_LOAD_S_PRI);   \
        LSB_HEAD(local);          \
        STORE_C_TAIL();           \
    }                             \
    prefix##ALSB_LIDX_JZER : {    \
        FUSED(5, L_ADDR_ALT);     \
        ALSB_HEAD(local);         \
        LIDX_JCC_TAIL(pri == 0);  \
    }                             \
    prefix##ALSB_LIDX_JNZ : {     \
        FUSED(5, L_ADDR_ALT);     \
        ALSB_HEAD(local);         \
        LIDX_JCC_TAIL(pri != 0);  \
    }                             \
    prefix##LSB_LIDX_JZER : {     \
        FUSED(5, L_LOAD_S_PRI);   \
        LSB_HEAD(local);          \
        LIDX_JCC_TAIL(pri == 0);  \
    }                             \
    prefix##LSB_LIDX_JNZ : {      \
        FUSED(5, L_LOAD_S_PRI);   \
        LSB_HEAD(local);          \
        LIDX_JCC_TAIL(pri != 0);  \
    }
    ELEMENT_AS(LF_, LOCAL)
    ELEMENT_AS(LFU_, UNCHECKED_LOCAL)
#undef ELEMENT_AS
#undef LSB_HEAD
#undef ALSB_HEAD
#undef LIDX_JCC_TAIL
#undef STORE_C_TAIL
// `s = a + b` as the last statement of a loop body, and the jump back.
LF_LSS_ADD_SS_JUMP : {
    FUSED(5, L_LOAD_S_PRI);
    LOCAL(pri, 4);
    LOCAL(alt, 12);
    pri = ADD32(pri, alt);
    const ucell a = FRAME(LoadBlockCell(cip + 24));
    CHK(a);
    StoreBlockCell(data + a, pri);
    cip = code + LoadBlockCell(cip + 32);
    NEXT();
}
LFU_LSS_ADD_SS_JUMP : {
    FUSED(5, L_LOAD_S_PRI);
    UNCHECKED_LOCAL(pri, 4);
    UNCHECKED_LOCAL(alt, 12);
    pri = ADD32(pri, alt);
    StoreBlockCell(fp + LoadBlockCell(cip + 24), pri);
    cip = code + LoadBlockCell(cip + 32);
    NEXT();
}
// A call's argument `n + k`.
LF_LS_ADDC_PUSH : {
    FUSED(3, L_LOAD_S_PRI);
    LOCAL(pri, 4);
    pri = ADD32(pri, LoadBlockCell(cip + 12));
    PUSH(pri);
    cip += 20;
    NEXT();
}
LFU_LS_ADDC_PUSH : {
    FUSED(3, L_LOAD_S_PRI);
    UNCHECKED_LOCAL(pri, 4);
    pri = ADD32(pri, LoadBlockCell(cip + 12));
    PUSH(pri);
    cip += 20;
    NEXT();
}
#undef UNCHECKED_LOCAL
LF_MOVE_CONST_STORI : {
    FUSED(3, L_MOVE_ALT);
    alt = pri;
    pri = LoadBlockCell(cip + 8);
    VALID(alt);
    StoreBlockCell(data + alt, pri);
    cip += 16;
    NEXT();
}
LF_LSS : {
    FUSED(2, L_LOAD_S_PRI);
    LOCAL(pri, 4);
    LOCAL(alt, 12);
    cip += 16;
    NEXT();
}

// Whole counted loops (VELT_VM_FUSED_LOOPS). The condition has `hb` bytes; the body's operands
// follow at fixed places after it. Every frame address the loop touches is fixed while it runs
// (FRM does not change inside), so they are checked once on entry; when one of them lies outside
// the block the plain instructions run instead and raise the error exactly where it falls. The
// plain sequence's own reads and writes, in its order, make aliased locals come out alike.
//
// Fuzz builds count every instruction and end a run exactly where the plain code would: there a
// pass of the loop is one dispatch, the condition one fused step and the body and step another.
#ifdef VELT_VM_STEP_BUDGET
#define LOOP_BODY_STEPS(hb)     \
    if (g_stepBudget >= 0) {    \
        if (g_stepBudget < 6) { \
            cip = h + (hb);     \
            NEXT();             \
        }                       \
        g_stepBudget -= 6;      \
    }
#define LOOP_AGAIN() \
    cip = h;         \
    NEXT()
#else
#define LOOP_BODY_STEPS(hb)
#define LOOP_AGAIN() continue
#endif
// `loadN` sets ALT from the condition's second instruction; `leave` is true when the loop ends,
// with PRI and ALT as the condition left them; the exit target is the cell at h + exitAt.
#define LOOP_FORM(name, steps, hb, exitAt, checkN, loadN, leave)                                       \
    LF_##name : {                                                                                      \
        const uint8_t* const h = cip;                                                                  \
        const ucell ai = FRAME(LoadBlockCell(h + 4));                                                  \
        const cell kn = LoadBlockCell(h + 12);                                                         \
        const ucell an = FRAME(kn);                                                                    \
        const ucell ab = FRAME(LoadBlockCell(h + (hb) + 4));                                           \
        const ucell ac = FRAME(LoadBlockCell(h + (hb) + 12));                                          \
        const ucell as = FRAME(LoadBlockCell(h + (hb) + 24));                                          \
        const ucell ak = FRAME(LoadBlockCell(h + (hb) + 32));                                          \
        const ucell top = ucell(stp);                                                                  \
        if (UNLIKELY((ai >= top) | ((checkN) && an >= top) | (ab >= top) | (ac >= top) | (as >= top) | \
                     (ak >= top)))                                                                     \
            goto L_LOAD_S_PRI;                                                                         \
        FUSED(steps, L_LOAD_S_PRI);                                                                    \
        (void)an;                                                                                      \
        const uint8_t* const out = code + LoadBlockCell(h + (exitAt));                                 \
        for (;;) {                                                                                     \
            pri = LoadBlockCell(data + ai);                                                            \
            loadN;                                                                                     \
            if (leave) {                                                                               \
                cip = out;                                                                             \
                NEXT();                                                                                \
            }                                                                                          \
            LOOP_BODY_STEPS(hb);                                                                       \
            pri = LoadBlockCell(data + ab);                                                            \
            alt = LoadBlockCell(data + ac);                                                            \
            pri = ADD32(pri, alt);                                                                     \
            StoreBlockCell(data + as, pri);                                                            \
            StoreBlockCell(data + ak, ADD32(LoadBlockCell(data + ak), 1));                             \
            LOOP_AGAIN();                                                                              \
        }                                                                                              \
    }
#define LOOP_LSS_CMP_JZER(id, jcc, cond) \
    LOOP_FORM(LOOP_LSS_##id##_JZER, 4, 28, 24, true, alt = LoadBlockCell(data + an), (pri = (cond)) == 0)
#define LOOP_LSC_CMP_JZER(id, jcc, cond) \
    LOOP_FORM(LOOP_LSC_##id##_JZER, 4, 28, 24, false, alt = kn, (pri = (cond)) == 0)
#define LOOP_LSS_JCC(cmp, id, cond) \
    LOOP_FORM(LOOP_LSS_##id, 3, 24, 20, true, alt = LoadBlockCell(data + an), (cond))
    VELT_CMP(LOOP_LSS_CMP_JZER)
    VELT_CMP(LOOP_LSC_CMP_JZER)
    VELT_CMP(LOOP_LSS_JCC)
#undef LOOP_LSS_CMP_JZER
#undef LOOP_LSC_CMP_JZER
#undef LOOP_LSS_JCC
#undef LOOP_FORM
#undef LOOP_BODY_STEPS

// Store loops (VELT_VM_FUSED_STORE_LOOPS): as the counted loops, with the body and step of `a[j]
// = k; j += i` after a condition of `hb` bytes. Which comparison the condition makes is read once
// per entry and picks one of ten copies of the loop. `ja`, `bo`, `ar`: where the body keeps the
// index local, the bound and the array offset (both orders keep the constant at 36).
#ifdef VELT_VM_STEP_BUDGET
#define STORE_LOOP_BODY_STEPS(hb) \
    if (g_stepBudget >= 0) {      \
        if (g_stepBudget < 12) {  \
            cip = h + (hb);       \
            NEXT();               \
        }                         \
        g_stepBudget -= 12;       \
    }
#else
#define STORE_LOOP_BODY_STEPS(hb)
#endif
// When the condition tests the index local itself and every element up to the bound is a valid
// address (checked on entry: the free space and the block end do not move inside), a pass reads
// the index once and stores without the address check; otherwise it runs as the plain code.
#define STORE_LOOP_PASSES(hb, cond, leave)                           \
    if (direct) {                                                    \
        for (;;) {                                                   \
            pri = LoadBlockCell(data + aj);                          \
            alt = LoadBlockCell(data + an);                          \
            const cell j = pri;                                      \
            if (leave(cond)) {                                       \
                cip = out;                                           \
                NEXT();                                              \
            }                                                        \
            STORE_LOOP_BODY_STEPS(hb);                               \
            if (UNLIKELY(ucell(j) > bound)) ABORT(VM_ERR_BOUNDS);    \
            StoreBlockCell(data + (ucell(base) + ucell(j) * 4u), k); \
            pri = LoadBlockCell(data + ab);                          \
            alt = LoadBlockCell(data + ac);                          \
            pri = ADD32(pri, alt);                                   \
            StoreBlockCell(data + as, pri);                          \
            LOOP_AGAIN();                                            \
        }                                                            \
    }                                                                \
    for (;;) {                                                       \
        pri = LoadBlockCell(data + ai);                              \
        alt = LoadBlockCell(data + an);                              \
        if (leave(cond)) {                                           \
            cip = out;                                               \
            NEXT();                                                  \
        }                                                            \
        STORE_LOOP_BODY_STEPS(hb);                                   \
        pri = LoadBlockCell(data + aj);                              \
        if (UNLIKELY(ucell(pri) > bound)) ABORT(VM_ERR_BOUNDS);      \
        alt = cell(ucell(base) + ucell(pri) * 4u);                   \
        pri = k;                                                     \
        VALID(alt);                                                  \
        StoreBlockCell(data + alt, pri);                             \
        pri = LoadBlockCell(data + ab);                              \
        alt = LoadBlockCell(data + ac);                              \
        pri = ADD32(pri, alt);                                       \
        StoreBlockCell(data + as, pri);                              \
        LOOP_AGAIN();                                                \
    }
// The compiler's condition leaves 0 or 1 in PRI and leaves on 0; the other branches on the test.
#define STORE_LEAVE_JZER(cond) ((pri = (cond)) == 0)
#define STORE_LEAVE_JCC(cond) (cond)
#define STORE_CASE_JZER(id, jcc, cond)                 \
    case OP_##id: {                                    \
        STORE_LOOP_PASSES(28, cond, STORE_LEAVE_JZER); \
    }
#define STORE_CASE_JCC(id, jcc, cond)                 \
    case OP_##jcc: {                                  \
        STORE_LOOP_PASSES(24, cond, STORE_LEAVE_JCC); \
    }
#define STORE_LOOP_FORM(name, steps, hb, exitAt, ja, bo, ar, cases)                                      \
    LF_##name : {                                                                                        \
        const uint8_t* const h = cip;                                                                    \
        const uint8_t* const b = h + (hb);                                                               \
        const ucell ai = FRAME(LoadBlockCell(h + 4));                                                    \
        const ucell an = FRAME(LoadBlockCell(h + 12));                                                   \
        const ucell aj = FRAME(LoadBlockCell(b + (ja)));                                                 \
        const ucell ab = FRAME(LoadBlockCell(b + 48));                                                   \
        const ucell ac = FRAME(LoadBlockCell(b + 56));                                                   \
        const ucell as = FRAME(LoadBlockCell(b + 68));                                                   \
        const ucell top = ucell(stp);                                                                    \
        if (UNLIKELY((ai >= top) | (an >= top) | (aj >= top) | (ab >= top) | (ac >= top) | (as >= top))) \
            goto L_LOAD_S_PRI;                                                                           \
        FUSED(steps, L_LOAD_S_PRI);                                                                      \
        const ucell bound = ucell(LoadBlockCell(b + (bo)));                                              \
        const cell base = ADD32(frm, LoadBlockCell(b + (ar)));                                           \
        const cell k = LoadBlockCell(b + 36);                                                            \
        const int64_t last = int64_t(base) + 4 * int64_t(bound); /* the last element's address */        \
        const bool direct = ai == aj && base >= 0 && last < stp && (last < hea || base >= stk);          \
        const uint8_t* const out = code + LoadBlockCell(h + (exitAt));                                   \
        switch (LoadBlockCell(h + 16)) {                                                                 \
            VELT_CMP(cases)                                                                              \
            default: ABORT(VM_ERR_INVINSTR); /* the loader fuses only comparisons here */                \
        }                                                                                                \
    }
    STORE_LOOP_FORM(SLOOP_LSS_CMP_JZER_ALSB, 4, 28, 24, 12, 20, 4, STORE_CASE_JZER)
    STORE_LOOP_FORM(SLOOP_LSS_CMP_JZER_LSB, 4, 28, 24, 4, 12, 20, STORE_CASE_JZER)
    STORE_LOOP_FORM(SLOOP_LSS_JCC_ALSB, 3, 24, 20, 12, 20, 4, STORE_CASE_JCC)
    STORE_LOOP_FORM(SLOOP_LSS_JCC_LSB, 3, 24, 20, 4, 12, 20, STORE_CASE_JCC)
#undef STORE_LOOP_FORM
#undef STORE_CASE_JCC
#undef STORE_CASE_JZER
#undef STORE_LEAVE_JCC
#undef STORE_LEAVE_JZER
#undef STORE_LOOP_PASSES
#undef STORE_LOOP_BODY_STEPS
#undef LOOP_AGAIN

nativeCall : {
    INST->cip = cell(cip - code);
    INST->frame = frm;
    INST->heap = hea;
    INST->stack = stk;
    // The native reads params as cells and trusts params[0]: the cells must be aligned and the
    // argument bytes it announces must lie on the stack.
    if ((stk & 3) != 0 || int64_t(stk) + 4 + int64_t(ucell(LoadBlockCell(data + stk))) > stp)
        ABORT(VM_ERR_MEMACCESS);
    cell result = pri;
    err = INST->native_dispatch(INST, nidx, &result, reinterpret_cast<const cell*>(data + stk));
    pri = result;
    if (err != VM_ERR_NONE) {
        if (err == VM_ERR_SLEEP) goto sleepInCall;
        goto abortRun;
    }
    if (cip >= codeEnd) ABORT(VM_ERR_MEMACCESS);
    NEXT();
}

sleepInCall:
    INST->reg_pri = pri;
    INST->reg_alt = alt;
    INST->resume_stack = resetStk;
    INST->resume_heap = resetHea;
    return VM_ERR_SLEEP;

abortRun:
    INST->stack = resetStk;
    INST->heap = resetHea;
    return err;

#undef OPND
#undef NEXT
#undef ABORT
#undef UNLIKELY
#undef LIKELY
#undef CHK
#undef VALID
#undef VALID_BLOCK
#undef PUSH
#undef POP
#undef FRAME
#undef ADD32
#undef JUMP_IF
#undef FUSED
#undef LOCAL
#undef VELT_CMP
#undef FOLLOWS
#undef PAIR_FOLLOWS
#undef FRAME_CHANGED
#undef NEXT_FROM
#undef INST
#undef PIN
}

}  // namespace velt
