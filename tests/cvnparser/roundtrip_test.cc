// Every algorithm text the converter prints reads back into a model that prints the same text again: over
// the golden command-line cases of the default action and over generated application files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "algo/algo_io.h"
#include "algo/algo_lang.h"
#include "algo/algo_lang_parser.h"
#include "algo/algo_types.h"
#include "base/lexer.h"
#include "base/misc.h"
#include "bench/cvn_gen.h"
#include "cvnparser/cvn_main.h"

namespace cvn {
namespace {

namespace fs = std::filesystem;

std::string reprint(const std::string& text, const std::vector<std::string>& dirs) {
  lexer::lexer lex(text, "round.alg");
  const auto decls = algo_lang_parser::parse_algo_decl(lex);
  return algo_io::string_of_algo(algo_lang::add_algo_decl(dirs, algo_types::create(), decls));
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

TEST(RoundTrip, GoldenCasesOfTheDefaultAction) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(CVN_TEST_DATA) / "cli")) {
    const fs::path dir = entry.path();
    if (!fs::exists(dir / "cmd") || !fs::exists(dir / "expected_stdout")) continue;
    // Negations are written by the converter but the algorithm language has no unary minus.
    if (dir.filename() == "algo_expressions" || dir.filename() == "algo_negated_sums") continue;
    if (misc::string_of_file((dir / "expected_rc").string()) != "0\n") continue;
    // Only runs of the default action: include directories, --algo and the file.
    std::vector<std::string> dirs;
    bool default_action = true;
    const std::vector<std::string> args = words(misc::string_of_file((dir / "cmd").string()));
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "-I" && i + 1 < args.size())
        dirs.push_back((dir / args[++i]).string());
      else if (args[i] != "--algo" && args[i].rfind("-", 0) == 0)
        default_action = false;
    }
    if (!default_action) continue;
    dirs.push_back(dir.string());
    const std::string printed = misc::string_of_file((dir / "expected_stdout").string());
    if (printed.empty()) continue;
    SCOPED_TRACE(dir.filename().string());
    try {
      EXPECT_EQ(reprint(printed, dirs), printed);
    } catch (const error& e) {
      ADD_FAILURE() << e.printed();
    }
    ++checked;
  }
  EXPECT_GE(checked, 6) << "the golden cases of the default action were not found";
}

TEST(RoundTrip, GeneratedApplicationFiles) {
  for (const std::string shape : {"defs", "chain", "fanout", "cond", "arch", "groups"}) {
    SCOPED_TRACE(shape);
    // A few thousand references in the chain and fanout shapes: enough to cross every index's small-size
    // cases while keeping the test quick.
    const cvn_types::cvn_file file =
        cvn_main::parse_cvn_string(bench::generate_cvn(shape, 64 * 1024, 3000), "gen.cvn");
    const std::vector<std::string> incl{"."};
    const std::string printed = algo_io::string_of_algo(cvn_main::translate_algo(incl, file));
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(reprint(printed, incl), printed);
  }
}

}  // namespace
}  // namespace cvn
