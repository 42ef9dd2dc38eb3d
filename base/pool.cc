#include "base/pool.h"

#include <sys/mman.h>

#include <utility>

namespace cvn::pool {

slab_heap::~slab_heap() {
  for (const region& r : regions_) ::munmap(r.base, r.bytes);
}

void* slab_heap::allocate_slow(std::size_t c) {
  // The current slab is full: a free into it lists it again. Next come a partly used slab of this size,
  // then an empty one.
  if (slab* s = current_[c]) s->st = state::full;
  current_[c] = nullptr;
  slab* s = partial_[c];
  if (s != nullptr) {
    unlink(partial_[c], s);
  } else {
    s = take_empty();
    s->fresh = reinterpret_cast<char*>(s) + header_bytes;
  }
  s->st = state::current;
  current_[c] = s;
  return allocate(c * grain);
}

void slab_heap::settle(slab* s, std::size_t c) noexcept {
  if (s->st == state::full) {
    s->st = state::partial;
    push(partial_[c], s);
  }
  if (s->live != 0) return;
  unlink(partial_[c], s);
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
  cold_.push_back(s);                        // room was made when the slab's region was mapped
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
  u.cold_empty = cold_.size();
  for (const region& r : regions_) {
    const char* end = &r == &regions_.back() ? region_next_ : r.first + region_bytes;
    for (const char* m = r.first; m != end; m += slab_bytes) {
      const auto* s = reinterpret_cast<const slab*>(m);
      if (s->st == state::empty) continue;
      ++u.slabs;
      u.blocks += s->live;
    }
  }
  return u;
}

slab_heap::slab* slab_heap::take_empty() {
  if (slab* s = resident_) {
    unlink(resident_, s);
    --resident_count_;
    *s = slab{};
    return s;
  }
  if (!cold_.empty()) {
    slab* s = cold_.back();
    cold_.pop_back();
    return ::new (static_cast<void*>(s)) slab{};
  }
  return map_slab();
}

slab_heap::slab* slab_heap::map_slab() {
  if (region_next_ == region_end_) {
    regions_.reserve(regions_.size() + 1);
    cold_.reserve((regions_.size() + 1) * (region_bytes / slab_bytes));
    // One slab more than the region, so that the region can start on a slab boundary.
    const std::size_t bytes = region_bytes + slab_bytes;
    void* m = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) throw std::bad_alloc();
    const std::uintptr_t start =
        (reinterpret_cast<std::uintptr_t>(m) + slab_bytes - 1) & ~(std::uintptr_t{slab_bytes} - 1);
    region_next_ = reinterpret_cast<char*>(start);
    region_end_ = region_next_ + region_bytes;
    regions_.push_back(region{m, bytes, region_next_});
  }
  char* m = std::exchange(region_next_, region_next_ + slab_bytes);
  return ::new (static_cast<void*>(m)) slab{};
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

}  // namespace cvn::pool
