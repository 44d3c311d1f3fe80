#pragma once

// The scalar kinds and container types that the Python modules expose, the
// position of each container class in registration order, and the texts
// that name them.

#include <boost/hana.hpp>

#include <complex>
#include <cstddef>

#include "../Types.hpp"

namespace Bindings {

namespace hana = boost::hana;

// The four kinds in registration order: scalar type, class-name suffix, the
// name of the element type (numpy's dtype name) and its struct code in a
// buffer's format.
constexpr auto kinds =
    hana::make_tuple(hana::make_tuple(hana::type_c<float>, BOOST_HANA_STRING("s"),
                                      BOOST_HANA_STRING("float32"), BOOST_HANA_STRING("f")),
                     hana::make_tuple(hana::type_c<double>, BOOST_HANA_STRING("d"),
                                      BOOST_HANA_STRING("float64"), BOOST_HANA_STRING("d")),
                     hana::make_tuple(hana::type_c<std::complex<float>>, BOOST_HANA_STRING("c"),
                                      BOOST_HANA_STRING("complex64"), BOOST_HANA_STRING("Zf")),
                     hana::make_tuple(hana::type_c<std::complex<double>>, BOOST_HANA_STRING("z"),
                                      BOOST_HANA_STRING("complex128"), BOOST_HANA_STRING("Zd")));

constexpr auto scalarTypes = hana::transform(kinds, hana::front);

template <class DataType>
constexpr auto kindRow =
    hana::find_if(kinds, hana::compose(hana::equal.to(hana::type_c<DataType>), hana::front))
        .value();

template <class DataType>
constexpr auto kindSuffix = hana::at_c<1>(kindRow<DataType>);
template <class DataType>
constexpr auto formatCode = hana::at_c<3>(kindRow<DataType>);

// A kind's container types, in registration order.
template <class DataType>
constexpr auto containerSet =
    hana::tuple_t<Algorithms::Vector<DataType>, Algorithms::VectorView<DataType>,
                  Algorithms::Matrix<DataType>>;

// Every container type, kind by kind, in registration order.
constexpr auto allContainers = hana::flatten(hana::transform(scalarTypes, [](auto scalarType) {
  return containerSet<typename decltype(scalarType)::type>;
}));

// Calls f with the hana type of every container, in registration order.
template <class F>
void for_each_container(F&& f) {
  hana::for_each(allContainers, f);
}

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

template <class C>
constexpr auto className = ClassPrefix<C>::value + kindSuffix<typename C::SampleType>;

constexpr std::size_t containersPerKind = hana::length(containerSet<float>);
constexpr std::size_t classCount = hana::length(kinds) * containersPerKind;

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

// Texts of the messages that name kinds and classes, composed at compile
// time: "a, b, c", or "a, b or c" with lastSeparator.
template <class Strings, class Separator>
constexpr auto joined(Strings strings, Separator separator) {
  return hana::fold_left(hana::drop_front(strings), hana::front(strings),
                         [separator](auto head, auto next) { return head + separator + next; });
}

template <class Strings, class Separator, class LastSeparator>
constexpr auto joined(Strings strings, Separator separator, LastSeparator lastSeparator) {
  return joined(hana::drop_back(strings), separator) + lastSeparator + hana::back(strings);
}

template <class Containers>
constexpr auto class_names(Containers containers) {
  return joined(
      hana::transform(containers, [](auto c) { return className<typename decltype(c)::type>; }),
      BOOST_HANA_STRING(", "));
}

// "vecs, views, mats, vecd, ...": every class.
constexpr auto classNames = class_names(allContainers);
// "float32, float64, complex64, complex128".
constexpr auto dtypeNames = joined(
    hana::transform(kinds, [](auto kind) { return hana::at_c<2>(kind); }), BOOST_HANA_STRING(", "));
// "'f', 'd', 'Zf' or 'Zd'".
constexpr auto formatCodes = joined(
    hana::transform(kinds,
                    [](auto kind) {
                      return BOOST_HANA_STRING("'") + hana::at_c<3>(kind) + BOOST_HANA_STRING("'");
                    }),
    BOOST_HANA_STRING(", "), BOOST_HANA_STRING(" or "));

}  // namespace Bindings
