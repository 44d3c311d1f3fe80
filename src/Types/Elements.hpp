#pragma once

#include <memory>
#include <utility>

#include "Storage.hpp"

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

  // A new vector or matrix of the given extents whose elements are not set:
  // for a caller that writes every one of them before the container is used.
  template <class C, class... Extents>
  static C unset(Extents... extents) {
    return C(extents..., detail::Contents::unset);
  }

  // A vector or matrix of the given extents over elements that its caller
  // provides: data must address numel elements and keeps them alive for as
  // long as any share of it is held (its owner says how they are given back).
  template <class C, class... Extents>
  static C over(std::shared_ptr<typename C::SampleType[]> data, Extents... extents) {
    return C(extents..., std::move(data));
  }
};

}  // namespace Algorithms
