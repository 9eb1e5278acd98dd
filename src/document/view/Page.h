// One page of a document: a shape whose frame is the paper (mm) and whose
// children are the shapes on it, bottom first. It carries its own margins,
// grid, paper colour and background image, or follows the document's
// defaults while it is a default page; it paints the paper under its
// children, renders thumbnails and draws itself onto any painter.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QImage>

#include "document/shapes/DocumentServices.h"
#include "document/shapes/Shape.h"

class QPainter;

namespace kdl {

class TdtpBitmapResource;
class TPrintSurface;

// The background image's resolution when tiled: 150 dpi in pixels per mm.
inline constexpr float kTileDpm = 5.905511811f;
// Thumbnails render at most at 150 dpi.
inline constexpr float kThumbnailRenderDpm = 5.905512f;

class TdtpPage : public TdtpShape {
 public:
  TdtpPage();
  ~TdtpPage() override;

  std::string ClassName() const override { return "TdtpPage"; }

  // ---- Page settings -----------------------------------------------------------------
  // Getters load the page first; on a default page in a document they give
  // the document's defaults.
  float PageWidth() const { return DocWidth(); }
  float PageHeight() const { return DocHeight(); }
  void SetPageWidth(float value);
  void SetPageHeight(float value);
  float MarginLeft();
  float MarginTop();
  float MarginRight();
  float MarginBottom();
  void SetMarginLeft(float value);
  void SetMarginTop(float value);
  void SetMarginRight(float value);
  void SetMarginBottom(float value);
  float GridSize();
  void SetGridSize(float value);
  TColor GridColor();
  void SetGridColor(TColor value);
  TColor PageColor();
  void SetPageColor(TColor value);
  bool BackgroundTiled();
  void SetBackgroundTiled(bool value);
  // The page's own background image.
  TdtpBitmapResource& BackgroundResource() { return *background_; }
  // The background that paints: the document's default one on a default
  // page, else the page's own; nil when there is none.
  TdtpBitmapResource* EffectiveBackground();

  bool IsDefaultPage() const { return isDefaultPage_; }
  void SetIsDefaultPage(bool value);
  // False while the page's XML has not been read from the archive yet.
  bool IsLoaded() const { return loaded_; }
  void SetLoaded(bool value) { loaded_ = value; }
  void EnsureLoaded();

  // From the document alone.
  TdtpHelperMethodType HelperMethod() const;
  bool ShowMargins() const;
  TdtpViewStyleType ViewStyle() const;

  // The document's index of the page; -1 without a document.
  int GetPageIndex() const;
  // Moves the frame without notification, undo or change event.
  void SetPagePosition(float left, float top);

  // The resource's events: a file was loaded into it / its content changed.
  void BackgroundChanged();
  void BackgroundInvalidated();

  // ---- Thumbnail ---------------------------------------------------------------------
  // Renders it when missing or dirty; nil without a document.
  const QImage* GetThumbnail();
  // Keeps a copy; nil drops the thumbnail. Clears the dirty mark.
  void SetThumbnail(const QImage* image);
  bool ThumbnailDirty() const { return thumbnailDirty_; }
  void UpdateThumbnail();

  // Renders the page and draws it into rect of painter, fitted and centred
  // when fit is set, else at screen size at rect's top-left.
  void PaintToCanvas(QPainter& canvas, const TRect& rect, float maxRenderDpm, bool fit);

  // ---- Band printing (PagePrinting.cpp) -------------------------------------------------
  // Prints the page into rect (device pixels) of surface at dpm device
  // pixels per mm (0: fit rect), turned by rotation quarter turns (1
  // counter-clockwise, 2 half, 3 clockwise), mirrored left-right and
  // top-bottom on the device; in bands of fewer than kBandPixelLimit pixels.
  void PrintPage(TPrintSurface& surface, const TRect& rect, float dpm, int rotation,
                 bool mirrorRows, bool flipRows);
  // The same at 150 dpi.
  void PrintPage150(TPrintSurface& surface, const TRect& rect, int rotation, bool mirrorRows,
                    bool flipRows);

  // ---- Shape overrides ------------------------------------------------------------------
  void GetResourceNames(std::vector<std::string>& names) const override;
  TFloatPoint SnapPoint(TFloatPoint p) const override;
  std::string GetDisplayName() const override;
  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) override;
  // Fires the document's OnPaintForeground over the page rectangle.
  void PaintForeground(TBitmap32& bitmap, const TdtpPaintInfo& info, int layer);
  void SetDocument(TdtpDocumentServices* document) override;
  void SetModified(bool value) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;
  void SetDocBoundsAngle(float left, float top, float width, float height, float angle) override;

  // Width and height positive and finite: anything else has no pixels.
  bool HasArea() const;

 private:
  // Leaves the default state without taking the document's background.
  void LeaveDefault(bool copyBackground);
  void SetOwnFloat(float& field, float value, float effective);
  void PaintPaper(TBitmap32& bitmap, const TdtpPaintInfo& info, const TRect& r);
  void PaintBackgroundImage(TBitmap32& bitmap, const TdtpPaintInfo& info, const TRect& r);
  void PaintHelpers(TBitmap32& bitmap, const TRect& r);

  std::unique_ptr<TdtpBitmapResource> background_;
  bool isDefaultPage_ = true;
  bool loaded_ = true;
  TColor pageColor_ = 0xFFFFFF;
  TColor gridColor_ = 0xFFFFC0;
  float gridSize_ = 5.0f;
  float marginLeft_ = 10.0f;
  float marginTop_ = 10.0f;
  float marginRight_ = 10.0f;
  float marginBottom_ = 10.0f;
  bool backgroundTiled_ = false;
  std::unique_ptr<QImage> thumbnail_;
  bool thumbnailDirty_ = false;
};

}  // namespace kdl
