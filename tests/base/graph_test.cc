#include "base/graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/radix.h"

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
  // The other end of an edge may hold many: there the edge is found by its ends.
  G hub = G::create();
  for (int i = 1; i <= 10; ++i) hub = std::move(hub).add(0, i, 0);
  EXPECT_EQ(hub.isolate(5).succ_count(0), 9U);
  EXPECT_EQ(hub.reverse().isolate(5).pred_count(0), 9U);
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

// A batch of edges that are all new gives the graph that adding them one by one gives, lists and their
// order included, on nodes that pass from the small store to the maps within one batch, and on self loops.
template <class Graph, class LabelOf>
void batch_matches_one_by_one(LabelOf label_of) {
  Graph one = Graph::create().add(0, 1, label_of(0)).add(2, 0, label_of(1));
  Graph batch = one;
  const Graph before = one;
  int next = 10;
  for (int round = 0; round < 30; ++round) {
    std::vector<typename Graph::new_edge> es;
    const int hub = round % 3;
    for (int k = 0; k < round % 13; ++k) {
      const int fresh = next++;
      es.push_back({hub, fresh, label_of(k % 2)});
      es.push_back({fresh, 1, label_of(k % 3)});
      if (k % 4 == 0) es.push_back({fresh, fresh, label_of(2)});
    }
    for (const auto& e : es) one = std::move(one).add(e.from, e.to, e.label);
    batch = std::move(batch).add_new(es);
  }
  for (int n = 0; n < next; ++n) {
    EXPECT_EQ(batch.succ(n), one.succ(n)) << n;
    EXPECT_EQ(batch.pred(n), one.pred(n)) << n;
  }
  EXPECT_EQ(batch.pred_roots(), one.pred_roots());
  EXPECT_EQ(batch.succ_roots(), one.succ_roots());
  EXPECT_EQ(before.succ_count(0), 1U);
  EXPECT_TRUE(batch.table_invariants_hold());
}

TEST(Graph, AddNewMatchesAddingOneByOne) {
  batch_matches_one_by_one<G>([](int l) { return l; });
  batch_matches_one_by_one<cvn::graph::Make_with_map<int, std::string>>(
      [](int l) { return "label " + std::to_string(l); });
}

// A hub whose edges come in ascending order of end answers lookups without its index of ends, and builds
// that index at the first edge out of order or the first removal, in its own version only.
TEST(Graph, HubInAscendingOrderThenOutOfIt) {
  G g = G::create();
  for (int i = 0; i < 300; ++i) {
    g = std::move(g).add(0, 2 * i + 1, 0);
    if (i % 3 == 0) g = std::move(g).add(0, 2 * i + 1, 1);  // a second label on the same end
  }
  const G ascending = g;
  for (int i = 0; i < 300; ++i) {
    EXPECT_TRUE(ascending.mem_edge(0, 2 * i + 1, 0));
    EXPECT_EQ(ascending.mem_edge(0, 2 * i + 1, 1), i % 3 == 0);
    EXPECT_FALSE(ascending.mem_edge(0, 2 * i, 0));
  }
  EXPECT_EQ(ascending.add(0, 301, 1).succ_count(0), ascending.succ_count(0));  // present: unchanged
  // Out of order: an end below the last one, then a removal by end of both labels.
  const G mixed = ascending.add(0, 4, 2).rem_all(0, 301);
  EXPECT_TRUE(mixed.mem_edge(0, 4, 2));
  EXPECT_FALSE(mixed.mem_edge(0, 301, 0));
  EXPECT_FALSE(mixed.mem_edge(0, 301, 1));
  EXPECT_EQ(mixed.succ(0).front(), (std::pair<int, int>{4, 2}));
  EXPECT_EQ(mixed.succ_count(0), ascending.succ_count(0) - 1);
  // The version it came from still lists and finds what it had.
  EXPECT_TRUE(ascending.mem_edge(0, 301, 1));
  EXPECT_FALSE(ascending.mem_edge(0, 4, 2));
  EXPECT_EQ(ascending.succ(0).front(), (std::pair<int, int>{599, 0}));
  EXPECT_EQ(ascending.rem_all(0, 301).succ_count(0), ascending.succ_count(0) - 2);
}

// The reference: both tables as plain maps of lists, updated exactly as the operations are described.
template <class Label>
struct basic_reference {
  using edges = std::vector<std::pair<int, Label>>;
  std::map<int, edges> succ, pred;

  static void filter(edges& l, int other, const std::function<bool(const Label&)>& p) {
    edges kept;
    for (const auto& e : l)
      if (e.first != other || !p(e.second)) kept.push_back(e);
    l = kept;
  }
  void add(int a, int b, const Label& l) {
    succ[b];
    pred[a];
    auto& s = succ[a];
    if (std::find(s.begin(), s.end(), std::pair<int, Label>(b, l)) == s.end()) s.insert(s.begin(), {b, l});
    auto& p = pred[b];
    if (std::find(p.begin(), p.end(), std::pair<int, Label>(a, l)) == p.end()) p.insert(p.begin(), {a, l});
  }
  void rem(int a, int b, const std::function<bool(const Label&)>& p) {
    filter(succ[a], b, p);
    filter(pred[b], a, p);
  }
  void isolate(int n) {
    if (succ.count(n))
      for (const auto& e : edges(succ[n])) rem(n, e.first, [](const Label&) { return true; });
    if (pred.count(n))
      for (const auto& e : edges(pred[n])) rem(e.first, n, [](const Label&) { return true; });
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
    basic_reference r = *this;
    std::vector<int> out;
    for (auto roots = r.pred_roots(); !roots.empty(); roots = r.pred_roots()) {
      out.push_back(roots.front());
      r.remove_node(roots.front());
    }
    return out;
  }
};

using reference = basic_reference<int>;

template <class Graph, class Label>
void expect_same(const Graph& g, const basic_reference<Label>& r, std::size_t version) {
  using reference = basic_reference<Label>;
  using edges = typename reference::edges;
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
  for (int n = -42; n <= 80; ++n) {
    ASSERT_EQ(g.mem_node(n), r.succ.count(n) + r.pred.count(n) > 0) << "version " << version << " node " << n;
    ASSERT_EQ(g.succ_count(n), r.succ.count(n) ? r.succ.at(n).size() : 0U) << "version " << version;
    ASSERT_EQ(g.pred_count(n), r.pred.count(n) ? r.pred.at(n).size() : 0U) << "version " << version;
    // The lists that any_succ / any_pred walk, newest first, and mem_edge on each listed edge.
    edges walked;
    g.any_succ(n, [&](int m, const Label& l) {
      walked.emplace_back(m, l);
      return false;
    });
    ASSERT_EQ(walked, r.succ.count(n) ? r.succ.at(n) : edges{}) << "version " << version;
    for (const auto& [m, l] : walked) ASSERT_TRUE(g.mem_edge(n, m, l));
    walked.clear();
    g.any_pred(n, [&](int m, const Label& l) {
      walked.emplace_back(m, l);
      return false;
    });
    ASSERT_EQ(walked, r.pred.count(n) ? r.pred.at(n) : edges{}) << "version " << version;
  }
  ASSERT_EQ(g.nodes_by_pred_order(), r.nodes_by_pred_order()) << "version " << version;
  ASSERT_TRUE(g.table_invariants_hold()) << "version " << version;
}

// Random operations on `nodes` nodes (from `first` on) from versions picked at random; every version is
// checked at the end. Labels are label_of(0 .. labels - 1). The same operations run on the graph over the
// ordered map (the node table of earlier versions), which must print and visit exactly alike.
template <class Graph, class LabelOf>
void random_operations_on(unsigned seed, int nodes, int first, int labels, LabelOf label_of) {
  using Label = typename Graph::label;
  using Ordered = cvn::graph::Make_with_ordered_map<int, Label>;
  using reference = basic_reference<Label>;
  std::mt19937 rng(seed);
  std::vector<Graph> versions{Graph::create()};
  std::vector<Ordered> ordered{Ordered::create()};
  std::vector<reference> expected{reference{}};
  for (int step = 0; step < 3000; ++step) {
    const std::size_t from = rng() % 5 == 0 ? rng() % versions.size() : versions.size() - 1;
    Graph g = versions[from];
    Ordered o = ordered[from];
    reference r = expected[from];
    for (int n = static_cast<int>(rng() % 3); n >= 0; --n) {
      const int a = first + static_cast<int>(rng() % static_cast<unsigned>(nodes)),
                b = first + static_cast<int>(rng() % static_cast<unsigned>(nodes));
      const Label l = label_of(static_cast<int>(rng() % static_cast<unsigned>(labels)));
      auto other = [&](const Label& x) { return x != l; };
      switch (rng() % 10) {
        case 0:
          g = std::move(g).rem(a, b, other);
          o = std::move(o).rem(a, b, other);
          r.rem(a, b, other);
          break;
        case 1:
          g = std::move(g).rem_all(a, b);
          o = std::move(o).rem_all(a, b);
          r.rem(a, b, [](const Label&) { return true; });
          break;
        case 2:
          g = std::move(g).isolate(a);
          o = std::move(o).isolate(a);
          r.isolate(a);
          break;
        case 3:
          g = std::move(g).remove_node(a);
          o = std::move(o).remove_node(a);
          r.remove_node(a);
          break;
        case 4:
          g = g.reverse();
          o = o.reverse();
          std::swap(r.succ, r.pred);
          break;
        case 5:
          // An edit of a kept version (a const one) must leave it unchanged.
          g = g.add(a, b, l);
          o = o.add(a, b, l);
          r.add(a, b, l);
          break;
        default:
          g = std::move(g).add(a, b, l);
          o = std::move(o).add(a, b, l);
          r.add(a, b, l);
      }
    }
    versions.push_back(std::move(g));
    ordered.push_back(std::move(o));
    expected.push_back(std::move(r));
  }
  auto describe_edge = [](const Label& l) {
    std::ostringstream text;
    text << l;
    return std::pair<std::string, cvn::graph::attrs>(text.str(), {});
  };
  for (std::size_t i = 0; i < versions.size(); ++i) {
    expect_same(versions[i], expected[i], i);
    ASSERT_EQ(versions[i].dot_of_graph(describe_edge, describe_node),
              ordered[i].dot_of_graph(describe_edge, describe_node))
        << "version " << i;
    ASSERT_EQ(versions[i].pred_roots(), ordered[i].pred_roots()) << "version " << i;
  }
}

void random_operations(unsigned seed, int nodes) {
  random_operations_on<G>(seed, nodes, 0, 3, [](int l) { return l; });
}

TEST(Graph, RandomOperationsAgainstReferenceKeepEveryVersion) { random_operations(5, 25); }

// Nodes of a few edges and nodes of many edges are stored differently; drive both, and the switch.
TEST(Graph, RandomOperationsFewAndManyEdgesPerNode) {
  random_operations(11, 80);
  random_operations(12, 6);
}

// Nodes below zero: the trie orders the words of signed keys as the integers.
TEST(Graph, RandomOperationsNegativeKeys) {
  random_operations_on<G>(21, 30, -15, 3, [](int l) { return l; });
  random_operations_on<G>(22, 6, -3, 4, [](int l) { return l; });
}

// Labels that are not small values are interned in a pool shared by the versions derived from one graph.
using S = cvn::graph::Make_with_map<int, std::string>;

TEST(Graph, RandomOperationsPooledLabels) {
  auto name = [](int l) { return "label " + std::to_string(l); };
  random_operations_on<S>(31, 25, 0, 5, name);
  random_operations_on<S>(32, 80, -40, 40, name);
  random_operations_on<S>(33, 6, 0, 3, name);
}

TEST(Graph, LabelPoolIsSharedByVersionsAndOnlyGrows) {
  const S empty = S::create();
  EXPECT_EQ(empty.label_pool_size(), 0U);
  EXPECT_FALSE(empty.mem_edge(1, 2, "a"));
  const S one = empty.add(1, 2, "a");
  EXPECT_EQ(one.label_pool_size(), 1U);
  EXPECT_EQ(empty.label_pool_size(), 0U);  // a graph with no pool yet gets its own at its first label
  // Versions derived from `one`, along two branches, add labels to the same pool.
  const S left = one.add(2, 3, "b").add(1, 3, "a");
  const S right = one.add(3, 1, "c");
  EXPECT_EQ(left.label_pool_size(), 3U);
  EXPECT_EQ(right.label_pool_size(), 3U);
  EXPECT_EQ(one.label_pool_size(), 3U);
  // Each version still sees exactly its own edges and labels.
  EXPECT_EQ(one.succ(1), (S::edge_list{{2, "a"}}));
  EXPECT_TRUE(one.succ(2).empty());
  EXPECT_FALSE(one.mem_edge(2, 3, "b"));
  EXPECT_FALSE(right.mem_edge(2, 3, "b"));  // the label is known to the pool, not the edge to the version
  EXPECT_EQ(left.succ(1), (S::edge_list{{3, "a"}, {2, "a"}}));
  EXPECT_EQ(left.pred(3), (S::edge_list{{1, "a"}, {2, "b"}}));
  EXPECT_EQ(right.succ(3), (S::edge_list{{1, "c"}}));
  // Equal labels share an entry; removal keeps the label in the pool.
  const S gone = left.rem_all(2, 3).add(4, 5, std::string("b"));
  EXPECT_EQ(gone.label_pool_size(), 3U);
  EXPECT_EQ(gone.succ(4), (S::edge_list{{5, "b"}}));
  EXPECT_TRUE(gone.succ(2).empty());
  EXPECT_EQ(left.succ(2), (S::edge_list{{3, "b"}}));
  // Labels met while walking stay valid while the pool grows under the walk.
  std::vector<const std::string*> seen;
  S grown = left;
  left.any_succ(1, [&](int, const std::string& l) {
    seen.push_back(&l);
    for (int i = 0; i < 1000; ++i) grown = std::move(grown).add(9, 9, std::to_string(i));
    return false;
  });
  ASSERT_EQ(seen.size(), 2U);
  EXPECT_EQ(*seen[0], "a");
  EXPECT_EQ(*seen[1], "a");
  EXPECT_EQ(left.label_pool_size(), 1003U);
  EXPECT_EQ(grown.succ_count(9), 1000U);
  EXPECT_EQ(left.succ_count(9), 0U);
}

TEST(Graph, HighDegreeNodePooledLabels) {
  S g = S::create();
  for (int i = 0; i < 20000; ++i) g = std::move(g).add(0, i + 1, std::to_string(i % 7));
  const S kept = g;
  for (int i = 0; i < 20000; ++i) g = std::move(g).add(0, i + 1, std::to_string(i % 7));  // all present already
  for (int i = 0; i < 20000; i += 2) g = std::move(g).rem(0, i + 1, [](const std::string& l) { return l != "3"; });
  EXPECT_EQ(g.label_pool_size(), 7U);
  EXPECT_EQ(kept.succ_count(0), 20000U);
  std::size_t left = 0;
  for (int i = 0; i < 20000; ++i) left += (i % 2 == 1 || i % 7 == 3) ? 1 : 0;
  EXPECT_EQ(g.succ_count(0), left);
  EXPECT_EQ(kept.succ(0).front(), (S::edge_list::value_type{20000, std::to_string(19999 % 7)}));
  EXPECT_EQ(g.pred(20000), (S::edge_list{{0, std::to_string(19999 % 7)}}));
}

// The radix trie alone, against std::map, with every version kept; keys spread over the whole word.
TEST(RadixMap, RandomOperationsAgainstMap) {
  std::mt19937_64 rng(7);
  std::vector<cvn::radix_map<int>> versions{cvn::radix_map<int>{}};
  std::vector<std::map<std::uint64_t, int>> expected{{}};
  std::vector<std::uint64_t> keys;
  for (int i = 0; i < 200; ++i) keys.push_back(i < 100 ? static_cast<std::uint64_t>(i) : rng() >> (rng() % 64));
  keys.push_back(~std::uint64_t{0});
  for (int step = 0; step < 4000; ++step) {
    const std::size_t from = rng() % 4 == 0 ? rng() % versions.size() : versions.size() - 1;
    cvn::radix_map<int> t = versions[from];
    std::map<std::uint64_t, int> m = expected[from];
    const std::uint64_t k = keys[rng() % keys.size()];
    const int v = static_cast<int>(rng() % 1000);
    switch (rng() % 4) {
      case 0:
        t = std::move(t).remove(k);
        m.erase(k);
        break;
      case 1:
        t = t.update(k, [&](int& x) { x += v; });
        m[k] += v;
        break;
      case 2:
        t = t.add(k, v);
        m[k] = v;
        break;
      default:
        t = std::move(t).add(k, v);
        m[k] = v;
    }
    versions.push_back(std::move(t));
    expected.push_back(std::move(m));
  }
  for (std::size_t i = 0; i < versions.size(); ++i) {
    const cvn::radix_map<int>& t = versions[i];
    ASSERT_TRUE(t.invariants_hold()) << i;
    ASSERT_EQ(t.size(), expected[i].size()) << i;
    std::vector<std::pair<std::uint64_t, int>> asc, desc;
    t.for_each([&](std::uint64_t k, int v) { asc.emplace_back(k, v); });
    t.for_each_desc([&](std::uint64_t k, int v) { desc.emplace_back(k, v); });
    ASSERT_EQ(asc, (std::vector<std::pair<std::uint64_t, int>>(expected[i].begin(), expected[i].end()))) << i;
    std::reverse(desc.begin(), desc.end());
    ASSERT_EQ(asc, desc) << i;
    for (std::uint64_t k : keys) {
      const auto it = expected[i].find(k);
      const int* v = t.find(k);
      ASSERT_EQ(v != nullptr, it != expected[i].end()) << i;
      if (v != nullptr) {
        ASSERT_EQ(*v, it->second) << i;
      }
    }
  }
}

}  // namespace
