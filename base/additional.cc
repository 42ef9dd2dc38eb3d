#include "base/additional.h"

#include "base/misc.h"

namespace cvn::additional {

attributes attributes::add(const std::string& name, const std::string& value) const {
  map m = map_ ? map_->bindings : map();
  m[name] = value;
  attributes r;
  r.map_ = rc::ptr<node>(rc::create<node>(std::move(m)));
  return r;
}

std::optional<std::string> attributes::get(const std::string& name) const {
  if (!map_) return std::nullopt;
  const auto it = map_->bindings.find(name);
  if (it == map_->bindings.end()) return std::nullopt;
  return it->second;
}

std::vector<std::pair<std::string, std::string>> attributes::to_list() const {
  if (!map_) return {};
  return {map_->bindings.begin(), map_->bindings.end()};
}

attributes of_list(const std::vector<std::pair<std::string, std::string>>& pairs) {
  attributes r;
  for (const auto& [name, value] : pairs) r = r.add(name, value);
  return r;
}

std::string one_to_string(const std::pair<std::string, std::string>& binding) {
  return binding.first + "=\"" + misc::escape_double_quotes(binding.second) + "\"";
}

std::string to_string(const attributes& set) {
  std::string out;
  if (!set.map_) return out;
  for (auto it = set.map_->bindings.rbegin(); it != set.map_->bindings.rend(); ++it) {
    if (!out.empty()) out += ", ";
    out += one_to_string(*it);
  }
  return out;
}

}  // namespace cvn::additional
