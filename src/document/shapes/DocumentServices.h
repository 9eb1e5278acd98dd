// What shapes, pages and resources ask of the document that holds them.
//
// The document control implements it; tests use a fake. Shapes keep a plain
// pointer to it (the document outlives every shape it holds) and call nothing
// else of the document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "document/shapes/Rendering.h"
#include "raster/Types.h"

class QPainter;

namespace kdl {

class TdtpBitmapResource;
class TdtpCommand;
class TdtpFontManager;
class TdtpHandlePainter;
class TdtpPage;
class TdtpShape;
class TqxStorage;
class TXmlNode;

// The buttons and keys of one mouse or key message (client pixels).
struct TdtpMouseInfo {
  bool Left = false;
  bool Right = false;
  bool Middle = false;
  bool Shift = false;
  bool Ctrl = false;
  bool Alt = false;
  std::int32_t X = 0;
  std::int32_t Y = 0;
};

enum TdtpHelperMethodType : std::uint8_t { hmNone = 0, hmDots = 1, hmGrid = 2, hmPattern = 3 };
enum TdtpViewStyleType : std::uint8_t { vsPrintLayout = 0, vsNormal = 1 };
enum TdtpProgressType : std::uint8_t { ptLoad = 0, ptSave = 1, ptPrint = 2, ptWizard = 3 };

class TdtpDocumentServices {
 public:
  virtual ~TdtpDocumentServices() = default;

  // ---- Loading and identity -------------------------------------------------
  // True while a document, a page or a shape string is being read: shapes
  // then raise no change events.
  virtual bool IsLoading() const = 0;
  // A fresh document-wide shape ID; every call gives a new one.
  virtual std::int32_t NextShapeId() = 0;
  // The document's archive; nil when the document keeps none.
  virtual TqxStorage* Storage() = 0;
  // The outline fonts shared by the document's glyph memos; nil when the
  // document keeps none (the memos then measure and draw nothing).
  virtual TdtpFontManager* FontManager() { return nullptr; }

  // ---- Undo -------------------------------------------------------------------
  // Records are made only while undo is enabled (new records go to the undo
  // list) or while an undo is being replayed (inverse records go to redo).
  virtual bool UndoEnabled() const = 0;
  virtual bool Undoing() const = 0;
  virtual void AddUndo(std::unique_ptr<TdtpCommand> command) = 0;
  virtual void AddRedo(std::unique_ptr<TdtpCommand> command) = 0;
  // Brackets records that one user action makes into one group.
  virtual void BeginUndo() = 0;
  virtual void EndUndo() = 0;
  // While locked, nothing is recorded.
  virtual void LockUndo() = 0;
  virtual void UnlockUndo() = 0;

  // ---- Notifications ----------------------------------------------------------
  virtual void InvalidateShape(TdtpShape* shape) = 0;
  virtual void DoShapeChanged(TdtpShape* shape) = 0;
  virtual void DoSelectionChanged(TdtpShape* shape) = 0;
  // The shape is about to be freed: drop every reference to it.
  virtual void DoShapeDestroy(TdtpShape* shape) = 0;
  // A shape failed to load and was left out.
  virtual void DoLoadError(TdtpShape* shape, const std::string& message) = 0;
  virtual bool Modified() const = 0;
  virtual void SetModified(bool value) = 0;
  // Let the application keep its own elements beside a shape's.
  virtual void DoShapeSaveAdditionalInfo(TdtpShape* shape, TXmlNode& node) = 0;
  virtual void DoShapeLoadAdditionalInfo(TdtpShape* shape, TXmlNode& node) = 0;

  // ---- Editing and view ---------------------------------------------------------
  // The shape under in-place editing; nil when none is edited.
  virtual TdtpShape* EditedShape() const = 0;
  // Ends in-place editing, keeping the edit when accept is set.
  virtual void EndEdit(bool accept) = 0;
  // Takes a shape off the current page for good, freeing it only after the
  // handler that asked has returned (a drawing cancelled from its own key).
  virtual void DiscardShape(TdtpShape* /*shape*/) {}
  // The document's own hint setting, for shapes with ParentShowHint.
  virtual bool ShowHint() const = 0;
  // Document millimetres to client pixels and back.
  virtual TFloatPoint DocToScreen(TFloatPoint point) const = 0;
  virtual TFloatPoint ScreenToDoc(TFloatPoint point) const = 0;
  // Asks for a cursor (a platform cursor id) while work is under way.
  virtual void SetCursorShape(std::int32_t cursor) = 0;

  // ---- Hit testing, handles and drags ------------------------------------------------
  // The pixel offsets hit tests probe around the mouse point; an index
  // outside the table gives (0, 0).
  virtual int HitPointCount() const;
  virtual TPoint GetHitPoint(int index) const;
  // Rotation snap in degrees; 0 snaps only while Alt is held, to 5.
  virtual float StepAngle() const { return 0; }
  // Fill and edge of selection handles; the edge colour also draws the
  // dotted XOR feedback of a drag.
  virtual TColor HandleColor() const { return 0xFFFFFF; }
  virtual TColor HandleEdgeColor() const { return 0; }
  // The painter of the document's handle style for a shape; nil lets the
  // shape take a plain one.
  virtual std::unique_ptr<TdtpHandlePainter> CreateHandlePainter(TdtpShape& shape);

  // ---- Page defaults and view settings -------------------------------------------
  // What a default page takes from its document.
  virtual float DefaultMarginLeft() const = 0;
  virtual float DefaultMarginTop() const = 0;
  virtual float DefaultMarginRight() const = 0;
  virtual float DefaultMarginBottom() const = 0;
  virtual float DefaultGridSize() const = 0;
  virtual TColor DefaultGridColor() const = 0;
  virtual TColor DefaultPageColor() const = 0;
  virtual bool DefaultBackgroundTiled() const = 0;
  // The default background; nil when the document keeps none.
  virtual TdtpBitmapResource* DefaultBackground() = 0;
  virtual float DefaultPageWidth() const = 0;
  virtual float DefaultPageHeight() const = 0;
  virtual TdtpHelperMethodType HelperMethod() const = 0;
  virtual bool ShowMargins() const = 0;
  virtual TdtpViewStyleType ViewStyle() const = 0;
  // Screen pixels per mm at the current zoom; cache pixels per mm wanted.
  virtual float ScreenDpm() const = 0;
  virtual float RenderDpm() const = 0;
  virtual TStretchFilter Quality() const = 0;
  virtual std::int32_t ThumbnailWidth() const = 0;
  virtual std::int32_t ThumbnailHeight() const = 0;
  // The document control's background colour.
  virtual TColor Color() const = 0;
  // The page's index in the document; -1 when it holds no such page.
  virtual int PageIndex(const TdtpPage* page) const = 0;
  virtual TdtpPage* CurrentPage() const = 0;
  // The current page's size changed: scroll range and rulers follow.
  virtual void PageSizeChanged() = 0;
  // Fires the document's OnPageChanged.
  virtual void DoPageChanged(TdtpPage* page) = 0;
  // Repaints the document control.
  virtual void Refresh() = 0;

  // ---- Paint events ------------------------------------------------------------------
  // Whether OnPaintBackground / OnPaintForeground are assigned; the page
  // opens a painter on its bitmap only then.
  virtual bool HasPaintBackground() const = 0;
  virtual bool HasPaintForeground() const = 0;
  // pageRect is the page in the painter's pixels.
  virtual void DoPaintBackground(QPainter& painter, const TdtpPaintInfo& info,
                                 const TRect& pageRect) = 0;
  virtual void DoPaintForeground(QPainter& painter, const TdtpPaintInfo& info,
                                 const TRect& pageRect, int layer) = 0;

  // ---- Lazy page loading -------------------------------------------------------------
  // Reads the page with that index from the archive and marks it loaded.
  virtual void LoadPage(int index) = 0;

  // ---- Printing state ----------------------------------------------------------------
  // Window painting is skipped while the counter is above 0.
  virtual void BeginPrinting() = 0;
  virtual void EndPrinting() = 0;
  virtual bool IsPrinting() const = 0;
  // The device every shape is painted for now.
  virtual void SetDevice(TDeviceType device) = 0;
  // Bands of nothing but paper are not sent.
  virtual bool OptimizedPrinting() const = 0;
  // 0: free render caches after printing a page; else keep them.
  virtual int Performance() const = 0;

  // ---- Progress ------------------------------------------------------------------------
  // The job's page count (0: no job reports progress) and the page now
  // printed, 1-based.
  virtual int ProgressCount() const = 0;
  virtual int ProgressPage() const = 0;
  virtual void DoProgress(TdtpProgressType kind, int count, int total, float percent) = 0;
};

}  // namespace kdl
