#pragma once
// Blocks for the nodes of the persistent containers, carved from slabs that each serve one block size.
//
// A model of 100 000 references holds about two million nodes of 16 to 400 bytes. The general heap puts a
// header before each block and rounds it up to 16 bytes: about a seventh of such a model's memory. Slabs hold their blocks
// back to back, in steps of 8 bytes. Each slab keeps its own free list, so a freed block is reused close to
// its neighbours, and a slab whose last block is freed goes to a list of empty slabs, reusable by any size.
// Empty slabs keep their pages up to a small reserve; beyond it, and on `release_free`, the pages go back
// to the system, so that a model freed leaves little behind.
//
// The program is single-threaded (see rc.h): no locking. Under AddressSanitizer every block is its own
// heap block, so that misuse is caught.
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace cvn::pool {

/// A heap of slabs. Blocks are freed with the size they were asked with.
class slab_heap {
 public:
  static constexpr std::size_t grain = 8;
  static constexpr std::size_t max_size = 512;  // larger blocks are not served here
  static constexpr std::size_t slab_bytes = std::size_t{1} << 16;
  static constexpr std::size_t region_bytes = std::size_t{1} << 22;  // mapped at once, slab by slab used
  static constexpr std::size_t reserve_slabs = 16;                   // empty slabs that keep their pages

  struct usage {
    std::size_t blocks = 0;         // in use
    std::size_t slabs = 0;          // holding blocks
    std::size_t resident_empty = 0;  // empty, pages kept
    std::size_t cold_empty = 0;      // empty, pages given back
  };

  constexpr slab_heap() = default;
  slab_heap(const slab_heap&) = delete;
  slab_heap& operator=(const slab_heap&) = delete;
  /// Unmaps every region: the blocks must be gone.
  ~slab_heap();

  /// A block of n bytes (0 < n <= max_size), aligned to 8.
  [[nodiscard]] void* allocate(std::size_t n) {
    const std::size_t c = class_of(n);
    if (slab* s = current_[c]) {
      if (s->free != nullptr) {
        ++s->live;
        return pop(s);
      }
      if (s->fresh + c * grain <= end_of(s)) {
        ++s->live;
        return std::exchange(s->fresh, s->fresh + c * grain);
      }
    }
    return allocate_slow(c);
  }
  /// Frees a block that allocate(n) gave.
  void deallocate(void* p, std::size_t n) noexcept {
    slab* s = slab_of(p);
    *static_cast<void**>(p) = s->free;
    s->free = p;
    --s->live;
    if (s->st != state::current) settle(s, class_of(n));
  }
  /// Gives the pages of every empty slab back to the system.
  void release_free() noexcept;
  [[nodiscard]] usage current_usage() const;

 private:
  enum class state : std::uint8_t { empty, current, partial, full };  // a zeroed header reads empty
  // The header at the start of each slab; its blocks follow.
  struct slab {
    void* free = nullptr;     // freed blocks, linked through their first word
    char* fresh = nullptr;    // the first byte never handed out
    slab* prev = nullptr;     // in its size's list of partly used slabs, or a list of empty slabs
    slab* next = nullptr;
    std::uint32_t live = 0;  // blocks in use
    state st = state::empty;
  };
  static constexpr std::size_t header_bytes = (sizeof(slab) + grain - 1) / grain * grain;
  static constexpr std::size_t classes = max_size / grain + 1;

  static constexpr std::size_t class_of(std::size_t n) { return n == 0 ? 1 : (n + grain - 1) / grain; }
  static slab* slab_of(void* p) {
    return reinterpret_cast<slab*>(reinterpret_cast<std::uintptr_t>(p) & ~(std::uintptr_t{slab_bytes} - 1));
  }
  static char* end_of(slab* s) { return reinterpret_cast<char*>(s) + slab_bytes; }
  static void* pop(slab* s) {
    void* p = s->free;
    s->free = *static_cast<void**>(p);
    return p;
  }

  void* allocate_slow(std::size_t c);
  // After a free into a slab that is not the current one of its size.
  void settle(slab* s, std::size_t c) noexcept;
  void give_back(slab* s) noexcept;
  slab* take_empty();
  slab* map_slab();
  static void push(slab*& list, slab* s) noexcept;
  static void unlink(slab*& list, slab* s) noexcept;

  slab* current_[classes] = {};
  slab* partial_[classes] = {};
  slab* resident_ = nullptr;  // empty slabs that keep their pages
  std::size_t resident_count_ = 0;
  // Empty slabs whose pages went back, kept aside so that their pages are not touched again; room is made
  // for every slab when a region is mapped, so that a free never allocates.
  std::vector<slab*> cold_;
  char* region_next_ = nullptr;  // unused slabs of the last region
  char* region_end_ = nullptr;
  struct region {
    void* base;
    std::size_t bytes;
    char* first;  // the first slab
  };
  std::vector<region> regions_;
};

namespace detail {
// The program's heap: constant-initialised and never destroyed, since nodes may be freed during static
// destruction.
union holder {
  slab_heap heap;
  constexpr holder() : heap() {}
  ~holder() {}  // NOLINT: never destroys the heap
};
inline constinit holder program_heap;
}  // namespace detail

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool pooled = false;
#else
inline constexpr bool pooled = true;
#endif

/// A block of n bytes aligned to 8, from the program's slabs when small enough.
[[nodiscard]] inline void* allocate(std::size_t n) {
  if (pooled && n <= slab_heap::max_size) return detail::program_heap.heap.allocate(n);
  return ::operator new(n);
}
/// Frees a block that allocate(n) gave.
inline void deallocate(void* p, std::size_t n) noexcept {
  if (pooled && n <= slab_heap::max_size)
    detail::program_heap.heap.deallocate(p, n);
  else
    ::operator delete(p, n);
}
/// Gives the pages of the program's empty slabs back to the system.
inline void release_free() noexcept { detail::program_heap.heap.release_free(); }
/// What the program's slabs hold.
[[nodiscard]] inline slab_heap::usage current_usage() { return detail::program_heap.heap.current_usage(); }

}  // namespace cvn::pool
