#pragma once
// Attribute sets carried by ports and references: name -> value, with their textual forms.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/rc.h"

namespace cvn::additional {

/// An immutable attribute set ordered by byte-wise name comparison. Every port and reference carries one
/// and nearly all are empty: the set is one pointer to a counted map, null when empty, and copies share it.
class attributes {
 public:
  attributes() = default;
  [[nodiscard]] attributes add(const std::string& name, const std::string& value) const;
  [[nodiscard]] std::optional<std::string> get(const std::string& name) const;
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> to_list() const;
  [[nodiscard]] bool empty() const { return !map_; }
  bool operator==(const attributes& o) const {
    return map_.get() == o.map_.get() || (map_ && o.map_ && map_->bindings == o.map_->bindings);
  }

 private:
  using map = std::map<std::string, std::string>;
  struct node {
    map bindings;
    std::uint32_t refs = 0;
  };
  rc::ptr<node> map_;  // never an empty map
  friend std::string to_string(const attributes& set);
};

/// The empty set.
[[nodiscard]] inline attributes empty() { return {}; }
/// The set with name bound to value.
[[nodiscard]] inline attributes add(const std::string& name, const std::string& value, const attributes& set) {
  return set.add(name, value);
}
/// The value, or nothing.
[[nodiscard]] inline std::optional<std::string> get(const std::string& name, const attributes& set) {
  return set.get(name);
}
/// The pairs in ascending name order.
[[nodiscard]] inline std::vector<std::pair<std::string, std::string>> to_list(const attributes& set) {
  return set.to_list();
}
/// The pairs added first to last; a later pair for a name wins.
[[nodiscard]] attributes of_list(const std::vector<std::pair<std::string, std::string>>& pairs);
/// name="value" with the value's quotes and backslashes escaped.
[[nodiscard]] std::string one_to_string(const std::pair<std::string, std::string>& binding);
/// Every binding, in descending name order, joined by ", ".
[[nodiscard]] std::string to_string(const attributes& set);

}  // namespace cvn::additional
