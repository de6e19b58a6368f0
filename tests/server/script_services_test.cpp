// Every callback dispatcher against the stand-in hosts: the result when no script defines the
// public, the filterscript stop rule, the gamemode checks, and the text write-back of chat.
// The expected values are written out here from the callback contract, independently of the
// table in ScriptCallbacks.h, so a wrong row there shows up as a failure here.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "server/hosts/ScriptServicesStandIn.h"

namespace velt {
namespace {

enum Rule { SZ, SN, AL, AV, A1 };  // stop at 0, stop at non-0, all last, all veto, all always 1

struct Expected {
    int32_t fsInit;
    Rule rule;
    int32_t gmInit;
    bool playerTest;
    bool gmSide;
};

// clang-format off
const std::map<std::string, Expected> kExpected = {
    {"OnGameModeInit",              {0, SZ, 0, false, false}},
    {"OnGameModeExit",              {0, SZ, 0, false, false}},
    {"OnPlayerConnect",             {0, SZ, 0, false, true}},
    {"OnPlayerDisconnect",          {0, SZ, 0, false, true}},
    {"OnPlayerSpawn",               {0, SZ, 0, false, true}},
    {"OnPlayerDeath",               {0, SZ, 0, false, true}},
    {"OnVehicleSpawn",              {0, SZ, 0, false, true}},
    {"OnVehicleDeath",              {0, AL, 0, false, true}},
    {"OnPlayerText",                {1, SZ, 1, false, true}},
    {"OnPlayerCommandText",         {0, SN, 0, true,  true}},
    {"OnPlayerRequestClass",        {1, AL, 1, true,  true}},
    {"OnPlayerRequestSpawn",        {1, SZ, 1, true,  true}},
    {"OnPlayerEnterVehicle",        {0, AL, 0, true,  true}},
    {"OnPlayerExitVehicle",         {0, AL, 0, true,  true}},
    {"OnPlayerStateChange",         {0, AL, 0, true,  true}},
    {"OnPlayerInteriorChange",      {0, AL, 0, true,  true}},
    {"OnPlayerEnterCheckpoint",     {0, AL, 0, true,  true}},
    {"OnPlayerLeaveCheckpoint",     {0, AL, 0, false, true}},
    {"OnPlayerEnterRaceCheckpoint", {0, AL, 0, false, true}},
    {"OnPlayerLeaveRaceCheckpoint", {0, AL, 0, false, true}},
    {"OnPlayerKeyStateChange",      {0, AL, 0, false, true}},
    {"OnRconCommand",               {0, AL, 0, false, true}},
    {"OnObjectMoved",               {0, AL, 0, false, true}},
    {"OnPlayerObjectMoved",         {0, AL, 0, false, true}},
    {"OnPlayerPickUpPickup",        {0, AL, 0, false, true}},
    {"OnPlayerExitedMenu",          {0, AL, 0, false, true}},
    {"OnPlayerSelectedMenuRow",     {0, AL, 0, false, true}},
    {"OnVehicleRespray",            {1, AL, 1, false, true}},
    {"OnVehicleMod",                {1, AV, 1, false, true}},
    {"OnEnterExitModShop",          {1, AV, 1, false, true}},
    {"OnVehiclePaintjob",           {1, AL, 1, false, true}},
    {"OnScriptCash",                {1, AL, 1, false, true}},
    {"OnRconLoginAttempt",          {1, A1, 1, false, true}},
    {"OnPlayerUpdate",              {1, AL, 1, false, true}},
    {"OnPlayerStreamIn",            {1, AL, 1, false, true}},
    {"OnPlayerStreamOut",           {1, AL, 1, false, true}},
    {"OnVehicleStreamIn",           {1, AL, 1, false, true}},
    {"OnVehicleStreamOut",          {1, AL, 1, false, true}},
    {"OnActorStreamIn",             {1, AL, 1, false, true}},
    {"OnActorStreamOut",            {1, AL, 1, false, true}},
    {"OnDialogResponse",            {0, SN, 0, true,  true}},
    {"OnPlayerClickPlayer",         {0, SN, 0, true,  true}},
    {"OnPlayerTakeDamage",          {0, SN, 0, false, true}},
    {"OnPlayerGiveDamage",          {0, SN, 0, false, true}},
    {"OnPlayerGiveDamageActor",     {0, SN, 0, false, true}},
    {"OnVehicleDamageStatusUpdate", {0, SN, 0, false, true}},
    {"OnUnoccupiedVehicleUpdate",   {1, SZ, 1, false, true}},
    {"OnPlayerClickMap",            {0, SN, 0, false, true}},
    {"OnPlayerEditAttachedObject",  {0, SN, 0, false, true}},
    {"OnPlayerEditObject",          {0, SN, 0, false, true}},
    {"OnPlayerSelectObject",        {0, SN, 0, false, true}},
    {"OnPlayerClickTextDraw",       {0, SN, 0, false, true}},
    {"OnPlayerClickPlayerTextDraw", {0, SN, 0, false, true}},
    {"OnPlayerWeaponShot",          {1, SZ, 1, false, true}},
    {"OnIncomingConnection",        {0, SN, 0, false, true}},
    {"OnTrailerUpdate",             {1, AL, 1, false, true}},
    {"OnVehicleSirenStateChange",   {0, AL, 1, false, true}},
    {"OnPlayerFinishedDownloading", {0, AL, 1, false, true}},
    {"OnPlayerRequestDownload",     {1, SZ, 1, false, true}},
};
// clang-format on

// Calls any dispatcher with plain arguments: player id 0, the text "text", 1.5 for floats.
template <class T>
T DefaultArg() {
    if constexpr (std::is_same_v<T, float>)
        return 1.5f;
    else if constexpr (std::is_same_v<T, const char*>)
        return "text";
    else if constexpr (std::is_same_v<T, char*>) {
        static char buffer[16];
        std::snprintf(buffer, sizeof buffer, "text");
        return buffer;
    } else
        return 0;
}
template <class C, class... A>
int32_t CallWithDefaults(C& host, int32_t (C::*fn)(A...)) {
    return (host.*fn)(DefaultArg<A>()...);
}

struct Dispatcher {
    std::string name;
    int32_t (*fs)(FilterScripts&);
    int32_t (*gm)(GameMode&);  // null: no gamemode dispatcher
};

#define TEST_GM_None(name) nullptr
#define TEST_GM_Plain(name) [](GameMode& h) { return CallWithDefaults(h, &GameMode::name); }
#define TEST_GM_PlayerTest TEST_GM_Plain
#define TEST_GM_IgnoreResult TEST_GM_Plain
#define TEST_GM_Chat TEST_GM_Plain

const std::vector<Dispatcher>& AllDispatchers() {
    static const std::vector<Dispatcher> all = {
#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind)                      \
    {#name, [](FilterScripts& h) { return CallWithDefaults(h, &FilterScripts::name); }, \
     TEST_GM_##gmKind(name)},
        VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X
    };
    return all;
}

// Three filterscripts in slots 0, 2 and 5 (gaps in between) all defining the public.
const int kSlots[3] = {0, 2, 5};
struct Pattern {
    int32_t results[3];
    std::map<Rule, std::pair<int32_t, std::vector<int>>> expected;  // result, slots that ran
};
const std::vector<Pattern> kPatterns = {
    {{2, 0, 3},
     {{SZ, {0, {0, 2}}}, {SN, {1, {0}}}, {AL, {3, {0, 2, 5}}}, {AV, {0, {0, 2, 5}}}, {A1, {1, {0, 2, 5}}}}},
    {{0, 5, 0},
     {{SZ, {0, {0}}}, {SN, {1, {0, 2}}}, {AL, {0, {0, 2, 5}}}, {AV, {0, {0, 2, 5}}}, {A1, {1, {0, 2, 5}}}}},
    {{4, 5, 6},
     {{SZ, {6, {0, 2, 5}}},
      {SN, {1, {0}}},
      {AL, {6, {0, 2, 5}}},
      {AV, {1, {0, 2, 5}}},
      {A1, {1, {0, 2, 5}}}}},
};

TEST(ScriptServices, TableCoversEveryCallbackOnce) {
    std::set<std::string> names;
    for (const Dispatcher& d : AllDispatchers()) {
        EXPECT_TRUE(names.insert(d.name).second) << d.name;
        EXPECT_TRUE(kExpected.count(d.name)) << "unexpected callback " << d.name;
        const ScriptCallbackInfo* info = FindScriptCallback(d.name);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->name, d.name);
    }
    EXPECT_EQ(names.size(), kExpected.size());
    EXPECT_EQ(FindScriptCallback("onplayerconnect"), nullptr);  // names are exact
}

TEST(ScriptServices, EveryDispatcherDefaultAndStopRule) {
    for (const Dispatcher& d : AllDispatchers()) {
        SCOPED_TRACE(d.name);
        const Expected& e = kExpected.at(d.name);

        // Nobody defines the public.
        {
            StandInScripts s;
            StandInFilterScripts fs{s};
            StandInGameMode gm{s};
            fs.Occupy(0, "bare");
            EXPECT_EQ(d.fs(fs), e.fsInit);
            ASSERT_EQ(d.gm != nullptr, e.gmSide);
            if (d.gm) {
                EXPECT_EQ(d.gm(gm), 0) << "gamemode not loaded";
                gm.SetLoaded(true);
                EXPECT_EQ(d.gm(gm), e.gmInit) << "gamemode without the public";
            }
            EXPECT_TRUE(s.calls.empty());
        }

        // The filterscript stop rule.
        for (const Pattern& p : kPatterns) {
            StandInScripts s;
            StandInFilterScripts fs{s};
            for (int i = 0; i < 3; ++i) {
                std::string script = "fs" + std::to_string(kSlots[i]);
                fs.Occupy(kSlots[i], script);
                s.filterScriptPublics[script][d.name] = p.results[i];
            }
            fs.Occupy(1, "other");  // occupied, but without the public
            s.filterScriptPublics["other"]["SomethingElse"] = 9;
            const auto& [result, slots] = p.expected.at(e.rule);
            EXPECT_EQ(d.fs(fs), result) << "pattern " << p.results[0] << p.results[1] << p.results[2];
            std::vector<int> ran;
            for (const ScriptCall& c : s.calls) ran.push_back(c.slot);
            EXPECT_EQ(ran, slots);
        }

        // The gamemode runs the public and returns its result, subject to the player test.
        if (d.gm) {
            StandInScripts s;
            StandInGameMode gm{s};
            gm.SetLoaded(true);
            s.gameModePublics[d.name] = 7;
            const int32_t direct = d.name == "OnRconLoginAttempt" ? 1 : 7;  // result ignored there
            EXPECT_EQ(d.gm(gm), direct);
            EXPECT_EQ(s.calls.size(), 1u);
            s.isPlayerConnected = [](int32_t) { return false; };
            EXPECT_EQ(d.gm(gm), e.playerTest ? e.gmInit : direct) << "player 0 not connected";
            EXPECT_EQ(s.calls.size(), e.playerTest ? 1u : 2u);
        }
    }
}

TEST(ScriptServices, PlayerTestRejectsIdsOutsideThePool) {
    StandInScripts s;
    StandInGameMode gm{s};
    gm.SetLoaded(true);
    s.gameModePublics["OnPlayerRequestSpawn"] = 0;
    EXPECT_EQ(gm.OnPlayerRequestSpawn(1000), 1);
    EXPECT_EQ(gm.OnPlayerRequestSpawn(-1), 1);
    EXPECT_EQ(gm.OnPlayerRequestSpawn(999), 0);
    EXPECT_EQ(s.calls.size(), 1u);
}

TEST(ScriptServices, ChatTextIsShortenedInPlaceAndBroadcastOnlyWhenAccepted) {
    StandInScripts s;
    StandInFilterScripts fs{s};
    StandInGameMode gm{s};
    gm.SetLoaded(true);
    fs.Occupy(0, "censor");
    fs.Occupy(1, "reader");
    s.filterScriptPublics["censor"]["OnPlayerText"] = 1;
    s.filterScriptPublics["reader"]["OnPlayerText"] = 1;
    s.gameModePublics["OnPlayerText"] = 1;
    std::vector<std::string> seen, broadcast;
    s.onRun = [&](ScriptCall& call) {
        std::string& text = std::get<std::string>(call.args.at(1));
        seen.push_back(text);
        if (call.slot == 0) text = "hi";
        if (call.side == ScriptSide::GameMode) text = "a text longer than the original";
    };
    s.broadcastChat = [&](int32_t id, const char* text) {
        broadcast.push_back(std::to_string(id) + ":" + text);
    };

    char buffer[64] = "hello world";
    EXPECT_EQ(fs.OnPlayerText(3, buffer), 1);
    EXPECT_EQ(gm.OnPlayerText(3, buffer), 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"hello world", "hi", "hi"}));
    // Lengthening is cut to the length the text had when the dispatch started.
    EXPECT_STREQ(buffer, "a ");
    EXPECT_EQ(broadcast, std::vector<std::string>{"3:a "});

    s.gameModePublics["OnPlayerText"] = 0;
    broadcast.clear();
    EXPECT_EQ(gm.OnPlayerText(3, buffer), 0);
    EXPECT_TRUE(broadcast.empty());
}

TEST(ScriptServices, FilterscriptSlotsLoadUnloadAndCallPublic) {
    StandInScripts s;
    s.filterScriptFiles = {"a", "b", "c"};
    s.filterScriptPublics["b"] = {{"OnFilterScriptInit", 1}, {"Tick", 0}};
    s.filterScriptPublics["c"] = {{"Tick", 5}};
    StandInFilterScripts fs{s};
    EXPECT_TRUE(fs.LoadFilterScript("a"));
    EXPECT_TRUE(fs.LoadFilterScript("b"));
    EXPECT_FALSE(fs.LoadFilterScript("b"));        // already loaded
    EXPECT_FALSE(fs.LoadFilterScript("missing"));  // no file
    EXPECT_EQ(fs.UnloadFilterScript("a"), 1);
    EXPECT_EQ(fs.UnloadFilterScript("a"), 0);
    EXPECT_TRUE(fs.LoadFilterScript("c"));
    EXPECT_EQ(fs.SlotName(0), "c");  // the lowest free slot
    EXPECT_EQ(fs.Count(), 2);
    EXPECT_EQ(s.RanNames(), std::vector<std::string>{"OnFilterScriptInit"});

    EXPECT_EQ(fs.CallPublic("Tick"), 0);  // slot 1 ("b") returns 0 and stops the walk
    EXPECT_EQ(fs.CallPublic("Nobody"), 0);
    EXPECT_EQ(fs.LoadFilterScriptFromMemory("mem", nullptr), 0);
    int image = 0;
    EXPECT_EQ(fs.LoadFilterScriptFromMemory("mem", &image), 1);
    for (int i = 0; i < kMaxFilterScripts; ++i) fs.Occupy(i, "filler" + std::to_string(i));
    s.filterScriptFiles.insert("late");
    EXPECT_FALSE(fs.LoadFilterScript("late"));  // all 16 slots taken
}

}  // namespace
}  // namespace velt
