#include "base/loc.h"

#include <memory>
#include <unordered_set>

namespace cvn::loc {

std::string_view intern(std::string_view file_name) {
  // Node-based set: the strings never move, so the views stay valid for the whole run.
  static std::unordered_set<std::string> names;
  return *names.emplace(file_name).first;
}

Problem::Problem(location where, std::string message)
    : named_error("Loc.Problem", string_of_problem(where, message)),
      where_(where),
      message_(std::move(message)) {}

void raise_problem(const location& where, const std::string& message) { throw Problem(where, message); }

pos_info get_pos_info(const position& p) {
  if (p.file.empty()) return {"", -1, p.offset};
  return {std::string(p.file), p.line, p.offset - p.bol};
}

std::string string_of_loc(const location& where) {
  const pos_info info = get_pos_info(where.begin);
  std::int64_t first = info.column;
  std::int64_t last = first + (where.end.offset - where.begin.offset);
  if (first < 0) {
    first = 0;
    last = 1;
  }
  std::string out = "File \"" + info.file + "\", line " + std::to_string(info.line);
  if (first == last)
    out += ", character " + std::to_string(first);
  else
    out += ", characters " + std::to_string(first) + "-" + std::to_string(last);
  out += ":\n";
  return out;
}

void print(std::ostream& sink, const location& where) {
  sink << string_of_loc(where);
  sink.flush();
}

std::string string_of_problem(const location& where, const std::string& message) {
  return string_of_loc(where) + "Error: " + message;
}

std::string string_of_problem(const Problem& p) { return string_of_problem(p.where(), p.message()); }

}  // namespace cvn::loc
