// Rulers beside the document view: TKdRuler, a scale with numbers and ticks
// along one side and a hair line that follows the mouse; TKdRulerCorner, the
// square where two rulers meet, naming the unit; TKdBaseRuler, their look.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "platform/qt/Font.h"
#include "raster/RangeBars.h"
#include "raster/Types.h"

class QPainter;

namespace kdl {

enum TRulerUnit : std::uint8_t { ruCenti = 0, ruMilli = 1, ruInch = 2, ruPixel = 3, ruNone = 4 };
enum TRulerDir : std::uint8_t { rdTop = 0, rdLeft = 1, rdRight = 2, rdBottom = 3 };
enum TCornerPos : std::uint8_t { cpLeftTop = 0, cpRightTop = 1, cpLeftBottom = 2, cpRightBottom = 3 };
enum THairLineStyle : std::uint8_t { hlsLine = 0, hlsRect = 1 };

inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowText = clSystemColor | 8;

class TKdBaseRuler : public QWidget {
 public:
  explicit TKdBaseRuler(QWidget* parent = nullptr);
  ~TKdBaseRuler() override;

  // Without the raised edge.
  bool Flat() const { return flat_; }
  void SetFlat(bool value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TColor ScaleColor() const { return scaleColor_; }
  void SetScaleColor(TColor value);
  TColor TickColor() const { return tickColor_; }
  void SetTickColor(TColor value);
  TRulerUnit Units() const { return units_; }
  virtual void SetUnits(TRulerUnit value) = 0;
  // The control's font; the numbers use its face at a cell height of
  // -Height, bold and italic as it is. A change repaints.
  TFont& Font() { return font_; }

 protected:
  // The font the numbers and captions are measured and drawn with.
  const TFont& TextFont();
  // Height of "0" in TextFont.
  std::int32_t TextHeight();
  // Where the band starts from the control's edge.
  std::int32_t Inset() const { return flat_ ? 1 : 2; }
  // Fill and edge.
  void PaintBase(QPainter& painter);
  // A property changed: draw everything again.
  virtual void Changed();

  TRulerUnit units_ = ruCenti;

 private:
  bool flat_ = false;
  TColor color_ = clBtnFace;
  TColor scaleColor_ = clWindow;
  TColor tickColor_ = clWindowText;
  TFont font_;
  TFont textFont_;
  bool textFontValid_ = false;
};

class TKdRuler : public TKdBaseRuler {
 public:
  explicit TKdRuler(QWidget* parent = nullptr);
  ~TKdRuler() override;

  // Switching between horizontal and vertical swaps width and height.
  TRulerDir Direction() const { return direction_; }
  void SetDirection(TRulerDir value);
  bool HairLine() const { return hairLine_; }
  void SetHairLine(bool value);
  // -1 for none; a full repaint resets it.
  std::int32_t HairLinePos() const { return hairLinePos_; }
  void SetHairLinePos(std::int32_t value);
  THairLineStyle HairLineStyle() const { return hairLineStyle_; }
  void SetHairLineStyle(THairLineStyle value);
  // The document coordinate (mm) at the ruler's start.
  double Offset() const { return offset_; }
  void SetOffset(double value);
  bool ShowMinus() const { return showMinus_; }
  void SetShowMinus(bool value);
  // Screen pixels per millimetre of the document.
  double ScreenDpm() const { return screenDpm_; }
  void SetScreenDpm(double value);
  // Converts Offset into the new unit.
  void SetUnits(TRulerUnit value) override;

  // The strip the numbers lie on.
  QRect BandRect();

 protected:
  void Changed() override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool Horizontal() const { return direction_ == rdTop || direction_ == rdBottom; }
  // Screen pixels per inch along the ruler.
  double Dpi() const;
  // Millimetres per unit, inverted: units per millimetre.
  double UnitsPerMm(TRulerUnit unit) const;
  void RenderScale();
  void DrawScale(QPainter& painter);
  QRect HairLineRect(std::int32_t position);

  TRulerDir direction_ = rdTop;
  bool hairLine_ = false;
  std::int32_t hairLinePos_ = -1;
  THairLineStyle hairLineStyle_ = hlsLine;
  double offset_ = 0;
  bool showMinus_ = true;
  double screenDpm_ = 2.3;
  // The ruler without the hair line, drawn again only when it changed; the
  // hair line is inverted over it.
  QImage scale_;
  bool scaleValid_ = false;
};

class TKdRulerCorner : public TKdBaseRuler {
 public:
  explicit TKdRulerCorner(QWidget* parent = nullptr);
  ~TKdRulerCorner() override;

  TCornerPos Position() const { return position_; }
  void SetPosition(TCornerPos value);
  // Names the unit in the caption and the tool tip.
  void SetUnits(TRulerUnit value) override;
  const QString& Caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TCornerPos position_ = cpLeftTop;
  QString caption_;
};

}  // namespace kdl
