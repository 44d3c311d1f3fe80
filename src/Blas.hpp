#pragma once

// The one place that knows which CBLAS/LAPACKE the build links. The core
// always calls the standard names (cblas_dgemm, LAPACKE_zgels_work, ...); with
// the scipy-openblas32 wheel, whose symbols carry a "scipy_" prefix, those
// names are mapped here.

#include <complex>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>

#define lapack_complex_float std::complex<float>
#define lapack_complex_double std::complex<double>

#include <cblas.h>
#include <lapacke.h>

#ifdef VEXA_BLAS_PREFIX
#define VEXA_PREFIXED_2(prefix, name) prefix##name
#define VEXA_PREFIXED_1(prefix, name) VEXA_PREFIXED_2(prefix, name)
#define VEXA_PREFIXED(name) VEXA_PREFIXED_1(VEXA_BLAS_PREFIX, name)
#define cblas_sscal VEXA_PREFIXED(cblas_sscal)
#define cblas_dscal VEXA_PREFIXED(cblas_dscal)
#define cblas_cscal VEXA_PREFIXED(cblas_cscal)
#define cblas_zscal VEXA_PREFIXED(cblas_zscal)
#define cblas_saxpy VEXA_PREFIXED(cblas_saxpy)
#define cblas_daxpy VEXA_PREFIXED(cblas_daxpy)
#define cblas_caxpy VEXA_PREFIXED(cblas_caxpy)
#define cblas_zaxpy VEXA_PREFIXED(cblas_zaxpy)
#define cblas_scopy VEXA_PREFIXED(cblas_scopy)
#define cblas_dcopy VEXA_PREFIXED(cblas_dcopy)
#define cblas_ccopy VEXA_PREFIXED(cblas_ccopy)
#define cblas_zcopy VEXA_PREFIXED(cblas_zcopy)
#define cblas_sswap VEXA_PREFIXED(cblas_sswap)
#define cblas_dswap VEXA_PREFIXED(cblas_dswap)
#define cblas_cswap VEXA_PREFIXED(cblas_cswap)
#define cblas_zswap VEXA_PREFIXED(cblas_zswap)
#define cblas_sdot VEXA_PREFIXED(cblas_sdot)
#define cblas_ddot VEXA_PREFIXED(cblas_ddot)
#define cblas_cdotu_sub VEXA_PREFIXED(cblas_cdotu_sub)
#define cblas_zdotu_sub VEXA_PREFIXED(cblas_zdotu_sub)
#define cblas_cdotc_sub VEXA_PREFIXED(cblas_cdotc_sub)
#define cblas_zdotc_sub VEXA_PREFIXED(cblas_zdotc_sub)
#define cblas_sgemv VEXA_PREFIXED(cblas_sgemv)
#define cblas_dgemv VEXA_PREFIXED(cblas_dgemv)
#define cblas_cgemv VEXA_PREFIXED(cblas_cgemv)
#define cblas_zgemv VEXA_PREFIXED(cblas_zgemv)
#define cblas_sgemm VEXA_PREFIXED(cblas_sgemm)
#define cblas_dgemm VEXA_PREFIXED(cblas_dgemm)
#define cblas_cgemm VEXA_PREFIXED(cblas_cgemm)
#define cblas_zgemm VEXA_PREFIXED(cblas_zgemm)
#define LAPACKE_sgels_work VEXA_PREFIXED(LAPACKE_sgels_work)
#define LAPACKE_dgels_work VEXA_PREFIXED(LAPACKE_dgels_work)
#define LAPACKE_cgels_work VEXA_PREFIXED(LAPACKE_cgels_work)
#define LAPACKE_zgels_work VEXA_PREFIXED(LAPACKE_zgels_work)
#define LAPACKE_strcon_work VEXA_PREFIXED(LAPACKE_strcon_work)
#define LAPACKE_dtrcon_work VEXA_PREFIXED(LAPACKE_dtrcon_work)
#define LAPACKE_ctrcon_work VEXA_PREFIXED(LAPACKE_ctrcon_work)
#define LAPACKE_ztrcon_work VEXA_PREFIXED(LAPACKE_ztrcon_work)
#endif

namespace Algorithms {

// The integer of the CBLAS and LAPACKE interfaces (32 bits in our builds).
using blas_int = int;
static_assert(sizeof(blas_int) == sizeof(lapack_int), "CBLAS and LAPACKE must agree on integers");

namespace detail {

// Narrows a count or extent to the BLAS integer, refusing what does not fit
// instead of letting BLAS compute on a wrapped number.
inline blas_int to_blas_int(const char* name, std::size_t n) {
  if (n > static_cast<std::size_t>(std::numeric_limits<blas_int>::max())) {
    throw std::runtime_error(std::string("In ") + name + ", size " + std::to_string(n) +
                             " exceeds the BLAS integer limit " +
                             std::to_string(std::numeric_limits<blas_int>::max()));
  }
  return static_cast<blas_int>(n);
}

// BLAS and LAPACK require leading dimensions of at least 1, even for empty
// matrices.
inline blas_int leading_dimension(blas_int rows) { return rows > 1 ? rows : 1; }

}  // namespace detail
}  // namespace Algorithms
