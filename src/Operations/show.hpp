#pragma once

#include <cstddef>
#include <ios>
#include <ostream>

#include "../Types/Traits.hpp"
#include "Operations.hpp"

namespace Algorithms {
namespace detail {

template <class StreamType, class Value>
void write_element(StreamType& output, const Value& v) {
  output.width(14);
  output.setf(std::ios_base::scientific, std::ios_base::floatfield);
  output.precision(14);
  output << v;
}

}  // namespace detail

// A header line with the size, then one line per vector element or matrix
// row; rows of five or more columns show columns 0 to 2, "..." and the last.
// A matrix without columns is the header alone, so that the text stays
// proportional to the element count.
template <class T, class StreamType>
void Operations::show(const T& x, StreamType& output) {
  if constexpr (is_matrix<T>::value) {
    const size_t rows = x.template dim<0>();
    const size_t columns = x.template dim<1>();
    output << "Matrix of size: (" << rows << ", " << columns << ")" << std::endl;
    for (size_t i = 0; columns > 0 && i < rows; ++i) {
      output << "[";
      const size_t leading = columns - 1 < 3 ? columns - 1 : 3;
      for (size_t j = 0; j < leading; ++j) {
        detail::write_element(output, x[{i, j}]);
        output << ", ";
      }
      if (columns > 4) {
        output << "..., ";
      }
      detail::write_element(output, x[{i, columns - 1}]);
      output << "]" << std::endl;
    }
  } else {
    output << "Column vector of size: " << x.numel() << std::endl;
    for (size_t i = 0; i < x.numel(); ++i) {
      output << "[";
      detail::write_element(output, x[i]);
      output << "]" << std::endl;
    }
  }
}

}  // namespace Algorithms
