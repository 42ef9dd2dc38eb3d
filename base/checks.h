#pragma once
// Problems about model elements, collections of errors and warnings, and the replaceable warning printer.
#include <functional>
#include <string>
#include <vector>

namespace cvn::checks {

/// A problem about one element of a model.
template <class Subject>
struct problem {
  Subject subject;
  std::string message;
  bool operator==(const problem&) const = default;
};

/// Errors and warnings, in the order found.
template <class Subject>
struct check_result {
  std::vector<problem<Subject>> errors;
  std::vector<problem<Subject>> warnings;
  bool operator==(const check_result&) const = default;
};

/// "%s: %s" of the printed subject and the message.
template <class Subject, class Printer>
[[nodiscard]] std::string string_of_problem(const Printer& subject_printer, const problem<Subject>& p) {
  return subject_printer(p.subject) + ": " + p.message;
}

template <class Subject>
[[nodiscard]] check_result<Subject> make_check_result(std::vector<problem<Subject>> errors,
                                                      std::vector<problem<Subject>> warnings = {}) {
  return {std::move(errors), std::move(warnings)};
}

template <class Subject>
[[nodiscard]] bool is_empty(const check_result<Subject>& r) {
  return r.errors.empty() && r.warnings.empty();
}

/// Errors of a then of b; warnings of a then of b.
template <class Subject>
[[nodiscard]] check_result<Subject> merge_check_result(const check_result<Subject>& a,
                                                       const check_result<Subject>& b) {
  check_result<Subject> r = a;
  r.errors.insert(r.errors.end(), b.errors.begin(), b.errors.end());
  r.warnings.insert(r.warnings.end(), b.warnings.begin(), b.warnings.end());
  return r;
}

/// A right fold of the item checks onto `initial`: the problems of the items in item order, then those of
/// `initial`.
template <class Subject, class Item, class Check>
[[nodiscard]] check_result<Subject> fold_check(const Check& check, const std::vector<Item>& items,
                                               const check_result<Subject>& initial = {}) {
  check_result<Subject> r;
  for (const Item& item : items) {
    const check_result<Subject> one = check(item);
    r.errors.insert(r.errors.end(), one.errors.begin(), one.errors.end());
    r.warnings.insert(r.warnings.end(), one.warnings.begin(), one.warnings.end());
  }
  return merge_check_result(r, initial);
}

namespace detail {
template <class Subject, class Printer>
void append_section(std::string& out, const Printer& printer, const std::vector<problem<Subject>>& ps,
                    const char* word) {
  if (ps.empty()) {
    out += std::string("No ") + word + ".\n";
    return;
  }
  out += std::to_string(ps.size()) + " " + word + (ps.size() > 1 ? "s" : "") + ":\n";
  for (const auto& p : ps) out += string_of_problem(printer, p) + "\n";
}
}  // namespace detail

/// "No error.\n" or "%d error%s:\n" and one line per error; then the same for the warnings.
template <class Subject, class Printer>
[[nodiscard]] std::string string_of_check_result(const Printer& subject_printer, const check_result<Subject>& r) {
  std::string out;
  detail::append_section(out, subject_printer, r.errors, "error");
  detail::append_section(out, subject_printer, r.warnings, "warning");
  return out;
}

using warning_fun = std::function<void(const std::string&)>;

/// Replaces the process-wide warning printer.
void set_print_warning_fun(warning_fun printer);

/// Hands the message to the current warning printer (by default "Warning: %s\n" on standard error).
void print_warning(const std::string& message);

}  // namespace cvn::checks
