#pragma once
// Duration rules: "names / names = duration" lines, for operations on operator types (`Opn_opr`) and for
// data types on media types (`Data_med`). One generic store (`Make`) over a rule description; each
// description supplies its key types, name resolution and duration text as the model grows.
#include <optional>
#include <string>
#include <vector>

namespace cvn::adeq_durations {

/// Duration of an operation on an operator type (time units).
using opn_opr_duration = double;

/// Duration of a data type on a media type: optional latency plus a duration per element.
struct data_med_duration {
  std::optional<double> latency;
  double per_element = 0.0;
  bool operator==(const data_med_duration&) const = default;
};

/// A rule: every first-key name paired with every second-key name, all with one duration.
template <class Duration>
struct rule {
  std::vector<std::string> names_a;
  std::vector<std::string> names_b;
  Duration duration;
  bool operator==(const rule&) const = default;
};

/// "%d" of a real truncated toward zero (saturated to the 64-bit range, NaN as 0, so that no input can
/// make the conversion undefined).
[[nodiscard]] std::string string_of_truncated(double value);

/// Description of the operation-on-operator-type rules.
struct Opn_opr {
  using duration = opn_opr_duration;
  [[nodiscard]] static std::string string_of_duration(const duration& d);
};

/// Description of the data-type-on-media-type rules.
struct Data_med {
  using duration = data_med_duration;
  [[nodiscard]] static std::string string_of_duration(const duration& d);
};

/// The generic rule store of one description.
template <class Desc>
struct Make {
  using duration = typename Desc::duration;
  using rule = adeq_durations::rule<duration>;

  /// "%s / %s = %s": names joined by one space on each side, then the duration.
  [[nodiscard]] static std::string string_of_rule(const rule& r) {
    return join(r.names_a) + " / " + join(r.names_b) + " = " + Desc::string_of_duration(r.duration);
  }

  /// The rule texts joined by "\n", without a final line end.
  [[nodiscard]] static std::string string_of_rules(const std::vector<rule>& rules) {
    std::string out;
    for (std::size_t i = 0; i < rules.size(); ++i) {
      if (i > 0) out += '\n';
      out += string_of_rule(rules[i]);
    }
    return out;
  }

  /// Creates or truncates the file and writes string_of_rules into it. Throws Sys_error.
  static void file_of_rules(const std::vector<rule>& rules, const std::string& file_name);

 private:
  [[nodiscard]] static std::string join(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out += ' ';
      out += names[i];
    }
    return out;
  }
};

/// Writes a text into a file (the non-template half of file_of_rules).
void write_rules_file(const std::string& file_name, const std::string& text);

template <class Desc>
void Make<Desc>::file_of_rules(const std::vector<rule>& rules, const std::string& file_name) {
  write_rules_file(file_name, string_of_rules(rules));
}

using opn_opr_rules = Make<Opn_opr>;
using data_med_rules = Make<Data_med>;

}  // namespace cvn::adeq_durations
