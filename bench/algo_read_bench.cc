// Reading algorithm files: the common lexer alone (tokens counted, nothing built) against
// algo_decl_of_file, on generated files of 1 MB and 50 MB, and the freeing of what it returns. Both readers
// read the file from disk. Peak memory is reported per benchmark; run one benchmark per process
// (--benchmark_filter) for figures that no earlier benchmark inflates.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "algo/algo_io.h"
#include "base/lexer.h"
#include "base/misc.h"
#include "bench/bench_util.h"

namespace {


// Valid algorithm text of at least `bytes` bytes, shaped like the printer's output: a few constants and
// sensors, then functions with port sections, references with options, links, precedences and matches.
// Names need not resolve: only the grammar reads it.
std::string generate_algo(std::size_t bytes) {
  using cvn::misc::sprintf_string;
  cvn::bench::sequence rnd(42);
  std::string out;
  out.reserve(bytes + 4096);
  out += "constant k(n) { int x = 5, int[n + 1] y [unit=\"ms\"] = {1, 2, 3} }\n";
  out += "sensor s() { int[16] o }\n";
  out += "actuator a() { int[16] i }\n";
  for (unsigned f = 0; out.size() < bytes; ++f) {
    out += sprintf_string("function f%u(n, m) {\n", f);
    out += "  in: int[n] i0, float i1, bool c;\n";
    out += "  out: int[n * 2 + 1] o0 [color=\"red\"], float o1;\n";
    const unsigned refs = 3 + rnd.next(6);
    for (unsigned r = 0; r < refs; ++r) {
      const unsigned callee = f == 0 ? 0 : rnd.next(f);
      switch (rnd.next(4)) {
        case 0: out += sprintf_string("  let r%u = f%u(n, m - 1) ;\n", r, callee); break;
        case 1: out += sprintf_string("  let r%u = f%u(n / 2, m) [period 4, parallel n (i0*, o0/)] ;\n", r, callee); break;
        case 2: out += sprintf_string("  let r%u = Lib.g%u [sequence 3 (o0 -> i0, i1=), abstract] ;\n", r, callee); break;
        default: out += sprintf_string("  let r%u = f%u(|n| * (m + 1), {1, 2}) [k=\"v\"] ;\n", r, callee); break;
      }
    }
    out += "  i0 -> r0.i0, r1.i0;\n";
    for (unsigned r = 1; r < refs; ++r) out += sprintf_string("  r%u.o0 -> r%u.i1;\n", r - 1, r);
    out += sprintf_string("  r%u.o0 -> o0;\n  r0 --> r1;\n", refs - 1);
    if (rnd.next(3) == 0) {
      out += "  match c with\n";
      for (unsigned v = 0; v < 2; ++v) {
        out += sprintf_string("  | %u ->\n      let q%u = f%u(n) ;\n      i1 -> q%u.i1;\n      q%u.o1 -> o1;\n", v, v,
                              f == 0 ? 0 : rnd.next(f), v, v);
      }
    }
    out += "}\n";
  }
  return out;
}

std::string input_file(std::int64_t bytes) {
  return cvn::bench::cached_file("/tmp/cvn_bench_algo_" + std::to_string(bytes) + ".alg",
                                 [&] { return generate_algo(static_cast<std::size_t>(bytes)); });
}


void report(benchmark::State& state, std::size_t file_bytes, std::int64_t count, const char* counted) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file_bytes));
  state.counters["file_MB"] = static_cast<double>(file_bytes) / 1e6;
  state.counters["peak_rss_MB"] = static_cast<double>(cvn::bench::peak_rss_bytes()) / 1e6;
  state.counters[counted] = static_cast<double>(count);
}

void BM_algo_lex_only(benchmark::State& state) {
  const std::string file = input_file(state.range(0));
  std::size_t size = 0;
  std::int64_t tokens = 0;
  cvn::bench::reset_peak_rss();
  for (auto _ : state) {
    const std::string text = cvn::misc::string_of_file(file);
    size = text.size();
    cvn::lexer::lexer lex(text, file);
    tokens = 0;
    while (lex.main().kind != cvn::lexer::token_kind::Eof) ++tokens;
    benchmark::DoNotOptimize(tokens);
  }
  report(state, size, tokens, "tokens");
}

// The timed region ends when the declarations are returned: they belong to the caller, so freeing them is
// not reading. BM_algo_decl_free times that freeing on its own.
void BM_algo_decl_of_file(benchmark::State& state) {
  const std::string file = input_file(state.range(0));
  std::int64_t defs = 0;
  cvn::bench::reset_peak_rss();
  for (auto _ : state) {
    auto decls = cvn::algo_io::algo_decl_of_file(file);
    defs = static_cast<std::int64_t>(decls.size());
    benchmark::DoNotOptimize(decls.data());
    state.PauseTiming();
    cvn::algo_lang_types::algo_decl().swap(decls);
    state.ResumeTiming();
  }
  report(state, cvn::misc::string_of_file(file).size(), defs, "definitions");
}

void BM_algo_decl_free(benchmark::State& state) {
  const std::string file = input_file(state.range(0));
  std::int64_t defs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto decls = cvn::algo_io::algo_decl_of_file(file);
    defs = static_cast<std::int64_t>(decls.size());
    state.ResumeTiming();
    cvn::algo_lang_types::algo_decl().swap(decls);
    benchmark::DoNotOptimize(decls.data());
  }
  report(state, cvn::misc::string_of_file(file).size(), defs, "definitions");
}

BENCHMARK(BM_algo_lex_only)->Arg(1 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_algo_decl_of_file)->Arg(1 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_algo_decl_free)->Arg(1 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
