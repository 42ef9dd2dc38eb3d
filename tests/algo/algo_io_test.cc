// The readers of the algorithm language: whole files and the five string readers with their messages.
#include "algo/algo_io.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/loc.h"
#include "base/misc.h"

namespace cvn::algo_io {
namespace {

namespace alt = algo_lang_types;

std::string temp_file(const std::string& name, std::string_view text) {
  const std::string path = testing::TempDir() + name;
  misc::write_file(path, text);
  return path;
}

template <class Reader>
std::string failure(Reader reader, std::string_view text) {
  try {
    (void)reader(text);
  } catch (const Failure& f) {
    return f.message();
  }
  return "no failure";
}

std::string problem(const std::string& path) {
  try {
    (void)algo_decl_of_file(path);
  } catch (const loc::Problem& p) {
    return loc::string_of_problem(p);
  }
  return "no problem";
}

TEST(AlgoReaders, WholeFiles) {
  const std::string good = temp_file("good.alg", "function f() {\n  x -> y;\n}\nfunction g() { }\n");
  const auto decls = algo_decl_of_file(good);
  ASSERT_EQ(decls.size(), 2U);
  EXPECT_EQ(decls[1].def_name, "g");
  EXPECT_EQ(decls[0].where.begin.file, good);
  EXPECT_TRUE(algo_decl_of_file(temp_file("empty.alg", "")).empty());

  // The syntax error is reported at the lexer's position, just after the refused ";".
  const std::string bad = temp_file("bad.alg", "function f() {\n  let r = ;\n}\n");
  EXPECT_EQ(problem(bad), "File \"" + bad + "\", line 2, character 11:\nError: Syntax error");
  // Lexical errors keep their own message.
  const std::string tab = temp_file("tab.alg", "function f() {\n\tx -> y;\n}\n");
  EXPECT_EQ(problem(tab), "File \"" + tab + "\", line 2, character 1:\nError: Invalid character \t");
  EXPECT_THROW((void)algo_decl_of_file(testing::TempDir() + "missing.alg"), Sys_error);
  EXPECT_THROW((void)algo_decl_of_file(temp_file("big.alg", "constant c() { int x = 99999999999999999999 }")),
               Failure);
}

TEST(AlgoReaders, StringsReadBack) {
  EXPECT_EQ(alt::dump_port_dispatchs(parallel_options_of_string("(x*, y=)")), "(x*, y=)");
  EXPECT_EQ(alt::dump_seq_options(sequence_options_of_string("(o -> i, z/)")), "(o -> i, z/)");
  EXPECT_EQ(alt::dump_def_call(def_call_of_string("M.f(n, 2)")), "M.f(n, 2)");
  EXPECT_EQ(alt::dump_expr(expr_of_string("n * (m + 1)")), "(n * (m + 1))");
  EXPECT_EQ(params_of_string("(n, m)"), (std::vector<std::string>{"n", "m"}));
  EXPECT_TRUE(params_of_string("").empty());
}

// The character position is the lexer's offset just after the token where reading stopped: after the
// refused token, after an invalid character, or the length of the string at its end.
TEST(AlgoReaders, StringMessagesNameTheCharacterAfterTheError) {
  EXPECT_EQ(failure(parallel_options_of_string, "(x*, y)"), "Parallel option list \"(x*, y)\" invalid at character 7.");
  EXPECT_EQ(failure(parallel_options_of_string, "x*"), "Parallel option list \"x*\" invalid at character 1.");
  EXPECT_EQ(failure(sequence_options_of_string, "(o -> i, z)"),
            "Sequence option list \"(o -> i, z)\" invalid at character 11.");
  EXPECT_EQ(failure(def_call_of_string, "M.f(1,"), "Syntax error in definition call: M.f(1,\" invalid at character 6.");
  EXPECT_EQ(failure(expr_of_string, "a + * b"), "Expression \"a + * b\" invalid at character 5.");
  EXPECT_EQ(failure(expr_of_string, ""), "Expression \"\" invalid at character 0.");
  EXPECT_EQ(failure(expr_of_string, "a ? b"), "Expression \"a ? b\" invalid at character 3.");
  EXPECT_EQ(failure(expr_of_string, "n\n+ \"x"), "Expression \"n\n+ \"x\" invalid at character 6.");
  EXPECT_EQ(failure(expr_of_string, "(a) )"), "Expression \"(a) )\" invalid at character 5.");
  EXPECT_EQ(failure(params_of_string, "(a, 1)"), "Parameter list \"(a, 1)\" invalid at character 5.");
  // The text is quoted whole, up to its end: here an invalid NUL byte, and what follows it.
  EXPECT_EQ(failure(expr_of_string, std::string("a\0b", 3)),
            std::string("Expression \"a") + '\0' + "b\" invalid at character 2.");
  EXPECT_EQ(failure(params_of_string, std::string("(a,\0)", 5)),
            std::string("Parameter list \"(a,") + '\0' + ")\" invalid at character 4.");
  // An expression nested too deeply is refused where it begins: the list that holds the 1000th level, here
  // behind the sum and five outer braces.
  const std::string deep = "n + " + std::string(1005, '{') + "1" + std::string(1005, '}');
  EXPECT_EQ(failure(expr_of_string, deep), "Expression \"" + deep + "\" invalid at character 9.");
  // A number too large stays the lexer's failure.
  EXPECT_EQ(failure(expr_of_string, "99999999999999999999"), "int_of_string");
}

}  // namespace
}  // namespace cvn::algo_io
