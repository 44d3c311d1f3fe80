#pragma once

// The positions of vexa's container classes by their type objects, found in
// constant time: a call's front looks up the class of every container
// argument, and a scan of the class table would cost more the later a class
// stands in it. The index is a table of entries that no two classes share,
// addressed by the top bits of the type object's address times a multiplier
// chosen when the table is filled, so a lookup is one multiplication and one
// comparison.

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace Bindings {

class ClassIndex {
 public:
  // The position of type in the table the index was filled from, or -1.
  int find(const PyTypeObject* type) const {
    const Entry& entry = m_entries[slot(type, m_multiplier)];
    return entry.type == type ? entry.position : -1;
  }

  // Fills the index from a class table, whose null entries (classes not
  // registered yet) it leaves out. With four times as many entries as
  // classes, about one multiplier in three keeps the classes apart; the
  // sequence tried is the same in every process.
  template <std::size_t N>
  void fill(PyTypeObject* const (&classes)[N]) {
    static_assert(4 * N <= entryCount, "too many classes for the index");
    std::uint64_t seed = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
      const std::uint64_t multiplier = next_multiplier(seed);
      std::array<Entry, entryCount> entries{};
      bool apart = true;
      for (std::size_t i = 0; i < N && apart; ++i) {
        if (classes[i] != nullptr) {
          Entry& entry = entries[slot(classes[i], multiplier)];
          apart = entry.type == nullptr;
          entry = Entry{classes[i], static_cast<int>(i)};
        }
      }
      if (apart) {
        m_entries = entries;
        m_multiplier = multiplier;
        return;
      }
    }
    throw std::logic_error("no multiplier keeps vexa's classes apart in their index");
  }

 private:
  struct Entry {
    const PyTypeObject* type = nullptr;
    int position = -1;
  };

  static constexpr unsigned int bits = 6;
  static constexpr std::size_t entryCount = std::size_t{1} << bits;
  static constexpr int attempts = 1000;

  static std::size_t slot(const PyTypeObject* type, std::uint64_t multiplier) {
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(type));
    return static_cast<std::size_t>((address * multiplier) >> (64 - bits));
  }

  // Odd multipliers from splitmix64, a well-mixed sequence.
  static std::uint64_t next_multiplier(std::uint64_t& seed) {
    std::uint64_t z = (seed += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return (z ^ (z >> 31)) | 1u;
  }

  std::array<Entry, entryCount> m_entries{};
  std::uint64_t m_multiplier = 1;
};

}  // namespace Bindings
