#include "cvnparser/cvn_build.h"

#include <cmath>

#include "base/misc.h"

namespace cvn::cvn_build {

namespace {
template <class... Ts>
struct overloaded : Ts... {
  using Ts::operator()...;
};
}  // namespace

cvn_types::cvn_name lib_name(std::string_view lib, std::string name) {
  return cvn_types::Lib_name{misc::capitalize(lib), std::move(name)};
}

std::int64_t int_of_float(double value, const loc::location& where) {
  // Integers are signed 63-bit values; anything outside would silently wrap or be undefined.
  constexpr double limit = 4611686018427387904.0;  // 2^62
  const double t = std::trunc(value);
  if (!(t >= -limit && t < limit)) loc::raise_problem(where, "Floating-point number out of the integer range");
  return static_cast<std::int64_t>(t);
}

void add_item(cvn_types::cvn_file& file, cvn_types::cvn_item&& item) {
  using namespace cvn_types;
  std::visit(overloaded{
                 [&](Algo& a) { file.cvn_algos.push_back(std::move(a.def)); },
                 [&](Arch& a) { file.cvn_archs.push_back(std::move(a.decl)); },
                 [&](Dur& d) { file.cvn_durations.push_back(std::move(d.durations)); },
                 [&](Og& o) { file.cvn_groups.push_back(std::move(o.group)); },
                 [&](Cons& c) { file.cvn_constraints.push_back(std::move(c.constraint)); },
             },
             item);
}

void add_empty_member(std::vector<std::string>& path) { path.insert(path.begin(), std::string()); }

void reject(const loc::location& where, std::string_view construct) {
  loc::raise_problem(where, "Unsupported construct: " + std::string(construct));
}

}  // namespace cvn::cvn_build
