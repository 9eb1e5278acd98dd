// Records what reaches the error display while it lives, instead of a
// message box, and restores the box afterwards.
#pragma once

#include <string>
#include <vector>

#include "platform/qt/ErrorDisplay.h"

namespace kdl::test {

struct ShownErrors {
  ShownErrors() { SetErrorDisplay([this](const std::string& m) { Messages.push_back(m); }); }
  ~ShownErrors() { SetErrorDisplay(nullptr); }
  ShownErrors(const ShownErrors&) = delete;
  ShownErrors& operator=(const ShownErrors&) = delete;
  std::vector<std::string> Messages;
};

}  // namespace kdl::test
