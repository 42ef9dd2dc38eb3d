#pragma once
// Persistent big-endian radix trie over unsigned 64-bit keys, visited in ascending key order.
//
// Keys are read from their high end, four bits at a time: a branch at level L holds the bits of its keys
// above digit L (the bits at and above 4 * (L + 1)), common to all of them, and sixteen children, one per
// value of digit L. A branch exists only where keys differ (paths are compressed), so dense identifiers make
// a trie of depth log16 n, while the children of a branch, taken in digit order, keep ascending key order
// (unlike base/patricia.h, which reads keys from their low end). Updates copy the path they change; an
// rvalue trie reuses the nodes that nothing else shares.
//
// The children of a branch at level 0 are single keys. For small values such a branch is a block instead:
// the values sit in the node itself, at their digit, with a mask of the digits present, which saves a leaf
// (header, key and heap overhead) per value and the last pointer chase of a lookup. A shared block is copied
// whole on a write, so blocks are kept to values of at most `inline_limit` bytes: larger ones keep a leaf
// each, and the copy a persistent edit makes stays bounded either way. That copy (16 values) outweighs the
// branch and leaf it replaces once values pass 8 bytes, so a caller that keeps every version pays more
// memory per edit; rvalue edits, the common case here, gain. As a branch has at least two children, a block
// has at least two values: a lone key is a leaf.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "base/base_types.h"
#include "base/rc.h"
#include "base/trie_ops.h"

namespace cvn {

template <class V>
class radix_map : public trie_ops<radix_map<V>, V> {
  static constexpr unsigned stride = 4;
  static constexpr unsigned width = 1U << stride;

  static constexpr std::size_t inline_limit = 32;
  static constexpr bool blocks = sizeof(V) <= inline_limit;

  struct node;
  struct dispose {
    void operator()(node* p) const noexcept;
  };
  using link = rc::ptr<node, dispose>;
  enum class kind : std::uint8_t { branch, leaf, block };
  // A leaf holds its key. A branch or block holds in `key` its keys with digit `level` and the digits below
  // cleared; `bits` is a branch's number of children, a block's mask of the digits present.
  struct node {
    std::uint32_t refs = 1;
    kind is = kind::branch;
    std::uint8_t level = 0;
    std::uint16_t bits = 0;
    std::uint64_t key = 0;
  };
  struct leaf_node : node {
    V value;
  };
  struct branch_node : node {
    std::array<link, width> child;
  };
  struct block_node : node {
    explicit block_node(const node& h) : node(h) {}
    block_node(const block_node& o) : node(o) {
      this->bits = 0;
      try {
        for (unsigned d = 0; d < width; ++d)
          if (o.has(d)) emplace(d, *o.at(d));
      } catch (...) {
        clear();
        throw;
      }
    }
    block_node& operator=(const block_node&) = delete;
    ~block_node() { clear(); }
    void clear() noexcept {
      for (unsigned d = 0; d < width; ++d)
        if (has(d)) at(d)->~V();
      this->bits = 0;
    }
    [[nodiscard]] bool has(unsigned d) const { return (this->bits >> d & 1U) != 0; }
    [[nodiscard]] V* at(unsigned d) { return std::launder(reinterpret_cast<V*>(raw + d * sizeof(V))); }
    [[nodiscard]] const V* at(unsigned d) const {
      return std::launder(reinterpret_cast<const V*>(raw + d * sizeof(V)));
    }
    template <class... A>
    V& emplace(unsigned d, A&&... args) {
      V* v = ::new (raw + d * sizeof(V)) V(std::forward<A>(args)...);
      this->bits |= static_cast<std::uint16_t>(1U << d);
      return *v;
    }
    void destroy(unsigned d) {
      at(d)->~V();
      this->bits &= static_cast<std::uint16_t>(~(1U << d));
    }
    alignas(V) unsigned char raw[width * sizeof(V)];
  };
  static const leaf_node& as_leaf(const node* t) { return *static_cast<const leaf_node*>(t); }
  static leaf_node& as_leaf(node* t) { return *static_cast<leaf_node*>(t); }
  static const branch_node& as_branch(const node* t) { return *static_cast<const branch_node*>(t); }
  static branch_node& as_branch(node* t) { return *static_cast<branch_node*>(t); }
  static const block_node& as_block(const node* t) { return *static_cast<const block_node*>(t); }
  static block_node& as_block(node* t) { return *static_cast<block_node*>(t); }
  static bool is_leaf(const node* t) { return t->is == kind::leaf; }
  static bool is_block(const node* t) { return blocks && t->is == kind::block; }
  // The key with digit `level` and the digits below cleared.
  static constexpr std::uint64_t high(std::uint64_t k, unsigned level) {
    const unsigned shift = stride * (level + 1);
    return shift >= 64 ? 0 : k >> shift << shift;
  }
  static constexpr unsigned digit(std::uint64_t k, unsigned level) {
    return static_cast<unsigned>(k >> (stride * level)) & (width - 1);
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
      if (high(k, t->level) != t->key) return nullptr;
      if (is_block(t)) {
        const unsigned d = digit(k, 0);
        return as_block(t).has(d) ? as_block(t).at(d) : nullptr;
      }
      t = as_branch(t).child[digit(k, t->level)].get();
    }
    return nullptr;
  }
  /// Visits every binding in ascending key order.
  template <class F>
  void for_each(F&& f) const {
    auto all = [&](std::uint64_t k, const V& v) {
      f(k, v);
      return false;
    };
    (void)visit_until<false>(root_.get(), all);
  }
  /// Visits every binding in descending key order.
  template <class F>
  void for_each_desc(F&& f) const {
    auto all = [&](std::uint64_t k, const V& v) {
      f(k, v);
      return false;
    };
    (void)visit_until<true>(root_.get(), all);
  }
  /// Visits the bindings in ascending key order until f returns true; true when it did.
  template <class F>
  bool for_each_until(F&& f) const {
    return visit_until<false>(root_.get(), f);
  }
  /// Visits the bindings in descending key order until f returns true; true when it did.
  template <class F>
  bool for_each_desc_until(F&& f) const {
    return visit_until<true>(root_.get(), f);
  }

  /// Structural validity (prefixes, levels, counts, size, no branch of one child nor block of one value, blocks
  /// in place of every branch at level 0 when values are small); used by the tests.
  [[nodiscard]] bool invariants_hold() const {
    std::size_t n = 0;
    return check(root_.get(), 0, 64, n) && n == size_;
  }

 private:
  friend trie_ops<radix_map<V>, V>;
  template <bool in_place, class Make, class Apply>
  void upsert_key(std::uint64_t k, Make& make, Apply& apply) {
    upsert<in_place>(root_, k, make, apply);
  }
  void erase_key(std::uint64_t k) {
    erase(root_, k);
    --size_;
  }

  // Makes t a node that only this path holds: shared nodes are copied, private ones reused.
  static void own(link& t) {
    if (!t.unique()) copy(t);
  }
  [[gnu::noinline]] static void copy(link& t) {
    if (is_leaf(t.get()))
      t = link(rc::create<leaf_node>(as_leaf(t.get())));
    else if (is_block(t.get()))
      t = link(rc::create<block_node>(as_block(t.get())));
    else
      t = link(rc::create<branch_node>(as_branch(t.get())));
  }
  static link leaf(std::uint64_t k, V value) {
    return link(rc::create<leaf_node>(node{1, kind::leaf, 0, 0, k}, std::move(value)));
  }
  // The value of the leaf t, moved out when nothing else holds it.
  static V take(link& t) {
    if (t.unique()) return std::move(as_leaf(t.get()).value);
    return as_leaf(t.get()).value;
  }
  // A branch over the disjoint tries t0 (holding key k0) and t1 (holding key k1): it sits at the digit of
  // their highest differing bit.
  static link join(std::uint64_t k0, link t0, std::uint64_t k1, link t1) {
    const std::uint64_t diff = k0 ^ k1;
    const auto level = static_cast<unsigned>(63 - __builtin_clzll(diff)) / stride;
    link b(rc::create<branch_node>(node{1, kind::branch, static_cast<std::uint8_t>(level), 2, high(k0, level)},
                                   std::array<link, width>{}));
    as_branch(b.get()).child[digit(k0, level)] = std::move(t0);
    as_branch(b.get()).child[digit(k1, level)] = std::move(t1);
    return b;
  }

  // Binds k under t: a new leaf holds make(); a present value is changed by apply. With `in_place` false
  // a shared leaf is replaced by a new one rather than copied and then changed.
  template <bool in_place, class Make, class Apply>
  void upsert(link& t, std::uint64_t k, Make&& make, Apply&& apply) {
    link* at = &t;
    for (;;) {
      link& s = *at;
      if (!s) {
        s = leaf(k, make());
        ++size_;
        return;
      }
      if (is_leaf(s.get())) {
        if (s->key == k) {
          if (in_place) own(s);
          if (s.unique())
            apply(as_leaf(s.get()).value);
          else
            s = leaf(k, make());
          return;
        }
        const std::uint64_t other = s->key;
        if (blocks && high(k, 0) == high(other, 0)) {
          // Two keys that differ in digit 0 alone: a block of both.
          V fresh = make();
          link b(rc::create<block_node>(node{1, kind::block, 0, 0, high(k, 0)}));
          block_node& bb = as_block(b.get());
          bb.emplace(digit(k, 0), std::move(fresh));
          bb.emplace(digit(other, 0), take(s));
          ++size_;
          s = std::move(b);
          return;
        }
        link fresh = leaf(k, make());
        ++size_;
        s = join(k, std::move(fresh), other, std::move(s));
        return;
      }
      if (high(k, s->level) != s->key) {
        const std::uint64_t p = s->key;
        link fresh = leaf(k, make());
        ++size_;
        s = join(k, std::move(fresh), p, std::move(s));
        return;
      }
      if (is_block(s.get())) {
        own(s);
        block_node& b = as_block(s.get());
        const unsigned d = digit(k, 0);
        if (b.has(d)) {
          apply(*b.at(d));
        } else {
          b.emplace(d, make());
          ++size_;
        }
        return;
      }
      own(s);
      branch_node& b = as_branch(s.get());
      link& slot = b.child[digit(k, b.level)];
      if (!slot) ++b.bits;
      at = &slot;
    }
  }

  // The key is present under t.
  static void erase(link& t, std::uint64_t k) {
    if (is_leaf(t.get())) {
      t = nullptr;
      return;
    }
    if (is_block(t.get())) {
      const unsigned d = digit(k, 0);
      if (std::popcount(t->bits) == 2) {
        // A block left with one value gives way to a leaf, taken straight from it (a shared block is not
        // copied first).
        const unsigned other = static_cast<unsigned>(std::countr_zero(static_cast<unsigned>(t->bits & ~(1U << d))));
        block_node& b = as_block(t.get());
        link rest = t.unique() ? leaf(t->key | other, std::move(*b.at(other))) : leaf(t->key | other, *b.at(other));
        t = std::move(rest);
        return;
      }
      own(t);
      as_block(t.get()).destroy(d);
      return;
    }
    own(t);
    branch_node& b = as_branch(t.get());
    link& slot = b.child[digit(k, b.level)];
    erase(slot, k);
    if (slot) return;
    // A branch left with one subtree gives way to it: that subtree's keys keep every bit the branch held.
    if (--b.bits == 1)
      for (link& c : b.child)
        if (c) {
          link keep = std::move(c);
          t = std::move(keep);
          return;
        }
  }

  // Visits the bindings under t in ascending (or descending) key order until f returns true.
  template <bool descending, class F>
  static bool visit_until(const node* t, F& f) {
    if (t == nullptr) return false;
    if (is_leaf(t)) return f(t->key, as_leaf(t).value);
    for (unsigned i = 0; i < width; ++i) {
      const unsigned d = descending ? width - 1 - i : i;
      if (is_block(t)) {
        const block_node& b = as_block(t);
        if (b.has(d) && f(t->key | d, *b.at(d))) return true;
      } else if (visit_until<descending>(as_branch(t).child[d].get(), f)) {
        return true;
      }
    }
    return false;
  }

  // Every key under t agrees with `prefix` above bit `above`.
  static bool check(const node* t, std::uint64_t prefix, unsigned above, std::size_t& n) {
    if (t == nullptr) return true;
    const std::uint64_t mask = above >= 64 ? 0 : ~std::uint64_t{0} << above;
    if ((t->key & mask) != (prefix & mask)) return false;
    if (is_leaf(t)) {
      ++n;
      return t->is == kind::leaf;
    }
    if (stride * (t->level + 1) > above || high(t->key, t->level) != t->key) return false;
    if (t->is == kind::block) {
      if (!blocks || t->level != 0 || std::popcount(t->bits) < 2) return false;
      n += static_cast<std::size_t>(std::popcount(t->bits));
      return true;
    }
    if (t->is != kind::branch || (blocks && t->level == 0)) return false;
    unsigned children = 0;
    for (unsigned d = 0; d < width; ++d) {
      const node* c = as_branch(t).child[d].get();
      if (c == nullptr) continue;
      ++children;
      const std::uint64_t p = t->key | (std::uint64_t{d} << (stride * t->level));
      if (!check(c, p, stride * t->level, n)) return false;
    }
    return children >= 2 && children == t->bits;
  }

  link root_;
  std::size_t size_ = 0;
};

template <class V>
void radix_map<V>::dispose::operator()(node* p) const noexcept {
  if (p->is == kind::leaf)
    rc::plain_dispose<leaf_node>{}(static_cast<leaf_node*>(p));
  else if (blocks && p->is == kind::block)
    rc::plain_dispose<block_node>{}(static_cast<block_node*>(p));
  else
    rc::plain_dispose<branch_node>{}(static_cast<branch_node*>(p));
}

}  // namespace cvn
