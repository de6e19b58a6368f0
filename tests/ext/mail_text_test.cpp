// The texts a mail is made of: base64 lines and the body made safe for the end-of-data mark.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ext/Base64Encoder.h"
#include "net/ext/FileList.h"
#include "net/ext/MailSender.h"
#include "net/ext/MailText.h"

using namespace velt;

namespace {

std::string Encode(const std::string& bytes) {
    std::vector<char> out(size_t(Base64BufferBytes(uint32_t(bytes.size()))), '#');
    const uint32_t n =
        EncodeBase64(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), out.data());
    EXPECT_EQ(out[n], '\0');
    EXPECT_LE(n + 1, out.size()) << "the room asked for is enough";
    return std::string(out.data(), n);
}

TEST(Base64, GroupsPaddingAndLines) {
    const std::string line76 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4";
    std::string bytes57;
    for (int i = 0; i < 57; ++i) bytes57.push_back(char(i));
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"", "\r\n"},
        {"M", "TQ==\r\n"},
        {"Ma", "TWE=\r\n"},
        {"Man", "TWFu\r\n"},
        {"\xff\xfe\xfd", "//79\r\n"},
        {bytes57, line76 + "\r\n\r\n"},
        {bytes57 + "M", line76 + "\r\nTQ==\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Encode(c.in), c.out) << c.in.size() << " bytes";
}

TEST(MailText, EveryLineEndsInCrLfAndNoLineCanEndTheMessage) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {".", ".."},
        {"a\r\n.\r\nb", "a\r\n..\r\nb"},
        {"a\n.\nb", "a\r\n..\r\nb"},
        {"a\n..\r\n", "a\r\n...\r\n"},
        {".start\n.more text", "..start\r\n..more text"},
        {"in.side\rnext", "in.side\r\nnext"},
        {"\n\n", "\r\n\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(DotStuffBody(c.in), c.out) << c.in;
    EXPECT_EQ(DotStuffBody(nullptr), "");
}

TEST(MailSender, RefusesLineBreaksInHeaderTextsBeforeConnecting) {
    MailSender sender;
    const char* ok = "fine";
    for (int field = 0; field < 5; ++field) {
        const char* texts[5] = {ok, ok, ok, ok, ok};
        texts[field] = field % 2 == 0 ? "two\r\nlines" : "bare\nline";
        // Port 1 on loopback has no server: reaching the network would give another outcome.
        EXPECT_STREQ(sender.Send("127.0.0.1", 1, texts[0], texts[1], texts[2], texts[3], texts[4], "body",
                                 nullptr, false),
                     MailSender::kLineBreakInHeader)
            << field;
    }
    FileList attachments;
    attachments.AddEntry("name\r\nContent-Type: text/html", reinterpret_cast<const uint8_t*>("x"), 1, 1, 0);
    EXPECT_STREQ(sender.Send("127.0.0.1", 1, ok, ok, ok, ok, ok, "body", &attachments, false),
                 MailSender::kLineBreakInHeader);
    EXPECT_STREQ(sender.Send("127.0.0.1", 1, ok, ok, ok, ok, ok, "body", nullptr, false),
                 MailSender::kFailedToConnect);
}

}  // namespace
