#include "base/loc.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace cvn::loc {

namespace {

// The interned names, index 0 being the empty name. The strings are held by pointer so that the views
// handed out stay valid while the table grows. A file may be read on a thread of its own (base/pipe.h),
// so the table is locked; names are interned once per file read and looked up for messages only.
struct name_table {
  std::mutex m;
  std::vector<std::unique_ptr<std::string>> names;
  std::unordered_map<std::string_view, std::uint32_t> index;
  name_table() {
    names.push_back(std::make_unique<std::string>());
    index.emplace(*names.back(), 0);
  }
};

name_table& table() {
  static name_table t;
  return t;
}

}  // namespace

file_ref::file_ref(std::string_view name) {
  if (name.empty()) return;
  name_table& t = table();
  const std::lock_guard<std::mutex> lock(t.m);
  if (const auto found = t.index.find(name); found != t.index.end()) {
    id_ = found->second;
    return;
  }
  id_ = static_cast<std::uint32_t>(t.names.size());
  t.names.push_back(std::make_unique<std::string>(name));
  t.index.emplace(*t.names.back(), id_);
}

std::string_view file_ref::name() const {
  name_table& t = table();
  const std::lock_guard<std::mutex> lock(t.m);
  return *t.names[id_];
}

std::string_view intern(std::string_view file_name) { return file_ref(file_name).name(); }

Problem::Problem(location where, std::string message)
    : named_error("Loc.Problem", string_of_problem(where, message)),
      where_(where),
      message_(std::move(message)) {}

void raise_problem(const location& where, const std::string& message) { throw Problem(where, message); }

pos_info get_pos_info(const position& p) {
  if (p.file.empty()) return {"", -1, p.offset};
  return {std::string(p.file.name()), p.line, std::int64_t{p.offset} - p.bol};
}

std::string string_of_loc(const location& where) {
  const pos_info info = get_pos_info(where.begin);
  std::int64_t first = info.column;
  std::int64_t last = first + (std::int64_t{where.end.offset} - where.begin.offset);
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
