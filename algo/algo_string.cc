#include "algo/algo_string.h"

#include <algorithm>
#include <map>

#include "base/colors.h"
#include "base/misc.h"

namespace cvn::algo_string {

using namespace algo_types;
using misc::sprintf_string;

namespace {

std::string id_suffix(bool show, std::int64_t id) { return show ? sprintf_string(".[%lld]", static_cast<long long>(id)) : ""; }

template <class T, class F>
std::string join(const std::vector<T>& xs, const char* sep, F&& f) {
  std::string out;
  for (std::size_t i = 0; i < xs.size(); ++i) {
    if (i > 0) out += sep;
    out += f(xs[i]);
  }
  return out;
}

}  // namespace

std::string string_of_def(const algorithm& a, def_id d, bool show_id) {
  return base_types::string_of_qname(get_def(a, d).def_name) + id_suffix(show_id, d.value);
}

std::string string_of_ref(const algorithm& a, ref_id r, bool show_container, bool show_id) {
  std::string prefix;
  if (show_container)
    if (auto c = container(a, Ref{r}))
      if (const auto* d = std::get_if<Def>(&*c)) prefix = string_of_def(a, d->id) + ".";
  return prefix + get_ref(a, r).ref_name + id_suffix(show_id, r.value);
}

std::string string_of_port(const algorithm& a, port_id p, bool show_container, bool show_id) {
  std::string prefix;
  if (show_container)
    if (auto c = container(a, Port{p})) {
      if (const auto* d = std::get_if<Def>(&*c)) {
        prefix = string_of_def(a, d->id) + ".";
      } else if (const auto* r = std::get_if<Ref>(&*c)) {
        std::string def_name;
        if (auto rc = container(a, *r))
          if (const auto* rd = std::get_if<Def>(&*rc)) def_name = string_of_def(a, rd->id);
        prefix = def_name + "." + get_ref(a, r->id).ref_name + ".";
      }
    }
  return prefix + get_port(a, p).port_name + id_suffix(show_id, p.value);
}

std::string string_of_graph_elt(const algorithm& a, const graph_elt& e, bool show_container, bool show_id) {
  return std::visit(overloaded{
                        [&](const Port& p) { return "Port " + string_of_port(a, p.id, show_container, show_id); },
                        [&](const Def& d) { return "Def " + string_of_def(a, d.id, show_id); },
                        [&](const Ref& r) { return "Ref " + string_of_ref(a, r.id, show_container, show_id); },
                    },
                    e);
}

std::string string_of_cond(const algorithm& a, const cond& c) {
  return sprintf_string("(%s = %lld)", get_port(a, c.port).port_name.c_str(), static_cast<long long>(c.value));
}

std::string string_of_opt_cond(const algorithm& a, const std::optional<cond>& c) {
  return c ? string_of_cond(a, *c) : std::string();
}

std::string string_of_conds(const algorithm& a, const std::vector<cond>& cs) {
  return join(cs, ", ", [&](const cond& c) { return string_of_cond(a, c); });
}

std::string string_of_edge(const algorithm& a, const edge& l) {
  return std::visit(overloaded{
                        [&](const Data& d) { return "Data [" + string_of_opt_cond(a, d.condition) + "]"; },
                        [&](const Contain& c) { return "Contain [" + string_of_opt_cond(a, c.condition) + "]"; },
                        [](const Reference&) { return std::string("Reference"); },
                        [](const Copy&) { return std::string("Copy"); },
                        [](const Precedence&) { return std::string("Precedence"); },
                    },
                    l);
}

std::string string_of_definition_kind(definition_kind k) {
  switch (k) {
    case definition_kind::Function: return "Function";
    case definition_kind::Constant: return "Constant";
    case definition_kind::Delay: return "Delay";
    case definition_kind::Sensor: return "Sensor";
    case definition_kind::Actuator: return "Actuator";
    case definition_kind::Explode: return "Explode";
    case definition_kind::Implode: return "Implode";
    case definition_kind::Identity: return "Identity";
  }
  base_types::internal_error("unknown definition kind");
}

std::string string_of_direction(direction d) {
  switch (d) {
    case direction::In: return "in";
    case direction::Out: return "out";
  }
  base_types::internal_error("unknown direction");
}

namespace {

bool is_additive(const expr& e) {
  const expr_desc& d = desc_of(e);
  return std::holds_alternative<Plus>(d) || std::holds_alternative<Minus>(d);
}

std::string paren_if(bool p, const expr& e) {
  return p ? "(" + string_of_expr(e) + ")" : string_of_expr(e);
}

}  // namespace

std::string string_of_expr(const expr& e) {
  return std::visit(
      overloaded{
          [](const Int& i) { return std::to_string(i.value); },
          [](const Ident& i) { return i.name; },
          [](const Plus& p) { return string_of_expr(p.left) + " + " + string_of_expr(p.right); },
          [](const Minus& m) { return string_of_expr(m.left) + " - " + paren_if(is_additive(m.right), m.right); },
          [](const Div& d) {
            const expr_desc& r = desc_of(d.right);
            const bool right = is_additive(d.right) || std::holds_alternative<Mult>(r) || std::holds_alternative<Div>(r);
            return paren_if(is_additive(d.left), d.left) + " / " + paren_if(right, d.right);
          },
          [](const Mult& m) {
            const bool right = is_additive(m.right) || std::holds_alternative<Div>(desc_of(m.right));
            return paren_if(is_additive(m.left), m.left) + " * " + paren_if(right, m.right);
          },
          [](const Neg& n) {
            // "-3 + b" would read back as the sum of the literal -3 and b: a sum or difference written from
            // a digit on keeps its own parentheses under the minus sign.
            std::string operand = string_of_expr(n.operand);
            const bool starts_with_digit = !operand.empty() && operand[0] >= '0' && operand[0] <= '9';
            if (starts_with_digit && is_additive(n.operand)) operand = "(" + operand + ")";
            return "(-" + operand + ")";
          },
          [](const List& l) { return "{" + string_of_exprs(l.items) + "}"; },
          [](const Bars& b) { return "|" + string_of_expr(b.operand) + "|"; },
      },
      desc_of(e));
}

std::string string_of_exprs(const std::vector<expr>& es, const char* sep) {
  return join(es, sep, [](const expr& e) { return string_of_expr(e); });
}

std::string string_of_port_dispatch_kind(port_dispatch_kind k) {
  switch (k) {
    case port_dispatch_kind::Split: return "*";
    case port_dispatch_kind::Same: return "=";
    case port_dispatch_kind::Gather: return "/";
  }
  base_types::internal_error("unknown dispatch kind");
}

std::string string_of_port_dispatch(const algorithm& a, const std::pair<port_id, port_dispatch_kind>& d) {
  return "(" + get_port(a, d.first).port_name + ", " + string_of_port_dispatch_kind(d.second) + ")";
}

std::string string_of_seq_rep_opt(const algorithm& a, const seq_rep_opt& o) {
  return std::visit(overloaded{
                        [&](const Seq_link& l) {
                          return get_port(a, l.first).port_name + " -> " + get_port(a, l.second).port_name;
                        },
                        [&](const Seq_dispatch& d) {
                          return get_port(a, d.port).port_name + string_of_port_dispatch_kind(d.kind);
                        },
                    },
                    o);
}

std::string string_of_seq_rep_opts(const algorithm& a, const std::vector<seq_rep_opt>& os, bool parenthesise) {
  const std::string body = join(os, ", ", [&](const seq_rep_opt& o) { return string_of_seq_rep_opt(a, o); });
  return parenthesise ? "(" + body + ")" : body;
}

std::string string_of_repetition_kind(const algorithm& a, const repetition_kind& r) {
  return std::visit(
      overloaded{
          [&](const Parallel& p) {
            return "Parallel " + string_of_expr(p.factor) + " : [" +
                   join(p.dispatches, ", ", [&](const auto& d) { return string_of_port_dispatch(a, d); }) + "]";
          },
          [&](const Sequence& s) {
            return "Sequence " + string_of_expr(s.factor) + " : [" + string_of_seq_rep_opts(a, s.options, false) +
                   "]";
          },
      },
      r);
}

std::string string_of_problem(const algorithm& a, const checks::problem<graph_elt>& p) {
  return checks::string_of_problem([&](const graph_elt& e) { return string_of_graph_elt(a, e); }, p);
}

std::string string_of_problem(const Problem& p) { return p.text(); }

std::string string_of_check_result(const algorithm& a, const checks::check_result<graph_elt>& r) {
  return checks::string_of_check_result([&](const graph_elt& e) { return string_of_graph_elt(a, e); }, r);
}

// ---------------------------------------------------------------------------------------------------------
// Dumps

namespace {

std::string banner(const char* title, const char* rule) {
  return std::string("\n") + rule + title + rule;
}

}  // namespace

std::string dbg_of_def(const algorithm& a, def_id d) {
  const definition& r = get_def(a, d);
  std::string out;
  out += sprintf_string("def_id      = [%lld]\n", static_cast<long long>(d.value));
  out += "def_name    = " + base_types::string_of_qname(r.def_name) + "\n";
  out += "def_kind    = " + string_of_definition_kind(r.def_kind) + "\n";
  out += "def_params  = " + join(*r.def_params, ", ", [](const std::string& s) { return s; }) + "\n";
  out += "def_comment = " + r.def_comment + "\n";
  return out;
}

std::string dbg_of_ref(const algorithm& a, ref_id i) {
  const reference& r = get_ref(a, i);
  std::string out;
  out += sprintf_string("ref_id       = [%lld]\n", static_cast<long long>(i.value));
  out += "ref_name     = " + r.ref_name + "\n";
  out += "ref_comment  = " + r.ref_comment + "\n";
  out += "ref_args     = " + string_of_exprs(r.ref_args, ",") + "\n";
  out += "ref_rep      = " + (r.ref_rep ? string_of_repetition_kind(a, *r.ref_rep) : std::string()) + "\n";
  out += std::string("ref_abstract = ") + (r.ref_abstract ? "true" : "false") + "\n";
  return out;
}

std::string dbg_of_port(const algorithm& a, port_id p) {
  const port& r = get_port(a, p);
  std::string out;
  out += sprintf_string("port_id    = [%lld]\n", static_cast<long long>(p.value));
  out += "port_name  = " + r.port_name + "\n";
  out += "port_size  = " + (r.port_size ? string_of_expr(*r.port_size) : std::string("1")) + "\n";
  out += "port_dir   = " + string_of_direction(r.port_dir) + "\n";
  out += "port_type  = " + r.port_type + "\n";
  out += "port_order = " + std::to_string(r.port_order) + "\n";
  out += "port_expr  = " + (r.port_expr ? string_of_expr(*r.port_expr) : std::string()) + "\n";
  return out;
}

std::string dbg_of_defs(const algorithm& a) {
  std::string out = banner("====== ====== Definitions ====== ======\n", "====== ====== =========== ====== ======\n");
  for (def_id d : defs(a)) out += dbg_of_def(a, d);
  return out;
}

std::string dbg_of_refs(const algorithm& a) {
  std::string out = banner("====== ====== References ====== ======\n", "====== ====== ========== ====== ======\n");
  for (ref_id r : refs(a)) out += dbg_of_ref(a, r);
  return out;
}

std::string dbg_of_ports(const algorithm& a) {
  std::string out = banner("====== ====== Ports ====== ======\n", "====== ====== ===== ====== ======\n");
  for (port_id p : ports(a)) out += dbg_of_port(a, p);
  return out;
}

std::string dbg_of_graph_elts(const algorithm& a) {
  std::string out =
      banner("====== ====== Graph element ====== ======\n", "====== ====== ============= ====== ======\n");
  for (const graph_elt& e : get_graph_elts(a)) out += string_of_graph_elt(a, e) + "\n";
  return out;
}

std::string dbg_of_elt_deps(const algorithm& a, const graph_elt& e) {
  const std::string me = string_of_graph_elt(a, e);
  const auto lines = [&](const elt_edges& es) {
    std::string out;
    for (const auto& [o, l] : es) out += me + " --> " + string_of_edge(a, l) + " --> " + string_of_graph_elt(a, o) + "\n";
    return out;
  };
  std::string out = "\n======== ======== ========\n";
  out += "elt = " + me + "\n";
  out += "PRED : \n" + lines(get_preds(a, e)) + "\n";
  out += "SUCC : \n" + lines(get_succs(a, e)) + "\n";
  return out;
}

std::string dbg_of_deps(const algorithm& a) {
  std::string out = banner("====== ====== Graph element dependencies ====== ======\n",
                           "====== ====== ========================== ====== ======\n");
  for (const graph_elt& e : get_graph_elts(a)) out += dbg_of_elt_deps(a, e);
  return out;
}

std::string dbg_of_algo(const algorithm& a) {
  return "\n======== ======== Algorithm ========  ========\n" + dbg_of_defs(a) + dbg_of_refs(a) + dbg_of_ports(a) +
         dbg_of_graph_elts(a);
}

// ---------------------------------------------------------------------------------------------------------
// Dot drawing

namespace {

// The definitions of the algorithm itself are drawn as clusters with their ports and references; module
// definitions only as nodes, so that their insides do not swamp the drawing.
bool drawn_as_cluster(const algorithm& a, def_id d) {
  return std::holds_alternative<base_types::simple_name>(get_def(a, d).def_name);
}

const char* color_of_direction(direction d) { return d == direction::In ? colors::green : colors::red; }

const char* color_of_edge(const edge& l) {
  return std::visit(overloaded{
                        [](const Data&) { return colors::black; },
                        [](const Contain&) { return colors::grey; },
                        [](const Reference&) { return colors::blue; },
                        [](const Copy&) { return colors::orange; },
                        [](const Precedence&) { return colors::crimson; },
                    },
                    l);
}

std::string port_fields(const algorithm& a, ref_id r, direction dir) {
  const std::vector<port_id> ps = ports_by_order(a, Ref{r}, dir);
  return join(ps, " | ", [&](port_id p) {
    const port& x = get_port(a, p);
    const std::string size = x.port_size ? "[" + string_of_expr(*x.port_size) + "]" : std::string();
    return sprintf_string("<p%lld> %s%s ", static_cast<long long>(p.value), x.port_name.c_str(), size.c_str());
  });
}

std::string ref_node(const algorithm& a, ref_id r) {
  const std::string name = get_ref(a, r).ref_name + " : " + string_of_def(a, reference_def(a, r));
  return sprintf_string("r%lld [ shape=\"record\", label=\"", static_cast<long long>(r.value)) +
         sprintf_string("{ { %s } | <ref%lld> %s | { %s } }\"", port_fields(a, r, direction::In).c_str(),
                        static_cast<long long>(r.value), name.c_str(), port_fields(a, r, direction::Out).c_str()) +
         "];\n";
}

std::string def_node(const algorithm& a, def_id d) {
  return sprintf_string("f%lld [ label=\"%s\", style=\"filled\" ];\n", static_cast<long long>(d.value),
                        string_of_def(a, d).c_str());
}

// The node name of a drawn element; nothing for an element that is not drawn.
std::optional<std::string> node_name(const algorithm& a, const graph_elt& e) {
  return std::visit(
      overloaded{
          [&](const Def& d) -> std::optional<std::string> {
            return sprintf_string("f%lld", static_cast<long long>(d.id.value));
          },
          [&](const Ref& r) -> std::optional<std::string> {
            auto c = container(a, r);
            if (!c || !std::holds_alternative<Def>(*c) || !drawn_as_cluster(a, std::get<Def>(*c).id)) return std::nullopt;
            return sprintf_string("r%lld:ref%lld", static_cast<long long>(r.id.value), static_cast<long long>(r.id.value));
          },
          [&](const Port& p) -> std::optional<std::string> {
            auto c = container(a, p);
            if (!c) return std::nullopt;
            if (const auto* d = std::get_if<Def>(&*c)) {
              if (!drawn_as_cluster(a, d->id)) return std::nullopt;
              return sprintf_string("p%lld", static_cast<long long>(p.id.value));
            }
            const ref_id r = std::get<Ref>(*c).id;
            if (!node_name(a, Ref{r})) return std::nullopt;
            return sprintf_string("r%lld:p%lld", static_cast<long long>(r.value), static_cast<long long>(p.id.value));
          },
      },
      e);
}

}  // namespace

std::string graph_to_dot(const algorithm& a) {
  std::string out = "digraph G {\n  truecolor=true;\n  rankdir=LR;\n  ratio=auto;\n  margin=\"0.1,0.1\";\n";
  const std::vector<def_id> ds = defs(a);
  std::int64_t next_cluster = 0;
  for (def_id d : ds) next_cluster = std::max(next_cluster, d.value + 1);
  for (def_id d : ds) {
    if (!drawn_as_cluster(a, d)) {
      out += def_node(a, d);
      continue;
    }
    out += sprintf_string("subgraph cluster_%lld {\n  color=blue; label=\"\"; \n", static_cast<long long>(d.value));
    out += def_node(a, d);
    for (port_id p : ports(a, Def{d})) {
      const port& x = get_port(a, p);
      out += sprintf_string("p%lld [ label=\"%s\", color=\"%s\" ];\n", static_cast<long long>(p.value),
                            x.port_name.c_str(), color_of_direction(x.port_dir));
    }
    for (const auto& [c, rs] : refs_by_cond(a, d)) {
      if (c)
        out += sprintf_string(
            "subgraph cluster_%lld {\ncolor=lightblue; style=\"filled\"; fillcolor=\"#ffe50e5f\"; label=\"%s\";\n",
            static_cast<long long>(next_cluster++), string_of_cond(a, *c).c_str());
      for (ref_id r : rs) out += ref_node(a, r);
      if (c) out += "}\n";
    }
    out += "}\n";
  }
  iter_succ_algo_graph(a, [&](const graph_elt& s, const elt_edges& es) {
    const auto from = node_name(a, s);
    if (!from) return;
    for (const auto& [t, l] : es) {
      const auto to = node_name(a, t);
      if (!to) continue;
      const auto c = cond_of_edge(l);
      const std::string label = c ? ", label=\"" + string_of_cond(a, *c) + "\"" : std::string();
      out += sprintf_string("%s -> %s [ color=\"%s\" %s];\n", from->c_str(), to->c_str(), color_of_edge(l),
                            label.c_str());
    }
  });
  out += "}\n";
  return out;
}

void graph_to_dot_file(const std::string& file, const algorithm& a) { misc::write_file(file, graph_to_dot(a)); }

}  // namespace cvn::algo_string
