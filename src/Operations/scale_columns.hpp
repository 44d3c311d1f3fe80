#pragma once

#include "Operations.hpp"
#include "scale_rows.hpp"

namespace Algorithms {

template <class T, class S>
S& Operations::scale_columns(const T& d, S& A) {
  return scale_lines<false>("scale_columns", d, A);
}

}  // namespace Algorithms
