#include "base/pool.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>

namespace cvn::pool {

namespace {
// A slab without memory behind it is about to be filled: its pages in one call cost less than a fault
// each. A kernel without the call leaves the faults to come, as before.
void prefault([[maybe_unused]] void* start, [[maybe_unused]] std::size_t bytes = slab_heap::slab_bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
  (void)::madvise(start, bytes, MADV_POPULATE_WRITE);
#endif
}

// Gives the pages ahead of the program heap's frontier their memory from a thread of its own, so that the
// kernel's work for fresh pages (a tenth of a large conversion, and more where the machine backs guest
// memory lazily) runs beside the program instead of in it. The slabs the heap takes are then mostly filled
// already; a slab the filler has not reached yet is filled by the heap itself, as without it.
//
// It is built in static storage and never destroyed, and started with the thread library's own call: the
// heap asks for it from inside an allocation, where neither operator new nor an exit-time destructor may
// run.
class filler {
 public:
  // Not beyond what the program will soon use: the pages filled ahead count in its memory.
  static constexpr std::size_t ahead_bytes = std::size_t{2} << 20;
  static constexpr std::size_t step_bytes = ahead_bytes / 2;

  // The program heap's filler, started on first use; nullptr when no thread could be started.
  static filler* get() {
#ifndef MADV_POPULATE_WRITE
    return nullptr;  // nothing to do ahead: pages come as they are touched
#endif
    alignas(filler) static unsigned char storage[sizeof(filler)];
    static filler* const f = start(::new (static_cast<void*>(storage)) filler);
    return f;
  }
  // The heap hands out memory up to `frontier` and may use up to `end`: fill from the frontier on, up to
  // ahead_bytes past it and not beyond `end`. True when the slab ending at the frontier is filled already.
  bool advance(char* frontier, char* end) {
    const bool filled = done_.load(std::memory_order_acquire) >= frontier;
    char* const want = std::min(frontier + ahead_bytes, end);
    bool wake = false;
    {
      const std::lock_guard<std::mutex> hold(m_);
      frontier_ = frontier;
      // The target moves by steps while the filler keeps ahead: a wake-up is a system call.
      if (want > target_ && (!filled || target_ == nullptr || static_cast<std::size_t>(want - target_) >= step_bytes)) {
        target_ = want;
        wake = waiting_;
      }
    }
    if (wake) wake_.notify_one();
    return filled;
  }

 private:
  static filler* start(filler* f) {
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0) return nullptr;
    (void)::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    (void)::pthread_attr_setstacksize(&attr, std::size_t{1} << 16);
    // Signals stay the program's: the thread starts with all of them blocked.
    sigset_t all, before;
    (void)::sigfillset(&all);
    (void)::pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_t t;
    const bool started = ::pthread_create(&t, &attr, &filler::main, f) == 0;
    (void)::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    (void)::pthread_attr_destroy(&attr);
    return started ? f : nullptr;
  }
  static void* main(void* self) {
    static_cast<filler*>(self)->run();
    return nullptr;
  }
  [[noreturn]] void run() {
    std::unique_lock<std::mutex> hold(m_);
    for (;;) {
      waiting_ = true;
      wake_.wait(hold, [&] { return std::max(done_.load(std::memory_order_relaxed), frontier_) < target_; });
      waiting_ = false;
      // Nothing behind the heap's frontier: the heap fills those slabs itself.
      char* from = std::max(done_.load(std::memory_order_relaxed), frontier_);
      char* const to = target_;
      hold.unlock();
      for (; from < to; from += slab_heap::slab_bytes) {
        prefault(from);
        done_.store(from + slab_heap::slab_bytes, std::memory_order_release);
      }
      hold.lock();
    }
  }

  std::mutex m_;
  std::condition_variable wake_;
  char* frontier_ = nullptr;  // under m_
  char* target_ = nullptr;    // under m_
  bool waiting_ = false;      // under m_
  std::atomic<char*> done_{nullptr};  // filled up to here, from the frontier the filler last started at
};
}  // namespace

slab_heap::~slab_heap() {
  if (base_ != nullptr) ::munmap(base_, reserved_bytes);
  std::free(cold_);
}

void* slab_heap::allocate_slow(std::size_t c) {
  // Blocks freed by other threads first: they may be of this size.
  if (remote_.load(std::memory_order_relaxed) != nullptr) {
    take_back();
    if (slab* s = current_[c]; s != nullptr && s->free != nullptr) return allocate(bytes_of(c));
  }
  // The current slab's next pages, when it gets them a step at a time.
  if (slab* s = current_[c]; s != nullptr && s->limit < end_of(s)) {
    char* const from = s->limit;
    s->limit = std::min(from + page_step, end_of(s));
    prefault(from, static_cast<std::size_t>(s->limit - from));
    return allocate(bytes_of(c));
  }
  // The current slab is full: a free into it lists it again. Next come a partly used slab of this size,
  // then an empty one.
  if (slab* s = current_[c]) s->st = state::full;
  current_[c] = nullptr;
  slab* s = partial_[c];
  if (s != nullptr) {
    unlink(partial_[c], s);
  } else {
    s = take_empty();
    if (s == nullptr) return nullptr;
    s->fresh = reinterpret_cast<char*>(s) + header_bytes;
    s->size_class = static_cast<std::uint16_t>(c);
  }
  s->st = state::current;
  current_[c] = s;
  return allocate(bytes_of(c));
}

void slab_heap::settle(slab* s) noexcept {
  if (s->st == state::full) {
    s->st = state::partial;
    push(partial_[s->size_class], s);
  }
  if (s->live != 0) return;
  unlink(partial_[s->size_class], s);
  if (resident_count_ < reserve_slabs) {
    s->st = state::empty;
    push(resident_, s);
    ++resident_count_;
    return;
  }
  give_back(s);
}

void slab_heap::give_back(slab* s) noexcept {
  ::madvise(s, slab_bytes, MADV_DONTNEED);  // the header reads as an empty slab's from now on
  cold_[cold_count_++] = static_cast<std::uint32_t>((reinterpret_cast<char*>(s) - base_) / slab_bytes);
}

void slab_heap::release_free() noexcept {
  while (slab* s = resident_) {
    unlink(resident_, s);
    give_back(s);
  }
  resident_count_ = 0;
}

slab_heap::usage slab_heap::current_usage() const {
  usage u;
  u.resident_empty = resident_count_;
  u.cold_empty = cold_count_;
  for (const char* m = base_; m != next_; m += slab_bytes) {
    const auto* s = reinterpret_cast<const slab*>(m);
    if (s->st == state::empty) continue;
    ++u.slabs;
    u.blocks += s->live;
    u.block_bytes += std::size_t{s->live} * bytes_of(s->size_class);
  }
  return u;
}

slab_heap::slab* slab_heap::take_empty() {
  if (slab* s = resident_) {
    unlink(resident_, s);
    --resident_count_;
    *s = slab{};
    s->limit = end_of(s);  // pages kept; any never touched come as they are
    return s;
  }
  if (cold_count_ != 0) {
    return made(base_ + std::size_t{cold_[--cold_count_]} * slab_bytes, false);
  }
  return fresh_slab();
}

slab_heap::slab* slab_heap::made(char* m, bool filled) {
  // Pages given now: none when filled already, or in the first region, whose pages come as they are touched
  // (a small heap would otherwise pay for every size class's first pages); a first step up to
  // stepped_bytes; else the whole slab.
  std::size_t given = slab_bytes;
  if (!filled && m >= base_ + region_bytes) {
    if (m < base_ + stepped_bytes) given = page_step;
    prefault(m, given);
  }
  slab* s = ::new (static_cast<void*>(m)) slab{};
  s->limit = m + given;
  return s;
}

void slab_heap::take_back() noexcept {
  void* p = remote_.exchange(nullptr, std::memory_order_acquire);
  while (p != nullptr) {
    void* next = *static_cast<void**>(p);
    deallocate(p);
    p = next;
  }
}

bool slab_heap::reserve() {
  if (base_ != nullptr) return true;
  if (failed_) return false;
  // Reserved without memory behind it; a slab more, so that the range can start on a slab boundary.
  void* m = ::mmap(nullptr, reserved_bytes + slab_bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (m == MAP_FAILED) {
    failed_ = true;
    return false;
  }
  base_ = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(m) + slab_bytes - 1) &
                                  ~(std::uintptr_t{slab_bytes} - 1));
  next_ = usable_ = base_;
  return true;
}

slab_heap::slab* slab_heap::fresh_slab() {
  if (next_ == usable_) {
    if (!reserve()) return nullptr;
    if (usable_ == base_ + reserved_bytes) return nullptr;
    const std::size_t slabs = (usable_ - base_ + region_bytes) / slab_bytes;
    auto* room = static_cast<std::uint32_t*>(std::realloc(cold_, slabs * sizeof(std::uint32_t)));
    if (room == nullptr) return nullptr;
    cold_ = room;
    if (::mprotect(usable_, region_bytes, PROT_READ | PROT_WRITE) != 0) return nullptr;
    usable_ += region_bytes;
  }
  char* m = std::exchange(next_, next_ + slab_bytes);
  // Past the stepped slabs, the filler runs ahead of the frontier.
  bool filled = false;
  if (m >= base_ + stepped_bytes)
    if (filler* f = this == &detail::program_heap.heap ? filler::get() : nullptr) filled = f->advance(next_, usable_);
  return made(m, filled);
}

void slab_heap::push(slab*& list, slab* s) noexcept {
  s->prev = nullptr;
  s->next = list;
  if (list != nullptr) list->prev = s;
  list = s;
}

void slab_heap::unlink(slab*& list, slab* s) noexcept {
  if (s->prev != nullptr)
    s->prev->next = s->next;
  else
    list = s->next;
  if (s->next != nullptr) s->next->prev = s->prev;
  s->prev = s->next = nullptr;
}

lease::lease() {
  if constexpr (!pooled) return;
  if (detail::reader_heap_lent.exchange(true, std::memory_order_acquire)) return;
  // Reserved here, before the reading thread starts, so that every thread reads one fixed range in `owns`.
  if (!detail::reader_heap.heap.reserve()) {
    detail::reader_heap_lent.store(false, std::memory_order_release);
    return;
  }
  heap_ = &detail::reader_heap.heap;
}

lease::~lease() {
  if (heap_ != nullptr) detail::reader_heap_lent.store(false, std::memory_order_release);
}

serve_from::serve_from(const lease& l) noexcept {
  detail::thread_heap = l.heap();
  // What was freed since the last reader, first.
  if (detail::thread_heap != nullptr) detail::thread_heap->take_back();
}

serve_from::~serve_from() { detail::thread_heap = nullptr; }

void* detail::heap_allocate(std::size_t n) {
  for (;;) {
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    std::new_handler h = std::get_new_handler();
    if (h == nullptr) throw std::bad_alloc();
    h();
  }
}

}  // namespace cvn::pool

#if !defined(__SANITIZE_ADDRESS__)
namespace {
// Operator new owes any object of its size the fundamental alignment (16): sizes past 8 are served in
// steps of 16, whose blocks all start on 16 bytes. The containers' nodes, which need 8, keep steps of 8.
void* new_block(std::size_t n) { return cvn::pool::allocate(n <= 8 ? n : (n + 15) & ~std::size_t{15}); }
}  // namespace

// The global operator new and delete serve from the slabs (aligned forms keep the library's own).
void* operator new(std::size_t n) { return new_block(n); }
void* operator new[](std::size_t n) { return new_block(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return new_block(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return new_block(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { cvn::pool::deallocate(p); }
void operator delete[](void* p) noexcept { cvn::pool::deallocate(p); }
void operator delete(void* p, std::size_t) noexcept { cvn::pool::deallocate(p); }
void operator delete[](void* p, std::size_t) noexcept { cvn::pool::deallocate(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { cvn::pool::deallocate(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { cvn::pool::deallocate(p); }
#endif
