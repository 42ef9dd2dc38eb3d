// Building the model of an algorithm file (load_algo_file: reading, then every edit checked) against the
// common lexer alone on the same file, on generated files of 1, 25 and 50 MB. The goals are those of the
// default action: 50 MB built within 8 times the lexer-only scan, doubling the input at most 2.3 times
// the time, peak memory under 30 times the file size. Peak memory is the growth of one call over what the
// process held before it; run one benchmark per process (--benchmark_filter) for figures that no earlier
// benchmark inflates. Freeing the model is left out of the time and reported as free_s. The goal's own
// figure, x_lex, is the build's time over the lexer's, each the best of `tries` runs (a shared host may
// pause either), every build starting from memory given back to the system, as in a new process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "algo/algo_lang.h"
#include "algo/algo_types.h"
#include "base/lexer.h"
#include "base/misc.h"
#include "bench/bench_util.h"

namespace {

using cvn::misc::sprintf_string;


const char* const ports =
    "  in: int[n] i0, float i1, int c;\n"
    "  out: int[n * 2 + 1] o0 [color=\"red\"], float o1;\n";

// The library module that the application text loads: one definition with the functions' ports.
std::string library() { return std::string("function g(n) {\n") + ports + "}\n"; }

// A valid algorithm of at least `bytes` bytes, shaped like the printer's output: a constant, a sensor, an
// actuator, then functions that instantiate earlier ones (and the library's g). Two thirds of the
// functions chain their references through data links, with options, arguments and a precedence; the
// others hold a match on c whose two cases each place one reference.
std::string generate_algo(std::size_t bytes) {
  cvn::bench::sequence rnd(7);
  std::string out;
  out.reserve(bytes + 4096);
  out += "constant k(n) { int x = 5, int[n + 1] y [unit=\"ms\"] = {1, 2, 3} }\n";
  out += "sensor s() { int[16] o }\n";
  out += "actuator a() { int[16] i }\n";
  out += std::string("function f0(n, m) {\n") + ports + "}\n";
  for (unsigned f = 1; out.size() < bytes; ++f) {
    out += sprintf_string("function f%u(n, m) {\n", f);
    out += ports;
    if (rnd.next(3) == 0) {
      out += "  match c with\n";
      for (unsigned v = 0; v < 2; ++v)
        out += sprintf_string(
            "  | %u ->\n      let q = f%u(n) ;\n      i0 -> q.i0;\n      i1 -> q.i1;\n      c -> q.c;\n"
            "      q.o0 -> o0;\n      q.o1 -> o1;\n",
            v, rnd.next(f));
      out += "}\n";
      continue;
    }
    const unsigned refs = 3 + rnd.next(6);
    for (unsigned r = 0; r < refs; ++r) {
      const unsigned callee = rnd.next(f);
      switch (rnd.next(5)) {
        case 0: out += sprintf_string("  let r%u = f%u(n, m - 1) ;\n", r, callee); break;
        case 1: out += sprintf_string("  let r%u = f%u(n / 2, m) [period 4, parallel n (i0*, o0/)] ;\n", r, callee); break;
        case 2: out += sprintf_string("  let r%u = Lib.g(n) [sequence 3 (o0 -> i0, i1=), abstract] ;\n", r); break;
        case 3: out += sprintf_string("  let r%u = f%u(|n| * (m + 1), {1, 2}) [k=\"v\"] ;\n", r, callee); break;
        default: out += sprintf_string("  let r%u = f%u(n, m) ;\n", r, callee); break;
      }
    }
    out += "  i0 -> r0.i0;\n  i1 -> r0.i1";
    for (unsigned r = 1; r < refs; ++r) out += sprintf_string(", r%u.i1", r);
    out += ";\n  c -> r0.c";
    for (unsigned r = 1; r < refs; ++r) out += sprintf_string(", r%u.c", r);
    out += ";\n";
    for (unsigned r = 1; r < refs; ++r) out += sprintf_string("  r%u.o0 -> r%u.i0;\n", r - 1, r);
    out += sprintf_string("  r%u.o0 -> o0;\n  r%u.o1 -> o1;\n  r0 --> r1;\n}\n", refs - 1, refs - 1);
  }
  return out;
}

const std::string dir = "/tmp/cvn_bench_algo_build";

std::string input_file(std::int64_t bytes) {
  ::mkdir(dir.c_str(), 0755);
  (void)cvn::bench::cached_file(dir + "/lib.alg", library);
  return cvn::bench::cached_file(dir + "/app_" + std::to_string(bytes) + ".alg",
                                 [&] { return generate_algo(static_cast<std::size_t>(bytes)); });
}


void report(benchmark::State& state, std::size_t file_bytes, std::int64_t held_before, std::int64_t count,
            const char* counted) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file_bytes));
  const double growth = static_cast<double>(cvn::bench::peak_rss_bytes() - held_before);
  state.counters["file_MB"] = static_cast<double>(file_bytes) / 1e6;
  state.counters["peak_growth_MB"] = growth / 1e6;
  state.counters["peak_per_byte"] = growth / static_cast<double>(file_bytes);
  state.counters[counted] = static_cast<double>(count);
}

constexpr int tries = 3;

// The tokens of the file, read whole first as the builder reads it.
std::int64_t lex_file(const std::string& file) {
  const std::string text = cvn::misc::string_of_file(file);
  cvn::lexer::lexer lex(text, file);
  std::int64_t tokens = 0;
  while (lex.main().kind != cvn::lexer::token_kind::Eof) ++tokens;
  return tokens;
}

void BM_algo_lex_only(benchmark::State& state) {
  const std::string file = input_file(state.range(0));
  const std::size_t size = cvn::misc::string_of_file(file).size();
  cvn::bench::reset_peak_rss();
  const std::int64_t before = cvn::bench::current_rss_bytes();
  std::int64_t tokens = 0;
  for (auto _ : state) benchmark::DoNotOptimize(tokens = lex_file(file));
  report(state, size, before, tokens, "tokens");
}

void BM_algo_build(benchmark::State& state) {
  const std::string file = input_file(state.range(0));
  const std::size_t size = cvn::misc::string_of_file(file).size();
  const std::vector<std::string> dirs{dir, "."};
  cvn::bench::reset_peak_rss();
  const std::int64_t before = cvn::bench::current_rss_bytes();
  std::int64_t defs = 0;
  double free_s = 0;
  double best = std::numeric_limits<double>::infinity();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto a = std::make_optional(cvn::algo_lang::load_algo_file(dirs, file, cvn::algo_types::create()));
    defs = static_cast<std::int64_t>(cvn::algo_types::defs(*a).size());
    benchmark::DoNotOptimize(defs);
    best = std::min(best, cvn::bench::seconds_since(start));
    // The model belongs to the caller: freeing it is not building it, and is reported on its own.
    state.PauseTiming();
    const auto freeing = std::chrono::steady_clock::now();
    a.reset();
    free_s += cvn::bench::seconds_since(freeing);
    cvn::bench::release_free_memory();
    state.ResumeTiming();
  }
  const double lex_best = cvn::bench::best_seconds(tries, [&] { benchmark::DoNotOptimize(lex_file(file)); });
  report(state, size, before, defs, "definitions");
  state.counters["free_s"] = free_s / static_cast<double>(state.iterations());
  state.counters["best_s"] = best;
  state.counters["x_lex"] = best / lex_best;
}

BENCHMARK(BM_algo_lex_only)->Arg(1 << 20)->Arg(2 << 20)->Arg(4 << 20)->Arg(25 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_algo_build)->Arg(1 << 20)->Arg(2 << 20)->Arg(4 << 20)->Arg(25 << 20)->Arg(50 << 20)->Iterations(tries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
