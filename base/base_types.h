#pragma once
// Failures of the whole system and qualified names.
//
// Every failure derives from `error`, whose `printed()` is the text of the "Fatal error: exception %s"
// report: `Failure("msg")`, `Sys_error("msg")`, `Base_types.Internal_error("msg")`, `Not_found`.
#include <stdexcept>
#include <string>
#include <optional>
#include <variant>

namespace cvn {

/// Root of every failure the system raises.
class error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  /// The failure as the final report names it, e.g. `Failure("msg")`.
  [[nodiscard]] virtual std::string printed() const = 0;
};

/// A failure named by its exception name and, when it carries one, its argument.
class named_error : public error {
 public:
  named_error(std::string name, std::string argument, bool has_argument = true);
  [[nodiscard]] std::string printed() const override;
  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] const std::string& argument() const { return argument_; }

 private:
  std::string name_;
  std::string argument_;
  bool has_argument_;
};

/// A plain failure with a message ("Definition %s not found.").
class Failure : public named_error {
 public:
  explicit Failure(std::string message) : named_error("Failure", std::move(message)) {}
  [[nodiscard]] const std::string& message() const { return argument(); }
};

/// A failed file operation; the message is "path: system text".
class Sys_error : public named_error {
 public:
  explicit Sys_error(std::string message) : named_error("Sys_error", std::move(message)) {}
};

/// A lookup that found nothing.
class Not_found : public named_error {
 public:
  Not_found() : named_error("Not_found", "", false) {}
};

/// Builds a Sys_error from errno for an operation on `path`: "path: No such file or directory".
[[nodiscard]] Sys_error sys_error_of_errno(const std::string& path, int errnum);

namespace base_types {

/// A state that must not occur.
class Internal_error : public named_error {
 public:
  explicit Internal_error(std::string message) : named_error("Base_types.Internal_error", std::move(message)) {}
};

/// Throws Internal_error.
[[noreturn]] void internal_error(const std::string& message);

/// A name of the model being built.
struct simple_name {
  std::string name;
  auto operator<=>(const simple_name&) const = default;
};

/// A name bound in a loaded module.
struct qualified_name {
  std::string module;
  std::string name;
  auto operator<=>(const qualified_name&) const = default;
};

/// A name that may be qualified by a module.
using qname = std::variant<simple_name, qualified_name>;

/// "name" or "module.name".
[[nodiscard]] std::string string_of_qname(const qname& q);
/// The name part.
[[nodiscard]] const std::string& base_qname(const qname& q);
/// The module part, "" for a simple name.
[[nodiscard]] std::string dot_qname(const qname& q);
/// With a prefix p, turns a simple name n into (p, n); qualified names and a missing prefix leave q unchanged.
[[nodiscard]] qname add_prefix_to_qname(const std::optional<std::string>& prefix, const qname& q);
/// With a prefix p, "p.name"; without, the name.
[[nodiscard]] std::string add_prefix_to_name(const std::optional<std::string>& prefix, const std::string& name);

}  // namespace base_types
}  // namespace cvn
