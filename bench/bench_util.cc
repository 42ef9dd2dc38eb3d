#include "bench/bench_util.h"

#include <fstream>
#include <string>

namespace cvn::bench {

std::int64_t peak_rss_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  }
  return -1;
}

}  // namespace cvn::bench
