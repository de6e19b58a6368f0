#include "net/ext/UndirectedGraph.h"

#include <deque>
#include <utility>

namespace velt {

namespace {

struct HeapEntry {
    uint16_t weight;
    PlayerIdAndGroupId node;
};

// Min-heap on the weight. The tie rules below decide which of two equally cheap nodes is settled
// first, and with it which of two equally cheap paths is taken: every system of a mesh must pick
// the same one, so they are fixed.
class MinHeap {
public:
    void Clear() { entries_.clear(); }
    bool IsEmpty() const { return entries_.empty(); }
    const HeapEntry& Top() const { return entries_.front(); }

    void Push(const HeapEntry& entry) {
        entries_.push_back(entry);
        size_t i = entries_.size() - 1;
        while (i > 0) {
            const size_t parent = (i - 1) / 2;
            if (!(entries_[i].weight < entries_[parent].weight)) break;
            std::swap(entries_[i], entries_[parent]);
            i = parent;
        }
    }

    HeapEntry Pop() {
        HeapEntry top = entries_.front();
        entries_.front() = entries_.back();
        entries_.pop_back();
        size_t i = 0;
        const size_t size = entries_.size();
        for (;;) {
            const size_t left = 2 * i + 1;
            const size_t right = left + 1;
            if (right < size) {
                const size_t child = entries_[right].weight <= entries_[left].weight ? right : left;
                if (!(entries_[child].weight < entries_[i].weight)) break;
                std::swap(entries_[i], entries_[child]);
                i = child;
            } else {
                if (left < size && entries_[left].weight < entries_[i].weight)
                    std::swap(entries_[i], entries_[left]);
                break;
            }
        }
        return top;
    }

private:
    std::vector<HeapEntry> entries_;
};

int CompareHeapKey(const PlayerID& key, const HeapEntry& entry) {
    return DataStructures::DefaultOrderedListComparison<PlayerID, PlayerID>(key, entry.node.playerId);
}

}  // namespace

int UndirectedGraph::CompareEdge(const PlayerID& key, const Edge& edge) {
    return DataStructures::DefaultOrderedListComparison<PlayerID, PlayerID>(key, edge.neighbour.playerId);
}

int UndirectedGraph::CompareNode(const PlayerID& key, const Node& node) {
    return DataStructures::DefaultOrderedListComparison<PlayerID, PlayerID>(key, node.node.playerId);
}

UndirectedGraph::Node* UndirectedGraph::FindNode(PlayerID id) {
    bool exists = false;
    const uint32_t index = adjacency_.GetIndexFromKey(id, &exists);
    return exists ? &adjacency_[index] : nullptr;
}

const UndirectedGraph::Node* UndirectedGraph::FindNode(PlayerID id) const {
    bool exists = false;
    const uint32_t index = adjacency_.GetIndexFromKey(id, &exists);
    return exists ? &adjacency_[index] : nullptr;
}

UndirectedGraph::Node& UndirectedGraph::FindOrAddNode(const PlayerIdAndGroupId& node) {
    bool exists = false;
    const uint32_t index = adjacency_.GetIndexFromKey(node.playerId, &exists);
    if (!exists) {
        Node fresh;
        fresh.node = node;
        adjacency_.InsertAtIndex(fresh, index);
    }
    return adjacency_[index];
}

bool UndirectedGraph::AddEdge(const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b, uint16_t weight) {
    if (a == b) return true;
    const uint32_t missing = (HasNode(a) ? 0u : 1u) + (HasNode(b) ? 0u : 1u);
    if (GetNodeCount() + missing > kMaxNodes) return false;
    // Insert both nodes before taking references: the second insert may move the first.
    FindOrAddNode(a);
    FindOrAddNode(b);
    const Edge toB{b, weight};
    const Edge toA{a, weight};
    for (const auto& [from, edge] : {std::pair{a.playerId, toB}, std::pair{b.playerId, toA}}) {
        EdgeList& edges = FindNode(from)->edges;
        bool exists = false;
        const uint32_t index = edges.GetIndexFromKey(edge.neighbour.playerId, &exists);
        if (exists)
            edges[index].weight = edge.weight;
        else
            edges.InsertAtIndex(edge, index);
    }
    return true;
}

void UndirectedGraph::RemoveEdge(const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b) {
    if (!HasEdge(a, b)) return;
    FindNode(a.playerId)->edges.Remove(b.playerId);
    FindNode(b.playerId)->edges.Remove(a.playerId);
    if (FindNode(a.playerId)->edges.Size() == 0) RemoveNode(a);
    if (const Node* second = FindNode(b.playerId); second != nullptr && second->edges.Size() == 0)
        RemoveNode(b);
    ClearPathTable();
}

bool UndirectedGraph::HasEdge(const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b) const {
    if (a == b) return false;
    const Node* node = FindNode(a.playerId);
    return node != nullptr && node->edges.HasData(b.playerId);
}

bool UndirectedGraph::HasNode(const PlayerIdAndGroupId& node) const {
    return FindNode(node.playerId) != nullptr;
}

void UndirectedGraph::RemoveNode(const PlayerIdAndGroupId& node) {
    std::deque<PlayerID> doomed{node.playerId};
    // Every removal takes a node out for good, so the walk ends after at most every node.
    while (!doomed.empty()) {
        const PlayerID id = doomed.front();
        doomed.pop_front();
        bool exists = false;
        const uint32_t index = adjacency_.GetIndexFromKey(id, &exists);
        if (!exists) continue;
        // Edges are stored at both ends, so the neighbours are exactly the nodes that list it.
        const EdgeList neighbours = adjacency_[index].edges;
        adjacency_.RemoveAtIndex(index);
        for (uint32_t i = 0; i < neighbours.Size(); ++i) {
            Node* other = FindNode(neighbours[i].neighbour.playerId);
            if (other == nullptr || !other->edges.HasData(id)) continue;
            other->edges.Remove(id);
            if (other->edges.Size() == 0) doomed.push_back(other->node.playerId);
        }
    }
    ClearPathTable();
}

void UndirectedGraph::Clear() {
    adjacency_.Clear();
    ClearPathTable();
}

void UndirectedGraph::GetEdgeAtIndex(uint32_t nodeIndex, uint32_t edgeIndex, PlayerIdAndGroupId& neighbour,
                                     uint16_t& weight) const {
    const Edge& edge = adjacency_[nodeIndex].edges[edgeIndex];
    neighbour = edge.neighbour;
    weight = edge.weight;
}

uint32_t UndirectedGraph::GetTotalEdgeCount() const {
    uint32_t ends = 0;
    for (uint32_t i = 0; i < adjacency_.Size(); ++i) ends += adjacency_[i].edges.Size();
    return ends / 2;
}

void UndirectedGraph::ClearPathTable() {
    pathTableValid_ = false;
    tableNodes_.clear();
    costTable_.clear();
    settled_.clear();
}

uint32_t UndirectedGraph::ColumnOf(PlayerID id, bool* exists) const {
    uint32_t low = 0;
    uint32_t high = uint32_t(tableNodes_.size());
    while (low < high) {
        const uint32_t mid = low + (high - low) / 2;
        if (tableNodes_[mid].playerId == id) {
            *exists = true;
            return mid;
        }
        if (id < tableNodes_[mid].playerId)
            high = mid;
        else
            low = mid + 1;
    }
    *exists = false;
    return low;
}

void UndirectedGraph::BuildPathTable(const PlayerIdAndGroupId& start, uint16_t infiniteWeight) {
    ClearPathTable();
    const uint32_t n = GetNodeCount();
    tableNodes_.reserve(n);
    for (uint32_t i = 0; i < n; ++i) tableNodes_.push_back(adjacency_[i].node);
    costTable_.assign(size_t(n) * n, infiniteWeight);
    settled_.assign(n, PlayerIdAndGroupId{});
    root_ = start;

    bool exists = false;
    const uint32_t startColumn = ColumnOf(start.playerId, &exists);
    for (uint32_t row = 0; row < n; ++row) Cost(row, startColumn) = 0;

    // Cheapest known cost of every reached but unsettled node, in node order.
    DataStructures::OrderedList<PlayerID, HeapEntry, CompareHeapKey> open;
    MinHeap heap;
    PlayerID current = start.playerId;
    uint32_t currentCost = 0;
    for (uint32_t row = 0; row + 1 < n; ++row) {
        const EdgeList& edges = FindNode(current)->edges;
        for (uint32_t e = 0; e < edges.Size(); ++e) {
            const uint32_t cost = currentCost + edges[e].weight;
            const uint32_t column = ColumnOf(edges[e].neighbour.playerId, &exists);
            if (cost >= Cost(row, column)) continue;
            for (uint32_t later = row; later < n; ++later) Cost(later, column) = uint16_t(cost);
            bool known = false;
            const uint32_t at = open.GetIndexFromKey(edges[e].neighbour.playerId, &known);
            if (known)
                open[at].weight = uint16_t(cost);
            else
                open.InsertAtIndex(HeapEntry{uint16_t(cost), edges[e].neighbour}, at);
        }
        heap.Clear();
        for (uint32_t i = 0; i < open.Size(); ++i) heap.Push(open[i]);
        if (heap.IsEmpty()) break;
        const HeapEntry next = heap.Pop();
        currentCost = next.weight;
        current = next.node.playerId;
        settled_[row] = next.node;
        open.Remove(current);
    }
    pathTableValid_ = true;
}

bool UndirectedGraph::ShortestPath(std::vector<PlayerIdAndGroupId>& path, const PlayerIdAndGroupId& start,
                                   const PlayerIdAndGroupId& end, uint16_t infiniteWeight) {
    path.clear();
    if (start == end) {
        path = {start, end};
        return true;
    }
    if (!pathTableValid_ || !(root_ == start)) {
        if (!HasNode(start)) {
            ClearPathTable();
            return false;
        }
        BuildPathTable(start, infiniteWeight);
    }
    const uint32_t n = uint32_t(tableNodes_.size());
    bool exists = false;
    uint32_t column = ColumnOf(end.playerId, &exists);
    if (n < 2 || !exists) return false;
    if (n == 2) {
        path = {start, end};
        return true;
    }
    uint16_t weight = Cost(n - 2, column);
    if (weight >= infiniteWeight) return true;

    // Walking up the rows, the row above the one in which a node's cost last fell is the row
    // whose settled node reached it: that node is its predecessor.
    std::deque<PlayerIdAndGroupId> reversed{end};
    for (int32_t row = int32_t(n) - 3; row >= 0;) {
        if (Cost(uint32_t(row), column) == weight) {
            --row;
            continue;
        }
        const PlayerIdAndGroupId& predecessor = settled_[uint32_t(row)];
        reversed.push_front(predecessor);
        if (row == 0) break;
        column = ColumnOf(predecessor.playerId, &exists);
        weight = Cost(uint32_t(row), column);
    }
    path.reserve(reversed.size() + 1);
    path.push_back(start);
    path.insert(path.end(), reversed.begin(), reversed.end());
    return true;
}

bool UndirectedGraph::SpanningTree(RouteTree& tree, const std::vector<PlayerIdAndGroupId>& targets,
                                   const PlayerIdAndGroupId& start, uint16_t maxWeight) {
    UndirectedGraph paths;
    std::vector<PlayerIdAndGroupId> path;
    for (const PlayerIdAndGroupId& target : targets) {
        if (!ShortestPath(path, start, target, maxWeight)) continue;
        for (size_t i = 0; i + 1 < path.size(); ++i) paths.AddEdge(path[i], path[i + 1], maxWeight);
    }
    tree.children.clear();
    tree.value = start;
    if (!paths.HasNode(start)) return false;

    // Paths read from one table form a tree; the visited set keeps the walk finite regardless.
    DataStructures::OrderedList<PlayerID, PlayerID> visited;
    visited.Insert(start.playerId, start.playerId);
    std::deque<RouteTree*> pending{&tree};
    while (!pending.empty()) {
        RouteTree* parent = pending.front();
        pending.pop_front();
        const Node* node = paths.FindNode(parent->value.playerId);
        for (uint32_t e = 0; e < node->edges.Size(); ++e) {
            const PlayerIdAndGroupId& neighbour = node->edges[e].neighbour;
            if (visited.Insert(neighbour.playerId, neighbour.playerId) == visited.kNotFound) continue;
            auto child = std::make_unique<RouteTree>();
            child->value = neighbour;
            pending.push_back(child.get());
            parent->children.push_back(std::move(child));
        }
    }
    return true;
}

}  // namespace velt
