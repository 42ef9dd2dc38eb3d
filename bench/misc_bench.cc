// Whole-text helpers that run over every application file: the ".." rewrite and quote escaping.
#include <benchmark/benchmark.h>

#include <string>

#include "base/misc.h"
#include "bench/bench_util.h"

namespace {

std::string sample_text(std::size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += "port in [1..4] x : int ; \"quoted\\text\" ";
  return s;
}

void BM_replace_in_string(benchmark::State& state) {
  const std::string text = sample_text(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(cvn::misc::replace_in_string("..", " .. ", text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  state.counters["peak_rss_MB"] = static_cast<double>(cvn::bench::peak_rss_bytes()) / 1e6;
}
BENCHMARK(BM_replace_in_string)->Arg(1 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);

void BM_escape_double_quotes(benchmark::State& state) {
  const std::string text = sample_text(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(cvn::misc::escape_double_quotes(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_escape_double_quotes)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
