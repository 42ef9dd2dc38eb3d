#include "cvnparser/cvn_build.h"

#include <sys/mman.h>

#include <cmath>

#include "base/misc.h"

namespace cvn::cvn_build {

cvn_types::cvn_name lib_name(std::string_view lib, std::string_view name) {
  return cvn_types::Lib_name{misc::capitalize(lib), name};
}

std::int64_t int_of_float(double value, const loc::location& where) {
  // Integers are signed 63-bit values; anything outside would silently wrap or be undefined.
  constexpr double limit = 4611686018427387904.0;  // 2^62
  const double t = std::trunc(value);
  if (!(t >= -limit && t < limit)) loc::raise_problem(where, "Floating-point number out of the integer range");
  return static_cast<std::int64_t>(t);
}

void* map_block(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}

void unmap_block(void* p, std::size_t bytes) noexcept { ::munmap(p, bytes); }

cvn_types::cvn_file builder::finish() {
  cvn_types::cvn_file file;
  file.cvn_algos = algos.take(0);
  file.cvn_archs = archs.take(0);
  file.cvn_durations = durations.take(0);
  file.cvn_groups = groups.take(0);
  file.cvn_constraints = constraints.take(0);
  return file;
}

text empty_text() {
  // The size (zero) stands just before the text, as in an arena.
  static constexpr char bytes[sizeof(std::size_t) + 1] = {};
  return {bytes + sizeof(std::size_t)};
}

void text_arena::grow(std::size_t n) {
  chunk c{nullptr, std::max(n, chunk_size)};
  if (c.size == chunk_size && spare_.bytes) {
    c = std::move(spare_);
    spare_ = chunk{nullptr, 0};
  } else {
    c.bytes = std::make_unique_for_overwrite<char[]>(c.size);
    held_ += c.size;
  }
  next_ = c.bytes.get();
  left_ = c.size;
  chunks_.push_back(std::move(c));
}

void text_arena::release() {
  if (chunks_.size() < 2) return;
  chunk last = std::move(chunks_.back());
  chunks_.pop_back();
  for (auto& c : chunks_) {
    if (c.size == chunk_size && !spare_.bytes) {
      spare_ = std::move(c);
    } else {
      held_ -= c.size;
    }
  }
  chunks_.clear();
  chunks_.push_back(std::move(last));
}

arch_types::bus_kind bus_kind_of(media_kind k) {
  switch (k) {
    case media_kind::SAMPP: return arch_types::SAMPP{};
    case media_kind::SAMMP: return arch_types::SAMMP{false};
    case media_kind::RAM: break;
  }
  return arch_types::RAM{};
}

void reject(const loc::location& where, std::string_view construct) {
  loc::raise_problem(where, "Unsupported construct: " + std::string(construct));
}

}  // namespace cvn::cvn_build
