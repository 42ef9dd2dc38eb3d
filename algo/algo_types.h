#pragma once
// The algorithm model: definitions, ports and references in identifier tables, one graph node per element,
// and the labelled edges that tie them (containment, instantiation, data, precedence, copy).
//
// An algorithm is a persistent value: every primitive below returns a new algorithm and leaves its argument
// valid. Besides the fields that hold the model, the algorithm carries indexes derived from its graph
// (contents of each container, data sources of each port, counters for the mixing rule), kept in step by
// the primitives that touch the graph, so that the checks of algo_ops never scan a definition's references.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/additional.h"
#include "base/base_types.h"
#include "base/checks.h"
#include "base/radix.h"
#include "base/env.h"
#include "base/graph.h"
#include "base/loc.h"
#include "base/patricia.h"
#include "base/pmap.h"
#include "base/rc.h"
#include "base/shared.h"
#include "base/tmap.h"

namespace cvn::algo_types {

/// Direction of a port.
enum class direction : std::uint8_t { In, Out };

struct expr_node;

namespace detail {
// Expression nodes are many and all of one size: they come from slabs, without the heap's per-block
// header and rounding, and freed ones are reused for the next. The few whose location does not pack
// (see expr_node) are larger and come from the heap.
[[nodiscard]] void* allocate_expr_node();
void free_expr_node(void* p) noexcept;
struct expr_node_dispose {
  void operator()(expr_node* p) const noexcept;
};
}  // namespace detail

/// A located integer expression (port sizes, parameters, repetition factors): one shared, never changed
/// node holding the location and the descriptor, so an expression costs one pointer wherever it is kept.
/// The node counts its own references with a plain integer (the program is single-threaded): no separate
/// control block and no atomic operations, as for the persistent containers.
class expr {
 public:
  expr() = default;
  /// Where the expression was read; loc::none when built by the program.
  [[nodiscard]] loc::location where() const;
  [[nodiscard]] const expr_node* node() const { return node_.get(); }

 private:
  explicit expr(expr_node* adopted) : node_(adopted) {}
  template <class D>
  friend expr make_expr_node(const loc::location& where, D&& desc);

  rc::ptr<expr_node, detail::expr_node_dispose> node_;
};

// The cases of an expression node, in the model's order.
struct Int {
  std::int64_t value;
};
struct Ident {
  std::string name;
};
struct Plus {
  expr left, right;
};
struct Minus {
  expr left, right;
};
struct Div {
  expr left, right;
};
struct Mult {
  expr left, right;
};
struct Neg {
  expr operand;
};
struct List {
  std::vector<expr> items;
};
struct Bars {
  expr operand;
};

using expr_desc = std::variant<Int, Ident, Plus, Minus, Div, Mult, Neg, List, Bars>;

/// An expression's node: its descriptor and its location. Nodes are many (every size, argument and factor
/// of a model keeps its own), so the location is packed when, as nearly always, the expression lies within
/// one line and starts in the line's first 64K characters: 64 bytes in place of 80. Other locations are
/// held whole by a larger node (`wide`).
struct expr_node {
  enum class shape : std::uint8_t { Packed, None, Wide };
  expr_desc desc;
  // A packed location: file and line of both ends, the offsets of both, the column of the first.
  loc::file_ref file;
  std::int32_t line = 0;
  std::int32_t offset = 0;
  std::int32_t end_offset = 0;
  std::uint16_t column = 0;
  shape form = shape::None;
  std::uint32_t refs = 0;
};

namespace detail {
struct expr_node_wide : expr_node {
  loc::location where;
};
// True when the node's packed fields hold the location.
[[nodiscard]] inline bool packs(const loc::location& w) {
  return w.begin.file == w.end.file && w.begin.line == w.end.line && w.begin.bol == w.end.bol &&
         w.begin.offset >= w.begin.bol && w.begin.offset - w.begin.bol <= UINT16_MAX;
}
}  // namespace detail

inline loc::location expr::where() const {
  const expr_node& n = *node_;
  switch (n.form) {
    case expr_node::shape::Packed: {
      const std::int32_t bol = n.offset - n.column;
      return {{n.file, n.line, bol, n.offset}, {n.file, n.line, bol, n.end_offset}};
    }
    case expr_node::shape::None: return loc::none;
    case expr_node::shape::Wide: return static_cast<const detail::expr_node_wide&>(n).where;
  }
  return loc::none;
}

/// The descriptor of an expression.
[[nodiscard]] inline const expr_desc& desc_of(const expr& e) { return e.node()->desc; }

inline void detail::expr_node_dispose::operator()(expr_node* p) const noexcept {
  if (p->form == expr_node::shape::Wide) {
    delete static_cast<expr_node_wide*>(p);
    return;
  }
  p->~expr_node();
  free_expr_node(p);
}

template <class D>
[[nodiscard]] expr make_expr_node(const loc::location& where, D&& desc) {
  using shape = expr_node::shape;
  expr_node* p;
  const bool none = where == loc::none;
  if (none || detail::packs(where)) {
    const loc::position& b = where.begin;
    const auto column = static_cast<std::uint16_t>(none ? 0 : b.offset - b.bol);
    void* m = detail::allocate_expr_node();
    try {
      p = ::new (m) expr_node{std::forward<D>(desc), b.file, b.line, b.offset, where.end.offset, column,
                              none ? shape::None : shape::Packed, 1};
    } catch (...) {
      detail::free_expr_node(m);
      throw;
    }
  } else {
    p = new detail::expr_node_wide{{std::forward<D>(desc), {}, 0, 0, 0, 0, shape::Wide, 1}, where};
  }
  return expr(p);
}

/// The expression `desc` located at `where`.
[[nodiscard]] inline expr make_expr(const loc::location& where, expr_desc desc) {
  return make_expr_node(where, std::move(desc));
}

/// The same descriptor at another location (its operands are shared, not copied).
[[nodiscard]] inline expr relocate(const expr& e, const loc::location& where) { return make_expr(where, desc_of(e)); }

/// The deepest nesting of operations that the readers accept. Every walk over an expression (printing,
/// renaming, evaluating, freeing) recurses once per level, so a deeper expression could exhaust the stack.
inline constexpr std::uint32_t max_expr_depth = 1000;

/// A run of expressions on a reader's stack: where it starts (positions fit 32 bits, as source offsets do)
/// and how deeply its deepest expression nests.
struct expr_run {
  std::uint32_t start;
  std::uint32_t depth;
};

/// The depth of an operation at `where` whose deepest operand is `operand_depth` deep (a leaf is 1 deep).
/// Throws loc::Problem "Expression nested too deeply" at `where` past max_expr_depth.
[[nodiscard]] std::uint32_t nested_depth(std::uint32_t operand_depth, const loc::location& where);


/// An expression that may be absent, in one pointer where std::optional would add a flag and its padding:
/// the optional expressions of the records.
class opt_expr {
 public:
  opt_expr() = default;
  opt_expr(std::nullopt_t) {}                                      // NOLINT: converts like std::optional
  opt_expr(expr e) : e_(std::move(e)) {}                           // NOLINT
  opt_expr(const std::optional<expr>& e) : e_(e ? *e : expr()) {}  // NOLINT
  [[nodiscard]] bool has_value() const { return e_.node() != nullptr; }
  explicit operator bool() const { return has_value(); }
  const expr& operator*() const { return e_; }
  const expr* operator->() const { return &e_; }
  operator std::optional<expr>() const { return has_value() ? std::optional<expr>(e_) : std::nullopt; }  // NOLINT

 private:
  expr e_;  // no node when absent
};

/// Visitor made of lambdas, for std::visit.
template <class... F>
struct overloaded : F... {
  using F::operator()...;
};
template <class... F>
overloaded(F...) -> overloaded<F...>;

// ---------------------------------------------------------------------------------------------------------
// Records and identifiers

/// Kind of a definition, in the model's order.
enum class definition_kind { Function, Constant, Delay, Sensor, Actuator, Explode, Implode, Identity };

struct definition;
struct port;
struct reference;

using def_id = tmap::ident<definition>;
using port_id = tmap::ident<port>;
using ref_id = tmap::ident<reference>;

/// A condition: the value carried by the port equals the integer.
struct cond {
  port_id port;
  std::int64_t value = 0;
  auto operator<=>(const cond&) const = default;
};

/// How a repeated reference dispatches a port's data: split "*", same "=", gather "/".
enum class port_dispatch_kind { Split, Same, Gather };

/// A sequence option: the output port `first` is fed back to the input port `second` between iterations.
struct Seq_link {
  port_id first;
  port_id second;
};
/// A sequence option: a port with its dispatch kind.
struct Seq_dispatch {
  port_id port;
  port_dispatch_kind kind;
};
using seq_rep_opt = std::variant<Seq_link, Seq_dispatch>;

/// A parallel repetition: its factor and, per port, how the port's data is dispatched.
struct Parallel {
  expr factor;
  std::vector<std::pair<port_id, port_dispatch_kind>> dispatches;
};
/// A sequential repetition: its factor and its options.
struct Sequence {
  expr factor;
  std::vector<seq_rep_opt> options;
};
using repetition_kind = std::variant<Parallel, Sequence>;

// A repetition as the algorithm language writes it: ports by name. Algo_ops converts it to
// `repetition_kind` against the ports of the reference.
struct parallel_decl {
  expr factor;
  std::vector<std::pair<std::string, port_dispatch_kind>> dispatches;
};
/// Feedback from the output port `out_port` to the input port `in_port` ("out -> in").
struct seq_link_decl {
  std::string out_port;
  std::string in_port;
};
struct seq_dispatch_decl {
  std::string port;
  port_dispatch_kind kind;
};
using seq_opt_decl = std::variant<seq_link_decl, seq_dispatch_decl>;
struct sequence_decl {
  expr factor;
  std::vector<seq_opt_decl> options;
};
using repetition_decl = std::variant<parallel_decl, sequence_decl>;

// The records are many (a reference copies every port of its definition), so their fields are single
// pointers where they can be: shared texts and lists, which a copied record shares with its original, and
// null for what is absent or empty.

/// Definition record.
struct definition {
  base_types::qname def_name;
  definition_kind def_kind = definition_kind::Function;
  shared::value<std::vector<std::string>> def_params;
  shared::string def_comment;
};

/// Port record.
struct port {
  shared::string port_name;
  shared::string port_type;
  opt_expr port_size;  // absent: size 1
  opt_expr port_expr;
  additional::attributes port_additional;
  std::int32_t port_order = 0;  // 0-based among the ports of the same direction of its container
  direction port_dir = direction::In;
};

/// Reference record. The name stays a plain string: every reference has its own, which a string holds in
/// place where a shared one would take a node besides the pointer.
struct reference {
  std::string ref_name;
  shared::string ref_comment;
  shared::value<std::vector<expr>> ref_args;
  shared::optional<repetition_kind> ref_rep;
  additional::attributes ref_additional;
  std::optional<std::int64_t> ref_period;
  bool ref_abstract = false;
};

// ---------------------------------------------------------------------------------------------------------
// Graph elements and edges

struct Port {
  port_id id;
  auto operator<=>(const Port&) const = default;
};
struct Def {
  def_id id;
  auto operator<=>(const Def&) const = default;
};
struct Ref {
  ref_id id;
  auto operator<=>(const Ref&) const = default;
};
/// Any element of the model; ordered structurally.
using graph_elt = std::variant<Port, Def, Ref>;

/// Graph node key, allocated by the `elts` table.
using elt_id = tmap::ident<graph_elt>;

/// Data dependence from a producing port to a consuming port, always or under the condition.
struct Data {
  std::optional<cond> condition;
  auto operator<=>(const Data&) const = default;
};
/// Containment of a port or a reference; for a reference, the condition under which it exists.
struct Contain {
  std::optional<cond> condition;
  auto operator<=>(const Contain&) const = default;
};
/// Instantiation: reference to definition, reference port to definition port.
struct Reference {
  auto operator<=>(const Reference&) const = default;
};
/// From a port to its copy.
struct Copy {
  auto operator<=>(const Copy&) const = default;
};
/// Ordering without data, from one reference to another.
struct Precedence {
  auto operator<=>(const Precedence&) const = default;
};
/// Edge label; ordered structurally.
using edge = std::variant<Data, Contain, Reference, Copy, Precedence>;

using algo_graph = graph::Make_with_map<elt_id, edge>;

// ---------------------------------------------------------------------------------------------------------
// Derived indexes

/// A persistent map keyed by identifiers of one kind: a trie over the integer that keeps the newest
/// identifiers, the ones most edits touch, on one cached path.
template <class Id, class V>
class id_map {
 public:
  [[nodiscard]] const V* find(Id i) const { return trie_.find(key(i)); }
  /// Throws Not_found.
  [[nodiscard]] const V& get(Id i) const { return trie_.get(key(i)); }
  [[nodiscard]] bool contains(Id i) const { return trie_.contains(key(i)); }
  [[nodiscard]] id_map add(Id i, V v) && {
    trie_ = std::move(trie_).add(key(i), std::move(v));
    return std::move(*this);
  }
  /// f applied to the value of the key (a default value when absent).
  template <class F>
  [[nodiscard]] id_map update(Id i, F&& f) && {
    trie_ = std::move(trie_).update(key(i), std::forward<F>(f));
    return std::move(*this);
  }
  [[nodiscard]] id_map remove(Id i) && {
    trie_ = std::move(trie_).remove(key(i));
    return std::move(*this);
  }
  [[nodiscard]] std::size_t size() const { return trie_.size(); }
  [[nodiscard]] bool empty() const { return trie_.empty(); }
  /// Visits the bindings in ascending identifier order as f(id, value).
  template <class F>
  void for_each(F&& f) const {
    trie_.for_each([&](std::uint64_t k, const V& v) { f(Id{static_cast<std::int64_t>(k)}, v); });
  }

 private:
  static std::uint64_t key(Id i) { return static_cast<std::uint64_t>(i.value); }
  radix_map<V> trie_;
};

namespace detail {
struct unit {};

/// A name index of ports: (hash of the name, identifier). The entries of one hash are those of the name,
/// in ascending identifier order, and rare collisions that a lookup sorts out against the records; a key
/// is 16 bytes where the name itself would take 32 and more.
template <class Id>
struct hashed_compare {
  using entry = std::pair<std::uint64_t, Id>;
  bool operator()(const entry& a, const entry& b) const { return a < b; }
  bool operator()(const entry& a, std::uint64_t h) const { return a.first < h; }
  bool operator()(std::uint64_t h, const entry& b) const { return h < b.first; }
};
template <class Id>
using name_index = pmap<std::pair<std::uint64_t, Id>, unit, hashed_compare<Id>>;
[[nodiscard]] inline std::uint64_t name_hash(const std::string& s) { return std::hash<std::string>{}(s); }

/// Names by length, then byte by byte (negative, zero or positive): the index needs an order, not the
/// alphabetical one, and this one settles most comparisons of short names without a library call.
[[nodiscard]] inline int shortlex_compare(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const auto* x = reinterpret_cast<const unsigned char*>(a.data());
  const auto* y = reinterpret_cast<const unsigned char*>(b.data());
  const std::size_t n = a.size();
  if (n > 24) return std::memcmp(x, y, n);
  for (std::size_t k = 0; k < n; ++k)
    if (x[k] != y[k]) return x[k] < y[k] ? -1 : 1;
  return 0;
}

/// A reference in its container's name index: its name, its condition (port 0 when it has none) and
/// itself. The index keeps the names themselves: references are named in sequence ("r1", "r2", ...), and
/// name order puts each new one next to the last, where a hash would send every insertion and check down a
/// cold path of a large map. The condition comes before the identifier, so that one name used in many
/// cases of a match (a reference "a" in each) is found under one condition without visiting the others.
/// (The key of a long name; ref_name_index keys short ones by an integer in the same order.)
struct ref_key {
  std::string name;
  cond condition;
  ref_id id;
};
[[nodiscard]] inline cond cond_key(const std::optional<cond>& c) { return c.value_or(cond{port_id{0}, 0}); }
/// Orders reference keys; a bare name probes every key with that name, a `named` probe those with that
/// name and condition.
struct ref_key_compare {
  struct named {
    const std::string& name;
    cond condition;
  };
  [[nodiscard]] int three_way(const ref_key& a, const ref_key& b) const {
    if (const int c = three_way(named{a.name, a.condition}, b); c != 0) return c;
    return a.id < b.id ? -1 : b.id < a.id ? 1 : 0;
  }
  [[nodiscard]] int three_way(const named& a, const ref_key& b) const {
    if (const int c = shortlex_compare(a.name, b.name); c != 0) return c;
    return a.condition < b.condition ? -1 : b.condition < a.condition ? 1 : 0;
  }
  [[nodiscard]] int three_way(const std::string& a, const ref_key& b) const { return shortlex_compare(a, b.name); }
  bool operator()(const ref_key& a, const ref_key& b) const { return three_way(a, b) < 0; }
};

/// A container's references by name: the references of one name by condition (port 0 for none), then by
/// identifier. Names of up to 7 bytes are keys of a radix trie, each packed into an integer in the order
/// above (length, then bytes), so that names given in sequence land next to each other a few steps down
/// the trie, where a balanced tree of a large container takes twenty comparisons; longer names stay in a
/// tree of reference keys.
class ref_name_index {
 public:
  [[nodiscard]] bool empty() const { return short_.empty() && long_.empty(); }
  [[nodiscard]] ref_name_index add(const std::string& name, cond c, ref_id r) && {
    if (const std::optional<std::uint64_t> k = packed(name))
      short_ = std::move(short_).update(*k, [&](same_name& s) { s = std::move(s).add({c, r}, {}); });
    else
      long_ = std::move(long_).add({name, c, r}, {});
    return std::move(*this);
  }
  [[nodiscard]] ref_name_index remove(const std::string& name, cond c, ref_id r) && {
    if (const std::optional<std::uint64_t> k = packed(name)) {
      const same_name* s = short_.find(*k);
      if (s == nullptr) return std::move(*this);
      if (s->size() == 1 && s->contains({c, r}))
        short_ = std::move(short_).remove(*k);
      else
        short_ = std::move(short_).update(*k, [&](same_name& x) { x = std::move(x).remove({c, r}); });
    } else {
      long_ = std::move(long_).remove({name, c, r});
    }
    return std::move(*this);
  }
  /// f(reference) over the references of the name under the condition, in ascending identifier order.
  template <class F>
  void for_each_under(const std::string& name, cond c, F&& f) const {
    if (const std::optional<std::uint64_t> k = packed(name)) {
      if (const same_name* s = short_.find(*k))
        s->for_each_equivalent(c, [&](const std::pair<cond, ref_id>& e, const unit&) { f(e.second); });
    } else {
      long_.for_each_equivalent(ref_key_compare::named{name, c}, [&](const ref_key& key, const unit&) { f(key.id); });
    }
  }
  /// f(reference) over every reference of the name, by condition, then identifier.
  template <class F>
  void for_each_named(const std::string& name, F&& f) const {
    if (const std::optional<std::uint64_t> k = packed(name)) {
      if (const same_name* s = short_.find(*k))
        s->for_each([&](const std::pair<cond, ref_id>& e, const unit&) { f(e.second); });
    } else {
      long_.for_each_equivalent(name, [&](const ref_key& key, const unit&) { f(key.id); });
    }
  }

 private:
  // (condition, identifier) pairs, which a bare condition probes.
  struct cond_first {
    using entry = std::pair<cond, ref_id>;
    [[nodiscard]] int three_way(const cond& a, const entry& b) const { return a < b.first ? -1 : b.first < a ? 1 : 0; }
    [[nodiscard]] int three_way(const entry& a, const entry& b) const {
      if (const int c = three_way(a.first, b); c != 0) return c;
      return a.second < b.second ? -1 : b.second < a.second ? 1 : 0;
    }
    bool operator()(const entry& a, const entry& b) const { return three_way(a, b) < 0; }
  };
  using same_name = pmap<std::pair<cond, ref_id>, unit, cond_first>;
  // The length in the high byte, then the bytes from the first: integer order is the order of names by
  // length, then bytes.
  static std::optional<std::uint64_t> packed(const std::string& name) {
    if (name.size() > 7) return std::nullopt;
    std::uint64_t k = std::uint64_t{name.size()} << 56;
    for (std::size_t i = 0; i < name.size(); ++i)
      k |= std::uint64_t{static_cast<unsigned char>(name[i])} << (48 - 8 * i);
    return k;
  }
  radix_map<same_name> short_;
  pmap<ref_key, unit, ref_key_compare> long_;
};
}  // namespace detail

/// A container's references with the condition of each, in ascending identifier order. Most containers
/// hold a few, kept in a small balanced tree; a container with many moves them to an identifier trie, whose
/// lookups take a few steps where the tree takes one per halving, but whose blocks would outweigh a few
/// entries.
class ref_conds {
 public:
  /// Entries past which they move to the trie.
  static constexpr std::size_t few = 8;
  using value = std::optional<cond>;

  [[nodiscard]] std::size_t size() const { return many_.empty() ? few_.size() : many_.size(); }
  [[nodiscard]] bool empty() const { return size() == 0; }
  /// Throws Not_found.
  [[nodiscard]] const value& get(ref_id r) const { return many_.empty() ? few_.get(r) : many_.get(r); }
  [[nodiscard]] ref_conds add(ref_id r, value c) && {
    if (!many_.empty()) {
      many_ = std::move(many_).add(r, std::move(c));
    } else if (few_.size() < few || few_.contains(r)) {
      few_ = std::move(few_).add(r, std::move(c));
    } else {
      few_.for_each([&](ref_id q, const value& qc) { many_ = std::move(many_).add(q, qc); });
      few_ = {};
      many_ = std::move(many_).add(r, std::move(c));
    }
    return std::move(*this);
  }
  [[nodiscard]] ref_conds remove(ref_id r) && {
    if (many_.empty())
      few_ = std::move(few_).remove(r);
    else
      many_ = std::move(many_).remove(r);
    return std::move(*this);
  }
  /// f(reference, condition) in ascending identifier order.
  template <class F>
  void for_each(F&& f) const {
    if (many_.empty())
      few_.for_each(f);
    else
      many_.for_each(f);
  }

 private:
  pmap<ref_id, value> few_;  // used while many_ is empty
  id_map<ref_id, value> many_;
};

/// What a container (a definition or a reference) holds, kept from its `Contain` edges and the data edges
/// of its ports. Identifiers grow with time, so ascending identifier order is insertion order.
///
/// There is one per reference of the model, and a reference holds only the handful of ports of its
/// definition: those few ports (with a byte of each one's name) and the port counters are held in place
/// (32 bytes, which the element map keeps in its blocks, with no heap block of its own), and the rest,
/// which a definition needs (its references, the name indexes, the counters of the mixing rule) and a
/// reference only past `few_max` ports, sits behind one shared pointer, null until needed. A copy shares that part; the first change of a
/// shared one copies it (its maps are persistent: a few words each). The port counters in place have 16
/// bits; a container with more ports than that counts them in the shared part.
///
/// The name indexes are kept only for containers with more than `named_from` elements: below that a lookup
/// reads the few records. Once made, an index is complete and kept until its container is empty.
class contents {
 public:
  static constexpr std::size_t named_from = 8;
  static constexpr std::size_t few_max = 5;

  struct rest {
    pmap<port_id, detail::unit> ports;  // every port, once they do not fit in place
    detail::name_index<port_id> port_names;
    ref_conds refs;
    detail::ref_name_index ref_names;
    std::uint32_t uncond_refs = 0;
    std::uint32_t cond_refs = 0;
    std::uint32_t uncond_links = 0;     // unconditioned data edges between two ports of this definition
    std::uint32_t cond_port_links = 0;  // conditioned data edges leaving its input ports or reaching its outputs
    std::uint32_t wide_ports[2] = {0, 0};  // the input and output port counts, once they do not fit in place
  };

  /// The number of input or output ports.
  [[nodiscard]] std::size_t port_count(bool input) const {
    const std::uint16_t n = ports_[input ? 0 : 1];
    return n != wide ? n : more().wide_ports[input ? 0 : 1];
  }
  /// Counts a port added (+1) or removed (-1), none below zero.
  void count_port(bool input, int step) {
    std::uint16_t& n = ports_[input ? 0 : 1];
    if (n != wide && !(step > 0 && n + 1 == wide)) {
      if (step > 0)
        ++n;
      else if (n > 0)
        --n;
      return;
    }
    std::uint32_t& w = own().wide_ports[input ? 0 : 1];
    if (n != wide) {
      w = n;
      n = wide;
    }
    if (step > 0)
      ++w;
    else if (w > 0)
      --w;
  }

  /// The part held out of place; an empty one when there is none.
  [[nodiscard]] const rest& more() const { return rest_ ? rest_->value : empty_rest(); }
  /// The same for changing: made, or copied when shared, first.
  rest& own() {
    if (!rest_)
      rest_ = shared_rest(rc::create<rest_node>());
    else if (!rest_.unique())
      rest_ = shared_rest(rc::create<rest_node>(rest_->value));
    return rest_->value;
  }

  [[nodiscard]] std::size_t port_total() const {
    if (spilled()) return rest_->value.ports.size();
    std::size_t n = 0;
    while (n < few_max && few_[n] != free_slot) ++n;
    return n;
  }
  /// Visits the ports in ascending identifier order as f(id).
  template <class F>
  void for_each_port(F&& f) const {
    (void)for_each_port_until([&](port_id p) {
      f(p);
      return false;
    });
  }
  /// Visits in ascending order until f returns true; true when it did.
  template <class F>
  bool for_each_port_until(F&& f) const {
    if (spilled()) return rest_->value.ports.for_each_until([&](port_id p, const detail::unit&) { return f(p); });
    for (std::size_t k = 0; k < few_max && few_[k] != free_slot; ++k)
      if (f(id_of(few_[k]))) return true;
    return false;
  }
  /// Visits in ascending order, until f returns true, the ports that may be named `name`: while they are held
  /// in place, only those whose name has the same tag, else all of them; true when f did.
  template <class F>
  bool for_each_port_maybe_named_until(std::string_view name, F&& f) const {
    if (spilled()) return for_each_port_until(f);
    const std::uint32_t tag = name_tag(name);
    for (std::size_t k = 0; k < few_max && few_[k] != free_slot; ++k)
      if ((few_[k] & tag_mask) == tag && f(id_of(few_[k]))) return true;
    return false;
  }
  void add_port(port_id p, std::string_view name) {
    if (!spilled()) {
      const std::size_t n = port_total();
      std::uint32_t* const end = few_.data() + n;
      const bool fits = p.value >= 0 && p.value < id_limit;
      const auto v = static_cast<std::uint32_t>(p.value) << tag_bits;
      std::uint32_t* const at = std::lower_bound(few_.data(), end, v);
      if (fits && at != end && (*at >> tag_bits) == (v >> tag_bits)) return;
      if (fits && n < few_max) {
        std::move_backward(at, end, end + 1);
        *at = v | name_tag(name);
        return;
      }
      rest& r = own();
      for (std::size_t k = 0; k < n; ++k) r.ports = std::move(r.ports).add(id_of(few_[k]), {});
      few_.fill(free_slot);
    }
    rest& r = own();
    r.ports = std::move(r.ports).add(p, {});
  }
  void remove_port(port_id p) {
    if (spilled()) {
      rest& r = own();
      r.ports = std::move(r.ports).remove(p);
      return;
    }
    std::uint32_t* const end = few_.data() + port_total();
    if (p.value < 0 || p.value >= id_limit) return;
    std::uint32_t* const at = std::find_if(few_.data(), end, [&](std::uint32_t x) { return id_of(x) == p; });
    if (at == end) return;
    std::move(at + 1, end, at);
    end[-1] = free_slot;
  }

 private:
  // A port held in place is its identifier above a byte of its name, which a lookup by name compares before
  // it reads the port's record. Identifiers from 0 to just below id_limit are held in place; a free slot
  // holds a value no port takes.
  static constexpr unsigned tag_bits = 8;
  static constexpr std::uint32_t tag_mask = (1U << tag_bits) - 1;
  static constexpr std::int64_t id_limit = (std::int64_t{1} << (32 - tag_bits)) - 1;
  static constexpr std::uint32_t free_slot = UINT32_MAX;
  static port_id id_of(std::uint32_t x) { return port_id{static_cast<std::int64_t>(x >> tag_bits)}; }
  static std::uint32_t name_tag(std::string_view name) {
    if (name.empty()) return 0;
    return (static_cast<unsigned char>(name.front()) * 31U ^ static_cast<unsigned char>(name.back()) ^
            static_cast<std::uint32_t>(name.size()) * 7U) &
           tag_mask;
  }
  struct rest_node {
    rest value;
    std::uint32_t refs = 1;
  };
  using shared_rest = rc::ptr<rest_node>;
  static const rest& empty_rest() {
    static const rest none;
    return none;
  }
  [[nodiscard]] bool spilled() const { return rest_ && !rest_->value.ports.empty(); }

  // A count in place that reads "see the shared part".
  static constexpr std::uint16_t wide = UINT16_MAX;

  std::uint16_t ports_[2] = {0, 0};  // input and output port counts
  std::array<std::uint32_t, few_max> few_{free_slot, free_slot, free_slot, free_slot, free_slot};  // ascending ids
  shared_rest rest_;
};

namespace detail {
/// An element in one word: its identifier above two bits that hold its kind + 1, so that 0 means none.
[[nodiscard]] inline std::uint64_t pack_elt(const graph_elt& e) {
  const auto id = std::visit([](const auto& x) { return static_cast<std::uint64_t>(x.id.value); }, e);
  return (id << 2) | (e.index() + 1);
}
/// The element of a nonzero word of pack_elt.
[[nodiscard]] inline graph_elt unpack_elt(std::uint64_t w) {
  const auto id = static_cast<std::int64_t>(w >> 2);
  switch (w & 3) {
    case 1:
      return Port{port_id{id}};
    case 2:
      return Def{def_id{id}};
    default:
      return Ref{ref_id{id}};
  }
}
}  // namespace detail

/// The containers of one element with the condition of each `Contain` edge. There is one in a sound model,
/// mostly without condition: the first element is held in place in one word and only a condition or further
/// containers take memory of their own (one index entry per element of the model, so bytes count).
class container_list {
 public:
  using entry = std::pair<graph_elt, std::optional<cond>>;
  container_list() = default;
  container_list(const container_list& o) : first_(o.first_), more_(o.more_ ? std::make_unique<extra>(*o.more_) : nullptr) {}
  container_list(container_list&&) noexcept = default;
  container_list& operator=(const container_list& o) {
    if (this != &o) *this = container_list(o);
    return *this;
  }
  container_list& operator=(container_list&&) noexcept = default;
  ~container_list() = default;

  [[nodiscard]] bool empty() const { return first_ == 0; }
  [[nodiscard]] std::size_t size() const { return first_ == 0 ? 0 : 1 + (more_ ? more_->rest.size() : 0); }
  /// The first container (the list is not empty).
  [[nodiscard]] graph_elt front_elt() const { return detail::unpack_elt(first_); }
  /// The condition of the first container's edge.
  [[nodiscard]] std::optional<cond> front_cond() const { return more_ ? more_->first_cond : std::nullopt; }
  [[nodiscard]] entry front() const { return {front_elt(), front_cond()}; }
  void add(const entry& e) {
    if (first_ == 0) {
      first_ = detail::pack_elt(e.first);
      set_first_cond(e.second);
    } else {
      if (!more_) more_ = std::make_unique<extra>();
      more_->rest.push_back(e);
    }
  }
  void remove(const entry& e) {
    if (first_ != 0 && front() == e) {
      first_ = 0;
      std::optional<entry> next;
      if (more_ && !more_->rest.empty()) {
        next = more_->rest.front();
        more_->rest.erase(more_->rest.begin());
      }
      set_first_cond(std::nullopt);
      if (next) {
        first_ = detail::pack_elt(next->first);
        set_first_cond(next->second);
      }
      return;
    }
    if (!more_) return;
    for (auto it = more_->rest.begin(); it != more_->rest.end(); ++it)
      if (*it == e) {
        more_->rest.erase(it);
        break;
      }
    set_first_cond(more_->first_cond);
  }
  [[nodiscard]] std::vector<entry> to_vector() const {
    std::vector<entry> out;
    if (first_ != 0) out.push_back(front());
    if (more_) out.insert(out.end(), more_->rest.begin(), more_->rest.end());
    return out;
  }

 private:
  struct extra {
    std::optional<cond> first_cond;
    std::vector<entry> rest;
  };
  // Keeps `more_` only while it holds something.
  void set_first_cond(const std::optional<cond>& c) {
    if (!c && (!more_ || more_->rest.empty())) {
      more_.reset();
      return;
    }
    if (!more_) more_ = std::make_unique<extra>();
    more_->first_cond = c;
  }

  std::uint64_t first_ = 0;
  std::unique_ptr<extra> more_;
};

/// The sources of a port's data edges with their conditions, newest first. A sound model gives a port one
/// source, mostly unconditioned: that one is held in place in one word; a few sources make a small list,
/// and a port fed under many conditions (one source per case of a large match) gets indexed sources, so
/// that neither adding a source nor looking for a conflicting one scans them all. Lists and indexes are
/// shared between copies and copied (the index sharing its trees) when one of them changes; there is one
/// such value per port of the model, so bytes count.
class data_sources {
 public:
  using entry = std::pair<port_id, std::optional<cond>>;
  data_sources() = default;
  data_sources(const data_sources& o) : bits_(o.bits_) {
    if (list* l = small()) ++l->refs;
    if (indexed* x = large()) ++x->refs;
  }
  data_sources(data_sources&& o) noexcept : bits_(std::exchange(o.bits_, 0)) {}
  data_sources& operator=(data_sources o) noexcept {
    std::swap(bits_, o.bits_);
    return *this;
  }
  ~data_sources() { release(); }

  [[nodiscard]] bool empty() const { return bits_ == 0; }
  /// f(source, condition) over the sources, newest first.
  template <class F>
  void for_each(F&& f) const {
    if ((bits_ & 1) != 0) {
      static const std::optional<cond> unconditioned;
      f(port_id{static_cast<std::int64_t>(bits_ >> 1)}, unconditioned);
    } else if (const list* l = small()) {
      for (const entry& e : l->entries) f(e.first, e.second);
    } else if (const indexed* x = large()) {
      x->by_age.for_each_desc([&](std::uint64_t, const entry& e) { f(e.first, e.second); });
    }
  }
  /// The newest source that a new source conditioned by c would clash with: any source when c is empty,
  /// else any but those conditioned by another value of c's port (alternatives of one another).
  [[nodiscard]] std::optional<entry> newest_clash(const std::optional<cond>& c) const;
  /// Adds a newest source.
  void add(const entry& e) {
    if (bits_ == 0 && fits_in_place(e))
      bits_ = static_cast<std::uint64_t>(e.first.value) << 1 | 1;
    else
      add_to_others(e);
  }
  /// Removes the newest source equal to e, if any.
  void remove(const entry& e);

 private:
  // Beyond this many sources a list gives way to an index.
  static constexpr std::size_t small_max = 8;
  struct list {
    std::vector<entry> entries;
    std::uint32_t refs = 1;
  };
  using stamps = pmap<std::uint64_t, detail::unit>;
  // The sources by age (a stamp that only grows), and the stamps of each condition and of each condition's
  // port (none for unconditioned sources); each group's newest is its greatest stamp.
  struct indexed {
    pmap<std::uint64_t, entry> by_age;
    pmap<std::optional<cond>, stamps> by_cond;
    pmap<std::optional<port_id>, stamps> by_port;
    std::uint64_t next = 0;
    std::uint32_t refs = 1;
  };
  // 0: none; odd: one unconditioned source, its identifier above the low bit; else a list, or an index
  // tagged by bit 1.
  [[nodiscard]] list* small() const {
    return (bits_ & 3) == 0 ? reinterpret_cast<list*>(bits_) : nullptr;
  }
  [[nodiscard]] indexed* large() const {
    return (bits_ & 3) == 2 ? reinterpret_cast<indexed*>(bits_ & ~std::uint64_t{3}) : nullptr;
  }
  [[nodiscard]] std::size_t size() const;
  [[nodiscard]] static bool fits_in_place(const entry& e) {
    return !e.second && e.first.value > 0 && e.first.value < (std::int64_t{1} << 62);
  }
  void add_to_others(const entry& e);
  [[nodiscard]] std::vector<entry> entries() const;  // newest first
  [[nodiscard]] static std::optional<port_id> port_of(const std::optional<cond>& c) {
    return c ? std::optional<port_id>(c->port) : std::nullopt;
  }
  void set(std::vector<entry>&& sources);  // newest first
  indexed& own_index();
  void release() noexcept;

  std::uint64_t bits_ = 0;
};

/// A persistent map keyed by model elements: one identifier map per kind of element.
template <class V>
class elt_map {
 public:
  [[nodiscard]] const V* find(const graph_elt& e) const {
    return std::visit([&](const auto& x) { return of(x).find(x.id); }, e);
  }
  /// Throws Not_found.
  [[nodiscard]] const V& get(const graph_elt& e) const {
    return std::visit([&](const auto& x) -> const V& { return of(x).get(x.id); }, e);
  }
  [[nodiscard]] bool contains(const graph_elt& e) const { return find(e) != nullptr; }
  [[nodiscard]] elt_map add(const graph_elt& e, V v) && {
    std::visit([&](const auto& x) { of(x) = std::move(of(x)).add(x.id, std::move(v)); }, e);
    return std::move(*this);
  }
  template <class F>
  [[nodiscard]] elt_map update(const graph_elt& e, F&& f) && {
    std::visit([&](const auto& x) { of(x) = std::move(of(x)).update(x.id, f); }, e);
    return std::move(*this);
  }
  [[nodiscard]] elt_map remove(const graph_elt& e) && {
    std::visit([&](const auto& x) { of(x) = std::move(of(x)).remove(x.id); }, e);
    return std::move(*this);
  }
  /// f(element, value) for every binding: ports, then definitions, then references, each by ascending
  /// identifier.
  template <class F>
  void for_each(F&& f) const {
    ports_.for_each([&](port_id i, const V& v) { f(graph_elt{Port{i}}, v); });
    defs_.for_each([&](def_id i, const V& v) { f(graph_elt{Def{i}}, v); });
    refs_.for_each([&](ref_id i, const V& v) { f(graph_elt{Ref{i}}, v); });
  }

 private:
  const id_map<port_id, V>& of(const Port&) const { return ports_; }
  const id_map<def_id, V>& of(const Def&) const { return defs_; }
  const id_map<ref_id, V>& of(const Ref&) const { return refs_; }
  id_map<port_id, V>& of(const Port&) { return ports_; }
  id_map<def_id, V>& of(const Def&) { return defs_; }
  id_map<ref_id, V>& of(const Ref&) { return refs_; }
  id_map<port_id, V> ports_;
  id_map<def_id, V> defs_;
  id_map<ref_id, V> refs_;
};

/// The indexes of an algorithm.
struct indexes {
  /// Element to its containers.
  elt_map<container_list> containers;
  /// Container to what it contains.
  elt_map<contents> contents_of;
  /// Port to the sources of its data edges, newest first.
  id_map<port_id, data_sources> data_in;
};

// ---------------------------------------------------------------------------------------------------------
// The algorithm

using port_table = tmap::table<port, port>;
using def_table = tmap::table<definition, definition>;
using ref_table = tmap::table<reference, reference>;
using elt_table = tmap::table<graph_elt, graph_elt>;
using algo_env = env::Env<def_id>;

/// The whole model.
struct algorithm {
  port_table ports;
  def_table defs;
  ref_table refs;
  elt_table elts;
  algo_env env;
  elt_map<elt_id> elt_keys;
  algo_graph graph;
  indexes idx;  // derived from graph, see above
};

// ---------------------------------------------------------------------------------------------------------
// Exceptions

/// A refused edit: the element concerned and the message. `text()` is the element as messages name it,
/// ": " and the message ("Def top: Unconditioned references or links exist in definition."), rendered when
/// raised so that it survives the algorithm it was raised on.
class Problem : public named_error {
 public:
  Problem(graph_elt element, std::string message, std::string text);
  [[nodiscard]] const checks::problem<graph_elt>& problem() const { return problem_; }
  [[nodiscard]] const graph_elt& element() const { return problem_.subject; }
  [[nodiscard]] const std::string& message() const { return problem_.message; }
  [[nodiscard]] const std::string& text() const { return text_; }

 private:
  checks::problem<graph_elt> problem_;
  std::string text_;
};

/// Several refused edits.
class Problems : public named_error {
 public:
  explicit Problems(std::vector<checks::problem<graph_elt>> problems);
  [[nodiscard]] const std::vector<checks::problem<graph_elt>>& problems() const { return problems_; }

 private:
  std::vector<checks::problem<graph_elt>> problems_;
};

/// A cycle of instantiations between definitions (declared; sort_defs_by_dep leaves such definitions out).
class Cycle_in_refs : public named_error {
 public:
  Cycle_in_refs() : named_error("Algo_types.Cycle_in_refs", "", false) {}
};

/// "Def %s", "Port %s" or "Ref %s" with the bare name: how messages name an element.
[[nodiscard]] std::string name_of_graph_elt(const algorithm& a, const graph_elt& e);
/// Throws Problem on the element, its text rendered with `a`.
[[noreturn]] void raise_problem(const algorithm& a, const graph_elt& e, const std::string& message);

// ---------------------------------------------------------------------------------------------------------
// Creation and low-level graph access

/// A new empty algorithm.
[[nodiscard]] algorithm create();

/// The element of a node key. Throws Not_found.
[[nodiscard]] graph_elt get_graph_elt(const algorithm& a, elt_id k);
/// Every element, in the visiting order of `elts`.
[[nodiscard]] std::vector<graph_elt> get_graph_elts(const algorithm& a);
/// The node key of an element. Throws Not_found for an element that is not in the model.
[[nodiscard]] elt_id elt_id_of_elt(const algorithm& a, const graph_elt& e);
/// True when the element is in the model.
[[nodiscard]] bool mem_elt(const algorithm& a, const graph_elt& e);

/// The algorithm with the edge (and the indexes that follow from it); unchanged when the edge exists.
[[nodiscard]] algorithm add_edge(const algorithm& a, const graph_elt& src, const graph_elt& dst, const edge& l);
/// The algorithm without the edges from src to dst whose label satisfies p.
[[nodiscard]] algorithm remove_edge(const algorithm& a, const graph_elt& src, const graph_elt& dst,
                                    const std::function<bool(const edge&)>& p);
/// The algorithm without the element: its edges, its node, its key and its record.
[[nodiscard]] algorithm remove(const algorithm& a, const graph_elt& e);

using elt_edges = std::vector<std::pair<graph_elt, edge>>;
/// (successor, label) pairs, newest first; empty for an element without edges.
[[nodiscard]] elt_edges get_succs(const algorithm& a, const graph_elt& e);
/// (predecessor, label) pairs, newest first.
[[nodiscard]] elt_edges get_preds(const algorithm& a, const graph_elt& e);
/// The successors / predecessors whose edge label satisfies p, newest first.
[[nodiscard]] std::vector<graph_elt> retrieve_succ(const algorithm& a, const graph_elt& e,
                                                   const std::function<bool(const edge&)>& p);
[[nodiscard]] std::vector<graph_elt> retrieve_pred(const algorithm& a, const graph_elt& e,
                                                   const std::function<bool(const edge&)>& p);
/// Calls f(element, successor list) / f(element, predecessor list) for every element of the graph.
void iter_succ_algo_graph(const algorithm& a, const std::function<void(const graph_elt&, const elt_edges&)>& f);
void iter_pred_algo_graph(const algorithm& a, const std::function<void(const graph_elt&, const elt_edges&)>& f);

// Label tests for retrieve_succ / retrieve_pred.
[[nodiscard]] bool is_data(const edge& l);
[[nodiscard]] bool is_contain(const edge& l);
[[nodiscard]] bool is_reference(const edge& l);
[[nodiscard]] bool is_copy(const edge& l);
[[nodiscard]] bool is_precedence(const edge& l);
/// The condition of a Data or Contain label; nothing for the others.
[[nodiscard]] std::optional<cond> cond_of_edge(const edge& l);

// ---------------------------------------------------------------------------------------------------------
// Records

/// Throw Not_found for an identifier that is not in the model.
[[nodiscard]] const definition& get_def(const algorithm& a, def_id d);
[[nodiscard]] const port& get_port(const algorithm& a, port_id p);
[[nodiscard]] const reference& get_ref(const algorithm& a, ref_id r);

// ---------------------------------------------------------------------------------------------------------
// Queries

/// The references instantiating the definition, newest first.
[[nodiscard]] std::vector<ref_id> referencers(const algorithm& a, def_id d);
/// The first container of the element, or nothing.
[[nodiscard]] std::optional<graph_elt> container(const algorithm& a, const graph_elt& e);
/// The unique container of a port: its definition or its reference. Throws Failure "Port %s has no
/// container." / "Port %s has more than one container.".
[[nodiscard]] graph_elt port_container(const algorithm& a, port_id p);
/// The unique container of a reference. Throws Failure "Reference %s has no container." / "Reference %s has
/// more than one container.".
[[nodiscard]] def_id ref_container(const algorithm& a, ref_id r);
/// The definition port that a reference port stands for. Throws Problem "Port %s does not reference any
/// port." / "Port %s does not reference a port or references more than one port.".
[[nodiscard]] port_id referenced_port(const algorithm& a, port_id p);
/// The definition that a reference instantiates. Throws Internal_error when it has none or several.
[[nodiscard]] def_id reference_def(const algorithm& a, ref_id r);
/// The same, with `def_at(k)` giving the definition of node k or nothing: for callers that know the
/// definitions' nodes without the element table.
template <class F>
[[nodiscard]] def_id instantiated_def(const algorithm& a, ref_id r, F&& def_at);
/// The copy of a port, if any.
[[nodiscard]] std::optional<graph_elt> get_copy_dst(const algorithm& a, const graph_elt& e);
[[nodiscard]] std::optional<port_id> get_port_copy_dst(const algorithm& a, port_id p);

/// The ports of the container (every port of the model when none is given, in table order; a container's
/// ports in insertion order), kept only if of the given direction.
[[nodiscard]] std::vector<port_id> ports(const algorithm& a, const std::optional<graph_elt>& c = std::nullopt,
                                         const std::optional<direction>& dir = std::nullopt);
/// The ports of the container with that direction, by ascending port_order (ties in insertion order).
[[nodiscard]] std::vector<port_id> ports_by_order(const algorithm& a, const graph_elt& c, direction dir);
/// The number of ports of that direction in the container.
[[nodiscard]] std::size_t port_count(const algorithm& a, const graph_elt& c, direction dir);
/// The port of the container with that name (the first added when several), or nothing.
[[nodiscard]] std::optional<port_id> port_by_name(const algorithm& a, const graph_elt& c, const std::string& name);
/// The references of the container with that name (under exactly the condition when one is given), in
/// insertion order.
[[nodiscard]] std::vector<ref_id> refs_by_name(const algorithm& a, const graph_elt& c, const std::string& name,
                                               const std::optional<std::optional<cond>>& under = std::nullopt);
/// True when refs_by_name would find one.
[[nodiscard]] bool has_ref_named(const algorithm& a, const graph_elt& c, const std::string& name,
                                 const std::optional<std::optional<cond>>& under);
/// The port of the container with that name and direction, or nothing.
[[nodiscard]] std::optional<port_id> port_by_name_dir(const algorithm& a, const graph_elt& c,
                                                      const std::string& name, direction dir);

/// Visits the ports of the container in insertion order as f(port), building no list.
template <class F>
void for_each_port_of(const algorithm& a, const graph_elt& c, F&& f) {
  if (const contents* x = a.idx.contents_of.find(c)) x->for_each_port(f);
}
/// Visits the references of the definition in insertion order as f(reference, containment condition).
template <class F>
void for_each_ref_of(const algorithm& a, def_id d, F&& f) {
  if (const contents* x = a.idx.contents_of.find(Def{d})) x->more().refs.for_each(f);
}

/// (ports, references) of the definition; with a containment condition given (which may be "none"), only
/// the references whose Contain edge carries exactly it. References in insertion order.
[[nodiscard]] std::pair<std::vector<port_id>, std::vector<ref_id>> def_elts(
    const algorithm& a, def_id d, const std::optional<std::optional<cond>>& under = std::nullopt);
/// The conditions used in the definition: those of its references, then of the conditioned data edges that
/// leave its input ports, then of those that reach its output ports; each once.
[[nodiscard]] std::vector<cond> def_conditions(const algorithm& a, def_id d);
/// The references of the definition grouped by containment condition: groups in the order of their first
/// reference, references in insertion order.
[[nodiscard]] std::vector<std::pair<std::optional<cond>, std::vector<ref_id>>> refs_by_cond(const algorithm& a,
                                                                                          def_id d);
/// True when an unconditioned data edge joins two ports of the definition itself.
[[nodiscard]] bool exist_unconditioned_links_between_def_ports(const algorithm& a, def_id d);
/// True when the definition contains a conditioned reference or has a condition (def_conditions not empty).
[[nodiscard]] bool is_conditioned_def(const algorithm& a, def_id d);
/// True when the definition contains an unconditioned reference or an unconditioned pass-through edge.
[[nodiscard]] bool has_unconditioned_contents(const algorithm& a, def_id d);

/// The definitions ordered so that each comes after every definition that its references instantiate;
/// definitions on a cycle of instantiations are left out.
[[nodiscard]] std::vector<def_id> sort_defs_by_dep(const algorithm& a, const std::vector<def_id>& ds);
/// The same with the definition of each reference answered by the caller, who may know it already.
[[nodiscard]] std::vector<def_id> sort_defs_by_dep(const algorithm& a, const std::vector<def_id>& ds,
                                                   const std::function<def_id(ref_id)>& def_of);

/// Accumulation / list over the definitions and references, in table order.
template <class A, class F>
[[nodiscard]] A fold_defs(const algorithm& a, F&& f, A acc) {
  return a.defs.fold([&](def_id d, const definition& r, A x) { return f(d, r, std::move(x)); }, std::move(acc));
}
template <class A, class F>
[[nodiscard]] A fold_references(const algorithm& a, F&& f, A acc) {
  return a.refs.fold([&](ref_id i, const reference& r, A x) { return f(i, r, std::move(x)); }, std::move(acc));
}
[[nodiscard]] std::vector<def_id> defs(const algorithm& a);
[[nodiscard]] std::vector<ref_id> refs(const algorithm& a);
/// The distinct definitions instantiated by the references of d, in the order of their first reference.
[[nodiscard]] std::vector<def_id> defs_under_def(const algorithm& a, def_id d);
/// The references contained by d, in insertion order.
[[nodiscard]] std::vector<ref_id> refs_under_def(const algorithm& a, def_id d);
/// The distinct references whose ports send data to the ports of r.
[[nodiscard]] std::vector<ref_id> get_data_pred_ref(const algorithm& a, ref_id r);
/// The references with a Precedence edge to r, newest first.
[[nodiscard]] std::vector<ref_id> get_pred_ref(const algorithm& a, ref_id r);
/// The containment condition of a reference.
[[nodiscard]] std::optional<cond> ref_cond(const algorithm& a, ref_id r);
/// True when there is a path of Precedence edges or data edges between reference ports from `from` to `to`
/// (or from == to). Searches from both ends, expanding the side that has done less work.
[[nodiscard]] bool ref_reaches(const algorithm& a, ref_id from, ref_id to);

// ---------------------------------------------------------------------------------------------------------
// Editing primitives (no consistency checks: Algo_ops adds them)

/// (new definition, algorithm); the name is bound in the environment's own list.
[[nodiscard]] std::pair<def_id, algorithm> add_definition(const algorithm& a,
                                                          const std::optional<std::string>& comment,
                                                          const std::optional<std::vector<std::string>>& params,
                                                          definition_kind kind, const std::string& name);
/// (new port, algorithm), contained without condition by the container.
/// The name and type are taken as shared strings: a copied port passes its original's, and shares them.
[[nodiscard]] std::pair<port_id, algorithm> add_port(const algorithm& a, const opt_expr& size, std::int64_t order,
                                                     const shared::string& type, direction dir,
                                                     const shared::string& name, const opt_expr& value,
                                                     const std::optional<additional::attributes>& attrs,
                                                     const graph_elt& container);
/// (new reference, algorithm), with its Reference edge to the definition (no container yet).
[[nodiscard]] std::pair<ref_id, algorithm> add_reference(
    const algorithm& a, const std::optional<std::string>& comment, const std::optional<std::vector<expr>>& args,
    const std::optional<repetition_kind>& rep, const std::optional<std::int64_t>& period, def_id instantiated,
    bool abstract, const std::optional<additional::attributes>& attrs, const std::string& name);

// The same primitives applied in place, for callers that own the algorithm (a value moved into an
// operation): no version is kept, so the persistent structures are updated without copying their paths.
void add_edge_into(algorithm& a, const graph_elt& src, const graph_elt& dst, const edge& l);
/// Gives reference `holder`, which has no ports yet, a copy of each port of definition `d`, each with
/// its `Reference` edge to the port it copies.
void copy_def_ports_into(algorithm& a, ref_id holder, def_id d);
def_id add_definition_into(algorithm& a, const std::optional<std::string>& comment,
                           const std::optional<std::vector<std::string>>& params, definition_kind kind,
                           const std::string& name);
port_id add_port_into(algorithm& a, const opt_expr& size, std::int64_t order, const shared::string& type,
                      direction dir, const shared::string& name, const opt_expr& value,
                      const std::optional<additional::attributes>& attrs, const graph_elt& container);
ref_id add_reference_into(algorithm& a, const std::optional<std::string>& comment,
                          const std::optional<std::vector<expr>>& args, const std::optional<repetition_kind>& rep,
                          const std::optional<std::int64_t>& period, def_id instantiated, bool abstract,
                          const std::optional<additional::attributes>& attrs, const std::string& name);

/// Unchanged when nothing is given. Throws Problem "A definition belonging to a module cannot be modified."
/// for a definition with a module-qualified name. A new name replaces the name's binding.
[[nodiscard]] algorithm modify_def(const algorithm& a, const std::optional<std::string>& new_name,
                                   const std::optional<std::vector<std::string>>& new_params, def_id d);

/// New values for the fields of a reference; each one given replaces the old value.
struct ref_changes {
  std::optional<std::string> name;
  std::optional<std::int64_t> period;
  std::optional<std::string> comment;
  std::optional<std::vector<expr>> args;
  std::optional<repetition_kind> rep;
  std::optional<bool> abstract;
  std::optional<additional::attributes> additional;
};
[[nodiscard]] algorithm modify_ref(const algorithm& a, const ref_changes& changes, ref_id r);
void modify_ref_into(algorithm& a, const ref_changes& changes, ref_id r);

[[nodiscard]] algorithm set_port_additional(const algorithm& a, port_id p, const additional::attributes& attrs);
[[nodiscard]] algorithm set_port_size(const algorithm& a, port_id p, const std::optional<expr>& size);
[[nodiscard]] algorithm set_port_order(const algorithm& a, port_id p, std::int64_t order);
[[nodiscard]] algorithm set_ref_additional(const algorithm& a, ref_id r, const additional::attributes& attrs);
/// Every other port of that direction in the container whose order is >= the port's gets its order + 1.
[[nodiscard]] algorithm change_port_order(const algorithm& a, direction dir, const graph_elt& container, port_id p);
void change_port_order_into(algorithm& a, direction dir, const graph_elt& container, port_id p);

// ---------------------------------------------------------------------------------------------------------
// Name lookup

/// The definition of the name. Throws env::Unbound_name / env::Unbound_module.
[[nodiscard]] def_id lookup_def(const algorithm& a, const base_types::qname& name);
/// The reference of the definition with that name (under exactly the condition when one is given; the
/// first added otherwise). Throws Failure "Reference %s not found in definition %s.".
[[nodiscard]] ref_id lookup_ref(const algorithm& a, const base_types::qname& def_name, const std::string& ref_name,
                                const std::optional<std::optional<cond>>& under = std::nullopt);
/// The port of the definition, or of its reference when one is named. Throws Failure "Port %s not found in
/// definition %s." / "Port %s not found in reference %s of definition %s." (and lookup_ref's failure).
[[nodiscard]] port_id lookup_port(const algorithm& a, const base_types::qname& def_name,
                                  const std::optional<std::string>& ref_name, const std::string& port_name,
                                  const std::optional<std::optional<cond>>& under = std::nullopt);
/// lookup_port within d, the definition that def_name names (found already; the failures name it so).
[[nodiscard]] port_id lookup_port(const algorithm& a, def_id d, const base_types::qname& def_name,
                                  const std::optional<std::string>& ref_name, const std::string& port_name,
                                  const std::optional<std::optional<cond>>& under = std::nullopt);

/// Reads a module file into the algorithm: (include directories, file name, algorithm) -> algorithm.
using module_loader =
    std::function<algorithm(const std::vector<std::string>& dirs, const std::string& file, const algorithm& a)>;
/// The definition of the name, loading its module with the loader when needed. Throws Failure "Definition %s
/// not found." / "Algorithm module %s not found.".
[[nodiscard]] std::pair<def_id, algorithm> load_lookup_def(const algorithm& a, const std::vector<std::string>& dirs,
                                                           const module_loader& loader,
                                                           const base_types::qname& name);
/// The same for an algorithm the caller hands over; it is moved into the result only on success.
[[nodiscard]] std::pair<def_id, algorithm> load_lookup_def(algorithm&& a, const std::vector<std::string>& dirs,
                                                           const module_loader& loader,
                                                           const base_types::qname& name);
/// The same in place: a name already bound is found without handing the algorithm over and back, and a
/// module read is added to `a`, which stays as it was on failure.
[[nodiscard]] def_id load_lookup_def_into(algorithm& a, const std::vector<std::string>& dirs,
                                          const module_loader& loader, const base_types::qname& name);

/// The definition that reference r, of node key `node`, instantiates: def_at(k) tells the definition at
/// node k, if any.
template <class F>
def_id instantiated_def_at(const algorithm& a, ref_id r, elt_id node, F&& def_at) {
  std::optional<def_id> found;
  (void)a.graph.any_succ(node, [&](elt_id k, const edge& l) {
    if (is_reference(l))
      if (const std::optional<def_id> d = def_at(k)) {
        if (found) base_types::internal_error("reference " + get_ref(a, r).ref_name + " has several definitions");
        found = d;
      }
    return false;
  });
  if (!found) base_types::internal_error("reference " + get_ref(a, r).ref_name + " has no definition");
  return *found;
}

template <class F>
def_id instantiated_def(const algorithm& a, ref_id r, F&& def_at) {
  return instantiated_def_at(a, r, elt_id_of_elt(a, Ref{r}), def_at);
}

}  // namespace cvn::algo_types
