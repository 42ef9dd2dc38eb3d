#pragma once
// The converter's run: its option table, the chosen action, and the failure report.
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cvnparser/cvn_types.h"
#include "driver/options.h"

namespace cvn::cvn_main {

struct Action_algo {};
struct Action_dur {};
struct Action_cons {};
struct Action_arch {
  std::string name;
};
struct Action_split {
  std::string prefix;
};
/// The one action a run performs; the last action option given wins.
using Action = std::variant<Action_algo, Action_dur, Action_cons, Action_arch, Action_split>;

/// Reads the application file `file_name` (not searched along the include directories) into its syntax
/// tree. Throws Sys_error when the file cannot be read, loc::Problem for a lexical or syntax error.
[[nodiscard]] cvn_types::cvn_file parse_cvn(const std::string& file_name);

/// The syntax tree of an application file's text: every ".." rewritten as " .. ", then lexed and parsed with
/// positions carrying `file_name` as given. Throws loc::Problem.
[[nodiscard]] cvn_types::cvn_file parse_cvn_string(std::string text, std::string_view file_name);

/// The converter's option table, whose actions set `action`.
[[nodiscard]] std::vector<options::entry> option_table(const std::string& program_name, Action& action);

/// The whole run over the command line; returns the exit status. Writes results on standard output and the
/// one failure report on standard error.
int run(int argc, char** argv);

/// The run without the failure report: parses the command line, reads the file and performs the action.
/// Throws exit_request and the system's failures.
void main(const std::vector<std::string>& argv);

/// The report line of an uncaught failure: "Fatal error: exception %s\n".
[[nodiscard]] std::string fatal_report(const std::exception& e);

}  // namespace cvn::cvn_main
