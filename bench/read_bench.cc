// Reading application files: the lexer alone (tokens counted, nothing built) against parse_cvn, on every
// generated shape at 1 MB and 50 MB. Both read the file the same way (scanned as it is read, ".." rewritten
// on the way), so the only difference is the parser and the tree. Peak memory is that of one call, over
// what the process held before it (peak_MB, and mem_ratio to the file's size), measured before the timed
// calls; run one benchmark per process (--benchmark_filter) for figures that no earlier one disturbs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/misc.h"
#include "bench/bench_util.h"
#include "bench/cvn_gen.h"
#include "cvnparser/cvn_lexer.h"
#include "cvnparser/cvn_main.h"

namespace {



// What `run` adds at most to the resident memory. Memory that earlier calls freed but the heap kept is
// returned first, so that it neither hides nor inflates the figure.
template <class F>
std::int64_t peak_of(F&& run) {
  cvn::bench::release_free_memory();
  const std::int64_t before = cvn::bench::current_rss_bytes();
  cvn::bench::reset_peak_rss();
  run();
  return cvn::bench::peak_rss_bytes() - before;
}

void report(benchmark::State& state, std::size_t file_bytes, std::int64_t peak, std::int64_t tokens) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file_bytes));
  state.counters["file_MB"] = static_cast<double>(file_bytes) / 1e6;
  state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["mem_ratio"] = static_cast<double>(peak) / static_cast<double>(file_bytes);
  if (tokens > 0) state.counters["tokens"] = static_cast<double>(tokens);
}

// Every token read as the parser reads it: kind, value and location. Token texts and line starts are
// released now and then, as the parser does after each item, so that nothing is kept.
std::int64_t lex_all(const std::string& file) {
  cvn::cvn_lexer::Cvn_lexer lexer(cvn::cvn_lexer::Cvn_lexer::from_file, file);
  cvn::cvn_build::value value;
  cvn::cvn_parser::span where;
  std::int64_t tokens = 0;
  while (lexer.next(value, where) != cvn::cvn_parser::parser::token::TOK_YYEOF)
    if (++tokens % 4096 == 0) lexer.release();
  benchmark::DoNotOptimize(where);
  return tokens;
}

void BM_lex_only(benchmark::State& state, const std::string& shape) {
  const std::string file = cvn::bench::generated_cvn_file(shape, state.range(0));
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(file));
  std::int64_t tokens = 0;
  const std::int64_t peak = peak_of([&] { tokens = lex_all(file); });
  for (auto _ : state) benchmark::DoNotOptimize(tokens = lex_all(file));
  report(state, size, peak, tokens);
}

void BM_parse_cvn(benchmark::State& state, const std::string& shape) {
  const std::string file = cvn::bench::generated_cvn_file(shape, state.range(0));
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(file));
  const std::int64_t peak = peak_of([&] { (void)cvn::cvn_main::parse_cvn(file); });
  for (auto _ : state) {
    const auto tree = cvn::cvn_main::parse_cvn(file);
    benchmark::DoNotOptimize(tree.cvn_algos.data());
  }
  report(state, size, peak, 0);
}

const bool registered = [] {
  for (const auto& shape : cvn::bench::cvn_shapes()) {
    benchmark::RegisterBenchmark(("lex_only/" + shape).c_str(), BM_lex_only, shape)
        ->Arg(1 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("parse_cvn/" + shape).c_str(), BM_parse_cvn, shape)
        ->Arg(1 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
