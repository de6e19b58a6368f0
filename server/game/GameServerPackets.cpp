#include "net/MessageIdentifiers.h"
#include "net/Packet.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/SyncHandlers.h"

namespace velt {

void GameServer::ProcessPackets() {
    NetServerInterface* net = netServer_;
    if (net == nullptr) return;
    while (Packet* packet = net->Receive()) {
        uint16_t slot = packet->playerIndex;
        const uint8_t packetId = GetPacketIdentifier(packet);
        switch (packetId) {
            case ID_CONN_INCOMING: {
                char address[PlayerID::kStringSize];
                packet->sender.ToString(true, address, sizeof address);
                LogPrintf("[connection] incoming connection: %s id: %u", address, unsigned(slot));
                if (gameMode_ && filterScripts_) {
                    char ip[PlayerID::kStringSize];
                    packet->sender.ToString(false, ip, sizeof ip);
                    RaiseCallback(*this, {}, NoPlayerToLose, [&](auto& side) {
                        return side.OnIncomingConnection(slot, ip, packet->sender.port);
                    });
                }
                break;
            }
            case ID_CONN_CLOSED:
                if (playerPool_) playerPool_->Disconnect(slot, DISCONNECT_QUIT);
                break;
            case ID_CONN_LOST:
                if (playerPool_) playerPool_->Disconnect(slot, DISCONNECT_TIMEOUT);
                break;
            case ID_PACKET_MODIFIED: {
                char address[PlayerID::kStringSize];
                packet->sender.ToString(true, address, sizeof address);
                LogPrintf("Packet was modified, sent by id: %d, ip: %s", int(slot), address);
                break;
            }
            default:
                // Synchronisation records and in-game console lines; any other id is freed unread.
                DispatchGamePacket(*this, packet, packetId);
                break;
        }
        net->FreePacket(packet);
    }
}

}  // namespace velt
