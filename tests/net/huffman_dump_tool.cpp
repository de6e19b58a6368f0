// Helper for huffman_oracle.py: exposes the text compressor on the command line so that an
// independent decoder can check its wire form.
//   table                         -> "<byte> <code bits>" for every byte value
//   encode <max> <text hex>       -> "<bits> <hex>" of the compressed text (length field included)
//   decode <max> <bits> <hex>     -> "ok <bits read> <text hex>" or "fail"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/StringCompressor.h"

using namespace velt;

namespace {

std::vector<uint8_t> FromHex(const char* hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        const char pair[3] = {hex[i], hex[i + 1], 0};
        out.push_back(uint8_t(strtoul(pair, nullptr, 16)));
    }
    return out;
}

void PrintHex(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) printf("%02x", data[i]);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    StringCompressor::AddReference();
    const StringCompressor& sc = *StringCompressor::Instance();
    int rc = 0;
    if (!strcmp(argv[1], "table")) {
        const HuffmanEncodingTree* tree = sc.TreeOf(0);
        for (int v = 0; v < 256; ++v) {
            const auto& code = tree->CodeOf(uint8_t(v));
            printf("%d ", v);
            for (int i = 0; i < code.length; ++i)
                putchar((code.bits[i >> 3] >> (7 - (i & 7))) & 1 ? '1' : '0');
            putchar('\n');
        }
    } else if (!strcmp(argv[1], "encode") && argc == 4) {
        std::vector<uint8_t> text = FromHex(argv[3]);
        text.push_back(0);
        BitStream out;
        sc.EncodeString(reinterpret_cast<const char*>(text.data()), atoi(argv[2]), out);
        printf("%d ", out.GetNumberOfBitsUsed());
        PrintHex(out.GetData(), size_t(out.GetNumberOfBytesUsed()));
        putchar('\n');
    } else if (!strcmp(argv[1], "decode") && argc == 5) {
        const int max = atoi(argv[2]);
        std::vector<uint8_t> bytes = FromHex(argv[4]);
        BitStream in(bytes.data(), uint32_t(bytes.size()), true);
        in.SetWriteCursor(atoi(argv[3]));
        std::vector<char> text(size_t(max > 0 ? max : 1), 'X');
        if (sc.DecodeString(text.data(), max, in)) {
            printf("ok %d ", in.GetReadOffset());
            PrintHex(reinterpret_cast<const uint8_t*>(text.data()), strlen(text.data()));
            putchar('\n');
        } else {
            printf("fail\n");
        }
    } else {
        rc = 2;
    }
    StringCompressor::RemoveReference();
    return rc;
}
