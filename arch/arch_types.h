#pragma once
// The architecture model's data.
#include <variant>

namespace cvn::arch_types {

// Bus kinds of a medium type.
/// Point-to-point link: at most 2 gates.
struct SAMPP {
  bool operator==(const SAMPP&) const = default;
};
/// Shared memory.
struct RAM {
  bool operator==(const RAM&) const = default;
};
/// Multipoint bus, with or without broadcast.
struct SAMMP {
  bool broadcast = false;
  bool operator==(const SAMMP&) const = default;
};

/// Bus kind of a medium type, in the model's order.
using bus_kind = std::variant<SAMPP, RAM, SAMMP>;

}  // namespace cvn::arch_types
