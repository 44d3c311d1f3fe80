#pragma once

// The definition of vexa_linalg's registration of a kind (LinalgRegistration.hpp):
// every function's overloads over the kind's containers, unrolled by
// compile-time loops. Only the per-kind units include this file, each
// instantiating it for its own kind.

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include <boost/hana.hpp>

#include "../Operations.hpp"
#include "../Types.hpp"
#include "Kinds.hpp"
#include "LinalgDocstrings.hpp"
#include "LinalgRegistration.hpp"

namespace Bindings {

namespace hana = boost::hana;

// A function's docstring goes with its first overload only: the module shows
// no pybind11 signatures (vexa_linalg.cpp), so __doc__ is the docstring once.
template <auto F, class Name>
void define_linalg(LinalgRegistry& registry, Name name, const char* doc) {
  registry.define<F>(name, registry.defined(name) ? "" : doc);
}

template <class DataType>
void register_linalg_functions(LinalgRegistry& registry) {
  using Algorithms::Operations;
  using Mat = Algorithms::Matrix<DataType>;
  constexpr bool complexKind = is_complex<DataType>;

  // Matrices only.
  define_linalg<&Operations::gemm_op<Mat, Mat, Mat>>(registry, BOOST_HANA_STRING("gemm"),
                                                     linalg_docs::gemm);
  define_linalg<&Operations::syrk<Mat, Mat>>(registry, BOOST_HANA_STRING("syrk"),
                                             linalg_docs::syrk);
  if constexpr (complexKind) {
    define_linalg<&Operations::herk<Mat, Mat>>(registry, BOOST_HANA_STRING("herk"),
                                               linalg_docs::herk);
  }
  define_linalg<&Operations::trsm<Mat, Mat>>(registry, BOOST_HANA_STRING("trsm"),
                                             linalg_docs::trsm);
  define_linalg<&Operations::column<Mat>>(registry, BOOST_HANA_STRING("column"),
                                          linalg_docs::column);
  define_linalg<&Operations::columns<Mat>>(registry, BOOST_HANA_STRING("columns"),
                                           linalg_docs::columns);
  define_linalg<&Operations::potrf<Mat>>(registry, BOOST_HANA_STRING("potrf"), linalg_docs::potrf);

  // One container of any type, beside matrices.
  hana::for_each(containerSet<DataType>, [&](auto container0) {
    using C0 = typename decltype(container0)::type;
    define_linalg<&Operations::trsv<Mat, C0>>(registry, BOOST_HANA_STRING("trsv"),
                                              linalg_docs::trsv);
    define_linalg<&Operations::nrm2<C0>>(registry, BOOST_HANA_STRING("nrm2"), linalg_docs::nrm2);
    define_linalg<&Operations::asum<C0>>(registry, BOOST_HANA_STRING("asum"), linalg_docs::asum);
    define_linalg<&Operations::iamax<C0>>(registry, BOOST_HANA_STRING("iamax"), linalg_docs::iamax);
    define_linalg<&Operations::scale_rows<C0, Mat>>(registry, BOOST_HANA_STRING("scale_rows"),
                                                    linalg_docs::scaleRows);
    define_linalg<&Operations::scale_columns<C0, Mat>>(registry, BOOST_HANA_STRING("scale_columns"),
                                                       linalg_docs::scaleColumns);
    if constexpr (!Algorithms::is_matrix<C0>::value) {
      define_linalg<&Operations::as_matrix<C0>>(registry, BOOST_HANA_STRING("as_matrix"),
                                                linalg_docs::asMatrix);
    }

    // Solves by a factorization: B of any container type.
    define_linalg<&Operations::gesv<Mat, C0>>(registry, BOOST_HANA_STRING("gesv"),
                                              linalg_docs::gesv);
    define_linalg<&Operations::posv<Mat, C0>>(registry, BOOST_HANA_STRING("posv"),
                                              linalg_docs::posv);
    define_linalg<&Operations::potrs<Mat, C0>>(registry, BOOST_HANA_STRING("potrs"),
                                               linalg_docs::potrs);

    // Two containers of any type.
    hana::for_each(containerSet<DataType>, [&](auto container1) {
      using C1 = typename decltype(container1)::type;
      define_linalg<&Operations::gemv_op<Mat, C0, C1>>(registry, BOOST_HANA_STRING("gemv"),
                                                       linalg_docs::gemv);
      define_linalg<&Operations::ger<C0, C1, Mat>>(registry, BOOST_HANA_STRING("ger"),
                                                   linalg_docs::ger);
      if constexpr (complexKind) {
        define_linalg<&Operations::gerc<C0, C1, Mat>>(registry, BOOST_HANA_STRING("gerc"),
                                                      linalg_docs::gerc);
      }
      define_linalg<&Operations::axpby<C0, C1>>(registry, BOOST_HANA_STRING("axpby"),
                                                linalg_docs::axpby);
      define_linalg<&Operations::mul<C0, C1>>(registry, BOOST_HANA_STRING("mul"), linalg_docs::mul);
    });
  });

  // QR factorization and least squares: A a matrix, tau and B of any type.
  hana::for_each(containerSet<DataType>, [&](auto container0) {
    using C0 = typename decltype(container0)::type;
    define_linalg<&Operations::geqrf<Mat, C0>>(registry, BOOST_HANA_STRING("geqrf"),
                                               linalg_docs::geqrf);
    hana::for_each(containerSet<DataType>, [&](auto container1) {
      using C1 = typename decltype(container1)::type;
      define_linalg<&Operations::ormqr<Mat, C0, C1>>(registry, BOOST_HANA_STRING("ormqr"),
                                                     linalg_docs::ormqr);
    });
    define_linalg<&Operations::gels<Mat, C0>>(registry, BOOST_HANA_STRING("gels"),
                                              linalg_docs::gels);
  });
}

}  // namespace Bindings
