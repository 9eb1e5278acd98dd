#include "document/text/LineEdit.h"

#include "platform/qt/Clipboard.h"

#include <algorithm>

namespace kdl {

void TdtpLineEdit::Changed() {
  if (OnChange) OnChange(*this);
}

void TdtpLineEdit::SetText(const std::u16string& value) {
  if (value != text_) {
    text_ = value;
    caretPos_ = Length();
    selStart_ = 0;
    selLength_ = 0;
  }
  Changed();
}

void TdtpLineEdit::SyncText(const std::u16string& value) {
  text_ = value;
  Validate();
}

void TdtpLineEdit::SelectAll() {
  caretPos_ = Length();
  selStart_ = 0;
  selLength_ = Length();
  Changed();
}

std::u16string TdtpLineEdit::GetSelText() const {
  if (selLength_ <= 0 || selStart_ < 0 || selStart_ >= Length()) return {};
  return text_.substr(static_cast<std::size_t>(selStart_),
                      static_cast<std::size_t>(std::min(selLength_, Length() - selStart_)));
}

std::u16string TdtpLineEdit::CutSelText() {
  std::u16string cut = GetSelText();
  if (!cut.empty()) {
    text_.erase(static_cast<std::size_t>(selStart_), cut.size());
    caretPos_ = selStart_;
  }
  selLength_ = 0;
  return cut;
}

void TdtpLineEdit::InsertText(const std::u16string& text) {
  Validate();
  if (selLength_ > 0) {
    text_.erase(static_cast<std::size_t>(selStart_), static_cast<std::size_t>(selLength_));
    text_.insert(static_cast<std::size_t>(selStart_), text);
    caretPos_ = selStart_ + static_cast<std::int32_t>(text.size());
    selLength_ = 0;
  } else {
    text_.insert(static_cast<std::size_t>(caretPos_), text);
    caretPos_ += static_cast<std::int32_t>(text.size());
  }
}

void TdtpLineEdit::Validate() {
  caretPos_ = std::clamp(caretPos_, 0, Length());
  selStart_ = std::clamp(selStart_, 0, Length());
  selLength_ = std::clamp(selLength_, 0, Length() - selStart_);
}

std::int32_t TdtpLineEdit::NewCaretPos(std::int32_t pos, std::int32_t key) {
  if (OnNavigate) return OnNavigate(*this, pos, key);
  switch (key) {
    case 35: return Length();
    case 36: return 0;
    case 37:
    case 38: return pos - 1;
    case 39:
    case 40: return pos + 1;
    default: return pos;
  }
}

void TdtpLineEdit::KeyDown(std::int32_t key, bool shift) {
  Validate();
  switch (key) {
    case 8:
    case 46:
      if (selLength_ >= 1) {
        text_.erase(static_cast<std::size_t>(selStart_), static_cast<std::size_t>(selLength_));
        caretPos_ = selStart_;
        selLength_ = 0;
      } else if (key == 8) {
        if (caretPos_ > 0) {
          text_.erase(static_cast<std::size_t>(caretPos_ - 1), 1);
          --caretPos_;
        }
      } else if (caretPos_ < Length()) {
        text_.erase(static_cast<std::size_t>(caretPos_), 1);
      }
      break;
    case 13: InsertText(u"\r\n"); break;
    case 35:
    case 36:
    case 37:
    case 38:
    case 39:
    case 40: {
      const std::int32_t d = NewCaretPos(caretPos_, key) - caretPos_;
      if (shift) {
        if (selLength_ == 0) selStart_ = caretPos_;
        if (selStart_ == caretPos_) {
          selStart_ += d;
          selLength_ -= d;
        } else if (selStart_ + selLength_ == caretPos_) {
          selLength_ += d;
        }
        caretPos_ += d;
      } else {
        selLength_ = 0;
        caretPos_ += d;
      }
      if (selLength_ < 0) {
        selStart_ += selLength_;
        selLength_ = -selLength_;
      }
      break;
    }
    default: return;
  }
  Validate();
  Changed();
}

void TdtpLineEdit::KeyPress(char32_t character) {
  Validate();
  switch (character) {
    case 3: SetClipboardWideText(GetSelText()); break;
    case 22: InsertText(ClipboardWideText()); break;
    case 24: SetClipboardWideText(CutSelText()); break;
    default:
      if (character >= 32 && character != 127) {
        // Typed text stays Unicode: a character beyond the basic plane
        // goes in as its surrogate pair.
        std::u16string units;
        if (character > 0xFFFF && character <= 0x10FFFF) {
          const char32_t v = character - 0x10000;
          units.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
          units.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else if (character <= 0xFFFF) {
          units.push_back(static_cast<char16_t>(character));
        }
        InsertText(units);
      }
      break;
  }
  Validate();
  Changed();
}

}  // namespace kdl
