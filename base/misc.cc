#include "base/misc.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sys/stat.h>

#include "base/base_types.h"

namespace cvn::misc {

std::string sprintf_string(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) std::vsnprintf(out.data(), out.size() + 1, format, again);
  va_end(again);
  return out;
}

char latin1_lower(char c) {
  const auto u = static_cast<unsigned char>(c);
  // A-Z, and the accented capitals 0xC0-0xDE except the multiplication sign 0xD7.
  if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7)) return static_cast<char>(u + 32);
  return c;
}

char latin1_upper(char c) {
  const auto u = static_cast<unsigned char>(c);
  if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) return static_cast<char>(u - 32);
  return c;
}

word_table::word_table(const std::vector<std::string_view>& words) : words_(words) {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    const std::string_view w = words_[i];
    if (w.empty() || w.size() > longest) base_types::internal_error("word_table: word of unusable length");
    const auto c = static_cast<unsigned char>(w[0]);
    first_[w.size()][c >> 6] |= std::uint64_t{1} << (c & 63U);
    of_length_[w.size()].push_back(static_cast<int>(i));
  }
}

std::string lowercase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = latin1_lower(c);
  return out;
}

std::string uppercase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = latin1_upper(c);
  return out;
}

std::string capitalize(std::string_view s) {
  std::string out(s);
  if (!out.empty()) out[0] = latin1_upper(out[0]);
  return out;
}

int level_of_env(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr) return 0;
  // The whole text must be a decimal integer (an optional sign, then digits); anything else means 0.
  const char* p = value;
  if (*p == '-' || *p == '+') ++p;
  if (*p == '\0') return 0;
  for (const char* q = p; *q != '\0'; ++q)
    if (*q < '0' || *q > '9') return 0;
  errno = 0;
  const long v = std::strtol(value, nullptr, 10);
  if (errno != 0 || v > 2147483647L || v < -2147483647L - 1) return 0;
  return static_cast<int>(v);
}

log_fun::log_fun(std::optional<std::string> tag, output_fun output, int level)
    : prefix_(tag ? "[" + *tag + "]" : ""), output_(std::move(output)), level_(std::make_shared<int>(level)) {}

void log_fun::operator()(const std::function<std::string()>& message, int level,
                         const std::optional<std::string>& location) const {
  if (level > *level_) return;
  std::string text = prefix_;
  if (location) text += "[" + *location + "]";
  if (!text.empty()) text += ' ';
  text += message();
  output_(text);
}

void output_to_stderr(const std::string& s) {
  std::cerr << s;
  std::cerr.flush();
}

std::pair<log_fun, std::function<void(int)>> create_log_fun_with_set(const std::optional<std::string>& tag,
                                                                      log_fun::output_fun output,
                                                                      const char* variable) {
  log_fun f(tag, output ? std::move(output) : log_fun::output_fun(output_to_stderr), level_of_env(variable));
  auto setter = [f](int level) mutable { f.set_level(level); };
  return {f, setter};
}

log_fun create_log_fun(const std::optional<std::string>& tag, log_fun::output_fun output, const char* variable) {
  return create_log_fun_with_set(tag, std::move(output), variable).first;
}

std::string replace_in_string(std::string_view pattern, std::string_view replacement, std::string_view s) {
  if (pattern.empty()) base_types::internal_error("replace_in_string: empty pattern");
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t hit = s.find(pattern, i);
    if (hit == std::string_view::npos) break;
    out.append(s.substr(i, hit - i));
    out.append(replacement);
    i = hit + pattern.size();
  }
  out.append(s.substr(i));
  return out;
}

std::vector<std::string> split_string(std::string_view s, std::string_view separators, bool keep_empty) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    const bool at_end = i == s.size();
    if (!at_end && separators.find(s[i]) == std::string_view::npos) continue;
    if (i > start)
      out.emplace_back(s.substr(start, i - start));
    else if (keep_empty && !at_end)
      out.emplace_back();
    start = i + 1;
  }
  return out;
}

std::string escape_double_quotes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string string_of_file(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) throw sys_error_of_errno(name, errno);
  std::string out;
  // Sized once for a regular file: grown by doubling, a large text would be copied several times and
  // could end up holding up to twice its size.
  struct stat st {};
  if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
    out.append(buffer, n);
    if (n < sizeof buffer) break;
  }
  const bool failed = std::ferror(f) != 0;
  const int errnum = errno;
  std::fclose(f);
  if (failed) throw sys_error_of_errno(name, errnum);
  return out;
}

void write_file(const std::string& name, std::string_view text) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr) throw sys_error_of_errno(name, errno);
  const std::size_t n = std::fwrite(text.data(), 1, text.size(), f);
  int errnum = errno;
  const bool failed = n != text.size() || std::fflush(f) != 0;
  if (failed) errnum = errno;
  if (std::fclose(f) != 0 && !failed) throw sys_error_of_errno(name, errno);
  if (failed) throw sys_error_of_errno(name, errnum);
}

}  // namespace cvn::misc
