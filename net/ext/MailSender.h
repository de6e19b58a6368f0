#pragma once
// Sends one e-mail, optionally with file attachments, to an SMTP server in the plain dialogue
// (no authentication, no extensions), as a MIME message with base64 attachments. The call blocks
// for the whole dialogue and reports the outcome as a text.

#include <cstdint>
#include <random>
#include <string>

namespace velt {

class FileList;

class MailSender {
public:
    // The outcomes other than success.
    static constexpr const char* kFailedToConnect = "Failed to connect to host";
    static constexpr const char* kNoGreeting = "Timeout while waiting for initial data from server.";
    static constexpr const char* kConnectionLost = "Connection to server lost.";
    static constexpr const char* kTimedOut = "Timed out";
    static constexpr const char* kFailed550 = "Failed on error code 550";
    static constexpr const char* kFailed553 = "Failed on error code 553";
    static constexpr const char* kLineBreakInHeader = "Line break in an address, name, subject or file name";

    static constexpr uint32_t kGreetingTimeoutMs = 3000;
    static constexpr uint32_t kReplyTimeoutMs = 5000;
    static constexpr uint32_t kBoundaryLength = 60;

    MailSender();
    MailSender(const MailSender&) = delete;
    MailSender& operator=(const MailSender&) = delete;

    // Null on success, else the outcome's text (valid until the next call). Every text but
    // hostAddress and body may be null; attachedFiles may be null or empty. A reply with another
    // failure code than 550 or 553 gives "Failed on error code N". With doPrintf every chunk the
    // server sends is printed on standard output.
    const char* Send(const char* hostAddress, uint16_t hostPort, const char* sender, const char* recipient,
                     const char* senderName, const char* recipientName, const char* subject, const char* body,
                     const FileList* attachedFiles, bool doPrintf);

private:
    std::string MakeBoundary();

    // The boundary's characters come from a generator of the sender's own: drawing them must
    // neither reseed nor advance the generator the rest of the program shares.
    std::mt19937 random_;
    std::string failure_;
};

}  // namespace velt
