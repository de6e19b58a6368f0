// bench_vm_compare: the entry `make bench` runs. Hands over to vm_compare.py (the driver) with
// the directory of this program, where the helper programs and the assembled workloads are.
// Extra arguments are passed on to the driver.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#ifndef VELT_BENCH_SOURCE_DIR
#error "VELT_BENCH_SOURCE_DIR must name the bench source directory"
#endif

int main(int argc, char** argv) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        std::perror("bench_vm_compare: /proc/self/exe");
        return 1;
    }
    self[n] = '\0';
    std::string dir(self);
    dir.erase(dir.rfind('/'));

    const std::string src = VELT_BENCH_SOURCE_DIR;
    std::vector<std::string> args = {"python3",  src + "/vm_compare.py", "--bin", dir,
                                     "--script", src + "/vm_compare.lua"};
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    std::vector<char*> cargs;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::fflush(stdout);
    execvp(cargs[0], cargs.data());
    std::perror("bench_vm_compare: python3");
    return 1;
}
