// The system clipboard's text, UTF-8 on our side. Empty without a GUI
// application or when the clipboard holds no text.
#pragma once

#include <string>

namespace kdl {

std::string ClipboardText();
void SetClipboardText(const std::string& text);
// The same text in UTF-16, for the in-place text editor.
std::u16string ClipboardWideText();
void SetClipboardWideText(const std::u16string& text);

}  // namespace kdl
