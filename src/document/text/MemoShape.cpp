#include "document/text/MemoShape.h"

#include <algorithm>
#include <vector>

#include "document/shapes/DocumentServices.h"
#include "document/shapes/Rendering.h"
#include "document/text/FontManager.h"
#include "document/text/FontRenderer.h"
#include "raster/Bitmap32.h"

namespace kdl {

// ---- Memo ---------------------------------------------------------------------------

TdtpMemoShape::TdtpMemoShape() : TdtpTextShape(true, false) {
  lines_.OnChange = [this](TqxWidestringList*) { LinesChanged(); };
}

TdtpMemoShape::~TdtpMemoShape() { lines_.OnChange = nullptr; }

void TdtpMemoShape::LinesChanged() { SetText(lines_.Text()); }

void TdtpMemoShape::SetLinesQuietly(const std::u16string& text) {
  auto saved = std::move(lines_.OnChange);
  lines_.OnChange = nullptr;
  try {
    lines_.SetText(text);
  } catch (...) {
    lines_.OnChange = std::move(saved);
    throw;
  }
  lines_.OnChange = std::move(saved);
}

void TdtpMemoShape::SetText(const std::u16string& value) {
  SetLinesQuietly(value);
  TdtpTextShape::SetText(value);
}

void TdtpMemoShape::LoadFromXml(TXmlNode* node) {
  TdtpTextShape::LoadFromXml(node);
  SetLinesQuietly(Text());
}

// ---- Glyph memo ---------------------------------------------------------------------

TdtpPolygonMemo::TdtpPolygonMemo() { SetForceCache(false); }

TdtpPolygonMemo::~TdtpPolygonMemo() = default;

void TdtpPolygonMemo::UpdateFont() {
  TdtpDocumentServices* document = Document();
  TdtpFontManager* manager = document ? document->FontManager() : nullptr;
  if (!manager) return;
  const std::string key = GetFontName() + '\n' + std::to_string(GetFontStyle());
  if (!font_ && key == refusedFont_) return;
  font_ = manager->AcquireFont(GetFontName(), GetFontStyle(), font_);
  if (font_ || manager->LastError().empty()) return;
  refusedFont_ = key;
  // Loading, relayout and attaching go on without the font: the memo then
  // measures and draws nothing, and the document hears why once.
  ReportError(manager->LastError());
}

bool TdtpPolygonMemo::HasFont() {
  // A font read from a file or replayed by undo is taken up before the
  // next measurement, not only at the next relayout.
  if (!font_ || font_->Name() != GetFontName() || font_->Style() != GetFontStyle()) UpdateFont();
  return font_ != nullptr;
}

void TdtpPolygonMemo::Loaded() {
  TdtpMemoShape::Loaded();
  UpdateFont();
}

void TdtpPolygonMemo::SetDocument(TdtpDocumentServices* document) {
  if (document != Document()) {
    // The font belongs to the old document's manager.
    font_ = nullptr;
    refusedFont_.clear();
  }
  TdtpMemoShape::SetDocument(document);
  UpdateFont();
  Relayout();
}

void TdtpPolygonMemo::Relayout() {
  UpdateFont();
  TdtpMemoShape::Relayout();
}

void TdtpPolygonMemo::SetupRenderer(TdtpFontRenderer& renderer) const {
  renderer.SetFont(font_);
  renderer.SetSize(GetFontHeight());
  renderer.SetInkBounds(true);
  renderer.SetCharacterSpacing(CharacterSpacing());
  renderer.SetWordSpacing(WordSpacing());
  renderer.SetUseKerning(UseKerning());
}

float TdtpPolygonMemo::GetLineHeight() {
  if (!HasFont()) return 0;
  return static_cast<float>((static_cast<double>(font_->Ascent()) + font_->Descent()) *
                            GetFontHeight() / 1000.0);
}

TdtpTextSize TdtpPolygonMemo::MeasureText(std::int32_t charPos, std::int32_t charCount) {
  if (!HasFont()) return {};
  TdtpFontRenderer r;
  SetupRenderer(r);
  const TdtpTextExtent e =
      r.GetTextExtent(charCount == 0 ? std::u16string(u"W") : WideCopy(Text(), charPos, charCount));
  return {static_cast<float>(e.Width), static_cast<float>(e.Height)};
}

void TdtpPolygonMemo::LayoutSpanChars(TdtpTextSpan& span, double /*scale*/) {
  if (!HasFont()) return;
  const std::u16string text = span.Text();
  const std::size_t first = static_cast<std::size_t>(span.CharPos) - 1;
  if (span.CharPos < 1 || first + text.size() + 1 > charPositions_.size()) return;
  TdtpFontRenderer r;
  SetupRenderer(r);
  std::vector<double> x(text.size() + 1);
  r.GetCharPositions(text, x);
  for (std::size_t i = 0; i < x.size(); ++i) charPositions_[first + i].X = static_cast<float>(x[i]);
}

TFloatRect TdtpPolygonMemo::MeasureInk(const TdtpTextSpan& span) {
  if (!HasFont()) return {};
  const std::u16string text = span.Text();
  if (text.empty()) return {};
  TdtpFontRenderer r;
  SetupRenderer(r);
  std::vector<double> x(text.size() + 1);
  r.GetCharPositions(text, x);
  const double unit = GetFontHeight() / 1000.0;  // mm per font unit
  const double baseline = r.Ascent();
  bool any = false;
  double left = 0, top = 0, right = 0, bottom = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const TdtpGlyph* g = font_->GetGlyph(text[i]);
    if (!g->Outline || g->BlackBoxX <= 0 || g->BlackBoxY <= 0) continue;
    const double l = x[i] + g->OriginX * unit, t = baseline - g->OriginY * unit;
    const double rr = l + g->BlackBoxX * unit, b = t + g->BlackBoxY * unit;
    left = any ? std::min(left, l) : l;
    top = any ? std::min(top, t) : t;
    right = any ? std::max(right, rr) : rr;
    bottom = any ? std::max(bottom, b) : b;
    any = true;
  }
  if (!any) return {};
  return {static_cast<float>(left), static_cast<float>(top), static_cast<float>(right),
          static_cast<float>(bottom)};
}

void TdtpPolygonMemo::Paint32(TBitmap32& bitmap, const TdtpPaintInfo& /*info*/) {
  if (!HasFont()) return;
  TdtpFontRenderer r;
  SetupRenderer(r);
  const TAffineMatrix& m = PaintTransform();
  TPolygon32 polygon;
  polygon.SetUseAntialiasing(true);
  const TColor32 color = Color32(GetFontColor());
  for (const auto& span : Spans()) {
    const std::u16string text = span->Text();
    if (text.empty()) continue;
    const double x = span->Left, y = span->Top + r.Ascent();
    const TDoublePoint origin = LocalToBitmap(x, y);
    polygon.Clear();
    r.TextToPolygon(text, polygon, m.A, origin.X, origin.Y);
    polygon.SetFillRule(frNonZero);
    polygon.Fill(bitmap, color);
  }
}

}  // namespace kdl
