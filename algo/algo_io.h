#pragma once
// The algorithm language as text: the printer of whole algorithms, and readers of whole files and of the
// small pieces held in strings.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "algo/algo_lang_types.h"
#include "algo/algo_types.h"

namespace cvn::algo_io {

// ---------------------------------------------------------------------------------------------------------
// Printer
//
// Definitions come in dependency order; a definition's references in the order they were added, grouped by
// condition (groups in the order of their first reference, then the conditions that only data edges carry);
// its data edges gathered from its input ports, then from its references' output ports, each group's edges
// written last gathered first.

/// The whole algorithm in the algorithm language. Throws Internal_error for a definition of kind Explode,
/// Implode or Identity, or an edge whose condition contradicts a reference's; Failure for a definition
/// whose conditions test two different ports (one match cannot say it).
[[nodiscard]] std::string string_of_algo(const algo_types::algorithm& a);
/// The text of string_of_algo handed to `put` in pieces that end lines, so that it is never held whole.
/// Throws as string_of_algo, once part of the text may have been handed over.
void print_algo(const algo_types::algorithm& a, const std::function<void(const std::string&)>& put);
/// Writes string_of_algo into the file, created or truncated. Throws Sys_error.
void file_of_algo(const std::string& file_name, const algo_types::algorithm& a);
/// The text of one definition; nothing for a definition loaded from a module.
[[nodiscard]] std::optional<std::string> string_of_def(const algo_types::algorithm& a, algo_types::def_id d);
/// "function|delay name(params) {\n" input line, output line, body "}\n".
[[nodiscard]] std::string string_of_function_or_delay(const algo_types::algorithm& a, algo_types::def_id d,
                                                      const algo_types::definition& def);
/// "constant name(params) { output ports }\n".
[[nodiscard]] std::string string_of_constant(const algo_types::algorithm& a, algo_types::def_id d,
                                             const algo_types::definition& def);
/// "sensor name(params) { output ports }\n" or "actuator name(params) { input ports }\n".
[[nodiscard]] std::string string_of_sensor_or_actuator(const algo_types::algorithm& a, algo_types::def_id d,
                                                       const algo_types::definition& def);
/// The let, precedence and edge lines of a function or delay, unconditioned first, then the match cases.
[[nodiscard]] std::string string_of_function_body(const algo_types::algorithm& a, algo_types::def_id d);
/// "type[size] name [attributes] = value", the optional parts left out when absent.
[[nodiscard]] std::string string_of_port(const algo_types::algorithm& a, const algo_types::port& p);
/// The ports by ascending port_order (ties in the given order), joined by ", ".
[[nodiscard]] std::string string_of_ports(const algo_types::algorithm& a, std::vector<algo_types::port_id> ps);
/// "let name = def(args) [options] ;" with the indentation and a line end.
[[nodiscard]] std::string string_of_let(const algo_types::algorithm& a, algo_types::ref_id r,
                                        const std::string& indent);

// ---------------------------------------------------------------------------------------------------------
// Readers
//
// The string readers word every error of their string, syntax or lexical, as one plain failure naming the
// string and the character position of the error: the lexer's offset in the string (from 0) just after the
// token at which reading stopped, i.e. after the refused token, after an invalid character, or the string's
// length at its end. A number too large for an integer stays the lexer's Failure("int_of_string").

/// The declarations of a whole algorithm file. Throws Sys_error when the file cannot be read, the located
/// problem "Syntax error" at the lexer's current position, the lexer's located problems.
[[nodiscard]] algo_lang_types::algo_decl algo_decl_of_file(const std::string& file_name);
/// The same, each declaration handed to `each` as soon as it is read; the errors stop the reading where
/// they are met.
void for_each_decl_of_file(const std::string& file_name,
                           const std::function<void(algo_lang_types::def_decl&&)>& each);

/// "(x*, y=, z/)". Throws Failure("Parallel option list \"%s\" invalid at character %d.").
[[nodiscard]] std::vector<algo_lang_types::port_dispatch> parallel_options_of_string(std::string_view text);

/// "(o -> i, z/)". Throws Failure("Sequence option list \"%s\" invalid at character %d.").
[[nodiscard]] std::vector<algo_lang_types::seq_option> sequence_options_of_string(std::string_view text);

/// "f", "f(1, n)", "M.f(n)". Throws Failure("Syntax error in definition call: %s\" invalid at character %d.").
[[nodiscard]] algo_lang_types::def_call def_call_of_string(std::string_view text);

/// One expression. Throws Failure("Expression \"%s\" invalid at character %d.").
[[nodiscard]] algo_types::expr expr_of_string(std::string_view text);

/// "", "()", "(n, m)". Throws Failure("Parameter list \"%s\" invalid at character %d.").
[[nodiscard]] std::vector<std::string> params_of_string(std::string_view text);

}  // namespace cvn::algo_io
