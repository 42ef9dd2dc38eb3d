#pragma once
// The syntax tree of an application file: what the translations read of it. Everything else that the
// grammar accepts (positions, descriptions, scheduling results, code phases...) is dropped while parsing.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "algo/algo_types.h"
#include "arch/arch_types.h"

namespace cvn::cvn_types {

using algo_types::expr;

/// An optional value kept behind a pointer, for a large field that is mostly absent: it reads like
/// std::optional and copies deeply, but costs one pointer when empty.
template <class T>
class boxed {
 public:
  boxed() = default;
  boxed(T value) : p_(std::make_unique<T>(std::move(value))) {}  // implicit, as std::optional is
  boxed(const boxed& other) : p_(other.p_ ? std::make_unique<T>(*other.p_) : nullptr) {}
  boxed(boxed&&) noexcept = default;
  boxed& operator=(const boxed& other) {
    if (this != &other) p_ = other.p_ ? std::make_unique<T>(*other.p_) : nullptr;
    return *this;
  }
  boxed& operator=(boxed&&) noexcept = default;
  ~boxed() = default;

  [[nodiscard]] bool has_value() const { return p_ != nullptr; }
  explicit operator bool() const { return has_value(); }
  const T& operator*() const { return *p_; }
  T& operator*() { return *p_; }
  const T* operator->() const { return p_.get(); }
  T* operator->() { return p_.get(); }
  void reset() { p_.reset(); }

 private:
  std::unique_ptr<T> p_;
};

/// A name kept in the tree. Names are short and numerous (references and dependences are mostly names):
/// up to 15 bytes are held in place, longer ones on the heap, in 16 bytes where a std::string takes 32.
/// Always NUL-terminated. Aligned as the pointer it may hold: embedded at an odd offset (the second
/// endpoint of a dependence follows a variant's index byte), the pointer would escape a leak checker,
/// which scans aligned words only, and the texts of a tree kept to the end would be reported lost.
class alignas(char*) short_string {
 public:
  short_string() noexcept { set_empty(); }
  short_string(std::string_view s) { init(s.data(), s.size()); }  // implicit, as std::string's are
  short_string(const char* s) : short_string(std::string_view(s)) {}
  short_string(const std::string& s) : short_string(std::string_view(s)) {}
  short_string(const short_string& other) { init(other.data(), other.size()); }
  short_string(short_string&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.set_empty();
  }
  short_string& operator=(const short_string& other) {
    if (this != &other) {
      short_string copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  short_string& operator=(short_string&& other) noexcept {
    if (this != &other) {
      free_heap();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.set_empty();
    }
    return *this;
  }
  ~short_string() { free_heap(); }

  [[nodiscard]] std::size_t size() const noexcept {
    if (on_heap()) {
      std::uint32_t n;
      std::memcpy(&n, bytes_ + sizeof(char*), sizeof n);
      return n;
    }
    return inline_max - static_cast<unsigned char>(bytes_[inline_max]);
  }
  [[nodiscard]] bool empty() const noexcept { return size() == 0; }
  [[nodiscard]] const char* data() const noexcept { return on_heap() ? heap_data() : bytes_; }
  [[nodiscard]] const char* c_str() const noexcept { return data(); }
  [[nodiscard]] std::string_view view() const noexcept { return {data(), size()}; }
  [[nodiscard]] std::string str() const { return std::string(data(), size()); }

  friend bool operator==(const short_string& a, const short_string& b) noexcept { return a.view() == b.view(); }
  friend bool operator==(const short_string& a, std::string_view b) noexcept { return a.view() == b; }
  friend bool operator==(const short_string& a, const char* b) noexcept { return a.view() == b; }
  friend bool operator==(const short_string& a, const std::string& b) noexcept { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const short_string& s) { return out << s.view(); }

 private:
  // In place: the bytes, then NUL, the last byte holding 15 minus the size (the NUL itself for 15 bytes).
  // On the heap: the pointer, the 32-bit size (texts are below 2 GB), and heap_tag in the last byte.
  static constexpr std::size_t inline_max = 15;
  static constexpr unsigned char heap_tag = 0xFF;

  [[nodiscard]] bool on_heap() const noexcept { return static_cast<unsigned char>(bytes_[inline_max]) == heap_tag; }
  [[nodiscard]] char* heap_data() const noexcept {
    char* p;
    std::memcpy(&p, bytes_, sizeof p);
    return p;
  }
  void set_empty() noexcept {
    bytes_[0] = '\0';
    bytes_[inline_max] = static_cast<char>(inline_max);
  }
  void init(const char* s, std::size_t n) {
    if (n <= inline_max) {
      copy_short(s, n);
      bytes_[n] = '\0';
      bytes_[inline_max] = static_cast<char>(inline_max - n);
      return;
    }
    char* p = new char[n + 1];
    std::memcpy(p, s, n);
    p[n] = '\0';
    const auto n32 = static_cast<std::uint32_t>(n);
    std::memcpy(bytes_, &p, sizeof p);
    std::memcpy(bytes_ + sizeof p, &n32, sizeof n32);
    bytes_[inline_max] = static_cast<char>(heap_tag);
  }
  // Up to 15 bytes as two fixed-size copies that may overlap, rather than a call for a few bytes.
  void copy_short(const char* s, std::size_t n) noexcept {
    if (n >= 8) {
      std::memcpy(bytes_, s, 8);
      std::memcpy(bytes_ + n - 8, s + n - 8, 8);
    } else if (n >= 4) {
      std::memcpy(bytes_, s, 4);
      std::memcpy(bytes_ + n - 4, s + n - 4, 4);
    } else {
      for (std::size_t i = 0; i < n; ++i) bytes_[i] = s[i];
    }
  }
  void free_heap() noexcept {
    if (on_heap()) delete[] heap_data();
  }

  char bytes_[inline_max + 1];
};
static_assert(sizeof(short_string) == 16);

/// A plain name.
struct Name {
  short_string name;
  bool operator==(const Name&) const = default;
};
/// A name in a library; the library's first character is upper-cased when the node is built.
struct Lib_name {
  short_string lib;
  short_string name;
  bool operator==(const Lib_name&) const = default;
};
/// A possibly library-qualified name.
using cvn_name = std::variant<Name, Lib_name>;

/// Kind of an algorithm-part definition, selected by the keyword after "def".
enum class cvn_def_kind { Algorithm, Constant, Memory, Sensor, Actuator };

struct cvn_port {
  short_string cp_name;
  std::optional<expr> cp_dim;  // absent when no "[...]" is written
  short_string cp_type;
  algo_types::direction cp_dir;  // In for "?", Out for "!"
  std::int64_t cp_rank = 0;      // 0 when not written
};

/// `Parallel` repetition: "[" factor "]".
struct Parallel {
  expr factor;
};
/// One link of a sequence, written left "<-" right.
struct cvn_link {
  std::string left;
  std::string right;
  bool operator==(const cvn_link&) const = default;
};
/// `Sequence` repetition: "[" factor ":" links "]", links in source order.
struct Sequence {
  expr factor;
  std::vector<cvn_link> links;
};
using cvn_repeat = std::variant<Parallel, Sequence>;

/// A reference: an instance of a definition.
struct cvn_ref {
  short_string cr_name;
  cvn_name cr_def;
  std::optional<std::int64_t> cr_rank;
  std::vector<expr> cr_params;
  bool cr_flag = false;
  boxed<cvn_repeat> cr_repeat;  // absent for most references
};

/// A port of the enclosing definition, written as its bare name.
struct Def_port {
  short_string port;
  bool operator==(const Def_port&) const = default;
};
/// A port of a reference, written reference "." port.
struct Ref_port {
  short_string ref;
  short_string port;
  bool operator==(const Ref_port&) const = default;
};
using cvn_endpoint = std::variant<Def_port, Ref_port>;

/// A dependence (source, destination); its keyword is not kept.
struct cvn_dep {
  cvn_endpoint source;
  cvn_endpoint destination;
  bool operator==(const cvn_dep&) const = default;
};

/// The condition of a body: the body holds when `variable` equals `value`.
struct cvn_condition {
  std::string variable;
  std::int64_t value = 0;
  bool operator==(const cvn_condition&) const = default;
};

/// One group of conditions, references and dependences of an algorithm.
struct cvn_body {
  std::optional<cvn_condition> cb_condition;  // absent for an empty, "true" or "false" condition
  std::vector<cvn_ref> cb_refs;
  std::vector<cvn_dep> cb_deps;
};

/// An algorithm-part definition.
struct cvn_def {
  cvn_def_kind cd_kind = cvn_def_kind::Algorithm;
  cvn_name cd_name;  // always the Name case
  std::vector<std::string> cd_params;
  std::string cd_description;  // "" when absent
  std::vector<cvn_port> cd_ports;
  std::vector<cvn_body> cd_body;  // empty except for Algorithm
};

/// The head of a body handed over piece by piece: its condition. Its references and dependences follow.
struct cvn_body_head {
  std::optional<cvn_condition> condition;
};

/// The algorithm definitions as a reader hands them over while it reads: each definition with its ports
/// (its bodies left out), then, for an algorithm, each body as its head, its references and its
/// dependences, in the order of the file.
using cvn_def_piece = std::variant<cvn_def, cvn_body_head, cvn_ref, cvn_dep>;

/// A gate of an operator type: (gate name, media type).
struct cvn_gate {
  std::string name;
  cvn_name media_type;
  bool operator==(const cvn_gate&) const = default;
};

struct cvn_opr_type {
  std::string cot_name;
  std::vector<cvn_gate> cot_gates;
};

struct cvn_med_type {
  std::string cmt_name;
  arch_types::bus_kind cmt_kind;
};

/// An operator or a medium of an architecture: (name, type).
struct cvn_instance {
  std::string name;
  cvn_name type;
  bool operator==(const cvn_instance&) const = default;
};

/// A connection (operator, gate, medium).
struct cvn_connection {
  std::string opr;
  std::string gate;
  cvn_name medium;
  bool operator==(const cvn_connection&) const = default;
};

struct cvn_arch {
  std::string ca_name;
  std::vector<cvn_instance> ca_operators;
  std::vector<cvn_instance> ca_medias;
  std::vector<cvn_connection> ca_connections;
};

struct Opr_type_decl {
  cvn_opr_type opr_type;
};
struct Med_type_decl {
  cvn_med_type med_type;
};
struct Arch_decl {
  cvn_arch arch;
};
using cvn_arch_decl = std::variant<Opr_type_decl, Med_type_decl, Arch_decl>;

/// One duration item: (operation or data type name, duration).
struct cvn_duration {
  std::string name;
  double duration = 0;
  bool operator==(const cvn_duration&) const = default;
};
/// Durations of operations on an operator type.
struct Opr_durations {
  std::string opr_type;
  std::vector<cvn_duration> durations;
  bool operator==(const Opr_durations&) const = default;
};
/// Durations of data types on a media type.
struct Med_durations {
  std::string med_type;
  std::vector<cvn_duration> durations;
  bool operator==(const Med_durations&) const = default;
};
using cvn_extra_durations = std::variant<Opr_durations, Med_durations>;

/// A software component or operation group: (name, members), each member a path of names.
struct cvn_group {
  std::string name;
  std::vector<std::vector<std::string>> members;
  bool operator==(const cvn_group&) const = default;
};

/// An absolute constraint: (group name, targets), each target a Lib_name.
struct cvn_constraint {
  std::string group;
  std::vector<cvn_name> targets;
  bool operator==(const cvn_constraint&) const = default;
};

/// The whole file; every list is in source order.
struct cvn_file {
  std::vector<cvn_def> cvn_algos;
  std::vector<cvn_arch_decl> cvn_archs;
  std::vector<cvn_extra_durations> cvn_durations;
  std::vector<cvn_group> cvn_groups;
  std::vector<cvn_constraint> cvn_constraints;
};

/// Name of the operator type.
[[nodiscard]] const std::string& string_of_cvn_opr_type(const cvn_opr_type& t);
/// Name of the media type.
[[nodiscard]] const std::string& string_of_cvn_med_type(const cvn_med_type& t);
/// Name of the architecture.
[[nodiscard]] const std::string& string_of_cvn_arch(const cvn_arch& a);
/// Name of the declared item, whatever its case.
[[nodiscard]] const std::string& string_of_cvn_arch_decl(const cvn_arch_decl& d);

}  // namespace cvn::cvn_types
