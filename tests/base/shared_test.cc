#include "base/shared.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cvn::shared::string;

TEST(Shared, StringReadsAsTheTextItHolds) {
  const string empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.get(), "");
  EXPECT_TRUE(string("").empty()) << "an empty text holds no node";

  const string s = std::string("port");
  const std::string& as_text = s;  // the conversion the record fields rely on
  EXPECT_EQ(as_text, "port");
  EXPECT_EQ(s.size(), 4U);
  EXPECT_EQ(std::string(s.c_str()), "port");
  EXPECT_EQ("p_" + s + "[" + s + "]", "p_port[port]");
  std::ostringstream out;
  out << s;
  EXPECT_EQ(out.str(), "port");
}

TEST(Shared, CopiesShareAndComparisonsGoByValue) {
  const string a = std::string("int");
  const string copy = a;  // NOLINT: the copy is the point
  EXPECT_TRUE(copy.same(a));
  EXPECT_EQ(&copy.get(), &a.get()) << "a copy reads the same text, not a copy of it";
  const string other = std::string("int");
  EXPECT_FALSE(other.same(a));
  EXPECT_EQ(other, a);
  EXPECT_EQ(a, "int");
  EXPECT_EQ(std::string("int"), a);
  EXPECT_NE(a, string());
  EXPECT_LT(a, std::string("j"));
  // Ordered like the text: a map keyed by shared strings sorts as one keyed by strings.
  std::map<string, int> m{{string("b"), 1}, {string("a"), 2}, {string(), 3}};
  std::vector<std::string> keys;
  for (const auto& [k, v] : m) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "a", "b"}));
}

TEST(Shared, ValueOutlivesTheRecordItCameFrom) {
  string kept;
  {
    const string first = std::string(100, 'x');  // past any in-place storage
    kept = first;
  }
  EXPECT_EQ(kept.get(), std::string(100, 'x'));

  cvn::shared::value<std::vector<int>> list = std::vector<int>{1, 2, 3};
  const auto copy = list;
  list = std::vector<int>{};
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(copy, (std::vector<int>{1, 2, 3}));
  int sum = 0;
  for (int x : copy) sum += x;
  EXPECT_EQ(sum, 6);
}

TEST(Shared, OptionalKeepsPresenceApartFromTheValue) {
  cvn::shared::optional<std::vector<int>> none;
  EXPECT_FALSE(none);
  EXPECT_EQ(static_cast<std::optional<std::vector<int>>>(none), std::nullopt);
  // An empty value is present: absence is not emptiness.
  const cvn::shared::optional<std::vector<int>> empty_list = std::vector<int>{};
  ASSERT_TRUE(empty_list);
  EXPECT_TRUE(empty_list->empty());
  const cvn::shared::optional<std::vector<int>> from_std = std::optional<std::vector<int>>(std::vector<int>{4});
  ASSERT_TRUE(from_std.has_value());
  EXPECT_EQ(*from_std, std::vector<int>{4});
  const cvn::shared::optional<std::vector<int>> copy = from_std;
  EXPECT_EQ(&*copy, &*from_std) << "copies share";
  cvn::shared::optional<std::vector<int>> cleared = std::vector<int>{5};
  cleared = std::nullopt;
  EXPECT_FALSE(cleared.has_value());
}

}  // namespace
