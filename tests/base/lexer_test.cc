// The common lexer of the newer languages and the qualified-name grammar.
#include "base/lexer.h"

#include <gtest/gtest.h>

#include "base/misc.h"
#include "base/tokens.h"

namespace cvn::lexer {
namespace {

using k = token_kind;

std::vector<token> all(std::string_view text) {
  lexer lex(text, "f.alg");
  std::vector<token> out;
  for (;;) {
    out.push_back(lex.main());
    if (out.back().kind == k::Eof) return out;
  }
}

std::vector<token_kind> kinds(std::string_view text) {
  std::vector<token_kind> out;
  for (const token& t : all(text)) out.push_back(t.kind);
  return out;
}

std::string problem_text(std::string_view text) {
  try {
    (void)all(text);
  } catch (const loc::Problem& p) {
    return loc::string_of_problem(p);
  }
  return "no problem";
}

TEST(CommonLexer, KeywordsInAnyCaseAndIdentifiers) {
  EXPECT_EQ(kinds("operator type Proc"), (std::vector<k>{k::Operator, k::Type, k::Uident, k::Eof}));
  EXPECT_EQ(kinds("Type OPERATOR sAmPp"), (std::vector<k>{k::Type, k::Operator, k::Sampp, k::Eof}));
  const auto ts = all("a.b M.x a_1B");
  EXPECT_EQ(ts[0].kind, k::Lident);
  EXPECT_EQ(ts[1].kind, k::Dot);
  EXPECT_EQ(ts[3].kind, k::Uident);
  EXPECT_EQ(ts[3].text, "M");
  EXPECT_EQ(ts[6].text, "a_1B");
  EXPECT_TRUE(is_keyword("Delay"));
  EXPECT_TRUE(is_keyword("architecture"));
  EXPECT_FALSE(is_keyword("delays"));
  EXPECT_FALSE(is_keyword("d"));
  // Each keyword as its own kind, whatever its case; names that share a keyword's length and first letter
  // are identifiers.
  for (std::size_t i = 0; i < keywords.size(); ++i) {
    const std::string lower = keywords[i];
    const std::string upper = misc::uppercase(lower);
    EXPECT_EQ(kinds(lower + " " + upper), (std::vector<k>{static_cast<k>(i), static_cast<k>(i), k::Eof})) << lower;
    std::string near = lower;
    near.back() = near.back() == 'z' ? 'y' : static_cast<char>(near.back() + 1);
    EXPECT_FALSE(is_keyword(near)) << near;
  }
  EXPECT_FALSE(is_keyword("\xc9tat"));
}

TEST(CommonLexer, LongestMatch) {
  EXPECT_EQ(kinds("-->->-"), (std::vector<k>{k::Long_arrow, k::Arrow, k::Minus, k::Eof}));
  const auto numbers = all("-12 - 12 1e5 12abc 3. 4.25");
  EXPECT_EQ(numbers[0].int_value, -12);
  EXPECT_EQ(numbers[1].kind, k::Minus);
  EXPECT_EQ(numbers[2].int_value, 12);
  EXPECT_EQ(numbers[3].int_value, 1);
  EXPECT_EQ(numbers[4].text, "e5");
  EXPECT_EQ(numbers[5].int_value, 12);
  EXPECT_EQ(numbers[6].text, "abc");
  EXPECT_EQ(numbers[7].kind, k::Float);
  EXPECT_DOUBLE_EQ(numbers[7].float_value, 3.0);
  EXPECT_DOUBLE_EQ(numbers[8].float_value, 4.25);
  EXPECT_EQ(kinds("_actions _post"), (std::vector<k>{k::Action_marker, k::Lident, k::Post_marker, k::Eof}));
}

TEST(CommonLexer, StringAndCodeLiterals) {
  const auto ts = all("\"a\\\"b\\\\c\\n\" <{ x }\n} }>");
  EXPECT_EQ(ts[0].kind, k::String);
  EXPECT_EQ(ts[0].text, "a\"b\\c\\n") << "only \\\" and \\\\ are escapes";
  EXPECT_EQ(ts[1].kind, k::Code);
  EXPECT_EQ(ts[1].text, " x }\n} ");
  EXPECT_EQ(ts[0].where.begin.offset, 0);
  EXPECT_EQ(ts[0].where.end.offset, 11);
}

TEST(CommonLexer, PositionsCountLineEndsInsideLiterals) {
  const auto ts = all("\"a\nb\" <{\n\n}> x\n  y");
  EXPECT_EQ(ts[2].where.begin.line, 4);
  EXPECT_EQ(ts[2].where.begin.offset - ts[2].where.begin.bol, 3);
  EXPECT_EQ(ts[3].where.begin.line, 5);
  EXPECT_EQ(ts[3].where.begin.offset - ts[3].where.begin.bol, 2);
  EXPECT_EQ(ts[3].where.begin.file, "f.alg");
}

TEST(CommonLexer, LexicalErrors) {
  EXPECT_EQ(problem_text("a\tb"), "File \"f.alg\", line 1, character 2:\nError: Invalid character \t");
  EXPECT_EQ(problem_text("x\r\n"), "File \"f.alg\", line 1, character 2:\nError: Invalid character \r");
  EXPECT_EQ(problem_text("\n_x"), "File \"f.alg\", line 2, character 1:\nError: Invalid character _");
  // The character is in the message as it stands, a NUL byte too, whichever way the token is read.
  const std::string nul("a\0b", 3);
  EXPECT_EQ(problem_text(nul), std::string("File \"f.alg\", line 1, character 2:\nError: Invalid character ") + '\0');
  lexer lex(nul, "f.alg");
  token_view v;
  lex.next(v);
  try {
    lex.next(v);
    ADD_FAILURE() << "a NUL byte was read as a token";
  } catch (const loc::Problem& p) {
    EXPECT_EQ(p.message(), std::string("Invalid character ") + '\0');
  }
  EXPECT_EQ(problem_text("ok \"abc"), "File \"f.alg\", line 1, character 7:\nError: String not terminated.");
  EXPECT_EQ(problem_text("<{\nabc"), "File \"f.alg\", line 2, character 3:\nError: Code not terminated.");
  EXPECT_THROW((void)all("99999999999999999999"), Failure);
  EXPECT_THROW((void)all("4611686018427387904"), Failure) << "integers are 63-bit";
  EXPECT_EQ(all("-4611686018427387904")[0].int_value, -4611686018427387904LL);
}

// Runs inside literals stop at NUL bytes, which are kept one at a time as any other byte, in long literals too.
TEST(CommonLexer, NulBytesInsideLiterals) {
  const std::string nul(1, '\0');
  const std::string run(100000, 'a');
  const auto ts = all("\"" + run + nul + nul + "\\\"" + nul + "\n\" <{" + nul + "}" + run + nul + "}>");
  ASSERT_EQ(ts.size(), 3u);
  EXPECT_EQ(ts[0].text, run + nul + nul + "\"" + nul + "\n");
  EXPECT_EQ(ts[0].where.end.offset, 100008);
  EXPECT_EQ(ts[1].kind, k::Code);
  EXPECT_EQ(ts[1].text, nul + "}" + run + nul);
  EXPECT_EQ(ts[1].where.begin.line, 2);
  EXPECT_EQ(ts[1].where.begin.offset, 100009);
  EXPECT_EQ(ts[1].where.end.offset, 200016);
  EXPECT_EQ(problem_text("x\n\"" + run + nul + "\\"),
            "File \"f.alg\", line 2, character 100003:\nError: String not terminated.");
  EXPECT_EQ(problem_text("<{" + nul + run + "}"),
            "File \"f.alg\", line 1, character 100004:\nError: Code not terminated.");
}

// next() reads what main() reads; its identifier texts stay valid while the lexer lives, a literal's until the
// next literal.
TEST(CommonLexer, ViewsReadAsCopies) {
  const char* text = "Let x1 M \"s\\\"\" -7 2.5 <{c\n}> --> y\n \"t\" z";
  const auto copies = all(text);
  lexer lex(text, "f.alg");
  std::vector<token_view> views;
  std::vector<std::string> literals;
  for (;;) {
    token_view v;
    lex.next(v);
    if (v.kind == k::String || v.kind == k::Code) literals.emplace_back(v.text);
    views.push_back(v);
    if (v.kind == k::Eof) break;
  }
  ASSERT_EQ(views.size(), copies.size());
  for (std::size_t i = 0; i < views.size(); ++i) {
    EXPECT_EQ(views[i].kind, copies[i].kind) << i;
    EXPECT_EQ(views[i].where, copies[i].where) << i;
    EXPECT_EQ(views[i].int_value, copies[i].int_value) << i;
    EXPECT_EQ(views[i].float_value, copies[i].float_value) << i;
    if (copies[i].kind != k::String && copies[i].kind != k::Code) {
      EXPECT_EQ(views[i].text, copies[i].text) << i;
    }
  }
  EXPECT_EQ(literals, (std::vector<std::string>{"s\"", "c\n", "t"}));
  EXPECT_EQ(views[1].text, "x1");
  EXPECT_EQ(lex.input().substr(static_cast<std::size_t>(views[1].where.begin.offset), 2), "x1");
  EXPECT_EQ(views[2].text, "M");
  EXPECT_EQ(views[0].kind, k::Let);
  lexer bad("a \"b", "f.alg");
  token_view v;
  bad.next(v);
  EXPECT_THROW(bad.next(v), loc::Problem);
}

TEST(QualifiedNames, Entries) {
  using base_types::qualified_name;
  using base_types::simple_name;
  EXPECT_EQ(qname_of_string("x"), base_types::qname(simple_name{"x"}));
  EXPECT_EQ(qname_of_string("Lib.f_1"), base_types::qname(qualified_name{"Lib", "f_1"}));
  for (const char* bad : {"", "X", "x.y", "Lib.", "Lib.F", "a b", "in", "Lib.in"})
    EXPECT_THROW((void)qname_of_string(bad), tokens::Error) << bad;
  lexer name_lex("abc", "");
  EXPECT_EQ(tokens::parse_name(name_lex), "abc");
  lexer module_lex("Abc", "");
  EXPECT_EQ(tokens::parse_module_name(module_lex), "Abc");
  lexer wrong("abc", "");
  EXPECT_THROW((void)tokens::parse_module_name(wrong), tokens::Error);
  EXPECT_EQ(tokens::Error().printed(), "Tokens.Error");
}

}  // namespace
}  // namespace cvn::lexer
