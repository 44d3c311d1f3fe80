#pragma once

// The one place that knows which CBLAS/LAPACKE the build links. The core
// names each routine once, where its overload is declared, as
// VEXA_BLAS(cblas_dgemm): the scipy-openblas32 wheel's symbols carry a
// "scipy_" prefix (VEXA_BLAS_PREFIX), a system library's do not.

#include <complex>

#define lapack_complex_float std::complex<float>
#define lapack_complex_double std::complex<double>

#include <cblas.h>
#include <lapacke.h>

#ifdef VEXA_BLAS_PREFIX
#define VEXA_BLAS_PASTE(prefix, name) prefix##name
#define VEXA_BLAS_EXPAND(prefix, name) VEXA_BLAS_PASTE(prefix, name)
#define VEXA_BLAS(name) VEXA_BLAS_EXPAND(VEXA_BLAS_PREFIX, name)
#else
#define VEXA_BLAS(name) name
#endif

namespace Algorithms {

// The integer of the CBLAS and LAPACKE interfaces (32 bits in our builds).
using blas_int = int;
static_assert(sizeof(blas_int) == sizeof(lapack_int), "CBLAS and LAPACKE must agree on integers");

namespace detail {

// BLAS and LAPACK require leading dimensions of at least 1, even for empty
// matrices.
inline blas_int leading_dimension(blas_int rows) { return rows > 1 ? rows : 1; }

}  // namespace detail
}  // namespace Algorithms
