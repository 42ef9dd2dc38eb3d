#include "algo/algo_types.h"

#include <algorithm>
#include <map>
#include <queue>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "base/constant.h"
#include "base/misc.h"
#include "base/pool.h"

namespace cvn::algo_types {

namespace detail {

static_assert(sizeof(expr_node) <= 64, "a packed expression node fits one cache line");
static_assert(sizeof(contents) <= 32, "a reference's contents sits in the element map's blocks");

// Expression nodes share the slabs of every other small block: a tree's nodes freed while a model grows
// leave their room to the model.
void* allocate_expr_node() { return pool::allocate(sizeof(expr_node)); }

void free_expr_node(void* p) noexcept { pool::deallocate(p, sizeof(expr_node)); }

}  // namespace detail

// --- data_sources

std::size_t data_sources::size() const {
  if ((bits_ & 1) != 0) return 1;
  if (const list* l = small()) return l->entries.size();
  if (const indexed* x = large()) return x->by_age.size();
  return 0;
}

std::optional<data_sources::entry> data_sources::newest_clash(const std::optional<cond>& c) const {
  const auto clashes = [&](const std::optional<cond>& old) {
    return !(c && old && c->port == old->port && c->value != old->value);
  };
  const indexed* x = large();
  if (x == nullptr) {
    std::optional<entry> out;
    for_each([&](port_id p, const std::optional<cond>& old) {
      if (!out && clashes(old)) out.emplace(p, old);
    });
    return out;
  }
  // The newest of: the sources of exactly c, and those of any other condition port (a sound model has
  // none, since they clash with each other too: the loop is short).
  std::optional<std::uint64_t> best;
  const auto take = [&](const stamps& g) {
    if (const std::uint64_t* k = g.max_binding().first; k != nullptr && (!best || *k > *best)) best = *k;
  };
  if (!c) {
    if (const std::uint64_t* k = x->by_age.max_binding().first) best = *k;
  } else {
    if (const stamps* g = x->by_cond.find(c)) take(*g);
    x->by_port.for_each([&](const std::optional<port_id>& p, const stamps& g) {
      if (p != c->port) take(g);
    });
  }
  if (!best) return std::nullopt;
  return x->by_age.get(*best);
}

data_sources::indexed& data_sources::own_index() {
  indexed* x = large();
  if (x->refs > 1) {
    indexed* copy = rc::create<indexed>(x->by_age, x->by_cond, x->by_port, x->next);
    release();
    bits_ = reinterpret_cast<std::uint64_t>(copy) | 2;
    x = copy;
  }
  return *x;
}

void data_sources::add_to_others(const entry& e) {
  if (large() == nullptr && size() < small_max) {
    std::vector<entry> next{e};
    for_each([&](const port_id& p, const std::optional<cond>& c) { next.emplace_back(p, c); });
    set(std::move(next));
    return;
  }
  if (large() == nullptr) {
    // Too many for a list: index them, oldest first.
    const std::vector<entry> old = entries();
    indexed* x = rc::create<indexed>();
    release();
    bits_ = reinterpret_cast<std::uint64_t>(x) | 2;
    for (auto it = old.rbegin(); it != old.rend(); ++it) add(*it);
  }
  indexed& x = own_index();
  const std::uint64_t k = x.next++;
  x.by_age = std::move(x.by_age).add(k, e);
  x.by_cond = std::move(x.by_cond).update(e.second, [&](stamps& g) { g = std::move(g).add(k, {}); });
  x.by_port = std::move(x.by_port).update(port_of(e.second), [&](stamps& g) { g = std::move(g).add(k, {}); });
}

void data_sources::remove(const entry& e) {
  if (large() != nullptr) {
    // The newest source of e's condition that comes from e's port (a sound model has one source per
    // condition).
    std::optional<std::uint64_t> found;
    if (const stamps* g = large()->by_cond.find(e.second))
      g->for_each_desc([&](std::uint64_t k, detail::unit) {
        if (!found && large()->by_age.get(k).first == e.first) found = k;
      });
    if (!found) return;
    indexed& x = own_index();
    const std::uint64_t k = *found;
    x.by_age = std::move(x.by_age).remove(k);
    const auto drop = [&](auto& groups, const auto& key) {
      groups = std::move(groups).update(key, [&](stamps& g) { g = std::move(g).remove(k); });
      if (groups.get(key).empty()) groups = std::move(groups).remove(key);
    };
    drop(x.by_cond, e.second);
    drop(x.by_port, port_of(e.second));
    if (x.by_age.size() <= small_max) set(entries());
    return;
  }
  std::vector<entry> next;
  bool found = false;
  for_each([&](const port_id& p, const std::optional<cond>& c) {
    if (!found && p == e.first && c == e.second)
      found = true;
    else
      next.emplace_back(p, c);
  });
  if (!found) return;
  set(std::move(next));
}

std::vector<data_sources::entry> data_sources::entries() const {
  std::vector<entry> out;
  for_each([&](const port_id& p, const std::optional<cond>& c) { out.emplace_back(p, c); });
  return out;
}

void data_sources::set(std::vector<entry>&& sources) {
  release();
  bits_ = 0;
  if (sources.size() == 1 && fits_in_place(sources.front()))
    add(sources.front());
  else if (!sources.empty())
    bits_ = reinterpret_cast<std::uint64_t>(rc::create<list>(std::move(sources)));
}

void data_sources::release() noexcept {
  if (list* l = small()) {
    if (--l->refs == 0) rc::plain_dispose<list>{}(l);
  } else if (indexed* x = large()) {
    if (--x->refs == 0) rc::plain_dispose<indexed>{}(x);
  }
}

std::uint32_t nested_depth(std::uint32_t operand_depth, const loc::location& where) {
  if (operand_depth >= max_expr_depth)
    loc::raise_problem(where, misc::sprintf_string("Expression nested too deeply (more than %u levels)",
                                                   static_cast<unsigned>(max_expr_depth)));
  return operand_depth + 1;
}

using base_types::qname;
using misc::sprintf_string;

Problem::Problem(graph_elt element, std::string message, std::string text)
    : named_error("Algo_types.Problem", text), problem_{std::move(element), std::move(message)}, text_(std::move(text)) {}

Problems::Problems(std::vector<checks::problem<graph_elt>> problems)
    : named_error("Algo_types.Problems", problems.empty() ? std::string() : problems.front().message),
      problems_(std::move(problems)) {}

std::string name_of_graph_elt(const algorithm& a, const graph_elt& e) {
  return std::visit(overloaded{
                        [&](const Port& p) { return "Port " + get_port(a, p.id).port_name; },
                        [&](const Def& d) { return "Def " + base_types::string_of_qname(get_def(a, d.id).def_name); },
                        [&](const Ref& r) { return "Ref " + get_ref(a, r.id).ref_name; },
                    },
                    e);
}

void raise_problem(const algorithm& a, const graph_elt& e, const std::string& message) {
  throw Problem(e, message, name_of_graph_elt(a, e) + ": " + message);
}

// ---------------------------------------------------------------------------------------------------------
// Creation and graph access

algorithm create() {
  return algorithm{port_table::create(port{}),
                   def_table::create(definition{}),
                   ref_table::create(reference{}),
                   elt_table::create(graph_elt{}),
                   algo_env::empty(),
                   {},
                   algo_graph::create(),
                   {}};
}

graph_elt get_graph_elt(const algorithm& a, elt_id k) { return a.elts.get(k); }

std::vector<graph_elt> get_graph_elts(const algorithm& a) {
  std::vector<graph_elt> out;
  out.reserve(a.elts.card());
  a.elts.iter([&](elt_id, const graph_elt& e) { out.push_back(e); });
  return out;
}

elt_id elt_id_of_elt(const algorithm& a, const graph_elt& e) { return a.elt_keys.get(e); }

bool mem_elt(const algorithm& a, const graph_elt& e) { return a.elt_keys.contains(e); }

const definition& get_def(const algorithm& a, def_id d) { return a.defs.get(d); }
const port& get_port(const algorithm& a, port_id p) { return a.ports.get(p); }
const reference& get_ref(const algorithm& a, ref_id r) { return a.refs.get(r); }

bool is_data(const edge& l) { return std::holds_alternative<Data>(l); }
bool is_contain(const edge& l) { return std::holds_alternative<Contain>(l); }
bool is_reference(const edge& l) { return std::holds_alternative<Reference>(l); }
bool is_copy(const edge& l) { return std::holds_alternative<Copy>(l); }
bool is_precedence(const edge& l) { return std::holds_alternative<Precedence>(l); }

std::optional<cond> cond_of_edge(const edge& l) {
  if (const auto* d = std::get_if<Data>(&l)) return d->condition;
  if (const auto* c = std::get_if<Contain>(&l)) return c->condition;
  return std::nullopt;
}

namespace {

// The first container of an element from the index.
std::optional<graph_elt> owner_of(const indexes& idx, const graph_elt& e) {
  const auto* cs = idx.containers.find(e);
  if (cs == nullptr || cs->empty()) return std::nullopt;
  return cs->front_elt();
}

// Keeps a container's contents in step with one of its ports added or removed.
void index_port(const algorithm& a, contents& x, port_id q, const std::string& name, direction dir, bool adding) {
  if (adding) {
    x.add_port(q, name);
    if (!x.more().port_names.empty()) {
      auto& names = x.own().port_names;
      names = std::move(names).add({detail::name_hash(name), q}, {});
    } else if (x.port_total() > contents::named_from) {
      auto& names = x.own().port_names;
      x.for_each_port([&](port_id o) {
        names = std::move(names).add({detail::name_hash(get_port(a, o).port_name), o}, {});
      });
    }
  } else {
    x.remove_port(q);
    if (!x.more().port_names.empty()) {
      auto& names = x.own().port_names;
      names = std::move(names).remove({detail::name_hash(name), q});
    }
  }
  x.count_port(dir == direction::In, adding ? 1 : -1);
}

// Keeps the indexes in step with one edge added (delta +1) or removed (delta -1). Records must be present.
void index_edge(const algorithm& a, indexes& idx, const graph_elt& src, const graph_elt& dst, const edge& l,
                bool adding) {
  const auto step = [adding](std::uint32_t& n) {
    if (adding)
      ++n;
    else if (n > 0)
      --n;
  };
  if (const auto* c = std::get_if<Contain>(&l)) {
    idx.containers = std::move(idx.containers).update(dst, [&](container_list& v) {
      if (adding)
        v.add({src, c->condition});
      else
        v.remove({src, c->condition});
    });
    if (const auto* cont = std::get_if<Port>(&dst)) {
      const port& p = get_port(a, cont->id);
      idx.contents_of = std::move(idx.contents_of).update(
          src, [&](contents& x) { index_port(a, x, cont->id, p.port_name, p.port_dir, adding); });
    } else if (const auto* r = std::get_if<Ref>(&dst)) {
      const reference& rr = get_ref(a, r->id);
      idx.contents_of = std::move(idx.contents_of).update(src, [&](contents& x) {
        const cond under = detail::cond_key(c->condition);
        contents::rest& y = x.own();
        if (adding) {
          y.refs = std::move(y.refs).add(r->id, c->condition);
          if (!y.ref_names.empty()) {
            y.ref_names = std::move(y.ref_names).add(rr.ref_name, under, r->id);
          } else if (y.refs.size() > contents::named_from) {
            y.refs.for_each([&](ref_id q, const std::optional<cond>& qc) {
              y.ref_names = std::move(y.ref_names).add(get_ref(a, q).ref_name, detail::cond_key(qc), q);
            });
          }
        } else {
          y.refs = std::move(y.refs).remove(r->id);
          if (!y.ref_names.empty()) y.ref_names = std::move(y.ref_names).remove(rr.ref_name, under, r->id);
        }
        step(c->condition ? y.cond_refs : y.uncond_refs);
      });
    }
    return;
  }
  if (const auto* d = std::get_if<Data>(&l)) {
    const auto* s = std::get_if<Port>(&src);
    const auto* t = std::get_if<Port>(&dst);
    if (s == nullptr || t == nullptr) return;
    idx.data_in = std::move(idx.data_in).update(t->id, [&](data_sources& v) {
      if (adding)
        v.add({s->id, d->condition});
      else
        v.remove({s->id, d->condition});
    });
    const std::optional<graph_elt> os = owner_of(idx, src);
    const std::optional<graph_elt> od = owner_of(idx, dst);
    const auto bump = [&](const graph_elt& def, std::uint32_t contents::rest::*counter) {
      idx.contents_of = std::move(idx.contents_of).update(def, [&](contents& x) { step(x.own().*counter); });
    };
    if (!d->condition) {
      if (os && od && std::holds_alternative<Def>(*os) && *os == *od)
        bump(*os, &contents::rest::uncond_links);
    } else {
      if (os && std::holds_alternative<Def>(*os) && get_port(a, s->id).port_dir == direction::In)
        bump(*os, &contents::rest::cond_port_links);
      if (od && std::holds_alternative<Def>(*od) && get_port(a, t->id).port_dir == direction::Out)
        bump(*od, &contents::rest::cond_port_links);
    }
  }
}

elt_edges elt_edges_of(const algorithm& a, const algo_graph::edge_list& l) {
  elt_edges out;
  out.reserve(l.size());
  for (const auto& [k, e] : l) out.emplace_back(a.elts.get(k), e);
  return out;
}

// Puts an element in `elts` and `elt_keys`; its node key.
elt_id add_elt(algorithm& r, const graph_elt& e) {
  auto [k, elts] = std::move(r.elts).add(e);
  r.elts = std::move(elts);
  r.elt_keys = std::move(r.elt_keys).add(e, k);
  return k;
}

// Adds an edge that cannot exist yet (one end is new) between known node keys.
void add_new_edge(algorithm& r, elt_id ks, elt_id kd, const graph_elt& src, const graph_elt& dst, const edge& l) {
  r.graph = std::move(r.graph).add(ks, kd, l);
  index_edge(r, r.idx, src, dst, l, true);
}

void add_edge_in_place(algorithm& r, const graph_elt& src, const graph_elt& dst, const edge& l) {
  const elt_id ks = r.elt_keys.get(src);
  const elt_id kd = r.elt_keys.get(dst);
  if (r.graph.mem_edge(ks, kd, l)) return;
  add_new_edge(r, ks, kd, src, dst, l);
}

const contents* contents_of(const algorithm& a, const graph_elt& c) { return a.idx.contents_of.find(c); }

}  // namespace

algorithm add_edge(const algorithm& a, const graph_elt& src, const graph_elt& dst, const edge& l) {
  algorithm r = a;
  add_edge_into(r, src, dst, l);
  return r;
}

void add_edge_into(algorithm& a, const graph_elt& src, const graph_elt& dst, const edge& l) {
  add_edge_in_place(a, src, dst, l);
}

algorithm remove_edge(const algorithm& a, const graph_elt& src, const graph_elt& dst,
                      const std::function<bool(const edge&)>& p) {
  const elt_id ks = a.elt_keys.get(src);
  const elt_id kd = a.elt_keys.get(dst);
  // The labels between the two ends, read from the shorter of the two lists.
  std::vector<edge> gone;
  if (a.graph.succ_count(ks) <= a.graph.pred_count(kd)) {
    for (const auto& [k, l] : a.graph.succ(ks))
      if (k == kd && p(l)) gone.push_back(l);
  } else {
    for (const auto& [k, l] : a.graph.pred(kd))
      if (k == ks && p(l)) gone.push_back(l);
  }
  if (gone.empty()) return a;
  algorithm r = a;
  for (const edge& l : gone) {
    index_edge(r, r.idx, src, dst, l, false);
    r.graph = std::move(r.graph).rem(ks, kd, [&](const edge& x) { return x == l; });
  }
  return r;
}

algorithm remove(const algorithm& a, const graph_elt& e) {
  const elt_id k = a.elt_keys.get(e);
  algorithm r = a;
  // Containment last, so that data edges still find the owners of their ports.
  std::vector<std::tuple<graph_elt, graph_elt, edge>> edges;
  for (const auto& [o, l] : a.graph.succ(k)) edges.emplace_back(e, a.elts.get(o), l);
  for (const auto& [o, l] : a.graph.pred(k)) edges.emplace_back(a.elts.get(o), e, l);
  std::stable_partition(edges.begin(), edges.end(), [](const auto& x) { return !is_contain(std::get<2>(x)); });
  for (const auto& [s, d, l] : edges) index_edge(r, r.idx, s, d, l, false);
  r.graph = std::move(r.graph).remove_node(k);
  r.elts = std::move(r.elts).remove(k);
  r.elt_keys = std::move(r.elt_keys).remove(e);
  r.idx.containers = std::move(r.idx.containers).remove(e);
  r.idx.contents_of = std::move(r.idx.contents_of).remove(e);
  std::visit(overloaded{
                 [&](const Port& p) {
                   r.idx.data_in = std::move(r.idx.data_in).remove(p.id);
                   r.ports = std::move(r.ports).remove(p.id);
                 },
                 [&](const Def& d) { r.defs = std::move(r.defs).remove(d.id); },
                 [&](const Ref& x) { r.refs = std::move(r.refs).remove(x.id); },
             },
             e);
  return r;
}

elt_edges get_succs(const algorithm& a, const graph_elt& e) {
  return elt_edges_of(a, a.graph.succ(elt_id_of_elt(a, e)));
}
elt_edges get_preds(const algorithm& a, const graph_elt& e) {
  return elt_edges_of(a, a.graph.pred(elt_id_of_elt(a, e)));
}

std::vector<graph_elt> retrieve_succ(const algorithm& a, const graph_elt& e,
                                     const std::function<bool(const edge&)>& p) {
  std::vector<graph_elt> out;
  for (const auto& [k, l] : a.graph.succ(elt_id_of_elt(a, e)))
    if (p(l)) out.push_back(a.elts.get(k));
  return out;
}
std::vector<graph_elt> retrieve_pred(const algorithm& a, const graph_elt& e,
                                     const std::function<bool(const edge&)>& p) {
  std::vector<graph_elt> out;
  for (const auto& [k, l] : a.graph.pred(elt_id_of_elt(a, e)))
    if (p(l)) out.push_back(a.elts.get(k));
  return out;
}

void iter_succ_algo_graph(const algorithm& a, const std::function<void(const graph_elt&, const elt_edges&)>& f) {
  a.graph.iter_succ([&](elt_id k, const algo_graph::edge_list& l) { f(a.elts.get(k), elt_edges_of(a, l)); });
}
void iter_pred_algo_graph(const algorithm& a, const std::function<void(const graph_elt&, const elt_edges&)>& f) {
  a.graph.iter_pred([&](elt_id k, const algo_graph::edge_list& l) { f(a.elts.get(k), elt_edges_of(a, l)); });
}

// ---------------------------------------------------------------------------------------------------------
// Queries

std::vector<ref_id> referencers(const algorithm& a, def_id d) {
  std::vector<ref_id> out;
  for (const auto& [k, l] : a.graph.pred(elt_id_of_elt(a, Def{d})))
    if (is_reference(l))
      if (const auto* r = std::get_if<Ref>(&a.elts.get(k))) out.push_back(r->id);
  return out;
}

std::optional<graph_elt> container(const algorithm& a, const graph_elt& e) {
  return owner_of(a.idx, e);
}

graph_elt port_container(const algorithm& a, port_id p) {
  const auto* cs = a.idx.containers.find(Port{p});
  if (cs == nullptr || cs->empty())
    throw Failure(sprintf_string("Port %s has no container.", get_port(a, p).port_name.c_str()));
  if (cs->size() > 1)
    throw Failure(sprintf_string("Port %s has more than one container.", get_port(a, p).port_name.c_str()));
  return cs->front_elt();
}

def_id ref_container(const algorithm& a, ref_id r) {
  const auto* cs = a.idx.containers.find(Ref{r});
  if (cs == nullptr || cs->empty())
    throw Failure(sprintf_string("Reference %s has no container.", get_ref(a, r).ref_name.c_str()));
  if (cs->size() > 1)
    throw Failure(sprintf_string("Reference %s has more than one container.", get_ref(a, r).ref_name.c_str()));
  const graph_elt c = cs->front_elt();
  if (const auto* d = std::get_if<Def>(&c)) return d->id;
  base_types::internal_error("a reference contained by something else than a definition");
}

port_id referenced_port(const algorithm& a, port_id p) {
  std::vector<port_id> found;
  (void)a.graph.any_succ(elt_id_of_elt(a, Port{p}), [&](elt_id k, const edge& l) {
    if (is_reference(l))
      if (const auto* q = std::get_if<Port>(&a.elts.get(k))) found.push_back(q->id);
    return false;
  });
  const std::string& name = get_port(a, p).port_name;
  if (found.empty()) raise_problem(a, Port{p}, sprintf_string("Port %s does not reference any port.", name.c_str()));
  if (found.size() > 1)
    raise_problem(a, Port{p},
                  sprintf_string("Port %s does not reference a port or references more than one port.", name.c_str()));
  return found.front();
}

namespace {

std::optional<def_id> def_of_node(const algorithm& a, elt_id k) {
  if (const auto* d = std::get_if<Def>(&a.elts.get(k))) return d->id;
  return std::nullopt;
}

// The distinct definitions instantiated by the references of d, in the order of their first reference;
// `def_of` gives the definition of a reference.
template <class F>
std::vector<def_id> used_defs(const algorithm& a, def_id d, F&& def_of) {
  std::vector<def_id> out;
  std::unordered_set<std::int64_t> seen;  // filled once `out` is too long to search
  if (const contents* x = contents_of(a, Def{d}))
    x->more().refs.for_each([&](ref_id r, const std::optional<cond>&) {
      const def_id u = def_of(r);
      if (!seen.empty()) {
        if (seen.insert(u.value).second) out.push_back(u);
        return;
      }
      if (std::find(out.begin(), out.end(), u) != out.end()) return;
      out.push_back(u);
      if (out.size() > 16)
        for (def_id x : out) seen.insert(x.value);
    });
  return out;
}

}  // namespace

def_id reference_def(const algorithm& a, ref_id r) {
  return instantiated_def(a, r, [&](elt_id k) { return def_of_node(a, k); });
}

std::optional<graph_elt> get_copy_dst(const algorithm& a, const graph_elt& e) {
  std::optional<graph_elt> found;
  (void)a.graph.any_succ(elt_id_of_elt(a, e), [&](elt_id k, const edge& l) {
    if (is_copy(l)) found = a.elts.get(k);
    return found.has_value();
  });
  return found;
}

std::optional<port_id> get_port_copy_dst(const algorithm& a, port_id p) {
  if (auto e = get_copy_dst(a, Port{p}))
    if (const auto* q = std::get_if<Port>(&*e)) return q->id;
  return std::nullopt;
}

std::vector<port_id> ports(const algorithm& a, const std::optional<graph_elt>& c, const std::optional<direction>& dir) {
  std::vector<port_id> out;
  const auto keep = [&](port_id p, const port& r) {
    if (!dir || r.port_dir == *dir) out.push_back(p);
  };
  if (!c) {
    a.ports.iter(keep);
    return out;
  }
  if (const contents* x = contents_of(a, *c)) {
    if (dir)
      x->for_each_port([&](port_id p) { keep(p, get_port(a, p)); });
    else
      x->for_each_port([&](port_id p) { out.push_back(p); });
  }
  return out;
}

std::vector<port_id> ports_by_order(const algorithm& a, const graph_elt& c, direction dir) {
  // Each port's order read once, not at every comparison.
  std::vector<std::pair<std::int64_t, port_id>> ordered;
  for (port_id p : ports(a, c, dir)) ordered.emplace_back(get_port(a, p).port_order, p);
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<port_id> out;
  out.reserve(ordered.size());
  for (const auto& [order, p] : ordered) out.push_back(p);
  return out;
}

std::size_t port_count(const algorithm& a, const graph_elt& c, direction dir) {
  const contents* x = contents_of(a, c);
  if (x == nullptr) return 0;
  return x->port_count(dir == direction::In);
}

namespace {
// The first port (in insertion order) of the container with that name that satisfies p.
template <class P>
std::optional<port_id> first_port_named(const algorithm& a, const graph_elt& c, const std::string& name, P&& p) {
  const contents* x = contents_of(a, c);
  if (x == nullptr) return std::nullopt;
  std::optional<port_id> found;
  const detail::name_index<port_id>& names = x->more().port_names;
  if (names.empty()) {
    (void)x->for_each_port_maybe_named_until(name, [&](port_id q) {
      if (get_port(a, q).port_name == name && p(q)) found = q;
      return found.has_value();
    });
    return found;
  }
  names.for_each_equivalent(detail::name_hash(name), [&](const auto& key, const detail::unit&) {
    if (!found && get_port(a, key.second).port_name == name && p(key.second)) found = key.second;
  });
  return found;
}
}  // namespace

std::optional<port_id> port_by_name(const algorithm& a, const graph_elt& c, const std::string& name) {
  return first_port_named(a, c, name, [](port_id) { return true; });
}

std::optional<port_id> port_by_name_dir(const algorithm& a, const graph_elt& c, const std::string& name,
                                        direction dir) {
  return first_port_named(a, c, name, [&](port_id q) { return get_port(a, q).port_dir == dir; });
}

namespace {
// Visits, until f returns true, the references of the container named `name` (under the condition, when
// one is given), in ascending identifier order; true when f did. A lookup that wants the first one stops
// there, without a list.
template <class F>
bool refs_named_until(const algorithm& a, const graph_elt& c, const std::string& name,
                      const std::optional<std::optional<cond>>& under, F&& f) {
  const contents* x = contents_of(a, c);
  if (x == nullptr) return false;
  const contents::rest& y = x->more();
  if (y.ref_names.empty()) {
    bool stopped = false;
    y.refs.for_each([&](ref_id r, const std::optional<cond>& rc) {
      if (!stopped && (!under || *under == rc) && get_ref(a, r).ref_name == name) stopped = f(r);
    });
    return stopped;
  }
  bool stopped = false;
  if (under) {
    y.ref_names.for_each_under(name, detail::cond_key(*under), [&](ref_id r) {
      if (!stopped) stopped = f(r);
    });
    return stopped;
  }
  // Under any condition: the references of the name go by condition first.
  std::vector<ref_id> named;
  y.ref_names.for_each_named(name, [&](ref_id r) { named.push_back(r); });
  std::sort(named.begin(), named.end());
  for (ref_id r : named)
    if (f(r)) return true;
  return false;
}
}  // namespace

std::vector<ref_id> refs_by_name(const algorithm& a, const graph_elt& c, const std::string& name,
                                 const std::optional<std::optional<cond>>& under) {
  std::vector<ref_id> out;
  (void)refs_named_until(a, c, name, under, [&](ref_id r) {
    out.push_back(r);
    return false;
  });
  return out;
}

bool has_ref_named(const algorithm& a, const graph_elt& c, const std::string& name,
                   const std::optional<std::optional<cond>>& under) {
  return refs_named_until(a, c, name, under, [](ref_id) { return true; });
}

std::pair<std::vector<port_id>, std::vector<ref_id>> def_elts(const algorithm& a, def_id d,
                                                              const std::optional<std::optional<cond>>& under) {
  std::pair<std::vector<port_id>, std::vector<ref_id>> out;
  out.first = ports(a, Def{d});
  if (const contents* x = contents_of(a, Def{d}))
    x->more().refs.for_each([&](ref_id r, const std::optional<cond>& c) {
      if (!under || *under == c) out.second.push_back(r);
    });
  return out;
}

std::vector<cond> def_conditions(const algorithm& a, def_id d) {
  std::vector<cond> out;
  std::set<cond> seen;  // a large match has as many conditions as cases
  const auto note = [&](const std::optional<cond>& c) {
    if (c && seen.insert(*c).second) out.push_back(*c);
  };
  const contents* x = contents_of(a, Def{d});
  if (x == nullptr) return out;
  x->more().refs.for_each([&](ref_id, const std::optional<cond>& c) { note(c); });
  if (x->more().cond_port_links == 0) return out;  // no conditioned data edge at its ports: nothing to scan
  for (port_id p : ports_by_order(a, Def{d}, direction::In))
    for (const auto& [k, l] : a.graph.succ(elt_id_of_elt(a, Port{p})))
      if (const auto* data = std::get_if<Data>(&l)) note(data->condition);
  for (port_id p : ports_by_order(a, Def{d}, direction::Out))
    if (const auto* in = a.idx.data_in.find(p)) in->for_each([&](port_id, const std::optional<cond>& c) { note(c); });
  return out;
}

std::vector<std::pair<std::optional<cond>, std::vector<ref_id>>> refs_by_cond(const algorithm& a, def_id d) {
  std::vector<std::pair<std::optional<cond>, std::vector<ref_id>>> out;
  std::map<std::optional<cond>, std::size_t> group;
  if (const contents* x = contents_of(a, Def{d}))
    x->more().refs.for_each([&](ref_id r, const std::optional<cond>& c) {
      auto [it, fresh] = group.emplace(c, out.size());
      if (fresh) out.emplace_back(c, std::vector<ref_id>{});
      out[it->second].second.push_back(r);
    });
  return out;
}

bool exist_unconditioned_links_between_def_ports(const algorithm& a, def_id d) {
  const contents* x = contents_of(a, Def{d});
  return x != nullptr && x->more().uncond_links > 0;
}

bool is_conditioned_def(const algorithm& a, def_id d) {
  const contents* x = contents_of(a, Def{d});
  return x != nullptr && (x->more().cond_refs > 0 || x->more().cond_port_links > 0);
}

bool has_unconditioned_contents(const algorithm& a, def_id d) {
  const contents* x = contents_of(a, Def{d});
  return x != nullptr && (x->more().uncond_refs > 0 || x->more().uncond_links > 0);
}

std::vector<def_id> sort_defs_by_dep(const algorithm& a, const std::vector<def_id>& ds) {
  // The node keys of the definitions asked for: a reference's Reference edge is then recognised without
  // looking its end up in the element table (a definition outside the list still is).
  std::unordered_map<std::int64_t, def_id> def_nodes;
  for (def_id d : ds) def_nodes.emplace(elt_id_of_elt(a, Def{d}).value, d);
  return sort_defs_by_dep(a, ds, [&](ref_id r) {
    return instantiated_def(a, r, [&](elt_id k) -> std::optional<def_id> {
      if (const auto it = def_nodes.find(k.value); it != def_nodes.end()) return it->second;
      return def_of_node(a, k);
    });
  });
}

std::vector<def_id> sort_defs_by_dep(const algorithm& a, const std::vector<def_id>& ds,
                                     const std::function<def_id(ref_id)>& def_of) {
  // The order of the dependency graph's nodes by predecessors (definition before the ones it uses), as the
  // graph gives it: the greatest root first, the nodes on or behind a cycle left out; reversed. The graph
  // lives only here, so it is built in plain arrays (positions in key order, edges in one array by source)
  // rather than as a persistent graph that a large model pays for edge by edge.
  std::vector<def_id> from = ds;
  std::sort(from.begin(), from.end());
  from.erase(std::unique(from.begin(), from.end()), from.end());
  std::vector<std::size_t> first(from.size() + 1, 0);  // the edges of from[i] at first[i] to first[i + 1]
  std::vector<def_id> used;  // edge ends, distinct per source
  for (std::size_t i = 0; i < from.size(); ++i) {
    for (def_id u : used_defs(a, from[i], def_of)) used.push_back(u);
    first[i + 1] = used.size();
  }
  std::vector<def_id> keys = from;
  keys.insert(keys.end(), used.begin(), used.end());
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  const auto position = [&](def_id k) {
    return static_cast<std::size_t>(std::lower_bound(keys.begin(), keys.end(), k) - keys.begin());
  };
  std::vector<std::size_t> source(keys.size(), SIZE_MAX);  // the index in `from` of each key, if any
  for (std::size_t i = 0; i < from.size(); ++i) source[position(from[i])] = i;
  std::vector<std::size_t> ends(used.size());
  std::vector<std::size_t> in_degree(keys.size(), 0);
  for (std::size_t e = 0; e < used.size(); ++e) ++in_degree[ends[e] = position(used[e])];
  std::priority_queue<std::size_t> roots;
  for (std::size_t v = 0; v < keys.size(); ++v)
    if (in_degree[v] == 0) roots.push(v);
  std::vector<def_id> order;
  order.reserve(keys.size());
  while (!roots.empty()) {
    const std::size_t v = roots.top();
    roots.pop();
    order.push_back(keys[v]);
    if (const std::size_t i = source[v]; i != SIZE_MAX)
      for (std::size_t e = first[i]; e < first[i + 1]; ++e)
        if (--in_degree[ends[e]] == 0) roots.push(ends[e]);
  }
  // Only the definitions asked for: instantiated ones outside the list are not added.
  std::vector<def_id> out;
  for (auto it = order.rbegin(); it != order.rend(); ++it)
    if (std::binary_search(from.begin(), from.end(), *it)) out.push_back(*it);
  return out;
}

std::vector<def_id> defs(const algorithm& a) {
  std::vector<def_id> out;
  a.defs.iter([&](def_id d, const definition&) { out.push_back(d); });
  return out;
}

std::vector<ref_id> refs(const algorithm& a) {
  std::vector<ref_id> out;
  a.refs.iter([&](ref_id r, const reference&) { out.push_back(r); });
  return out;
}

std::vector<def_id> defs_under_def(const algorithm& a, def_id d) {
  return used_defs(a, d, [&](ref_id r) { return reference_def(a, r); });
}

std::vector<ref_id> refs_under_def(const algorithm& a, def_id d) {
  std::vector<ref_id> out;
  if (const contents* x = contents_of(a, Def{d}))
    x->more().refs.for_each([&](ref_id r, const std::optional<cond>&) { out.push_back(r); });
  return out;
}

namespace {

std::optional<ref_id> owning_ref(const algorithm& a, port_id p) {
  if (const std::optional<graph_elt> o = owner_of(a.idx, Port{p}))
    if (const auto* r = std::get_if<Ref>(&*o)) return r->id;
  return std::nullopt;
}

// The references that r precedes directly, through Precedence edges or data edges between reference ports.
void ref_succs(const algorithm& a, ref_id r, std::vector<ref_id>& out) {
  (void)a.graph.any_succ(elt_id_of_elt(a, Ref{r}), [&](elt_id k, const edge& l) {
    if (is_precedence(l))
      if (const auto* x = std::get_if<Ref>(&a.elts.get(k))) out.push_back(x->id);
    return false;
  });
  if (const contents* x = contents_of(a, Ref{r}))
    x->for_each_port([&](port_id p) {
      (void)a.graph.any_succ(elt_id_of_elt(a, Port{p}), [&](elt_id k, const edge& l) {
        if (is_data(l))
          if (const auto* q = std::get_if<Port>(&a.elts.get(k)))
            if (auto o = owning_ref(a, q->id)) out.push_back(*o);
        return false;
      });
    });
}

// The references that precede r directly.
void ref_preds(const algorithm& a, ref_id r, std::vector<ref_id>& out) {
  (void)a.graph.any_pred(elt_id_of_elt(a, Ref{r}), [&](elt_id k, const edge& l) {
    if (is_precedence(l))
      if (const auto* x = std::get_if<Ref>(&a.elts.get(k))) out.push_back(x->id);
    return false;
  });
  if (const contents* x = contents_of(a, Ref{r}))
    x->for_each_port([&](port_id p) {
      if (const auto* in = a.idx.data_in.find(p))
        in->for_each([&](port_id s, const std::optional<cond>&) {
          if (auto o = owning_ref(a, s)) out.push_back(*o);
        });
    });
}

}  // namespace

std::vector<ref_id> get_data_pred_ref(const algorithm& a, ref_id r) {
  std::vector<ref_id> out;
  std::set<ref_id> seen;  // a wide reference may be fed by as many others as it has ports
  if (const contents* x = contents_of(a, Ref{r}))
    x->for_each_port([&](port_id p) {
      if (const auto* in = a.idx.data_in.find(p))
        in->for_each([&](port_id s, const std::optional<cond>&) {
          if (auto o = owning_ref(a, s))
            if (seen.insert(*o).second) out.push_back(*o);
        });
    });
  return out;
}

std::vector<ref_id> get_pred_ref(const algorithm& a, ref_id r) {
  std::vector<ref_id> out;
  for (const graph_elt& e : retrieve_pred(a, Ref{r}, is_precedence))
    if (const auto* x = std::get_if<Ref>(&e)) out.push_back(x->id);
  return out;
}

std::optional<cond> ref_cond(const algorithm& a, ref_id r) {
  const auto* cs = a.idx.containers.find(Ref{r});
  if (cs == nullptr || cs->empty()) return std::nullopt;
  return cs->front_cond();
}

bool ref_reaches(const algorithm& a, ref_id from, ref_id to) {
  if (from == to) return true;
  // Two searches, forward from `from` and backward from `to`, each expanding one reference at a time; the
  // side that has looked at fewer edges goes next. They meet exactly when a path exists, and a side that
  // runs out proves there is none, so the cost follows the cheaper side (a new reference at the end of a
  // long pipeline is answered at once).
  // Most searches end after a step or two: the visited references are kept in the queue itself and
  // searched linearly until there are many of them.
  struct side {
    std::vector<ref_id> queue;  // every reference reached; the ones from `next` on are still to expand
    std::size_t next = 0;
    std::unordered_set<std::int64_t> index;  // filled once the queue is long
    std::size_t work = 0;
    [[nodiscard]] bool seen(ref_id r) const {
      if (!index.empty()) return index.count(r.value) != 0;
      return std::find(queue.begin(), queue.end(), r) != queue.end();
    }
    void reach(ref_id r) {
      queue.push_back(r);
      if (!index.empty()) {
        index.insert(r.value);
      } else if (queue.size() > 32) {
        for (ref_id x : queue) index.insert(x.value);
      }
    }
  };
  side fwd, bwd;
  fwd.reach(from);
  bwd.reach(to);
  std::vector<ref_id> next;
  while (fwd.next < fwd.queue.size() && bwd.next < bwd.queue.size()) {
    const bool forward = fwd.work <= bwd.work;
    side& me = forward ? fwd : bwd;
    const side& other = forward ? bwd : fwd;
    const ref_id r = me.queue[me.next++];
    next.clear();
    if (forward)
      ref_succs(a, r, next);
    else
      ref_preds(a, r, next);
    me.work += next.size() + 1;
    for (ref_id n : next) {
      if (other.seen(n)) return true;
      if (!me.seen(n)) me.reach(n);
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------------------
// Editing primitives

namespace {
// A port keeps its order in 32 bits: orders are positions among the ports of one container.
std::int32_t narrow_order(std::int64_t order) {
  if (order < INT32_MIN || order > INT32_MAX)
    base_types::internal_error("port order " + std::to_string(order) + " out of range");
  return static_cast<std::int32_t>(order);
}
}  // namespace

def_id add_definition_into(algorithm& a, const std::optional<std::string>& comment,
                           const std::optional<std::vector<std::string>>& params, definition_kind kind,
                           const std::string& name) {
  auto [d, defs] = std::move(a.defs).add(
      definition{base_types::simple_name{name}, kind, params.value_or(std::vector<std::string>{}),
                 comment.value_or(std::string())});
  a.defs = std::move(defs);
  (void)add_elt(a, Def{d});
  a.env = std::move(a.env).add(name, d);
  return d;
}

std::pair<def_id, algorithm> add_definition(const algorithm& a, const std::optional<std::string>& comment,
                                            const std::optional<std::vector<std::string>>& params,
                                            definition_kind kind, const std::string& name) {
  algorithm r = a;
  const def_id d = add_definition_into(r, comment, params, kind, name);
  return {d, std::move(r)};
}

port_id add_port_into(algorithm& a, const opt_expr& size, std::int64_t order, const shared::string& type,
                      direction dir, const shared::string& name, const opt_expr& value,
                      const std::optional<additional::attributes>& attrs, const graph_elt& container) {
  const elt_id kc = a.elt_keys.get(container);  // Not_found before anything changes
  const std::int32_t at = narrow_order(order);
  auto [p, ports] =
      std::move(a.ports).add(port{name, type, size, value, attrs.value_or(additional::attributes{}), at, dir});
  a.ports = std::move(ports);
  const elt_id kp = add_elt(a, Port{p});
  add_new_edge(a, kc, kp, container, Port{p}, Contain{});
  return p;
}

std::pair<port_id, algorithm> add_port(const algorithm& a, const opt_expr& size, std::int64_t order,
                                       const shared::string& type, direction dir, const shared::string& name,
                                       const opt_expr& value, const std::optional<additional::attributes>& attrs,
                                       const graph_elt& container) {
  algorithm r = a;
  const port_id p = add_port_into(r, size, order, type, dir, name, value, attrs, container);
  return {p, std::move(r)};
}

ref_id add_reference_into(algorithm& a, const std::optional<std::string>& comment,
                          const std::optional<std::vector<expr>>& args, const std::optional<repetition_kind>& rep,
                          const std::optional<std::int64_t>& period, def_id instantiated, bool abstract,
                          const std::optional<additional::attributes>& attrs, const std::string& name) {
  const elt_id kd = a.elt_keys.get(Def{instantiated});  // Not_found before anything changes
  auto [i, refs] = std::move(a.refs).add(reference{name, comment.value_or(std::string()),
                                                   args.value_or(std::vector<expr>{}), rep,
                                                   attrs.value_or(additional::attributes{}), period, abstract});
  a.refs = std::move(refs);
  const elt_id kr = add_elt(a, Ref{i});
  add_new_edge(a, kr, kd, Ref{i}, Def{instantiated}, Reference{});
  return i;
}

void copy_def_ports_into(algorithm& a, ref_id holder, def_id d) {
  const std::vector<port_id> from = ports(a, Def{d});
  if (from.empty()) return;
  const elt_id kr = a.elt_keys.get(Ref{holder});
  struct made_port {
    port_id id;
    shared::string name;
    direction dir;
  };
  std::vector<made_port> made;
  made.reserve(from.size());
  std::vector<algo_graph::new_edge> edges;
  edges.reserve(2 * from.size());
  // The copies are new nodes: their edges cannot exist yet, the graph takes them all at once, and so does
  // the reference's contents at the end.
  for (port_id p : from) {
    const elt_id kp = a.elt_keys.get(Port{p});
    port copy = get_port(a, p);
    made.push_back(made_port{port_id{}, copy.port_name, copy.port_dir});
    auto [q, ports] = std::move(a.ports).add(std::move(copy));
    a.ports = std::move(ports);
    made.back().id = q;
    const elt_id kq = add_elt(a, Port{q});
    a.idx.containers = std::move(a.idx.containers).update(Port{q}, [&](container_list& v) {
      v.add({Ref{holder}, std::nullopt});
    });
    edges.push_back({kr, kq, Contain{}});
    edges.push_back({kq, kp, Reference{}});
  }
  a.graph = std::move(a.graph).add_new(edges);
  a.idx.contents_of = std::move(a.idx.contents_of).update(Ref{holder}, [&](contents& x) {
    for (const made_port& m : made) index_port(a, x, m.id, m.name, m.dir, true);
  });
}

std::pair<ref_id, algorithm> add_reference(const algorithm& a, const std::optional<std::string>& comment,
                                           const std::optional<std::vector<expr>>& args,
                                           const std::optional<repetition_kind>& rep,
                                           const std::optional<std::int64_t>& period, def_id instantiated,
                                           bool abstract, const std::optional<additional::attributes>& attrs,
                                           const std::string& name) {
  algorithm r = a;
  const ref_id i = add_reference_into(r, comment, args, rep, period, instantiated, abstract, attrs, name);
  return {i, std::move(r)};
}

algorithm modify_def(const algorithm& a, const std::optional<std::string>& new_name,
                     const std::optional<std::vector<std::string>>& new_params, def_id d) {
  if (!new_name && !new_params) return a;
  const definition& old = get_def(a, d);
  if (std::holds_alternative<base_types::qualified_name>(old.def_name))
    raise_problem(a, Def{d}, "A definition belonging to a module cannot be modified.");
  definition changed = old;
  algorithm r = a;
  if (new_params) changed.def_params = *new_params;
  if (new_name) {
    changed.def_name = base_types::simple_name{*new_name};
    // Replace the binding: the old name must not keep naming this definition.
    const std::string& old_name = base_types::base_qname(old.def_name);
    std::vector<algo_env::module_bindings::binding> kept;
    for (auto& b : a.env.current().to_vector())
      if (!(b.first == old_name && b.second == d)) kept.push_back(std::move(b));
    r.env = a.env.set_current(algo_env::module_bindings::of_list(kept)).add(*new_name, d);
  }
  r.defs = std::move(r.defs).modify(d, std::move(changed));
  return r;
}

algorithm modify_ref(const algorithm& a, const ref_changes& ch, ref_id i) {
  algorithm r = a;
  modify_ref_into(r, ch, i);
  return r;
}

void modify_ref_into(algorithm& r, const ref_changes& ch, ref_id i) {
  const reference old = get_ref(r, i);
  reference n = old;
  if (ch.name) n.ref_name = *ch.name;
  if (ch.period) n.ref_period = *ch.period;
  if (ch.comment) n.ref_comment = *ch.comment;
  if (ch.args) n.ref_args = *ch.args;
  if (ch.rep) n.ref_rep = *ch.rep;
  if (ch.abstract) n.ref_abstract = *ch.abstract;
  if (ch.additional) n.ref_additional = *ch.additional;
  if (ch.name && *ch.name != old.ref_name)
    if (const auto* found = r.idx.containers.find(Ref{i}))
      for (const container_list::entry& c : found->to_vector())
        r.idx.contents_of = std::move(r.idx.contents_of).update(c.first, [&](contents& x) {
          if (x.more().ref_names.empty()) return;
          const cond under = detail::cond_key(x.more().refs.get(i));
          auto& names = x.own().ref_names;
          names = std::move(names).remove(old.ref_name, under, i);
          names = std::move(names).add(n.ref_name, under, i);
        });
  r.refs = std::move(r.refs).modify(i, std::move(n));
}

namespace {
template <class F>
algorithm with_port(const algorithm& a, port_id p, F&& f) {
  port changed = get_port(a, p);
  f(changed);
  algorithm r = a;
  r.ports = std::move(r.ports).modify(p, std::move(changed));
  return r;
}
}  // namespace

algorithm set_port_additional(const algorithm& a, port_id p, const additional::attributes& attrs) {
  return with_port(a, p, [&](port& x) { x.port_additional = attrs; });
}
algorithm set_port_size(const algorithm& a, port_id p, const std::optional<expr>& size) {
  return with_port(a, p, [&](port& x) { x.port_size = size; });
}
algorithm set_port_order(const algorithm& a, port_id p, std::int64_t order) {
  const std::int32_t at = narrow_order(order);
  return with_port(a, p, [&](port& x) { x.port_order = at; });
}
algorithm set_ref_additional(const algorithm& a, ref_id i, const additional::attributes& attrs) {
  reference changed = get_ref(a, i);
  changed.ref_additional = attrs;
  algorithm r = a;
  r.refs = std::move(r.refs).modify(i, std::move(changed));
  return r;
}

algorithm change_port_order(const algorithm& a, direction dir, const graph_elt& c, port_id p) {
  algorithm r = a;
  change_port_order_into(r, dir, c, p);
  return r;
}

void change_port_order_into(algorithm& a, direction dir, const graph_elt& c, port_id p) {
  const std::int64_t from = get_port(a, p).port_order;
  for (port_id q : ports(a, c, dir)) {
    if (q == p) continue;
    const port& x = get_port(a, q);
    if (x.port_order < from) continue;
    port moved = x;
    moved.port_order = narrow_order(std::int64_t{x.port_order} + 1);
    a.ports = std::move(a.ports).modify(q, std::move(moved));
  }
}

// ---------------------------------------------------------------------------------------------------------
// Name lookup

def_id lookup_def(const algorithm& a, const qname& name) { return a.env.lookup(name); }

namespace {
ref_id lookup_ref_in(const algorithm& a, def_id d, const qname& def_name, const std::string& ref_name,
                     const std::optional<std::optional<cond>>& under) {
  std::optional<ref_id> found;
  (void)refs_named_until(a, Def{d}, ref_name, under, [&](ref_id r) {
    found = r;
    return true;
  });
  if (!found)
    throw Failure(sprintf_string("Reference %s not found in definition %s.", ref_name.c_str(),
                                 base_types::string_of_qname(def_name).c_str()));
  return *found;
}
}  // namespace

ref_id lookup_ref(const algorithm& a, const qname& def_name, const std::string& ref_name,
                  const std::optional<std::optional<cond>>& under) {
  return lookup_ref_in(a, lookup_def(a, def_name), def_name, ref_name, under);
}

port_id lookup_port(const algorithm& a, const qname& def_name, const std::optional<std::string>& ref_name,
                    const std::string& port_name, const std::optional<std::optional<cond>>& under) {
  return lookup_port(a, lookup_def(a, def_name), def_name, ref_name, port_name, under);
}

port_id lookup_port(const algorithm& a, def_id d, const qname& def_name, const std::optional<std::string>& ref_name,
                    const std::string& port_name, const std::optional<std::optional<cond>>& under) {
  if (!ref_name) {
    if (auto p = port_by_name(a, Def{d}, port_name)) return *p;
    throw Failure(sprintf_string("Port %s not found in definition %s.", port_name.c_str(),
                                 base_types::string_of_qname(def_name).c_str()));
  }
  const ref_id r = lookup_ref_in(a, d, def_name, *ref_name, under);
  if (auto p = port_by_name(a, Ref{r}, port_name)) return *p;
  throw Failure(sprintf_string("Port %s not found in reference %s of definition %s.", port_name.c_str(),
                               ref_name->c_str(), base_types::string_of_qname(def_name).c_str()));
}

namespace {
[[noreturn]] void def_not_found(const qname& name) {
  throw Failure(sprintf_string("Definition %s not found.", base_types::string_of_qname(name).c_str()));
}
}  // namespace

def_id load_lookup_def_into(algorithm& a, const std::vector<std::string>& dirs, const module_loader& loader,
                            const qname& name) {
  try {
    return lookup_def(a, name);
  } catch (const env::Unbound_name&) {
  } catch (const env::Unbound_module&) {
  }
  // The slow way, for its failures and module reading.
  auto [d, loaded] = load_lookup_def(std::move(a), dirs, loader, name);
  a = std::move(loaded);
  return d;
}

std::pair<def_id, algorithm> load_lookup_def(algorithm&& a, const std::vector<std::string>& dirs,
                                             const module_loader& loader, const qname& name) {
  // A name of the algorithm or of a module already read needs no copy; `a` is left alone on failure.
  std::optional<def_id> found;
  try {
    found = lookup_def(a, name);
  } catch (const env::Unbound_name&) {
    def_not_found(name);
  } catch (const env::Unbound_module&) {
  }
  if (found) return {*found, std::move(a)};
  return load_lookup_def(static_cast<const algorithm&>(a), dirs, loader, name);
}

std::pair<def_id, algorithm> load_lookup_def(const algorithm& a, const std::vector<std::string>& dirs,
                                             const module_loader& loader, const qname& name) {
  algorithm cur = a;
  for (;;) {
    try {
      const def_id d = lookup_def(cur, name);
      return {d, std::move(cur)};
    } catch (const env::Unbound_name&) {
      def_not_found(name);
    } catch (const env::Unbound_module& m) {
      const std::string module = m.module();
      const auto file = env::find_module_file(constant::algo_ext, module, dirs);
      if (!file) throw Failure(sprintf_string("Algorithm module %s not found.", module.c_str()));
      // The module's definitions are added as the algorithm's own, in an empty namespace; then they take the
      // module's name as qualifier and their bindings move under the module.
      const algo_env::module_bindings own = cur.env.current();
      cur.env = cur.env.clear_current();
      algorithm loaded = loader(dirs, *file, cur);
      loaded.env.current().for_each([&](const std::string& n, def_id d) {
        definition q = get_def(loaded, d);
        if (std::holds_alternative<base_types::simple_name>(q.def_name)) {
          q.def_name = base_types::qualified_name{module, n};
          loaded.defs = std::move(loaded.defs).modify(d, std::move(q));
        }
      });
      loaded.env = loaded.env.pack(module).set_current(own);
      cur = std::move(loaded);
    }
  }
}

}  // namespace cvn::algo_types
