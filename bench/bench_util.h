#pragma once
// Shared bits of the benchmark programs.
#include <cstdint>
#include <string>

namespace cvn::bench {

/// Peak resident memory of this process so far, in bytes (VmHWM).
[[nodiscard]] std::int64_t peak_rss_bytes();

/// Starts a new peak-memory measurement (Linux: resets VmHWM to the current resident size).
void reset_peak_rss();

/// The generated application file for (shape, size), written once under /tmp and reused.
[[nodiscard]] std::string generated_cvn_file(const std::string& shape, std::int64_t bytes);

/// Resident memory of this process now, in bytes (VmRSS).
[[nodiscard]] std::int64_t current_rss_bytes();

}  // namespace cvn::bench
