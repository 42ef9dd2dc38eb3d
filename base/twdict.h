#pragma once
// Two-way dictionaries: values under pairs of keys (a, b), queried from either side.
//
// Both halves, a -> (b -> value) and b -> (a -> value), are updated together by every operation, so each
// always holds exactly the entries of the other.
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/base_types.h"
#include "base/pmap.h"

namespace cvn::twdict {

/// One group of `group_a` / `group_b`: a key, a value, and the other keys that hold that value with it.
template <class Key, class Other, class V>
struct group {
  Key key;
  V value;
  std::vector<Other> others;
};

template <class A, class B, class V, class CompareA = std::less<A>, class CompareB = std::less<B>>
class Make {
  using inner_a = pmap<B, V, CompareB>;
  using inner_b = pmap<A, V, CompareA>;

 public:
  /// The empty dictionary.
  [[nodiscard]] static Make empty() { return Make(); }

  /// The dictionary with the value under (a, b), replacing an earlier one.
  [[nodiscard]] Make add(const A& a, const B& b, const V& value) const {
    Make r = *this;
    r.by_a_ = std::move(r.by_a_).update(a, [&](inner_a& m) { m = std::move(m).add(b, value); });
    r.by_b_ = std::move(r.by_b_).update(b, [&](inner_b& m) { m = std::move(m).add(a, value); });
    return r;
  }
  /// The dictionary without (a, b).
  [[nodiscard]] Make remove(const A& a, const B& b) const {
    const inner_a* row = by_a_.find(a);
    if (row == nullptr || !row->contains(b)) return *this;
    Make r = *this;
    r.by_a_ = drop(std::move(r.by_a_), a, b);
    r.by_b_ = drop(std::move(r.by_b_), b, a);
    return r;
  }
  /// The value under (a, b). Throws Not_found.
  [[nodiscard]] const V& find(const A& a, const B& b) const {
    const inner_a* row = by_a_.find(a);
    if (row == nullptr) throw Not_found();
    return row->get(b);
  }
  /// The (b, value) pairs of a, in descending order of b.
  [[nodiscard]] std::vector<std::pair<B, V>> a_find_list(const A& a) const { return list_of(by_a_, a); }
  /// The (a, value) pairs of b, in descending order of a.
  [[nodiscard]] std::vector<std::pair<A, V>> b_find_list(const B& b) const { return list_of(by_b_, b); }
  /// The dictionary without the entries of a.
  [[nodiscard]] Make a_remove(const A& a) const {
    Make r = *this;
    for (const auto& [b, v] : a_find_list(a)) r.by_b_ = drop(std::move(r.by_b_), b, a);
    r.by_a_ = std::move(r.by_a_).remove(a);
    return r;
  }
  /// The dictionary without the entries of b.
  [[nodiscard]] Make b_remove(const B& b) const {
    Make r = *this;
    for (const auto& [a, v] : b_find_list(b)) r.by_a_ = drop(std::move(r.by_a_), a, b);
    r.by_b_ = std::move(r.by_b_).remove(b);
    return r;
  }
  /// For each first key in descending order, its entries grouped by equal value: the second keys of a
  /// group in descending order, the groups in the order of their greatest second key.
  [[nodiscard]] std::vector<group<A, B, V>> group_a() const { return groups_of(by_a_); }
  /// The same grouping by second key.
  [[nodiscard]] std::vector<group<B, A, V>> group_b() const { return groups_of(by_b_); }

  /// Every entry as ((a, b), value), ascending.
  [[nodiscard]] std::vector<std::pair<std::pair<A, B>, V>> entries() const {
    std::vector<std::pair<std::pair<A, B>, V>> out;
    by_a_.for_each([&](const A& a, const inner_a& row) {
      row.for_each([&](const B& b, const V& v) { out.push_back({{a, b}, v}); });
    });
    return out;
  }

 private:
  // The outer map without the inner entry; an emptied row disappears, so absent and empty stay alike.
  template <class Outer, class K1, class K2>
  static Outer drop(Outer outer, const K1& k1, const K2& k2) {
    outer = std::move(outer).update(k1, [&](auto& row) { row = std::move(row).remove(k2); });
    if (outer.find(k1)->empty()) outer = std::move(outer).remove(k1);
    return outer;
  }
  template <class Outer, class K>
  static auto list_of(const Outer& outer, const K& k) {
    using row_t = std::remove_cvref_t<decltype(*outer.find(k))>;
    std::vector<std::pair<typename row_t::key_type, V>> out;
    if (const auto* row = outer.find(k))
      row->for_each_desc([&](const auto& other, const V& v) { out.emplace_back(other, v); });
    return out;
  }
  template <class Outer>
  static auto groups_of(const Outer& outer) {
    using key_t = typename Outer::key_type;
    using other_t = typename Outer::mapped_type::key_type;
    std::vector<group<key_t, other_t, V>> out;
    outer.for_each_desc([&](const key_t& k, const auto& row) {
      const std::size_t first = out.size();
      row.for_each_desc([&](const other_t& other, const V& v) {
        for (std::size_t i = first; i < out.size(); ++i)
          if (out[i].value == v) {
            out[i].others.push_back(other);
            return;
          }
        out.push_back(group<key_t, other_t, V>{k, v, {other}});
      });
    });
    return out;
  }

  pmap<A, inner_a, CompareA> by_a_;
  pmap<B, inner_b, CompareB> by_b_;
};

}  // namespace cvn::twdict
