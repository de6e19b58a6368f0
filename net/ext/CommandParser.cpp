#include "net/ext/CommandParser.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "net/ext/TransportInterface.h"

namespace velt {

namespace {

bool NameLess(const CommandEntry& entry, const char* name) { return strcasecmp(entry.name, name) < 0; }

}  // namespace

uint32_t FormatConsoleText(char* out, const char* format, va_list args) {
    out[0] = '\0';
    if (format == nullptr) return 0;
    const int n = std::vsnprintf(out, kConsoleLineBytes, format, args);
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    return std::min<uint32_t>(static_cast<uint32_t>(n), kConsoleLineBytes - 1);
}

void TransportInterface::Send(PlayerID client, const char* format, ...) {
    char text[kConsoleLineBytes];
    va_list args;
    va_start(args, format);
    const uint32_t length = FormatConsoleText(text, format, args);
    va_end(args);
    if (length != 0) SendText(client, text, length);
}

bool CommandParserInterface::FindCommand(const char* name, CommandEntry* out) const {
    if (name == nullptr) return false;
    auto it = std::lower_bound(commands_.begin(), commands_.end(), name, NameLess);
    if (it == commands_.end() || strcasecmp(it->name, name) != 0) return false;
    if (out != nullptr) *out = *it;
    return true;
}

void CommandParserInterface::AddCommand(uint8_t parameterCount, const char* name, const char* helpText) {
    if (name == nullptr) return;
    auto it = std::lower_bound(commands_.begin(), commands_.end(), name, NameLess);
    if (it != commands_.end() && strcasecmp(it->name, name) == 0) return;
    commands_.insert(it, CommandEntry{name, helpText != nullptr ? helpText : "", parameterCount});
}

void CommandParserInterface::WriteCommandList(TransportInterface* transport, PlayerID client) const {
    if (commands_.empty()) {
        transport->Send(client, "No registered commands\r\n");
        return;
    }
    for (size_t i = 0; i < commands_.size(); ++i) {
        if (i != 0) transport->Send(client, ", ");
        transport->Send(client, "%s", commands_[i].name);
    }
    transport->Send(client, "\r\n");
}

void CommandParserInterface::ReportResult(bool result, const char* command, TransportInterface* transport,
                                          PlayerID client) {
    transport->Send(client, result ? "%s returned true.\r\n" : "%s returned false.\r\n", command);
}

void CommandParserInterface::ReportResult(const char* result, const char* command,
                                          TransportInterface* transport, PlayerID client) {
    transport->Send(client, "%s returned %s.\r\n", command, result != nullptr ? result : "");
}

void CommandParserInterface::ReportResult(PlayerID result, const char* command, TransportInterface* transport,
                                          PlayerID client) {
    char dotted[PlayerID::kStringSize];
    transport->Send(client, "%s returned %s %i:%i\r\n", command,
                    result.ToString(false, dotted, sizeof dotted), static_cast<int32_t>(result.binaryAddress),
                    result.port);
}

void CommandParserInterface::ReportResult(int32_t result, const char* command, TransportInterface* transport,
                                          PlayerID client) {
    transport->Send(client, "%s returned %i.\r\n", command, result);
}

void CommandParserInterface::ReportResult(const char* command, TransportInterface* transport,
                                          PlayerID client) {
    transport->Send(client, "Successfully called %s.\r\n", command);
}

bool CommandParserInterface::ParseConsoleString(char* line, char delimiter, char toggle,
                                                uint32_t* parameterCount, char** parameters,
                                                uint32_t listLength) {
    const size_t length = std::strlen(line);
    bool splitting = true;
    for (size_t i = 0; i < length; ++i) {
        const char c = line[i];
        if (c == toggle) {
            line[i] = '\0';
            splitting = !splitting;
        } else if (c == '\r' || c == '\n' || (splitting && c == delimiter)) {
            line[i] = '\0';
        }
    }

    uint32_t count = 0;
    bool allFit = true;
    for (size_t i = 0; i < length; ++i) {
        if (line[i] == '\0' || (i != 0 && line[i - 1] != '\0')) continue;
        if (count + 1 >= listLength) {
            allFit = false;
            break;
        }
        parameters[count++] = line + i;
    }
    if (listLength != 0) parameters[count] = nullptr;
    *parameterCount = count;
    return allFit;
}

}  // namespace velt
