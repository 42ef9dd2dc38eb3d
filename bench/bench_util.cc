#include "bench/bench_util.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include "base/misc.h"
#include "base/pool.h"
#include "bench/cvn_gen.h"

namespace cvn::bench {

namespace {

// A "Vm...:" figure of /proc/self/status, in bytes.
std::int64_t status_bytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::stoll(line.substr(key.size())) * 1024;
  }
  return -1;
}

}  // namespace

void release_free_memory() {
  cvn::pool::release_free();
  malloc_trim(0);
}

std::int64_t peak_rss_bytes() { return status_bytes("VmHWM:"); }

std::int64_t current_rss_bytes() { return status_bytes("VmRSS:"); }

void reset_peak_rss() {
  if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

std::string cached_file(const std::string& name, const std::function<std::string()>& make) {
  if (!std::ifstream(name)) misc::write_file(name, make());
  return name;
}

std::string generated_cvn_file(const std::string& shape, std::int64_t bytes) {
  return cached_file("/tmp/cvn_bench_" + shape + "_" + std::to_string(bytes) + ".cvn",
                     [&] { return generate_cvn(shape, static_cast<std::size_t>(bytes)); });
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

double best_seconds(int tries, const std::function<void()>& f) {
  double best = std::numeric_limits<double>::infinity();
  for (int k = 0; k < tries; ++k) {
    const auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(best, seconds_since(start));
  }
  return best;
}

}  // namespace cvn::bench
