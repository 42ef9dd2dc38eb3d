#pragma once
// The immutable, edge-labelled directed graph under every model.
//
// Two node tables, successors and predecessors, always describe the same edges; they are kept as the two
// sides of one map of node entries, so an edge insertion walks one tree twice, not two trees four times.
// Each edge carries an insertion stamp, so that lists come out newest first. A node with few edges keeps
// them in a small block in stamp order; a node with many keeps them in two persistent maps, one by (other
// end, label), so that adding, removing and testing an edge never scans the node's edges, and one in stamp
// order. Stamps grow along the versions of one graph; a kept edge keeps its stamp, hence its place.
//
// Edges hold their labels by index into a pool that every version derived from one graph shares (labels
// are values and few distinct ones exist), unless a label is a small trivially copyable value, held as is.
// The pool only grows: a version never holds an index that was added after it, so sharing it changes no
// version. The label order must be total: two labels it finds equivalent are one label, stored once. Only
// edits write the pool, so copies of a graph may be queried from several threads, as long as no thread
// edits any of them meanwhile: an edit may add a label, and adding one may reallocate the table through
// which the pool finds its labels.
//
// Keys that map to machine words in their own order (integers, table identifiers) get a node table on a
// radix trie (a few nodes per lookup); others get the ordered map. Both visit keys in ascending order.
#include <algorithm>
#include <concepts>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <limits>
#include <new>
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
#include "base/radix.h"
#include "base/rc.h"
#include "base/tmap.h"

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

/// How a key type maps onto unsigned 64-bit words in the same order as std::less (so that a radix trie
/// visits keys in ascending order); `enabled` is false for keys that do not.
template <class K, class = void>
struct key_bits {
  static constexpr bool enabled = false;
};
template <class K>
struct key_bits<K, std::enable_if_t<std::is_integral_v<K> && sizeof(K) <= sizeof(std::uint64_t)>> {
  static constexpr bool enabled = true;
  static std::uint64_t to(K k) {
    if constexpr (std::is_signed_v<K>)
      return static_cast<std::uint64_t>(static_cast<std::int64_t>(k)) ^ (std::uint64_t{1} << 63);
    else
      return static_cast<std::uint64_t>(k);
  }
  static K from(std::uint64_t b) {
    if constexpr (std::is_signed_v<K>)
      return static_cast<K>(static_cast<std::int64_t>(b ^ (std::uint64_t{1} << 63)));
    else
      return static_cast<K>(b);
  }
};
template <class Tag>
struct key_bits<tmap::ident<Tag>> {
  static constexpr bool enabled = true;
  static std::uint64_t to(tmap::ident<Tag> k) { return key_bits<std::int64_t>::to(k.value); }
  static tmap::ident<Tag> from(std::uint64_t b) { return tmap::ident<Tag>{key_bits<std::int64_t>::from(b)}; }
};

/// Node table on a big-endian radix trie (base/radix.h), for keys that key_bits maps to words: a lookup
/// visits a handful of nodes where a balanced tree visits one per halving. Visits keep ascending key order.
template <class K>
struct trie_node_table {
  static_assert(key_bits<K>::enabled);
  using key = K;
  using key_compare = std::less<K>;
  template <class V>
  class map {
    using bits = key_bits<K>;

   public:
    [[nodiscard]] std::size_t size() const { return trie_.size(); }
    [[nodiscard]] bool empty() const { return trie_.empty(); }
    [[nodiscard]] const V* find(const K& k) const { return trie_.find(bits::to(k)); }
    [[nodiscard]] bool contains(const K& k) const { return trie_.contains(bits::to(k)); }
    template <class F>
    [[nodiscard]] map update(const K& k, F&& f) && {
      trie_ = std::move(trie_).update(bits::to(k), std::forward<F>(f));
      return std::move(*this);
    }
    [[nodiscard]] map remove(const K& k) && {
      trie_ = std::move(trie_).remove(bits::to(k));
      return std::move(*this);
    }
    template <class F>
    void for_each(F&& f) const {
      trie_.for_each([&](std::uint64_t b, const V& v) { f(bits::from(b), v); });
    }
    template <class F>
    void for_each_desc(F&& f) const {
      trie_.for_each_desc([&](std::uint64_t b, const V& v) { f(bits::from(b), v); });
    }
    [[nodiscard]] bool invariants_hold() const { return trie_.invariants_hold(); }

   private:
    radix_map<V> trie_;
  };
};

/// The node table Make_with_map uses: the trie when the key maps to words in std::less order, else the map.
template <class K, class KeyCompare>
using default_node_table = std::conditional_t<key_bits<K>::enabled && std::is_same_v<KeyCompare, std::less<K>>,
                                              trie_node_table<K>, map_node_table<K, KeyCompare>>;

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
  // Labels. A small trivially copyable label is stored in each edge entry as it is. Any other is interned in
  // a pool shared by every version derived from one graph, and entries hold its index: the pool only grows
  // (an older version never sees the indices that newer ones added), equal labels (under LabelCompare)
  // share one index, and a deque keeps every label at its place while the pool grows.
  static constexpr bool pooled = !(std::is_trivially_copyable_v<L> && sizeof(L) <= sizeof(std::uint64_t));
  using label_id = std::conditional_t<pooled, std::uint32_t, L>;
  using label_id_compare = std::conditional_t<pooled, std::less<std::uint32_t>, LabelCompare>;
  struct label_pool {
    std::uint32_t refs = 1;
    std::deque<L> labels;
    std::map<L, std::uint32_t, LabelCompare> index;
    // The labels found last: edges added one after another mostly carry one of a few labels, and a
    // comparison with each costs less than a walk down the index.
    static constexpr std::size_t recent_size = 4;
    std::uint32_t recent[recent_size] = {};
    std::uint32_t recent_count = 0;
    std::optional<std::uint32_t> find_recent(const L& l) const {
      for (std::uint32_t i = 0; i < recent_count && i < recent_size; ++i) {
        const L& x = labels[recent[i]];
        if (same_label(l, x)) return recent[i];
      }
      return std::nullopt;
    }
    void note_recent(std::uint32_t id) { recent[recent_count++ % recent_size] = id; }
    // Equivalence under LabelCompare: one == where the order is the type's own (for a variant, one test of
    // the alternative instead of two orderings).
    static bool same_label(const L& a, const L& b) {
      if constexpr (std::is_same_v<LabelCompare, std::less<L>> && std::equality_comparable<L>)
        return a == b;
      else
        return !LabelCompare{}(a, b) && !LabelCompare{}(b, a);
    }
  };
  using pool_ptr = rc::ptr<label_pool>;
  // The index of l, added to the pool when new.
  label_id intern(const L& l) {
    if constexpr (pooled) {
      if (!pool_) pool_ = pool_ptr(rc::create<label_pool>());
      label_pool& p = *pool_;
      if (const std::optional<std::uint32_t> id = p.find_recent(l)) return *id;
      auto it = p.index.lower_bound(l);
      if (it != p.index.end() && !LabelCompare{}(l, it->first)) {
        p.note_recent(it->second);
        return it->second;
      }
      if (p.labels.size() >= (std::size_t{1} << label_bits))
        base_types::internal_error("graph: too many distinct edge labels");
      const auto id = static_cast<std::uint32_t>(p.labels.size());
      p.labels.push_back(l);
      p.index.emplace_hint(it, l, id);
      p.note_recent(id);
      return id;
    } else {
      return l;
    }
  }
  // The index of l when some edge of this pool's graphs ever carried it. Only `intern` notes recent labels:
  // a query leaves the shared pool as it is.
  [[nodiscard]] std::optional<label_id> find_label(const L& l) const {
    if constexpr (pooled) {
      if (!pool_) return std::nullopt;
      if (const std::optional<std::uint32_t> id = pool_->find_recent(l)) return id;
      auto it = pool_->index.find(l);
      if (it == pool_->index.end()) return std::nullopt;
      return it->second;
    } else {
      return l;
    }
  }
  [[nodiscard]] const L& label_of(const label_id& id) const {
    if constexpr (pooled)
      return pool_->labels[id];
    else
      return id;
  }

  using end = std::pair<key, label_id>;
  // Orders (other end, label) pairs; a bare key probes every pair with that end.
  struct end_compare {
    bool operator()(const end& a, const end& b) const {
      if (key_compare{}(a.first, b.first)) return true;
      if (key_compare{}(b.first, a.first)) return false;
      return label_id_compare{}(a.second, b.second);
    }
    bool operator()(const end& a, const key& b) const { return key_compare{}(a.first, b); }
    bool operator()(const key& a, const end& b) const { return key_compare{}(a, b.first); }
  };
  // A node's edges. Most nodes have a handful: those sit in one small block in insertion order (a scan of
  // a few entries beats any lookup); past small_max edges the node switches to the two maps, which never
  // scan. Both stores are shared between versions and copied only when a shared one is written.
  static constexpr std::uint32_t small_max = 8;
  // An edge of a small block. With pooled labels, the stamp and the label index share one word (stamp_bits
  // and label_bits bits), so that an entry is a word and a key.
  static constexpr unsigned label_bits = 24;
  static constexpr unsigned stamp_bits = 64 - label_bits;
  struct plain_entry {
    std::uint64_t stamp_ = 0;
    end e_{};
    plain_entry() = default;
    plain_entry(std::uint64_t stamp, const end& e) : stamp_(stamp), e_(e) {}
    [[nodiscard]] std::uint64_t stamp() const { return stamp_; }
    [[nodiscard]] const end& e() const { return e_; }
    [[nodiscard]] const key& other() const { return e_.first; }
  };
  struct packed_entry {
    std::uint64_t word_ = 0;
    key other_{};
    packed_entry() = default;
    packed_entry(std::uint64_t stamp, const end& e)
        : word_(stamp << label_bits | static_cast<std::uint64_t>(e.second)), other_(e.first) {}
    [[nodiscard]] std::uint64_t stamp() const { return word_ >> label_bits; }
    [[nodiscard]] end e() const {
      return end{other_, static_cast<label_id>(word_ & ((std::uint64_t{1} << label_bits) - 1))};
    }
    [[nodiscard]] const key& other() const { return other_; }
  };
  using edge_entry = std::conditional_t<pooled, packed_entry, plain_entry>;
  struct small_block {
    std::uint32_t refs = 1;
    std::uint16_t count = 0;
    std::uint16_t capacity = 0;
    static constexpr std::size_t offset =
        (sizeof(std::uint32_t) + sizeof(std::uint16_t) * 2 + alignof(edge_entry) - 1) / alignof(edge_entry) *
        alignof(edge_entry);
    edge_entry* items() { return std::launder(reinterpret_cast<edge_entry*>(reinterpret_cast<char*>(this) + offset)); }
    const edge_entry* items() const {
      return std::launder(reinterpret_cast<const edge_entry*>(reinterpret_cast<const char*>(this) + offset));
    }
    static std::size_t bytes(std::uint32_t capacity) { return offset + capacity * sizeof(edge_entry); }
    // A block of the given capacity holding the entries of `from` except the one at `skip`.
    static small_block* make(std::uint32_t capacity, const small_block* from, std::uint32_t skip) {
      static_assert(alignof(edge_entry) <= pool::slab_heap::grain);
      void* m = pool::allocate(bytes(capacity));
      small_block* r = ::new (m) small_block{1, 0, static_cast<std::uint16_t>(capacity)};
      try {
        if (from != nullptr)
          for (std::uint32_t i = 0; i < from->count; ++i)
            if (i != skip) {
              ::new (r->items() + r->count) edge_entry(from->items()[i]);
              ++r->count;
            }
      } catch (...) {
        destroy(r);
        throw;
      }
      return r;
    }
    static void destroy(small_block* p) noexcept {
      for (std::uint32_t i = 0; i < p->count; ++i) p->items()[i].~edge_entry();
      const std::size_t n = bytes(p->capacity);
      p->~small_block();
      pool::deallocate(static_cast<void*>(p), n);
    }
  };
  // The two maps of a node with many edges. One holds edge entries as keys (and nothing as values),
  // ordered by (other end, label), ignoring the stamp field, so that a probe built with any stamp finds an
  // edge; there the stamp field holds the edge's sequence number within the node. The other, a radix trie,
  // maps sequence numbers to the entries with their stamps: sequence numbers are dense and only grow, so
  // insertions follow one cached path and the entries sit inline in full blocks (stamps, shared by the whole
  // graph, would leave a hub's blocks mostly empty). Both orders agree, since a node's edges are added in
  // stamp order.
  struct nothing {};
  struct by_end {
    bool operator()(const edge_entry& a, const edge_entry& b) const { return end_compare{}(a.e(), b.e()); }
    bool operator()(const edge_entry& a, const key& b) const { return key_compare{}(a.other(), b); }
    bool operator()(const key& a, const edge_entry& b) const { return key_compare{}(a, b.other()); }
  };
  // The first map is built only when needed. A node usually gets its many edges from nodes made after it (a
  // definition's references, a port's readers), in ascending order of end: while that holds, and nothing
  // has been removed, the entries by sequence number are sorted by end too, and a binary search over them
  // finds an end. The map is built at the first edge out of that order or the first removal, and kept.
  struct big_block {
    pmap<edge_entry, nothing, by_end> ends;
    radix_map<edge_entry> order;
    std::uint64_t next = 0;
    std::uint32_t refs = 1;
    bool indexed = false;  // `ends` is built; otherwise `order` holds sequence numbers 0 to next - 1 by end
    edge_entry last{};     // the newest entry, which every insertion compares with while unindexed

    [[nodiscard]] std::size_t size() const { return order.size(); }
    [[nodiscard]] bool contains(const end& e) const {
      if (indexed) return ends.contains(edge_entry(0, e));
      const auto below = [&](const edge_entry& x) { return end_compare{}(x.e(), e); };
      if (next == 0 || below(last)) return false;  // the usual probe: a new end
      const std::uint64_t i = first_not_below(below);
      return i < next && same_end(order.get(i).e(), e);
    }
    // A new edge.
    void add(const edge_entry& x) {
      if (!indexed && next > 0 && !end_compare{}(last.e(), x.e())) build_ends();
      if (indexed) ends = std::move(ends).add(edge_entry(next, x.e()), nothing{});
      order = std::move(order).add(next, x);
      last = x;
      ++next;
    }
    // The edge to x's end, if present.
    void remove(const edge_entry& x) {
      if (!indexed) build_ends();
      std::optional<std::uint64_t> seq;
      ends.for_each_equivalent(x.other(), [&](const edge_entry& y, const nothing&) {
        if (same_end(y.e(), x.e())) seq = y.stamp();
      });
      if (!seq) return;
      ends = std::move(ends).remove(edge_entry(*seq, x.e()));
      order = std::move(order).remove(*seq);
    }
    // f(entry), oldest first.
    template <class F>
    void for_each(F&& f) const {
      order.for_each([&](std::uint64_t, const edge_entry& x) { f(x); });
    }
    // f(entry), newest first, until f returns true; true when it did.
    template <class F>
    bool for_each_desc_until(F&& f) const {
      return order.for_each_desc_until([&](std::uint64_t, const edge_entry& x) { return f(x); });
    }
    // f(entry) over the edges whose other end is k.
    template <class F>
    void for_each_to(const key& k, F&& f) const {
      if (indexed) {
        ends.for_each_equivalent(k, [&](const edge_entry& y, const nothing&) { f(order.get(y.stamp())); });
        return;
      }
      for (std::uint64_t i = first_not_below([&](const edge_entry& x) { return key_compare{}(x.other(), k); });
           i < next; ++i) {
        const edge_entry& x = order.get(i);
        if (key_compare{}(k, x.other())) break;
        f(x);
      }
    }

   private:
    // Unindexed: the first sequence number whose entry `below` does not hold for (next when none); `below`
    // holds for a prefix of the entries, which are in order of end.
    template <class Below>
    [[nodiscard]] std::uint64_t first_not_below(Below&& below) const {
      std::uint64_t lo = 0, hi = next;
      while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (below(order.get(mid)))
          lo = mid + 1;
        else
          hi = mid;
      }
      return lo;
    }
    void build_ends() {
      order.for_each([&](std::uint64_t seq, const edge_entry& x) {
        ends = std::move(ends).add(edge_entry(seq, x.e()), nothing{});
      });
      indexed = true;
    }
  };
  static bool same_end(const end& a, const end& b) { return !end_compare{}(a, b) && !end_compare{}(b, a); }

  // A node's edges in one direction: none, a small block, or the two maps. One tagged word (low bit set for
  // the maps) rather than two pointers, so that a node's entry, copied on every path copy, stays small.
  class adjacency {
   public:
    adjacency() = default;
    adjacency(const adjacency& o) noexcept : bits_(o.bits_) {
      if (small_block* s = small()) ++s->refs;
      else if (big_block* b = big()) ++b->refs;
    }
    adjacency(adjacency&& o) noexcept : bits_(std::exchange(o.bits_, 0)) {}
    adjacency& operator=(adjacency o) noexcept {
      std::swap(bits_, o.bits_);
      return *this;
    }
    ~adjacency() { release(); }

    [[nodiscard]] std::size_t size() const {
      if (const big_block* b = big()) return b->size();
      const small_block* s = small();
      return s != nullptr ? s->count : 0;
    }
    [[nodiscard]] bool empty() const { return size() == 0; }
    [[nodiscard]] bool contains(const end& e) const {
      if (const big_block* b = big()) return b->contains(e);
      if (const small_block* s = small())
        for (std::uint32_t i = 0; i < s->count; ++i)
          if (same_end(s->items()[i].e(), e)) return true;
      return false;
    }
    void link(const key& other, const label_id& l, std::uint64_t stamp) {
      big_block* b = big();
      if (b == nullptr && size() < small_max) {
        small_block* s = small();
        const std::uint32_t n = s != nullptr ? s->count : 0;
        if (s == nullptr || s->refs != 1 || s->capacity == n) {
          const std::uint32_t capacity = n == 0 ? 1 : std::min(2 * n, small_max);
          set_small(small_block::make(capacity, s, n));
          s = small();
        }
        ::new (s->items() + n) edge_entry(stamp, end{other, l});
        ++s->count;
        return;
      }
      if (b == nullptr) {
        rc::ptr<big_block> fresh(rc::create<big_block>());
        const small_block* s = small();
        for (std::uint32_t i = 0; i < s->count; ++i) fresh->add(s->items()[i]);
        set_big(take(std::move(fresh)));
      } else if (b->refs != 1) {
        set_big(rc::create<big_block>(*b));
      }
      b = big();
      b->add(edge_entry(stamp, end{other, l}));
    }
    void unlink(const end& e, std::uint64_t stamp) {
      if (big_block* b = big()) {
        if (b->refs != 1) set_big(rc::create<big_block>(*b));
        b = big();
        b->remove(edge_entry(stamp, e));
        return;
      }
      small_block* s = small();
      if (s == nullptr) return;
      std::uint32_t i = 0;
      while (i < s->count && s->items()[i].stamp() != stamp) ++i;
      if (i == s->count) return;
      if (s->refs != 1) {
        set_small(small_block::make(s->capacity, s, i));
        return;
      }
      edge_entry* items = s->items();
      for (; i + 1 < s->count; ++i) items[i] = std::move(items[i + 1]);
      items[s->count - 1].~edge_entry();
      --s->count;
    }
    // f(stamp, end) over the edges, oldest first.
    template <class F>
    void for_each(F&& f) const {
      if (const big_block* b = big())
        b->for_each([&](const edge_entry& x) { f(x.stamp(), x.e()); });
      else if (const small_block* s = small())
        for (std::uint32_t i = 0; i < s->count; ++i) f(s->items()[i].stamp(), s->items()[i].e());
    }
    // f(stamp, end) over the edges, newest first.
    template <class F>
    void for_each_newest(F&& f) const {
      if (const big_block* b = big())
        b->for_each_desc_until([&](const edge_entry& x) {
          f(x.stamp(), x.e());
          return false;
        });
      else if (const small_block* s = small())
        for (std::uint32_t i = s->count; i-- > 0;) f(s->items()[i].stamp(), s->items()[i].e());
    }
    // f(end, stamp) over the edges whose other end is k.
    template <class F>
    void for_each_to(const key& k, F&& f) const {
      if (const big_block* b = big()) {
        b->for_each_to(k, [&](const edge_entry& x) { f(x.e(), x.stamp()); });
        return;
      }
      if (const small_block* s = small())
        for (std::uint32_t i = 0; i < s->count; ++i) {
          const edge_entry& x = s->items()[i];
          if (!key_compare{}(x.other(), k) && !key_compare{}(k, x.other())) f(x.e(), x.stamp());
        }
    }
    // f(end) over the edges, newest first, until it returns true; true when it did.
    template <class F>
    bool any_newest(F&& f) const {
      if (const big_block* b = big()) return b->for_each_desc_until([&](const edge_entry& x) { return f(x.e()); });
      if (const small_block* s = small())
        for (std::uint32_t i = s->count; i-- > 0;)
          if (f(s->items()[i].e())) return true;
      return false;
    }

   private:
    static constexpr std::uintptr_t big_tag = 1;
    static_assert(alignof(small_block) > 1 && alignof(big_block) > 1);

    [[nodiscard]] small_block* small() const {
      return (bits_ & big_tag) != 0 ? nullptr : reinterpret_cast<small_block*>(bits_);
    }
    [[nodiscard]] big_block* big() const {
      return (bits_ & big_tag) != 0 ? reinterpret_cast<big_block*>(bits_ & ~big_tag) : nullptr;
    }
    void release() noexcept {
      if (small_block* s = small()) {
        if (--s->refs == 0) small_block::destroy(s);
      } else if (big_block* b = big()) {
        if (--b->refs == 0) rc::plain_dispose<big_block>{}(b);
      }
    }
    // Both adopt a block whose count already accounts for this reference, dropping the current one.
    void set_small(small_block* p) noexcept {
      release();
      bits_ = reinterpret_cast<std::uintptr_t>(p);
    }
    void set_big(big_block* p) noexcept {
      release();
      bits_ = reinterpret_cast<std::uintptr_t>(p) | big_tag;
    }
    static big_block* take(rc::ptr<big_block>&& p) {
      big_block* raw = p.get();
      ++raw->refs;
      p = nullptr;
      return raw;
    }

    std::uintptr_t bits_ = 0;
  };
  // A node's edges in both directions, and whether it is a key of each of the two tables. The key sets can
  // differ: a removal between absent nodes binds only its source among successors and its target among
  // predecessors. A side that is not listed has no edges. One map of entries, rather than one map per
  // direction, halves the lookups and path copies of an edge insertion.
  struct entry {
    adjacency side[2];
    bool listed[2] = {false, false};
  };
  using node_table = typename Table::template map<entry>;

 public:
  /// The empty graph.
  [[nodiscard]] static Make create() { return Make(); }

  /// The successor list of a, newest first; empty when a is not in the graph.
  [[nodiscard]] edge_list succ(const key& a) const { return list_of(a, out_); }
  /// The predecessor list of b, newest first; empty when b is not in the graph.
  [[nodiscard]] edge_list pred(const key& b) const { return list_of(b, in()); }
  /// f(other end, label) over the edges leaving a / entering b, newest first, until f returns true; true when
  /// it did. Unlike succ / pred, builds no list.
  template <class F>
  bool any_succ(const key& a, F&& f) const {
    return any_of_side(a, out_, f);
  }
  template <class F>
  bool any_pred(const key& b, F&& f) const {
    return any_of_side(b, in(), f);
  }
  /// The number of edges leaving / entering a node.
  [[nodiscard]] std::size_t succ_count(const key& a) const { return count_of(a, out_); }
  [[nodiscard]] std::size_t pred_count(const key& b) const { return count_of(b, in()); }
  /// The number of distinct labels interned in the pool this graph shares with its relatives (0 when labels
  /// are stored in the edges themselves); for the tests.
  [[nodiscard]] std::size_t label_pool_size() const {
    if constexpr (pooled)
      return pool_ ? pool_->labels.size() : 0;
    else
      return 0;
  }
  /// Structural validity of the node table; for the tests.
  [[nodiscard]] bool table_invariants_hold() const { return table_.invariants_hold(); }
  /// True when n is a key of either table.
  [[nodiscard]] bool mem_node(const key& n) const { return table_.contains(n); }
  /// True when the edge from a to b labelled l (or an equal label) exists.
  [[nodiscard]] bool mem_edge(const key& a, const key& b, const L& l) const {
    const entry* x = table_.find(a);
    if (x == nullptr) return false;
    const std::optional<label_id> id = find_label(l);
    return id && x->side[out_].contains(end{b, *id});
  }

  /// The graph with the edge from a to b labelled l; the same graph when the edge exists.
  [[nodiscard]] Make add(const key& a, const key& b, const L& l) const& {
    if (mem_edge(a, b, l)) return *this;  // no path copied for nothing
    return Make(*this).add(a, b, l);
  }
  [[nodiscard]] Make add(const key& a, const key& b, const L& label) && {
    // The edge test rides on the update of a's successors; both ends become keys of both tables.
    const label_id l = intern(label);
    const std::uint64_t stamp = next_stamp_;
    if (pooled && stamp >= (std::uint64_t{1} << stamp_bits)) base_types::internal_error("graph: too many edge insertions");
    const int s = out_, p = in();
    bool fresh = false;
    table_ = std::move(table_).update(a, [&](entry& x) {
      x.listed[s] = true;
      if (x.side[s].contains(end{b, l})) return;
      x.side[s].link(b, l, stamp);
      x.listed[p] = true;
      fresh = true;
    });
    if (!fresh) return std::move(*this);
    ++next_stamp_;
    table_ = std::move(table_).update(b, [&](entry& x) {
      x.side[p].link(a, l, stamp);
      x.listed[s] = x.listed[p] = true;
    });
    return std::move(*this);
  }

  /// An edge for `add_new`.
  struct new_edge {
    key from;
    key to;
    L label;
  };
  /// The graph with the edges of `es`, added in their order (as `add` one by one would). None of them may
  /// be in the graph yet, nor appear twice, as when each has a new node at one end: no edge is tested, and
  /// a node that several of them touch has its entry written once, not once per edge.
  [[nodiscard]] Make add_new(const std::vector<new_edge>& es) && {
    struct half {
      key node;
      key other;
      label_id l;
      std::uint64_t stamp;
      int side;
    };
    std::vector<half> halves;
    halves.reserve(2 * es.size());
    const int s = out_, p = in();
    for (const new_edge& e : es) {
      const label_id l = intern(e.label);
      const std::uint64_t stamp = next_stamp_++;
      if (pooled && stamp >= (std::uint64_t{1} << stamp_bits)) base_types::internal_error("graph: too many edge insertions");
      halves.push_back(half{e.from, e.to, l, stamp, s});
      halves.push_back(half{e.to, e.from, l, stamp, p});
    }
    // Stable: a node's own links stay in stamp order. Batches are mostly a few edges, sorted in place.
    const auto by_node = [](const half& x, const half& y) { return key_compare{}(x.node, y.node); };
    if (halves.size() <= 32) {
      for (std::size_t i = 1; i < halves.size(); ++i)
        for (std::size_t j = i; j > 0 && by_node(halves[j], halves[j - 1]); --j) std::swap(halves[j], halves[j - 1]);
    } else {
      std::stable_sort(halves.begin(), halves.end(), by_node);
    }
    for (std::size_t i = 0; i < halves.size();) {
      std::size_t j = i + 1;
      while (j < halves.size() && !key_compare{}(halves[i].node, halves[j].node)) ++j;
      table_ = std::move(table_).update(halves[i].node, [&](entry& x) {
        for (std::size_t k = i; k < j; ++k) x.side[halves[k].side].link(halves[k].other, halves[k].l, halves[k].stamp);
        x.listed[s] = x.listed[p] = true;
      });
      i = j;
    }
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
    std::vector<std::pair<label_id, std::uint64_t>> gone;
    const int s = out_, q = in();
    if (const entry* x = table_.find(a))
      x->side[s].for_each_to(b, [&](const end& e, std::uint64_t stamp) {
        if (p(label_of(e.second))) gone.emplace_back(e.second, stamp);
      });
    table_ = std::move(table_).update(a, [&](entry& x) {
      x.listed[s] = true;
      for (const auto& [l, stamp] : gone) x.side[s].unlink(end{b, l}, stamp);
    });
    table_ = std::move(table_).update(b, [&](entry& x) {
      x.listed[q] = true;
      for (const auto& [l, stamp] : gone) x.side[q].unlink(end{a, l}, stamp);
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
    detach(n, out_);
    detach(n, in());
    return std::move(*this);
  }
  /// `isolate` of n, then n removed from both tables.
  [[nodiscard]] Make remove_node(const key& n) const& { return Make(*this).remove_node(n); }
  [[nodiscard]] Make remove_node(const key& n) && {
    Make r = std::move(*this).isolate(n);
    r.table_ = std::move(r.table_).remove(n);
    return r;
  }

  /// The nodes without predecessors, in descending key order.
  [[nodiscard]] std::vector<key> pred_roots() const { return roots_of(in()); }
  /// The nodes without successors, in descending key order.
  [[nodiscard]] std::vector<key> succ_roots() const { return roots_of(out_); }

  /// The graph with every edge reversed.
  [[nodiscard]] Make reverse() const {
    Make r = *this;
    r.out_ = r.in();
    return r;
  }

  /// Calls f(node, successor list) for each node of the successor table, in ascending key order.
  template <class F>
  void iter_succ(F&& f) const {
    const int s = out_;
    table_.for_each([&](const key& k, const entry& x) {
      if (x.listed[s]) f(k, newest_first(x.side[s]));
    });
  }
  /// The same with predecessor lists.
  template <class F>
  void iter_pred(F&& f) const {
    const int p = in();
    table_.for_each([&](const key& k, const entry& x) {
      if (x.listed[p]) f(k, newest_first(x.side[p]));
    });
  }
  /// The keys of the successor table, ascending.
  [[nodiscard]] std::vector<key> nodes() const {
    std::vector<key> out;
    out.reserve(table_.size());
    table_.for_each([&](const key& k, const entry& x) {
      if (x.listed[out_]) out.push_back(k);
    });
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
    table_.for_each([&](const key& k, const entry& node) {
      if (!node.listed[out_]) return;
      const std::string source = write_node(k);
      node.side[out_].for_each_newest([&](std::uint64_t, const end& e) {
        const std::string target = write_node(e.first);
        attrs edge_attrs;
        if (describe_edge) {
          auto [text, more] = describe_edge(label_of(e.second));
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
    // greatest key. Each node's successors come from the same entry (empty when it is not a key of the
    // successor table), so no lookup per node.
    const int s = out_, p = in();
    std::vector<key> keys;
    std::vector<std::size_t> in_degree;
    std::vector<const adjacency*> successors;
    keys.reserve(table_.size());
    in_degree.reserve(table_.size());
    successors.reserve(table_.size());
    table_.for_each([&](const key& k, const entry& x) {
      if (!x.listed[p]) return;
      keys.push_back(k);
      in_degree.push_back(x.side[p].size());
      successors.push_back(&x.side[s]);
    });
    std::priority_queue<std::size_t> roots;
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (in_degree[i] == 0) roots.push(i);
    std::vector<key> out;
    while (!roots.empty()) {
      const std::size_t u = roots.top();
      roots.pop();
      out.push_back(keys[u]);
      successors[u]->for_each([&](std::uint64_t, const end& e) {
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
  [[nodiscard]] edge_list newest_first(const adjacency& a) const {
    edge_list out;
    out.reserve(a.size());
    a.for_each_newest([&](std::uint64_t, const end& e) { out.emplace_back(e.first, label_of(e.second)); });
    return out;
  }
  // The side of the entries that holds predecessors (out_ holds successors).
  [[nodiscard]] int in() const { return 1 - out_; }
  [[nodiscard]] edge_list list_of(const key& n, int side) const {
    const entry* x = table_.find(n);
    return x != nullptr ? newest_first(x->side[side]) : edge_list{};
  }
  template <class F>
  bool any_of_side(const key& n, int side, F& f) const {
    const entry* x = table_.find(n);
    return x != nullptr && x->side[side].any_newest([&](const end& e) { return f(e.first, label_of(e.second)); });
  }
  [[nodiscard]] std::size_t count_of(const key& n, int side) const {
    const entry* x = table_.find(n);
    return x != nullptr ? x->side[side].size() : 0;
  }
  [[nodiscard]] std::vector<key> roots_of(int side) const {
    std::vector<key> out;
    table_.for_each_desc([&](const key& k, const entry& x) {
      if (x.listed[side] && x.side[side].empty()) out.push_back(k);
    });
    return out;
  }
  // Removes every edge of n's list on `side` (keeping n with an empty list) and their mirrors on the other.
  void detach(const key& n, int side) {
    const entry* x = table_.find(n);
    if (x == nullptr || x->side[side].empty()) return;
    const int other = 1 - side;
    std::vector<std::pair<std::uint64_t, end>> gone;
    gone.reserve(x->side[side].size());
    x->side[side].for_each([&](std::uint64_t stamp, const end& e) { gone.emplace_back(stamp, e); });
    for (const auto& [stamp, e] : gone)
      table_ = std::move(table_).update(e.first, [&](entry& y) { y.side[other].unlink(end{n, e.second}, stamp); });
    table_ = std::move(table_).update(n, [&](entry& y) { y.side[side] = adjacency{}; });
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

  node_table table_;
  pool_ptr pool_;  // null until the first label is interned; shared by the versions derived from this one
  std::uint64_t next_stamp_ = 0;
  int out_ = 0;  // the side of the entries that holds successors; `reverse` flips it
};

/// The graph over an ordered map of node keys.
template <class K, class L, class KeyCompare = std::less<K>, class LabelCompare = std::less<L>>
using Make_with_map = Make<default_node_table<K, KeyCompare>, L, LabelCompare>;
/// The same over the persistent ordered map whatever the key (the node table of earlier versions).
template <class K, class L, class KeyCompare = std::less<K>, class LabelCompare = std::less<L>>
using Make_with_ordered_map = Make<map_node_table<K, KeyCompare>, L, LabelCompare>;

}  // namespace cvn::graph
