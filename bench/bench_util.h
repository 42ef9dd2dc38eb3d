#pragma once
// Shared bits of the benchmark programs.
#include <cstdint>

namespace cvn::bench {

/// Peak resident memory of this process so far, in bytes (VmHWM).
[[nodiscard]] std::int64_t peak_rss_bytes();

/// Resident memory of this process now, in bytes (VmRSS).
[[nodiscard]] std::int64_t current_rss_bytes();

}  // namespace cvn::bench
