// The algorithm translation: the actions made of a definition, and the default and split outputs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <typeinfo>

#include "algo/algo_io.h"
#include "algo/algo_string.h"
#include "base/misc.h"
#include "bench/cvn_gen.h"
#include "cvnparser/cvn_main.h"

namespace cvn::cvn_main {
namespace {

const char* const two_bodies =
    "def algorithm G : ? int i ; ! int o ;\n"
    "def algorithm Top<In> :\n"
    "  ? int [In + 1] X 2 ;\n"
    "  ? int c ;\n"
    "  conditions : C = 1 ;\n"
    "  references : G<In> [2 : i <- o] Let 4 true ; lib/Ext e ;\n"
    "  dependences : data X -> Let.i ; data Let.o -> e.x ;\n"
    "  conditions : c = 2 ;\n"
    "  references :\n"
    "  dependences : weak_precedence_data X -> X ;\n";

std::string end_text(const data_end& e) {
  if (const auto* p = std::get_if<Ref_port>(&e)) return p->def + ":" + p->ref + "." + p->port;
  const auto& p = std::get<Def_port>(e);
  return p.def + ":" + p.port;
}

TEST(TranslateAlgo, ActionsComeInFileOrderWithFixedNames) {
  const cvn_types::cvn_file file = parse_cvn_string(two_bodies, "t.cvn");
  const std::vector<std::string> incl{"."};
  const std::vector<action> acts = translate_defs(incl, file.cvn_algos);
  // G: itself and its ports; top: itself, its ports, then per body its references and its dependences.
  std::vector<std::size_t> kinds;
  for (const auto& act : acts) kinds.push_back(act.index());
  EXPECT_EQ(kinds, (std::vector<std::size_t>{1, 0, 1, 0, 3, 3, 2, 2, 2}));

  const auto& top = std::get<Def_action>(acts[2]).def;
  EXPECT_EQ(top.name, "top");
  EXPECT_EQ(top.params, std::vector<std::string>{"parin"});
  EXPECT_EQ(top.kind, algo_types::definition_kind::Function);
  const auto& ports = std::get<Port_action>(acts[3]);
  EXPECT_EQ(ports.def, "top");
  ASSERT_EQ(ports.ports.size(), 2U);
  const port_decl& x = ports.ports[0];
  EXPECT_EQ(x.name, "x");
  EXPECT_EQ(x.position, 2);
  ASSERT_TRUE(x.size.has_value());
  EXPECT_EQ(algo_string::string_of_expr(*x.size), "parin + 1");
  EXPECT_FALSE(x.value.has_value());
  EXPECT_EQ(ports.ports[1].name, "c");

  const auto& first = std::get<Data_action>(acts[6]);
  EXPECT_EQ(end_text(first.source), "top:x");
  EXPECT_EQ(end_text(first.destination), "top:r_let.i");
  EXPECT_EQ(first.condition, (std::optional<cond_decl>{{"c", 1}})) << "the variable goes through the port fixer";
  const auto& last = std::get<Data_action>(acts[8]);
  EXPECT_EQ(end_text(last.source), "top:x");
  EXPECT_EQ(last.condition, (std::optional<cond_decl>{{"c", 2}}));
}

TEST(TranslateAlgo, ReferencesRunInTurnWithTheirOptions) {
  // Everything but the library reference, which fails at its turn: the actions before it have run.
  const cvn_types::cvn_file file = parse_cvn_string(two_bodies, "t.cvn");
  const std::vector<std::string> incl{"."};
  const std::vector<action> acts = translate_defs(incl, file.cvn_algos);
  algo_types::algorithm a = algo_types::create();
  for (std::size_t k = 0; k < 5; ++k) a = apply_action(std::move(a), acts[k]);
  EXPECT_EQ(algo_io::string_of_algo(a),
            "function g() {\n  in: int i;\n  out: int o;\n}\n"
            "function top(parin) {\n  in: int c, int[parin + 1] x;\n"
            "  match c with\n  | 1 ->\n      let r_let = g(parin) [period 4, sequence 2(o -> i), abstract] ;\n}\n");
  try {
    a = apply_action(std::move(a), acts[5]);
    FAIL() << "the module has no file";
  } catch (const Failure& f) {
    EXPECT_EQ(f.message(), "Algorithm module Lib not found.");
  }
}

TEST(TranslateAlgo, ARefusedEditIsTheModelsProblem) {
  const cvn_types::cvn_file file =
      parse_cvn_string("def sensor S : ! int o ;\ndef algorithm T : ! bool b ;\n"
                       "  conditions : ; references : S s ; dependences : data s.o -> b ;\n",
                       "t.cvn");
  try {
    (void)translate_algo({"."}, file);
    FAIL() << "types differ";
  } catch (const algo_types::Problem& p) {
    EXPECT_EQ(algo_string::string_of_problem(p), "Port o: Port o of type int cannot be linked to port b of type bool.");
  }
}

TEST(TranslateAlgo, SplitOutputWritesTheSameTextToStandardOutputAndTheFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("translate_algo_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const cvn_types::cvn_file file = parse_cvn_string("def actuator A : ? int i ;\n", "t.cvn");
  testing::internal::CaptureStdout();
  output_algorithms({"."}, file, (dir / "p").string());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "actuator a() { int i }\n");
  EXPECT_EQ(misc::string_of_file((dir / "p.alg").string()), out);
  std::filesystem::remove_all(dir);
}

// The whole-model printer reads the tables into arrays and finds a body's ends by node key in one shared
// array, which each body must leave clean for the next; a single definition's printer looks records up and
// hashes its ends. Both must give the same text, definition by definition, in dependency order.
TEST(TranslateAlgo, WholeModelTextIsEachDefinitionsTextInDependencyOrder) {
  std::vector<std::pair<std::string, std::string>> inputs{
      {"example", misc::string_of_file(std::string(CVN_TEST_DATA) + "/../examples/example.cvn")}};
  for (const std::string shape : {"defs", "chain", "fanout", "cond"})
    inputs.emplace_back(shape, bench::generate_cvn(shape, 32 * 1024, 500));
  for (const auto& [name, text] : inputs) {
    SCOPED_TRACE(name);
    const algo_types::algorithm a = translate_algo({"."}, parse_cvn_string(text, name + ".cvn"));
    std::string each;
    std::size_t bodies = 0;
    for (const algo_types::def_id d : algo_types::sort_defs_by_dep(a, algo_types::defs(a)))
      if (const auto t = algo_io::string_of_def(a, d)) {
        each += *t;
        bodies += t->find(" -> ") != std::string::npos ? 1 : 0;
      }
    EXPECT_GT(bodies, 0U) << "some definition has data edges";
    EXPECT_EQ(algo_io::string_of_algo(a), each);
  }
}

// A large model's definitions are printed in two runs, the second on another thread: the text is still each
// definition's own in dependency order, and of two definitions that cannot be written, one in each run, the
// first in that order is the one named, as when printing one after the other.
TEST(TranslateAlgo, PrintingInTwoRunsKeepsTheOrderOfTextAndFailures) {
  const auto model = [](const std::vector<std::size_t>& unwritable) {
    std::string text = "def sensor S : ! int o ;\n";
    for (std::size_t k = 0; k < 1500; ++k) {
      const bool bad = std::find(unwritable.begin(), unwritable.end(), k) != unwritable.end();
      text += "def algorithm D" + std::to_string(k) + " : ? int c ; ? int d ; ! int o ;\n"
              "  conditions : c = 1 ; references : S s ; dependences : data s.o -> o ;\n";
      if (bad) text += "  conditions : d = 2 ; references : S t ; dependences :\n";
    }
    return translate_algo({"."}, parse_cvn_string(text, "t.cvn"));
  };
  // The text, or the failure, of printing the definitions one after the other.
  const auto one_by_one = [](const algo_types::algorithm& a) {
    std::string each;
    try {
      for (const algo_types::def_id d : algo_types::sort_defs_by_dep(a, algo_types::defs(a)))
        if (const auto t = algo_io::string_of_def(a, d)) each += *t;
    } catch (const Failure& f) {
      return "failed: " + f.message();
    }
    return each;
  };
  const auto whole = [](const algo_types::algorithm& a) {
    try {
      return algo_io::string_of_algo(a);
    } catch (const Failure& f) {
      return "failed: " + f.message();
    }
  };
  const algo_types::algorithm good = model({});
  EXPECT_EQ(whole(good), one_by_one(good));
  EXPECT_EQ(whole(good).find("failed"), std::string::npos);
  for (const std::vector<std::size_t>& bad : {std::vector<std::size_t>{20, 1480}, {1480}, {20}}) {
    const algo_types::algorithm a = model(bad);
    const std::string expected = one_by_one(a);
    EXPECT_NE(expected.find("cannot be written"), std::string::npos) << expected;
    EXPECT_EQ(whole(a), expected);
  }
}

// What the default action gives for a file: its text, or the failure it ends with.
std::string default_action(const std::string& file, bool from_file) {
  std::string text;
  const auto put = [&text](const std::string& piece) { text += piece; };
  try {
    if (from_file)
      (void)write_algorithms_of_file({"."}, file, put);
    else
      (void)write_algorithms({"."}, parse_cvn(file), put);
  } catch (const std::exception& e) {
    EXPECT_EQ(text, "") << "nothing is handed over before a failure";
    return std::string("failed: ") + typeid(e).name() + ": " + e.what();
  }
  return text;
}

// The default action reads the file on a thread of its own and takes the definitions over a piece at a time
// (a definition's head, then each body's head, references and dependences): the same text and the same
// failures as translating the whole tree, a syntax error coming first wherever it stands.
TEST(TranslateAlgo, ReadingAlongsideTheTranslationChangesNothing) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("translate_algo_stream_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::vector<std::pair<std::string, std::string>> inputs{
      {"example", misc::string_of_file(std::string(CVN_TEST_DATA) + "/../examples/example.cvn")},
      {"two_bodies", two_bodies},
      // Refused by the model, by the translation, by the printer (two condition variables), by the reader
      // after a refused edit, and by the reader after definitions that translate well.
      {"refused", "def sensor S : ! int o ;\ndef algorithm T : ! bool b ;\n"
                  "  conditions : ; references : S s ; dependences : data s.o -> b ;\n"},
      {"missing", "def algorithm T : ! int o ;\n  conditions : ; references : U u ; dependences :\n"},
      {"two_variables", "def sensor S : ! int o ;\ndef algorithm T : ? int c ; ? int d ;\n"
                        "  conditions : c = 1 ; references : S s ; dependences :\n"
                        "  conditions : d = 2 ; references : S t ; dependences :\n"},
      {"refused_then_syntax", "def algorithm T : ! int o ;\n  conditions : ; references : U u ; dependences :\n"
                              "def sensor S : ! int o ;\ndef sensor ;\n"},
      {"syntax_late", "def sensor S : ! int o ;\ndef algorithm T : ! int o ;\n  conditions : ; references :\n"
                      "    S s ; dependences : data s.o -> o ;\n  conditions : ; references : S t ; dependences :\n"
                      "    data t.o -> \n"},
      {"empty", ""}};
  for (const std::string shape : {"defs", "chain", "fanout", "cond"})
    inputs.emplace_back(shape, bench::generate_cvn(shape, 64 * 1024, 1500));
  // Far more text than one piece before the definition that cannot be written, each of the others tested
  // by one variable in one body: the refusal must still come before any of it is handed over.
  std::string late = "def sensor S : ! int o ;\n";
  for (int k = 0; k < 1500; ++k) {
    late += "def algorithm D" + std::to_string(k) + " : ? int c ; ? int d ; ! int o ;\n"
            "  conditions : c = 1 ; references : S s ; dependences : data s.o -> o ;\n";
    if (k == 1480) late += "  conditions : d = 2 ; references : S t ; dependences :\n";
  }
  inputs.emplace_back("two_variables_late", late);
  for (const auto& [name, text] : inputs) {
    SCOPED_TRACE(name);
    const std::string file = (dir / (name + ".cvn")).string();
    misc::write_file(file, text);
    const std::string whole = default_action(file, false);
    EXPECT_EQ(default_action(file, true), whole);
    if (name == "two_variables" || name == "two_variables_late") {
      EXPECT_NE(whole.find("cannot be written"), std::string::npos) << whole;
    }
    if (name == "refused_then_syntax" || name == "syntax_late") {
      EXPECT_NE(whole.find("Syntax error"), std::string::npos) << whole;
    }
    if (name == "defs" || name == "example") {
      EXPECT_EQ(whole.find("failed"), std::string::npos) << whole;
    }
  }
  // The parts of the file that the translation does not read are kept, the definitions are not.
  const std::string example = (dir / "example.cvn").string();
  const written_algorithms held = write_algorithms_of_file({"."}, example, [](const std::string&) {});
  const cvn_types::cvn_file tree = parse_cvn(example);
  EXPECT_TRUE(held.rest.cvn_algos.empty());
  EXPECT_EQ(held.rest.cvn_archs.size(), tree.cvn_archs.size());
  EXPECT_EQ(held.rest.cvn_durations.size(), tree.cvn_durations.size());
  EXPECT_EQ(held.rest.cvn_groups.size(), tree.cvn_groups.size());
  EXPECT_EQ(held.rest.cvn_constraints.size(), tree.cvn_constraints.size());
  EXPECT_GT(tree.cvn_archs.size() + tree.cvn_groups.size(), 0U);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace cvn::cvn_main
