#pragma once
// Small builders shared by the algorithm model tests.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "algo/algo_ops.h"
#include "algo/algo_string.h"
#include "algo/algo_types.h"

namespace cvn::algo_test {

namespace at = cvn::algo_types;
namespace ops = cvn::algo_ops;

inline at::def_id def(at::algorithm& a, const std::string& name,
                      at::definition_kind kind = at::definition_kind::Function) {
  auto [d, r] = ops::add_def(a, std::nullopt, std::nullopt, kind, name);
  a = std::move(r);
  return d;
}

inline at::port_id port(at::algorithm& a, at::def_id d, const std::string& name, at::direction dir,
                        const std::string& type = "int", std::optional<std::int64_t> position = std::nullopt) {
  a = ops::add_port(a, std::nullopt, position, type, dir, name, std::nullopt, std::nullopt, d);
  return *at::port_by_name(a, at::Def{d}, name);
}

inline at::ref_id ref(at::algorithm& a, at::def_id in, at::def_id of, const std::string& name,
                      std::optional<at::cond> c = std::nullopt, std::optional<at::repetition_decl> rep = std::nullopt) {
  auto [r, b] = ops::add_ref(a, in, std::nullopt, std::nullopt, rep, std::nullopt, c, of, false, std::nullopt, name);
  a = std::move(b);
  return r;
}

inline at::port_id rport(const at::algorithm& a, at::ref_id r, const std::string& name) {
  return *at::port_by_name(a, at::Ref{r}, name);
}

inline at::expr id(const std::string& n) { return at::make_expr(loc::none, at::Ident{n}); }
inline at::expr num(std::int64_t v) { return at::make_expr(loc::none, at::Int{v}); }

/// The text of the Problem that f throws ("" when it throws none); fails the test on any other exception.
inline std::string problem_text(const std::function<void()>& f) {
  try {
    f();
  } catch (const at::Problem& p) {
    return p.text();
  }
  return "";
}

/// The message of the Failure that f throws ("" when none).
inline std::string failure_text(const std::function<void()>& f) {
  try {
    f();
  } catch (const Failure& e) {
    return e.message();
  }
  return "";
}

}  // namespace cvn::algo_test
