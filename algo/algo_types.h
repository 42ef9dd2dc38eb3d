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

/// A located integer expression (port sizes, parameters, repetition factors): one shared, never changed
/// node holding the location and the descriptor, so an expression costs one pointer wherever it is kept.
class expr {
 public:
  expr() = default;
  explicit expr(std::shared_ptr<const expr_node> node) : node_(std::move(node)) {}
  /// Where the expression was read; loc::none when built by the program.
  [[nodiscard]] const loc::location& where() const;
  [[nodiscard]] const std::shared_ptr<const expr_node>& node() const { return node_; }

 private:
  std::shared_ptr<const expr_node> node_;
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
  loc::location where;
  expr_desc desc;
};

inline const loc::location& expr::where() const { return node_->where; }

/// The descriptor of an expression.
[[nodiscard]] inline const expr_desc& desc_of(const expr& e) { return e.node()->desc; }

/// The expression `desc` located at `where`.
[[nodiscard]] inline expr make_expr(const loc::location& where, expr_desc desc) {
  return expr{std::make_shared<const expr_node>(expr_node{where, std::move(desc)})};
}

/// The same descriptor at another location (its operands are shared, not copied).
[[nodiscard]] inline expr relocate(const expr& e, const loc::location& where) { return make_expr(where, desc_of(e)); }

}  // namespace cvn::algo_types
