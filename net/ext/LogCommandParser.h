#pragma once
// Named log channels that console clients subscribe to.

#include <cstdint>
#include <vector>

#include "net/PlayerID.h"
#include "net/ext/CommandParser.h"

namespace velt {

class TransportInterface;

// Turns the remote console into a log viewer: the program writes lines to named channels with
// Log, and every console client subscribed to a channel receives them. Used on the thread that
// drives the console server.
class LogCommandParser : public CommandParserInterface {
public:
    static constexpr uint32_t kMaxChannels = 32;

    LogCommandParser();
    const char* GetParserName() const override { return "Logger"; }
    void OnRemoteDisconnect(PlayerID client, TransportInterface* transport) override;
    void WriteHelp(TransportInterface* transport, PlayerID client) override;
    bool ExecuteCommand(const char* command, uint32_t parameterCount, char** parameters,
                        TransportInterface* transport, PlayerID client, const char* lineCopy) override;
    void OnTransportSet(TransportInterface* transport) override { transport_ = transport; }

    // Keeps the caller's text, which must outlive the parser. Returns the channel's slot; -1
    // when all slots are taken. A name already present keeps its slot.
    int32_t AddChannel(const char* channelName);
    // Slot of the channel (names match without case), -1 when there is none.
    int32_t FindChannel(const char* channelName) const;
    uint32_t GetChannelCount() const;

    // Sends one printf-style line to every client subscribed to the channel, creating the
    // channel on first use. Nothing for a null channel or format, or when no slot is left.
    void Log(const char* channelName, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Channel slot subscribed to, or -1 (all channels when channelName is null, or no such channel).
    int32_t SubscribeClient(PlayerID client, const char* channelName);
    // Channel slot unsubscribed from; 0 when the whole record was dropped (channelName null);
    // -1 for a client without a record or an unknown channel.
    int32_t UnsubscribeClient(PlayerID client, const char* channelName);

    void WriteChannelList(TransportInterface* transport, PlayerID client) const;
    // Where subscribers' lines go; none until a console server hands its transport over.
    TransportInterface* GetTransport() const { return transport_; }

private:
    struct LogSubscriber {
        PlayerID client;
        uint32_t channelMask;  // bit i: channel slot i
    };

    LogSubscriber* FindSubscriber(PlayerID client);

    std::vector<LogSubscriber> subscribers_;
    const char* channelNames_[kMaxChannels] = {};
    TransportInterface* transport_ = nullptr;
};

}  // namespace velt
