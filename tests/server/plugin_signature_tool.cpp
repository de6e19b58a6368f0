// Test helper for plugin_signature_check.py: "plugin_signature_tool KEYFILE PLUGIN" prints 1 when
// PLUGIN's signature file holds a valid signature under the key in KEYFILE, else 0 (2: no key).

#include <cstdio>

#include "server/game/PluginSignature.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    velt::RsaSignature key;
    if (!key.LoadKey(argv[1])) {
        std::printf("2\n");
        return 0;
    }
    std::printf("%d\n", velt::VerifyPluginSignatureWith(argv[2], key));
    return 0;
}
