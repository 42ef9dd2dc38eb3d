#include "base/graph.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using G = cvn::graph::Make_with_map<int, int>;
using edges = G::edge_list;

G::node_describer describe_node = [](const int& n) {
  return std::tuple<std::string, std::string, cvn::graph::attrs>("n" + std::to_string(n), std::to_string(n), {});
};

TEST(Graph, AddIsIdempotentForEqualLabelsAndListsAreNewestFirst) {
  G g = G::create().add(1, 2, 7).add(1, 3, 7).add(1, 2, 7).add(1, 2, 8);
  EXPECT_EQ(g.succ(1), (edges{{2, 8}, {3, 7}, {2, 7}}));
  EXPECT_EQ(g.pred(2), (edges{{1, 8}, {1, 7}}));
  EXPECT_TRUE(g.mem_edge(1, 2, 7));
  EXPECT_FALSE(g.mem_edge(2, 1, 7));
  // Both ends are nodes of both tables.
  EXPECT_EQ(g.succ_roots(), (std::vector<int>{3, 2}));
  EXPECT_EQ(g.pred_roots(), (std::vector<int>{1}));
  // Re-adding an existing edge does not move it to the front.
  EXPECT_EQ(g.add(1, 3, 7).succ(1), g.succ(1));
  EXPECT_TRUE(G::create().succ(5).empty());
}

TEST(Graph, RemovalsKeepNodesAndOrder) {
  const G g = G::create().add(1, 2, 1).add(1, 2, 2).add(1, 3, 3).add(1, 2, 4).add(2, 1, 5);
  const G odd = g.rem(1, 2, [](int l) { return l % 2 == 1; });
  EXPECT_EQ(odd.succ(1), (edges{{2, 4}, {3, 3}, {2, 2}}));
  EXPECT_EQ(odd.pred(2), (edges{{1, 4}, {1, 2}}));
  const G none = g.rem_all(1, 2);
  EXPECT_EQ(none.succ(1), (edges{{3, 3}}));
  EXPECT_TRUE(none.pred(2).empty());
  EXPECT_TRUE(none.mem_node(2));
  EXPECT_EQ(none.pred_roots(), (std::vector<int>{2}));  // 2 -> 1 and 1 -> 3 remain
  // Removing between absent nodes binds the source among successors and the target among predecessors.
  const G quirk = G::create().rem_all(8, 9);
  EXPECT_EQ(quirk.nodes(), (std::vector<int>{8}));
  EXPECT_EQ(quirk.pred_roots(), (std::vector<int>{9}));
  // The original is untouched.
  EXPECT_EQ(g.succ(1).size(), 4U);
}

TEST(Graph, IsolateAndRemoveNode) {
  const G g = G::create().add(1, 2, 0).add(2, 2, 0).add(3, 2, 0).add(2, 4, 0);
  const G iso = g.isolate(2);
  EXPECT_TRUE(iso.mem_node(2));
  EXPECT_TRUE(iso.succ(2).empty());
  EXPECT_TRUE(iso.pred(2).empty());
  EXPECT_TRUE(iso.succ(1).empty());
  EXPECT_TRUE(iso.pred(4).empty());
  const G gone = g.remove_node(2);
  EXPECT_FALSE(gone.mem_node(2));
  EXPECT_EQ(gone.nodes(), (std::vector<int>{1, 3, 4}));
  EXPECT_TRUE(gone.succ(2).empty());
  const G rev = g.reverse();
  EXPECT_EQ(rev.succ(2), g.pred(2));
  EXPECT_EQ(rev.pred(2), g.succ(2));
}

TEST(Graph, NodesByPredOrder) {
  EXPECT_EQ(G::create().add(1, 1, 0).rem_all(1, 1).add(2, 2, 0).rem_all(2, 2).add(3, 3, 0).rem_all(3, 3)
                .nodes_by_pred_order(),
            (std::vector<int>{3, 2, 1}));
  const G cycle = G::create().add(1, 2, 0).add(2, 3, 0).add(3, 1, 0);
  EXPECT_TRUE(cycle.pred_roots().empty());
  EXPECT_TRUE(cycle.nodes_by_pred_order().empty());
  // Greatest root first; a node reachable from a cycle is left out; parallel edges count separately.
  const G g = G::create().add(5, 1, 0).add(5, 1, 1).add(4, 1, 0).add(1, 0, 0).add(7, 8, 0).add(8, 7, 0).add(8, 9, 0);
  EXPECT_EQ(g.nodes_by_pred_order(), (std::vector<int>{5, 4, 1, 0}));
}

TEST(Graph, DotOfGraph) {
  EXPECT_EQ(G::create().dot_of_graph(nullptr, describe_node), "digraph G {ratio=auto;\nmargin=\"0.1,0.1\";\n}\n");
  EXPECT_EQ(G::create().add(2, 1, 0).dot_of_graph(nullptr, describe_node),
            "digraph G {ratio=auto;\nmargin=\"0.1,0.1\";\n"
            "n1 [label=\"1\"];\nn2 [label=\"2\"];\nn2 -> n1 ;\n}\n");
  const G g = G::create().add(1, 2, 3).add(1, 3, 4);
  auto describe_edge = [](const int& l) {
    return std::pair<std::string, cvn::graph::attrs>("e" + std::to_string(l), {{"color", "red"}});
  };
  auto describe_colored = [](const int& n) {
    return std::tuple<std::string, std::string, cvn::graph::attrs>("n" + std::to_string(n), "N",
                                                                   {{"shape", "box"}, {"style", "x"}});
  };
  EXPECT_EQ(g.dot_of_graph(describe_edge, describe_colored),
            "digraph G {ratio=auto;\nmargin=\"0.1,0.1\";\n"
            "n1 [label=\"N\",shape=\"box\",style=\"x\"];\n"
            "n3 [label=\"N\",shape=\"box\",style=\"x\"];\nn1 -> n3 [label=\"e4\",color=\"red\"];\n"
            "n2 [label=\"N\",shape=\"box\",style=\"x\"];\nn1 -> n2 [label=\"e3\",color=\"red\"];\n}\n");
}

// Cost of a step: the label of the cheapest edge, with the label as information.
std::optional<std::pair<double, int>> label_cost(const G& g, const int& u, const int& v) {
  std::optional<std::pair<double, int>> best;
  for (const auto& [m, l] : g.succ(u))
    if (m == v && (!best || l < best->first)) best = std::pair<double, int>(l, l);
  return best;
}

TEST(Graph, ShortestPath) {
  const G g = G::create().add(1, 2, 5).add(2, 3, 1).add(1, 3, 9).add(3, 4, 1).add(4, 1, 1);
  const auto path = g.shortest_path(label_cost, 1, 3);
  ASSERT_EQ(path.size(), 2U);
  EXPECT_EQ(path[0].from, 1);
  EXPECT_EQ(path[0].info, 5);
  EXPECT_EQ(path[0].to, 2);
  EXPECT_EQ(path[1].from, 2);
  EXPECT_EQ(path[1].to, 3);
  EXPECT_THROW((void)g.shortest_path(label_cost, 1, 1), cvn::Not_found);
  EXPECT_THROW((void)g.shortest_path(label_cost, 1, 42), cvn::Not_found);
  EXPECT_THROW((void)G::create().add(1, 2, 1).add(3, 2, 1).shortest_path(label_cost, 1, 3), cvn::Not_found);
}

TEST(Graph, ShortestPathSelectsOncePerKeyWithPredecessors) {
  // Only node 2 has a predecessor, so only one selection step runs: from the source 1. Node 3 is reached
  // from 1 in that step, but 3 -> 4 is never relaxed, so 4 stays unreachable.
  const G g = G::create().add(1, 2, 1).add(3, 2, 1).add(3, 4, 1).rem_all(3, 4);
  auto any_step = [](const G&, const int& u, const int& v) -> std::optional<std::pair<double, int>> {
    if (u == 1 && v == 3) return std::pair<double, int>(1.0, 13);
    if (u == 3 && v == 4) return std::pair<double, int>(1.0, 34);
    return std::nullopt;
  };
  EXPECT_EQ(g.shortest_path(any_step, 1, 3).size(), 1U);
  EXPECT_THROW((void)g.shortest_path(any_step, 1, 4), cvn::Not_found);
  // Among equal distances the smaller key is selected first and fixes its successors first.
  const G h = G::create().add(1, 2, 1).add(1, 3, 1).add(2, 4, 1).add(3, 4, 1);
  const auto path = h.shortest_path(label_cost, 1, 4);
  ASSERT_EQ(path.size(), 2U);
  EXPECT_EQ(path[0].to, 2);
}

TEST(Graph, HighDegreeNode) {
  G g = G::create();
  for (int i = 0; i < 100000; ++i) g = std::move(g).add(0, i + 1, i % 3);
  for (int i = 0; i < 100000; ++i) g = std::move(g).add(0, i + 1, i % 3);  // all present already
  EXPECT_EQ(g.succ_count(0), 100000U);
  const G less = g.rem_all(0, 50000).rem(0, 7, [](int) { return false; });
  EXPECT_EQ(less.succ_count(0), 99999U);
  EXPECT_EQ(g.succ(0).front(), (std::pair<int, int>{100000, 99999 % 3}));
  EXPECT_EQ(g.nodes_by_pred_order().size(), 100001U);
  EXPECT_EQ(g.remove_node(0).pred_roots().size(), 100000U);
}

// The reference: both tables as plain maps of lists, updated exactly as the operations are described.
struct reference {
  std::map<int, edges> succ, pred;

  static void filter(edges& l, int other, const std::function<bool(int)>& p) {
    edges kept;
    for (const auto& e : l)
      if (e.first != other || !p(e.second)) kept.push_back(e);
    l = kept;
  }
  void add(int a, int b, int l) {
    succ[b];
    pred[a];
    auto& s = succ[a];
    if (std::find(s.begin(), s.end(), std::pair<int, int>(b, l)) == s.end()) s.insert(s.begin(), {b, l});
    auto& p = pred[b];
    if (std::find(p.begin(), p.end(), std::pair<int, int>(a, l)) == p.end()) p.insert(p.begin(), {a, l});
  }
  void rem(int a, int b, const std::function<bool(int)>& p) {
    filter(succ[a], b, p);
    filter(pred[b], a, p);
  }
  void isolate(int n) {
    if (succ.count(n))
      for (const auto& e : edges(succ[n])) rem(n, e.first, [](int) { return true; });
    if (pred.count(n))
      for (const auto& e : edges(pred[n])) rem(e.first, n, [](int) { return true; });
  }
  void remove_node(int n) {
    isolate(n);
    succ.erase(n);
    pred.erase(n);
  }
  static std::vector<int> roots(const std::map<int, edges>& table) {
    std::vector<int> out;
    for (const auto& [k, l] : table)
      if (l.empty()) out.insert(out.begin(), k);
    return out;
  }
  std::vector<int> pred_roots() const { return roots(pred); }
  std::vector<int> nodes_by_pred_order() const {
    reference r = *this;
    std::vector<int> out;
    for (auto roots = r.pred_roots(); !roots.empty(); roots = r.pred_roots()) {
      out.push_back(roots.front());
      r.remove_node(roots.front());
    }
    return out;
  }
};

void expect_same(const G& g, const reference& r, std::size_t version) {
  std::map<int, edges> succ, pred;
  g.iter_succ([&](int k, const edges& l) { succ[k] = l; });
  g.iter_pred([&](int k, const edges& l) { pred[k] = l; });
  ASSERT_EQ(succ, r.succ) << "version " << version;
  ASSERT_EQ(pred, r.pred) << "version " << version;
  ASSERT_EQ(g.pred_roots(), r.pred_roots()) << "version " << version;
  ASSERT_EQ(g.succ_roots(), reference::roots(r.succ)) << "version " << version;
  // The two tables may have different keys (a removal between absent nodes): each query sees its own.
  std::vector<int> succ_keys;
  for (const auto& [k, l] : r.succ) succ_keys.push_back(k);
  ASSERT_EQ(g.nodes(), succ_keys) << "version " << version;
  for (int n = -1; n <= 80; ++n) {
    ASSERT_EQ(g.mem_node(n), r.succ.count(n) + r.pred.count(n) > 0) << "version " << version << " node " << n;
    ASSERT_EQ(g.succ_count(n), r.succ.count(n) ? r.succ.at(n).size() : 0U) << "version " << version;
    ASSERT_EQ(g.pred_count(n), r.pred.count(n) ? r.pred.at(n).size() : 0U) << "version " << version;
  }
  ASSERT_EQ(g.nodes_by_pred_order(), r.nodes_by_pred_order()) << "version " << version;
}

// Random operations on `nodes` nodes from versions picked at random; every version is checked at the end.
void random_operations(unsigned seed, int nodes) {
  std::mt19937 rng(seed);
  std::vector<G> versions{G::create()};
  std::vector<reference> expected{reference{}};
  for (int step = 0; step < 3000; ++step) {
    const std::size_t from = rng() % 5 == 0 ? rng() % versions.size() : versions.size() - 1;
    G g = versions[from];
    reference r = expected[from];
    for (int n = static_cast<int>(rng() % 3); n >= 0; --n) {
      const int a = static_cast<int>(rng() % static_cast<unsigned>(nodes)),
                b = static_cast<int>(rng() % static_cast<unsigned>(nodes)), l = static_cast<int>(rng() % 3);
      switch (rng() % 10) {
        case 0:
          g = std::move(g).rem(a, b, [&](int x) { return x != l; });
          r.rem(a, b, [&](int x) { return x != l; });
          break;
        case 1:
          g = std::move(g).rem_all(a, b);
          r.rem(a, b, [](int) { return true; });
          break;
        case 2:
          g = std::move(g).isolate(a);
          r.isolate(a);
          break;
        case 3:
          g = std::move(g).remove_node(a);
          r.remove_node(a);
          break;
        case 4:
          g = g.reverse();
          std::swap(r.succ, r.pred);
          break;
        default:
          g = std::move(g).add(a, b, l);
          r.add(a, b, l);
      }
    }
    versions.push_back(std::move(g));
    expected.push_back(std::move(r));
  }
  for (std::size_t i = 0; i < versions.size(); ++i) expect_same(versions[i], expected[i], i);
}

TEST(Graph, RandomOperationsAgainstReferenceKeepEveryVersion) { random_operations(5, 25); }

// Nodes of a few edges and nodes of many edges are stored differently; drive both, and the switch.
TEST(Graph, RandomOperationsFewAndManyEdgesPerNode) {
  random_operations(11, 80);
  random_operations(12, 6);
}

}  // namespace
