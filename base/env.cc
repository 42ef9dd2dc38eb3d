#include "base/env.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_map>
#include <utility>

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

// What tells one state of a directory from another: adding, removing or renaming an entry sets its
// modification and change times to the present.
struct dir_stamp {
  dev_t dev;
  ino_t ino;
  timespec mtime;
  timespec ctime;
};

bool same_time(const timespec& x, const timespec& y) { return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec; }

bool operator==(const dir_stamp& x, const dir_stamp& y) {
  return x.dev == y.dev && x.ino == y.ino && same_time(x.mtime, y.mtime) && same_time(x.ctime, y.ctime);
}

dir_stamp stamp_of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim}; }

// Whether a listing begun at `listed_at` of a directory modified at `modified` may be kept. File times
// advance by clock ticks (a few milliseconds; whole seconds, or two, on some file systems): a change made
// in the same tick as the last one would leave the stamp as it was, so only a directory left alone for
// longer than a tick before the listing is known to show a later change.
bool settled(const timespec& modified, const timespec& listed_at) {
  const std::int64_t tick_ns = modified.tv_nsec == 0 ? 2'000'000'000 : 20'000'000;
  const auto ns = [](const timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; };
  return ns(modified) + tick_ns < ns(listed_at);
}

// A directory's entries by lower-cased name, each giving the spelling of the first entry of that name in
// the reading order.
using dir_index = std::unordered_map<std::string, std::string>;

struct listing {
  dir_index first_entry;
  int read_error = 0;  // the errno of a listing cut short: its index holds the entries read before
};

listing list_dir(DIR* d) {
  listing out;
  std::string key;  // reused, so that lower-casing a name allocates nothing
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(d);
    if (entry == nullptr) {
      out.read_error = errno;
      return out;
    }
    key.assign(entry->d_name);
    for (char& c : key) c = misc::latin1_lower(c);
    out.first_entry.try_emplace(key, entry->d_name);
  }
}

// Loading N modules from one directory would read it N times over: each directory's index is kept while
// its stamp is unchanged. Modules are looked for on the building thread; the lock keeps the cache sound
// should a reading thread ever look for one.
struct dir_cache {
  std::mutex m;
  std::unordered_map<std::string, std::pair<dir_stamp, dir_index>> by_path;
};

dir_cache& cache() {
  static dir_cache c;
  return c;
}

}  // namespace

std::optional<std::string> find_module_file_in_dir(const std::string& dir, const std::string& ext,
                                                   const std::string& module) {
  const std::string wanted = misc::lowercase(module) + "." + ext;
  const auto path_of = [&](const std::string& entry) {
    const bool has_separator = !dir.empty() && dir.back() == '/';
    return dir + (has_separator ? "" : "/") + entry;
  };
  const auto in = [&](const dir_index& index) -> std::optional<std::string> {
    const auto it = index.find(wanted);
    if (it == index.end()) return std::nullopt;
    return path_of(it->second);
  };
  dir_cache& c = cache();
  const std::lock_guard<std::mutex> lock(c.m);
  if (const auto kept = c.by_path.find(dir); kept != c.by_path.end()) {
    struct stat now{};
    if (stat(dir.c_str(), &now) == 0 && kept->second.first == stamp_of(now)) return in(kept->second.second);
    c.by_path.erase(kept);
  }

  timespec listed_at{};
  clock_gettime(CLOCK_REALTIME, &listed_at);
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    log_system_error("opendir", errno, dir);
    return std::nullopt;
  }
  // The stamp is taken before the entries are read: a change made while they are read shows as a new stamp.
  struct stat st{};
  const bool stamped = fstat(dirfd(d), &st) == 0;
  listing l = list_dir(d);
  closedir(d);
  auto found = in(l.first_entry);
  if (l.read_error != 0) {
    // The entries read before the failure are those a search would have gone through before meeting it.
    if (!found) log_system_error("readdir", l.read_error, dir);
    return found;
  }
  if (stamped && settled(st.st_mtim, listed_at))
    c.by_path.emplace(dir, std::make_pair(stamp_of(st), std::move(l.first_entry)));
  return found;
}

std::optional<std::string> find_module_file(const std::string& ext, const std::string& module,
                                            const std::vector<std::string>& dirs) {
  for (const auto& dir : dirs)
    if (auto found = find_module_file_in_dir(dir, ext, module)) return found;
  return std::nullopt;
}

}  // namespace cvn::env
