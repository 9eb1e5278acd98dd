#include "document/text/TextShape.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QRect>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "document/shapes/Rendering.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

QString SpanString(const std::u16string& text, std::int32_t charPos, std::int32_t charCount) {
  const auto length = static_cast<std::int32_t>(text.size());
  if (charPos < 1 || charPos > length || charCount <= 0) return {};
  const std::int32_t n = std::min(charCount, length - charPos + 1);
  return QString::fromUtf16(text.data() + (charPos - 1), n);
}

// The first k in 1..n where pred holds, pred being false up to some k and
// true from there on; pred(n) is taken as true without asking. Probes 1, 2,
// 4, ... first, so a fit one or two pixels away costs as many measurements
// as stepping would, and an absurd target no more than a few dozen.
template <class Pred>
std::int32_t FirstTrue(std::int32_t n, Pred pred) {
  std::int32_t lo = 0, hi = n;
  for (std::int32_t step = 1; lo + step < n; step *= 2) {
    if (pred(lo + step)) {
      hi = lo + step;
      break;
    }
    lo += step;
  }
  while (hi - lo > 1) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (pred(mid))
      hi = mid;
    else
      lo = mid;
  }
  return hi;
}

// Drawing fits the font to each span in whole pixels, places it on a whole
// pixel and anti-aliases its edges: at the coarsest zoom (96 dpi) the ink
// may lie up to two pixels further out than the measured ink says.
constexpr float kInkSlack = 2 * 25.4f / 96;

// Pixels around the drawn part of a new cache that are written in full:
// enough for a cache read at up to two of its pixels to a target pixel.
constexpr std::int32_t kInkMargin = 4;

}  // namespace

std::int32_t FontPixels(double value) {
  if (!(value >= 0.5)) return 1;  // also NaN
  if (value >= kMaxFontPixels) return kMaxFontPixels;
  return std::clamp(static_cast<std::int32_t>(std::nearbyint(value)), 1, kMaxFontPixels);
}

TdtpTextShape::TdtpTextShape() : TdtpTextShape(false, true) {}

TdtpTextShape::TdtpTextShape(bool multiLine, bool scaleFontOnResize)
    : TdtpTextBaseShape(multiLine, scaleFontOnResize) {
  SetForceCache(true);
}

TdtpTextShape::~TdtpTextShape() = default;

void TdtpTextShape::PrepareMeasure() {
  const QFont font =
      CreateFont(GetFontName(), -FontPixels(GetFontHeight() * kMeasureDpm), GetFontStyle());
  measure_ = std::make_unique<QFontMetrics>(font);
}

TdtpTextSize TdtpTextShape::MeasureText(std::int32_t charPos, std::int32_t charCount) {
  if (!measure_) PrepareMeasure();
  const QString s = charCount == 0 ? QStringLiteral("W") : SpanString(Text(), charPos, charCount);
  if (s.isEmpty()) return {};
  const int w = measure_->horizontalAdvance(s);
  const int h = measure_->ascent() + measure_->descent();
  return {static_cast<float>(w / kMeasureDpm), static_cast<float>(h / kMeasureDpm)};
}

TFloatRect TdtpTextShape::MeasureInk(const TdtpTextSpan& span) {
  const QString s = SpanString(Text(), span.CharPos, span.CharCount);
  if (s.isEmpty()) return {};
  TFont font;
  font.SetName(GetFontName());
  font.SetStyle(GetFontStyle());
  font.SetHeight(-FontPixels(GetFontHeight() * kMeasureDpm));
  const QRect ink = TextInkBounds(font, s);
  if (ink.isEmpty()) return {};
  // Drawn from the span's top-left corner, the baseline lies an ascent down.
  const double ascent = QFontMetrics(font.ToQFont()).ascent();
  const auto mm = [](double px) { return static_cast<float>(px / kMeasureDpm); };
  return {mm(ink.left()) - kInkSlack, mm(ink.top() + ascent) - kInkSlack,
          mm(ink.right() + 1) + kInkSlack, mm(ink.bottom() + 1 + ascent) + kInkSlack};
}

void TdtpTextShape::PrepareRender(double scale) {
  renderFont_.SetName(GetFontName());
  renderFont_.SetStyle(GetFontStyle());
  renderFont_.SetHeight(-FontPixels(GetFontHeight() * scale));
}

double TdtpTextShape::FitFontToSpan(TFont& font, const std::u16string& text, double scale,
                                    const TdtpTextSpan& span) const {
  const QString q = QString::fromStdU16String(text);
  const double tw = span.Width * scale;
  const double th = span.Height * scale;
  auto tooBig = [&](const TSize& e) { return e.cx > tw || e.cy > th; };
  auto fits = [&](const TSize& e) { return e.cx < tw && e.cy < th; };
  auto measureAt = [&](std::int32_t em) {
    font.SetHeight(-em);
    return TextExtent(font, q);
  };

  TSize e = TextExtent(font, q);
  const std::int32_t h = std::clamp(std::abs(font.Height()), 1, kMaxFontPixels);
  if (tooBig(e)) {
    // Shrink one pixel at a time down to one pixel.
    if (h <= 1) {
      font.SetHeight(-1);
    } else {
      const std::int32_t k =
          FirstTrue(h - 1, [&](std::int32_t k) { return !tooBig(measureAt(h - k)); });
      font.SetHeight(-(h - k));
    }
  } else if (fits(e)) {
    // Grow while it still fits, then one step back; stop at the limit.
    if (h >= kMaxFontPixels) {
      font.SetHeight(-kMaxFontPixels);
    } else {
      const std::int32_t n = kMaxFontPixels - h;
      const std::int32_t k =
          FirstTrue(n, [&](std::int32_t k) { return !fits(measureAt(h + k)); });
      font.SetHeight(k == n && fits(measureAt(kMaxFontPixels)) ? -kMaxFontPixels : -(h + k - 1));
    }
  }
  e = TextExtent(font, q);
  const double d = (tw - e.cx) / scale;
  if (Alignment() == 1) return d;
  if (Alignment() == 2) return d / 2;
  return 0;
}

TRect TdtpTextShape::DrawSpans(TBitmap32& bitmap, double scale) {
  QRect drawn;
  if (bitmap.Empty() || !(scale > 0) || !std::isfinite(scale)) return {};
  // A view that ignores the alpha byte: a cleared pixel reads black and the
  // anti-aliased white text leaves its coverage in every channel.
  QImage view(reinterpret_cast<uchar*>(bitmap.Bits()), bitmap.Width(), bitmap.Height(),
              static_cast<qsizetype>(bitmap.Width()) * 4, QImage::Format_RGB32);
  TFont font;
  font.SetName(GetFontName());
  font.SetColor(0xFFFFFF);
  font.SetStyle(GetFontStyle());
  font.SetHeight(FontPixels(GetFontHeight() * scale));
  auto pixel = [&](double x, double y) {
    const TPoint p = LocalToBitmapPoint(x, y);
    return QPoint(p.X, p.Y);
  };
  for (const auto& span : Spans()) {
    const std::u16string text = span->Text();
    if (text.empty()) continue;
    const double offset = FitFontToSpan(font, text, scale, *span);
    const QPoint a = pixel(span->Left + offset, span->Top);
    const QPoint b = pixel(span->Left + offset + span->Width, span->Top + span->Height);
    if (b.x() <= a.x() || b.y() <= a.y()) continue;
    const QString q = QString::fromStdU16String(text);
    const QRect box(a, QPoint(b.x() - 1, b.y() - 1));
    // The last glyph's ink may reach past the advances and a descender
    // below the descent: the clip takes the ink too.
    QRect ink = TextInkBounds(font, q);
    ink.translate(a.x(), a.y() + QFontMetrics(font.ToQFont()).ascent());
    const QRect clip = box.united(ink);
    DrawText(view, box, DT_NOPREFIX, q, font, clip);
    drawn = drawn.united(clip);
  }
  // Qt draws nothing outside the clips, and nothing outside the bitmap.
  drawn = drawn.intersected(view.rect());
  if (drawn.isEmpty()) return {};
  return {drawn.left(), drawn.top(), drawn.right() + 1, drawn.bottom() + 1};
}

void TdtpTextShape::Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) {
  // A new cache reads zero already; writing it would bring in every page.
  if (!info.TargetZeroed) bitmap.Clear(0);
  const TRect drawn = DrawSpans(bitmap, info.Scale);
  // The blue channel of the white text becomes the alpha of the font colour.
  // Outside what the spans drew every pixel is 0 and becomes c: black text
  // leaves it as it is, so only the drawn part need be visited. A cache
  // that can take a report need have c written only near the ink, where the
  // sampler mixes colours; the rest of its storage stays unwritten.
  const TColor32 c = Color32(GetFontColor()) & 0x00FFFFFFu;
  TRect pass = bitmap.BoundsRect();
  if (c == 0) {
    pass = drawn;
  } else if (info.TargetZeroed && info.Ink) {
    pass = drawn.Right > drawn.Left
               ? TRect{std::max(drawn.Left - kInkMargin, 0), std::max(drawn.Top - kInkMargin, 0),
                       std::min(drawn.Right + kInkMargin, bitmap.Width()),
                       std::min(drawn.Bottom + kInkMargin, bitmap.Height())}
               : TRect{};
  }
  for (std::int32_t y = pass.Top; y < pass.Bottom; ++y) {
    TColor32* p = bitmap.ScanLine(y);
    for (std::int32_t x = pass.Left; x < pass.Right; ++x) p[x] = ((p[x] & 0xFFu) << 24) | c;
  }
  if (info.Ink) *info.Ink = {drawn, c == 0 ? drawn : pass, c, kInkMargin};
  bitmap.Changed();
}

}  // namespace kdl
