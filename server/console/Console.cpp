#include "server/console/Console.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/LittleEndian.h"
#include "server/console/ConsoleCommands.h"
#include "server/console/ConsoleHost.h"
#include "server/console/Log.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"

namespace velt {

std::atomic<int> ExitRequested{0};
std::atomic<int> GameModeChangePending{0};
Console* ServerConsole = nullptr;

static_assert(std::atomic<int>::is_always_lock_free, "ExitRequested is set from a signal handler");

std::string NormaliseConsoleName(const char* name) {
    std::string out;
    if (name == nullptr) return out;
    size_t n = strnlen(name, kConsoleNameMax);
    out.assign(name, n);
    for (char& ch : out) {
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    return out;
}

bool IsValidBanIp(const char* text) {
    if (text == nullptr) return false;
    int parts = 0;
    const char* part = text;
    for (;;) {
        const char* dot = std::strchr(part, '.');
        size_t len = dot != nullptr ? static_cast<size_t>(dot - part) : std::strlen(part);
        if (++parts > 4) return false;
        std::string piece(part, len);
        int32_t v = ParseConsoleInt(piece.c_str());
        if (v < 0 || v > 255) return false;
        if (dot == nullptr) break;
        part = dot + 1;
    }
    return parts == 4;
}

Console::~Console() {
    LogDetachConsole(this);
    if (ServerConsole == this) ServerConsole = nullptr;
}

ConsoleVariable* Console::AddVariable(const char* name, ConsoleVarType type, int32_t flags, void* value,
                                      ConsoleChangeCallback changed) {
    if (name == nullptr) return nullptr;
    std::string key = NormaliseConsoleName(name);
    if (vars_.count(key) != 0) {
        LogPrintf("Unable to add console variable '%s'. Already exists.", key.c_str());
        return nullptr;
    }
    auto var = std::make_unique<ConsoleVariable>();
    switch (type) {
        case CON_VARTYPE_FLOAT:
        case CON_VARTYPE_INT:
        case CON_VARTYPE_BOOL:
            // Every show and set dereferences the storage: refuse a variable without any.
            if (value == nullptr) return nullptr;
            var->value = value;
            break;
        case CON_VARTYPE_STRING: var->text = value != nullptr ? static_cast<const char*>(value) : ""; break;
        default: return nullptr;
    }
    var->type = type;
    var->flags = flags;
    var->changed = std::move(changed);
    if (var->changed) var->changed();
    ConsoleVariable* raw = var.get();
    vars_.emplace(std::move(key), std::move(var));
    return raw;
}

ConsoleVariable* Console::AddStringVariable(const char* name, int32_t flags, const char* initial,
                                            ConsoleChangeCallback changed) {
    return AddVariable(name, CON_VARTYPE_STRING, flags, const_cast<char*>(initial != nullptr ? initial : ""),
                       std::move(changed));
}

ConsoleVariable* Console::FindVariable(const char* name) {
    auto it = vars_.find(NormaliseConsoleName(name));
    return it != vars_.end() ? it->second.get() : nullptr;
}

const ConsoleVariable* Console::FindVariable(const char* name) const {
    auto it = vars_.find(NormaliseConsoleName(name));
    return it != vars_.end() ? it->second.get() : nullptr;
}

int32_t Console::GetIntVariable(const char* name) const {
    const ConsoleVariable* v = FindVariable(name);
    return v != nullptr && v->type == CON_VARTYPE_INT ? v->IntValue() : 0;
}

uint8_t Console::GetBoolVariable(const char* name) const {
    const ConsoleVariable* v = FindVariable(name);
    return v != nullptr && v->type == CON_VARTYPE_BOOL ? v->BoolValue() : 0;
}

float Console::GetFloatVariable(const char* name) const {
    const ConsoleVariable* v = FindVariable(name);
    return v != nullptr && v->type == CON_VARTYPE_FLOAT ? v->FloatValue() : 0.0f;
}

const char* Console::GetStringVariable(const char* name) const {
    const ConsoleVariable* v = FindVariable(name);
    return v != nullptr && v->type == CON_VARTYPE_STRING ? v->text.c_str() : nullptr;
}

void Console::SetIntVariable(const char* name, int32_t value) {
    ConsoleVariable* v = FindVariable(name);
    if (v != nullptr && v->type == CON_VARTYPE_INT) *static_cast<int32_t*>(v->value) = value;
}

void Console::SetBoolVariable(const char* name, bool value) {
    ConsoleVariable* v = FindVariable(name);
    if (v != nullptr && v->type == CON_VARTYPE_BOOL) *static_cast<uint8_t*>(v->value) = value ? 1 : 0;
}

void Console::SetFloatVariable(const char* name, float value) {
    ConsoleVariable* v = FindVariable(name);
    if (v != nullptr && v->type == CON_VARTYPE_FLOAT) *static_cast<float*>(v->value) = value;
}

void Console::SetStringVariable(const char* name, const char* value) {
    ConsoleVariable* v = FindVariable(name);
    // assign() copes with value pointing into the variable's own text.
    if (v != nullptr && v->type == CON_VARTYPE_STRING) v->text.assign(value != nullptr ? value : "");
}

int32_t Console::SetVariableFlags(const char* name, int32_t flags) {
    ConsoleVariable* v = FindVariable(name);
    if (v == nullptr) return 0;
    v->flags = flags;
    return flags;
}

void Console::RemoveVariable(const char* name) { vars_.erase(NormaliseConsoleName(name)); }

// ---------------------------------------------------------------------------------------------

void Console::Execute(const char* line) {
    if (line == nullptr) return;
    char buf[kConsoleLineMax + 1] = {};
    std::memcpy(buf, line, strnlen(line, kConsoleLineMax));
    // Scripts get the line as typed (cut like everything else), not the tokenised copy.
    const std::string typed(buf);

    ConsoleLineTokens tokens(buf);
    char* first = tokens.Next();
    if (first == nullptr) return;
    std::string name = NormaliseConsoleName(first);

    for (size_t i = 0; i < kConsoleCommandCount; ++i) {
        const ConsoleCommand& cmd = kConsoleCommands[i];
        if (name != cmd.name) continue;
        if (cmd.flags & CON_CMDFLAG_DEBUG) {
            LogPrintf("Unable to execute command '%s'. Debug mode required.", cmd.name);
            return;
        }
        cmd.handler(*this, tokens);
        return;
    }

    ConsoleVariable* var = FindVariable(name.c_str());
    if (var == nullptr) {
        OfferToScripts(typed, name);
        return;
    }
    if (var->IsDebug()) {
        LogPrintf("Unable to access variable '%s'. Debug mode required.", name.c_str());
        return;
    }
    char* value = tokens.Next();
    if (value != nullptr && !var->IsReadOnly()) {
        StoreFromLine(*var, value, tokens.Rest());
        // A copy: the callback may remove its own variable.
        ConsoleChangeCallback changed = var->changed;
        if (changed) changed();
        return;
    }
    ShowVariable(name, *var);
}

void Console::StoreFromLine(ConsoleVariable& var, const char* token, char* rest) {
    switch (var.type) {
        case CON_VARTYPE_FLOAT: *static_cast<float*>(var.value) = ParseConsoleFloat(token); break;
        case CON_VARTYPE_INT: *static_cast<int32_t*>(var.value) = ParseConsoleInt(token); break;
        case CON_VARTYPE_BOOL: *static_cast<uint8_t*>(var.value) = ParseConsoleInt(token) > 0 ? 1 : 0; break;
        case CON_VARTYPE_STRING: {
            std::string text = token;
            if (rest != nullptr) {
                size_t n = std::strlen(rest);
                while (n > 0 && (rest[n - 1] == ' ' || rest[n - 1] == '\t')) --n;
                // Only blanks after the value: nothing to join, and no trailing blank is stored.
                if (n > 0) {
                    text += ' ';
                    text.append(rest, n);
                }
            }
            var.text = std::move(text);
            break;
        }
    }
}

void Console::ShowVariable(const std::string& name, const ConsoleVariable& var) const {
    const char* ro = var.IsReadOnly() ? ", read-only" : "";
    switch (var.type) {
        case CON_VARTYPE_FLOAT:
            LogPrintf("%s = %f  (float%s)", name.c_str(), static_cast<double>(var.FloatValue()), ro);
            break;
        case CON_VARTYPE_INT: LogPrintf("%s = %d  (int%s)", name.c_str(), var.IntValue(), ro); break;
        case CON_VARTYPE_BOOL: LogPrintf("%s = %d  (bool%s)", name.c_str(), var.BoolValue(), ro); break;
        case CON_VARTYPE_STRING:
            LogPrintf("%s = \"%s\"  (string%s)", name.c_str(), var.text.c_str(), ro);
            break;
    }
}

void Console::OfferToScripts(const std::string& line, const std::string& name) {
    if (host_ == nullptr) return;
    // Filterscripts first; any non-zero answer means one of them handled the line.
    const CallbackOutcome command =
        RaiseCallback(*host_, {.stop = CallbackStop::AtNonZero, .loadedGameModeOnly = true}, NoPlayerToLose,
                      [&](auto& side) { return side.OnRconCommand(line.c_str()); });
    if (command.gameModeRan && command.result == 0)
        LogPrintf("Unknown command or variable:\n  %s", name.c_str());
}

void Console::ListVariables() const {
    LogPrintf("Console Variables:");
    for (const auto& [name, var] : vars_) {
        std::string value;
        switch (var->type) {
            case CON_VARTYPE_FLOAT: value = FormatConsoleValue(*var) + "  (float)"; break;
            case CON_VARTYPE_INT: value = FormatConsoleValue(*var) + "  (int)"; break;
            case CON_VARTYPE_BOOL: value = FormatConsoleValue(*var) + "  (bool)"; break;
            case CON_VARTYPE_STRING: value = "\"" + var->text + "\"  (string)"; break;
        }
        LogPrintf("  %s\t%s= %s%s%s%s", name.c_str(), name.size() <= 5 ? "\t" : "", value.c_str(),
                  var->IsReadOnly() ? " (read-only)" : "", var->IsDebug() ? " (debug)" : "",
                  var->IsRule() ? " (rule)" : "");
    }
    LogPrintf("%s", "");
}

// ---------------------------------------------------------------------------------------------

namespace {

// Where a configuration line's comment starts: a '#' or "//" at the start of the line or after a
// blank or tab. Inside a word they are part of the value ("Str0ng#Pass//word", "https://...").
size_t ConfigCommentStart(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        const bool opens = line[i] == '#' || (line[i] == '/' && i + 1 < line.size() && line[i + 1] == '/');
        if (opens && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) return i;
    }
    return std::string::npos;
}

}  // namespace

bool Console::ExecFile(const char* baseName, bool reportToOperator) {
    std::string path = std::string(baseName != nullptr ? baseName : "") + ".cfg";
    auto fail = [&] {
        if (reportToOperator)
            LogError("Unable to exec file '%s'.", path.c_str());
        else
            LogPrintf("Unable to exec file '%s'.", path.c_str());
        return false;
    };
    FILE* f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return fail();
    // Lines are read whole: the first 1023 characters are kept and the rest of an over-long line
    // is dropped, rather than read back as a line of its own.
    constexpr size_t kKeep = 1023;
    std::string line;
    int number = 0;
    bool more = true;
    while (more) {
        line.clear();
        ++number;
        int ch;
        while ((ch = std::fgetc(f)) != EOF && ch != '\n') {
            if (line.size() < kKeep) line.push_back(static_cast<char>(ch));
        }
        if (ch == EOF) {
            more = false;
            if (line.empty()) break;
        }
        // Like any C text, a line ends at an embedded zero byte.
        line.resize(std::strlen(line.c_str()));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const size_t cut = ConfigCommentStart(line);
        std::string comment;
        if (cut != std::string::npos) {
            comment = line.substr(cut);
            // The blanks or tabs that set the comment apart are no part of the value either.
            line.resize(cut == 0 ? 0 : line.find_last_not_of(" \t", cut - 1) + 1);
        }
        if (line.size() < 3 || line[0] == '/' || line[1] == '/') continue;
        std::string word = line.substr(0, line.find(' '));
        if (FindVariable(word.c_str()) == nullptr) continue;
        // A '#' after a blank may well have been meant as part of a value ("Clan #1"): say what
        // was left out, so that a shortened value is never a silent one.
        if (!comment.empty())
            LogPrintf("Line %d of '%s': \"%s\" is read as a comment.", number, path.c_str(), comment.c_str());
        Execute(line.c_str());
    }
    // A directory opens like a file but cannot be read; a read error is no configuration either.
    const bool readFailed = std::ferror(f) != 0;
    std::fclose(f);
    return readFailed ? fail() : true;
}

// ---------------------------------------------------------------------------------------------

std::vector<uint8_t> Console::BuildRulesReply(const uint8_t* requestHeader) const {
    std::vector<uint8_t> out(requestHeader, requestHeader + 11);
    uint16_t count = 0;
    for (const auto& entry : vars_)
        if (entry.second->IsRule()) ++count;
    out.resize(out.size() + 2);
    WriteU16(out.data() + out.size() - 2, count);
    auto put = [&out](const std::string& s) {
        size_t n = s.size() < 255 ? s.size() : 255;
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    };
    for (const auto& [name, var] : vars_) {
        if (!var->IsRule()) continue;
        put(name);
        put(FormatConsoleValue(*var));
    }
    return out;
}

bool Console::SendRules(int socket, const uint8_t* requestHeader, const sockaddr_in& to) const {
    std::vector<uint8_t> reply = BuildRulesReply(requestHeader);
    ssize_t sent =
        ::sendto(socket, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(reply.size());
}

}  // namespace velt
