#pragma once
// Shared bits of the benchmark programs.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace cvn::bench {

/// Peak resident memory of this process so far, in bytes (VmHWM).
[[nodiscard]] std::int64_t peak_rss_bytes();

/// Starts a new peak-memory measurement (Linux: resets VmHWM to the current resident size).
void reset_peak_rss();

/// A deterministic pseudo-random sequence, so every run generates the same text.
class sequence {
 public:
  explicit sequence(std::uint64_t seed) : state_(seed) {}
  unsigned next(unsigned bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state_ >> 33) % bound;
  }

 private:
  std::uint64_t state_;
};

/// The file `name`, written from `make()` when it does not exist yet; generated inputs are reused across
/// runs.
[[nodiscard]] std::string cached_file(const std::string& name, const std::function<std::string()>& make);

/// The generated application file for (shape, size), written once under /tmp and reused.
[[nodiscard]] std::string generated_cvn_file(const std::string& shape, std::int64_t bytes);

/// Gives memory that the program freed but still holds back to the system: the heap's and the slabs'.
void release_free_memory();

/// Resident memory of this process now, in bytes (VmRSS).
[[nodiscard]] std::int64_t current_rss_bytes();

/// Seconds from t to now.
[[nodiscard]] double seconds_since(std::chrono::steady_clock::time_point t);

/// The shortest of `tries` timed calls of f, in seconds: a pause of a shared host may make one run take
/// twice as long as the next.
[[nodiscard]] double best_seconds(int tries, const std::function<void()>& f);

}  // namespace cvn::bench
