#include "base/tmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace cvn::tmap;

// The three backends, and the process table on each of them, behind one typed suite.
template <class T>
class TmapTest : public ::testing::Test {};

template <backend B>
struct on_table {
  template <class V>
  static table<V> create(const V& filler) {
    return table<V>::create_on(B, filler);
  }
};
struct on_map {
  template <class V>
  static map_table<V> create(const V& filler) {
    return map_table<V>::create(filler);
  }
};
struct on_array {
  template <class V>
  static array_table<V> create(const V& filler) {
    return array_table<V>::create(filler);
  }
};
struct on_patricia {
  template <class V>
  static patricia_table<V> create(const V& filler) {
    return patricia_table<V>::create(filler);
  }
};

using backends = ::testing::Types<on_map, on_array, on_patricia, on_table<backend::map>,
                                  on_table<backend::array>, on_table<backend::patricia>>;
TYPED_TEST_SUITE(TmapTest, backends);

template <class T>
std::vector<std::int64_t> visit_order(const T& t) {
  std::vector<std::int64_t> out;
  t.iter([&](auto id, const auto&) { out.push_back(int_of(id)); });
  return out;
}

// The Patricia order: descending bit-reversed identifier.
std::vector<std::int64_t> patricia_order(std::vector<std::int64_t> ids) {
  std::sort(ids.begin(), ids.end(), [](std::int64_t a, std::int64_t b) {
    return bit_reverse(static_cast<std::uint64_t>(a)) > bit_reverse(static_cast<std::uint64_t>(b));
  });
  return ids;
}

TYPED_TEST(TmapTest, IdentifiersStartAtOneAndAreNeverReused) {
  auto t0 = TypeParam::create(std::string("filler"));
  auto [i1, t1] = t0.add("a");
  auto [i2, t2] = t1.add("b");
  auto [i3, t3] = t2.add("c");
  EXPECT_EQ(int_of(i1), 1);
  EXPECT_EQ(int_of(i2), 2);
  EXPECT_EQ(int_of(i3), 3);
  auto t4 = t3.remove(i2);
  auto [i4, t5] = t4.add("d");
  EXPECT_EQ(int_of(i4), 4);
  // An older version shares the counter.
  auto [i5, older] = t1.add("e");
  EXPECT_EQ(int_of(i5), 5);
  EXPECT_EQ(older.card(), 2U);
  EXPECT_FALSE(older.mem(i2));
  EXPECT_EQ(older.get(i5), "e");
  // Removed identifiers are not found; the versions before the removal still have them.
  EXPECT_THROW((void)t4.get(i2), cvn::Not_found);
  EXPECT_THROW((void)t5.get(i2), cvn::Not_found);
  EXPECT_EQ(t3.get(i2), "b");
  EXPECT_EQ(t5.card(), 3U);
  EXPECT_THROW((void)t0.get(i1), cvn::Not_found);
  // A new table has a counter of its own.
  auto [j1, other] = TypeParam::create(std::string()).add("x");
  EXPECT_EQ(int_of(j1), 1);
  EXPECT_EQ(other.card(), 1U);
}

TYPED_TEST(TmapTest, VisitsInPatriciaOrder) {
  auto t = TypeParam::create(0);
  for (int i = 1; i <= 5; ++i) t = t.add(i * 10).second;
  EXPECT_EQ(visit_order(t), (std::vector<std::int64_t>{3, 5, 1, 2, 4}));
  // A list built by putting each visited identifier in front, as the models do.
  const auto listed = t.fold(
      [](auto id, int, std::vector<std::int64_t> acc) {
        acc.insert(acc.begin(), int_of(id));
        return acc;
      },
      std::vector<std::int64_t>{});
  EXPECT_EQ(listed, (std::vector<std::int64_t>{4, 2, 1, 5, 3}));
  EXPECT_EQ(int_of(t.find([](int v) { return v == 10 || v == 50; })), 5);
  EXPECT_THROW((void)t.find([](int v) { return v > 50; }), cvn::Not_found);
  auto modified = t.modify(typename decltype(t)::id{3}, 99);
  EXPECT_EQ(modified.get(typename decltype(t)::id{3}), 99);
  EXPECT_EQ(t.get(typename decltype(t)::id{3}), 30);
  EXPECT_EQ(visit_order(modified), visit_order(t));
}

// Random adds, removes and modifications over thousands of steps (enough identifiers to span several array
// chunks), each version checked against a std::map copy, in contents and in visiting order.
TYPED_TEST(TmapTest, RandomOperationsAgainstReferenceKeepEveryVersion) {
  std::mt19937 rng(3);
  using T = decltype(TypeParam::create(0));
  std::vector<T> versions{TypeParam::create(-1)};
  std::vector<std::map<std::int64_t, int>> expected{{}};
  std::int64_t last_id = 0;
  for (int step = 0; step < 3000; ++step) {
    const std::size_t from = rng() % 5 == 0 ? rng() % versions.size() : versions.size() - 1;
    T t = versions[from];
    std::map<std::int64_t, int> e = expected[from];
    for (int n = static_cast<int>(rng() % 3); n >= 0; --n) {
      const int op = static_cast<int>(rng() % 4);
      if (op <= 1 || e.empty()) {
        auto [id, next] = std::move(t).add(step);
        ASSERT_EQ(int_of(id), ++last_id);
        t = std::move(next);
        e[int_of(id)] = step;
      } else {
        auto it = e.begin();
        std::advance(it, static_cast<std::ptrdiff_t>(rng() % e.size()));
        const typename T::id id{it->first};
        if (op == 2) {
          t = std::move(t).remove(id);
          e.erase(it);
        } else {
          t = std::move(t).modify(id, -step);
          it->second = -step;
        }
      }
    }
    versions.push_back(std::move(t));
    expected.push_back(std::move(e));
  }
  for (std::size_t i = 0; i < versions.size(); i += 7) {
    const auto& t = versions[i];
    std::vector<std::int64_t> ids;
    for (const auto& [k, v] : expected[i]) {
      ASSERT_EQ(t.get(typename T::id{k}), v);
      ids.push_back(k);
    }
    ASSERT_EQ(t.card(), expected[i].size());
    ASSERT_EQ(visit_order(t), patricia_order(ids)) << "version " << i;
    // The unordered visit, by lookups over the identifiers handed out or by the ordered one, sees every entry
    // once, whichever the version holds of the shared counter's range.
    std::map<std::int64_t, int> seen;
    t.iter_unordered([&](auto id, int v) { EXPECT_TRUE(seen.emplace(int_of(id), v).second) << int_of(id); });
    ASSERT_EQ(seen, expected[i]) << "version " << i;
  }
}

TYPED_TEST(TmapTest, UnorderedVisitOfADenseTableGoesByIdentifier) {
  auto t = TypeParam::create(0);
  for (int i = 1; i <= 300; ++i) t = std::move(t).add(i).second;
  t = std::move(t).remove(typename decltype(t)::id{7});
  std::vector<std::int64_t> ids;
  t.iter_unordered([&](auto id, int v) {
    EXPECT_EQ(v, int_of(id));
    ids.push_back(int_of(id));
  });
  ASSERT_EQ(ids.size(), 299U);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 7), 0);
}

// Past a few thousand identifiers the Patricia table prefetches the paths of the next ones; the hint must
// read safely whatever the trie holds (absent keys, removed ones, a lone leaf) and change nothing.
TEST(Tmap, PatriciaPrefetchChangesNothing) {
  cvn::patricia<int> p;
  for (unsigned level = 0; level < 17; ++level) p.prefetch(5, level);
  p = std::move(p).add(7, 1);
  for (unsigned level = 0; level < 17; ++level) p.prefetch(level * 37, level);
  auto t = patricia_table<int>::create(0);
  std::vector<patricia_table<int>> kept;
  for (int i = 1; i <= 70000; ++i) {
    auto [k, next] = std::move(t).add(i);
    ASSERT_EQ(k.value, i);
    t = std::move(next);
    if (i % 3 == 0) t = std::move(t).remove(ident<int>{i - 1});
    if (i % 10000 == 0) kept.push_back(t);
  }
  EXPECT_EQ(t.card(), 70000U - 70000U / 3);
  for (int i = 1; i <= 70000; ++i) ASSERT_EQ(t.mem(ident<int>{i}), i % 3 != 2) << i;
  for (std::size_t v = 0; v < kept.size(); ++v) {
    const int last = static_cast<int>(v + 1) * 10000;
    EXPECT_EQ(kept[v].card(), static_cast<std::size_t>(last - last / 3));
    EXPECT_EQ(kept[v].get(ident<int>{last}), last);
  }
}

TEST(Tmap, CompareKeyIsTheIntegerOrder) {
  using id = ident<int>;
  EXPECT_LT(compare_key(id{2}, id{3}), 0);
  EXPECT_GT(compare_key(id{4}, id{3}), 0);
  EXPECT_EQ(compare_key(id{3}, id{3}), 0);
  EXPECT_EQ(bit_reverse(1), std::uint64_t{1} << 63);
}

}  // namespace
