#pragma once
// The base of the remote text console's command parsers: a sorted table of commands, the shared
// result lines, and the splitting of a command line into words.

#include <cstdint>
#include <vector>

#include "net/PlayerID.h"

namespace velt {

class TransportInterface;

// A parser's command names and help texts are not copied: they are string literals.
struct CommandEntry {
    const char* name;
    const char* helpText;
    uint8_t parameterCount;
};

// Any number of words.
inline constexpr uint8_t VARIABLE_PARAMETER_COUNT = 255;

class CommandParserInterface {
public:
    virtual ~CommandParserInterface() = default;
    virtual const char* GetParserName() const = 0;

    // A console client connected or was lost.
    virtual void OnRemoteConnect(PlayerID client, TransportInterface* transport) {
        (void)client;
        (void)transport;
    }
    virtual void OnRemoteDisconnect(PlayerID client, TransportInterface* transport) {
        (void)client;
        (void)transport;
    }
    virtual void WriteHelp(TransportInterface* transport, PlayerID client) = 0;
    // command is the registered entry's own name; parameters holds parameterCount words and a
    // null entry after them; lineCopy is the whole line as typed.
    virtual bool ExecuteCommand(const char* command, uint32_t parameterCount, char** parameters,
                                TransportInterface* transport, PlayerID client, const char* lineCopy) = 0;
    // The console server now talks through transport.
    virtual void OnTransportSet(TransportInterface* transport) { (void)transport; }

    // Case-insensitive; false when the parser has no such command.
    bool FindCommand(const char* name, CommandEntry* out) const;
    uint32_t GetCommandCount() const { return static_cast<uint32_t>(commands_.size()); }
    // Every command name, comma-separated, in one line.
    void WriteCommandList(TransportInterface* transport, PlayerID client) const;

    // The result lines every parser answers with.
    static void ReportResult(bool result, const char* command, TransportInterface* transport,
                             PlayerID client);
    static void ReportResult(const char* result, const char* command, TransportInterface* transport,
                             PlayerID client);
    static void ReportResult(PlayerID result, const char* command, TransportInterface* transport,
                             PlayerID client);
    static void ReportResult(int32_t result, const char* command, TransportInterface* transport,
                             PlayerID client);
    // An operation without a result.
    static void ReportResult(const char* command, TransportInterface* transport, PlayerID client);

    // Splits line in place: delimiter bytes (while splitting is on) and CR/LF become NUL, a toggle
    // byte becomes NUL and flips splitting. Each run of other bytes becomes one entry of
    // parameters, followed by a null entry; at most listLength - 1 words fit. Returns false when
    // the line held more words than that (the first ones are still listed).
    static bool ParseConsoleString(char* line, char delimiter, char toggle, uint32_t* parameterCount,
                                   char** parameters, uint32_t listLength);

protected:
    // Kept sorted by name, case-insensitively; a second command of the same name is ignored.
    void AddCommand(uint8_t parameterCount, const char* name, const char* helpText);

private:
    std::vector<CommandEntry> commands_;
};

}  // namespace velt
