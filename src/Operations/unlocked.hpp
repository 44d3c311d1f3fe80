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

  // Below these amounts of work a routine runs without releasing anything. A release and retake
  // costs about 400 instructions (50 ns); each threshold is a power of two from which that is at
  // most 1% of every call of the family in every kind, by instruction counts and by time. Kind s
  // is the cheapest per unit of work and sets the level-1 threshold (scale, dot) and the products'
  // (gemm by time, gemv by instructions); a complex call of the same amount costs up to four
  // times as much and so holds the lock that much longer below it. ls reaches 1% near m * n *
  // min(m, n) = 5000; solves keep a higher threshold for factorizations, which cost less per unit.
  static constexpr double threshold(Work work) {
    switch (work) {
      case Work::level1:
        return 262144.0;
      case Work::product:
        return 524288.0;
      case Work::solve:
        return 262144.0;
    }
    return 0.0;
  }
};

namespace detail {

// The two halves of a release, out of line and marked cold: a call below its threshold then
// costs one comparison, and its operation stays small enough to be inlined into its binding.
[[gnu::cold, gnu::noinline]] inline void* release_lock() {
  return Unlocking::release == nullptr ? nullptr : Unlocking::release();
}
[[gnu::cold, gnu::noinline]] inline void retake_lock(void* state) { Unlocking::retake(state); }

// The caller's lock, released for the lifetime of a Lease that is asked to, and retaken when
// the Lease goes, whether the routine returns or throws. A null state is a lock still held
// (the functions are not installed, or the work is too small).
class Lease {
 public:
  explicit Lease(bool release) : m_state(release ? release_lock() : nullptr) {}
  ~Lease() {
    if (m_state != nullptr) {
      retake_lock(m_state);
    }
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;

 private:
  void* const m_state;
};

// Runs routine, with the caller's lock released when its work is large enough. The lock is
// retaken before anything leaves: the result, or an exception thrown by a check inside routine.
// Only code that touches no caller's object may run in routine.
template <class Routine>
decltype(auto) unlocked(Work work, double amount, Routine&& routine) {
  const Lease lease(amount >= Unlocking::threshold(work));
  return routine();
}

}  // namespace detail
}  // namespace Algorithms
