#pragma once
// Build configuration.

namespace cvn::config {

/// The version printed by --version.
inline constexpr const char* version = "alpha-000";

}  // namespace cvn::config
