#include "document/view/Document.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

#include "document/resources/BitmapResource.h"
#include "document/shapes/Command.h"
#include "document/shapes/HandlePainter.h"
#include "document/shapes/HitPoints.h"
#include "document/text/FontManager.h"
#include "document/view/Page.h"
#include "foundation/Storage.h"
#include "platform/TickCount.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/Timer.h"

namespace kdl {

namespace {

std::string NumberedMember(const char* format, int index) {
  char name[32];
  std::snprintf(name, sizeof name, format, index + 1);
  return name;
}

bool ValidThumbnailSide(std::int32_t value) {
  return value >= kMinThumbnailSide && value <= kMaxThumbnailSide;
}

}  // namespace

std::string PageMemberName(int index) { return NumberedMember("Page%.4d.xml", index); }
std::string ThumbMemberName(int index) { return NumberedMember("Thumb%.4d.bmp", index); }

// ---- Life ----------------------------------------------------------------------------------

TdtpDocument::TdtpDocument(QWidget* parent) : TVirtScrollBox(parent) {
  storage_ = std::make_unique<TqxStorage>();
  defaultBackground_ = TdtpResource::Create<TdtpBitmapResource>(this);
  defaultBackground_->OnChange = [this](TdtpResource&) { BackgroundChanged(); };
  animationTimer_ = std::make_unique<TTimer>();
  animationTimer_->SetInterval(kAnimationInterval);
  animationTimer_->OnTimer = [this] { Animate(); };
  animationTimer_->SetEnabled(true);
  fontManager_ = std::make_unique<TdtpFontManager>();

  builtInMenu_ = std::make_unique<QMenu>();
  const struct {
    const char* text;
    QKeySequence keys;
    int character;
  } items[] = {{"Cut", QKeySequence(Qt::CTRL | Qt::Key_X), 24},
               {"Copy", QKeySequence(Qt::CTRL | Qt::Key_C), 3},
               {"Paste", QKeySequence(Qt::CTRL | Qt::Key_V), 22}};
  for (const auto& item : items) {
    QAction* action = builtInMenu_->addAction(QString::fromUtf8(item.text));
    action->setShortcut(item.keys);
    const int character = item.character;
    QObject::connect(action, &QAction::triggered, this, [this, character] {
      try {
        SendEditKey(character);
      } catch (...) {
        ShowCurrentException();
      }
    });
  }

  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  SetDefaults();
  LockUndo();
  AddPage(nullptr);
  UnlockUndo();
  SetModified(false);
}

TdtpDocument::~TdtpDocument() {
  animationTimer_.reset();
  hintTimer_.reset();
  hintWindow_.reset();
  hotzoneTimer_.reset();
  defaultBackground_->OnChange = nullptr;
  // The pages go before the lists their shapes might still report to.
  UnbindCurrentPage();
  pages_.clear();
  undoList_.clear();
  redoList_.clear();
  TResourcesLock lock;
  defaultBackground_.reset();
}

void TdtpDocument::SetDefaults() {
  allowKeyInput_ = true;
  archiveDirect_ = false;
  autoPageUpdate_ = false;
  autoWidth_ = true;
  defaultBackgroundTiled_ = false;
  defaultGridColor_ = 0xFFFFC0;
  defaultGridSize_ = 5;
  defaultMarginLeft_ = defaultMarginTop_ = defaultMarginRight_ = defaultMarginBottom_ = 10;
  defaultPageColor_ = 0xFFFFFF;
  defaultPageWidth_ = 210;
  defaultPageHeight_ = 297;
  device_ = dtScreen;
  fontEmbedding_ = false;
  handleColor_ = 0xFFFFFF;
  handleEdgeColor_ = 0;
  handlePainter_ = hpW2K3Handle;
  helperMethod_ = hmNone;
  hintHidePause_ = 2500;
  hintPause_ = 500;
  hintShortPause_ = 50;
  hitSensitivity_ = 1.0f;
  hotzoneScrolling_ = hzsNoScroll;
  mode_ = vmEdit;
  multiSelectMethod_ = msmSimple;
  optimizedPrinting_ = false;
  pageUpdateInterval_ = 2000;
  performance_ = dpMemoryOverSpeed;
  printQuality_ = pqLow;
  quality_ = sfLinear;
  readOnly_ = false;
  renderAtScreenRes_ = false;
  renderDpm_ = kDefaultDpm;
  screenDpm_ = kDefaultDpm;
  rulerUnits_ = ruMilli;
  showMargins_ = true;
  snapToGrid_ = false;
  stepAngle_ = 0;
  storeThumbnails_ = true;
  thumbnailWidth_ = 80;
  thumbnailHeight_ = 60;
  undoEnabled_ = true;
  undoPastSave_ = false;
  useClipboard_ = true;
  viewStyle_ = vsPrintLayout;
  zoomPercent_ = 100;
  BuildHitPoints();
}

void TdtpDocument::Reset() {
  ClearPages();
  currentPageIndex_ = -1;
  handleColor_ = 0xFFFFFF;
  handleEdgeColor_ = 0;
  // The stored value only: a running hot-zone timer is left alone.
  hotzoneScrolling_ = hzsNoScroll;
  SetModified(true);
  quality_ = sfLinear;
  renderDpm_ = kDefaultDpm;
  screenDpm_ = kDefaultDpm;
  thumbnailWidth_ = 80;
  thumbnailHeight_ = 60;
  viewStyle_ = vsPrintLayout;
  stepAngle_ = 0;
  storeThumbnails_ = true;
  showMargins_ = true;
  defaultMarginLeft_ = defaultMarginTop_ = defaultMarginRight_ = defaultMarginBottom_ = 10;
  defaultPageColor_ = 0xFFFFFF;
  defaultPageWidth_ = 210;
  defaultPageHeight_ = 297;
  defaultGridColor_ = 0xFFFFC0;
  defaultGridSize_ = 5;
  Refresh();
}

void TdtpDocument::ClearPages() {
  // Deleting shapes records undo records that would be cleared at once.
  LockUndo();
  try {
    for (const auto& page : pages_) {
      page->DeleteAllShapes();
      DoShapeDestroy(page.get());
    }
    UnbindCurrentPage();
    pages_.clear();
    unreadPages_.clear();
  } catch (...) {
    UnlockUndo();
    throw;
  }
  UnlockUndo();
  currentPageIndex_ = -1;
  copySourcePage_ = nullptr;
  ClearUndo();
  storage_->Clear();
  TResourcesLock lock;
  const auto onChange = std::move(defaultBackground_->OnChange);
  defaultBackground_->OnChange = nullptr;
  defaultBackground_->Clear();
  defaultBackground_->OnChange = onChange;
}

void TdtpDocument::SetParent(QWidget* parent) {
  setParent(parent);
  LockUndo();
  try {
    ZoomReset();
  } catch (...) {
    UnlockUndo();
    throw;
  }
  UnlockUndo();
  if (parent && OnPageChanged) OnPageChanged(*this, GetCurrentPage());
}

void TdtpDocument::BuildHitPoints() { hitPoints_ = MakeHitPoints(hitSensitivity_); }

TPoint TdtpDocument::GetHitPoint(int index) const {
  if (index < 0 || index >= HitPointCount()) return {0, 0};
  return hitPoints_[static_cast<std::size_t>(index)];
}

bool TdtpDocument::focusNextPrevChild(bool /*next*/) { return false; }

bool TdtpDocument::event(QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      // Handled or not, Tab must not travel on to the form, which would
      // move the focus.
      try {
        keyPressEvent(key);
      } catch (...) {
        ShowCurrentException();
      }
      key->accept();
      return true;
    }
  }
  return TVirtScrollBox::event(event);
}

// ---- Properties ------------------------------------------------------------------------------

void TdtpDocument::SetDefaultFloat(float& field, float value) {
  if (field == value) return;
  field = value;
  DocumentChanged();
  Refresh();
}

void TdtpDocument::SetDefaultMarginLeft(float value) { SetDefaultFloat(defaultMarginLeft_, value); }
void TdtpDocument::SetDefaultMarginTop(float value) { SetDefaultFloat(defaultMarginTop_, value); }
void TdtpDocument::SetDefaultMarginRight(float value) { SetDefaultFloat(defaultMarginRight_, value); }
void TdtpDocument::SetDefaultMarginBottom(float value) {
  SetDefaultFloat(defaultMarginBottom_, value);
}
void TdtpDocument::SetDefaultGridSize(float value) { SetDefaultFloat(defaultGridSize_, value); }

void TdtpDocument::SetDefaultGridColor(TColor value) {
  if (defaultGridColor_ == value) return;
  defaultGridColor_ = value;
  DocumentChanged();
  Refresh();
}

void TdtpDocument::SetDefaultPageColor(TColor value) {
  if (defaultPageColor_ == value) return;
  defaultPageColor_ = value;
  DocumentChanged();
  FlagDefaultPages();
  Refresh();
}

void TdtpDocument::SetDefaultBackgroundTiled(bool value) {
  if (defaultBackgroundTiled_ == value) return;
  defaultBackgroundTiled_ = value;
  DocumentChanged();
  FlagDefaultPages();
  Refresh();
}

void TdtpDocument::SetDefaultPageWidth(float value) {
  if (defaultPageWidth_ == value) return;
  defaultPageWidth_ = value;
  ApplyDefaultSize();
  DocumentChanged();
  Refresh();
}

void TdtpDocument::SetDefaultPageHeight(float value) {
  if (defaultPageHeight_ == value) return;
  defaultPageHeight_ = value;
  ApplyDefaultSize();
  DocumentChanged();
  Refresh();
}

void TdtpDocument::ApplyDefaultSize() {
  documentWideChange_ = true;
  try {
    for (int i = 0; i < PageCount(); ++i) {
      TdtpPage* page = GetPage(i);
      // A page is read before it changes: written later, it keeps its shapes.
      if (!page->IsLoaded()) LoadPageQuietly(i);
      if (page->IsDefaultPage()) page->SetDocSize(defaultPageWidth_, defaultPageHeight_);
    }
  } catch (...) {
    documentWideChange_ = false;
    throw;
  }
  documentWideChange_ = false;
}

void TdtpDocument::FlagDefaultPages() {
  for (const auto& page : pages_) {
    if (page->IsLoaded() && page->IsDefaultPage()) page->SetModified(true);
  }
}

void TdtpDocument::MarkPagesModified() {
  // Pages never read keep their members: the next save loads them first.
  for (const auto& page : pages_) {
    if (page->IsLoaded()) page->SetModified(true);
  }
}

void TdtpDocument::BackgroundChanged() {
  if (isLoading_) return;
  DocumentChanged();
  FlagDefaultPages();
  Refresh();
}

void TdtpDocument::SetHelperMethod(TdtpHelperMethodType value) {
  if (helperMethod_ == value) return;
  helperMethod_ = value;
  Refresh();
}

void TdtpDocument::SetHitSensitivity(float value) {
  if (hitSensitivity_ == value || !std::isfinite(value)) return;
  hitSensitivity_ = value;
  BuildHitPoints();
}

void TdtpDocument::SetMode(TdtpViewerModeType value) {
  ClearSelection();
  SetDragState(dsIdle);
  if (value == vmEdit && readOnly_) return;
  mode_ = value;
}

void TdtpDocument::SetReadOnly(bool value) {
  if (value) {
    ClearSelection();
    SetDragState(dsIdle);
    if (mode_ == vmEdit) mode_ = vmBrowse;
  }
  readOnly_ = value;
}

void TdtpDocument::SetModified(bool value) {
  lastChangeTick_ = TickCount64();
  if (value == modified_) return;
  modified_ = value;
  if (!value) {
    for (const auto& page : pages_) page->SetModified(false);
  }
}

void TdtpDocument::SetQuality(TStretchFilter value) {
  if (quality_ == value) return;
  quality_ = value;
  Refresh();
}

void TdtpDocument::SetShowMargins(bool value) {
  if (showMargins_ == value) return;
  showMargins_ = value;
  DocumentChanged();
  Refresh();
}

void TdtpDocument::SetViewStyle(TdtpViewStyleType value) {
  if (viewStyle_ == value) return;
  viewStyle_ = value;
  PageSizeChanged();
  Refresh();
}

void TdtpDocument::SetThumbnailWidth(std::int32_t value) {
  if (thumbnailWidth_ == value || !ValidThumbnailSide(value)) return;
  thumbnailWidth_ = value;
  MarkPagesModified();
}

void TdtpDocument::SetThumbnailHeight(std::int32_t value) {
  if (thumbnailHeight_ == value || !ValidThumbnailSide(value)) return;
  thumbnailHeight_ = value;
  MarkPagesModified();
}

void TdtpDocument::SetUndoEnabled(bool value) {
  undoEnabled_ = value;
  if (!value) ClearUndo();
}

void TdtpDocument::SetUseClipboard(bool value) {
  useClipboard_ = value;
  if (value) privateClipboard_.clear();
}

void TdtpDocument::SetRenderDPI(float value) { SetRenderDpm(value / 25.4f); }

void TdtpDocument::SetRulerLeft(TKdRuler* value) {
  rulerLeft_ = value;
  UpdateRulers();
}

void TdtpDocument::SetRulerTop(TKdRuler* value) {
  rulerTop_ = value;
  UpdateRulers();
}

void TdtpDocument::SetRulerCorner(TKdRulerCorner* value) {
  rulerCorner_ = value;
  UpdateRulers();
}

void TdtpDocument::SetRulerUnits(TRulerUnit value) {
  rulerUnits_ = value;
  UpdateRulers();
}

void TdtpDocument::SetCursor(TCursor value) {
  cursor_ = value;
  if (busyCount_ == 0) SetWidgetCursor(viewport(), value);
}

float TdtpDocument::PageWidth() const {
  const TdtpPage* page = GetCurrentPage();
  return page ? page->PageWidth() : 0;
}

float TdtpDocument::PageHeight() const {
  const TdtpPage* page = GetCurrentPage();
  return page ? page->PageHeight() : 0;
}

void TdtpDocument::SetPageWidth(float value) {
  if (TdtpPage* page = GetCurrentPage()) page->SetPageWidth(value);
}

void TdtpDocument::SetPageHeight(float value) {
  if (TdtpPage* page = GetCurrentPage()) page->SetPageHeight(value);
}

// ---- Pages ----------------------------------------------------------------------------------

int TdtpDocument::AddPage(std::unique_ptr<TdtpPage> page) {
  if (PageCount() >= kMaxPageCount) throw EDocumentError(kInvalidPageCount);
  if (!page) {
    page = std::make_unique<TdtpPage>();
    page->SetDocSize(defaultPageWidth_, defaultPageHeight_);
  }
  TdtpPage* added = page.get();
  pages_.push_back(std::move(page));
  added->SetDocument(this);
  if (!GetCurrentPage()) SetCurrentPageIndex(PageCount() - 1);
  DoShapeChanged(added);
  DoPageChanged(added);
  return PageCount() - 1;
}

int TdtpDocument::IndexOfPage(const TdtpPage* page) const {
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i].get() == page) return static_cast<int>(i);
  }
  return -1;
}

TdtpPage* TdtpDocument::GetPage(int index) const {
  if (index < 0 || index >= PageCount()) return nullptr;
  return pages_[static_cast<std::size_t>(index)].get();
}

void TdtpDocument::SetPageCount(int count) {
  if (count < 0 || count > kMaxPageCount) throw EDocumentError(kInvalidPageCount);
  while (PageCount() < count) AddPage(nullptr);
  while (PageCount() > count) DeletePage(PageCount() - 1);
}

void TdtpDocument::UnbindCurrentPage() {
  // The page's size changes reach the document only while it is current.
  currentPageIndex_ = -1;
}

void TdtpDocument::SetCurrentPageIndex(int index) {
  TdtpPage* page = GetPage(index);
  // A page that cannot be read is still shown (empty) before the error is
  // passed on, so that the user sees where it is.
  std::exception_ptr loadError;
  if (page && !page->IsLoaded()) {
    try {
      LoadPage(index);
    } catch (...) {
      loadError = std::current_exception();
    }
  }
  SelectPage(index);
  if (loadError) std::rethrow_exception(loadError);
}

void TdtpDocument::SelectPage(int index) {
  TdtpPage* page = GetPage(index);
  DoPageChanged(GetCurrentPage());
  if (index == currentPageIndex_) return;
  if (TdtpPage* old = GetCurrentPage()) {
    if (performance_ == dpMemoryOverSpeed) old->ClearCaches();
  }
  UnbindCurrentPage();
  currentPageIndex_ = page ? index : -1;
  PageSizeChanged();
  Refresh();
  focusShape_ = nullptr;
  DoPageChanged(GetCurrentPage());
}

// ---- Shapes of the current page -----------------------------------------------------------------

int TdtpDocument::ShapeCount() const {
  const TdtpPage* page = GetCurrentPage();
  return page ? page->GetShapeCount() : 0;
}

TdtpShape* TdtpDocument::GetShape(int index) const {
  const TdtpPage* page = GetCurrentPage();
  return page ? page->GetShape(index) : nullptr;
}

int TdtpDocument::AddShape(std::unique_ptr<TdtpShape> shape) {
  TdtpPage* page = GetCurrentPage();
  if (!page) return -1;
  const int index = page->AddShape(std::move(shape));
  DoShapeListChanged();
  return index;
}

void TdtpDocument::DeleteShape(int index) {
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  TdtpShape* shape = page->GetShape(index);
  if (!shape) return;
  if (focusShape_ == shape) focusShape_ = nullptr;
  if (hitShape_ == shape) hitShape_ = nullptr;
  page->DeleteShape(index);
  DoShapeListChanged();
}

int TdtpDocument::RemoveShape(TdtpShape* shape) {
  TdtpPage* page = GetCurrentPage();
  if (!page) return -1;
  const int index = page->RemoveShape(shape);
  DoShapeListChanged();
  return index;
}

void TdtpDocument::DocumentChanged() {
  SetModified(true);
  if (OnDocumentChanged) OnDocumentChanged(*this);
}

// ---- Counters ----------------------------------------------------------------------------------

void TdtpDocument::BeginUpdate() { ++updateCount_; }

void TdtpDocument::EndUpdate() {
  --updateCount_;
  if (updateCount_ == 0) {
    if (shapeChangedPending_) {
      shapeChangedPending_ = false;
      DoShapeChanged(nullptr);
    }
    if (selectionChangedPending_) {
      selectionChangedPending_ = false;
      DoSelectionChanged(nullptr);
    }
    if (focusShapePending_) {
      focusShapePending_ = false;
      DoFocusShape(focusShape_);
    }
  }
  if (updateCount_ < 0) throw EDocumentError(kEndUpdateUnderflow);
}

void TdtpDocument::BeginUndo() {
  ++undoGroupCount_;
  BeginUpdate();
}

void TdtpDocument::EndUndo() {
  --undoGroupCount_;
  if (undoGroupCount_ == 0) undoGroupRecorded_ = false;
  if (undoGroupCount_ < 0) {
    // The update counter follows as it would have; the undo bracket is the
    // one the caller broke.
    --updateCount_;
    throw EDocumentError(kEndUndoUnderflow);
  }
  EndUpdate();
}

void TdtpDocument::EndPrinting() {
  --printingCount_;
  if (printingCount_ < 0) throw EDocumentError(kEndPrintingUnderflow);
}

void TdtpDocument::BeginBusy(TCursor cursor) {
  SetWidgetCursor(viewport(), cursor);
  ++busyCount_;
}

void TdtpDocument::EndBusy() {
  --busyCount_;
  if (busyCount_ == 0) SetWidgetCursor(viewport(), cursor_);
}

void TdtpDocument::CheckBusy() const {
  if (busyCount_ > 0) throw EDocumentError(kThreadingError);
}

// ---- Events ------------------------------------------------------------------------------------

void TdtpDocument::DoShapeChanged(TdtpShape* shape) {
  SetModified(true);
  // A change by the user makes an unreadable page an ordinary one, whose
  // member the next save replaces.
  if (shape && !documentWideChange_ && !unreadPages_.empty()) {
    TdtpShape* root = shape;
    while (root->Parent()) root = root->Parent();
    unreadPages_.erase(root);
  }
  if (updateCount_ > 0) {
    shapeChangedPending_ = true;
    return;
  }
  if (OnShapeChanged) OnShapeChanged(*this, shape);
}

void TdtpDocument::DoSelectionChanged(TdtpShape* /*shape*/) {
  if (updateCount_ > 0) {
    selectionChangedPending_ = true;
    return;
  }
  if (OnSelectionChanged) OnSelectionChanged(*this);
}

void TdtpDocument::DoFocusShape(TdtpShape* shape) {
  if (updateCount_ > 0) {
    focusShapePending_ = true;
    return;
  }
  if (OnFocusShape) OnFocusShape(*this, shape);
}

void TdtpDocument::DoShapeDestroy(TdtpShape* shape) {
  if (focusShape_ == shape) focusShape_ = nullptr;
  if (editedShape_ == shape) editedShape_ = nullptr;
  if (hitShape_ == shape) hitShape_ = nullptr;
  if (hintShape_ == shape) hintShape_ = nullptr;
  if (copySourcePage_ == shape) copySourcePage_ = nullptr;
  if (OnShapeDestroy) OnShapeDestroy(*this, shape);
}

void TdtpDocument::DoShapeListChanged() {
  if (OnShapeListChanged) OnShapeListChanged(*this);
}

void TdtpDocument::DoLoadError(TdtpShape* shape, const std::string& message) {
  if (OnLoadError) OnLoadError(*this, shape, message);
}

void TdtpDocument::DoShapeSaveAdditionalInfo(TdtpShape* shape, TXmlNode& node) {
  if (OnShapeSaveAdditionalInfo) OnShapeSaveAdditionalInfo(*this, shape, node);
}

void TdtpDocument::DoShapeLoadAdditionalInfo(TdtpShape* shape, TXmlNode& node) {
  if (OnShapeLoadAdditionalInfo) OnShapeLoadAdditionalInfo(*this, shape, node);
}

void TdtpDocument::DoPageChanged(TdtpPage* page) {
  if (OnPageChanged) OnPageChanged(*this, page);
}

void TdtpDocument::Refresh() {
  keptPage_ = QImage();
  viewport()->update();
}

void TdtpDocument::DoPaintBackground(QPainter& painter, const TdtpPaintInfo& info,
                                     const TRect& pageRect) {
  if (OnPaintBackground) OnPaintBackground(*this, painter, info, pageRect);
}

void TdtpDocument::DoPaintForeground(QPainter& painter, const TdtpPaintInfo& info,
                                     const TRect& pageRect, int layer) {
  if (OnPaintForeground) OnPaintForeground(*this, painter, info, pageRect, layer);
}

void TdtpDocument::DoProgress(TdtpProgressType kind, int count, int total, float percent) {
  if (OnProgress) OnProgress(*this, kind, count, total, percent);
}

// ---- Handle painters -------------------------------------------------------------------------------

std::unique_ptr<TdtpHandlePainter> TdtpDocument::CreateHandlePainter(TdtpShape& shape) {
  std::unique_ptr<TdtpHandlePainter> painter;
  switch (handlePainter_) {
    case hpW2K3Handle:
      painter = std::make_unique<TdtpW2K3HandlePainter>();
      break;
    case hpCustomHandle:
      if (OnCreateHandlePainter) OnCreateHandlePainter(*this, &shape, painter);
      break;
    default:
      painter = std::make_unique<TdtpHandlePainter>();
      break;
  }
  return painter;
}

// ---- Animation ------------------------------------------------------------------------------------

void TdtpDocument::Animate() {
  if (animating_) return;
  // A tick while a load, a save or a print job runs would see half-built
  // pages; it waits for the next one.
  if (busyCount_ > 0 || isLoading_ || printingCount_ > 0) return;
  animating_ = true;
  try {
    UpdatePages();
    if (OnAnimate) OnAnimate(*this);
    // A handler may have changed the pages: walk the current one afresh.
    if (TdtpPage* page = GetCurrentPage()) {
      for (int i = 0; i < page->GetShapeCount(); ++i) {
        if (TdtpShape* shape = page->GetShape(i)) shape->Animate();
      }
    }
  } catch (...) {
    animating_ = false;
    throw;
  }
  animating_ = false;
}

void TdtpDocument::UpdatePages() {
  if (!autoPageUpdate_ || !GetCurrentPage()) return;
  if (dragState_ != dsIdle) lastChangeTick_ = TickCount64();
  const std::uint64_t now = TickCount64();
  const std::uint64_t rested = now >= lastChangeTick_ ? now - lastChangeTick_ : 0;
  if (rested < static_cast<std::uint64_t>(std::max(pageUpdateInterval_, 0))) return;
  // One stale thumbnail per tick keeps the window responsive without
  // pumping events in the middle of the page list.
  for (const auto& page : pages_) {
    if (page->IsLoaded() && page->ThumbnailDirty()) {
      try {
        page->GetThumbnail();
      } catch (...) {
        // Reported once: without a thumbnail the page is not stale any
        // more, so the next tick does not try again.
        page->SetThumbnail(nullptr);
        throw;
      }
      DoPageChanged(page.get());
      return;
    }
  }
}

}  // namespace kdl

namespace kdl {

void TdtpDocument::SetCursorShape(std::int32_t cursor) {
  if (busyCount_ == 0 || cursor_ == crDefault || (cursor_ == crAppStart && cursor == crHourGlass)) {
    SetWidgetCursor(viewport(), static_cast<TCursor>(cursor));
  }
}

void TdtpDocument::ClearUndo() {
  undoList_.clear();
  redoList_.clear();
  undoBytes_ = 0;
}

}  // namespace kdl
