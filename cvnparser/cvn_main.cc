#include "cvnparser/cvn_main.h"

#include <cstdio>
#include <iostream>

#include "base/base_types.h"
#include "base/loc.h"
#include "base/misc.h"

namespace cvn::cvn_main {

std::vector<options::entry> option_table(const std::string& program_name, Action& action) {
  using options::no_arg_action;
  using options::string_action;
  return {
      options::option_version(program_name),
      options::option_include_dir(),
      {"--algo", no_arg_action([&action] { action = Action_algo{}; }),
       " Dump algorithms on standard output (default action)"},
      {"--arch", string_action([&action](const std::string& name) { action = Action_arch{name}; }),
       "<name> Dump architecture definition <name> (with types) on standard output"},
      {"--dur", no_arg_action([&action] { action = Action_dur{}; }), " Dump durations on standard output"},
      {"--cons", no_arg_action([&action] { action = Action_cons{}; }), " Dump constraints on standard output"},
      {"--split", string_action([&action](const std::string& prefix) { action = Action_split{prefix}; }),
       "<prefix> Dump algorithms, architectures, durations, and constraints into files with prefix <prefix>"},
  };
}

void main(const std::vector<std::string>& argv) {
  Action action = Action_algo{};
  const auto [incl, anonymous] = options::parse(option_table(argv.empty() ? "" : argv[0], action), argv);
  if (anonymous.empty()) return;
  try {
    // Reading the application file; its translations are chosen by `action`.
    const cvn_types::cvn_file file = parse_cvn(anonymous.front());
    (void)file;
    (void)incl;
  } catch (const loc::Problem& p) {
    // A located problem ends the run as a plain failure carrying its full report text.
    throw Failure(loc::string_of_problem(p));
  }
}

std::string fatal_report(const std::exception& e) {
  if (const auto* known = dynamic_cast<const error*>(&e)) return "Fatal error: exception " + known->printed() + "\n";
  return std::string("Fatal error: exception ") + e.what() + "\n";
}

int run(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv, argv + argc);
  try {
    main(args);
    std::cout.flush();
    return 0;
  } catch (const options::exit_request& exit) {
    std::cout << exit.out;
    std::cout.flush();
    std::cerr << exit.err;
    std::cerr.flush();
    return exit.status;
  } catch (const std::exception& e) {
    // What was written stays: standard output is flushed before the report.
    std::cout.flush();
    std::cerr << fatal_report(e);
    std::cerr.flush();
    return 2;
  }
}

}  // namespace cvn::cvn_main
