#include "base/graph.h"

namespace cvn::graph {

std::string string_of_attrs(const attrs& a) {
  if (a.empty()) return "";
  std::string out = "[";
  bool first = true;
  for (const auto& [name, value] : a) {
    if (!first) out += ',';
    first = false;
    out += name + "=\"" + value + "\"";
  }
  out += ']';
  return out;
}

}  // namespace cvn::graph
