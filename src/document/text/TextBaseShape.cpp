#include "document/text/TextBaseShape.h"

#include <strings.h>

#include <algorithm>
#include <cmath>

#include "document/shapes/Command.h"
#include "document/shapes/ShapeValues.h"
#include "document/text/LineEdit.h"
#include "foundation/Encoding.h"
#include "foundation/WidestringList.h"
#include "foundation/XmlNode.h"
#include "platform/qt/Timer.h"

namespace kdl {

namespace {

bool SameText(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Blanks that wrapping trims from a line's end and skips between spans: the
// same set on both sides, so a span never ends short of a blank that the
// skip then refuses to pass.
bool IsBlank(char16_t c) { return c <= u' '; }

}  // namespace

// ---- Span ---------------------------------------------------------------------------

std::u16string TdtpTextSpan::Text() const {
  if (!owner_) return {};
  return WideCopy(owner_->Text(), CharPos, CharCount);
}

void TdtpTextSpan::SaveToXml(TXmlNode* node) const {
  if (!node) return;
  node->WriteInteger("CharPos", CharPos, 0);
  node->WriteInteger("CharCount", CharCount, 0);
  node->WriteFloat("Width", Width, 0);
  node->WriteFloat("Height", Height, 0);
}

void TdtpTextSpan::LoadFromXml(TXmlNode* node) {
  if (!node) return;
  CharPos = node->ReadInteger("CharPos", 0);
  CharCount = node->ReadInteger("CharCount", 0);
  Width = static_cast<float>(node->ReadFloat("Width", 0));
  Height = static_cast<float>(node->ReadFloat("Height", 0));
}

// ---- Shape --------------------------------------------------------------------------

TdtpTextBaseShape::TdtpTextBaseShape(bool multiLine, bool scaleFontOnResize)
    : scaleFontOnResize_(scaleFontOnResize), multiLine_(multiLine) {
  SetCursor(crDtpCrossText);
}

TdtpTextBaseShape::~TdtpTextBaseShape() = default;

TdtpTextSpan* TdtpTextBaseShape::GetSpan(int index) const {
  if (index < 0 || index >= GetSpanCount()) return nullptr;
  return spans_[static_cast<std::size_t>(index)].get();
}

TdtpTextSpan* TdtpTextBaseShape::AddSpan() {
  spans_.push_back(std::make_unique<TdtpTextSpan>(this));
  return spans_.back().get();
}

float TdtpTextBaseShape::GetLineHeight() { return GetFontHeight() * 1.0f; }

void TdtpTextBaseShape::Relayout() {
  Invalidate();
  DoLayout();
  UpdateAll();
  Changed();
}

TdtpTextSize TdtpTextBaseShape::GetTextExtent() {
  if (multiLine_) {
    float w = 0;
    for (const auto& s : spans_) w = std::max(w, s->Width);
    return {w, static_cast<float>(spans_.size()) * GetLineHeight()};
  }
  if (spans_.empty()) return {};
  return {spans_.front()->Width, spans_.front()->Height};
}

// ---- Setters ------------------------------------------------------------------------

void TdtpTextBaseShape::SetText(const std::u16string& value) {
  if (value == text_) return;
  RecordUndo(ckPropertyChanged, "Text", WideToUtf8(text_));
  text_ = value;
  SetPlaceHolderVisible(text_.empty());
  Relayout();
  // A change from outside (undo, the application) while editing reaches
  // the editor, or its next key would write the old text back.
  if (editor_ && !editorChanging_) {
    editor_->SyncText(text_);
    SetSelStart(editor_->SelStart());
    SetSelLength(editor_->SelLength());
    SetCaretPos(editor_->CaretPos());
  }
}

void TdtpTextBaseShape::SetFontName(const std::string& value) {
  if (value == fontName_) return;
  RecordUndo(ckPropertyChanged, "FontName", fontName_);
  fontName_ = value;
  Relayout();
}

void TdtpTextBaseShape::SetFontHeight(float value) {
  if (value == fontHeight_ || !std::isfinite(value)) return;
  RecordUndoFloat(ckPropertyChanged, "FontHeight", fontHeight_);
  fontHeight_ = value;
  Relayout();
}

void TdtpTextBaseShape::SetFontStyle(TFontStyles value) {
  if (value == fontStyle_) return;
  RecordUndoFontStyle(ckPropertyChanged, "FontStyle", fontStyle_);
  fontStyle_ = value;
  Relayout();
}

void TdtpTextBaseShape::SetFontColor(TColor value) {
  if (value == fontColor_) return;
  RecordUndoInt(ckPropertyChanged, "FontColor", fontColor_);
  fontColor_ = value;
  Update();
  Changed();
}

void TdtpTextBaseShape::SetAlignment(std::uint8_t value) {
  if (value == alignment_) return;
  RecordUndoInt(ckPropertyChanged, "Alignment", alignment_);
  alignment_ = value;
  PositionSpans();
  UpdateAll();
}

void TdtpTextBaseShape::SetVertAlign(std::uint8_t value) {
  if (value == vertAlign_) return;
  RecordUndoInt(ckPropertyChanged, "VertAlign", vertAlign_);
  vertAlign_ = value;
  PositionSpans();
  UpdateAll();
  Changed();
}

void TdtpTextBaseShape::SetAutoSize(bool value) {
  if (value == autoSize_) return;
  RecordUndoBool(ckPropertyChanged, "AutoSize", autoSize_);
  autoSize_ = value;
  Invalidate();
  if (value) Relayout();
}

void TdtpTextBaseShape::SetWordWrap(bool value) {
  if (value == wordWrap_) return;
  RecordUndoBool(ckPropertyChanged, "WordWrap", wordWrap_);
  wordWrap_ = value;
  Relayout();
  Changed();
}

void TdtpTextBaseShape::SetUseKerning(bool value) {
  if (value == useKerning_) return;
  RecordUndoBool(ckPropertyChanged, "UseKerning", useKerning_);
  useKerning_ = value;
  Relayout();
}

void TdtpTextBaseShape::SetWordSpacing(float value) {
  if (value == wordSpacing_ || !std::isfinite(value)) return;
  RecordUndoFloat(ckPropertyChanged, "WordSpacing", wordSpacing_);
  wordSpacing_ = value;
  Relayout();
}

void TdtpTextBaseShape::SetCharacterSpacing(float value) {
  if (value == characterSpacing_ || !std::isfinite(value)) return;
  RecordUndoFloat(ckPropertyChanged, "CharacterSpacing", characterSpacing_);
  characterSpacing_ = value;
  Relayout();
}

void TdtpTextBaseShape::SetCaretPos(std::int32_t value) {
  if (value == caretPos_) return;
  caretPos_ = value;
  Invalidate();
}

void TdtpTextBaseShape::SetSelStart(std::int32_t value) {
  if (value == selStart_) return;
  selStart_ = value;
  Invalidate();
}

void TdtpTextBaseShape::SetSelLength(std::int32_t value) {
  if (value == selLength_) return;
  selLength_ = value;
  Invalidate();
}

TFloatPoint TdtpTextBaseShape::GetPasteOffset() const {
  return {0, const_cast<TdtpTextBaseShape*>(this)->GetLineHeight()};
}

void TdtpTextBaseShape::SetPropertyText(const std::string& propName, const std::string& value) {
  TdtpEffectShape::SetPropertyText(propName, value);
  if (SameText(propName, "AutoSize")) SetAutoSize(TextToBool(value));
  if (SameText(propName, "Text")) SetText(Utf8ToWide(value));
  if (SameText(propName, "FontName")) SetFontName(value);
  if (SameText(propName, "FontStyle")) SetFontStyle(TextToFontStyles(value));
  if (SameText(propName, "FontHeight")) SetFontHeight(static_cast<float>(StrToFloat(value)));
  if (SameText(propName, "FontColor")) SetFontColor(StrToInt(value));
  if (SameText(propName, "Alignment")) SetAlignment(static_cast<std::uint8_t>(StrToInt(value)));
  if (SameText(propName, "VertAlign")) SetVertAlign(static_cast<std::uint8_t>(StrToInt(value)));
  if (SameText(propName, "WordWrap")) SetWordWrap(TextToBool(value));
  if (SameText(propName, "WordSpacing")) SetWordSpacing(static_cast<float>(StrToFloat(value)));
  if (SameText(propName, "UseKerning")) SetUseKerning(TextToBool(value));
  if (SameText(propName, "CharacterSpacing"))
    SetCharacterSpacing(static_cast<float>(StrToFloat(value)));
}

// ---- Layout -------------------------------------------------------------------------

void TdtpTextBaseShape::BuildSpans() {
  PrepareMeasure();
  spans_.clear();
  const auto length = static_cast<std::int32_t>(text_.size());
  if (!multiLine_) {
    TdtpTextSpan* s = AddSpan();
    s->CharPos = 1;
    s->CharCount = length;
  } else {
    std::int32_t pos = 1;
    for (;;) {
      const std::int32_t start = pos;
      const int count = WideNextLine(text_, pos);
      if (count < 0) break;
      if (wordWrap_) {
        WrapLine(start, count);
      } else {
        TdtpTextSpan* s = AddSpan();
        s->CharPos = start;
        s->CharCount = count;
      }
    }
  }
  for (const auto& s : spans_) {
    const TdtpTextSize e = MeasureText(s->CharPos, s->CharCount);
    s->Width = e.Width;
    s->Height = e.Height;
  }
}

// Each span takes the longest candidate that is narrower than the frame.
// The candidates are those of a backward scan: the whole rest of the line,
// then cut before its last space or hyphen (or by one character when there
// is none) with trailing blanks trimmed, and so on down to one character.
// Prefix widths grow with length, so "fits" turns true once along that
// sequence and stays true: the search probes from the short end, galloping,
// and measures only a few candidates near the span's own length.
//
// The sequence is built from its short end too, so that a span costs what
// it probes rather than the whole rest of the paragraph. That rests on
// landmarks: a length t whose last character is not blank, and which is a
// break position itself or has no break before it. Every longer candidate's
// sequence reaches t exactly (a cut at a later break that trims back past t
// stops at t's non-blank character), so the sequence below t is the one of
// t alone, and the part between two landmarks is the one of the upper one.
void TdtpTextBaseShape::WrapLine(std::int32_t start, std::int32_t length) {
  const float maxWidth = DocWidth();
  const char16_t* line = text_.data() + (start - 1);
  const auto isBreak = [](char16_t c) { return c == u' ' || c == u'-'; };
  // For each index i of the line: the last break before i and the last
  // non-blank character before i (-1: none).
  std::vector<std::int32_t> prevBreak(static_cast<std::size_t>(length) + 1);
  std::vector<std::int32_t> prevSolid(static_cast<std::size_t>(length) + 1);
  prevBreak[0] = prevSolid[0] = -1;
  for (std::int32_t i = 0; i < length; ++i) {
    prevBreak[static_cast<std::size_t>(i) + 1] = isBreak(line[i]) ? i : prevBreak[static_cast<std::size_t>(i)];
    prevSolid[static_cast<std::size_t>(i) + 1] = IsBlank(line[i]) ? prevSolid[static_cast<std::size_t>(i)] : i;
  }

  std::vector<std::int32_t> chain;  // the candidates, shortest first
  std::vector<std::int32_t> run;
  std::int32_t o = 0;               // the rest R starts at line[o]
  std::int32_t n = length;          // its length
  do {
    const char16_t* r = line + o;
    // The last break in R before its l-th character, relative to R.
    const auto lastBreak = [&](std::int32_t l) { return prevBreak[static_cast<std::size_t>(o + l)] - o; };
    // The candidate after l: cut, then trailing blanks trimmed.
    const auto next = [&](std::int32_t l) {
      const std::int32_t j = lastBreak(l);
      const std::int32_t c = std::max(j <= 0 ? l - 1 : j, 1);
      return std::max(prevSolid[static_cast<std::size_t>(o + c)] + 1 - o, 0);
    };
    const auto landmark = [&](std::int32_t t) {
      return t == n || (!IsBlank(r[t - 1]) && (isBreak(r[t]) || lastBreak(t) <= 0));
    };
    // Appends the candidates from the landmark top down to the one before
    // below (the last one, ending the sequence, when below is -1), shortest
    // first.
    const auto appendFrom = [&](std::int32_t top, std::int32_t below) {
      run.clear();
      std::int32_t l = top;
      for (; l > below && l > 1; l = next(l)) run.push_back(l);
      if (below < 0) run.push_back(l);
      chain.insert(chain.end(), run.rbegin(), run.rend());
    };
    chain.clear();
    if (n <= 1) {
      chain.push_back(n);
    } else {
      std::int32_t t = 1;
      while (!landmark(t)) ++t;
      appendFrom(t, -1);
    }
    // Makes chain[k] exist when the sequence is that long.
    const auto reach = [&](std::size_t k) {
      while (chain.size() <= k && chain.back() < n) {
        std::int32_t t = chain.back() + 1;
        while (!landmark(t)) ++t;
        appendFrom(t, chain.back());
      }
      return chain.size() > k;
    };
    auto accepts = [&](std::size_t k) {
      return chain[k] <= 1 || MeasureText(start + o, chain[k]).Width < maxWidth;
    };
    // chain[0] is accepted; find the longest accepted candidate below the
    // first one that is not.
    std::size_t hi = 0;
    std::size_t lo = 0;  // the shortest candidate known not to fit; 0: none yet
    for (std::size_t step = 1;; step *= 2) {
      const std::size_t k = hi + step;
      if (!reach(k)) {
        lo = chain.size();
        break;
      }
      if (!accepts(k)) {
        lo = k;
        break;
      }
      hi = k;
    }
    while (lo - hi > 1) {
      const std::size_t mid = lo - (lo - hi) / 2;
      if (accepts(mid))
        hi = mid;
      else
        lo = mid;
    }
    const std::int32_t taken = chain[hi];

    TdtpTextSpan* s = AddSpan();
    s->CharPos = start + o;
    s->CharCount = taken;
    // Skip the blanks after the span; at least one character goes while
    // the line is not used up, so the loop always ends.
    std::int32_t used = taken;
    while (used < n && IsBlank(r[used])) ++used;
    if (used == 0 && n > 0) used = 1;
    o += used;
    n -= used;
  } while (n > 0);
}

void TdtpTextBaseShape::DoLayout() {
  BuildSpans();
  if (autoSize_) {
    inLayout_ = true;
    LockUndo();
    try {
      TdtpTextSize e = GetTextExtent();
      if (e.Width == 0 && e.Height == 0) e = MeasureText(1, 0);
      // A renderer without a font measures nothing: the frame stays.
      if (e.Width != 0 || e.Height != 0) {
        if (multiLine_ && wordWrap_) e.Width = DocWidth();
        float left = DocLeft();
        if (alignment_ == 1)
          left = DocLeft() + DocWidth() - e.Width;
        else if (alignment_ == 2)
          left = DocLeft() + (DocWidth() - e.Width) / 2;
        float top = DocTop();
        if (vertAlign_ == 1)
          top = DocTop() + (DocHeight() - e.Height) / 2;
        else if (vertAlign_ == 2)
          top = DocTop() + DocHeight() - e.Height;
        SetDocBounds(left, top, e.Width, e.Height);
      }
    } catch (...) {
      UnlockUndo();
      inLayout_ = false;
      throw;
    }
    UnlockUndo();
    inLayout_ = false;
  }
  PositionSpans();
}

void TdtpTextBaseShape::PositionSpans() {
  for (const auto& s : spans_) {
    if (alignment_ == 1)
      s->Left = DocWidth() - s->Width;
    else if (alignment_ == 2)
      s->Left = (DocWidth() - s->Width) / 2;
    else
      s->Left = 0;
  }
  const TdtpTextSize e = GetTextExtent();
  float y = 0;
  if (vertAlign_ == 1)
    y = (DocHeight() - e.Height) / 2;
  else if (vertAlign_ == 2)
    y = DocHeight() - e.Height;
  const float step = GetLineHeight();
  for (const auto& s : spans_) {
    s->Top = y;
    y += step;
  }
  UpdateInk();
  if (IsEditing()) BuildCharPositions();
}

TFloatRect TdtpTextBaseShape::MeasureInk(const TdtpTextSpan& span) {
  return {0, 0, span.Width, span.Height};
}

void TdtpTextBaseShape::UpdateInk() {
  TFloatRect ink;
  bool any = false;
  for (const auto& s : spans_) {
    if (s->CharCount <= 0) continue;
    const TFloatRect r = MeasureInk(*s);
    if (!(r.Right > r.Left && r.Bottom > r.Top)) continue;
    const TFloatRect placed{s->Left + r.Left, s->Top + r.Top, s->Left + r.Right, s->Top + r.Bottom};
    if (!(std::isfinite(placed.Left) && std::isfinite(placed.Top) && std::isfinite(placed.Right) &&
          std::isfinite(placed.Bottom)))
      continue;
    if (!any) {
      ink = placed;
      any = true;
    } else {
      ink = {std::min(ink.Left, placed.Left), std::min(ink.Top, placed.Top),
             std::max(ink.Right, placed.Right), std::max(ink.Bottom, placed.Bottom)};
    }
  }
  ink_ = ink;
  UpdateMargins();
}

void TdtpTextBaseShape::AdjustMargins(float& left, float& top, float& right,
                                      float& bottom) const {
  if (ink_.Right > ink_.Left) {
    left = std::max(left, -ink_.Left);
    top = std::max(top, -ink_.Top);
    right = std::max(right, ink_.Right - DocWidth());
    bottom = std::max(bottom, ink_.Bottom - DocHeight());
  }
  TdtpEffectShape::AdjustMargins(left, top, right, bottom);
}

void TdtpTextBaseShape::SetDocSize(float width, float height) {
  if (inLayout_ || DocHeight() == 0) {
    TdtpEffectShape::SetDocSize(width, height);
  } else if (scaleFontOnResize_ && autoSize_ && !multiLine_) {
    // The frame follows the font; a collapsed or unusable height would take
    // the font down to nothing.
    if (height > 0 && std::isfinite(height)) SetFontHeight(fontHeight_ * height / DocHeight());
  } else if (multiLine_) {
    TdtpEffectShape::SetDocSize(width, height);
    DoLayout();
  } else {
    TdtpEffectShape::SetDocSize(width, height);
    PositionSpans();
  }
}

// ---- XML ----------------------------------------------------------------------------

void TdtpTextBaseShape::SaveToXml(TXmlNode* node) {
  TdtpEffectShape::SaveToXml(node);
  if (!node) return;
  node->WriteWideString("Text", text_, u"");
  node->WriteFloat("FontHeight", fontHeight_, 0);
  node->WriteBool("AutoSize", autoSize_, false);
  node->WriteInteger("Alignment", alignment_, 0);
  node->WriteBool("WordWrap", wordWrap_, false);
  node->WriteInteger("VertAlign", vertAlign_, 0);
  TXmlNode* font = node->FindOrAddChild("Font");
  font->WriteString("Name", fontName_, "");
  font->WriteColor("Color", fontColor_, 0);
  font->WriteBool("Bold", (fontStyle_ & fsBold) != 0, false);
  font->WriteBool("Italic", (fontStyle_ & fsItalic) != 0, false);
  font->WriteBool("Underline", (fontStyle_ & fsUnderline) != 0, false);
  font->WriteBool("Strikeout", (fontStyle_ & fsStrikeOut) != 0, false);
  node->WriteFloat("CharacterSpacing", characterSpacing_, 0);
  node->WriteFloat("WordSpacing", wordSpacing_, 0);
  node->WriteBool("UseKerning", useKerning_, false);
  for (const auto& s : spans_) s->SaveToXml(node->AddNewChild("Span"));
}

void TdtpTextBaseShape::LoadFromXml(TXmlNode* node) {
  TdtpEffectShape::LoadFromXml(node);
  if (!node) return;
  text_ = node->ReadWideString("Text", u"");
  fontHeight_ = static_cast<float>(node->ReadFloat("FontHeight", 0));
  autoSize_ = node->ReadBool("AutoSize", false);
  alignment_ = static_cast<std::uint8_t>(node->ReadInteger("Alignment", 0));
  wordWrap_ = node->ReadBool("WordWrap", false);
  vertAlign_ = static_cast<std::uint8_t>(node->ReadInteger("VertAlign", 0));
  if (const TXmlNode* font = node->FindChild("Font")) {
    fontName_ = font->ReadString("Name", "");
    fontColor_ = font->ReadColor("Color", 0);
    fontStyle_ = 0;
    if (font->ReadBool("Bold", false)) fontStyle_ |= fsBold;
    if (font->ReadBool("Italic", false)) fontStyle_ |= fsItalic;
    if (font->ReadBool("Underline", false)) fontStyle_ |= fsUnderline;
    if (font->ReadBool("Strikeout", false)) fontStyle_ |= fsStrikeOut;
  } else {
    fontName_ = "Arial";
    fontColor_ = 0;
    fontStyle_ = 0;
  }
  characterSpacing_ = static_cast<float>(node->ReadFloat("CharacterSpacing", 0));
  wordSpacing_ = static_cast<float>(node->ReadFloat("WordSpacing", 0));
  useKerning_ = node->ReadBool("UseKerning", false);

  spans_.clear();
  for (int i = 0; i < node->GetChildCount(); ++i) {
    TXmlNode* child = node->GetChild(i);
    if (child->Name() == "Span") AddSpan()->LoadFromXml(child);
  }
  // The stored layout keeps the saving machine's line breaks; one that
  // does not fit this text is laid out again.
  if (!spans_.empty() && ClampStoredSpans())
    PositionSpans();
  else
    DoLayout();
}

bool TdtpTextBaseShape::ClampStoredSpans() {
  const auto length = static_cast<std::int32_t>(text_.size());
  bool usable = true;
  for (const auto& s : spans_) {
    s->CharPos = std::clamp(s->CharPos, 1, length + 1);
    s->CharCount = std::clamp(s->CharCount, 0, length + 1 - s->CharPos);
    if (!(std::isfinite(s->Width) && std::isfinite(s->Height) && s->Width >= 0 &&
          s->Height >= 0))
      usable = false;
  }
  return usable;
}

}  // namespace kdl
