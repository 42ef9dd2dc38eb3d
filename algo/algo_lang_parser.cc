#include "algo/algo_lang_parser.h"

#include "algo/algo_lang_parser_gen.hh"

namespace cvn::algo_lang_parser {
namespace {

using gen::parser;

gen::context run(lexer::lexer& lex, parser::token_kind_type entry,
                 const std::function<void(algo_lang_types::def_decl&&)>& each_decl = nullptr) {
  gen::context ctx(lex, entry);
  ctx.each_decl = each_decl;
  parser p(ctx);
  // parser::error throws; a parse that returns without accepting is a failure all the same.
  if (p.parse() != 0) throw Error(lex.current());
  return ctx;
}

}  // namespace

algo_lang_types::algo_decl parse_algo_decl(lexer::lexer& lex) {
  return std::move(run(lex, parser::token::START_ALGO_DECL).decls);
}

void parse_algo_decls(lexer::lexer& lex, const std::function<void(algo_lang_types::def_decl&&)>& each) {
  (void)run(lex, parser::token::START_ALGO_DECL, each);
}

algo_types::expr parse_expr(lexer::lexer& lex) { return run(lex, parser::token::START_EXPR).expr; }

std::vector<std::string> parse_opt_params(lexer::lexer& lex) {
  return std::move(run(lex, parser::token::START_OPT_PARAMS).names);
}

algo_lang_types::def_call parse_def_call(lexer::lexer& lex) {
  return std::move(run(lex, parser::token::START_DEF_CALL).call);
}

std::vector<algo_lang_types::port_dispatch> parse_port_dispatchs(lexer::lexer& lex) {
  return std::move(run(lex, parser::token::START_PORT_DISPATCHS).dispatchs);
}

std::vector<algo_lang_types::seq_option> parse_ref_sequence_options(lexer::lexer& lex) {
  return std::move(run(lex, parser::token::START_REF_SEQUENCE_OPTIONS).seq_options);
}

base_types::qname parse_qname(lexer::lexer& lex) { return run(lex, parser::token::START_QNAME).qname; }

base_types::qname parse_qdef_name(lexer::lexer& lex) { return run(lex, parser::token::START_QDEF_NAME).qname; }

std::string parse_def_name(lexer::lexer& lex) { return run(lex, parser::token::START_DEF_NAME).name; }

std::string parse_name(lexer::lexer& lex) { return run(lex, parser::token::START_NAME).name; }

std::string parse_module_name(lexer::lexer& lex) { return run(lex, parser::token::START_MODULE_NAME).name; }

algo_lang_types::full_port_path parse_port_path(lexer::lexer& lex) {
  return run(lex, parser::token::START_PORT_PATH).path;
}

}  // namespace cvn::algo_lang_parser
