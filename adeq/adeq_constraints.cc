#include "adeq/adeq_constraints.h"

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>

#include "base/base_types.h"
#include "base/misc.h"

namespace cvn::adeq_constraints {
namespace {

std::string join(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += items[i];
  }
  return out;
}

struct file_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

void put(std::FILE* f, const std::string& name, const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) throw sys_error_of_errno(name, errno);
}

bool is_module_name(const std::string& piece) { return !piece.empty() && piece[0] >= 'A' && piece[0] <= 'Z'; }

}  // namespace

const char* string_of_sign(sign s) {
  switch (s) {
    case sign::Plus:
      return "+";
    case sign::Minus:
      return "-";
  }
  return "+";
}

std::string string_of_constraint_rule(const constraint_rule& r) {
  return join(r.operators) + " " + string_of_sign(r.rule_sign) + " " + join(r.operations) + " ;\n";
}

std::string string_of_constraint_rules(const std::vector<constraint_rule>& rules) {
  std::string out;
  for (const constraint_rule& r : rules) out += string_of_constraint_rule(r);
  return out;
}

void file_of_rules(const std::vector<constraint_rule>& rules, const std::string& file_name) {
  misc::write_file(file_name, string_of_constraint_rules(rules));
}

void files_of_rules(const std::vector<constraint_rule>& rules,
                    const std::function<std::string(const std::string&)>& file_name_of_key) {
  // Outputs stay open until the end, as each module's rules are appended in rule order; a failure closes
  // them through their owners, so what was written stays on disk.
  std::map<std::string, std::pair<std::string, file_ptr>> outputs;
  for (const constraint_rule& r : rules) {
    for (const std::string& x : r.operators) {
      const std::vector<std::string> elements = expr_to_list(x);
      const std::vector<std::string> pieces =
          elements.empty() ? std::vector<std::string>{} : misc::split_string(elements.front(), ".");
      if (pieces.size() < 2 || !is_module_name(elements.front()))
        throw Failure(misc::sprintf_string("Constraint operator \"%s\" names no architecture module.", x.c_str()));
      const std::string& key = pieces[0];
      auto it = outputs.find(key);
      if (it == outputs.end()) {
        const std::string name = file_name_of_key(key);
        file_ptr f(std::fopen(name.c_str(), "wb"));
        if (!f) throw sys_error_of_errno(name, errno);
        it = outputs.emplace(key, std::make_pair(name, std::move(f))).first;
        put(it->second.second.get(), name, string_of_constraint_rule({sign::Minus, {"*"}, {"*"}}));
      }
      put(it->second.second.get(), it->second.first, string_of_constraint_rule({r.rule_sign, {pieces[1]}, r.operations}));
    }
  }
  for (auto& [key, output] : outputs) {
    std::FILE* f = output.second.release();
    if (std::fclose(f) != 0) throw sys_error_of_errno(output.first, errno);
  }
}

std::vector<std::string> expr_to_list(std::string_view expression) {
  std::vector<std::string> out;
  std::string pending;  // module names waiting for the piece they qualify
  for (const std::string& piece : misc::split_string(expression, ".")) {
    if (is_module_name(piece)) {
      pending += piece + ".";
      continue;
    }
    out.push_back(pending + piece);
    pending.clear();
  }
  if (!pending.empty()) out.push_back(pending);
  return out;
}

bool match_expr(std::string_view expression, std::string_view name) {
  // Wildcard matching with one backtracking point: the last "*" seen.
  std::size_t e = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (e < expression.size() && expression[e] == '*') {
      star = e++;
      resume = n;
    } else if (e < expression.size() && expression[e] == name[n]) {
      ++e;
      ++n;
    } else if (star != std::string_view::npos) {
      e = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (e < expression.size() && expression[e] == '*') ++e;
  return e == expression.size();
}

}  // namespace cvn::adeq_constraints
