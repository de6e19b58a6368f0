// Runs one assembled workload of the side-by-side VM benchmark and times its public `run`.
//
//   vm_compare_host [--no-fusion] <image.vmb> <arg>...      prints "<result> <seconds>"
//
// The arguments (at most 4 integers) go to `run` in order. The clock is the process CPU time
// around vm_Exec alone, like os.clock() around the workload in the Lua scripts, so loading the
// image and binding natives are not counted. A script that calls the natives TimerStart and
// TimerStop is timed only between them (summed over every such span), so its set-up stays
// outside the clock as it does on the other runtimes. --no-fusion loads the code as the file has
// it, without the loader's fused instructions. The bench driver (vm_compare.py) runs this.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "server/vm/vm.h"
#include "server/vm/vm_internal.h"  // SetCodeFusion, for --no-fusion

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

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The spans a script marks with TimerStart / TimerStop. One run per process, so plain statics.
struct ScriptTimer {
    bool used = false;
    bool running = false;
    double started = 0;
    double total = 0;
};
ScriptTimer g_timer;

cell TimerStart(VmInstance* inst, const cell* params) {
    if (params[0] != 0 || g_timer.running) {
        vm_RaiseError(inst, VM_ERR_NATIVE);
        return 0;
    }
    g_timer.used = g_timer.running = true;
    g_timer.started = cpuSeconds();
    return 0;
}

cell TimerStop(VmInstance* inst, const cell* params) {
    const double now = cpuSeconds();
    if (params[0] != 0 || !g_timer.running) {
        vm_RaiseError(inst, VM_ERR_NATIVE);
        return 0;
    }
    g_timer.running = false;
    g_timer.total += now - g_timer.started;
    return 0;
}

const VmNativeEntry kNatives[] = {
    {"WeightedSum", WeightedSum}, {"TimerStart", TimerStart}, {"TimerStop", TimerStop}, {nullptr, nullptr}};

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

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--no-fusion") == 0) {
        vm_internal::SetCodeFusion(false);
        first = 2;
    }
    if (argc - first < 2 || argc - first > 5) {
        std::fprintf(stderr, "usage: %s [--no-fusion] <image.vmb> <arg>... (1 to 4 integer arguments)\n",
                     argv[0]);
        return 2;
    }
    const char* path = argv[first];
    std::vector<cell> args;
    for (int i = first + 1; i < argc; ++i) {
        cell v;
        if (!parseCell(argv[i], &v)) {
            std::fprintf(stderr, "%s: not a 32-bit integer: %s\n", argv[0], argv[i]);
            return 2;
        }
        args.push_back(v);
    }

    std::vector<uint8_t> file;
    if (!readFile(path, file)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path);
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
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], path, vm_ErrorText(err));
        if (inst.image) vm_FreeImage(&inst);
        return 1;
    }

    cell result = 0;
    const double t0 = cpuSeconds();
    err = vm_Exec(&inst, &result, index);
    const double t1 = cpuSeconds();
    vm_FreeImage(&inst);
    if (err != VM_ERR_NONE) {
        std::fprintf(stderr, "%s: %s: run failed: %s\n", argv[0], path, vm_ErrorText(err));
        return 1;
    }
    if (g_timer.running) {
        std::fprintf(stderr, "%s: %s: TimerStart without TimerStop\n", argv[0], path);
        return 1;
    }
    std::printf("%" PRId32 " %.6f\n", result, g_timer.used ? g_timer.total : t1 - t0);
    return 0;
}
