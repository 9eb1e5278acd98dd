// The one place an error that reached the top of an event handler is shown.
// Handlers catch everything (no exception may cross Qt's event loop) and
// pass it here; tests replace the display with a recorder.
#pragma once

#include <functional>
#include <string>

namespace kdl {

// Shows the message (a modal message box unless replaced).
void ShowError(const std::string& message);
// Shows the exception being handled; call only inside a catch block.
void ShowCurrentException();
// Replaces the display; nullptr restores the message box.
void SetErrorDisplay(std::function<void(const std::string&)> display);

}  // namespace kdl
