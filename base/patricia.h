#pragma once
// Persistent little-endian Patricia trie over unsigned 64-bit keys.
//
// Keys are read from their low end, four bits at a time: a branch at level L holds the low 4*L bits
// common to its keys and sixteen children, one per value of the keys' next four bits. A branch exists
// only where keys differ (paths are compressed), so the identifiers of a table, which are dense, make a
// trie of depth log16 n: a few node visits per lookup instead of one per bit.
//
// Visits take the keys in descending order of their bit-reversed value, the order of a binary trie that
// takes the subtree with the branching bit set first: keys 1 to 5 visit as 3, 5, 1, 2, 4. Updates copy the
// path they change; an rvalue trie reuses the nodes that nothing else shares.
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "base/base_types.h"
#include "base/rc.h"
#include "base/trie_ops.h"

namespace cvn {

template <class V>
class patricia : public trie_ops<patricia<V>, V> {
  static constexpr unsigned stride = 4;
  static constexpr unsigned width = 1U << stride;

  struct node;
  struct dispose {
    void operator()(node* p) const noexcept;
  };
  using link = rc::ptr<node, dispose>;
  // A leaf holds its key and value (`cap` 0). A branch holds in `key` the low bits common to its keys
  // (below 4 * level), in `bits` the digits that have a child, and after the header room for `cap`
  // children: below sixteen, the present ones packed in ascending digit order; at sixteen, each at its
  // digit. Most branches of a sparse trie have two or
  // three children: sixteen slots each would make the branches outweigh the leaves.
  struct node {
    std::uint32_t refs = 1;
    std::uint8_t cap = 0;
    std::uint8_t level = 0;
    std::uint16_t bits = 0;
    std::uint64_t key = 0;
  };
  static_assert(sizeof(node) == 16 && alignof(link) <= alignof(node));
  struct leaf_node : node {
    V value;
  };
  static bool is_leaf(const node* t) { return t->cap == 0; }
  static const leaf_node& as_leaf(const node* t) { return *static_cast<const leaf_node*>(t); }
  static link* children(node* t) { return reinterpret_cast<link*>(t + 1); }
  static const link* children(const node* t) { return reinterpret_cast<const link*>(t + 1); }
  // Bits set in a 16-bit mask, without the library call that a target without a popcount instruction gets.
  static unsigned popcount16(unsigned x) {
    x = x - ((x >> 1) & 0x5555U);
    x = (x & 0x3333U) + ((x >> 2) & 0x3333U);
    x = (x + (x >> 4)) & 0x0F0FU;
    return (x + (x >> 8)) & 0x1FU;
  }
  static unsigned count(const node* t) { return popcount16(t->bits); }
  // A branch with room for every digit keeps each child at its digit: the dense tries of identifier
  // tables fill their branches, and their lookups then index directly.
  static bool direct(const node* t) { return t->cap == width; }
  // The slot of digit d (whether or not it is present).
  static unsigned rank(const node* t, unsigned d) {
    return direct(t) ? d : popcount16(t->bits & ((1U << d) - 1));
  }
  // The next capacity of a full branch: a two-way branch often gets a third child, but one that gets a
  // fifth usually fills up.
  static unsigned grown(unsigned cap) { return cap == 2 ? 4 : width; }
  static bool has(const node* t, unsigned d) { return ((t->bits >> d) & 1U) != 0; }
  static constexpr std::uint64_t low_mask(unsigned level) { return (std::uint64_t{1} << (stride * level)) - 1; }
  static constexpr unsigned digit(std::uint64_t k, unsigned level) {
    return static_cast<unsigned>(k >> (stride * level)) & (width - 1);
  }
  // The digits in visiting order: descending bit-reversed value.
  static constexpr std::array<std::uint8_t, width> visit_order{15, 7, 11, 3, 13, 5, 9, 1, 14, 6, 10, 2, 12, 4, 8, 0};

  static std::size_t branch_bytes(unsigned cap) { return sizeof(node) + cap * sizeof(link); }
  // A branch with room for cap children and none yet.
  static node* new_branch(unsigned cap, unsigned level, std::uint64_t key) {
    void* m = pool::allocate(branch_bytes(cap));
    node* t = ::new (m) node{1, static_cast<std::uint8_t>(cap), static_cast<std::uint8_t>(level), 0, key};
    for (unsigned i = 0; i < cap; ++i) ::new (children(t) + i) link();
    return t;
  }

 public:
  using key_type = std::uint64_t;

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }

  /// The value bound to the key, or nullptr.
  [[nodiscard]] const V* find(std::uint64_t k) const {
    const node* t = root_.get();
    while (t != nullptr) {
      if (is_leaf(t)) return t->key == k ? &as_leaf(t).value : nullptr;
      if ((k & low_mask(t->level)) != t->key) return nullptr;
      const unsigned d = digit(k, t->level);
      if (!has(t, d)) return nullptr;
      t = children(t)[rank(t, d)].get();
    }
    return nullptr;
  }
  /// Prefetches the node that k's path reaches at `level` (or the first node below it), walking the
  /// branches above it, which the caller expects to be cached; that node itself is not read, so the walk
  /// does not wait for it. A hint for a lookup or insertion to come: nothing changes. (Inlined: the
  /// compiler takes a call that only reads and prefetches for one without effect, and drops it.)
  [[gnu::always_inline]] void prefetch(std::uint64_t k, unsigned level) const {
    const node* t = root_.get();
    if (t == nullptr || level == 0) return;
    while (!is_leaf(t)) {
      const unsigned d = digit(k, t->level);
      if ((k & low_mask(t->level)) != t->key || !has(t, d)) return;
      const node* c = children(t)[rank(t, d)].get();
      if (t->level + 1U >= level) {
        // The header, and the child slot that a full branch at that level keeps for k (levels past the
        // key's last digit have none).
        const auto at = reinterpret_cast<std::uintptr_t>(c);
        __builtin_prefetch(reinterpret_cast<const void*>(at));
        if (stride * level < 64)
          __builtin_prefetch(reinterpret_cast<const void*>(at + sizeof(node) + digit(k, level) * sizeof(link)));
        return;
      }
      t = c;
    }
  }
  /// Visits every binding in the trie's order.
  template <class F>
  void for_each(F&& f) const {
    visit(root_.get(), f);
  }
  /// Visits the bindings in the trie's order until f returns true; true when it did.
  template <class F>
  bool for_each_until(F&& f) const {
    return visit_until(root_.get(), f);
  }

 private:
  friend trie_ops<patricia<V>, V>;
  template <bool in_place, class Make, class Apply>
  void upsert_key(std::uint64_t k, Make& make, Apply& apply) {
    upsert<in_place>(root_, k, make, apply);
  }
  void erase_key(std::uint64_t k) {
    erase(root_, k);
    --size_;
  }

  // Makes t a node that only this path holds, with room for at least `cap` children when a branch: shared
  // nodes are copied, private ones reused (or their children moved to a larger node).
  static void own(link& t, unsigned cap = 0) {
    if (is_leaf(t.get())) {
      if (!t.unique()) t = link(rc::create<leaf_node>(as_leaf(t.get())));
      return;
    }
    const bool unique = t.unique();
    if (unique && cap <= t->cap) return;
    node* b = new_branch(cap > t->cap ? cap : t->cap, t->level, t->key);
    b->bits = t->bits;
    link* from = children(t.get());
    link* to = children(b);
    for (unsigned d = 0, i = 0, j = 0; d < width; ++d) {
      if (!has(b, d)) continue;
      link& src = from[direct(t.get()) ? d : i++];
      to[direct(b) ? d : j++] = unique ? std::move(src) : src;
    }
    t = link(b);
  }
  static link leaf(std::uint64_t k, V value) {
    return link(rc::create<leaf_node>(node{1, 0, 0, 0, k}, std::move(value)));
  }
  // A branch over the disjoint tries t0 (keys with low bits p0) and t1 (low bits p1): it sits at the
  // digit of their lowest differing bit.
  static link join(std::uint64_t p0, link t0, std::uint64_t p1, link t1) {
    const std::uint64_t diff = p0 ^ p1;
    const auto level = static_cast<unsigned>(__builtin_ctzll(diff)) / stride;
    link b(new_branch(2, level, p0 & low_mask(level)));
    const unsigned d0 = digit(p0, level);
    const unsigned d1 = digit(p1, level);
    b->bits = static_cast<std::uint16_t>((1U << d0) | (1U << d1));
    children(b.get())[d0 < d1 ? 0 : 1] = std::move(t0);
    children(b.get())[d0 < d1 ? 1 : 0] = std::move(t1);
    return b;
  }

  // Binds k under t: a new leaf holds make(); a present value is changed by apply. With `in_place` false
  // a shared leaf is replaced by a new one rather than copied and then changed.
  template <bool in_place, class Make, class Apply>
  void upsert(link& t, std::uint64_t k, Make&& make, Apply&& apply) {
    if (!t) {
      t = leaf(k, make());
      ++size_;
      return;
    }
    if (is_leaf(t.get())) {
      if (t->key == k) {
        if (in_place) own(t);
        if (t.unique())
          apply(static_cast<leaf_node*>(t.get())->value);
        else
          t = leaf(k, make());
        return;
      }
      ++size_;
      const std::uint64_t other = t->key;
      t = join(k, leaf(k, make()), other, std::move(t));
      return;
    }
    if ((k & low_mask(t->level)) != t->key) {
      ++size_;
      const std::uint64_t p = t->key;
      t = join(k, leaf(k, make()), p, std::move(t));
      return;
    }
    const unsigned d = digit(k, t->level);
    if (has(t.get(), d)) {
      own(t);
      upsert<in_place>(children(t.get())[rank(t.get(), d)], k, make, apply);
      return;
    }
    // A new child: a full node moves to a larger one (2, 4, then 16 slots), so each child moves O(1) times.
    const unsigned n = count(t.get());
    own(t, n < t->cap ? n + 1 : grown(t->cap));
    link* c = children(t.get());
    const unsigned at = rank(t.get(), d);
    if (!direct(t.get()))
      for (unsigned i = n; i > at; --i) c[i] = std::move(c[i - 1]);
    t->bits = static_cast<std::uint16_t>(t->bits | (1U << d));
    upsert<in_place>(c[at], k, make, apply);
  }

  // The key is present under t.
  static void erase(link& t, std::uint64_t k) {
    if (is_leaf(t.get())) {
      t = nullptr;
      return;
    }
    own(t);
    const unsigned d = digit(k, t->level);
    link* c = children(t.get());
    const unsigned at = rank(t.get(), d);
    erase(c[at], k);
    if (c[at]) return;
    const unsigned n = count(t.get());
    if (!direct(t.get()))
      for (unsigned i = at; i + 1 < n; ++i) c[i] = std::move(c[i + 1]);
    t->bits = static_cast<std::uint16_t>(t->bits & ~(1U << d));
    // A branch left with one subtree gives way to it: that subtree's keys keep every bit the branch held.
    if (n - 1 == 1) {
      link keep = std::move(c[rank(t.get(), static_cast<unsigned>(__builtin_ctz(t->bits)))]);
      t = std::move(keep);
    }
  }

  template <class F>
  static void visit(const node* t, F& f) {
    if (t == nullptr) return;
    if (is_leaf(t)) {
      f(t->key, as_leaf(t).value);
      return;
    }
    const link* c = children(t);
    // The children of a branch were made far apart in time, hence in memory: ask for all of them at once
    // rather than miss the cache on each in turn.
    for (unsigned i = 0; i < t->cap; ++i)
      if (const node* x = c[i].get()) __builtin_prefetch(x);
    for (const std::uint8_t d : visit_order)
      if (has(t, d)) visit(c[rank(t, d)].get(), f);
  }
  template <class F>
  static bool visit_until(const node* t, F& f) {
    if (t == nullptr) return false;
    if (is_leaf(t)) return f(t->key, as_leaf(t).value);
    const link* c = children(t);
    for (const std::uint8_t d : visit_order)
      if (has(t, d) && visit_until(c[rank(t, d)].get(), f)) return true;
    return false;
  }

  link root_;
  std::size_t size_ = 0;
};

template <class V>
void patricia<V>::dispose::operator()(node* p) const noexcept {
  if (is_leaf(p)) {
    rc::plain_dispose<leaf_node>{}(static_cast<leaf_node*>(p));
    return;
  }
  const unsigned cap = p->cap;
  for (unsigned i = 0; i < cap; ++i) children(p)[i].~link();
  p->~node();
  pool::deallocate(static_cast<void*>(p), branch_bytes(cap));
}

}  // namespace cvn
