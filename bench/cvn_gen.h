#pragma once
// Deterministic generator of large, valid application files for the benchmarks.
#include <cstddef>
#include <string>
#include <vector>

namespace cvn::bench {

/// The shapes of generated files:
/// - "defs": many small definitions, each instantiating the two before it;
/// - "chain": one definition with a chain of references (at least 100 000 by default);
/// - "fanout": one input port feeding references (at least 100 000 by default);
/// - "cond": definitions made of conditioned bodies;
/// - "arch": architectures with many operators and media;
/// - "dur": operator and media durations;
/// - "groups": operation groups, software components and absolute constraints.
[[nodiscard]] const std::vector<std::string>& cvn_shapes();

/// A valid application file of the shape, about `bytes` long (never less). The chain and fanout shapes hold
/// at least `min_refs` references (tests use small ones). Throws std::invalid_argument for an unknown shape.
[[nodiscard]] std::string generate_cvn(const std::string& shape, std::size_t bytes, std::size_t min_refs = 100000);

}  // namespace cvn::bench
