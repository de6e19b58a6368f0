#pragma once
// The console server: reads command lines from a transport and hands them to the installed parsers.

#include <cstdint>
#include <vector>

#include "net/Packet.h"
#include "net/PlayerID.h"
#include "net/ext/CommandParser.h"

namespace velt {

class TransportInterface;

// Reads command lines from a transport and hands them to the installed parsers. Owns neither:
// the creator keeps both alive while they are installed. One thread drives it through Update.
class ConsoleServer {
public:
    // Words a line may hold, the closing null entry of the word list included.
    static constexpr uint32_t kWordListLength = 20;

    ConsoleServer() = default;
    ~ConsoleServer() = default;
    ConsoleServer(const ConsoleServer&) = delete;
    ConsoleServer& operator=(const ConsoleServer&) = delete;

    // Stops the old transport (taking its own parser out), starts the new one on port and
    // installs its own parser. Null is ignored.
    void SetTransport(TransportInterface* transport, uint16_t port);
    TransportInterface* GetTransport() const { return transport_; }

    // Null or an installed parser is ignored; names must be unique (the caller's duty).
    void AddCommandParser(CommandParserInterface* parser);
    // The last parser takes the removed one's place, so numbers of others can change.
    void RemoveCommandParser(CommandParserInterface* parser);
    uint32_t GetParserCount() const { return static_cast<uint32_t>(parsers_.size()); }

    // One pass: new and lost clients, then every line that arrived.
    void Update();

private:
    void WriteParserList(PlayerID client);
    void HandleLine(const Packet& line);
    void WriteHelpOverview(PlayerID client);
    void WriteHelpTopic(PlayerID client, const char* topic);
    // Runs the command in the first word of words in parser when it has it; false when it has not.
    bool RunIn(CommandParserInterface* parser, uint32_t wordCount, char** words, PlayerID client,
               const char* lineCopy);

    TransportInterface* transport_ = nullptr;
    std::vector<CommandParserInterface*> parsers_;
};

}  // namespace velt
