#include "platform/qt/Font.h"

#include <cmath>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "platform/CodePage.h"

namespace kdl {

QFont CreateFont(const std::string& family, std::int32_t height, TFontStyles style) {
  QFont font(QString::fromStdString(family));
  font.setBold((style & fsBold) != 0);
  font.setItalic((style & fsItalic) != 0);
  font.setUnderline((style & fsUnderline) != 0);
  font.setStrikeOut((style & fsStrikeOut) != 0);
  // Hinting differs between devices; none keeps the advance widths the same
  // on every target, which measuring relies on.
  font.setHintingPreference(QFont::PreferNoHinting);
  // Widths of a text's prefixes then add up, which text layout relies on;
  // grey coverage (no sub-pixel colour fringes) can serve as alpha.
  font.setKerning(false);
  font.setStyleStrategy(
      static_cast<QFont::StyleStrategy>(QFont::PreferNoShaping | QFont::NoSubpixelAntialias));
  if (height == 0) height = TFont::kDefaultHeight;
  if (height < 0) {
    font.setPixelSize(-height);
  } else {
    // A cell height: scale the em so that ascent + descent come to it.
    constexpr int kProbe = 100;
    font.setPixelSize(kProbe);
    const QFontMetricsF m(font);
    const double cell = m.ascent() + m.descent();
    const int em = cell > 0 ? static_cast<int>(std::nearbyint(height * kProbe / cell)) : height;
    font.setPixelSize(em > 0 ? em : 1);
  }
  return font;
}

QFont TFont::ToQFont() const { return CreateFont(name_, height_, style_); }

void TFont::Changed() {
  if (OnChange) OnChange(*this);
}

void TFont::SetName(const std::string& value) {
  if (name_ == value) return;
  name_ = value;
  Changed();
}

void TFont::SetHeight(std::int32_t value) {
  if (height_ == value) return;
  height_ = value;
  Changed();
}

void TFont::SetStyle(TFontStyles value) {
  if (style_ == value) return;
  style_ = value;
  Changed();
}

void TFont::SetColor(std::int32_t value) {
  if (color_ == value) return;
  color_ = value;
  Changed();
}

void TFont::Assign(const TFont& source) {
  name_ = source.name_;
  height_ = source.height_;
  style_ = source.style_;
  color_ = source.color_;
  Changed();
}

TSize TextExtent(const TFont& font, const QString& text) {
  if (text.isEmpty()) return {};
  const QFontMetrics m(font.ToQFont());
  return {m.horizontalAdvance(text), m.ascent() + m.descent()};
}

namespace {

int QtFlags(unsigned flags) {
  int q = 0;
  if (flags & DT_CENTER)
    q |= Qt::AlignHCenter;
  else if (flags & DT_RIGHT)
    q |= Qt::AlignRight;
  else
    q |= Qt::AlignLeft;
  if (flags & DT_SINGLELINE) {
    if (flags & DT_VCENTER)
      q |= Qt::AlignVCenter;
    else if (flags & DT_BOTTOM)
      q |= Qt::AlignBottom;
    else
      q |= Qt::AlignTop;
  } else {
    q |= Qt::AlignTop;
  }
  if (flags & DT_WORDBREAK) q |= Qt::TextWordWrap;
  if (flags & DT_SINGLELINE) q |= Qt::TextSingleLine;
  if (flags & DT_EXPANDTABS) q |= Qt::TextExpandTabs;
  if (!(flags & DT_NOPREFIX)) q |= Qt::TextShowMnemonic;
  return q;
}

void DrawClipped(QImage& target, const QRect& rect, unsigned flags, const QString& text,
                 const TFont& font, const QRect* clip) {
  if (text.isEmpty() || target.isNull()) return;
  QPainter p(&target);
  p.setFont(font.ToQFont());
  const std::uint32_t c = static_cast<std::uint32_t>(font.Color());
  p.setPen(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  // Qt would clip to the rectangle on its own; the clip is ours to set.
  if (clip) p.setClipRect(*clip);
  p.drawText(rect, QtFlags(flags) | Qt::TextDontClip, text);
}

}  // namespace

void DrawText(QImage& target, const QRect& rect, unsigned flags, const QString& text,
              const TFont& font) {
  DrawClipped(target, rect, flags, text, font, (flags & DT_NOCLIP) ? nullptr : &rect);
}

void DrawText(QImage& target, const QRect& rect, unsigned flags, const QString& text,
              const TFont& font, const QRect& clip) {
  DrawClipped(target, rect, flags, text, font, &clip);
}

QRect TextInkBounds(const TFont& font, const QString& text) {
  if (text.isEmpty()) return {};
  const QRectF ink = QFontMetricsF(font.ToQFont()).tightBoundingRect(text);
  if (ink.isEmpty()) return {};
  // Anti-aliasing touches the pixels an outline merely grazes.
  return QRect(QPoint(static_cast<int>(std::floor(ink.left())) - 1,
                      static_cast<int>(std::floor(ink.top())) - 1),
               QPoint(static_cast<int>(std::ceil(ink.right())),
                      static_cast<int>(std::ceil(ink.bottom()))));
}

QString Windows1252ToQString(const std::string& text) {
  const std::u16string wide = Cp1252ToWide(text);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

}  // namespace kdl
