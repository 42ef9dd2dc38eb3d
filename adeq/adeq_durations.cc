#include "adeq/adeq_durations.h"

#include <cmath>
#include <cstdint>

#include "base/misc.h"

namespace cvn::adeq_durations {

std::string string_of_truncated(double value) {
  if (std::isnan(value)) return "0";
  const double t = std::trunc(value);
  // 2^63 is exactly representable; anything at or beyond it saturates.
  if (t >= 9223372036854775808.0) return std::to_string(INT64_MAX);
  if (t < -9223372036854775808.0) return std::to_string(INT64_MIN);
  return std::to_string(static_cast<std::int64_t>(t));
}

std::string Opn_opr::string_of_duration(const duration& d) { return string_of_truncated(d); }

std::string Data_med::string_of_duration(const duration& d) {
  if (d.latency) return string_of_truncated(*d.latency) + " + " + string_of_truncated(d.per_element);
  return string_of_truncated(d.per_element);
}

void write_rules_file(const std::string& file_name, const std::string& text) { misc::write_file(file_name, text); }

}  // namespace cvn::adeq_durations
