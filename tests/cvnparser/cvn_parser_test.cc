// What the grammar accepts and what each production keeps, the operator table, and located failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>

#include "base/base_types.h"
#include "base/loc.h"
#include "cvnparser/cvn_main.h"
#include "cvnparser/cvn_types.h"

namespace {

using namespace cvn::cvn_types;
namespace at = cvn::algo_types;
using cvn::cvn_main::parse_cvn;
using cvn::cvn_main::parse_cvn_string;

template <class... Ts>
struct overloaded : Ts... {
  using Ts::operator()...;
};

// Fully parenthesised text of an expression, so that the grouping shows.
std::string show(const at::expr& e) {
  return std::visit(overloaded{
                        [](const at::Int& i) { return std::to_string(i.value); },
                        [](const at::Ident& i) { return i.name; },
                        [](const at::Plus& b) { return "(" + show(b.left) + " + " + show(b.right) + ")"; },
                        [](const at::Minus& b) { return "(" + show(b.left) + " - " + show(b.right) + ")"; },
                        [](const at::Div& b) { return "(" + show(b.left) + " / " + show(b.right) + ")"; },
                        [](const at::Mult& b) { return "(" + show(b.left) + " * " + show(b.right) + ")"; },
                        [](const at::Neg& n) { return "(-" + show(n.operand) + ")"; },
                        [](const at::List& l) {
                          std::string s = "{";
                          for (const auto& x : l.items) s += (s.size() > 1 ? ", " : "") + show(x);
                          return s + "}";
                        },
                        [](const at::Bars& b) { return "|" + show(b.operand) + "|"; },
                    },
                    at::desc_of(e));
}

std::string show(const cvn_name& n) {
  return std::visit(overloaded{[](const Name& x) { return x.name.str(); },
                               [](const Lib_name& x) { return x.lib.str() + "/" + x.name.str(); }},
                    n);
}

std::string show(const cvn_endpoint& e) {
  return std::visit(overloaded{[](const Def_port& p) { return p.port.str(); },
                               [](const Ref_port& p) { return p.ref.str() + "." + p.port.str(); }},
                    e);
}

// The expression of the dimension of the only port of a small definition.
at::expr dim_of(const std::string& expression) {
  const cvn_file f = parse_cvn_string("def sensor s : ! int [" + expression + "] o ;", "t.cvn");
  return *f.cvn_algos.at(0).cd_ports.at(0).cp_dim;
}

// The report of the located problem that reading the text raises.
std::string failure(const std::string& text, const std::string& file = "t.cvn") {
  try {
    (void)parse_cvn_string(text, file);
  } catch (const cvn::loc::Problem& p) {
    return cvn::loc::string_of_problem(p);
  }
  return "no failure";
}

TEST(CvnParser, AnEmptyFileHasFiveEmptyLists) {
  for (const char* text : {"", "\n\n", "# only a comment", "corvan_version : \"1\" schedules : include \"x\" ;"}) {
    const cvn_file f = parse_cvn_string(text, "t.cvn");
    EXPECT_TRUE(f.cvn_algos.empty() && f.cvn_archs.empty() && f.cvn_durations.empty() && f.cvn_groups.empty() &&
                f.cvn_constraints.empty());
  }
}

// Each cell of the operator table: "shift" groups the following operator into the right operand.
TEST(CvnParser, OperatorTableCellByCell) {
  struct row {
    const char* read;  // the expression read so far, with e1 = a and e2 = b
    const char* op;    // the operator of that expression, "neg" for the unary minus
  };
  const row rows[] = {{"a + b", "+"}, {"a - b", "-"}, {"a * b", "*"}, {"a / b", "/"}, {"- b", "neg"}};
  const char* table[5][4] = {
      // next: +        -         *        /
      {"shift", "shift", "shift", "shift"},    // e1 + e2
      {"shift", "reduce", "shift", "shift"},   // e1 - e2
      {"shift", "shift", "shift", "shift"},    // e1 * e2
      {"shift", "reduce", "shift", "reduce"},  // e1 / e2
      {"shift", "reduce", "shift", "shift"},   // - e
  };
  const char* next[4] = {"+", "-", "*", "/"};
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 4; ++c) {
      const std::string text = std::string(rows[r].read) + " " + next[c] + " c";
      const std::string op = rows[r].op;
      const std::string n = next[c];
      std::string expected;
      if (op == "neg")
        expected = std::string(table[r][c]) == "shift" ? "(-(b " + n + " c))" : "((-b) " + n + " c)";
      else
        expected = std::string(table[r][c]) == "shift" ? "(a " + op + " (b " + n + " c))"
                                                       : "((a " + op + " b) " + n + " c)";
      EXPECT_EQ(show(dim_of(text)), expected) << text;
    }
  }
}

TEST(CvnParser, ExpressionForms) {
  EXPECT_EQ(show(dim_of("a - b - c")), "((a - b) - c)");
  EXPECT_EQ(show(dim_of("a / b + c")), "(a / (b + c))");
  EXPECT_EQ(show(dim_of("(a + b) * c")), "((a + b) * c)");
  EXPECT_EQ(show(dim_of("{1, n, {2}, |x - 1|}")), "{1, n, {2}, |(x - 1)|}");
  // n-1 is one identifier; floats are truncated toward zero.
  EXPECT_EQ(show(dim_of("n-1")), "n-1");
  EXPECT_EQ(show(dim_of("2.9 + -2.9 + 1e3")), "(2 + (-2 + 1000))");
  EXPECT_EQ(failure("def sensor s : ! int [n -1] o ;"), "File \"t.cvn\", line 1, character 26:\nError: Syntax error");
}

TEST(CvnParser, ExpressionsAreLocatedOnTheirWholeText) {
  // "def sensor s : ! int [" is 22 characters.
  const at::expr e = dim_of("(a) * 3");
  EXPECT_EQ(e.where().begin.offset, 22);
  EXPECT_EQ(e.where().end.offset, 29);
  const auto& product = std::get<at::Mult>(at::desc_of(e));
  EXPECT_EQ(product.left.where().begin.offset, 22);  // the parentheses belong to the operand
  EXPECT_EQ(product.left.where().end.offset, 25);
  EXPECT_EQ(cvn::loc::string_of_loc(product.right.where()), "File \"t.cvn\", line 1, characters 28-29:\n");
}

// Every walk over an expression recurses once per level: the reader refuses an expression deeper than
// at::max_expr_depth, in every form of operation, where it would otherwise exhaust the stack. Parentheses
// and wide lists add no level.
TEST(CvnParser, ExpressionsNestAtMostTheMaximumDepth) {
  using wrap = std::string (*)(const std::string&);
  const wrap forms[] = {
      [](const std::string& e) { return "- " + e; },
      [](const std::string& e) { return "|" + e + "|"; },
      [](const std::string& e) { return "{" + e + "}"; },
      [](const std::string& e) { return "{0, " + e + ", 2}"; },
      [](const std::string& e) { return "1 + " + e; },    // leans right
      [](const std::string& e) { return e + " - 1"; },    // leans left
      [](const std::string& e) { return "2 * (" + e + ")"; },
  };
  const std::string too_deep = "Error: Expression nested too deeply (more than 1000 levels)";
  for (const wrap f : forms) {
    std::string e = "x";
    for (std::uint32_t level = 1; level < at::max_expr_depth; ++level) e = f(e);
    EXPECT_NO_THROW((void)dim_of(e)) << e.substr(0, 40);
    const std::string report = failure("def sensor s : ! int [" + f(e) + "] o ;");
    const std::string where = "File \"t.cvn\", line 1, characters 22-";  // the outermost operation
    EXPECT_EQ(report.substr(0, where.size()), where) << report;
    EXPECT_NE(report.find(too_deep), std::string::npos) << report;
  }
  const std::string parenthesised = std::string(100000, '(') + "x" + std::string(100000, ')');
  EXPECT_EQ(show(dim_of(parenthesised)), "x");
  std::string wide = "{0";
  for (int i = 1; i < 5000; ++i) wide += ", " + std::to_string(i);
  EXPECT_EQ(std::get<at::List>(at::desc_of(dim_of(wide + "}"))).items.size(), 5000u);
}

// Token texts and line starts are released after each item: what a later item keeps or locates must not
// depend on them, also with texts larger than the lexer's storage chunks.
TEST(CvnParser, ManyItemsKeepTheirTextsAndLocations) {
  const std::string long_name(70000, 'n');
  const std::string long_description(150000, 'd');
  std::string text;
  for (int i = 0; i < 3000; ++i)
    text += "def sensor s" + std::to_string(i) + " :\n  ! int [w" + std::to_string(i) + "] o ;\n";
  text += "def sensor " + long_name + " :\n  ! int\n  [\n   (x)\n   + 1] o ;\n  description : \"" + long_description +
          "\"\n";
  const cvn_file f = parse_cvn_string(text, "t.cvn");
  ASSERT_EQ(f.cvn_algos.size(), 3001u);
  for (int i = 0; i < 3000; i += 997) {
    const auto& d = f.cvn_algos[static_cast<std::size_t>(i)];
    EXPECT_EQ(show(d.cd_name), "s" + std::to_string(i));
    const auto& dim = *d.cd_ports.at(0).cp_dim;
    EXPECT_EQ(show(dim), "w" + std::to_string(i));
    EXPECT_EQ(dim.where().begin.line, 2 * i + 2);
  }
  const auto& last = f.cvn_algos.back();
  EXPECT_EQ(show(last.cd_name), long_name);
  EXPECT_EQ(last.cd_description, long_description);
  const auto& sum = *last.cd_ports.at(0).cp_dim;
  EXPECT_EQ(show(sum), "(x + 1)");
  // From "(x)" on line 6004 to "1" on line 6005 (the line feed after "(x)" counts as a character).
  EXPECT_EQ(cvn::loc::string_of_loc(sum.where()), "File \"t.cvn\", line 6004, characters 3-13:\n");
  EXPECT_EQ(sum.where().end.line, 6005);
  EXPECT_EQ(sum.where().end.offset - sum.where().end.bol, 6);
  EXPECT_EQ(failure(text + "def sensor t :\n ! int [1e300] o ;"),
            "File \"t.cvn\", line 6008, characters 8-13:\nError: Floating-point number out of the integer range");
}

TEST(CvnParser, FloatsWithoutAnIntegerAreRefused) {
  EXPECT_EQ(failure("def sensor s : ! int [1e300] o ;"),
            "File \"t.cvn\", line 1, characters 22-27:\nError: Floating-point number out of the integer range");
}

TEST(CvnParser, DefinitionsKeepKindNameParamsDescriptionPortsAndBodies) {
  const cvn_file f = parse_cvn_string(
      "def memory M [1..4] <A;B> 1,2 : ? t [n] i 3 @ 1,1 ; 9 ! u o ; description : \"mem\"\n"
      "def algorithm F :\n"
      "  ? bool c ;\n"
      "  conditions : c = -1 ; references : G g ; dependences : data c -> g.x ;\n"
      "  conditions : c = - 2 ; references : dependences :\n"
      "  conditions : false ; references : dependences :\n"
      "  conditions : ; references : dependences :\n",
      "t.cvn");
  ASSERT_EQ(f.cvn_algos.size(), 2u);
  const cvn_def& m = f.cvn_algos[0];
  EXPECT_EQ(m.cd_kind, cvn_def_kind::Memory);
  EXPECT_EQ(show(m.cd_name), "M");
  EXPECT_EQ(m.cd_params, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(m.cd_description, "mem");
  ASSERT_EQ(m.cd_ports.size(), 2u);
  EXPECT_EQ(m.cd_ports[0].cp_name, "i");
  EXPECT_EQ(m.cd_ports[0].cp_type, "t");
  EXPECT_EQ(show(*m.cd_ports[0].cp_dim), "n");
  EXPECT_EQ(m.cd_ports[0].cp_dir, at::direction::In);
  EXPECT_EQ(m.cd_ports[0].cp_rank, 3);
  EXPECT_EQ(m.cd_ports[1].cp_name, "o");
  EXPECT_FALSE(m.cd_ports[1].cp_dim.has_value());
  EXPECT_EQ(m.cd_ports[1].cp_dir, at::direction::Out);
  EXPECT_EQ(m.cd_ports[1].cp_rank, 0);
  EXPECT_TRUE(m.cd_body.empty());

  const cvn_def& a = f.cvn_algos[1];
  EXPECT_EQ(a.cd_kind, cvn_def_kind::Algorithm);
  EXPECT_EQ(a.cd_description, "");
  ASSERT_EQ(a.cd_body.size(), 4u);
  EXPECT_EQ(a.cd_body[0].cb_condition, (cvn_condition{"c", -1}));
  EXPECT_EQ(a.cd_body[1].cb_condition, (cvn_condition{"c", -2}));
  EXPECT_FALSE(a.cd_body[2].cb_condition.has_value());
  EXPECT_FALSE(a.cd_body[3].cb_condition.has_value());
  ASSERT_EQ(a.cd_body[0].cb_deps.size(), 1u);
  EXPECT_EQ(show(a.cd_body[0].cb_deps[0].source) + " -> " + show(a.cd_body[0].cb_deps[0].destination), "c -> g.x");
}

TEST(CvnParser, ReferencesKeepNameDefinitionRankParamsFlagAndRepetition) {
  const cvn_file f = parse_cvn_string(
      "def algorithm F : conditions : ; references :\n"
      "  lib/Name<1; n + 1> [4 : a <- b, c <- d] r1 @ 1,2 \"descr\" 7 true ;\n"
      "  G [n] r2 false ;\n"
      "  H r3 ;\n"
      "dependences :\n"
      "  strong_precedence_data r1.x -> r2.y ; weak_precedence_data a -> b ; data r3.o -> out ;\n",
      "t.cvn");
  const auto& refs = f.cvn_algos.at(0).cd_body.at(0).cb_refs;
  ASSERT_EQ(refs.size(), 3u);
  EXPECT_EQ(refs[0].cr_name, "r1");
  EXPECT_EQ(refs[0].cr_def, cvn_name(Lib_name{"Lib", "Name"}));
  EXPECT_EQ(refs[0].cr_rank, 7);
  ASSERT_EQ(refs[0].cr_params.size(), 2u);
  EXPECT_EQ(show(refs[0].cr_params[1]), "(n + 1)");
  EXPECT_TRUE(refs[0].cr_flag);
  const auto& seq = std::get<Sequence>(*refs[0].cr_repeat);
  EXPECT_EQ(show(seq.factor), "4");
  EXPECT_EQ(seq.links, (std::vector<cvn_link>{{"a", "b"}, {"c", "d"}}));
  EXPECT_EQ(refs[1].cr_def, cvn_name(Name{"G"}));
  EXPECT_FALSE(refs[1].cr_rank.has_value());
  EXPECT_FALSE(refs[1].cr_flag);
  EXPECT_EQ(show(std::get<Parallel>(*refs[1].cr_repeat).factor), "n");
  EXPECT_FALSE(refs[2].cr_repeat.has_value());
  EXPECT_TRUE(refs[2].cr_params.empty());
  const auto& deps = f.cvn_algos.at(0).cd_body.at(0).cb_deps;
  ASSERT_EQ(deps.size(), 3u);
  EXPECT_EQ(deps[0], (cvn_dep{Ref_port{"r1", "x"}, Ref_port{"r2", "y"}}));
  EXPECT_EQ(deps[1], (cvn_dep{Def_port{"a"}, Def_port{"b"}}));
  EXPECT_EQ(deps[2], (cvn_dep{Ref_port{"r3", "o"}, Def_port{"out"}}));
}

// An algorithm's code phases and description, each optional, and each form of a body's condition.
TEST(CvnParser, AlgorithmTailsAndConditionForms) {
  const std::string body = "conditions : c = 2 ; references : dependences : conditions : true ; references : "
                           "dependences : conditions : ; references : dependences :\n";
  const struct {
    const char* tail;
    const char* description;
  } cases[] = {{"", ""},
               {"description : \"d\"", "d"},
               {"code_phases : ;", ""},
               {"code_phases : initseq loopseq endseq ; description : \"e\"", "e"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    const cvn_file f = parse_cvn_string("def algorithm F : ? int c ;\n" + body + c.tail + "\ndef sensor s :", "t.cvn");
    ASSERT_EQ(f.cvn_algos.size(), 2u);
    const cvn_def& a = f.cvn_algos[0];
    EXPECT_EQ(a.cd_description, c.description);
    ASSERT_EQ(a.cd_body.size(), 3u);
    EXPECT_EQ(a.cd_body[0].cb_condition, (cvn_condition{"c", 2}));
    EXPECT_FALSE(a.cd_body[1].cb_condition.has_value());
    EXPECT_FALSE(a.cd_body[2].cb_condition.has_value());
  }
  EXPECT_EQ(failure("def algorithm F : conditions : ; references : conditions"),
            "File \"t.cvn\", line 1, character 56:\nError: Syntax error");
}

// Every combination of the optional parts of a reference, before and after its name, with a plain and a
// library name, and of the two kinds of endpoint of each kind of dependence.
TEST(CvnParser, EveryCombinationOfOptionalReferencePartsAndEndpoints) {
  const std::vector<std::string> defs = {"G", "lib/G"};
  const std::vector<std::string> prefixes = {"", "<a; 2>", "[3]", "<a; 2> [4 : x <- y]"};
  const std::vector<std::string> tails = {"", "@ 1,2", "\"d\"", "5", "true", "false", "@ 1,2 \"d\"", "@ 1,2 5",
                                          "@ 1,2 true", "\"d\" -6", "\"d\" true", "\"d\" false", "7 true", "7 false",
                                          "@ 1,2 \"d\" 8 true"};
  std::string text = "def algorithm F : conditions : ; references :\n";
  for (const auto& d : defs)
    for (const auto& p : prefixes)
      for (const auto& t : tails) text += "  " + d + " " + p + " r " + t + " ;\n";
  text += "dependences :";
  for (const char* kind : {"data", "weak_precedence_data", "strong_precedence_data"})
    for (const char* ends : {"a -> b", "a -> r.i", "r.o -> b", "r.o -> q.i"}) text += std::string(" ") + kind + " " + ends + " ;";
  const cvn_file f = parse_cvn_string(text, "t.cvn");
  const auto& body = f.cvn_algos.at(0).cd_body.at(0);
  ASSERT_EQ(body.cb_refs.size(), defs.size() * prefixes.size() * tails.size());
  for (std::size_t i = 0; i < body.cb_refs.size(); ++i) {
    const auto& r = body.cb_refs[i];
    const std::size_t d = i / (prefixes.size() * tails.size());
    const std::string& p = prefixes[i / tails.size() % prefixes.size()];
    const std::string& t = tails[i % tails.size()];
    SCOPED_TRACE(defs[d] + " " + p + " r " + t);
    EXPECT_EQ(r.cr_name, "r");
    EXPECT_EQ(r.cr_def, d == 0 ? cvn_name(Name{"G"}) : cvn_name(Lib_name{"Lib", "G"}));
    EXPECT_EQ(r.cr_params.size(), p.find('<') != std::string::npos ? 2u : 0u);
    EXPECT_EQ(r.cr_repeat.has_value(), p.find('[') != std::string::npos);
    if (p.find(':') != std::string::npos) {
      EXPECT_EQ(std::get<Sequence>(*r.cr_repeat).links.size(), 1u);
    }
    EXPECT_EQ(r.cr_flag, t.find("true") != std::string::npos);
    std::optional<std::int64_t> rank;
    for (const std::int64_t n : {5, -6, 7, 8})
      if (t.find(std::to_string(n)) != std::string::npos) rank = n;
    EXPECT_EQ(r.cr_rank, rank);
  }
  const std::vector<cvn_dep> ends = {{Def_port{"a"}, Def_port{"b"}},
                                     {Def_port{"a"}, Ref_port{"r", "i"}},
                                     {Ref_port{"r", "o"}, Def_port{"b"}},
                                     {Ref_port{"r", "o"}, Ref_port{"q", "i"}}};
  ASSERT_EQ(body.cb_deps.size(), 3 * ends.size());
  for (std::size_t i = 0; i < body.cb_deps.size(); ++i) EXPECT_EQ(body.cb_deps[i], ends[i % ends.size()]) << i;
  // Options out of order, a missing name and a half-written endpoint stop at the token that cannot follow.
  const std::string head = "def algorithm F : conditions : ; references : ";
  EXPECT_EQ(failure(head + "G r 5 @ 1,2 ;"), "File \"t.cvn\", line 1, character 53:\nError: Syntax error");
  EXPECT_EQ(failure(head + "G <a> ;"), "File \"t.cvn\", line 1, character 53:\nError: Syntax error");
  EXPECT_EQ(failure(head + "G r true 1 ;"), "File \"t.cvn\", line 1, character 56:\nError: Syntax error");
  EXPECT_EQ(failure(head + "dependences : data a . -> b ;"),
            "File \"t.cvn\", line 1, character 71:\nError: Syntax error");
  EXPECT_EQ(failure(head + "dependences : data a -> b . ;"),
            "File \"t.cvn\", line 1, character 75:\nError: Syntax error");
}

TEST(CvnParser, LibraryNamesAreCapitalisedOnlyInTheLibraryPart) {
  const cvn_file f = parse_cvn_string(
      "def algorithm F : conditions : ; references : lib/name a ; Lib/Name b ; dependences :\n"
      "absolute constraint : g on arch.p1 Arch.P2 ;",
      "t.cvn");
  const auto& refs = f.cvn_algos.at(0).cd_body.at(0).cb_refs;
  EXPECT_EQ(refs[0].cr_def, cvn_name(Lib_name{"Lib", "name"}));
  EXPECT_EQ(refs[1].cr_def, cvn_name(Lib_name{"Lib", "Name"}));
  EXPECT_EQ(f.cvn_constraints.at(0),
            (cvn_constraint{"g", {Lib_name{"Arch", "p1"}, Lib_name{"Arch", "P2"}}}));
}

TEST(CvnParser, ArchitecturesKeepNamesTypesAndConnections) {
  const cvn_file f = parse_cvn_string(
      "def media bus : sammp ; int = 2 ; description : \"d\"\n"
      "def media l : sampp ;\n"
      "def media m : ram ;\n"
      "def operator cpu : gate bus g0 ; gate lib/l g1 ; f = 3 ; description : \"x\" code_phases : loopseq ;\n"
      "def architecture A 1,1 : operators : cpu P1 @ 1,1 ; lib/cpu P2 ; cpu P3 ; lib/cpu P4 @ - 1 , -2 ;\n"
      "    main operator P1 ;\n"
      "  medias : bus b broadcast @ 2,2 ; l k no_broadcast ; m r ;\n"
      "  connections : P1.g0 b ; P2.g1 lib/k ; description : \"arch\"\n",
      "t.cvn");
  ASSERT_EQ(f.cvn_archs.size(), 5u);
  EXPECT_EQ(std::get<Med_type_decl>(f.cvn_archs[0]).med_type.cmt_kind, cvn::arch_types::bus_kind(cvn::arch_types::SAMMP{false}));
  EXPECT_EQ(std::get<Med_type_decl>(f.cvn_archs[1]).med_type.cmt_kind, cvn::arch_types::bus_kind(cvn::arch_types::SAMPP{}));
  EXPECT_EQ(std::get<Med_type_decl>(f.cvn_archs[2]).med_type.cmt_kind, cvn::arch_types::bus_kind(cvn::arch_types::RAM{}));
  const auto& cpu = std::get<Opr_type_decl>(f.cvn_archs[3]).opr_type;
  EXPECT_EQ(cpu.cot_gates, (std::vector<cvn_gate>{{"g0", Name{"bus"}}, {"g1", Lib_name{"Lib", "l"}}}));
  const auto& a = std::get<Arch_decl>(f.cvn_archs[4]).arch;
  EXPECT_EQ(a.ca_operators, (std::vector<cvn_instance>{{"P1", Name{"cpu"}}, {"P2", Lib_name{"Lib", "cpu"}},
                                        {"P3", Name{"cpu"}}, {"P4", Lib_name{"Lib", "cpu"}}}));
  EXPECT_EQ(a.ca_medias, (std::vector<cvn_instance>{{"b", Name{"bus"}}, {"k", Name{"l"}}, {"r", Name{"m"}}}));
  EXPECT_EQ(a.ca_connections,
            (std::vector<cvn_connection>{{"P1", "g0", Name{"b"}}, {"P2", "g1", Lib_name{"Lib", "k"}}}));
  std::vector<std::string> names;
  for (const auto& d : f.cvn_archs) names.push_back(string_of_cvn_arch_decl(d));
  EXPECT_EQ(names, (std::vector<std::string>{"bus", "l", "m", "cpu", "A"}));
}

TEST(CvnParser, DurationsGroupsAndConstraintsKeepSourceOrderAcrossInterleavedItems) {
  const cvn_file f = parse_cvn_string(
      "extra_durations_operator cpu : Fft = 12 ; g = 0 ;\n"
      "operation_group g1 : [\\a\\b] [\\c, attach_condi] ;\n"
      "# between items\n"
      "extra_durations_media bus : float = 3 ;\n"
      "software_component g2 : ;\n"
      "absolute constraint : g1 on x.y ;\n"
      "extra_durations_operator dsp :\n"
      "absolute constraint : g2 on x.z ;\n",
      "t.cvn");
  EXPECT_EQ(f.cvn_durations, (std::vector<cvn_extra_durations>{Opr_durations{"cpu", {{"Fft", 12.0}, {"g", 0.0}}},
                                                               Med_durations{"bus", {{"float", 3.0}}},
                                                               Opr_durations{"dsp", {}}}));
  EXPECT_EQ(f.cvn_groups, (std::vector<cvn_group>{{"g1", {{"a", "b"}, {"c"}}}, {"g2", {}}}));
  ASSERT_EQ(f.cvn_constraints.size(), 2u);
  EXPECT_EQ(f.cvn_constraints[0].group, "g1");
  EXPECT_EQ(f.cvn_constraints[1].group, "g2");
}

TEST(CvnParser, MemberPathsPutAnEmptyNameInFrontForALoneBackslash) {
  const cvn_file f = parse_cvn_string("operation_group g : [] [\\] [\\a\\] [\\a\\\\b] [\\\\x] ;", "t.cvn");
  using path = std::vector<std::string>;
  EXPECT_EQ(f.cvn_groups.at(0).members,
            (std::vector<path>{path{}, path{""}, path{"", "a"}, path{"a", "b"}, path{"x"}}));
}

// Every combination of the options after a port's name: only the rank is kept, and whatever follows the
// ";" still belongs to the port (its location ends there).
TEST(CvnParser, PortOptionsInEveryCombination) {
  const struct {
    const char* tail;
    std::int64_t rank;
  } cases[] = {{";", 0},        {"; 7", 0},       {"@ - 1 , 2 ;", 0}, {"@ 1,-2 ; 7", 0},
               {"5 ;", 5},      {"5 ; 7", 5},     {"5 @ 1,- 2 ;", 5}, {"-5 @ -1,2 ; 7", -5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    const std::string tail = c.tail;
    const cvn_file f = parse_cvn_string("def actuator s : ? int i " + tail + " ? t [n + 1] j " + tail, "t.cvn");
    const auto& ports = f.cvn_algos.at(0).cd_ports;
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].cp_name, "i");
    EXPECT_EQ(ports[0].cp_type, "int");
    EXPECT_FALSE(ports[0].cp_dim.has_value());
    EXPECT_EQ(ports[1].cp_name, "j");
    EXPECT_EQ(ports[1].cp_type, "t");
    ASSERT_TRUE(ports[1].cp_dim.has_value());
    EXPECT_EQ(show(*ports[1].cp_dim), "(n + 1)");
    for (const auto& p : ports) {
      EXPECT_EQ(p.cp_dir, at::direction::In);
      EXPECT_EQ(p.cp_rank, c.rank);
    }
    EXPECT_EQ(failure("def memory m : ! int o ; & t [2] x " + tail),
              "File \"t.cvn\", line 1, characters 25-" + std::to_string(35 + tail.size()) +
                  ":\nError: Unsupported construct: \"&\" port");
  }
}

TEST(CvnParser, RefusedConstructsAreLocatedProblemsNamingThem) {
  EXPECT_EQ(failure("def internal I : ? t x ;\n"),
            "File \"t.cvn\", line 1, characters 0-24:\nError: Unsupported construct: def internal");
  EXPECT_EQ(failure("def sensor s :\ndef memory m : & t x ;"),
            "File \"t.cvn\", line 2, characters 15-22:\nError: Unsupported construct: \"&\" port");
  EXPECT_EQ(failure("def algorithm a : conditions : ; references : dependences : precedence x -> y ;"),
            "File \"t.cvn\", line 1, characters 60-79:\nError: Unsupported construct: \"precedence\" dependence");
  EXPECT_EQ(failure("operation_scheduled /a : calcul internal f ( ihm /a ) ;"),
            "File \"t.cvn\", line 1, characters 32-40:\nError: Unsupported construct: calcul internal");
  EXPECT_EQ(failure("operation_scheduled /a : calcul sensor f ( ihm /a ) ; scheduled : media m 0 1.0 2 "
                    "ports : & p [1] t data 0 ;"),
            "File \"t.cvn\", line 1, characters 90-91:\nError: Unsupported construct: \"&\" port");
}

TEST(CvnParser, SyntaxErrorsStandJustAfterTheOffendingToken) {
  // A comment may stand only where a top-level item may.
  EXPECT_EQ(failure("def sensor s :\n  ! t # inside\n o ;", "dir/sub/a.cvn"),
            "File \"dir/sub/a.cvn\", line 2, character 14:\nError: Syntax error");
  EXPECT_EQ(failure("def sensor s :\n\n  ! t o o ;"), "File \"t.cvn\", line 3, character 9:\nError: Syntax error");
  // At the end of input.
  EXPECT_EQ(failure("def sensor s\n"), "File \"t.cvn\", line 2, character 0:\nError: Syntax error");
  // The reserved keywords belong to no rule.
  EXPECT_EQ(failure("relative"), "File \"t.cvn\", line 1, character 8:\nError: Syntax error");
}

TEST(CvnParser, PositionsCountTheTextAfterTheRangeRewrite) {
  // "1..4" is read as "1 .. 4": the range parses, and what follows is 2 characters further on.
  EXPECT_NO_THROW((void)parse_cvn_string("def memory m [1..4] : ? t i ;", "t.cvn"));
  EXPECT_EQ(failure("def memory m [1..4] x"), "File \"t.cvn\", line 1, character 23:\nError: Syntax error");
  EXPECT_EQ(failure("x..\n..%"), "File \"t.cvn\", line 1, character 1:\nError: Syntax error");
  EXPECT_EQ(failure("include \"a..b\" ; %"), "File \"t.cvn\", line 1, character 19:\nError: lexing: empty token");
}

TEST(CvnParser, TheBundledExampleUsesEveryKindOfItem) {
  const cvn_file f = parse_cvn(std::string(CVN_TEST_DATA) + "/../examples/example.cvn");
  EXPECT_EQ(f.cvn_algos.size(), 8u);
  EXPECT_EQ(f.cvn_archs.size(), 4u);
  EXPECT_EQ(f.cvn_durations.size(), 2u);
  EXPECT_EQ(f.cvn_groups.size(), 2u);
  EXPECT_EQ(f.cvn_constraints.size(), 1u);
  const auto& top = f.cvn_algos.back();
  EXPECT_EQ(show(top.cd_name), "top");
  EXPECT_EQ(top.cd_body.at(0).cb_refs.size(), 6u);
  EXPECT_EQ(top.cd_body.at(0).cb_deps.size(), 3u);
}

TEST(CvnParser, AFileThatCannotBeOpenedIsASystemError) {
  try {
    (void)parse_cvn("no/such/file.cvn");
    FAIL();
  } catch (const cvn::Sys_error& e) {
    EXPECT_EQ(e.printed(), "Sys_error(\"no/such/file.cvn: No such file or directory\")");
  }
}

}  // namespace
