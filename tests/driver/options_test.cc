#include "driver/options.h"

#include <gtest/gtest.h>

namespace cvn::options {
namespace {

// Runs parse and returns the exit request it threw.
exit_request exit_of(const std::vector<entry>& table, const std::vector<std::string>& argv) {
  try {
    (void)parse(table, argv);
  } catch (const exit_request& e) {
    return e;
  }
  ADD_FAILURE() << "parse did not ask to exit";
  return {};
}

std::vector<entry> tool_table() {
  return {option_version("tool"), option_include_dir(), option_verbose_incr(), option_verbose_set()};
}

// The widest entry is "--verbose <n> ", so every documentation text proper starts in column 16.
const char* const tool_help =
    "Usage: tool [options] [arguments]\n"
    "  --version     Print version number and exit\n"
    "  -I <dir>      Add <dir> to the list of include directories (where to search files)\n"
    "  -v            Increase verbosity level by 1\n"
    "  --verbose <n> Set verbosity level to n\n"
    "  -help         Display this list of options\n"
    "  --help        Display this list of options\n";

class Options : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("CORVAN_VERBOSE_LEVEL");
    reset();
  }
};

TEST_F(Options, HelpAlignsEveryDocumentationText) {
  EXPECT_EQ(help_text("tool", tool_table()), tool_help);
  const exit_request help = exit_of(tool_table(), {"tool", "-help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, help_text("tool", tool_table()));
  EXPECT_EQ(help.err, "");
}

TEST_F(Options, ArgumentColumnRule) {
  // A documentation text without any space keeps its place; one starting with several spaces aligns on
  // the first non-space after the first space; one with nothing after its spaces, on its end.
  const std::vector<entry> table = {
      {"-a", no_arg_action([] {}), "x"}, {"-bb", no_arg_action([] {}), "   y"}, {"-c", no_arg_action([] {}), "z  "}};
  EXPECT_EQ(help_text("p", table),
            "Usage: p [options] [arguments]\n"
            "  -a x    \n"
            "  -bb     y\n"
            "  -c z    \n"
            "  -help   Display this list of options\n"
            "  --help  Display this list of options\n");
}

TEST_F(Options, IncludeDirectoriesInOrderThenDot) {
  const auto [dirs, anonymous] = parse(tool_table(), {"tool", "-I", "lib1", "f.cvn", "-I", "lib2", "g"});
  EXPECT_EQ(dirs, (std::vector<std::string>{"lib1", "lib2", "."}));
  EXPECT_EQ(anonymous, (std::vector<std::string>{"f.cvn", "g"}));
  reset();
  EXPECT_EQ(parse(tool_table(), {"tool"}).first, std::vector<std::string>{"."}) << "reset forgets them";
}

TEST_F(Options, Verbosity) {
  EXPECT_EQ(verbosity(), 0);
  (void)parse(tool_table(), {"tool", "-v", "-v"});
  EXPECT_EQ(verbosity(), 2);
  (void)parse(tool_table(), {"tool", "--verbose", "7"});
  EXPECT_EQ(verbosity(), 7);
  (void)parse(tool_table(), {"tool", "--verbose", "+90"});
  EXPECT_EQ(verbosity(), 90);
  for (const char* bad : {"-", "1234567890"}) EXPECT_EQ(exit_of(tool_table(), {"tool", "--verbose", bad}).status, 2) << bad;
  const exit_request wrong = exit_of(tool_table(), {"tool", "--verbose", "x1"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(wrong.out, "");
  EXPECT_EQ(wrong.err, "tool: wrong argument `x1'; option `--verbose' expects an integer.\n" +
                           help_text("tool", tool_table()));
  ::setenv("CORVAN_VERBOSE_LEVEL", "4", 1);
  reset();
  EXPECT_EQ(verbosity(), 4);
  ::setenv("CORVAN_VERBOSE_LEVEL", "abc", 1);
  reset();
  EXPECT_EQ(verbosity(), 0);
  ::unsetenv("CORVAN_VERBOSE_LEVEL");
}

TEST_F(Options, Errors) {
  const exit_request unknown = exit_of(tool_table(), {"tool", "f", "-x", "--version"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err, "tool: unknown option `-x'.\n" + help_text("tool", tool_table()));
  const exit_request missing = exit_of(tool_table(), {"tool", "-I"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "tool: option `-I' needs an argument.\n" + help_text("tool", tool_table()));
  const exit_request dash = exit_of(tool_table(), {"tool", "-"});
  EXPECT_EQ(dash.err.substr(0, 25), "tool: unknown option `-'.");
}

TEST_F(Options, VersionStopsAtOnce) {
  const exit_request version = exit_of(tool_table(), {"tool", "--version", "-x"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tool version alpha-000\n");
  std::vector<entry> other = {option_version("./bin/x")};
  EXPECT_EQ(exit_of(other, {"whatever", "--version"}).out, "./bin/x version alpha-000\n");
}

}  // namespace
}  // namespace cvn::options
