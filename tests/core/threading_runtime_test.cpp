// The library's stand-ins for the C++ runtime's thrown-object allocation,
// per-thread exception records and static guards, linked into this program
// in place of the runtime's own as they are into kxcore64.dll: the whole
// test framework runs on them too.
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/threading_runtime.h"

namespace {

// Before main, as DllMain does before any export runs.
const bool g_started = (kxcore::StartThreadExceptionState(), true);

// The runtime writes its record into the room our allocation leaves: the
// reference count is its first field, 1 once thrown. A header too small puts
// another field there, one too large our own zeroes.
TEST(SmallRuntime, ThrownObjectsSitBehindTheRuntimesHeader) {
  ASSERT_TRUE(g_started);
  try {
    throw 42;
  } catch (int& thrown) {
    const auto* count = reinterpret_cast<const int*>(reinterpret_cast<const char*>(&thrown) -
                                                     kxcore::kExceptionHeaderBytes);
    EXPECT_EQ(*count, 1);
    EXPECT_EQ(thrown, 42);
  }
}

// Each thread has its own record: nested handlers, rethrow and the count of
// uncaught exceptions on many threads at once.
TEST(SmallRuntime, ExceptionsOnManyThreadsAtOnce) {
  std::atomic<int> right{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&right, t] {
      for (int round = 0; round < 200; ++round) {
        try {
          try {
            throw std::runtime_error(std::to_string(t));
          } catch (const std::runtime_error&) {
            if (std::uncaught_exceptions() != 0) return;
            throw;
          }
        } catch (const std::runtime_error& again) {
          if (again.what() != std::to_string(t)) return;
        }
      }
      ++right;
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(right.load(), 8);
}

std::atomic<int> g_made{0};

struct Slow {
  int value;
  Slow() : value(7) {
    Sleep(50);
    ++g_made;
  }
};

int Inner() {
  static const int inner = 5;
  return inner;
}

struct MadeWithInner {
  int value = Inner() + 1;
};

int g_attempts = 0;

struct FailsOnce {
  FailsOnce() {
    if (++g_attempts == 1) throw std::runtime_error("first");
  }
};

// A static is made once while other threads wait for it; one made inside
// another's initialisation goes ahead; one whose constructor throws is made
// again by the next caller.
TEST(SmallRuntime, StaticsAreMadeOnce) {
  std::atomic<int> seen{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&seen] {
      static Slow slow;
      seen += slow.value;
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(g_made.load(), 1);
  EXPECT_EQ(seen.load(), 42);

  static MadeWithInner outer;
  EXPECT_EQ(outer.value, 6);

  auto get = [] { static FailsOnce once; };
  EXPECT_THROW(get(), std::runtime_error);
  EXPECT_NO_THROW(get());
  EXPECT_EQ(g_attempts, 2);
}

}  // namespace
