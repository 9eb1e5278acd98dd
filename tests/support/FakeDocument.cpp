#include "FakeDocument.h"

#include <algorithm>

#include "document/resources/BitmapResource.h"
#include "document/shapes/HandlePainter.h"
#include "document/shapes/Shape.h"
#include "document/view/Page.h"
#include "foundation/BrenlowXml.h"
#include "platform/Exception.h"

namespace kdl::testing {

FakeDocument::FakeDocument() : archive_(std::make_unique<TqxStorage>()) {}

FakeDocument::~FakeDocument() = default;

void FakeDocument::SetHasArchive(bool value) {
  if (value)
    archive_ = std::make_unique<TqxStorage>();
  else
    archive_.reset();
}

// The first record of an open group is unchained, every later one chained,
// so that undo can take a group back in one step.
void FakeDocument::Chain(TdtpCommand& command) {
  if (groupDepth_ > 0) {
    command.Chained = groupRecorded_;
    groupRecorded_ = true;
  }
}

void FakeDocument::AddUndo(std::unique_ptr<TdtpCommand> command) {
  if (!command || !UndoEnabled()) return;
  Chain(*command);
  redo_.clear();
  undo_.push_back(std::move(command));
}

void FakeDocument::AddRedo(std::unique_ptr<TdtpCommand> command) {
  if (!command || !undoing_) return;
  Chain(*command);
  redo_.push_back(std::move(command));
}

void FakeDocument::BeginUndo() {
  if (groupDepth_++ == 0) groupRecorded_ = false;
}

void FakeDocument::EndUndo() {
  if (groupDepth_ > 0) --groupDepth_;
}

int FakeDocument::UndoGroupCount() const {
  return static_cast<int>(std::count_if(undo_.begin(), undo_.end(),
                                        [](const auto& c) { return !c->Chained; }));
}

void FakeDocument::ClearUndo() {
  undo_.clear();
  redo_.clear();
}

bool FakeDocument::Undo(TdtpShape& root) {
  if (!UndoEnabled() || undo_.empty()) return false;
  LockUndo();
  undoing_ = true;
  BeginUndo();
  try {
    while (!undo_.empty()) {
      const std::unique_ptr<TdtpCommand> command = std::move(undo_.back());
      undo_.pop_back();
      if (command->ShapeID == 0 || !root.ExecuteCommand(*command)) ++Refused;
      if (!command->Chained) break;
    }
  } catch (...) {
    EndUndo();
    undoing_ = false;
    UnlockUndo();
    throw;
  }
  EndUndo();
  undoing_ = false;
  UnlockUndo();
  return true;
}

void FakeDocument::InvalidateShape(TdtpShape*) { ++Invalidations; }

void FakeDocument::DoShapeChanged(TdtpShape* shape) { Events.push_back({"Changed", shape, {}}); }

void FakeDocument::DoSelectionChanged(TdtpShape* shape) {
  Events.push_back({"Selection", shape, {}});
}

void FakeDocument::DoShapeDestroy(TdtpShape* shape) {
  if (edited_ == shape) edited_ = nullptr;
  Events.push_back({"Destroy", shape, {}});
}

void FakeDocument::DoLoadError(TdtpShape* shape, const std::string& message) {
  Events.push_back({"LoadError", shape, message});
}

void FakeDocument::DoShapeSaveAdditionalInfo(TdtpShape* shape, TXmlNode&) {
  Events.push_back({"SaveInfo", shape, {}});
}

void FakeDocument::DoShapeLoadAdditionalInfo(TdtpShape* shape, TXmlNode&) {
  Events.push_back({"LoadInfo", shape, {}});
}

void FakeDocument::EndEdit(bool accept) {
  edited_ = nullptr;
  Events.push_back({"EndEdit", nullptr, accept ? "True" : "False"});
}

TFloatPoint FakeDocument::DocToScreen(TFloatPoint point) const {
  return {(point.X - WindowOrigin.X) * ScreenDpmValue, (point.Y - WindowOrigin.Y) * ScreenDpmValue};
}

TFloatPoint FakeDocument::ScreenToDoc(TFloatPoint point) const {
  return {point.X / ScreenDpmValue + WindowOrigin.X, point.Y / ScreenDpmValue + WindowOrigin.Y};
}

TPoint FakeDocument::GetHitPoint(int index) const {
  return index >= 0 && index < HitPointCount() ? HitPoints[static_cast<std::size_t>(index)]
                                               : TPoint{};
}

std::unique_ptr<TdtpHandlePainter> FakeDocument::CreateHandlePainter(TdtpShape&) {
  switch (HandleStyle) {
    case Handles::Plain:
      return std::make_unique<TdtpHandlePainter>();
    case Handles::W2K3:
      return std::make_unique<TdtpW2K3HandlePainter>();
    case Handles::Default:
      break;
  }
  return nullptr;
}

int FakeDocument::CountEvents(const std::string& kind) const {
  return static_cast<int>(
      std::count_if(Events.begin(), Events.end(), [&](const Event& e) { return e.Kind == kind; }));
}

}  // namespace kdl::testing

namespace kdl::testing {

TdtpBitmapResource* FakeDocument::DefaultBackground() {
  if (!defaultBackground_) defaultBackground_ = TdtpResource::Create<TdtpBitmapResource>(this);
  return defaultBackground_.get();
}

int FakeDocument::PageIndex(const TdtpPage* page) const {
  const auto it = std::find(Pages.begin(), Pages.end(), page);
  return it == Pages.end() ? -1 : static_cast<int>(it - Pages.begin());
}

void FakeDocument::DoPageChanged(TdtpPage* page) { PageChanges.push_back(page); }

void FakeDocument::DoPaintBackground(QPainter& painter, const TdtpPaintInfo& info,
                                     const TRect& pageRect) {
  if (OnPaintBackground) OnPaintBackground(painter, info, pageRect);
}

void FakeDocument::DoPaintForeground(QPainter& painter, const TdtpPaintInfo& info,
                                     const TRect& pageRect, int layer) {
  if (OnPaintForeground) OnPaintForeground(painter, info, pageRect, layer);
}

void FakeDocument::LoadPage(int index) {
  LoadedPages.push_back(index);
  if (index < 0 || index >= static_cast<int>(Pages.size())) return;
  TdtpPage* page = Pages[index];
  // Marked first, as the archive loader does: a failed read is not repeated.
  page->SetLoaded(true);
  if (index >= static_cast<int>(PageXml.size()) || PageXml[index].empty()) return;
  const bool wasLoading = loading_;
  loading_ = true;
  TBrenlowXml xml;
  xml.ReadFromString(PageXml[index]);
  page->LoadFromXml(xml.Root());
  page->UpdateAll();
  loading_ = wasLoading;
}

void FakeDocument::EndPrinting() {
  if (printing_ <= 0) throw Exception("EndPrinting called more often than BeginPrinting");
  --printing_;
}

void FakeDocument::DoProgress(TdtpProgressType kind, int count, int total, float percent) {
  ProgressLog.push_back({kind, count, total, percent});
}

}  // namespace kdl::testing
