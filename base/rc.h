#pragma once
// Reference-counted nodes for the persistent containers.
//
// The program is single-threaded, so counts are plain integers kept in the node itself (no atomic
// operations, no separate control block), and nodes of one size come from a free list carved out of large
// slabs: allocating and freeing a node is a few instructions, and nodes built together sit together in
// memory. Under AddressSanitizer every node is a heap block of its own, so misuse is still caught.
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace cvn::rc {

#if defined(__SANITIZE_ADDRESS__)
#define CVN_RC_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CVN_RC_PLAIN_HEAP 1
#endif
#endif

/// Blocks of one size and alignment. Freed blocks are kept for reuse, never given back.
template <std::size_t Size, std::size_t Align>
class pool {
  static_assert(Align <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
  struct free_block {
    free_block* next;
  };
  static constexpr std::size_t stride =
      ((Size < sizeof(free_block) ? sizeof(free_block) : Size) + Align - 1) / Align * Align;
  static constexpr std::size_t header = (sizeof(void*) + Align - 1) / Align * Align;
  static constexpr std::size_t per_slab = stride <= 256 ? 1024 : 64;

 public:
  static void* allocate() {
#ifdef CVN_RC_PLAIN_HEAP
    return ::operator new(Size);
#else
    if (free_ != nullptr) return std::exchange(free_, free_->next);
    if (left_ == 0) {
      // Each slab starts with a link to the previous one, so that every slab stays reachable.
      char* slab = static_cast<char*>(::operator new(header + per_slab * stride));
      *reinterpret_cast<char**>(slab) = slabs_;
      slabs_ = slab;
      next_ = slab + header;
      left_ = per_slab;
    }
    --left_;
    return std::exchange(next_, next_ + stride);
#endif
  }
  static void deallocate(void* p) noexcept {
#ifdef CVN_RC_PLAIN_HEAP
    ::operator delete(p);
#else
    free_ = ::new (p) free_block{free_};
#endif
  }

 private:
  static inline free_block* free_ = nullptr;
  static inline char* slabs_ = nullptr;
  static inline char* next_ = nullptr;
  static inline std::size_t left_ = 0;
};

/// Destroys a node of exactly type T and returns its block to T's pool.
template <class T>
struct plain_dispose {
  void operator()(T* p) const noexcept {
    p->~T();
    pool<sizeof(T), alignof(T)>::deallocate(p);
  }
};

/// A new node of type T from T's pool, with a count of one. T has a `refs` member.
template <class T, class... A>
[[nodiscard]] T* create(A&&... args) {
  void* m = pool<sizeof(T), alignof(T)>::allocate();
  try {
    T* p = ::new (m) T{std::forward<A>(args)...};
    p->refs = 1;
    return p;
  } catch (...) {
    pool<sizeof(T), alignof(T)>::deallocate(m);
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
