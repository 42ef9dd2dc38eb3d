#include "algo/algo_lang.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

#include "algo/algo_io.h"
#include "algo/algo_ops.h"
#include "base/env.h"
#include "base/loc.h"
#include "base/misc.h"
#include "base/pipe.h"

namespace cvn::algo_lang {

using namespace algo_types;
namespace alt = algo_lang_types;
using misc::sprintf_string;

namespace {

using under_cond = std::optional<std::optional<cond>>;

std::optional<additional::attributes> attributes_of(const std::vector<alt::attribute>& attrs) {
  if (attrs.empty()) return std::nullopt;
  additional::attributes out;
  for (const alt::attribute& x : attrs) out = out.add(x.name, x.value);
  return out;
}

// The attribute sets of one file's declarations, one per distinct list: a file repeats the same few lists on
// many ports and references, and a set is immutable, so the model shares one instead of holding a copy each.
class attribute_sets {
 public:
  std::optional<additional::attributes> of(const std::vector<alt::attribute>& attrs) {
    if (attrs.empty()) return std::nullopt;
    if (auto it = sets_.find(attrs); it != sets_.end()) return it->second;
    return sets_.emplace(attrs, *attributes_of(attrs)).first->second;
  }

 private:
  struct less {
    bool operator()(const std::vector<alt::attribute>& x, const std::vector<alt::attribute>& y) const {
      return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), [](const auto& p, const auto& q) {
        return std::tie(p.name, p.value) < std::tie(q.name, q.value);
      });
    }
  };
  std::map<std::vector<alt::attribute>, additional::attributes, less> sets_;
};

// What the reading of one file shares with the modules it makes the model load: the include directories,
// and the files being read (outermost first), so that a module needed while its own file is still being
// read is refused instead of being read again without end; and the attribute sets made so far.
struct context {
  const include_dirs& dirs;
  std::shared_ptr<std::vector<std::string>> reading;
  algo_types::module_loader load;
  std::shared_ptr<attribute_sets> attrs = std::make_shared<attribute_sets>();
};

algorithm read_file(const std::shared_ptr<std::vector<std::string>>& reading, const include_dirs& dirs,
                    const std::string& file_name, algorithm a);

algo_types::module_loader loader_of(std::shared_ptr<std::vector<std::string>> reading) {
  return [reading](const include_dirs& dirs, const std::string& file_name, const algorithm& a) {
    return read_file(reading, dirs, file_name, a);
  };
}

context fresh_context(const include_dirs& dirs) {
  auto reading = std::make_shared<std::vector<std::string>>();
  return context{dirs, reading, loader_of(reading)};
}

definition_kind kind_of(alt::def_kind k) {
  switch (k) {
    case alt::def_kind::Function: return definition_kind::Function;
    case alt::def_kind::Constant: return definition_kind::Constant;
    case alt::def_kind::Delay: return definition_kind::Delay;
    case alt::def_kind::Sensor: return definition_kind::Sensor;
    case alt::def_kind::Actuator: return definition_kind::Actuator;
  }
  base_types::internal_error("kind_of");
}

port_dispatch_kind dispatch_kind_of(alt::dispatch_sign s) {
  switch (s) {
    case alt::dispatch_sign::Split: return port_dispatch_kind::Split;
    case alt::dispatch_sign::Same: return port_dispatch_kind::Same;
    case alt::dispatch_sign::Gather: return port_dispatch_kind::Gather;
  }
  base_types::internal_error("dispatch_kind_of");
}

repetition_decl repetition_of(const alt::Parallel& p) {
  parallel_decl out{p.factor, {}};
  out.dispatches.reserve(p.dispatchs.size());
  for (const alt::port_dispatch& d : p.dispatchs) out.dispatches.emplace_back(d.port_name, dispatch_kind_of(d.sign));
  return out;
}

repetition_decl repetition_of(const alt::Sequence& s) {
  sequence_decl out{s.factor, {}};
  out.options.reserve(s.options.size());
  for (const alt::seq_option& o : s.options)
    out.options.push_back(std::visit(
        overloaded{
            [](const alt::seq_link& l) -> seq_opt_decl { return seq_link_decl{l.output_port, l.input_port}; },
            [](const alt::port_dispatch& d) -> seq_opt_decl {
              return seq_dispatch_decl{d.port_name, dispatch_kind_of(d.sign)};
            },
        },
        o));
  return out;
}

// The definition of a name, loading its module into `a` when needed.
def_id find_def(const context& ctx, algorithm& a, const base_types::qname& name) {
  return load_lookup_def_into(a, ctx.dirs, ctx.load, name);
}

// A definition named by an action: a plain name, never loaded.
def_id plain_def(const algorithm& a, const std::string& name) {
  try {
    return lookup_def(a, base_types::simple_name{name});
  } catch (const env::Unbound_name&) {
    throw Failure(sprintf_string("Definition %s not found.", name.c_str()));
  }
}

port_id condition_port(const algorithm& a, def_id d, const std::string& name) {
  if (auto p = port_by_name_dir(a, Def{d}, name, direction::In)) return *p;
  throw Failure(sprintf_string("No input port %s in current definion", name.c_str()));
}

std::optional<cond> turn_cond(const algorithm& a, def_id d, const std::optional<cond_decl>& c) {
  if (!c) return std::nullopt;
  return cond{condition_port(a, d, c->port_name), c->value};
}

// Runs f; a refused edit or a failure with a message becomes the located problem carrying the message.
template <class F>
auto located(const loc::location& where, F&& f) {
  try {
    return f();
  } catch (const Problem& p) {
    loc::raise_problem(where, p.message());
  } catch (const Failure& e) {
    loc::raise_problem(where, e.message());
  }
}

// The reference of d with that name under the condition, and the port that a path of a statement of d names.
// The definition being built is the one its name is bound to, so its own indexes answer without the name
// lookups of algo_types; a miss goes through those for the failure that says what is missing.
ref_id ref_in(const algorithm& a, def_id d, const std::optional<cond>& condition, const std::string& name) {
  const std::vector<ref_id> named = refs_by_name(a, Def{d}, name, under_cond{condition});
  if (!named.empty()) return named.front();
  return lookup_ref(a, get_def(a, d).def_name, name, under_cond{condition});
}

port_id port_in(const algorithm& a, def_id d, const std::optional<cond>& condition, const alt::port_path& path) {
  if (!path.ref_name) {
    if (const auto p = port_by_name(a, Def{d}, path.port_name)) return *p;
  } else {
    const std::vector<ref_id> named = refs_by_name(a, Def{d}, *path.ref_name, under_cond{condition});
    if (!named.empty())
      if (const auto p = port_by_name(a, Ref{named.front()}, path.port_name)) return *p;
  }
  return lookup_port(a, d, condition, path);
}

algorithm add_port_in(const context& ctx, direction dir, const alt::port_decl& p, def_id d, algorithm a) {
  return algo_ops::add_port(std::move(a), p.port_size, std::nullopt, p.port_type, dir, p.port_name, p.port_value,
                            ctx.attrs->of(p.port_attributes), d);
}

// In place: a refused reference leaves `a` as it was, but for a module it had to read.
void add_ref_in(const context& ctx, const std::optional<cond>& condition, const alt::Ref_decl& r, def_id d,
                algorithm& a) {
  std::optional<std::int64_t> period;
  std::optional<repetition_decl> rep;
  bool abstract = false;
  std::vector<alt::attribute> attrs;
  for (const alt::ref_option& o : r.options)
    std::visit(overloaded{
                   [&](const alt::Abstract&) { abstract = true; },
                   [&](const alt::Period& p) {
                     if (period) return;
                     if (p.value < 0)
                       throw Failure(sprintf_string("Invalid period %lld", static_cast<long long>(p.value)));
                     period = p.value;
                   },
                   [&](const alt::Parallel& p) {
                     if (!rep) rep = repetition_of(p);
                   },
                   [&](const alt::Sequence& s) {
                     if (!rep) rep = repetition_of(s);
                   },
                   [&](const alt::attribute& x) { attrs.push_back(x); },
               },
               o);
  const def_id instantiated = find_def(ctx, a, r.def_name);
  (void)algo_ops::add_ref_into(a, d, std::nullopt, r.args, rep, period, condition, instantiated, abstract,
                               ctx.attrs->of(attrs), r.ref_name);
}

algorithm add_statements(const context& ctx, const std::optional<cond>& condition,
                         const std::vector<alt::statement>& ss, def_id d, algorithm a);

// Which cases of a match hold data links and nothing else, by position, and how many; none when two cases
// test the same value, whose statements then share one condition.
std::pair<std::vector<bool>, std::size_t> cases_of_links_only(const alt::Match& m) {
  std::vector<bool> marked(m.cases.size(), false);
  std::size_t count = 0;
  std::set<std::int64_t> values;
  for (std::size_t k = 0; k < m.cases.size(); ++k) {
    const alt::match_case& mc = m.cases[k];
    if (!values.insert(mc.value).second) return {};
    if (!mc.statements.empty() && std::all_of(mc.statements.begin(), mc.statements.end(), [](const alt::statement& x) {
          return std::holds_alternative<alt::Data_link>(x.desc);
        })) {
      marked[k] = true;
      ++count;
    }
  }
  return {std::move(marked), count};
}

algorithm add_declaration_in(const context& ctx, const std::optional<cond>& condition, const alt::statement& s,
                             def_id d, algorithm a) {
  return std::visit(
      overloaded{
          [&](const alt::Port_section& sec) {
            for (const alt::port_decl& p : sec.ports)
              a = located(p.where, [&] { return add_port_in(ctx, sec.dir, p, d, std::move(a)); });
            return std::move(a);
          },
          [&](const alt::Ref_decl& r) {
            located(s.where, [&] { add_ref_in(ctx, condition, r, d, a); });
            return std::move(a);
          },
          [&](const alt::Data_link& l) {
            return located(s.where, [&] {
              const port_id src = port_in(a, d, condition, l.source);
              for (const alt::port_path& dst : l.destinations) {
                const port_id p = port_in(a, d, condition, dst);
                algo_ops::add_data_edge_into(a, condition, src, p);
              }
              return std::move(a);
            });
          },
          [&](const alt::Precedence& p) {
            return located(s.where, [&] {
              const ref_id first = ref_in(a, d, condition, p.before);
              const ref_id second = ref_in(a, d, condition, p.after);
              return algo_ops::add_precedence_edge(std::move(a), first, second);
            });
          },
          [&](const alt::Match& m) {
            if (condition) loc::raise_problem(s.where, "Nested \"match ... with\" are not allowed");
            const port_id c = located(s.where, [&] { return condition_port(a, d, m.port_name); });
            const auto add_case = [&](const alt::match_case& mc, algorithm x) {
              return add_statements(ctx, cond{c, mc.value}, mc.statements, d, std::move(x));
            };
            const auto [links_only, count] = cases_of_links_only(m);
            if (count < 2) {
              for (const alt::match_case& mc : m.cases) a = add_case(mc, std::move(a));
              return std::move(a);
            }
            // A case of links alone is a group without references: the printer writes such groups in the
            // order in which their first link is gathered, a port's newest link first. They are added last
            // to first so that a printed text reads back into the same order. The cases are first added in
            // file order, so that a fault is reported at the first line that has one. The other order then
            // cannot fail: a case of links alone names only the definition's own ports (no reference has
            // its condition), and links of two cases are alternatives, never two sources of one port.
            {
              algorithm trial = a;
              for (const alt::match_case& mc : m.cases) trial = add_case(mc, std::move(trial));
            }
            for (std::size_t k = 0; k < m.cases.size(); ++k)
              if (!links_only[k]) a = add_case(m.cases[k], std::move(a));
            for (std::size_t k = m.cases.size(); k-- > 0;)
              if (links_only[k]) a = add_case(m.cases[k], std::move(a));
            return std::move(a);
          },
      },
      s.desc);
}

algorithm add_statements(const context& ctx, const std::optional<cond>& condition,
                         const std::vector<alt::statement>& ss, def_id d, algorithm a) {
  for (std::size_t i = 0; i < ss.size();) {
    std::size_t j = i + 1;
    if (const auto* p = std::get_if<alt::Precedence>(&ss[i].desc))
      for (; j < ss.size(); ++j) {
        const auto* q = std::get_if<alt::Precedence>(&ss[j].desc);
        if (q == nullptr || q->before != p->before) break;
      }
    if (j - i == 1) {
      a = add_declaration_in(ctx, condition, ss[i], d, std::move(a));
    } else {
      // The printer lists the precedence successors of a reference newest first: a run of lines from one
      // reference is added last to first so that it reads back into the same successor list. The run is
      // first tried in file order, so that a fault is reported at the first line that has one; the reverse
      // order then adds the same edges, all leaving one reference, and cannot fail.
      algorithm trial = a;
      for (std::size_t k = i; k < j; ++k) trial = add_declaration_in(ctx, condition, ss[k], d, std::move(trial));
      for (std::size_t k = j; k-- > i;) a = add_declaration_in(ctx, condition, ss[k], d, std::move(a));
    }
    i = j;
  }
  return a;
}

algorithm add_def_in(const context& ctx, algorithm a, const alt::def_decl& decl) {
  def_id d;
  a = located(decl.where, [&] {
    auto [id, b] = algo_ops::add_def(std::move(a), std::nullopt, decl.def_params, kind_of(decl.kind), decl.def_name);
    d = id;
    return std::move(b);
  });
  switch (decl.kind) {
    case alt::def_kind::Constant:
    case alt::def_kind::Sensor:
    case alt::def_kind::Actuator: {
      const direction dir = decl.kind == alt::def_kind::Actuator ? direction::In : direction::Out;
      for (const alt::port_decl& p : decl.ports)
        a = located(decl.where, [&] { return add_port_in(ctx, dir, p, d, std::move(a)); });
      return a;
    }
    case alt::def_kind::Function:
    case alt::def_kind::Delay: return add_statements(ctx, std::nullopt, decl.statements, d, std::move(a));
  }
  base_types::internal_error("add_def_in");
}

// A definition's declarations weigh many times its text: few of them are handed over at a time, so that
// those read ahead stay a small part of the model's memory.
constexpr std::size_t decls_per_batch = 16;

// Each module file read inside another takes a few kilobytes of the stack (and, from small_file_bytes on, a
// reading thread): modules nested deeper than any library needs are refused, rather than left to exhaust the
// stack.
constexpr std::size_t max_module_nesting = 100;

// Files below this size are read whole before they are built, without a thread of their own.
constexpr std::uintmax_t small_file_bytes = 64 * 1024;

algorithm read_file(const std::shared_ptr<std::vector<std::string>>& reading, const include_dirs& dirs,
                    const std::string& file_name, algorithm a) {
  if (std::find(reading->begin(), reading->end(), file_name) != reading->end())
    throw Failure(sprintf_string("Algorithm module file %s is needed while it is being read.", file_name.c_str()));
  if (reading->size() >= max_module_nesting)
    throw Failure(sprintf_string("Algorithm module file %s is needed inside more than %zu module files being read.",
                                 file_name.c_str(), max_module_nesting));
  reading->push_back(file_name);
  struct done_reading {
    std::vector<std::string>& files;
    ~done_reading() { files.pop_back(); }
  } guard{*reading};
  // Each definition is built as soon as it is read and dropped once built, so that the declarations of the
  // file are never held whole beside the model; the reading runs ahead on a thread of its own. A syntax or
  // lexical error anywhere in the file still comes first, as when the file is read before anything is
  // built: the first building failure waits for the end of the reading.
  const context ctx{dirs, reading, loader_of(reading)};
  std::error_code unknown;
  const std::uintmax_t size = std::filesystem::file_size(file_name, unknown);
  if (!unknown && size < small_file_bytes) {
    // A small file (a library module, mostly) is read whole, then built: a thread would cost more than it
    // saves, and the parser is done before the modules it names are read in turn, so that a chain of
    // modules does not stack up one parser per module.
    std::vector<alt::def_decl> decls;
    algo_io::for_each_decl_of_file(file_name, [&decls](alt::def_decl&& decl) { decls.push_back(std::move(decl)); });
    for (const alt::def_decl& decl : decls) a = add_def_in(ctx, std::move(a), decl);
    return a;
  }
  pipe::run<alt::def_decl>(
      [&file_name](const std::function<void(alt::def_decl&&)>& put) { algo_io::for_each_decl_of_file(file_name, put); },
      [&](alt::def_decl&& decl) { a = add_def_in(ctx, std::move(a), decl); }, pipe::threads_help(), decls_per_batch);
  return a;
}

}  // namespace

algorithm load_algo_file(const include_dirs& dirs, const std::string& file_name, const algorithm& a) {
  return read_file(std::make_shared<std::vector<std::string>>(), dirs, file_name, a);
}

algo_types::module_loader module_loader() { return loader_of(std::make_shared<std::vector<std::string>>()); }

algorithm add_algo_decl(const include_dirs& dirs, algorithm a, const alt::algo_decl& decls) {
  const context ctx = fresh_context(dirs);
  for (const alt::def_decl& decl : decls) a = add_def_in(ctx, std::move(a), decl);
  return a;
}

algorithm add_def_declaration(const include_dirs& dirs, algorithm a, const alt::def_decl& decl) {
  return add_def_in(fresh_context(dirs), std::move(a), decl);
}

algorithm add_declaration(const include_dirs& dirs, const std::optional<cond>& condition, const alt::statement& s,
                          def_id d, algorithm a) {
  return add_declaration_in(fresh_context(dirs), condition, s, d, std::move(a));
}

algorithm add_match_case(const include_dirs& dirs, port_id c, const alt::match_case& mc, def_id d, algorithm a) {
  return add_statements(fresh_context(dirs), cond{c, mc.value}, mc.statements, d, std::move(a));
}

algorithm add_ref(const include_dirs& dirs, const std::optional<cond>& condition, const alt::Ref_decl& r, def_id d,
                  algorithm a) {
  add_ref_in(fresh_context(dirs), condition, r, d, a);
  return a;
}

algorithm add_port(direction dir, const alt::port_decl& p, def_id d, algorithm a) {
  return algo_ops::add_port(std::move(a), p.port_size, std::nullopt, p.port_type, dir, p.port_name, p.port_value,
                            attributes_of(p.port_attributes), d);
}

port_id lookup_port(const algorithm& a, def_id d, const std::optional<cond>& condition, const alt::port_path& path) {
  return algo_types::lookup_port(a, d, get_def(a, d).def_name, path.ref_name, path.port_name, under_cond{condition});
}

// ---------------------------------------------------------------------------------------------------------
// Edit actions

namespace {

// The port at an end of an action's edge, among the references under the condition when one is given.
port_id port_of_end(const algorithm& a, const port_end& e, const under_cond& under) {
  return std::visit(overloaded{
                        [&](const Def_port& p) {
                          return algo_types::lookup_port(a, base_types::simple_name{p.def_name}, std::nullopt,
                                                         p.port_name, under);
                        },
                        [&](const Ref_port& p) {
                          return algo_types::lookup_port(a, base_types::simple_name{p.def_name}, p.ref_name,
                                                         p.port_name, under);
                        },
                    },
                    e);
}

algorithm do_action_in(const context& ctx, algorithm a, const action& act) {
  return std::visit(
      overloaded{
          [&](const Add_port& x) {
            const def_id d = plain_def(a, x.def_name);
            const port_spec& p = x.port;
            const std::optional<std::int64_t> position =
                p.position >= 0 ? std::optional<std::int64_t>(p.position) : std::nullopt;
            return algo_ops::add_port(std::move(a), p.size, position, p.type, p.dir, p.name, p.value, p.additional, d);
          },
          [&](const Add_def& x) {
            return algo_ops::add_def(std::move(a), std::nullopt, x.params, x.kind, x.name).second;
          },
          [&](const Add_ref& x) {
            const def_id container = plain_def(a, x.container);
            const def_id instantiated = find_def(ctx, a, x.def_name);
            const std::optional<cond> c = turn_cond(a, container, x.condition);
            return algo_ops::add_ref(std::move(a), container, x.ref.comment, x.ref.args, std::nullopt, x.ref.period, c,
                                     instantiated, x.ref.abstract, std::nullopt, x.ref.name)
                .second;
          },
          [&](const Add_data_edge& x) {
            // The condition names an input port of the definition that holds the source.
            const port_id first = port_of_end(a, x.source, std::nullopt);
            const graph_elt holder = port_container(a, first);
            const def_id d = std::holds_alternative<Def>(holder) ? std::get<Def>(holder).id
                                                                 : ref_container(a, std::get<Ref>(holder).id);
            const std::optional<cond> c = turn_cond(a, d, x.condition);
            const port_id src = port_of_end(a, x.source, under_cond{c});
            const port_id dst = port_of_end(a, x.destination, under_cond{c});
            return algo_ops::add_data_edge(std::move(a), c, src, dst);
          },
          [&](const Remove_port& x) {
            return algo_ops::remove_port(
                a, algo_types::lookup_port(a, base_types::simple_name{x.def_name}, std::nullopt, x.port_name));
          },
          [&](const Remove_def& x) { return algo_ops::remove_def(a, plain_def(a, x.def_name)); },
          [&](const Remove_ref& x) {
            const def_id d = plain_def(a, x.def_name);
            const std::optional<cond> c = turn_cond(a, d, x.condition);
            return algo_ops::remove_ref(a, lookup_ref(a, base_types::simple_name{x.def_name}, x.ref_name, under_cond{c}));
          },
          [&](const Deferred& x) { return x.apply(std::move(a)); },
      },
      act);
}

}  // namespace

algorithm do_action(const include_dirs& dirs, algorithm a, const action& act) {
  return do_action_in(fresh_context(dirs), std::move(a), act);
}

algorithm do_actions(const include_dirs& dirs, algorithm a, const std::vector<action>& acts) {
  const context ctx = fresh_context(dirs);
  try {
    for (const action& act : acts) a = do_action_in(ctx, std::move(a), act);
  } catch (const Problem& p) {
    throw Failure(p.text());
  }
  return a;
}

}  // namespace cvn::algo_lang
