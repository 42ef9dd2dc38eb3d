#include "base/checks.h"

#include <iostream>

namespace cvn::checks {
namespace {

void default_warning(const std::string& message) {
  std::cerr << "Warning: " << message << '\n';
  std::cerr.flush();
}

warning_fun& current_printer() {
  static warning_fun printer = default_warning;
  return printer;
}

}  // namespace

void set_print_warning_fun(warning_fun printer) { current_printer() = std::move(printer); }

void print_warning(const std::string& message) { current_printer()(message); }

}  // namespace cvn::checks
