#include "server/game/NpcLauncher.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string_view>
#include <thread>

#include "server/shared/StringUtil.h"

extern char** environ;

namespace velt {

namespace {

bool HasControlCharacter(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

NpcLaunchStatus BuildNpcLaunch(const NpcLaunchRequest& request, NpcLaunch& out) {
    if (request.name.empty() || request.script.empty()) return NpcLaunchStatus::Empty;
    for (const std::string* text :
         {&request.name, &request.script, &request.bind, &request.password, &request.directory})
        if (HasControlCharacter(*text)) return NpcLaunchStatus::BadCharacter;
    // The bot joins under this name: one the join would refuse cannot be meant, and the set of
    // allowed characters keeps option marks and blanks out of the bot's command line.
    if (HasInvalidNameChar(request.name)) return NpcLaunchStatus::BadCharacter;

    const std::string host = request.bind.empty() ? "127.0.0.1" : request.bind;
    const std::string port = std::to_string(request.port);
    std::vector<std::string> argv = {"velt-npc", "-h",         host, "-p",          port,
                                     "-n",       request.name, "-m", request.script};
    if (!request.password.empty()) {
        argv.push_back("-z");
        argv.push_back(request.password);
    }
    // The limits of the old command text, measured as that text would have been.
    size_t arguments = 0;
    for (size_t i = 1; i < argv.size(); ++i) arguments += argv[i].size() + (i > 1 ? 1 : 0);
    const size_t command = request.directory.size() + std::string_view("/velt-npc ").size() + arguments + 2;
    if (host.size() > kNpcLaunchHostMax || arguments > kNpcLaunchArgumentsMax ||
        request.directory.size() > kNpcLaunchDirectoryMax || command > kNpcLaunchCommandMax)
        return NpcLaunchStatus::TooLong;

    out.program = request.directory + "/velt-npc";
    out.argv = std::move(argv);
    return NpcLaunchStatus::Ok;
}

pid_t SpawnNpc(const NpcLaunch& launch) {
    std::vector<char*> argv;
    for (const std::string& arg : launch.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    // The server's sockets, log and script files are not the bot's business.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, launch.program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return -1;

    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }).detach();
    return pid;
}

}  // namespace velt
