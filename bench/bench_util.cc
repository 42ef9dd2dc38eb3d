#include "bench/bench_util.h"

#include <fstream>
#include <string>

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

std::int64_t peak_rss_bytes() { return status_bytes("VmHWM:"); }

std::int64_t current_rss_bytes() { return status_bytes("VmRSS:"); }

}  // namespace cvn::bench
