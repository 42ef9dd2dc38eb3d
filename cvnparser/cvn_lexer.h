#pragma once
// The application-file lexer (Cvn_lexer): turns a loaded text into the grammar's tokens and keeps the
// current position for located problems.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/loc.h"
#include "cvnparser/cvn_parser.hh"

namespace cvn::cvn_lexer {

struct file_input;

/// What the scanner's rules update: the position after the last match and the offset where it began (a
/// match never spans a counted line); for a token read in several matches, the offset where it began and,
/// for a string, its lexeme so far; the file being read, for a scan of a file; the texts of the tokens
/// that carry one; and where the lines start, from line `first_line` on, to locate tokens by offset.
struct state {
  loc::position pos;
  std::int32_t start = 0;
  std::int32_t split_start = 0;
  std::string split_text;
  file_input* input = nullptr;
  cvn_build::text_arena texts;
  std::vector<std::int32_t> line_starts{0};
  std::int32_t first_line = 1;
};

/// One scan over one text. The scanner itself stays behind this class.
class Cvn_lexer {
 public:
  /// Scans `text` (taken over, not copied again); positions carry `file_name` as given, starting at line 1,
  /// line start 0, offset 0.
  Cvn_lexer(std::string text, std::string_view file_name);
  /// Selects the constructor that reads a file.
  struct from_file_t {};
  static constexpr from_file_t from_file{};
  /// Scans the file `file_name` (positions carry the name as given) as it is read, piece by piece, with
  /// every ".." read as " .. ", so that the whole text is never held. Throws Sys_error when the file cannot
  /// be opened or read.
  Cvn_lexer(from_file_t, const std::string& file_name);
  ~Cvn_lexer();
  Cvn_lexer(const Cvn_lexer&) = delete;
  Cvn_lexer& operator=(const Cvn_lexer&) = delete;

  /// The next token's kind (end of file once the text is used up), its value and its location, as the
  /// parser reads them. A token's text and location stay valid until release() is called after a later
  /// token.
  /// Throws loc::Problem "lexing: empty token" (a character that starts no token) and "int_of_string" (an
  /// integer beyond the signed 63-bit range), both located at the current position.
  int next(cvn_build::value& value, cvn_parser::span& where);

  /// The next token as one symbol, as next() reads it.
  [[nodiscard]] cvn_parser::parser::symbol_type lexer();

  /// Forgets what only the tokens before the last one read need: their texts (but for those that share
  /// the last one's storage) and the starts of the lines before its line.
  void release();

  /// A token's or a symbol's location with the file name, lines and line starts of this scan.
  [[nodiscard]] loc::location located(const cvn_parser::span& s) const;

  /// The position just after the last token read.
  [[nodiscard]] const loc::position& current() const { return state_->pos; }

 private:
  [[nodiscard]] loc::position position_at(std::int32_t offset) const;

  std::string text_;
  std::unique_ptr<file_input> input_;
  std::unique_ptr<state> state_;
  void* scanner_ = nullptr;
};

}  // namespace cvn::cvn_lexer
