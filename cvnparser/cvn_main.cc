#include "cvnparser/cvn_main.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <type_traits>
#include <unordered_map>
#include <iostream>
#include <optional>

#include "algo/algo_io.h"
#include "algo/algo_ops.h"
#include "algo/algo_string.h"
#include "algo/algo_lang.h"
#include "base/base_types.h"
#include "base/constant.h"
#include "base/lexer.h"
#include "base/loc.h"
#include "base/misc.h"
#include "base/pipe.h"

namespace cvn::cvn_main {
namespace {

template <class... Ts>
struct overloaded : Ts... {
  using Ts::operator()...;
};

std::string string_of_cvn_name(const cvn_types::cvn_name& n) {
  if (const auto* lib = std::get_if<cvn_types::Lib_name>(&n)) return lib->lib.str() + "." + lib->name.str();
  return std::get<cvn_types::Name>(n).name.str();
}

}  // namespace

// ---- Name fixing

std::string fix_name(const std::string& prefix, const std::string& name) {
  return lexer::is_keyword(name) ? prefix + name : name;
}

std::string fix_lower_prefix(const std::string& prefix, const std::string& name) {
  // Lowered in place, not copied again: every reference and port name of the file passes here.
  std::string out = fix_name(prefix, name);
  for (char& c : out) c = misc::latin1_lower(c);
  return out;
}

cvn_types::cvn_name fix_elt_name(const std::string& prefix, const cvn_types::cvn_name& name) {
  if (const auto* lib = std::get_if<cvn_types::Lib_name>(&name))
    return cvn_types::Lib_name{misc::capitalize(lib->lib.view()), fix_lower_prefix(prefix, lib->name.str())};
  return cvn_types::Name{fix_lower_prefix(prefix, std::get<cvn_types::Name>(name).name.str())};
}

namespace {

// The descriptor with its names fixed, or nothing when no name in it changes. Few names change: a node
// whose names all stay is then shared rather than copied, so that the model does not hold a second copy of
// every expression of the syntax tree.
std::optional<algo_types::expr_desc> fixed_desc(const algo_types::expr_desc& d) {
  using namespace algo_types;
  // The operand fixed, and whether that changed it.
  const auto fix = [](const expr& x, bool& changed) {
    expr y = fix_expr_names(x);
    changed = changed || y.node() != x.node();
    return y;
  };
  return std::visit(
      [&](const auto& n) -> std::optional<expr_desc> {
        using T = std::decay_t<decltype(n)>;
        bool changed = false;
        if constexpr (std::is_same_v<T, Int>) {
          return std::nullopt;
        } else if constexpr (std::is_same_v<T, Ident>) {
          std::string name = fix_param_name(n.name);
          if (name == n.name) return std::nullopt;
          return Ident{std::move(name)};
        } else if constexpr (std::is_same_v<T, Neg> || std::is_same_v<T, Bars>) {
          T out{fix(n.operand, changed)};
          if (!changed) return std::nullopt;
          return out;
        } else if constexpr (std::is_same_v<T, List>) {
          List out;
          out.items.reserve(n.items.size());
          for (const expr& item : n.items) out.items.push_back(fix(item, changed));
          if (!changed) return std::nullopt;
          return out;
        } else {
          T out{fix(n.left, changed), fix(n.right, changed)};
          if (!changed) return std::nullopt;
          return out;
        }
      },
      d);
}

}  // namespace

algo_types::expr fix_expr_names(const algo_types::expr& e) {
  std::optional<algo_types::expr_desc> d = fixed_desc(algo_types::desc_of(e));
  return d ? algo_types::make_expr(e.where(), std::move(*d)) : e;
}

algo_types::expr_desc fix_expr_desc_names(const algo_types::expr_desc& d) {
  std::optional<algo_types::expr_desc> fixed = fixed_desc(d);
  return fixed ? std::move(*fixed) : d;
}

std::string fix_port_name(const std::string& name) { return fix_lower_prefix("p_", name); }
std::string fix_ref_name(const std::string& name) { return fix_lower_prefix("r_", name); }
cvn_types::cvn_name fix_def_name(const cvn_types::cvn_name& name) { return fix_elt_name("d_", name); }
std::string fix_def_name(const std::string& name) { return fix_lower_prefix("d_", name); }
std::string fix_opr_type_name(const std::string& name) { return fix_lower_prefix("ot_", name); }
std::string fix_opr_name(const std::string& name) { return fix_lower_prefix("o_", name); }
std::string fix_med_type_name(const std::string& name) { return fix_lower_prefix("mt_", name); }
std::string fix_med_name(const std::string& name) { return fix_lower_prefix("m_", name); }
cvn_types::cvn_name fix_qopr_type_name(const cvn_types::cvn_name& name) { return fix_elt_name("ot_", name); }
cvn_types::cvn_name fix_qopr_name(const cvn_types::cvn_name& name) { return fix_elt_name("o_", name); }
cvn_types::cvn_name fix_qmed_type_name(const cvn_types::cvn_name& name) { return fix_elt_name("mt_", name); }
cvn_types::cvn_name fix_qmed_name(const cvn_types::cvn_name& name) { return fix_elt_name("m_", name); }
std::string fix_param_name(const std::string& name) { return fix_lower_prefix("par", name); }

// ---- Algorithm translation

namespace {

using algo_types::algorithm;

algo_types::definition_kind kind_of_cvn(cvn_types::cvn_def_kind k) {
  switch (k) {
    case cvn_types::cvn_def_kind::Algorithm: return algo_types::definition_kind::Function;
    case cvn_types::cvn_def_kind::Constant: return algo_types::definition_kind::Constant;
    case cvn_types::cvn_def_kind::Memory: return algo_types::definition_kind::Delay;
    case cvn_types::cvn_def_kind::Sensor: return algo_types::definition_kind::Sensor;
    case cvn_types::cvn_def_kind::Actuator: return algo_types::definition_kind::Actuator;
  }
  base_types::internal_error("unknown definition kind");
}

// The name of the definition that a reference instantiates: lower-cased before fixing, so that it finds
// the definition declared under the fixed name.
base_types::qname instantiated_name(const cvn_types::cvn_name& n) {
  if (const auto* lib = std::get_if<cvn_types::Lib_name>(&n))
    return base_types::qualified_name{misc::capitalize(lib->lib.view()), fix_def_name(misc::lowercase(lib->name.view()))};
  return base_types::simple_name{fix_def_name(misc::lowercase(std::get<cvn_types::Name>(n).name.view()))};
}

[[noreturn]] void no_input_port(const std::string& variable) {
  throw Failure(misc::sprintf_string("No input port %s in current definion", variable.c_str()));
}

// The condition variable as an input port of the definition, or nothing.
std::optional<algo_types::port_id> condition_port(const algorithm& a, algo_types::def_id d, const std::string& var) {
  return algo_types::port_by_name_dir(a, algo_types::Def{d}, var, algo_types::direction::In);
}

const std::string& def_of_end(const data_end& end) {
  return std::visit([](const auto& p) -> const std::string& { return p.def; }, end);
}

// The definitions that the ends of data edges name, each looked up once: the two ends of an edge, and the
// condition of a conditioned one, name the same definition.
class end_defs {
 public:
  explicit end_defs(const algorithm& a) : a_(a) {}
  /// The name outlives this.
  algo_types::def_id operator()(const std::string& name) {
    if (last_name_ == nullptr || *last_name_ != name) {
      last_ = algo_types::lookup_def(a_, base_types::simple_name{name});
      last_name_ = &name;
    }
    return last_;
  }

 private:
  const algorithm& a_;
  const std::string* last_name_ = nullptr;
  algo_types::def_id last_;
};

algo_types::port_id find_end(const algorithm& a, end_defs& defs, const data_end& end,
                             const std::optional<std::optional<algo_types::cond>>& under) {
  return std::visit(overloaded{
                        [&](const Def_port& p) {
                          return algo_types::lookup_port(a, defs(p.def), base_types::simple_name{p.def},
                                                         std::nullopt, p.port);
                        },
                        [&](const Ref_port& p) {
                          if (!under)  // the condition names no port: no reference can be under it
                            throw Failure(misc::sprintf_string("Reference %s not found in definition %s.",
                                                               p.ref.c_str(), p.def.c_str()));
                          return algo_types::lookup_port(a, defs(p.def), base_types::simple_name{p.def}, p.ref,
                                                         p.port, *under);
                        },
                    },
                    end);
}

}  // namespace

port_decl translate_def_port(const cvn_types::cvn_port& port) {
  port_decl p;
  p.name = fix_port_name(port.cp_name.str());
  if (port.cp_dim) p.size = fix_expr_names(*port.cp_dim);
  p.dir = port.cp_dir;
  p.type = port.cp_type.str();
  p.position = port.cp_rank;
  return p;
}

action translate_ref(const std::vector<std::string>& incl, const std::string& def,
                     const std::optional<cond_decl>& condition, const cvn_types::cvn_ref& ref) {
  // Everything that does not depend on the model is made now, so that the action holds no part of the
  // syntax tree (which may be gone, or read on another thread, when the action runs); the lookups and the
  // edit wait for the action's turn.
  std::optional<algo_types::repetition_decl> rep;
  if (ref.cr_repeat) {
    rep = std::visit(overloaded{
                         [](const cvn_types::Parallel& par) -> algo_types::repetition_decl {
                           return algo_types::parallel_decl{fix_expr_names(par.factor), {}};
                         },
                         [](const cvn_types::Sequence& seq) -> algo_types::repetition_decl {
                           // A link written a <- b feeds the output b back to the input a.
                           algo_types::sequence_decl out{fix_expr_names(seq.factor), {}};
                           out.options.reserve(seq.links.size());
                           for (const auto& l : seq.links)
                             out.options.emplace_back(
                                 algo_types::seq_link_decl{fix_port_name(l.right), fix_port_name(l.left)});
                           return out;
                         },
                     },
                     *ref.cr_repeat);
  }
  std::optional<std::vector<algo_types::expr>> args(std::in_place);
  args->reserve(ref.cr_params.size());
  for (const auto& e : ref.cr_params) args->push_back(fix_expr_names(e));
  return Deferred_action{[&incl, def, condition, name = instantiated_name(ref.cr_def), args = std::move(args),
                          rep = std::move(rep), rank = ref.cr_rank, flag = ref.cr_flag,
                          ref_name = fix_ref_name(ref.cr_name.str())](algorithm& a) {
    const algo_types::def_id container = algo_types::lookup_def(a, base_types::simple_name{def});
    // Only a module-qualified name can need a module read: a plain one is not given a loader to build.
    static const algo_types::module_loader no_loader;
    const bool qualified = std::holds_alternative<base_types::qualified_name>(name);
    const algo_types::def_id instantiated =
        algo_types::load_lookup_def_into(a, incl, qualified ? algo_lang::module_loader() : no_loader, name);
    std::optional<algo_types::cond> c;
    if (condition) {
      const auto p = condition_port(a, container, condition->first);
      if (!p) no_input_port(condition->first);
      c = algo_types::cond{*p, condition->second};
    }
    (void)algo_ops::add_ref_into(a, container, std::nullopt, args, rep, rank, c, instantiated, flag, std::nullopt,
                                 ref_name);
  }};
}

action translate_edge(const std::string& def, const std::optional<cond_decl>& condition,
                      const cvn_types::cvn_dep& dep) {
  const auto end = [&](const cvn_types::cvn_endpoint& e) -> data_end {
    if (const auto* p = std::get_if<cvn_types::Ref_port>(&e))
      return Ref_port{def, fix_ref_name(p->ref.str()), fix_port_name(p->port.str())};
    return Def_port{def, fix_port_name(std::get<cvn_types::Def_port>(e).port.str())};
  };
  return Data_action{end(dep.source), end(dep.destination), condition};
}

namespace {

// Turns the algorithm definitions into actions a piece at a time, in the order of the file: a definition's
// head (with its ports), then each body's head, references and dependences. A reader that hands the
// definitions over while it reads (cvn_types::cvn_def_piece) and a whole tree give the same actions.
class def_translator {
 public:
  def_translator(const std::vector<std::string>& incl, const action_sink& out) : incl_(incl), out_(out) {}
  /// Within the definition `def` (its name fixed), whose head was translated before.
  def_translator(const std::vector<std::string>& incl, const action_sink& out, std::string def)
      : incl_(incl), out_(out), def_(std::move(def)) {}

  void head(const cvn_types::cvn_def& def) {
    def_decl d;
    d.name = std::get<cvn_types::Name>(fix_def_name(def.cd_name)).name.str();
    d.kind = kind_of_cvn(def.cd_kind);
    d.params.reserve(def.cd_params.size());
    for (const auto& p : def.cd_params) d.params.push_back(fix_param_name(p));
    d.description = def.cd_description;
    def_ = d.name;
    out_(Def_action{std::move(d)});
    first_variable_.reset();
    if (def.cd_ports.empty()) return;
    Port_action ports{def_, {}};
    ports.ports.reserve(def.cd_ports.size());
    for (const auto& p : def.cd_ports) ports.ports.push_back(translate_def_port(p));
    out_(std::move(ports));
  }
  void body(const std::optional<cvn_types::cvn_condition>& c) {
    condition_.reset();
    if (!c) return;
    condition_ = cond_decl{fix_port_name(c->variable), c->value};
    if (!first_variable_)
      first_variable_ = c->variable;
    else if (*first_variable_ != c->variable)
      two_variables_ = true;
  }
  void ref(const cvn_types::cvn_ref& r) { out_(translate_ref(incl_, def_, condition_, r)); }
  void dep(const cvn_types::cvn_dep& d) { out_(translate_edge(def_, condition_, d)); }
  void piece(const cvn_types::cvn_def_piece& p) {
    std::visit(overloaded{
                   [&](const cvn_types::cvn_def& d) { head(d); },
                   [&](const cvn_types::cvn_body_head& h) { body(h.condition); },
                   [&](const cvn_types::cvn_ref& r) { ref(r); },
                   [&](const cvn_types::cvn_dep& d) { dep(d); },
               },
               p);
  }

  /// Whether the bodies of some definition were conditioned by two different variables. The printer may
  /// then refuse the definition (one match tests one port), and must do so before anything is written.
  [[nodiscard]] bool two_variables() const { return two_variables_; }

 private:
  const std::vector<std::string>& incl_;
  const action_sink& out_;
  std::string def_;                             // the definition being translated, its name fixed
  std::optional<cond_decl> condition_;          // of the body being translated
  std::optional<std::string> first_variable_;   // the first condition variable of the definition, as written
  bool two_variables_ = false;
};

// The actions of a definition of a whole tree. `done` is handed each list of the tree once the actions
// built from it have been given to `out`: the default action releases the list there.
template <class Def, class Done>
bool def_actions(const std::vector<std::string>& incl, Def& def, const action_sink& out, const Done& done) {
  def_translator t(incl, out);
  t.head(def);
  done(def.cd_ports);
  for (auto& b : def.cd_body) {
    t.body(b.cb_condition);
    for (const auto& r : b.cb_refs) t.ref(r);
    done(b.cb_refs);
    for (const auto& d : b.cb_deps) t.dep(d);
    done(b.cb_deps);
  }
  return t.two_variables();
}

constexpr auto keep_list = [](const auto&) {};

}  // namespace

void translate_def_cond(const std::vector<std::string>& incl, const std::string& def, const cvn_types::cvn_body& body,
                        const action_sink& out) {
  def_translator t(incl, out, def);
  t.body(body.cb_condition);
  for (const auto& r : body.cb_refs) t.ref(r);
  for (const auto& d : body.cb_deps) t.dep(d);
}

void translate_def(const std::vector<std::string>& incl, const cvn_types::cvn_def& def, const action_sink& out) {
  (void)def_actions(incl, def, out, keep_list);
}

void translate_def(const std::vector<std::string>& incl, const cvn_types::cvn_def& def, std::vector<action>& out) {
  translate_def(incl, def, [&out](action&& x) { out.push_back(std::move(x)); });
}

std::vector<action> translate_defs(const std::vector<std::string>& incl, const std::vector<cvn_types::cvn_def>& defs) {
  std::vector<action> out;
  for (const auto& d : defs) translate_def(incl, d, out);
  return out;
}

algorithm apply_action(algorithm&& a, const action& act) {
  apply_action_into(a, act);
  return std::move(a);
}

void apply_action_into(algorithm& a, const action& act) {
  std::visit(overloaded{
                 [&](const Port_action& p) {
                   const algo_types::def_id d = algo_types::lookup_def(a, base_types::simple_name{p.def});
                   std::vector<algo_ops::new_port> ports;
                   ports.reserve(p.ports.size());
                   for (const port_decl& x : p.ports) {
                     std::optional<std::int64_t> position;
                     if (x.position >= 0) position = x.position;
                     ports.push_back({x.size, position, x.type, x.dir, x.name, x.value, x.additional});
                   }
                   a = algo_ops::add_ports(std::move(a), d, ports);
                 },
                 [&](const Def_action& x) {
                   a = algo_ops::add_def(std::move(a), std::nullopt, x.def.params, x.def.kind, x.def.name).second;
                 },
                 [&](const Data_action& x) {
                   // The condition's port is an input port of the definition that holds both ends.
                   std::optional<algo_types::cond> c;
                   std::optional<std::optional<algo_types::cond>> under = std::optional<algo_types::cond>{};
                   end_defs defs(a);
                   if (x.condition) {
                     if (const auto p = condition_port(a, defs(def_of_end(x.source)), x.condition->first)) {
                       c = algo_types::cond{*p, x.condition->second};
                       under = c;
                     } else {
                       under.reset();
                     }
                   }
                   const algo_types::port_id s = find_end(a, defs, x.source, under);
                   const algo_types::port_id t = find_end(a, defs, x.destination, under);
                   if (x.condition && !c) no_input_port(x.condition->first);
                   algo_ops::add_data_edge_into(a, c, s, t);
                 },
                 [&](const Deferred_action& x) { x.run(a); },
             },
             act);
}

algo_types::algorithm translate_algo(const std::vector<std::string>& incl, const cvn_types::cvn_file& file) {
  // Building an action never fails and reads nothing of the model, so each one is applied as soon as it
  // is built: the same edits in the same order, without holding the actions of a whole file at once.
  algorithm a = algo_types::create();
  for (const auto& d : file.cvn_algos)
    translate_def(incl, d, [&a](action&& act) { apply_action_into(a, act); });
  return a;
}

namespace {

// The text is handed over in pieces as it is printed, unless the printer may refuse a definition (`whole`):
// a refusal must leave the output empty.
void print_algorithms(const algorithm& a, bool whole, const std::function<void(const std::string&)>& put) {
  if (whole)
    put(algo_io::string_of_algo(a));
  else
    algo_io::print_algo(a, put);
}

}  // namespace

written_algorithms write_algorithms(const std::vector<std::string>& incl, cvn_types::cvn_file&& file,
                                    const std::function<void(const std::string&)>& put) {
  // The model outgrows the syntax tree: each definition's part of the tree is released as soon as its
  // actions are applied, so that the model reuses the memory.
  bool whole = false;
  algorithm a = algo_types::create();
  // Each action is applied as soon as it is built, so that a list of the tree may go once its actions are.
  const action_sink apply = [&a](action&& act) { apply_action_into(a, act); };
  const auto release = [](auto& list) { std::decay_t<decltype(list)>().swap(list); };
  for (auto& slot : file.cvn_algos) {
    cvn_types::cvn_def d = std::move(slot);
    whole = def_actions(incl, d, apply, release) || whole;
  }
  print_algorithms(a, whole, put);
  return {std::move(file), std::move(a)};
}

written_algorithms write_algorithms_of_file(const std::vector<std::string>& incl, const std::string& file_name,
                                            const std::function<void(const std::string&)>& put) {
  // The file is read, and its definitions turned into actions (which reads nothing of the model), on a
  // thread of its own while the model grows on this one. The definitions are read a piece at a time, so
  // that even a file that is one large definition is read beside its translation. What the reader keeps
  // (the parts of the file the model does not need) is this thread's once it ends.
  algorithm a = algo_types::create();
  cvn_types::cvn_file rest;
  bool two_variables = false;
  pipe::run<action>(
      [&](const std::function<void(action&&)>& hand_over) {
        // An action may share an expression with the piece it was made of: the piece goes first, so that
        // this thread changes no count of a node that the other thread holds.
        std::vector<action> made;
        const action_sink out = [&made](action&& act) { made.push_back(std::move(act)); };
        def_translator t(incl, out);
        rest = parse_cvn_pieces(file_name, [&](cvn_types::cvn_def_piece&& p) {
          {
            const cvn_types::cvn_def_piece piece = std::move(p);
            t.piece(piece);
          }
          for (action& act : made) hand_over(std::move(act));
          made.clear();
        });
        two_variables = t.two_variables();
      },
      [&a](action&& act) { apply_action_into(a, act); });
  print_algorithms(a, two_variables, put);
  return {std::move(rest), std::move(a)};
}

void dump_algorithms(const std::vector<std::string>& incl, cvn_types::cvn_file&& file) {
  // What the action holds is kept to the end, as the other actions keep the whole tree: freeing it costs
  // time.
  (void)misc::keep_until_exit(
      write_algorithms(incl, std::move(file), [](const std::string& text) { std::cout << text; }));
}

void dump_algorithms_of_file(const std::vector<std::string>& incl, const std::string& file_name) {
  (void)misc::keep_until_exit(
      write_algorithms_of_file(incl, file_name, [](const std::string& text) { std::cout << text; }));
}

void output_algorithms(const std::vector<std::string>& incl, const cvn_types::cvn_file& file,
                       const std::string& prefix) {
  const algorithm& a = misc::keep_until_exit(translate_algo(incl, file));
  std::cout << algo_io::string_of_algo(a);
  algo_io::file_of_algo(prefix + "." + constant::algo_ext, a);
}

// ---- Durations

std::pair<opr_rules, med_rules> translate_durs(const std::optional<std::string>& module_prefix,
                                               const std::vector<cvn_types::cvn_extra_durations>& entries) {
  std::pair<opr_rules, med_rules> out;
  for (const auto& entry : entries) {
    if (const auto* opr = std::get_if<cvn_types::Opr_durations>(&entry)) {
      const std::string type = base_types::add_prefix_to_name(module_prefix, fix_opr_type_name(opr->opr_type));
      for (const auto& item : opr->durations) out.first.push_back({{fix_def_name(item.name)}, {type}, item.duration});
    } else {
      const auto& med = std::get<cvn_types::Med_durations>(entry);
      const std::string type = base_types::add_prefix_to_name(module_prefix, fix_med_type_name(med.med_type));
      for (const auto& item : med.durations)
        out.second.push_back({{misc::lowercase(item.name)}, {type}, {std::nullopt, item.duration}});
    }
  }
  return out;
}

std::pair<opr_rules, med_rules> translate_chars(const std::optional<std::string>& module_name,
                                                const cvn_types::cvn_file& file) {
  std::optional<std::string> prefix;
  if (module_name) prefix = misc::capitalize(*module_name);
  return translate_durs(prefix, file.cvn_durations);
}

std::string string_of_extra_durations(const cvn_types::cvn_file& file) {
  const auto [opr, med] = translate_chars(std::nullopt, file);
  return adeq_durations::opn_opr_rules::string_of_rules(opr) + "\n" +
         adeq_durations::data_med_rules::string_of_rules(med) + "\n";
}

void output_characteristics(const cvn_types::cvn_file& file, const std::string& prefix) {
  // The types are those of the architecture file written beside, whose module is named after the file
  // alone: a directory part of the prefix is no part of the module name.
  const std::size_t slash = prefix.rfind('/');
  const std::string module = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
  const auto [opr, med] = translate_chars(module, file);
  adeq_durations::opn_opr_rules::file_of_rules(opr, prefix + "." + constant::opn_dur_ext);
  adeq_durations::data_med_rules::file_of_rules(med, prefix + "." + constant::com_dur_ext);
}

// ---- Constraints

std::optional<std::string> fix_opn_name(const std::vector<std::string>& path) {
  // The first name names a definition, the others the references inside it, in path order.
  if (path.empty()) return std::nullopt;
  std::string out = fix_def_name(path.front());
  for (std::size_t i = 1; i < path.size(); ++i) out += "." + fix_ref_name(path[i]);
  return out;
}

std::vector<adeq_constraints::constraint_rule> translate_constraints(const cvn_types::cvn_file& file) {
  // The first group of each name wins; an index keeps this linear in the number of groups.
  std::unordered_map<std::string, const cvn_types::cvn_group*> groups;
  for (const auto& g : file.cvn_groups) groups.emplace(g.name, &g);
  std::vector<adeq_constraints::constraint_rule> rules;
  for (const auto& c : file.cvn_constraints) {
    const auto it = groups.find(c.group);
    if (it == groups.end() || it->second->members.empty()) continue;
    adeq_constraints::constraint_rule r;
    for (const auto& target : c.targets) r.operators.push_back(string_of_cvn_name(target));
    for (const auto& member : it->second->members)
      if (auto name = fix_opn_name(member)) r.operations.push_back(std::move(*name));
    rules.push_back(std::move(r));
  }
  return rules;
}

std::string string_of_constraints(const cvn_types::cvn_file& file) {
  return adeq_constraints::string_of_constraint_rules(translate_constraints(file));
}

void output_constraints(const cvn_types::cvn_file& file, const std::string& prefix) {
  adeq_constraints::files_of_rules(translate_constraints(file), [&](const std::string& key) {
    return prefix + "_" + key + "." + constant::constraints_ext;
  });
}

std::vector<options::entry> option_table(const std::string& program_name, Action& action) {
  using options::no_arg_action;
  using options::string_action;
  return {
      options::option_version(program_name),
      options::option_include_dir(),
      {"--algo", no_arg_action([&action] { action = Action_algo{}; }),
       " Dump algorithms on standard output (default action)"},
      {"--arch", string_action([&action](const std::string& name) { action = Action_arch{name}; }),
       "<name> Dump architecture definition <name> (with types) on standard output"},
      {"--dur", no_arg_action([&action] { action = Action_dur{}; }), " Dump durations on standard output"},
      {"--cons", no_arg_action([&action] { action = Action_cons{}; }), " Dump constraints on standard output"},
      {"--split", string_action([&action](const std::string& prefix) { action = Action_split{prefix}; }),
       "<prefix> Dump algorithms, architectures, durations, and constraints into files with prefix <prefix>"},
  };
}

namespace {

// Only the driver writes results to standard output.
void print(const std::string& text) { std::cout << text; }

void perform(const Action& action, const std::vector<std::string>& incl, const std::string& file_name) {
  // The default action reads the file alongside its translation; the others read it first and keep the
  // syntax tree to the end (freeing it costs time).
  if (std::holds_alternative<Action_algo>(action)) return dump_algorithms_of_file(incl, file_name);
  cvn_types::cvn_file parsed = parse_cvn(file_name);
  const auto kept = [&parsed]() -> const cvn_types::cvn_file& { return misc::keep_until_exit(std::move(parsed)); };
  std::visit(overloaded{
                 [&](const Action_algo&) {},
                 [&](const Action_dur&) { print(string_of_extra_durations(kept())); },
                 [&](const Action_cons&) { print(string_of_constraints(kept())); },
                 [&](const Action_arch& a) {
                   const cvn_types::cvn_file& file = kept();
                   const bool known = std::any_of(file.cvn_archs.begin(), file.cvn_archs.end(), [&](const auto& d) {
                     return std::holds_alternative<cvn_types::Arch_decl>(d) && cvn_types::string_of_cvn_arch_decl(d) == a.name;
                   });
                   if (!known) throw Failure(misc::sprintf_string("No architecture '%s' found.", a.name.c_str()));
                   throw Failure("Printing architectures is not available yet.");
                 },
                 [&](const Action_split&) { throw Failure("Splitting into files is not available yet."); },
             },
             action);
}

}  // namespace

void main(const std::vector<std::string>& argv) {
  Action action = Action_algo{};
  const auto [incl, anonymous] = options::parse(option_table(argv.empty() ? "" : argv[0], action), argv);
  if (anonymous.empty()) return;
  try {
    perform(action, incl, anonymous.front());
  } catch (const algo_types::Problem& p) {
    // A refused edit ends the run as a plain failure carrying the problem's text.
    throw Failure(algo_string::string_of_problem(p));
  } catch (const loc::Problem& p) {
    // A located problem ends the run as a plain failure carrying its full report text.
    throw Failure(loc::string_of_problem(p));
  }
}

std::string fatal_report(const std::exception& e) {
  if (const auto* known = dynamic_cast<const error*>(&e)) return "Fatal error: exception " + known->printed() + "\n";
  return std::string("Fatal error: exception ") + e.what() + "\n";
}

namespace {

// Flushes standard output. A result that could not be written (a full disk, a closed descriptor) must not
// end as a success: throws Sys_error.
void flush_output() {
  errno = 0;
  std::cout.flush();
  if (!std::cout) throw sys_error_of_errno("standard output", errno != 0 ? errno : EIO);
}

}  // namespace

int run(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv, argv + argc);
  try {
    try {
      main(args);
    } catch (const options::exit_request& exit) {
      std::cout << exit.out;
      flush_output();
      std::cerr << exit.err;
      std::cerr.flush();
      return exit.status;
    }
    flush_output();
    return 0;
  } catch (const std::exception& e) {
    // What was written stays: standard output is flushed before the report.
    std::cout.flush();
    std::cerr << fatal_report(e);
    std::cerr.flush();
    return 2;
  }
}

}  // namespace cvn::cvn_main
