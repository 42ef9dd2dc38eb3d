#include "base/env.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <string>

namespace {

using namespace cvn::env;
using cvn::base_types::qname;
using cvn::base_types::qualified_name;
using cvn::base_types::simple_name;

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (...) {
    return try_string_of_exn(std::current_exception());
  }
  return "no failure";
}

TEST(Env, LookupTakesTheNewestBinding) {
  const Env<int> e = Env<int>::empty().add("a", 1).add("b", 2).add("a", 3);
  EXPECT_EQ(e.lookup(simple_name{"a"}), 3);
  EXPECT_EQ(e.lookup(simple_name{"b"}), 2);
  // The sequence keeps every binding, newest first.
  EXPECT_EQ(e.current().to_vector(), (std::vector<std::pair<std::string, int>>{{"a", 3}, {"b", 2}, {"a", 1}}));
  EXPECT_EQ(message_of([&] { (void)e.lookup(simple_name{"c"}); }), "Unbound name c");
}

TEST(Env, PackedModules) {
  const Env<int> before = Env<int>::empty().add("n", 1).add("m", 2);
  const Env<int> e = before.pack("M").add("n", 5);
  EXPECT_EQ(e.lookup(qualified_name{"M", "n"}), 1);
  EXPECT_EQ(e.lookup(simple_name{"n"}), 5);
  EXPECT_THROW((void)e.clear_current().lookup(simple_name{"n"}), Unbound_name);
  EXPECT_EQ(message_of([&] { (void)e.lookup(qualified_name{"X", "n"}); }), "Unbound module X");
  EXPECT_EQ(message_of([&] { (void)e.lookup(qualified_name{"M", "z"}); }), "Unbound name M.z");
  // A module packed twice: the newest packing wins; qualified names never look in current.
  const Env<int> twice = e.pack("M");
  EXPECT_EQ(twice.lookup(qualified_name{"M", "n"}), 5);
  EXPECT_THROW((void)twice.lookup(qualified_name{"M", "m"}), Unbound_name);
  EXPECT_EQ(twice.mods().size(), 2U);
  EXPECT_EQ(twice.mods().to_vector().front().first, "M");
  const Env<int> restored = twice.set_current(before.current());
  EXPECT_EQ(restored.lookup(simple_name{"m"}), 2);
  EXPECT_EQ(restored.mods().size(), 2U);
  // The unknown module is reported before the name is looked at.
  try {
    (void)Env<int>::empty().lookup(qualified_name{"Lib", "P"});
    FAIL();
  } catch (const Unbound_module& m) {
    EXPECT_EQ(m.printed(), "Env.Unbound_module(\"Lib\")");
  }
  try {
    (void)Env<int>::empty().lookup(simple_name{"o_q"});
    FAIL();
  } catch (const Unbound_name& n) {
    EXPECT_EQ(n.printed(), "Env.Unbound_name(\"o_q\")");
  }
  // Other failures pass through unchanged.
  EXPECT_THROW((void)try_string_of_exn(std::make_exception_ptr(cvn::Failure("x"))), cvn::Failure);
}

std::string name_of(int k) {
  std::string s = std::to_string(k);
  s.insert(s.begin(), 'n');
  return s;
}

// Random bindings over names n0 to n<names - 1>, each added to the newest version or, now and then, to an older
// one; every kept version then answers found(version, name) as a plain map of its bindings would (nullptr:
// unbound).
template <class Store, class Found>
void check_random_bindings(std::uint32_t seed, int names, const Found& found) {
  std::mt19937 rng(seed);
  std::vector<Store> versions{Store{}};
  std::vector<std::map<std::string, int>> expected{{}};
  for (int step = 0; step < 3000; ++step) {
    const std::size_t from = rng() % 5 == 0 ? rng() % versions.size() : versions.size() - 1;
    const std::string name = name_of(static_cast<int>(rng() % static_cast<unsigned>(names)));
    std::map<std::string, int> e = expected[from];
    e[name] = step;
    versions.push_back(versions[from].add(name, step));
    expected.push_back(std::move(e));
  }
  for (std::size_t i = 0; i < versions.size(); i += 11)
    for (int k = 0; k < names; ++k) {
      const std::string name = name_of(k);
      auto it = expected[i].find(name);
      const int* got = found(versions[i], name);
      if (it == expected[i].end())
        ASSERT_EQ(got, nullptr) << name;
      else
        ASSERT_TRUE(got != nullptr && *got == it->second) << name;
    }
}

TEST(Env, RandomBindingsAgainstReference) {
  check_random_bindings<Env<int>>(9, 200, [](const Env<int>& e, const std::string& name) -> const int* {
    try {
      return &e.lookup(simple_name{name});
    } catch (const Unbound_name&) {
      return nullptr;
    }
  });
}

// Names that share a hash: the index keeps the newest of them, the others are found all the same.
struct few_hashes {
  std::size_t operator()(const std::string& s) const { return s.size() % 3; }
};

TEST(Env, BindingsWhoseNamesShareAHash) {
  using store = bindings<int, few_hashes>;
  check_random_bindings<store>(4, 100, [](const store& b, const std::string& name) { return b.find(name); });
}

class ModuleFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/cvn_env_XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  void touch(const std::string& name) { std::ofstream(dir_ + "/" + name) << ""; }
  // Dates the directory an hour back, as one left alone since: its listing may then be kept between calls.
  static void settle(const std::string& dir) {
    timespec times[2];
    ASSERT_EQ(clock_gettime(CLOCK_REALTIME, &times[0]), 0);
    times[0].tv_sec -= 3600;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, dir.c_str(), times, 0), 0);
  }
  std::string dir_;
};

TEST_F(ModuleFiles, CaseInsensitiveMatchWithTheEntrySpelling) {
  touch("MYLIB.ARC");
  touch("other.alg");
  EXPECT_EQ(find_module_file_in_dir(dir_, "arc", "MyLib"), dir_ + "/MYLIB.ARC");
  EXPECT_EQ(find_module_file_in_dir(dir_ + "/", "arc", "mylib"), dir_ + "/MYLIB.ARC");
  EXPECT_EQ(find_module_file_in_dir(dir_, "alg", "MyLib"), std::nullopt);
  EXPECT_EQ(find_module_file_in_dir(dir_, "alg", "Other"), dir_ + "/other.alg");
}

TEST_F(ModuleFiles, FirstMatchingEntryInReadingOrder) {
  for (const char* name : {"Lib.alg", "LIB.ALG", "lib.alg", "lIb.Alg", "lib.arc"}) touch(name);
  std::string first;
  DIR* d = opendir(dir_.c_str());
  ASSERT_NE(d, nullptr);
  while (const dirent* e = readdir(d))
    if (cvn::misc::lowercase(e->d_name) == "lib.alg") {
      first = e->d_name;
      break;
    }
  closedir(d);
  EXPECT_EQ(find_module_file_in_dir(dir_, "alg", "LIB"), dir_ + "/" + first);
  settle(dir_);
  for (int call = 0; call < 2; ++call) EXPECT_EQ(find_module_file_in_dir(dir_, "alg", "lib"), dir_ + "/" + first);
}

// Each call answers from the directory as it is then, also when a listing of it was kept.
TEST_F(ModuleFiles, ChangesBetweenCallsAreSeen) {
  const std::string lib = dir_ + "/lib";
  ASSERT_EQ(mkdir(lib.c_str(), 0700), 0);
  const auto found = [&](const std::string& module) { return find_module_file_in_dir(lib, "alg", module); };
  const auto in_lib = [&](const std::string& name) { return std::optional<std::string>(lib + "/" + name); };
  // Two reads of the directory dated back: the second may be answered from a kept listing.
  const auto settled_then = [&](const std::string& module, const std::optional<std::string>& expected) {
    settle(lib);
    EXPECT_EQ(found(module), expected);
    EXPECT_EQ(found(module), expected);
  };
  std::ofstream(lib + "/a.alg") << "";
  settled_then("B", std::nullopt);
  std::ofstream(lib + "/B.alg") << "";
  EXPECT_EQ(found("b"), in_lib("B.alg"));

  settled_then("A", in_lib("a.alg"));
  ASSERT_EQ(std::rename((lib + "/a.alg").c_str(), (lib + "/C.ALG").c_str()), 0);
  EXPECT_EQ(found("A"), std::nullopt);
  EXPECT_EQ(found("c"), in_lib("C.ALG"));

  settled_then("b", in_lib("B.alg"));
  ASSERT_EQ(std::remove((lib + "/B.alg").c_str()), 0);
  EXPECT_EQ(found("b"), std::nullopt);

  // Another directory put in place under the same name.
  settled_then("c", in_lib("C.ALG"));
  ASSERT_EQ(std::rename(lib.c_str(), (dir_ + "/old").c_str()), 0);
  ASSERT_EQ(mkdir(lib.c_str(), 0700), 0);
  std::ofstream(lib + "/c.alg") << "";
  settle(lib);
  EXPECT_EQ(found("C"), in_lib("c.alg"));

  // A change after which the directory's dates are put back, as archive tools do: its change time tells.
  timespec dates[2];
  ASSERT_EQ(clock_gettime(CLOCK_REALTIME, &dates[0]), 0);
  dates[0].tv_sec -= 3600;
  dates[1] = dates[0];
  ASSERT_EQ(utimensat(AT_FDCWD, lib.c_str(), dates, 0), 0);
  EXPECT_EQ(found("d"), std::nullopt);
  std::ofstream(lib + "/d.alg") << "";
  ASSERT_EQ(utimensat(AT_FDCWD, lib.c_str(), dates, 0), 0);
  EXPECT_EQ(found("d"), in_lib("d.alg"));
}

TEST_F(ModuleFiles, SearchAlongDirectories) {
  const std::string first = dir_ + "/a", second = dir_ + "/b";
  ASSERT_EQ(mkdir(first.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(second.c_str(), 0700), 0);
  std::ofstream(second + "/lib.alg") << "";
  EXPECT_EQ(find_module_file("alg", "Lib", {dir_ + "/missing", first, second}), second + "/lib.alg");
  std::ofstream(first + "/LIB.alg") << "";
  EXPECT_EQ(find_module_file("alg", "Lib", {first, second}), first + "/LIB.alg");
  EXPECT_EQ(find_module_file("alg", "None", {first, second}), std::nullopt);
}

TEST_F(ModuleFiles, UnreadableDirectoryGivesNothingAndALevelTwoMessage) {
  const std::string missing = dir_ + "/missing";
  const int level = log().level();
  log().set_level(1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(find_module_file_in_dir(missing, "arc", "M"), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  log().set_level(2);
  testing::internal::CaptureStderr();
  EXPECT_EQ(find_module_file_in_dir(missing, "arc", "M"), std::nullopt);
  EXPECT_EQ(find_module_file_in_dir(dir_, "arc", "M"), std::nullopt) << "read to its end: nothing to report";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Env] opendir: No such file or directory " + missing);
  // A directory read, then removed: gone as well, reported on every call.
  const std::string gone = dir_ + "/gone";
  ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
  std::ofstream(gone + "/m.arc") << "";
  settle(gone);
  EXPECT_EQ(find_module_file_in_dir(gone, "arc", "M"), gone + "/m.arc");
  ASSERT_EQ(std::remove((gone + "/m.arc").c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(find_module_file_in_dir(gone, "arc", "M"), std::nullopt);
  EXPECT_EQ(find_module_file_in_dir(gone, "arc", "M"), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Env] opendir: No such file or directory " + gone +
                                                        "[Env] opendir: No such file or directory " + gone);
  log().set_level(level);
}

}  // namespace
