#include "algo/algo_lang_types.h"

#include <type_traits>

#include "base/misc.h"

namespace cvn::algo_lang_types {
namespace {

template <class... Fs>
struct overloaded : Fs... {
  using Fs::operator()...;
};
template <class... Fs>
overloaded(Fs...) -> overloaded<Fs...>;

template <class T, class F>
std::string join(const std::vector<T>& items, F&& text) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += text(items[i]);
  }
  return out;
}

std::string binary(const algo_types::expr& l, const char* op, const algo_types::expr& r) {
  return "(" + dump_expr(l) + " " + op + " " + dump_expr(r) + ")";
}

std::string dump_attribute(const attribute& a) { return a.name + "=\"" + misc::escape_double_quotes(a.value) + "\""; }

std::string dump_dispatch(const port_dispatch& d) { return d.port_name + string_of_dispatch_sign(d.sign); }

std::string dump_seq_option(const seq_option& o) {
  return std::visit(overloaded{[](const seq_link& l) { return l.output_port + " -> " + l.input_port; },
                               [](const port_dispatch& d) { return dump_dispatch(d); }},
                    o);
}

std::string dump_option(const ref_option& o) {
  return std::visit(
      overloaded{[](const Abstract&) { return std::string("abstract"); },
                 [](const Period& p) { return "period " + std::to_string(p.value); },
                 [](const Parallel& p) {
                   std::string out = "parallel " + dump_expr(p.factor);
                   if (!p.dispatchs.empty()) out += " " + dump_port_dispatchs(p.dispatchs);
                   return out;
                 },
                 [](const Sequence& s) { return "sequence " + dump_expr(s.factor) + " " + dump_seq_options(s.options); },
                 [](const attribute& a) { return dump_attribute(a); }},
      o);
}

std::string dump_port_path(const port_path& p) { return p.ref_name ? *p.ref_name + "." + p.port_name : p.port_name; }

std::string dump_args(const std::vector<algo_types::expr>& args) {
  return args.empty() ? "" : "(" + join(args, dump_expr) + ")";
}

}  // namespace

const char* string_of_def_kind(def_kind kind) {
  switch (kind) {
    case def_kind::Function: return "function";
    case def_kind::Constant: return "constant";
    case def_kind::Delay: return "delay";
    case def_kind::Sensor: return "sensor";
    case def_kind::Actuator: return "actuator";
  }
  base_types::internal_error("string_of_def_kind");
}

const char* string_of_dispatch_sign(dispatch_sign sign) {
  switch (sign) {
    case dispatch_sign::Split: return "*";
    case dispatch_sign::Same: return "=";
    case dispatch_sign::Gather: return "/";
  }
  base_types::internal_error("string_of_dispatch_sign");
}

std::string dump_expr(const algo_types::expr& e) {
  using namespace algo_types;
  return std::visit(overloaded{[](const Int& i) { return std::to_string(i.value); },
                               [](const Ident& i) { return i.name; },
                               [](const Plus& b) { return binary(b.left, "+", b.right); },
                               [](const Minus& b) { return binary(b.left, "-", b.right); },
                               [](const Div& b) { return binary(b.left, "/", b.right); },
                               [](const Mult& b) { return binary(b.left, "*", b.right); },
                               [](const Neg& n) { return "(-" + dump_expr(n.operand) + ")"; },
                               [](const List& l) { return "{" + join(l.items, dump_expr) + "}"; },
                               [](const Bars& b) { return "|" + dump_expr(b.operand) + "|"; }},
                    desc_of(e));
}

std::string dump_port_decl(const port_decl& p) {
  std::string out = p.port_type;
  if (p.port_size) out += "[" + dump_expr(*p.port_size) + "]";
  out += " " + p.port_name;
  if (!p.port_attributes.empty()) out += " [" + join(p.port_attributes, dump_attribute) + "]";
  if (p.port_value) out += " = " + dump_expr(*p.port_value);
  return out;
}

std::string dump_port_dispatchs(const std::vector<port_dispatch>& ds) { return "(" + join(ds, dump_dispatch) + ")"; }

std::string dump_seq_options(const std::vector<seq_option>& os) { return "(" + join(os, dump_seq_option) + ")"; }

std::string dump_def_call(const def_call& c) { return base_types::string_of_qname(c.def_name) + dump_args(c.args); }

std::string dump_statement(const statement& s, const std::string& indent) {
  return std::visit(
      overloaded{
          [&](const Port_section& p) {
            return indent + (p.dir == algo_types::direction::In ? "in: " : "out: ") + join(p.ports, dump_port_decl) +
                   ";\n";
          },
          [&](const Ref_decl& r) {
            std::string out = indent + "let " + r.ref_name + " = " + base_types::string_of_qname(r.def_name) +
                              dump_args(r.args);
            if (!r.options.empty()) out += " [" + join(r.options, dump_option) + "]";
            return out + ";\n";
          },
          [&](const Data_link& l) {
            return indent + dump_port_path(l.source) + " -> " + join(l.destinations, dump_port_path) + ";\n";
          },
          [&](const Precedence& p) { return indent + p.before + " --> " + p.after + ";\n"; },
          [&](const Match& m) {
            std::string out = indent + "match " + m.port_name + " with\n";
            for (const match_case& c : m.cases) {
              out += indent + "| " + std::to_string(c.value) + " ->\n";
              for (const statement& inner : c.statements) out += dump_statement(inner, indent + "  ");
            }
            return out;
          }},
      s.desc);
}

std::string dump_def_decl(const def_decl& d) {
  std::string out = std::string(string_of_def_kind(d.kind)) + " " + d.def_name + "(" +
                    join(d.def_params, [](const std::string& p) { return p; }) + ") {\n";
  for (const port_decl& p : d.ports) out += "  " + dump_port_decl(p) + "\n";
  for (const statement& s : d.statements) out += dump_statement(s, "  ");
  return out + "}\n";
}

std::string dump_algo_decl(const algo_decl& a) {
  std::string out;
  for (const def_decl& d : a) out += dump_def_decl(d);
  return out;
}

}  // namespace cvn::algo_lang_types
