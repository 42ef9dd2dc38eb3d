#include "algo/algo_io.h"

#include <cstdint>
#include <utility>

#include "algo/algo_lang_parser.h"
#include "base/lexer.h"
#include "base/loc.h"
#include "base/misc.h"

namespace cvn::algo_io {

// ---------------------------------------------------------------------------------------------------------
// Readers

namespace {

// Parses the whole text with one entry; any syntax or lexical error becomes Failure(format) filled with the
// text and the lexer's offset at the error.
template <class Entry>
auto read_string(std::string_view text, const char* format, Entry entry) {
  lexer::lexer lex(text, "");
  std::int64_t at = 0;
  try {
    return entry(lex);
  } catch (const algo_lang_parser::Error& e) {
    at = e.where().offset;
  } catch (const loc::Problem& p) {
    at = p.where().begin.offset;
  }
  throw Failure(misc::sprintf_string(format, std::string(text).c_str(), static_cast<int>(at)));
}

}  // namespace

algo_lang_types::algo_decl algo_decl_of_file(const std::string& file_name) {
  // The whole text is read, and the file closed, before parsing starts.
  const std::string text = misc::string_of_file(file_name);
  lexer::lexer lex(text, file_name);
  try {
    return algo_lang_parser::parse_algo_decl(lex);
  } catch (const algo_lang_parser::Error& e) {
    loc::raise_problem({e.where(), e.where()}, "Syntax error");
  }
}

std::vector<algo_lang_types::port_dispatch> parallel_options_of_string(std::string_view text) {
  return read_string(text, "Parallel option list \"%s\" invalid at character %d.", algo_lang_parser::parse_port_dispatchs);
}

std::vector<algo_lang_types::seq_option> sequence_options_of_string(std::string_view text) {
  return read_string(text, "Sequence option list \"%s\" invalid at character %d.",
                     algo_lang_parser::parse_ref_sequence_options);
}

algo_lang_types::def_call def_call_of_string(std::string_view text) {
  return read_string(text, "Syntax error in definition call: %s\" invalid at character %d.",
                     algo_lang_parser::parse_def_call);
}

algo_types::expr expr_of_string(std::string_view text) {
  return read_string(text, "Expression \"%s\" invalid at character %d.", algo_lang_parser::parse_expr);
}

std::vector<std::string> params_of_string(std::string_view text) {
  return read_string(text, "Parameter list \"%s\" invalid at character %d.", algo_lang_parser::parse_opt_params);
}

}  // namespace cvn::algo_io
