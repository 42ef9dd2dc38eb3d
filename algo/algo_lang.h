#pragma once
// The algorithm builder: turns what the algorithm grammar read into the algorithm model through the checked
// edits of Algo_ops, and applies the edit actions that the translation of application files makes.
//
// Every failure met while building a declaration or a statement is reported as a located problem at that
// declaration or statement, carrying the message of the failing operation alone (a refused edit loses the
// element it names: the location says where the fault lies).
//
// Functions take the algorithm by value: move it in (`a = add_def_declaration(dirs, std::move(a), d)`) and
// the edits are applied in place.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "algo/algo_lang_types.h"
#include "algo/algo_types.h"
#include "base/additional.h"
#include "base/base_types.h"

namespace cvn::algo_lang {

using algo_types::algorithm;
using algo_types::def_id;
using algo_types::port_id;
using include_dirs = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------------------
// Library modules and files

/// Reads an algorithm file and adds its definitions in file order. Throws the reader's located problems
/// ("Syntax error", lexical errors), Sys_error when the file cannot be read, and the builder's located
/// problems. Its type is the module loader that algo_types::load_lookup_def takes.
[[nodiscard]] algorithm load_algo_file(const include_dirs& dirs, const std::string& file_name, const algorithm& a);

/// The module loader to hand to algo_types::load_lookup_def: reads the module's file with load_algo_file.
/// A module whose file names the module again while it is being read (directly or through other modules)
/// is refused with the failure "Algorithm module file %s is needed while it is being read." (the path).
[[nodiscard]] algo_types::module_loader module_loader();

/// Adds the definitions of a file, in order.
[[nodiscard]] algorithm add_algo_decl(const include_dirs& dirs, algorithm a, const algo_lang_types::algo_decl& decls);

/// Adds one definition with its ports or statements. Throws loc::Problem at the faulty port declaration or
/// statement, or at the declaration itself.
[[nodiscard]] algorithm add_def_declaration(const include_dirs& dirs, algorithm a,
                                            const algo_lang_types::def_decl& decl);

/// Adds one statement of the function or delay d under the condition (none outside a match). Throws
/// loc::Problem at the statement (at the port declaration for a port section, at the inner statement for
/// the statements of a match case), e.g. "Nested \"match ... with\" are not allowed", "Invalid period %d",
/// "No input port %s in current definion".
[[nodiscard]] algorithm add_declaration(const include_dirs& dirs, const std::optional<algo_types::cond>& condition,
                                        const algo_lang_types::statement& s, def_id d, algorithm a);

/// Adds the statements of one case of a match on the input port c of d, under the condition (c, value).
[[nodiscard]] algorithm add_match_case(const include_dirs& dirs, port_id c, const algo_lang_types::match_case& mc,
                                       def_id d, algorithm a);

/// Adds a declared reference to d under the condition: the first period (Failure "Invalid period %d" when
/// negative), the first repetition, abstract, the attributes; the definition is found with load_lookup_def.
/// Throws the model's failures and problems unlocated.
[[nodiscard]] algorithm add_ref(const include_dirs& dirs, const std::optional<algo_types::cond>& condition,
                                const algo_lang_types::Ref_decl& r, def_id d, algorithm a);

/// Adds a declared port to d with that direction, last among its ports of that direction. Throws the
/// model's problems unlocated.
[[nodiscard]] algorithm add_port(algo_types::direction dir, const algo_lang_types::port_decl& p, def_id d,
                                 algorithm a);

/// The port that a path of a statement of d names: its own port, or the port of its reference of that name
/// that exists under the condition. Throws Failure "Port %s not found in definition %s.", "Reference %s not
/// found in definition %s.", "Port %s not found in reference %s of definition %s.".
[[nodiscard]] port_id lookup_port(const algorithm& a, def_id d, const std::optional<algo_types::cond>& condition,
                                  const algo_lang_types::port_path& path);

// ---------------------------------------------------------------------------------------------------------
// Edit actions

/// A condition as actions name it: an input port of the definition concerned, and the value it carries.
struct cond_decl {
  std::string port_name;
  std::int64_t value = 0;
};

/// A port to add, the fields in the order of the port record; a negative position puts it last.
struct port_spec {
  std::string name;
  std::optional<algo_types::expr> size;
  algo_types::direction dir = algo_types::direction::In;
  std::string type;
  std::int64_t position = -1;
  std::optional<algo_types::expr> value;
  std::optional<additional::attributes> additional;
};

/// A reference to add: its name and the fields that an action gives it (no repetition).
struct ref_spec {
  std::string name;
  std::optional<std::int64_t> period;
  std::string comment;
  std::vector<algo_types::expr> args;
  bool abstract = false;
};

/// A port of the definition itself, or of one of its references.
struct Def_port {
  std::string def_name;
  std::string port_name;
};
struct Ref_port {
  std::string def_name;
  std::string ref_name;
  std::string port_name;
};
using port_end = std::variant<Def_port, Ref_port>;

// The actions, in their order.
struct Add_port {
  std::string def_name;
  port_spec port;
};
struct Add_def {
  std::string name;
  algo_types::definition_kind kind = algo_types::definition_kind::Function;
  std::vector<std::string> params;
};
struct Add_ref {
  ref_spec ref;
  base_types::qname def_name;  // the definition instantiated, loaded from its module when qualified
  std::string container;
  std::optional<cond_decl> condition;
};
struct Add_data_edge {
  port_end source;
  port_end destination;
  std::optional<cond_decl> condition;
};
struct Remove_port {
  std::string def_name;
  std::string port_name;
};
struct Remove_def {
  std::string def_name;
};
/// Removes the reference of that name under exactly that condition (none: the unconditioned one).
struct Remove_ref {
  std::string def_name;
  std::string ref_name;
  std::optional<cond_decl> condition;
};
/// Run when its turn comes, on the algorithm as the earlier actions left it.
struct Deferred {
  std::function<algorithm(algorithm)> apply;
};
using action = std::variant<Add_port, Add_def, Add_ref, Add_data_edge, Remove_port, Remove_def, Remove_ref, Deferred>;

/// Applies one action. Throws the model's problems (algo_types::Problem) and the lookups' failures
/// ("Definition %s not found.", "Algorithm module %s not found.", "No input port %s in current definion",
/// those of lookup_port).
[[nodiscard]] algorithm do_action(const include_dirs& dirs, algorithm a, const action& act);

/// Applies the actions in order; a refused edit becomes Failure with the problem's text ("Def top: ...").
[[nodiscard]] algorithm do_actions(const include_dirs& dirs, algorithm a, const std::vector<action>& acts);

}  // namespace cvn::algo_lang
