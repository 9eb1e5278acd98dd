#include "document/text/FontRenderer.h"

#include <cmath>
#include <limits>

namespace kdl {
namespace {

// 16.16 pixels from a double; values past the 32-bit range (absurd scales)
// are pinned to it, since the conversion would be undefined.
TFixed RoundFixed(double v) {
  constexpr double lo = std::numeric_limits<TFixed>::min();
  constexpr double hi = std::numeric_limits<TFixed>::max();
  const double r = std::nearbyint(v);
  if (!(r >= lo)) return std::numeric_limits<TFixed>::min();  // also NaN
  if (r > hi) return std::numeric_limits<TFixed>::max();
  return static_cast<TFixed>(r);
}

}  // namespace

double TdtpFontRenderer::Ascent() const {
  return font_ ? font_->Ascent() * size_ / 1000.0 : 0.0;
}

double TdtpFontRenderer::LineHeight() const {
  return font_ ? font_->LineHeight(size_) : 0.0;
}

void TdtpFontRenderer::GetCharPositions(std::u16string_view text, std::span<double> positions) {
  if (positions.size() < text.size() + 1) throw Exception("List index out of bounds");
  if (!font_) {
    for (std::size_t i = 0; i <= text.size(); ++i) positions[i] = 0;
    return;
  }
  const double s = size_ / 1000.0;
  double x = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const TdtpGlyph* g = font_->GetGlyph(text[i]);
    if (inkBounds_ && i == 0 && g->OriginX < 0) x -= s * g->OriginX;
    positions[i] = x;
    x += s * (characterSpacing_ * 1000.0 + g->AdvanceX);
  }
  positions[text.size()] = x;
}

TdtpTextExtent TdtpFontRenderer::GetTextExtent(std::u16string_view text) {
  if (!font_) return {};
  double w = 0;  // font units
  for (std::size_t i = 0; i < text.size(); ++i) {
    const TdtpGlyph* g = font_->GetGlyph(text[i]);
    if (inkBounds_) {
      if (i == 0 && g->OriginX < 0) w -= g->OriginX;
      if (i + 1 == text.size()) w += -static_cast<double>(g->AdvanceX) + g->OriginX + g->BlackBoxX;
    }
    w += g->AdvanceX;
  }
  if (characterSpacing_ != 0 && text.size() > 1)
    w += static_cast<double>(text.size() - 1) * characterSpacing_ * 1000.0;
  return {w * size_ / 1000.0, LineHeight()};
}

void TdtpFontRenderer::TextToPolygon(std::u16string_view text, TPolygon32& polygon, double scale,
                                     double x, double y) {
  if (!font_) return;
  const double k = scale * size_ / 1000.0;  // pixels per font unit
  double penX = x * 65536.0;
  const double baseY = y * 65536.0;
  const double extra = characterSpacing_ * 1000.0;
  if (inkBounds_ && !text.empty()) {
    const TdtpGlyph* g = font_->GetGlyph(text[0]);
    if (g->OriginX < 0) penX -= g->OriginX * k * 65536.0;
  }

  auto place = [&](double fx, double fy) {
    return TFixedPoint{RoundFixed(fx * k + penX), RoundFixed(fy * k + baseY)};
  };
  // Outline points are already 16.16; bar corners are whole font units.
  auto placeUnits = [&](double ux, double uy) { return place(ux * 65536.0, uy * 65536.0); };

  // Bars wind like the glyphs, so the non-zero fill adds them to the ink
  // instead of cutting holes. The winding comes from the first glyph that
  // has one, even when inkless characters (spaces) come before it: their
  // bars can still meet a later glyph's overhang.
  int orientation = 0;
  if (font_->Style() & (fsUnderline | fsStrikeOut))
    for (std::size_t i = 0; i < text.size() && orientation == 0; ++i)
      orientation = font_->GetGlyph(text[i])->Orientation();

  TArrayOfFixedPoint placed;
  for (const char16_t c : text) {
    const TdtpGlyph* g = font_->GetGlyph(c);
    if (g->Outline) {
      for (const TArrayOfFixedPoint& line : g->Outline->Contours()) {
        placed.clear();
        for (const TFixedPoint& p : line) placed.push_back(place(p.X, p.Y));
        polygon.StartLine();
        polygon.AddPoints(placed.data(), static_cast<std::int64_t>(placed.size()));
      }
    }

    const double w = g->AdvanceX + extra;
    auto bar = [&](double ya, double yb) {
      if (orientation == 1) std::swap(ya, yb);
      polygon.StartLine();
      polygon.AddPoint(placeUnits(0, ya));
      polygon.AddPoint(placeUnits(w, ya));
      polygon.AddPoint(placeUnits(w, yb));
      polygon.AddPoint(placeUnits(0, yb));
    };
    if (font_->Style() & fsUnderline) bar(font_->Descent() - 30.0, font_->Descent() - 105.0);
    if (font_->Style() & fsStrikeOut) {
      const std::int32_t half = font_->Ascent() / 2;
      bar(-half + 255.0, -half + 200.0);
    }
    penX += (g->AdvanceX + extra) * 65536.0 * k;
  }
}

}  // namespace kdl
