#pragma once
// The TCP connection of one mail dialogue: connect, send texts, take what the server sends in the
// chunks it arrives in. Blocking, with a time limit on every wait.

#include <cstdint>
#include <string>

namespace velt {

class MailConnection {
public:
    enum class Wait { Data, Timeout, Closed };

    MailConnection() = default;
    ~MailConnection() { Close(); }
    MailConnection(const MailConnection&) = delete;
    MailConnection& operator=(const MailConnection&) = delete;

    // Resolves host (a name or a numeric address) and connects within timeoutMs. False when
    // no address of it accepts the connection in time.
    bool Connect(const char* host, uint16_t port, uint32_t timeoutMs);
    // Sends the whole text; false when the connection fails.
    bool Send(const std::string& text);
    // Waits up to timeoutMs for the next chunk, appended to chunk.
    Wait Receive(uint32_t timeoutMs, std::string& chunk);
    void Close();

private:
    int fd_ = -1;
};

}  // namespace velt
