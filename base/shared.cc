#include "base/shared.h"

#include <ostream>

namespace cvn::shared {

std::ostream& operator<<(std::ostream& out, const string& s) { return out << s.get(); }

}  // namespace cvn::shared
