#include "server/vm/VmOpcodes.h"

#include <cstring>

#include "server/vm/vm.h"

namespace velt {

namespace {
const VmOpInfo kOps[OP_NUM_OPCODES] = {
#define VELT_VM_OP_INFO(num, id, name, operand) {name, VmOperand::operand},
    VELT_VM_OPCODES(VELT_VM_OP_INFO)
#undef VELT_VM_OP_INFO
};
// The body and step of every loop form, after its condition.
#define VELT_VM_LOOP_TAIL OP_LOAD_S_PRI, OP_LOAD_S_ALT, OP_ADD, OP_STOR_S_PRI, OP_INC_S, OP_JUMP
const VmFusedInfo kFused[kVmFusedCount] = {
#define VELT_VM_FUSED_LOOP_INFO(id, count, a, b, c, d)                                             \
    count == 4 ? VmFusedInfo{count + 6, {OP_##a, OP_##b, OP_##c, OP_##d, VELT_VM_LOOP_TAIL}, true} \
               : VmFusedInfo{count + 6, {OP_##a, OP_##b, OP_##c, VELT_VM_LOOP_TAIL}, true},
    VELT_VM_FUSED_LOOPS(VELT_VM_FUSED_LOOP_INFO)
#undef VELT_VM_FUSED_LOOP_INFO
// The store loops: condition, body (as ALSB_STORE_C or LSB_STORE_C, after its first opcode),
// step and jump.
#define VELT_VM_STORE_BODY_ADDR_ALT OP_ADDR_ALT, OP_LOAD_S_PRI, OP_BOUNDS
#define VELT_VM_STORE_BODY_LOAD_S_PRI OP_LOAD_S_PRI, OP_BOUNDS, OP_ADDR_ALT
#define VELT_VM_STORE_TAIL                                                                                 \
    OP_IDXADDR, OP_MOVE_ALT, OP_CONST_PRI, OP_STOR_I, OP_LOAD_S_PRI, OP_LOAD_S_ALT, OP_ADD, OP_STOR_S_PRI, \
        OP_JUMP
#define VELT_VM_FUSED_STORE_LOOP_INFO(id, count, a, b, c, d, body)                                     \
    count == 4                                                                                         \
        ? VmFusedInfo{count + 12,                                                                      \
                      {OP_##a, OP_##b, OP_##c, OP_##d, VELT_VM_STORE_BODY_##body, VELT_VM_STORE_TAIL}, \
                      true,                                                                            \
                      2}                                                                               \
        : VmFusedInfo{                                                                                 \
              count + 12, {OP_##a, OP_##b, OP_##c, VELT_VM_STORE_BODY_##body, VELT_VM_STORE_TAIL}, true, 2},
        VELT_VM_FUSED_STORE_LOOPS(VELT_VM_FUSED_STORE_LOOP_INFO)
#undef VELT_VM_FUSED_STORE_LOOP_INFO
#undef VELT_VM_STORE_TAIL
#undef VELT_VM_STORE_BODY_LOAD_S_PRI
#undef VELT_VM_STORE_BODY_ADDR_ALT
#define VELT_VM_FUSED_INFO(id, count, a, b, c, d, e, f, g) \
    {count, {OP_##a, OP_##b, OP_##c, OP_##d, OP_##e, OP_##f, OP_##g}, false},
            VELT_VM_FUSED(VELT_VM_FUSED_INFO)
#undef VELT_VM_FUSED_INFO
};
#undef VELT_VM_LOOP_TAIL

static_assert(kVmFusedFirst == OP_NUM_OPCODES, "fused tokens follow the instruction set");
static_assert(OPF_END <= 256, "every token indexes the 256-entry handler table");
}  // namespace

const VmOpInfo& OpcodeInfo(int op) { return kOps[op]; }

const VmFusedInfo& FusedOpcodeInfo(int token) { return kFused[token - kVmFusedFirst]; }

int OpcodeByName(const char* name) {
    for (int i = 0; i < OP_NUM_OPCODES; ++i)
        if (std::strcmp(kOps[i].name, name) == 0) return i;
    return -1;
}

bool OpcodeFallsThrough(int op) {
    switch (op) {
        case OP_NONE:
        case OP_RET:
        case OP_RETN:
        case OP_CALL:  // the return lands on code end, which RET refuses
        case OP_CALL_PRI:
        case OP_JUMP:
        case OP_JREL:
        case OP_HALT:
        case OP_SYSREQ_PRI:
        case OP_SYSREQ_C:
        case OP_SYSREQ_D:
        case OP_BREAK:
        case OP_FILE:
        case OP_JUMP_PRI:
        case OP_SWITCH:
        case OP_CASETBL: return false;
        default: return true;
    }
}

}  // namespace velt
