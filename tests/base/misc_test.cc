#include "base/misc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "base/base_types.h"

namespace cvn::misc {
namespace {

TEST(Misc, LogFunctionLevelsPrefixAndLaziness) {
  ::unsetenv("CVN_TEST_LOG_LEVEL");
  std::string out;
  auto [log, set_level] = create_log_fun_with_set("env", [&](const std::string& s) { out += s; }, "CVN_TEST_LOG_LEVEL");
  int calls = 0;
  log([&] { ++calls; return std::string("hidden"); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(calls, 0) << "a disabled level must not build its message";
  log([] { return std::string("x\n"); }, 0);
  EXPECT_EQ(out, "[env] x\n");
  out.clear();
  set_level(2);
  log([] { return std::string("m"); }, 2, std::string("f.c:3"));
  EXPECT_EQ(out, "[env][f.c:3] m");

  std::string plain;
  auto untagged = create_log_fun(std::nullopt, [&](const std::string& s) { plain += s; }, "CVN_TEST_LOG_LEVEL");
  untagged([] { return std::string("x\n"); }, -3);
  EXPECT_EQ(plain, "x\n") << "no tag and no location: the message unchanged";
}

TEST(Misc, LevelOfEnvironmentIsZeroUnlessDecimal) {
  ::setenv("CVN_TEST_LEVEL", "abc", 1);
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), 0);
  ::setenv("CVN_TEST_LEVEL", "3", 1);
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), 3);
  ::setenv("CVN_TEST_LEVEL", "-2", 1);
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), -2);
  ::setenv("CVN_TEST_LEVEL", "+3", 1);
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), 3);
  ::setenv("CVN_TEST_LEVEL", "2147483647", 1);
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), 2147483647);
  ::setenv("CVN_TEST_LEVEL", "-2147483648", 1);
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), -2147483647 - 1);
  ::setenv("CVN_TEST_LEVEL", "2x", 1);
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), 0);
  ::setenv("CVN_TEST_LEVEL", "99999999999999999999", 1);
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), 0);
  ::unsetenv("CVN_TEST_LEVEL");
  EXPECT_EQ(level_of_env("CVN_TEST_LEVEL"), 0);
}

TEST(Misc, Lists) {
  using v = std::vector<std::string>;
  EXPECT_EQ(list_remove_doubles(v{"a", "b", "a"}), (v{"b", "a"}));
  EXPECT_TRUE(list_equal_member(v{"a", "b", "b"}, v{"b", "a"}));
  EXPECT_FALSE(list_in_list(v{"a", "c"}, v{"a", "b"}));
  EXPECT_TRUE(list_is_prefix(v{}, v{}));
  EXPECT_TRUE(list_is_prefix(v{"a"}, v{"a", "b"}));
  EXPECT_FALSE(list_is_prefix(v{"a", "b"}, v{"a"}));
  EXPECT_FALSE(list_is_prefix(v{"b"}, v{"a", "b"}));
}

TEST(Misc, StringEditing) {
  EXPECT_EQ(replace_in_string("..", " .. ", "1...2"), "1 .. .2");
  EXPECT_EQ(replace_in_string("..", " .. ", "[1..n]."), "[1 .. n].");
  EXPECT_EQ(replace_in_string("abc", "x", "ab"), "ab");
  using v = std::vector<std::string>;
  EXPECT_EQ(split_string(",a,,b,", ","), (v{"a", "b"}));
  EXPECT_EQ(split_string(",a,,b,", ",", true), (v{"", "a", "", "b"}));
  EXPECT_EQ(split_string("a b;c", " ;"), (v{"a", "b", "c"}));
  EXPECT_EQ(escape_double_quotes("a\"b\\"), "a\\\"b\\\\");
}

TEST(Misc, Latin1CaseMapping) {
  EXPECT_EQ(lowercase("AbC\xC9\xD7"), "abc\xE9\xD7") << "the multiplication sign has no lower case";
  EXPECT_EQ(uppercase("a\xE9\xF7\xFF"), "A\xC9\xF7\xFF");
  EXPECT_EQ(lowercase("Z\xC0\xDE"), "z\xE0\xFE") << "the ends of both ranges";
  EXPECT_EQ(uppercase("z\xE0\xFE"), "Z\xC0\xDE");
  EXPECT_EQ(capitalize("lib"), "Lib");
  EXPECT_EQ(capitalize(""), "");
}

TEST(Misc, WholeFiles) {
  const std::string name = ::testing::TempDir() + "misc_test_file";
  std::string bytes = "a\r\nb";
  bytes += '\0';
  bytes += std::string(5000, 'z');
  write_file(name, bytes);
  EXPECT_EQ(string_of_file(name), bytes) << "read back byte for byte, NUL and CR included";
  try {
    (void)string_of_file("/nonexistent/dir/f.cvn");
    FAIL();
  } catch (const Sys_error& e) {
    EXPECT_EQ(e.printed(), "Sys_error(\"/nonexistent/dir/f.cvn: No such file or directory\")");
  }
  EXPECT_THROW(write_file("/nonexistent/dir/out.alg", "x"), Sys_error);
  EXPECT_THROW((void)string_of_file("/"), Sys_error);
}

TEST(Misc, SprintfString) {
  EXPECT_EQ(sprintf_string("%s version %s\n", "cvnconv", "alpha-000"), "cvnconv version alpha-000\n");
  EXPECT_EQ(sprintf_string("%s", std::string(10000, 'x').c_str()).size(), 10000u);
  EXPECT_EQ(sprintf_string("%d", 5), "5");
}

TEST(Misc, WordTableFindsEachWordByItsIndexOnly) {
  const std::string high = "\xe9t\xe9";
  const std::string longest(word_table::longest, 'x');
  const word_table t({"in", "int", "is", high, "data", longest, "dato"});
  EXPECT_EQ(t.find("in"), 0);
  EXPECT_EQ(t.find("int"), 1);
  EXPECT_EQ(t.find("is"), 2);
  EXPECT_EQ(t.find(high), 3);
  EXPECT_EQ(t.find("data"), 4);
  EXPECT_EQ(t.find(longest), 5);
  EXPECT_EQ(t.find("dato"), 6);
  // Same length and first byte, a prefix, a longer word, another case, nothing at all.
  for (const std::string w : {"it", "dat", "datas", "datu", "Data", "\xe9t\xe8", "", "i"})
    EXPECT_EQ(t.find(w), -1) << w;
  EXPECT_EQ(t.find(longest + "x"), -1);
  EXPECT_THROW(word_table({std::string_view()}), base_types::Internal_error);
}

}  // namespace
}  // namespace cvn::misc
