#include "server/console/ConsoleVariables.h"

#include <cstdio>

#include "server/console/Console.h"
#include "server/console/Log.h"

namespace velt {

void PublishLogSettings(const Console& console) {
    const char* format = console.GetStringVariable("logtimeformat");
    LogAttachConsole(&console, console.GetBoolVariable("output") != 0,
                     console.GetBoolVariable("timestamp") != 0, format != nullptr ? format : "");
}

void RegisterServerVariables(Console& c, ServerSettings& s, const ServerVariableCallbacks& cb) {
    // Runs at registration too, when the variable is not in the map yet; the final publish at the
    // end of this function covers that.
    ConsoleChangeCallback publishLog = [&c] { PublishLogSettings(c); };

    c.AddVariable("announce", CON_VARTYPE_BOOL, 0, &s.announce);
    c.AddVariable("maxplayers", CON_VARTYPE_INT, 0, &s.maxPlayers, cb.maxPlayers);
    c.AddVariable("mtu", CON_VARTYPE_INT, 0, &s.mtu);
    c.AddVariable("port", CON_VARTYPE_INT, 0, &s.port);
    c.AddVariable("lanmode", CON_VARTYPE_BOOL, 0, &s.lanMode);
    c.AddVariable("query", CON_VARTYPE_BOOL, 0, &s.query);
    c.AddVariable("rcon", CON_VARTYPE_BOOL, 0, &s.rcon);
    c.AddVariable("logqueries", CON_VARTYPE_BOOL, 0, &s.logQueries);
    c.AddVariable("stream_rate", CON_VARTYPE_INT, 0, &s.streamRate, cb.streamRate);
    c.AddVariable("stream_distance", CON_VARTYPE_FLOAT, 0, &s.streamDistance, cb.streamDistance);
    c.AddVariable("sleep", CON_VARTYPE_INT, 0, &s.sleep);
    c.AddVariable("maxnpc", CON_VARTYPE_INT, 0, &s.maxNpc);
    c.AddVariable("onfoot_rate", CON_VARTYPE_INT, 0, &s.onFootRate);
    c.AddVariable("incar_rate", CON_VARTYPE_INT, 0, &s.inCarRate);
    c.AddVariable("weapon_rate", CON_VARTYPE_INT, 0, &s.weaponRate);
    c.AddVariable("chatlogging", CON_VARTYPE_INT, 0, &s.chatLogging);
    c.AddVariable("output", CON_VARTYPE_BOOL, 0, &s.output, publishLog);
    c.AddVariable("timestamp", CON_VARTYPE_BOOL, 0, &s.timestamp, publishLog);
    c.AddStringVariable("bind", 0, "");
    c.AddStringVariable("password", 0, "", cb.password);
    c.AddStringVariable("hostname", 0, "VELT Server");
    c.AddStringVariable("language", 0, "");
    c.AddStringVariable("mapname", CON_VARFLAG_RULE, "Corvessa");
    c.AddStringVariable("weburl", CON_VARFLAG_RULE, "www.velt-server.example");
    c.AddStringVariable("rcon_password", 0, kDefaultRconPassword);
    c.AddStringVariable("gravity", 0, "0.008");
    c.AddStringVariable("weather", CON_VARFLAG_RULE, "10");
    c.AddStringVariable("gamemodetext", 0, "Unknown");
    c.AddStringVariable("filterscripts", 0, "");
    c.AddStringVariable("plugins", 0, "");
    c.AddStringVariable("nosign", 0, "");
    c.AddStringVariable("logtimeformat", 0, "[%H:%M:%S]", publishLog);
    c.AddVariable("messageholelimit", CON_VARTYPE_INT, 0, &s.messageHoleLimit);
    c.AddVariable("messageslimit", CON_VARTYPE_INT, 0, &s.messagesLimit);
    c.AddVariable("ackslimit", CON_VARTYPE_INT, 0, &s.acksLimit);
    c.AddVariable("playertimeout", CON_VARTYPE_INT, 0, &s.playerTimeout);
    c.AddVariable("minconnectiontime", CON_VARTYPE_INT, 0, &s.minConnectionTime);
    c.AddVariable("myriad", CON_VARTYPE_BOOL, 0, &s.myriad);
    c.AddVariable("lagcompmode", CON_VARTYPE_INT, 0, &s.lagCompMode);
    c.AddVariable("connseedtime", CON_VARTYPE_INT, 0, &s.connSeedTime);
    c.AddVariable("db_logging", CON_VARTYPE_INT, 0, &s.dbLogging);
    c.AddVariable("db_log_queries", CON_VARTYPE_INT, 0, &s.dbLogQueries);
    c.AddVariable("conncookies", CON_VARTYPE_INT, 0, &s.connCookies);
    c.AddVariable("cookielogging", CON_VARTYPE_INT, 0, &s.cookieLogging);
    c.AddVariable("useartwork", CON_VARTYPE_BOOL, 0, &s.useArtwork);
    c.AddStringVariable("artpath", 0, "models");
    for (int i = 0; i < kGameModeRotationSize; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "gamemode%u", static_cast<unsigned>(i));
        c.AddStringVariable(name, 0, "");
    }
    PublishLogSettings(c);
}

void LockStartupVariables(Console& console) {
    static constexpr const char* kStartupOnly[] = {
        "maxplayers",  "mtu",        "bind",        "port",          "filterscripts", "plugins",    "nosign",
        "onfoot_rate", "incar_rate", "weapon_rate", "logtimeformat", "lagcompmode",   "useartwork", "artpath",
    };
    for (const char* name : kStartupOnly) console.SetVariableFlags(name, CON_VARFLAG_READONLY);
}

void RegisterDerivedServerVariables(Console& console, const ServerSettings& s) {
    constexpr int32_t kFlags = CON_VARFLAG_READONLY | CON_VARFLAG_RULE;
    console.AddStringVariable("lagcomp", kFlags, s.lagCompMode > 0 ? "On" : "Off");
    console.AddStringVariable("artwork", kFlags, s.useArtwork ? "Yes" : "No");
    console.AddStringVariable("version", kFlags, kServerVersion);
}

}  // namespace velt
