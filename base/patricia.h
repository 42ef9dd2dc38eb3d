#pragma once
// Persistent little-endian Patricia trie over unsigned 64-bit keys.
//
// A branch splits its keys on their lowest differing bit. Visits take the subtree whose keys have the
// branching bit set first, that is, descending order of the bit-reversed key: keys 1 to 5 visit as 3, 5, 1,
// 2, 4. Updates copy the path they change; an rvalue trie reuses the nodes that nothing else shares.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "base/base_types.h"
#include "base/rc.h"

namespace cvn {

template <class V>
class patricia {
  struct node;
  struct dispose {
    void operator()(node* p) const noexcept;
  };
  using link = rc::ptr<node, dispose>;
  // A leaf has mask 0 and a value; a branch has the common low bits of its keys in `key`, its branching
  // bit in `mask`, and the subtrees without (zero) and with (one) that bit. Branches carry no room for a
  // value, so the many branches of a trie of large values stay small.
  struct node {
    std::uint64_t key = 0;
    std::uint64_t mask = 0;
    std::uint32_t refs = 1;
  };
  struct leaf_node : node {
    V value;
  };
  struct branch_node : node {
    link zero;
    link one;
  };
  static const leaf_node& as_leaf(const node* t) { return *static_cast<const leaf_node*>(t); }
  static const branch_node& as_branch(const node* t) { return *static_cast<const branch_node*>(t); }
  static branch_node& as_branch(node* t) { return *static_cast<branch_node*>(t); }

 public:
  using key_type = std::uint64_t;

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }

  /// The value bound to the key, or nullptr.
  [[nodiscard]] const V* find(std::uint64_t k) const {
    const node* t = root_.get();
    while (t != nullptr) {
      if (t->mask == 0) return t->key == k ? &as_leaf(t).value : nullptr;
      if ((k & (t->mask - 1)) != t->key) return nullptr;
      t = (k & t->mask) != 0 ? as_branch(t).one.get() : as_branch(t).zero.get();
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
    insert(root_, k, value);
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

  /// Visits every binding in the trie's order (branching bit set first).
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
    if (t->mask == 0)
      t = link(rc::create<leaf_node>(as_leaf(t.get())));
    else
      t = link(rc::create<branch_node>(as_branch(t.get())));
  }
  static link leaf(std::uint64_t k, V& value) { return link(rc::create<leaf_node>(node{k, 0}, std::move(value))); }
  static link branch(std::uint64_t prefix, std::uint64_t m, link zero, link one) {
    return link(rc::create<branch_node>(node{prefix, m}, std::move(zero), std::move(one)));
  }
  // A branch over the disjoint tries t0 (keys with prefix p0) and t1 (prefix p1).
  static link join(std::uint64_t p0, link t0, std::uint64_t p1, link t1) {
    const std::uint64_t diff = p0 ^ p1;
    const std::uint64_t m = diff & (~diff + 1);
    const std::uint64_t prefix = p0 & (m - 1);
    if ((p0 & m) == 0) return branch(prefix, m, std::move(t0), std::move(t1));
    return branch(prefix, m, std::move(t1), std::move(t0));
  }

  void insert(link& t, std::uint64_t k, V& value) {
    if (!t) {
      t = leaf(k, value);
      ++size_;
      return;
    }
    if (t->mask == 0) {
      if (t->key == k) {
        if (t.unique())
          static_cast<leaf_node*>(t.get())->value = std::move(value);
        else
          t = leaf(k, value);
        return;
      }
      ++size_;
      const std::uint64_t other = t->key;
      t = join(k, leaf(k, value), other, std::move(t));
      return;
    }
    if ((k & (t->mask - 1)) != t->key) {
      ++size_;
      const std::uint64_t p = t->key;
      t = join(k, leaf(k, value), p, std::move(t));
      return;
    }
    own(t);
    branch_node& b = as_branch(t.get());
    insert((k & t->mask) != 0 ? b.one : b.zero, k, value);
  }

  // The key is present under t.
  static void erase(link& t, std::uint64_t k) {
    if (t->mask == 0) {
      t = nullptr;
      return;
    }
    own(t);
    branch_node& b = as_branch(t.get());
    erase((k & t->mask) != 0 ? b.one : b.zero, k);
    // A branch left with one subtree gives way to it.
    if (!b.zero) {
      link keep = std::move(b.one);
      t = std::move(keep);
    } else if (!b.one) {
      link keep = std::move(b.zero);
      t = std::move(keep);
    }
  }

  template <class F>
  static void visit(const node* t, F& f) {
    while (t != nullptr) {
      if (t->mask == 0) {
        f(t->key, as_leaf(t).value);
        return;
      }
      visit(as_branch(t).one.get(), f);
      t = as_branch(t).zero.get();
    }
  }
  template <class F>
  static bool visit_until(const node* t, F& f) {
    while (t != nullptr) {
      if (t->mask == 0) return f(t->key, as_leaf(t).value);
      if (visit_until(as_branch(t).one.get(), f)) return true;
      t = as_branch(t).zero.get();
    }
    return false;
  }

  link root_;
  std::size_t size_ = 0;
};

template <class V>
void patricia<V>::dispose::operator()(node* p) const noexcept {
  if (p->mask == 0)
    rc::plain_dispose<leaf_node>{}(static_cast<leaf_node*>(p));
  else
    rc::plain_dispose<branch_node>{}(static_cast<branch_node*>(p));
}

}  // namespace cvn
