// The default action on generated application files of every shape: read, translate into the algorithm
// model, print (the text is handed over in pieces and counted, not written), as the command runs it: the
// file read on a second thread alongside the translation. Against it, the lexer alone over the same file
// (tokens counted, nothing built). Sizes 1, 2, 8, 16, 25 and 50 MB (chain and fanout hold at least 100 000
// references, so their doubling shows from 8 MB); pick some with --benchmark_filter (e.g. 'chain/1048576').
// Counters of the default action: peak memory of one run over what the process held before it (peak_MB,
// mem_ratio to the file's size), free_s (dropping what the action held, which the command leaves to the
// exit and the timed runs leave out), and the phases of one run made with the reading first and the
// translation after it: parse_s and convert_s (translation and printing). Run one benchmark per process
// for memory figures that no earlier one disturbs.
// The goal's own figure, x_lex: the default action's time over the lexer's on the same file, each the best
// of `tries` runs, so that a pause of a shared host does not count as the program's (one run of either may
// take twice as long as the next).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

#include "base/misc.h"
#include "bench/bench_util.h"
#include "bench/cvn_gen.h"
#include "cvnparser/cvn_lexer.h"
#include "cvnparser/cvn_main.h"

namespace {

std::int64_t lex_all(const std::string& file) {
  cvn::cvn_lexer::Cvn_lexer lexer(cvn::cvn_lexer::Cvn_lexer::from_file, file);
  std::int64_t tokens = 0;
  while (lexer.lexer().kind() != cvn::cvn_parser::parser::symbol_kind::S_YYEOF) ++tokens;
  return tokens;
}

constexpr int tries = 3;

struct phases {
  double parse = 0, convert = 0, free = 0;
  std::size_t text = 0;
};

// The default action as the command runs it (the file read alongside the translation, the text handed over
// in pieces). The command keeps what it holds until it exits instead of freeing it, so the timed runs
// (given their state) leave the teardown out of the measure.
phases run_default(const std::string& file, benchmark::State* timed = nullptr) {
  const std::vector<std::string> incl{"."};
  phases p;
  std::optional<cvn::cvn_main::written_algorithms> held = cvn::cvn_main::write_algorithms_of_file(
      incl, file, [&p](const std::string& piece) { p.text += piece.size(); });
  if (timed != nullptr) timed->PauseTiming();
  const auto t = std::chrono::steady_clock::now();
  held.reset();
  p.free = cvn::bench::seconds_since(t);
  if (timed != nullptr) timed->ResumeTiming();
  return p;
}

// The same with the reading first and the translation after it, each timed.
phases run_in_turn(const std::string& file) {
  const std::vector<std::string> incl{"."};
  phases p;
  auto t = std::chrono::steady_clock::now();
  cvn::cvn_types::cvn_file tree = cvn::cvn_main::parse_cvn(file);
  p.parse = cvn::bench::seconds_since(t);
  t = std::chrono::steady_clock::now();
  std::optional<cvn::cvn_main::written_algorithms> held = cvn::cvn_main::write_algorithms(
      incl, std::move(tree), [&p](const std::string& piece) { p.text += piece.size(); });
  p.convert = cvn::bench::seconds_since(t);
  return p;
}

void report_size(benchmark::State& state, std::size_t file_bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file_bytes));
  state.counters["file_MB"] = static_cast<double>(file_bytes) / 1e6;
}

void BM_lex_only(benchmark::State& state, const std::string& shape) {
  const std::string file = cvn::bench::generated_cvn_file(shape, state.range(0));
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(file));
  std::int64_t tokens = 0;
  for (auto _ : state) benchmark::DoNotOptimize(tokens = lex_all(file));
  report_size(state, size);
  state.counters["tokens"] = static_cast<double>(tokens);
}

void BM_default(benchmark::State& state, const std::string& shape) {
  const std::string file = cvn::bench::generated_cvn_file(shape, state.range(0));
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(file));
  cvn::bench::release_free_memory();
  const std::int64_t before = cvn::bench::current_rss_bytes();
  cvn::bench::reset_peak_rss();
  const phases first = run_default(file);
  const std::int64_t peak = cvn::bench::peak_rss_bytes() - before;
  const phases in_turn = run_in_turn(file);
  double best = std::numeric_limits<double>::infinity();
  for (auto _ : state) {
    const auto t = std::chrono::steady_clock::now();
    const phases p = run_default(file, &state);
    best = std::min(best, cvn::bench::seconds_since(t) - p.free);
    benchmark::DoNotOptimize(p.text);
  }
  const double lex_best = cvn::bench::best_seconds(tries, [&] { benchmark::DoNotOptimize(lex_all(file)); });
  report_size(state, size);
  state.counters["best_s"] = best;
  state.counters["lex_s"] = lex_best;
  state.counters["x_lex"] = best / lex_best;
  state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["mem_ratio"] = static_cast<double>(peak) / static_cast<double>(size);
  state.counters["parse_s"] = in_turn.parse;
  state.counters["convert_s"] = in_turn.convert;
  state.counters["free_s"] = first.free;
  state.counters["text_MB"] = static_cast<double>(first.text) / 1e6;
}

const bool registered = [] {
  for (const auto& shape : cvn::bench::cvn_shapes()) {
    benchmark::RegisterBenchmark(("lex_only/" + shape).c_str(), BM_lex_only, shape)
        ->Arg(1 << 20)->Arg(2 << 20)->Arg(8 << 20)->Arg(16 << 20)->Arg(25 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("default/" + shape).c_str(), BM_default, shape)
        ->Arg(1 << 20)->Arg(2 << 20)->Arg(8 << 20)->Arg(16 << 20)->Arg(25 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond)->Iterations(tries);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
