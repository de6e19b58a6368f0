#include "net/PlayerID.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

namespace velt {

char* PlayerID::ToString(bool writePort, char* out, size_t outSize) const {
    if (out == nullptr || outSize == 0) return out;
    char text[kStringSize];
    in_addr address;
    address.s_addr = binaryAddress;
    if (inet_ntop(AF_INET, &address, text, sizeof(text)) == nullptr) text[0] = '\0';
    if (writePort) {
        size_t used = strlen(text);
        snprintf(text + used, sizeof(text) - used, ":%u", unsigned(port));
    }
    snprintf(out, outSize, "%s", text);
    return out;
}

const char* PlayerID::ToString(bool writePort) const {
    // One buffer per thread: the network thread and the main thread both log addresses.
    thread_local char buffer[kStringSize];
    return ToString(writePort, buffer, sizeof(buffer));
}

char* IntToText(int32_t value, char* buffer, int base) {
    static const char kDigits[] = "0123456789abcdef";
    if (buffer == nullptr) return buffer;
    if (base < 2 || base > 16) {
        buffer[0] = '\0';
        return buffer;
    }
    // The magnitude in unsigned arithmetic, so INT32_MIN has one too.
    uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    char reversed[kIntToTextBufferSize];
    size_t count = 0;
    do {
        reversed[count++] = kDigits[magnitude % uint32_t(base)];
        magnitude /= uint32_t(base);
    } while (magnitude != 0);
    size_t out = 0;
    if (value < 0 && base == 10) buffer[out++] = '-';
    while (count > 0) buffer[out++] = reversed[--count];
    buffer[out] = '\0';
    return buffer;
}

}  // namespace velt
