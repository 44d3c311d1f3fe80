#pragma once

#include <cstddef>

namespace Algorithms {

// The families of routines whose size decides whether a call lets its caller's other threads run
// while the routine works: level-1 routines by element count, products by m * n * k, solves and
// factorizations by the cube of their order (or m * n * min(m, n)).
enum class Work { level1, product, solve };

// How the core lets other threads run during a long routine. The binding layer installs a pair of
// functions that release and retake the lock its callers hold (Python's interpreter lock); the
// core never knows what that lock is. Until they are installed, every routine runs as it is.
struct Unlocking {
  using Release = void* (*)();
  using Retake = void (*)(void*);
  static inline Release release = nullptr;
  static inline Retake retake = nullptr;

  // Below these amounts of work a routine runs without releasing anything: releasing and
  // retaking the lock would cost more than the time other threads gain.
  static constexpr double threshold(Work work) {
    switch (work) {
      case Work::level1:
        return 32768.0;
      case Work::product:
        return 262144.0;
      case Work::solve:
        return 262144.0;
    }
    return 0.0;
  }
};

namespace detail {

// Runs routine, with the caller's lock released when its work is large enough. The lock is
// retaken before anything leaves: the result, or an exception thrown by a check inside routine.
// Only code that touches no caller's object may run in routine.
template <class Routine>
decltype(auto) unlocked(Work work, double amount, Routine&& routine) {
  if (Unlocking::release == nullptr || amount < Unlocking::threshold(work)) {
    return routine();
  }
  struct Retaken {
    void* state;
    ~Retaken() { Unlocking::retake(state); }
  } retaken{Unlocking::release()};
  return routine();
}

}  // namespace detail
}  // namespace Algorithms
