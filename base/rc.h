#pragma once
// Reference-counted nodes for the persistent containers.
//
// The program is single-threaded, so counts are plain integers kept in the node itself: no atomic
// operations and no separate control block. Nodes come from the slabs of base/pool.h, packed without the
// general heap's per-block header. (A single free list per node size was tried before and lost: after a
// large structure is freed it hands blocks out in scattered order. Slabs keep reuse within 64 KB.)
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "base/pool.h"

namespace cvn::rc {

/// Destroys a node of exactly type T and frees it.
template <class T>
struct plain_dispose {
  void operator()(T* p) const noexcept {
    p->~T();
    pool::deallocate(static_cast<void*>(p), sizeof(T));
  }
};

/// A new node of type T with a count of one. T has a `refs` member.
template <class T, class... A>
[[nodiscard]] T* create(A&&... args) {
  static_assert(alignof(T) <= pool::slab_heap::grain);
  void* m = pool::allocate(sizeof(T));
  try {
    T* p = ::new (m) T{std::forward<A>(args)...};
    p->refs = 1;
    return p;
  } catch (...) {
    pool::deallocate(m, sizeof(T));
    throw;
  }
}

/// A shared reference to a node that counts its own references (member `refs`, starting at 1).
template <class T, class Dispose = plain_dispose<T>>
class ptr {
 public:
  ptr() = default;
  ptr(std::nullptr_t) {}  // NOLINT: converts like a pointer
  /// Adopts a node whose count already accounts for this reference.
  explicit ptr(T* p) : p_(p) {}
  ptr(const ptr& o) noexcept : p_(o.p_) {
    if (p_ != nullptr) ++p_->refs;
  }
  ptr(ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ptr& operator=(ptr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ptr() {
    if (p_ != nullptr && --p_->refs == 0) Dispose{}(p_);
  }

  [[nodiscard]] T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  /// True when this is the only reference to the node.
  [[nodiscard]] bool unique() const { return p_->refs == 1; }

 private:
  T* p_ = nullptr;
};

}  // namespace cvn::rc
