// The algorithm builder: what each declaration and statement adds, its messages with their locations,
// library modules, and the edit actions.
#include "algo/algo_lang.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "algo/algo_lang_parser.h"
#include "algo/algo_string.h"
#include "algo_test_util.h"
#include "base/lexer.h"
#include "base/loc.h"

namespace cvn::algo_lang {
namespace {

namespace alt = algo_lang_types;
namespace as = algo_string;
using algo_test::failure_text;
using algo_test::problem_text;

const std::string data = std::string(CVN_TEST_DATA) + "/algo/data";
const include_dirs lib_dirs{data + "/modules/first", data + "/modules/second"};

alt::algo_decl parse(const std::string& text, const std::string& file = "main.alg") {
  lexer::lexer lex(text, file);
  try {
    return algo_lang_parser::parse_algo_decl(lex);
  } catch (const algo_lang_parser::Error& e) {
    loc::raise_problem({e.where(), e.where()}, "Syntax error");
  }
}

algorithm build(const std::string& text, const include_dirs& dirs = lib_dirs) {
  return add_algo_decl(dirs, algo_types::create(), parse(text));
}

// The report of the located problem that f throws ("" when it throws none).
std::string located_text(const std::function<void()>& f) {
  try {
    f();
  } catch (const loc::Problem& p) {
    return loc::string_of_problem(p);
  }
  return "";
}

std::string build_error(const std::string& text, const include_dirs& dirs = lib_dirs) {
  return located_text([&] { (void)build(text, dirs); });
}

std::string port_text(const algorithm& a, port_id p) {
  const algo_types::port& r = algo_types::get_port(a, p);
  const algo_types::graph_elt c = algo_types::port_container(a, p);
  if (const auto* ref = std::get_if<algo_types::Ref>(&c)) return algo_types::get_ref(a, ref->id).ref_name + "." + r.port_name;
  return r.port_name;
}

std::string cond_suffix(const algorithm& a, const std::optional<algo_types::cond>& c) {
  return c ? " " + as::string_of_cond(a, *c) : "";
}

// The model in short, definitions in table order: heading, ports by direction and order, references by
// group with their options, data edges leaving the definition's inputs and its references' outputs (newest
// first per port), precedences (newest first per reference).
std::string outline(const algorithm& a) {
  using namespace algo_types;
  std::string out;
  // Definitions in the order they were added (the tables visit in another order).
  std::vector<def_id> ds = defs(a);
  std::sort(ds.begin(), ds.end(), [](def_id x, def_id y) { return x.value < y.value; });
  for (def_id d : ds) {
    const definition& def = get_def(a, d);
    out += as::string_of_definition_kind(def.def_kind) + " " + base_types::string_of_qname(def.def_name) + "(";
    for (std::size_t i = 0; i < def.def_params.size(); ++i) out += (i ? ", " : "") + def.def_params[i];
    out += ")\n";
    for (direction dir : {direction::In, direction::Out})
      for (port_id p : ports_by_order(a, Def{d}, dir)) {
        const port& r = get_port(a, p);
        out += "  " + as::string_of_direction(dir) + " " + r.port_type;
        if (r.port_size) out += "[" + as::string_of_expr(*r.port_size) + "]";
        out += " " + r.port_name + " @" + std::to_string(r.port_order);
        if (!r.port_additional.empty()) out += " [" + additional::to_string(r.port_additional) + "]";
        if (r.port_expr) out += " = " + as::string_of_expr(*r.port_expr);
        out += "\n";
      }
    std::vector<port_id> sources = ports_by_order(a, Def{d}, direction::In);
    for (const auto& [c, rs] : refs_by_cond(a, d))
      for (ref_id i : rs) {
        const reference& r = get_ref(a, i);
        out += "  let " + r.ref_name + " = " + base_types::string_of_qname(get_def(a, reference_def(a, i)).def_name);
        if (!r.ref_args.empty()) out += "(" + as::string_of_exprs(r.ref_args) + ")";
        if (r.ref_period) out += " period " + std::to_string(*r.ref_period);
        if (r.ref_rep) out += " " + as::string_of_repetition_kind(a, *r.ref_rep);
        if (r.ref_abstract) out += " abstract";
        if (!r.ref_additional.empty()) out += " [" + additional::to_string(r.ref_additional) + "]";
        out += cond_suffix(a, c) + "\n";
        for (port_id p : ports_by_order(a, Ref{i}, direction::Out)) sources.push_back(p);
      }
    for (port_id p : sources)
      for (const auto& [dst, l] : get_succs(a, Port{p}))
        if (is_data(l))
          out += "  " + port_text(a, p) + " -> " + port_text(a, std::get<Port>(dst).id) + cond_suffix(a, cond_of_edge(l)) + "\n";
    for (ref_id i : refs_under_def(a, d))
      for (const graph_elt& e : retrieve_succ(a, Ref{i}, is_precedence))
        out += "  " + get_ref(a, i).ref_name + " --> " + get_ref(a, std::get<Ref>(e).id).ref_name + "\n";
  }
  return out;
}

const char* const callee =
    "function g(n) {\n"
    "  in: int i, bool b;\n"
    "  out: int o;\n"
    "}\n";

TEST(AlgoBuilder, EveryKindOfDefinitionAndStatement) {
  const std::string text = std::string(callee) +
                           "constant k(n) { int x = 5, int[n + 1] y [unit=\"ms\", a=\"1\"] = {1, 2} }\n"
                           "sensor s() { int o1, bool o2 }\n"
                           "actuator t { int i1 }\n"
                           "delay d() { in: int i; out: int o; }\n"
                           "function f(n, m) {\n"
                           "  in: int[n] i [w=\"1\"];\n"
                           "  out: int o, int p;\n"
                           "  in: bool c;\n"
                           "  let r = g(n * 2, 1) [period 5, period 6, parallel n (i*, o/), sequence 2 (), abstract, k=\"v\", k=\"w\"] ;\n"
                           "  let q = g [sequence 3 (o -> i, i=), parallel 4] ;\n"
                           "  i -> r.i, q.i;\n"
                           "  c -> r.b, q.b;\n"
                           "  r.o -> o;\n"
                           "  q.o -> p;\n"
                           "  r --> q;\n"
                           "}\n";
  EXPECT_EQ(outline(build(text)),
            "Function g(n)\n"
            "  in int i @0\n"
            "  in bool b @1\n"
            "  out int o @0\n"
            "Constant k(n)\n"
            "  out int x @0 = 5\n"
            "  out int[n + 1] y @1 [unit=\"ms\", a=\"1\"] = {1, 2}\n"
            "Sensor s()\n"
            "  out int o1 @0\n"
            "  out bool o2 @1\n"
            "Actuator t()\n"
            "  in int i1 @0\n"
            "Delay d()\n"
            "  in int i @0\n"
            "  out int o @0\n"
            "Function f(n, m)\n"
            "  in int[n] i @0 [w=\"1\"]\n"
            "  in bool c @1\n"
            "  out int o @0\n"
            "  out int p @1\n"
            "  let r = g(n * 2, 1) period 5 Parallel n : [(i, *), (o, /)] abstract [k=\"w\"]\n"
            "  let q = g Sequence 3 : [o -> i, i=]\n"
            "  i -> q.i\n"
            "  i -> r.i\n"
            "  c -> q.b\n"
            "  c -> r.b\n"
            "  r.o -> o\n"
            "  q.o -> p\n"
            "  r --> q\n");
}

TEST(AlgoBuilder, RepeatedAttributeListsKeepTheirOwnValues) {
  // The builder shares one set per distinct list: lists equal up to order or value must not be confused, and
  // a later pair for a name still wins.
  const std::string text =
      "function g() {\n"
      "  in: int i [k=\"1\", k=\"2\"], int j [k=\"2\", k=\"1\"], int l [k=\"1\", k=\"2\"], int m [k=\"1\"];\n"
      "}\n"
      "function f() {\n"
      "  let r = g [k=\"1\", k=\"2\"] ;\n"
      "  let q = g [k=\"2\", k=\"1\"] ;\n"
      "  let s = g [k=\"2\"] ;\n"
      "}\n";
  EXPECT_EQ(outline(build(text)),
            "Function g()\n"
            "  in int i @0 [k=\"2\"]\n"
            "  in int j @1 [k=\"1\"]\n"
            "  in int l @2 [k=\"2\"]\n"
            "  in int m @3 [k=\"1\"]\n"
            "Function f()\n"
            "  let r = g [k=\"2\"]\n"
            "  let q = g [k=\"1\"]\n"
            "  let s = g [k=\"2\"]\n");
}

TEST(AlgoBuilder, MatchCasesCarryTheirConditions) {
  // Statements after the match belong to its last case; one reference name may return in every case.
  const std::string text = std::string(callee) +
                           "function f() {\n"
                           "  in: int i, int c;\n"
                           "  out: int o;\n"
                           "  match c with\n"
                           "  | 1 ->\n"
                           "      let r = g ;\n"
                           "      i -> r.i;\n"
                           "      r.o -> o;\n"
                           "  | 2 ->\n"
                           "      let r = g ;\n"
                           "      i -> r.i;\n"
                           "  i -> o;\n"
                           "}\n";
  EXPECT_EQ(outline(build(text)),
            "Function g(n)\n"
            "  in int i @0\n"
            "  in bool b @1\n"
            "  out int o @0\n"
            "Function f()\n"
            "  in int i @0\n"
            "  in int c @1\n"
            "  out int o @0\n"
            "  let r = g (c = 1)\n"
            "  let r = g (c = 2)\n"
            "  i -> o (c = 2)\n"
            "  i -> r.i (c = 2)\n"
            "  i -> r.i (c = 1)\n"
            "  r.o -> o (c = 1)\n");
}

TEST(AlgoBuilder, CasesOfOneValueReadAsOneCase) {
  // Two cases testing one value share its condition: their links keep the file order, as in one case.
  const std::string head = std::string(callee) +
                           "function f() {\n"
                           "  in: int i, int c;\n"
                           "  out: int o, int p;\n"
                           "  match c with\n";
  const std::string one = outline(build(head + "  | 1 ->\n      i -> o;\n      i -> p;\n}\n"));
  EXPECT_EQ(outline(build(head + "  | 1 ->\n      i -> o;\n  | 1 ->\n      i -> p;\n}\n")), one);
  EXPECT_NE(one.find("  i -> p (c = 1)\n  i -> o (c = 1)\n"), std::string::npos) << one;
}

TEST(AlgoBuilder, PrecedencesOfOneReferenceReadBackInTheirOrder) {
  // Lines from one reference are added last to first: the successor list (newest first) is the text order.
  const std::string refs = std::string(callee) +
                           "function f() {\n"
                           "  let a = g ;\n"
                           "  let b = g ;\n"
                           "  let r = g ;\n";
  EXPECT_EQ(outline(build(refs + "  r --> b;\n  r --> a;\n  a --> b;\n}\n")),
            "Function g(n)\n  in int i @0\n  in bool b @1\n  out int o @0\n"
            "Function f()\n  let a = g\n  let b = g\n  let r = g\n  a --> b\n  r --> b\n  r --> a\n");
  // A fault in such a run is reported at its first faulty line.
  EXPECT_EQ(build_error(refs + "  b --> a;\n  a --> r;\n  a --> b;\n  a --> z;\n}\n"),
            "File \"main.alg\", line 11, characters 2-10:\nError: Reference b cannot be in precedence with the reference a.");
}

TEST(AlgoBuilder, MessagesAtTheFaultyDeclarationOrStatement) {
  const std::string head = std::string(callee) +
                           "function f() {\n"
                           "  in: int i, int c;\n"
                           "  out: int o;\n";
  const auto error = [&](const std::string& body) { return build_error(head + body + "}\n"); };
  const auto at = [](const char* where, const char* message) {
    return std::string("File \"main.alg\", ") + where + ":\nError: " + message;
  };
  EXPECT_EQ(error("  match c with | 1 -> let r = g ; match i with | 2 -> let q = g ;\n"),
            at("line 8, characters 34-65", "Nested \"match ... with\" are not allowed"));
  EXPECT_EQ(error("  match o with | 1 -> let r = g ;\n"), at("line 8, characters 2-33", "No input port o in current definion"));
  EXPECT_EQ(error("  out: int p, bool i;\n"), at("line 8, characters 14-20", "A port \"i\" already exists in definition \"f\"."));
  EXPECT_EQ(error("  let r = h ;\n"), at("line 8, characters 2-13", "Definition h not found."));
  EXPECT_EQ(error("  let r = g [parallel 2 (z*)] ;\n"), at("line 8, characters 2-31", "No such port in definition g: z."));
  EXPECT_EQ(error("  let r = g ;\n  let r = g ;\n"),
            at("line 9, characters 2-13", "A reference named r already exist in definition f."));
  EXPECT_EQ(error("  x -> o;\n"), at("line 8, characters 2-9", "Port x not found in definition f."));
  EXPECT_EQ(error("  i -> q.i;\n"), at("line 8, characters 2-11", "Reference q not found in definition f."));
  EXPECT_EQ(error("  let r = g ;\n  i -> r.z;\n"), at("line 9, characters 2-11", "Port z not found in reference r of definition f."));
  // The first destination is fine, the second is not: the whole definition fails at the statement.
  EXPECT_EQ(error("  let r = g ;\n  i -> r.i, r.b;\n"),
            at("line 9, characters 2-16", "Port i of type int cannot be linked to port b of type bool."));
  EXPECT_EQ(error("  let r = g ;\n  r --> r;\n"),
            at("line 9, characters 2-10", "Reference r cannot be in precedence with the reference r."));
  // A reference of another case is not visible.
  EXPECT_EQ(error("  match c with | 1 -> let r = g ; | 2 -> i -> r.i;\n"),
            at("line 8, characters 41-50", "Reference r not found in definition f."));
  // Cases of links alone are added in another order than the file's, but a fault is still reported at the
  // first line that has one.
  EXPECT_EQ(error("  match c with\n  | 1 -> i -> o;\n  | 2 -> i -> x;\n  | 3 -> o -> i;\n"),
            at("line 10, characters 9-16", "Port x not found in definition f."));
  EXPECT_EQ(error("  match c with\n  | 1 -> i -> o;\n  | 2 -> i -> o;\n  | 3 -> i -> o, o;\n"),
            at("line 11, characters 9-19", "Port o is already the destination of an edge conditioned by (c = 3) from port i."));
  EXPECT_EQ(error("  let q = g ;\n  match c with | 1 -> let r = g ;\n"),
            at("line 9, characters 22-33", "Unconditioned references or links exist in definition."));
  // Failures of a constant's, sensor's or actuator's ports stand at the definition; so does a duplicate name.
  EXPECT_EQ(build_error("sensor s { int o,\n bool o }\n"),
            at("line 1, characters 0-27", "A port \"o\" already exists in definition \"s\"."));
  EXPECT_EQ(build_error("function f() { }\nactuator f { }\n"),
            at("line 2, characters 0-14", "A definition \"f\" already exists."));
}

TEST(AlgoBuilder, StepsOnTheirOwn) {
  algorithm a = build(std::string(callee) + "function f() { in: int i, int c; }\n");
  const def_id f = algo_types::lookup_def(a, base_types::simple_name{"f"});
  const port_id c = *algo_types::port_by_name(a, algo_types::Def{f}, "c");
  const loc::location none = loc::none;
  alt::Ref_decl r{"r", base_types::simple_name{"g"}, {}, {alt::Period{-1}}};
  EXPECT_EQ(failure_text([&] { (void)add_ref(lib_dirs, std::nullopt, r, f, a); }), "Invalid period -1");
  r.options = {alt::Period{3}};
  a = add_ref(lib_dirs, algo_types::cond{c, 1}, r, f, std::move(a));
  EXPECT_EQ(as::string_of_opt_cond(a, algo_types::ref_cond(a, algo_types::lookup_ref(a, base_types::simple_name{"f"}, "r"))),
            "(c = 1)");
  EXPECT_EQ(failure_text([&] { (void)lookup_port(a, f, std::nullopt, alt::port_path{"r", "i"}); }),
            "Reference r not found in definition f.");
  EXPECT_NO_THROW((void)lookup_port(a, f, algo_types::cond{c, 1}, alt::port_path{"r", "i"}));
  const alt::match_case mc{2, {alt::statement{none, alt::Ref_decl{"r", base_types::simple_name{"g"}, {}, {}}}}};
  a = add_match_case(lib_dirs, c, mc, f, std::move(a));
  EXPECT_EQ(algo_types::refs_by_cond(a, f).size(), 2u);
  const alt::statement nested{none, alt::Match{"c", {}}};
  EXPECT_EQ(located_text([&] { (void)add_declaration(lib_dirs, algo_types::cond{c, 1}, nested, f, a); }),
            "File \"\", line -1, characters 0-1:\nError: Nested \"match ... with\" are not allowed");
}

// ---------------------------------------------------------------------------------------------------------
// Library modules

TEST(AlgoModules, LoadedAlongTheIncludeDirectoriesOnce) {
  // Lib is only in the second directory, spelt Lib.Alg; Uses (USES.ALG) itself loads Lib and Other.
  const algorithm a = build(
      "function f() {\n"
      "  in: int i;\n"
      "  let r = Lib.g ;\n"
      "  let s = Lib.f(3) ;\n"
      "  let t = Uses.u ;\n"
      "  let v = Lib.g ;\n"
      "  i -> r.i, s.i, t.i, v.i;\n"
      "}\n");
  EXPECT_EQ(outline(a),
            "Function f()\n"
            "  in int i @0\n"
            "  let r = Lib.g\n"
            "  let s = Lib.f(3)\n"
            "  let t = Uses.u\n"
            "  let v = Lib.g\n"
            "  i -> v.i\n"
            "  i -> t.i\n"
            "  i -> s.i\n"
            "  i -> r.i\n"
            "Function Lib.f(n)\n"
            "  in int i @0\n"
            "  out int o @0\n"
            "Function Lib.g()\n"
            "  in int i @0\n"
            "  out int o @0\n"
            "  let x = Lib.f(1)\n"
            "  i -> x.i\n"
            "  x.o -> o\n"
            "Function Uses.u()\n"
            "  in int i @0\n"
            "  let y = Lib.g\n"
            "  let z = Other.h\n"
            "  i -> z.i\n"
            "  i -> y.i\n"
            "Function Other.h()\n"
            "  in int i @0\n");
  // The algorithm's own names stay its own: f is the definition of the file, not Lib's.
  EXPECT_EQ(algo_types::lookup_def(a, base_types::simple_name{"f"}).value, 1);
  EXPECT_EQ(algo_types::lookup_def(a, base_types::qualified_name{"Lib", "f"}).value, 2);
  EXPECT_EQ(a.env.mods().size(), 3u);
}

TEST(AlgoModules, Failures) {
  const auto at = [](const std::string& file, const char* where, const char* message) {
    return "File \"" + file + "\", " + where + ":\nError: " + message;
  };
  const std::string use = "function f() {\n  let r = ";
  EXPECT_EQ(build_error(use + "Nope.f ;\n}\n"), at("main.alg", "line 2, characters 2-18", "Algorithm module Nope not found."));
  EXPECT_EQ(build_error(use + "Lib.h ;\n}\n"), at("main.alg", "line 2, characters 2-17", "Definition Lib.h not found."));
  // Without the second directory Lib is not found; the working directory comes last in the caller's list.
  EXPECT_EQ(build_error(use + "Lib.f ;\n}\n", {data + "/modules/first"}),
            at("main.alg", "line 2, characters 2-17", "Algorithm module Lib not found."));
  // Failures inside a module file stand in that file; a refused edit keeps only its message.
  const std::string broken = data + "/modules/broken";
  EXPECT_EQ(build_error(use + "Broken.b ;\n}\n", {broken}),
            at(broken + "/broken.alg", "line 3, character 1", "Syntax error"));
  const std::string faulty = data + "/modules/faulty";
  EXPECT_EQ(build_error(use + "Faulty.q ;\n}\n", {faulty}),
            at(faulty + "/faulty.alg", "line 3, characters 7-14", "A port \"i\" already exists in definition \"q\"."));
  // Two modules that need each other.
  const std::string cycle = data + "/modules/cycle";
  EXPECT_EQ(build_error(use + "Ping.p ;\n}\n", {cycle}),
            at(cycle + "/pong.alg", "line 2, characters 2-18",
               ("Algorithm module file " + cycle + "/ping.alg is needed while it is being read.").c_str()));
  // A chain of modules, each using the next, deeper than the reader goes: refused where the first file too
  // many is needed, not a crash. One module fewer reads.
  const std::string chain = testing::TempDir() + "module_chain_" + std::to_string(getpid());
  std::filesystem::create_directories(chain);
  const int depth = 101;
  for (int k = 0; k < depth; ++k) {
    std::ofstream(chain + "/m" + std::to_string(k) + ".alg")
        << "function f() {\n"
        << (k + 1 < depth ? "  let r = M" + std::to_string(k + 1) + ".f ;\n" : std::string()) << "}\n";
  }
  EXPECT_EQ(build_error(use + "M0.f ;\n}\n", {chain}),
            at(chain + "/m99.alg", "line 2, characters 2-18",
               ("Algorithm module file " + chain + "/m100.alg is needed inside more than 100 module files being read.")
                   .c_str()));
  std::filesystem::remove(chain + "/m100.alg");
  std::ofstream(chain + "/m100.alg") << "function f() {\n}\n";
  std::filesystem::remove(chain + "/m0.alg");
  std::filesystem::rename(chain + "/m1.alg", chain + "/m0.alg");
  EXPECT_EQ(build_error(use + "M0.f ;\n}\n", {chain}), "");
  std::filesystem::remove_all(chain);
}

TEST(AlgoModules, LoadAlgoFile) {
  const std::string file = data + "/app.alg";
  EXPECT_EQ(located_text([&] { (void)load_algo_file(lib_dirs, file, algo_types::create()); }),
            "File \"" + file + "\", line 11, characters 2-19:\nError: Definition missing not found.");
  EXPECT_THROW((void)load_algo_file(lib_dirs, data + "/absent.alg", algo_types::create()), Sys_error);
  // The loader handed to the model reads a module file the same way.
  algorithm a = algo_types::create();
  auto [d, b] = algo_types::load_lookup_def(a, lib_dirs, module_loader(), base_types::qualified_name{"Lib", "g"});
  EXPECT_EQ(as::string_of_def(b, d), "Lib.g");
}

TEST(AlgoModules, FileErrorsComeBeforeBuildingFailures) {
  // Definitions are built while the file is read; what the file itself gets wrong still wins over a
  // building failure met earlier in it, and the definitions read after a failure are not built.
  const auto file_with = [](const std::string& name, const std::string& text) {
    const std::string path = testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
  };
  const auto load_error = [&](const std::string& name, const std::string& text) {
    const std::string path = file_with(name, text);
    return located_text([&] { (void)load_algo_file(lib_dirs, path, algo_types::create()); });
  };
  const std::string failing = "function f() {\n  let r = Nope.f ;\n}\n";
  const std::string at = "File \"" + testing::TempDir();
  EXPECT_EQ(load_error("late_syntax.alg", failing + "function g( {\n}\n"),
            at + "late_syntax.alg\", line 4, character 13:\nError: Syntax error");
  EXPECT_EQ(load_error("late_lexical.alg", failing + "function g() { # }\n"),
            at + "late_lexical.alg\", line 4, character 16:\nError: Invalid character #");
  EXPECT_EQ(load_error("first_failure.alg", failing + "function g() {\n  let s = Other.h ;\n}\n"),
            at + "first_failure.alg\", line 2, characters 2-18:\nError: Algorithm module Nope not found.");

  // A module read in the middle of the file, and a definition using one built before it: the same model
  // as from the declarations read whole.
  const std::string text =
      "function f() {\n  in: int i;\n  let r = Lib.g ;\n  i -> r.i;\n}\n"
      "function h() {\n  in: int i;\n  let a = f ;\n  let b = Uses.u ;\n  i -> a.i, b.i;\n}\n";
  const algorithm streamed = load_algo_file(lib_dirs, file_with("streamed.alg", text), algo_types::create());
  EXPECT_EQ(outline(streamed), outline(build(text)));
}

// ---------------------------------------------------------------------------------------------------------
// Edit actions

port_spec spec(const std::string& name, algo_types::direction dir, std::int64_t position = -1,
               std::optional<algo_types::expr> size = std::nullopt) {
  port_spec p;
  p.name = name;
  p.size = std::move(size);
  p.dir = dir;
  p.type = "int";
  p.position = position;
  return p;
}

TEST(AlgoActions, EveryAction) {
  using algo_types::direction;
  const std::vector<action> acts{
      Add_def{"g", algo_types::definition_kind::Function, {"n"}},
      Add_port{"g", spec("i", direction::In)},
      Add_port{"g", spec("o", direction::Out, 0, algo_test::num(4))},
      Add_def{"f", algo_types::definition_kind::Delay, {}},
      Add_port{"f", spec("b", direction::In, 3)},
      Add_port{"f", spec("c", direction::In, 0)},  // inserted before b
      Add_port{"f", spec("o", direction::Out)},
      Add_ref{{"r", 2, "note", {algo_test::id("n")}, true}, base_types::simple_name{"g"}, "f", cond_decl{"c", 1}},
      Add_ref{{"r", std::nullopt, "", {}, false}, base_types::qualified_name{"Lib", "f"}, "f", cond_decl{"c", 2}},
      Add_data_edge{Def_port{"f", "b"}, Ref_port{"f", "r", "i"}, cond_decl{"c", 1}},
      Add_data_edge{Ref_port{"f", "r", "o"}, Def_port{"f", "o"}, cond_decl{"c", 2}},
      Add_data_edge{Def_port{"f", "b"}, Def_port{"f", "o"}, cond_decl{"c", 1}},
      Deferred{[](algorithm a) { return algo_ops::add_def(std::move(a), std::nullopt, std::nullopt,
                                                            algo_types::definition_kind::Sensor, "s")
                                     .second; }},
  };
  const algorithm a = do_actions(lib_dirs, algo_types::create(), acts);
  EXPECT_EQ(outline(a),
            "Function g(n)\n"
            "  in int i @0\n"
            "  out int[4] o @0\n"
            "Delay f()\n"
            "  in int c @0\n"
            "  in int b @1\n"
            "  out int o @0\n"
            "  let r = g(n) period 2 abstract (c = 1)\n"
            "  let r = Lib.f (c = 2)\n"
            "  b -> o (c = 1)\n"
            "  b -> r.i (c = 1)\n"
            "  r.o -> o (c = 2)\n"
            "Function Lib.f(n)\n"
            "  in int i @0\n"
            "  out int o @0\n"
            "Function Lib.g()\n"
            "  in int i @0\n"
            "  out int o @0\n"
            "  let x = Lib.f(1)\n"
            "  i -> x.i\n"
            "  x.o -> o\n"
            "Sensor s()\n");
  const algo_types::ref_id r = algo_types::lookup_ref(a, base_types::simple_name{"f"}, "r");
  EXPECT_EQ(algo_types::get_ref(a, r).ref_comment, "note");
  // Both ends of an edge are looked up under its condition: r.i is the input of the second case's r.
  const algorithm linked =
      do_action(lib_dirs, a, Add_data_edge{Def_port{"f", "c"}, Ref_port{"f", "r", "i"}, cond_decl{"c", 2}});
  const algo_types::port_id fc = algo_types::lookup_port(linked, base_types::simple_name{"f"}, std::nullopt, "c");
  const std::vector<algo_types::graph_elt> reached =
      algo_types::retrieve_succ(linked, algo_types::Port{fc}, algo_types::is_data);
  ASSERT_EQ(reached.size(), 1U);
  const algo_types::graph_elt holder = algo_types::port_container(linked, std::get<algo_types::Port>(reached[0]).id);
  EXPECT_EQ(algo_types::reference_def(linked, std::get<algo_types::Ref>(holder).id),
            algo_types::lookup_def(linked, base_types::qualified_name{"Lib", "f"}));

  // Removals: the reference under its condition, a port with its copies, a definition with its users.
  const algorithm b = do_actions(lib_dirs, a, {Remove_ref{"f", "r", cond_decl{"c", 2}}, Remove_port{"g", "i"}});
  EXPECT_EQ(outline(b),
            "Function g(n)\n"
            "  out int[4] o @0\n"
            "Delay f()\n"
            "  in int c @0\n"
            "  in int b @1\n"
            "  out int o @0\n"
            "  let r = g(n) period 2 abstract (c = 1)\n"
            "  b -> o (c = 1)\n"
            "Function Lib.f(n)\n"
            "  in int i @0\n"
            "  out int o @0\n"
            "Function Lib.g()\n"
            "  in int i @0\n"
            "  out int o @0\n"
            "  let x = Lib.f(1)\n"
            "  i -> x.i\n"
            "  x.o -> o\n"
            "Sensor s()\n");
  EXPECT_TRUE(algo_types::ports(b, algo_types::Ref{r}, direction::In).empty());
  const algorithm c = do_action(lib_dirs, b, Remove_def{"g"});
  EXPECT_EQ(algo_types::refs_under_def(c, algo_types::lookup_def(c, base_types::simple_name{"f"})).size(), 0u);
}

TEST(AlgoActions, Failures) {
  const std::vector<action> base{
      Add_def{"g", algo_types::definition_kind::Function, {}},
      Add_port{"g", spec("i", algo_types::direction::In)},
      Add_def{"f", algo_types::definition_kind::Function, {}},
      Add_port{"f", spec("c", algo_types::direction::In)},
      Add_port{"f", spec("o", algo_types::direction::Out)},
  };
  const algorithm a = do_actions(lib_dirs, algo_types::create(), base);
  const auto fails = [&](const action& act) { return failure_text([&] { (void)do_actions(lib_dirs, a, {act}); }); };
  const auto ref = [](const char* container, base_types::qname def, std::optional<cond_decl> c) {
    return Add_ref{{"r", std::nullopt, "", {}, false}, std::move(def), container, std::move(c)};
  };
  EXPECT_EQ(fails(ref("f", base_types::simple_name{"g"}, cond_decl{"o", 1})), "No input port o in current definion");
  EXPECT_EQ(fails(ref("h", base_types::simple_name{"g"}, std::nullopt)), "Definition h not found.");
  EXPECT_EQ(fails(ref("f", base_types::simple_name{"h"}, std::nullopt)), "Definition h not found.");
  EXPECT_EQ(fails(ref("f", base_types::qualified_name{"Nope", "h"}, std::nullopt)), "Algorithm module Nope not found.");
  EXPECT_EQ(fails(Add_def{"g", algo_types::definition_kind::Function, {}}), "Def g: A definition \"g\" already exists.");
  EXPECT_EQ(fails(Add_data_edge{Def_port{"f", "o"}, Def_port{"f", "c"}, std::nullopt}),
            "Port o: Out port o cannot send data to in port c.");
  EXPECT_EQ(fails(Add_data_edge{Def_port{"f", "c"}, Def_port{"f", "o"}, cond_decl{"x", 1}}),
            "No input port x in current definion");
  EXPECT_EQ(fails(Remove_port{"f", "z"}), "Port z not found in definition f.");
  // A refused edit outside do_actions stays the model's problem.
  EXPECT_EQ(problem_text([&] { (void)do_action(lib_dirs, a, Add_port{"f", spec("c", algo_types::direction::Out)}); }),
            "Def f: A port \"c\" already exists in definition \"f\".");
}

}  // namespace
}  // namespace cvn::algo_lang
