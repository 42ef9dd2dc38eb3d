#pragma once
// The qualified-name grammar of the newer languages: `qname`, `name` and `module_name` entries over the
// common lexer.
#include <string>
#include <string_view>

#include "base/base_types.h"
#include "base/lexer.h"

namespace cvn::tokens {

/// The grammar's own syntax error; callers turn it into their messages.
class Error : public named_error {
 public:
  Error() : named_error("Tokens.Error", "", false) {}
};

/// A simple name (lower-case identifier) or Module.name. Throws Error.
[[nodiscard]] base_types::qname parse_qname(lexer::lexer& lex);
/// A lower-case identifier. Throws Error.
[[nodiscard]] std::string parse_name(lexer::lexer& lex);
/// A capitalised identifier. Throws Error.
[[nodiscard]] std::string parse_module_name(lexer::lexer& lex);

}  // namespace cvn::tokens

namespace cvn::lexer {

/// The qualified name a whole text denotes ("x" or "M.x"). Throws tokens::Error, or loc::Problem on a
/// lexical error.
[[nodiscard]] base_types::qname qname_of_string(std::string_view text);

}  // namespace cvn::lexer
