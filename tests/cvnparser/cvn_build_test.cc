// The block stack in which the grammar collects its lists, the arena of token texts, and the short strings
// of the tree.
#include "cvnparser/cvn_build.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <utility>
#include <string>
#include <vector>

namespace {

using cvn::cvn_build::list_stack;

// Large enough that a block holds only a few, so that lists cross block boundaries after a handful.
struct wide {
  std::array<char, 65536> pad{};
  std::string text;
};

std::vector<std::string> texts(const std::vector<wide>& v) {
  std::vector<std::string> out;
  for (const auto& w : v) out.push_back(w.text);
  return out;
}

void push(list_stack<wide>& s, const std::string& text) { s.push(wide{{}, text}); }

TEST(ListStack, ListsNestAndAreTakenInOrderAcrossBlocks) {
  list_stack<wide> s;
  const auto outer = s.mark();
  for (const char* t : {"a", "b", "c", "d", "e"}) push(s, t);
  const auto inner = s.mark();
  for (const char* t : {"x", "y", "z", "w"}) push(s, t);
  EXPECT_EQ(texts(s.take(inner)), (std::vector<std::string>{"x", "y", "z", "w"}));
  // The outer list grows again after the inner one is gone, also into blocks that were released.
  for (const char* t : {"f", "g", "h", "i", "j", "k"}) push(s, t);
  EXPECT_EQ(s.mark(), 11u);
  EXPECT_EQ(texts(s.take(outer)),
            (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}));
  EXPECT_EQ(s.mark(), 0u);
  EXPECT_TRUE(s.take(0).empty());
}

TEST(ListStack, DropPopBackAndPushFront) {
  list_stack<wide> s;
  for (const char* t : {"a", "b", "c", "d"}) push(s, t);
  const auto m = s.mark();
  for (const char* t : {"p", "q", "r", "s", "t", "u", "v"}) push(s, t);
  s.drop(m);
  EXPECT_EQ(s.mark(), 4u);
  EXPECT_EQ(s.back().text, "d");
  EXPECT_EQ(s.pop().text, "d");
  EXPECT_EQ(s.pop().text, "c");
  push(s, "e");
  push(s, "f");
  s.push_front(1, wide{{}, "front"});
  EXPECT_EQ(texts(s.take(0)), (std::vector<std::string>{"a", "front", "b", "e", "f"}));
}

TEST(ListStack, ADroppedListLeavesNothingInTheBlocksItUsed) {
  list_stack<wide> s;
  for (const char* t : {"a", "b", "c", "d", "e", "f", "g"}) push(s, t);
  s.drop(2);
  for (const char* t : {"x", "y", "z", "w"}) push(s, t);
  EXPECT_EQ(texts(s.take(0)), (std::vector<std::string>{"a", "b", "x", "y", "z", "w"}));
}

TEST(TextArena, TextsStayWhereTheyAreUntilTheirChunkIsReleased) {
  cvn::cvn_build::text_arena arena;
  const auto empty = arena.copy("", 0);
  EXPECT_EQ(empty.size(), 0u);
  EXPECT_EQ(cvn::cvn_build::empty_text().view(), "");
  std::vector<cvn::cvn_build::text> kept;
  std::vector<std::string> expected;
  // Many chunks' worth, with a text larger than a chunk among them.
  for (int i = 0; i < 20000; ++i) {
    const std::string t = i == 7000 ? std::string(200000, 'x') : "name" + std::to_string(i);
    kept.push_back(arena.copy(t.data(), t.size()));
    expected.push_back(t);
  }
  for (std::size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(kept[i].view(), expected[i]) << i;
  const std::size_t before = arena.held();
  arena.release();
  // The last text survives, and so does the arena: new texts are still right.
  EXPECT_EQ(kept.back().view(), expected.back());
  EXPECT_LT(arena.held(), before);
  const auto again = arena.copy("again", 5);
  EXPECT_EQ(again.view(), "again");
  EXPECT_EQ(again.str(), "again");
  EXPECT_EQ(kept.back().view(), expected.back());
}

// Around the 15 bytes held in place: every size keeps its bytes and its terminating NUL through copies and
// moves, and a moved-from string is empty (a heap one must not be freed twice).
TEST(ShortString, KeepsItsBytesInPlaceOrOnTheHeap) {
  using cvn::cvn_types::short_string;
  for (const std::size_t n : {0, 1, 3, 4, 7, 8, 9, 14, 15, 16, 40}) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += static_cast<char>('a' + i % 26);
    const short_string s(text);
    EXPECT_EQ(s.size(), n);
    EXPECT_EQ(s.str(), text);
    EXPECT_EQ(s.c_str()[n], '\0');
    EXPECT_EQ(std::string(s.c_str()), text);
    short_string copy = s;
    EXPECT_EQ(copy, s);
    short_string moved = std::move(copy);
    EXPECT_EQ(moved, text);
    EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): the moved-from state is specified
    copy = moved;
    moved = short_string("x");
    EXPECT_EQ(copy, text);
    EXPECT_EQ(moved, "x");
    copy = std::move(copy);  // self-assignment keeps the value
    EXPECT_EQ(copy.view(), text);
  }
  // A NUL inside is a byte like another; the order of comparison is the bytes'.
  const short_string with_nul(std::string_view("a\0b", 3));
  EXPECT_EQ(with_nul.size(), 3u);
  EXPECT_FALSE(with_nul == "a");
  EXPECT_FALSE(short_string("ab") == short_string("abc"));
  std::ostringstream out;
  out << short_string("printed");
  EXPECT_EQ(out.str(), "printed");
}

}  // namespace
