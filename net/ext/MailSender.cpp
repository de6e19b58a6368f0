#include "net/ext/MailSender.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "net/Clock.h"
#include "net/ext/Base64Encoder.h"
#include "net/ext/FileList.h"
#include "net/ext/MailConnection.h"
#include "net/ext/MailText.h"

namespace velt {

namespace {

// The server's side of the dialogue: replies as the server completes them, whatever chunks they
// arrive in. A reply is judged by its code, never by digits that happen to stand in its text.
class ReplyReader {
public:
    enum class Result { Reply, Timeout, Closed };

    ReplyReader(MailConnection& connection, bool print) : connection_(connection), print_(print) {}

    // Waits up to timeoutMs for the last line of the next reply ("ddd text" or "ddd"; "ddd-text"
    // lines continue it) and gives its code.
    Result Next(uint32_t timeoutMs, int& code) {
        const NetTime deadline = GetTimeMs() + timeoutMs;
        for (;;) {
            if (TakeFinalLine(code)) return Result::Reply;
            const NetTime now = GetTimeMs();
            if (TimeReached(now, deadline)) return Result::Timeout;
            std::string chunk;
            const MailConnection::Wait wait = connection_.Receive(deadline - now, chunk);
            if (wait == MailConnection::Wait::Closed) return Result::Closed;
            if (wait == MailConnection::Wait::Timeout) return Result::Timeout;
            if (print_) std::fwrite(chunk.data(), 1, chunk.size(), stdout);
            pending_ += chunk;
        }
    }

    // Prints what the server sent after the last reply read, without waiting.
    void PrintWaiting() {
        std::string chunk;
        while (connection_.Receive(0, chunk) == MailConnection::Wait::Data) {}
        if (print_) std::fwrite(chunk.data(), 1, chunk.size(), stdout);
    }

private:
    bool TakeFinalLine(int& code) {
        for (;;) {
            const size_t end = pending_.find('\n');
            if (end == std::string::npos) return false;
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) continue;
            if (line.size() > 3 && line[3] == '-') continue;
            code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            return true;
        }
    }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    MailConnection& connection_;
    bool print_;
    std::string pending_;
};

// This host's name for the greeting; servers refuse a greeting without one.
std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    for (const char* p = name; *p != '\0'; ++p) {
        const char c = *p;
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                             c == '-' || c == '.';
        if (!allowed) return "localhost";
    }
    return name;
}

std::string Base64Of(const FileListEntry& entry) {
    std::vector<char> text(size_t(Base64BufferBytes(entry.DataLength())));
    const uint32_t length = EncodeBase64(entry.Data(), entry.DataLength(), text.data());
    return std::string(text.data(), length);
}

}  // namespace

MailSender::MailSender() {
    std::random_device seed;
    random_.seed(seed());
}

std::string MailSender::MakeBoundary() {
    std::string boundary;
    for (uint32_t i = 0; i < kBoundaryLength; ++i) boundary.push_back(kBase64Alphabet[random_() % 64]);
    return boundary;
}

const char* MailSender::Send(const char* hostAddress, uint16_t hostPort, const char* sender,
                             const char* recipient, const char* senderName, const char* recipientName,
                             const char* subject, const char* body, const FileList* attachedFiles,
                             bool doPrintf) {
    // A line break in any of these would let the text write header lines or commands of its own.
    for (const char* text : {sender, recipient, senderName, recipientName, subject})
        if (HasLineBreak(text)) return kLineBreakInHeader;
    const uint32_t attachments = attachedFiles != nullptr ? attachedFiles->Size() : 0;
    for (uint32_t i = 0; i < attachments; ++i)
        if (HasLineBreak((*attachedFiles)[i].filename.c_str())) return kLineBreakInHeader;

    MailConnection connection;
    if (!connection.Connect(hostAddress, hostPort, kReplyTimeoutMs)) return kFailedToConnect;
    ReplyReader replies(connection, doPrintf);
    int code = 0;
    switch (replies.Next(kGreetingTimeoutMs, code)) {
        case ReplyReader::Result::Timeout: return kNoGreeting;
        case ReplyReader::Result::Closed: return kConnectionLost;
        case ReplyReader::Result::Reply: break;
    }

    // Sends text and judges the reply: null when the server goes on, else the outcome.
    auto step = [&](const std::string& text) -> const char* {
        if (!connection.Send(text)) return kConnectionLost;
        switch (replies.Next(kReplyTimeoutMs, code)) {
            case ReplyReader::Result::Timeout: return kTimedOut;
            case ReplyReader::Result::Closed: return kConnectionLost;
            case ReplyReader::Result::Reply: break;
        }
        if (code >= 200 && code < 400) return nullptr;
        if (code == 550) return kFailed550;
        if (code == 553) return kFailed553;
        failure_ = "Failed on error code " + std::to_string(code);
        return failure_.c_str();
    };

    const std::string from = sender != nullptr ? sender : "";
    const std::string to = recipient != nullptr ? recipient : "";
    for (const std::string& command : {"HELO " + HostName() + "\r\n", "MAIL From: <" + from + ">\r\n",
                                       "RCPT TO: <" + to + ">\r\n", std::string("DATA\r\n")}) {
        if (const char* failure = step(command)) return failure;
    }

    std::string message;
    if (subject != nullptr) message += std::string("Subject: ") + subject + "\r\n";
    if (senderName != nullptr) message += std::string("From: ") + senderName + "\r\n";
    if (recipientName != nullptr) message += std::string("To: ") + recipientName + "\r\n";
    const std::string boundary = attachments > 0 ? MakeBoundary() : std::string();
    message += "MIME-version: 1.0\r\n";
    if (attachments > 0) {
        message += "Content-type: multipart/mixed; BOUNDARY=\"" + boundary + "\"\r\n\r\n";
        message += "This is a multi-part message in MIME format.\r\n\r\n--" + boundary + "\r\n";
    }
    message += "Content-Type: text/plain; charset=\"US-ASCII\"\r\n\r\n";
    message += DotStuffBody(body);
    message += "\r\n";
    for (uint32_t i = 0; i < attachments; ++i) {
        const FileListEntry& entry = (*attachedFiles)[i];
        message += "\r\n--" + boundary + "\r\n";
        message +=
            "Content-Type: APPLICATION/Octet-Stream; SizeOnDisk=" + std::to_string(entry.DataLength()) +
            "; name=\"" + entry.filename +
            "\"\r\nContent-Transfer-Encoding: BASE64\r\nContent-Description: " + entry.filename + "\r\n\r\n";
        message += Base64Of(entry);
    }
    if (attachments > 0) message += "\r\n--" + boundary + "--\r\n";
    message += "\r\n.\r\n";
    if (const char* failure = step(message)) return failure;

    connection.Send("QUIT\r\n");
    SleepMs(30);
    replies.PrintWaiting();
    return nullptr;
}

}  // namespace velt
