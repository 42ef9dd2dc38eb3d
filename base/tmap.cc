#include "base/tmap.h"

#include <cstdlib>

namespace cvn::tmap {

backend selected_backend() {
  // Read once: every table of the run must use the same backend.
  static const backend chosen = std::getenv("TMAP_ARRAY") != nullptr ? backend::array : backend::patricia;
  return chosen;
}

}  // namespace cvn::tmap
