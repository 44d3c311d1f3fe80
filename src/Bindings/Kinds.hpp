#pragma once

// The scalar kinds and container types that the Python modules expose, and
// the position of each container class in registration order.

#include <boost/hana.hpp>

#include <complex>
#include <cstddef>

#include "../Types.hpp"

namespace Bindings {

namespace hana = boost::hana;

// The four kinds in registration order: scalar type and class-name suffix.
constexpr auto typeSet =
    hana::make_tuple(hana::make_pair(hana::type_c<float>, hana::string_c<'s'>),
                     hana::make_pair(hana::type_c<double>, hana::string_c<'d'>),
                     hana::make_pair(hana::type_c<std::complex<float>>, hana::string_c<'c'>),
                     hana::make_pair(hana::type_c<std::complex<double>>, hana::string_c<'z'>));

constexpr auto scalarTypes = hana::transform(typeSet, hana::first);

// A kind's container types, in registration order.
template <class DataType>
constexpr auto containerSet =
    hana::tuple_t<Algorithms::Vector<DataType>, Algorithms::VectorView<DataType>,
                  Algorithms::Matrix<DataType>>;

template <class T>
constexpr bool is_complex = false;
template <class T>
constexpr bool is_complex<std::complex<T>> = true;

template <class C>
constexpr bool is_container = false;
template <class T>
constexpr bool is_container<Algorithms::Vector<T>> = true;
template <class T>
constexpr bool is_container<Algorithms::VectorView<T>> = true;
template <class T>
constexpr bool is_container<Algorithms::Matrix<T>> = true;

// A container's class name: a prefix for its type of container and its
// kind's suffix, "vec" + "d" for Vector<double>.
template <class C>
struct ClassPrefix;
template <class T>
struct ClassPrefix<Algorithms::Vector<T>> {
  static constexpr auto value = hana::string_c<'v', 'e', 'c'>;
};
template <class T>
struct ClassPrefix<Algorithms::VectorView<T>> {
  static constexpr auto value = hana::string_c<'v', 'i', 'e', 'w'>;
};
template <class T>
struct ClassPrefix<Algorithms::Matrix<T>> {
  static constexpr auto value = hana::string_c<'m', 'a', 't'>;
};

template <class DataType>
constexpr auto kindSuffix = hana::second(
    hana::find_if(typeSet, hana::compose(hana::equal.to(hana::type_c<DataType>), hana::first))
        .value());

template <class C>
constexpr auto className = ClassPrefix<C>::value + kindSuffix<typename C::SampleType>;

constexpr std::size_t containersPerKind = hana::length(containerSet<float>);
constexpr std::size_t classCount = hana::length(typeSet) * containersPerKind;

// Classes are registered kind by kind, each kind's containers in turn, so a
// container's position in that order follows from its kind and its type.
template <class C>
constexpr std::size_t class_index() {
  using DataType = typename C::SampleType;
  constexpr auto kind = hana::index_if(scalarTypes, hana::equal.to(hana::type_c<DataType>));
  constexpr auto container =
      hana::index_if(containerSet<DataType>, hana::equal.to(hana::type_c<C>));
  return hana::value(kind.value()) * containersPerKind + hana::value(container.value());
}

}  // namespace Bindings
