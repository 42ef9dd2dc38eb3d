// Name fixing and the translation of durations and constraints.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/misc.h"
#include "cvnparser/cvn_main.h"

namespace cvn::cvn_main {
namespace {

namespace ct = cvn_types;
namespace at = algo_types;

TEST(NameFixing, KeywordsGetThePrefixInAnyCase) {
  EXPECT_EQ(fix_port_name("in"), "p_in");
  EXPECT_EQ(fix_port_name("In"), "p_in");
  EXPECT_EQ(fix_ref_name("delay"), "r_delay");
  EXPECT_EQ(fix_def_name(std::string("Delay")), "d_delay");
  EXPECT_EQ(fix_med_name("gate"), "m_gate");
  EXPECT_EQ(fix_param_name("in"), "parin") << "the parameter prefix has no underscore";
  EXPECT_EQ(fix_port_name("p_in"), "p_in") << "a name already prefixed is only lower-cased";
  EXPECT_EQ(fix_port_name("Speed"), "speed");
  EXPECT_EQ(fix_opr_type_name("Architecture"), "ot_architecture");
  EXPECT_EQ(fix_name("x_", "In"), "x_In") << "fix_name itself keeps the case";
}

TEST(NameFixing, LibraryNamesAndExpressions) {
  EXPECT_EQ(fix_def_name(ct::cvn_name(ct::Lib_name{"myLib", "Out"})), ct::cvn_name(ct::Lib_name{"MyLib", "d_out"}));
  EXPECT_EQ(fix_qmed_type_name(ct::cvn_name(ct::Name{"Bus"})), ct::cvn_name(ct::Name{"bus"}));

  const loc::location where{{loc::intern("f"), 1, 0, 3}, {loc::intern("f"), 1, 0, 12}};
  const at::expr e = at::make_expr(
      where, at::Plus{at::make_expr(loc::none, at::Ident{"out"}),
                      at::make_expr(loc::none, at::List{{at::make_expr(loc::none, at::Int{2}),
                                                         at::make_expr(loc::none, at::Neg{at::make_expr(loc::none, at::Ident{"N"})})}})});
  const at::expr fixed = fix_expr_names(e);
  EXPECT_EQ(fixed.where(), where);
  const auto& sum = std::get<at::Plus>(at::desc_of(fixed));
  EXPECT_EQ(std::get<at::Ident>(at::desc_of(sum.left)).name, "parout");
  const auto& list = std::get<at::List>(at::desc_of(sum.right));
  EXPECT_EQ(std::get<at::Int>(at::desc_of(list.items[0])).value, 2);
  EXPECT_EQ(std::get<at::Ident>(at::desc_of(std::get<at::Neg>(at::desc_of(list.items[1])).operand)).name, "n");
  EXPECT_EQ(list.items[0].node(), std::get<at::List>(at::desc_of(std::get<at::Plus>(at::desc_of(e)).right)).items[0].node())
      << "an unchanged subexpression is shared";

  // Nothing to fix: the very same node comes back, at every depth.
  const at::expr plain = at::make_expr(
      where, at::Div{at::make_expr(loc::none, at::Bars{at::make_expr(loc::none, at::Ident{"n"})}),
                     at::make_expr(loc::none, at::List{{at::make_expr(loc::none, at::Int{2})}})});
  EXPECT_EQ(fix_expr_names(plain).node(), plain.node());
  // One fixed leaf: its ancestors are new nodes at their old places, its untouched sibling is shared.
  const at::expr deep = at::make_expr(
      where, at::Minus{at::make_expr(loc::none, at::Int{1}), at::make_expr(where, at::Bars{at::make_expr(loc::none, at::Ident{"In"})})});
  const at::expr deep_fixed = fix_expr_names(deep);
  ASSERT_NE(deep_fixed.node(), deep.node());
  EXPECT_EQ(deep_fixed.where(), where);
  const auto& before = std::get<at::Minus>(at::desc_of(deep));
  const auto& after = std::get<at::Minus>(at::desc_of(deep_fixed));
  EXPECT_EQ(after.left.node(), before.left.node());
  EXPECT_EQ(after.right.where(), where);
  EXPECT_EQ(std::get<at::Ident>(at::desc_of(std::get<at::Bars>(at::desc_of(after.right)).operand)).name, "parin");
  EXPECT_EQ(std::get<at::Ident>(at::desc_of(std::get<at::Bars>(at::desc_of(before.right)).operand)).name, "In")
      << "the input is never changed";
}

TEST(NameFixing, OperationNamesOfMemberPaths) {
  using path = std::vector<std::string>;
  EXPECT_EQ(fix_opn_name(path{}), std::nullopt);
  EXPECT_EQ(fix_opn_name(path{"Main", "in"}), "main.r_in");
  EXPECT_EQ(fix_opn_name(path{"Filter"}), "filter") << "one name names a definition";
  EXPECT_EQ(fix_opn_name(path{"Delay"}), "d_delay");
  EXPECT_EQ(fix_opn_name(path{"A", "B", "Out"}), "a.b.r_out") << "written in path order";
  EXPECT_EQ(fix_opn_name(path{"Delay", "Delay"}), "d_delay.r_delay");
}

TEST(Durations, ItemsLoweredTypesFixedAndQualified) {
  const std::vector<ct::cvn_extra_durations> entries = {
      ct::Opr_durations{"CPU", {{"Fft", 12.7}, {"\xC9T\xC9", 2.0}}},
      ct::Med_durations{"Bus", {{"Float", 3.0}}},
      ct::Opr_durations{"in", {{"Fft", -2.9}}},
  };
  const auto [opr, med] = translate_durs(std::string("App"), entries);
  EXPECT_EQ(adeq_durations::opn_opr_rules::string_of_rules(opr),
            "fft / App.cpu = 12\n\xE9t\xE9 / App.cpu = 2\nfft / App.ot_in = -2");
  EXPECT_EQ(adeq_durations::data_med_rules::string_of_rules(med), "float / App.bus = 3");
  const auto [plain, unused] = translate_durs(std::nullopt, entries);
  EXPECT_EQ(plain[0].names_b, std::vector<std::string>{"cpu"});
}

class SplitFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::path(::testing::TempDir()) / ("split_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

TEST_F(SplitFiles, CharacteristicsAndConstraints) {
  ct::cvn_file file;
  file.cvn_durations = {ct::Opr_durations{"CPU", {{"Fft", 12.7}}}};
  file.cvn_groups = {{"g", {{"Main", "in"}, {}, {"Main", "Filt"}}}, {"g", {{"Other"}}}};
  file.cvn_constraints = {{"g", {ct::Lib_name{"Arch", "p1"}, ct::Lib_name{"Arch", "p2"}}}};
  const std::string prefix = (dir / "app").string();
  output_characteristics(file, prefix);
  EXPECT_EQ(misc::string_of_file(prefix + ".fd"), "fft / App.cpu = 12");
  EXPECT_EQ(misc::string_of_file(prefix + ".cd"), "");
  output_constraints(file, prefix);
  EXPECT_EQ(misc::string_of_file(prefix + "_Arch.cts"),
            "* - * ;\np1 + main.r_in, main.filt ;\np2 + main.r_in, main.filt ;\n");

  ct::cvn_file unqualified;
  unqualified.cvn_groups = {{"g", {{"a"}}}};
  unqualified.cvn_constraints = {{"g", {ct::Name{"p1"}}}};
  EXPECT_EQ(string_of_constraints(unqualified), "p1 + a ;\n");
  EXPECT_THROW(output_constraints(unqualified, prefix), Failure);
}

}  // namespace
}  // namespace cvn::cvn_main
