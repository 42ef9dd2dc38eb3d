#include "base/pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using cvn::pool::slab_heap;

// Each live block is filled with a byte derived from its number, so that blocks handed out twice, or
// overlapping, or written by the heap while in use, show up as a wrong byte.
struct tracked {
  void* p;
  std::size_t n;
  unsigned char fill;
};

void check(const tracked& t) {
  const auto* b = static_cast<const unsigned char*>(t.p);
  for (std::size_t i = 0; i < t.n; ++i) ASSERT_EQ(b[i], t.fill) << "block of " << t.n << " bytes, byte " << i;
}

TEST(Pool, RandomBlocksStayApartAndIntact) {
  slab_heap heap;
  std::mt19937 rng(7);
  std::vector<tracked> live;
  unsigned char next_fill = 1;
  for (int step = 0; step < 200000; ++step) {
    const bool grow = live.empty() || rng() % 100 < (step < 100000 ? 60U : 35U);
    if (grow) {
      const std::size_t n = 1 + rng() % slab_heap::max_size;
      void* p = heap.allocate(n);
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % slab_heap::grain, 0U);
      ASSERT_TRUE(heap.owns(p));
      std::memset(p, next_fill, n);
      live.push_back({p, n, next_fill});
      next_fill = static_cast<unsigned char>(next_fill % 250 + 1);
    } else {
      const std::size_t i = rng() % live.size();
      check(live[i]);
      heap.deallocate(live[i].p);
      live[i] = live.back();
      live.pop_back();
    }
  }
  for (const tracked& t : live) check(t);
  EXPECT_EQ(heap.current_usage().blocks, live.size());
  for (const tracked& t : live) heap.deallocate(t.p);
  EXPECT_EQ(heap.current_usage().blocks, 0U);
}

TEST(Pool, EmptySlabsAreReusedByAnySizeAndTheirPagesGiveBack) {
  slab_heap heap;
  const std::size_t per_slab = slab_heap::slab_bytes / 64;
  std::vector<void*> blocks;
  for (std::size_t i = 0; i < 40 * per_slab; ++i) blocks.push_back(heap.allocate(64));
  const slab_heap::usage full = heap.current_usage();
  EXPECT_GE(full.slabs, 40U);
  EXPECT_EQ(full.blocks, blocks.size());

  // Freed in scattered order: every slab but the current one empties and leaves its size.
  std::mt19937 rng(3);
  std::shuffle(blocks.begin(), blocks.end(), rng);
  for (void* p : blocks) heap.deallocate(p);
  const slab_heap::usage freed = heap.current_usage();
  EXPECT_EQ(freed.blocks, 0U);
  EXPECT_LE(freed.slabs, 1U) << "only the current slab stays with its size";
  EXPECT_EQ(freed.resident_empty, slab_heap::reserve_slabs) << "a reserve keeps its pages";
  EXPECT_EQ(freed.resident_empty + freed.cold_empty + freed.slabs, full.slabs);

  heap.release_free();
  EXPECT_EQ(heap.current_usage().resident_empty, 0U);

  // Another size takes the empty slabs back before new ones are mapped, and finds them clean.
  std::vector<void*> again;
  for (std::size_t i = 0; i < 20 * ((slab_heap::slab_bytes - 64) / 200); ++i) {
    void* p = heap.allocate(200);
    std::memset(p, 0xab, 200);
    again.push_back(p);
  }
  const slab_heap::usage reused = heap.current_usage();
  EXPECT_EQ(reused.blocks, again.size());
  EXPECT_EQ(reused.slabs + reused.cold_empty + reused.resident_empty, full.slabs);
  for (void* p : again) heap.deallocate(p);
}

TEST(Pool, PartlyUsedSlabsAreFilledBeforeFreshOnes) {
  slab_heap heap;
  const std::size_t per_slab = (slab_heap::slab_bytes - 64) / 32;
  std::vector<void*> blocks;
  for (std::size_t i = 0; i < 4 * per_slab; ++i) blocks.push_back(heap.allocate(32));
  const std::size_t slabs = heap.current_usage().slabs;
  // Every other block freed: the holes take the next allocations, no slab is added.
  for (std::size_t i = 0; i < blocks.size(); i += 2) heap.deallocate(blocks[i]);
  for (std::size_t i = 0; i < blocks.size(); i += 2) blocks[i] = heap.allocate(32);
  EXPECT_EQ(heap.current_usage().slabs, slabs);
  std::map<void*, int> seen;
  for (void* p : blocks) EXPECT_EQ(++seen[p], 1) << "a block handed out twice";
  for (void* p : blocks) heap.deallocate(p);
}

TEST(Pool, ProgramBlocksOfEverySize) {
  // The program's functions, whether slabs or the heap serve them (the heap does under the sanitizers and
  // past max_size).
  std::vector<tracked> live;
  for (std::size_t n = 1; n <= slab_heap::max_size + 64; n += 7) {
    void* p = cvn::pool::allocate(n);
    std::memset(p, static_cast<int>(n % 200 + 1), n);
    live.push_back({p, n, static_cast<unsigned char>(n % 200 + 1)});
  }
  for (const tracked& t : live) {
    check(t);
    cvn::pool::deallocate(t.p);
  }
}

TEST(Pool, BlocksAtTheEdgesOfTheCoarseSizesHoldTheirWholeSize) {
  // Past fine_max sizes go by coarse steps: a size just past a step must get the larger block. Neighbours of
  // one size, filled whole, catch a block one step too small.
  slab_heap heap;
  std::vector<tracked> live;
  unsigned char fill = 1;
  for (std::size_t edge = slab_heap::fine_max; edge <= slab_heap::max_size; edge += slab_heap::coarse_grain)
    for (std::size_t n : {edge - 1, edge, edge + 1})
      for (int twice = 0; twice < 2 && n <= slab_heap::max_size; ++twice) {
        void* p = heap.allocate(n);
        std::memset(p, fill, n);
        live.push_back({p, n, fill++});
      }
  for (const tracked& t : live) {
    check(t);
    heap.deallocate(t.p);
  }
  EXPECT_EQ(heap.current_usage().blocks, 0U);
}

TEST(Pool, ProgramHeapGrowingWhilePagesAreFilledAheadKeepsEveryBlock) {
  // Tens of megabytes: the program heap takes fresh slabs well past its first region, whose pages are
  // filled beside it, while slabs empty, give their pages back and are taken again.
  std::mt19937 rng(11);
  std::vector<tracked> live;
  unsigned char next_fill = 1;
  const auto grow = [&](std::size_t bytes) {
    for (std::size_t total = 0; total < bytes;) {
      const std::size_t n = 16 + rng() % 500;
      void* p = cvn::pool::allocate(n);
      std::memset(p, next_fill, n);
      live.push_back({p, n, next_fill});
      next_fill = static_cast<unsigned char>(next_fill % 250 + 1);
      total += n;
    }
  };
  grow(std::size_t{24} << 20);
  // Every other block freed: slabs of one size class empty out whole now and then.
  std::vector<tracked> kept;
  for (std::size_t i = 0; i < live.size(); ++i) {
    if (i % 2 == 0 || rng() % 8 == 0) {
      cvn::pool::deallocate(live[i].p);
    } else {
      kept.push_back(live[i]);
    }
  }
  live = std::move(kept);
  cvn::pool::release_free();
  grow(std::size_t{24} << 20);
  for (const tracked& t : live) {
    check(t);
    cvn::pool::deallocate(t.p);
  }
}

TEST(Pool, OperatorNewServesFromTheSlabsOnTheOwningThreadOnly) {
  if (!cvn::pool::pooled) GTEST_SKIP() << "every block is a heap block under the sanitizers";
  const cvn::pool::slab_heap& program = cvn::pool::detail::program_heap.heap;
  auto* small = new std::string(100, 'x');
  EXPECT_TRUE(program.owns(small));
  EXPECT_TRUE(program.owns(small->data()));
  for (std::size_t n = 9; n <= slab_heap::max_size; n += 7) {
    void* p = ::operator new(n);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0U) << n << " bytes, as operator new must align them";
    ::operator delete(p);
  }
  auto* big = new char[slab_heap::max_size + 1];
  EXPECT_FALSE(program.owns(big));
  delete[] big;

  // Another thread gets heap blocks; the blocks cross threads both ways and are freed where they land.
  std::string* theirs = nullptr;
  bool owned = true;
  std::thread t([&] {
    theirs = new std::string(100, 'y');
    owned = program.owns(theirs) || program.owns(theirs->data());
    delete small;
  });
  t.join();
  EXPECT_FALSE(owned);
  EXPECT_EQ(*theirs, std::string(100, 'y'));
  delete theirs;
}

TEST(Pool, TheReadersHeapTakesBackWhatTheBuilderFreesAndIsLentOnce) {
  if (!cvn::pool::pooled) GTEST_SKIP() << "every block is a heap block under the sanitizers";
  const slab_heap& reader_heap = cvn::pool::detail::reader_heap.heap;
  const cvn::pool::lease lent;
  ASSERT_NE(lent.heap(), nullptr);
  EXPECT_EQ(cvn::pool::lease().heap(), nullptr) << "a reader nested in a build gets no heap";

  // A reader hands batches of blocks over while this thread checks and frees the earlier ones, as a build
  // does: what is freed here goes back to the reader, so its heap stays the size of a few batches.
  constexpr std::size_t batches = 400, per_batch = 500;
  std::vector<std::vector<tracked>> handed(batches);
  std::vector<std::atomic<bool>> ready(batches);
  std::atomic<std::size_t> freed{0};  // batches freed so far
  std::size_t not_reader_blocks = 0;
  std::thread reader([&] {
    const cvn::pool::serve_from serving(lent);
    std::mt19937 rng(5);
    for (std::size_t b = 0; b < batches; ++b) {
      for (std::size_t i = 0; i < per_batch; ++i) {
        const std::size_t n = 8 + rng() % 300;
        void* p = cvn::pool::allocate(n);
        if (!reader_heap.owns(p)) ++not_reader_blocks;
        const auto fill = static_cast<unsigned char>(1 + (b * per_batch + i) % 250);
        std::memset(p, fill, n);
        handed[b].push_back({p, n, fill});
      }
      // Blocks freed on the reader's own side go straight back.
      cvn::pool::deallocate(cvn::pool::allocate(64));
      ready[b].store(true, std::memory_order_release);
      // At most eight batches ahead.
      while (b >= 8 && freed.load(std::memory_order_acquire) < b - 7) std::this_thread::yield();
    }
  });
  for (std::size_t b = 0; b < batches; ++b) {
    while (!ready[b].load(std::memory_order_acquire)) std::this_thread::yield();
    for (const tracked& t : handed[b]) {
      check(t);
      cvn::pool::deallocate(t.p);
    }
    freed.store(b + 1, std::memory_order_release);
  }
  reader.join();
  EXPECT_EQ(not_reader_blocks, 0U);
  // 200 000 blocks of 150 bytes on average went through; nine batches live at once hold under a megabyte.
  const slab_heap::usage u = reader_heap.current_usage();
  EXPECT_LT((u.slabs + u.resident_empty + u.cold_empty) * slab_heap::slab_bytes, std::size_t{8} << 20);

  // Once the reader is gone, blocks freed here wait for the next one, which takes them back first.
  void* left = nullptr;
  std::thread([&] {
    const cvn::pool::serve_from serving(lent);
    left = cvn::pool::allocate(40);
  }).join();
  cvn::pool::deallocate(left);
  bool reused = false;
  std::thread([&] {
    const cvn::pool::serve_from serving(lent);
    void* again = cvn::pool::allocate(40);
    reused = again == left;
    cvn::pool::deallocate(again);
  }).join();
  EXPECT_TRUE(reused);
}

}  // namespace
