#pragma once
// Reading on a thread of its own while the calling thread builds from what is read.
//
// Reading a file and building a model from it take turns on one processor; with a second one, the reader
// runs ahead there and hands what it has read over in batches. What crosses over is handed over whole:
// the reader keeps no part of it, since the program's counted nodes (rc.h) are not shared between threads.
// The reader's blocks come from a heap lent to it (pool.h); the builder frees them when it is done with
// them, and the reader takes them back for what it reads next.
//
// Errors keep the order of a reading made before any building: the reader's error comes first, wherever
// it stands in the file; a building error counts only when the whole file was read without one.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/pool.h"

namespace cvn::pipe {

/// A thread running f with every signal blocked, so that signals keep going to the main thread. Throws
/// std::system_error when no thread can be started.
[[nodiscard]] std::thread start(std::function<void()> f);

/// Whether the machine has a processor for a second thread. Without one, run() reads and builds in turns.
[[nodiscard]] bool threads_help();

/// Runs produce(put) and calls take(item) on the calling thread for each item that produce puts, in the
/// order put. Once take throws, the items left are dropped without being taken. When both are done, throws
/// what produce threw if it did, else what take threw.
///
/// With `threaded`, produce runs on a thread of its own that hands items over `batch` at a time and stays
/// at most `depth` batches ahead; otherwise (or when no thread can be started) put calls take at once.
template <class T, class Produce, class Take>
void run(Produce&& produce, Take&& take, bool threaded = threads_help(), std::size_t batch = 256,
         std::size_t depth = 4) {
  std::exception_ptr take_failed;
  const auto take_one = [&](T&& item) {
    if (take_failed) return;
    try {
      take(std::move(item));
    } catch (...) {
      take_failed = std::current_exception();
    }
  };
  const auto finish = [&](const std::exception_ptr& produce_failed) {
    if (produce_failed) std::rethrow_exception(produce_failed);
    if (take_failed) std::rethrow_exception(take_failed);
  };
  const auto inline_run = [&] {
    std::exception_ptr failed;
    try {
      produce([&](T&& item) { take_one(std::move(item)); });
    } catch (...) {
      failed = std::current_exception();
    }
    finish(failed);
  };
  if (!threaded) return inline_run();

  // What the two threads share, under `m`.
  struct shared_state {
    std::mutex m;
    std::condition_variable ready, room;
    std::deque<std::vector<T>> full;
    bool done = false;       // produce has returned or thrown
    bool abandoned = false;  // the taking side is gone: put stops the reading
    std::exception_ptr failed;
  } s;
  // Thrown through produce once nothing will take its items.
  struct stop {};

  const pool::lease lease;
  const auto reader = [&] {
    const pool::serve_from serving(lease);
    std::vector<T> next;
    next.reserve(batch);
    const auto hand_over = [&] {
      std::unique_lock<std::mutex> lock(s.m);
      s.room.wait(lock, [&] { return s.full.size() < depth || s.abandoned; });
      if (s.abandoned) throw stop{};
      s.full.push_back(std::move(next));
      lock.unlock();
      s.ready.notify_one();
      next = std::vector<T>();
      next.reserve(batch);
    };
    std::exception_ptr failed;
    bool stopped = false;
    try {
      produce([&](T&& item) {
        next.push_back(std::move(item));
        if (next.size() >= batch) hand_over();
      });
    } catch (const stop&) {
      stopped = true;
    } catch (...) {
      failed = std::current_exception();
    }
    // What was read before an error is taken too, as without a thread.
    if (!stopped && !next.empty()) {
      try {
        hand_over();
      } catch (const stop&) {
      } catch (...) {
        if (!failed) failed = std::current_exception();
      }
    }
    {
      const std::lock_guard<std::mutex> lock(s.m);
      s.done = true;
      s.failed = failed;
    }
    s.ready.notify_one();
  };

  std::thread t;
  try {
    t = start(reader);
  } catch (const std::system_error&) {
    return inline_run();
  }
  // Joins on every way out; a taking side that leaves early stops the reading first.
  struct joiner {
    shared_state& s;
    std::thread& t;
    ~joiner() {
      {
        const std::lock_guard<std::mutex> lock(s.m);
        s.abandoned = true;
      }
      s.room.notify_one();
      t.join();
    }
  };
  std::exception_ptr produce_failed;
  {
    const joiner j{s, t};
    for (;;) {
      std::vector<T> items;
      {
        std::unique_lock<std::mutex> lock(s.m);
        s.ready.wait(lock, [&] { return !s.full.empty() || s.done; });
        if (s.full.empty()) {
          produce_failed = s.failed;
          break;
        }
        items = std::move(s.full.front());
        s.full.pop_front();
      }
      s.room.notify_one();
      for (T& item : items) take_one(std::move(item));
    }
  }
  finish(produce_failed);
}

}  // namespace cvn::pipe
