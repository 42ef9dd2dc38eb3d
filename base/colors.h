#pragma once
// Colour names of the graph drawings, as the dot language spells them.

namespace cvn::colors {

inline constexpr const char* cornsilk = "cornsilk";
inline constexpr const char* white = "white";
inline constexpr const char* turquoise = "turquoise";
inline constexpr const char* skyblue3 = "skyblue3";
inline constexpr const char* slateblue1 = "slateblue1";
inline constexpr const char* pink = "pink";
inline constexpr const char* deeppink = "deeppink";
inline constexpr const char* deeppink2 = "deeppink2";
inline constexpr const char* red = "red";
inline constexpr const char* black = "black";
inline constexpr const char* blue = "blue";
inline constexpr const char* green = "green";
inline constexpr const char* grey = "grey";
inline constexpr const char* palegreen = "palegreen";
inline constexpr const char* palevioletred = "palevioletred";
inline constexpr const char* orange = "orange";
inline constexpr const char* yellow = "yellow";
inline constexpr const char* crimson = "crimson";
inline constexpr const char* brown = "brown";
inline constexpr const char* azure2 = "azure2";

/// Colours of the flat graph's operation kinds, first kind first.
inline constexpr const char* kind_colors[] = {cornsilk, white, turquoise, skyblue3, slateblue1, pink, deeppink, red};

}  // namespace cvn::colors
