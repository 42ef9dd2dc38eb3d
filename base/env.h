#pragma once
// Module environments: names bound to element identifiers, for the model being built (current) and for each
// loaded module (mods); and the search of a module's file along the include directories.
//
// Both sequences keep every binding, newest first, as the models observe them; next to each sequence an
// index from the name's hash to its newest binding answers lookups in a few steps.
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/base_types.h"
#include "base/misc.h"
#include "base/plist.h"
#include "base/radix.h"

namespace cvn::env {

/// A qualified name whose module is not loaded. Printed `Env.Unbound_module("M")`.
class Unbound_module : public named_error {
 public:
  explicit Unbound_module(std::string module) : named_error("Env.Unbound_module", module), module_(module) {}
  [[nodiscard]] const std::string& module() const { return module_; }

 private:
  std::string module_;
};

/// A name bound nowhere it is looked for. Printed `Env.Unbound_name("q")` with string_of_qname.
class Unbound_name : public named_error {
 public:
  explicit Unbound_name(base_types::qname q)
      : named_error("Env.Unbound_name", base_types::string_of_qname(q)), qname_(std::move(q)) {}
  [[nodiscard]] const base_types::qname& qname() const { return qname_; }

 private:
  base_types::qname qname_;
};

/// "Unbound module %s" or "Unbound name %s" for those two failures; any other exception is rethrown as is.
[[nodiscard]] std::string try_string_of_exn(const std::exception_ptr& e);

/// A sequence of (name, value) bindings, newest first, with an index of the newest binding of each name.
template <class V, class Hash = std::hash<std::string>>
class bindings {
 public:
  using binding = std::pair<std::string, V>;

  /// The bindings given newest first.
  [[nodiscard]] static bindings of_list(const std::vector<binding>& newest_first) {
    bindings r;
    for (auto it = newest_first.rbegin(); it != newest_first.rend(); ++it)
      r = std::move(r).add(it->first, it->second);
    return r;
  }

  /// The bindings with (name, value) in front.
  [[nodiscard]] bindings add(const std::string& name, V value) const& { return bindings(*this).add(name, std::move(value)); }
  [[nodiscard]] bindings add(const std::string& name, V value) && {
    seq_ = std::move(seq_).cons(binding{name, std::move(value)});
    index_ = std::move(index_).add(hash(name), seq_.front());
    return std::move(*this);
  }
  /// The value of the newest binding of the name, or nullptr.
  [[nodiscard]] const V* find(const std::string& name) const {
    const binding* const* b = index_.find(hash(name));
    if (b == nullptr) return nullptr;
    if ((*b)->first == name) return &(*b)->second;
    // A newer name with the same hash took the entry: the sequence answers.
    const binding* x = seq_.find_first([&](const binding& y) { return y.first == name; });
    return x != nullptr ? &x->second : nullptr;
  }
  [[nodiscard]] std::size_t size() const { return seq_.size(); }
  [[nodiscard]] bool empty() const { return seq_.empty(); }
  /// Visits the bindings newest first (shadowed ones included).
  template <class F>
  void for_each(F&& f) const {
    seq_.for_each([&](const binding& b) { f(b.first, b.second); });
  }
  /// The bindings newest first.
  [[nodiscard]] std::vector<binding> to_vector() const { return seq_.to_vector(); }

 private:
  static std::uint64_t hash(const std::string& name) { return Hash{}(name); }

  plist<binding> seq_;
  // The newest binding of each hash, inside seq_: the sequence keeps every binding it points to alive.
  radix_map<const binding*> index_;
};

/// The environment of one model: `current` and `mods`, both newest first.
template <class V>
class Env {
 public:
  using module_bindings = bindings<V>;

  /// Both sequences empty.
  [[nodiscard]] static Env empty() { return Env(); }

  /// (name, value) put in front of current.
  [[nodiscard]] Env add(const std::string& name, V value) const& { return Env(*this).add(name, std::move(value)); }
  [[nodiscard]] Env add(const std::string& name, V value) && {
    current_ = std::move(current_).add(name, std::move(value));
    return std::move(*this);
  }

  /// The value bound to q: a simple name in current, a qualified one in its module's bindings.
  /// Throws Unbound_module (checked first for a qualified name) or Unbound_name.
  [[nodiscard]] const V& lookup(const base_types::qname& q) const {
    if (const auto* s = std::get_if<base_types::simple_name>(&q)) {
      if (const V* v = current_.find(s->name)) return *v;
      throw Unbound_name(q);
    }
    const auto& m = std::get<base_types::qualified_name>(q);
    const module_bindings* mod = mods_.find(m.module);
    if (mod == nullptr) throw Unbound_module(m.module);
    if (const V* v = mod->find(m.name)) return *v;
    throw Unbound_name(q);
  }

  [[nodiscard]] const module_bindings& current() const { return current_; }
  [[nodiscard]] const bindings<module_bindings>& mods() const { return mods_; }

  /// The environment with an empty current (mods kept).
  [[nodiscard]] Env clear_current() const {
    Env r = *this;
    r.current_ = module_bindings();
    return r;
  }
  /// The environment with current replaced (mods kept).
  [[nodiscard]] Env set_current(module_bindings b) const {
    Env r = *this;
    r.current_ = std::move(b);
    return r;
  }
  /// (module, current) put in front of mods, and current emptied.
  [[nodiscard]] Env pack(const std::string& module) const {
    Env r = *this;
    r.mods_ = r.mods_.add(module, current_);
    r.current_ = module_bindings();
    return r;
  }

 private:
  module_bindings current_;
  bindings<module_bindings> mods_;
};

/// The debug log of environments ("Env", level from CORVAN_ENV_DEBUG_LEVEL).
[[nodiscard]] misc::log_fun& log();

/// The path of the module's file ("module in lower case.extension", matched case-insensitively) in the
/// directory, with the entry's own spelling; nothing when absent or the directory cannot be read. The
/// directory's listing is reused while the directory is unchanged.
[[nodiscard]] std::optional<std::string> find_module_file_in_dir(const std::string& dir, const std::string& ext,
                                                                 const std::string& module);
/// The first result of find_module_file_in_dir along the directories.
[[nodiscard]] std::optional<std::string> find_module_file(const std::string& ext, const std::string& module,
                                                          const std::vector<std::string>& dirs);

}  // namespace cvn::env
