#pragma once

#include <stdexcept>
#include <string>

namespace Algorithms {

// Raised when an operand has a container type the operation cannot take;
// the binding layer reports it as a type error.
class operand_type_error : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

namespace detail {

// Every failure of an operation names the operation first: "In NAME, WHAT".
inline std::string message(const char* name, const std::string& what) {
  return std::string("In ") + name + ", " + what;
}

// Refuses the call: a runtime_error with that message.
[[noreturn]] inline void fail(const char* name, const std::string& what) {
  throw std::runtime_error(message(name, what));
}

// Refuses an argument's value: an invalid_argument with that message, which the binding layer
// reports as a value error.
[[noreturn]] inline void fail_value(const char* name, const std::string& what) {
  throw std::invalid_argument(message(name, what));
}

}  // namespace detail
}  // namespace Algorithms
