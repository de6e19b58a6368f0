#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/console/ConsoleVariable.h"

namespace velt {

class ConsoleHost;

// Longest console line and longest variable name; longer input is cut to this.
inline constexpr size_t kConsoleLineMax = 255;
inline constexpr size_t kConsoleNameMax = 255;

// Main-loop flags, each read once per pass. ExitRequested is also set by SIGINT and SIGTERM,
// hence lock-free atomics rather than plain ints.
extern std::atomic<int> ExitRequested;
extern std::atomic<int> GameModeChangePending;

class Console;
// The process's console, set by main once it is created; everything else reaches it through here.
extern Console* ServerConsole;

// Names are stored and looked up cut to kConsoleNameMax and with ASCII capitals lowered, so
// "MaxPlayers" and "maxplayers" are one variable.
std::string NormaliseConsoleName(const char* name);

// "banip"/"unbanip" accept exactly four '.'-separated parts, each reading as 0..255 ("*" and other
// parts without digits read as 0, which is what lets wildcard patterns through).
bool IsValidBanIp(const char* text);

class Console {
public:
    using VariableMap = std::map<std::string, std::unique_ptr<ConsoleVariable>>;

    Console() = default;
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Commands that act on the game go through the host; without one they do nothing.
    void SetHost(ConsoleHost* host) { host_ = host; }
    ConsoleHost* Host() const { return host_; }

    // Registers a float, int or bool variable over caller-owned storage (float*, int32_t*, or a
    // uint8_t* holding 0/1), or a string variable whose initial text is copied from value
    // (a const char*, null for ""). The callback runs once, before the variable is visible.
    // Returns the new record; null for a duplicate name (logged), a bad type or missing storage.
    ConsoleVariable* AddVariable(const char* name, ConsoleVarType type, int32_t flags, void* value,
                                 ConsoleChangeCallback changed = {});
    // Returns the record, not its text: the text moves whenever the variable changes, so callers
    // re-read it with GetStringVariable instead of keeping a pointer.
    ConsoleVariable* AddStringVariable(const char* name, int32_t flags, const char* initial,
                                       ConsoleChangeCallback changed = {});

    ConsoleVariable* FindVariable(const char* name);
    const ConsoleVariable* FindVariable(const char* name) const;

    // Absent variables and variables of another type give 0, 0, 0.0 and null.
    int32_t GetIntVariable(const char* name) const;
    uint8_t GetBoolVariable(const char* name) const;
    float GetFloatVariable(const char* name) const;
    // The variable's own text, valid until the variable next changes.
    const char* GetStringVariable(const char* name) const;

    // Direct setters for the core: no callback, no read-only check; absent or other-typed
    // variables are left alone.
    void SetIntVariable(const char* name, int32_t value);
    void SetBoolVariable(const char* name, bool value);
    void SetFloatVariable(const char* name, float value);
    void SetStringVariable(const char* name, const char* value);

    // Replaces the flags word; returns it, or 0 when the variable is absent.
    int32_t SetVariableFlags(const char* name, int32_t flags);
    void RemoveVariable(const char* name);

    // Runs one console line: a command, else a variable shown or set, else the scripts'
    // OnRconCommand.
    void Execute(const char* line);
    // Runs the variable lines of "<baseName>.cfg"; every other line of the file is ignored. False
    // when the file cannot be opened or read (logged, and with reportToOperator also written to
    // standard error: the start-up's own configuration).
    bool ExecFile(const char* baseName, bool reportToOperator = false);
    // The "varlist" output.
    void ListVariables() const;

    // The query rules reply: the request's 11 header bytes, u16 count, then per rule variable in
    // name order u8 name length, name, u8 value length, value (each cut to 255 bytes).
    std::vector<uint8_t> BuildRulesReply(const uint8_t* requestHeader) const;
    // Sends it on the query socket; false when sendto fails.
    bool SendRules(int socket, const uint8_t* requestHeader, const sockaddr_in& to) const;

    const VariableMap& Variables() const { return vars_; }

private:
    void OfferToScripts(const std::string& line, const std::string& name);
    void ShowVariable(const std::string& name, const ConsoleVariable& var) const;
    static void StoreFromLine(ConsoleVariable& var, const char* token, char* rest);

    VariableMap vars_;
    ConsoleHost* host_ = nullptr;
};

}  // namespace velt
