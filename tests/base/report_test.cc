// Locations, located problems, element problems and attribute sets: the texts users read.
#include <gtest/gtest.h>

#include <sstream>

#include "base/additional.h"
#include "base/checks.h"
#include "base/loc.h"

namespace cvn {
namespace {

loc::position at(std::string_view file, int line, int bol, int offset) {
  return {loc::intern(file), line, bol, offset};
}

TEST(Loc, RendersSpansAndPoints) {
  EXPECT_EQ(loc::string_of_loc({at("a.cvn", 3, 20, 24), at("a.cvn", 3, 20, 29)}),
            "File \"a.cvn\", line 3, characters 4-9:\n");
  EXPECT_EQ(loc::string_of_loc({at("a.cvn", 3, 6, 10), at("a.cvn", 3, 6, 10)}),
            "File \"a.cvn\", line 3, character 4:\n");
  EXPECT_EQ(loc::string_of_loc(loc::none), "File \"\", line -1, characters 0-1:\n");
  EXPECT_EQ(loc::string_of_loc({at("", 2, 0, 7), at("", 2, 0, 9)}), "File \"\", line -1, characters 7-9:\n")
      << "without a file name the column is the raw offset";
  EXPECT_EQ(loc::string_of_loc({at("d/x \"y\".cvn", 1, 0, 0), at("d/x \"y\".cvn", 1, 0, 0)}),
            "File \"d/x \"y\".cvn\", line 1, character 0:\n")
      << "the file name is written unescaped";
  std::ostringstream sink;
  loc::print(sink, {at("f", 1, 0, 0), at("f", 1, 0, 2)});
  EXPECT_EQ(sink.str(), "File \"f\", line 1, characters 0-2:\n");
}

TEST(Loc, FileNamesAreInternedOnce) {
  const loc::file_ref a("dir/a.cvn");
  const loc::file_ref b(std::string("dir/a.cvn"));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.name(), "dir/a.cvn");
  EXPECT_NE(a, loc::file_ref("dir/b.cvn"));
  EXPECT_EQ(loc::intern("dir/a.cvn").data(), a.name().data()) << "one copy of each name for the whole run";
  EXPECT_TRUE(loc::file_ref("").empty());
  EXPECT_EQ(loc::file_ref(""), loc::dummy_pos.file);
  EXPECT_FALSE(a.empty());
  std::ostringstream out;
  out << a;
  EXPECT_EQ(out.str(), "dir/a.cvn");
}

TEST(Loc, OffsetsNearTheLargestText) {
  // Columns and widths are computed in 64 bits from the 32-bit fields.
  constexpr int top = static_cast<int>(loc::max_text_size);
  EXPECT_EQ(loc::string_of_loc({at("f", 7, 0, top - 4), at("f", 7, 0, top)}),
            "File \"f\", line 7, characters 2147483643-2147483647:\n");
  EXPECT_EQ(loc::string_of_loc({at("", 7, 0, top - 1), at("", 7, 0, top)}),
            "File \"\", line -1, characters 2147483646-2147483647:\n");
}

TEST(Loc, ProblemTextAndException) {
  const loc::location where{at("f", 2, 5, 5), at("f", 2, 5, 5)};
  EXPECT_EQ(loc::string_of_problem(where, "Syntax error"), "File \"f\", line 2, character 0:\nError: Syntax error");
  try {
    loc::raise_problem(where, "Syntax error");
    FAIL();
  } catch (const loc::Problem& p) {
    EXPECT_EQ(p.message(), "Syntax error");
    EXPECT_EQ(p.where(), where);
    EXPECT_EQ(loc::string_of_problem(p), "File \"f\", line 2, character 0:\nError: Syntax error");
  }
  EXPECT_EQ(loc::get_pos_info(at("g", 4, 10, 13)), (loc::pos_info{"g", 4, 3}));
}

TEST(Checks, ResultTexts) {
  using result = checks::check_result<std::string>;
  const auto show = [](const std::string& s) { return "<" + s + ">"; };
  EXPECT_EQ(checks::string_of_check_result(show, result{}), "No error.\nNo warning.\n");
  const result one = checks::make_check_result<std::string>({{"p", "bad"}});
  EXPECT_EQ(checks::string_of_check_result(show, one), "1 error:\n<p>: bad\nNo warning.\n");
  const result two_warnings{{}, {{"a", "w1"}, {"b", "w2"}}};
  EXPECT_EQ(checks::string_of_check_result(show, two_warnings), "No error.\n2 warnings:\n<a>: w1\n<b>: w2\n");
  EXPECT_TRUE(checks::is_empty(result{}));
  EXPECT_FALSE(checks::is_empty(two_warnings));
}

TEST(Checks, MergeAndFoldKeepItemOrder) {
  using result = checks::check_result<int>;
  const auto check = [](int i) {
    return result{{{i, "e" + std::to_string(i)}}, i % 2 == 0 ? std::vector<checks::problem<int>>{{i, "w"}}
                                                             : std::vector<checks::problem<int>>{}};
  };
  const result initial{{{0, "initial"}}, {}};
  const result r = checks::fold_check(check, std::vector<int>{1, 2, 3}, initial);
  ASSERT_EQ(r.errors.size(), 4u);
  EXPECT_EQ(r.errors[0].subject, 1);
  EXPECT_EQ(r.errors[2].subject, 3);
  EXPECT_EQ(r.errors[3].message, "initial");
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(r.warnings[0].subject, 2);
}

TEST(Checks, WarningPrinterIsReplaceable) {
  std::vector<std::string> seen;
  checks::set_print_warning_fun([&](const std::string& m) { seen.push_back(m); });
  ::testing::internal::CaptureStderr();
  checks::print_warning("no match");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(seen, std::vector<std::string>{"no match"});
}

TEST(Additional, OrdersAndEscapes) {
  const auto set = additional::of_list({{"b", "x\"y"}, {"a", "1"}});
  EXPECT_EQ(additional::to_string(set), "b=\"x\\\"y\", a=\"1\"");
  const auto list = additional::to_list(set);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].first, "a");
  EXPECT_EQ(additional::get("zz", set), std::nullopt);
  EXPECT_EQ(additional::get("k", additional::of_list({{"k", "1"}, {"k", "2"}})), "2");
  const auto older = additional::empty();
  const auto newer = additional::add("k", "v", older);
  EXPECT_TRUE(older.empty()) << "adding leaves the old set unchanged";
  EXPECT_EQ(additional::to_string(newer), "k=\"v\"");
  EXPECT_EQ(additional::one_to_string({"n", "a\\b"}), "n=\"a\\\\b\"");
}

}  // namespace
}  // namespace cvn
