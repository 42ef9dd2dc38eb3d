#pragma once
// Command-line options shared by the system's tools: option tables, the exact help text, and the common
// entries (version, include directories, verbosity).
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/misc.h"

namespace cvn::options {

using no_arg_action = std::function<void()>;
using string_action = std::function<void(const std::string&)>;
using int_action = std::function<void(int)>;

/// One option: its keyword, what it does with its argument, and its documentation (argument placeholder
/// first, e.g. "<dir> Add <dir> ...", or a leading space when there is no argument).
struct entry {
  std::string keyword;
  std::variant<no_arg_action, string_action, int_action> action;
  std::string doc;
};

/// Asks the tool to end now with this status, after writing the texts. Thrown by --version, --help and
/// command-line errors; only the program's entry point catches it.
struct exit_request {
  int status;
  std::string out;  // for standard output
  std::string err;  // for standard error
};

/// Process-wide option state: the include directories, in command-line order.
struct state {
  std::vector<std::string> include_dirs;
};

/// The process-wide state.
[[nodiscard]] state& current();
/// The driver's log function; its level is read from CORVAN_VERBOSE_LEVEL on first use (0 when unset or
/// not an integer) and changed by -v / --verbose.
[[nodiscard]] misc::log_fun& verbose_log();
/// The current verbosity level.
[[nodiscard]] int verbosity();
/// Empties the include directories and re-reads the verbosity (for tools that parse twice, and tests).
void reset();

/// The version text of this build.
[[nodiscard]] const char* version();

/// Writes "%s version %s\n" on standard output and ends the process with status 0 (throws exit_request).
[[noreturn]] void print_version(const std::string& name);

/// ("--version", no argument, " Print version number and exit").
[[nodiscard]] entry option_version(const std::string& program_name);
/// ("-I", directory): adds an include directory.
[[nodiscard]] entry option_include_dir();
/// ("-v", no argument): adds 1 to the verbosity level.
[[nodiscard]] entry option_verbose_incr();
/// ("--verbose", integer): sets the verbosity level.
[[nodiscard]] entry option_verbose_set();

/// The help text: usage header, then one aligned line per entry ("-help" and "--help" appended).
[[nodiscard]] std::string help_text(const std::string& program_name, const std::vector<entry>& table);

/// Runs the table over argv (argv[0] is the program name). Returns (include directories then ".",
/// anonymous arguments). Throws exit_request for --help, --version and errors.
[[nodiscard]] std::pair<std::vector<std::string>, std::vector<std::string>> parse(
    const std::vector<entry>& table, const std::vector<std::string>& argv);

}  // namespace cvn::options
