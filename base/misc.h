#pragma once
// Small helpers shared by every module: formatted texts, ISO 8859-1 case mapping, log functions driven by
// environment variables, list comparisons, string editing and whole-file reading.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace cvn::misc {

/// Moves the value to storage that lives until the process ends and is never destroyed; a reference to it.
/// For the large models of a run: tearing one down costs one free per node, a tenth of a conversion, and
/// the process exits right after, which gives all of its memory back at once.
template <class T>
T& keep_until_exit(T&& value) {
  static_assert(!std::is_reference_v<T>, "pass the value itself");
  static auto* kept = new std::vector<const void*>();  // reachable, so leak checkers do not report it
  T* p = new T(std::forward<T>(value));
  kept->push_back(p);
  return *p;
}

/// printf into a std::string.
[[nodiscard]] std::string sprintf_string(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// ISO 8859-1 case mapping (independent of the locale).
[[nodiscard]] char latin1_lower(char c);
[[nodiscard]] char latin1_upper(char c);
[[nodiscard]] std::string lowercase(std::string_view s);
[[nodiscard]] std::string uppercase(std::string_view s);
/// The string with its first character upper-cased.
[[nodiscard]] std::string capitalize(std::string_view s);

/// A fixed set of words, known by their index in the list given. The lexers look up every identifier they
/// read, and few are in the set: the length and the first byte turn away almost all of those before any
/// text is compared.
class word_table {
 public:
  static constexpr std::size_t longest = 31;
  /// Words of 1 to `longest` bytes; the views must outlive the table.
  explicit word_table(const std::vector<std::string_view>& words);
  /// The index of the word in the list, or -1.
  [[nodiscard]] int find(std::string_view w) const {
    const std::size_t n = w.size();
    if (n == 0 || n > longest) return -1;
    const auto c = static_cast<unsigned char>(w[0]);
    if ((first_[n][c >> 6] >> (c & 63U) & 1U) == 0) return -1;
    for (const int i : of_length_[n])
      if (words_[static_cast<std::size_t>(i)] == w) return i;
    return -1;
  }

 private:
  std::vector<std::string_view> words_;
  std::array<std::array<std::uint64_t, 4>, longest + 1> first_{};  // by length, a bit per first byte
  std::array<std::vector<int>, longest + 1> of_length_;
};

/// The decimal integer held by the environment variable, 0 when unset or not an integer.
[[nodiscard]] int level_of_env(const char* variable);

/// A log function: prints the message when the requested level is at most the verbosity level.
/// The message producer is called only then.
class log_fun {
 public:
  using output_fun = std::function<void(const std::string&)>;
  log_fun(std::optional<std::string> tag, output_fun output, int level);

  /// Logs the message at `level` (default 1), with an optional location text.
  void operator()(const std::function<std::string()>& message, int level = 1,
                  const std::optional<std::string>& location = std::nullopt) const;
  void set_level(int level) { *level_ = level; }
  [[nodiscard]] int level() const { return *level_; }

 private:
  std::string prefix_;
  output_fun output_;
  std::shared_ptr<int> level_;  // shared by the copies, as the set-level function is
};

/// The default output: standard error, flushed.
void output_to_stderr(const std::string& s);

/// A log function whose level is read from the environment variable, with its set-level function.
[[nodiscard]] std::pair<log_fun, std::function<void(int)>> create_log_fun_with_set(
    const std::optional<std::string>& tag, log_fun::output_fun output, const char* variable);
/// The same, without the set-level function.
[[nodiscard]] log_fun create_log_fun(const std::optional<std::string>& tag, log_fun::output_fun output,
                                     const char* variable);

/// True when every element of l1 equals some element of l2.
template <class T, class Eq = std::equal_to<T>>
[[nodiscard]] bool list_in_list(const std::vector<T>& l1, const std::vector<T>& l2, Eq eq = Eq{}) {
  return std::all_of(l1.begin(), l1.end(), [&](const T& x) {
    return std::any_of(l2.begin(), l2.end(), [&](const T& y) { return eq(x, y); });
  });
}

/// The two lists hold the same elements, ignoring order and repetition.
template <class T, class Eq = std::equal_to<T>>
[[nodiscard]] bool list_equal_member(const std::vector<T>& l1, const std::vector<T>& l2, Eq eq = Eq{}) {
  return list_in_list(l1, l2, eq) && list_in_list(l2, l1, eq);
}

/// The list without repeated elements; of equal elements the last one remains, in place.
template <class T, class Eq = std::equal_to<T>>
[[nodiscard]] std::vector<T> list_remove_doubles(const std::vector<T>& l, Eq eq = Eq{}) {
  std::vector<T> out;
  for (std::size_t i = 0; i < l.size(); ++i) {
    bool later = std::any_of(l.begin() + static_cast<std::ptrdiff_t>(i) + 1, l.end(),
                             [&](const T& y) { return eq(l[i], y); });
    if (!later) out.push_back(l[i]);
  }
  return out;
}

/// True when l1 is a prefix of l2.
template <class T, class Eq = std::equal_to<T>>
[[nodiscard]] bool list_is_prefix(const std::vector<T>& l1, const std::vector<T>& l2, Eq eq = Eq{}) {
  if (l1.size() > l2.size()) return false;
  return std::equal(l1.begin(), l1.end(), l2.begin(), eq);
}

/// Replaces each occurrence of `pattern` (non-empty), scanning from the left.
[[nodiscard]] std::string replace_in_string(std::string_view pattern, std::string_view replacement,
                                            std::string_view s);

/// The maximal runs of non-separator characters; with keep_empty, an empty string for each separator that
/// does not end a non-empty run.
[[nodiscard]] std::vector<std::string> split_string(std::string_view s, std::string_view separators,
                                                    bool keep_empty = false);

/// Backslash before each double quote, backslashes doubled.
[[nodiscard]] std::string escape_double_quotes(std::string_view s);

/// The whole content of the file as bytes. Throws Sys_error.
[[nodiscard]] std::string string_of_file(const std::string& name);

/// Creates or truncates the file and writes the text. Throws Sys_error.
void write_file(const std::string& name, std::string_view text);

}  // namespace cvn::misc
