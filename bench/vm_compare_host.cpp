// Runs one assembled workload of the side-by-side VM benchmark and times its public `run`.
//
//   vm_compare_host <image.vmb> <arg>...      prints "<result> <seconds>"
//
// The arguments (at most 4 integers) go to `run` in order. The clock is the process CPU time
// around vm_Exec alone, like os.clock() around the workload in the Lua scripts, so loading the
// image and binding natives are not counted. The bench driver (vm_compare.py) runs this.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "server/vm/vm.h"

using namespace velt;

namespace {

// The native of the call workload: a + 2b + 3c + 4d. It checks its argument count the way the
// server's natives do, so the figure is that of a real binding, not of a bare function pointer.
cell WeightedSum(VmInstance* inst, const cell* params) {
    if (params[0] != 4 * int(sizeof(cell))) {
        vm_RaiseError(inst, VM_ERR_NATIVE);
        return 0;
    }
    return cell(ucell(params[1]) + 2u * ucell(params[2]) + 3u * ucell(params[3]) + 4u * ucell(params[4]));
}

const VmNativeEntry kNatives[] = {{"WeightedSum", WeightedSum}, {nullptr, nullptr}};

bool readFile(const char* path, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool parseCell(const char* text, cell* out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
    *out = cell(v);
    return true;
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 6) {
        std::fprintf(stderr, "usage: %s <image.vmb> <arg>... (1 to 4 integer arguments)\n", argv[0]);
        return 2;
    }
    std::vector<cell> args;
    for (int i = 2; i < argc; ++i) {
        cell v;
        if (!parseCell(argv[i], &v)) {
            std::fprintf(stderr, "%s: not a 32-bit integer: %s\n", argv[0], argv[i]);
            return 2;
        }
        args.push_back(v);
    }

    std::vector<uint8_t> file;
    if (!readFile(argv[1], file)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    VmInstance inst{};
    int err = vm_LoadImage(&inst, file.data(), file.size());
    if (err == VM_ERR_NONE) err = vm_Register(&inst, kNatives, -1);
    int index = -1;
    if (err == VM_ERR_NONE) err = vm_LookupPublic(&inst, "run", &index);
    // Last argument first, as the compiler's calling convention has it.
    for (size_t i = args.size(); err == VM_ERR_NONE && i-- > 0;) err = vm_PushCell(&inst, args[i]);
    if (err != VM_ERR_NONE) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], vm_ErrorText(err));
        if (inst.image) vm_FreeImage(&inst);
        return 1;
    }

    cell result = 0;
    const double t0 = cpuSeconds();
    err = vm_Exec(&inst, &result, index);
    const double t1 = cpuSeconds();
    vm_FreeImage(&inst);
    if (err != VM_ERR_NONE) {
        std::fprintf(stderr, "%s: %s: run failed: %s\n", argv[0], argv[1], vm_ErrorText(err));
        return 1;
    }
    std::printf("%" PRId32 " %.6f\n", result, t1 - t0);
    return 0;
}
