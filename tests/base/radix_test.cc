#include "base/radix.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
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
  seen.clear();
  EXPECT_FALSE(m.for_each_desc_until([&](std::uint64_t k, const std::string&) {
    seen.push_back(k);
    return k == 100;
  }));
  EXPECT_EQ(seen, (std::vector<std::uint64_t>{9, 7, 2}));
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

// Values that count their live copies, so that a block that loses, leaks or destroys twice a value shows.
// The small one sits in blocks; the large one keeps a leaf per value.
template <bool Large>
struct counted {
  static inline long live = 0;
  std::string text;
  [[no_unique_address]] std::conditional_t<Large, std::array<char, 64>, std::tuple<>> pad{};
  counted() { ++live; }
  counted(std::string t) : text(std::move(t)) { ++live; }  // NOLINT: converts like the string
  counted(const counted& o) : text(o.text) { ++live; }
  counted(counted&& o) noexcept : text(std::move(o.text)) { ++live; }
  counted& operator=(const counted&) = default;
  counted& operator=(counted&&) noexcept = default;
  ~counted() { --live; }
};
using small_value = counted<false>;
using large_value = counted<true>;
static_assert(sizeof(small_value) <= 32 && sizeof(large_value) > 32);

template <class V>
class RadixLayouts : public ::testing::Test {};
using layouts = ::testing::Types<small_value, large_value>;
TYPED_TEST_SUITE(RadixLayouts, layouts);

template <class V>
std::map<std::uint64_t, std::string> texts(const radix_map<V>& m) {
  std::map<std::uint64_t, std::string> out;
  m.for_each([&](std::uint64_t k, const V& v) { out.emplace(k, v.text); });
  return out;
}

// A full block shared by two versions, then written through each of them: adds, updates and removals
// reach one version only; removals down to one value and then none leave valid tries.
TYPED_TEST(RadixLayouts, SharedBlocksWrittenFromEitherSide) {
  using V = TypeParam;
  {
    radix_map<V> a;
    std::map<std::uint64_t, std::string> ref;
    for (std::uint64_t k = 0; k < 48; k += k == 20 ? 2 : 1) {
      a = std::move(a).add(k, V(std::to_string(k)));
      ref[k] = std::to_string(k);
    }
    const radix_map<V> kept = a;
    radix_map<V> b = a.add(21, V("new")).update(5, [](V& v) { v.text += "!"; }).remove(40);
    b = std::move(b).update(22, [](V& v) { v.text += "?"; });
    EXPECT_EQ(texts(kept), ref);
    EXPECT_EQ(texts(a), ref);
    EXPECT_EQ(b.get(21).text, "new");
    EXPECT_EQ(b.get(5).text, "5!");
    EXPECT_EQ(b.get(22).text, "22?");
    EXPECT_FALSE(b.contains(40));
    EXPECT_EQ(b.size(), a.size());
    EXPECT_TRUE(b.invariants_hold());
    // Empty the block 16..31 of b one key at a time, from the shared and the private side in turn; a
    // copy taken at every step must keep reading as it did.
    std::vector<std::pair<radix_map<V>, std::map<std::uint64_t, std::string>>> steps;
    std::map<std::uint64_t, std::string> bref = texts(b);
    for (std::uint64_t k = 31; k + 1 > 16; --k) {
      steps.emplace_back(b, bref);
      b = k % 2 == 0 ? b.remove(k) : std::move(b).remove(k);
      bref.erase(k);
      ASSERT_TRUE(b.invariants_hold()) << k;
      ASSERT_EQ(texts(b), bref) << k;
    }
    for (const auto& [version, expected] : steps) {
      EXPECT_TRUE(version.invariants_hold());
      EXPECT_EQ(texts(version), expected);
    }
    EXPECT_EQ(texts(kept), ref);
    EXPECT_EQ(texts(a), ref);
  }
  EXPECT_EQ(V::live, 0);
}

// Keys on either side of a block edge, at both ends of the word and around its middle (where the graph
// puts zero), added and removed in an order that makes and undoes blocks and the branches above them.
TYPED_TEST(RadixLayouts, KeysAtBlockEdges) {
  using V = TypeParam;
  {
    const std::uint64_t top = ~std::uint64_t{0};
    const std::uint64_t mid = std::uint64_t{1} << 63;
    const std::vector<std::uint64_t> keys{15, 16, 0, top, top - 15, top - 16, mid, mid - 1, 31, 1, top - 1, mid + 15,
                                          mid + 16, 32, 17, 14};
    radix_map<V> m;
    std::map<std::uint64_t, std::string> ref;
    std::vector<radix_map<V>> versions;
    for (std::uint64_t k : keys) {
      m = std::move(m).add(k, V(std::to_string(k)));
      ref[k] = std::to_string(k);
      versions.push_back(m);
      ASSERT_TRUE(m.invariants_hold()) << k;
    }
    EXPECT_EQ(texts(m), ref);
    std::vector<std::uint64_t> desc;
    m.for_each_desc([&](std::uint64_t k, const V&) { desc.push_back(k); });
    std::vector<std::uint64_t> asc;
    for (const auto& [k, v] : ref) asc.push_back(k);
    EXPECT_EQ(desc, std::vector<std::uint64_t>(asc.rbegin(), asc.rend()));
    for (std::uint64_t k : std::vector<std::uint64_t>{2, 30, top - 2, top - 14, mid - 2, mid + 1, mid + 14})
      EXPECT_FALSE(m.contains(k)) << k;
    for (std::size_t i = keys.size(); i-- > 0;) {
      m = i % 3 == 0 ? m.remove(keys[i]) : std::move(m).remove(keys[i]);
      ref.erase(keys[i]);
      ASSERT_TRUE(m.invariants_hold()) << keys[i];
      ASSERT_EQ(texts(m), ref) << keys[i];
    }
    EXPECT_TRUE(m.empty());
    EXPECT_EQ(versions.back().size(), keys.size());
    EXPECT_EQ(versions.front().get(15).text, "15");
  }
  EXPECT_EQ(V::live, 0);
}

// Random operations on dense keys, each applied to a random earlier version, against std::map; live
// values balance once every version is gone.
TYPED_TEST(RadixLayouts, RandomDenseOperationsOnEveryVersion) {
  using V = TypeParam;
  {
    std::mt19937_64 rnd(11);
    std::vector<radix_map<V>> versions{radix_map<V>{}};
    std::vector<std::map<std::uint64_t, std::string>> expected{{}};
    for (int step = 0; step < 3000; ++step) {
      const std::size_t from = rnd() % 3 == 0 ? rnd() % versions.size() : versions.size() - 1;
      radix_map<V> t = versions[from];
      std::map<std::uint64_t, std::string> e = expected[from];
      const std::uint64_t k = rnd() % 200;
      const std::string v = std::to_string(step);
      switch (rnd() % 5) {
        case 0:
        case 1:
          t = std::move(t).remove(k);
          e.erase(k);
          break;
        case 2:
          t = std::move(t).update(k, [&](V& x) { x.text += v; });
          e[k] += v;
          break;
        case 3:
          t = t.add(k, V(v));
          e[k] = v;
          break;
        default:
          t = std::move(t).add(k, V(v));
          e[k] = v;
      }
      versions.push_back(std::move(t));
      expected.push_back(std::move(e));
    }
    for (std::size_t i = 0; i < versions.size(); ++i) {
      ASSERT_TRUE(versions[i].invariants_hold()) << i;
      ASSERT_EQ(versions[i].size(), expected[i].size()) << i;
      ASSERT_EQ(texts(versions[i]), expected[i]) << i;
    }
  }
  EXPECT_EQ(V::live, 0);
}

}  // namespace
