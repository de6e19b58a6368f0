// Datagram natives: UDP messages between scripts and other programs. sendstring and sendpacket
// send to "host[:port]" (port 9930 unless given); the idle hook listens on the chosen port and
// hands what arrives to "@receivestring" or "@receivepacket". The server attaches this library to
// none of its scripts; hosts of their own may.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "server/vm/vmlib.h"
#include "server/vm/vmlib_common.h"

namespace velt {
namespace {

using namespace vmlib;

constexpr uint16_t kDefaultPort = 9930;
constexpr size_t kMaxDatagram = 512;
constexpr unsigned char kTextMark[3] = {0xEF, 0xBB, 0xBF};

// Shared by every script of the process; scripts run on the main thread only.
int g_socket = -1;
bool g_listening = false;
uint16_t g_listenPort = kDefaultPort;
int g_receiveStringIndex = -1;
int g_receivePacketIndex = -1;
IdleHook g_previousIdle = nullptr;

// "host[:port]": a colon followed by a digit starts the port; an empty destination is the
// broadcast address. False when the host does not resolve to an IPv4 address.
bool ParseDestination(const std::string& text, sockaddr_in& out) {
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    out.sin_port = htons(kDefaultPort);
    std::string host = text;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos && colon + 1 < text.size() &&
        std::isdigit(static_cast<unsigned char>(text[colon + 1]))) {
        host = text.substr(0, colon);
        out.sin_port = htons(static_cast<uint16_t>(std::strtoul(text.c_str() + colon + 1, nullptr, 10)));
    }
    if (host.empty()) {
        out.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        return true;
    }
    if (inet_pton(AF_INET, host.c_str(), &out.sin_addr) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    out.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// Sends the bytes to the destination text at `destination` (0: no argument, the broadcast).
cell Send(VmInstance* vm, const cell* params, int argc, int destinationArg,
          const std::vector<unsigned char>& bytes) {
    std::string to;
    if (argc >= destinationArg && !ReadBytes(vm, params[destinationArg], to)) return 0;
    sockaddr_in addr{};
    if (g_socket < 0 || !ParseDestination(to, addr)) return 0;
    const ssize_t sent = sendto(g_socket, bytes.data(), bytes.size(), 0,
                                reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    return sent == static_cast<ssize_t>(bytes.size()) ? 1 : 0;
}

// sendstring(const message[], const destination[] = "")
cell n_sendstring(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    ScriptText text;
    if (argc < 1 || !ReadText(vm, params[1], text)) return 0;
    std::vector<unsigned char> bytes(std::begin(kTextMark), std::end(kTextMark));
    for (cell c : text.chars) {
        if (text.packed) {
            bytes.push_back(static_cast<unsigned char>(c));
            continue;
        }
        char buf[8];
        char* end = buf;
        if (vm_UTF8Put(buf, &end, static_cast<int>(sizeof buf), c) == VM_ERR_NONE)
            bytes.insert(bytes.end(), buf, end);
    }
    bytes.push_back(0);
    return Send(vm, params, argc, 2, bytes);
}

// sendpacket(const packet[], size, const destination[] = "")
cell n_sendpacket(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    if (argc < 2 || params[2] < 0) return 0;
    const int64_t bytesWanted = int64_t{params[2]} * 4;
    const unsigned char* p = ScriptSpan(vm, params[1], bytesWanted);
    if (p == nullptr) return 0;
    // Cells go out as their little-endian bytes, whatever the host's order.
    std::vector<unsigned char> bytes(static_cast<size_t>(bytesWanted));
    for (int64_t i = 0; i < params[2]; ++i) {
        const auto c = static_cast<ucell>(LoadCell(p + 4 * i));
        for (int b = 0; b < 4; ++b)
            bytes[static_cast<size_t>(4 * i + b)] = static_cast<unsigned char>(c >> (8 * b));
    }
    return Send(vm, params, argc, 3, bytes);
}

// listenport(port)
cell n_listenport(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) >= 1) g_listenPort = static_cast<uint16_t>(params[1]);
    return 0;
}

const VmNativeEntry kDGramNatives[] = {
    {"sendstring", n_sendstring},
    {"sendpacket", n_sendpacket},
    {"listenport", n_listenport},
    {nullptr, nullptr},
};

bool BindListener() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(g_listenPort);
    return bind(g_socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

// Pushes the message of a text datagram (after its mark, when it has one): the characters
// decoded when the bytes are valid UTF-8, else the bytes as a packed string.
int PushText(VmInstance* vm, const char* text) {
    if (vm_UTF8Validate(text, nullptr) != VM_ERR_NONE) return vm_PushString(vm, nullptr, nullptr, text, 1, 0);
    std::vector<cell> chars;
    for (const char* p = text; *p != '\0';) {
        cell c = 0;
        if (vm_UTF8Get(p, &p, &c) != VM_ERR_NONE) break;
        chars.push_back(c);
    }
    chars.push_back(0);
    return vm_PushArray(vm, nullptr, nullptr, chars.data(), static_cast<int>(chars.size()));
}

}  // namespace

int vm_AttachDGramLib(VmInstance* vm) {
    if (g_socket < 0) {
        g_socket = socket(AF_INET, SOCK_DGRAM, 0);
        if (g_socket < 0) return VM_ERR_GENERAL;
        const int on = 1;
        if (setsockopt(g_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            close(g_socket);
            g_socket = -1;
            return VM_ERR_GENERAL;
        }
        g_listening = false;
    }
    int stringIndex = -1;
    int packetIndex = -1;
    const bool hasString = vm_LookupPublic(vm, "@receivestring", &stringIndex) == 0;
    const bool hasPacket = vm_LookupPublic(vm, "@receivepacket", &packetIndex) == 0;
    if (hasString || hasPacket) {
        g_receiveStringIndex = hasString ? stringIndex : -1;
        g_receivePacketIndex = hasPacket ? packetIndex : -1;
        ChainIdleHook(vm, &vm_DGramIdle, g_previousIdle);
    }
    return vm_Register(vm, kDGramNatives, -1);
}

int vm_DetachDGramLib(VmInstance*) {
    if (g_socket >= 0) close(g_socket);
    g_socket = -1;
    g_listening = false;
    g_previousIdle = nullptr;
    return 0;
}

int vm_DGramIdle(VmInstance* vm) {
    if (g_previousIdle != nullptr) g_previousIdle(vm);
    if (g_socket < 0) return VM_ERR_NONE;
    if (!g_listening) {
        if (!BindListener()) return VM_ERR_GENERAL;
        g_listening = true;
    }
    pollfd p{g_socket, POLLIN, 0};
    if (poll(&p, 1, 0) != 1 || (p.revents & POLLIN) == 0) return VM_ERR_NONE;
    unsigned char buffer[kMaxDatagram];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        recvfrom(g_socket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return VM_ERR_NONE;
    char sender[INET_ADDRSTRLEN + 8];
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
    std::snprintf(sender, sizeof sender, "%s:%d", address, ntohs(from.sin_port));
    return vmlib::DeliverDatagram(vm, buffer, static_cast<size_t>(n), sender);
}

namespace vmlib {

int DeliverDatagram(VmInstance* vm, const unsigned char* bytes, size_t length, const char* sender) {
    if (length > kMaxDatagram) length = kMaxDatagram;
    // One byte more than a datagram may carry, so a text always ends inside the buffer.
    char buffer[kMaxDatagram + 1] = {};
    if (length > 0) std::memcpy(buffer, bytes, length);

    const bool marked = length >= 3 && std::memcmp(buffer, kTextMark, 3) == 0;
    const bool asText = (marked && length == std::strlen(buffer) + 1 && g_receiveStringIndex >= 0) ||
                        g_receivePacketIndex < 0;
    const int index = asText ? g_receiveStringIndex : g_receivePacketIndex;
    if (index < 0) return VM_ERR_NONE;

    const cell heapBefore = vm->heap;
    const cell stackBefore = vm->stack;
    const int32_t pushedBefore = vm->pushed_args;
    int err = vm_PushString(vm, nullptr, nullptr, sender, 1, 0);
    if (err == VM_ERR_NONE && asText) {
        err = PushText(vm, marked ? buffer + 3 : buffer);
    } else if (err == VM_ERR_NONE) {
        // The bytes in cells as a script reads them back: little-endian, the last cell padded. An
        // empty datagram still gets a cell, so that the array the script receives is memory.
        std::vector<cell> cells(length > 0 ? (length + 3) / 4 : 1, 0);
        for (size_t i = 0; i < length; ++i)
            cells[i / 4] =
                static_cast<cell>(static_cast<ucell>(cells[i / 4]) |
                                  static_cast<ucell>(static_cast<unsigned char>(buffer[i])) << (8 * (i % 4)));
        err = vm_PushCell(vm, static_cast<cell>(length));
        if (err == VM_ERR_NONE)
            err = vm_PushArray(vm, nullptr, nullptr, cells.data(), static_cast<int>(cells.size()));
    }
    cell result = 0;
    if (err == VM_ERR_NONE) {
        err = vm_Exec(vm, &result, index);
        while (err == VM_ERR_SLEEP) err = vm_Exec(vm, &result, VM_EXEC_CONTINUE);
    }
    // A push that did not fit, or a run the machine refused before it started, leaves arguments
    // behind that must not become those of the next run.
    vm->stack = stackBefore;
    vm->pushed_args = pushedBefore;
    vm_Unallot(vm, heapBefore);
    return err;
}

}  // namespace vmlib

}  // namespace velt
