#include "cvnparser/cvn_main.h"

#include <gtest/gtest.h>

#include "base/base_types.h"
#include "base/loc.h"

namespace cvn::cvn_main {
namespace {

TEST(FatalReport, NamesEachKindOfFailure) {
  EXPECT_EQ(fatal_report(Failure("File \"a.cvn\", line 3, character 7:\nError: Syntax error")),
            "Fatal error: exception Failure(\"File \"a.cvn\", line 3, character 7:\nError: Syntax error\")\n")
      << "the message is written verbatim, quotes and line ends unescaped";
  EXPECT_EQ(fatal_report(Sys_error("x.cvn: No such file or directory")),
            "Fatal error: exception Sys_error(\"x.cvn: No such file or directory\")\n");
  EXPECT_EQ(fatal_report(base_types::Internal_error("bad state")),
            "Fatal error: exception Base_types.Internal_error(\"bad state\")\n");
  EXPECT_EQ(fatal_report(Not_found()), "Fatal error: exception Not_found\n");
}

TEST(OptionTable, LastActionWins) {
  Action action = Action_algo{};
  const auto table = option_table("cvnconv", action);
  const auto [dirs, files] = options::parse(table, {"cvnconv", "--dur", "--arch", "A", "f.cvn", "--cons", "--split", "p"});
  ASSERT_TRUE(std::holds_alternative<Action_split>(action));
  EXPECT_EQ(std::get<Action_split>(action).prefix, "p");
  (void)options::parse(table, {"cvnconv", "--dur", "--arch", "A"});
  ASSERT_TRUE(std::holds_alternative<Action_arch>(action));
  EXPECT_EQ(std::get<Action_arch>(action).name, "A");
  EXPECT_EQ(files, std::vector<std::string>{"f.cvn"});
}

}  // namespace
}  // namespace cvn::cvn_main
