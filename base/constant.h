#pragma once
// File-name extensions of the system's languages.

namespace cvn::constant {

inline constexpr const char* algo_ext = "alg";
inline constexpr const char* arch_ext = "arc";
inline constexpr const char* opn_dur_ext = "fd";
inline constexpr const char* com_dur_ext = "cd";
inline constexpr const char* constraints_ext = "cts";
inline constexpr const char* cvn_ext = "cvn";

}  // namespace cvn::constant
