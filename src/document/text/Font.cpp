#include "document/text/Font.h"

#include <cstdlib>
#include <utility>

namespace kdl {
namespace {

constexpr std::int64_t kFlattenTolerance = std::int64_t{20} * 65536;

// Midpoint with integer division, truncating towards zero like the outline
// rules want; computed wide so the sum cannot overflow.
TFixed Mid(TFixed a, TFixed b) {
  return static_cast<TFixed>((std::int64_t{a} + b) / 2);
}

TFixedPoint Mid(TFixedPoint a, TFixedPoint b) { return {Mid(a.X, b.X), Mid(a.Y, b.Y)}; }

std::int64_t ControlLength(TFixedPoint p, TFixedPoint q, TFixedPoint r) {
  auto d = [](TFixed u, TFixed v) { return std::llabs(std::int64_t{u} - v); };
  return d(p.X, q.X) + d(p.Y, q.Y) + d(q.X, r.X) + d(q.Y, r.Y);
}

TFixedPoint ToFixed(const TNativePoint& p) { return {p.X, p.Y}; }

}  // namespace

void FlattenQuadratic(TPolygon32& outline, TFixedPoint b, TFixedPoint a, TFixedPoint c) {
  // Each level halves the control polygon, so the depth stays below about
  // 40 even for the widest 16.16 coordinates.
  if (b == a || a == c) {
    outline.AddPoint(a);
    outline.AddPoint(c);
    return;
  }
  const TFixedPoint m1 = Mid(a, b);
  const TFixedPoint m2 = Mid(c, a);
  const TFixedPoint m = Mid(m1, m2);
  if (ControlLength(b, m1, m) > kFlattenTolerance) {
    FlattenQuadratic(outline, b, m1, m);
  } else {
    outline.AddPoint(m1);
    outline.AddPoint(m);
  }
  if (ControlLength(m, m2, c) > kFlattenTolerance) {
    FlattenQuadratic(outline, m, m2, c);
    return;
  }
  outline.AddPoint(m2);
  outline.AddPoint(c);
}

void OutlineToPolygon(const TNativeGlyph& native, TPolygon32& outline) {
  // Points collect in a polygon of their own, so y can be flipped before
  // they reach the caller's contours.
  TPolygon32 work;
  bool first = true;
  for (const TNativePolygon& polygon : native.Polygons) {
    if (!first) work.StartLine();
    first = false;
    const TFixedPoint start = ToFixed(polygon.Start);
    TFixedPoint current = start;
    work.AddPoint(start);
    for (const TNativeCurve& curve : polygon.Curves) {
      if (curve.Type == nctLine) {
        for (const TNativePoint& np : curve.Points) {
          const TFixedPoint p = ToFixed(np);
          if (!(p == current)) work.AddPoint(p);
          current = p;
        }
      } else if (curve.Type == nctQSpline && curve.Points.size() >= 2) {
        // Between two control points lies an implied on-curve point; the
        // last point of the record is on the curve.
        const std::size_t n = curve.Points.size();
        TFixedPoint b = current;
        for (std::size_t i = 0; i + 1 < n; ++i) {
          const TFixedPoint a = ToFixed(curve.Points[i]);
          const TFixedPoint c =
              i + 2 == n ? ToFixed(curve.Points[n - 1]) : Mid(a, ToFixed(curve.Points[i + 1]));
          FlattenQuadratic(work, b, a, c);
          b = c;
        }
        current = b;
      }
    }
    if (!(current == start)) work.AddPoint(start);
  }

  // The native outline has y up; ours has y down.
  bool firstLine = true;
  for (const TArrayOfFixedPoint& line : work.Contours()) {
    if (!firstLine) outline.StartLine();
    firstLine = false;
    for (const TFixedPoint& p : line)
      outline.AddPoint({p.X, static_cast<TFixed>(-std::int64_t{p.Y})});
  }
}

TdtpFont::TdtpFont(TdtpFontManager* manager, std::string name, TFontStyles style)
    : manager_(manager), name_(std::move(name)), style_(style) {
  missing_.Font = this;
}

TdtpFont::~TdtpFont() = default;

bool TdtpFont::NeedHandle() {
  if (handle_) return true;
  if (!handleError_.empty()) return false;
  std::string reason;
  handle_ = TOutlineFace::Open(name_, (style_ & fsBold) != 0, (style_ & fsItalic) != 0, &reason);
  if (!handle_) {
    handleError_ = "Unable to create font with name \"" + name_ + "\"";
    return false;
  }
  ascent_ = handle_->Ascent();
  descent_ = handle_->Descent();
  return true;
}

void TdtpFont::LoadGlyph(TdtpGlyph& glyph) {
  if (!NeedHandle()) return;
  TNativeGlyph native;
  if (!handle_->GetGlyph(glyph.CharCode, native)) return;
  const TNativeGlyphMetrics& m = native.Metrics;
  glyph.AdvanceX = m.CellIncX;
  glyph.AdvanceX2 = m.CellIncX;
  glyph.OriginX = m.OriginX;
  glyph.OriginY = m.OriginY;
  glyph.BlackBoxX = m.BlackBoxX;
  glyph.BlackBoxY = m.BlackBoxY;
  if (native.Polygons.empty()) return;
  glyph.Outline = std::make_unique<TPolygon32>();
  OutlineToPolygon(native, *glyph.Outline);
}

TdtpGlyph* TdtpFont::GetGlyph(char16_t charCode) {
  if (TdtpGlyph* cached = glyphs_.FindGlyph(charCode)) return cached;
  if (!NeedHandle()) return &missing_;
  auto glyph = std::make_unique<TdtpGlyph>();
  glyph->CharCode = charCode;
  glyph->Font = this;
  LoadGlyph(*glyph);
  return glyphs_.InsertGlyph(std::move(glyph));
}

}  // namespace kdl
