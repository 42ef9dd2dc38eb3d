// Round trip of the algorithm language: a text in the printer's form reads back into a model that prints
// the same text again, byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "algo/algo_io.h"
#include "algo/algo_lang.h"
#include "algo/algo_lang_parser.h"
#include "algo/algo_types.h"
#include "base/lexer.h"
#include "base/loc.h"
#include "base/misc.h"

namespace cvn::algo_lang {
namespace {

const std::string data = std::string(CVN_TEST_DATA) + "/algo/data";
const include_dirs lib_dirs{data + "/modules/first", data + "/modules/second"};

std::string reprint(const std::string& text) {
  lexer::lexer lex(text, "round.alg");
  algo_lang_types::algo_decl decls;
  try {
    decls = algo_lang_parser::parse_algo_decl(lex);
  } catch (const algo_lang_parser::Error& e) {
    loc::raise_problem({e.where(), e.where()}, "Syntax error");
  }
  return algo_io::string_of_algo(add_algo_decl(lib_dirs, algo_types::create(), decls));
}

TEST(AlgoRoundTrip, EveryShapeOfTheLanguage) {
  const std::string text =
      "function g(n) {\n"
      "  in: int i, bool b;\n"
      "  out: int o;\n"
      "}\n"
      "function e() {\n"
      "}\n"
      "constant k(n) { int x = 5, int[n + 1] y [unit=\"m\\\"s\", a=\"1\"] = {1, 2} }\n"
      "constant c() { int x = 5 }\n"
      "sensor s() { int o1, bool o2 }\n"
      "actuator t(n) { int[n] i1 }\n"
      "delay d() {\n"
      "  in: int i;\n"
      "  out: int o;\n"
      "}\n"
      // References with every option, a module definition, a precedence, edges in the printer's order.
      "function f(n, m) {\n"
      "  in: int[n] i [w=\"1\"], bool c;\n"
      "  out: int o, int p;\n"
      "  let r = g(n * 2, 1) [period 5, parallel n (i*, o/), abstract, k=\"w\"] ;\n"
      "  let q = g [sequence 3(o -> i, i=)] ;\n"
      "  let z = Lib.f(2) ;\n"
      "  let w = g(a / (b + c), a - b - c) [parallel 2] ;\n"
      "  let v = g [sequence 3()] ;\n"
      "  r --> q;\n"
      "  z.o -> p;\n"
      "  q.o -> z.i;\n"
      "  r.o -> o;\n"
      "  c -> q.b;\n"
      "  c -> r.b;\n"
      "  i -> q.i;\n"
      "  i -> r.i;\n"
      "}\n"
      // Conditioned groups in case order, a pass-through group last.
      "function h() {\n"
      "  in: int i, int c;\n"
      "  out: int o;\n"
      "  match c with\n"
      "  | 1 ->\n"
      "      let r = g ;\n"
      "      r.o -> o;\n"
      "      i -> r.i;\n"
      "  | 2 ->\n"
      "      let r = g ;\n"
      "      i -> r.i;\n"
      "  | 3 ->\n"
      "      i -> o;\n"
      "}\n"
      // Groups of links alone come in the order of their first link, a port's newest first: three of them
      // share the port i, and one of them also has a link from j.
      "function u() {\n"
      "  in: int i, int c, int j;\n"
      "  out: int o, int p;\n"
      "  match c with\n"
      "  | 3 ->\n"
      "      let r = g ;\n"
      "      i -> r.i;\n"
      "  | 2 ->\n"
      "      j -> p;\n"
      "      i -> o;\n"
      "  | 0 ->\n"
      "      i -> o;\n"
      "  | 1 ->\n"
      "      i -> p;\n"
      "}\n"
      // Precedences of one reference, newest first.
      "function p() {\n"
      "  let a = g ;\n"
      "  let b = g ;\n"
      "  let r = g ;\n"
      "  a --> b;\n"
      "  r --> b;\n"
      "  r --> a;\n"
      "}\n";
  EXPECT_EQ(reprint(text), text);
}

// Deterministic text of the shapes the converter prints: functions instantiating earlier ones, chained
// through data links, some holding a match. Once printed, the text must be a fixed point.
std::string generated(unsigned functions) {
  using misc::sprintf_string;
  std::uint64_t state = 11;
  const auto next = [&](unsigned bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state >> 33) % bound;
  };
  const char* ports = "  in: int i0, float i1, int c;\n  out: int o0, float o1;\n";
  std::string out = std::string("function f0(n) {\n") + ports + "}\n";
  for (unsigned f = 1; f < functions; ++f) {
    out += sprintf_string("function f%u(n) {\n", f) + ports;
    if (next(3) == 0) {
      out += "  match c with\n";
      for (unsigned v = 0; v < 2; ++v)
        out += sprintf_string("  | %u ->\n      let q = f%u(n) ;\n      i0 -> q.i0;\n      q.o0 -> o0;\n", v, next(f));
      out += "}\n";
      continue;
    }
    const unsigned refs = 2 + next(4);
    for (unsigned r = 0; r < refs; ++r)
      out += sprintf_string(next(2) ? "  let r%u = f%u(n - 1) [period 4] ;\n" : "  let r%u = f%u ;\n", r, next(f));
    out += "  i0 -> r0.i0;\n  i1 -> r0.i1, r1.i1;\n";
    for (unsigned r = 1; r < refs; ++r) out += sprintf_string("  r%u.o0 -> r%u.i0;\n", r - 1, r);
    out += sprintf_string("  r%u.o0 -> o0;\n  r0 --> r1;\n}\n", refs - 1);
  }
  return out;
}

TEST(AlgoRoundTrip, GeneratedTextIsAFixedPoint) {
  const std::string once = reprint(generated(300));
  EXPECT_EQ(reprint(once), once);
}

}  // namespace
}  // namespace cvn::algo_lang
