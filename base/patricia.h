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

namespace cvn {

template <class V>
class patricia {
  static constexpr unsigned stride = 4;
  static constexpr unsigned width = 1U << stride;

  struct node;
  struct dispose {
    void operator()(node* p) const noexcept;
  };
  using link = rc::ptr<node, dispose>;
  // A leaf holds its key and value. A branch holds in `key` the low bits common to its keys (below
  // 4 * level), the number of its children, and the children themselves.
  struct node {
    std::uint32_t refs = 1;
    bool leaf = false;
    std::uint8_t level = 0;
    std::uint8_t count = 0;
    std::uint64_t key = 0;
  };
  struct leaf_node : node {
    V value;
  };
  struct branch_node : node {
    std::array<link, width> child;
  };
  static const leaf_node& as_leaf(const node* t) { return *static_cast<const leaf_node*>(t); }
  static const branch_node& as_branch(const node* t) { return *static_cast<const branch_node*>(t); }
  static branch_node& as_branch(node* t) { return *static_cast<branch_node*>(t); }
  static constexpr std::uint64_t low_mask(unsigned level) { return (std::uint64_t{1} << (stride * level)) - 1; }
  static constexpr unsigned digit(std::uint64_t k, unsigned level) {
    return static_cast<unsigned>(k >> (stride * level)) & (width - 1);
  }
  // The digits in visiting order: descending bit-reversed value.
  static constexpr std::array<std::uint8_t, width> visit_order{15, 7, 11, 3, 13, 5, 9, 1, 14, 6, 10, 2, 12, 4, 8, 0};

 public:
  using key_type = std::uint64_t;

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }

  /// The value bound to the key, or nullptr.
  [[nodiscard]] const V* find(std::uint64_t k) const {
    const node* t = root_.get();
    while (t != nullptr) {
      if (t->leaf) return t->key == k ? &as_leaf(t).value : nullptr;
      if ((k & low_mask(t->level)) != t->key) return nullptr;
      t = as_branch(t).child[digit(k, t->level)].get();
    }
    return nullptr;
  }
  [[nodiscard]] bool contains(std::uint64_t k) const { return find(k) != nullptr; }
  /// Throws Not_found.
  [[nodiscard]] const V& get(std::uint64_t k) const {
    if (const V* v = find(k)) return *v;
    throw Not_found();
  }

  /// The trie with the key bound to the value, replacing any earlier binding.
  [[nodiscard]] patricia add(std::uint64_t k, V value) const& { return patricia(*this).add(k, std::move(value)); }
  [[nodiscard]] patricia add(std::uint64_t k, V value) && {
    upsert<false>(
        root_, k, [&] { return std::move(value); }, [&](V& v) { v = std::move(value); });
    return std::move(*this);
  }
  /// The trie with f applied to the value of the key (a default value when the key is absent).
  template <class F>
  [[nodiscard]] patricia update(std::uint64_t k, F&& f) const& {
    return patricia(*this).update(k, std::forward<F>(f));
  }
  template <class F>
  [[nodiscard]] patricia update(std::uint64_t k, F&& f) && {
    upsert<true>(
        root_, k,
        [&] {
          V v{};
          f(v);
          return v;
        },
        f);
    return std::move(*this);
  }
  /// The trie without the key; the same trie when it is absent.
  [[nodiscard]] patricia remove(std::uint64_t k) const& {
    if (!contains(k)) return *this;
    return patricia(*this).remove(k);
  }
  [[nodiscard]] patricia remove(std::uint64_t k) && {
    if (contains(k)) {
      erase(root_, k);
      --size_;
    }
    return std::move(*this);
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
  // Makes t a node that only this path holds: shared nodes are copied, private ones reused.
  static void own(link& t) {
    if (t.unique()) return;
    if (t->leaf)
      t = link(rc::create<leaf_node>(as_leaf(t.get())));
    else
      t = link(rc::create<branch_node>(as_branch(t.get())));
  }
  static link leaf(std::uint64_t k, V value) {
    return link(rc::create<leaf_node>(node{1, true, 0, 0, k}, std::move(value)));
  }
  // A branch over the disjoint tries t0 (keys with low bits p0) and t1 (low bits p1): it sits at the
  // digit of their lowest differing bit.
  static link join(std::uint64_t p0, link t0, std::uint64_t p1, link t1) {
    const std::uint64_t diff = p0 ^ p1;
    const auto level = static_cast<unsigned>(__builtin_ctzll(diff)) / stride;
    link b(rc::create<branch_node>(node{1, false, static_cast<std::uint8_t>(level), 2, p0 & low_mask(level)},
                                   std::array<link, width>{}));
    as_branch(b.get()).child[digit(p0, level)] = std::move(t0);
    as_branch(b.get()).child[digit(p1, level)] = std::move(t1);
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
    if (t->leaf) {
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
    own(t);
    branch_node& b = as_branch(t.get());
    link& slot = b.child[digit(k, b.level)];
    if (!slot) ++b.count;
    upsert<in_place>(slot, k, make, apply);
  }

  // The key is present under t.
  static void erase(link& t, std::uint64_t k) {
    if (t->leaf) {
      t = nullptr;
      return;
    }
    own(t);
    branch_node& b = as_branch(t.get());
    link& slot = b.child[digit(k, b.level)];
    erase(slot, k);
    if (slot) return;
    // A branch left with one subtree gives way to it: that subtree's keys keep every bit the branch held.
    if (--b.count == 1)
      for (link& c : b.child)
        if (c) {
          link keep = std::move(c);
          t = std::move(keep);
          return;
        }
  }

  template <class F>
  static void visit(const node* t, F& f) {
    if (t == nullptr) return;
    if (t->leaf) {
      f(t->key, as_leaf(t).value);
      return;
    }
    for (const std::uint8_t d : visit_order) visit(as_branch(t).child[d].get(), f);
  }
  template <class F>
  static bool visit_until(const node* t, F& f) {
    if (t == nullptr) return false;
    if (t->leaf) return f(t->key, as_leaf(t).value);
    for (const std::uint8_t d : visit_order)
      if (visit_until(as_branch(t).child[d].get(), f)) return true;
    return false;
  }

  link root_;
  std::size_t size_ = 0;
};

template <class V>
void patricia<V>::dispose::operator()(node* p) const noexcept {
  if (p->leaf)
    rc::plain_dispose<leaf_node>{}(static_cast<leaf_node*>(p));
  else
    rc::plain_dispose<branch_node>{}(static_cast<branch_node*>(p));
}

}  // namespace cvn
