#pragma once
// Shared bits of the benchmark programs.
#include <cstdint>

namespace cvn::bench {

/// Peak resident memory of this process so far, in bytes (VmHWM).
[[nodiscard]] std::int64_t peak_rss_bytes();

}  // namespace cvn::bench
