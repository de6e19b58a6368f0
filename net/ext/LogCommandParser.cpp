#include "net/ext/LogCommandParser.h"

#include <strings.h>

#include <cstdarg>
#include <cstring>

#include "net/ext/TransportInterface.h"

namespace velt {

namespace {

constexpr uint32_t kAllChannels = 0xFFFFFFFFu;

}  // namespace

LogCommandParser::LogCommandParser() {
    AddCommand(VARIABLE_PARAMETER_COUNT, "Subscribe",
               "[<ChannelName>] - Subscribes to a named channel, or all channels");
    AddCommand(VARIABLE_PARAMETER_COUNT, "Unsubscribe",
               "[<ChannelName>] - Unsubscribes from a named channel, or all channels");
}

uint32_t LogCommandParser::GetChannelCount() const {
    uint32_t n = 0;
    while (n < kMaxChannels && channelNames_[n] != nullptr) ++n;
    return n;
}

int32_t LogCommandParser::FindChannel(const char* channelName) const {
    if (channelName == nullptr) return -1;
    for (uint32_t i = 0; i < kMaxChannels && channelNames_[i] != nullptr; ++i)
        if (strcasecmp(channelNames_[i], channelName) == 0) return static_cast<int32_t>(i);
    return -1;
}

int32_t LogCommandParser::AddChannel(const char* channelName) {
    if (channelName == nullptr) return -1;
    const int32_t existing = FindChannel(channelName);
    if (existing >= 0) return existing;
    const uint32_t slot = GetChannelCount();
    if (slot == kMaxChannels) return -1;
    channelNames_[slot] = channelName;
    return static_cast<int32_t>(slot);
}

void LogCommandParser::Log(const char* channelName, const char* format, ...) {
    if (channelName == nullptr || format == nullptr) return;
    const int32_t channel = AddChannel(channelName);
    if (channel < 0) return;

    char text[kConsoleLineBytes];
    va_list args;
    va_start(args, format);
    uint32_t n = FormatConsoleText(text, format, args);
    va_end(args);
    if (n == 0) return;
    if (text[n - 1] == '\n') --n;
    // Room for CR LF behind the text within the buffer.
    if (n >= kConsoleLineBytes - 4) n -= 3;
    text[n] = '\r';
    text[n + 1] = '\n';
    text[n + 2] = '\0';

    if (transport_ == nullptr) return;
    const uint32_t bit = 1u << static_cast<uint32_t>(channel);
    for (const LogSubscriber& s : subscribers_)
        if ((s.channelMask & bit) != 0) transport_->Send(s.client, "%s", text);
}

LogCommandParser::LogSubscriber* LogCommandParser::FindSubscriber(PlayerID client) {
    for (LogSubscriber& s : subscribers_)
        if (s.client == client) return &s;
    return nullptr;
}

int32_t LogCommandParser::SubscribeClient(PlayerID client, const char* channelName) {
    int32_t channel = -1;
    if (channelName != nullptr) {
        channel = FindChannel(channelName);
        if (channel < 0) return -1;
    }
    const uint32_t mask = channel < 0 ? kAllChannels : 1u << static_cast<uint32_t>(channel);
    if (LogSubscriber* s = FindSubscriber(client))
        s->channelMask = channel < 0 ? kAllChannels : s->channelMask | mask;
    else
        subscribers_.push_back(LogSubscriber{client, mask});
    return channel;
}

int32_t LogCommandParser::UnsubscribeClient(PlayerID client, const char* channelName) {
    LogSubscriber* s = FindSubscriber(client);
    if (s == nullptr) return -1;
    if (channelName != nullptr) {
        const int32_t channel = FindChannel(channelName);
        if (channel >= 0) s->channelMask &= ~(1u << static_cast<uint32_t>(channel));
        return channel;
    }
    *s = subscribers_.back();
    subscribers_.pop_back();
    return 0;
}

void LogCommandParser::OnRemoteDisconnect(PlayerID client, TransportInterface* transport) {
    (void)transport;
    UnsubscribeClient(client, nullptr);
}

void LogCommandParser::WriteChannelList(TransportInterface* transport, PlayerID client) const {
    transport->Send(client, "CHANNELS:\r\n");
    const uint32_t count = GetChannelCount();
    for (uint32_t i = 0; i < count; ++i)
        transport->Send(client, "%i. %s\r\n", static_cast<int>(i + 1), channelNames_[i]);
    if (count == 0) transport->Send(client, "None.\r\n");
}

void LogCommandParser::WriteHelp(TransportInterface* transport, PlayerID client) {
    transport->Send(client, "The logger will accept user log data via the Log(...) function.\r\n");
    transport->Send(client, "Each log is associated with a named channel.\r\n");
    transport->Send(client, "You can subscribe to or unsubscribe from named channels.\r\n");
    WriteChannelList(transport, client);
}

bool LogCommandParser::ExecuteCommand(const char* command, uint32_t parameterCount, char** parameters,
                                      TransportInterface* transport, PlayerID client, const char* lineCopy) {
    (void)lineCopy;
    const bool subscribe = std::strcmp(command, "Subscribe") == 0;
    if (!subscribe && std::strcmp(command, "Unsubscribe") != 0) return true;
    if (parameterCount == 0) {
        if (subscribe) {
            SubscribeClient(client, nullptr);
            transport->Send(client, "Subscribed to all channels.\r\n");
        } else {
            UnsubscribeClient(client, nullptr);
            transport->Send(client, "Unsubscribed from all channels.\r\n");
        }
        return true;
    }
    if (parameterCount > 1) {
        transport->Send(client, "%s takes either 0 or 1 parameters.\r\n", command);
        return true;
    }
    const int32_t channel =
        subscribe ? SubscribeClient(client, parameters[0]) : UnsubscribeClient(client, parameters[0]);
    if (channel < 0) {
        transport->Send(client, "Cannot find channel %s.\r\n", parameters[0]);
        WriteChannelList(transport, client);
    } else if (subscribe) {
        transport->Send(client, "You are now subscribed to channel %s.\r\n", channelNames_[channel]);
    } else {
        transport->Send(client, "You are now unsubscribed from channel %s.\r\n", channelNames_[channel]);
    }
    return true;
}

}  // namespace velt
