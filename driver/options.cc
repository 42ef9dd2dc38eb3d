#include "driver/options.h"

#include <algorithm>

#include "base/config.h"

namespace cvn::options {
namespace {

void set_verbosity(int level) { verbose_log().set_level(level); }

std::vector<entry> with_help(std::vector<entry> table) {
  for (const char* keyword : {"-help", "--help"}) {
    const bool present = std::any_of(table.begin(), table.end(), [&](const entry& e) { return e.keyword == keyword; });
    // The action is handled by parse itself: it needs the aligned table.
    if (!present) table.push_back({keyword, no_arg_action{}, " Display this list of options"});
  }
  return table;
}

// Index of the first non-space character after the first space; the length when there is no space.
std::size_t argument_column(const std::string& doc) {
  const std::size_t space = doc.find(' ');
  if (space == std::string::npos) return doc.size();
  const std::size_t after = doc.find_first_not_of(' ', space);
  return after == std::string::npos ? doc.size() : after;
}

bool is_integer(const std::string& s) {
  std::size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
  if (i == s.size()) return false;
  if (s.size() - i > 9) return false;  // keeps the value inside an int
  return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(i), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

state& current() {
  static state s;
  return s;
}

misc::log_fun& verbose_log() {
  static misc::log_fun log = misc::create_log_fun(std::nullopt, nullptr, "CORVAN_VERBOSE_LEVEL");
  return log;
}

int verbosity() { return verbose_log().level(); }

void reset() {
  current().include_dirs.clear();
  set_verbosity(misc::level_of_env("CORVAN_VERBOSE_LEVEL"));
}

const char* version() { return config::version; }

void print_version(const std::string& name) {
  throw exit_request{0, misc::sprintf_string("%s version %s\n", name.c_str(), version()), ""};
}

entry option_version(const std::string& program_name) {
  return {"--version", no_arg_action([program_name] { print_version(program_name); }),
          " Print version number and exit"};
}

entry option_include_dir() {
  return {"-I", string_action([](const std::string& dir) { current().include_dirs.push_back(dir); }),
          "<dir> Add <dir> to the list of include directories (where to search files)"};
}

entry option_verbose_incr() {
  return {"-v", no_arg_action([] { set_verbosity(verbosity() + 1); }), " Increase verbosity level by 1"};
}

entry option_verbose_set() {
  return {"--verbose", int_action([](int n) { set_verbosity(n); }), "<n> Set verbosity level to n"};
}

std::string help_text(const std::string& program_name, const std::vector<entry>& table) {
  const std::vector<entry> all = with_help(table);
  std::size_t width = 0;
  for (const entry& e : all) width = std::max(width, e.keyword.size() + argument_column(e.doc));
  std::string out = misc::sprintf_string("Usage: %s [options] [arguments]", program_name.c_str()) + "\n";
  for (const entry& e : all) {
    std::string doc = e.doc;
    if (!doc.empty()) {
      const std::size_t c = argument_column(doc);
      const std::size_t pad = width - e.keyword.size() - c;
      doc = doc.substr(0, c) + std::string(pad, ' ') + doc.substr(c);
    }
    out += "  " + e.keyword + " " + doc + "\n";
  }
  return out;
}

std::pair<std::vector<std::string>, std::vector<std::string>> parse(const std::vector<entry>& table,
                                                                    const std::vector<std::string>& argv) {
  const std::string program = argv.empty() ? "" : argv[0];
  const auto fail = [&](const std::string& line) { throw exit_request{2, "", line + help_text(program, table)}; };
  std::vector<std::string> anonymous;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& word = argv[i];
    const auto it = std::find_if(table.begin(), table.end(), [&](const entry& e) { return e.keyword == word; });
    if (it == table.end()) {
      if (word == "-help" || word == "--help") throw exit_request{0, help_text(program, table), ""};
      if (!word.empty() && word[0] == '-')
        fail(misc::sprintf_string("%s: unknown option `%s'.\n", program.c_str(), word.c_str()));
      anonymous.push_back(word);
      continue;
    }
    if (const auto* run = std::get_if<no_arg_action>(&it->action)) {
      if (*run) (*run)();
      else throw exit_request{0, help_text(program, table), ""};
      continue;
    }
    if (i + 1 >= argv.size())
      fail(misc::sprintf_string("%s: option `%s' needs an argument.\n", program.c_str(), word.c_str()));
    const std::string& argument = argv[++i];
    if (const auto* take = std::get_if<string_action>(&it->action)) {
      (*take)(argument);
    } else if (!is_integer(argument)) {
      fail(misc::sprintf_string("%s: wrong argument `%s'; option `%s' expects %s.\n", program.c_str(),
                                argument.c_str(), word.c_str(), "an integer"));
    } else {
      std::get<int_action>(it->action)(std::stoi(argument));
    }
  }
  std::vector<std::string> dirs = current().include_dirs;
  dirs.emplace_back(".");
  return {dirs, anonymous};
}

}  // namespace cvn::options
