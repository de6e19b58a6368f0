// The weighted graph of a mesh: edges and nodes, shortest paths and routing trees.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ext/UndirectedGraph.h"

namespace velt {
namespace {

PlayerIdAndGroupId N(uint32_t n) { return PlayerIdAndGroupId(PlayerID{n, uint16_t(1000 + n)}, 0); }

std::string PathText(const std::vector<PlayerIdAndGroupId>& path) {
    std::string text;
    for (const PlayerIdAndGroupId& node : path) text += std::to_string(node.playerId.binaryAddress) + " ";
    return text;
}

struct Edge {
    uint32_t a, b;
    uint16_t weight;
};

void Build(UndirectedGraph& graph, const std::vector<Edge>& edges) {
    for (const Edge& e : edges) ASSERT_TRUE(graph.AddEdge(N(e.a), N(e.b), e.weight));
}

TEST(UndirectedGraph, EdgesAreSymmetricAndNodesGoWithTheirLastEdge) {
    UndirectedGraph graph;
    Build(graph, {{1, 2, 5}, {2, 3, 7}});
    EXPECT_TRUE(graph.HasEdge(N(2), N(1)));
    EXPECT_FALSE(graph.HasEdge(N(1), N(3)));
    EXPECT_FALSE(graph.HasEdge(N(1), N(1)));
    EXPECT_EQ(graph.GetNodeCount(), 3u);
    EXPECT_EQ(graph.GetTotalEdgeCount(), 2u);

    // A known edge gets its new weight at both ends; a self edge adds nothing.
    ASSERT_TRUE(graph.AddEdge(N(3), N(2), 9));
    ASSERT_TRUE(graph.AddEdge(N(4), N(4), 1));
    PlayerIdAndGroupId neighbour;
    uint16_t weight = 0;
    graph.GetEdgeAtIndex(1, 1, neighbour, weight);  // node 2's edge to node 3
    EXPECT_EQ(neighbour, N(3));
    EXPECT_EQ(weight, 9);
    EXPECT_EQ(graph.GetNodeCount(), 3u);

    graph.RemoveEdge(N(1), N(2));
    EXPECT_FALSE(graph.HasNode(N(1)));
    EXPECT_EQ(graph.GetNodeCount(), 2u);
    graph.RemoveEdge(N(1), N(2));  // gone already: nothing
    graph.RemoveEdge(N(3), N(2));
    EXPECT_EQ(graph.GetNodeCount(), 0u);
}

TEST(UndirectedGraph, RemovingANodeTakesTheNodesItLeavesAlone) {
    UndirectedGraph graph;
    Build(graph, {{1, 2, 1}, {1, 3, 1}, {3, 4, 1}, {4, 5, 1}});
    graph.RemoveNode(N(1));
    EXPECT_FALSE(graph.HasNode(N(2)));  // its only neighbour went
    EXPECT_TRUE(graph.HasNode(N(3)));   // still joined to 4
    EXPECT_EQ(graph.GetNodeCount(), 3u);
}

TEST(UndirectedGraph, NodeCountIsCapped) {
    UndirectedGraph graph;
    for (uint32_t n = 1; n < UndirectedGraph::kMaxNodes; ++n) ASSERT_TRUE(graph.AddEdge(N(0), N(n), 1));
    EXPECT_EQ(graph.GetNodeCount(), UndirectedGraph::kMaxNodes);
    EXPECT_FALSE(graph.AddEdge(N(0), N(5000), 1));
    EXPECT_FALSE(graph.AddEdge(N(5000), N(5001), 1));
    EXPECT_TRUE(graph.AddEdge(N(1), N(2), 1));  // between known nodes: still fine
    EXPECT_EQ(graph.GetNodeCount(), UndirectedGraph::kMaxNodes);
}

TEST(UndirectedGraph, ShortestPaths) {
    struct Case {
        const char* name;
        std::vector<Edge> edges;
        uint32_t from, to;
        bool ok;
        const char* path;
    };
    const std::vector<Case> cases = {
        {"same node twice", {{1, 2, 3}}, 2, 2, true, "2 2 "},
        {"two nodes", {{1, 2, 3}}, 1, 2, true, "1 2 "},
        {"chain of three", {{1, 2, 5}, {2, 3, 5}}, 1, 3, true, "1 2 3 "},
        {"chain backwards", {{1, 2, 5}, {2, 3, 5}}, 3, 1, true, "3 2 1 "},
        {"cheaper detour", {{1, 2, 10}, {1, 3, 1}, {3, 4, 1}, {4, 2, 1}}, 1, 2, true, "1 3 4 2 "},
        {"direct when cheaper", {{1, 2, 2}, {1, 3, 1}, {3, 4, 1}, {4, 2, 1}}, 1, 2, true, "1 2 "},
        {"zero weights (loopback pings)", {{1, 2, 0}, {2, 3, 0}, {3, 4, 0}}, 1, 4, true, "1 2 3 4 "},
        {"unreachable island", {{1, 2, 1}, {3, 4, 1}}, 1, 4, true, ""},
        {"too long to express", {{1, 2, 40000}, {2, 3, 40000}}, 1, 3, true, ""},
        {"end not in graph", {{1, 2, 1}, {2, 3, 1}}, 1, 9, false, ""},
        {"start not in graph", {{1, 2, 1}, {2, 3, 1}}, 9, 1, false, ""},
    };
    for (const Case& c : cases) {
        UndirectedGraph graph;
        Build(graph, c.edges);
        std::vector<PlayerIdAndGroupId> path;
        EXPECT_EQ(graph.ShortestPath(path, N(c.from), N(c.to), 0xFFFF), c.ok) << c.name;
        EXPECT_EQ(PathText(path), c.path) << c.name;
    }
}

TEST(UndirectedGraph, PathTableFollowsRootAndRemovals) {
    UndirectedGraph graph;
    Build(graph, {{1, 2, 1}, {2, 3, 1}, {1, 4, 5}, {4, 3, 5}});
    std::vector<PlayerIdAndGroupId> path;
    ASSERT_TRUE(graph.ShortestPath(path, N(1), N(3), 0xFFFF));
    EXPECT_EQ(PathText(path), "1 2 3 ");
    ASSERT_TRUE(graph.ShortestPath(path, N(3), N(1), 0xFFFF));  // another root: rebuilt
    EXPECT_EQ(PathText(path), "3 2 1 ");
    graph.RemoveEdge(N(2), N(3));  // the cheap way is gone: the table with it
    ASSERT_TRUE(graph.ShortestPath(path, N(1), N(3), 0xFFFF));
    EXPECT_EQ(PathText(path), "1 4 3 ");
}

std::string TreeText(const RouteTree& tree) {
    std::string text = std::to_string(tree.value.playerId.binaryAddress);
    if (tree.children.empty()) return text;
    text += "(";
    for (size_t i = 0; i < tree.children.size(); ++i) text += (i ? " " : "") + TreeText(*tree.children[i]);
    return text + ")";
}

TEST(UndirectedGraph, SpanningTreeReachesEachTargetAlongItsShortestPath) {
    UndirectedGraph graph;
    Build(graph, {{1, 2, 1}, {2, 3, 1}, {2, 4, 1}, {1, 5, 1}, {6, 7, 1}});
    RouteTree tree;
    ASSERT_TRUE(graph.SpanningTree(tree, {N(3), N(4), N(5), N(7)}, N(1), 0xFFFF));
    EXPECT_EQ(TreeText(tree), "1(2(3 4) 5)");  // 7 is unreachable and left out

    ASSERT_TRUE(graph.SpanningTree(tree, {N(3)}, N(1), 0xFFFF));
    EXPECT_EQ(TreeText(tree), "1(2(3))");  // only the branch the target needs

    EXPECT_FALSE(graph.SpanningTree(tree, {N(7)}, N(1), 0xFFFF));
    EXPECT_EQ(TreeText(tree), "1");
}

}  // namespace
}  // namespace velt
