#pragma once

#include <memory>

namespace Algorithms {

// What code outside the operations needs to hand a container's elements on:
// the address of its first element (for a view, the first of its window),
// carried by a share of the container's storage, so the elements stay
// alive for as long as that share is held, whatever becomes of the
// container.
struct Elements {
  template <class C>
  static std::shared_ptr<typename C::SampleType> share(const C& container) {
    return std::shared_ptr<typename C::SampleType>(container.m_data, container.get());
  }
};

}  // namespace Algorithms
