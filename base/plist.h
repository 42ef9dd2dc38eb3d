#pragma once
// Persistent singly linked list: consing shares the whole tail.
//
// Lists of a million bindings occur (module environments), so the destructor unlinks iteratively instead of
// letting each node destroy its tail recursively.
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace cvn {

template <class T>
class plist {
  struct node {
    T head;
    std::shared_ptr<node> tail;
  };

 public:
  plist() = default;
  plist(const plist&) = default;
  plist(plist&& other) noexcept : first_(std::move(other.first_)), size_(std::exchange(other.size_, 0)) {}
  plist& operator=(plist other) noexcept {
    release(first_);
    first_ = std::move(other.first_);
    size_ = std::exchange(other.size_, 0);
    return *this;
  }
  ~plist() { release(first_); }

  /// The list with x in front.
  [[nodiscard]] plist cons(T x) const& { return plist(*this).cons(std::move(x)); }
  [[nodiscard]] plist cons(T x) && {
    first_ = std::make_shared<node>(node{std::move(x), std::move(first_)});
    ++size_;
    return std::move(*this);
  }

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  /// The first element, or nullptr for the empty list. It stays in place while any list holding it lives.
  [[nodiscard]] const T* front() const { return first_ ? &first_->head : nullptr; }

  /// Visits the elements from the front.
  template <class F>
  void for_each(F&& f) const {
    for (const node* p = first_.get(); p != nullptr; p = p->tail.get()) f(p->head);
  }
  /// The first element from the front that satisfies p, or nullptr.
  template <class P>
  [[nodiscard]] const T* find_first(P&& p) const {
    for (const node* n = first_.get(); n != nullptr; n = n->tail.get())
      if (p(n->head)) return &n->head;
    return nullptr;
  }
  /// The elements from the front.
  [[nodiscard]] std::vector<T> to_vector() const {
    std::vector<T> out;
    out.reserve(size_);
    for_each([&](const T& x) { out.push_back(x); });
    return out;
  }

 private:
  static void release(std::shared_ptr<node>& p) {
    while (p && p.use_count() == 1) {
      std::shared_ptr<node> next = std::move(p->tail);
      p = std::move(next);
    }
    p.reset();
  }

  std::shared_ptr<node> first_;
  std::size_t size_ = 0;
};

}  // namespace cvn
