#pragma once
// The editing interface shared by the persistent tries over unsigned 64-bit keys (patricia, radix_map).
//
// A trie provides `find`, and privately `upsert_key<in_place>(k, make, apply)` (binds k: a new binding
// holds make(), a present value is changed by apply; with `in_place` false a shared value is replaced
// rather than copied and changed) and `erase_key(k)` (k is present). Everything else follows here once:
// lookups that throw, and each edit on an lvalue as the same edit on a copy.
#include <cstdint>
#include <utility>

#include "base/base_types.h"

namespace cvn {

template <class Derived, class V>
class trie_ops {
 public:
  [[nodiscard]] bool contains(std::uint64_t k) const { return self().find(k) != nullptr; }
  /// Throws Not_found.
  [[nodiscard]] const V& get(std::uint64_t k) const {
    if (const V* v = self().find(k)) return *v;
    throw Not_found();
  }

  /// The trie with the key bound to the value, replacing any earlier binding.
  [[nodiscard]] Derived add(std::uint64_t k, V value) const& { return Derived(self()).add(k, std::move(value)); }
  [[nodiscard]] Derived add(std::uint64_t k, V value) && {
    auto make = [&] { return std::move(value); };
    auto assign = [&](V& v) { v = std::move(value); };
    self().template upsert_key<false>(k, make, assign);
    return std::move(self());
  }
  /// The trie with f applied to the value of the key (a default value when the key is absent).
  template <class F>
  [[nodiscard]] Derived update(std::uint64_t k, F&& f) const& {
    return Derived(self()).update(k, std::forward<F>(f));
  }
  template <class F>
  [[nodiscard]] Derived update(std::uint64_t k, F&& f) && {
    auto make = [&] {
      V v{};
      f(v);
      return v;
    };
    self().template upsert_key<true>(k, make, f);
    return std::move(self());
  }
  /// The trie without the key; the same trie when it is absent.
  [[nodiscard]] Derived remove(std::uint64_t k) const& {
    if (!contains(k)) return self();
    return Derived(self()).remove(k);
  }
  [[nodiscard]] Derived remove(std::uint64_t k) && {
    if (contains(k)) self().erase_key(k);
    return std::move(self());
  }

 private:
  const Derived& self() const { return static_cast<const Derived&>(*this); }
  Derived& self() { return static_cast<Derived&>(*this); }
};

}  // namespace cvn
