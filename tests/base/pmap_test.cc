#include "base/pmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/patricia.h"
#include "base/plist.h"

namespace {

using cvn::pmap;

template <class M>
std::vector<std::pair<int, int>> contents(const M& m) {
  std::vector<std::pair<int, int>> out;
  m.for_each([&](int k, int v) { out.emplace_back(k, v); });
  return out;
}

std::vector<std::pair<int, int>> contents_of(const std::map<int, int>& m) { return {m.begin(), m.end()}; }

TEST(Pmap, UpdatesLeaveTheOldVersionIntact) {
  const pmap<int, int> a = pmap<int, int>().add(1, 10).add(2, 20);
  const pmap<int, int> b = a.add(2, 21).add(3, 30);
  const pmap<int, int> c = b.remove(1);
  EXPECT_EQ(contents(a), (std::vector<std::pair<int, int>>{{1, 10}, {2, 20}}));
  EXPECT_EQ(contents(b), (std::vector<std::pair<int, int>>{{1, 10}, {2, 21}, {3, 30}}));
  EXPECT_EQ(contents(c), (std::vector<std::pair<int, int>>{{2, 21}, {3, 30}}));
  EXPECT_EQ(a.size(), 2U);
  EXPECT_EQ(c.remove(7).size(), 2U);
  EXPECT_THROW((void)c.get(1), cvn::Not_found);
}

TEST(Pmap, MovedUpdateReusesNodesButNotSharedOnes) {
  pmap<int, int> m;
  for (int i = 0; i < 100; ++i) m = std::move(m).add(i, i);
  const pmap<int, int> kept = m;  // from here on every node is shared with `kept`
  for (int i = 0; i < 100; ++i) m = std::move(m).add(i, -i);
  for (int i = 0; i < 100; i += 2) m = std::move(m).remove(i);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(kept.get(i), i);
  EXPECT_EQ(m.size(), 50U);
  EXPECT_EQ(m.get(1), -1);
  EXPECT_TRUE(kept.invariants_hold());
  EXPECT_TRUE(m.invariants_hold());
}

TEST(Pmap, EquivalentRangeAndDescendingVisit) {
  struct first_only {
    bool operator()(const std::pair<int, int>& a, const std::pair<int, int>& b) const { return a < b; }
    bool operator()(const std::pair<int, int>& a, int b) const { return a.first < b; }
    bool operator()(int a, const std::pair<int, int>& b) const { return a < b.first; }
  };
  pmap<std::pair<int, int>, int, first_only> m;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) m = m.add({i, j}, i * 10 + j);
  std::vector<int> seen;
  m.for_each_equivalent(3, [&](const std::pair<int, int>&, int v) { seen.push_back(v); });
  EXPECT_EQ(seen, (std::vector<int>{30, 31, 32, 33, 34}));
  seen.clear();
  pmap<int, int>().add(1, 1).add(3, 3).add(2, 2).for_each_desc([&](int k, int) { seen.push_back(k); });
  EXPECT_EQ(seen, (std::vector<int>{3, 2, 1}));
}

// Thousands of random operations on a persistent map and on a std::map copied at each step; every version
// kept is compared again at the end, so a node reused while still shared would show.
TEST(Pmap, RandomOperationsAgainstReferenceKeepEveryVersion) {
  std::mt19937 rng(7);
  std::vector<pmap<int, int>> versions{pmap<int, int>()};
  std::vector<std::map<int, int>> expected{{}};
  for (int step = 0; step < 4000; ++step) {
    const std::size_t from = rng() % 4 == 0 ? rng() % versions.size() : versions.size() - 1;
    pmap<int, int> m = versions[from];
    std::map<int, int> e = expected[from];
    // Several updates in a row: after the first one the path is private, so the moved ones reuse it.
    for (int n = static_cast<int>(rng() % 5); n >= 0; --n) {
      const int k = static_cast<int>(rng() % 300);
      const bool moved = rng() % 2 == 0;
      if (rng() % 3 == 0) {
        m = moved ? std::move(m).remove(k) : m.remove(k);
        e.erase(k);
      } else {
        m = moved ? std::move(m).add(k, step) : m.add(k, step);
        e[k] = step;
      }
    }
    ASSERT_EQ(m.size(), e.size());
    versions.push_back(std::move(m));
    expected.push_back(std::move(e));
  }
  for (std::size_t i = 0; i < versions.size(); ++i) {
    ASSERT_EQ(contents(versions[i]), contents_of(expected[i])) << "version " << i;
    ASSERT_TRUE(versions[i].invariants_hold()) << "version " << i;
  }
}

// Ascending, descending and alternating insertions rotate at every depth; heights must stay exact in the
// moved and in the shared (path-copying) updates alike.
TEST(Pmap, SequentialInsertionsStayBalanced) {
  const std::vector<std::function<int(int)>> orders{
      [](int i) { return i; }, [](int i) { return -i; }, [](int i) { return i % 2 == 0 ? i : -i; }};
  for (const auto& key : orders) {
    pmap<int, int> moved, shared;
    std::vector<pmap<int, int>> kept;
    for (int i = 0; i < 3000; ++i) {
      moved = std::move(moved).add(key(i), i);
      kept.push_back(shared);
      shared = shared.update(key(i), [i](int& v) { v = i; });
    }
    ASSERT_TRUE(moved.invariants_hold());
    ASSERT_TRUE(shared.invariants_hold());
    EXPECT_EQ(contents(moved), contents(shared));
    EXPECT_EQ(kept[1500].size(), 1500U);
    EXPECT_TRUE(kept[1500].invariants_hold());
  }
}

TEST(Patricia, RandomOperationsAgainstReferenceKeepEveryVersion) {
  std::mt19937_64 rng(11);
  std::vector<cvn::patricia<int>> versions{cvn::patricia<int>()};
  std::vector<std::map<std::uint64_t, int>> expected{{}};
  for (int step = 0; step < 4000; ++step) {
    const std::size_t from = rng() % 4 == 0 ? rng() % versions.size() : versions.size() - 1;
    cvn::patricia<int> t = versions[from];
    std::map<std::uint64_t, int> e = expected[from];
    // Small keys and a few huge ones, so that branches form on high bits as well.
    for (int n = static_cast<int>(rng() % 5); n >= 0; --n) {
      const std::uint64_t k = rng() % 8 == 0 ? rng() : rng() % 500;
      const auto op = rng() % 4;
      if (op == 0) {
        t = std::move(t).remove(k);
        e.erase(k);
      } else if (op == 1) {
        t = std::move(t).update(k, [](int& v) { v += 7; });
        e[k] += 7;
      } else {
        t = std::move(t).add(k, step);
        e[k] = step;
      }
    }
    versions.push_back(std::move(t));
    expected.push_back(std::move(e));
  }
  for (std::size_t i = 0; i < versions.size(); ++i) {
    std::map<std::uint64_t, int> got;
    std::vector<std::uint64_t> order;
    versions[i].for_each([&](std::uint64_t k, int v) {
      got[k] = v;
      order.push_back(k);
    });
    ASSERT_EQ(got, expected[i]) << "version " << i;
    // The visiting order is descending bit-reversed order, whatever the shape of the trie.
    const auto reversed = [](std::uint64_t k) {
      std::uint64_t r = 0;
      for (int b = 0; b < 64; ++b) r |= ((k >> b) & 1) << (63 - b);
      return r;
    };
    ASSERT_TRUE(std::is_sorted(order.begin(), order.end(),
                               [&](std::uint64_t x, std::uint64_t y) { return reversed(x) > reversed(y); }))
        << "version " << i;
    ASSERT_EQ(versions[i].size(), expected[i].size());
    for (const auto& [k, v] : expected[i]) ASSERT_EQ(versions[i].get(k), v);
  }
}

// Branches grow by reallocation as children arrive and shrink as they leave: every older version, sharing
// the nodes being outgrown, must keep its own children.
TEST(Patricia, GrowingAndShrinkingBranchesLeaveOlderVersionsIntact) {
  std::vector<cvn::patricia<std::uint64_t>> versions{cvn::patricia<std::uint64_t>()};
  std::vector<std::uint64_t> keys;
  for (std::uint64_t k = 0; k < 300; ++k) keys.push_back((k * 37) % 300);  // every digit, out of order
  for (std::uint64_t k : keys) versions.push_back(versions.back().add(k, k * 10));
  cvn::patricia<std::uint64_t> t = versions.back();
  for (std::size_t i = 0; i < keys.size(); i += 2) {
    t = std::move(t).remove(keys[i]);
    if (i % 20 == 0) versions.push_back(t);
  }
  for (std::size_t v = 0; v <= keys.size(); ++v) {
    ASSERT_EQ(versions[v].size(), v);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::uint64_t* found = versions[v].find(keys[i]);
      ASSERT_EQ(found != nullptr, i < v) << "version " << v << " key " << keys[i];
      if (found != nullptr) {
        ASSERT_EQ(*found, keys[i] * 10);
      }
    }
  }
  for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(t.contains(keys[i]), i % 2 == 1) << keys[i];
  EXPECT_EQ(t.size(), keys.size() / 2);
}

TEST(Plist, LongListIsDestroyedWithoutDeepRecursion) {
  cvn::plist<int> l;
  for (int i = 0; i < 2000000; ++i) l = std::move(l).cons(i);
  const cvn::plist<int> shared = l.cons(-1);
  EXPECT_EQ(shared.size(), 2000001U);
  l = cvn::plist<int>();
  EXPECT_EQ(*shared.find_first([](int x) { return x == 1999999; }), 1999999);
}

}  // namespace
