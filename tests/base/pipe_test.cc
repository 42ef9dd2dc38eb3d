#include "base/pipe.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using cvn::pipe::run;
using put_fn = std::function<void(std::unique_ptr<int>&&)>;

// Items that own memory, so that a lost, doubled or early-freed item shows under the sanitizers.
void produce_range(const put_fn& put, int from, int to) {
  for (int i = from; i < to; ++i) put(std::make_unique<int>(i));
}

struct outcome {
  std::vector<int> taken;
  std::string error;  // what run threw, "" when nothing
};

// Runs both ways with small batches and a short queue, so that the reader waits for room many times.
template <class Produce, class Take>
std::vector<outcome> both_ways(Produce produce, Take take) {
  std::vector<outcome> out;
  for (const bool threaded : {false, true}) {
    outcome o;
    try {
      run<std::unique_ptr<int>>(
          produce, [&](std::unique_ptr<int>&& x) { take(*x, o.taken); }, threaded, 3, 2);
    } catch (const std::exception& e) {
      o.error = e.what();
    }
    out.push_back(o);
  }
  return out;
}

TEST(Pipe, EveryItemIsTakenOnceInOrderEitherWay) {
  for (const int n : {0, 1, 2, 3, 4, 7, 1000}) {
    const auto results = both_ways([n](const put_fn& put) { produce_range(put, 0, n); },
                                   [](int x, std::vector<int>& seen) { seen.push_back(x); });
    for (const outcome& o : results) {
      ASSERT_EQ(o.taken.size(), static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) EXPECT_EQ(o.taken[static_cast<std::size_t>(i)], i);
      EXPECT_EQ(o.error, "");
    }
  }
}

TEST(Pipe, TheReadersErrorComesFirstAndWhatItPutBeforeIsTaken) {
  // The reader fails after 10 items; the taker fails on the fifth. As when the whole file is read first,
  // the reader's error is the one reported, and taking stops at the taker's failure.
  const auto results = both_ways(
      [](const put_fn& put) {
        produce_range(put, 0, 10);
        throw std::runtime_error("syntax");
      },
      [](int x, std::vector<int>& seen) {
        if (x == 4) throw std::runtime_error("build");
        seen.push_back(x);
      });
  for (const outcome& o : results) {
    EXPECT_EQ(o.error, "syntax");
    EXPECT_EQ(o.taken, (std::vector<int>{0, 1, 2, 3}));
  }
  // Without a failing taker every item before the reader's error is taken.
  const auto all = both_ways(
      [](const put_fn& put) {
        produce_range(put, 0, 10);
        throw std::runtime_error("syntax");
      },
      [](int x, std::vector<int>& seen) { seen.push_back(x); });
  for (const outcome& o : all) {
    EXPECT_EQ(o.error, "syntax");
    EXPECT_EQ(o.taken.size(), 10U);
  }
}

TEST(Pipe, TheTakersFirstErrorCountsOnceTheReadingEndsWell) {
  int produced = 0;
  const auto results = both_ways(
      [&produced](const put_fn& put) {
        produce_range(put, 0, 500);
        produced += 500;
      },
      [](int x, std::vector<int>& seen) {
        seen.push_back(x);
        if (x == 7) throw std::runtime_error("first");
        if (x == 8) throw std::runtime_error("second");
      });
  // The reading goes on to the end after the failure, and no item after it is taken.
  EXPECT_EQ(produced, 1000);
  for (const outcome& o : results) {
    EXPECT_EQ(o.error, "first");
    EXPECT_EQ(o.taken.size(), 8U);
  }
}

TEST(Pipe, TheReaderRunsOnAThreadOfItsOwnWhenAsked) {
  const std::thread::id me = std::this_thread::get_id();
  std::thread::id reader;
  run<int>([&](const std::function<void(int&&)>& put) {
             reader = std::this_thread::get_id();
             put(1);
           },
           [](int&&) {}, true);
  EXPECT_NE(reader, me);
  run<int>([&](const std::function<void(int&&)>& put) {
             reader = std::this_thread::get_id();
             put(1);
           },
           [](int&&) {}, false);
  EXPECT_EQ(reader, me);
}

}  // namespace
