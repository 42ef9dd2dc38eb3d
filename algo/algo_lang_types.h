#pragma once
// What the algorithm grammar reads: definition declarations with their ports and statements, as written,
// before any name is looked up. The builder turns them into model edits and reports its failures at the
// locations kept here (definitions, port declarations, statements).
//
// Every value is cheap to move: names are strings, lists are vectors, expressions one shared pointer.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "algo/algo_types.h"
#include "base/base_types.h"
#include "base/loc.h"

namespace cvn::algo_lang_types {

/// The kind a definition is declared with, in the order of the model's definition kinds.
enum class def_kind { Function, Constant, Delay, Sensor, Actuator };

/// An attribute of a port or a reference: name="value".
struct attribute {
  std::string name;
  std::string value;
  bool operator==(const attribute&) const = default;
};

/// A port declaration: type, optional [size], name, optional [attributes], optional = value (constants only).
struct port_decl {
  loc::location where;  // from the type to the last item of the declaration
  std::string port_type;
  std::optional<algo_types::expr> port_size;
  std::string port_name;
  std::vector<attribute> port_attributes;
  std::optional<algo_types::expr> port_value;
};

/// How a repeated reference dispatches one port, in the order of the model's dispatch kinds:
/// "*" split, "=" same, "/" gather.
enum class dispatch_sign { Split, Same, Gather };

/// A port name with its dispatch sign ("x*").
struct port_dispatch {
  std::string port_name;
  dispatch_sign sign;
  bool operator==(const port_dispatch&) const = default;
};

/// A feedback link of a sequential repetition ("o -> i"): output port name, input port name.
struct seq_link {
  std::string output_port;
  std::string input_port;
  bool operator==(const seq_link&) const = default;
};

/// A sequence option: a feedback link or a port dispatch.
using seq_option = std::variant<seq_link, port_dispatch>;

// The options of a reference declaration, in the grammar's order.
struct Abstract {};
struct Period {
  std::int64_t value;
};
struct Parallel {
  algo_types::expr factor;
  std::vector<port_dispatch> dispatchs;  // empty when written without parentheses
};
struct Sequence {
  algo_types::expr factor;
  std::vector<seq_option> options;
};
using ref_option = std::variant<Abstract, Period, Parallel, Sequence, attribute>;

/// A port in a statement: `port` (a port of the definition declared) or `ref.port` (a port of a reference).
struct port_path {
  std::optional<std::string> ref_name;
  std::string port_name;
  bool operator==(const port_path&) const = default;
};

/// A full port path `def.ref.port` (its own entry of the grammar).
struct full_port_path {
  std::string def_name;
  std::string ref_name;
  std::string port_name;
  bool operator==(const full_port_path&) const = default;
};

/// A definition call `f(args)` or `M.f(args)`; no parentheses and empty ones both give no arguments.
struct def_call {
  base_types::qname def_name;
  std::vector<algo_types::expr> args;
};

struct statement;

/// One case of a match: its value and its statements (which run to the next "|" or the definition's end).
struct match_case {
  std::int64_t value;
  std::vector<statement> statements;
};

// The statements of a function or delay, in the grammar's order.
struct Port_section {
  algo_types::direction dir;
  std::vector<port_decl> ports;
};
struct Ref_decl {
  std::string ref_name;
  base_types::qname def_name;
  std::vector<algo_types::expr> args;
  std::vector<ref_option> options;  // as written; the builder decides which period or repetition counts
};
struct Data_link {
  port_path source;
  std::vector<port_path> destinations;  // one or more, in file order
};
struct Precedence {
  std::string before;  // reference names: `before --> after`
  std::string after;
};
struct Match {
  std::string port_name;  // the condition port
  std::vector<match_case> cases;
};
using statement_desc = std::variant<Port_section, Ref_decl, Data_link, Precedence, Match>;

/// A statement with its span (a match spans all its cases).
struct statement {
  loc::location where;
  statement_desc desc;
};

/// A definition declaration. Constants, sensors and actuators fill `ports` (only constants' ports carry
/// values); functions and delays fill `statements`.
struct def_decl {
  loc::location where;  // from the keyword to the closing brace
  def_kind kind;
  std::string def_name;
  std::vector<std::string> def_params;
  std::vector<port_decl> ports;
  std::vector<statement> statements;
};

/// A whole algorithm file: its definitions in file order.
using algo_decl = std::vector<def_decl>;

/// The keyword of a kind ("function", "constant", ...).
[[nodiscard]] const char* string_of_def_kind(def_kind kind);
/// The sign of a dispatch: "*", "=" or "/".
[[nodiscard]] const char* string_of_dispatch_sign(dispatch_sign sign);

// Debug texts: the declarations written back in the language with every operation parenthesised, so a
// text shows how the grammar grouped it. Locations are not shown.
[[nodiscard]] std::string dump_expr(const algo_types::expr& e);
[[nodiscard]] std::string dump_port_decl(const port_decl& p);
[[nodiscard]] std::string dump_port_dispatchs(const std::vector<port_dispatch>& ds);
[[nodiscard]] std::string dump_seq_options(const std::vector<seq_option>& os);
[[nodiscard]] std::string dump_def_call(const def_call& c);
/// One line per statement, the statements of a match case indented by two more spaces.
[[nodiscard]] std::string dump_statement(const statement& s, const std::string& indent = "");
/// A definition: its heading line, then its ports or statements indented by two spaces, then "}".
[[nodiscard]] std::string dump_def_decl(const def_decl& d);
[[nodiscard]] std::string dump_algo_decl(const algo_decl& a);

}  // namespace cvn::algo_lang_types
