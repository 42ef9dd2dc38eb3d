// The algorithm printer on models built through the checked operations: the parts of the language that the
// application-file translation never produces (precedences, dispatches, attributes, values, modules), the
// orders of ports and groups, and the states it refuses to print.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "algo/algo_io.h"
#include "algo_test_util.h"
#include "base/additional.h"
#include "base/misc.h"

namespace cvn::algo_io {
namespace {

using namespace cvn::algo_test;
using at::direction;

// A definition with one input i and one output o.
at::def_id io_def(at::algorithm& a, const std::string& name) {
  const at::def_id d = def(a, name);
  port(a, d, "i", direction::In);
  port(a, d, "o", direction::Out);
  return d;
}

TEST(AlgoPrinter, PrecedencesDispatchesAttributesAndValues) {
  at::algorithm a = at::create();
  const at::def_id g = def(a, "g");
  port(a, g, "i", direction::In);
  port(a, g, "j", direction::In);
  port(a, g, "o", direction::Out);
  const at::def_id k = def(a, "k", at::definition_kind::Constant);
  a = ops::add_port(a, std::nullopt, std::nullopt, "int", direction::Out, "x", num(5),
                    additional::of_list({{"unit", "m\"s"}, {"at", "1"}}), k);
  const at::def_id top = def(a, "top");
  const at::ref_id r1 = ref(a, top, g, "r1", std::nullopt,
                            at::parallel_decl{id("n"), {{"i", at::port_dispatch_kind::Split},
                                                        {"o", at::port_dispatch_kind::Gather}}});
  const at::ref_id r2 = ref(a, top, g, "r2", std::nullopt,
                            at::sequence_decl{num(3), {at::seq_link_decl{"o", "i"},
                                                       at::seq_dispatch_decl{"j", at::port_dispatch_kind::Same}}});
  const at::ref_id r3 = ref(a, top, g, "r3", std::nullopt, at::sequence_decl{num(2), {}});
  a = ops::add_precedence_edge(a, r1, r3);
  a = ops::add_precedence_edge(a, r1, r2);
  a = ops::add_precedence_edge(a, r2, r3);
  a = at::set_ref_additional(a, r3, additional::of_list({{"z", "last"}, {"b", "q\"uote"}}));
  EXPECT_EQ(string_of_algo(a),
            "function g() {\n"
            "  in: int i, int j;\n"
            "  out: int o;\n"
            "}\n"
            "constant k() { int x [unit=\"m\\\"s\", at=\"1\"] = 5 }\n"
            "function top() {\n"
            "  let r1 = g [parallel n (i*, o/)] ;\n"
            "  let r2 = g [sequence 3(o -> i, j=)] ;\n"
            "  let r3 = g [sequence 2(), b=\"q\\\"uote\", z=\"last\"] ;\n"
            "  r1 --> r2;\n"  // successors newest first
            "  r1 --> r3;\n"
            "  r2 --> r3;\n"
            "}\n");
}

TEST(AlgoPrinter, PortListsFollowPortOrderKeepingTiesInTheirGivenOrder) {
  at::algorithm a = at::create();
  const at::def_id s = def(a, "s", at::definition_kind::Sensor);
  const at::port_id p = port(a, s, "p", direction::Out);
  const at::port_id q = port(a, s, "q", direction::Out);
  const at::port_id r = port(a, s, "r", direction::Out);
  a = at::set_port_order(a, p, 1);
  a = at::set_port_order(a, q, 1);
  a = at::set_port_order(a, r, 0);
  EXPECT_EQ(string_of_algo(a), "sensor s() { int r, int p, int q }\n");
  EXPECT_EQ(string_of_ports(a, {q, p}), "int q, int p") << "ties stay in the order given";
  const at::def_id act = def(a, "act", at::definition_kind::Actuator);
  port(a, act, "u", direction::In);
  port(a, act, "v", direction::Out);  // an actuator shows its inputs only
  EXPECT_EQ(*string_of_def(a, act), "actuator act() { int u }\n");
}

TEST(AlgoPrinter, EdgesOfAGroupComeLastGatheredFirst) {
  // Gathered: the input ports (x before y by order), then each reference's outputs; within a port the
  // newest edge first. Written in reverse.
  at::algorithm a = at::create();
  const at::def_id g = io_def(a, "g");
  const at::def_id top = def(a, "top");
  const at::port_id y = port(a, top, "y", direction::In);
  const at::port_id x = port(a, top, "x", direction::In, "int", 0);
  const at::port_id out = port(a, top, "out", direction::Out);
  const at::ref_id r = ref(a, top, g, "r");
  const at::ref_id s = ref(a, top, g, "s");
  a = ops::add_data_edge(a, std::nullopt, rport(a, s, "o"), out);
  a = ops::add_data_edge(a, std::nullopt, y, rport(a, r, "i"));
  a = ops::add_data_edge(a, std::nullopt, rport(a, r, "o"), rport(a, s, "i"));
  const at::def_id h = def(a, "h");
  port(a, h, "i", direction::In);
  const at::ref_id t = ref(a, top, h, "t");
  a = ops::add_data_edge(a, std::nullopt, x, rport(a, t, "i"));
  EXPECT_EQ(string_of_function_body(a, top),
            "  let r = g ;\n"
            "  let s = g ;\n"
            "  let t = h ;\n"
            "  s.o -> out;\n"
            "  r.o -> s.i;\n"
            "  y -> r.i;\n"
            "  x -> t.i;\n");
  // h is added after top but used by it: dependency order puts it first.
  const std::string text = string_of_algo(a);
  EXPECT_LT(text.find("function h()"), text.find("function top()"));
}

TEST(AlgoPrinter, ConditionedGroupsWithAMatchCasePerValue) {
  at::algorithm a = at::create();
  const at::def_id g = io_def(a, "g");
  const at::def_id top = def(a, "top");
  const at::port_id c = port(a, top, "c", direction::In);
  const at::port_id x = port(a, top, "x", direction::In);
  const at::port_id y = port(a, top, "y", direction::Out);
  const at::port_id z = port(a, top, "z", direction::Out);
  const at::cond c2{c, 2}, c7{c, 7}, c5{c, 5};
  a = ops::add_data_edge(a, c5, x, y);  // a case of a pass-through alone: after the cases with references
  const at::ref_id r = ref(a, top, g, "r", c7);
  const at::ref_id q = ref(a, top, g, "q", c2);
  a = ops::add_data_edge(a, c7, x, rport(a, r, "i"));
  a = ops::add_data_edge(a, c7, rport(a, r, "o"), y);
  a = ops::add_data_edge(a, std::nullopt, rport(a, q, "o"), z);  // unconditioned: the case of its reference
  EXPECT_EQ(string_of_function_body(a, top),
            "  match c with\n"
            "  | 7 ->\n"
            "      let r = g ;\n"
            "      r.o -> y;\n"
            "      x -> r.i;\n"
            "  | 2 ->\n"
            "      let q = g ;\n"
            "      q.o -> z;\n"
            "  | 5 ->\n"
            "      x -> y;\n");
}

// Conditions found on edges alone open groups while the edges of a port are gathered: the port's other
// edges still see the condition of its reference.
TEST(AlgoPrinter, GroupsOpenedWhileAPortsEdgesAreGathered) {
  at::algorithm a = at::create();
  const at::def_id g = io_def(a, "g");
  const at::def_id top = def(a, "top");
  const at::port_id c = port(a, top, "c", direction::In);
  const at::port_id y = port(a, top, "y", direction::Out);
  const at::port_id z = port(a, top, "z", direction::Out);
  const at::ref_id r = ref(a, top, g, "r");
  a = ops::add_data_edge(a, at::cond{c, 1}, rport(a, r, "o"), z);
  a = ops::add_data_edge(a, at::cond{c, 5}, rport(a, r, "o"), y);
  EXPECT_EQ(string_of_function_body(a, top),
            "  let r = g ;\n"
            "  match c with\n"
            "  | 5 ->\n"
            "      r.o -> y;\n"
            "  | 1 ->\n"
            "      r.o -> z;\n");
}

TEST(AlgoPrinter, PrintedInPiecesOfWholeLines) {
  // A body far longer than one piece: its text is handed over in several pieces, each ending a line, that
  // together are the text of string_of_algo.
  at::algorithm a = at::create();
  const at::def_id g = io_def(a, "g");
  const at::def_id top = def(a, "top");
  at::port_id previous = port(a, top, "x", direction::In);
  for (int k = 0; k < 4000; ++k) {
    const at::ref_id r = ref(a, top, g, "r" + std::to_string(k));
    a = ops::add_data_edge(a, std::nullopt, previous, rport(a, r, "i"));
    previous = rport(a, r, "o");
  }
  std::vector<std::string> pieces;
  print_algo(a, [&](const std::string& piece) { pieces.push_back(piece); });
  ASSERT_GT(pieces.size(), 1U);
  std::string joined;
  for (const std::string& piece : pieces) {
    EXPECT_EQ(piece.back(), '\n');
    joined += piece;
  }
  EXPECT_EQ(joined, string_of_algo(a));
}

TEST(AlgoPrinter, RefusesWhatHasNoTextualForm) {
  at::algorithm a = at::create();
  def(a, "e", at::definition_kind::Explode);
  EXPECT_THROW((void)string_of_algo(a), base_types::Internal_error);

  // An edge between references of two different conditions cannot be placed in either case.
  at::algorithm b = at::create();
  const at::def_id g = def(b, "g");
  port(b, g, "i", direction::In);
  port(b, g, "o", direction::Out);
  const at::def_id top = def(b, "top");
  const at::port_id c = port(b, top, "c", direction::In);
  const at::ref_id r = ref(b, top, g, "r", at::cond{c, 1});
  const at::ref_id s = ref(b, top, g, "s", at::cond{c, 2});
  b = ops::add_data_edge(b, at::cond{c, 1}, rport(b, r, "o"), rport(b, s, "i"));
  EXPECT_THROW((void)string_of_algo(b), base_types::Internal_error);
}

// A module file lib.alg in a directory of its own; the loader adds what reading it would: g(i).
struct PrinterModules : ::testing::Test {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("algo_printer_test_" + std::to_string(getpid()));
  void SetUp() override {
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "lib.alg") << "";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(PrinterModules, ModuleDefinitionsAreNamedButNotWritten) {
  const at::module_loader loader = [](const std::vector<std::string>&, const std::string&, const at::algorithm& a) {
    at::algorithm b = a;
    const at::def_id g = def(b, "g");
    port(b, g, "i", direction::In);
    return b;
  };
  at::algorithm a = at::create();
  const at::def_id top = def(a, "top");
  auto [g, b] = at::load_lookup_def(a, {dir.string()}, loader, base_types::qualified_name{"Lib", "g"});
  a = std::move(b);
  ref(a, top, g, "u");
  EXPECT_EQ(string_of_algo(a), "function top() {\n  let u = Lib.g ;\n}\n");
  EXPECT_FALSE(string_of_def(a, g).has_value());

  // The file holds the same text; an unwritable path is the system's error.
  const std::string file = (dir / "out.alg").string();
  file_of_algo(file, a);
  EXPECT_EQ(misc::string_of_file(file), string_of_algo(a));
  EXPECT_THROW(file_of_algo((dir / "no" / "out.alg").string(), a), Sys_error);
}

}  // namespace
}  // namespace cvn::algo_io
