#include "net/ext/NetworkIDGenerator.h"

#include <algorithm>

namespace velt {

struct NetworkIDRegistry::Node {
    NetworkID id;
    NetworkIDGenerator* object;
    Node* left = nullptr;
    Node* right = nullptr;
    int32_t height = 1;
};

namespace {

using Node = NetworkIDRegistry::Node;

int32_t HeightOf(const Node* node) { return node != nullptr ? node->height : 0; }

void UpdateHeight(Node* node) { node->height = 1 + std::max(HeightOf(node->left), HeightOf(node->right)); }

Node* RotateRight(Node* top) {
    Node* pivot = top->left;
    top->left = pivot->right;
    pivot->right = top;
    UpdateHeight(top);
    UpdateHeight(pivot);
    return pivot;
}

Node* RotateLeft(Node* top) {
    Node* pivot = top->right;
    top->right = pivot->left;
    pivot->left = top;
    UpdateHeight(top);
    UpdateHeight(pivot);
    return pivot;
}

// Restores the balance of a subtree whose children differ in height by at most two.
Node* Rebalance(Node* node) {
    UpdateHeight(node);
    const int32_t balance = HeightOf(node->left) - HeightOf(node->right);
    if (balance > 1) {
        if (HeightOf(node->left->left) < HeightOf(node->left->right)) node->left = RotateLeft(node->left);
        return RotateRight(node);
    }
    if (balance < -1) {
        if (HeightOf(node->right->right) < HeightOf(node->right->left))
            node->right = RotateRight(node->right);
        return RotateLeft(node);
    }
    return node;
}

Node* InsertInto(Node* node, const NetworkID& id, NetworkIDGenerator* object, bool& inserted) {
    if (node == nullptr) {
        inserted = true;
        return new Node{id, object};
    }
    if (id < node->id)
        node->left = InsertInto(node->left, id, object, inserted);
    else if (node->id < id)
        node->right = InsertInto(node->right, id, object, inserted);
    else
        return node;
    return inserted ? Rebalance(node) : node;
}

Node* DetachSmallest(Node* node, Node*& smallest) {
    if (node->left == nullptr) {
        smallest = node;
        return node->right;
    }
    node->left = DetachSmallest(node->left, smallest);
    return Rebalance(node);
}

Node* RemoveFrom(Node* node, const NetworkID& id, bool& removed) {
    if (node == nullptr) return nullptr;
    if (id < node->id) {
        node->left = RemoveFrom(node->left, id, removed);
    } else if (node->id < id) {
        node->right = RemoveFrom(node->right, id, removed);
    } else {
        removed = true;
        Node* left = node->left;
        Node* right = node->right;
        delete node;
        if (right == nullptr) return left;
        Node* successor = nullptr;
        right = DetachSmallest(right, successor);
        successor->left = left;
        successor->right = right;
        return Rebalance(successor);
    }
    return removed ? Rebalance(node) : node;
}

void FreeAll(Node* node) {
    while (node != nullptr) {
        FreeAll(node->left);
        Node* right = node->right;
        delete node;
        node = right;
    }
}

constinit NetworkIDRegistry g_processRegistry;

}  // namespace

NetworkIDRegistry::~NetworkIDRegistry() {
    FreeAll(root_);
    // Objects of static storage may still leave after this: they must find an empty registry.
    root_ = nullptr;
    size_ = 0;
}

NetworkIDGenerator* NetworkIDRegistry::FindBaseObject(const NetworkID& id) const {
    if (id == UNASSIGNED_NETWORK_ID) return nullptr;
    const Node* node = root_;
    while (node != nullptr) {
        if (id < node->id)
            node = node->left;
        else if (node->id < id)
            node = node->right;
        else
            return node->object;
    }
    return nullptr;
}

NetworkIDGenerator* NetworkIDRegistry::FindObject(const NetworkID& id) const {
    NetworkIDGenerator* object = FindBaseObject(id);
    if (object != nullptr && object->GetParent() != nullptr) return object->GetParent();
    return object;
}

bool NetworkIDRegistry::Insert(const NetworkID& id, NetworkIDGenerator* object) {
    bool inserted = false;
    root_ = InsertInto(root_, id, object, inserted);
    if (inserted) ++size_;
    return inserted;
}

bool NetworkIDRegistry::Remove(const NetworkID& id) {
    bool removed = false;
    root_ = RemoveFrom(root_, id, removed);
    if (removed) --size_;
    return removed;
}

int32_t NetworkIDRegistry::Height() const { return HeightOf(root_); }

void NetworkIDRegistry::SetExternalPlayerID(PlayerID playerId) {
    if (playerId != UNASSIGNED_PLAYER_ID) externalPlayerId_ = playerId;
}

NetworkIDRegistry& ProcessNetworkIDRegistry() { return g_processRegistry; }

// ---- NetworkIDGenerator ----------------------------------------------------------------------------

NetworkIDGenerator::~NetworkIDGenerator() {
    if (networkID_ != UNASSIGNED_NETWORK_ID && registry_.FindBaseObject(networkID_) == this)
        registry_.Remove(networkID_);
}

NetworkID NetworkIDGenerator::GetId() {
    if (generatePending_ && IsNetworkIDAuthority()) {
        GenerateID();
        // A failed attempt (no free index yet) is repeated on the next call.
        if (networkID_ != UNASSIGNED_NETWORK_ID) generatePending_ = false;
    }
    return networkID_;
}

void NetworkIDGenerator::SetId(const NetworkID& id) {
    generatePending_ = false;
    if (id == UNASSIGNED_NETWORK_ID || id == networkID_) return;
    if (registry_.FindBaseObject(id) != nullptr) registry_.Remove(id);
    // The old node may already name another object that took this identifier over.
    if (networkID_ != UNASSIGNED_NETWORK_ID && registry_.FindBaseObject(networkID_) == this)
        registry_.Remove(networkID_);
    networkID_ = id;
    registry_.Insert(id, this);
}

void NetworkIDGenerator::GenerateID() {
    if (!IsNetworkIDAuthority()) return;
    NetworkID candidate = networkID_;
    if (NetworkID::IsPeerToPeerMode()) {
        if (registry_.GetExternalPlayerID() == UNASSIGNED_PLAYER_ID) return;
        candidate.playerId = registry_.GetExternalPlayerID();
    }
    // Every index is tried at most once; the one that reads as unassigned is never handed out,
    // since nobody could tell the object from an unnamed one.
    for (uint32_t tries = 0; tries <= 0xFFFFu; ++tries) {
        candidate.localIndex = registry_.GetNextLocalIndex();
        registry_.SetNextLocalIndex(uint16_t(candidate.localIndex + 1));
        if (candidate == UNASSIGNED_NETWORK_ID || registry_.FindBaseObject(candidate) != nullptr) continue;
        if (networkID_ != UNASSIGNED_NETWORK_ID && registry_.FindBaseObject(networkID_) == this)
            registry_.Remove(networkID_);
        networkID_ = candidate;
        registry_.Insert(candidate, this);
        return;
    }
}

void NetworkIDGenerator::SetExternalPlayerID(PlayerID playerId) {
    ProcessNetworkIDRegistry().SetExternalPlayerID(playerId);
}
PlayerID NetworkIDGenerator::GetExternalPlayerID() {
    return ProcessNetworkIDRegistry().GetExternalPlayerID();
}
uint16_t NetworkIDGenerator::GetNextLocalIndex() { return ProcessNetworkIDRegistry().GetNextLocalIndex(); }
void NetworkIDGenerator::SetNextLocalIndex(uint16_t index) {
    ProcessNetworkIDRegistry().SetNextLocalIndex(index);
}
NetworkIDGenerator* NetworkIDGenerator::FindBaseObject(const NetworkID& id) {
    return ProcessNetworkIDRegistry().FindBaseObject(id);
}
NetworkIDGenerator* NetworkIDGenerator::FindObject(const NetworkID& id) {
    return ProcessNetworkIDRegistry().FindObject(id);
}

}  // namespace velt
