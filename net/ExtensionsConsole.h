#pragma once
// The remote text console of the network library: command parsers and the server that feeds
// them lines. Only their construction and destruction are needed here (the factory makes them
// for programs that want a remote console; the game makes none).

#include <cstdint>
#include <vector>

#include "net/PlayerID.h"

namespace velt {

class NetPeerInterface;
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

    // Case-insensitive; false when the parser has no such command.
    bool FindCommand(const char* name, CommandEntry* out) const;
    uint32_t GetCommandCount() const { return static_cast<uint32_t>(commands_.size()); }

protected:
    // Kept sorted by name, case-insensitively; a second command of the same name is ignored.
    void AddCommand(uint8_t parameterCount, const char* name, const char* helpText);

private:
    std::vector<CommandEntry> commands_;
};

// Named log channels that console clients subscribe to.
class LogCommandParser : public CommandParserInterface {
public:
    static constexpr uint32_t kMaxChannels = 32;

    LogCommandParser();
    const char* GetParserName() const override { return "Logger"; }
    // Number of named channels (none after construction).
    uint32_t GetChannelCount() const;
    // Where subscribers' lines go; none until a console server hands its transport over.
    TransportInterface* GetTransport() const { return transport_; }

private:
    const char* channelNames_[kMaxChannels] = {};
    TransportInterface* transport_ = nullptr;
};

// Mirrors the peer's operations as console commands, one per operation.
class NetCommandParser : public CommandParserInterface {
public:
    NetCommandParser();
    const char* GetParserName() const override { return "Net"; }
    void SetNetPeerInterface(NetPeerInterface* peer) { peer_ = peer; }
    NetPeerInterface* GetNetPeerInterface() const { return peer_; }

private:
    NetPeerInterface* peer_ = nullptr;  // not owned
};

// Reads command lines from a transport and hands them to the installed parsers. Owns neither.
class ConsoleServer {
public:
    ConsoleServer() = default;
    ~ConsoleServer() = default;
    ConsoleServer(const ConsoleServer&) = delete;
    ConsoleServer& operator=(const ConsoleServer&) = delete;

    TransportInterface* GetTransport() const { return transport_; }
    uint32_t GetParserCount() const { return static_cast<uint32_t>(parsers_.size()); }

private:
    TransportInterface* transport_ = nullptr;
    std::vector<CommandParserInterface*> parsers_;
};

}  // namespace velt
