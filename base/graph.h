#pragma once
// The immutable, edge-labelled directed graph under every model.
//
// Two node tables, successors and predecessors, always describe the same edges. Each node keeps its edges
// in two persistent maps: (other end, label) to an insertion stamp, so that adding, removing and testing an
// edge never scans the node's edges, and stamp to (other end, label), so that lists still come out newest
// first. Stamps grow along the versions of one graph; a kept edge keeps its stamp, hence its place.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <queue>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/base_types.h"
#include "base/pmap.h"

namespace cvn::graph {

/// (attribute, value) pairs of a dot node or edge.
using attrs = std::vector<std::pair<std::string, std::string>>;

/// "" for no attribute, else "[a=\"v\",b=\"w\"]" (values are not escaped).
[[nodiscard]] std::string string_of_attrs(const attrs& a);

/// Node table on the persistent ordered map with the given key order.
template <class K, class KeyCompare = std::less<K>>
struct map_node_table {
  using key = K;
  using key_compare = KeyCompare;
  template <class V>
  using map = pmap<K, V, KeyCompare>;
};

/// The graph operations over a node-table implementation and an edge-label order.
template <class Table, class L, class LabelCompare = std::less<L>>
class Make {
 public:
  using key = typename Table::key;
  using key_compare = typename Table::key_compare;
  using label = L;
  /// (other end, label) pairs, newest first.
  using edge_list = std::vector<std::pair<key, L>>;
  /// One step of a path: from, step information, to.
  template <class Info>
  struct step {
    key from;
    Info info;
    key to;
  };
  /// Maps a node to (dot identifier, label text, further attributes).
  using node_describer = std::function<std::tuple<std::string, std::string, attrs>(const key&)>;
  /// Maps an edge label to (label text, further attributes).
  using edge_describer = std::function<std::pair<std::string, attrs>(const L&)>;

 private:
  using end = std::pair<key, L>;
  // Orders (other end, label) pairs; a bare key probes every pair with that end.
  struct end_compare {
    bool operator()(const end& a, const end& b) const {
      if (key_compare{}(a.first, b.first)) return true;
      if (key_compare{}(b.first, a.first)) return false;
      return LabelCompare{}(a.second, b.second);
    }
    bool operator()(const end& a, const key& b) const { return key_compare{}(a.first, b); }
    bool operator()(const key& a, const end& b) const { return key_compare{}(a, b.first); }
  };
  struct adjacency {
    pmap<end, std::uint64_t, end_compare> stamps;
    pmap<std::uint64_t, end> ends;

    void link(const key& other, const L& l, std::uint64_t stamp) {
      stamps = std::move(stamps).add(end{other, l}, stamp);
      ends = std::move(ends).add(stamp, end{other, l});
    }
    void unlink(const end& e, std::uint64_t stamp) {
      stamps = std::move(stamps).remove(e);
      ends = std::move(ends).remove(stamp);
    }
    [[nodiscard]] edge_list newest_first() const {
      edge_list out;
      out.reserve(ends.size());
      ends.for_each_desc([&](std::uint64_t, const end& e) { out.push_back(e); });
      return out;
    }
  };
  using node_table = typename Table::template map<adjacency>;

 public:
  /// The empty graph.
  [[nodiscard]] static Make create() { return Make(); }

  /// The successor list of a, newest first; empty when a is not in the graph.
  [[nodiscard]] edge_list succ(const key& a) const { return list_of(succ_, a); }
  /// The predecessor list of b, newest first; empty when b is not in the graph.
  [[nodiscard]] edge_list pred(const key& b) const { return list_of(pred_, b); }
  /// The number of edges leaving / entering a node.
  [[nodiscard]] std::size_t succ_count(const key& a) const { return count_of(succ_, a); }
  [[nodiscard]] std::size_t pred_count(const key& b) const { return count_of(pred_, b); }
  /// True when n is a key of either table.
  [[nodiscard]] bool mem_node(const key& n) const { return succ_.contains(n) || pred_.contains(n); }
  /// True when the edge from a to b labelled l (or an equal label) exists.
  [[nodiscard]] bool mem_edge(const key& a, const key& b, const L& l) const {
    const adjacency* x = succ_.find(a);
    return x != nullptr && x->stamps.contains(end{b, l});
  }

  /// The graph with the edge from a to b labelled l; the same graph when the edge exists.
  [[nodiscard]] Make add(const key& a, const key& b, const L& l) const& {
    if (mem_edge(a, b, l)) return *this;  // no path copied for nothing
    return Make(*this).add(a, b, l);
  }
  [[nodiscard]] Make add(const key& a, const key& b, const L& l) && {
    // The edge test rides on the update of a's successors; the tables stay in step because an edge is in
    // both or in neither.
    const std::uint64_t stamp = next_stamp_;
    bool fresh = false;
    succ_ = std::move(succ_).update(a, [&](adjacency& x) {
      if (x.stamps.contains(end{b, l})) return;
      x.link(b, l, stamp);
      fresh = true;
    });
    if (!fresh) return std::move(*this);
    ++next_stamp_;
    pred_ = std::move(pred_).update(b, [&](adjacency& x) { x.link(a, l, stamp); });
    auto nothing = [](adjacency&) {};
    if (!succ_.contains(b)) succ_ = std::move(succ_).update(b, nothing);
    if (!pred_.contains(a)) pred_ = std::move(pred_).update(a, nothing);
    return std::move(*this);
  }

  /// The graph without the edges from a to b whose label satisfies p. a becomes a key of the successor
  /// table and b of the predecessor table when they were not.
  template <class P>
  [[nodiscard]] Make rem(const key& a, const key& b, P&& p) const& {
    return Make(*this).rem(a, b, std::forward<P>(p));
  }
  template <class P>
  [[nodiscard]] Make rem(const key& a, const key& b, P&& p) && {
    std::vector<std::pair<L, std::uint64_t>> gone;
    if (const adjacency* x = succ_.find(a))
      x->stamps.for_each_equivalent(b, [&](const end& e, std::uint64_t stamp) {
        if (p(e.second)) gone.emplace_back(e.second, stamp);
      });
    succ_ = std::move(succ_).update(a, [&](adjacency& x) {
      for (const auto& [l, stamp] : gone) x.unlink(end{b, l}, stamp);
    });
    pred_ = std::move(pred_).update(b, [&](adjacency& x) {
      for (const auto& [l, stamp] : gone) x.unlink(end{a, l}, stamp);
    });
    return std::move(*this);
  }
  /// The graph without every edge from a to b.
  [[nodiscard]] Make rem_all(const key& a, const key& b) const& { return rem(a, b, [](const L&) { return true; }); }
  [[nodiscard]] Make rem_all(const key& a, const key& b) && {
    return std::move(*this).rem(a, b, [](const L&) { return true; });
  }

  /// The graph without every edge that leaves or enters n; n stays with empty lists.
  [[nodiscard]] Make isolate(const key& n) const& { return Make(*this).isolate(n); }
  [[nodiscard]] Make isolate(const key& n) && {
    detach(succ_, pred_, n);
    detach(pred_, succ_, n);
    return std::move(*this);
  }
  /// `isolate` of n, then n removed from both tables.
  [[nodiscard]] Make remove_node(const key& n) const& { return Make(*this).remove_node(n); }
  [[nodiscard]] Make remove_node(const key& n) && {
    Make r = std::move(*this).isolate(n);
    r.succ_ = std::move(r.succ_).remove(n);
    r.pred_ = std::move(r.pred_).remove(n);
    return r;
  }

  /// The nodes without predecessors, in descending key order.
  [[nodiscard]] std::vector<key> pred_roots() const { return roots_of(pred_); }
  /// The nodes without successors, in descending key order.
  [[nodiscard]] std::vector<key> succ_roots() const { return roots_of(succ_); }

  /// The graph with every edge reversed.
  [[nodiscard]] Make reverse() const {
    Make r = *this;
    std::swap(r.succ_, r.pred_);
    return r;
  }

  /// Calls f(node, successor list) for each node of the successor table, in ascending key order.
  template <class F>
  void iter_succ(F&& f) const {
    succ_.for_each([&](const key& k, const adjacency& x) { f(k, x.newest_first()); });
  }
  /// The same with predecessor lists.
  template <class F>
  void iter_pred(F&& f) const {
    pred_.for_each([&](const key& k, const adjacency& x) { f(k, x.newest_first()); });
  }
  /// The keys of the successor table, ascending.
  [[nodiscard]] std::vector<key> nodes() const {
    std::vector<key> out;
    out.reserve(succ_.size());
    succ_.for_each([&](const key& k, const adjacency&) { out.push_back(k); });
    return out;
  }

  /// The graph in the dot language. Without an edge describer (an empty function) edges have no attributes.
  [[nodiscard]] std::string dot_of_graph(const edge_describer& describe_edge,
                                         const node_describer& describe_node) const {
    std::string out = "digraph G {ratio=auto;\n";
    out += "margin=\"0.1,0.1\";\n";
    std::set<key, key_compare> written;
    auto write_node = [&](const key& n) -> std::string {
      auto [ident, text, more] = describe_node(n);
      if (written.insert(n).second) {
        attrs all{{"label", text}};
        all.insert(all.end(), more.begin(), more.end());
        out += ident + " " + string_of_attrs(all) + ";\n";
      }
      return ident;
    };
    succ_.for_each([&](const key& k, const adjacency& x) {
      const std::string source = write_node(k);
      x.ends.for_each_desc([&](std::uint64_t, const end& e) {
        const std::string target = write_node(e.first);
        attrs edge_attrs;
        if (describe_edge) {
          auto [text, more] = describe_edge(e.second);
          edge_attrs.emplace_back("label", text);
          edge_attrs.insert(edge_attrs.end(), more.begin(), more.end());
        }
        out += source + " -> " + target + " " + string_of_attrs(edge_attrs) + ";\n";
      });
    });
    out += "}\n";
    return out;
  }

  /// The nodes in topological order: repeatedly the greatest node without predecessors, removed from the
  /// graph. Nodes on or behind a cycle are left out.
  [[nodiscard]] std::vector<key> nodes_by_pred_order() const {
    // In-degrees over the predecessor table's keys; positions in key order, so the greatest position is the
    // greatest key.
    std::vector<key> keys;
    std::vector<std::size_t> in_degree;
    keys.reserve(pred_.size());
    in_degree.reserve(pred_.size());
    pred_.for_each([&](const key& k, const adjacency& x) {
      keys.push_back(k);
      in_degree.push_back(x.ends.size());
    });
    std::priority_queue<std::size_t> roots;
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (in_degree[i] == 0) roots.push(i);
    std::vector<key> out;
    while (!roots.empty()) {
      const std::size_t u = roots.top();
      roots.pop();
      out.push_back(keys[u]);
      const adjacency* x = succ_.find(keys[u]);
      if (x == nullptr) continue;
      x->ends.for_each([&](std::uint64_t, const end& e) {
        const std::size_t v = position(keys, e.first);
        if (--in_degree[v] == 0) roots.push(v);
      });
    }
    return out;
  }

  /// The cheapest path from source to destination over the keys of the successor table. cost(g, u, v)
  /// answers nothing (no usable step) or (step cost, step information). Throws Not_found when the path is
  /// empty (no path, destination equal to the source, or not a node).
  template <class F>
  [[nodiscard]] auto shortest_path(F&& cost, const key& source, const key& destination) const {
    using answer = std::invoke_result_t<F&, const Make&, const key&, const key&>;
    using Info = typename answer::value_type::second_type;
    const std::vector<key> keys = nodes();
    const std::size_t n = keys.size();
    const double infinity = std::numeric_limits<double>::infinity();
    std::vector<double> distance(n, infinity);
    std::vector<bool> visited(n, false);
    std::vector<std::optional<std::pair<std::size_t, Info>>> previous(n);
    const std::optional<std::size_t> s = find_position(keys, source);
    if (s) distance[*s] = 0.0;
    for (std::size_t step_key = 0; step_key < n; ++step_key) {
      if (pred_count(keys[step_key]) == 0) continue;
      // Strict comparison: the first key in ascending order wins ties, an infinite distance never.
      std::optional<std::size_t> selected;
      double best = infinity;
      for (std::size_t i = 0; i < n; ++i)
        if (!visited[i] && distance[i] < best) {
          best = distance[i];
          selected = i;
        }
      if (!selected) continue;
      const std::size_t u = *selected;
      visited[u] = true;
      for (std::size_t v = 0; v < n; ++v) {
        if (visited[v]) continue;
        const answer a = cost(*this, keys[u], keys[v]);
        if (!a) continue;
        if (distance[v] > distance[u] + a->first) {
          distance[v] = distance[u] + a->first;
          previous[v] = std::pair<std::size_t, Info>(u, a->second);
        }
      }
    }
    const std::optional<std::size_t> d = find_position(keys, destination);
    if (!d) throw Not_found();
    std::vector<step<Info>> path;
    for (std::size_t cur = *d; previous[cur];) {
      const auto& [p, info] = *previous[cur];
      path.push_back(step<Info>{keys[p], info, keys[cur]});
      cur = p;
    }
    if (path.empty()) throw Not_found();
    std::reverse(path.begin(), path.end());
    return path;
  }

 private:
  static edge_list list_of(const node_table& t, const key& n) {
    const adjacency* x = t.find(n);
    return x != nullptr ? x->newest_first() : edge_list{};
  }
  static std::size_t count_of(const node_table& t, const key& n) {
    const adjacency* x = t.find(n);
    return x != nullptr ? x->ends.size() : 0;
  }
  static std::vector<key> roots_of(const node_table& t) {
    std::vector<key> out;
    t.for_each_desc([&](const key& k, const adjacency& x) {
      if (x.ends.empty()) out.push_back(k);
    });
    return out;
  }
  // Removes every edge of n's list in `own` (keeping n with an empty list) and their mirrors in `other`.
  static void detach(node_table& own, node_table& other, const key& n) {
    const adjacency* x = own.find(n);
    if (x == nullptr || x->ends.empty()) return;
    const auto gone = x->ends.bindings();
    for (const auto& [stamp, e] : gone)
      other = std::move(other).update(e.first, [&](adjacency& y) { y.unlink(end{n, e.second}, stamp); });
    own = std::move(own).update(n, [](adjacency& y) { y = adjacency{}; });
  }
  static std::optional<std::size_t> find_position(const std::vector<key>& keys, const key& k) {
    auto it = std::lower_bound(keys.begin(), keys.end(), k, key_compare{});
    if (it == keys.end() || key_compare{}(k, *it)) return std::nullopt;
    return static_cast<std::size_t>(it - keys.begin());
  }
  static std::size_t position(const std::vector<key>& keys, const key& k) {
    if (auto p = find_position(keys, k)) return *p;
    base_types::internal_error("graph: successor missing from the predecessor table");
  }

  node_table succ_;
  node_table pred_;
  std::uint64_t next_stamp_ = 0;
};

/// The graph over an ordered map of node keys.
template <class K, class L, class KeyCompare = std::less<K>, class LabelCompare = std::less<L>>
using Make_with_map = Make<map_node_table<K, KeyCompare>, L, LabelCompare>;

}  // namespace cvn::graph
