#pragma once

// The definitions of vexa's registration of a kind (VexaRegistration.hpp):
// the kind's container classes, and the overloads of the module functions
// over its containers, unrolled by compile-time loops. Only the per-kind
// units include this file, each instantiating it for its own kind.

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include <boost/hana.hpp>

#include <cstddef>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "../Operations.hpp"
#include "../Types.hpp"
#include "ClassSlots.hpp"
#include "ClassTable.hpp"
#include "Kinds.hpp"
#include "Registry.hpp"
#include "ScalarArg.hpp"
#include "VexaRegistration.hpp"

namespace Bindings {

namespace py = pybind11;
namespace hana = boost::hana;

using Algorithms::Matrix;
using Algorithms::Operations;
using Algorithms::Vector;
using Algorithms::VectorView;

template <class C>
std::string render(const C& self) {
  std::stringstream output;
  Operations::show(self, output);
  return output.str();
}

// Methods shared by vector and view classes, in registration order after
// the constructor.
template <class C, class Class>
void register_vector_methods(Class& cls) {
  using DataType = typename C::SampleType;
  cls.def("numel", &C::numel)
      .def("dim",
           [](const C& self, std::size_t idx) {
             if (idx != 0) {
               throw std::runtime_error("dimension " + std::to_string(idx) + " invalid for vector");
             }
             return self.template dim<0>();
           })
      .def("__getitem__", static_cast<DataType& (C::*)(std::size_t)>(&C::operator[]))
      .def("__getitem__",
           [](const C& self, const py::slice& slice) {
             std::size_t start = 0;
             std::size_t stop = 0;
             std::size_t step = 0;
             std::size_t sliceLength = 0;
             if (!slice.compute(self.numel(), &start, &stop, &step, &sliceLength)) {
               throw py::error_already_set();
             }
             // A negative step wraps to a huge unsigned value and fails here too.
             if (step > 1) {
               throw std::runtime_error("stepsizes larger than 1 invalid for vector");
             }
             return self[std::pair<std::size_t, std::size_t>(start, stop)];
           })
      .def("__setitem__",
           [](C& self, std::size_t idx, ScalarParam<DataType> value) {
             value.convert();
             self[idx] = value;
           })
      .def("__repr__", &render<C>);
}

template <class DataType>
void register_classes(py::module_& m) {
  using Vec = Vector<DataType>;
  using View = VectorView<DataType>;
  using Mat = Matrix<DataType>;
  using Index = std::pair<std::size_t, std::size_t>;

  // The view class exists before the vector's methods are defined, so the
  // slicing signature names it instead of the C++ type.
  py::class_<Vec> vec(m, className<Vec>.c_str(), py::is_final());
  py::class_<View> view(m, className<View>.c_str(), py::is_final());
  vec.def(py::init<std::size_t>());
  register_vector_methods<Vec>(vec);
  seal_class<Vec>(vec);
  register_vector_methods<View>(view);
  seal_class<View>(view);

  py::class_<Mat> mat(m, className<Mat>.c_str(), py::is_final());
  mat.def(py::init<std::size_t, std::size_t>())
      .def("dim",
           [](const Mat& self, std::size_t idx) {
             if (idx == 0) {
               return self.template dim<0>();
             }
             if (idx == 1) {
               return self.template dim<1>();
             }
             throw std::runtime_error("dimension " + std::to_string(idx) + " invalid for matrix");
           })
      .def("numel", &Mat::numel)
      .def("__getitem__", static_cast<DataType& (Mat::*)(Index)>(&Mat::operator[]))
      .def("__setitem__",
           [](Mat& self, Index idx, ScalarParam<DataType> value) {
             value.convert();
             self[idx] = value;
           })
      .def("__repr__", &render<Mat>);
  seal_class<Mat>(mat);

  // The class table is how the call fronts, copyreg and vexa_io find them.
  add_to_class_table<Vec>(vec);
  add_to_class_table<View>(view);
  add_to_class_table<Mat>(mat);
}

// Module functions: for one kind, three nested loops over its containers.

template <class DataType>
void register_functions(VexaRegistry& registry) {
  hana::for_each(containerSet<DataType>, [&](auto container0) {
    using C0 = typename decltype(container0)::type;
    registry.define<&Operations::scale<C0>>(BOOST_HANA_STRING("scale"), "scale an object");
    hana::for_each(containerSet<DataType>, [&](auto container1) {
      using C1 = typename decltype(container1)::type;
      registry.define<&Operations::sum<C0, C1>>(BOOST_HANA_STRING("sum"), "add objects");
      registry.define<&Operations::dot<C0, C1>>(BOOST_HANA_STRING("dot"), "dot product");
      registry.define<&Operations::copy<C0, C1>>(BOOST_HANA_STRING("copy"),
                                                 "copy an object into another");
      registry.define<&Operations::swap<C0, C1>>(BOOST_HANA_STRING("swap"),
                                                 "swap objects into another");
      registry.define<&Operations::axpy<C0, C1>>(BOOST_HANA_STRING("axpy"), "axpy objects");
      if constexpr (is_complex<DataType>) {
        // "hermetian" is the docstring as published; callers may match it.
        registry.define<&Operations::hdot<C0, C1>>(BOOST_HANA_STRING("hdot"),
                                                   "hermetian dot product");
      }
      if constexpr (Algorithms::is_matrix<C0>::value) {
        registry.define<&Operations::ls<C0, C1>>(BOOST_HANA_STRING("ls"), "ls");
      }
      hana::for_each(containerSet<DataType>, [&](auto container2) {
        using C2 = typename decltype(container2)::type;
        constexpr bool allMatrices = Algorithms::is_matrix<C0>::value &&
                                     Algorithms::is_matrix<C1>::value &&
                                     Algorithms::is_matrix<C2>::value;
        if constexpr (allMatrices) {
          registry.define<&Operations::gemm<C0, C1, C2>>(BOOST_HANA_STRING("gemm"), "gemm");
          registry.define<&Operations::matmul<C0, C1, C2>>(BOOST_HANA_STRING("matmul"), "matmul");
        }
        registry.define<&Operations::matvec<C0, C1, C2>>(BOOST_HANA_STRING("matvec"), "matvec");
        registry.define<&Operations::gemv<C0, C1, C2>>(BOOST_HANA_STRING("gemv"), "gemv");
      });
    });
  });
}

}  // namespace Bindings
