#include "base/radix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using cvn::radix_map;
using bindings = std::vector<std::pair<std::uint64_t, std::string>>;

bindings contents(const radix_map<std::string>& m) {
  bindings out;
  m.for_each([&](std::uint64_t k, const std::string& v) { out.emplace_back(k, v); });
  return out;
}

bindings contents(const std::map<std::uint64_t, std::string>& m) { return {m.begin(), m.end()}; }

TEST(RadixMap, GrowsForLargeKeysAndVisitsInAscendingOrder) {
  radix_map<std::string> m;
  EXPECT_EQ(m.find(0), nullptr);
  EXPECT_THROW((void)m.get(3), cvn::Not_found);
  for (std::uint64_t k : {5ULL, 0ULL, 17ULL, 16ULL, 4096ULL, 1ULL << 40, ~0ULL, 15ULL})
    m = std::move(m).add(k, std::to_string(k));
  EXPECT_EQ(m.size(), 8U);
  EXPECT_EQ(contents(m), (bindings{{0, "0"},
                                   {5, "5"},
                                   {15, "15"},
                                   {16, "16"},
                                   {17, "17"},
                                   {4096, "4096"},
                                   {1ULL << 40, std::to_string(1ULL << 40)},
                                   {~0ULL, std::to_string(~0ULL)}}));
  EXPECT_EQ(m.get(~0ULL), std::to_string(~0ULL));
  EXPECT_FALSE(m.contains(4095));
  EXPECT_FALSE(m.contains(1ULL << 41));
  // Removing everything leaves an empty map that still takes keys.
  for (std::uint64_t k : {5ULL, 0ULL, 17ULL, 16ULL, 4096ULL, 1ULL << 40, ~0ULL, 15ULL}) m = std::move(m).remove(k);
  EXPECT_TRUE(m.empty());
  EXPECT_TRUE(contents(m).empty());
  m = std::move(m).add(3, "3");
  EXPECT_EQ(contents(m), (bindings{{3, "3"}}));
}

TEST(RadixMap, UpdateStartsFromADefaultValueAndStopsEarlyVisits) {
  radix_map<std::string> m;
  m = std::move(m).update(7, [](std::string& v) { v += "a"; });
  m = std::move(m).update(7, [](std::string& v) { v += "b"; });
  const radix_map<std::string> kept = m;
  m = std::move(m).update(7, [](std::string& v) { v += "c"; });
  EXPECT_EQ(kept.get(7), "ab");
  EXPECT_EQ(m.get(7), "abc");
  m = std::move(m).add(2, "x").add(9, "y");
  std::vector<std::uint64_t> seen;
  EXPECT_TRUE(m.for_each_until([&](std::uint64_t k, const std::string&) {
    seen.push_back(k);
    return k == 7;
  }));
  EXPECT_EQ(seen, (std::vector<std::uint64_t>{2, 7}));
  EXPECT_EQ(m.remove(100).size(), 3U);
}

// Random adds, updates and removals against std::map, on moved and shared versions alike; every version
// kept along the way must still read as it did when it was made.
TEST(RadixMap, RandomOperationsMatchAReferenceMapForEveryVersionKept) {
  std::mt19937_64 rnd(7);
  radix_map<std::string> m;
  std::map<std::uint64_t, std::string> ref;
  std::vector<std::pair<radix_map<std::string>, std::map<std::uint64_t, std::string>>> kept;
  for (int step = 0; step < 6000; ++step) {
    // Mostly dense keys, as identifiers are, with now and then a far one.
    const std::uint64_t k = rnd() % 10 == 0 ? rnd() % 100000 : rnd() % 600;
    const std::string v = std::to_string(step);
    const bool shared = rnd() % 4 == 0;
    switch (rnd() % 4) {
      case 0:
      case 1:
        m = shared ? m.add(k, v) : std::move(m).add(k, v);
        ref[k] = v;
        break;
      case 2:
        m = shared ? m.update(k, [&](std::string& x) { x += v; }) : std::move(m).update(k, [&](std::string& x) { x += v; });
        ref[k] += v;
        break;
      default:
        m = shared ? m.remove(k) : std::move(m).remove(k);
        ref.erase(k);
        break;
    }
    ASSERT_EQ(m.size(), ref.size());
    if (step % 150 == 0) kept.emplace_back(m, ref);
  }
  kept.emplace_back(m, ref);
  for (const auto& [version, expected] : kept) {
    EXPECT_EQ(contents(version), contents(expected));
    for (std::uint64_t k = 0; k < 700; ++k) {
      const auto it = expected.find(k);
      const std::string* found = version.find(k);
      ASSERT_EQ(found != nullptr, it != expected.end()) << k;
      if (found != nullptr) {
        EXPECT_EQ(*found, it->second);
      }
    }
  }
}

}  // namespace
