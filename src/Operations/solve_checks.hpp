#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

#include "../Blas.hpp"
#include "../Types/Traits.hpp"
#include "Operations.hpp"
#include "errors.hpp"

// The checks of a least-squares or minimum-norm solve by ?gels, for every
// operation that solves with it: what they refuse before the solve (NaN and
// Inf), how a right-hand side is kept where ?gels leaves it unscaled, and
// what they refuse after it (rank, condition, and the least-squares term of
// the condition for m > n). Each refusal names the operation. In order:
// - before anything is touched: SolveChecks checks(name, m, n, A) refuses
//   NaN and Inf in A; refuse_not_finite(name, operand, b, m) for each
//   right-hand side; then the workspace;
// - where the lock may be released: RangeKept over the right-hand sides,
//   ?gels, refuse_solver_status, checks.factor() once, and
//   checks.solution() for each right-hand side as ?gels left it.
namespace Algorithms {
namespace detail {
namespace routine {

// Estimate of the reciprocal 1-norm condition number of the upper ('U') or
// lower ('L') triangular n x n matrix at A. work holds 3n elements; extra
// holds n integers for the real kinds, n reals for the complex ones.
inline lapack_int trcon(char uplo, blas_int n, const float* A, blas_int lda, float& rcond,
                        float* work, lapack_int* extra) {
  return VEXA_BLAS(LAPACKE_strcon_work)(LAPACK_COL_MAJOR, '1', uplo, 'N', n, A, lda, &rcond, work,
                                        extra);
}
inline lapack_int trcon(char uplo, blas_int n, const double* A, blas_int lda, double& rcond,
                        double* work, lapack_int* extra) {
  return VEXA_BLAS(LAPACKE_dtrcon_work)(LAPACK_COL_MAJOR, '1', uplo, 'N', n, A, lda, &rcond, work,
                                        extra);
}
inline lapack_int trcon(char uplo, blas_int n, const std::complex<float>* A, blas_int lda,
                        float& rcond, std::complex<float>* work, float* extra) {
  return VEXA_BLAS(LAPACKE_ctrcon_work)(LAPACK_COL_MAJOR, '1', uplo, 'N', n, A, lda, &rcond, work,
                                        extra);
}
inline lapack_int trcon(char uplo, blas_int n, const std::complex<double>* A, blas_int lda,
                        double& rcond, std::complex<double>* work, double* extra) {
  return VEXA_BLAS(LAPACKE_ztrcon_work)(LAPACK_COL_MAJOR, '1', uplo, 'N', n, A, lda, &rcond, work,
                                        extra);
}

}  // namespace routine

// The integer or real workspace of ?trcon, by kind.
template <class V>
using trcon_extra = std::conditional_t<std::is_floating_point<V>::value, lapack_int, real_of<V>>;

// The range where ?gels leaves its operands as they are: it scales A, or a
// right-hand side, whose largest magnitude lies outside [low, 1 / low].
template <class Real>
constexpr Real solver_low() {
  return std::numeric_limits<Real>::min() / std::numeric_limits<Real>::epsilon();
}

// The bits of |x| that reach() compares: all of a float's, the top 32 of a
// double's (exponent and 20 bits of fraction). They order magnitudes as the
// numbers do, exactly so at powers of two, and put NaN and Inf above every
// finite number.
template <class Real>
std::uint32_t magnitude_word(Real x) {
  if constexpr (sizeof(Real) == 4) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof x);
    return bits & 0x7fffffffu;
  } else {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof x);
    return static_cast<std::uint32_t>(bits >> 32) & 0x7fffffffu;
  }
}

// What one pass over the real and imaginary parts of count elements found:
// a part of magnitude at least high (a power of two, or infinity to find
// only NaN and Inf), and whether every part lies below low (a power of
// two). Integer operations on magnitude words, so that it runs as vector
// instructions.
struct Reach {
  bool beyond, below;
};

template <class V>
Reach reach(const V* p, size_t count, real_of<V> low, real_of<V> high) {
  using Real = real_of<V>;
  // A complex number is an array of its two parts.
  const Real* parts = reinterpret_cast<const Real*>(p);
  const size_t n = count * (sizeof(V) / sizeof(Real));
  const std::uint32_t lowWord = magnitude_word(low), highWord = magnitude_word(high);
  std::uint32_t beyond = 0, below = 1;
  for (size_t i = 0; i < n; ++i) {
    const std::uint32_t word = magnitude_word(parts[i]);
    beyond |= word >= highWord;
    below &= word < lowWord;
  }
  return {beyond != 0, below != 0};
}

// Refuses NaN and Inf among the count elements at p, if found is true
// (reach() found a part beyond the kind's largest number or beyond a lower
// limit, which this pass tells apart): a solve would spread them through
// the whole solution. The text names what it found, "NaN", "Inf" or "NaN
// and Inf", a part (real or imaginary) of an element counting alone.
template <class V>
void refuse_found(const char* name, const char* operand, const V* p, size_t count, bool found) {
  if (!found) {
    return;
  }
  bool nan = false, inf = false;
  for (size_t i = 0; i < count; ++i) {
    for (const real_of<V> part : {std::real(p[i]), std::imag(p[i])}) {
      nan |= std::isnan(part);
      inf |= std::isinf(part);
    }
  }
  if (nan || inf) {
    fail(name, std::string(operand) + " contains " +
                   (nan && inf ? "NaN and Inf"
                    : nan      ? "NaN"
                               : "Inf"));
  }
}

// Refuses NaN and Inf among the count elements at p, which the operation
// name reads as operand ("vector x"), before anything is touched.
template <class V>
void refuse_not_finite(const char* name, const char* operand, const V* p, size_t count) {
  const real_of<V> infinity = std::numeric_limits<real_of<V>>::infinity();
  refuse_found(name, operand, p, count, reach(p, count, real_of<V>(0), infinity).beyond);
}

// A Euclidean norm as scale * norm: scale is 1 when the plain sum of
// squares stays in range; otherwise the largest part, each part divided by
// it first, so that a norm beyond the range of the kind still has a value.
template <class Real>
struct ScaledNorm {
  Real scale, norm;
  Real value() const { return scale * norm; }
};

// Norm of count elements step apart. NaN if a part is NaN, infinity if one
// is infinite.
template <class V>
ScaledNorm<real_of<V>> scaled_norm(const V* p, size_t count, size_t step) {
  using Real = real_of<V>;
  Real sum = 0;
  for (size_t j = 0; j < count; ++j) {
    const Real re = std::real(p[j * step]), im = std::imag(p[j * step]);
    sum += re * re + im * im;
  }
  const Real eps = std::numeric_limits<Real>::epsilon();
  if (sum >= std::numeric_limits<Real>::min() / eps && sum <= std::numeric_limits<Real>::max()) {
    return {1, std::sqrt(sum)};
  }
  Real largest = 0;
  for (size_t j = 0; j < count; ++j) {
    largest =
        std::max({largest, std::abs(std::real(p[j * step])), std::abs(std::imag(p[j * step]))});
  }
  if (largest == 0 || std::isinf(largest)) {
    return {1, largest};
  }
  sum = 0;
  for (size_t j = 0; j < count; ++j) {
    const Real re = std::real(p[j * step]) / largest, im = std::imag(p[j * step]) / largest;
    sum += re * re + im * im;
  }
  return {largest, std::sqrt(sum)};
}

template <class V>
real_of<V> line_norm(const V* p, size_t count, size_t step) {
  return scaled_norm(p, count, step).value();
}

// 2 to the power of minus the exponent of the power of two nearest x,
// kept a normal number whose inverse is normal too. A normal x is read from
// its bits: 1.f * 2^e is nearer 2^(e + 1) than 2^e when 1.f >= sqrt(2).
template <class Real>
Real nearest_power_of_two_inverse(Real x) {
  using limits = std::numeric_limits<Real>;
  using Bits = std::conditional_t<sizeof(Real) == 4, std::uint32_t, std::uint64_t>;
  constexpr int fraction = limits::digits - 1, bias = limits::max_exponent - 1;
  constexpr Bits fractionMask = (Bits(1) << fraction) - 1;
  constexpr int low = 1 - limits::max_exponent, high = 1 - limits::min_exponent;
  Bits bits = 0, root = 0;
  std::memcpy(&bits, &x, sizeof x);
  const int biased = static_cast<int>(bits >> fraction);
  int exponent = 0;
  if (biased > 0 && biased < 2 * bias + 1) {
    const Real sqrt2 = std::sqrt(Real(2));
    std::memcpy(&root, &sqrt2, sizeof sqrt2);
    exponent = biased - bias + ((bits & fractionMask) >= (root & fractionMask) ? 1 : 0);
  } else if (std::frexp(x, &exponent) < std::sqrt(Real(0.5))) {
    --exponent;
  }
  const Bits inverse = Bits(bias - std::min(std::max(exponent, low), high)) << fraction;
  Real out = 0;
  std::memcpy(&out, &inverse, sizeof out);
  return out;
}

// |re| + |im|: at least the magnitude, at most sqrt(2) times it.
template <class V>
real_of<V> magnitude_bound(V v) {
  return std::abs(std::real(v)) + std::abs(std::imag(v));
}

// The 1-norm of the upper or lower triangular k x k matrix T (column-major,
// leading dimension k), and an upper bound on its 1-norm condition number:
// the norm times ||M^-1||_1, where M has T's diagonal magnitudes and minus
// its other magnitudes. M^-1 is nonnegative and bounds |T^-1| element by
// element; its largest column sum is the largest element of the z solving
// M^T z = (1, ..., 1), which column i of T gives as a sum of positive terms.
// z takes k reals.
template <class Real>
struct ConditionBound {
  Real norm, bound;
};

template <class V>
ConditionBound<real_of<V>> condition_bound(bool upper, size_t k, const V* T, real_of<V>* z) {
  using Real = real_of<V>;
  Real norm = 0, largest = 0;
  for (size_t step = 0; step < k; ++step) {
    const size_t i = upper ? step : k - 1 - step;
    const V* column = T + i * k;
    const Real pivot = std::abs(column[i]);
    Real sum = 1, columnSum = pivot;
    for (size_t j = upper ? 0 : i + 1; j < (upper ? i : k); ++j) {
      sum += magnitude_bound(column[j]) * z[j];
      columnSum += magnitude_bound(column[j]);
    }
    z[i] = sum / pivot;
    norm = std::max(norm, columnSum);
    largest = std::max(largest, z[i]);
  }
  return {norm, norm * largest};
}

// ?gels scales a right-hand side whose largest magnitude lies outside its
// range, and may leave the residual components so scaled. The exponent of
// the power of two that brings largest inside the range with a factor of
// two to spare: the caller scales by it before the solve and back after,
// both exactly.
template <class Real>
int range_exponent(Real largest) {
  const int top = std::ilogb(1 / solver_low<Real>()), bottom = std::ilogb(solver_low<Real>());
  const int exponent = std::ilogb(largest);
  return exponent >= top - 1      ? top - 2 - exponent
         : exponent <= bottom + 1 ? bottom + 2 - exponent
                                  : 0;
}

template <class V>
real_of<V> largest_part(const V* p, size_t count) {
  real_of<V> largest = 0;
  for (size_t i = 0; i < count; ++i) {
    largest = std::max({largest, std::abs(std::real(p[i])), std::abs(std::imag(p[i]))});
  }
  return largest;
}

template <class V>
void scale_by_power_of_two(V* p, size_t count, int exponent) {
  for (size_t i = 0; i < count; ++i) {
    if constexpr (std::is_floating_point<V>::value) {
      p[i] = std::scalbn(p[i], exponent);
    } else {
      p[i] = V(std::scalbn(std::real(p[i]), exponent), std::scalbn(std::imag(p[i]), exponent));
    }
  }
}

// The right-hand sides kept in ?gels' range for as long as this lives:
// columns of them, ld apart from B. On construction the first read
// elements of each (b) are scaled by a power of two, their exponents kept in
// exponents (one per column); on destruction the first written elements
// (solution and residual components) are scaled back, so that a refusal
// leaves them in the caller's units too. Build it only after every check
// before the solve has passed.
template <class V>
class RangeKept {
 public:
  RangeKept(V* B, size_t ld, size_t columns, size_t read, size_t written, int* exponents)
      : B_(B), ld_(ld), columns_(columns), written_(written), exponents_(exponents) {
    using Real = real_of<V>;
    const Real low = 2 * solver_low<Real>(), high = 1 / low;
    for (size_t j = 0; j < columns; ++j) {
      V* column = B + j * ld;
      const Reach found = reach(column, read, low, high);
      const Real largest = found.beyond || found.below ? largest_part(column, read) : 0;
      exponents[j] = largest > 0 ? range_exponent(largest) : 0;
      if (exponents[j] != 0) {
        scale_by_power_of_two(column, read, exponents[j]);
      }
    }
  }
  RangeKept(const RangeKept&) = delete;
  RangeKept& operator=(const RangeKept&) = delete;
  ~RangeKept() {
    for (size_t j = 0; j < columns_; ++j) {
      if (exponents_[j] != 0) {
        scale_by_power_of_two(B_ + j * ld_, written_, -exponents_[j]);
      }
    }
  }

 private:
  V* B_;
  size_t ld_, columns_, written_;
  int* exponents_;
};

// Refuses what ?gels' status reports: an argument it rejected, or an exactly
// zero diagonal element of the triangular factor, where it stops before the
// triangular solve.
inline void refuse_solver_status(const char* name, lapack_int info) {
  if (info < 0) {
    fail(name, "the solver rejected its argument " + std::to_string(-info));
  }
  if (info > 0) {
    fail(name, "matrix A does not have full rank: diagonal element " + std::to_string(info) +
                   " of its triangular factor is zero; A and x now hold the solver's partial "
                   "results");
  }
}

// The tests of a solve by ?gels of an m x n matrix A, for the operation
// name. Built before the solve, it refuses NaN and Inf in A; then factor()
// tests the triangular factor that ?gels left in A (R in the first n rows
// when m >= n, L in the first m columns when m < n), once, and solution()
// each right-hand side as ?gels left it. Each throws its refusal; after the
// solve, A and the solutions stay as ?gels left them.
//
// Line i of the factor, column i of R or row i of L, has the norm of column
// i or row i of A (times the factor by which ?gels scaled A, if it did), so
// every test is unchanged when the caller rescales a column (a row) of A or
// the right-hand side:
// - rank: a diagonal element of magnitude at most sqrt(max(m, n)) * eps
//   times its line's norm makes A rank deficient to working precision. The
//   computed factor is the exact factor of A + E, where column j of E is
//   small beside column j of A: at most c * m * n * eps times its norm in
//   the worst case, which no factorization approaches, and about
//   sqrt(m) * eps per reflector applied when the rounding errors behave as
//   independent, as they do in practice. A pivot below one reflector's
//   share is rounding noise; what the errors of several reflectors hide,
//   the condition test finds. The limit stays below 0.006 for every m a
//   32-bit BLAS integer allows, even in single precision.
// - condition: with R_s the factor with each line divided by the power of
//   two nearest its norm (the copy in space), kappa its 1-norm condition
//   number by ?trcon's estimate, and for m > n
//   rho = ||r|| / (||R_s||_1 ||z_s||), where r is the residual (Q2^H b,
//   which ?gels leaves in elements n to m - 1) and z_s the solution in the
//   units of R_s, the solution has no correct digit to expect when
//   eps * kappa * (1 + kappa * rho) >= 1: the first term is the error of
//   any solve with the factor, the second that of a least-squares fit whose
//   residual the perturbed A turns (Wedin). rho is 0 when m <= n. An upper
//   bound on kappa that passes settles the test without ?trcon, whose
//   estimate never exceeds kappa; ?trcon runs at most once per factor.
template <class V>
class SolveChecks {
 public:
  using Real = real_of<V>;

  // Before the solve, A (m x n, leading dimension m) as the caller gave it:
  // refuses NaN and Inf in it. When ?gels may scale A (its largest part near
  // the ends of the range), keeps the norm of its first column, to measure
  // by what factor it did.
  SolveChecks(const char* name, blas_int m, blas_int n, const V* A)
      : name_(name), m_(m), n_(n), k_(static_cast<size_t>(std::min(m, n))) {
    const size_t count = static_cast<size_t>(m) * static_cast<size_t>(n);
    const Real low = 2 * solver_low<Real>(), high = 1 / low;
    const Reach found = reach(A, count, low, high);
    refuse_found(name, "matrix A", A, count, found.beyond);
    if ((found.beyond || found.below) && m > n && n > 0) {
      first_ = scaled_norm(A, static_cast<size_t>(m), 1);
    }
  }

  // The elements space must hold (k = min(m, n)).
  static size_t space_size(size_t k) { return k * k + k; }

  // After the solve, the factor ?gels left in A (leading dimension lda).
  // space holds space_size(k) elements, work 3k, extra k; work and extra may
  // be the solver's own, now that it is done. They serve solution() too.
  void factor(const V* A, blas_int lda, V* space, V* work, trcon_extra<V>* extra) {
    factor_ = space;
    scales_ = reinterpret_cast<Real*>(space + k_ * k_);
    work_ = work;
    extra_ = extra;
    const bool upper = m_ >= n_;
    const size_t ld = static_cast<size_t>(lda), k = k_;
    // Line i starts at A + i * next and runs i + 1 elements step apart to the
    // diagonal; in the copy likewise with k for lda.
    const size_t next = upper ? ld : 1, step = upper ? 1 : ld;
    const size_t copyNext = upper ? k : 1, copyStep = upper ? 1 : k;
    const Real limit = std::sqrt(Real(std::max(m_, n_))) * eps;
    for (size_t i = 0; i < k; ++i) {
      const V* line = A + i * next;
      const Real norm = line_norm(line, i + 1, step);
      if (!(std::abs(line[i * step]) > limit * norm)) {
        fail(name_, "matrix A does not have full rank to working precision: diagonal element " +
                        std::to_string(i + 1) +
                        " of its triangular factor is negligible; A and x now hold the solver's "
                        "factorization and solution");
      }
      const Real scale = nearest_power_of_two_inverse(norm);
      scales_[i] = 1 / scale;
      V* copy = factor_ + i * copyNext;
      for (size_t j = 0; j <= i; ++j) {
        copy[j * copyStep] = line[j * step] * scale;
      }
    }
    // A complex array is an array of twice as many reals.
    bound_ = condition_bound(upper, k, factor_, reinterpret_cast<Real*>(work_));
    // ?gels scales A into its safe range and leaves the factor so: the factor
    // by which it did, measured on the first line, which the rank test found
    // nonzero. The residual ratio undoes it.
    if (first_.norm > 0) {
      scaling_ = std::abs(A[0]) / first_.scale / first_.norm;
    }
    rcond_ = -1;
  }

  // column: the solution in its first n elements, and for m > n the
  // residual components in elements n to m - 1.
  void solution(const V* column) {
    const Real rho = residual_ratio(column);
    if (eps * bound_.bound * (1 + bound_.bound * rho) < 1) {
      return;
    }
    if (rcond_ < 0) {
      rcond_ = 0;  // stays 0, and refuses, if ?trcon fails
      const blas_int k = static_cast<blas_int>(k_);
      routine::trcon(m_ >= n_ ? 'U' : 'L', k, factor_, leading_dimension(k), rcond_, work_, extra_);
    }
    const Real kappa = 1 / rcond_;
    if (!(eps * kappa < 1)) {
      fail(name_,
           "matrix A is singular to working precision: its column-scaled triangular factor has a "
           "reciprocal condition number below machine epsilon; A and x now hold the solver's "
           "factorization and solution");
    }
    if (!(eps * kappa * (1 + kappa * rho) < 1)) {
      fail(name_,
           "the least-squares solution is not determined to working precision: its residual is "
           "too large for the condition of A; A and x now hold the solver's factorization and "
           "solution");
    }
  }

 private:
  static constexpr Real eps = std::numeric_limits<Real>::epsilon();

  // rho of the class comment, with the solution scaled to z_s by the line
  // norms' powers of two and back by the factor ?gels scaled A with. A rho
  // beyond the range of the kind is at least 1 / eps, which refuses whatever
  // kappa is, and one below it is negligible: either side of the range
  // gives the right verdict. A zero solution beside a nonzero residual is
  // infinitely sensitive.
  Real residual_ratio(const V* column) const {
    if (m_ <= n_ || k_ == 0) {
      return 0;
    }
    const Real residual = line_norm(column + n_, static_cast<size_t>(m_ - n_), 1);
    if (residual == 0) {
      return 0;
    }
    Real sum = 0;
    for (size_t i = 0; i < k_; ++i) {
      const Real re = std::real(column[i]) * scales_[i], im = std::imag(column[i]) * scales_[i];
      sum += re * re + im * im;
    }
    if (sum >= std::numeric_limits<Real>::min() / eps && sum <= std::numeric_limits<Real>::max()) {
      return residual / std::sqrt(sum) * scaling_ / bound_.norm;
    }
    // The solution by parts divided by the power of two 2^top nearest its
    // largest scaled part, exponent arithmetic keeping every step in range.
    int top = std::numeric_limits<int>::min();
    for (size_t i = 0; i < k_; ++i) {
      const Real part = std::max(std::abs(std::real(column[i])), std::abs(std::imag(column[i])));
      if (part != 0) {
        top = std::max(top, std::ilogb(part) + std::ilogb(scales_[i]));
      }
    }
    if (top == std::numeric_limits<int>::min()) {
      return std::numeric_limits<Real>::infinity();
    }
    sum = 0;
    for (size_t i = 0; i < k_; ++i) {
      const int shift = std::ilogb(scales_[i]) - top;
      const Real re = std::scalbn(std::real(column[i]), shift);
      const Real im = std::scalbn(std::imag(column[i]), shift);
      sum += re * re + im * im;
    }
    return std::scalbn(residual / std::sqrt(sum), -top) * scaling_ / bound_.norm;
  }

  const char* name_;
  blas_int m_, n_;
  size_t k_;
  V* factor_ = nullptr;
  Real* scales_ = nullptr;
  V* work_ = nullptr;
  trcon_extra<V>* extra_ = nullptr;
  ScaledNorm<Real> first_{1, 0};
  ConditionBound<Real> bound_{0, 0};
  Real scaling_ = 1;
  Real rcond_ = -1;
};

}  // namespace detail
}  // namespace Algorithms
