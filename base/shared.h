#pragma once
// Immutable values held by one pointer and shared by their copies.
//
// The records of the models are copied wholesale: a reference copies the ports of its definition, an edit
// copies the record it changes. A field that is a `shared::value` costs one pointer, and its copies point
// to the same node instead of holding the text (or list) again. The default value, empty, holds no node at
// all. Counts are plain integers, as for rc: the program is single-threaded.
#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/rc.h"

namespace cvn::shared {

namespace detail {
template <class T>
struct node {
  T value;
  std::uint32_t refs = 0;
};
}  // namespace detail

/// An immutable T (a string or a container: a type with empty()) behind one pointer, null when empty. It
/// reads as a `const T&`, so code written for T takes it as it is.
template <class T>
class value {
 public:
  value() = default;
  value(const T& v) : p_(make(T(v))) {}     // NOLINT: converts like the value itself
  value(T&& v) : p_(make(std::move(v))) {}  // NOLINT
  /// From anything that converts implicitly to T (a string literal, a string_view for a string).
  template <class U>
    requires(!std::same_as<std::remove_cvref_t<U>, value> && !std::same_as<std::remove_cvref_t<U>, T> &&
             std::convertible_to<U, T>)
  value(U&& v) : p_(make(T(std::forward<U>(v)))) {}  // NOLINT

  [[nodiscard]] const T& get() const { return p_ ? p_->value : empty_value(); }
  operator const T&() const { return get(); }  // NOLINT: reads as the value
  const T& operator*() const { return get(); }
  const T* operator->() const { return &get(); }
  [[nodiscard]] bool empty() const { return !p_; }
  [[nodiscard]] std::size_t size() const { return get().size(); }
  [[nodiscard]] auto begin() const { return get().begin(); }
  [[nodiscard]] auto end() const { return get().end(); }
  [[nodiscard]] const auto& operator[](std::size_t i) const { return get()[i]; }
  /// For strings.
  [[nodiscard]] const char* c_str() const
    requires std::same_as<T, std::string>
  {
    return get().c_str();
  }
  /// True when both share one node (equal values need not).
  [[nodiscard]] bool same(const value& o) const { return p_.get() == o.p_.get(); }

  friend bool operator==(const value& a, const value& b) { return a.same(b) || a.get() == b.get(); }
  friend bool operator==(const value& a, const T& b) { return a.get() == b; }
  friend auto operator<=>(const value& a, const value& b) { return a.get() <=> b.get(); }
  friend auto operator<=>(const value& a, const T& b) { return a.get() <=> b; }

 private:
  using node = detail::node<T>;
  static rc::ptr<node> make(T&& v) {
    if (v.empty()) return nullptr;
    return rc::ptr<node>(rc::create<node>(std::move(v)));
  }
  static const T& empty_value() {
    static const T e{};
    return e;
  }

  rc::ptr<node> p_;
};

/// An immutable T that may be absent, behind one pointer (null when absent): for a large field that most
/// records leave out, where std::optional would hold the whole of T in every record.
template <class T>
class optional {
 public:
  optional() = default;
  optional(std::nullopt_t) {}                              // NOLINT: converts like std::optional
  optional(const T& v) : p_(rc::create<node>(T(v))) {}     // NOLINT
  optional(T&& v) : p_(rc::create<node>(std::move(v))) {}  // NOLINT
  optional(const std::optional<T>& v) {                    // NOLINT
    if (v) p_ = rc::ptr<node>(rc::create<node>(T(*v)));
  }

  [[nodiscard]] bool has_value() const { return static_cast<bool>(p_); }
  explicit operator bool() const { return has_value(); }
  const T& operator*() const { return p_->value; }
  const T* operator->() const { return &p_->value; }
  operator std::optional<T>() const { return p_ ? std::optional<T>(p_->value) : std::nullopt; }  // NOLINT

 private:
  using node = detail::node<T>;
  rc::ptr<node> p_;
};

/// A shared, immutable string.
using string = value<std::string>;

// std::string's concatenations are templates that do not look through the conversion: the ones with a
// shared string, for the messages built from record fields.
[[nodiscard]] inline std::string operator+(const string& a, const std::string& b) { return a.get() + b; }
[[nodiscard]] inline std::string operator+(const std::string& a, const string& b) { return a + b.get(); }
[[nodiscard]] inline std::string operator+(std::string&& a, const string& b) { return std::move(a) + b.get(); }
[[nodiscard]] inline std::string operator+(const string& a, const char* b) { return a.get() + b; }
[[nodiscard]] inline std::string operator+(const char* a, const string& b) { return a + b.get(); }
[[nodiscard]] inline std::string operator+(const string& a, const string& b) { return a.get() + b.get(); }

[[nodiscard]] inline bool operator==(const string& a, const char* b) { return a.get() == b; }
[[nodiscard]] inline auto operator<=>(const string& a, const char* b) { return a.get() <=> b; }

std::ostream& operator<<(std::ostream& out, const string& s);

}  // namespace cvn::shared
