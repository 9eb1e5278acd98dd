// In-place editing of text shapes: the line editor, the caret positions
// from the layout, caret moves between lines, and the caret and selection
// drawn over the page.
#include <QBrush>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "document/shapes/DocumentServices.h"
#include "document/text/LineEdit.h"
#include "document/text/TextBaseShape.h"
#include "document/text/TextShape.h"
#include "platform/qt/Font.h"
#include "platform/qt/Timer.h"

namespace kdl {
namespace {

constexpr std::uint32_t kCaretInterval = 400;
constexpr QRgb kSelectionColor = 0xFF808080u;
constexpr QRgb kCaretColor = 0xFF000080u;

}  // namespace

// ---- Caret positions ---------------------------------------------------------------------

void TdtpTextBaseShape::BuildCharPositions() {
  const std::size_t length = text_.size();
  charPositions_.assign(length + 1, TFloatPoint{0, 0});
  spanOfChar_.assign(length + 1, -1);
  if (length == 0 || !Document()) return;
  const double scale = Document()->RenderDpm();
  PrepareRender(scale);
  for (std::size_t i = 0; i < spans_.size(); ++i) {
    TdtpTextSpan& span = *spans_[i];
    LayoutSpanChars(span, scale);
    for (std::int32_t k = 0; k <= span.CharCount; ++k) {
      const std::int64_t p = std::int64_t{span.CharPos} - 1 + k;
      if (p < 0 || p > static_cast<std::int64_t>(length)) continue;
      const auto at = static_cast<std::size_t>(p);
      charPositions_[at].X += span.Left;
      charPositions_[at].Y = span.Top;
      spanOfChar_[at] = static_cast<std::int32_t>(i);
    }
  }
  // Positions in no span (a space dropped at a wrap, a line break) stand
  // after the one before; after a final line break, at the next line's
  // start. Without this they would send the caret to the frame's corner.
  const float lineHeight = GetLineHeight();
  for (std::size_t p = 1; p <= length; ++p) {
    if (spanOfChar_[p] >= 0) continue;
    const TFloatPoint before = charPositions_[p - 1];
    if (text_[p - 1] == u'\n' || (text_[p - 1] == u'\r' && (p == length || text_[p] != u'\n'))) {
      float x = 0;
      if (alignment_ == 1) x = DocWidth();
      if (alignment_ == 2) x = DocWidth() / 2;
      float y = before.Y;
      // Step down from the line the break ended.
      for (std::size_t q = p; q-- > 0;) {
        if (spanOfChar_[q] >= 0) {
          y = charPositions_[q].Y + lineHeight;
          break;
        }
      }
      charPositions_[p] = {x, y};
    } else {
      charPositions_[p] = before;
    }
  }
}

void TdtpTextShape::LayoutSpanChars(TdtpTextSpan& span, double scale) {
  const std::u16string text = span.Text();
  if (text.empty() || span.CharPos < 1 || !(scale > 0)) return;
  const std::size_t first = static_cast<std::size_t>(span.CharPos) - 1;
  if (first + text.size() + 1 > charPositions_.size()) return;
  TFont font = RenderFont();
  const double offset = FitFontToSpan(font, text, scale, span);
  const QString q = QString::fromStdU16String(text);
  for (std::size_t k = 1; k <= text.size(); ++k) {
    const TSize e = TextExtent(font, q.left(static_cast<qsizetype>(k)));
    charPositions_[first + k].X = static_cast<float>(e.cx / scale + offset);
  }
  charPositions_[first].X = static_cast<float>(offset);
}

std::int32_t TdtpTextBaseShape::ClosestCharInSpan(int spanIndex, float x) const {
  const TdtpTextSpan* span = GetSpan(spanIndex);
  if (!span) return -1;
  std::int32_t best = -1;
  float bestDistance = 0;
  for (std::int32_t k = 0; k <= span->CharCount; ++k) {
    const std::int32_t p = span->CharPos - 1 + k;
    if (p < 0 || p >= static_cast<std::int32_t>(charPositions_.size())) continue;
    const float d = std::fabs(charPositions_[static_cast<std::size_t>(p)].X - x);
    if (best < 0 || d < bestDistance) {
      best = p;
      bestDistance = d;
    }
  }
  return best;
}

std::int32_t TdtpTextBaseShape::NavigateCaret(std::int32_t pos, std::int32_t key) {
  const auto length = static_cast<std::int32_t>(text_.size());
  const auto spanAt = [this](std::int32_t p) {
    return p >= 0 && p < static_cast<std::int32_t>(spanOfChar_.size())
               ? spanOfChar_[static_cast<std::size_t>(p)]
               : -1;
  };
  switch (key) {
    case 35:
    case 36: {
      const TdtpTextSpan* span = GetSpan(spanAt(pos));
      if (!span) return pos;
      return key == 36 ? span->CharPos - 1 : span->CharPos - 1 + span->CharCount;
    }
    case 37:
      do pos = std::max(pos - 1, 0);
      while (pos != 0 && spanAt(pos) < 0);
      return pos;
    case 39:
      do pos = std::min(pos + 1, length);
      while (pos != length && spanAt(pos) < 0);
      return pos;
    case 38:
    case 40: {
      const int span = spanAt(pos);
      if (span < 0 || pos >= static_cast<std::int32_t>(charPositions_.size())) return pos;
      const std::int32_t r = ClosestCharInSpan(key == 38 ? span - 1 : span + 1,
                                               charPositions_[static_cast<std::size_t>(pos)].X);
      return r >= 0 ? r : pos;
    }
    default: return pos;
  }
}

// ---- Editing ---------------------------------------------------------------------------------

void TdtpTextBaseShape::BeginEdit() {
  savedText_ = text_;
  if (!AllowEdit()) {
    if (Document()) Document()->EndEdit(false);
    return;
  }
  BuildCharPositions();
  if (!caretTimer_) {
    caretTimer_ = std::make_unique<TTimer>();
    caretTimer_->SetInterval(kCaretInterval);
    caretTimer_->OnTimer = [this] { CaretTick(); };
  }
  caretTimer_->SetEnabled(true);
  caretHidden_ = false;
  if (!editor_) {
    editor_ = std::make_unique<TdtpLineEdit>();
    editor_->OnChange = [this](TdtpLineEdit&) { EditorChanged(); };
    editor_->OnNavigate = [this](TdtpLineEdit&, std::int32_t pos, std::int32_t key) {
      return NavigateCaret(pos, key);
    };
  }
  editor_->SetText(text_);
  editor_->SelectAll();
  Invalidate();
}

void TdtpTextBaseShape::EndEdit(bool accept) {
  // The editor goes first, so restoring the text is an outside change.
  editor_.reset();
  if (!accept) SetText(savedText_);
  caretTimer_.reset();
  Invalidate();
}

void TdtpTextBaseShape::EditorChanged() {
  if (!editor_) return;
  editorChanging_ = true;
  try {
    SetText(editor_->Text());
  } catch (...) {
    editorChanging_ = false;
    throw;
  }
  editorChanging_ = false;
  // A kind may store the text differently (a memo's lines): the editor
  // follows what was stored.
  if (editor_->Text() != text_) editor_->SyncText(text_);
  SetSelStart(editor_->SelStart());
  SetSelLength(editor_->SelLength());
  SetCaretPos(editor_->CaretPos());
  BuildCharPositions();
  // Typing shows the caret at once.
  caretHidden_ = false;
}

void TdtpTextBaseShape::CaretTick() {
  caretHidden_ = !caretHidden_;
  Invalidate();
}

void TdtpTextBaseShape::KeyDown(std::int32_t& key, const TdtpMouseInfo& keys) {
  TdtpDocumentServices* document = Document();
  switch (key) {
    case 3:
    case 27:
      if (document) document->EndEdit(false);
      return;
    case 13:
      // A memo takes Enter as a line break.
      if (MultiLine()) break;
      [[fallthrough]];
    case 9:
    case 43:
    case 113:
      if (document) document->EndEdit(true);
      return;
    default: break;
  }
  if (editor_) editor_->KeyDown(key, keys.Shift);
}

void TdtpTextBaseShape::KeyPress(char32_t& character) {
  if (editor_) editor_->KeyPress(character);
}

void TdtpTextBaseShape::KeyUp(std::int32_t& key, const TdtpMouseInfo& keys) {
  if (editor_) editor_->KeyUp(key, keys.Shift);
}

void TdtpTextBaseShape::DblClick(const TdtpMouseInfo& /*mouse*/) {
  if (editor_) editor_->SelectAll();
}

void TdtpTextBaseShape::MouseDown(const TdtpMouseInfo& mouse) {
  if (!HitTest({mouse.X, mouse.Y}) && Document()) Document()->EndEdit(true);
}

void TdtpTextBaseShape::DrawHandles(QPainter& canvas) {
  if (!IsEditing() || !editor_) {
    TdtpEffectShape::DrawHandles(canvas);
    return;
  }
  const auto length = static_cast<std::int32_t>(text_.size());
  if (static_cast<std::int32_t>(charPositions_.size()) != length + 1) return;
  const float lineHeight = GetLineHeight();
  const auto screen = [this](float x, float y) {
    const TFloatPoint p = LocalToScreen({Mirrored() ? DocWidth() - x : x, y});
    return QPointF(p.X, p.Y);
  };
  canvas.save();
  if (selStart_ >= 0 && selStart_ < length && selLength_ > 0 && selStart_ + selLength_ <= length) {
    canvas.setPen(Qt::NoPen);
    canvas.setBrush(QBrush(QColor::fromRgb(kSelectionColor), Qt::DiagCrossPattern));
    // One box per span over its selected positions.
    for (std::size_t s = 0; s < spans_.size(); ++s) {
      float left = 0, right = 0, top = 0;
      bool any = false;
      for (std::int32_t p = selStart_; p <= selStart_ + selLength_; ++p) {
        if (spanOfChar_[static_cast<std::size_t>(p)] != static_cast<std::int32_t>(s)) continue;
        const TFloatPoint c = charPositions_[static_cast<std::size_t>(p)];
        if (!any) {
          left = right = c.X;
          top = c.Y;
          any = true;
        }
        left = std::min(left, c.X);
        right = std::max(right, c.X);
      }
      if (!any || right <= left) continue;
      QPolygonF box;
      box << screen(left, top) << screen(right, top) << screen(right, top + lineHeight)
          << screen(left, top + lineHeight);
      canvas.drawPolygon(box);
    }
  }
  if (caretPos_ >= 0 && caretPos_ <= length && !caretHidden_) {
    const TFloatPoint c = charPositions_[static_cast<std::size_t>(caretPos_)];
    QPen pen(QColor::fromRgb(kCaretColor));
    pen.setWidth(2);
    canvas.setPen(pen);
    canvas.drawLine(screen(c.X, c.Y), screen(c.X, c.Y + lineHeight));
  }
  canvas.restore();
}

}  // namespace kdl
