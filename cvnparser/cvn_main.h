#pragma once
// The converter's run: its option table, the chosen action, and the failure report.
#include <string>
#include <variant>
#include <vector>

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
