#include "net/Packet.h"

#include <new>

#include "net/MessageIdentifiers.h"

namespace velt {

namespace {

Packet* NewHeader(size_t extraBytes) {
    void* block = ::operator new(sizeof(Packet) + extraBytes, std::nothrow);
    if (block == nullptr) return nullptr;
    Packet* packet = new (block) Packet{};
    packet->playerIndex = 0xFFFF;
    packet->sender = UNASSIGNED_PLAYER_ID;
    return packet;
}

}  // namespace

Packet* NewPacket(uint32_t length) {
    if (length > kMaxPacketLength) return nullptr;
    Packet* packet = NewHeader(length);
    if (packet == nullptr) return nullptr;
    packet->length = length;
    packet->bitLength = length * 8u;
    packet->data = length != 0 ? reinterpret_cast<uint8_t*>(packet + 1) : nullptr;
    packet->ownsData = 0;
    return packet;
}

Packet* NewPacket(uint32_t length, uint8_t* buffer) {
    if (length > kMaxPacketLength) return nullptr;
    Packet* packet = NewHeader(0);
    if (packet == nullptr) return nullptr;
    if (length == 0 || buffer == nullptr) {
        packet->length = 0;
        packet->bitLength = 0;
        packet->data = nullptr;
        packet->ownsData = 0;
    } else {
        packet->length = length;
        packet->bitLength = length * 8u;
        packet->data = buffer;
        packet->ownsData = 1;
    }
    return packet;
}

void FreePacket(Packet* packet) {
    if (packet == nullptr) return;
    if (packet->ownsData == 1) delete[] packet->data;
    packet->~Packet();
    ::operator delete(packet);
}

bool HasTimestampPrefix(const uint8_t* data, uint32_t length) {
    return data != nullptr && length >= kTimestampPrefixBytes && data[0] == ID_TIMESTAMPED;
}

uint8_t GetPacketIdentifier(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return 0xFF;
    if (data[0] != ID_TIMESTAMPED) return data[0];
    if (length <= kTimestampPrefixBytes) return 0xFF;
    return data[kTimestampPrefixBytes];
}

uint8_t GetPacketIdentifier(const Packet* packet) {
    if (packet == nullptr) return 0xFF;
    return GetPacketIdentifier(packet->data, packet->length);
}

}  // namespace velt
