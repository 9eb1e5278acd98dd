// The handles a selected shape shows and the lines between them, in the
// shape's own millimetres, and how they are painted on the view and fed
// back while the user drags. TdtpHandlePainter shows four corner squares
// and a round rotation handle; TdtpW2K3HandlePainter eight circles and a
// green rotation circle above the top edge.
#pragma once

#include <QRgb>

#include <cstdint>
#include <vector>

#include "platform/Exception.h"
#include "raster/Types.h"

class QPainter;

namespace kdl {

class TdtpShape;

// Raised when a painter that needs its shape has none.
KDL_DECLARE_EXCEPTION(EHandlePainterError, Exception);

struct TdtpHandle {
  // The hit code the handle answers (see TdtpShape's hit codes).
  std::uint8_t Kind = 0;
  // At rest and during a drag, in the shape's own mm before rotation.
  TFloatPoint Position;
  TFloatPoint DragPosition;
};

struct TdtpDragLine {
  // Indexes into the handle list.
  std::int32_t HandleA = 0;
  std::int32_t HandleB = 0;
  // The hit code offered when the line itself is grabbed; 0 none.
  std::uint8_t Kind = 0;
  bool Visible = true;
  bool VisibleWhileDragging = true;
};

class TdtpHandlePainter {
 public:
  TdtpHandlePainter() = default;
  virtual ~TdtpHandlePainter() = default;
  TdtpHandlePainter(const TdtpHandlePainter&) = delete;
  TdtpHandlePainter& operator=(const TdtpHandlePainter&) = delete;

  // Not owned; the shape owns its painter.
  TdtpShape* Shape() const { return shape_; }
  void SetShape(TdtpShape* shape) { shape_ = shape; }

  int HandleCount() const { return static_cast<int>(handles_.size()); }
  // Nil outside the list; valid until the count changes.
  TdtpHandle* GetHandle(int index);
  const TdtpHandle* GetHandle(int index) const;
  // Appends default handles or drops them from the end; below 0 empties.
  void SetHandleCount(int count);
  int DragLineCount() const { return static_cast<int>(lines_.size()); }
  TdtpDragLine* GetDragLine(int index);
  const TdtpDragLine* GetDragLine(int index) const;
  void SetDragLineCount(int count);

  // The document's handle colours; 0 without a document.
  virtual TColor GetHandleColor() const;
  virtual TColor GetHandleEdgeColor() const;
  // In screen pixels.
  virtual int GetHandleRadius() const { return 3; }
  // The handle's square on screen, 2 x radius + 1 pixels wide, around its
  // rest position; empty for an index outside the list.
  TRect GetHandleRect(int index) const;
  // The screen pixel of a point in the shape's own mm.
  TPoint ScreenPoint(TFloatPoint local) const;

  // Lays the handles and lines out for the shape's present frame.
  virtual void BuildHandles();
  // Every visible line at rest with the painter's present pen.
  virtual void PaintDragLines(QPainter& canvas);
  // The lines meant for dragging, at the handles' drag positions, dotted
  // in XOR: what lies beneath shows through inverted.
  virtual void PaintDragFeedback(QPainter& canvas);
  virtual void PaintHandle(QPainter& canvas, int index);
  virtual void Paint(QPainter& canvas);

 protected:
  // Raises unless a shape is assigned.
  TdtpShape& RequireShape() const;
  // The pen PaintDragLines uses, set by Paint.
  void SetLinePen(QRgb color, int width, bool dotted);

  struct TLinePen {
    QRgb Color = 0xFF000000u;
    int Width = 1;
    bool Dotted = false;
  };
  TLinePen linePen_;

 private:
  TdtpShape* shape_ = nullptr;
  std::vector<TdtpHandle> handles_;
  std::vector<TdtpDragLine> lines_;
};

class TdtpW2K3HandlePainter : public TdtpHandlePainter {
 public:
  void BuildHandles() override;
  void PaintHandle(QPainter& canvas, int index) override;
  void Paint(QPainter& canvas) override;
};

}  // namespace kdl
