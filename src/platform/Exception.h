// The one base of every exception the program raises: it carries the
// message text that is shown to the user.
#pragma once

#include <stdexcept>
#include <string>

namespace kdl {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Declares a named exception class that derives from Base and keeps the
// base's constructor.
#define KDL_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {              \
   public:                                \
    using Base::Base;                     \
  }

// A value that cannot be converted to or from its text or another type.
KDL_DECLARE_EXCEPTION(EConvertError, Exception);

}  // namespace kdl
