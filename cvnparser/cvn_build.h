#pragma once
// What the grammar's actions build, kept out of the generated parser so that tests can call it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/loc.h"
#include "cvnparser/cvn_types.h"

namespace cvn::cvn_build {

/// `Lib_name` with the library's first character upper-cased (ISO 8859-1); the name is kept as written.
[[nodiscard]] cvn_types::cvn_name lib_name(std::string_view lib, std::string name);

/// A floating-point literal of an expression as an integer, truncated toward zero. Throws loc::Problem at
/// `where` when the value has no integer (not finite or beyond the signed 63-bit range).
[[nodiscard]] std::int64_t int_of_float(double value, const loc::location& where);

/// Puts the item at the end of the list of its kind.
void add_item(cvn_types::cvn_file& file, cvn_types::cvn_item&& item);

/// A backslash not followed by a name: an empty name in front of the path read so far.
void add_empty_member(std::vector<std::string>& path);

/// Stops parsing on a construct that the grammar recognises but the converter refuses. Throws loc::Problem
/// "Unsupported construct: %s" at `where`.
[[noreturn]] void reject(const loc::location& where, std::string_view construct);

}  // namespace cvn::cvn_build
