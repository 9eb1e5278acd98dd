// A document for shape tests: a real in-memory archive, an ID counter, a log
// of the events shapes send, and a grouped undo list.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/shapes/Command.h"
#include "document/shapes/DocumentServices.h"
#include "document/shapes/HitPoints.h"
#include "document/text/FontManager.h"
#include "foundation/Storage.h"

namespace kdl::testing {

class FakeDocument : public TdtpDocumentServices {
 public:
  FakeDocument();
  ~FakeDocument() override;

  bool IsLoading() const override { return loading_; }
  std::int32_t NextShapeId() override { return ++lastId_; }
  TqxStorage* Storage() override { return archive_.get(); }
  TdtpFontManager* FontManager() override { return fontManager_.get(); }

  bool UndoEnabled() const override { return undoOn_ && undoLock_ == 0; }
  bool Undoing() const override { return undoing_; }
  void AddUndo(std::unique_ptr<TdtpCommand> command) override;
  void AddRedo(std::unique_ptr<TdtpCommand> command) override;
  void BeginUndo() override;
  void EndUndo() override;
  void LockUndo() override { ++undoLock_; }
  void UnlockUndo() override { --undoLock_; }

  void InvalidateShape(TdtpShape* shape) override;
  void DoShapeChanged(TdtpShape* shape) override;
  void DoSelectionChanged(TdtpShape* shape) override;
  void DoShapeDestroy(TdtpShape* shape) override;
  void DoLoadError(TdtpShape* shape, const std::string& message) override;
  bool Modified() const override { return modified_; }
  void SetModified(bool value) override { modified_ = value; }
  void DoShapeSaveAdditionalInfo(TdtpShape* shape, TXmlNode& node) override;
  void DoShapeLoadAdditionalInfo(TdtpShape* shape, TXmlNode& node) override;

  TdtpShape* EditedShape() const override { return edited_; }
  void EndEdit(bool accept) override;
  bool ShowHint() const override { return showHint_; }
  TFloatPoint DocToScreen(TFloatPoint point) const override;
  TFloatPoint ScreenToDoc(TFloatPoint point) const override;
  void SetCursorShape(std::int32_t cursor) override { Cursor = cursor; }

  int HitPointCount() const override { return static_cast<int>(HitPoints.size()); }
  TPoint GetHitPoint(int index) const override;
  float StepAngle() const override { return StepAngleValue; }
  TColor HandleColor() const override { return HandleColorValue; }
  TColor HandleEdgeColor() const override { return HandleEdgeColorValue; }
  std::unique_ptr<TdtpHandlePainter> CreateHandlePainter(TdtpShape& shape) override;

  float DefaultMarginLeft() const override { return Defaults.MarginLeft; }
  float DefaultMarginTop() const override { return Defaults.MarginTop; }
  float DefaultMarginRight() const override { return Defaults.MarginRight; }
  float DefaultMarginBottom() const override { return Defaults.MarginBottom; }
  float DefaultGridSize() const override { return Defaults.GridSize; }
  TColor DefaultGridColor() const override { return Defaults.GridColor; }
  TColor DefaultPageColor() const override { return Defaults.PageColor; }
  bool DefaultBackgroundTiled() const override { return Defaults.BackgroundTiled; }
  TdtpBitmapResource* DefaultBackground() override;
  float DefaultPageWidth() const override { return Defaults.PageWidth; }
  float DefaultPageHeight() const override { return Defaults.PageHeight; }
  TdtpHelperMethodType HelperMethod() const override { return View.HelperMethod; }
  bool ShowMargins() const override { return View.ShowMargins; }
  TdtpViewStyleType ViewStyle() const override { return View.ViewStyle; }
  float ScreenDpm() const override { return ScreenDpmValue; }
  float RenderDpm() const override { return View.RenderDpm; }
  TStretchFilter Quality() const override { return View.Quality; }
  std::int32_t ThumbnailWidth() const override { return View.ThumbnailWidth; }
  std::int32_t ThumbnailHeight() const override { return View.ThumbnailHeight; }
  TColor Color() const override { return View.Color; }
  int PageIndex(const TdtpPage* page) const override;
  TdtpPage* CurrentPage() const override { return Current; }
  void PageSizeChanged() override { ++PageSizeChanges; }
  void DoPageChanged(TdtpPage* page) override;
  void Refresh() override { ++Refreshes; }

  bool HasPaintBackground() const override { return bool(OnPaintBackground); }
  bool HasPaintForeground() const override { return bool(OnPaintForeground); }
  void DoPaintBackground(QPainter& painter, const TdtpPaintInfo& info,
                         const TRect& pageRect) override;
  void DoPaintForeground(QPainter& painter, const TdtpPaintInfo& info, const TRect& pageRect,
                         int layer) override;

  // Reads the page's stored XML (PageXml[index]) as the archive loader does.
  void LoadPage(int index) override;

  void BeginPrinting() override { ++printing_; }
  void EndPrinting() override;
  bool IsPrinting() const override { return printing_ > 0; }
  void SetDevice(TDeviceType device) override { Device = device; }
  bool OptimizedPrinting() const override { return Optimized; }
  int Performance() const override { return PerformanceValue; }

  int ProgressCount() const override { return ProgressCountValue; }
  int ProgressPage() const override { return ProgressPageValue; }
  void DoProgress(TdtpProgressType kind, int count, int total, float percent) override;

  // ---- Controls for tests ------------------------------------------------------
  void SetLoading(bool value) { loading_ = value; }
  void SetUndoOn(bool value) { undoOn_ = value; }
  // Drops the archive (a document without one) or makes a fresh empty one.
  void SetHasArchive(bool value);
  void SetEditedShape(TdtpShape* shape) { edited_ = shape; }
  void SetShowHint(bool value) { showHint_ = value; }
  // Drops the font manager (a document without one) or makes a fresh one.
  void SetHasFontManager(bool value) {
    fontManager_ = value ? std::make_unique<TdtpFontManager>() : nullptr;
  }
  std::int32_t LastShapeId() const { return lastId_; }

  // Undo and redo lists, oldest first; a group is one unchained record and
  // the chained ones after it.
  const std::vector<std::unique_ptr<TdtpCommand>>& UndoList() const { return undo_; }
  const std::vector<std::unique_ptr<TdtpCommand>>& RedoList() const { return redo_; }
  int UndoGroupCount() const;
  void ClearUndo();
  // Takes the last group back, as the document does: each record is offered
  // to the tree under root; one that no shape takes counts as refused. The
  // inverse records land in the redo list. False when there was nothing.
  bool Undo(TdtpShape& root);
  int Refused = 0;

  // Every event in arrival order; invalidations are only counted.
  struct Event {
    std::string Kind;  // "Changed", "Selection", "Destroy", "LoadError", "EndEdit",
                       // "SaveInfo", "LoadInfo"
    TdtpShape* Shape = nullptr;
    std::string Text;  // the load error's message, or "True"/"False" for EndEdit
  };
  std::vector<Event> Events;
  // How many events of one kind arrived.
  int CountEvents(const std::string& kind) const;
  int Invalidations = 0;
  std::int32_t Cursor = 0;
  // Screen mapping: pixels = (mm - origin) * ScreenDpmValue.
  TFloatPoint WindowOrigin{};

  // ---- Hit testing and handles ---------------------------------------------------
  std::vector<TPoint> HitPoints = DefaultHitPoints();
  float StepAngleValue = 0;
  TColor HandleColorValue = 0xFFFFFF;
  TColor HandleEdgeColorValue = 0;
  // The painter shapes get; plain when nothing is chosen.
  enum class Handles { Default, Plain, W2K3 } HandleStyle = Handles::Default;

  // ---- Pages ---------------------------------------------------------------------
  struct PageDefaults {
    float MarginLeft = 10, MarginTop = 10, MarginRight = 10, MarginBottom = 10;
    float GridSize = 5;
    TColor GridColor = 0xC0FFFF;
    TColor PageColor = 0xFFFFFF;
    bool BackgroundTiled = false;
    float PageWidth = 210, PageHeight = 297;
  } Defaults;
  struct ViewSettings {
    TdtpHelperMethodType HelperMethod = hmNone;
    bool ShowMargins = false;
    TdtpViewStyleType ViewStyle = vsNormal;
    float RenderDpm = 150.0f / 25.4f;
    TStretchFilter Quality = sfLinear;
    std::int32_t ThumbnailWidth = 80, ThumbnailHeight = 60;
    TColor Color = 0x808080;
  } View;
  // The pages in document order (not owned); the current one.
  std::vector<TdtpPage*> Pages;
  TdtpPage* Current = nullptr;
  // Stored page XML by page index, read by LoadPage.
  std::vector<std::string> PageXml;
  std::vector<int> LoadedPages;
  float ScreenDpmValue = 150.0f / 25.4f;
  int PageSizeChanges = 0;
  int Refreshes = 0;
  std::vector<TdtpPage*> PageChanges;
  std::function<void(QPainter&, const TdtpPaintInfo&, const TRect&)> OnPaintBackground;
  std::function<void(QPainter&, const TdtpPaintInfo&, const TRect&, int)> OnPaintForeground;
  // Printing: the device last set and the bracket depth.
  TDeviceType Device = dtScreen;
  int PrintingDepth() const { return printing_; }
  bool Optimized = false;
  int PerformanceValue = 0;
  // Progress: what DoProgress received.
  int ProgressCountValue = 0;
  int ProgressPageValue = 0;
  struct Progress {
    TdtpProgressType Kind;
    int Count, Total;
    float Percent;
  };
  std::vector<Progress> ProgressLog;

 private:
  void Chain(TdtpCommand& command);

  std::unique_ptr<TqxStorage> archive_;
  std::unique_ptr<TdtpFontManager> fontManager_ = std::make_unique<TdtpFontManager>();
  std::int32_t lastId_ = 0;
  bool loading_ = false;
  bool undoOn_ = true;
  bool undoing_ = false;
  int undoLock_ = 0;
  int groupDepth_ = 0;
  bool groupRecorded_ = false;
  bool modified_ = false;
  bool showHint_ = false;
  TdtpShape* edited_ = nullptr;
  int printing_ = 0;
  std::unique_ptr<TdtpBitmapResource> defaultBackground_;
  std::vector<std::unique_ptr<TdtpCommand>> undo_;
  std::vector<std::unique_ptr<TdtpCommand>> redo_;
};

}  // namespace kdl::testing
