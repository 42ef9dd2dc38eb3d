#pragma once
// The algorithm model's data.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "base/loc.h"

namespace cvn::algo_types {

/// Direction of a port.
enum class direction { In, Out };

struct expr_node;

/// A located integer expression (port sizes, parameters, repetition factors). The node is shared and never
/// changed, so copying an expression is cheap.
struct expr {
  loc::location where;  // loc::none when built by the program rather than read
  std::shared_ptr<const expr_node> node;
};

// The cases of an expression node, in the model's order.
struct Int {
  std::int64_t value;
};
struct Ident {
  std::string name;
};
struct Plus {
  expr left, right;
};
struct Minus {
  expr left, right;
};
struct Div {
  expr left, right;
};
struct Mult {
  expr left, right;
};
struct Neg {
  expr operand;
};
struct List {
  std::vector<expr> items;
};
struct Bars {
  expr operand;
};

using expr_desc = std::variant<Int, Ident, Plus, Minus, Div, Mult, Neg, List, Bars>;

struct expr_node {
  expr_desc desc;
};

/// The expression `desc` located at `where`.
[[nodiscard]] inline expr make_expr(const loc::location& where, expr_desc desc) {
  return expr{where, std::make_shared<const expr_node>(expr_node{std::move(desc)})};
}

}  // namespace cvn::algo_types
