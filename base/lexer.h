#pragma once
// The common lexer of the newer languages (algorithm, architecture, duration and constraint files): one
// token set, keywords recognised in any case, string and code literals, located lexical errors.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/loc.h"

namespace cvn::lexer {

/// Token kinds: the 30 keywords (in table order), punctuation, markers, values, end of input.
enum class token_kind {
  // keywords
  Abstract, Actuator, Algorithm, Architecture, Broadcast, Comment, Constant, Constraints, Definition, Delay,
  Durations, Function, Gate, In, Let, Match, Medium, Operator, Out, Parallel, Period, Port, Ram, Reference, Sammp,
  Sampp, Sensor, Sequence, Type, With,
  // punctuation
  Dot, Lbrace, Rbrace, Lbracket, Rbracket, Lparen, Rparen, Equal, Semi, Colon, Comma, Slash, Bar, Plus, Minus,
  Star, Long_arrow, Arrow,
  // markers
  Action_marker, Adeq_marker, Desc_marker, Flatten_marker, Post_marker,
  // values
  Lident, Uident, Int, Float, String, Code,
  Eof
};

/// The keyword texts, in the order of the keyword kinds.
inline constexpr std::array<const char*, 30> keywords = {
    "abstract", "actuator", "algorithm", "architecture", "broadcast", "comment",  "constant", "constraints",
    "definition", "delay", "durations", "function", "gate", "in", "let", "match", "medium", "operator", "out",
    "parallel", "period", "port", "ram", "reference", "sammp", "sampp", "sensor", "sequence", "type", "with"};

/// True when the text, turned to lower case, is a keyword.
[[nodiscard]] bool is_keyword(std::string_view text);

/// A token with its value and its span.
struct token {
  token_kind kind = token_kind::Eof;
  std::string text;           // identifiers, string and code literals
  std::int64_t int_value = 0;
  double float_value = 0.0;
  loc::location where;
};

/// A token whose text is not copied: an identifier's text views the lexer's copy of the input (valid while
/// the lexer lives), a string or code literal's text the lexer's literal buffer (valid until the next
/// literal is read). For readers that keep only some of the texts they see.
struct token_view {
  token_kind kind = token_kind::Eof;
  std::string_view text;
  std::int64_t int_value = 0;
  double float_value = 0.0;
  loc::location where;
};

/// The text of a token kind, as written ("-->", "function", "_action", ...; values by their class).
[[nodiscard]] const char* string_of_kind(token_kind kind);

/// A lexer over a text held by the caller (the text must outlive the lexer).
class lexer {
 public:
  /// Positions carry `file_name` (empty for strings), starting at line 1, offset 0.
  lexer(std::string_view text, std::string_view file_name);
  ~lexer();
  lexer(const lexer&) = delete;
  lexer& operator=(const lexer&) = delete;

  /// The next token. Throws loc::Problem on a lexical error, Failure on a number that does not fit.
  token main();
  /// The next token as main() reads it, its text viewed rather than copied.
  void next(token_view& tok);
  /// The text being read, as given: an identifier's text is the input between its positions' offsets.
  [[nodiscard]] std::string_view input() const;
  /// The position just after the last token read.
  [[nodiscard]] const loc::position& current() const;
  /// Throws the located problem at the current position.
  [[noreturn]] void error(const std::string& message) const;

 private:
  void* scanner_;
};

}  // namespace cvn::lexer
