#include "base/tokens.h"

#include "base/tokens_parser.hh"

namespace cvn::tokens {
namespace {

gen::context run(lexer::lexer& lex, gen::parser::token_kind_type entry) {
  gen::context ctx{lex, entry, false, {}, {}};
  gen::parser p(ctx);
  if (p.parse() != 0) throw Error();
  return ctx;
}

}  // namespace

base_types::qname parse_qname(lexer::lexer& lex) { return run(lex, gen::parser::token::START_QNAME).result_qname; }

std::string parse_name(lexer::lexer& lex) { return run(lex, gen::parser::token::START_NAME).result_name; }

std::string parse_module_name(lexer::lexer& lex) {
  return run(lex, gen::parser::token::START_MODULE_NAME).result_name;
}

}  // namespace cvn::tokens

namespace cvn::lexer {

base_types::qname qname_of_string(std::string_view text) {
  lexer lex(text, "");
  return tokens::parse_qname(lex);
}

}  // namespace cvn::lexer
