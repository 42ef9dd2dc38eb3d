#pragma once
// The editing interface of the algorithm model: every operation checks the consistency rules first and
// either returns the new algorithm or throws algo_types::Problem (element, message) before changing
// anything; the argument is never changed.
//
// The building operations also take an algorithm by rvalue (`a = add_ref(std::move(a), ...)`): the value
// is then updated in place once every check has passed, which saves copying the paths of its persistent
// structures. A Problem still leaves the argument as it was.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "algo/algo_types.h"

namespace cvn::algo_ops {

using algo_types::algorithm;
using algo_types::cond;
using algo_types::def_id;
using algo_types::port_id;
using algo_types::ref_id;

/// (new definition, algorithm). Throws Problem on the existing definition "A definition \"%s\" already exists.".
[[nodiscard]] std::pair<def_id, algorithm> add_def(const algorithm& a, const std::optional<std::string>& comment,
                                                   const std::optional<std::vector<std::string>>& params,
                                                   algo_types::definition_kind kind, const std::string& name);
[[nodiscard]] std::pair<def_id, algorithm> add_def(algorithm&& a, const std::optional<std::string>& comment,
                                                   const std::optional<std::vector<std::string>>& params,
                                                   algo_types::definition_kind kind, const std::string& name);

/// Adds a port to the definition at the position (last when absent or out of range), shifting the ports
/// of that direction at or after it, and the same port to every reference of the definition. Throws
/// Problem on the definition "A port \"%s\" already exists in definition \"%s\".".
[[nodiscard]] algorithm add_port(const algorithm& a, const std::optional<algo_types::expr>& size,
                                 const std::optional<std::int64_t>& position, const std::string& type,
                                 algo_types::direction dir, const std::string& name,
                                 const std::optional<algo_types::expr>& value,
                                 const std::optional<additional::attributes>& attrs, def_id d);
[[nodiscard]] algorithm add_port(algorithm&& a, const std::optional<algo_types::expr>& size,
                                 const std::optional<std::int64_t>& position, const std::string& type,
                                 algo_types::direction dir, const std::string& name,
                                 const std::optional<algo_types::expr>& value,
                                 const std::optional<additional::attributes>& attrs, def_id d);

/// A port for `add_ports`: the arguments of `add_port` but the definition.
struct new_port {
  std::optional<algo_types::expr> size;
  std::optional<std::int64_t> position;
  std::string type;
  algo_types::direction dir = algo_types::direction::In;
  std::string name;
  std::optional<algo_types::expr> value;
  std::optional<additional::attributes> attrs;
};
/// The ports added to `d` one after the other, as by `add_port`: the same identifiers, orders and
/// failures. Ports inserted in front (a position of 0) each shift those already there; this works out the
/// final orders in one pass instead, so that a definition of n such ports costs O(n log n), not O(n^2).
[[nodiscard]] algorithm add_ports(algorithm&& a, def_id d, const std::vector<new_port>& ports);

/// Adds to `container` a reference named `name` to `instantiated`, under the condition when one is given,
/// with a port per port of the instantiated definition. Throws Problem (condition port, mixing of
/// conditioned and unconditioned contents, name, repetition ports).
[[nodiscard]] std::pair<ref_id, algorithm> add_ref(const algorithm& a, def_id container,
                                                   const std::optional<std::string>& comment,
                                                   const std::optional<std::vector<algo_types::expr>>& args,
                                                   const std::optional<algo_types::repetition_decl>& rep,
                                                   const std::optional<std::int64_t>& period,
                                                   const std::optional<cond>& condition, def_id instantiated,
                                                   bool abstract, const std::optional<additional::attributes>& attrs,
                                                   const std::string& name);
[[nodiscard]] std::pair<ref_id, algorithm> add_ref(algorithm&& a, def_id container,
                                                   const std::optional<std::string>& comment,
                                                   const std::optional<std::vector<algo_types::expr>>& args,
                                                   const std::optional<algo_types::repetition_decl>& rep,
                                                   const std::optional<std::int64_t>& period,
                                                   const std::optional<cond>& condition, def_id instantiated,
                                                   bool abstract, const std::optional<additional::attributes>& attrs,
                                                   const std::string& name);
/// The same in place, for a caller that threads one algorithm through many edits: every check comes before
/// the first change, so a refused reference leaves `a` as it was.
ref_id add_ref_into(algorithm& a, def_id container, const std::optional<std::string>& comment,
                    const std::optional<std::vector<algo_types::expr>>& args,
                    const std::optional<algo_types::repetition_decl>& rep, const std::optional<std::int64_t>& period,
                    const std::optional<cond>& condition, def_id instantiated, bool abstract,
                    const std::optional<additional::attributes>& attrs, const std::string& name);

/// The checks of add_data_edge (cycle, type, direction, single source), changing nothing. Throws Problem.
void check_can_add_data_edge(const algorithm& a, const std::optional<cond>& condition, port_id src, port_id dst);
/// Checks, then adds the Data edge from src to dst with the condition.
[[nodiscard]] algorithm add_data_edge(const algorithm& a, const std::optional<cond>& condition, port_id src,
                                      port_id dst);
[[nodiscard]] algorithm add_data_edge(algorithm&& a, const std::optional<cond>& condition, port_id src,
                                      port_id dst);
/// The same in place; a refused edge leaves `a` as it was.
void add_data_edge_into(algorithm& a, const std::optional<cond>& condition, port_id src, port_id dst);

/// Throws Problem on `first` when `second` already precedes it (or is it).
void check_can_add_precedence_edge(const algorithm& a, ref_id first, ref_id second);
/// Checks, then adds the Precedence edge from first to second.
[[nodiscard]] algorithm add_precedence_edge(const algorithm& a, ref_id first, ref_id second);
[[nodiscard]] algorithm add_precedence_edge(algorithm&& a, ref_id first, ref_id second);

/// Throws Problem "Another definition \"%s\" already exists." then those of algo_types::modify_def.
[[nodiscard]] algorithm modify_def(const algorithm& a, const std::optional<std::string>& new_name,
                                   const std::optional<std::vector<std::string>>& new_params, def_id d);

/// New values of the fields of a reference, the repetition as written in the language.
struct ref_update {
  std::optional<std::string> name;
  std::optional<std::int64_t> period;
  std::optional<std::string> comment;
  std::optional<std::vector<algo_types::expr>> args;
  std::optional<algo_types::repetition_decl> rep;
  std::optional<bool> abstract;
  std::optional<additional::attributes> additional;
};
/// Throws Problem "Another reference \"%s\" already exists." and the repetition's problems.
[[nodiscard]] algorithm modify_ref(const algorithm& a, const ref_update& u, ref_id r);

/// The repetition with its ports looked up among the ports of the reference. Throws Problem on the reference.
[[nodiscard]] algo_types::repetition_kind convert_repetition(const algorithm& a, ref_id r,
                                                             const algo_types::repetition_decl& rep);

/// The port, after the matching port of every reference of its definition.
[[nodiscard]] algorithm remove_port(const algorithm& a, port_id p);
/// The reference after its ports.
[[nodiscard]] algorithm remove_ref(const algorithm& a, ref_id r);
/// The definition after what it contains and every reference to it; its name is unbound.
[[nodiscard]] algorithm remove_def(const algorithm& a, def_id d);
/// The data edges from src to dst.
[[nodiscard]] algorithm remove_data_edge(const algorithm& a, port_id src, port_id dst);
/// The precedence edges from first to second.
[[nodiscard]] algorithm remove_precedence_edge(const algorithm& a, ref_id first, ref_id second);

}  // namespace cvn::algo_ops
