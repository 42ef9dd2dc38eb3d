#pragma once
// Source positions and spans, and the located problem with its exact report text.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "base/base_types.h"

namespace cvn::loc {

/// Keeps a file name alive for the whole run and returns a view of it.
[[nodiscard]] std::string_view intern(std::string_view file_name);

/// A file name as its index among the interned names: positions are copied with every token and every
/// expression, so the name costs four bytes there and is never copied or counted. Index 0 is the empty
/// name (texts that come from no file).
class file_ref {
 public:
  constexpr file_ref() = default;
  // Implicit, so that a position can be written with its file name as text.
  file_ref(std::string_view name);         // NOLINT
  file_ref(const char* name) : file_ref(std::string_view(name)) {}           // NOLINT
  file_ref(const std::string& name) : file_ref(std::string_view(name)) {}    // NOLINT
  /// The name as given when interned; valid for the whole run.
  [[nodiscard]] std::string_view name() const;
  [[nodiscard]] bool empty() const { return id_ == 0; }
  bool operator==(const file_ref&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const file_ref& f) { return out << f.name(); }

 private:
  std::uint32_t id_ = 0;
};

/// A lexer position: byte offsets from the start of the text. Texts of 2 GB or more are refused by the
/// lexers, so 32 bits hold every field.
struct position {
  file_ref file;             // empty for texts that come from no file
  std::int32_t line = 0;     // first line is 1
  std::int32_t bol = 0;      // offset of the first character of the line
  std::int32_t offset = -1;  // offset of the position itself
  bool operator==(const position&) const = default;
};

/// The largest text the lexers accept, so that every offset fits a position.
inline constexpr std::int64_t max_text_size = INT32_MAX;

/// The lexers' null position: no file, line 0, line start 0, offset -1.
inline constexpr position dummy_pos{};

/// A span; `end` is just after its last character.
struct location {
  position begin;
  position end;
  bool operator==(const location&) const = default;
};

/// Both ends at the null position, for expressions built without a source text.
inline constexpr location none{};

/// The located problem: the one failure reported with its place in the input.
class Problem : public named_error {
 public:
  Problem(location where, std::string message);
  [[nodiscard]] const location& where() const { return where_; }
  [[nodiscard]] const std::string& message() const { return message_; }

 private:
  location where_;
  std::string message_;
};

/// Throws Problem.
[[noreturn]] void raise_problem(const location& where, const std::string& message);

struct pos_info {
  std::string file;
  std::int64_t line;
  std::int64_t column;
  bool operator==(const pos_info&) const = default;
};

/// (file, line, column from 0); ("", -1, offset) for a position without a file.
[[nodiscard]] pos_info get_pos_info(const position& p);

/// Writes the location line ("File \"f\", line 3, characters 4-9:\n") and flushes.
void print(std::ostream& sink, const location& where);

/// The location line, line end included.
[[nodiscard]] std::string string_of_loc(const location& where);

/// The location line, then "Error: " and the message (no final line end).
[[nodiscard]] std::string string_of_problem(const location& where, const std::string& message);
[[nodiscard]] std::string string_of_problem(const Problem& p);

}  // namespace cvn::loc
