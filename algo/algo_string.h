#pragma once
// Texts of the algorithm model: element names for messages, the expression writer, conditions, edges and
// repetitions, the debug dumps and the drawing of the algorithm graph in the dot language.
#include <optional>
#include <string>
#include <vector>

#include "algo/algo_types.h"
#include "base/checks.h"

namespace cvn::algo_string {

using algo_types::algorithm;

/// The definition's name ("%s.%s" for a module definition), then ".[%d]" when identifiers are shown.
[[nodiscard]] std::string string_of_def(const algorithm& a, algo_types::def_id d, bool show_id = false);
/// "%s." with the container definition's name when shown, the name, ".[%d]" when identifiers are shown.
[[nodiscard]] std::string string_of_ref(const algorithm& a, algo_types::ref_id r, bool show_container = false,
                                        bool show_id = false);
/// "%s." (definition) or "%s.%s." (definition, reference) when the container is shown, the name, ".[%d]".
[[nodiscard]] std::string string_of_port(const algorithm& a, algo_types::port_id p, bool show_container = false,
                                         bool show_id = false);
/// "Port %s", "Def %s" or "Ref %s" around the names above.
[[nodiscard]] std::string string_of_graph_elt(const algorithm& a, const algo_types::graph_elt& e,
                                              bool show_container = false, bool show_id = false);

/// "(%s = %s)": port name, value.
[[nodiscard]] std::string string_of_cond(const algorithm& a, const algo_types::cond& c);
/// An absent condition is written as nothing.
[[nodiscard]] std::string string_of_opt_cond(const algorithm& a, const std::optional<algo_types::cond>& c);
/// The conditions joined by ", ".
[[nodiscard]] std::string string_of_conds(const algorithm& a, const std::vector<algo_types::cond>& cs);
/// "Data [%s]", "Contain [%s]", "Reference", "Copy", "Precedence".
[[nodiscard]] std::string string_of_edge(const algorithm& a, const algo_types::edge& l);
[[nodiscard]] std::string string_of_definition_kind(algo_types::definition_kind k);
/// "in" or "out".
[[nodiscard]] std::string string_of_direction(algo_types::direction d);

/// The expression writer: parentheses only where the algorithm grammar (`*` and `/` above `+` and `-`, all
/// left-associative) would read back another value.
[[nodiscard]] std::string string_of_expr(const algo_types::expr& e);
/// The items joined by ", ".
[[nodiscard]] std::string string_of_exprs(const std::vector<algo_types::expr>& es, const char* sep = ", ");

/// "*", "=" or "/".
[[nodiscard]] std::string string_of_port_dispatch_kind(algo_types::port_dispatch_kind k);
/// "(%s, %s)": port name, sign.
[[nodiscard]] std::string string_of_port_dispatch(
    const algorithm& a, const std::pair<algo_types::port_id, algo_types::port_dispatch_kind>& d);
/// "%s -> %s" or "%s%s".
[[nodiscard]] std::string string_of_seq_rep_opt(const algorithm& a, const algo_types::seq_rep_opt& o);
/// "(" options joined by ", " ")", without the parentheses when not parenthesised.
[[nodiscard]] std::string string_of_seq_rep_opts(const algorithm& a, const std::vector<algo_types::seq_rep_opt>& os,
                                                 bool parenthesise = true);
/// "Parallel %s : [%s]" or "Sequence %s : [%s]".
[[nodiscard]] std::string string_of_repetition_kind(const algorithm& a, const algo_types::repetition_kind& r);

/// "%s: %s" with the element as messages name it ("Def top: ...").
[[nodiscard]] std::string string_of_problem(const algorithm& a, const checks::problem<algo_types::graph_elt>& p);
/// The text of a refused edit, as rendered when it was raised (same form as above).
[[nodiscard]] std::string string_of_problem(const algo_types::Problem& p);
[[nodiscard]] std::string string_of_check_result(const algorithm& a,
                                                 const checks::check_result<algo_types::graph_elt>& r);

// Debug dumps.
[[nodiscard]] std::string dbg_of_def(const algorithm& a, algo_types::def_id d);
[[nodiscard]] std::string dbg_of_ref(const algorithm& a, algo_types::ref_id r);
[[nodiscard]] std::string dbg_of_port(const algorithm& a, algo_types::port_id p);
[[nodiscard]] std::string dbg_of_defs(const algorithm& a);
[[nodiscard]] std::string dbg_of_refs(const algorithm& a);
[[nodiscard]] std::string dbg_of_ports(const algorithm& a);
[[nodiscard]] std::string dbg_of_graph_elts(const algorithm& a);
/// The predecessors and successors of one element.
[[nodiscard]] std::string dbg_of_elt_deps(const algorithm& a, const algo_types::graph_elt& e);
/// The dependencies of every element.
[[nodiscard]] std::string dbg_of_deps(const algorithm& a);
/// The banner, then definitions, references, ports and graph elements.
[[nodiscard]] std::string dbg_of_algo(const algorithm& a);

/// The algorithm graph in the dot language.
[[nodiscard]] std::string graph_to_dot(const algorithm& a);
/// Writes graph_to_dot into the file. Throws Sys_error.
void graph_to_dot_file(const std::string& file, const algorithm& a);

}  // namespace cvn::algo_string
