// The font dialog: Qt's own, with a colour button beside the sample. Its
// style is chosen from weight and slant as fontconfig gives them, never by
// a style's name, since faces name their upright style "Book", "Roman" or
// "Regular" alike; what the user picked comes back as bold, italic,
// underline and strike-out.
#pragma once

#include <QColor>
#include <QFontDialog>

#include <cstdint>

#include "platform/FontStyles.h"

class QPushButton;
class QLineEdit;

namespace kdl {

struct TFontChoice {
  QString Family;
  int PointSize = 0;
  TFontStyles Style = 0;
  // 0x00BBGGRR.
  std::int32_t Color = 0;
};

// The family's style whose weight and slant are nearest to bold / italic
// at normal width; empty when fontconfig knows no style of the family.
QString StyleForWeightAndSlant(const QString& family, bool bold, bool italic);

// Bold and italic as fontconfig's weight and slant of a family's style
// say; nothing when it does not know the style.
bool StyleWeightAndSlant(const QString& family, const QString& style, bool& bold, bool& italic);

class TFontDialog : public QFontDialog {
 public:
  explicit TFontDialog(QWidget* parent = nullptr);

  void SetChoice(const TFontChoice& choice);
  TFontChoice Choice() const;

  QColor Color() const { return color_; }
  void SetColor(const QColor& value);
  // Opens the colour dialog on the current colour.
  QPushButton* ColorButton() const { return colorButton_; }

  // Runs the dialog modally on choice; true, with choice updated, when the
  // user confirmed.
  static bool Execute(TFontChoice& choice, QWidget* parent = nullptr);

 private:
  void PickColor();
  // Another family keeps the weight and slant of the style chosen before
  // where it has no style of the same name.
  void FollowFamily(const QFont& font);

  QString family_;
  QString style_;
  bool bold_ = false;
  bool italic_ = false;
  bool following_ = false;

  QColor color_ = Qt::black;
  QPushButton* colorButton_ = nullptr;
  QLineEdit* sample_ = nullptr;
};

}  // namespace kdl
