#pragma once
// Persistent ordered map: an AVL tree of reference-counted nodes with path copying.
//
// Every update returns a new map and leaves the old one valid; the two share every node off the updated
// path. A map that is updated as an rvalue reuses the nodes that nothing else shares, so a fold that drops
// each old version costs about what a mutable tree costs, while any version somebody kept stays intact.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "base/base_types.h"
#include "base/rc.h"

namespace cvn {

template <class K, class V, class Compare = std::less<K>>
class pmap {
  struct node;
  using link = rc::ptr<node>;
  struct node {
    K key;
    [[no_unique_address]] V value;  // an empty value (a set) takes no room
    link left;
    link right;
    int height = 1;
    std::uint32_t refs = 1;
  };

 public:
  using key_type = K;
  using mapped_type = V;

  pmap() = default;
  explicit pmap(Compare cmp) : cmp_(std::move(cmp)) {}

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }

  /// The value bound to the key, or nullptr.
  [[nodiscard]] const V* find(const K& key) const {
    const node* t = root_.get();
    while (t != nullptr) {
      const int c = order(key, t->key);
      if (c < 0)
        t = t->left.get();
      else if (c > 0)
        t = t->right.get();
      else
        return &t->value;
    }
    return nullptr;
  }
  [[nodiscard]] bool contains(const K& key) const { return find(key) != nullptr; }
  /// The value bound to the key. Throws Not_found.
  [[nodiscard]] const V& get(const K& key) const {
    if (const V* v = find(key)) return *v;
    throw Not_found();
  }

  /// The map with the key bound to the value, replacing any earlier binding.
  [[nodiscard]] pmap add(K key, V value) const& { return pmap(*this).add(std::move(key), std::move(value)); }
  [[nodiscard]] pmap add(K key, V value) && {
    auto make = [&] { return std::move(value); };
    auto assign = [&](V& v) { v = std::move(value); };
    upsert(root_, key, make, assign, false);
    return std::move(*this);
  }

  /// The map with f applied to the value of the key (a default value when the key is absent).
  template <class F>
  [[nodiscard]] pmap update(const K& key, F&& f) const& {
    return pmap(*this).update(key, std::forward<F>(f));
  }
  template <class F>
  [[nodiscard]] pmap update(const K& key, F&& f) && {
    auto make = [] { return V{}; };
    upsert(root_, key, make, f, true);
    return std::move(*this);
  }

  /// The map without the key; the same map when the key is absent.
  [[nodiscard]] pmap remove(const K& key) const& {
    if (!contains(key)) return *this;
    return pmap(*this).remove(key);
  }
  [[nodiscard]] pmap remove(const K& key) && {
    if (contains(key)) {
      remove_in(root_, key);
      --size_;
    }
    return std::move(*this);
  }

  /// Visits every binding in ascending key order.
  template <class F>
  void for_each(F&& f) const {
    visit_asc(root_.get(), f);
  }
  /// Visits the bindings in ascending key order until f returns true; true when it did.
  template <class F>
  bool for_each_until(F&& f) const {
    return visit_until(root_.get(), f);
  }
  /// Visits every binding in descending key order.
  template <class F>
  void for_each_desc(F&& f) const {
    visit_desc(root_.get(), f);
  }
  /// Visits, in ascending order, the bindings whose key is equivalent to the probe under the comparison
  /// (a comparison that orders probes against keys, such as a comparison on a key's first component).
  template <class Q, class F>
  void for_each_equivalent(const Q& probe, F&& f) const {
    visit_equivalent(root_.get(), probe, f);
  }
  /// Accumulates over the bindings in ascending key order.
  template <class A, class F>
  [[nodiscard]] A fold(F&& f, A acc) const {
    for_each([&](const K& k, const V& v) { acc = f(k, v, std::move(acc)); });
    return acc;
  }
  /// The bindings in ascending key order.
  [[nodiscard]] std::vector<std::pair<K, V>> bindings() const {
    std::vector<std::pair<K, V>> out;
    out.reserve(size_);
    for_each([&](const K& k, const V& v) { out.emplace_back(k, v); });
    return out;
  }
  /// The binding with the greatest key, or nullptr when empty.
  [[nodiscard]] std::pair<const K*, const V*> max_binding() const {
    const node* t = root_.get();
    if (t == nullptr) return {nullptr, nullptr};
    while (t->right) t = t->right.get();
    return {&t->key, &t->value};
  }

  /// Structural validity (order, balance, heights, size); used by the tests.
  [[nodiscard]] bool invariants_hold() const {
    std::size_t n = 0;
    return check(root_.get(), nullptr, nullptr, n) >= 0 && n == size_;
  }

 private:
  static int height(const link& t) { return t ? t->height : 0; }
  static void fix_height(node& n) { n.height = 1 + std::max(height(n.left), height(n.right)); }
  // Makes t a node that only this path holds: shared nodes are copied, private ones reused.
  static void own(link& t) {
    if (!t.unique()) copy(t);
  }
  // Out of line, so that the test above stays inline in every walk.
  [[gnu::noinline]] static void copy(link& t) { t = link(rc::create<node>(*t)); }
  static void rotate_right(link& t) {
    link l = std::move(t->left);
    own(l);
    t->left = std::move(l->right);
    fix_height(*t);
    l->right = std::move(t);
    fix_height(*l);
    t = std::move(l);
  }
  static void rotate_left(link& t) {
    link r = std::move(t->right);
    own(r);
    t->right = std::move(r->left);
    fix_height(*t);
    r->left = std::move(t);
    fix_height(*r);
    t = std::move(r);
  }
  // t is owned by the caller.
  static void rebalance(link& t) {
    const int balance = height(t->left) - height(t->right);
    if (balance > 1) {
      if (height(t->left->left) < height(t->left->right)) {
        own(t->left);
        rotate_left(t->left);
      }
      rotate_right(t);
    } else if (balance < -1) {
      if (height(t->right->right) < height(t->right->left)) {
        own(t->right);
        rotate_right(t->right);
      }
      rotate_left(t);
    } else {
      fix_height(*t);
    }
  }

  // Binds the key to make() when absent (then applies f when apply_new), applies f to its value otherwise.
  // True when the height of t changed. Above a subtree whose height did not change nothing needs
  // rebalancing, and skipping it spares a visit to each sibling off the path, a cache miss apiece in a
  // large map.
  template <class M, class F>
  bool upsert(link& t, const K& key, M& make, F& f, bool apply_new) {
    if (!t) {
      t = link(rc::create<node>(key, make(), nullptr, nullptr));
      ++size_;
      if (apply_new) f(t->value);
      return true;
    }
    own(t);
    bool grew = false;
    const int c = order(key, t->key);
    if (c < 0) {
      grew = upsert(t->left, key, make, f, apply_new);
    } else if (c > 0) {
      grew = upsert(t->right, key, make, f, apply_new);
    } else {
      f(t->value);
      return false;
    }
    if (!grew) return false;
    const int before = t->height;
    rebalance(t);
    return t->height != before;
  }

  // Detaches the smallest node of t into out.
  static void remove_min(link& t, link& out) {
    own(t);
    if (!t->left) {
      out = std::move(t);
      t = out->right;
      return;
    }
    remove_min(t->left, out);
    rebalance(t);
  }
  // The key is present under t.
  void remove_in(link& t, const K& key) {
    own(t);
    const int c = order(key, t->key);
    if (c < 0) {
      remove_in(t->left, key);
    } else if (c > 0) {
      remove_in(t->right, key);
    } else {
      if (!t->left) {
        link r = std::move(t->right);
        t = std::move(r);
        return;
      }
      if (!t->right) {
        link l = std::move(t->left);
        t = std::move(l);
        return;
      }
      link m;
      remove_min(t->right, m);
      m->left = std::move(t->left);
      m->right = std::move(t->right);
      t = std::move(m);
    }
    rebalance(t);
  }

  template <class F>
  static void visit_asc(const node* t, F& f) {
    while (t != nullptr) {
      visit_asc(t->left.get(), f);
      f(t->key, t->value);
      t = t->right.get();
    }
  }
  template <class F>
  static bool visit_until(const node* t, F& f) {
    while (t != nullptr) {
      if (visit_until(t->left.get(), f) || f(t->key, t->value)) return true;
      t = t->right.get();
    }
    return false;
  }
  template <class F>
  static void visit_desc(const node* t, F& f) {
    while (t != nullptr) {
      visit_desc(t->right.get(), f);
      f(t->key, t->value);
      t = t->left.get();
    }
  }
  template <class Q, class F>
  void visit_equivalent(const node* t, const Q& probe, F& f) const {
    while (t != nullptr) {
      const int c = order(probe, t->key);
      if (c > 0) {
        t = t->right.get();
      } else if (c < 0) {
        t = t->left.get();
      } else {
        visit_equivalent(t->left.get(), probe, f);
        f(t->key, t->value);
        t = t->right.get();
      }
    }
  }

  // a before b (negative), equivalent (zero) or after (positive): in one call for an order that can tell
  // (a member three_way(a, b)), which halves the comparisons of a descent; else from one or two calls.
  template <class A, class B>
  [[nodiscard]] int order(const A& a, const B& b) const {
    if constexpr (requires { cmp_.three_way(a, b); })
      return cmp_.three_way(a, b);
    else
      return cmp_(a, b) ? -1 : cmp_(b, a) ? 1 : 0;
  }

  int check(const node* t, const K* lo, const K* hi, std::size_t& n) const {
    if (t == nullptr) return 0;
    ++n;
    if (lo != nullptr && !cmp_(*lo, t->key)) return -1;
    if (hi != nullptr && !cmp_(t->key, *hi)) return -1;
    const int l = check(t->left.get(), lo, &t->key, n);
    const int r = check(t->right.get(), &t->key, hi, n);
    if (l < 0 || r < 0 || l - r > 1 || r - l > 1 || t->height != 1 + std::max(l, r)) return -1;
    return t->height;
  }

  link root_;
  std::size_t size_ = 0;
  [[no_unique_address]] Compare cmp_{};
};

}  // namespace cvn
