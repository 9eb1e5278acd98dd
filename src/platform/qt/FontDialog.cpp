#include "platform/qt/FontDialog.h"

#include <fontconfig/fontconfig.h>

#include <QColorDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

namespace kdl {

namespace {

struct TFaceStyle {
  QString Name;
  int Weight = FC_WEIGHT_REGULAR;
  int Slant = FC_SLANT_ROMAN;
  int Width = FC_WIDTH_NORMAL;
};

// Every style fontconfig lists for the family, with the name Qt shows.
std::vector<TFaceStyle> FaceStyles(const QString& family) {
  std::vector<TFaceStyle> out;
  if (!FcInit()) return out;
  const QByteArray name = family.toUtf8();
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.constData()));
  FcObjectSet* objects = FcObjectSetBuild(FC_STYLE, FC_WEIGHT, FC_SLANT, FC_WIDTH, nullptr);
  FcFontSet* set = FcFontList(nullptr, pattern, objects);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  if (!set) return out;
  for (int i = 0; i < set->nfont; ++i) {
    FcPattern* font = set->fonts[i];
    FcChar8* style = nullptr;
    if (FcPatternGetString(font, FC_STYLE, 0, &style) != FcResultMatch || !style) continue;
    TFaceStyle s;
    s.Name = QString::fromUtf8(reinterpret_cast<const char*>(style));
    FcPatternGetInteger(font, FC_WEIGHT, 0, &s.Weight);
    FcPatternGetInteger(font, FC_SLANT, 0, &s.Slant);
    FcPatternGetInteger(font, FC_WIDTH, 0, &s.Width);
    out.push_back(s);
  }
  FcFontSetDestroy(set);
  return out;
}

// Semi-bold and heavier faces count as bold, as the font factory asks for
// bold by weight.
bool IsBold(int weight) { return weight >= FC_WEIGHT_DEMIBOLD; }

QIcon Swatch(const QColor& color) {
  QPixmap pixmap(16, 16);
  pixmap.fill(color);
  QPainter p(&pixmap);
  p.setPen(Qt::gray);
  p.drawRect(0, 0, 15, 15);
  return QIcon(pixmap);
}

}  // namespace

QString StyleForWeightAndSlant(const QString& family, bool bold, bool italic) {
  const int weight = bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR;
  QString best;
  long bestScore = std::numeric_limits<long>::max();
  for (const TFaceStyle& s : FaceStyles(family)) {
    // Slant decides first, then weight, then width; of equals, the first
    // listed name wins so the choice does not wander.
    const bool slanted = s.Slant != FC_SLANT_ROMAN;
    const long score = (slanted != italic ? 1'000'000L : 0) +
                       1000L * std::abs(s.Weight - weight) + std::abs(s.Width - FC_WIDTH_NORMAL);
    if (score < bestScore || (score == bestScore && s.Name < best)) {
      bestScore = score;
      best = s.Name;
    }
  }
  return best;
}

bool StyleWeightAndSlant(const QString& family, const QString& style, bool& bold, bool& italic) {
  for (const TFaceStyle& s : FaceStyles(family))
    if (s.Name == style) {
      bold = IsBold(s.Weight);
      italic = s.Slant != FC_SLANT_ROMAN;
      return true;
    }
  return false;
}

TFontDialog::TFontDialog(QWidget* parent) : QFontDialog(parent) {
  // Qt's own widgets, so that the colour button can stand beside the sample.
  setOption(QFontDialog::DontUseNativeDialog);
  sample_ = findChild<QLineEdit*>(QStringLiteral("qt_fontDialog_sampleEdit"));
  colorButton_ = new QPushButton(QColorDialog::tr("Select Color"), this);
  colorButton_->setObjectName(QStringLiteral("fontColorButton"));
  colorButton_->setAutoDefault(false);
  QWidget* box = sample_ ? sample_->parentWidget() : nullptr;
  if (box && box->layout()) {
    colorButton_->setParent(box);
    box->layout()->addWidget(colorButton_);
  } else if (layout()) {
    layout()->addWidget(colorButton_);
  }
  QObject::connect(colorButton_, &QPushButton::clicked, this, [this] { PickColor(); });
  QObject::connect(this, &QFontDialog::currentFontChanged, this,
                   [this](const QFont& font) { FollowFamily(font); });
  SetColor(color_);
}

void TFontDialog::FollowFamily(const QFont& font) {
  if (following_) return;
  // Qt keeps a style name the new family also has; where it has not, Qt
  // takes some other style, often a slanted or bold one.
  if (!family_.isEmpty() && font.family() != family_ &&
      !QFontDatabase::styles(font.family()).contains(style_)) {
    const QString style = StyleForWeightAndSlant(font.family(), bold_, italic_);
    if (!style.isEmpty() && style != font.styleName()) {
      QFont kept = font;
      kept.setStyleName(style);
      following_ = true;
      setCurrentFont(kept);
      following_ = false;
    }
  }
  const QFont now = currentFont();
  family_ = now.family();
  style_ = now.styleName();
  bold_ = now.bold();
  italic_ = now.italic();
  StyleWeightAndSlant(family_, now.styleName(), bold_, italic_);
}

void TFontDialog::SetColor(const QColor& value) {
  color_ = value.isValid() ? QColor(value.rgb()) : QColor(Qt::black);
  colorButton_->setIcon(Swatch(color_));
  if (sample_) {
    QPalette palette = sample_->palette();
    palette.setColor(QPalette::Text, color_);
    sample_->setPalette(palette);
  }
}

void TFontDialog::PickColor() {
  const QColor picked = QColorDialog::getColor(color_, this);
  if (picked.isValid()) SetColor(picked);
}

void TFontDialog::SetChoice(const TFontChoice& choice) {
  QFont font(choice.Family);
  font.setPointSize(std::max(1, choice.PointSize));
  const QString style =
      StyleForWeightAndSlant(choice.Family, (choice.Style & fsBold) != 0, (choice.Style & fsItalic) != 0);
  if (!style.isEmpty()) {
    font.setStyleName(style);
  } else {
    font.setBold((choice.Style & fsBold) != 0);
    font.setItalic((choice.Style & fsItalic) != 0);
  }
  font.setUnderline((choice.Style & fsUnderline) != 0);
  font.setStrikeOut((choice.Style & fsStrikeOut) != 0);
  family_.clear();  // the shape's own style, not one carried over
  setCurrentFont(font);
  FollowFamily(currentFont());
  const auto c = static_cast<std::uint32_t>(choice.Color);
  SetColor(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
}

TFontChoice TFontDialog::Choice() const {
  const QFont font = currentFont();
  TFontChoice out;
  out.Family = font.family();
  out.PointSize = font.pointSize();
  bool bold = font.bold(), italic = font.italic();
  StyleWeightAndSlant(font.family(), font.styleName(), bold, italic);
  if (bold) out.Style |= fsBold;
  if (italic) out.Style |= fsItalic;
  if (font.underline()) out.Style |= fsUnderline;
  if (font.strikeOut()) out.Style |= fsStrikeOut;
  out.Color = static_cast<std::int32_t>(static_cast<std::uint32_t>(color_.red()) |
                                        (static_cast<std::uint32_t>(color_.green()) << 8) |
                                        (static_cast<std::uint32_t>(color_.blue()) << 16));
  return out;
}

bool TFontDialog::Execute(TFontChoice& choice, QWidget* parent) {
  TFontDialog dialog(parent);
  dialog.SetChoice(choice);
  if (dialog.exec() != QDialog::Accepted) return false;
  choice = dialog.Choice();
  return true;
}

}  // namespace kdl
