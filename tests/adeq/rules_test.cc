// Duration and constraint rule texts and the files written from them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "adeq/adeq_constraints.h"
#include "adeq/adeq_durations.h"
#include "base/base_types.h"
#include "base/misc.h"

namespace cvn {
namespace {

using adeq_durations::data_med_rules;
using adeq_durations::opn_opr_rules;

TEST(DurationRules, Texts) {
  EXPECT_EQ(opn_opr_rules::string_of_rules({}), "");
  EXPECT_EQ(opn_opr_rules::string_of_rules({{{"a", "b"}, {"p"}, 3.0}}), "a b / p = 3");
  EXPECT_EQ(opn_opr_rules::string_of_rules({{{"f"}, {"cpu"}, 2.9}, {{"g"}, {"cpu"}, -2.9}}), "f / cpu = 2\ng / cpu = -2")
      << "truncated toward zero, no final line end";
  EXPECT_EQ(data_med_rules::string_of_rule({{"float"}, {"bus"}, {1.0, 4.7}}), "float / bus = 1 + 4");
  EXPECT_EQ(data_med_rules::string_of_rule({{"float"}, {"bus"}, {std::nullopt, 3.0}}), "float / bus = 3");
  EXPECT_EQ(adeq_durations::string_of_truncated(1e30), "9223372036854775807");
  EXPECT_EQ(adeq_durations::string_of_truncated(-0.5), "0");
  // From 2^63 up, below -2^63 and for NaN a plain conversion would be undefined.
  EXPECT_EQ(adeq_durations::string_of_truncated(9223372036854775808.0), "9223372036854775807");
  EXPECT_EQ(adeq_durations::string_of_truncated(-1e30), "-9223372036854775808");
  EXPECT_EQ(adeq_durations::string_of_truncated(std::nan("")), "0");
}

TEST(DurationRules, FileHasNoFinalLineEnd) {
  const std::string name = ::testing::TempDir() + "rules_test.fd";
  opn_opr_rules::file_of_rules({{{"f"}, {"App.cpu"}, 12.7}, {{"g"}, {"App.cpu"}, 1.0}}, name);
  EXPECT_EQ(misc::string_of_file(name), "f / App.cpu = 12\ng / App.cpu = 1");
  EXPECT_THROW(opn_opr_rules::file_of_rules({}, "/nonexistent/dir/x.fd"), Sys_error);
}

TEST(ConstraintRules, Texts) {
  using adeq_constraints::constraint_rule;
  using adeq_constraints::sign;
  EXPECT_EQ(adeq_constraints::string_of_constraint_rules({}), "");
  EXPECT_EQ(adeq_constraints::string_of_constraint_rule({sign::Plus, {"p1", "p2"}, {"main.a"}}), "p1, p2 + main.a ;\n");
  EXPECT_EQ(adeq_constraints::string_of_constraint_rules(
                {{sign::Minus, {"*"}, {"*"}}, {sign::Plus, {"Arch.p1"}, {"main.r_in", "main.filt"}}}),
            "* - * ;\nArch.p1 + main.r_in, main.filt ;\n");
}

TEST(ConstraintRules, ExpressionElements) {
  using v = std::vector<std::string>;
  EXPECT_EQ(adeq_constraints::expr_to_list("Lib.Sub.filter.f1"), (v{"Lib.Sub.filter", "f1"}));
  EXPECT_EQ(adeq_constraints::expr_to_list("main..a."), (v{"main", "a"}));
  EXPECT_EQ(adeq_constraints::expr_to_list("a.Lib"), (v{"a", "Lib."}));
  EXPECT_EQ(adeq_constraints::expr_to_list("Z.z1"), v{"Z.z1"}) << "Z starts a module name too";
  EXPECT_EQ(adeq_constraints::expr_to_list(""), v{});
}

TEST(ConstraintRules, WildcardMatching) {
  using adeq_constraints::match_expr;
  EXPECT_TRUE(match_expr("*", ""));
  EXPECT_TRUE(match_expr("*", "a.b.c"));
  for (const char* name : {"ab", "axb", "a.b"}) EXPECT_TRUE(match_expr("a*b", name)) << name;
  EXPECT_FALSE(match_expr("a*b", "abc"));
  EXPECT_TRUE(match_expr("a.b", "a.b"));
  EXPECT_FALSE(match_expr("a.b", "axb")) << "a dot is a literal dot";
  EXPECT_FALSE(match_expr("a.b", "a.bc")) << "the whole name must match";
  EXPECT_TRUE(match_expr("*a*a*", "banana"));
  EXPECT_FALSE(match_expr("*a*x", "banana"));
}

class FilesOfRules : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::path(::testing::TempDir()) / ("cts_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string name_of(const std::string& key) const { return (dir / ("app_" + key + ".cts")).string(); }
  std::filesystem::path dir;
};

TEST_F(FilesOfRules, OneFilePerModule) {
  using adeq_constraints::sign;
  adeq_constraints::files_of_rules({{sign::Plus, {"Arch.p1", "Other.q", "Arch.p2"}, {"main.r_in", "main.filt"}},
                                    {sign::Minus, {"Arch.p1"}, {"x"}}},
                                   [&](const std::string& key) { return name_of(key); });
  EXPECT_EQ(misc::string_of_file(name_of("Arch")),
            "* - * ;\np1 + main.r_in, main.filt ;\np2 + main.r_in, main.filt ;\np1 - x ;\n");
  EXPECT_EQ(misc::string_of_file(name_of("Other")), "* - * ;\nq + main.r_in, main.filt ;\n");
  EXPECT_THROW(adeq_constraints::files_of_rules({{sign::Plus, {"Arch.p1"}, {"a"}}},
                                                [&](const std::string& key) { return (dir / "no" / key).string(); }),
               Sys_error);
}

TEST_F(FilesOfRules, OperatorWithoutModuleFailsAfterEarlierFiles) {
  using adeq_constraints::sign;
  const auto run = [&](const std::string& bad) {
    adeq_constraints::files_of_rules({{sign::Plus, {"Arch.p1"}, {"a"}}, {sign::Plus, {bad}, {"b"}}},
                                     [&](const std::string& key) { return name_of(key); });
  };
  for (const char* bad : {"p1", "Arch.", "Arch", "arch.p1"}) {
    try {
      run(bad);
      ADD_FAILURE() << bad;
    } catch (const Failure& e) {
      EXPECT_EQ(e.message(), std::string("Constraint operator \"") + bad + "\" names no architecture module.");
    }
    EXPECT_EQ(misc::string_of_file(name_of("Arch")), "* - * ;\np1 + a ;\n") << "the file written before stays";
  }
}

}  // namespace
}  // namespace cvn
