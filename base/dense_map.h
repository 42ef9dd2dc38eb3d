#pragma once
// Persistent map over small dense unsigned keys (identifiers handed out by a counter).
//
// A big-endian radix trie: each branch reads four key bits from the high end, so keys that are close in
// value share their whole path. Identifiers are mostly read and written soon after they are made, so the
// path of the newest keys stays in the cache, where a trie that branches on the low bits first sends
// consecutive keys down different paths. The trie is as tall as the largest key needs (log16 of it) and
// grows a level at the top when a larger key comes. Visits go by ascending key.
//
// Updates copy the path they change; an rvalue map reuses the nodes that nothing else shares.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "base/base_types.h"
#include "base/rc.h"

namespace cvn {

template <class V>
class dense_map {
  static constexpr unsigned stride = 4;
  static constexpr unsigned width = 1U << stride;

  struct node;
  struct dispose {
    void operator()(node* p) const noexcept;
  };
  using link = rc::ptr<node, dispose>;
  // A branch at level L (0 just above the leaves) holds the subtrees of the keys whose digit L is the
  // index of the child; `count` is its number of children.
  struct node {
    std::uint32_t refs = 1;
    bool leaf = false;
    std::uint8_t count = 0;
  };
  struct leaf_node : node {
    V value;
  };
  struct branch_node : node {
    std::array<link, width> child;
  };
  static const leaf_node& as_leaf(const node* t) { return *static_cast<const leaf_node*>(t); }
  static leaf_node& as_leaf(node* t) { return *static_cast<leaf_node*>(t); }
  static const branch_node& as_branch(const node* t) { return *static_cast<const branch_node*>(t); }
  static branch_node& as_branch(node* t) { return *static_cast<branch_node*>(t); }
  static constexpr unsigned digit(std::uint64_t k, unsigned level) {
    return static_cast<unsigned>(k >> (stride * level)) & (width - 1);
  }

 public:
  using key_type = std::uint64_t;

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }

  /// The value bound to the key, or nullptr.
  [[nodiscard]] const V* find(std::uint64_t k) const {
    if (!fits(k)) return nullptr;
    const node* t = root_.get();
    for (unsigned level = levels_; t != nullptr && level-- > 0;) t = as_branch(t).child[digit(k, level)].get();
    return t != nullptr ? &as_leaf(t).value : nullptr;
  }
  [[nodiscard]] bool contains(std::uint64_t k) const { return find(k) != nullptr; }
  /// Throws Not_found.
  [[nodiscard]] const V& get(std::uint64_t k) const {
    if (const V* v = find(k)) return *v;
    throw Not_found();
  }

  /// The map with the key bound to the value, replacing any earlier binding.
  [[nodiscard]] dense_map add(std::uint64_t k, V value) const& { return dense_map(*this).add(k, std::move(value)); }
  [[nodiscard]] dense_map add(std::uint64_t k, V value) && {
    link& slot = reach(k);
    if (slot && slot.unique())
      as_leaf(slot.get()).value = std::move(value);
    else
      slot = leaf(std::move(value), !slot);
    return std::move(*this);
  }
  /// The map with f applied to the value of the key (a default value when the key is absent).
  template <class F>
  [[nodiscard]] dense_map update(std::uint64_t k, F&& f) const& {
    return dense_map(*this).update(k, std::forward<F>(f));
  }
  template <class F>
  [[nodiscard]] dense_map update(std::uint64_t k, F&& f) && {
    link& slot = reach(k);
    if (!slot) {
      slot = leaf(V{}, true);
    } else if (!slot.unique()) {
      slot = link(rc::create<leaf_node>(as_leaf(slot.get())));
    }
    f(as_leaf(slot.get()).value);
    return std::move(*this);
  }
  /// The map without the key; the same map when it is absent.
  [[nodiscard]] dense_map remove(std::uint64_t k) const& {
    if (!contains(k)) return *this;
    return dense_map(*this).remove(k);
  }
  [[nodiscard]] dense_map remove(std::uint64_t k) && {
    if (contains(k)) {
      erase(root_, k, levels_);
      --size_;
    }
    return std::move(*this);
  }

  /// Visits every binding by ascending key: f(key, value).
  template <class F>
  void for_each(F&& f) const {
    auto all = [&](std::uint64_t k, const V& v) {
      f(k, v);
      return false;
    };
    (void)visit_until(root_.get(), 0, levels_, all);
  }
  /// Visits the bindings by ascending key until f returns true; true when it did.
  template <class F>
  bool for_each_until(F&& f) const {
    return visit_until(root_.get(), 0, levels_, f);
  }

 private:
  [[nodiscard]] bool fits(std::uint64_t k) const { return levels_ >= 16 || (k >> (stride * levels_)) == 0; }

  // Makes t a node that only this path holds: shared nodes are copied, private ones reused.
  static void own(link& t) {
    if (t.unique()) return;
    if (t->leaf)
      t = link(rc::create<leaf_node>(as_leaf(t.get())));
    else
      t = link(rc::create<branch_node>(as_branch(t.get())));
  }
  link leaf(V value, bool fresh) {
    if (fresh) ++size_;
    return link(rc::create<leaf_node>(node{1, true, 0}, std::move(value)));
  }
  static link branch() { return link(rc::create<branch_node>(node{1, false, 0}, std::array<link, width>{})); }

  // The slot of the key's leaf, every branch on its way made private (and made when missing).
  link& reach(std::uint64_t k) {
    while (!fits(k) || levels_ == 0) {
      link top = branch();
      if (root_) {
        as_branch(top.get()).child[0] = std::move(root_);
        top->count = 1;
      }
      root_ = std::move(top);
      ++levels_;
    }
    link* t = &root_;
    for (unsigned level = levels_; level-- > 0;) {
      if (!*t) {
        *t = branch();
      } else {
        own(*t);
      }
      branch_node& b = as_branch(t->get());
      link& slot = b.child[digit(k, level)];
      if (!slot) ++b.count;
      t = &slot;
    }
    return *t;
  }

  // The key is present under t, a node `levels` above the leaves. A branch left empty goes too.
  static void erase(link& t, std::uint64_t k, unsigned levels) {
    if (levels == 0) {
      t = nullptr;
      return;
    }
    own(t);
    branch_node& b = as_branch(t.get());
    link& slot = b.child[digit(k, levels - 1)];
    erase(slot, k, levels - 1);
    if (!slot && --b.count == 0) t = nullptr;
  }

  template <class F>
  static bool visit_until(const node* t, std::uint64_t prefix, unsigned levels, F& f) {
    if (t == nullptr) return false;
    if (levels == 0) return f(prefix, as_leaf(t).value);
    for (unsigned d = 0; d < width; ++d)
      if (visit_until(as_branch(t).child[d].get(), (prefix << stride) | d, levels - 1, f)) return true;
    return false;
  }

  link root_;
  unsigned levels_ = 0;  // branches from the root to a leaf; every key is below 16^levels_
  std::size_t size_ = 0;
};

template <class V>
void dense_map<V>::dispose::operator()(node* p) const noexcept {
  if (p->leaf)
    rc::plain_dispose<leaf_node>{}(static_cast<leaf_node*>(p));
  else
    rc::plain_dispose<branch_node>{}(static_cast<branch_node*>(p));
}

}  // namespace cvn
