// The common base of text-bearing shapes: the text, its font, alignment,
// auto-size and word wrap, and a layout of spans (one per laid-out line)
// measured in millimetres at a fixed resolution. Measuring and drawing are
// left to the kinds, so that one layout serves every renderer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/effects/EffectShape.h"
#include "platform/FontStyles.h"
// crDtpCrossText, the insertion cursor of text shapes.
#include "platform/qt/Cursors.h"
#include "raster/Types.h"
#include "platform/qt/Cursors.h"

namespace kdl {

class TTimer;
class TdtpLineEdit;
class TdtpTextBaseShape;

// The layout is computed at 300 dpi whatever the zoom or the printer.
inline constexpr double kMeasureDpm = 300.0 / 25.4;

struct TdtpTextSize {
  float Width = 0;
  float Height = 0;
};

// One laid-out line: CharPos is 1-based into the owner's text; the rest is
// in mm from the frame's top-left corner.
class TdtpTextSpan {
 public:
  explicit TdtpTextSpan(TdtpTextBaseShape* owner = nullptr) : owner_(owner) {}

  std::int32_t CharPos = 0;
  std::int32_t CharCount = 0;
  float Top = 0;
  float Left = 0;
  float Height = 0;
  float Width = 0;

  TdtpTextBaseShape* Owner() const { return owner_; }
  // The span's characters; empty without owner.
  std::u16string Text() const;
  void SaveToXml(TXmlNode* node) const;
  void LoadFromXml(TXmlNode* node);

 private:
  TdtpTextBaseShape* owner_ = nullptr;
};

class TdtpTextBaseShape : public TdtpEffectShape {
 public:
  ~TdtpTextBaseShape() override;

  std::string ClassName() const override { return "TdtpTextBaseShape"; }

  // ---- Layout -------------------------------------------------------------------
  int GetSpanCount() const { return static_cast<int>(spans_.size()); }
  // Nil out of range.
  TdtpTextSpan* GetSpan(int index) const;
  virtual TdtpTextSpan* AddSpan();
  // Readies the measuring font before a layout pass.
  virtual void PrepareMeasure() {}
  // The distance between consecutive spans, mm.
  virtual float GetLineHeight();
  // Width and height (mm) of count characters from the 1-based pos; of "W"
  // for no characters.
  virtual TdtpTextSize MeasureText(std::int32_t charPos, std::int32_t charCount) = 0;
  virtual void Relayout();
  // The laid-out text's size: the widest span by the lines' height for
  // multi-line shapes, else the only span's size.
  TdtpTextSize GetTextExtent();

  // ---- Font and text ------------------------------------------------------------
  virtual const std::string& GetFontName() const { return fontName_; }
  virtual void SetFontName(const std::string& value);
  // The character height in mm.
  virtual float GetFontHeight() const { return fontHeight_; }
  virtual void SetFontHeight(float value);
  virtual TFontStyles GetFontStyle() const { return fontStyle_; }
  virtual void SetFontStyle(TFontStyles value);
  virtual TColor GetFontColor() const { return fontColor_; }
  virtual void SetFontColor(TColor value);
  const std::u16string& Text() const { return text_; }
  virtual void SetText(const std::u16string& value);
  float GetFontSizePt() const { return GetFontHeight() * 72.0f / 25.4f; }
  void SetFontSizePt(float pt) { SetFontHeight(pt * 25.4f / 72.0f); }

  // ---- Settings -------------------------------------------------------------------
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  // 0 left, 1 right, 2 centre.
  std::uint8_t Alignment() const { return alignment_; }
  void SetAlignment(std::uint8_t value);
  // 0 top, 1 centre, 2 bottom.
  std::uint8_t VertAlign() const { return vertAlign_; }
  void SetVertAlign(std::uint8_t value);
  // Effective only on multi-line shapes.
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  bool UseKerning() const { return useKerning_; }
  void SetUseKerning(bool value);
  float WordSpacing() const { return wordSpacing_; }
  void SetWordSpacing(float value);
  // A fraction of the font height added after each character.
  float CharacterSpacing() const { return characterSpacing_; }
  void SetCharacterSpacing(float value);
  bool MultiLine() const { return multiLine_; }
  bool ScaleFontOnResize() const { return scaleFontOnResize_; }

  // ---- Editing state ----------------------------------------------------------------
  bool CaretHidden() const { return caretHidden_; }
  std::int32_t CaretPos() const { return caretPos_; }
  void SetCaretPos(std::int32_t value);
  std::int32_t SelStart() const { return selStart_; }
  void SetSelStart(std::int32_t value);
  std::int32_t SelLength() const { return selLength_; }
  void SetSelLength(std::int32_t value);
  // The text when editing began.
  const std::u16string& SavedText() const { return savedText_; }
  // The caret before each character and after the last (mm, frame space),
  // and the span holding each of those positions (-1: none).
  const std::vector<TFloatPoint>& CharPositions() const { return charPositions_; }
  const std::vector<std::int32_t>& SpanOfChar() const { return spanOfChar_; }
  virtual void BuildCharPositions();
  // Readies the rendering font for scale pixels per mm.
  virtual void PrepareRender(double /*scale*/) {}
  // Fills CharPositions for one span, relative to the span.
  virtual void LayoutSpanChars(TdtpTextSpan& /*span*/, double /*scale*/) {}

  // ---- In-place editing (TextEditing.cpp) ----------------------------------------------
  void BeginEdit() override;
  void EndEdit(bool accept) override;
  void KeyDown(std::int32_t& key, const TdtpMouseInfo& keys) override;
  void KeyPress(char32_t& character) override;
  void KeyUp(std::int32_t& key, const TdtpMouseInfo& keys) override;
  void DblClick(const TdtpMouseInfo& mouse) override;
  void MouseDown(const TdtpMouseInfo& mouse) override;
  // While edited: the hatched selection and the caret; else the handles.
  void DrawHandles(QPainter& canvas) override;
  // Takes the editor's text, selection and caret after each of its keys.
  void EditorChanged();
  // The editor's caret moves, worked out from the layout.
  std::int32_t NavigateCaret(std::int32_t pos, std::int32_t key);
  // The position of the span nearest to x (mm); -1 without such a span.
  std::int32_t ClosestCharInSpan(int spanIndex, float x) const;
  // The caret timer's tick: blinks the caret.
  void CaretTick();
  TdtpLineEdit* Editor() const { return editor_.get(); }
  TTimer* CaretTimer() const { return caretTimer_.get(); }

  // ---- Shape overrides ----------------------------------------------------------------
  // A pasted copy lands one line lower.
  TFloatPoint GetPasteOffset() const override;
  void SetDocSize(float width, float height) override;
  // The margins reach as far as the text's ink, which may overhang the
  // advances and the descent, so that caches and repaints hold it whole.
  void AdjustMargins(float& left, float& top, float& right, float& bottom) const override;
  // The ink of the laid-out text, mm in frame space; empty (Right <= Left)
  // without ink.
  const TFloatRect& InkBounds() const { return ink_; }
  void SetPropertyText(const std::string& propName, const std::string& value) override;
  void SaveToXml(TXmlNode* node) override;
  void LoadFromXml(TXmlNode* node) override;

 protected:
  TdtpTextBaseShape(bool multiLine, bool scaleFontOnResize);

  // Splits the text into spans and measures them; sizes the frame when
  // auto-sizing; places the spans.
  void BuildSpans();
  void DoLayout();
  void PositionSpans();
  // The box the span's glyphs ink, mm from the span's top-left corner;
  // empty without ink. The base takes the measured box.
  virtual TFloatRect MeasureInk(const TdtpTextSpan& span);
  const std::vector<std::unique_ptr<TdtpTextSpan>>& Spans() const { return spans_; }

  std::vector<TFloatPoint> charPositions_;
  std::vector<std::int32_t> spanOfChar_;

 private:
  // Appends the spans of one line (1-based start, length) cut to the width.
  void WrapLine(std::int32_t start, std::int32_t length);
  // Stored spans that do not fit the text or carry no usable size.
  bool ClampStoredSpans();
  // Takes the ink of the placed spans and the margins that follow it.
  void UpdateInk();

  std::vector<std::unique_ptr<TdtpTextSpan>> spans_;
  TFloatRect ink_;
  bool autoSize_ = true;
  bool inLayout_ = false;
  std::string fontName_ = "Arial";
  float fontHeight_ = 12.0f;
  TFontStyles fontStyle_ = 0;
  TColor fontColor_ = 0;
  std::u16string text_;
  std::uint8_t alignment_ = 0;
  std::uint8_t vertAlign_ = 0;
  bool caretHidden_ = false;
  std::int32_t caretPos_ = 0;
  std::unique_ptr<TTimer> caretTimer_;
  std::unique_ptr<TdtpLineEdit> editor_;
  // The editor is storing its text: no copy goes back to it.
  bool editorChanging_ = false;
  std::u16string savedText_;
  std::int32_t selStart_ = 0;
  std::int32_t selLength_ = 0;
  bool useKerning_ = false;
  float wordSpacing_ = 0;
  float characterSpacing_ = 0;
  bool scaleFontOnResize_ = true;
  bool multiLine_ = false;
  bool wordWrap_ = false;
};

}  // namespace kdl
