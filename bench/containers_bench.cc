// Persistent containers under the two ways models use them: (a) every version kept alive, (b) each old
// version dropped as a fold does. Reported: time per insertion (ns_per_op), the resident memory that the
// structure holds at the end (held_MB) and the process's peak (peak_rss_MB).
//
// Keys come in two patterns: random, the worst case for a search tree once it outgrows the caches, and
// ascending (the `_ascending` lines), the pattern of the models, whose identifiers are handed out by
// counters, so new entries land next to recent ones.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/env.h"
#include "base/graph.h"
#include "base/pmap.h"
#include "base/tmap.h"
#include "bench/bench_util.h"

namespace {

using graph_t = cvn::graph::Make_with_map<std::int64_t, int>;

std::int64_t resident_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  return -1;
}

std::vector<std::int64_t> random_keys(std::int64_t n) {
  std::mt19937_64 rng(42);
  std::vector<std::int64_t> keys(static_cast<std::size_t>(n));
  for (auto& k : keys) k = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(4 * n));
  return keys;
}

// Ascending keys with the same spacing as the random ones.
std::vector<std::int64_t> ascending_keys(std::int64_t n) {
  std::vector<std::int64_t> keys(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = 4 * static_cast<std::int64_t>(i);
  return keys;
}

// Processor time spent in the kernel so far, in nanoseconds: mostly page faults on fresh memory.
std::int64_t kernel_ns() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<std::int64_t>(u.ru_stime.tv_sec) * 1000000000 + static_cast<std::int64_t>(u.ru_stime.tv_usec) * 1000;
}

// kernel: the kernel time of the timed parts, so that ns_per_op can be split into the structure's own work
// and the operating system's cost of handing out new pages.
void report(benchmark::State& state, std::int64_t ops, std::int64_t held, std::int64_t kernel = 0) {
  state.counters["ns_per_op"] =
      benchmark::Counter(static_cast<double>(ops), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
  state.counters["kernel_ns_per_op"] =
      static_cast<double>(kernel) / static_cast<double>(ops) / static_cast<double>(state.iterations());
  state.counters["held_MB"] = static_cast<double>(held) / 1e6;
  state.counters["peak_rss_MB"] = static_cast<double>(cvn::bench::peak_rss_bytes()) / 1e6;
}

// Folds n updates from a new structure made by `make_empty`, one per round; range(1) = 1 keeps every version.
// A new one each round because identifier tables share their counter with every table derived from the same
// one: reusing one empty table would number each round's entries after the last round's, so that the small
// size would measure identifiers in the millions.
template <class Make, class Step>
void fold_updates(benchmark::State& state, Make make_empty, Step step) {
  using T = decltype(make_empty());
  const std::int64_t n = state.range(0);
  const bool keep = state.range(1) != 0;
  std::int64_t held = 0, kernel = 0;
  for (auto _ : state) {
    // Reading /proc costs tens of microseconds: outside the timing, or it would swamp the small sizes.
    state.PauseTiming();
    const std::int64_t before = resident_bytes();
    std::vector<T> kept;
    if (keep) kept.reserve(static_cast<std::size_t>(n));
    T t = make_empty();
    const std::int64_t kernel_before = kernel_ns();
    state.ResumeTiming();
    for (std::int64_t i = 0; i < n; ++i) {
      if (keep) kept.push_back(t);
      t = step(std::move(t), i);
    }
    benchmark::DoNotOptimize(t);
    state.PauseTiming();
    kernel += kernel_ns() - kernel_before;
    held = resident_bytes() - before;
    kept.clear();
    t = make_empty();
    state.ResumeTiming();
  }
  report(state, n, held, kernel);
}

void sizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t n : {1000, 1000000})
    for (std::int64_t keep : {0, 1}) b->Args({n, keep});
  // Processor time of the process, page faults included: the machine is shared, and wall time would
  // measure the neighbours too.
  b->ArgNames({"n", "keep"})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
}

// A mutable map cannot keep versions: keep=1 copies nothing and measures the same as keep=0.
template <class Key>
void std_map_insertions(benchmark::State& state, const std::vector<Key>& keys) {
  std::int64_t held = 0, kernel = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::int64_t before = resident_bytes();
    const std::int64_t kernel_before = kernel_ns();
    state.ResumeTiming();
    std::map<Key, std::int64_t> m;
    for (std::int64_t i = 0; i < state.range(0); ++i) m[keys[static_cast<std::size_t>(i)]] = i;
    benchmark::DoNotOptimize(m);
    // The teardown is not an insertion, and the persistent containers' teardown is not timed either.
    state.PauseTiming();
    kernel += kernel_ns() - kernel_before;
    held = resident_bytes() - before;
    m.clear();
    state.ResumeTiming();
  }
  report(state, state.range(0), held, kernel);
}
void BM_std_map(benchmark::State& state) { std_map_insertions(state, random_keys(state.range(0))); }
BENCHMARK(BM_std_map)->Apply(sizes);
void BM_std_map_ascending(benchmark::State& state) { std_map_insertions(state, ascending_keys(state.range(0))); }
BENCHMARK(BM_std_map_ascending)->Apply(sizes);

// The names that BM_env binds, the same insertions into a std::map: the yardstick of environments.
std::vector<std::string> env_names(std::int64_t n) {
  std::vector<std::string> names;
  for (auto k : random_keys(n)) names.push_back("name" + std::to_string(k));
  return names;
}
void BM_std_map_names(benchmark::State& state) { std_map_insertions(state, env_names(state.range(0))); }
BENCHMARK(BM_std_map_names)->Apply(sizes);

void pmap_insertions(benchmark::State& state, const std::vector<std::int64_t>& keys) {
  fold_updates(state, [] { return cvn::pmap<std::int64_t, std::int64_t>(); }, [&](auto m, std::int64_t i) {
    return std::move(m).add(keys[static_cast<std::size_t>(i)], i);
  });
}
void BM_pmap(benchmark::State& state) { pmap_insertions(state, random_keys(state.range(0))); }
BENCHMARK(BM_pmap)->Apply(sizes);
void BM_pmap_ascending(benchmark::State& state) { pmap_insertions(state, ascending_keys(state.range(0))); }
BENCHMARK(BM_pmap_ascending)->Apply(sizes);

template <cvn::tmap::backend B>
void BM_tmap(benchmark::State& state) {
  using table = cvn::tmap::table<std::int64_t>;
  fold_updates(state, [] { return table::create_on(B, 0); },
               [](table t, std::int64_t i) { return std::move(t).add(i).second; });
}
BENCHMARK(BM_tmap<cvn::tmap::backend::patricia>)->Apply(sizes);
BENCHMARK(BM_tmap<cvn::tmap::backend::array>)->Apply(sizes);
BENCHMARK(BM_tmap<cvn::tmap::backend::map>)->Apply(sizes);

// Adds the edges in order, with labels 0, 1, 2 in turn. The ends are computed beforehand, as the keys of
// the map benchmarks are.
void graph_insertions(benchmark::State& state, const std::vector<std::pair<std::int64_t, std::int64_t>>& ends) {
  fold_updates(state, graph_t::create, [&](graph_t g, std::int64_t i) {
    const auto& [a, b] = ends[static_cast<std::size_t>(i)];
    return std::move(g).add(a, b, static_cast<int>(i % 3));
  });
}

void BM_graph_random_edges(benchmark::State& state) {
  const auto keys = random_keys(2 * state.range(0));
  const std::int64_t nodes = state.range(0) / 4 + 1;
  std::vector<std::pair<std::int64_t, std::int64_t>> ends;
  for (std::size_t i = 0; i < static_cast<std::size_t>(state.range(0)); ++i)
    ends.emplace_back(keys[2 * i] % nodes, keys[2 * i + 1] % nodes);
  graph_insertions(state, ends);
}
BENCHMARK(BM_graph_random_edges)->Apply(sizes);

// Nodes numbered in creation order, each new node linked from a recent one: n/4 nodes, as above.
void BM_graph_ascending_edges(benchmark::State& state) {
  const auto keys = random_keys(state.range(0));
  std::vector<std::pair<std::int64_t, std::int64_t>> ends;
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    const std::int64_t b = i / 4 + 1;
    ends.emplace_back(b - 1 - keys[static_cast<std::size_t>(i)] % std::min<std::int64_t>(b, 16), b);
  }
  graph_insertions(state, ends);
}
BENCHMARK(BM_graph_ascending_edges)->Apply(sizes);

void BM_graph_one_node(benchmark::State& state) {
  fold_updates(state, graph_t::create, [](graph_t g, std::int64_t i) { return std::move(g).add(0, i + 1, 0); });
}
BENCHMARK(BM_graph_one_node)->Apply(sizes);

void BM_env(benchmark::State& state) {
  const std::vector<std::string> names = env_names(state.range(0));
  fold_updates(state, cvn::env::Env<std::int64_t>::empty, [&](cvn::env::Env<std::int64_t> e, std::int64_t i) {
    return std::move(e).add(names[static_cast<std::size_t>(i)], i);
  });
}
BENCHMARK(BM_env)->Apply(sizes);

// Lookups in an environment of n bindings.
void BM_env_lookup(benchmark::State& state) {
  const std::vector<std::string> names = env_names(state.range(0));
  cvn::env::Env<std::int64_t> e = cvn::env::Env<std::int64_t>::empty();
  for (const std::string& name : names) e = std::move(e).add(name, 1);
  std::vector<cvn::base_types::qname> probes;
  for (std::size_t i = 0; i < 1000; ++i) probes.push_back(cvn::base_types::simple_name{names[i * names.size() / 1000]});
  for (auto _ : state)
    for (const auto& q : probes) benchmark::DoNotOptimize(e.lookup(q));
  report(state, 1000, 0);
}
BENCHMARK(BM_env_lookup)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// A random acyclic graph of n nodes with about three edges per node.
void BM_nodes_by_pred_order(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  std::mt19937_64 rng(1);
  graph_t g = graph_t::create();
  for (std::int64_t v = 1; v < n; ++v)
    for (int j = 0; j < 3; ++j) g = std::move(g).add(static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(v)), v, j);
  std::size_t count = 0;
  for (auto _ : state) count = g.nodes_by_pred_order().size();
  if (count != static_cast<std::size_t>(n)) state.SkipWithError("not every node was ordered");
  report(state, n, 0);
}
BENCHMARK(BM_nodes_by_pred_order)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
