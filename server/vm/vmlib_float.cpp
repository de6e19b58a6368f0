// Float natives. A float travels in a cell as its IEEE single-precision bits; every operation is
// carried out in double and rounded to single precision once, at the end.

#include "server/vm/vmlib.h"
#include "server/vm/vmlib_common.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <string>

namespace velt {
namespace {

using namespace vmlib;

double Arg(const cell* params, int i) { return CellToFloat(params[i]); }

cell ToCell(double d) { return FloatToCell(static_cast<float>(d)); }

cell n_float(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 1 ? 0 : ToCell(static_cast<double>(params[1]));
}

cell n_floatstr(VmInstance* vm, const cell* params) {
    ScriptText text;
    if (ArgCount(vm, params) < 1 || !ReadText(vm, params[1], text)) return 0;
    if (text.chars.empty() || text.chars.size() >= 60) return ToCell(0.0);
    const std::string bytes = ToBytes(text);
    return ToCell(std::strtod(bytes.c_str(), nullptr));
}

cell n_floatmul(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 2 ? 0 : ToCell(Arg(params, 1) * Arg(params, 2));
}

cell n_floatdiv(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 2 ? 0 : ToCell(Arg(params, 1) / Arg(params, 2));
}

cell n_floatadd(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 2 ? 0 : ToCell(Arg(params, 1) + Arg(params, 2));
}

cell n_floatsub(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 2 ? 0 : ToCell(Arg(params, 1) - Arg(params, 2));
}

cell n_floatfract(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 1) return 0;
    const double f = Arg(params, 1);
    return ToCell(f - std::floor(f));
}

cell n_floatround(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    const double f = Arg(params, 1);
    double r;
    switch (params[2]) {
        case 1: r = std::floor(f); break;
        case 2: r = std::ceil(f); break;
        case 3: r = f >= 0 ? std::floor(f) : std::ceil(f); break;
        default: r = std::floor(f + 0.5); break;
    }
    // NaN fails both comparisons and lands on the out-of-range value as well.
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) return INT32_MIN;
    return static_cast<cell>(r);
}

cell n_floatcmp(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    const double a = Arg(params, 1), b = Arg(params, 2);
    if (a == b) return 0;
    return a > b ? 1 : -1;
}

cell n_floatsqroot(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 1 ? 0 : ToCell(std::sqrt(Arg(params, 1)));
}

cell n_floatpower(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 2 ? 0 : ToCell(std::pow(Arg(params, 1), Arg(params, 2)));
}

cell n_floatlog(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    const double f = Arg(params, 1), base = Arg(params, 2);
    if (f <= 0 || base <= 0) {
        vm_RaiseError(vm, VM_ERR_DOMAIN);
        return 0;
    }
    if (base == 10.0) return ToCell(std::log10(f));
    return ToCell(std::log(f) / std::log(base));
}

double ToRadians(double f, cell mode) {
    switch (mode) {
        case 1: return f * std::numbers::pi / 180.0;
        case 2: return f * std::numbers::pi / 200.0;
        default: return f;
    }
}

cell n_floatsin(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 2 ? 0 : ToCell(std::sin(ToRadians(Arg(params, 1), params[2])));
}

cell n_floatcos(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 2 ? 0 : ToCell(std::cos(ToRadians(Arg(params, 1), params[2])));
}

cell n_floattan(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 2 ? 0 : ToCell(std::tan(ToRadians(Arg(params, 1), params[2])));
}

cell n_floatabs(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 1) return 0;
    // Anything not >= 0 gets its sign bit flipped, NaN included; -0.0 stays as it is.
    return Arg(params, 1) >= 0 ? params[1] : static_cast<cell>(static_cast<ucell>(params[1]) ^ 0x80000000u);
}

const VmNativeEntry kFloatNatives[] = {
    {"float", n_float},           {"floatstr", n_floatstr},
    {"floatmul", n_floatmul},     {"floatdiv", n_floatdiv},
    {"floatadd", n_floatadd},     {"floatsub", n_floatsub},
    {"floatfract", n_floatfract}, {"floatround", n_floatround},
    {"floatcmp", n_floatcmp},     {"floatsqroot", n_floatsqroot},
    {"floatpower", n_floatpower}, {"floatlog", n_floatlog},
    {"floatsin", n_floatsin},     {"floatcos", n_floatcos},
    {"floattan", n_floattan},     {"floatabs", n_floatabs},
    {nullptr, nullptr},
};

}  // namespace

int vm_AttachFloatLib(VmInstance* vm) { return vm_Register(vm, kFloatNatives, -1); }
int vm_DetachFloatLib(VmInstance*) { return 0; }

}  // namespace velt
