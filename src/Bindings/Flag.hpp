#pragma once

// One-character flags (a BLAS routine's trans, uplo, ...), which the core
// takes as char and checks itself: on both routes a str of length 1 gives
// its character, and any other str gives '\0', which the core refuses with
// the parameter's allowed values. An object that is no str is no flag, and
// matches no overload.

#include <pybind11/pybind11.h>

namespace Bindings {

// The flag that a str gives; '\0' for a str of another length, and for a
// character that no char holds.
inline char flag_of(PyObject* str) {
  if (PyUnicode_GET_LENGTH(str) != 1) {
    return '\0';
  }
  const Py_UCS4 character = PyUnicode_READ_CHAR(str, 0);
  return character < 128 ? static_cast<char>(character) : '\0';
}

// The overload chain's flag parameter.
struct FlagArg {
  char value;
  operator char() const { return value; }

  bool load(PyObject* obj) {
    if (!PyUnicode_Check(obj)) {
      return false;
    }
    value = flag_of(obj);
    return true;
  }
};

}  // namespace Bindings

namespace pybind11::detail {

// Named as pybind11's own conversion of char, so signatures and docstrings
// read "str".
template <>
struct type_caster<Bindings::FlagArg> {
  PYBIND11_TYPE_CASTER(Bindings::FlagArg, make_caster<char>::name);

  bool load(handle src, bool) { return value.load(src.ptr()); }
};

}  // namespace pybind11::detail
