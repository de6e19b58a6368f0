// Fuzzes a filterscript loaded from a fuzzed image and then dispatched into: the loader's header
// checks, native binding, the public cache, argument pushes (cells, texts, the writable chat text),
// runs, and the unload. The first input byte picks the mode:
//   0: the rest is the image;
//   1: a valid image with publics for several callbacks, its bytes patched by (offset, value)
//      pairs from the rest, so the fuzzer reaches the machine and the dispatch, not just the
//      header checks.
// Fuzz builds of the machine bound every run by an instruction budget.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "server/hosts/FilterScriptHost.h"
#include "server/hosts/ScriptHostEnv.h"
#include "server/vm/vm_internal.h"
#include "tools/vmasm/VmAsm.h"

using namespace velt;

namespace {

// Publics that record nothing but do something with their arguments, so patched code paths touch
// texts, the heap and the stack.
const char* const kBase = R"(
.data
buf:
    .space 8
.code
.main main
main:
    proc
    zero.pri
    retn
.public OnPlayerConnect
OnPlayerConnect:
    proc
    load.s.pri 12
    add.c 1
    retn
.public OnPlayerText
OnPlayerText:
    proc
    load.s.pri 16
    move.alt
    const.pri 0
    stor.i
    const.pri 1
    retn
.public OnPlayerUpdate
OnPlayerUpdate:
    proc
    const.pri 1
    retn
.public OnRconLoginAttempt
OnRconLoginAttempt:
    proc
    load.s.pri 12
    retn
.public OnFilterScriptInit
OnFilterScriptInit:
    proc
    const.pri 2000
    halt 12
    retn
)";

const std::vector<uint8_t>& BaseImage() {
    static const std::vector<uint8_t> image = [] {
        std::vector<uint8_t> out;
        std::string error;
        if (!VmAssemble(kBase, out, &error)) __builtin_trap();
        return out;
    }();
    return image;
}

ScriptHostEnv& Env() {
    static ScriptHostEnv env;
    return env;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> image;
    if (data[0] == 0) {
        image.assign(data + 1, data + size);
    } else {
        image = BaseImage();
        for (size_t i = 1; i + 2 < size; i += 3) {
            const size_t at = (size_t(data[i]) << 8 | data[i + 1]) % image.size();
            image[at] = data[i + 2];
        }
    }

    // One budget for the whole input: every run it makes shares it.
    vm_internal::g_stepBudget = 50000;
    VmFilterScripts fs(Env());
    if (fs.LoadFilterScriptFromMemory("fuzz", image.data(), image.size()) == 1) {
        char text[64] = "some chat text";
        fs.OnPlayerConnect(1);
        fs.OnPlayerText(1, text);
        if (std::strlen(text) > 14) __builtin_trap();  // a script may shorten, never lengthen
        fs.OnPlayerUpdate(2);
        fs.OnRconLoginAttempt("127.0.0.1", "password", 0);
        fs.CallPublic("OnPlayerConnect");
        fs.UnloadFilterScript("fuzz");
    }
    vm_internal::g_stepBudget = -1;
    return 0;
}
