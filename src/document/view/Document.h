// TdtpDocument: the window control that owns a document. It holds up to 25
// pages, the archive they are stored in (pages are read on first use), the
// undo and redo lists, a font manager, the default page background, its
// timers and a popup menu, shows the current page scaled and scrolled in a
// virtual scroll box, and is what every shape, page and resource asks for
// document services.
//
// The sources are split by concern: Document.cpp (the control, pages,
// counters, events, timers), DocumentArchive.cpp (load and save),
// DocumentView.cpp (mapping, zoom, painting), DocumentPrinting.cpp (print
// jobs), DocumentEditing.cpp (mouse, keys, hints, hot zone) and
// DocumentUndo.cpp (undo stack and clipboard).
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "document/shapes/DocumentServices.h"
#include "document/view/Ruler.h"
#include "document/view/VirtScrollBox.h"
#include "platform/Exception.h"
#include "platform/qt/Cursors.h"
#include "raster/Layers.h"
#include "raster/Types.h"

class QAction;
class QContextMenuEvent;
class QKeyEvent;
class QMenu;
class QMouseEvent;
class QPainter;
class QWidget;

namespace kdl {

class TBitmap32;
class TdtpBitmapResource;
class TdtpCommand;
class TdtpFontManager;
class TdtpHandlePainter;
class TdtpPage;
class TdtpShape;
class TKdRuler;
class TKdRulerCorner;
class TqxStorage;
class TStream;
class TTimer;
class TXmlNode;

KDL_DECLARE_EXCEPTION(EDocumentError, Exception);

inline constexpr const char* kThreadingError = "Threading error (working already)";
inline constexpr const char* kInvalidPageCount = "Invalid page count";
inline constexpr const char* kEndUpdateUnderflow = "EndUpdate called more often than BeginUpdate";
inline constexpr const char* kEndUndoUnderflow = "EndUndo called more often than BeginUndo";
inline constexpr const char* kEndPrintingUnderflow =
    "EndPrinting called more often than BeginPrinting";
inline constexpr const char* kCannotFindFile = "Cannot find file \"%s\"";
inline constexpr const char* kNoIndexFound = "No index found in archive";
inline constexpr const char* kArchiveDoesNotExist = "Archive does not exist";
inline constexpr const char* kDocumentVersion = "2.7.1";

inline constexpr int kMaxPageCount = 25;
// 150 dpi in dots per mm: the render and screen resolution of a new document.
inline constexpr float kDefaultDpm = 5.905512f;
// Thumbnail sides the document accepts, in pixels.
inline constexpr std::int32_t kMinThumbnailSide = 1;
inline constexpr std::int32_t kMaxThumbnailSide = 4096;
inline constexpr std::uint32_t kAnimationInterval = 50;

// Archive member names.
inline constexpr const char* kIndexMember = "Index.xml";
inline constexpr const char* kFontsMember = "Fonts.dat";
// "Page0001.xml" for index 0.
std::string PageMemberName(int index);
// "Thumb0001.bmp" for index 0.
std::string ThumbMemberName(int index);

enum TdtpViewerModeType : std::uint8_t {
  vmBrowse = 0,
  vmEdit = 1,
  vmTextSelect = 2,
  vmZoom = 3,
  vmSlideshow = 4
};
enum TdtpHandlePainterType : std::uint8_t {
  hpStippleHandle = 0,
  hpW2K3Handle = 1,
  hpCustomHandle = 2
};
enum TdtpHZScrollingType : std::uint8_t { hzsNoScroll = 0, hzsAlways = 1, hzsWhenMouseDown = 2 };
enum TMultiSelectMethodType : std::uint8_t { msmCtrl = 0, msmSimple = 1 };
enum TdtpDocPerformanceType : std::uint8_t { dpMemoryOverSpeed = 0, dpSpeedOverMemory = 1 };
enum TPrintQualityType : std::uint8_t { pqLow = 0, pqMedium = 1, pqHigh = 2, pqDevice = 3 };
// What the mouse is doing with the current page.
enum TdtpDragState : std::uint8_t { dsIdle = 0, dsDragging = 1, dsRubberBand = 2, dsInPlaceEdit = 3 };

class TdtpDocument : public TVirtScrollBox, public TdtpDocumentServices {
 public:
  using TNotifyEvent = std::function<void(TdtpDocument& sender)>;
  using TNotifyShapeEvent = std::function<void(TdtpDocument& sender, TdtpShape* shape)>;
  using TNotifyPageEvent = std::function<void(TdtpDocument& sender, TdtpPage* page)>;
  using TdtpHandlePainterEvent = std::function<void(
      TdtpDocument& sender, TdtpShape* shape, std::unique_ptr<TdtpHandlePainter>& painter)>;
  using TdtpMessageEvent = std::function<void(TdtpDocument& sender, const std::string& message)>;
  using TdtpDrawQualityIndicatorEvent = std::function<void(
      TdtpDocument& sender, QPainter& canvas, const TRect& rect, int quality, bool& drawn)>;
  using TdtpLoadErrorEvent =
      std::function<void(TdtpDocument& sender, TdtpShape* shape, const std::string& error)>;
  using TdtpLocateFilenameEvent = std::function<void(TdtpDocument& sender, std::string& name)>;
  using TMouseEvent = std::function<void(TdtpDocument& sender, TMouseButton button,
                                         TShiftState shift, std::int32_t x, std::int32_t y)>;
  using TdtpPaintEvent = std::function<void(TdtpDocument& sender, QPainter& canvas,
                                            const TdtpPaintInfo& info, const TRect& pageRect)>;
  using TdtpPaintLayerEvent =
      std::function<void(TdtpDocument& sender, QPainter& canvas, const TdtpPaintInfo& info,
                          const TRect& pageRect, int layer)>;
  using TdtpProgressEvent = std::function<void(TdtpDocument& sender, TdtpProgressType kind,
                                               int count, int total, float percent)>;
  using TdtpFilingEvent = std::function<void(TdtpDocument& sender, TXmlNode& node)>;
  using TdtpShapeFilingEvent =
      std::function<void(TdtpDocument& sender, TdtpShape* shape, TXmlNode& node)>;

  explicit TdtpDocument(QWidget* parent = nullptr);
  ~TdtpDocument() override;

  // ---- Published properties ---------------------------------------------------------
  bool AllowKeyInput() const { return allowKeyInput_; }
  void SetAllowKeyInput(bool value) { allowKeyInput_ = value; }
  bool ArchiveDirect() const { return archiveDirect_; }
  void SetArchiveDirect(bool value) { archiveDirect_ = value; }
  bool AutoPageUpdate() const { return autoPageUpdate_; }
  void SetAutoPageUpdate(bool value) { autoPageUpdate_ = value; }
  bool AutoWidth() const { return autoWidth_; }
  void SetAutoWidth(bool value) { autoWidth_ = value; }
  int CurrentPageIndex() const { return currentPageIndex_; }
  void SetCurrentPageIndex(int index);
  bool DefaultBackgroundTiled() const override { return defaultBackgroundTiled_; }
  void SetDefaultBackgroundTiled(bool value);
  TColor DefaultGridColor() const override { return defaultGridColor_; }
  void SetDefaultGridColor(TColor value);
  float DefaultGridSize() const override { return defaultGridSize_; }
  void SetDefaultGridSize(float value);
  float DefaultMarginLeft() const override { return defaultMarginLeft_; }
  float DefaultMarginTop() const override { return defaultMarginTop_; }
  float DefaultMarginRight() const override { return defaultMarginRight_; }
  float DefaultMarginBottom() const override { return defaultMarginBottom_; }
  void SetDefaultMarginLeft(float value);
  void SetDefaultMarginTop(float value);
  void SetDefaultMarginRight(float value);
  void SetDefaultMarginBottom(float value);
  TColor DefaultPageColor() const override { return defaultPageColor_; }
  void SetDefaultPageColor(TColor value);
  float DefaultPageWidth() const override { return defaultPageWidth_; }
  float DefaultPageHeight() const override { return defaultPageHeight_; }
  void SetDefaultPageWidth(float value);
  void SetDefaultPageHeight(float value);
  TDeviceType Device() const { return device_; }
  void SetDevice(TDeviceType device) override { device_ = device; }
  bool FontEmbedding() const { return fontEmbedding_; }
  void SetFontEmbedding(bool value) { fontEmbedding_ = value; }
  TColor HandleColor() const override { return handleColor_; }
  void SetHandleColor(TColor value) { handleColor_ = value; }
  TColor HandleEdgeColor() const override { return handleEdgeColor_; }
  void SetHandleEdgeColor(TColor value) { handleEdgeColor_ = value; }
  TdtpHandlePainterType HandlePainter() const { return handlePainter_; }
  void SetHandlePainter(TdtpHandlePainterType value) { handlePainter_ = value; }
  TdtpHelperMethodType HelperMethod() const override { return helperMethod_; }
  void SetHelperMethod(TdtpHelperMethodType value);
  int HintHidePause() const { return hintHidePause_; }
  void SetHintHidePause(int value) { hintHidePause_ = value; }
  int HintPause() const { return hintPause_; }
  void SetHintPause(int value) { hintPause_ = value; }
  int HintShortPause() const { return hintShortPause_; }
  void SetHintShortPause(int value) { hintShortPause_ = value; }
  float HitSensitivity() const { return hitSensitivity_; }
  void SetHitSensitivity(float value);
  TdtpHZScrollingType HotzoneScrolling() const { return hotzoneScrolling_; }
  void SetHotzoneScrolling(TdtpHZScrollingType value);
  bool IsLoading() const override { return isLoading_; }
  bool IsPrinting() const override { return printingCount_ > 0; }
  TdtpViewerModeType Mode() const { return mode_; }
  void SetMode(TdtpViewerModeType value);
  bool Modified() const override { return modified_; }
  void SetModified(bool value) override;
  TMultiSelectMethodType MultiSelectMethod() const { return multiSelectMethod_; }
  void SetMultiSelectMethod(TMultiSelectMethodType value) { multiSelectMethod_ = value; }
  bool OptimizedPrinting() const override { return optimizedPrinting_; }
  void SetOptimizedPrinting(bool value) { optimizedPrinting_ = value; }
  int PageCount() const { return static_cast<int>(pages_.size()); }
  void SetPageCount(int count);
  // Of the current page; 0 without one.
  float PageWidth() const;
  float PageHeight() const;
  void SetPageWidth(float value);
  void SetPageHeight(float value);
  int PageUpdateInterval() const { return pageUpdateInterval_; }
  void SetPageUpdateInterval(int value) { pageUpdateInterval_ = value; }
  int Performance() const override { return performance_; }
  void SetPerformance(TdtpDocPerformanceType value) { performance_ = value; }
  float PrinterDpm() const;
  TPrintQualityType PrintQuality() const { return printQuality_; }
  void SetPrintQuality(TPrintQualityType value) { printQuality_ = value; }
  TStretchFilter Quality() const override { return quality_; }
  void SetQuality(TStretchFilter value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  int RedoCount() const { return static_cast<int>(redoList_.size()); }
  int UndoCount() const { return static_cast<int>(undoList_.size()); }
  bool RenderAtScreenRes() const { return renderAtScreenRes_; }
  void SetRenderAtScreenRes(bool value);
  float RenderDPI() const { return renderDpm_ * 25.4f; }
  void SetRenderDPI(float value);
  TKdRuler* RulerLeft() const { return rulerLeft_; }
  void SetRulerLeft(TKdRuler* value);
  TKdRuler* RulerTop() const { return rulerTop_; }
  void SetRulerTop(TKdRuler* value);
  TKdRulerCorner* RulerCorner() const { return rulerCorner_; }
  void SetRulerCorner(TKdRulerCorner* value);
  TRulerUnit RulerUnits() const { return rulerUnits_; }
  void SetRulerUnits(TRulerUnit value);
  bool ShowMargins() const override { return showMargins_; }
  void SetShowMargins(bool value);
  bool SnapToGrid() const { return snapToGrid_; }
  void SetSnapToGrid(bool value) { snapToGrid_ = value; }
  float StepAngle() const override { return stepAngle_; }
  void SetStepAngle(float value) { stepAngle_ = value; }
  bool StoreThumbnails() const { return storeThumbnails_; }
  void SetStoreThumbnails(bool value) { storeThumbnails_ = value; }
  std::int32_t ThumbnailWidth() const override { return thumbnailWidth_; }
  std::int32_t ThumbnailHeight() const override { return thumbnailHeight_; }
  // Sides outside 1..4096 px are refused (the value stays).
  void SetThumbnailWidth(std::int32_t value);
  void SetThumbnailHeight(std::int32_t value);
  bool UndoEnabled() const override { return undoEnabled_ && undoLockCount_ == 0; }
  void SetUndoEnabled(bool value);
  bool UndoPastSave() const { return undoPastSave_; }
  void SetUndoPastSave(bool value) { undoPastSave_ = value; }
  bool UseClipboard() const { return useClipboard_; }
  void SetUseClipboard(bool value);
  static std::string Version() { return kDocumentVersion; }
  TdtpViewStyleType ViewStyle() const override { return viewStyle_; }
  void SetViewStyle(TdtpViewStyleType value);
  float WindowLeft() const { return windowLeft_; }
  float WindowTop() const { return windowTop_; }
  void SetWindowLeft(float value) { windowLeft_ = value; }
  void SetWindowTop(float value) { windowTop_ = value; }
  float ZoomPercent() const { return zoomPercent_; }
  void SetZoomPercent(float value);
  // The control's own cursor, shown when nothing else asks for one.
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor value);
  bool ShowHint() const override { return showHint_; }
  void SetShowHint(bool value) { showHint_ = value; }
  TColor Color() const override { return TVirtScrollBox::Color(); }
  // The menu a right click shows when no shape offers its own.
  QMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }
  // The built-in "Cut", "Copy", "Paste" menu of in-place editing.
  QMenu* BuiltInMenu() const { return builtInMenu_.get(); }

  // ---- Events ---------------------------------------------------------------------------
  TNotifyEvent OnAnimate;
  TdtpHandlePainterEvent OnCreateHandlePainter;
  TdtpMessageEvent OnDebugMessage;
  TNotifyEvent OnDocumentChanged;
  TdtpDrawQualityIndicatorEvent OnDrawQualityIndicator;
  TNotifyShapeEvent OnFocusShape;
  TdtpLoadErrorEvent OnLoadError;
  TdtpLocateFilenameEvent OnLocateFilename;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TNotifyPageEvent OnPageChanged;
  TdtpPaintEvent OnPaintBackground;
  TdtpPaintLayerEvent OnPaintForeground;
  TdtpProgressEvent OnProgress;
  TNotifyEvent OnSelectionChanged;
  TNotifyShapeEvent OnShapeChanged;
  TNotifyShapeEvent OnShapeDestroy;
  TNotifyShapeEvent OnShapeEditClosed;
  TNotifyShapeEvent OnShapeInsertClosed;
  TNotifyEvent OnShapeListChanged;
  // Each shape that a paste or a copy-drag put on the page, before it is
  // selected; what the handler changes records no undo.
  TNotifyShapeEvent OnShapePasted;
  TdtpFilingEvent OnLoadAdditionalInfo;
  TdtpFilingEvent OnSaveAdditionalInfo;
  TdtpShapeFilingEvent OnShapeLoadAdditionalInfo;
  TdtpShapeFilingEvent OnShapeSaveAdditionalInfo;
  TNotifyEvent OnUpdateScrollPosition;

  // ---- Control ----------------------------------------------------------------------------
  virtual void SetDefaults();
  virtual void Reset();
  virtual void ClearPages();
  // Sets the parent widget, then fits the page width; with a parent the
  // current page is announced.
  void SetParent(QWidget* parent);

  // The offsets (pixels) hit tests probe around the mouse point.
  void BuildHitPoints();
  int HitPointCount() const override { return static_cast<int>(hitPoints_.size()); }
  TPoint GetHitPoint(int index) const override;

  // ---- Pages ------------------------------------------------------------------------------
  // Appends the page (a new default one when null) and returns its index;
  // a 26th page raises "Invalid page count".
  int AddPage(std::unique_ptr<TdtpPage> page = nullptr);
  void DeletePage(int index);
  int IndexOfPage(const TdtpPage* page) const;
  TdtpPage* GetPage(int index) const;
  TdtpPage* GetCurrentPage() const { return GetPage(currentPageIndex_); }
  // Reads the page from the archive when it has not been read yet.
  void LoadPage(int index) override;

  // ---- Shapes of the current page ----------------------------------------------------------
  int ShapeCount() const;
  TdtpShape* GetShape(int index) const;
  int AddShape(std::unique_ptr<TdtpShape> shape);
  void DeleteShape(int index);
  // Returns the shape's former index; -1 when the page holds no such shape.
  int RemoveShape(TdtpShape* shape);

  std::int32_t NextShapeId() override { return ++lastShapeId_; }
  void DocumentChanged();
  // Every later save rewrites every page member.
  void ForceFullSave() { forceFullSave_ = true; }

  // ---- Counters ------------------------------------------------------------------------------
  virtual void BeginUpdate();
  virtual void EndUpdate();
  void BeginUndo() override;
  void EndUndo() override;
  void BeginPrinting() override { ++printingCount_; }
  void EndPrinting() override;
  void LockUndo() override { ++undoLockCount_; }
  void UnlockUndo() override { --undoLockCount_; }
  void BeginBusy(TCursor cursor);
  void EndBusy();
  bool IsBusy() const { return busyCount_ > 0; }
  // Raises "Threading error (working already)" while a load or save runs.
  void CheckBusy() const;

  // ---- Archive (DocumentArchive.cpp) ---------------------------------------------------------
  virtual void LoadFromFile(const std::string& fileName);
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToFile(const std::string& fileName);
  virtual void SaveToStream(TStream& stream);
  virtual void LoadFromStorage();
  virtual void SaveToStorage();
  void SaveIndex();
  virtual void LoadSettingsFromXml(TXmlNode* node);
  virtual void SaveSettingsToXml(TXmlNode* node);
  TqxStorage* Storage() override { return storage_.get(); }
  TdtpFontManager* FontManager() override { return fontManager_.get(); }

  // ---- View and painting (DocumentView.cpp) ----------------------------------------------------
  TFloatPoint DocToScreen(TFloatPoint point) const override;
  TFloatPoint ScreenToDoc(TFloatPoint point) const override;
  TRect DocRectToScreen(TFloatPoint origin, TFloatPoint size) const;
  float ScreenDpm() const override { return screenDpm_; }
  float RenderDpm() const override { return renderDpm_; }
  void SetScreenDpm(float value);
  void SetRenderDpm(float value);
  void PageSizeChanged() override;
  void ZoomBy(float factor);
  void ZoomIn();
  void ZoomOut();
  void FitWidth();
  void ZoomReset();
  void InvalidateShape(TdtpShape* shape) override;
  void UpdateRulers();
  virtual void PaintDocument(QPainter& canvas, const QRect& clip);
  void PaintHandles(QPainter& canvas);

  // ---- Printing (DocumentPrinting.cpp) -------------------------------------------------------
  void PrintPage(int index);
  void PrintRange(int first, int count);
  virtual void PrintPages(const std::vector<int>& pages);
  int ProgressCount() const override { return progressCount_; }
  int ProgressPage() const override { return progressPage_; }
  // The name print jobs carry in the spooler.
  const std::string& PrintTitle() const { return printTitle_; }
  void SetPrintTitle(const std::string& value) { printTitle_ = value; }

  // ---- Handle painters -----------------------------------------------------------------------
  // The painter of HandlePainter's kind; a custom one comes from the event (none
  // from it leaves the shape its plain painter).
  std::unique_ptr<TdtpHandlePainter> CreateHandlePainter(TdtpShape& shape) override;

  // ---- Editing (DocumentEditing.cpp) -----------------------------------------------------------
  TdtpDragState DragState() const { return dragState_; }
  void SetDragState(TdtpDragState state);
  void ClearSelection();
  TdtpShape* FocusShape() const { return focusShape_; }
  TdtpShape* EditedShape() const override { return editedShape_; }
  void EditShape(TdtpShape* shape);
  void EndEdit(bool accept) override;
  virtual void CancelHint();
  virtual void StartHintTimer(TPoint point, TdtpShape* shape, int pause);
  void SetCursorShape(std::int32_t cursor) override;
  // The hit code (0 none, 1 body, 2-9 frame handles, 10 rotation, 11
  // point) and shape of a client pixel; nothing while read-only.
  std::uint8_t HitTest(TPoint point, TdtpShape*& shape);
  // The deepest shape under a client pixel, for double clicks.
  TdtpShape* HitTestDblClick(TPoint point);
  std::uint8_t HitCode() const { return hitCode_; }
  TdtpShape* HitShape() const { return hitShape_; }
  TFloatPoint DragStart() const { return dragStart_; }
  TFloatPoint DragDelta() const { return dragDelta_; }
  void StartDrag(TFloatPoint delta);
  void DrawDragOutlines(TFloatPoint delta);
  void EndDrag(bool apply);
  void DrawRubberBand(TFloatPoint delta);
  void EndRubberBand(bool select);
  // Whether the next paint shows drag outlines, and the rubber band.
  bool OutlinesShown() const { return outlinesShown_; }
  bool RubberBandShown() const { return rubberBandShown_; }
  TRect RubberBandRect() const;
  void SelectInRect(const TRect& screenRect);
  void ToggleSelection(TdtpShape* shape);
  TFloatPoint SnapToGridPoint(TFloatPoint point, bool snap) const;
  TCursor GetHandleCursor(TdtpShape* shape, int code) const;
  // One step of hot-zone scrolling (the hot-zone timer's tick runs it
  // while a scroll is under way); the mouse point is the last one seen.
  void HotzoneScroll();
  void HotzoneTick();
  bool HotzoneRunning() const { return hotzoneRunning_; }
  float HotzoneRamp() const { return hotzoneRamp_; }
  TTimer* HotzoneTimer() const { return hotzoneTimer_.get(); }
  // The hint timer's tick: shows the hint, or hides it once shown.
  void HintTick();
  void ShowShapeHint();
  TdtpShape* HintShape() const { return hintShape_; }
  QWidget* HintWindow() const { return hintWindow_.get(); }
  TTimer* HintTimer() const { return hintTimer_.get(); }
  // The virtual-key number of a Qt key; 0 for keys without one.
  static std::int32_t VirtualKey(int qtKey);
  void DiscardShape(TdtpShape* shape) override;
  // The menu a right click at this moment shows.
  QMenu* CurrentPopupMenu() const;

  // ---- Undo and clipboard (DocumentUndo.cpp) -------------------------------------------------
  bool Undoing() const override { return undoing_; }
  void AddUndo(std::unique_ptr<TdtpCommand> command) override;
  void AddRedo(std::unique_ptr<TdtpCommand> command) override;
  virtual void ClearUndo();
  void Undo();
  virtual bool ExecuteUndo(const TdtpCommand& command);
  virtual void SelectionToString(std::string& text);
  virtual int PasteFromString(const std::string& text);
  virtual void CopySelection();
  virtual void CutSelection();
  virtual void Paste();
  void DeleteSelection();
  virtual bool CanPaste();
  virtual bool HasSelection();
  const std::vector<std::unique_ptr<TdtpCommand>>& UndoList() const { return undoList_; }
  const std::vector<std::unique_ptr<TdtpCommand>>& RedoList() const { return redoList_; }

  // ---- Services the shapes, pages and resources use ---------------------------------------------
  void DoShapeChanged(TdtpShape* shape) override;
  void DoSelectionChanged(TdtpShape* shape) override;
  void DoFocusShape(TdtpShape* shape);
  void DoShapeDestroy(TdtpShape* shape) override;
  void DoShapeListChanged();
  void DoLoadError(TdtpShape* shape, const std::string& message) override;
  void DoShapeSaveAdditionalInfo(TdtpShape* shape, TXmlNode& node) override;
  void DoShapeLoadAdditionalInfo(TdtpShape* shape, TXmlNode& node) override;
  TdtpBitmapResource* DefaultBackground() override { return defaultBackground_.get(); }
  int PageIndex(const TdtpPage* page) const override { return IndexOfPage(page); }
  TdtpPage* CurrentPage() const override { return GetCurrentPage(); }
  void DoPageChanged(TdtpPage* page) override;
  void Refresh() override;
  bool HasPaintBackground() const override { return bool(OnPaintBackground); }
  bool HasPaintForeground() const override { return bool(OnPaintForeground); }
  void DoPaintBackground(QPainter& painter, const TdtpPaintInfo& info,
                         const TRect& pageRect) override;
  void DoPaintForeground(QPainter& painter, const TdtpPaintInfo& info, const TRect& pageRect,
                         int layer) override;
  void DoProgress(TdtpProgressType kind, int count, int total, float percent) override;

  // ---- Timers ----------------------------------------------------------------------------------
  // One animation tick (the 50 ms timer calls it).
  void Animate();
  TTimer& AnimationTimer() { return *animationTimer_; }

 protected:
  // The scroll box's hooks: painting and following the scroll position.
  void Paint(QPainter& painter, const QRect& clip) override;
  void ScrollChanged() override;
  void ScrollPositionChanged();
  void resizeEvent(QResizeEvent* event) override;
  // Tab and the arrows belong to the document, not to focus moves.
  bool focusNextPrevChild(bool next) override;
  bool event(QEvent* event) override;
  // Mouse and keys (DocumentEditing.cpp); none lets an exception out.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Starts the window system's drag of the control when a body is dragged
  // out of the window; nothing accepts it.
  virtual void BeginDragDrop();
  // Drag outlines and the rubber band over the finished image.
  void PaintOverlays(QPainter& canvas);

 private:
  friend class TDocumentBusy;
  friend class TDocumentLoading;

  // Default page values: store, apply, announce.
  void SetDefaultFloat(float& field, float value);
  void ApplyDefaultSize();
  void FlagDefaultPages();
  void MarkPagesModified();
  void BackgroundChanged();
  // Refreshes a stale thumbnail when the document has rested long enough.
  void UpdatePages();
  // The page change of SetCurrentPageIndex once the page is read.
  void SelectPage(int index);
  // Releases the current page's size binding and forgets it.
  void UnbindCurrentPage();
  // Clears the document's and the pages' modified marks and, unless undo
  // survives saves, the undo lists: the file now holds everything.
  void MarkSaved();
  // LoadPage without raising: false when the member could not be read.
  bool LoadPageQuietly(int index);
  // Whether page i's member must be written by this save.
  bool PageNeedsWrite(int index, const std::string& member);
  // Sends a key character to the edited shape (the built-in menu).
  void SendEditKey(int character);
  // The page with that index, read if need be, when it has a sheet's worth
  // of area; else nil.
  TdtpPage* PrintablePage(int index);

  // ---- Properties ----
  bool allowKeyInput_ = true;
  bool archiveDirect_ = false;
  bool autoPageUpdate_ = false;
  bool autoWidth_ = true;
  int currentPageIndex_ = -1;
  bool defaultBackgroundTiled_ = false;
  TColor defaultGridColor_ = 0xFFFFC0;
  float defaultGridSize_ = 5;
  float defaultMarginLeft_ = 10;
  float defaultMarginTop_ = 10;
  float defaultMarginRight_ = 10;
  float defaultMarginBottom_ = 10;
  TColor defaultPageColor_ = 0xFFFFFF;
  float defaultPageWidth_ = 210;
  float defaultPageHeight_ = 297;
  TDeviceType device_ = dtScreen;
  bool fontEmbedding_ = false;
  TColor handleColor_ = 0xFFFFFF;
  TColor handleEdgeColor_ = 0;
  TdtpHandlePainterType handlePainter_ = hpW2K3Handle;
  TdtpHelperMethodType helperMethod_ = hmNone;
  int hintHidePause_ = 2500;
  int hintPause_ = 500;
  int hintShortPause_ = 50;
  float hitSensitivity_ = 1.0f;
  TdtpHZScrollingType hotzoneScrolling_ = hzsNoScroll;
  bool isLoading_ = false;
  TdtpViewerModeType mode_ = vmEdit;
  bool modified_ = true;
  TMultiSelectMethodType multiSelectMethod_ = msmSimple;
  bool optimizedPrinting_ = false;
  int pageUpdateInterval_ = 2000;
  TdtpDocPerformanceType performance_ = dpMemoryOverSpeed;
  TPrintQualityType printQuality_ = pqLow;
  TStretchFilter quality_ = sfLinear;
  bool readOnly_ = false;
  bool renderAtScreenRes_ = false;
  float renderDpm_ = kDefaultDpm;
  float screenDpm_ = kDefaultDpm;
  TKdRuler* rulerLeft_ = nullptr;
  TKdRuler* rulerTop_ = nullptr;
  TKdRulerCorner* rulerCorner_ = nullptr;
  TRulerUnit rulerUnits_ = ruMilli;
  bool showMargins_ = true;
  bool snapToGrid_ = false;
  float stepAngle_ = 0;
  bool storeThumbnails_ = true;
  std::int32_t thumbnailWidth_ = 80;
  std::int32_t thumbnailHeight_ = 60;
  bool undoEnabled_ = true;
  bool undoPastSave_ = false;
  bool useClipboard_ = true;
  TdtpViewStyleType viewStyle_ = vsPrintLayout;
  float windowLeft_ = 0;
  float windowTop_ = 0;
  float zoomPercent_ = 100;
  TCursor cursor_ = crDefault;
  bool showHint_ = false;
  QMenu* popupMenu_ = nullptr;

  // ---- Owned parts ----
  std::vector<std::unique_ptr<TdtpPage>> pages_;
  std::vector<std::unique_ptr<TdtpCommand>> undoList_;
  std::vector<std::unique_ptr<TdtpCommand>> redoList_;
  std::int64_t undoBytes_ = 0;
  std::unique_ptr<TqxStorage> storage_;
  std::unique_ptr<TdtpBitmapResource> defaultBackground_;
  std::unique_ptr<TdtpFontManager> fontManager_;
  std::unique_ptr<TTimer> animationTimer_;
  std::unique_ptr<TTimer> hintTimer_;
  std::unique_ptr<QWidget> hintWindow_;
  std::unique_ptr<TTimer> hotzoneTimer_;
  std::unique_ptr<QMenu> builtInMenu_;
  // The clip's bitmap, kept between paints: a fresh frame-sized block each
  // time costs the kernel's page faults and a clearing pass.
  std::unique_ptr<TBitmap32> paintBitmap_;

  // ---- Counters ----
  int updateCount_ = 0;
  int undoGroupCount_ = 0;
  int undoLockCount_ = 0;
  int printingCount_ = 0;
  int busyCount_ = 0;
  // The open undo group has recorded its first command.
  bool undoGroupRecorded_ = false;
  bool undoing_ = false;

  // ---- Deferred events ----
  bool shapeChangedPending_ = false;
  bool selectionChangedPending_ = false;
  bool focusShapePending_ = false;

  // ---- Editing state ----
  TdtpShape* focusShape_ = nullptr;
  TdtpShape* editedShape_ = nullptr;
  TdtpShape* hitShape_ = nullptr;
  int hitCode_ = 0;
  TdtpDragState dragState_ = dsIdle;
  // Drag start and delta in mm; the Alt state of the drag; outlines shown.
  TFloatPoint dragStart_{};
  TFloatPoint dragDelta_{};
  bool dragAlt_ = false;
  bool outlinesShown_ = false;
  bool rubberBandShown_ = false;
  bool doubleClicked_ = false;
  TdtpShape* hintShape_ = nullptr;
  TPoint hintPoint_{};
  std::vector<TPoint> hitPoints_;
  // The last mouse point seen (client px) and the alt state of the drag.
  TPoint mousePoint_{};
  bool mouseAlt_ = false;
  TFloatPoint bandDelta_{};
  // The delta the drag outlines stand at: the paint draws them there.
  TFloatPoint outlineDelta_{};
  // The page and its handles as the drag or band found them, drawn under
  // the outlines on each move instead of rendering every shape again; the
  // key says which view it shows.
  struct TKeptPageKey {
    QSize Size;
    double Ratio = 0;
    float ScrollX = 0, ScrollY = 0, Width = 0, Height = 0, Dpm = 0;
    bool operator==(const TKeptPageKey&) const = default;
  };
  QImage keptPage_;
  TKeptPageKey keptPageKey_;
  void PaintKeptPage(QPainter& painter, const QRect& clip);
  void ComputeDragOutlines();
  // Shapes taken off the page by their own handlers, freed afterwards.
  std::vector<std::unique_ptr<TdtpShape>> discarded_;
  bool hintShown_ = false;
  void LeftDown(const TdtpMouseInfo& m);
  void MouseMoved(const TdtpMouseInfo& m);
  void LeftUp(const TdtpMouseInfo& m);
  void DoubleClicked(const TdtpMouseInfo& m);
  void KeyDownNotify(std::int32_t key, const TdtpMouseInfo& keys);
  void FreeDiscarded();
  // Hot-zone scrolling: last mouse point and step tick, running, ramp (ms).
  TPoint hotzonePoint_{};
  std::uint64_t hotzoneTick_ = 0;
  bool hotzoneRunning_ = false;
  float hotzoneRamp_ = 0;

  // ---- Clipboard ----
  TdtpPage* copySourcePage_ = nullptr;
  std::string privateClipboard_;

  // ---- Document state ----
  std::int32_t lastShapeId_ = 0;
  std::uint64_t lastChangeTick_ = 0;
  bool forceFullSave_ = false;
  // Pages whose member could not be read: their member stays in the
  // archive until the user changes the page.
  std::set<const TdtpShape*> unreadPages_;
  // Default page sizes are being applied: no page counts as changed by
  // the user.
  bool documentWideChange_ = false;
  bool animating_ = false;
  bool pageSizeChanging_ = false;
  std::int32_t lastWidth_ = -1;
  int progressCount_ = 0;
  int progressPage_ = 0;
  std::string printTitle_;
};

}  // namespace kdl
