// The algorithm grammar: every entry, the grouping of expressions, matches, and what the grammar refuses.
#include "algo/algo_lang_parser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "algo/algo_lang_types.h"
#include "base/loc.h"

namespace cvn::algo_lang_parser {
namespace {

namespace alt = algo_lang_types;

std::string file(std::string_view text) {
  lexer::lexer lex(text, "f.alg");
  return alt::dump_algo_decl(parse_algo_decl(lex));
}

std::string expr(std::string_view text) {
  lexer::lexer lex(text, "");
  return alt::dump_expr(parse_expr(lex));
}

// The offset at which the entry refuses the text, or -1 when it accepts it.
template <class Entry>
std::int64_t refused_at(Entry entry, std::string_view text) {
  lexer::lexer lex(text, "");
  try {
    (void)entry(lex);
  } catch (const Error& e) {
    return e.where().offset;
  }
  return -1;
}

bool file_refused(std::string_view text) { return refused_at(parse_algo_decl, text) >= 0; }

TEST(AlgoGrammar, WholeFileWithEveryDeclaration) {
  const char* text =
      "constant c(n) { int x = 5, Float[n + 1] y [unit=\"m\\\"s\"] = {1, 2} }\n"
      "sensor s() { int o }\n"
      "actuator a { int i, int j }\n"
      "function f(n, m) {\n"
      "  in: int[n] i, bool c;\n"
      "  out: int o [];\n"
      "  let r = M.g(n * 2, 1) [period 4, parallel n (i*, o/), abstract, k=\"v\"];\n"
      "  let q = h() [sequence 3 (o -> i, c=)];\n"
      "  let p = h [];\n"
      "  i -> r.i, q.i, o;\n"
      "  r --> q;\n"
      "}\n"
      "DELAY d() { }\n";
  EXPECT_EQ(file(text),
            "constant c(n) {\n"
            "  int x = 5\n"
            "  Float[(n + 1)] y [unit=\"m\\\"s\"] = {1, 2}\n"
            "}\n"
            "sensor s() {\n"
            "  int o\n"
            "}\n"
            "actuator a() {\n"
            "  int i\n"
            "  int j\n"
            "}\n"
            "function f(n, m) {\n"
            "  in: int[n] i, bool c;\n"
            "  out: int o;\n"
            "  let r = M.g((n * 2), 1) [period 4, parallel n (i*, o/), abstract, k=\"v\"];\n"
            "  let q = h [sequence 3 (o -> i, c=)];\n"
            "  let p = h;\n"
            "  i -> r.i, q.i, o;\n"
            "  r --> q;\n"
            "}\n"
            "delay d() {\n"
            "}\n");
}

// Parts that the grammar builds separately and puts together later: expressions inside argument lists and
// options, several string literals, lists inside cases of nested matches, constants' values after sizes
// and attributes. Each part must land in its own place.
TEST(AlgoGrammar, NestedPartsLandInTheirPlaces) {
  EXPECT_EQ(file("constant c() { int[{1, {2}}] x [a=\"1\", b=\"2\"] = |n| - {3}, int y = 4 }\n"
                 "function f() {\n"
                 "  let r = g({1, {a, b}}, |n| * 2) [parallel {x} + 1 (i*), s=\"s\", sequence n (o -> i, j=), t=\"t\"];\n"
                 "  match c with\n"
                 "  | 0 -> let p = M.h(1) [period 2]; match d with | 5 -> a.o -> b.i, c.i; | 6 -> in: int[k] z;\n"
                 "  | 1 -> x -> y;\n"
                 "  let q = h(2);\n"
                 "}\n"),
            "constant c() {\n"
            "  int[{1, {2}}] x [a=\"1\", b=\"2\"] = (|n| - {3})\n"
            "  int y = 4\n"
            "}\n"
            "function f() {\n"
            "  let r = g({1, {a, b}}, (|n| * 2)) [parallel ({x} + 1) (i*), s=\"s\", sequence n (o -> i, j=), t=\"t\"];\n"
            "  match c with\n"
            "  | 0 ->\n"
            "    let p = M.h(1) [period 2];\n"
            "    match d with\n"
            "    | 5 ->\n"
            "      a.o -> b.i, c.i;\n"
            "    | 6 ->\n"
            "      in: int[k] z;\n"
            "    | 1 ->\n"
            "      x -> y;\n"
            "      let q = h(2);\n"
            "}\n");
  lexer::lexer l("f({1, 2}, (3))", "");
  EXPECT_EQ(alt::dump_def_call(parse_def_call(l)), "f({1, 2}, 3)");
}

TEST(AlgoGrammar, FileEdgeCases) {
  lexer::lexer empty("", "f.alg");
  EXPECT_TRUE(parse_algo_decl(empty).empty());
  EXPECT_EQ(file("\n  \n"), "");

  // A module-qualified definition name, kept as such.
  lexer::lexer qualified("function f() { let r = M.f; }", "f.alg");
  const auto decls = parse_algo_decl(qualified);
  const auto& ref = std::get<alt::Ref_decl>(decls.at(0).statements.at(0).desc);
  EXPECT_EQ(ref.def_name, (base_types::qname{base_types::qualified_name{"M", "f"}}));

  // Three destinations make one statement.
  lexer::lexer link("function f() { x -> a.i, b.i, y; }", "f.alg");
  const auto linked = parse_algo_decl(link);
  ASSERT_EQ(linked.at(0).statements.size(), 1U);
  const auto& data = std::get<alt::Data_link>(linked.at(0).statements[0].desc);
  EXPECT_EQ(data.source, (alt::port_path{std::nullopt, "x"}));
  EXPECT_EQ(data.destinations,
            (std::vector<alt::port_path>{{"a", "i"}, {"b", "i"}, {std::nullopt, "y"}}));

  // "parallel" may go without its parentheses, "sequence" may not.
  EXPECT_EQ(file("function f() { let r = g [parallel 2, parallel 3 ()]; }"),
            "function f() {\n  let r = g [parallel 2, parallel 3];\n}\n");
  EXPECT_TRUE(file_refused("function f() { let r = g [sequence 3]; }"));
  EXPECT_EQ(file("function f() { let r = g [sequence 3 ()]; }"), "function f() {\n  let r = g [sequence 3 ()];\n}\n");
}

TEST(AlgoGrammar, StatementsAfterAMatchBelongToItsLastCase) {
  EXPECT_EQ(file("function f() {\n"
                 "  in: int c;\n"
                 "  match c with\n"
                 "  | 1 -> let a = g ;\n"
                 "  | 2 -> let b = g ;\n"
                 "  b.o -> x;\n"
                 "}\n"),
            "function f() {\n"
            "  in: int c;\n"
            "  match c with\n"
            "  | 1 ->\n"
            "    let a = g;\n"
            "  | 2 ->\n"
            "    let b = g;\n"
            "    b.o -> x;\n"
            "}\n");
  // Without the leading bar, with an empty case, and a match inside a case: every later "|" and statement
  // goes to the innermost match.
  EXPECT_EQ(file("function f() { match c with 0 -> | 1 -> x -> y; match d with 1 -> y -> z; | 2 -> z -> w; w -> v; }"),
            "function f() {\n"
            "  match c with\n"
            "  | 0 ->\n"
            "  | 1 ->\n"
            "    x -> y;\n"
            "    match d with\n"
            "    | 1 ->\n"
            "      y -> z;\n"
            "    | 2 ->\n"
            "      z -> w;\n"
            "      w -> v;\n"
            "}\n");
  EXPECT_TRUE(file_refused("function f() { match c with }"));
  EXPECT_TRUE(file_refused("function f() { match c with | }"));
}

TEST(AlgoGrammar, Refusals) {
  EXPECT_TRUE(file_refused("function f() { } }"));              // nothing may follow the definitions
  EXPECT_TRUE(file_refused("function F() { }"));                // definition names are lower-case
  EXPECT_TRUE(file_refused("sensor s() { int x = 1 }"));        // only constants give values
  EXPECT_TRUE(file_refused("constant c() { int x = -a }"));     // no unary minus
  EXPECT_TRUE(file_refused("function f() { in: int x, ; }"));   // no trailing comma
  EXPECT_TRUE(file_refused("function f() { let r = g [period n]; }"));
  EXPECT_TRUE(file_refused("function f() { r --> q.a; }"));
  EXPECT_TRUE(file_refused("function f() { x -> y.z.w; }"));
  EXPECT_TRUE(file_refused("function f() { x -> ; }"));
  // Tokens of the other languages.
  EXPECT_TRUE(file_refused("operator f() { }"));
  EXPECT_TRUE(file_refused("function f() { _adeq }"));
  EXPECT_TRUE(file_refused("constant c() { int x = 1.5 }"));
  // The error is found at the refused token: the lexer is just after it.
  EXPECT_EQ(refused_at(parse_algo_decl, "function f() { x -> ; }"), 21);
  EXPECT_EQ(refused_at(parse_algo_decl, "function f() {"), 14);
}

TEST(AlgoGrammar, ExpressionsGroupByPrecedenceAndLeanLeft) {
  EXPECT_EQ(expr("a + b * c"), "(a + (b * c))");
  EXPECT_EQ(expr("a * b + c"), "((a * b) + c)");
  EXPECT_EQ(expr("a - b - c"), "((a - b) - c)");
  EXPECT_EQ(expr("a / b / c"), "((a / b) / c)");
  EXPECT_EQ(expr("a * b / c * d"), "(((a * b) / c) * d)");
  EXPECT_EQ(expr("a - b + c"), "((a - b) + c)");
  EXPECT_EQ(expr("a - (b - c)"), "(a - (b - c))");
  EXPECT_EQ(expr("((a))"), "a");
  EXPECT_EQ(expr("{1, n + 1, |x - 1|}"), "{1, (n + 1), |(x - 1)|}");
  EXPECT_EQ(expr("| |a| * 2|"), "|(|a| * 2)|");
  // A minus glued to digits belongs to the integer; any other leading minus is refused.
  EXPECT_EQ(expr("-5 * 2"), "(-5 * 2)");
  EXPECT_EQ(refused_at(parse_expr, "-a"), 1);
  EXPECT_EQ(refused_at(parse_expr, "- 5"), 1);
  EXPECT_EQ(refused_at(parse_expr, "a -1"), 4);  // "-1" is one integer token
  EXPECT_EQ(refused_at(parse_expr, "{}"), 2);
  EXPECT_EQ(refused_at(parse_expr, "a b"), 3);
  EXPECT_EQ(refused_at(parse_expr, "(a"), 2);
}

// A module is read with the same limit on nesting as an application file (see algo_types::max_expr_depth).
TEST(AlgoGrammar, ExpressionsNestAtMostTheMaximumDepth) {
  using wrap = std::string (*)(const std::string&);
  const wrap forms[] = {
      [](const std::string& e) { return "|" + e + "|"; },
      [](const std::string& e) { return "{0, " + e + "}"; },
      [](const std::string& e) { return e + " + 1"; },       // leans left
      [](const std::string& e) { return "1 - (" + e + ")"; },
  };
  for (const wrap f : forms) {
    std::string e = "x";
    for (std::uint32_t level = 1; level < algo_types::max_expr_depth; ++level) e = f(e);
    EXPECT_NO_THROW((void)expr(e));
    const std::string text = "function f() { in: int[" + f(e) + "] i; }";
    lexer::lexer lex(text, "f.alg");
    try {
      (void)parse_algo_decl(lex);
      ADD_FAILURE() << "accepted " << text.substr(0, 40);
    } catch (const loc::Problem& p) {
      const std::string where = "File \"f.alg\", line 1, characters 23-";  // the outermost operation
      EXPECT_EQ(loc::string_of_problem(p).substr(0, where.size()), where);
      EXPECT_EQ(p.message(), "Expression nested too deeply (more than 1000 levels)");
    }
  }
  EXPECT_EQ(expr(std::string(100000, '(') + "x" + std::string(100000, ')')), "x");
}

// Matches nest only in the last case of a match, so every match of a chain is open at once.
TEST(AlgoGrammar, MatchesNestAtMostAThousandLevels) {
  const auto nested = [](int levels) {
    std::string text = "function f() {\n";
    for (int i = 0; i < levels; ++i) text += "match c with | 1 -> a -> b; | 2 ->\n";
    return text + "a -> b;\n}\n";
  };
  EXPECT_FALSE(file_refused(nested(1000)));
  const std::string text = nested(1001);
  lexer::lexer lex(text, "f.alg");
  try {
    (void)parse_algo_decl(lex);
    ADD_FAILURE() << "accepted";
  } catch (const loc::Problem& p) {
    // The first match too many, on the last line of matches.
    EXPECT_EQ(loc::string_of_problem(p),
              "File \"f.alg\", line 1002, characters 0-5:\nError: Matches nested too deeply (more than 1000 levels)");
  }
  std::string apart;  // closed matches are not counted
  for (int i = 0; i < 1001; ++i) apart += "function f() { match c with | 1 -> a -> b; }\n";
  EXPECT_FALSE(file_refused(apart));
}

TEST(AlgoGrammar, ExpressionsAndDeclarationsAreLocated) {
  lexer::lexer lex("a + b * c", "");
  const algo_types::expr e = parse_expr(lex);
  EXPECT_EQ(e.where().begin.offset, 0);
  EXPECT_EQ(e.where().end.offset, 9);
  const auto& product = std::get<algo_types::Plus>(algo_types::desc_of(e)).right;
  EXPECT_EQ(product.where().begin.offset, 4);

  lexer::lexer f("function f() {\n  let r = g ;\n  in: int x [a=\"b\"];\n}\nsensor s() { int o }\n"
                 "constant k() { int v = 12 }\nfunction g() { in: ; }",
                 "f.alg");
  const auto decls = parse_algo_decl(f);
  EXPECT_EQ(loc::string_of_loc(decls.at(0).where), "File \"f.alg\", line 1, characters 0-51:\n");
  EXPECT_EQ(loc::string_of_loc(decls.at(0).statements.at(0).where), "File \"f.alg\", line 2, characters 2-13:\n");
  const auto& section = std::get<alt::Port_section>(decls.at(0).statements.at(1).desc);
  EXPECT_EQ(loc::string_of_loc(section.ports.at(0).where), "File \"f.alg\", line 3, characters 6-19:\n");
  EXPECT_EQ(loc::string_of_loc(decls.at(1).ports.at(0).where), "File \"f.alg\", line 5, characters 13-18:\n");
  EXPECT_EQ(loc::string_of_loc(decls.at(2).ports.at(0).where), "File \"f.alg\", line 6, characters 15-25:\n")
      << "a constant's port ends with its value";
  EXPECT_EQ(loc::string_of_loc(decls.at(3).statements.at(0).where), "File \"f.alg\", line 7, characters 15-20:\n");

  // An end after a line end inside a string literal.
  lexer::lexer multi("function f() {\n  in: int x [a=\"b\nc\"];\n}", "f.alg");
  const auto port = std::get<alt::Port_section>(parse_algo_decl(multi).at(0).statements.at(0).desc).ports.at(0);
  EXPECT_EQ(port.where.begin, (loc::position{"f.alg", 2, 15, 21}));
  EXPECT_EQ(port.where.end, (loc::position{"f.alg", 3, 33, 36}));
}

// Locations far back from the last token read: a definition and a list expression over many lines, after
// blank lines, with a line end inside a literal.
TEST(AlgoGrammar, LocationsOverManyLines) {
  std::string text = "\n\n  function f() {\n  let r = g({1,\n";
  for (int i = 0; i < 70; ++i) text += i % 3 == 0 ? "\n" : "  2,\n";
  text += "\n 3}) [a=\"x\ny\"];\n\n}\n  sensor s() { int o }";
  lexer::lexer lex(text, "f.alg");
  const auto decls = parse_algo_decl(lex);
  const auto at = [&](std::size_t offset) {
    const auto line = static_cast<std::int32_t>(1 + std::count(text.begin(), text.begin() + offset, '\n'));
    const auto bol = static_cast<std::int32_t>(text.rfind('\n', offset - 1) + 1);
    return loc::position{"f.alg", line, bol, static_cast<std::int32_t>(offset)};
  };
  EXPECT_EQ(decls.at(0).where.begin, at(text.find("function")));
  EXPECT_EQ(decls.at(0).where.end, at(text.find("}\n  sensor") + 1));
  const auto& let = decls.at(0).statements.at(0);
  EXPECT_EQ(let.where.begin, at(text.find("let")));
  EXPECT_EQ(let.where.end, at(text.find(";") + 1));
  const auto& list = std::get<alt::Ref_decl>(let.desc).args.at(0);
  EXPECT_EQ(list.where().begin, at(text.find("{1")));
  EXPECT_EQ(list.where().end, at(text.find("3}") + 2));
  EXPECT_EQ(decls.at(1).where.begin, at(text.find("sensor")));
  EXPECT_EQ(decls.at(1).ports.at(0).where.end, at(text.size() - 2));

  // Many definitions, each over several lines, some beginning on the line where the one before ends: the
  // lines of a definition read are dropped once it is handed over, and those of the next stay right.
  std::string many;
  std::vector<std::size_t> starts, lets;
  for (int k = 0; k < 300; ++k) {
    many += k % 4 == 0 ? " " : "\n\n";
    starts.push_back(many.size());
    many += "function f" + std::to_string(k) + "() {\n  let r = g [a=\"x\ny\"] ;";
    lets.push_back(many.rfind("let"));
    many += k % 3 == 0 ? "\n}" : "}";
  }
  lexer::lexer long_lex(many, "f.alg");
  const auto all = parse_algo_decl(long_lex);
  ASSERT_EQ(all.size(), starts.size());
  const auto in_many = [&](std::size_t offset) {
    const auto line = static_cast<std::int32_t>(1 + std::count(many.begin(), many.begin() + offset, '\n'));
    const auto bol = static_cast<std::int32_t>(offset == 0 ? 0 : many.rfind('\n', offset - 1) + 1);
    return loc::position{"f.alg", line, bol, static_cast<std::int32_t>(offset)};
  };
  for (std::size_t k = 0; k < all.size(); ++k) {
    EXPECT_EQ(all[k].where.begin, in_many(starts[k])) << k;
    EXPECT_EQ(all[k].statements.at(0).where.begin, in_many(lets[k])) << k;
    EXPECT_EQ(all[k].statements.at(0).where.end, in_many(many.find(";", lets[k]) + 1)) << k;
  }
}

// Each kind of statement and port spans from its first token to its last.
TEST(AlgoGrammar, EveryStatementKindIsLocated) {
  const std::string text =
      "function f() { out: ; in: T[2] x [], int y; let r = M.g [abstract]; let q = g(); a.b -> c, d.e; a --> b; "
      "match c with | 1 -> x -> y; }";
  lexer::lexer lex(text, "");
  const auto decls = parse_algo_decl(lex);
  std::vector<std::string> spans;
  for (const auto& st : decls.at(0).statements) {
    const auto b = static_cast<std::size_t>(st.where.begin.offset);
    spans.push_back(text.substr(b, static_cast<std::size_t>(st.where.end.offset) - b));
  }
  EXPECT_EQ(spans, (std::vector<std::string>{"out: ;", "in: T[2] x [], int y;", "let r = M.g [abstract];", "let q = g();",
                                             "a.b -> c, d.e;", "a --> b;", "match c with | 1 -> x -> y;"}));
  const auto& ports = std::get<alt::Port_section>(decls.at(0).statements.at(1).desc).ports;
  EXPECT_EQ(ports.at(0).where.begin.offset, text.find("T["));
  EXPECT_EQ(ports.at(0).where.end.offset, text.find("[],") + 2);
  EXPECT_EQ(ports.at(1).where.begin.offset, text.find("int y;"));
  EXPECT_EQ(ports.at(1).where.end.offset, text.find("y;") + 1);
}

TEST(AlgoGrammar, SmallEntries) {
  {
    lexer::lexer l("(a, b)", "");
    EXPECT_EQ(parse_opt_params(l), (std::vector<std::string>{"a", "b"}));
    lexer::lexer none("", "");
    EXPECT_TRUE(parse_opt_params(none).empty());
    lexer::lexer empty("()", "");
    EXPECT_TRUE(parse_opt_params(empty).empty());
    EXPECT_EQ(refused_at(parse_opt_params, "(a,)"), 4);
    EXPECT_EQ(refused_at(parse_opt_params, "a"), 1);
  }
  {
    lexer::lexer l("M.f(1, n + 1)", "");
    EXPECT_EQ(alt::dump_def_call(parse_def_call(l)), "M.f(1, (n + 1))");
    lexer::lexer plain("f", "");
    EXPECT_EQ(alt::dump_def_call(parse_def_call(plain)), "f");
    EXPECT_EQ(refused_at(parse_def_call, "M"), 1);
    EXPECT_EQ(refused_at(parse_def_call, "f(1"), 3);
  }
  {
    lexer::lexer l("(x*, y=, z/)", "");
    EXPECT_EQ(parse_port_dispatchs(l), (std::vector<alt::port_dispatch>{{"x", alt::dispatch_sign::Split},
                                                                        {"y", alt::dispatch_sign::Same},
                                                                        {"z", alt::dispatch_sign::Gather}}));
    EXPECT_EQ(refused_at(parse_port_dispatchs, "x*"), 1);
    EXPECT_EQ(refused_at(parse_port_dispatchs, "(x)"), 3);
  }
  {
    lexer::lexer l("(o -> i, z/)", "");
    EXPECT_EQ(parse_ref_sequence_options(l),
              (std::vector<alt::seq_option>{alt::seq_link{"o", "i"}, alt::port_dispatch{"z", alt::dispatch_sign::Gather}}));
    lexer::lexer empty("()", "");
    EXPECT_TRUE(parse_ref_sequence_options(empty).empty());
    EXPECT_EQ(refused_at(parse_ref_sequence_options, "(o -> )"), 7);
  }
  for (auto entry : {parse_qname, parse_qdef_name}) {
    lexer::lexer simple("x", "");
    EXPECT_EQ(entry(simple), (base_types::qname{base_types::simple_name{"x"}}));
    lexer::lexer qualified("M.x", "");
    EXPECT_EQ(entry(qualified), (base_types::qname{base_types::qualified_name{"M", "x"}}));
    EXPECT_EQ(refused_at(entry, "x.y"), 2);
    EXPECT_EQ(refused_at(entry, "M"), 1);
  }
  for (auto entry : {parse_def_name, parse_name}) {
    lexer::lexer l("f", "");
    EXPECT_EQ(entry(l), "f");
    EXPECT_EQ(refused_at(entry, "F"), 1);
    EXPECT_EQ(refused_at(entry, "in"), 2);  // a keyword is no name
  }
  {
    lexer::lexer l("M", "");
    EXPECT_EQ(parse_module_name(l), "M");
    EXPECT_EQ(refused_at(parse_module_name, "m"), 1);
  }
  {
    lexer::lexer l("f.r.p", "");
    EXPECT_EQ(parse_port_path(l), (alt::full_port_path{"f", "r", "p"}));
    EXPECT_EQ(refused_at(parse_port_path, "f.r"), 3);
  }
}

}  // namespace
}  // namespace cvn::algo_lang_parser
