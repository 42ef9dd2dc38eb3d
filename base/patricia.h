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

namespace cvn {

template <class V>
class patricia {
  struct node;
  using link = std::shared_ptr<node>;
  // A leaf has mask 0 and a value; a branch has the common low bits of its keys in `key`, its branching
  // bit in `mask`, and the subtrees without (zero) and with (one) that bit.
  struct node {
    std::uint64_t key = 0;
    std::uint64_t mask = 0;
    link zero;
    link one;
    std::optional<V> value;
  };

 public:
  using key_type = std::uint64_t;

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }

  /// The value bound to the key, or nullptr.
  [[nodiscard]] const V* find(std::uint64_t k) const {
    const node* t = root_.get();
    while (t != nullptr) {
      if (t->mask == 0) return t->key == k ? &*t->value : nullptr;
      if ((k & (t->mask - 1)) != t->key) return nullptr;
      t = (k & t->mask) != 0 ? t->one.get() : t->zero.get();
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
  static void own(link& t) {
    if (t.use_count() != 1) t = std::make_shared<node>(*t);
  }
  static link leaf(std::uint64_t k, V& value) {
    return std::make_shared<node>(node{k, 0, nullptr, nullptr, std::optional<V>(std::move(value))});
  }
  // A branch over the disjoint tries t0 (keys with prefix p0) and t1 (prefix p1).
  static link join(std::uint64_t p0, link t0, std::uint64_t p1, link t1) {
    const std::uint64_t diff = p0 ^ p1;
    const std::uint64_t m = diff & (~diff + 1);
    const std::uint64_t prefix = p0 & (m - 1);
    if ((p0 & m) == 0) return std::make_shared<node>(node{prefix, m, std::move(t0), std::move(t1), std::nullopt});
    return std::make_shared<node>(node{prefix, m, std::move(t1), std::move(t0), std::nullopt});
  }

  void insert(link& t, std::uint64_t k, V& value) {
    if (!t) {
      t = leaf(k, value);
      ++size_;
      return;
    }
    if (t->mask == 0) {
      if (t->key == k) {
        own(t);
        t->value = std::move(value);
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
    insert((k & t->mask) != 0 ? t->one : t->zero, k, value);
  }

  // The key is present under t.
  static void erase(link& t, std::uint64_t k) {
    if (t->mask == 0) {
      t = nullptr;
      return;
    }
    own(t);
    link& child = (k & t->mask) != 0 ? t->one : t->zero;
    erase(child, k);
    // A branch left with one subtree gives way to it.
    if (!t->zero) {
      link keep = std::move(t->one);
      t = std::move(keep);
    } else if (!t->one) {
      link keep = std::move(t->zero);
      t = std::move(keep);
    }
  }

  template <class F>
  static void visit(const node* t, F& f) {
    while (t != nullptr) {
      if (t->mask == 0) {
        f(t->key, *t->value);
        return;
      }
      visit(t->one.get(), f);
      t = t->zero.get();
    }
  }
  template <class F>
  static bool visit_until(const node* t, F& f) {
    while (t != nullptr) {
      if (t->mask == 0) return f(t->key, *t->value);
      if (visit_until(t->one.get(), f)) return true;
      t = t->zero.get();
    }
    return false;
  }

  link root_;
  std::size_t size_ = 0;
};

}  // namespace cvn
