// The interpreter: token-threaded dispatch (computed goto through a handler table indexed by the
// opcode cell), registers in locals, and containment of every data access inside the script's
// own block.
//
// What the loader proved (opcode cells, instruction lengths, static targets, case tables, native
// operands, no fall-through past the last instruction) is not checked again here. What a script
// can change at run time is: every data address is checked against the block end (and, for the
// indirect forms the instruction set validates, against the free space between heap and stack);
// pushes stop at the heap, pops at the stack top, and RET, RETN and SCTRL 6 must land on an
// instruction start. Invariant while running: heap_low <= HEA <= STK <= stack_top.

#include <cstring>

#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"
#include "server/vm/vm_internal.h"

namespace velt {

using namespace vm_internal;

#ifdef VELT_VM_STEP_BUDGET
namespace vm_internal {
int64_t g_step_budget = -1;
}
#endif

namespace {

// Floored division: the remainder takes the sign of the divisor. INT32_MIN / -1 wraps to
// INT32_MIN with remainder 0 instead of trapping.
inline void floorDiv(cell num, cell den, cell& quot, cell& rem) {
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

}  // namespace

int vm_Exec(VmInstance* inst, cell* retval, int index) {
  if (inst->flags & VMF_BROWSE) return VM_ERR_NONE;  // opcode cells are their own handler tokens
  if (!inst->native_dispatch) return VM_ERR_CALLBACK;
  if (!(inst->flags & VMF_NATIVES_READY)) return VM_ERR_NOTFOUND;
  if (!(inst->flags & VMF_RELOCATED)) return VM_ERR_INIT;

#define VELT_R8(x) x, x, x, x, x, x, x, x
#define VELT_OP_LABEL(num, id, name, operand) &&L_##id,
  static const void* const handlers[256] = {
      VELT_VM_OPCODES(VELT_OP_LABEL)
      // Tokens past the instruction set: unreachable after load, but never a wild jump.
      VELT_R8(VELT_R8(&&L_NONE)), VELT_R8(&&L_NONE), VELT_R8(&&L_NONE), VELT_R8(&&L_NONE),
      VELT_R8(&&L_NONE), VELT_R8(&&L_NONE), VELT_R8(&&L_NONE),
      &&L_NONE, &&L_NONE, &&L_NONE, &&L_NONE, &&L_NONE, &&L_NONE};
#undef VELT_OP_LABEL
#undef VELT_R8
  static_assert(sizeof handlers / sizeof handlers[0] == 256);

  uint8_t* const code = codeBase(inst);
  uint8_t* const data = dataBase(inst);
  const uint8_t* const code_end = code + inst->code_size;
  const cell stp = inst->stack_top;
  const cell hlw = inst->heap_low;
  const cell hdr_cod = cell(rd32(inst->image + 12));
  const cell hdr_dat = cell(rd32(inst->image + 16));

  cell pri = 0, alt = 0, frm = 0;
  cell hea = inst->heap, stk = inst->stack;
  cell reset_hea = hea, reset_stk = stk;
  const uint8_t* cip = nullptr;
  int err = VM_ERR_NONE;
  cell nidx = 0;

  if (index == VM_EXEC_CONTINUE) {
    frm = inst->frame;
    pri = inst->reg_pri;
    alt = inst->reg_alt;
    reset_stk = inst->resume_stack;
    reset_hea = inst->resume_heap;
    if (!isInstructionStart(inst, ucell(inst->cip))) return VM_ERR_MEMACCESS;
    cip = code + inst->cip;
  } else if (index == VM_EXEC_MAIN) {
    cell main_entry = cell(rd32(inst->image + 28));
    if (main_entry < 0) return VM_ERR_INDEX;
    cip = code + main_entry;
  } else if (index >= 0) {
    VmTable pubs = table(inst->image, TableKind::Publics);
    if (index >= pubs.count) return VM_ERR_INDEX;
    cip = code + rd32(pubs.entry(index));
  } else {
    return VM_ERR_INDEX;
  }
  if (stk > stp) return VM_ERR_STACKLOW;
  if (hea < hlw) return VM_ERR_HEAPLOW;
  if (index != VM_EXEC_CONTINUE) {
    const int64_t args = int64_t(inst->pushed_args) * 4;
    if (args < 0 || int64_t(stk) + args > stp) return VM_ERR_STACKLOW;
    if (int64_t(hea) + 64 > int64_t(stk) - 8) return VM_ERR_STACKERR;
    reset_stk = cell(stk + args);
    inst->pushed_args = 0;
    stk -= 4;
    stc(data + stk, cell(args));
    stk -= 4;
    stc(data + stk, 0);
  }
  if (int64_t(hea) + 64 > stk) return VM_ERR_STACKERR;

#define OPND() ldc(cip + 4)
#ifdef VELT_VM_STEP_BUDGET
// An exhausted budget stays at 0, so runs that follow (an outer run after a nested one) stop too.
#define NEXT()                                                       \
  do {                                                               \
    if (g_step_budget >= 0) {                                        \
      if (g_step_budget == 0) ABORT(VM_ERR_EXIT);                    \
      --g_step_budget;                                               \
    }                                                                \
    goto* handlers[ucell(ldc(cip)) & 0xFFu];                         \
  } while (0)
#else
#define NEXT() goto* handlers[ucell(ldc(cip)) & 0xFFu]
#endif
#define ABORT(e)  \
  do {            \
    err = (e);    \
    goto abort_run; \
  } while (0)
#define UNLIKELY(x) __builtin_expect(!!(x), 0)
  // Inside the block: enough for containment, used where the instruction set promises no check.
#define CHK(a) \
  if (UNLIKELY(ucell(a) >= ucell(stp))) ABORT(VM_ERR_MEMACCESS)
  // The instruction set's validated access: also refuses the free space between heap and stack.
#define VALID(a) \
  if (UNLIKELY(ucell(a) >= ucell(stp) || (cell(a) >= hea && cell(a) < stk))) ABORT(VM_ERR_MEMACCESS)
#define VALID_BLOCK(a, n)                                             \
  do {                                                                \
    VALID(a);                                                         \
    const int64_t end_ = int64_t(ucell(a)) + int64_t(ucell(n));       \
    if (UNLIKELY(end_ > stp || (end_ > hea && end_ < stk))) ABORT(VM_ERR_MEMACCESS); \
  } while (0)
#define PUSH(v)                                            \
  do {                                                     \
    if (UNLIKELY(stk - 4 < hea)) ABORT(VM_ERR_STACKERR);   \
    stk -= 4;                                              \
    stc(data + stk, (v));                                  \
  } while (0)
#define POP(v)                                             \
  do {                                                     \
    if (UNLIKELY(stk > stp - 4)) ABORT(VM_ERR_STACKLOW);   \
    (v) = ldc(data + stk);                                 \
    stk += 4;                                              \
  } while (0)
#define FRAME(off) ucell(ucell(frm) + ucell(off))
#define ADD32(a, b) cell(ucell(a) + ucell(b))
#define JUMP_IF(cond)               \
  do {                              \
    if (cond) cip = code + OPND();  \
    else cip += 8;                  \
    NEXT();                         \
  } while (0)

  NEXT();

L_NONE:
L_CALL_PRI:
L_FILE:
L_JUMP_PRI:
L_CASETBL:
  ABORT(VM_ERR_INVINSTR);

L_LOAD_PRI: { cell a = OPND(); CHK(a); pri = ldc(data + a); cip += 8; NEXT(); }
L_LOAD_ALT: { cell a = OPND(); CHK(a); alt = ldc(data + a); cip += 8; NEXT(); }
L_LOAD_S_PRI: { ucell a = FRAME(OPND()); CHK(a); pri = ldc(data + a); cip += 8; NEXT(); }
L_LOAD_S_ALT: { ucell a = FRAME(OPND()); CHK(a); alt = ldc(data + a); cip += 8; NEXT(); }
L_LREF_PRI: { cell a = OPND(); CHK(a); cell b = ldc(data + a); CHK(b); pri = ldc(data + b); cip += 8; NEXT(); }
L_LREF_ALT: { cell a = OPND(); CHK(a); cell b = ldc(data + a); CHK(b); alt = ldc(data + b); cip += 8; NEXT(); }
L_LREF_S_PRI: { ucell a = FRAME(OPND()); CHK(a); cell b = ldc(data + a); CHK(b); pri = ldc(data + b); cip += 8; NEXT(); }
L_LREF_S_ALT: { ucell a = FRAME(OPND()); CHK(a); cell b = ldc(data + a); CHK(b); alt = ldc(data + b); cip += 8; NEXT(); }
L_LOAD_I: { VALID(pri); pri = ldc(data + pri); cip += 4; NEXT(); }
L_LODB_I: {
  VALID(pri);
  switch (OPND()) {
    case 1: pri = data[pri]; break;
    case 2: { uint16_t v; std::memcpy(&v, data + pri, 2); pri = v; break; }
    case 4: pri = ldc(data + pri); break;
    default: break;
  }
  cip += 8;
  NEXT();
}
L_CONST_PRI: { pri = OPND(); cip += 8; NEXT(); }
L_CONST_ALT: { alt = OPND(); cip += 8; NEXT(); }
L_ADDR_PRI: { pri = ADD32(frm, OPND()); cip += 8; NEXT(); }
L_ADDR_ALT: { alt = ADD32(frm, OPND()); cip += 8; NEXT(); }
L_STOR_PRI: { cell a = OPND(); CHK(a); stc(data + a, pri); cip += 8; NEXT(); }
L_STOR_ALT: { cell a = OPND(); CHK(a); stc(data + a, alt); cip += 8; NEXT(); }
L_STOR_S_PRI: { ucell a = FRAME(OPND()); CHK(a); stc(data + a, pri); cip += 8; NEXT(); }
L_STOR_S_ALT: { ucell a = FRAME(OPND()); CHK(a); stc(data + a, alt); cip += 8; NEXT(); }
L_SREF_PRI: { cell a = OPND(); CHK(a); cell b = ldc(data + a); CHK(b); stc(data + b, pri); cip += 8; NEXT(); }
L_SREF_ALT: { cell a = OPND(); CHK(a); cell b = ldc(data + a); CHK(b); stc(data + b, alt); cip += 8; NEXT(); }
L_SREF_S_PRI: { ucell a = FRAME(OPND()); CHK(a); cell b = ldc(data + a); CHK(b); stc(data + b, pri); cip += 8; NEXT(); }
L_SREF_S_ALT: { ucell a = FRAME(OPND()); CHK(a); cell b = ldc(data + a); CHK(b); stc(data + b, alt); cip += 8; NEXT(); }
L_STOR_I: { VALID(alt); stc(data + alt, pri); cip += 4; NEXT(); }
L_STRB_I: {
  VALID(alt);
  switch (OPND()) {
    case 1: data[alt] = uint8_t(pri); break;
    case 2: { uint16_t v = uint16_t(pri); std::memcpy(data + alt, &v, 2); break; }
    case 4: stc(data + alt, pri); break;
    default: break;
  }
  cip += 8;
  NEXT();
}
L_LIDX: { ucell a = ucell(alt) + ucell(pri) * 4u; VALID(a); pri = ldc(data + a); cip += 4; NEXT(); }
L_LIDX_B: {
  ucell a = ucell(alt) + (ucell(pri) << (ucell(OPND()) & 31));
  VALID(a);
  pri = ldc(data + a);
  cip += 8;
  NEXT();
}
L_IDXADDR: { pri = cell(ucell(alt) + ucell(pri) * 4u); cip += 4; NEXT(); }
L_IDXADDR_B: { pri = cell(ucell(alt) + (ucell(pri) << (ucell(OPND()) & 31))); cip += 8; NEXT(); }
L_ALIGN_PRI: { ucell n = ucell(OPND()); if (n < 4) pri ^= cell(4 - n); cip += 8; NEXT(); }
L_ALIGN_ALT: { ucell n = ucell(OPND()); if (n < 4) alt ^= cell(4 - n); cip += 8; NEXT(); }
L_LCTRL: {
  switch (OPND()) {
    case 0: pri = hdr_cod; break;
    case 1: pri = hdr_dat; break;
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
L_SCTRL: {
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
    case 5: frm = pri; break;
    case 6:
      if (!isInstructionStart(inst, ucell(pri))) ABORT(VM_ERR_MEMACCESS);
      cip = code + pri;
      NEXT();
    default: break;
  }
  cip += 8;
  NEXT();
}
L_MOVE_PRI: { pri = alt; cip += 4; NEXT(); }
L_MOVE_ALT: { alt = pri; cip += 4; NEXT(); }
L_XCHG: { cell t = pri; pri = alt; alt = t; cip += 4; NEXT(); }
L_PUSH_PRI: { PUSH(pri); cip += 4; NEXT(); }
L_PUSH_ALT: { PUSH(alt); cip += 4; NEXT(); }
L_PUSH_R: { for (cell n = OPND(); n > 0; --n) PUSH(pri); cip += 8; NEXT(); }
L_PUSH_C: { PUSH(OPND()); cip += 8; NEXT(); }
L_PUSH: { cell a = OPND(); CHK(a); PUSH(ldc(data + a)); cip += 8; NEXT(); }
L_PUSH_S: { ucell a = FRAME(OPND()); CHK(a); PUSH(ldc(data + a)); cip += 8; NEXT(); }
L_POP_PRI: { POP(pri); cip += 4; NEXT(); }
L_POP_ALT: { POP(alt); cip += 4; NEXT(); }
L_STACK: {
  const int64_t n = int64_t(stk) + OPND();
  alt = stk;
  if (int64_t(hea) + 64 > n) ABORT(VM_ERR_STACKERR);
  if (n > stp) ABORT(VM_ERR_STACKLOW);
  stk = cell(n);
  cip += 8;
  NEXT();
}
L_HEAP: {
  const int64_t n = int64_t(hea) + OPND();
  alt = hea;
  if (n + 64 > stk) ABORT(VM_ERR_STACKERR);
  if (n < hlw) ABORT(VM_ERR_HEAPLOW);
  hea = cell(n);
  cip += 8;
  NEXT();
}
L_PROC: {
  PUSH(frm);
  frm = stk;
  if (int64_t(hea) + 64 > stk) ABORT(VM_ERR_STACKERR);
  cip += 4;
  NEXT();
}
L_RET: {
  cell ra;
  POP(frm);
  POP(ra);
  if (!isInstructionStart(inst, ucell(ra))) ABORT(VM_ERR_MEMACCESS);
  cip = code + ra;
  NEXT();
}
L_RETN: {
  cell ra, n;
  POP(frm);
  POP(ra);
  if (!isInstructionStart(inst, ucell(ra))) ABORT(VM_ERR_MEMACCESS);
  POP(n);
  const int64_t s = int64_t(stk) + n;
  if (s > stp) ABORT(VM_ERR_STACKLOW);
  if (s < hea) ABORT(VM_ERR_STACKERR);
  stk = cell(s);
  cip = code + ra;
  NEXT();
}
L_CALL: { PUSH(cell(cip + 8 - code)); cip = code + OPND(); NEXT(); }
L_JUMP: { cip = code + OPND(); NEXT(); }
L_JREL: { cip = cip + 8 + OPND(); NEXT(); }
L_JZER: JUMP_IF(pri == 0);
L_JNZ: JUMP_IF(pri != 0);
L_JEQ: JUMP_IF(pri == alt);
L_JNEQ: JUMP_IF(pri != alt);
L_JLESS: JUMP_IF(ucell(pri) < ucell(alt));
L_JLEQ: JUMP_IF(ucell(pri) <= ucell(alt));
L_JGRTR: JUMP_IF(ucell(pri) > ucell(alt));
L_JGEQ: JUMP_IF(ucell(pri) >= ucell(alt));
L_JSLESS: JUMP_IF(pri < alt);
L_JSLEQ: JUMP_IF(pri <= alt);
L_JSGRTR: JUMP_IF(pri > alt);
L_JSGEQ: JUMP_IF(pri >= alt);
L_SHL: { pri = cell(ucell(pri) << (ucell(alt) & 31)); cip += 4; NEXT(); }
L_SHR: { pri = cell(ucell(pri) >> (ucell(alt) & 31)); cip += 4; NEXT(); }
L_SSHR: { pri = pri >> (ucell(alt) & 31); cip += 4; NEXT(); }
L_SHL_C_PRI: { pri = cell(ucell(pri) << (ucell(OPND()) & 31)); cip += 8; NEXT(); }
L_SHL_C_ALT: { alt = cell(ucell(alt) << (ucell(OPND()) & 31)); cip += 8; NEXT(); }
L_SHR_C_PRI: { pri = cell(ucell(pri) >> (ucell(OPND()) & 31)); cip += 8; NEXT(); }
L_SHR_C_ALT: { alt = cell(ucell(alt) >> (ucell(OPND()) & 31)); cip += 8; NEXT(); }
L_SMUL:
L_UMUL: { pri = cell(ucell(pri) * ucell(alt)); cip += 4; NEXT(); }
L_SDIV: {
  if (alt == 0) ABORT(VM_ERR_DIVIDE);
  floorDiv(pri, alt, pri, alt);
  cip += 4;
  NEXT();
}
L_SDIV_ALT: {
  if (pri == 0) ABORT(VM_ERR_DIVIDE);
  floorDiv(alt, pri, pri, alt);
  cip += 4;
  NEXT();
}
L_UDIV: {
  if (alt == 0) ABORT(VM_ERR_DIVIDE);
  ucell q = ucell(pri) / ucell(alt), r = ucell(pri) % ucell(alt);
  pri = cell(q);
  alt = cell(r);
  cip += 4;
  NEXT();
}
L_UDIV_ALT: {
  if (pri == 0) ABORT(VM_ERR_DIVIDE);
  ucell q = ucell(alt) / ucell(pri), r = ucell(alt) % ucell(pri);
  pri = cell(q);
  alt = cell(r);
  cip += 4;
  NEXT();
}
L_ADD: { pri = ADD32(pri, alt); cip += 4; NEXT(); }
L_SUB: { pri = cell(ucell(pri) - ucell(alt)); cip += 4; NEXT(); }
L_SUB_ALT: { pri = cell(ucell(alt) - ucell(pri)); cip += 4; NEXT(); }
L_AND: { pri &= alt; cip += 4; NEXT(); }
L_OR: { pri |= alt; cip += 4; NEXT(); }
L_XOR: { pri ^= alt; cip += 4; NEXT(); }
L_NOT: { pri = pri == 0; cip += 4; NEXT(); }
L_NEG: { pri = cell(0u - ucell(pri)); cip += 4; NEXT(); }
L_INVERT: { pri = ~pri; cip += 4; NEXT(); }
L_ADD_C: { pri = ADD32(pri, OPND()); cip += 8; NEXT(); }
L_SMUL_C: { pri = cell(ucell(pri) * ucell(OPND())); cip += 8; NEXT(); }
L_ZERO_PRI: { pri = 0; cip += 4; NEXT(); }
L_ZERO_ALT: { alt = 0; cip += 4; NEXT(); }
L_ZERO: { cell a = OPND(); CHK(a); stc(data + a, 0); cip += 8; NEXT(); }
L_ZERO_S: { ucell a = FRAME(OPND()); CHK(a); stc(data + a, 0); cip += 8; NEXT(); }
L_SIGN_PRI: { if ((pri & 0xFF) >= 0x80) pri |= ~cell(0xFF); cip += 4; NEXT(); }
L_SIGN_ALT: { if ((alt & 0xFF) >= 0x80) alt |= ~cell(0xFF); cip += 4; NEXT(); }
L_EQ: { pri = pri == alt; cip += 4; NEXT(); }
L_NEQ: { pri = pri != alt; cip += 4; NEXT(); }
L_LESS: { pri = ucell(pri) < ucell(alt); cip += 4; NEXT(); }
L_LEQ: { pri = ucell(pri) <= ucell(alt); cip += 4; NEXT(); }
L_GRTR: { pri = ucell(pri) > ucell(alt); cip += 4; NEXT(); }
L_GEQ: { pri = ucell(pri) >= ucell(alt); cip += 4; NEXT(); }
L_SLESS: { pri = pri < alt; cip += 4; NEXT(); }
L_SLEQ: { pri = pri <= alt; cip += 4; NEXT(); }
L_SGRTR: { pri = pri > alt; cip += 4; NEXT(); }
L_SGEQ: { pri = pri >= alt; cip += 4; NEXT(); }
L_EQ_C_PRI: { pri = pri == OPND(); cip += 8; NEXT(); }
L_EQ_C_ALT: { pri = alt == OPND(); cip += 8; NEXT(); }
L_INC_PRI: { pri = ADD32(pri, 1); cip += 4; NEXT(); }
L_INC_ALT: { alt = ADD32(alt, 1); cip += 4; NEXT(); }
L_INC: { cell a = OPND(); CHK(a); stc(data + a, ADD32(ldc(data + a), 1)); cip += 8; NEXT(); }
L_INC_S: { ucell a = FRAME(OPND()); CHK(a); stc(data + a, ADD32(ldc(data + a), 1)); cip += 8; NEXT(); }
L_INC_I: { CHK(pri); stc(data + pri, ADD32(ldc(data + pri), 1)); cip += 4; NEXT(); }
L_DEC_PRI: { pri = ADD32(pri, -1); cip += 4; NEXT(); }
L_DEC_ALT: { alt = ADD32(alt, -1); cip += 4; NEXT(); }
L_DEC: { cell a = OPND(); CHK(a); stc(data + a, ADD32(ldc(data + a), -1)); cip += 8; NEXT(); }
L_DEC_S: { ucell a = FRAME(OPND()); CHK(a); stc(data + a, ADD32(ldc(data + a), -1)); cip += 8; NEXT(); }
L_DEC_I: { CHK(pri); stc(data + pri, ADD32(ldc(data + pri), -1)); cip += 4; NEXT(); }
L_MOVS: {
  const ucell n = ucell(OPND());
  VALID_BLOCK(pri, n);
  VALID_BLOCK(alt, n);
  std::memmove(data + alt, data + pri, n);
  cip += 8;
  NEXT();
}
L_CMPS: {
  const ucell n = ucell(OPND());
  VALID_BLOCK(pri, n);
  VALID_BLOCK(alt, n);
  const int r = n ? std::memcmp(data + alt, data + pri, n) : 0;
  pri = (r > 0) - (r < 0);
  cip += 8;
  NEXT();
}
L_FILL: {
  const ucell n = ucell(OPND());
  VALID_BLOCK(alt, n);
  for (ucell i = 0; i + 4 <= n; i += 4) stc(data + alt + i, pri);
  cip += 8;
  NEXT();
}
L_HALT: {
  const cell n = OPND();
  cip += 8;
  if (retval) *retval = pri;
  inst->reg_pri = pri;
  inst->reg_alt = alt;
  inst->frame = frm;
  inst->cip = cell(cip - code);
  if (n == VM_ERR_SLEEP) {
    inst->stack = stk;
    inst->heap = hea;
    inst->resume_stack = reset_stk;
    inst->resume_heap = reset_hea;
    return VM_ERR_SLEEP;
  }
  inst->stack = reset_stk;
  inst->heap = reset_hea;
  return n;
}
L_BOUNDS: { if (ucell(pri) > ucell(OPND())) ABORT(VM_ERR_BOUNDS); cip += 8; NEXT(); }
L_SYSREQ_PRI: { nidx = pri; cip += 4; goto native_call; }
L_SYSREQ_C: { nidx = OPND(); cip += 8; goto native_call; }
L_LINE:
L_SRANGE: { cip += 12; NEXT(); }
L_SYMBOL: { cip += 8 + ucell(OPND()); NEXT(); }
L_SWITCH: {
  const uint8_t* t = code + OPND();
  const ucell n = ucell(ldc(t + 4));
  cip = code + ldc(t + 8);
  for (ucell i = 0; i < n; ++i) {
    if (ldc(t + 12 + 8 * i) == pri) {
      cip = code + ldc(t + 16 + 8 * i);
      break;
    }
  }
  NEXT();
}
L_SWAP_PRI: {
  if (stk > stp - 4) ABORT(VM_ERR_STACKLOW);
  cell t = ldc(data + stk);
  stc(data + stk, pri);
  pri = t;
  cip += 4;
  NEXT();
}
L_SWAP_ALT: {
  if (stk > stp - 4) ABORT(VM_ERR_STACKLOW);
  cell t = ldc(data + stk);
  stc(data + stk, alt);
  alt = t;
  cip += 4;
  NEXT();
}
L_PUSH_ADR: { PUSH(ADD32(frm, OPND())); cip += 8; NEXT(); }
L_NOP: { cip += 4; NEXT(); }
L_SYMTAG: { cip += 8; NEXT(); }
L_SYSREQ_D: {
  nidx = OPND();
  cip += 8;
  inst->cip = cell(cip - code);
  inst->frame = frm;
  inst->heap = hea;
  inst->stack = stk;
  if ((stk & 3) != 0 || int64_t(stk) + 4 + int64_t(ucell(ldc(data + stk))) > stp) ABORT(VM_ERR_MEMACCESS);
  if (ucell(nidx) >= ucell(inst->native_count) || !inst->native_table[nidx]) ABORT(VM_ERR_NOTFOUND);
  // A sleep raised by an earlier call must not make this one sleep too.
  inst->error_code = 0;
  pri = inst->native_table[nidx](inst, reinterpret_cast<const cell*>(data + stk));
  err = inst->error_code;
  if (err != VM_ERR_NONE) {
    if (err == VM_ERR_SLEEP) goto sleep_in_call;
    goto abort_run;
  }
  if (cip >= code_end) ABORT(VM_ERR_MEMACCESS);
  NEXT();
}
L_BREAK: {
  cip += 4;
  if (inst->debug_hook) {
    inst->cip = cell(cip - code);
    inst->frame = frm;
    inst->heap = hea;
    inst->stack = stk;
    err = inst->debug_hook(inst);
    if (err != VM_ERR_NONE) {
      if (err == VM_ERR_SLEEP) goto sleep_in_call;
      goto abort_run;
    }
  }
  if (cip >= code_end) ABORT(VM_ERR_MEMACCESS);
  NEXT();
}

native_call: {
  inst->cip = cell(cip - code);
  inst->frame = frm;
  inst->heap = hea;
  inst->stack = stk;
  // The native reads params as cells and trusts params[0]: the cells must be aligned and the
  // argument bytes it announces must lie on the stack.
  if ((stk & 3) != 0 || int64_t(stk) + 4 + int64_t(ucell(ldc(data + stk))) > stp) ABORT(VM_ERR_MEMACCESS);
  cell result = pri;
  err = inst->native_dispatch(inst, nidx, &result, reinterpret_cast<const cell*>(data + stk));
  pri = result;
  if (err != VM_ERR_NONE) {
    if (err == VM_ERR_SLEEP) goto sleep_in_call;
    goto abort_run;
  }
  if (cip >= code_end) ABORT(VM_ERR_MEMACCESS);
  NEXT();
}

sleep_in_call:
  inst->reg_pri = pri;
  inst->reg_alt = alt;
  inst->resume_stack = reset_stk;
  inst->resume_heap = reset_hea;
  return VM_ERR_SLEEP;

abort_run:
  inst->stack = reset_stk;
  inst->heap = reset_hea;
  return err;

#undef OPND
#undef NEXT
#undef ABORT
#undef UNLIKELY
#undef CHK
#undef VALID
#undef VALID_BLOCK
#undef PUSH
#undef POP
#undef FRAME
#undef ADD32
#undef JUMP_IF
}

}  // namespace velt
