#include "base/base_types.h"

#include <cstring>

namespace cvn {

named_error::named_error(std::string name, std::string argument, bool has_argument)
    : error(has_argument ? argument : name),
      name_(std::move(name)),
      argument_(std::move(argument)),
      has_argument_(has_argument) {}

std::string named_error::printed() const {
  // The argument is written verbatim: a two-line message gives a two-line report.
  if (!has_argument_) return name_;
  return name_ + "(\"" + argument_ + "\")";
}

Sys_error sys_error_of_errno(const std::string& path, int errnum) {
  return Sys_error(path + ": " + std::strerror(errnum));
}

namespace base_types {

void internal_error(const std::string& message) { throw Internal_error(message); }

std::string string_of_qname(const qname& q) {
  if (const auto* s = std::get_if<simple_name>(&q)) return s->name;
  const auto& m = std::get<qualified_name>(q);
  return m.module + "." + m.name;
}

const std::string& base_qname(const qname& q) {
  if (const auto* s = std::get_if<simple_name>(&q)) return s->name;
  return std::get<qualified_name>(q).name;
}

std::string dot_qname(const qname& q) {
  if (std::holds_alternative<simple_name>(q)) return "";
  return std::get<qualified_name>(q).module;
}

qname add_prefix_to_qname(const std::optional<std::string>& prefix, const qname& q) {
  if (!prefix) return q;
  if (const auto* s = std::get_if<simple_name>(&q)) return qualified_name{*prefix, s->name};
  return q;
}

std::string add_prefix_to_name(const std::optional<std::string>& prefix, const std::string& name) {
  if (!prefix) return name;
  return *prefix + "." + name;
}

}  // namespace base_types
}  // namespace cvn
