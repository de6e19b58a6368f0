#include "server/console/ConsoleCommands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "server/console/Console.h"
#include "server/console/ConsoleHost.h"
#include "server/console/Log.h"
#include "server/game/ScriptServices.h"

namespace velt {

char* ConsoleLineTokens::Next() {
    if (cursor_ == nullptr) return nullptr;
    while (*cursor_ == ' ') ++cursor_;
    if (*cursor_ == '\0') return nullptr;
    char* token = cursor_;
    char* blank = std::strchr(cursor_, ' ');
    if (blank != nullptr) {
        *blank = '\0';
        cursor_ = blank + 1;
    } else {
        cursor_ += std::strlen(cursor_);
    }
    return token;
}

char* ConsoleLineTokens::Rest() {
    if (cursor_ == nullptr || *cursor_ == '\0') return nullptr;
    char* rest = cursor_;
    cursor_ += std::strlen(cursor_);
    return rest;
}

namespace {

constexpr uint32_t kAdminSayColour = 0x2587CEAA;

// A player id argument. The whole value is range-checked before it is narrowed, so "kick 65536"
// cannot wrap round to player 0, and a word that is no number at all selects nobody.
bool ReadPlayerId(const char* text, uint16_t& id) {
    if (!HasConsoleNumber(text)) return false;
    int32_t value = ParseConsoleInt(text);
    if (value < 0 || value >= kMaxPlayerId) return false;
    id = static_cast<uint16_t>(value);
    return true;
}

void CmdEcho(Console&, ConsoleLineTokens& args) {
    const char* text = args.Rest();
    LogPrintf("%s", text != nullptr ? text : "");
}

void CmdExec(Console& console, ConsoleLineTokens& args) {
    const char* name = args.Next();
    if (name == nullptr) {
        LogPrintf("Usage:");
        LogPrintf("  exec <filename>");
        return;
    }
    console.ExecFile(name);
}

void CmdCmdList(Console&, ConsoleLineTokens&) {
    LogPrintf("Console Commands:");
    for (size_t i = 0; i < kConsoleCommandCount; ++i) {
        const ConsoleCommand& cmd = kConsoleCommands[i];
        LogPrintf("  %s%s", cmd.name, (cmd.flags & CON_CMDFLAG_DEBUG) ? " (DEBUG)" : "");
    }
    LogPrintf("%s", "");
}

void CmdVarList(Console& console, ConsoleLineTokens&) { console.ListVariables(); }

void CmdExit(Console&, ConsoleLineTokens&) { ExitRequested.store(1); }

void CmdKick(Console& console, ConsoleLineTokens& args) {
    ConsoleHost* host = console.Host();
    uint16_t id = 0;
    if (host == nullptr || !ReadPlayerId(args.Rest(), id) || !host->IsPlayerSlotUsed(id)) return;
    LogPrintf("%s <#%d - %s> has been kicked.", host->GetPlayerName(id).c_str(), id,
              host->GetPlayerIp(id).c_str());
    host->KickPlayer(id);
}

void CmdBan(Console& console, ConsoleLineTokens& args) {
    ConsoleHost* host = console.Host();
    uint16_t id = 0;
    if (host == nullptr || !ReadPlayerId(args.Next(), id) || !host->IsPlayerSlotUsed(id)) return;
    std::string name = host->GetPlayerName(id);
    std::string ip = host->GetPlayerIp(id);
    LogPrintf("%s <#%d - %s> has been banned.", name.c_str(), id, ip.c_str());
    host->AddBan(name.c_str(), ip.c_str(), "CONSOLE BAN");
    host->KickPlayer(id);
}

void CmdGmx(Console& console, ConsoleLineTokens&) {
    ConsoleHost* host = console.Host();
    if (host != nullptr && host->SetNextGameModeFromRotation()) GameModeChangePending.store(1);
}

void CmdChangeMode(Console& console, ConsoleLineTokens& args) {
    ConsoleHost* host = console.Host();
    const char* name = args.Rest();
    // Without a name there is nothing to change to (the rotation's own choice is "gmx").
    if (host != nullptr && name != nullptr && host->SetNextGameMode(name)) GameModeChangePending.store(1);
}

void CmdSay(Console& console, ConsoleLineTokens& args) {
    ConsoleHost* host = console.Host();
    const char* text = args.Rest();
    if (host == nullptr || text == nullptr) return;
    char message[256];
    std::snprintf(message, sizeof message, "* Admin: %.230s", text);
    host->SendClientMessageToAll(kAdminSayColour, message);
}

void CmdReloadBans(Console& console, ConsoleLineTokens&) {
    if (ConsoleHost* host = console.Host()) host->LoadBanList();
}

void CmdReloadLog(Console&, ConsoleLineTokens&) { OpenLogFile(); }

void CmdPlayers(Console& console, ConsoleLineTokens&) {
    ConsoleHost* host = console.Host();
    if (host == nullptr || host->GetConnectedCount() == 0) return;
    LogPrintf("ID\tName\tPing\tIP");
    for (uint16_t id = 0; id < kMaxPlayerId; ++id) {
        if (!host->IsPlayerSlotUsed(id)) continue;
        LogPrintf("%d\t%s\t%d\t%s", id, host->GetPlayerName(id).c_str(), host->GetPlayerPing(id),
                  host->GetPlayerIp(id).c_str());
    }
}

void CmdBanIp(Console& console, ConsoleLineTokens& args) {
    ConsoleHost* host = console.Host();
    const char* ip = args.Next();
    if (host == nullptr || !IsValidBanIp(ip)) return;
    LogPrintf("IP %s has been banned.", ip);
    host->AddBan("NONE", ip, "IP BAN");
}

void CmdUnbanIp(Console& console, ConsoleLineTokens& args) {
    ConsoleHost* host = console.Host();
    const char* ip = args.Next();
    if (host != nullptr && IsValidBanIp(ip)) host->RemoveBan(ip);
}

// Without a game server (server.cfg runs first) the value waits in the console variable, in the
// form the game server itself writes there, until the game server starts.
void CmdGravity(Console& console, ConsoleLineTokens& args) {
    ConsoleHost* host = console.Host();
    const char* value = args.Next();
    if (value == nullptr) return;
    const float gravity = ParseConsoleFloat(value);
    if (host != nullptr) {
        host->SetGravity(gravity);
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(gravity));
    console.SetStringVariable("gravity", text);
    console.MarkStartupWorld(true, false);
}

void CmdWeather(Console& console, ConsoleLineTokens& args) {
    ConsoleHost* host = console.Host();
    const char* value = args.Next();
    if (value == nullptr) return;
    const auto weather = static_cast<uint8_t>(ParseConsoleInt(value) & 0xFF);
    if (host != nullptr) {
        host->SetWeather(weather);
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d", int(weather));
    console.SetStringVariable("weather", text);
    console.MarkStartupWorld(false, true);
}

// Loading and unloading echo a lot (init lines, errors); an in-game admin sees only the result.
class AdminEchoPause {
public:
    AdminEchoPause() : saved_(RconAdminId) { RconAdminId = kNoRconAdmin; }
    ~AdminEchoPause() { RconAdminId = saved_; }
    AdminEchoPause(const AdminEchoPause&) = delete;
    AdminEchoPause& operator=(const AdminEchoPause&) = delete;

private:
    uint16_t saved_;
};

FilterScripts* HostFilterScripts(Console& console) {
    ConsoleHost* host = console.Host();
    return host != nullptr ? host->GetFilterScripts() : nullptr;
}

bool LoadFs(FilterScripts& fs, const char* name) {
    AdminEchoPause pause;
    return fs.LoadFilterScript(name);
}

bool UnloadFs(FilterScripts& fs, const char* name) {
    AdminEchoPause pause;
    return fs.UnloadFilterScript(name) != 0;
}

void LoadAndReport(FilterScripts& fs, const char* name, const char* failedText) {
    if (LoadFs(fs, name))
        LogPrintf("  Filterscript '%s.vmb' loaded.", name);
    else
        LogPrintf(failedText, name);
}

void UnloadAndReport(FilterScripts& fs, const char* name) {
    if (UnloadFs(fs, name))
        LogPrintf("  Filterscript '%s.vmb' unloaded.", name);
    else
        LogPrintf("  Filterscript '%s.vmb' unload failed.", name);
}

void CmdLoadFs(Console& console, ConsoleLineTokens& args) {
    FilterScripts* fs = HostFilterScripts(console);
    const char* name = args.Rest();
    if (fs == nullptr || name == nullptr) return;
    LoadAndReport(*fs, name, "  Filterscript '%s.vmb' load failed.");
}

void CmdUnloadFs(Console& console, ConsoleLineTokens& args) {
    FilterScripts* fs = HostFilterScripts(console);
    const char* name = args.Rest();
    if (fs == nullptr || name == nullptr) return;
    UnloadAndReport(*fs, name);
}

void CmdReloadFs(Console& console, ConsoleLineTokens& args) {
    FilterScripts* fs = HostFilterScripts(console);
    const char* name = args.Rest();
    if (fs == nullptr || name == nullptr) return;
    UnloadAndReport(*fs, name);
    // Asked afresh: the unloaded script's exit code may have replaced the host.
    fs = HostFilterScripts(console);
    // The reload's failure line has always ended with a stray quote; log readers match it.
    const char* reloadFailed = "  Filterscript '%s.vmb' load failed'.";
    if (fs != nullptr)
        LoadAndReport(*fs, name, reloadFailed);
    else
        LogPrintf(reloadFailed, name);
}

}  // namespace

const ConsoleCommand kConsoleCommands[] = {
    {"echo", 0, CmdEcho},
    {"exec", 0, CmdExec},
    {"cmdlist", 0, CmdCmdList},
    {"varlist", 0, CmdVarList},
    {"exit", 0, CmdExit},
    {"kick", 0, CmdKick},
    {"ban", 0, CmdBan},
    {"gmx", 0, CmdGmx},
    {"changemode", 0, CmdChangeMode},
    {"say", 0, CmdSay},
    {"reloadbans", 0, CmdReloadBans},
    {"reloadlog", 0, CmdReloadLog},
    {"players", 0, CmdPlayers},
    {"banip", 0, CmdBanIp},
    {"unbanip", 0, CmdUnbanIp},
    {"gravity", 0, CmdGravity},
    {"weather", 0, CmdWeather},
    {"loadfs", 0, CmdLoadFs},
    {"unloadfs", 0, CmdUnloadFs},
    {"reloadfs", 0, CmdReloadFs},
};
const size_t kConsoleCommandCount = sizeof kConsoleCommands / sizeof kConsoleCommands[0];

}  // namespace velt
