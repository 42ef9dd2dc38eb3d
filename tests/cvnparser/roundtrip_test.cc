// Every algorithm text the converter prints reads back into a model that prints the same text again: over
// the golden command-line cases of the default action and over generated application files.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
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


// Random application files of small definitions: parameters, sizes and arguments, names that need fixing, memories,
// library references, repetitions, reference options, and conditioned bodies, some of links alone. Each
// dependence respects the rules of data links, so that most files translate.
class random_application {
 public:
  explicit random_application(std::uint64_t seed) : state_(seed * 2654435761ULL + 1) {}

  std::string text() {
    std::string out;
    if (chance(30)) defs_.push_back({"mylib/Twice", {}, {{"i", "int"}}, {{"o", "int"}}});
    if (chance(30)) {
      const std::string name = fresh("Mem");
      out += "def memory " + name + " [1] <N> :\n";
      defs_.push_back({name, {"N"}, ports({}, 1, 1, out, "?"), ports({}, 1, 1, out, "!")});
    }
    for (unsigned n = 1 + next(4); n > 0; --n) {
      const unsigned kind = next(3);
      const std::string name = fresh(kind == 1 ? "A" : "S");
      const std::vector<std::string> params = kind == 2 && chance(50) ? std::vector<std::string>{"K"} : std::vector<std::string>{};
      out += std::string("def ") + (kind == 0 ? "sensor " : kind == 1 ? "actuator " : "constant ") + name +
             (params.empty() ? "" : "<K>") + " :\n";
      local_.clear();
      def d{name, params, {}, {}};
      if (kind == 1)
        d.ins = ports(params, 1 + next(2), 0, out, "?");
      else
        d.outs = ports(params, 1 + next(2), 0, out, "!");
      defs_.push_back(d);
    }
    for (unsigned n = 1 + next(7); n > 0; --n) out += algorithm();
    return out;
  }

 private:
  using port_list = std::vector<std::pair<std::string, std::string>>;  // name, type
  struct def {
    std::string name;
    std::vector<std::string> params;
    port_list ins, outs;
  };
  struct end {
    std::string path, type;
    int rank;  // -1 for the definition's inputs, 99 for its outputs, else the reference's position
  };

  unsigned next(unsigned bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state_ >> 33) % bound;
  }
  bool chance(unsigned percent) { return next(100) < percent; }
  template <class T>
  const T& pick(const std::vector<T>& xs) { return xs[next(static_cast<unsigned>(xs.size()))]; }

  // A definition name: mostly numbered, sometimes one of the newer languages' keywords in some case.
  std::string fresh(const std::string& base) {
    static const std::vector<std::string> odd{"In", "Out", "Delay", "Match", "With", "Let", "Function", "Int", "Sensor"};
    for (;;) {
      std::string n = chance(15) ? pick(odd) : base + std::to_string(next(1000));
      std::string low = n;
      for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (used_.insert(low).second) return n;
    }
  }
  // An expression over the parameters, without negation (the algorithm language has no unary minus).
  std::string expr(const std::vector<std::string>& params, unsigned depth) {
    const unsigned k = next(depth < 4 ? 10 : 3);
    if (k == 0 || params.empty()) return std::to_string(next(20));
    if (k <= 2) return pick(params);
    if (k == 3) return "|" + expr(params, depth + 1) + "|";
    if (k == 4) return "(" + expr(params, depth + 1) + ")";
    if (k == 5) return "{" + expr(params, depth + 1) + ", " + expr(params, depth + 1) + "}";
    return expr(params, depth + 1) + " " + "+-*/"[next(4)] + " " + expr(params, depth + 1);
  }
  std::string size(const std::vector<std::string>& params) {
    if (!params.empty() && chance(30)) return " [" + expr(params, 0) + "]";
    switch (next(6)) {
      case 1: return " [" + std::to_string(1 + next(8)) + "]";
      case 2: return params.empty() ? "" : " [" + pick(params) + "]";
      case 3: return params.empty() ? "" : " [(" + pick(params) + " * 2) - 1]";
      case 4: return params.empty() ? "" : " [" + pick(params) + " + " + pick(params) + " / 2]";
      default: return "";
    }
  }
  port_list ports(const std::vector<std::string>& params, unsigned count, unsigned first, std::string& out,
                  const char* dir) {
    static const std::vector<std::string> types{"int", "bool", "float", "Int", "T1"};
    static const std::vector<std::string> names{"i", "o", "p", "x", "In", "out", "v", "Let", "match"};
    port_list made;
    for (unsigned k = 0; k < count; ++k) {
      std::string n;
      do n = pick(names) + (chance(80) ? std::to_string(next(20)) : ""); while (!local_.insert(n).second);
      const std::string& t = pick(types);
      made.emplace_back(n, t);
      out += std::string("  ") + dir + " " + t + size(params) + " " + n + " " + std::to_string(first + k) + " ;\n";
    }
    return made;
  }

  std::string algorithm() {
    std::string out;
    const std::string name = fresh("F");
    std::vector<std::string> params;
    for (const char* p : {"N", "M", "Q"})
      if (chance(30)) params.emplace_back(p);
    out += "def algorithm " + name;
    if (!params.empty()) {
      out += "<";
      for (std::size_t k = 0; k < params.size(); ++k) out += (k ? ";" : "") + params[k];
      out += ">";
    }
    out += " :\n";
    local_.clear();
    def self{name, params, ports(params, next(4), 0, out, "?"), {}};
    self.outs = ports(params, next(4), 0, out, "!");
    // One condition port for the whole definition: the algorithm language tests one port per match.
    port_list testable;
    for (const auto& p : self.ins)
      if (p.second == "int" || p.second == "bool") testable.push_back(p);
    std::vector<std::string> blocks;
    if (!testable.empty() && chance(40)) {
      const std::string port = pick(testable).first;
      std::vector<unsigned> values{0, 1, 2, 3};
      for (unsigned n = 1 + next(4); n > 0; --n) {
        const unsigned at = next(static_cast<unsigned>(values.size()));
        blocks.push_back(port + " = " + std::to_string(values[at]));
        values.erase(values.begin() + at);
      }
    } else if (chance(90)) {
      blocks.emplace_back(chance(50) ? "true" : "");
    }
    std::set<std::string> ref_names;
    for (const std::string& condition : blocks) {
      out += "  conditions : " + condition + " ;\n  references :\n";
      std::vector<std::pair<std::string, const def*>> refs;
      // Links alone in most conditioned blocks, so that groups without references are common.
      const unsigned ref_count = condition.find('=') != std::string::npos && chance(50) ? 0 : next(5);
      for (unsigned k = 0; k < ref_count; ++k) {
        const def& d = pick(defs_);
        std::string rn;
        do rn = pick(std::vector<std::string>{"r", "g", "In", "out", "delay", "m"}) + std::to_string(next(50));
        while (!ref_names.insert(rn).second);
        std::string args;
        if (!d.params.empty()) {
          args = "<";
          for (std::size_t a = 0; a < d.params.size(); ++a)
            args += (a ? ";" : "") + (params.empty() || chance(40) ? std::to_string(1 + next(8))
                                      : chance(50)                   ? pick(params)
                                                                     : expr(params, 1));
          args += ">";
        }
        std::string rep;
        const unsigned r = next(100);
        if (r < 12)
          rep = " [" + (params.empty() || chance(50) ? std::to_string(2 + next(3)) : pick(params)) + "]";
        else if (r < 20 && !d.ins.empty() && !d.outs.empty())
          rep = " [" + std::to_string(2 + next(3)) + " : " + pick(d.ins).first + " <- " + pick(d.outs).first + "]";
        std::string tail;
        const unsigned t = next(100);
        if (t < 10)
          tail = " @ " + std::to_string(next(9)) + "," + std::to_string(next(9)) + " \"c " + rn + "\" " + std::to_string(1 + next(5));
        else if (t < 20)
          tail = " \"note\"";
        else if (t < 30)
          tail = " " + std::to_string(next(7));
        else if (t < 35)
          tail = " true";
        out += "    " + d.name + args + rep + " " + rn + tail + " ;\n";
        refs.emplace_back(rn, &d);
      }
      out += "  dependences :\n";
      std::vector<end> sources, targets;
      for (const auto& p : self.ins) sources.push_back({p.first, p.second, -1});
      for (const auto& p : self.outs) targets.push_back({p.first, p.second, 99});
      for (std::size_t k = 0; k < refs.size(); ++k) {
        for (const auto& p : refs[k].second->outs) sources.push_back({refs[k].first + "." + p.first, p.second, static_cast<int>(k)});
        for (const auto& p : refs[k].second->ins) targets.push_back({refs[k].first + "." + p.first, p.second, static_cast<int>(k)});
      }
      std::set<std::string> fed;
      for (unsigned n = next(8); n > 0 && !sources.empty() && !targets.empty(); --n) {
        const end& s = pick(sources);
        const end& d = pick(targets);
        // Forward only, between ports of one type, each destination fed once.
        if (s.type != d.type || s.rank >= d.rank || !fed.insert(d.path).second) continue;
        out += std::string("    ") + pick(std::vector<std::string>{"data", "data", "strong_precedence_data", "weak_precedence_data"}) +
               " " + s.path + " -> " + d.path + " ;\n";
      }
    }
    defs_.push_back(self);
    return out;
  }

  std::uint64_t state_;
  std::vector<def> defs_;
  std::set<std::string> used_;
  std::set<std::string> local_;
};

// Catches orders that the printer and the reader see differently, on shapes no golden case has.
TEST(RoundTrip, RandomApplicationFiles) {
  const std::vector<std::string> incl{(fs::path(CVN_TEST_DATA) / "cli" / "algo_library" / "lib").string(), "."};
  int translated = 0;
  for (std::uint64_t seed = 1; seed <= 400; ++seed) {
    const std::string text = random_application(seed).text();
    SCOPED_TRACE(text);
    std::string printed;
    try {
      printed = algo_io::string_of_algo(cvn_main::translate_algo(incl, cvn_main::parse_cvn_string(text, "random.cvn")));
    } catch (const error&) {
      continue;
    }
    ++translated;
    try {
      EXPECT_EQ(reprint(printed, incl), printed);
    } catch (const error& e) {
      ADD_FAILURE() << e.printed();
    }
  }
  // The generator must keep making files that translate, or the test checks nothing.
  EXPECT_GE(translated, 360);
}

}  // namespace
}  // namespace cvn
