#pragma once
// Identifier tables: persistent maps that hand out their own keys.
//
// Identifiers start at 1 and come from a counter shared by every version derived from one `create`, so an
// identifier is never handed out twice, even after a removal or when adding to an older version. Three
// backends offer the same operations; `table` uses the one chosen once per process (the array backend when
// TMAP_ARRAY is set, the Patricia backend otherwise). All three visit in the Patricia order (descending
// bit-reversed identifier), so the choice never changes what a printer lists.
#include <array>
#include <bit>
#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

#include "base/base_types.h"
#include "base/patricia.h"
#include "base/pmap.h"

namespace cvn::tmap {

/// An identifier of a table whose values have type Tag (so identifiers of different tables do not mix).
template <class Tag>
struct ident {
  std::int64_t value = 0;
  auto operator<=>(const ident&) const = default;
};

/// The integer order of two identifiers: negative, zero or positive.
template <class Tag>
[[nodiscard]] int compare_key(ident<Tag> a, ident<Tag> b) {
  return a.value < b.value ? -1 : (a.value > b.value ? 1 : 0);
}
/// The identifier as an integer (for printing).
template <class Tag>
[[nodiscard]] std::int64_t int_of(ident<Tag> id) {
  return id.value;
}

/// The identifier with its 64 bits in reverse order.
[[nodiscard]] inline std::uint64_t bit_reverse(std::uint64_t x) {
  x = ((x >> 1) & 0x5555555555555555ULL) | ((x & 0x5555555555555555ULL) << 1);
  x = ((x >> 2) & 0x3333333333333333ULL) | ((x & 0x3333333333333333ULL) << 2);
  x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((x & 0x0F0F0F0F0F0F0F0FULL) << 4);
  x = ((x >> 8) & 0x00FF00FF00FF00FFULL) | ((x & 0x00FF00FF00FF00FFULL) << 8);
  x = ((x >> 16) & 0x0000FFFF0000FFFFULL) | ((x & 0x0000FFFF0000FFFFULL) << 16);
  return (x >> 32) | (x << 32);
}

enum class backend { map, array, patricia };

/// The backend of every `table` of this process: read from TMAP_ARRAY on first use.
[[nodiscard]] backend selected_backend();

// Operations shared by the backends, written once over the backend's own store.
template <class Derived, class V, class Tag>
class table_ops {
 public:
  using id = ident<Tag>;

  /// (new identifier, table with the value under it).
  [[nodiscard]] std::pair<id, Derived> add(V value) const& { return Derived(self()).add(std::move(value)); }
  [[nodiscard]] std::pair<id, Derived> add(V value) && {
    const id fresh{++*self().counter_};
    Derived r = std::move(self());
    r.store(fresh.value, std::move(value));
    if constexpr (requires { r.expect_after(fresh.value); }) r.expect_after(fresh.value);
    return {fresh, std::move(r)};
  }
  /// The table with the identifier bound to the new value.
  [[nodiscard]] Derived modify(id i, V value) const& { return Derived(self()).modify(i, std::move(value)); }
  [[nodiscard]] Derived modify(id i, V value) && {
    Derived r = std::move(self());
    r.store(i.value, std::move(value));
    return r;
  }
  /// The accumulation over the entries in visiting order.
  template <class A, class F>
  [[nodiscard]] A fold(F&& f, A acc) const {
    self().visit([&](std::int64_t k, const V& v) { acc = f(id{k}, v, std::move(acc)); });
    return acc;
  }
  /// Visits the entries in visiting order.
  template <class F>
  void iter(F&& f) const {
    self().visit([&](std::int64_t k, const V& v) { f(id{k}, v); });
  }
  /// Visits every entry once, in no promised order: by ascending identifier when most identifiers handed
  /// out are in use, else in visiting order. Identifiers are handed out as records are made, so ascending
  /// order reads the records in the order they lie in memory, where the visiting order jumps between them:
  /// for reading a whole table into an array.
  template <class F>
  void iter_unordered(F&& f) const {
    const std::int64_t last = *self().counter_;
    if (last / 2 > static_cast<std::int64_t>(self().card())) {
      iter(f);
      return;
    }
    for (std::int64_t k = 1; k <= last; ++k)
      if (const V* v = self().find_value(k)) f(id{k}, *v);
  }
  /// The first identifier, in visiting order, whose value satisfies the predicate. Throws Not_found.
  template <class P>
  [[nodiscard]] id find(P&& p) const {
    std::optional<std::int64_t> found;
    self().visit_until([&](std::int64_t k, const V& v) {
      if (p(v)) found = k;
      return found.has_value();
    });
    if (!found) throw Not_found();
    return id{*found};
  }

 private:
  const Derived& self() const { return static_cast<const Derived&>(*this); }
  Derived& self() { return static_cast<Derived&>(*this); }
};

/// Table on the ordered map, keyed so that ascending map order is the Patricia visiting order.
template <class V, class Tag = V>
class map_table : public table_ops<map_table<V, Tag>, V, Tag> {
  friend class table_ops<map_table, V, Tag>;

 public:
  using id = ident<Tag>;
  /// An empty table with a new counter; the filler is not used by this backend.
  [[nodiscard]] static map_table create(const V& /*filler*/) { return map_table(); }
  /// Throws Not_found.
  [[nodiscard]] const V& get(id i) const { return entries_.get(bit_reverse(static_cast<std::uint64_t>(i.value))); }
  [[nodiscard]] bool mem(id i) const { return entries_.contains(bit_reverse(static_cast<std::uint64_t>(i.value))); }
  [[nodiscard]] map_table remove(id i) const& { return map_table(*this).remove(i); }
  [[nodiscard]] map_table remove(id i) && {
    entries_ = std::move(entries_).remove(bit_reverse(static_cast<std::uint64_t>(i.value)));
    return std::move(*this);
  }
  [[nodiscard]] std::size_t card() const { return entries_.size(); }

 private:
  map_table() : counter_(std::make_shared<std::int64_t>(0)) {}
  const V* find_value(std::int64_t k) const { return entries_.find(bit_reverse(static_cast<std::uint64_t>(k))); }
  void store(std::int64_t k, V value) {
    entries_ = std::move(entries_).add(bit_reverse(static_cast<std::uint64_t>(k)), std::move(value));
  }
  template <class F>
  void visit(F&& f) const {
    entries_.for_each([&](std::uint64_t r, const V& v) { f(static_cast<std::int64_t>(bit_reverse(r)), v); });
  }
  template <class F>
  void visit_until(F&& f) const {
    entries_.for_each_until([&](std::uint64_t r, const V& v) { return f(static_cast<std::int64_t>(bit_reverse(r)), v); });
  }

  std::shared_ptr<std::int64_t> counter_;
  pmap<std::uint64_t, V, std::greater<std::uint64_t>> entries_;
};

/// Table on the little-endian Patricia trie.
template <class V, class Tag = V>
class patricia_table : public table_ops<patricia_table<V, Tag>, V, Tag> {
  friend class table_ops<patricia_table, V, Tag>;

 public:
  using id = ident<Tag>;
  /// An empty table with a new counter; the filler is not used by this backend.
  [[nodiscard]] static patricia_table create(const V& /*filler*/) { return patricia_table(); }
  /// Throws Not_found.
  [[nodiscard]] const V& get(id i) const { return entries_.get(static_cast<std::uint64_t>(i.value)); }
  [[nodiscard]] bool mem(id i) const { return entries_.contains(static_cast<std::uint64_t>(i.value)); }
  [[nodiscard]] patricia_table remove(id i) const& { return patricia_table(*this).remove(i); }
  [[nodiscard]] patricia_table remove(id i) && {
    entries_ = std::move(entries_).remove(static_cast<std::uint64_t>(i.value));
    return std::move(*this);
  }
  [[nodiscard]] std::size_t card() const { return entries_.size(); }
  /// A hint, after identifier k was handed out, that the next ones come. Identifiers are handed out in
  /// sequence, and in a little-endian trie consecutive ones part at the root, so each insertion would find
  /// the lower branches of its path cold. This prefetches the lowest branch on the path of k + 1 and the one
  /// above it on the path of k + 2 (the levels above are few and mostly cached), so that the work done
  /// between two insertions hides that latency. (Inlined, for the reason given at patricia::prefetch.)
  [[gnu::always_inline]] void expect_after(std::int64_t k) const {
    const auto next = static_cast<std::uint64_t>(k) + 1;
    const auto bottom = static_cast<unsigned>(std::bit_width(next) - 1) / 4;  // level of the lowest branches
    if (bottom < 3) return;  // a small trie stays cached
    entries_.prefetch(next, bottom);
    entries_.prefetch(next + 1, bottom - 1);
  }

 private:
  patricia_table() : counter_(std::make_shared<std::int64_t>(0)) {}
  const V* find_value(std::int64_t k) const { return entries_.find(static_cast<std::uint64_t>(k)); }
  void store(std::int64_t k, V value) {
    entries_ = std::move(entries_).add(static_cast<std::uint64_t>(k), std::move(value));
  }
  template <class F>
  void visit(F&& f) const {
    entries_.for_each([&](std::uint64_t k, const V& v) { f(static_cast<std::int64_t>(k), v); });
  }
  template <class F>
  void visit_until(F&& f) const {
    entries_.for_each_until([&](std::uint64_t k, const V& v) { return f(static_cast<std::int64_t>(k), v); });
  }

  std::shared_ptr<std::int64_t> counter_;
  patricia<V> entries_;
};

/// Table on a persistent array: a shallow trie of 64-slot chunks, each with a one-word bit set of used
/// slots; unused slots hold the filler. An update copies the chunk it writes and the chunks above it.
template <class V, class Tag = V>
class array_table : public table_ops<array_table<V, Tag>, V, Tag> {
  friend class table_ops<array_table, V, Tag>;
  static constexpr int slot_bits = 6;   // 64 slots: the bit set is one machine word
  static constexpr int fan_bits = 4;    // 16 children per inner chunk
  static constexpr std::uint64_t slot_mask = (1U << slot_bits) - 1;
  static constexpr std::uint64_t fan_mask = (1U << fan_bits) - 1;

  struct leaf_chunk {
    std::uint64_t used = 0;
    std::array<V, 64> slots;
  };
  struct inner_chunk {
    std::array<std::shared_ptr<void>, 16> kids;
  };

 public:
  using id = ident<Tag>;
  /// An empty table with a new counter; the filler fills the unused slots.
  [[nodiscard]] static array_table create(const V& filler) { return array_table(filler); }
  /// Throws Not_found.
  [[nodiscard]] const V& get(id i) const {
    const V* v = find_value(i.value);
    if (v == nullptr) throw Not_found();
    return *v;
  }
  [[nodiscard]] bool mem(id i) const { return find_value(i.value) != nullptr; }
  [[nodiscard]] array_table remove(id i) const& {
    if (!mem(i)) return *this;
    return array_table(*this).remove(i);
  }
  [[nodiscard]] array_table remove(id i) && {
    if (mem(i)) {
      leaf_chunk& l = writable_leaf(static_cast<std::uint64_t>(i.value));
      const std::uint64_t s = static_cast<std::uint64_t>(i.value) & slot_mask;
      l.used &= ~(std::uint64_t{1} << s);
      l.slots[s] = *filler_;
      --size_;
    }
    return std::move(*this);
  }
  [[nodiscard]] std::size_t card() const { return size_; }

 private:
  explicit array_table(const V& filler)
      : counter_(std::make_shared<std::int64_t>(0)), filler_(std::make_shared<const V>(filler)) {}

  [[nodiscard]] std::uint64_t capacity() const { return std::uint64_t{1} << (slot_bits + fan_bits * depth_); }

  const V* find_value(std::int64_t k) const {
    const leaf_chunk* l = leaf_of(k);
    const std::uint64_t s = static_cast<std::uint64_t>(k) & slot_mask;
    return l != nullptr && (l->used & (std::uint64_t{1} << s)) != 0 ? &l->slots[s] : nullptr;
  }

  const leaf_chunk* leaf_of(std::int64_t k) const {
    if (k < 0 || static_cast<std::uint64_t>(k) >= capacity() || !root_) return nullptr;
    const std::uint64_t chunk = static_cast<std::uint64_t>(k) >> slot_bits;
    const void* t = root_.get();
    for (int level = depth_ - 1; level >= 0 && t != nullptr; --level)
      t = static_cast<const inner_chunk*>(t)->kids[(chunk >> (fan_bits * level)) & fan_mask].get();
    return static_cast<const leaf_chunk*>(t);
  }

  // The leaf chunk of k, made private to this table along its path (created when missing).
  leaf_chunk& writable_leaf(std::uint64_t k) {
    while (k >= capacity()) {
      if (root_) {
        auto up = std::make_shared<inner_chunk>();
        up->kids[0] = std::move(root_);
        root_ = std::move(up);
      }
      ++depth_;
    }
    const std::uint64_t chunk = k >> slot_bits;
    std::shared_ptr<void>* t = &root_;
    for (int level = depth_ - 1; level >= 0; --level) {
      if (!*t)
        *t = std::make_shared<inner_chunk>();
      else if (t->use_count() != 1)
        *t = std::make_shared<inner_chunk>(*static_cast<const inner_chunk*>(t->get()));
      t = &static_cast<inner_chunk*>(t->get())->kids[(chunk >> (fan_bits * level)) & fan_mask];
    }
    if (!*t) {
      auto fresh = std::make_shared<leaf_chunk>();
      fresh->slots.fill(*filler_);
      *t = std::move(fresh);
    } else if (t->use_count() != 1) {
      *t = std::make_shared<leaf_chunk>(*static_cast<const leaf_chunk*>(t->get()));
    }
    return *static_cast<leaf_chunk*>(t->get());
  }

  void store(std::int64_t k, V value) {
    if (k <= 0) throw Not_found();
    leaf_chunk& l = writable_leaf(static_cast<std::uint64_t>(k));
    const std::uint64_t s = static_cast<std::uint64_t>(k) & slot_mask;
    if ((l.used & (std::uint64_t{1} << s)) == 0) ++size_;
    l.used |= std::uint64_t{1} << s;
    l.slots[s] = std::move(value);
  }

  template <class F>
  void visit_until(F&& f) const {
    if (size_ == 0) return;
    // Every identifier of any version is at most the shared counter: enumerate the bit-reversed values of
    // that many bits downwards, which is the Patricia order.
    const int bits = std::bit_width(static_cast<std::uint64_t>(*counter_));
    const std::uint64_t top = std::uint64_t{1} << bits;
    std::size_t seen = 0;
    for (std::uint64_t r = top; r-- > 0 && seen < size_;) {
      const std::uint64_t k = bit_reverse(r) >> (64 - bits);
      const leaf_chunk* l = leaf_of(static_cast<std::int64_t>(k));
      if (l == nullptr || (l->used & (std::uint64_t{1} << (k & slot_mask))) == 0) continue;
      ++seen;
      if (f(static_cast<std::int64_t>(k), l->slots[k & slot_mask])) return;
    }
  }
  template <class F>
  void visit(F&& f) const {
    visit_until([&](std::int64_t k, const V& v) {
      f(k, v);
      return false;
    });
  }

  std::shared_ptr<std::int64_t> counter_;
  std::shared_ptr<const V> filler_;
  std::shared_ptr<void> root_;
  int depth_ = 0;  // inner levels above the leaf chunks
  std::size_t size_ = 0;
};

/// The identifier table of the models: the backend selected for the process.
template <class V, class Tag = V>
class table {
  using impl = std::variant<map_table<V, Tag>, array_table<V, Tag>, patricia_table<V, Tag>>;

 public:
  using id = ident<Tag>;

  /// An empty table with a new counter, on the selected backend.
  [[nodiscard]] static table create(const V& filler) { return create_on(selected_backend(), filler); }
  /// An empty table on the given backend (tests and benchmarks compare them).
  [[nodiscard]] static table create_on(backend b, const V& filler) {
    switch (b) {
      case backend::map:
        return table(impl(map_table<V, Tag>::create(filler)));
      case backend::array:
        return table(impl(array_table<V, Tag>::create(filler)));
      case backend::patricia:
        return table(impl(patricia_table<V, Tag>::create(filler)));
    }
    base_types::internal_error("tmap: unknown backend");
  }

  /// Throws Not_found.
  [[nodiscard]] const V& get(id i) const {
    return std::visit([&](const auto& t) -> const V& { return t.get(i); }, impl_);
  }
  [[nodiscard]] bool mem(id i) const {
    return std::visit([&](const auto& t) { return t.mem(i); }, impl_);
  }
  [[nodiscard]] std::pair<id, table> add(V value) const& { return table(*this).add(std::move(value)); }
  [[nodiscard]] std::pair<id, table> add(V value) && {
    return std::visit(
        [&](auto&& t) {
          auto [fresh, r] = std::move(t).add(std::move(value));
          return std::pair<id, table>(fresh, table(impl(std::move(r))));
        },
        std::move(impl_));
  }
  template <class A, class F>
  [[nodiscard]] A fold(F&& f, A acc) const {
    return std::visit([&](const auto& t) { return t.fold(f, std::move(acc)); }, impl_);
  }
  /// Throws Not_found.
  template <class P>
  [[nodiscard]] id find(P&& p) const {
    return std::visit([&](const auto& t) { return t.find(p); }, impl_);
  }
  template <class F>
  void iter(F&& f) const {
    std::visit([&](const auto& t) { t.iter(f); }, impl_);
  }
  template <class F>
  void iter_unordered(F&& f) const {
    std::visit([&](const auto& t) { t.iter_unordered(f); }, impl_);
  }
  [[nodiscard]] table remove(id i) const& { return table(*this).remove(i); }
  [[nodiscard]] table remove(id i) && {
    return std::visit([&](auto&& t) { return table(impl(std::move(t).remove(i))); }, std::move(impl_));
  }
  [[nodiscard]] table modify(id i, V value) const& { return table(*this).modify(i, std::move(value)); }
  [[nodiscard]] table modify(id i, V value) && {
    return std::visit([&](auto&& t) { return table(impl(std::move(t).modify(i, std::move(value)))); },
                      std::move(impl_));
  }
  [[nodiscard]] std::size_t card() const {
    return std::visit([](const auto& t) { return t.card(); }, impl_);
  }

 private:
  explicit table(impl i) : impl_(std::move(i)) {}
  impl impl_;
};

}  // namespace cvn::tmap
