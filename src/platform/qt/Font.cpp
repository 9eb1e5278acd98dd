#include "platform/qt/Font.h"

#include <cmath>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

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

}  // namespace

void DrawText(QImage& target, const QRect& rect, unsigned flags, const QString& text,
              const TFont& font) {
  if (text.isEmpty() || target.isNull()) return;
  QPainter p(&target);
  p.setFont(font.ToQFont());
  const std::uint32_t c = static_cast<std::uint32_t>(font.Color());
  p.setPen(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  if (!(flags & DT_NOCLIP)) p.setClipRect(rect);
  p.drawText(rect, QtFlags(flags), text);
}

QString Windows1252ToQString(const std::string& text) {
  // 0x80..0x9F differ from Latin-1; 0 marks the five unassigned bytes.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    char16_t u = b;
    if (b >= 0x80 && b < 0xA0 && kHigh[b - 0x80] != 0) u = kHigh[b - 0x80];
    out.append(QChar(u));
  }
  return out;
}

}  // namespace kdl
