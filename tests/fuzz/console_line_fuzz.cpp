// Fuzz target for console input: remote-console lines, script-sent lines and configuration files
// all end up in Console::Execute. The input is run line by line, and also written out and run as
// a configuration file; afterwards no string setting may hold more than a line's worth of text.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "server/console/Console.h"
#include "server/console/ConsoleHostStandIn.h"
#include "server/console/ConsoleVariables.h"
#include "server/hosts/ScriptServicesStandIn.h"

namespace {

struct World {
    velt::ServerSettings settings;
    velt::Console console;
    velt::StandInScripts scripts;
    velt::StandInFilterScripts fs{scripts};
    velt::StandInGameMode gm{scripts};
    velt::StandInConsoleHost host;
    std::string cfgBase;

    World() {
        // "reloadlog" and "exec" touch files relative to the working directory: keep them in a
        // scratch folder.
        std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("velt_console_fuzz_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        if (::chdir(dir.c_str()) != 0) std::abort();
        static std::string scratch = dir.string();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratch, ignored);
        });
        cfgBase = (dir / "fuzz").string();
        velt::RegisterServerVariables(console, settings);
        // Standard output would only slow the run down.
        console.SetVariableFlags("output", velt::CON_VARFLAG_READONLY);
        scripts.filterScriptFiles = {"a", "b"};
        scripts.filterScriptPublics["a"]["OnRconCommand"] = 0;
        scripts.gameModePublics["OnRconCommand"] = 0;
        gm.SetLoaded(true);
        host.players[0] = {"p0", "1.2.3.4", 1};
        host.players[999] = {"p999", "4.3.2.1", 2};
        host.gameModeFiles = {"lvdm"};
        host.filterScripts = &fs;
        host.gameMode = &gm;
        console.SetHost(&host);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World();
    std::string input(reinterpret_cast<const char*>(data), size);

    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        // Lines reach Execute as C text: up to the first zero byte.
        world->console.Execute(input.substr(start, end - start).c_str());
        start = end + 1;
    }

    if (FILE* f = std::fopen((world->cfgBase + ".cfg").c_str(), "wb")) {
        std::fwrite(input.data(), 1, input.size(), f);
        std::fclose(f);
        world->console.ExecFile(world->cfgBase.c_str());
    }

    for (const auto& [name, var] : world->console.Variables()) {
        if (name.size() > velt::kConsoleNameMax) std::abort();
        if (var->type == velt::CON_VARTYPE_STRING && var->text.size() > velt::kConsoleLineMax) std::abort();
    }
    world->scripts.Clear();
    world->host.calls.clear();
    return 0;
}
