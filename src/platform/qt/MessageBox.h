// The one place the document library tells the user something that is not
// an error of the operation at hand (an undo record nobody could replay).
// A message box by default; tests replace it with a recorder.
#pragma once

#include <functional>
#include <string>

namespace kdl {

void ShowMessage(const std::string& text);
// Replaces the display; nullptr restores the message box.
void SetMessageDisplay(std::function<void(const std::string&)> display);

}  // namespace kdl
