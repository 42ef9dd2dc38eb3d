// Building algorithm models through the checked operations, as the translation does: one definition
// holding n references of a small definition, in three shapes:
//   pipeline  - each reference feeds the next (the cycle rule runs on every edge);
//   fan_def   - one input port of the definition feeds every reference;
//   fan_ref   - one output port of a source reference feeds every other reference;
//   cases     - each reference is a case of its own under one condition port, and every case feeds the
//               definition's output (one port with n sources, each new one checked against them).
// The algorithm is moved into each operation, as a fold that drops the old versions does.
// Reported: time per reference (ns_per_ref) and the process's peak memory. The build should stay near
// linear: 100 000 references within 150 times the time of 1 000.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "algo/algo_ops.h"
#include "algo/algo_types.h"
#include "bench/bench_util.h"

namespace {

namespace at = cvn::algo_types;
namespace ops = cvn::algo_ops;
using at::direction;

enum class shape { pipeline, fan_def, fan_ref, cases };

at::port_id add_port(at::algorithm& a, at::def_id d, const std::string& name, direction dir) {
  a = ops::add_port(std::move(a), std::nullopt, std::nullopt, "int", dir, name, std::nullopt, std::nullopt, d);
  return *at::port_by_name(a, at::Def{d}, name);
}

at::algorithm build(shape s, std::int64_t n) {
  at::algorithm a = at::create();
  auto [g, a1] = ops::add_def(std::move(a), std::nullopt, std::nullopt, at::definition_kind::Function, "g");
  a = std::move(a1);
  add_port(a, g, "i", direction::In);
  add_port(a, g, "o", direction::Out);
  auto [top, a2] = ops::add_def(std::move(a), std::nullopt, std::nullopt, at::definition_kind::Function, "top");
  a = std::move(a2);
  const at::port_id ti = add_port(a, top, "i", direction::In);
  const at::port_id to = add_port(a, top, "o", direction::Out);
  const at::port_id tc = add_port(a, top, "c", direction::In);
  std::optional<at::port_id> feed;  // the port feeding the next reference
  if (s == shape::pipeline || s == shape::fan_def || s == shape::cases) feed = ti;
  if (s == shape::fan_ref) {
    auto [src, b] = ops::add_ref(std::move(a), top, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, g,
                                 false, std::nullopt, "src");
    a = std::move(b);
    const at::port_id src_i = *at::port_by_name(a, at::Ref{src}, "i");
    feed = *at::port_by_name(a, at::Ref{src}, "o");
    a = ops::add_data_edge(std::move(a), std::nullopt, ti, src_i);
  }
  for (std::int64_t k = 0; k < n; ++k) {
    std::optional<at::cond> c;
    if (s == shape::cases) c = at::cond{tc, k};
    auto [r, b] = ops::add_ref(std::move(a), top, std::nullopt, std::nullopt, std::nullopt, std::nullopt, c, g, false,
                               std::nullopt, "r" + std::to_string(k));
    a = std::move(b);
    const at::port_id ri = *at::port_by_name(a, at::Ref{r}, "i");
    const at::port_id ro = *at::port_by_name(a, at::Ref{r}, "o");
    a = ops::add_data_edge(std::move(a), c, *feed, ri);
    if (s == shape::pipeline) feed = ro;
    if (s == shape::cases) a = ops::add_data_edge(std::move(a), c, ro, to);
  }
  if (s == shape::pipeline) a = ops::add_data_edge(std::move(a), std::nullopt, *feed, to);
  return a;
}

// Frees a built model outside the timing. Freeing is not part of building, and its pages go back to the
// system, so that every build, as in a fresh process, pays for the pages it touches: otherwise the small
// builds, repeated, would reuse the pages of the first while the largest, made once, pays for all of its own.
void drop_untimed(benchmark::State& state, std::optional<at::algorithm>& built) {
  state.PauseTiming();
  built.reset();
  cvn::bench::release_free_memory();
  state.ResumeTiming();
}

// Time per item, for n items per iteration.
benchmark::Counter per_item(std::int64_t n) {
  return benchmark::Counter(static_cast<double>(n),
                            benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_build(benchmark::State& state, shape s) {
  const std::int64_t n = state.range(0);
  for (auto _ : state) {
    std::optional<at::algorithm> a = build(s, n);
    benchmark::DoNotOptimize(a);
    drop_untimed(state, a);
  }
  state.counters["ns_per_ref"] = per_item(n);
  state.counters["peak_rss_MB"] = static_cast<double>(cvn::bench::peak_rss_bytes()) / 1e6;
}

// A definition's n ports given together, each inserted in front (ports written without a rank), as the
// translation adds a definition's head; ns_per_port should stay near flat.
void BM_ports_in_front(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  std::vector<ops::new_port> ports(static_cast<std::size_t>(n));
  for (std::int64_t k = 0; k < n; ++k) {
    ops::new_port& p = ports[static_cast<std::size_t>(k)];
    p.type = "int";
    p.dir = k % 2 == 0 ? direction::In : direction::Out;
    p.name = "p" + std::to_string(k);
    p.position = 0;
  }
  for (auto _ : state) {
    at::algorithm a = at::create();
    auto [d, b] = ops::add_def(std::move(a), std::nullopt, std::nullopt, at::definition_kind::Function, "wide");
    std::optional<at::algorithm> built = ops::add_ports(std::move(b), d, ports);
    benchmark::DoNotOptimize(built);
    drop_untimed(state, built);
  }
  state.counters["ns_per_port"] = per_item(n);
}

BENCHMARK_CAPTURE(BM_build, pipeline, shape::pipeline)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_build, fan_def, shape::fan_def)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_build, fan_ref, shape::fan_ref)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_build, cases, shape::cases)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ports_in_front)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
