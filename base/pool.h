#pragma once
// The program's small blocks, carved from slabs that each serve one block size.
//
// A model of 100 000 references holds about two million nodes of 16 to 500 bytes. The general heap puts a
// header before each block and rounds it up to 16 bytes: about a seventh of such a model's memory. Slabs
// hold their blocks back to back, in steps of 8 bytes. Each slab keeps its own free list, so a freed block
// is reused close to its neighbours, and a slab whose last block is freed goes to a list of empty slabs,
// reusable by any size. Empty slabs keep their pages up to a small reserve; beyond it, and on
// `release_free`, the pages go back to the system, so that a model freed leaves little behind.
//
// Every small block of the program comes from here (pool.cc replaces the global operator new), not only
// the containers' nodes: a syntax tree freed while the model built from it grows then leaves its memory to
// the model, as it would within one heap.
//
// The slabs lie in one reserved address range, so that a block's slab is found from its address. The
// program's heap serves its main thread (see rc.h). A second heap is lent to the thread that reads a file
// beside the main thread (base/pipe.h): what it reads is mostly handed over and freed by the main thread,
// which puts such blocks in a list that the reader takes back when it runs short, where the general heap
// would take a lock per block and leave the reader's memory scattered. Blocks asked for by any other thread
// come from the general heap. The one thread of the pool's own (pool.cc) allocates nothing: it only gives
// memory to pages ahead of the slabs in use.
// Under AddressSanitizer every block is a heap block, so that misuse is caught.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

namespace cvn::pool {

/// A heap of slabs.
class slab_heap {
 public:
  // Sizes up to fine_max come in steps of the grain. Blocks of 1 to 4 KB are mostly lists, such as the
  // statements of each definition that a reader returns: from the general heap, their fresh pages would
  // fault on the thread that reads, where here the filler gives them memory ahead. They come in steps of
  // coarse_grain, so that they share three sizes of slabs and keep as little aside as the general heap did.
  // Larger blocks are not served here.
  static constexpr std::size_t grain = 8;
  static constexpr std::size_t fine_max = 1024;
  static constexpr std::size_t coarse_grain = 1024;
  static constexpr std::size_t max_size = 4096;
  static constexpr std::size_t slab_bytes = std::size_t{1} << 16;
  static constexpr std::size_t region_bytes = std::size_t{1} << 22;     // made usable at once
  static constexpr std::size_t reserved_bytes = std::size_t{1} << 36;   // the address range of all slabs
  static constexpr std::size_t reserve_slabs = 16;                      // empty slabs that keep their pages
  // The slabs of a small heap get their pages a step at a time, as blocks reach them: each size's newest
  // slab is mostly unused, and a whole slab's pages each would add up to a large share of a small run's
  // memory. Past this, slabs get all their pages at once, mostly from the filler ahead (pool.cc).
  static constexpr std::size_t stepped_bytes = std::size_t{32} << 20;
  static constexpr std::size_t page_step = std::size_t{1} << 14;

  struct usage {
    std::size_t blocks = 0;          // in use
    std::size_t block_bytes = 0;     // their sizes
    std::size_t slabs = 0;           // holding blocks
    std::size_t resident_empty = 0;  // empty, pages kept
    std::size_t cold_empty = 0;      // empty, pages given back
  };

  constexpr slab_heap() = default;
  slab_heap(const slab_heap&) = delete;
  slab_heap& operator=(const slab_heap&) = delete;
  /// Unmaps the slabs: the blocks must be gone.
  ~slab_heap();

  /// A block of n bytes (n <= max_size) aligned to 8, or nullptr once the address range is used up.
  [[nodiscard]] void* allocate(std::size_t n) {
    const std::size_t c = class_of(n);
    if (slab* s = current_[c]) {
      if (s->free != nullptr) {
        ++s->live;
        return pop(s);
      }
      if (s->fresh + bytes_of(c) <= s->limit) {
        ++s->live;
        return std::exchange(s->fresh, s->fresh + bytes_of(c));
      }
    }
    return allocate_slow(c);
  }
  /// True when p is a block of this heap. Any thread may ask: the test reads only the reserved range,
  /// fixed once the first slab is made, and not the frontier that the owner moves.
  [[nodiscard]] bool owns(const void* p) const {
    const char* c = static_cast<const char*>(p);
    return base_ != nullptr && c >= base_ && c < base_ + reserved_bytes;
  }
  /// Frees a block of this heap from a thread that does not own the heap: the block waits in a list until
  /// the owner takes it back.
  void deallocate_remote(void* p) noexcept {
    void* head = remote_.load(std::memory_order_relaxed);
    do {
      *static_cast<void**>(p) = head;
    } while (!remote_.compare_exchange_weak(head, p, std::memory_order_release, std::memory_order_relaxed));
  }
  /// Frees the blocks that other threads handed back. Owner only.
  void take_back() noexcept;
  /// Reserves the address range, so that any thread may ask `owns` from then on; false when it cannot be.
  bool reserve();
  /// Frees a block of this heap. Owner only.
  void deallocate(void* p) noexcept {
    slab* s = slab_of(p);
    *static_cast<void**>(p) = s->free;
    s->free = p;
    --s->live;
    if (s->st != state::current) settle(s);
  }
  /// Gives the pages of every empty slab back to the system.
  void release_free() noexcept;
  [[nodiscard]] usage current_usage() const;

 private:
  enum class state : std::uint8_t { empty, current, partial, full };  // a zeroed header reads empty
  // The header at the start of each slab; its blocks follow.
  struct slab {
    void* free = nullptr;   // freed blocks, linked through their first word
    char* fresh = nullptr;  // the first byte never handed out
    char* limit = nullptr;  // the end of the pages given memory so far, end_of(slab) at most
    slab* prev = nullptr;   // in its size's list of partly used slabs, or the list of resident empty slabs
    slab* next = nullptr;
    std::uint32_t live = 0;  // blocks in use
    std::uint16_t size_class = 0;
    state st = state::empty;
  };
  // Blocks start on 16 bytes, so that sizes that are multiples of 16 give blocks aligned as operator new
  // must give them.
  static constexpr std::size_t header_bytes = (sizeof(slab) + 15) / 16 * 16;
  static constexpr std::size_t classes = fine_max / grain + (max_size - fine_max) / coarse_grain + 1;

  static constexpr std::size_t class_of(std::size_t n) {
    if (n > fine_max) return fine_max / grain + (n - fine_max + coarse_grain - 1) / coarse_grain;
    return n == 0 ? 1 : (n + grain - 1) / grain;
  }
  // The block size of a class: the largest size that class_of puts in it.
  static constexpr std::size_t bytes_of(std::size_t c) {
    return c <= fine_max / grain ? c * grain : fine_max + (c - fine_max / grain) * coarse_grain;
  }
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
  void settle(slab* s) noexcept;
  void give_back(slab* s) noexcept;
  slab* take_empty();
  slab* fresh_slab();
  // The slab at m, its pages given as its place asks (see stepped_bytes); `filled` when they are already.
  slab* made(char* m, bool filled);
  static void push(slab*& list, slab* s) noexcept;
  static void unlink(slab*& list, slab* s) noexcept;

  slab* current_[classes] = {};
  slab* partial_[classes] = {};
  slab* resident_ = nullptr;  // empty slabs that keep their pages
  std::size_t resident_count_ = 0;
  // Empty slabs whose pages went back, by number, kept aside so that their pages are not touched again.
  // Room is made for every usable slab when a region becomes usable, so that a free never allocates.
  std::uint32_t* cold_ = nullptr;
  std::size_t cold_count_ = 0;
  char* base_ = nullptr;    // the reserved range
  char* next_ = nullptr;    // the first slab never used
  char* usable_ = nullptr;  // the end of the usable part
  bool failed_ = false;     // the range could not be reserved
  std::atomic<void*> remote_{nullptr};  // blocks freed by other threads, linked through their first word
};

namespace detail {
// The program's heap: constant-initialised and never destroyed, since blocks may be freed during static
// destruction.
union holder {
  slab_heap heap;
  constexpr holder() : heap() {}
  ~holder() {}  // NOLINT: never destroys the heap
};
inline constinit holder program_heap;
// The heap lent to one reading thread at a time (see lease).
inline constinit holder reader_heap;
inline constinit std::atomic<bool> reader_heap_lent{false};
// The heap the current thread serves from, when it is not the program's owner.
inline constinit thread_local slab_heap* thread_heap = nullptr;
// The thread that serves from the slabs: the first to allocate, before main.
inline thread_local char thread_marker;
inline constinit const char* owner = nullptr;
inline bool on_owner_thread() {
  const char* me = &thread_marker;
  if (owner == nullptr) owner = me;
  return owner == me;
}
// A block from the general heap, as operator new gives it.
void* heap_allocate(std::size_t n);
}  // namespace detail

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool pooled = false;
#else
inline constexpr bool pooled = true;
#endif

/// A block of n bytes aligned to 8: from the program's slabs when small enough.
[[nodiscard]] inline void* allocate(std::size_t n) {
  if constexpr (!pooled) return ::operator new(n);
  if (n <= slab_heap::max_size) {
    if (detail::on_owner_thread()) {
      if (void* p = detail::program_heap.heap.allocate(n)) return p;
    } else if (slab_heap* h = detail::thread_heap) {
      if (void* p = h->allocate(n)) return p;
    }
  }
  return detail::heap_allocate(n);
}
/// Frees a block that allocate gave (or that operator new gave: they are the same).
inline void deallocate(void* p) noexcept {
  if constexpr (!pooled) {
    ::operator delete(p);
  } else if (detail::program_heap.heap.owns(p)) {
    // A block freed by another thread stays taken: its slab belongs to the owner.
    if (detail::on_owner_thread()) detail::program_heap.heap.deallocate(p);
  } else if (slab_heap& r = detail::reader_heap.heap; r.owns(p)) {
    if (detail::thread_heap == &r)
      r.deallocate(p);
    else
      r.deallocate_remote(p);
  } else {
    std::free(p);
  }
}
inline void deallocate(void* p, std::size_t) noexcept { deallocate(p); }
/// Gives the pages of the program's empty slabs back to the system.
inline void release_free() noexcept { detail::program_heap.heap.release_free(); }
/// The second heap, lent by the thread that starts a reading thread for as long as the lease lives (the
/// reading thread ends first): nothing when it is lent already, as to a reading thread nested in a build.
class lease {
 public:
  lease();
  lease(const lease&) = delete;
  lease& operator=(const lease&) = delete;
  ~lease();
  /// The heap lent, or nullptr.
  [[nodiscard]] slab_heap* heap() const { return heap_; }

 private:
  slab_heap* heap_ = nullptr;
};

/// The calling thread serves its blocks from the lease's heap while this lives (nothing without a heap).
class serve_from {
 public:
  explicit serve_from(const lease& l) noexcept;
  serve_from(const serve_from&) = delete;
  serve_from& operator=(const serve_from&) = delete;
  ~serve_from();
};

/// What the program's slabs hold.
[[nodiscard]] inline slab_heap::usage current_usage() { return detail::program_heap.heap.current_usage(); }

}  // namespace cvn::pool
