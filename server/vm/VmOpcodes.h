#pragma once
// The instruction set: opcode numbers, assembler names and operand layouts. The loader, the
// interpreter, the image builder and the assembler all read this one table.

#include <cstdint>

namespace velt {

// How the cells after an opcode cell are laid out.
enum class VmOperand : uint8_t {
    None,     // no operand
    Value,    // one cell, a constant or a data address
    Code,     // one cell, a code-relative jump or call target
    Rel,      // one cell, a byte offset from the next instruction (JREL)
    Native,   // one cell, a native index (SYSREQ.C, SYSREQ.D)
    Two,      // two cells (LINE, SRANGE)
    Bytes,    // a byte count and that many bytes (FILE, SYMBOL)
    CaseTbl,  // a record count n, a default target, then n (value, target) records
};

// X(number, enumerator, assembler name, operand layout)
#define VELT_VM_OPCODES(X)                 \
    X(0, NONE, "none", None)               \
    X(1, LOAD_PRI, "load.pri", Value)      \
    X(2, LOAD_ALT, "load.alt", Value)      \
    X(3, LOAD_S_PRI, "load.s.pri", Value)  \
    X(4, LOAD_S_ALT, "load.s.alt", Value)  \
    X(5, LREF_PRI, "lref.pri", Value)      \
    X(6, LREF_ALT, "lref.alt", Value)      \
    X(7, LREF_S_PRI, "lref.s.pri", Value)  \
    X(8, LREF_S_ALT, "lref.s.alt", Value)  \
    X(9, LOAD_I, "load.i", None)           \
    X(10, LODB_I, "lodb.i", Value)         \
    X(11, CONST_PRI, "const.pri", Value)   \
    X(12, CONST_ALT, "const.alt", Value)   \
    X(13, ADDR_PRI, "addr.pri", Value)     \
    X(14, ADDR_ALT, "addr.alt", Value)     \
    X(15, STOR_PRI, "stor.pri", Value)     \
    X(16, STOR_ALT, "stor.alt", Value)     \
    X(17, STOR_S_PRI, "stor.s.pri", Value) \
    X(18, STOR_S_ALT, "stor.s.alt", Value) \
    X(19, SREF_PRI, "sref.pri", Value)     \
    X(20, SREF_ALT, "sref.alt", Value)     \
    X(21, SREF_S_PRI, "sref.s.pri", Value) \
    X(22, SREF_S_ALT, "sref.s.alt", Value) \
    X(23, STOR_I, "stor.i", None)          \
    X(24, STRB_I, "strb.i", Value)         \
    X(25, LIDX, "lidx", None)              \
    X(26, LIDX_B, "lidx.b", Value)         \
    X(27, IDXADDR, "idxaddr", None)        \
    X(28, IDXADDR_B, "idxaddr.b", Value)   \
    X(29, ALIGN_PRI, "align.pri", Value)   \
    X(30, ALIGN_ALT, "align.alt", Value)   \
    X(31, LCTRL, "lctrl", Value)           \
    X(32, SCTRL, "sctrl", Value)           \
    X(33, MOVE_PRI, "move.pri", None)      \
    X(34, MOVE_ALT, "move.alt", None)      \
    X(35, XCHG, "xchg", None)              \
    X(36, PUSH_PRI, "push.pri", None)      \
    X(37, PUSH_ALT, "push.alt", None)      \
    X(38, PUSH_R, "push.r", Value)         \
    X(39, PUSH_C, "push.c", Value)         \
    X(40, PUSH, "push", Value)             \
    X(41, PUSH_S, "push.s", Value)         \
    X(42, POP_PRI, "pop.pri", None)        \
    X(43, POP_ALT, "pop.alt", None)        \
    X(44, STACK, "stack", Value)           \
    X(45, HEAP, "heap", Value)             \
    X(46, PROC, "proc", None)              \
    X(47, RET, "ret", None)                \
    X(48, RETN, "retn", None)              \
    X(49, CALL, "call", Code)              \
    X(50, CALL_PRI, "call.pri", None)      \
    X(51, JUMP, "jump", Code)              \
    X(52, JREL, "jrel", Rel)               \
    X(53, JZER, "jzer", Code)              \
    X(54, JNZ, "jnz", Code)                \
    X(55, JEQ, "jeq", Code)                \
    X(56, JNEQ, "jneq", Code)              \
    X(57, JLESS, "jless", Code)            \
    X(58, JLEQ, "jleq", Code)              \
    X(59, JGRTR, "jgrtr", Code)            \
    X(60, JGEQ, "jgeq", Code)              \
    X(61, JSLESS, "jsless", Code)          \
    X(62, JSLEQ, "jsleq", Code)            \
    X(63, JSGRTR, "jsgrtr", Code)          \
    X(64, JSGEQ, "jsgeq", Code)            \
    X(65, SHL, "shl", None)                \
    X(66, SHR, "shr", None)                \
    X(67, SSHR, "sshr", None)              \
    X(68, SHL_C_PRI, "shl.c.pri", Value)   \
    X(69, SHL_C_ALT, "shl.c.alt", Value)   \
    X(70, SHR_C_PRI, "shr.c.pri", Value)   \
    X(71, SHR_C_ALT, "shr.c.alt", Value)   \
    X(72, SMUL, "smul", None)              \
    X(73, SDIV, "sdiv", None)              \
    X(74, SDIV_ALT, "sdiv.alt", None)      \
    X(75, UMUL, "umul", None)              \
    X(76, UDIV, "udiv", None)              \
    X(77, UDIV_ALT, "udiv.alt", None)      \
    X(78, ADD, "add", None)                \
    X(79, SUB, "sub", None)                \
    X(80, SUB_ALT, "sub.alt", None)        \
    X(81, AND, "and", None)                \
    X(82, OR, "or", None)                  \
    X(83, XOR, "xor", None)                \
    X(84, NOT, "not", None)                \
    X(85, NEG, "neg", None)                \
    X(86, INVERT, "invert", None)          \
    X(87, ADD_C, "add.c", Value)           \
    X(88, SMUL_C, "smul.c", Value)         \
    X(89, ZERO_PRI, "zero.pri", None)      \
    X(90, ZERO_ALT, "zero.alt", None)      \
    X(91, ZERO, "zero", Value)             \
    X(92, ZERO_S, "zero.s", Value)         \
    X(93, SIGN_PRI, "sign.pri", None)      \
    X(94, SIGN_ALT, "sign.alt", None)      \
    X(95, EQ, "eq", None)                  \
    X(96, NEQ, "neq", None)                \
    X(97, LESS, "less", None)              \
    X(98, LEQ, "leq", None)                \
    X(99, GRTR, "grtr", None)              \
    X(100, GEQ, "geq", None)               \
    X(101, SLESS, "sless", None)           \
    X(102, SLEQ, "sleq", None)             \
    X(103, SGRTR, "sgrtr", None)           \
    X(104, SGEQ, "sgeq", None)             \
    X(105, EQ_C_PRI, "eq.c.pri", Value)    \
    X(106, EQ_C_ALT, "eq.c.alt", Value)    \
    X(107, INC_PRI, "inc.pri", None)       \
    X(108, INC_ALT, "inc.alt", None)       \
    X(109, INC, "inc", Value)              \
    X(110, INC_S, "inc.s", Value)          \
    X(111, INC_I, "inc.i", None)           \
    X(112, DEC_PRI, "dec.pri", None)       \
    X(113, DEC_ALT, "dec.alt", None)       \
    X(114, DEC, "dec", Value)              \
    X(115, DEC_S, "dec.s", Value)          \
    X(116, DEC_I, "dec.i", None)           \
    X(117, MOVS, "movs", Value)            \
    X(118, CMPS, "cmps", Value)            \
    X(119, FILL, "fill", Value)            \
    X(120, HALT, "halt", Value)            \
    X(121, BOUNDS, "bounds", Value)        \
    X(122, SYSREQ_PRI, "sysreq.pri", None) \
    X(123, SYSREQ_C, "sysreq.c", Native)   \
    X(124, FILE, "file", Bytes)            \
    X(125, LINE, "line", Two)              \
    X(126, SYMBOL, "symbol", Bytes)        \
    X(127, SRANGE, "srange", Two)          \
    X(128, JUMP_PRI, "jump.pri", None)     \
    X(129, SWITCH, "switch", Code)         \
    X(130, CASETBL, "casetbl", CaseTbl)    \
    X(131, SWAP_PRI, "swap.pri", None)     \
    X(132, SWAP_ALT, "swap.alt", None)     \
    X(133, PUSH_ADR, "push.adr", Value)    \
    X(134, NOP, "nop", None)               \
    X(135, SYSREQ_D, "sysreq.d", Native)   \
    X(136, SYMTAG, "symtag", Value)        \
    X(137, BREAK, "break", None)

enum VmOp : uint8_t {
#define VELT_VM_OP_ENUM(num, id, name, operand) OP_##id = num,
    VELT_VM_OPCODES(VELT_VM_OP_ENUM)
#undef VELT_VM_OP_ENUM
};

struct VmOpInfo {
    const char* name;
    VmOperand operand;
};

// Name and operand layout of opcode `op` (0 <= op < OP_NUM_OPCODES).
const VmOpInfo& OpcodeInfo(int op);
// The opcode with assembler name `name`, or -1.
int OpcodeByName(const char* name);

// Fused instructions. The loader rewrites the opcode cell at the head of a common compiler
// sequence into one of these tokens, so a hot loop pays one dispatch where it paid three or four.
// They number past the instruction set and never appear in a file: a file holding one is refused
// like any other opcode out of range.
//
// Only the head cell changes. Every later cell of the sequence, opcodes and operands alike, stays
// as the file had it: the fused handler reads each operand where it lies, and a run that enters
// the sequence past its head (a return address, SCTRL 6, a continued run) executes the plain
// instructions from there. Only instructions that cannot call out (no native call, no BREAK, no
// HALT) take part, so nothing outside the interpreter ever sees a run stopped inside one.
//
// The loader tries VELT_VM_FUSED_LOOPS and VELT_VM_FUSED_STORE_LOOPS first, then these in order.
//
// X(enumerator, instructions in the sequence, its opcodes (NONE pads)). A sequence that is the
// start of a longer one comes after it: the loader takes the first that matches.
#define VELT_VM_FUSED(X)                                                                   \
    /* compare two locals, test the result and branch: the compiler's every condition */   \
    X(LSS_EQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, EQ, JZER, NONE, NONE, NONE)                  \
    X(LSS_NEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, NEQ, JZER, NONE, NONE, NONE)                \
    X(LSS_LESS_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, LESS, JZER, NONE, NONE, NONE)              \
    X(LSS_LEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, LEQ, JZER, NONE, NONE, NONE)                \
    X(LSS_GRTR_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, GRTR, JZER, NONE, NONE, NONE)              \
    X(LSS_GEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, GEQ, JZER, NONE, NONE, NONE)                \
    X(LSS_SLESS_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, SLESS, JZER, NONE, NONE, NONE)            \
    X(LSS_SLEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, SLEQ, JZER, NONE, NONE, NONE)              \
    X(LSS_SGRTR_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, SGRTR, JZER, NONE, NONE, NONE)            \
    X(LSS_SGEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, SGEQ, JZER, NONE, NONE, NONE)              \
    /* compare a local with a constant, test the result and branch */                      \
    X(LSC_EQ_JZER, 4, LOAD_S_PRI, CONST_ALT, EQ, JZER, NONE, NONE, NONE)                   \
    X(LSC_NEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, NEQ, JZER, NONE, NONE, NONE)                 \
    X(LSC_LESS_JZER, 4, LOAD_S_PRI, CONST_ALT, LESS, JZER, NONE, NONE, NONE)               \
    X(LSC_LEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, LEQ, JZER, NONE, NONE, NONE)                 \
    X(LSC_GRTR_JZER, 4, LOAD_S_PRI, CONST_ALT, GRTR, JZER, NONE, NONE, NONE)               \
    X(LSC_GEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, GEQ, JZER, NONE, NONE, NONE)                 \
    X(LSC_SLESS_JZER, 4, LOAD_S_PRI, CONST_ALT, SLESS, JZER, NONE, NONE, NONE)             \
    X(LSC_SLEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, SLEQ, JZER, NONE, NONE, NONE)               \
    X(LSC_SGRTR_JZER, 4, LOAD_S_PRI, CONST_ALT, SGRTR, JZER, NONE, NONE, NONE)             \
    X(LSC_SGEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, SGEQ, JZER, NONE, NONE, NONE)               \
    /* compare two locals and branch */                                                    \
    X(LSS_JEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JEQ, NONE, NONE, NONE, NONE)                     \
    X(LSS_JNEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JNEQ, NONE, NONE, NONE, NONE)                   \
    X(LSS_JLESS, 3, LOAD_S_PRI, LOAD_S_ALT, JLESS, NONE, NONE, NONE, NONE)                 \
    X(LSS_JLEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JLEQ, NONE, NONE, NONE, NONE)                   \
    X(LSS_JGRTR, 3, LOAD_S_PRI, LOAD_S_ALT, JGRTR, NONE, NONE, NONE, NONE)                 \
    X(LSS_JGEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JGEQ, NONE, NONE, NONE, NONE)                   \
    X(LSS_JSLESS, 3, LOAD_S_PRI, LOAD_S_ALT, JSLESS, NONE, NONE, NONE, NONE)               \
    X(LSS_JSLEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JSLEQ, NONE, NONE, NONE, NONE)                 \
    X(LSS_JSGRTR, 3, LOAD_S_PRI, LOAD_S_ALT, JSGRTR, NONE, NONE, NONE, NONE)               \
    X(LSS_JSGEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JSGEQ, NONE, NONE, NONE, NONE)                 \
    /* compare a local with a constant and branch */                                       \
    X(LSC_JEQ, 3, LOAD_S_PRI, CONST_ALT, JEQ, NONE, NONE, NONE, NONE)                      \
    X(LSC_JNEQ, 3, LOAD_S_PRI, CONST_ALT, JNEQ, NONE, NONE, NONE, NONE)                    \
    X(LSC_JLESS, 3, LOAD_S_PRI, CONST_ALT, JLESS, NONE, NONE, NONE, NONE)                  \
    X(LSC_JLEQ, 3, LOAD_S_PRI, CONST_ALT, JLEQ, NONE, NONE, NONE, NONE)                    \
    X(LSC_JGRTR, 3, LOAD_S_PRI, CONST_ALT, JGRTR, NONE, NONE, NONE, NONE)                  \
    X(LSC_JGEQ, 3, LOAD_S_PRI, CONST_ALT, JGEQ, NONE, NONE, NONE, NONE)                    \
    X(LSC_JSLESS, 3, LOAD_S_PRI, CONST_ALT, JSLESS, NONE, NONE, NONE, NONE)                \
    X(LSC_JSLEQ, 3, LOAD_S_PRI, CONST_ALT, JSLEQ, NONE, NONE, NONE, NONE)                  \
    X(LSC_JSGRTR, 3, LOAD_S_PRI, CONST_ALT, JSGRTR, NONE, NONE, NONE, NONE)                \
    X(LSC_JSGEQ, 3, LOAD_S_PRI, CONST_ALT, JSGEQ, NONE, NONE, NONE, NONE)                  \
    /* a local plus a constant, pushed: the argument `n + k` of a call */                  \
    X(LS_ADDC_PUSH, 3, LOAD_S_PRI, ADD_C, PUSH_PRI, NONE, NONE, NONE, NONE)                \
    /* test a local and branch */                                                          \
    X(LS_JZER, 2, LOAD_S_PRI, JZER, NONE, NONE, NONE, NONE, NONE)                          \
    X(LS_JNZ, 2, LOAD_S_PRI, JNZ, NONE, NONE, NONE, NONE, NONE)                            \
    /* a = b + c and a += b over locals */                                                 \
    X(LSS_ADD_SS_JUMP, 5, LOAD_S_PRI, LOAD_S_ALT, ADD, STOR_S_PRI, JUMP, NONE, NONE)       \
    X(LSS_ADD_SS, 4, LOAD_S_PRI, LOAD_S_ALT, ADD, STOR_S_PRI, NONE, NONE, NONE)            \
    X(LSA_ADD_SS, 3, LOAD_S_ALT, ADD, STOR_S_PRI, NONE, NONE, NONE, NONE)                  \
    /* the step at the bottom of a counted loop */                                         \
    X(INCS_JUMP, 2, INC_S, JUMP, NONE, NONE, NONE, NONE, NONE)                             \
    /* a constant stored into an element of a local array, bounds-checked */               \
    X(ALSB_STORE_C, 7, ADDR_ALT, LOAD_S_PRI, BOUNDS, IDXADDR, MOVE_ALT, CONST_PRI, STOR_I) \
    X(LSB_STORE_C, 7, LOAD_S_PRI, BOUNDS, ADDR_ALT, IDXADDR, MOVE_ALT, CONST_PRI, STOR_I)  \
    /* branch on an element of a local array, bounds-checked */                            \
    X(ALSB_LIDX_JZER, 5, ADDR_ALT, LOAD_S_PRI, BOUNDS, LIDX, JZER, NONE, NONE)             \
    X(ALSB_LIDX_JNZ, 5, ADDR_ALT, LOAD_S_PRI, BOUNDS, LIDX, JNZ, NONE, NONE)               \
    X(LSB_LIDX_JZER, 5, LOAD_S_PRI, BOUNDS, ADDR_ALT, LIDX, JZER, NONE, NONE)              \
    X(LSB_LIDX_JNZ, 5, LOAD_S_PRI, BOUNDS, ADDR_ALT, LIDX, JNZ, NONE, NONE)                \
    /* element of a local array, bounds-checked */                                         \
    X(LSB_LIDX, 4, LOAD_S_PRI, BOUNDS, ADDR_ALT, LIDX, NONE, NONE, NONE)                   \
    X(LSB_IDXADDR, 4, LOAD_S_PRI, BOUNDS, ADDR_ALT, IDXADDR, NONE, NONE, NONE)             \
    /* the same, in the order the compiler writes it */                                    \
    X(ALSB_LIDX, 4, ADDR_ALT, LOAD_S_PRI, BOUNDS, LIDX, NONE, NONE, NONE)                  \
    X(ALSB_IDXADDR, 4, ADDR_ALT, LOAD_S_PRI, BOUNDS, IDXADDR, NONE, NONE, NONE)            \
    /* store a constant through the address in PRI */                                      \
    X(MOVE_CONST_STORI, 3, MOVE_ALT, CONST_PRI, STOR_I, NONE, NONE, NONE, NONE)            \
    /* two locals into PRI and ALT, when nothing longer fits */                            \
    X(LSS, 2, LOAD_S_PRI, LOAD_S_ALT, NONE, NONE, NONE, NONE, NONE)

// Whole counted loops: `for (...; i <cmp> n; i++) a = b + c;` as the compiler writes it. The
// condition at the head (as in VELT_VM_FUSED), then the body LOAD.S.PRI, LOAD.S.ALT, ADD,
// STOR.S.PRI, then INC.S and a JUMP that must land on the head itself. The loop then runs without
// a dispatch per instruction, and the frame addresses it touches are checked once per entry.
// They come first: each one starts with a shorter form of VELT_VM_FUSED.
//
// X(enumerator, instructions in the condition, its opcodes (NONE pads))
#define VELT_VM_FUSED_LOOPS(X)                                     \
    X(LOOP_LSS_EQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, EQ, JZER)       \
    X(LOOP_LSS_NEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, NEQ, JZER)     \
    X(LOOP_LSS_LESS_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, LESS, JZER)   \
    X(LOOP_LSS_LEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, LEQ, JZER)     \
    X(LOOP_LSS_GRTR_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, GRTR, JZER)   \
    X(LOOP_LSS_GEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, GEQ, JZER)     \
    X(LOOP_LSS_SLESS_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, SLESS, JZER) \
    X(LOOP_LSS_SLEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, SLEQ, JZER)   \
    X(LOOP_LSS_SGRTR_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, SGRTR, JZER) \
    X(LOOP_LSS_SGEQ_JZER, 4, LOAD_S_PRI, LOAD_S_ALT, SGEQ, JZER)   \
    X(LOOP_LSC_EQ_JZER, 4, LOAD_S_PRI, CONST_ALT, EQ, JZER)        \
    X(LOOP_LSC_NEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, NEQ, JZER)      \
    X(LOOP_LSC_LESS_JZER, 4, LOAD_S_PRI, CONST_ALT, LESS, JZER)    \
    X(LOOP_LSC_LEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, LEQ, JZER)      \
    X(LOOP_LSC_GRTR_JZER, 4, LOAD_S_PRI, CONST_ALT, GRTR, JZER)    \
    X(LOOP_LSC_GEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, GEQ, JZER)      \
    X(LOOP_LSC_SLESS_JZER, 4, LOAD_S_PRI, CONST_ALT, SLESS, JZER)  \
    X(LOOP_LSC_SLEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, SLEQ, JZER)    \
    X(LOOP_LSC_SGRTR_JZER, 4, LOAD_S_PRI, CONST_ALT, SGRTR, JZER)  \
    X(LOOP_LSC_SGEQ_JZER, 4, LOAD_S_PRI, CONST_ALT, SGEQ, JZER)    \
    X(LOOP_LSS_JEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JEQ, NONE)          \
    X(LOOP_LSS_JNEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JNEQ, NONE)        \
    X(LOOP_LSS_JLESS, 3, LOAD_S_PRI, LOAD_S_ALT, JLESS, NONE)      \
    X(LOOP_LSS_JLEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JLEQ, NONE)        \
    X(LOOP_LSS_JGRTR, 3, LOAD_S_PRI, LOAD_S_ALT, JGRTR, NONE)      \
    X(LOOP_LSS_JGEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JGEQ, NONE)        \
    X(LOOP_LSS_JSLESS, 3, LOAD_S_PRI, LOAD_S_ALT, JSLESS, NONE)    \
    X(LOOP_LSS_JSLEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JSLEQ, NONE)      \
    X(LOOP_LSS_JSGRTR, 3, LOAD_S_PRI, LOAD_S_ALT, JSGRTR, NONE)    \
    X(LOOP_LSS_JSGEQ, 3, LOAD_S_PRI, LOAD_S_ALT, JSGEQ, NONE)

// Whole loops that store a constant into elements of a local array: `for (...; j <cmp> n; j += i)
// a[j] = k;`. The condition over two locals (either form above, any of the ten comparisons: the
// handler reads which one on entry), the body as ALSB_STORE_C or LSB_STORE_C has it, the step
// LOAD.S.PRI, LOAD.S.ALT, ADD, STOR.S.PRI, and a JUMP that must land on the head. Checked like
// the counted loops: frame addresses once per entry, the index and the element on every pass.
//
// X(enumerator, instructions in the condition, its opcodes (EQ or JEQ: any comparison), the body's
// first opcode)
#define VELT_VM_FUSED_STORE_LOOPS(X)                                           \
    X(SLOOP_LSS_CMP_JZER_ALSB, 4, LOAD_S_PRI, LOAD_S_ALT, EQ, JZER, ADDR_ALT)  \
    X(SLOOP_LSS_CMP_JZER_LSB, 4, LOAD_S_PRI, LOAD_S_ALT, EQ, JZER, LOAD_S_PRI) \
    X(SLOOP_LSS_JCC_ALSB, 3, LOAD_S_PRI, LOAD_S_ALT, JEQ, NONE, ADDR_ALT)      \
    X(SLOOP_LSS_JCC_LSB, 3, LOAD_S_PRI, LOAD_S_ALT, JEQ, NONE, LOAD_S_PRI)

enum VmFusedOp : int {
    OPF_BEFORE_FIRST = 137,  // the last opcode of the instruction set
#define VELT_VM_FUSED_ENUM(id, ...) OPF_##id,
    VELT_VM_FUSED_LOOPS(VELT_VM_FUSED_ENUM) VELT_VM_FUSED_STORE_LOOPS(VELT_VM_FUSED_ENUM)
        VELT_VM_FUSED(VELT_VM_FUSED_ENUM)
#undef VELT_VM_FUSED_ENUM
            OPF_END,  // one past the last fused token
};

struct VmFusedInfo {
    int count;        // instructions in the sequence
    uint8_t ops[16];  // their opcodes
    bool loop;        // its last instruction is a JUMP back to its first
    // The instruction that may be any comparison (ops has EQ: EQ..SGEQ; JEQ: JEQ..JSGEQ), or -1.
    int anyCompareAt = -1;
};

constexpr int kVmFusedFirst = OPF_BEFORE_FIRST + 1;
constexpr int kVmFusedCount = OPF_END - kVmFusedFirst;
// The sequence of fused token `token` (kVmFusedFirst <= token < OPF_END).
const VmFusedInfo& FusedOpcodeInfo(int token);

// True when execution can go on to the next instruction after `op`: an image whose last
// instruction is one of these would run off the end of its code, so the loader refuses it.
// HALT, the native calls and BREAK are not counted: they resume at the next instruction only
// through paths that check the code end at run time.
bool OpcodeFallsThrough(int op);

}  // namespace velt
