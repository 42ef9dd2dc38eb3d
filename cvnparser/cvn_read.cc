// Reading an application file into its syntax tree (part of module Cvn_main).
#include "base/misc.h"
#include "cvnparser/cvn_build.h"
#include "cvnparser/cvn_lexer.h"
#include "cvnparser/cvn_main.h"
#include "cvnparser/cvn_parser.hh"

namespace cvn::cvn_main {

namespace {

cvn_types::cvn_file parse_all(cvn_lexer::Cvn_lexer& lexer,
                              const std::function<void(cvn_types::cvn_def_piece&&)>& pieces = nullptr) {
  cvn_build::builder builder;
  builder.pieces = pieces;
  cvn_parser::parser parse(lexer, builder);
  parse.parse();
  return builder.finish();
}

}  // namespace

cvn_types::cvn_file parse_cvn_string(std::string text, std::string_view file_name) {
  // A range 1..n must lex as 1 . . n, not as the number 1. and a dot. Most files have no "..": they are
  // scanned without a second copy.
  if (text.find("..") != std::string::npos) text = misc::replace_in_string("..", " .. ", text);
  cvn_lexer::Cvn_lexer lexer(std::move(text), file_name);
  return parse_all(lexer);
}

cvn_types::cvn_file parse_cvn(const std::string& file_name) {
  // The file is rewritten (".." as " .. ") and scanned as it is read: its text is never held whole.
  cvn_lexer::Cvn_lexer lexer(cvn_lexer::Cvn_lexer::from_file, file_name);
  return parse_all(lexer);
}

cvn_types::cvn_file parse_cvn_pieces(const std::string& file_name,
                                     const std::function<void(cvn_types::cvn_def_piece&&)>& pieces) {
  cvn_lexer::Cvn_lexer lexer(cvn_lexer::Cvn_lexer::from_file, file_name);
  return parse_all(lexer, pieces);
}

}  // namespace cvn::cvn_main
