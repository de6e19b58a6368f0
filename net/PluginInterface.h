#pragma once
// Base of the components that attach to a peer and are told of its events. Every operation has
// an empty default so a component overrides only what it needs. The peer does not own attached
// plugins: detach one before destroying it.
//
// Other parts of the code base call some of these by older names:
//   OnReceive            -> Received
//   NetPeer::AddPlugin   -> NetPeerInterface::AttachPlugin
//   NetPeer::RemovePlugin-> NetPeerInterface::DetachPlugin

#include <cstdint>

#include "net/InternalPacket.h"
#include "net/Packet.h"
#include "net/PlayerID.h"

namespace velt {

class NetPeerInterface;

// What a plugin's Received tells the peer to do with the packet it was offered.
enum PluginReceiveResult : int32_t {
    PRR_DEALLOCATE = 0,  // the peer frees the packet; nobody else sees it
    PRR_CONTINUE = 1,    // offer it to the next plugin, finally to the user
    PRR_KEEP = 2,        // the plugin took the packet over; the peer forgets it
};

class PluginInterface {
public:
    virtual ~PluginInterface() = default;

    // Threads: Attached and Detached run on the thread that attaches; Started and Disconnecting
    // on the thread that starts and stops the peer; Update and Received on the thread that calls
    // the peer's Receive. ConnectionClosed, RawSend, RawReceive and InternalMessage may run on
    // the peer's network thread: keep them short and do not call back into the peer from them.

    // AttachPlugin, once per attachment.
    virtual void Attached(NetPeerInterface* peer) { (void)peer; }
    // DetachPlugin; the plugin is already off the list when this returns.
    virtual void Detached(NetPeerInterface* peer) { (void)peer; }
    // End of a successful Initialize.
    virtual void Started(NetPeerInterface* peer) { (void)peer; }
    // Start of every receive call, before any packet is offered.
    virtual void Update(NetPeerInterface* peer) { (void)peer; }
    // Every packet on its way to the user, in attach order.
    virtual PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) {
        (void)peer;
        (void)packet;
        return PRR_CONTINUE;
    }
    // In Disconnect, while the network thread still runs.
    virtual void Disconnecting(NetPeerInterface* peer) { (void)peer; }
    // A connection slot was closed.
    virtual void ConnectionClosed(NetPeerInterface* peer, PlayerID remote) {
        (void)peer;
        (void)remote;
    }
    // A datagram sent straight through the socket, past the reliability layer.
    virtual void RawSend(const uint8_t* data, uint32_t bitLength, PlayerID remote) {
        (void)data;
        (void)bitLength;
        (void)remote;
    }
    // A datagram received and handled outside any connection's reliability layer.
    virtual void RawReceive(const uint8_t* data, uint32_t bitLength, PlayerID remote) {
        (void)data;
        (void)bitLength;
        (void)remote;
    }
    // Each message a reliability channel writes into a datagram (isSend) or reads out of one.
    // frameNumber counts the channel's datagrams; timeUs is the transport's microsecond clock.
    virtual void InternalMessage(const InternalPacket& message, uint32_t frameNumber, PlayerID remote,
                                 uint64_t timeUs, bool isSend) {
        (void)message;
        (void)frameNumber;
        (void)remote;
        (void)timeUs;
        (void)isSend;
    }
};

}  // namespace velt
