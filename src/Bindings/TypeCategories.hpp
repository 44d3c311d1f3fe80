#pragma once

// What the instances of a type other than float, int and complex are to the
// scalar conversion (ScalarRule.hpp), cached per type, since the checks
// against the numbers ABCs are slow.

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "FirstUse.hpp"

namespace Bindings {

// Float or complex values (subclasses, read directly), real numbers (int
// subclasses and types registered as numbers.Real, converted through float()
// by every kind), complex numbers (registered as numbers.Complex only),
// objects that hold complex numbers when their buffer says so, and other
// numbers.
enum class Category : unsigned char {
  floatValue,
  complexValue,
  realNumber,
  complexNumber,
  byBuffer,
  otherNumber
};

// The categories of the types met. An entry stands for its type as it was
// when the entry was made: Python changes a type's version tag whenever the
// type or one of its bases changes, and no two types share a tag. A verdict
// that rests on the type alone (float, complex and int subclasses) or on a
// registration as numbers.Real, which is never undone (Python's own ABCs
// keep such answers for good), holds as long as the tag. Any other verdict
// changes when the type is registered with a numbers ABC, which leaves the
// tag as it is: its entry also holds abc.get_cache_token(), which every
// registration changes, and fails the fast comparison below, so that the
// out-of-line path checks it, reading the token once per conversion.
class CategoryCache {
 public:
  // Returns false with the Python error set when the category cannot be
  // made.
  bool find(PyTypeObject* type, Category& out) {
    const Entry& entry = m_entries[slot(type)];
    if (entry.type == type && entry.version == type->tp_version_tag) {
      out = entry.category;
      return true;
    }
    return miss(type, out);
  }

 private:
  // judged is the type, and version its tag, for every verdict; type is
  // the type too for a lasting verdict, and nullptr, which no type is, for
  // one that also needs the token.
  struct Entry {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;
    Category category = Category::otherNumber;
    PyTypeObject* judged = nullptr;
    unsigned long long token = 0;
  };

  // Besides float, int and complex, which never reach the cache, a program
  // converts values of a handful of types (numpy's scalars, Fraction,
  // Decimal, a class of its own); sixteen entries hold them with few
  // collisions, and a hit costs one comparison whatever the size.
  static constexpr std::size_t entryCount = 16;
  // Type objects are hundreds of bytes long and heap types start on 16-byte
  // boundaries, so the low four bits of their addresses tell no two types
  // apart; shifted out, neighbouring types land in different entries.
  static constexpr unsigned int alignmentBits = 4;

  static std::size_t slot(PyTypeObject* type) {
    return (reinterpret_cast<std::uintptr_t>(type) >> alignmentBits) % entryCount;
  }

  // Out of line, so that a hit costs no more than the comparisons above.
  [[gnu::noinline]] bool miss(PyTypeObject* type, Category& out) {
    if (type->tp_version_tag == 0) {
      assign_version_tag(type);
    }
    const unsigned int version = type->tp_version_tag;
    unsigned long long token = 0;
    if (!cache_token(token)) {
      return false;
    }
    Entry& entry = m_entries[slot(type)];
    if (version != 0 && entry.judged == type && entry.version == version && entry.token == token) {
      out = entry.category;
      return true;
    }
    if (!categorise(type, out)) {
      return false;
    }
    if (version != 0 && type->tp_version_tag == version) {
      const bool lasting = out == Category::floatValue || out == Category::complexValue ||
                           out == Category::realNumber;
      entry = Entry{lasting ? type : nullptr, version, out, type, token};
    }
    return true;
  }

  // abc.get_cache_token(), which changes with every registration with an
  // ABC.
  bool cache_token(unsigned long long& out) {
    PyObject* function = imported(m_tokenFunction, "abc", "get_cache_token");
    if (function == nullptr) {
      return false;
    }
    PyObject* token = PyObject_CallNoArgs(function);
    if (token == nullptr) {
      return false;
    }
    out = PyLong_AsUnsignedLongLong(token);
    Py_DECREF(token);
    return !(out == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr);
  }

  // Gives a type the version tag that the cache keys on, when it has none
  // yet: a type that no attribute lookup has reached has none.
  void assign_version_tag(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030C0000
    PyUnstable_Type_AssignVersionTag(type);
#else
    // A lookup through the type's method cache assigns the tag. Python 3.11
    // only: this branch goes when 3.11 is no longer supported.
    if (m_lookupName == nullptr) {
      m_lookupName = PyUnicode_InternFromString("__float__");
    }
    if (m_lookupName == nullptr) {
      PyErr_Clear();
    } else {
      _PyType_Lookup(type, m_lookupName);
    }
#endif
  }

  bool categorise(PyTypeObject* type, Category& out) {
    auto* cls = reinterpret_cast<PyObject*>(type);
    if (PyType_IsSubtype(type, &PyFloat_Type) != 0) {
      out = Category::floatValue;
    } else if (PyType_IsSubtype(type, &PyComplex_Type) != 0) {
      out = Category::complexValue;
    } else if (PyType_IsSubtype(type, &PyLong_Type) != 0) {
      out = Category::realNumber;
    } else {
      PyObject* realAbc = imported(m_realAbc, "numbers", "Real");
      PyObject* complexAbc =
          realAbc == nullptr ? nullptr : imported(m_complexAbc, "numbers", "Complex");
      if (complexAbc == nullptr) {
        return false;
      }
      const int real = PyObject_IsSubclass(cls, realAbc);
      const int complex = real != 0 ? 0 : PyObject_IsSubclass(cls, complexAbc);
      if (real < 0 || complex < 0) {
        return false;
      }
      const bool buffer =
          type->tp_as_buffer != nullptr && type->tp_as_buffer->bf_getbuffer != nullptr;
      out = real != 0      ? Category::realNumber
            : complex != 0 ? Category::complexNumber
            : buffer       ? Category::byBuffer
                           : Category::otherNumber;
    }
    return true;
  }

  std::array<Entry, entryCount> m_entries{};
  PyObject* m_realAbc = nullptr;
  PyObject* m_complexAbc = nullptr;
  PyObject* m_tokenFunction = nullptr;
#if PY_VERSION_HEX < 0x030C0000
  PyObject* m_lookupName = nullptr;
#endif
};

}  // namespace Bindings
