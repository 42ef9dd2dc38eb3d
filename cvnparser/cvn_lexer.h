#pragma once
// The application-file lexer (Cvn_lexer): turns a loaded text into the grammar's tokens and keeps the
// current position for located problems.
#include <memory>
#include <string>
#include <string_view>

#include "base/loc.h"
#include "cvnparser/cvn_parser.hh"

namespace cvn::cvn_lexer {

/// What the scanner's rules update: the position after the last match and the position before it.
struct state {
  loc::position pos;
  loc::position start;
};

/// One scan over one text. The scanner itself stays behind this class.
class Cvn_lexer {
 public:
  /// Scans `text` (taken over, not copied again); positions carry `file_name` as given, starting at line 1,
  /// line start 0, offset 0.
  Cvn_lexer(std::string text, std::string_view file_name);
  ~Cvn_lexer();
  Cvn_lexer(const Cvn_lexer&) = delete;
  Cvn_lexer& operator=(const Cvn_lexer&) = delete;

  /// The next token, end of file once the text is used up. Throws loc::Problem "lexing: empty token" (a
  /// character that starts no token) and "int_of_string" (an integer beyond the signed 63-bit range), both
  /// located at the current position.
  [[nodiscard]] cvn_parser::parser::symbol_type lexer();

  /// The position just after the last token read.
  [[nodiscard]] const loc::position& current() const { return state_->pos; }

 private:
  std::string text_;
  std::unique_ptr<state> state_;
  void* scanner_ = nullptr;
};

}  // namespace cvn::cvn_lexer
