#include "cvnparser/cvn_main.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <unordered_map>
#include <iostream>

#include "base/base_types.h"
#include "base/constant.h"
#include "base/lexer.h"
#include "base/loc.h"
#include "base/misc.h"

namespace cvn::cvn_main {
namespace {

template <class... Ts>
struct overloaded : Ts... {
  using Ts::operator()...;
};

std::string string_of_cvn_name(const cvn_types::cvn_name& n) {
  if (const auto* lib = std::get_if<cvn_types::Lib_name>(&n)) return lib->lib + "." + lib->name;
  return std::get<cvn_types::Name>(n).name;
}

}  // namespace

// ---- Name fixing

std::string fix_name(const std::string& prefix, const std::string& name) {
  return lexer::is_keyword(name) ? prefix + name : name;
}

std::string fix_lower_prefix(const std::string& prefix, const std::string& name) {
  return misc::lowercase(fix_name(prefix, name));
}

cvn_types::cvn_name fix_elt_name(const std::string& prefix, const cvn_types::cvn_name& name) {
  if (const auto* lib = std::get_if<cvn_types::Lib_name>(&name))
    return cvn_types::Lib_name{misc::capitalize(lib->lib), fix_lower_prefix(prefix, lib->name)};
  return cvn_types::Name{fix_lower_prefix(prefix, std::get<cvn_types::Name>(name).name)};
}

algo_types::expr fix_expr_names(const algo_types::expr& e) {
  return algo_types::make_expr(e.where(), fix_expr_desc_names(algo_types::desc_of(e)));
}

algo_types::expr_desc fix_expr_desc_names(const algo_types::expr_desc& d) {
  using namespace algo_types;
  return std::visit(
      [](const auto& n) -> expr_desc {
        using T = std::decay_t<decltype(n)>;
        if constexpr (std::is_same_v<T, Int>) {
          return n;
        } else if constexpr (std::is_same_v<T, Ident>) {
          return Ident{fix_param_name(n.name)};
        } else if constexpr (std::is_same_v<T, Neg> || std::is_same_v<T, Bars>) {
          return T{fix_expr_names(n.operand)};
        } else if constexpr (std::is_same_v<T, List>) {
          List out;
          out.items.reserve(n.items.size());
          for (const expr& item : n.items) out.items.push_back(fix_expr_names(item));
          return out;
        } else {
          return T{fix_expr_names(n.left), fix_expr_names(n.right)};
        }
      },
      d);
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

void perform(const Action& action, const std::vector<std::string>& incl, const cvn_types::cvn_file& file) {
  (void)incl;
  std::visit(overloaded{
                 [&](const Action_algo&) {},
                 [&](const Action_dur&) { print(string_of_extra_durations(file)); },
                 [&](const Action_cons&) { print(string_of_constraints(file)); },
                 [&](const Action_arch& a) {
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
    const cvn_types::cvn_file file = parse_cvn(anonymous.front());
    perform(action, incl, file);
  } catch (const loc::Problem& p) {
    // A located problem ends the run as a plain failure carrying its full report text.
    throw Failure(loc::string_of_problem(p));
  }
}

std::string fatal_report(const std::exception& e) {
  if (const auto* known = dynamic_cast<const error*>(&e)) return "Fatal error: exception " + known->printed() + "\n";
  return std::string("Fatal error: exception ") + e.what() + "\n";
}

int run(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv, argv + argc);
  try {
    main(args);
    std::cout.flush();
    return 0;
  } catch (const options::exit_request& exit) {
    std::cout << exit.out;
    std::cout.flush();
    std::cerr << exit.err;
    std::cerr.flush();
    return exit.status;
  } catch (const std::exception& e) {
    // What was written stays: standard output is flushed before the report.
    std::cout.flush();
    std::cerr << fatal_report(e);
    std::cerr.flush();
    return 2;
  }
}

}  // namespace cvn::cvn_main
