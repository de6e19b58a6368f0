#include "net/ext/ConsoleServer.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "net/ext/TransportInterface.h"

namespace velt {

namespace {

// Leading decimal digits as a number; saturates rather than wrapping into a valid index.
uint32_t LeadingNumber(const char* word) {
    uint32_t value = 0;
    for (; *word >= '0' && *word <= '9'; ++word) {
        const uint32_t digit = static_cast<uint32_t>(*word - '0');
        if (value > (UINT32_MAX - digit) / 10) return UINT32_MAX;
        value = value * 10 + digit;
    }
    return value;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void ConsoleServer::SetTransport(TransportInterface* transport, uint16_t port) {
    if (transport == nullptr) return;
    if (transport_ != nullptr) {
        RemoveCommandParser(transport_->GetTransportParser());
        transport_->Stop();
    }
    transport_ = transport;
    transport->Start(port, true);
    for (CommandParserInterface* parser : parsers_) parser->OnTransportSet(transport);
    AddCommandParser(transport->GetTransportParser());
}

void ConsoleServer::AddCommandParser(CommandParserInterface* parser) {
    if (parser == nullptr || std::find(parsers_.begin(), parsers_.end(), parser) != parsers_.end()) return;
    parsers_.push_back(parser);
    if (transport_ != nullptr) parser->OnTransportSet(transport_);
}

void ConsoleServer::RemoveCommandParser(CommandParserInterface* parser) {
    if (parser == nullptr) return;
    auto it = std::find(parsers_.begin(), parsers_.end(), parser);
    if (it == parsers_.end()) return;
    *it = parsers_.back();
    parsers_.pop_back();
}

void ConsoleServer::WriteParserList(PlayerID client) {
    transport_->Send(client, "INSTALLED PARSERS:\r\n");
    for (size_t i = 0; i < parsers_.size(); ++i)
        transport_->Send(client, "%i. %s\r\n", static_cast<int>(i + 1), parsers_[i]->GetParserName());
}

void ConsoleServer::Update() {
    TransportInterface* transport = transport_;
    if (transport == nullptr) return;
    Packet* packet = transport->Receive();

    const PlayerID joined = transport->TakeNewConnection();
    if (joined != UNASSIGNED_PLAYER_ID) {
        for (CommandParserInterface* parser : parsers_) parser->OnRemoteConnect(joined, transport);
        transport->Send(joined, "Connected to remote command console.\r\nType 'help' for help.\r\n");
        WriteParserList(joined);
    }
    const PlayerID left = transport->TakeLostConnection();
    if (left != UNASSIGNED_PLAYER_ID) {
        for (CommandParserInterface* parser : parsers_) parser->OnRemoteDisconnect(left, transport);
    }

    while (packet != nullptr) {
        HandleLine(*packet);
        transport->DeallocatePacket(packet);
        packet = transport->Receive();
    }
}

void ConsoleServer::WriteHelpOverview(PlayerID client) {
    static constexpr const char* kLines[] = {
        "\r\nINSTRUCTIONS:\r\n",
        "Enter commands on your keyboard, using spaces to delineate parameters.\r\n",
        "You can use quotation marks to toggle space delineation.\r\n",
        "You can connect multiple times from the same computer.\r\n",
        "You can direct commands to a parser by prefixing the parser name or number.\r\n",
        "COMMANDS:\r\n",
        "help                                        Show this display.\r\n",
        "help <ParserName>                           Show help on a particular parser.\r\n",
        "help <CommandName>                          Show help on a particular command.\r\n",
        "quit                                        Disconnects from the server.\r\n",
        "[<ParserName>]   <Command> [<Parameters>]   Execute a command\r\n",
        "[<ParserNumber>] <Command> [<Parameters>]   Execute a command\r\n",
    };
    for (const char* line : kLines) transport_->Send(client, "%s", line);
    WriteParserList(client);
}

void ConsoleServer::WriteHelpTopic(PlayerID client, const char* topic) {
    for (CommandParserInterface* parser : parsers_) {
        if (strcasecmp(parser->GetParserName(), topic) != 0) continue;
        parser->WriteHelp(transport_, client);
        transport_->Send(client, "COMMAND LIST:\r\n");
        parser->WriteCommandList(transport_, client);
        transport_->Send(client, "\r\n");
        return;
    }
    CommandEntry entry{};
    for (CommandParserInterface* parser : parsers_) {
        if (!parser->FindCommand(topic, &entry)) continue;
        if (entry.parameterCount == VARIABLE_PARAMETER_COUNT)
            transport_->Send(client, "(Variable parms): %s %s\r\n", entry.name, entry.helpText);
        else
            transport_->Send(client, "(%i parms): %s %s\r\n", entry.parameterCount, entry.name,
                             entry.helpText);
        return;
    }
    transport_->Send(client, "Unknown help topic: %s.\r\n", topic);
}

bool ConsoleServer::RunIn(CommandParserInterface* parser, uint32_t wordCount, char** words, PlayerID client,
                          const char* lineCopy) {
    CommandEntry entry{};
    if (!parser->FindCommand(words[0], &entry)) return false;
    const uint32_t parameterCount = wordCount - 1;
    if (entry.parameterCount == VARIABLE_PARAMETER_COUNT || entry.parameterCount == parameterCount) {
        parser->ExecuteCommand(entry.name, parameterCount, words + 1, transport_, client, lineCopy);
    } else {
        transport_->Send(client, "Invalid parameter count.\r\n(%i parms): %s %s\r\n", entry.parameterCount,
                         entry.name, entry.helpText);
    }
    return true;
}

void ConsoleServer::HandleLine(const Packet& line) {
    // The parsers work on copies of their own: a packet's text need not be terminated where its
    // length says, and a longer line is cut to what the copy holds.
    char lineCopy[kConsoleLineBytes];
    char words[kConsoleLineBytes];
    const uint32_t length = line.data != nullptr ? std::min(line.length, kConsoleLineBytes - 1) : 0;
    if (length != 0) std::memcpy(lineCopy, line.data, length);
    lineCopy[length] = '\0';
    std::memcpy(words, lineCopy, length + 1);

    const PlayerID client = line.sender;
    char* word[kWordListLength];
    uint32_t count = 0;
    if (!CommandParserInterface::ParseConsoleString(words, ' ', '"', &count, word, kWordListLength)) {
        // Running a command with some of its words silently dropped could do the wrong thing.
        transport_->Send(client, "Too many words: at most %u fit on a line.\r\n", kWordListLength - 1);
        return;
    }
    if (count == 0) return;

    if (strcasecmp(word[0], "help") == 0 && count <= 2) {
        if (count == 1)
            WriteHelpOverview(client);
        else
            WriteHelpTopic(client, word[1]);
        return;
    }
    if (strcasecmp(word[0], "quit") == 0 && count == 1) {
        transport_->Send(client, "Goodbye!");
        transport_->CloseConnection(client);
        return;
    }

    bool parsed = false;
    bool parserNamed = false;
    if (count >= 2) {
        CommandParserInterface* chosen = nullptr;
        if (IsDigit(word[0][0])) {
            parserNamed = true;
            const uint32_t number = LeadingNumber(word[0]);
            if (number - 1u >= parsers_.size())
                transport_->Send(client, "Invalid index.\r\n");
            else
                chosen = parsers_[number - 1u];
        } else {
            for (CommandParserInterface* parser : parsers_) {
                if (strcasecmp(parser->GetParserName(), word[0]) == 0) {
                    chosen = parser;
                    break;
                }
            }
            parserNamed = chosen != nullptr;
        }
        if (chosen != nullptr) parsed = RunIn(chosen, count - 1, word + 1, client, lineCopy);
    }
    if (!parserNamed) {
        // A command that several parsers register runs in each of them. A command may change the
        // parser list, so the bound is read afresh.
        for (size_t i = 0; i < parsers_.size(); ++i)
            parsed = RunIn(parsers_[i], count, word, client, lineCopy) || parsed;
    }
    if (!parsed && !parsers_.empty()) transport_->Send(client, "Unknown command:  Type 'help' for help.\r\n");
}

}  // namespace velt
