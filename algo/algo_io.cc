#include "algo/algo_io.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <memory>
#include <unordered_map>
#include <utility>

#include "algo/algo_lang_parser.h"
#include "algo/algo_string.h"
#include "base/additional.h"
#include "base/lexer.h"
#include "base/loc.h"
#include "base/misc.h"
#include "base/pipe.h"

namespace cvn::algo_io {

using namespace algo_types;

// ---------------------------------------------------------------------------------------------------------
// Printer

namespace {

std::string join_strings(const std::vector<std::string>& xs, const char* sep) {
  std::string out;
  for (std::size_t i = 0; i < xs.size(); ++i) {
    if (i > 0) out += sep;
    out += xs[i];
  }
  return out;
}

std::string string_of_params(const definition& def) { return join_strings(def.def_params, ", "); }

// Printed text, appended to one string. When a whole algorithm is printed, the string is handed over in
// pieces at line ends, so that the body of a large definition is never held whole.
class text_out {
 public:
  using put_fn = std::function<void(const std::string&)>;
  text_out() = default;
  explicit text_out(const put_fn& put) : put_(&put) {}
  [[nodiscard]] std::string& text() { return text_; }
  /// At a line end: hands the text over once it is long enough.
  void line_end() {
    if (put_ != nullptr && text_.size() >= piece) flush();
  }
  void flush() {
    if (put_ == nullptr || text_.empty()) return;
    (*put_)(text_);
    text_.clear();
  }

 private:
  static constexpr std::size_t piece = std::size_t{1} << 16;
  const put_fn* put_ = nullptr;
  std::string text_;
};

// Where the printer reads port, reference and element records. Printing a whole algorithm reads each one
// once or twice, and one pass over each table costs far less than a trie walk per record, so string_of_algo
// reads the tables into arrays by identifier first; the printers of a single definition look records up.
class records {
 public:
  explicit records(const algorithm& a) : a_(a) {}
  records(const algorithm& a, bool whole) : a_(a) {
    if (!whole) return;
    auto t = std::make_unique<tables>();
    // Sized for identifiers 1 to the number of records, as a model built without removals has them, rather
    // than grown by doubling to up to twice that.
    t->ports.resize(a.ports.card() + 1, nullptr);
    t->refs.resize(a.refs.card() + 1, nullptr);
    t->elts.resize(a.elts.card() + 1, 0);
    a.ports.iter_unordered([&](port_id i, const port& x) { put(t->ports, i.value, &x); });
    a.refs.iter_unordered([&](ref_id i, const reference& x) { put(t->refs, i.value, &x); });
    t->ref_nodes.resize(t->refs.size());
    // The elements from their keys, the inverse map: its tries keep identifiers in order, where the element
    // table's visit jumps across memory.
    a.elt_keys.for_each([&](const graph_elt& x, elt_id i) {
      put(t->elts, i.value, algo_types::detail::pack_elt(x));
      if (const auto* r = std::get_if<Ref>(&x)) put(t->ref_nodes, r->id.value, i);
    });
    ref_defs_.resize(t->ref_nodes.size());
    end_slots_.assign(t->elts.size(), UINT32_MAX);
    own_ = std::move(t);
    t_ = own_.get();
  }
  struct for_another_thread {};
  /// The tables of `o` (which outlives this) with caches of its own, for a second thread to print from:
  /// only the caches are written while printing.
  records(const records& o, for_another_thread)
      : a_(o.a_), t_(o.t_), ref_defs_(o.ref_defs_), end_slots_(o.end_slots_.size(), UINT32_MAX) {}
  records(const records&) = delete;
  records& operator=(const records&) = delete;

  [[nodiscard]] const algorithm& model() const { return a_; }
  /// A position per node key, all none, that one body at a time may use (see end_table); nullptr unless the
  /// whole model's tables were read.
  [[nodiscard]] std::vector<std::uint32_t>* direct_ends() const { return t_ == nullptr ? nullptr : &end_slots_; }
  [[nodiscard]] const port& get(port_id i) const { return t_ == nullptr ? lookup(i) : read(t_->ports, i); }
  [[nodiscard]] const reference& get(ref_id i) const { return t_ == nullptr ? lookup(i) : read(t_->refs, i); }
  [[nodiscard]] graph_elt get(elt_id i) const {
    if (t_ == nullptr) return lookup(i);
    const auto k = static_cast<std::size_t>(i.value);
    if (k >= t_->elts.size() || t_->elts[k] == 0) throw Not_found();
    return algo_types::detail::unpack_elt(t_->elts[k]);
  }
  /// The definition that the reference instantiates; with the whole model's tables, found once per
  /// reference (the dependency order and the let lines both ask).
  [[nodiscard]] def_id def_of(ref_id r) const {
    if (t_ == nullptr) return reference_def(a_, r);
    const auto k = static_cast<std::size_t>(r.value);
    const bool known = k < t_->ref_nodes.size() && t_->ref_nodes[k].value != 0;
    if (known && ref_defs_[k].value != 0) return ref_defs_[k];
    const auto def_at = [&](elt_id n) -> std::optional<def_id> {
      const graph_elt e = get(n);
      if (const auto* d = std::get_if<Def>(&e)) return d->id;
      return std::nullopt;
    };
    if (!known) return instantiated_def(a_, r, def_at);
    return ref_defs_[k] = instantiated_def_at(a_, r, t_->ref_nodes[k], def_at);
  }

 private:
  struct tables {
    std::vector<const port*> ports;
    std::vector<const reference*> refs;
    // The elements themselves, packed in a word (0 for none), not pointers into the table: the printer
    // reads them in node order, where the table's leaves lie scattered.
    std::vector<std::uint64_t> elts;
    std::vector<elt_id> ref_nodes;  // by reference identifier; 0 for none
  };
  template <class T>
  static void put(std::vector<T>& v, std::int64_t i, T x) {
    const auto k = static_cast<std::size_t>(i);
    if (k >= v.size()) v.resize(std::max(k + 1, 2 * v.size()), T{});
    v[k] = x;
  }
  template <class T, class Id>
  static const T& read(const std::vector<const T*>& v, Id i) {
    const auto k = static_cast<std::size_t>(i.value);
    if (k >= v.size() || v[k] == nullptr) throw Not_found();
    return *v[k];
  }
  const port& lookup(port_id i) const { return get_port(a_, i); }
  const reference& lookup(ref_id i) const { return get_ref(a_, i); }
  const graph_elt& lookup(elt_id i) const { return a_.elts.get(i); }

  const algorithm& a_;
  std::unique_ptr<const tables> own_;
  const tables* t_ = nullptr;             // own_'s or another's; none for lookups
  mutable std::vector<def_id> ref_defs_;  // found so far; 0 for not yet
  mutable std::vector<std::uint32_t> end_slots_;
};

std::string string_of_options(const algorithm& a, const reference& r) {
  std::vector<std::string> opts;
  if (r.ref_period) opts.push_back("period " + std::to_string(*r.ref_period));
  if (r.ref_rep) {
    opts.push_back(std::visit(
        overloaded{
            [&](const algo_types::Parallel& par) {
              std::string o = "parallel " + algo_string::string_of_expr(par.factor);
              if (!par.dispatches.empty()) {
                std::vector<std::string> ds;
                for (const auto& [p, k] : par.dispatches)
                  ds.push_back(get_port(a, p).port_name + algo_string::string_of_port_dispatch_kind(k));
                o += " (" + join_strings(ds, ", ") + ")";
              }
              return o;
            },
            [&](const algo_types::Sequence& seq) {
              return "sequence " + algo_string::string_of_expr(seq.factor) +
                     algo_string::string_of_seq_rep_opts(a, seq.options, true);
            },
        },
        *r.ref_rep));
  }
  if (r.ref_abstract) opts.emplace_back("abstract");
  for (const auto& binding : additional::to_list(r.ref_additional)) opts.push_back(additional::one_to_string(binding));
  if (opts.empty()) return "";
  return "[" + join_strings(opts, ", ") + "] ";
}

}  // namespace

std::string string_of_port(const algorithm&, const port& p) {
  std::string out = p.port_type;
  if (p.port_size) out += "[" + algo_string::string_of_expr(*p.port_size) + "]";
  out += ' ';
  out += p.port_name;
  if (!p.port_additional.empty()) out += " [" + additional::to_string(p.port_additional) + "]";
  if (p.port_expr) out += " = " + algo_string::string_of_expr(*p.port_expr);
  return out;
}

std::string string_of_ports(const algorithm& a, std::vector<port_id> ps) {
  std::stable_sort(ps.begin(), ps.end(),
                   [&](port_id x, port_id y) { return get_port(a, x).port_order < get_port(a, y).port_order; });
  std::string out;
  for (std::size_t i = 0; i < ps.size(); ++i) {
    if (i > 0) out += ", ";
    out += string_of_port(a, get_port(a, ps[i]));
  }
  return out;
}

namespace {

// The let line of the reference x, instantiating the definition named def_name, appended to out.
void append_let(std::string& out, const algorithm& a, const reference& x, const std::string& def_name,
                const char* indent) {
  out += indent;
  out += "let ";
  out += x.ref_name;
  out += " = ";
  out += def_name;
  if (!x.ref_args.empty()) {
    out += '(';
    out += algo_string::string_of_exprs(x.ref_args);
    out += ')';
  }
  out += ' ';
  out += string_of_options(a, x);
  out += ";\n";
}

}  // namespace

std::string string_of_let(const algorithm& a, ref_id r, const std::string& indent) {
  std::string out;
  append_let(out, a, get_ref(a, r), base_types::string_of_qname(get_def(a, reference_def(a, r)).def_name),
             indent.c_str());
  return out;
}

namespace {

// The ends of a body's data edges, by position: the input ports of the definition, then every port of its
// references and any other port an edge reaches, each with its node key, its record and the position of its
// reference. A body has a few ports per reference, so an end is kept in 20 bytes over three arrays, edges
// name ends by position, and the ends from the reference ports on are found by node key: in an array lent
// by the whole-model printer, else through open addressing over positions (a slot of 4 bytes, the key read
// from the array).
class end_table {
 public:
  static constexpr std::uint32_t none = UINT32_MAX;
  /// With `direct`, a position per node key (all none), ends are found there rather than by hashing: the
  /// printer of a whole model lends one to each body in turn, and each gives it back as it found it. A
  /// direct read costs one access, and ends added in node order land next to each other.
  explicit end_table(std::vector<std::uint32_t>* direct) : direct_(direct) {}
  end_table(const end_table&) = delete;
  end_table& operator=(const end_table&) = delete;
  ~end_table() {
    if (direct_ != nullptr)
      for (std::size_t e = unindexed_; e < keys_.size(); ++e) (*direct_)[static_cast<std::size_t>(keys_[e])] = none;
  }
  /// Room for n ends, without growing while the first n are added.
  void reserve(std::size_t n) {
    keys_.reserve(n);
    records_.reserve(n);
    ref_at_.reserve(n);
    if (direct_ != nullptr) return;
    std::size_t capacity = 16;
    while (capacity < 2 * n) capacity *= 2;
    slots_.assign(capacity, none);
  }
  [[nodiscard]] std::int64_t key(std::uint32_t e) const { return keys_[e]; }
  [[nodiscard]] const algo_types::port& record(std::uint32_t e) const { return *records_[e]; }
  /// The position of the end's reference, or none for another port.
  [[nodiscard]] std::uint32_t ref_at(std::uint32_t e) const { return ref_at_[e]; }
  /// An end that lookups do not find (the definition's input ports, added first).
  std::uint32_t add(std::int64_t k, const algo_types::port* record) {
    const std::uint32_t e = push(k, record, none);
    unindexed_ = e + 1;
    return e;
  }
  /// An end found by its key, which no earlier one of these has.
  std::uint32_t add_indexed(std::int64_t k, const algo_types::port* record, std::uint32_t ref) {
    if (direct_ != nullptr) {
      if (k < 0) base_types::internal_error("negative node key");
      const auto at = static_cast<std::size_t>(k);
      if (at >= direct_->size()) direct_->resize(std::max(at + 1, 2 * direct_->size()), none);
      const std::uint32_t e = push(k, record, ref);
      (*direct_)[at] = e;
      return e;
    }
    if (slots_.empty() || 2 * (keys_.size() - unindexed_ + 1) > slots_.size()) grow();
    const std::uint32_t e = push(k, record, ref);
    place(e);
    return e;
  }
  [[nodiscard]] std::uint32_t find(std::int64_t k) const {
    if (direct_ != nullptr) {
      const auto at = static_cast<std::size_t>(k);
      return k >= 0 && at < direct_->size() ? (*direct_)[at] : none;
    }
    if (slots_.empty()) return none;
    for (std::size_t i = start(k);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i] == none) return none;
      if (keys_[slots_[i]] == k) return slots_[i];
    }
  }

 private:
  std::uint32_t push(std::int64_t k, const algo_types::port* record, std::uint32_t ref) {
    if (keys_.size() >= none) base_types::internal_error("too many ports in one definition body");
    keys_.push_back(k);
    records_.push_back(record);
    ref_at_.push_back(ref);
    return static_cast<std::uint32_t>(keys_.size() - 1);
  }
  [[nodiscard]] std::size_t start(std::int64_t k) const {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(k) * 0x9E3779B97F4A7C15ULL) >> 20) &
           (slots_.size() - 1);
  }
  void place(std::uint32_t e) {
    std::size_t i = start(keys_[e]);
    while (slots_[i] != none) i = (i + 1) & (slots_.size() - 1);
    slots_[i] = e;
  }
  void grow() {
    slots_.assign(slots_.empty() ? 16 : 2 * slots_.size(), none);
    for (auto e = static_cast<std::uint32_t>(unindexed_); e < keys_.size(); ++e) place(e);
  }
  std::vector<std::int64_t> keys_;
  std::vector<const algo_types::port*> records_;
  std::vector<std::uint32_t> ref_at_;
  std::vector<std::uint32_t> slots_;
  std::vector<std::uint32_t>* direct_ = nullptr;
  std::size_t unindexed_ = 0;  // the ends before it are not in slots_ or direct_
};

void body_text(const records& rs, def_id d, text_out& to) {
  const algorithm& a = rs.model();
  // The references come grouped by condition, groups in the order of their first reference, in one array:
  // a group is a range of it. Each group then gathers its edges, as pairs of end positions.
  struct group {
    std::optional<cond> condition;
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;  // in gathering order
  };
  std::vector<group> groups;
  std::map<std::optional<cond>, std::size_t> index;
  std::size_t ref_total = 0;
  std::size_t port_total = 0;
  std::size_t output_total = 0;
  for_each_ref_of(a, d, [&](ref_id r, const std::optional<cond>& c) {
    auto [it, fresh] = index.emplace(c, groups.size());
    if (fresh) groups.push_back({c, 0, 0, {}});
    ++groups[it->second].end;
    ++ref_total;
    const std::size_t outs = port_count(a, Ref{r}, direction::Out);
    port_total += port_count(a, Ref{r}, direction::In) + outs;
    output_total += outs;
  });
  if (ref_total >= end_table::none) base_types::internal_error("too many references in one definition body");
  const std::size_t ref_groups = groups.size();
  std::uint32_t next = 0;
  for (group& g : groups) {
    g.begin = next;
    next += g.end;
    g.end = g.begin;  // filled below
  }
  std::vector<ref_id> refs(ref_total);
  for_each_ref_of(a, d, [&](ref_id r, const std::optional<cond>& c) { refs[groups[index.at(c)].end++] = r; });
  // The group of the reference at a position.
  const auto group_of = [&](std::uint32_t at) -> const group& {
    const auto past = std::upper_bound(groups.begin(), groups.begin() + static_cast<std::ptrdiff_t>(ref_groups), at,
                                       [](std::uint32_t x, const group& g) { return x < g.begin; });
    return *(past - 1);
  };

  // The ports of the definition's references, read once here and keyed by graph node, so that no edge looks
  // its ends up in the model again.
  const std::vector<port_id> inputs = ports_by_order(a, Def{d}, direction::In);
  end_table ends(rs.direct_ends());
  // Besides, edges mostly reach the definition's outputs: room for them too.
  ends.reserve(inputs.size() + port_total + port_count(a, Def{d}, direction::Out));
  for (port_id p : inputs) (void)ends.add(elt_id_of_elt(a, Port{p}).value, &rs.get(p));
  std::vector<std::uint32_t> outputs;  // the output ports of each reference by order, reference after reference
  outputs.reserve(output_total);
  std::vector<std::pair<std::int64_t, std::uint32_t>> ordered;
  for (std::uint32_t at = 0; at < refs.size(); ++at) {
    ordered.clear();
    for_each_port_of(a, Ref{refs[at]}, [&](port_id p) {
      const elt_id k = elt_id_of_elt(a, Port{p});
      const port& y = rs.get(p);
      std::uint32_t e = ends.find(k.value);
      if (e == end_table::none) e = ends.add_indexed(k.value, &y, at);
      if (y.port_dir == direction::Out) ordered.emplace_back(y.port_order, e);
    });
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& u, const auto& v) { return u.first < v.first; });
    for (const auto& [order, e] : ordered) outputs.push_back(e);
  }
  // Every Data edge leaving s, with the group it belongs to: the first condition known of `first` (the
  // edge's own for a port of the definition, the source reference's for a reference port), the edge's,
  // the reached reference's; two different ones cannot both hold. `first` is a copy: it may come from a
  // group, and gathering adds groups.
  const auto gather = [&](std::uint32_t s, const std::optional<cond> first) {
    (void)a.graph.any_succ(elt_id{ends.key(s)}, [&](elt_id k, const edge& l) {
      const auto* data = std::get_if<Data>(&l);
      if (data == nullptr) return false;
      std::optional<cond> reached;
      std::uint32_t target = ends.find(k.value);
      const graph_elt e = target == end_table::none ? rs.get(k) : graph_elt{};
      if (target != end_table::none) {
        if (ends.ref_at(target) != end_table::none) reached = group_of(ends.ref_at(target)).condition;
      } else if (const auto* t = std::get_if<Port>(&e)) {
        target = ends.add_indexed(k.value, &rs.get(t->id), end_table::none);
      } else {
        return false;
      }
      std::optional<cond> c = first;
      for (const std::optional<cond>& other : {data->condition, reached}) {
        if (!other) continue;
        if (!c)
          c = other;
        else if (*c != *other)
          base_types::internal_error("the data edge from port " + ends.record(s).port_name +
                                     " has two different conditions");
      }
      auto [it, fresh] = index.emplace(c, groups.size());
      if (fresh) groups.push_back({c, 0, 0, {}});
      groups[it->second].edges.emplace_back(s, target);
      return false;
    });
  };
  for (std::uint32_t e = 0; e < inputs.size(); ++e) gather(e, std::nullopt);
  for (std::uint32_t e : outputs) gather(e, group_of(ends.ref_at(e)).condition);
  outputs = {};

  // The names of the instantiated definitions: few, each read once.
  std::unordered_map<std::int64_t, std::string> def_names;
  const auto def_name_of = [&](ref_id r) -> const std::string& {
    const def_id u = rs.def_of(r);
    auto [it, fresh] = def_names.try_emplace(u.value);
    if (fresh) it->second = base_types::string_of_qname(get_def(a, u).def_name);
    return it->second;
  };

  std::string& out = to.text();
  // A port of the definition by its name, a port of a reference as "ref.port".
  const auto append_end = [&](std::uint32_t e) {
    if (ends.ref_at(e) != end_table::none) {
      out += rs.get(refs[ends.ref_at(e)]).ref_name;
      out += '.';
    }
    out += ends.record(e).port_name;
  };
  const auto write = [&](const group& g, const char* indent) {
    for (std::uint32_t i = g.begin; i < g.end; ++i) {
      append_let(out, a, rs.get(refs[i]), def_name_of(refs[i]), indent);
      to.line_end();
    }
    for (std::uint32_t i = g.begin; i < g.end; ++i)
      (void)a.graph.any_succ(elt_id_of_elt(a, Ref{refs[i]}), [&](elt_id k, const edge& l) {
        if (is_precedence(l))
          if (const graph_elt e = rs.get(k); const auto* next = std::get_if<Ref>(&e)) {
            out += indent;
            out += rs.get(refs[i]).ref_name;
            out += " --> ";
            out += rs.get(next->id).ref_name;
            out += ";\n";
            to.line_end();
          }
        return false;
      });
    for (auto it = g.edges.rbegin(); it != g.edges.rend(); ++it) {
      out += indent;
      append_end(it->first);
      out += " -> ";
      append_end(it->second);
      out += ";\n";
      to.line_end();
    }
  };
  const group* first_cond = nullptr;
  for (const group& g : groups) {
    if (!g.condition)
      write(g, "  ");
    else if (first_cond == nullptr)
      first_cond = &g;
  }
  if (first_cond == nullptr) return;
  // One match tests one port: cases of another port would be read back as values of the first.
  for (const group& g : groups)
    if (g.condition && g.condition->port != first_cond->condition->port)
      throw Failure(misc::sprintf_string(
          "Definition %s cannot be written: its conditions test the ports %s and %s, a match tests one.",
          base_types::string_of_qname(get_def(a, d).def_name).c_str(),
          rs.get(first_cond->condition->port).port_name.c_str(), rs.get(g.condition->port).port_name.c_str()));
  out += "  match " + rs.get(first_cond->condition->port).port_name + " with\n";
  for (const group& g : groups) {
    if (!g.condition) continue;
    out += "  | " + std::to_string(g.condition->value) + " ->\n";
    write(g, "      ");
  }
}

}  // namespace

std::string string_of_function_body(const algorithm& a, def_id d) {
  text_out to;
  body_text(records(a), d, to);
  return std::move(to.text());
}

namespace {

void function_text(const records& rs, def_id d, const definition& def, text_out& to) {
  const algorithm& a = rs.model();
  std::string& out = to.text();
  out += def.def_kind == definition_kind::Delay ? "delay " : "function ";
  out += base_types::string_of_qname(def.def_name);
  out += "(" + string_of_params(def) + ") {\n";
  const std::vector<port_id> ins = ports(a, Def{d}, direction::In);
  if (!ins.empty()) out += "  in: " + string_of_ports(a, ins) + ";\n";
  const std::vector<port_id> outs = ports(a, Def{d}, direction::Out);
  if (!outs.empty()) out += "  out: " + string_of_ports(a, outs) + ";\n";
  body_text(rs, d, to);
  to.text() += "}\n";
}

bool def_text(const records& rs, def_id d, text_out& to);

}  // namespace

std::string string_of_function_or_delay(const algorithm& a, def_id d, const definition& def) {
  text_out to;
  function_text(records(a), d, def, to);
  return std::move(to.text());
}

std::string string_of_constant(const algorithm& a, def_id d, const definition& def) {
  return "constant " + base_types::string_of_qname(def.def_name) + "(" + string_of_params(def) + ") { " +
         string_of_ports(a, ports(a, Def{d}, direction::Out)) + " }\n";
}

std::string string_of_sensor_or_actuator(const algorithm& a, def_id d, const definition& def) {
  const bool sensor = def.def_kind == definition_kind::Sensor;
  return std::string(sensor ? "sensor " : "actuator ") + base_types::string_of_qname(def.def_name) + "(" +
         string_of_params(def) + ") { " +
         string_of_ports(a, ports(a, Def{d}, sensor ? direction::Out : direction::In)) + " }\n";
}

namespace {

// Appends the text of the definition; false, appending nothing, for a definition loaded from a module.
bool def_text(const records& rs, def_id d, text_out& to) {
  const algorithm& a = rs.model();
  const definition& def = get_def(a, d);
  if (std::holds_alternative<base_types::qualified_name>(def.def_name)) return false;
  switch (def.def_kind) {
    case definition_kind::Function:
    case definition_kind::Delay: function_text(rs, d, def, to); return true;
    case definition_kind::Constant: to.text() += string_of_constant(a, d, def); return true;
    case definition_kind::Sensor:
    case definition_kind::Actuator: to.text() += string_of_sensor_or_actuator(a, d, def); return true;
    case definition_kind::Explode:
    case definition_kind::Implode:
    case definition_kind::Identity:
      base_types::internal_error("definition " + base_types::string_of_qname(def.def_name) + " of kind " +
                                 algo_string::string_of_definition_kind(def.def_kind) + " has no textual form");
  }
  base_types::internal_error("unknown definition kind");
}

}  // namespace

std::optional<std::string> string_of_def(const algorithm& a, def_id d) {
  text_out to;
  if (!def_text(records(a), d, to)) return std::nullopt;
  return std::move(to.text());
}

namespace {

// Where the definitions in `order` split into two runs of about equal printing work (counted in references
// and ports), for a second thread to print the second; order.size() when the work is too small to share or
// would not split (one definition holding most of it).
std::size_t second_run(const algorithm& a, const std::vector<def_id>& order) {
  static constexpr std::size_t least_work = 4096;
  std::vector<std::size_t> work(order.size());
  std::size_t total = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    std::size_t w = 1;
    if (const contents* x = a.idx.contents_of.find(Def{order[k]}))
      w += x->port_count(true) + x->port_count(false) + x->more().uncond_refs + x->more().cond_refs;
    work[k] = w;
    total += w;
  }
  if (total < least_work) return order.size();
  std::size_t k = 0;
  for (std::size_t before = 0; k < order.size() && 2 * (before + work[k]) <= total; ++k) before += work[k];
  // The larger run must leave the second thread at least a fifth of the work.
  std::size_t second = 0;
  for (std::size_t i = k; i < order.size(); ++i) second += work[i];
  if (5 * second < total || 5 * (total - second) < total) return order.size();
  return k;
}

}  // namespace

void print_algo(const algorithm& a, const std::function<void(const std::string&)>& put) {
  const records rs(a, true);
  text_out to(put);
  const std::vector<def_id> order = sort_defs_by_dep(a, defs(a), [&rs](ref_id r) { return rs.def_of(r); });
  // With a second processor, the second run of definitions is printed there into a text of its own (held
  // whole: about half of the text) while this thread prints the first. The model is only read meanwhile,
  // and no counted node is copied (each thread has its own caches). If the second run fails, it is printed
  // again here after the first, so that a failure comes out exactly as without the thread, after the same
  // text.
  std::size_t split = pipe::threads_help() ? second_run(a, order) : order.size();
  std::optional<records> theirs_records;
  std::string theirs;
  bool theirs_done = false;
  std::thread beside;
  if (split < order.size()) {
    theirs_records.emplace(rs, records::for_another_thread{});
    try {
      beside = pipe::start([&] {
        try {
          text_out o;
          for (std::size_t k = split; k < order.size(); ++k) (void)def_text(*theirs_records, order[k], o);
          theirs = std::move(o.text());
          theirs_done = true;
        } catch (...) {
          // Printed again below.
        }
      });
    } catch (const std::system_error&) {
      split = order.size();
    }
  }
  struct joiner {
    std::thread& t;
    ~joiner() {
      if (t.joinable()) t.join();
    }
  } const wait_for{beside};
  for (std::size_t k = 0; k < split; ++k) {
    (void)def_text(rs, order[k], to);
    to.line_end();
  }
  if (beside.joinable()) beside.join();
  if (theirs_done) {
    to.flush();
    if (!theirs.empty()) put(theirs);
  } else {
    for (std::size_t k = split; k < order.size(); ++k) {
      (void)def_text(rs, order[k], to);
      to.line_end();
    }
  }
  to.flush();
}

std::string string_of_algo(const algorithm& a) {
  std::string out;
  print_algo(a, [&out](const std::string& text) { out += text; });
  return out;
}

void file_of_algo(const std::string& file_name, const algorithm& a) { misc::write_file(file_name, string_of_algo(a)); }

// ---------------------------------------------------------------------------------------------------------
// Readers

namespace {

// Parses the whole text with one entry; any syntax or lexical error becomes Failure(format) filled with the
// text and the lexer's offset at the error. The text goes in whole, a NUL byte too: it does not pass through
// the C formatting, which would end it there.
template <class Entry>
auto read_string(std::string_view text, const char* format, Entry entry) {
  lexer::lexer lex(text, "");
  std::int64_t at = 0;
  try {
    return entry(lex);
  } catch (const algo_lang_parser::Error& e) {
    at = e.where().offset;
  } catch (const loc::Problem& p) {
    at = p.where().begin.offset;
  }
  const std::string_view f(format);
  const std::size_t hole = f.find("%s");
  throw Failure(std::string(f.substr(0, hole)) + std::string(text) +
                misc::sprintf_string(std::string(f.substr(hole + 2)).c_str(), static_cast<int>(at)));
}

}  // namespace

void for_each_decl_of_file(const std::string& file_name,
                           const std::function<void(algo_lang_types::def_decl&&)>& each) {
  // The whole text is read, and the file closed, before parsing starts.
  const std::string text = misc::string_of_file(file_name);
  lexer::lexer lex(text, file_name);
  try {
    algo_lang_parser::parse_algo_decls(lex, each);
  } catch (const algo_lang_parser::Error& e) {
    loc::raise_problem({e.where(), e.where()}, "Syntax error");
  }
}

algo_lang_types::algo_decl algo_decl_of_file(const std::string& file_name) {
  algo_lang_types::algo_decl decls;
  for_each_decl_of_file(file_name, [&decls](algo_lang_types::def_decl&& d) { decls.push_back(std::move(d)); });
  return decls;
}

std::vector<algo_lang_types::port_dispatch> parallel_options_of_string(std::string_view text) {
  return read_string(text, "Parallel option list \"%s\" invalid at character %d.", algo_lang_parser::parse_port_dispatchs);
}

std::vector<algo_lang_types::seq_option> sequence_options_of_string(std::string_view text) {
  return read_string(text, "Sequence option list \"%s\" invalid at character %d.",
                     algo_lang_parser::parse_ref_sequence_options);
}

algo_lang_types::def_call def_call_of_string(std::string_view text) {
  return read_string(text, "Syntax error in definition call: %s\" invalid at character %d.",
                     algo_lang_parser::parse_def_call);
}

algo_types::expr expr_of_string(std::string_view text) {
  return read_string(text, "Expression \"%s\" invalid at character %d.", algo_lang_parser::parse_expr);
}

std::vector<std::string> params_of_string(std::string_view text) {
  return read_string(text, "Parameter list \"%s\" invalid at character %d.", algo_lang_parser::parse_opt_params);
}

}  // namespace cvn::algo_io
