#pragma once
// Objects named across the network by a NetworkID, and the registry that leads from the
// identifier a message carries to the object it names.

#include <cstdint>

#include "net/NetworkTypes.h"
#include "net/PlayerID.h"

namespace velt {

class NetworkIDGenerator;

// Identifier -> object, kept height-balanced (the heights of the two subtrees of every node
// differ by at most one), so finds, inserts and removals stay logarithmic. Nodes are ordered by
// the NetworkID comparisons, which follow the process-wide peer-to-peer switch: flip it only
// while the registry is empty.
//
// A program has one registry, ProcessNetworkIDRegistry(), that every object uses unless it is
// built with another one; a process that plays several systems at once (a test) gives each
// system its own. A registry is not guarded: all use is on one thread.
class NetworkIDRegistry {
public:
    constexpr NetworkIDRegistry() = default;
    ~NetworkIDRegistry();
    NetworkIDRegistry(const NetworkIDRegistry&) = delete;
    NetworkIDRegistry& operator=(const NetworkIDRegistry&) = delete;

    // Null for UNASSIGNED_NETWORK_ID and for an identifier nobody holds.
    NetworkIDGenerator* FindBaseObject(const NetworkID& id) const;
    // FindBaseObject, then the found object's parent when it has one.
    NetworkIDGenerator* FindObject(const NetworkID& id) const;
    // False, with the registry unchanged, when the identifier is present already.
    bool Insert(const NetworkID& id, NetworkIDGenerator* object);
    // False when the identifier is absent.
    bool Remove(const NetworkID& id);
    uint32_t Size() const { return size_; }
    // Nodes on the longest path from the root (0 when empty).
    int32_t Height() const;

    // Next localIndex to hand out; wraps at 16 bits.
    uint16_t GetNextLocalIndex() const { return nextLocalIndex_; }
    void SetNextLocalIndex(uint16_t index) { nextLocalIndex_ = index; }
    // The authority's own address as others see it, part of every identifier it makes in
    // peer-to-peer mode. UNASSIGNED_PLAYER_ID is not a value to set and is ignored.
    PlayerID GetExternalPlayerID() const { return externalPlayerId_; }
    void SetExternalPlayerID(PlayerID playerId);

    struct Node;  // private to the source

private:
    Node* root_ = nullptr;
    uint32_t size_ = 0;
    uint16_t nextLocalIndex_ = 0;
    PlayerID externalPlayerId_ = UNASSIGNED_PLAYER_ID;
};

// The program's registry: empty from program start, released at exit.
NetworkIDRegistry& ProcessNetworkIDRegistry();

// Base of every object named across the network. One system, the identifier authority, makes
// identifiers (GetId on an unnamed object); the others set the identifiers they receive
// (SetId). A named object is in its registry until it takes another identifier or is destroyed.
class NetworkIDGenerator {
public:
    explicit NetworkIDGenerator(NetworkIDRegistry& registry = ProcessNetworkIDRegistry())
        : registry_(registry) {}
    // Leaves the registry when the node of its identifier still names this object.
    virtual ~NetworkIDGenerator();
    NetworkIDGenerator(const NetworkIDGenerator&) = delete;
    NetworkIDGenerator& operator=(const NetworkIDGenerator&) = delete;

    // On the authority, the first call names the object. UNASSIGNED_NETWORK_ID until named.
    virtual NetworkID GetId();
    // Takes id over, from another object when one holds it. UNASSIGNED_NETWORK_ID or the
    // current identifier changes nothing; either way the authority will no longer name it.
    virtual void SetId(const NetworkID& id);
    virtual void SetParent(NetworkIDGenerator* parent) { parent_ = parent; }
    virtual NetworkIDGenerator* GetParent() const { return parent_; }
    // Whether this system hands out identifiers.
    virtual bool IsNetworkIDAuthority() const = 0;
    virtual bool NeedsParent() const { return false; }

    // Names the object with the next free localIndex (with the external address in
    // peer-to-peer mode). Does nothing off the authority, in peer-to-peer mode before the
    // external address is set, and when every localIndex is taken; GetId then tries again.
    void GenerateID();

    NetworkIDRegistry& Registry() const { return registry_; }

    // The same operations on the program's registry.
    static void SetExternalPlayerID(PlayerID playerId);
    static PlayerID GetExternalPlayerID();
    static uint16_t GetNextLocalIndex();
    static void SetNextLocalIndex(uint16_t index);
    static NetworkIDGenerator* FindBaseObject(const NetworkID& id);
    static NetworkIDGenerator* FindObject(const NetworkID& id);

private:
    NetworkIDRegistry& registry_;
    NetworkID networkID_ = UNASSIGNED_NETWORK_ID;
    NetworkIDGenerator* parent_ = nullptr;
    bool generatePending_ = true;
};

}  // namespace velt
