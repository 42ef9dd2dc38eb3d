#pragma once
// The converter's run: its option table, the chosen action, and the failure report.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "adeq/adeq_constraints.h"
#include "adeq/adeq_durations.h"
#include "algo/algo_types.h"
#include "cvnparser/cvn_types.h"
#include "driver/options.h"

namespace cvn::cvn_main {

struct Action_algo {};
struct Action_dur {};
struct Action_cons {};
struct Action_arch {
  std::string name;
};
struct Action_split {
  std::string prefix;
};
/// The one action a run performs; the last action option given wins.
using Action = std::variant<Action_algo, Action_dur, Action_cons, Action_arch, Action_split>;

/// Reads the application file `file_name` (not searched along the include directories) into its syntax
/// tree. Throws Sys_error when the file cannot be read, loc::Problem for a lexical or syntax error.
[[nodiscard]] cvn_types::cvn_file parse_cvn(const std::string& file_name);

/// The syntax tree of an application file's text: every ".." rewritten as " .. ", then lexed and parsed with
/// positions carrying `file_name` as given. Throws loc::Problem.
[[nodiscard]] cvn_types::cvn_file parse_cvn_string(std::string text, std::string_view file_name);
/// parse_cvn handing the algorithm definitions to `pieces` as they are read (cvn_types::cvn_def_piece)
/// rather than keeping them: the file returned holds no algorithm.
[[nodiscard]] cvn_types::cvn_file parse_cvn_pieces(const std::string& file_name,
                                                   const std::function<void(cvn_types::cvn_def_piece&&)>& pieces);


// Name fixing: names carried into the newer languages are lower-cased, and a name whose lower-cased form
// is a keyword of those languages gets a prefix telling what it names.

/// prefix + name when the name, lower-cased, is a keyword of the newer languages; the name otherwise.
[[nodiscard]] std::string fix_name(const std::string& prefix, const std::string& name);
/// fix_name, then lower-cased.
[[nodiscard]] std::string fix_lower_prefix(const std::string& prefix, const std::string& name);
/// The name part fixed by fix_lower_prefix; a library part gets its first character upper-cased.
[[nodiscard]] cvn_types::cvn_name fix_elt_name(const std::string& prefix, const cvn_types::cvn_name& name);
/// The expression with every variable through the parameter fixer.
[[nodiscard]] algo_types::expr fix_expr_names(const algo_types::expr& e);
[[nodiscard]] algo_types::expr_desc fix_expr_desc_names(const algo_types::expr_desc& d);

/// The fixers of each kind of name.
[[nodiscard]] std::string fix_port_name(const std::string& name);        // "p_"
[[nodiscard]] std::string fix_ref_name(const std::string& name);         // "r_"
[[nodiscard]] cvn_types::cvn_name fix_def_name(const cvn_types::cvn_name& name);  // "d_"
[[nodiscard]] std::string fix_def_name(const std::string& name);         // "d_", plain names
[[nodiscard]] std::string fix_opr_type_name(const std::string& name);    // "ot_"
[[nodiscard]] std::string fix_opr_name(const std::string& name);         // "o_"
[[nodiscard]] std::string fix_med_type_name(const std::string& name);    // "mt_"
[[nodiscard]] std::string fix_med_name(const std::string& name);         // "m_"
[[nodiscard]] cvn_types::cvn_name fix_qopr_type_name(const cvn_types::cvn_name& name);  // "ot_"
[[nodiscard]] cvn_types::cvn_name fix_qopr_name(const cvn_types::cvn_name& name);       // "o_"
[[nodiscard]] cvn_types::cvn_name fix_qmed_type_name(const cvn_types::cvn_name& name);  // "mt_"
[[nodiscard]] cvn_types::cvn_name fix_qmed_name(const cvn_types::cvn_name& name);       // "m_"
[[nodiscard]] std::string fix_param_name(const std::string& name);       // "par"

// Algorithm translation: every definition becomes edit actions, all in one list in file order, which are then
// applied one by one to an empty algorithm through the checked operations of the model.

/// A port of a definition as the translation declares it; the fields of a port record, the position
/// standing for the order.
struct port_decl {
  std::string name;
  std::optional<algo_types::expr> size;
  algo_types::direction dir = algo_types::direction::In;
  std::string type;
  std::int64_t position = 0;
  std::optional<algo_types::expr> value;               // always absent here
  std::optional<additional::attributes> additional;    // always absent here
};

/// A definition as the translation declares it.
struct def_decl {
  std::string name;
  algo_types::definition_kind kind = algo_types::definition_kind::Function;
  std::vector<std::string> params;
  std::string description;
};

/// An end of a data action: a port of the definition being built...
struct Def_port {
  std::string def;
  std::string port;
};
/// ...or a port of one of its references.
struct Ref_port {
  std::string def;
  std::string ref;
  std::string port;
};
using data_end = std::variant<Def_port, Ref_port>;

/// A condition as written: (condition variable, value).
using cond_decl = std::pair<std::string, std::int64_t>;

/// The ports of a definition's head, in file order, each inserted at its position.
struct Port_action {
  std::string def;
  std::vector<port_decl> ports;
};
struct Def_action {
  def_decl def;
};
struct Data_action {
  data_end source;
  data_end destination;
  std::optional<cond_decl> condition;
};
/// Run when its turn comes, on the algorithm built so far, which it changes in place.
struct Deferred_action {
  std::function<void(algo_types::algorithm&)> run;
};
/// An edit action, in the order of its cases.
using action = std::variant<Port_action, Def_action, Data_action, Deferred_action>;

/// The algorithm of the file: the actions of its definitions applied to an empty algorithm. Throws
/// algo_types::Problem for a refused edit, Failure for a failed lookup ("Definition %s not found.",
/// "Algorithm module %s not found.", "No input port %s in current definion", ...).
[[nodiscard]] algo_types::algorithm translate_algo(const std::vector<std::string>& incl,
                                                   const cvn_types::cvn_file& file);
/// The actions of every definition, definition after definition. The deferred actions refer to the
/// definitions' references and to the include directories: `incl` and `defs` must outlive them.
[[nodiscard]] std::vector<action> translate_defs(const std::vector<std::string>& incl,
                                                 const std::vector<cvn_types::cvn_def>& defs);
/// Receives actions one by one, in order.
using action_sink = std::function<void(action&&)>;
/// The actions of one definition, given to `out` / appended to `out`: itself, its ports, then its bodies.
void translate_def(const std::vector<std::string>& incl, const cvn_types::cvn_def& def, const action_sink& out);
void translate_def(const std::vector<std::string>& incl, const cvn_types::cvn_def& def, std::vector<action>& out);
/// One port of a definition, its names fixed.
[[nodiscard]] port_decl translate_def_port(const cvn_types::cvn_port& port);
/// The reference actions of one body, then its data actions, given to `out`.
void translate_def_cond(const std::vector<std::string>& incl, const std::string& def, const cvn_types::cvn_body& body,
                        const action_sink& out);
/// The deferred action adding the reference to the definition `def` under the condition (fixed names).
[[nodiscard]] action translate_ref(const std::vector<std::string>& incl, const std::string& def,
                                   const std::optional<cond_decl>& condition, const cvn_types::cvn_ref& ref);
/// The data action of one dependence.
[[nodiscard]] action translate_edge(const std::string& def, const std::optional<cond_decl>& condition,
                                    const cvn_types::cvn_dep& dep);
/// Applies one action to the algorithm.
[[nodiscard]] algo_types::algorithm apply_action(algo_types::algorithm&& a, const action& act);
/// The same in place, for the translation that threads one algorithm through every action.
void apply_action_into(algo_types::algorithm& a, const action& act);

/// What the default action holds once it has written: the model and the parts of the tree it never reads.
struct written_algorithms {
  cvn_types::cvn_file rest;
  algo_types::algorithm model;
};
/// The default action's work: the file's algorithms translated, releasing the syntax tree as it goes, and
/// their text handed to `put` in pieces. Throws as translate_algo and algo_io::string_of_algo, having
/// handed over nothing then. Returns what it held, for the caller to free or keep.
[[nodiscard]] written_algorithms write_algorithms(const std::vector<std::string>& incl, cvn_types::cvn_file&& file,
                                                  const std::function<void(const std::string&)>& put);
/// The same read from the application file `file_name`, its reading (a thread of its own when the machine
/// has a second processor) alongside the translation. Throws as parse_cvn first, wherever its error stands
/// in the file, and only then as write_algorithms; hands over nothing then.
[[nodiscard]] written_algorithms write_algorithms_of_file(const std::vector<std::string>& incl,
                                                          const std::string& file_name,
                                                          const std::function<void(const std::string&)>& put);
/// Writes the algorithms of the file on standard output (the default action), as write_algorithms.
void dump_algorithms(const std::vector<std::string>& incl, cvn_types::cvn_file&& file);
/// The same for the application file `file_name`, as write_algorithms_of_file.
void dump_algorithms_of_file(const std::vector<std::string>& incl, const std::string& file_name);
/// Writes the algorithms on standard output, then into prefix.alg. Throws Sys_error.
void output_algorithms(const std::vector<std::string>& incl, const cvn_types::cvn_file& file,
                       const std::string& prefix);

// Durations.

using opr_rules = std::vector<adeq_durations::opn_opr_rules::rule>;
using med_rules = std::vector<adeq_durations::data_med_rules::rule>;

/// The operator and media duration rules of the entries, in file and item order; type names qualified by
/// the module prefix when one is given.
[[nodiscard]] std::pair<opr_rules, med_rules> translate_durs(const std::optional<std::string>& module_prefix,
                                                             const std::vector<cvn_types::cvn_extra_durations>& entries);
/// translate_durs of the file's durations, the prefix being the name with its first character upper-cased.
[[nodiscard]] std::pair<opr_rules, med_rules> translate_chars(const std::optional<std::string>& module_name,
                                                              const cvn_types::cvn_file& file);
/// The --dur text: operator rules, "\n", media rules, "\n".
[[nodiscard]] std::string string_of_extra_durations(const cvn_types::cvn_file& file);
/// Writes prefix.fd and prefix.cd. Throws Sys_error.
void output_characteristics(const cvn_types::cvn_file& file, const std::string& prefix);

// Constraints.

/// The operation name of a group member path, or nothing for an empty path.
[[nodiscard]] std::optional<std::string> fix_opn_name(const std::vector<std::string>& path);
/// One adding rule per absolute constraint whose group exists (the first of that name) and has members.
[[nodiscard]] std::vector<adeq_constraints::constraint_rule> translate_constraints(const cvn_types::cvn_file& file);
/// The --cons text.
[[nodiscard]] std::string string_of_constraints(const cvn_types::cvn_file& file);
/// Writes prefix_MODULE.cts per architecture module. Throws Failure, Sys_error.
void output_constraints(const cvn_types::cvn_file& file, const std::string& prefix);

/// The converter's option table, whose actions set `action`.
[[nodiscard]] std::vector<options::entry> option_table(const std::string& program_name, Action& action);

/// The whole run over the command line; returns the exit status. Writes results on standard output and the
/// one failure report on standard error.
int run(int argc, char** argv);

/// The run without the failure report: parses the command line, reads the file and performs the action.
/// Throws exit_request and the system's failures.
void main(const std::vector<std::string>& argv);

/// The report line of an uncaught failure: "Fatal error: exception %s\n".
[[nodiscard]] std::string fatal_report(const std::exception& e);

}  // namespace cvn::cvn_main
