#pragma once
// The algorithm language as text: readers of whole files and of the small pieces held in strings.
#include <string>
#include <string_view>
#include <vector>

#include "algo/algo_lang_types.h"
#include "algo/algo_types.h"

namespace cvn::algo_io {

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
