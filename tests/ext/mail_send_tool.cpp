// Sends one mail for the Python check: mail_send_tool host port from to subject body-file
// [attachment-file...]. An empty text argument stands for none. Prints "OK" or the outcome.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "net/ext/FileList.h"
#include "net/ext/MailSender.h"

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: mail_send_tool host port from to subject body-file [attachment...]\n");
        return 2;
    }
    auto text = [](const char* s) -> const char* { return s[0] != '\0' ? s : nullptr; };
    std::ifstream in(argv[6], std::ios::binary);
    const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    velt::FileList attachments;
    for (int i = 7; i < argc; ++i) {
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        if (!attachments.AddFromDisk(argv[i], name.c_str(), 0)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 2;
        }
    }
    velt::MailSender sender;
    const char* result = sender.Send(argv[1], uint16_t(std::atoi(argv[2])), text(argv[3]), text(argv[4]),
                                     "Velt Sender", "Velt Recipient", text(argv[5]), body.c_str(),
                                     attachments.Size() > 0 ? &attachments : nullptr, false);
    std::printf("%s\n", result != nullptr ? result : "OK");
    return 0;
}
