#pragma once
// The algorithm grammar over the common lexer: one grammar, an entry per piece of the language. Each entry
// reads tokens up to the end of input and returns the value of its rule.
#include <functional>
#include <string>
#include <vector>

#include "algo/algo_lang_types.h"
#include "algo/algo_types.h"
#include "base/base_types.h"
#include "base/lexer.h"
#include "base/loc.h"

namespace cvn::algo_lang_parser {

/// The grammar's syntax error, raised at the first token that no rule accepts. It carries no message, only
/// the lexer's position at that moment (just after the refused token); the callers word it.
class Error : public named_error {
 public:
  explicit Error(const loc::position& where) : named_error("Algo_lang_parser.Error", "", false), where_(where) {}
  [[nodiscard]] const loc::position& where() const { return where_; }

 private:
  loc::position where_;
};

// Every entry throws Error on a syntax error, the lexer's loc::Problem on a lexical error and Failure on a
// number that does not fit.

/// A whole algorithm file: its definitions in file order (none for an empty text).
[[nodiscard]] algo_lang_types::algo_decl parse_algo_decl(lexer::lexer& lex);
/// The same, each definition handed to `each` as soon as it is read, so that a file's definitions are never
/// held together. An error stops the reading when it is met, after the definitions before it were handed.
void parse_algo_decls(lexer::lexer& lex, const std::function<void(algo_lang_types::def_decl&&)>& each);
/// One expression.
[[nodiscard]] algo_types::expr parse_expr(lexer::lexer& lex);
/// Nothing, or a parenthesised, possibly empty list of names.
[[nodiscard]] std::vector<std::string> parse_opt_params(lexer::lexer& lex);
/// A definition name with optional parenthesised arguments.
[[nodiscard]] algo_lang_types::def_call parse_def_call(lexer::lexer& lex);
/// A parenthesised, possibly empty list of port dispatches ("(x*, y=)").
[[nodiscard]] std::vector<algo_lang_types::port_dispatch> parse_port_dispatchs(lexer::lexer& lex);
/// A parenthesised, possibly empty list of sequence options ("(o -> i, z/)").
[[nodiscard]] std::vector<algo_lang_types::seq_option> parse_ref_sequence_options(lexer::lexer& lex);
/// A name, or a module name, ".", a name.
[[nodiscard]] base_types::qname parse_qname(lexer::lexer& lex);
/// The same, read as a definition name.
[[nodiscard]] base_types::qname parse_qdef_name(lexer::lexer& lex);
/// A lower-case identifier naming a definition.
[[nodiscard]] std::string parse_def_name(lexer::lexer& lex);
/// A lower-case identifier.
[[nodiscard]] std::string parse_name(lexer::lexer& lex);
/// A capitalised identifier.
[[nodiscard]] std::string parse_module_name(lexer::lexer& lex);
/// `def.ref.port`.
[[nodiscard]] algo_lang_types::full_port_path parse_port_path(lexer::lexer& lex);

}  // namespace cvn::algo_lang_parser
