// Token classes, longest-match consequences, positions and lexical failures of the application-file lexer.
#include "cvnparser/cvn_lexer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/base_types.h"
#include "base/misc.h"

namespace {

using cvn::cvn_lexer::Cvn_lexer;
using cvn::cvn_parser::parser;

// One token as text: the class and value for IDENT, STRING, INT and FLOAT, the token's own name otherwise.
std::string show(const parser::symbol_type& t) {
  switch (t.kind()) {
    case parser::symbol_kind::S_IDENT: return "IDENT(" + t.value.str.str() + ")";
    case parser::symbol_kind::S_STRING: return "STRING(" + t.value.str.str() + ")";
    case parser::symbol_kind::S_INT: return "INT(" + std::to_string(t.value.integer) + ")";
    case parser::symbol_kind::S_FLOAT: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "FLOAT(%g)", t.value.real);
      return buf;
    }
    default: {
      std::string name = parser::symbol_name(t.kind());
      if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.size() - 2);
      return name;
    }
  }
}

// Every token up to the end of input, separated by spaces (the end itself left out).
std::string lex(const std::string& text) {
  Cvn_lexer lexer(text, "t.cvn");
  std::string out;
  for (;;) {
    const auto t = lexer.lexer();
    if (t.kind() == parser::symbol_kind::S_YYEOF) return out;
    if (!out.empty()) out += ' ';
    out += show(t);
  }
}

// The report of the lexical failure met while lexing the whole text.
std::string lex_failure(const std::string& text, const std::string& file = "t.cvn") {
  try {
    Cvn_lexer lexer(text, file);
    while (lexer.lexer().kind() != parser::symbol_kind::S_YYEOF) {
    }
  } catch (const cvn::loc::Problem& p) {
    return cvn::loc::string_of_problem(p);
  }
  return "no failure";
}

TEST(CvnLexer, KeywordsAreCaseSensitiveAndLookedUpAfterTheIdentifier) {
  EXPECT_EQ(lex("condI condO CONDI Def def relative union disjunction true false on"),
            "condI condO IDENT(CONDI) IDENT(Def) def relative union disjunction true false on");
  // The identifier is matched first: a keyword followed by "-" or a digit is one identifier.
  EXPECT_EQ(lex("def-x data1 include_ main"), "IDENT(def-x) IDENT(data1) IDENT(include_) main");
}

TEST(CvnLexer, IdentifiersMayContainMinus) {
  EXPECT_EQ(lex("a-b x-1 abc- a_b1 _x"), "IDENT(a-b) IDENT(x-1) IDENT(abc-) IDENT(a_b1) IDENT(_x)");
}

TEST(CvnLexer, SignedNumbersWinTheLongestMatch) {
  EXPECT_EQ(lex("3-4"), "INT(3) INT(-4)");
  EXPECT_EQ(lex("+1 -12 - 1 + 2"), "INT(1) INT(-12) - INT(1) + INT(2)");
  EXPECT_EQ(lex("n - 1 n -1"), "IDENT(n) - INT(1) IDENT(n) INT(-1)");
  EXPECT_EQ(lex("007 -0"), "INT(7) INT(0)");
}

TEST(CvnLexer, FloatsNeedAPointOrALowerCaseExponent) {
  EXPECT_EQ(lex("1. 12.e3 1e5 1e+2 1e-2 -2.5 +0.5e1"),
            "FLOAT(1) FLOAT(12000) FLOAT(100000) FLOAT(100) FLOAT(0.01) FLOAT(-2.5) FLOAT(5)");
  EXPECT_EQ(lex("1E5"), "INT(1) IDENT(E5)");
  EXPECT_EQ(lex("1.5.6"), "FLOAT(1.5) . INT(6)");
  EXPECT_EQ(lex(".5"), ". INT(5)");
  // An "e" without digits is not an exponent: the number stops before it.
  EXPECT_EQ(lex("1e 2ex"), "INT(1) IDENT(e) INT(2) IDENT(ex)");
}

TEST(CvnLexer, Symbols) {
  EXPECT_EQ(lex("-> <- \\ ? ! @ = / - | [ ] < > { } ( ) & : , ; . + *"),
            "-> <- \\ ? ! @ = / - | [ ] < > { } ( ) & : , ; . + *");
  EXPECT_EQ(lex("a->b<-c"), "IDENT(a-) > IDENT(b) <- IDENT(c)");
  EXPECT_EQ(lex("x.y/z"), "IDENT(x) . IDENT(y) / IDENT(z)");
}

TEST(CvnLexer, BlanksCommentsAndStrings) {
  EXPECT_EQ(lex(" \t\r\n a\r\n"), "IDENT(a)");
  EXPECT_EQ(lex("a # rest; of \"line\"\nb"), "IDENT(a) # IDENT(b)");
  EXPECT_EQ(lex("a # no final line feed"), "IDENT(a) #");
  EXPECT_EQ(lex("\"two\nlines\" \"\""), "STRING(two\nlines) STRING()");
  // The closing run of quotes is taken whole; the value loses only the first and the last character.
  EXPECT_EQ(lex("\"a\"\" x"), "STRING(a\") IDENT(x)");
  // An unclosed string runs to the end of input and loses its last character.
  EXPECT_EQ(lex("\"abc def"), "STRING(abc de)");
}

TEST(CvnLexer, PositionsCountLinesButNotLineFeedsInStrings) {
  Cvn_lexer lexer("ab\n  cd \"x\ny\" e\n", "dir/t.cvn");
  const auto ab = lexer.lexer();
  EXPECT_EQ(cvn::loc::string_of_loc(lexer.located(ab.location)), "File \"dir/t.cvn\", line 1, characters 0-2:\n");
  const auto cd = lexer.lexer();
  EXPECT_EQ(cd.location.begin, 5);
  EXPECT_EQ(cvn::loc::string_of_loc(lexer.located(cd.location)), "File \"dir/t.cvn\", line 2, characters 2-4:\n");
  const auto str = lexer.lexer();  // spans a line feed that is not counted
  EXPECT_EQ(cvn::loc::string_of_loc(lexer.located(str.location)), "File \"dir/t.cvn\", line 2, characters 5-10:\n");
  const auto e = lexer.lexer();
  EXPECT_EQ(cvn::loc::string_of_loc(lexer.located(e.location)), "File \"dir/t.cvn\", line 2, characters 11-12:\n");
  EXPECT_EQ(lexer.current().offset, 15);
  const auto end = lexer.lexer();
  EXPECT_EQ(end.kind(), parser::symbol_kind::S_YYEOF);
  EXPECT_EQ(lexer.current().line, 3);
  EXPECT_EQ(lexer.current().bol, 16);
  EXPECT_EQ(lexer.current().offset, 16);
}

// After a release, the last token and those after it are still located on their own lines.
TEST(CvnLexer, TokensAfterAReleaseKeepTheirLines) {
  Cvn_lexer lexer("a\nb\n\n  c \"s\nt\" d\ne", "t.cvn");
  for (int i = 0; i < 2; ++i) (void)lexer.lexer();
  const auto c = lexer.lexer();
  lexer.release();
  EXPECT_EQ(c.value.str.view(), "c");
  EXPECT_EQ(cvn::loc::string_of_loc(lexer.located(c.location)), "File \"t.cvn\", line 4, characters 2-3:\n");
  const auto s = lexer.lexer();
  const auto d = lexer.lexer();
  EXPECT_EQ(cvn::loc::string_of_loc(lexer.located(s.location)), "File \"t.cvn\", line 4, characters 4-9:\n");
  EXPECT_EQ(cvn::loc::string_of_loc(lexer.located(d.location)), "File \"t.cvn\", line 4, characters 10-11:\n");
  lexer.release();
  const auto e = lexer.lexer();
  EXPECT_EQ(e.value.str.view(), "e");
  EXPECT_EQ(cvn::loc::string_of_loc(lexer.located(e.location)), "File \"t.cvn\", line 5, characters 0-1:\n");
  // A span across lines, from a token kept by the release to the last one.
  const auto span = lexer.located({d.location.begin, e.location.end});
  EXPECT_EQ(cvn::loc::string_of_loc(span), "File \"t.cvn\", line 4, characters 10-13:\n");
  EXPECT_EQ(span.begin.bol, 5);
  EXPECT_EQ(span.end.line, 5);
  EXPECT_EQ(span.end.bol, 17);
  EXPECT_EQ(span.end.offset, 18);
}

TEST(CvnLexer, CharactersThatStartNoTokenFailAtTheirOwnPosition) {
  EXPECT_EQ(lex_failure("ab\n c % d"), "File \"t.cvn\", line 2, character 3:\nError: lexing: empty token");
  for (const std::string& bad : std::vector<std::string>{"$", "^", "~", "'", "\x01", std::string(1, '\0'), "\xe9", "\x7f"}) {
    EXPECT_EQ(lex_failure("x " + bad), "File \"t.cvn\", line 1, character 2:\nError: lexing: empty token")
        << int(static_cast<unsigned char>(bad[0]));
  }
}

TEST(CvnLexer, ALoneQuoteAtTheEndFailsAfterTheQuote) {
  EXPECT_EQ(lex_failure("a\n  \""), "File \"t.cvn\", line 2, character 3:\nError: lexing: empty token");
}

TEST(CvnLexer, IntegersMustFitSignedSixtyThreeBits) {
  EXPECT_EQ(lex("4611686018427387903 -4611686018427387904"), "INT(4611686018427387903) INT(-4611686018427387904)");
  EXPECT_EQ(lex("000000000000000000000000000012"), "INT(12)");
  // Located where the lexer stands: just after the integer.
  EXPECT_EQ(lex_failure("x 4611686018427387904 y"), "File \"t.cvn\", line 1, character 21:\nError: int_of_string");
  EXPECT_EQ(lex_failure("-4611686018427387905"), "File \"t.cvn\", line 1, character 20:\nError: int_of_string");
  EXPECT_EQ(lex_failure("99999999999999999999999"), "File \"t.cvn\", line 1, character 23:\nError: int_of_string");
}

// Every token with its location, up to the end of input or to the lexical failure, which ends the text.
std::string lex_located(Cvn_lexer& lexer) {
  std::string out;
  try {
    for (;;) {
      const auto t = lexer.lexer();
      const auto where = lexer.located(t.location);
      out += show(t) + "@" + std::to_string(where.begin.offset) + "-" + std::to_string(where.end.offset) + ":" +
             std::to_string(where.end.line) + "/" + std::to_string(where.end.bol) + " ";
      if (t.kind() == parser::symbol_kind::S_YYEOF) return out;
    }
  } catch (const cvn::loc::Problem& p) {
    return out + cvn::loc::string_of_problem(p);
  }
}

// A file is read in pieces of 64 kB, rewriting ".." as it goes: the tokens and positions must be those of
// the whole text rewritten at once, also when a ".." or a lone dot falls on the boundary of a piece.
TEST(CvnLexer, AFileScannedAsItIsReadMatchesTheRewrittenText) {
  const std::string path = (std::filesystem::temp_directory_path() / "cvn_lexer_test_input.cvn").string();
  const std::string pad(65535, ' ');
  for (const std::string& text :
       {std::string("def memory m [1..4] ...\n.... x.y 1.5 ."), pad + "..4", pad + ".5 a", pad + ".", pad + " ..",
        pad + pad + "1..2\n.." + pad + "...", std::string("\"a..b\" 1..")}) {
    cvn::misc::write_file(path, text);
    Cvn_lexer from_text(cvn::misc::replace_in_string("..", " .. ", text), path);
    Cvn_lexer from_file(Cvn_lexer::from_file, path);
    EXPECT_EQ(lex_located(from_file), lex_located(from_text)) << text.substr(text.size() > 20 ? text.size() - 20 : 0);
  }
  std::remove(path.c_str());
}

// Tokens longer than a piece of the file (strings, comments, identifiers, blanks, numbers) are read as from the
// whole text at once; NUL bytes in a comment or a string, which end a match, leave it one token with its value
// and location, a failure after it located as ever.
TEST(CvnLexer, TokensLongerThanAPieceOfTheFile) {
  const std::string path = (std::filesystem::temp_directory_path() / "cvn_lexer_test_long.cvn").string();
  const std::string big(200000, 'x');
  const std::string zeros(140000, '0');
  const std::string nul(1, '\0');
  const std::string string_text = "a \"" + big + nul + "\n" + big + "\"\"\n b";
  const std::string comment_text = "# " + big + nul + nul + big + "\n c";
  for (const std::string& text :
       {string_text, comment_text, "#" + nul + big + nul, "#" + nul + "\n", "\"" + big + nul + big,
        "N" + big + "-" + big + " x.." + big, std::string(150000, ' ') + "\t\r" + std::string(150000, ' ') + "z",
        "-" + zeros + "12.5e1 +" + zeros + "7", big + "\n" + big + " \"", "\"" + nul + "\n\" #" + nul + big + "\n%"}) {
    cvn::misc::write_file(path, text);
    Cvn_lexer from_text(cvn::misc::replace_in_string("..", " .. ", text), path);
    Cvn_lexer from_file(Cvn_lexer::from_file, path);
    const std::string tokens = lex_located(from_file);
    EXPECT_EQ(tokens, lex_located(from_text)) << text.substr(0, 20);
    if (text == string_text) {
      // The line feed inside the string is not counted; the one after it is.
      EXPECT_EQ(tokens, "IDENT(a)@0-1:1/0 STRING(" + big + nul + "\n" + big +
                            "\")@2-400007:1/0 IDENT(b)@400009-400010:2/400008 end of file@400010-400010:2/400008 ");
    } else if (text == comment_text) {
      EXPECT_EQ(tokens, "#@0-400004:1/0 IDENT(c)@400006-400007:2/400005 end of file@400007-400007:2/400005 ");
    } else if (text.back() == '"') {
      EXPECT_EQ(tokens, "IDENT(" + big + ")@0-200000:1/0 IDENT(" + big + ")@200001-400001:2/200001 "
                        "File \"" + path + "\", line 2, character 200002:\nError: lexing: empty token");
    } else if (text.back() == '%') {
      EXPECT_EQ(tokens, "STRING(" + nul + "\n)@0-4:1/0 #@5-200007:1/0 "
                        "File \"" + path + "\", line 2, character 0:\nError: lexing: empty token");
    }
  }
  std::remove(path.c_str());
}

TEST(CvnLexer, AFileThatCannotBeOpenedIsASystemError) {
  try {
    Cvn_lexer lexer(Cvn_lexer::from_file, "no/such/file.cvn");
    FAIL();
  } catch (const cvn::Sys_error& e) {
    EXPECT_EQ(e.printed(), "Sys_error(\"no/such/file.cvn: No such file or directory\")");
  }
}

}  // namespace
