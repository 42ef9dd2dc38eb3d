#include "base/twdict.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

namespace {

using D = cvn::twdict::Make<std::string, int, double>;

TEST(Twdict, BothSidesAndDescendingLists) {
  const D d = D::empty().add("a", 1, 1.0).add("a", 3, 3.0).add("b", 1, 5.0).add("a", 1, 2.0);
  EXPECT_EQ(d.find("a", 1), 2.0);
  EXPECT_THROW((void)d.find("a", 2), cvn::Not_found);
  EXPECT_THROW((void)d.find("z", 1), cvn::Not_found);
  EXPECT_EQ(d.a_find_list("a"), (std::vector<std::pair<int, double>>{{3, 3.0}, {1, 2.0}}));
  EXPECT_EQ(d.b_find_list(1), (std::vector<std::pair<std::string, double>>{{"b", 5.0}, {"a", 2.0}}));
  EXPECT_TRUE(d.a_find_list("none").empty());
  const D r = d.remove("a", 1);
  EXPECT_EQ(r.b_find_list(1), (std::vector<std::pair<std::string, double>>{{"b", 5.0}}));
  EXPECT_EQ(d.b_find_list(1).size(), 2U);
  EXPECT_TRUE(d.a_remove("a").b_find_list(3).empty());
  EXPECT_TRUE(d.b_remove(1).a_find_list("b").empty());
  EXPECT_EQ(d.b_remove(1).a_find_list("a"), (std::vector<std::pair<int, double>>{{3, 3.0}}));
}

TEST(Twdict, Groups) {
  const D d = D::empty().add("a", 1, 7.0).add("a", 2, 8.0).add("a", 3, 7.0).add("b", 2, 7.0);
  const auto ga = d.group_a();
  ASSERT_EQ(ga.size(), 3U);
  EXPECT_EQ(ga[0].key, "b");
  EXPECT_EQ(ga[0].others, (std::vector<int>{2}));
  EXPECT_EQ(ga[1].key, "a");
  EXPECT_EQ(ga[1].value, 7.0);
  EXPECT_EQ(ga[1].others, (std::vector<int>{3, 1}));
  EXPECT_EQ(ga[2].value, 8.0);
  const auto gb = d.group_b();
  // Second key 2 holds two values: one group each, the first group from its greatest first key.
  ASSERT_EQ(gb.size(), 4U);
  EXPECT_EQ(gb[0].key, 3);
  EXPECT_EQ(gb[1].key, 2);
  EXPECT_EQ(gb[1].others, (std::vector<std::string>{"b"}));
  EXPECT_EQ(gb[2].key, 2);
  EXPECT_EQ(gb[2].others, (std::vector<std::string>{"a"}));
  EXPECT_EQ(gb[3].key, 1);
}

// Both halves must always describe the same entries as the reference.
TEST(Twdict, RandomOperationsAgainstReferenceKeepEveryVersion) {
  using I = cvn::twdict::Make<int, int, int>;
  std::mt19937 rng(13);
  std::vector<I> versions{I::empty()};
  std::vector<std::map<std::pair<int, int>, int>> expected{{}};
  for (int step = 0; step < 3000; ++step) {
    const std::size_t from = rng() % 5 == 0 ? rng() % versions.size() : versions.size() - 1;
    I d = versions[from];
    auto e = expected[from];
    const int a = static_cast<int>(rng() % 12), b = static_cast<int>(rng() % 12);
    switch (rng() % 6) {
      case 0:
        d = d.remove(a, b);
        e.erase({a, b});
        break;
      case 1:
        d = d.a_remove(a);
        std::erase_if(e, [&](const auto& x) { return x.first.first == a; });
        break;
      case 2:
        d = d.b_remove(b);
        std::erase_if(e, [&](const auto& x) { return x.first.second == b; });
        break;
      default:
        d = d.add(a, b, step);
        e[{a, b}] = step;
    }
    versions.push_back(d);
    expected.push_back(e);
  }
  for (std::size_t i = 0; i < versions.size(); ++i) {
    const auto entries = versions[i].entries();
    using ref = std::map<std::pair<int, int>, int>;
    ASSERT_EQ(ref(entries.begin(), entries.end()), expected[i]);
    std::map<std::pair<int, int>, int> from_b;
    for (int b = 0; b < 12; ++b)
      for (const auto& [a, v] : versions[i].b_find_list(b)) from_b[{a, b}] = v;
    ASSERT_EQ(from_b, expected[i]) << "version " << i;
  }
}

}  // namespace
