#include "base/env.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>

namespace cvn::env {

std::string try_string_of_exn(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const Unbound_module& m) {
    return "Unbound module " + m.module();
  } catch (const Unbound_name& n) {
    return "Unbound name " + base_types::string_of_qname(n.qname());
  }
}

misc::log_fun& log() {
  static misc::log_fun f = misc::create_log_fun("Env", nullptr, "CORVAN_ENV_DEBUG_LEVEL");
  return f;
}

namespace {

void log_system_error(const char* call, int errnum, const std::string& argument) {
  log()([&] { return misc::sprintf_string("%s: %s %s", call, std::strerror(errnum), argument.c_str()); }, 2);
}

}  // namespace

std::optional<std::string> find_module_file_in_dir(const std::string& dir, const std::string& ext,
                                                   const std::string& module) {
  const std::string wanted = misc::lowercase(module) + "." + ext;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    log_system_error("opendir", errno, dir);
    return std::nullopt;
  }
  std::optional<std::string> found;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(d);
    if (entry == nullptr) {
      if (errno != 0) log_system_error("readdir", errno, dir);
      break;
    }
    if (misc::lowercase(entry->d_name) == wanted) {
      const bool has_separator = !dir.empty() && dir.back() == '/';
      found = dir + (has_separator ? "" : "/") + entry->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

std::optional<std::string> find_module_file(const std::string& ext, const std::string& module,
                                            const std::vector<std::string>& dirs) {
  for (const auto& dir : dirs)
    if (auto found = find_module_file_in_dir(dir, ext, module)) return found;
  return std::nullopt;
}

}  // namespace cvn::env
