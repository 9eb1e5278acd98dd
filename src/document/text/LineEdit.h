// A window-less editing engine for in-place text editing: a copy of the
// text with a caret and a selection, interpreting editing and navigation
// keys, typed characters and the clipboard keys. The shape that owns it
// stores the text after every change and answers caret moves between
// lines, which only it can work out from its layout.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kdl {

class TdtpLineEdit {
 public:
  using TNavigateEvent =
      std::function<std::int32_t(TdtpLineEdit& sender, std::int32_t pos, std::int32_t key)>;
  using TNotifyEvent = std::function<void(TdtpLineEdit& sender)>;

  TdtpLineEdit() = default;
  virtual ~TdtpLineEdit() = default;

  // Positions count UTF-16 units, 0 .. length.
  std::int32_t CaretPos() const { return caretPos_; }
  void SetCaretPos(std::int32_t value) { caretPos_ = value; }
  std::int32_t SelStart() const { return selStart_; }
  void SetSelStart(std::int32_t value) { selStart_ = value; }
  std::int32_t SelLength() const { return selLength_; }
  void SetSelLength(std::int32_t value) { selLength_ = value; }
  const std::u16string& Text() const { return text_; }

  TNavigateEvent OnNavigate;
  TNotifyEvent OnChange;

  // A different text puts the caret at its end and drops the selection;
  // OnChange either way.
  void SetText(const std::u16string& value);
  // Takes a text changed from outside without moving the caret further
  // than its new end, and without OnChange.
  void SyncText(const std::u16string& value);
  void SelectAll();
  std::u16string GetSelText() const;
  std::u16string CutSelText();
  void InsertText(const std::u16string& text);
  void Validate();
  std::int32_t NewCaretPos(std::int32_t pos, std::int32_t key);

  // Virtual-key numbers; Shift extends the selection.
  virtual void KeyDown(std::int32_t key, bool shift);
  // Typed characters; 3, 22 and 24 are Ctrl+C, Ctrl+V and Ctrl+X.
  virtual void KeyPress(char32_t character);
  virtual void KeyUp(std::int32_t /*key*/, bool /*shift*/) {}

 private:
  std::int32_t Length() const { return static_cast<std::int32_t>(text_.size()); }
  void Changed();

  std::int32_t caretPos_ = 0;
  std::int32_t selStart_ = 0;
  std::int32_t selLength_ = 0;
  std::u16string text_;
};

}  // namespace kdl
