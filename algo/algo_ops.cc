#include "algo/algo_ops.h"

#include <set>

#include "algo/algo_string.h"
#include "base/misc.h"

namespace cvn::algo_ops {

using namespace algo_types;
using misc::sprintf_string;

namespace {

std::string def_name(const algorithm& a, def_id d) { return base_types::string_of_qname(get_def(a, d).def_name); }
const std::string& port_name(const algorithm& a, port_id p) { return get_port(a, p).port_name; }
const std::string& ref_name(const algorithm& a, ref_id r) { return get_ref(a, r).ref_name; }

// Converts a repetition against the ports of `holder` (the reference, or the definition whose ports the
// reference is about to copy). Names in messages: the definition `def_text` and the reference `ref_text`.
repetition_kind convert(const algorithm& a, const graph_elt& holder, const repetition_decl& rep,
                        const std::string& def_text, const std::string& ref_text, const graph_elt& subject) {
  const auto fail = [&](const std::string& message) { raise_problem(a, subject, message); };
  const auto input = [&](const std::string& name) {
    auto p = port_by_name_dir(a, holder, name, direction::In);
    if (!p) fail(sprintf_string("No input port %s in reference %s", name.c_str(), ref_text.c_str()));
    return *p;
  };
  return std::visit(
      overloaded{
          [&](const parallel_decl& par) -> repetition_kind {
            Parallel out{par.factor, {}};
            for (const auto& [name, kind] : par.dispatches) {
              auto p = port_by_name(a, holder, name);
              if (!p) fail(sprintf_string("No such port in definition %s: %s.", def_text.c_str(), name.c_str()));
              if (kind == port_dispatch_kind::Same && get_port(a, *p).port_dir == direction::Out)
                fail(sprintf_string("Port %s is an output port and cannot be dispatch with 'equal' strategy.",
                                    name.c_str()));
              out.dispatches.emplace_back(*p, kind);
            }
            return out;
          },
          [&](const sequence_decl& seq) -> repetition_kind {
            Sequence out{seq.factor, {}};
            for (const seq_opt_decl& o : seq.options) {
              if (const auto* l = std::get_if<seq_link_decl>(&o)) {
                auto p = port_by_name_dir(a, holder, l->out_port, direction::Out);
                if (!p) fail(sprintf_string("No out port %s in reference %s", l->out_port.c_str(), ref_text.c_str()));
                out.options.emplace_back(Seq_link{*p, input(l->in_port)});
              } else {
                const auto& d = std::get<seq_dispatch_decl>(o);
                out.options.emplace_back(Seq_dispatch{input(d.port), d.kind});
              }
            }
            return out;
          },
      },
      rep);
}

// Adds to `holder` a copy of the definition port `p` at p's order (shifting the others when asked), with
// its Reference edge to p. The copy shares p's name and type.
void copy_port_to_ref(algorithm& a, ref_id holder, port_id p, bool shift) {
  const port x = get_port(a, p);
  const port_id q = add_port_into(a, x.port_size, x.port_order, x.port_type, x.port_dir, x.port_name, x.port_expr,
                                  x.port_additional, Ref{holder});
  if (shift) change_port_order_into(a, x.port_dir, Ref{holder}, q);
  add_edge_into(a, Port{q}, Port{p}, Reference{});
}

// Removes the binding of d from the environment list that holds it.
algo_env unbind(const algorithm& a, def_id d) {
  const auto without = [&](const algo_env::module_bindings& b) {
    std::vector<algo_env::module_bindings::binding> kept;
    for (auto& x : b.to_vector())
      if (x.second != d) kept.push_back(std::move(x));
    return algo_env::module_bindings::of_list(kept);
  };
  const base_types::qname& n = get_def(a, d).def_name;
  if (std::holds_alternative<base_types::simple_name>(n)) return a.env.set_current(without(a.env.current()));
  const std::string& module = std::get<base_types::qualified_name>(n).module;
  const algo_env::module_bindings* mod = a.env.mods().find(module);
  if (mod == nullptr) return a.env;
  // A newer binding of the module shadows the old one.
  return a.env.set_current(without(*mod)).pack(module).set_current(a.env.current());
}

}  // namespace

std::pair<def_id, algorithm> add_def(const algorithm& a, const std::optional<std::string>& comment,
                                     const std::optional<std::vector<std::string>>& params, definition_kind kind,
                                     const std::string& name) {
  return add_def(algorithm(a), comment, params, kind, name);
}

std::pair<def_id, algorithm> add_def(algorithm&& a, const std::optional<std::string>& comment,
                                     const std::optional<std::vector<std::string>>& params, definition_kind kind,
                                     const std::string& name) {
  if (const def_id* existing = a.env.current().find(name))
    raise_problem(a, Def{*existing}, sprintf_string("A definition \"%s\" already exists.", name.c_str()));
  const def_id d = add_definition_into(a, comment, params, kind, name);
  return {d, std::move(a)};
}

algorithm add_port(const algorithm& a, const std::optional<expr>& size, const std::optional<std::int64_t>& position,
                   const std::string& type, direction dir, const std::string& name, const std::optional<expr>& value,
                   const std::optional<additional::attributes>& attrs, def_id d) {
  return add_port(algorithm(a), size, position, type, dir, name, value, attrs, d);
}

algorithm add_port(algorithm&& a, const std::optional<expr>& size, const std::optional<std::int64_t>& position,
                   const std::string& type, direction dir, const std::string& name, const std::optional<expr>& value,
                   const std::optional<additional::attributes>& attrs, def_id d) {
  const auto n = static_cast<std::int64_t>(port_count(a, Def{d}, dir));
  const std::int64_t order = position && *position >= 0 && *position < n ? *position : n;
  if (port_by_name(a, Def{d}, name))
    raise_problem(a, Def{d},
                  sprintf_string("A port \"%s\" already exists in definition \"%s\".", name.c_str(),
                                 def_name(a, d).c_str()));
  const std::vector<ref_id> holders = referencers(a, d);
  const port_id p = add_port_into(a, size, order, type, dir, name, value, attrs, Def{d});
  const bool shift = order < n;
  if (shift) change_port_order_into(a, dir, Def{d}, p);
  for (ref_id holder : holders) copy_port_to_ref(a, holder, p, shift);
  return std::move(a);
}

namespace {

// Where each element ends when elements are inserted one after the other at the given positions (each
// within [0, count so far]): going from the last, an element takes the free slot that has as many free
// slots before it as its position, since every later element took its own slot already. A Fenwick tree
// of free slots finds it in O(log n).
std::vector<std::int64_t> final_slots(const std::vector<std::int64_t>& positions) {
  const std::size_t n = positions.size();
  std::vector<std::int64_t> tree(n + 1, 0);  // free slots, 1-based
  for (std::size_t i = 1; i <= n; ++i) {
    tree[i] += 1;
    if (const std::size_t j = i + (i & -i); j <= n) tree[j] += tree[i];
  }
  std::size_t top = 1;
  while (top * 2 <= n) top *= 2;
  std::vector<std::int64_t> out(n);
  for (std::size_t k = n; k-- > 0;) {
    // The (position + 1)-th free slot.
    std::size_t at = 0;
    std::int64_t left = positions[k] + 1;
    for (std::size_t step = top; step > 0; step /= 2)
      if (at + step <= n && tree[at + step] < left) {
        at += step;
        left -= tree[at];
      }
    out[k] = static_cast<std::int64_t>(at);  // 0-based: slot at + 1 in the tree
    for (std::size_t i = at + 1; i <= n; i += i & -i) tree[i] -= 1;
  }
  return out;
}

}  // namespace

algorithm add_ports(algorithm&& a, def_id d, const std::vector<new_port>& ports) {
  const auto one = [&](algorithm&& b, const new_port& p) {
    return add_port(std::move(b), p.size, p.position, p.type, p.dir, p.name, p.value, p.attrs, d);
  };
  // The ports before the first that add_port refuses go in together; that one then fails as it would.
  std::size_t good = 0;
  {
    std::set<std::string> names;
    while (good < ports.size() && !port_by_name(a, Def{d}, ports[good].name) &&
           names.insert(ports[good].name).second)
      ++good;
  }
  if (good < 2 || !referencers(a, d).empty()) {
    // Few ports, or ports also copied to references: one at a time.
    for (const new_port& p : ports) a = one(std::move(a), p);
    return std::move(a);
  }
  // Per direction, the ports there are, as if appended in their order, then the new ones at their clamped
  // positions.
  std::vector<std::int64_t> final_order(good);
  for (const direction dir : {direction::In, direction::Out}) {
    const std::vector<port_id> old = ports_by_order(a, Def{d}, dir);
    std::vector<std::int64_t> positions;
    for (std::size_t k = 0; k < old.size(); ++k) positions.push_back(static_cast<std::int64_t>(k));
    std::vector<std::size_t> mine;  // indexes into `ports`
    for (std::size_t k = 0; k < good; ++k) {
      if (ports[k].dir != dir) continue;
      const auto n = static_cast<std::int64_t>(positions.size());
      const std::optional<std::int64_t>& at = ports[k].position;
      positions.push_back(at && *at >= 0 && *at < n ? *at : n);
      mine.push_back(k);
    }
    if (mine.empty()) continue;
    const std::vector<std::int64_t> slots = final_slots(positions);
    for (std::size_t k = 0; k < old.size(); ++k) {
      const port& x = get_port(a, old[k]);
      if (x.port_order == slots[k]) continue;
      port moved = x;
      moved.port_order = static_cast<std::int32_t>(slots[k]);
      a.ports = std::move(a.ports).modify(old[k], std::move(moved));
    }
    for (std::size_t j = 0; j < mine.size(); ++j) final_order[mine[j]] = slots[old.size() + j];
  }
  // Made in the given order, so that they take the identifiers they would one at a time.
  for (std::size_t k = 0; k < good; ++k) {
    const new_port& p = ports[k];
    (void)add_port_into(a, p.size, final_order[k], p.type, p.dir, p.name, p.value, p.attrs, Def{d});
  }
  for (std::size_t k = good; k < ports.size(); ++k) a = one(std::move(a), ports[k]);
  return std::move(a);
}

std::pair<ref_id, algorithm> add_ref(const algorithm& a, def_id container, const std::optional<std::string>& comment,
                                     const std::optional<std::vector<expr>>& args,
                                     const std::optional<repetition_decl>& rep,
                                     const std::optional<std::int64_t>& period, const std::optional<cond>& condition,
                                     def_id instantiated, bool abstract,
                                     const std::optional<additional::attributes>& attrs, const std::string& name) {
  return add_ref(algorithm(a), container, comment, args, rep, period, condition, instantiated, abstract, attrs, name);
}

std::pair<ref_id, algorithm> add_ref(algorithm&& a, def_id container, const std::optional<std::string>& comment,
                                     const std::optional<std::vector<expr>>& args,
                                     const std::optional<repetition_decl>& rep,
                                     const std::optional<std::int64_t>& period, const std::optional<cond>& condition,
                                     def_id instantiated, bool abstract,
                                     const std::optional<additional::attributes>& attrs, const std::string& name) {
  const ref_id i = add_ref_into(a, container, comment, args, rep, period, condition, instantiated, abstract, attrs, name);
  return {i, std::move(a)};
}

ref_id add_ref_into(algorithm& a, def_id container, const std::optional<std::string>& comment,
                    const std::optional<std::vector<expr>>& args, const std::optional<repetition_decl>& rep,
                    const std::optional<std::int64_t>& period, const std::optional<cond>& condition,
                    def_id instantiated, bool abstract, const std::optional<additional::attributes>& attrs,
                    const std::string& name) {
  const graph_elt holder = Def{container};
  (void)get_def(a, container);
  (void)get_def(a, instantiated);
  if (condition) {
    const auto owner = algo_types::container(a, Port{condition->port});
    if (!owner || *owner != holder || get_port(a, condition->port).port_dir != direction::In)
      raise_problem(a, holder,
                    sprintf_string("Definition %s has no input port %s, so condition %s cannot be used in this "
                                   "definition.",
                                   def_name(a, container).c_str(), port_name(a, condition->port).c_str(),
                                   algo_string::string_of_cond(a, *condition).c_str()));
    if (has_unconditioned_contents(a, container))
      raise_problem(a, holder, "Unconditioned references or links exist in definition.");
  } else if (is_conditioned_def(a, container)) {
    raise_problem(a, holder, "Conditioned references or links exist in definition.");
  }
  const bool taken = has_ref_named(a, holder, name, std::make_optional(condition));
  if (taken)
    raise_problem(a, holder,
                  sprintf_string("A reference named %s already exist in definition %s%s.", name.c_str(),
                                 def_name(a, container).c_str(), condition ? " with the same condition" : ""));
  // A definition that contains itself has no finite expansion and no place in the dependency order, so
  // the printer would lose it: refuse it here.
  if (instantiated == container)
    raise_problem(a, holder, sprintf_string("Definition %s cannot contain a reference to itself.",
                                            def_name(a, container).c_str()));
  // The reference's ports are copies of the definition's, so the repetition is checked against those
  // before anything is built; the reference does not exist yet, so the containing definition is named.
  if (rep) (void)convert(a, Def{instantiated}, *rep, def_name(a, instantiated), name, holder);

  const ref_id i = add_reference_into(a, comment, args, std::nullopt, period, instantiated, abstract, attrs, name);
  add_edge_into(a, holder, Ref{i}, Contain{condition});
  copy_def_ports_into(a, i, instantiated);
  if (rep) {
    ref_changes ch;
    ch.rep = convert(a, Ref{i}, *rep, def_name(a, instantiated), name, Ref{i});
    modify_ref_into(a, ch, i);
  }
  return i;
}

void check_can_add_data_edge(const algorithm& a, const std::optional<cond>& condition, port_id s, port_id d) {
  const graph_elt os = port_container(a, s);
  const graph_elt od = port_container(a, d);
  const port& ps = get_port(a, s);
  const port& pd = get_port(a, d);
  const auto* rs = std::get_if<Ref>(&os);
  const auto* rd = std::get_if<Ref>(&od);
  if (rs != nullptr && rd != nullptr && ref_reaches(a, rd->id, rs->id)) {
    const std::string why = sprintf_string("The reference %s precede the reference %s.", ref_name(a, rd->id).c_str(),
                                           ref_name(a, rs->id).c_str());
    raise_problem(a, Port{s},
                  sprintf_string("Port %s cannot be linked to port %s. %s", ps.port_name.c_str(),
                                 pd.port_name.c_str(), why.c_str()));
  }
  if (ps.port_type != pd.port_type)
    raise_problem(a, Port{s},
                  sprintf_string("Port %s of type %s cannot be linked to port %s of type %s.", ps.port_name.c_str(),
                                 ps.port_type.c_str(), pd.port_name.c_str(), pd.port_type.c_str()));
  // The four shapes, each within one definition: its input to an inner reference, its input to its own
  // output, between two of its references, from an inner reference to its output.
  const auto def_of = [&](const graph_elt& owner) -> std::optional<graph_elt> {
    if (std::holds_alternative<Def>(owner)) return owner;
    return algo_types::container(a, owner);
  };
  const bool same_def = def_of(os) == def_of(od);
  const bool s_def = std::holds_alternative<Def>(os);
  const bool d_def = std::holds_alternative<Def>(od);
  const bool s_in = ps.port_dir == direction::In;
  const bool d_in = pd.port_dir == direction::In;
  const bool allowed = same_def && ((s_def && s_in && !d_def && d_in) || (s_def && s_in && d_def && !d_in) ||
                                    (!s_def && !s_in && !d_def && d_in) || (!s_def && !s_in && d_def && !d_in));
  if (!allowed)
    raise_problem(a, Port{s},
                  sprintf_string("%s port %s cannot send data to %s port %s.",
                                 misc::capitalize(algo_string::string_of_direction(ps.port_dir)).c_str(),
                                 ps.port_name.c_str(), algo_string::string_of_direction(pd.port_dir).c_str(),
                                 pd.port_name.c_str()));
  if (const auto* in = a.idx.data_in.find(d))
    if (const auto clash = in->newest_clash(condition)) {
      const auto& [p, c] = *clash;
      const std::string existing =
          c ? "an edge conditioned by " + algo_string::string_of_cond(a, *c) : std::string("an unconditioned edge");
      raise_problem(a, Port{d},
                    sprintf_string("Port %s is already the destination of %s from port %s.", pd.port_name.c_str(),
                                   existing.c_str(), port_name(a, p).c_str()));
    }
}

algorithm add_data_edge(const algorithm& a, const std::optional<cond>& condition, port_id s, port_id d) {
  return add_data_edge(algorithm(a), condition, s, d);
}

algorithm add_data_edge(algorithm&& a, const std::optional<cond>& condition, port_id s, port_id d) {
  add_data_edge_into(a, condition, s, d);
  return std::move(a);
}

void add_data_edge_into(algorithm& a, const std::optional<cond>& condition, port_id s, port_id d) {
  check_can_add_data_edge(a, condition, s, d);
  add_edge_into(a, Port{s}, Port{d}, Data{condition});
}

void check_can_add_precedence_edge(const algorithm& a, ref_id first, ref_id second) {
  if (ref_reaches(a, second, first))
    raise_problem(a, Ref{first},
                  sprintf_string("Reference %s cannot be in precedence with the reference %s.",
                                 ref_name(a, second).c_str(), ref_name(a, first).c_str()));
}

algorithm add_precedence_edge(const algorithm& a, ref_id first, ref_id second) {
  return add_precedence_edge(algorithm(a), first, second);
}

algorithm add_precedence_edge(algorithm&& a, ref_id first, ref_id second) {
  check_can_add_precedence_edge(a, first, second);
  add_edge_into(a, Ref{first}, Ref{second}, Precedence{});
  return std::move(a);
}

algorithm modify_def(const algorithm& a, const std::optional<std::string>& new_name,
                     const std::optional<std::vector<std::string>>& new_params, def_id d) {
  if (new_name)
    if (const def_id* other = a.env.current().find(*new_name); other != nullptr && *other != d)
      raise_problem(a, Def{d}, sprintf_string("Another definition \"%s\" already exists.", new_name->c_str()));
  return algo_types::modify_def(a, new_name, new_params, d);
}

repetition_kind convert_repetition(const algorithm& a, ref_id r, const repetition_decl& rep) {
  return convert(a, Ref{r}, rep, def_name(a, reference_def(a, r)), ref_name(a, r), Ref{r});
}

algorithm modify_ref(const algorithm& a, const ref_update& u, ref_id r) {
  if (u.name)
    if (const auto* cs = a.idx.containers.find(Ref{r}))
      for (const auto& [c, cd] : cs->to_vector()) {
        bool taken = false;
        for (ref_id other : refs_by_name(a, c, *u.name, std::make_optional(cd)))
          if (other != r) taken = true;
        if (taken) raise_problem(a, Ref{r}, sprintf_string("Another reference \"%s\" already exists.", u.name->c_str()));
      }
  ref_changes ch{u.name, u.period, u.comment, u.args, std::nullopt, u.abstract, u.additional};
  if (u.rep) ch.rep = convert_repetition(a, r, *u.rep);
  return algo_types::modify_ref(a, ch, r);
}

algorithm remove_port(const algorithm& a, port_id p) {
  algorithm r = a;
  for (const graph_elt& copy : retrieve_pred(a, Port{p}, is_reference)) r = remove(r, copy);
  return remove(r, Port{p});
}

algorithm remove_ref(const algorithm& a, ref_id i) {
  algorithm r = a;
  for (port_id p : ports(a, Ref{i})) r = remove(r, Port{p});
  return remove(r, Ref{i});
}

algorithm remove_def(const algorithm& a, def_id d) {
  algorithm r = a;
  // A removed definition must not stay reachable by its name.
  r.env = unbind(a, d);
  for (ref_id i : refs_under_def(a, d)) r = remove_ref(r, i);
  for (port_id p : ports(a, Def{d})) r = remove(r, Port{p});
  for (ref_id i : referencers(a, d)) r = remove_ref(r, i);
  return remove(r, Def{d});
}

algorithm remove_data_edge(const algorithm& a, port_id s, port_id d) { return remove_edge(a, Port{s}, Port{d}, is_data); }

algorithm remove_precedence_edge(const algorithm& a, ref_id first, ref_id second) {
  return remove_edge(a, Ref{first}, Ref{second}, is_precedence);
}

}  // namespace cvn::algo_ops
