// Console lines end to end: variables, commands, the configuration file, the scripts' fall-through,
// and the rules reply. Output is collected through the remote-console echo of the logger, one
// entry per logged line, exactly as a remote administrator would receive it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "server/console/Console.h"
#include "server/console/ConsoleCommands.h"
#include "server/console/ConsoleHostStandIn.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/hosts/ScriptServicesStandIn.h"

namespace velt {
namespace {

using Lines = std::vector<std::string>;

// Files the console opens are relative; keep them in a folder of this test program's own.
void EnterScratchDir() {
    static bool done = false;
    if (done) return;
    // Beside the binary, wherever the program is started from.
    std::filesystem::path dir =
        std::filesystem::canonical("/proc/self/exe").parent_path() / "console_test_tmp";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    done = true;
}

Lines g_rconLines;
Lines g_adminLines;
void RconSink(const char* line) { g_rconLines.emplace_back(line); }
void AdminSink(uint16_t id, const char* line) { g_adminLines.push_back(std::to_string(id) + ":" + line); }

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnterScratchDir();
        g_rconLines.clear();
        g_adminLines.clear();
        SetLogSinks(&AdminSink, &RconSink);
        RconQueryActive = true;
        ExitRequested = 0;
        GameModeChangePending = 0;
        RegisterServerVariables(console, settings);
        host.filterScripts = &fs;
        host.gameMode = &gm;
        console.SetHost(&host);
    }
    void TearDown() override {
        RconQueryActive = false;
        RconAdminId = kNoRconAdmin;
        SetLogSinks(nullptr, nullptr);
    }

    Lines Run(const char* line) {
        g_rconLines.clear();
        console.Execute(line);
        return g_rconLines;
    }
    Lines Run(const std::string& line) { return Run(line.c_str()); }

    ServerSettings settings;
    Console console;
    StandInScripts scripts;
    StandInFilterScripts fs{scripts};
    StandInGameMode gm{scripts};
    StandInConsoleHost host;
};

struct LineCase {
    std::string line;
    Lines out;
};

void RunTable(ConsoleTest& t, const std::vector<LineCase>& cases,
              Lines (ConsoleTest::*run)(const std::string&)) {
    for (const LineCase& c : cases) EXPECT_EQ((t.*run)(c.line), c.out) << "line: [" << c.line << "]";
}

// ---------------------------------------------------------------------------------------------
// Variables

TEST_F(ConsoleTest, SetsAndShowsVariablesOfEveryType) {
    const std::vector<LineCase> cases = {
        {"MaxPlayers 20", {}},
        {"maxplayers", {"maxplayers = 20  (int)"}},
        {"LANMODE 5", {}},
        {"lanmode", {"lanmode = 1  (bool)"}},
        {"lanmode -1", {}},
        {"lanmode", {"lanmode = 0  (bool)"}},
        {"stream_distance 75.5", {}},
        {"stream_distance", {"stream_distance = 75.500000  (float)"}},
        {"mapname", {"mapname = \"Corvessa\"  (string)"}},
        // Inner blanks of a string value stay; trailing blanks and tabs go.
        {"hostname My  Server \t ", {}},
        {"hostname", {"hostname = \"My  Server\"  (string)"}},
        // Only blanks after a one-word value: nothing is joined, no trailing blank is kept.
        {"hostname  Solo  ", {}},
        {"hostname", {"hostname = \"Solo\"  (string)"}},
        {"   sleep    7", {}},
        {"sleep", {"sleep = 7  (int)"}},
        // Out-of-range numbers saturate rather than wrap.
        {"chatlogging 99999999999", {}},
        {"chatlogging", {"chatlogging = 2147483647  (int)"}},
        {"", {}},
        {"      ", {}},
    };
    RunTable(*this, cases, &ConsoleTest::Run);
    EXPECT_EQ(settings.maxPlayers, 20);
    EXPECT_EQ(settings.lanMode, 0);
    EXPECT_FLOAT_EQ(settings.streamDistance, 75.5f);
    EXPECT_STREQ(console.GetStringVariable("hostname"), "Solo");
    EXPECT_EQ(settings.sleep, 7);
}

TEST_F(ConsoleTest, RefusesReadOnlyAndDebugVariablesFromLines) {
    console.SetVariableFlags("port", CON_VARFLAG_READONLY);
    int32_t secret = 11;
    console.AddVariable("Secret", CON_VARTYPE_INT, CON_VARFLAG_DEBUG, &secret);
    LockStartupVariables(console);

    const std::vector<LineCase> cases = {
        {"port 9999", {"port = 8192  (int, read-only)"}},
        {"PORT", {"port = 8192  (int, read-only)"}},
        {"logtimeformat %Y", {"logtimeformat = \"[%H:%M:%S]\"  (string, read-only)"}},
        {"secret 5", {"Unable to access variable 'secret'. Debug mode required."}},
        {"SECRET", {"Unable to access variable 'secret'. Debug mode required."}},
    };
    RunTable(*this, cases, &ConsoleTest::Run);
    EXPECT_EQ(settings.port, 8192);
    EXPECT_EQ(secret, 11);
    // The core's own setters ignore the flag.
    console.SetIntVariable("port", 7777);
    EXPECT_EQ(settings.port, 7777);
}

TEST_F(ConsoleTest, ChangeCallbackRunsAtRegistrationAndAfterLineChangesOnly) {
    int calls = 0;
    int32_t value = 0;
    console.AddVariable("watched", CON_VARTYPE_INT, 0, &value, [&] { ++calls; });
    EXPECT_EQ(calls, 1);
    Run("watched 5");
    EXPECT_EQ(calls, 2);
    Run("watched");  // a show is no change
    console.SetIntVariable("watched", 9);
    EXPECT_EQ(calls, 2);
    console.SetVariableFlags("watched", CON_VARFLAG_READONLY);
    Run("watched 6");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(value, 9);

    // A callback that removes its own variable must not pull the rug from under itself.
    int32_t gone = 0;
    console.AddVariable("selfremove", CON_VARTYPE_INT, 0, &gone, [&] {
        if (console.FindVariable("selfremove")) console.RemoveVariable("selfremove");
    });
    Run("selfremove 3");
    EXPECT_EQ(gone, 3);
    EXPECT_EQ(console.FindVariable("selfremove"), nullptr);
}

TEST_F(ConsoleTest, VariableApiEdges) {
    int32_t dup = 1;
    EXPECT_EQ(console.AddVariable("MAXPLAYERS", CON_VARTYPE_INT, 0, &dup), nullptr);
    EXPECT_EQ(g_rconLines, Lines{"Unable to add console variable 'maxplayers'. Already exists."});
    EXPECT_EQ(settings.maxPlayers, 50);  // the first registration stays
    EXPECT_EQ(console.AddVariable("nostorage", CON_VARTYPE_INT, 0, nullptr), nullptr);

    // Wrong type or absent: the defaults.
    EXPECT_EQ(console.GetIntVariable("hostname"), 0);
    EXPECT_EQ(console.GetStringVariable("port"), nullptr);
    EXPECT_EQ(console.GetFloatVariable("nothing"), 0.0f);
    EXPECT_EQ(console.GetBoolVariable("port"), 0);
    console.SetStringVariable("port", "x");  // ignored
    EXPECT_EQ(settings.port, 8192);
    EXPECT_EQ(console.SetVariableFlags("nothing", 2), 0);

    // Setting a string from its own text.
    console.SetStringVariable("hostname", "abcdef");
    console.SetStringVariable("hostname", console.GetStringVariable("hostname") + 2);
    EXPECT_STREQ(console.GetStringVariable("hostname"), "cdef");

    // Names are cut to 255 characters and looked up without case.
    std::string longName(300, 'Q');
    int32_t v = 4;
    ASSERT_NE(console.AddVariable(longName.c_str(), CON_VARTYPE_INT, 0, &v), nullptr);
    EXPECT_EQ(console.GetIntVariable(std::string(255, 'q').c_str()), 4);
    console.RemoveVariable(longName.c_str());
    EXPECT_EQ(console.FindVariable(std::string(255, 'q').c_str()), nullptr);

    // A line longer than 255 characters is cut before it is read.
    Run("hostname " + std::string(300, 'h'));
    EXPECT_EQ(std::string(console.GetStringVariable("hostname")), std::string(255 - 9, 'h'));
}

// ---------------------------------------------------------------------------------------------
// Listings

TEST_F(ConsoleTest, CmdlistListsEveryCommandInTableOrder) {
    EXPECT_EQ(Run("CMDLIST"), (Lines{"Console Commands:",
                                     "  echo",
                                     "  exec",
                                     "  cmdlist",
                                     "  varlist",
                                     "  exit",
                                     "  kick",
                                     "  ban",
                                     "  gmx",
                                     "  changemode",
                                     "  say",
                                     "  reloadbans",
                                     "  reloadlog",
                                     "  players",
                                     "  banip",
                                     "  unbanip",
                                     "  gravity",
                                     "  weather",
                                     "  loadfs",
                                     "  unloadfs",
                                     "  reloadfs",
                                     ""}));
}

TEST_F(ConsoleTest, VarlistFormatsEveryTypeAndFlagInByteOrder) {
    Console small;
    small.SetHost(&host);
    int32_t x = 1, lvl = -3;
    float a = 1.5f;
    uint8_t flag5 = 1, sixsix = 0;
    small.AddVariable("sixsix", CON_VARTYPE_BOOL, 0, &sixsix);
    small.AddVariable("Zed", CON_VARTYPE_STRING, 0, nullptr);
    small.AddVariable("lvl", CON_VARTYPE_INT, CON_VARFLAG_DEBUG, &lvl);
    small.AddStringVariable("hostname", CON_VARFLAG_READONLY | CON_VARFLAG_RULE, "X y");
    small.AddVariable("flag5", CON_VARTYPE_BOOL, CON_VARFLAG_RULE, &flag5);
    small.AddVariable("a", CON_VARTYPE_FLOAT, 0, &a);
    small.AddVariable("_x", CON_VARTYPE_INT, 0, &x);
    g_rconLines.clear();
    small.Execute("varlist");
    EXPECT_EQ(g_rconLines, (Lines{
                               "Console Variables:",
                               "  _x\t\t= 1  (int)",
                               "  a\t\t= 1.500000  (float)",
                               "  flag5\t\t= 1  (bool) (rule)",
                               "  hostname\t= \"X y\"  (string) (read-only) (rule)",
                               "  lvl\t\t= -3  (int) (debug)",
                               "  sixsix\t= 0  (bool)",
                               "  zed\t\t= \"\"  (string)",
                               "",
                           }));
}

// ---------------------------------------------------------------------------------------------
// Commands

struct HostCase {
    std::string line;
    Lines out;
    Lines calls;
};

TEST_F(ConsoleTest, KickAndBanOnlyTouchValidUsedSlots) {
    host.players[0] = {"Zero", "5.5.5.5", 10};
    host.players[3] = {"Bob", "1.2.3.4", 55};
    host.players[999] = {"Last", "9.9.9.9", 1};
    const std::vector<HostCase> cases = {
        {"kick 3", {"Bob <#3 - 1.2.3.4> has been kicked."}, {"KickPlayer 3"}},
        {"KICK  999", {"Last <#999 - 9.9.9.9> has been kicked."}, {"KickPlayer 999"}},
        {"kick 1000", {}, {}},
        {"kick 7", {}, {}},  // free slot
        // 65539 and -65533 both narrow to 3; they must not kick Bob.
        {"kick 65539", {}, {}},
        {"kick -65533", {}, {}},
        // No number at all must not read as player 0.
        {"kick Bob", {}, {}},
        {"kick", {}, {}},
        {"ban 3",
         {"Bob <#3 - 1.2.3.4> has been banned."},
         {"AddBan Bob|1.2.3.4|CONSOLE BAN", "KickPlayer 3"}},
        {"ban 65539", {}, {}},
        {"ban 1000", {}, {}},
        {"ban", {}, {}},
    };
    for (const HostCase& c : cases) {
        host.calls.clear();
        EXPECT_EQ(Run(c.line), c.out) << c.line;
        EXPECT_EQ(host.calls, c.calls) << c.line;
    }
}

TEST_F(ConsoleTest, BanIpAcceptsFourPartPatternsOnly) {
    const std::vector<HostCase> cases = {
        {"banip 1.2.3.4", {"IP 1.2.3.4 has been banned."}, {"AddBan NONE|1.2.3.4|IP BAN"}},
        {"banip 10.0.*.*", {"IP 10.0.*.* has been banned."}, {"AddBan NONE|10.0.*.*|IP BAN"}},
        {"banip 1.2.3", {}, {}},
        {"banip 1.2.3.4.5", {}, {}},
        {"banip 1.2.3.4.", {}, {}},
        {"banip 256.0.0.1", {}, {}},
        {"banip 1.2.3.-1", {}, {}},
        {"banip 99999999999.1.1.1", {}, {}},
        {"banip", {}, {}},
        {"unbanip 10.0.*.*", {}, {"RemoveBan 10.0.*.*"}},
        {"unbanip 1.2.3", {}, {}},
    };
    for (const HostCase& c : cases) {
        host.calls.clear();
        EXPECT_EQ(Run(c.line), c.out) << c.line;
        EXPECT_EQ(host.calls, c.calls) << c.line;
    }
    const std::string ip = "4.3.2.1";
    EXPECT_TRUE(IsValidBanIp(ip.c_str()));
    EXPECT_EQ(ip, "4.3.2.1");  // left unchanged
}

TEST_F(ConsoleTest, WorldAndServerCommands) {
    host.players[2] = {"Ann", "7.7.7.7", 42};
    host.players[12] = {"Cy", "8.8.8.8", 120};
    host.gameModeFiles = {"lvdm"};
    const std::string longText(300, 'w');
    const std::vector<HostCase> cases = {
        {"echo  hi  there", {" hi  there"}, {}},
        {"echo", {""}, {}},
        {"Echo 100%s %n", {"100%s %n"}, {}},
        {"exec", {"Usage:", "  exec <filename>"}, {}},
        // A '%' in the text is no format directive; long text is cut to 230 characters.
        {"say 100% %s done", {}, {"SendClientMessageToAll 2587CEAA|* Admin: 100% %s done"}},
        {"say " + longText, {}, {"SendClientMessageToAll 2587CEAA|* Admin: " + std::string(230, 'w')}},
        {"say", {}, {}},
        {"players", {"ID\tName\tPing\tIP", "2\tAnn\t42\t7.7.7.7", "12\tCy\t120\t8.8.8.8"}, {}},
        {"gravity 0.01", {}, {"SetGravity 0.010000"}},
        {"gravity", {}, {}},
        {"weather 300", {}, {"SetWeather 44"}},
        {"reloadbans", {}, {"LoadBanList"}},
    };
    for (const HostCase& c : cases) {
        host.calls.clear();
        EXPECT_EQ(Run(c.line), c.out) << c.line;
        EXPECT_EQ(host.calls, c.calls) << c.line;
    }
    host.connectedCount = 0;
    EXPECT_EQ(Run("players"), Lines{});

    EXPECT_EQ(ExitRequested.load(), 0);
    Run("EXIT");
    EXPECT_EQ(ExitRequested.load(), 1);
}

TEST_F(ConsoleTest, GamemodeChangesSetThePendingFlagOnlyOnSuccess) {
    host.gameModeFiles = {"lvdm"};
    struct Case {
        const char* line;
        bool rotationOk;
        int pending;
    } cases[] = {
        {"gmx", true, 1},
        {"gmx", false, 0},
        {"changemode lvdm", true, 1},
        {"changemode nope", true, 0},
        {"changemode", true, 0},
    };
    for (const Case& c : cases) {
        GameModeChangePending = 0;
        host.rotationSucceeds = c.rotationOk;
        Run(c.line);
        EXPECT_EQ(GameModeChangePending.load(), c.pending) << c.line;
    }
}

TEST_F(ConsoleTest, FilterscriptCommandsReportResultsAndHideLoadChatterFromAdmin) {
    scripts.filterScriptFiles = {"admin"};
    // The script's init and exit code log lines; an in-game admin must see only the results.
    scripts.filterScriptPublics["admin"] = {{"OnFilterScriptInit", 1}, {"OnFilterScriptExit", 1}};
    scripts.onRun = [](ScriptCall& call) { LogPrintf("chatter from %s", call.name.c_str()); };
    RconQueryActive = false;
    RconAdminId = 7;

    const std::vector<LineCase> cases = {
        {"loadfs admin", {"7:  Filterscript 'admin.vmb' loaded."}},
        {"loadfs admin", {"7:  Filterscript 'admin.vmb' load failed."}},
        {"reloadfs admin",
         {"7:  Filterscript 'admin.vmb' unloaded.", "7:  Filterscript 'admin.vmb' loaded."}},
        {"unloadfs admin", {"7:  Filterscript 'admin.vmb' unloaded."}},
        {"unloadfs admin", {"7:  Filterscript 'admin.vmb' unload failed."}},
        {"reloadfs nope",
         {"7:  Filterscript 'nope.vmb' unload failed.", "7:  Filterscript 'nope.vmb' load failed'."}},
        {"loadfs", {}},
    };
    for (const LineCase& c : cases) {
        g_adminLines.clear();
        g_rconLines.clear();
        console.Execute(c.line.c_str());
        EXPECT_EQ(g_adminLines, c.out) << c.line;
        EXPECT_TRUE(g_rconLines.empty()) << c.line;
        EXPECT_EQ(RconAdminId, 7);
    }
    EXPECT_EQ(fs.Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// Lines that are neither command nor variable

TEST_F(ConsoleTest, UnknownLinesFallThroughFilterscriptsToGamemode) {
    struct Case {
        const char* what;
        std::vector<std::optional<int32_t>> fsResults;  // per slot; nullopt: no OnRconCommand
        bool gmLoaded;
        std::optional<int32_t> gmResult;
        Lines out;
        Lines ran;
    };
    const Lines unknown = {"Unknown command or variable:\n  foo"};
    const std::vector<Case> cases = {
        {"nobody defines it", {}, true, std::nullopt, unknown, {}},
        {"gamemode declines", {}, true, 0, unknown, {"gm"}},
        {"gamemode handles", {}, true, 1, {}, {"gm"}},
        {"filterscript handles", {1}, true, 0, {}, {"fs0"}},
        {"last filterscript declines", {1, std::nullopt, 0}, true, 0, unknown, {"fs0", "fs2", "gm"}},
        {"no gamemode loaded", {0}, false, 0, {}, {"fs0"}},
    };
    for (const Case& c : cases) {
        StandInScripts s;
        StandInFilterScripts f{s};
        StandInGameMode g{s};
        g.SetLoaded(c.gmLoaded);
        for (size_t slot = 0; slot < c.fsResults.size(); ++slot) {
            std::string name = "fs" + std::to_string(slot);
            f.Occupy(static_cast<int>(slot), name);
            if (c.fsResults[slot]) s.filterScriptPublics[name]["OnRconCommand"] = *c.fsResults[slot];
        }
        if (c.gmResult) s.gameModePublics["OnRconCommand"] = *c.gmResult;
        host.filterScripts = &f;
        host.gameMode = &g;

        EXPECT_EQ(Run("Foo Bar  baz"), c.out) << c.what;
        Lines ran;
        for (const ScriptCall& call : s.calls) {
            ran.push_back(call.side == ScriptSide::GameMode ? "gm" : "fs" + std::to_string(call.slot));
            // Scripts get the line as typed, not the console's lower-cased name.
            EXPECT_EQ(std::get<std::string>(call.args.at(0)), "Foo Bar  baz") << c.what;
        }
        EXPECT_EQ(ran, c.ran) << c.what;
    }
    host.filterScripts = nullptr;
    host.gameMode = nullptr;
    EXPECT_EQ(Run("foo"), Lines{});
    console.SetHost(nullptr);
    EXPECT_EQ(Run("foo"), Lines{});
    EXPECT_EQ(Run("kick 1"), Lines{});
}

TEST_F(ConsoleTest, ScriptMayRunConsoleLinesFromItsHandler) {
    fs.Occupy(0, "cmds");
    scripts.filterScriptPublics["cmds"]["OnRconCommand"] = 1;
    scripts.onRun = [this](ScriptCall&) {
        console.Execute("hostname Inner Name");
        console.Execute("echo nested");
    };
    EXPECT_EQ(Run("customcmd one two"), Lines{"nested"});
    EXPECT_STREQ(console.GetStringVariable("hostname"), "Inner Name");
}

// ---------------------------------------------------------------------------------------------
// Configuration file

TEST_F(ConsoleTest, ExecRunsOnlyVariableLinesOfTheFile) {
    // With a fixed 1024-byte line reader, the tail of this line would come back as a line of its
    // own and set maxnpc.
    const std::string longLine = "language " + std::string(1014, 'x') + "maxnpc 7";
    {
        std::ofstream cfg("test_server.cfg", std::ios::binary);
        cfg << "# comment line\n"
               "// another comment\n"
               "hostname My Server // trailing comment\n"
               "maxplayers 30#hash comment\n"
               "echo this must not appear\n"
               "exit\n"
               " port 1234\n"
               "sleep\t9\n"
               "mtu 1400\r\n"
               "\n"
               "ab\n"
               "/x 5\n"
               "weburl http://velt.example/\n"
               "rcon_password Str0ng#Pass//word\n"
               "gamemodetext Clan #1 Server\n"
               "mapname Town\t# after a tab\n"
               "  # indented comment\n"
            << longLine << "\n"
            << "gamemode0 lvdm 2\n"
               "lanmode 1";  // no final newline
    }
    g_rconLines.clear();
    EXPECT_TRUE(console.ExecFile("test_server"));
    // A value is never cut silently: each setting line that lost its end to a comment says so.
    EXPECT_EQ(g_rconLines,
              (Lines{"Line 3 of 'test_server.cfg': \"// trailing comment\" is read as a comment.",
                     "Line 15 of 'test_server.cfg': \"#1 Server\" is read as a comment.",
                     "Line 16 of 'test_server.cfg': \"# after a tab\" is read as a comment."}));
    EXPECT_STREQ(console.GetStringVariable("hostname"), "My Server");
    EXPECT_EQ(settings.maxPlayers, 30);
    EXPECT_EQ(ExitRequested.load(), 0);
    EXPECT_EQ(settings.port, 8192);
    EXPECT_EQ(settings.sleep, 5);
    EXPECT_EQ(settings.mtu, 1400);
    // '#' and "//" inside a word belong to the value.
    EXPECT_STREQ(console.GetStringVariable("weburl"), "http://velt.example/");
    EXPECT_STREQ(console.GetStringVariable("rcon_password"), "Str0ng#Pass//word");
    EXPECT_STREQ(console.GetStringVariable("gamemodetext"), "Clan");
    EXPECT_STREQ(console.GetStringVariable("mapname"), "Town");
    EXPECT_EQ(std::string(console.GetStringVariable("language")), std::string(255 - 9, 'x'));
    EXPECT_EQ(settings.maxNpc, 0);
    EXPECT_STREQ(console.GetStringVariable("gamemode0"), "lvdm 2");
    EXPECT_EQ(settings.lanMode, 1);

    // No file, or a directory of that name (it opens, but cannot be read): no configuration.
    std::filesystem::create_directories("folder.cfg");
    for (const char* name : {"missing", "folder"}) {
        g_rconLines.clear();
        EXPECT_FALSE(console.ExecFile(name));
        EXPECT_EQ(g_rconLines, Lines{"Unable to exec file '" + std::string(name) + ".cfg'."});
    }
    EXPECT_EQ(Run("exec missing"), Lines{"Unable to exec file 'missing.cfg'."});
}

// ---------------------------------------------------------------------------------------------
// Registration table and rules reply

TEST_F(ConsoleTest, ServerVariableTableDefaultsAndFlags) {
    EXPECT_EQ(console.Variables().size(), 46u + 16u);
    std::set<std::string> rules;
    for (const auto& [name, var] : console.Variables())
        if (var->IsRule()) rules.insert(name);
    EXPECT_EQ(rules, (std::set<std::string>{"mapname", "weather", "weburl"}));

    const std::vector<LineCase> shows = {
        {"port", {"port = 8192  (int)"}},
        {"stream_distance", {"stream_distance = 200.000000  (float)"}},
        {"timestamp", {"timestamp = 1  (bool)"}},
        {"rcon_password", {"rcon_password = \"lanterns\"  (string)"}},
        {"hostname", {"hostname = \"VELT Server\"  (string)"}},
        {"logtimeformat", {"logtimeformat = \"[%H:%M:%S]\"  (string)"}},
        {"connseedtime", {"connseedtime = 300000  (int)"}},
        {"gamemode15", {"gamemode15 = \"\"  (string)"}},
        {"gamemode16", {}},
    };
    RunTable(*this, shows, &ConsoleTest::Run);

    LockStartupVariables(console);
    std::set<std::string> readOnly;
    for (const auto& [name, var] : console.Variables())
        if (var->IsReadOnly()) readOnly.insert(name);
    EXPECT_EQ(readOnly,
              (std::set<std::string>{"artpath", "bind", "filterscripts", "incar_rate", "lagcompmode",
                                     "logtimeformat", "maxplayers", "mtu", "nosign", "onfoot_rate", "plugins",
                                     "port", "useartwork", "weapon_rate"}));

    settings.lagCompMode = 0;
    settings.useArtwork = 1;
    RegisterDerivedServerVariables(console, settings);
    EXPECT_EQ(Run("lagcomp"), Lines{"lagcomp = \"Off\"  (string, read-only)"});
    EXPECT_EQ(Run("artwork"), Lines{"artwork = \"Yes\"  (string, read-only)"});
    EXPECT_EQ(Run("version"), Lines{"version = \"1.0.0\"  (string, read-only)"});
    EXPECT_EQ(console.FindVariable("version")->flags, CON_VARFLAG_READONLY | CON_VARFLAG_RULE);
}

TEST_F(ConsoleTest, StartupCallbacksAreInstalledAndRunOnRegistration) {
    Console c;
    ServerSettings s;
    std::vector<std::string> ran;
    ServerVariableCallbacks cb;
    cb.maxPlayers = [&] { ran.push_back("maxplayers"); };
    cb.streamRate = [&] { ran.push_back("stream_rate"); };
    cb.streamDistance = [&] { ran.push_back("stream_distance"); };
    cb.password = [&] { ran.push_back("password"); };
    RegisterServerVariables(c, s, cb);
    EXPECT_EQ(ran, (std::vector<std::string>{"maxplayers", "stream_rate", "stream_distance", "password"}));
    c.Execute("password secret");
    EXPECT_EQ(ran.back(), "password");
    EXPECT_EQ(ran.size(), 5u);
}

TEST(ConsoleRules, ReplyListsRuleVariablesInNameOrder) {
    Console c;
    int32_t b = 7, hidden = 1;
    float a = 1.5f;
    c.AddVariable("b_int", CON_VARTYPE_INT, CON_VARFLAG_RULE, &b);
    c.AddVariable("A_Float", CON_VARTYPE_FLOAT, CON_VARFLAG_RULE | CON_VARFLAG_READONLY, &a);
    c.AddVariable("d_hidden", CON_VARTYPE_INT, 0, &hidden);
    c.AddStringVariable("c_str", CON_VARFLAG_RULE, "hi");
    c.AddStringVariable("e_long", CON_VARFLAG_RULE, std::string(300, 'L').c_str());
    const uint8_t header[11] = {'V', 'E', 'L', 'T', 127, 0, 0, 1, 0x00, 0x20, 'r'};

    std::vector<uint8_t> expected(header, header + 11);
    auto addText = [&](const std::string& s) {
        expected.push_back(static_cast<uint8_t>(s.size()));
        expected.insert(expected.end(), s.begin(), s.end());
    };
    expected.push_back(4);  // u16 count, little-endian
    expected.push_back(0);
    addText("a_float");
    addText("1.500000");
    addText("b_int");
    addText("7");
    addText("c_str");
    addText("hi");
    addText("e_long");
    addText(std::string(255, 'L'));
    EXPECT_EQ(c.BuildRulesReply(header), expected);
}

}  // namespace
}  // namespace velt
