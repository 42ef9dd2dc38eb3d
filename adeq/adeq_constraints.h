#pragma once
// Constraint rules: which operators the operations matched by name expressions may (+) or may not (-)
// run on, their text, and the files written per architecture module.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cvn::adeq_constraints {

enum class sign { Plus, Minus };

/// A sign and the pair (operator name expressions, operation name expressions).
struct constraint_rule {
  sign rule_sign = sign::Plus;
  std::vector<std::string> operators;
  std::vector<std::string> operations;
  bool operator==(const constraint_rule&) const = default;
};

/// "+" or "-".
[[nodiscard]] const char* string_of_sign(sign s);

/// "%s %s %s ;\n": operators joined by ", ", the sign, operations joined by ", ".
[[nodiscard]] std::string string_of_constraint_rule(const constraint_rule& r);

/// The rule texts one after the other.
[[nodiscard]] std::string string_of_constraint_rules(const std::vector<constraint_rule>& rules);

/// Creates or truncates the file and writes the rules. Throws Sys_error.
void file_of_rules(const std::vector<constraint_rule>& rules, const std::string& file_name);

/// Writes the rules split by architecture module: one file per module key (named by `file_name_of_key`),
/// starting with "* - * ;", then one rule per operator of that module and rule, the operator written
/// without its module. Throws Failure for an operator expression that names no module (files written
/// before stay), Sys_error when a file cannot be written.
void files_of_rules(const std::vector<constraint_rule>& rules,
                    const std::function<std::string(const std::string&)>& file_name_of_key);

/// Splits a name expression into path elements: cut at ".", empty pieces dropped, a capitalised piece (a
/// module name) joined with "." to the piece after it ("Lib.Sub.filter.f1" gives "Lib.Sub.filter", "f1").
[[nodiscard]] std::vector<std::string> expr_to_list(std::string_view expression);

/// True when the name matches the whole expression, "*" standing for any sequence of characters.
[[nodiscard]] bool match_expr(std::string_view expression, std::string_view name);

}  // namespace cvn::adeq_constraints
