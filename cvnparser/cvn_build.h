#pragma once
// What the grammar's actions build, kept out of the generated parser so that tests can call it.
#include <algorithm>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/loc.h"
#include "cvnparser/cvn_types.h"

namespace cvn::cvn_build {

/// `Lib_name` with the library's first character upper-cased (ISO 8859-1); the name is kept as written.
[[nodiscard]] cvn_types::cvn_name lib_name(std::string_view lib, std::string_view name);

/// A floating-point literal of an expression as an integer, truncated toward zero. Throws loc::Problem at
/// `where` when the value has no integer (not finite or beyond the signed 63-bit range).
[[nodiscard]] std::int64_t int_of_float(double value, const loc::location& where);

/// Stops parsing on a construct that the grammar recognises but the converter refuses. Throws loc::Problem
/// "Unsupported construct: %s" at `where`.
[[noreturn]] void reject(const loc::location& where, std::string_view construct);

/// Memory for the blocks of a list_stack, mapped from the system page by page: a freed block goes back to
/// the system at once, where the heap would keep it resident while the taken list is being filled.
void* map_block(std::size_t bytes);
void unmap_block(void* p, std::size_t bytes) noexcept;

template <class T>
struct block_allocator {
  using value_type = T;
  block_allocator() = default;
  template <class U>
  block_allocator(const block_allocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(map_block(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { unmap_block(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const block_allocator<U>&) const noexcept { return true; }
};

/// The elements of the lists being parsed, stacked in fixed-size blocks. A list is the run of elements
/// above the mark taken when it started; lists nest like the grammar does, so an inner list is always
/// taken before its outer list grows again. The parser's stack then carries a mark instead of a vector,
/// and each finished list is moved once into a vector of exactly its size. Blocks never move their
/// elements, and the blocks of a long list are freed while it is taken, so a list is held about once.
template <class T>
class list_stack {
 public:
  list_stack() = default;
  list_stack(const list_stack&) = delete;
  list_stack& operator=(const list_stack&) = delete;

  /// Where a list starting now begins.
  [[nodiscard]] std::size_t mark() const { return size_; }

  void push(T&& value) { emplace(std::move(value)); }

  /// Pushes the element made of `args`, built in place.
  template <class... A>
  void emplace(A&&... args) {
    const std::size_t b = size_ / block_size;
    if (b == blocks_.size()) blocks_.emplace_back();
    auto& block = blocks_[b];
    if (block.capacity() == 0) block.reserve(block_size);
    block.emplace_back(std::forward<A>(args)...);
    ++size_;
  }

  /// The last element pushed.
  [[nodiscard]] T& back() { return at(size_ - 1); }

  /// Removes the last element pushed and returns it.
  [[nodiscard]] T pop() {
    T value = std::move(back());
    drop(size_ - 1);
    return value;
  }

  /// Puts `value` first in the list that starts at `mark`.
  void push_front(std::size_t mark, T&& value) {
    push(std::move(value));
    for (std::size_t i = size_ - 1; i > mark; --i) std::swap(at(i), at(i - 1));
  }

  /// The elements from `mark` on, in order; they leave the stack.
  [[nodiscard]] std::vector<T> take(std::size_t mark) {
    std::vector<T> out;
    out.reserve(size_ - mark);
    const std::size_t first = mark / block_size;
    for (std::size_t b = first; b < blocks_.size(); ++b) {
      auto& block = blocks_[b];
      for (std::size_t i = b == first ? mark % block_size : 0; i < block.size(); ++i)
        out.push_back(std::move(block[i]));
      // A later block is empty from now on: release it at once rather than after the whole move.
      if (b > first) block_type().swap(block);
    }
    drop(mark);
    return out;
  }

  /// Forgets the elements from `mark` on (a list the grammar parses but does not keep).
  void drop(std::size_t mark) {
    const std::size_t first = mark / block_size;
    if (first < blocks_.size()) {
      auto& block = blocks_[first];
      block.erase(block.begin() + static_cast<std::ptrdiff_t>(mark % block_size), block.end());
      // The block in use and the next one stay: lists that keep crossing a block boundary would otherwise
      // map and unmap it each time.
      if (blocks_.size() > first + 2)
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(first + 2), blocks_.end());
      if (first + 1 < blocks_.size()) blocks_[first + 1].clear();
    }
    size_ = mark;
  }

 private:
  // Whole pages: a block is touched only as far as it is filled.
  static constexpr std::size_t block_size = std::max<std::size_t>(1, (std::size_t{1} << 18) / sizeof(T));
  using block_type = std::vector<T, block_allocator<T>>;

  T& at(std::size_t i) { return blocks_[i / block_size][i % block_size]; }

  std::vector<block_type> blocks_;
  std::size_t size_ = 0;
};

/// A token's text, held by a text_arena. One pointer, so that the parser copies it like a number: the size
/// is stored just before the bytes.
struct text {
  const char* data;
  [[nodiscard]] std::size_t size() const {
    std::size_t n;
    std::memcpy(&n, data - sizeof n, sizeof n);
    return n;
  }
  [[nodiscard]] std::string_view view() const { return {data, size()}; }
  [[nodiscard]] std::string str() const { return std::string(data, size()); }
};

/// The empty text, held by no arena.
[[nodiscard]] text empty_text();

/// The texts of the tokens read so far, in chunks that never move: the lexer's own buffer is refilled as
/// the file is read, while a token's text must stay until the rule that keeps it is reduced.
class text_arena {
 public:
  text_arena() = default;
  text_arena(const text_arena&) = delete;
  text_arena& operator=(const text_arena&) = delete;

  /// A copy of the `n` bytes at `p`, valid until a release() that drops its chunk.
  [[nodiscard]] text copy(const char* p, std::size_t n) {
    const std::size_t need = sizeof n + n;
    if (need > left_) grow(need);
    char* d = next_;
    std::memcpy(d, &n, sizeof n);
    if (n != 0) std::memcpy(d + sizeof n, p, n);
    next_ += need;
    left_ -= need;
    return {d + sizeof n};
  }

  /// Forgets every text but those of the chunk in use, which holds at least the last text copied.
  void release();

  /// Bytes held in chunks (for tests).
  [[nodiscard]] std::size_t held() const { return held_; }

 private:
  static constexpr std::size_t chunk_size = std::size_t{1} << 16;
  void grow(std::size_t n);

  struct chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t size;
  };
  std::vector<chunk> chunks_;  // the last one is in use
  chunk spare_{nullptr, 0};    // a released chunk of the usual size, reused before allocating
  char* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t held_ = 0;
};

/// An optional integer: integers are signed 63-bit values, so the smallest 64-bit one marks an absent one.
inline constexpr std::int64_t no_int = INT64_MIN;

/// The media kinds of a media type definition, as the grammar carries them.
enum class media_kind : std::uint8_t { SAMPP, SAMMP, RAM };
[[nodiscard]] arch_types::bus_kind bus_kind_of(media_kind k);

/// The semantic value of a grammar symbol. Lists, expressions and names wait on the builder's stacks, and
/// token texts in a text_arena: what remains is small and trivially copied, so that the parser moves its
/// symbols as plain bytes.
union value {
  text str;              // IDENT, STRING, a description
  std::int64_t integer;  // INT, an integer
  double real;           // FLOAT
  std::size_t mark;      // where a list starts in its list_stack
  std::uint32_t depth;   // how deeply an expression nests (algo_types::nested_depth)
  cvn::algo_types::expr_run run;          // an expression list
  bool flag;             // whether an optional part was written, a boolean
  std::int64_t rank;     // an optional rank, no_int when absent
  media_kind kind;
};
static_assert(std::is_trivially_copyable_v<value> && std::is_trivially_default_constructible_v<value> &&
              sizeof(value) == 8);

/// What the grammar's actions have collected so far: the finished top-level items and the lists still
/// being parsed.
struct builder {
  /// When set, the algorithm definitions go here piece by piece as they are read (cvn_types::cvn_def_piece),
  /// and `algos` stays empty: a reader on its own thread hands them over while the file is still being read.
  std::function<void(cvn_types::cvn_def_piece&&)> pieces;

  /// A definition read whole, or the head of an algorithm (ports, no bodies) when pieces are handed over.
  void add_def(cvn_types::cvn_def&& d) {
    if (pieces)
      pieces(std::move(d));
    else
      algos.push(std::move(d));
  }
  /// The algorithm being read, its bodies to come; empty when its head was handed over.
  cvn_types::cvn_def open_algorithm;

  // The five lists of the file, in source order.
  list_stack<cvn_types::cvn_def> algos;
  list_stack<cvn_types::cvn_arch_decl> archs;
  list_stack<cvn_types::cvn_extra_durations> durations;
  list_stack<cvn_types::cvn_group> groups;
  list_stack<cvn_types::cvn_constraint> constraints;

  // Lists inside items.
  list_stack<std::string> names;  // parameter names, the names of a member path
  list_stack<std::vector<std::string>> members;
  list_stack<cvn_types::cvn_name> targets;
  list_stack<cvn_types::cvn_port> ports;
  list_stack<cvn_types::cvn_body> bodies;
  list_stack<cvn_types::cvn_ref> refs;
  list_stack<cvn_types::cvn_dep> deps;
  // The values of the grammar symbols that stand for an expression, a name, an endpoint, a condition or
  // a repetition: such a value is pushed by the rule that reduces to the symbol and popped by the rule that
  // uses it, in the order of the parser's own stack. The parser then moves only small, trivially copied
  // values. An expression list is the run of its expressions left on `exprs`.
  list_stack<algo_types::expr> exprs;
  list_stack<cvn_types::cvn_name> name_values;
  list_stack<cvn_types::cvn_endpoint> endpoint_values;
  list_stack<cvn_types::cvn_condition> condition_values;
  list_stack<cvn_types::cvn_repeat> repeat_values;
  /// The trailing options of the reference being read, when any is written: its rank (no_int when
  /// absent) and its flag.
  struct ref_tail {
    std::int64_t rank = no_int;
    bool flag = false;
  } tail;

  list_stack<cvn_types::cvn_link> links;
  list_stack<cvn_types::cvn_gate> gates;
  list_stack<cvn_types::cvn_instance> instances;  // operators, then medias
  list_stack<cvn_types::cvn_connection> connections;
  list_stack<cvn_types::cvn_duration> item_durations;

  /// The file made of the collected items.
  [[nodiscard]] cvn_types::cvn_file finish();
};

}  // namespace cvn::cvn_build
