#include "app/project/DtpHelper.h"

#include <QFont>
#include <QFontInfo>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/Localizer.h"
#include "app/shapes/CropBitmapShape.h"
#include "app/shapes/ExLineShape.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/RasterFormats.h"
#include "document/text/MemoShape.h"
#include "document/text/TextShape.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/Encoding.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/FontDialog.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

float PointsToMM(double points) { return static_cast<float>(points * 25.4 / 72); }

template <class T>
T* ShapeAs(TdtpDocument& document, int index) {
  return dynamic_cast<T*>(document.GetShape(index));
}

void ClearCurrentPage(TdtpDocument& document) {
  if (TdtpPage* page = document.GetCurrentPage()) page->ClearShapes();
}

// A document's begin call now, its end call on every way out.
template <void (TdtpDocument::*Begin)(), void (TdtpDocument::*End)()>
class TDocumentBracket {
 public:
  explicit TDocumentBracket(TdtpDocument& document) : document_(document) { (document_.*Begin)(); }
  ~TDocumentBracket() { (document_.*End)(); }
  TDocumentBracket(const TDocumentBracket&) = delete;
  TDocumentBracket& operator=(const TDocumentBracket&) = delete;

 private:
  TdtpDocument& document_;
};

using TDocumentUpdate = TDocumentBracket<&TdtpDocument::BeginUpdate, &TdtpDocument::EndUpdate>;
// What the program does to a project it opens or fills in is no step the
// user could undo.
using TUndoLock = TDocumentBracket<&TdtpDocument::LockUndo, &TdtpDocument::UnlockUndo>;

std::filesystem::path DefaultImageFile() { return ProgramFolder() / "Resources" / "default.jpg"; }

}  // namespace

// ---- Builders ---------------------------------------------------------------------------

bool SetupPage(TdtpDocument* document, const TPageRecord& record) {
  if (!document) return false;
  TdtpPage* page = document->GetCurrentPage();
  if (!page) return false;
  page->ClearShapes();
  // The page keeps its own size and margins in the file, whatever the
  // document's defaults are.
  page->SetIsDefaultPage(false);
  page->SetPageWidth(static_cast<float>(record.Width));
  page->SetPageHeight(static_cast<float>(record.Height));
  page->SetMarginLeft(static_cast<float>(record.MarginLeft));
  page->SetMarginTop(static_cast<float>(record.MarginTop));
  page->SetMarginRight(static_cast<float>(record.MarginRight));
  page->SetMarginBottom(static_cast<float>(record.MarginBottom));
  return true;
}

void PlaceShape(TdtpDocument& document, TdtpShape& shape, const TShapeRect& rect) {
  TdtpPage* page = document.GetCurrentPage();
  if (!page) return;
  shape.SetDocLeft(page->MarginLeft() + rect.Left);
  shape.SetDocTop(page->MarginTop() + rect.Top);
  shape.SetDocWidth(rect.Width);
  shape.SetDocHeight(rect.Height);
  shape.RotateAboutCenter(rect.Angle);
}

void ApplyTextStyle(TdtpDocument& /*document*/, TdtpTextBaseShape& shape, const TTextStyle& style) {
  shape.SetFontName(style.FontName);
  shape.SetFontColor(style.FontColor);
  shape.SetFontHeight(PointsToMM(style.Size));
  shape.SetFontStyle(style.FontStyle);
  shape.SetAlignment(style.Alignment);
  if (dynamic_cast<TdtpMemoShape*>(&shape)) shape.SetVertAlign(style.VertAlign);
}

void InitTemplateShape(TdtpShape& shape, int flag) {
  shape.SetAllowSelect(flag == 0);
  shape.SetAllowDelete(false);
}

void FreePastedCopy(TdtpShape& shape) {
  // Without an undo command in the window, a copy that kept a template
  // shape's lock could never be removed again.
  shape.SetAllowSelect(true);
  shape.SetAllowDelete(true);
  shape.SetTag(0);
}

void AddProjectInfo(TdtpDocument& document, const TProjectInfo& info) {
  auto shape = std::make_unique<TDtpProjectInfoShape>();
  shape->SetVisible(false);
  InitTemplateShape(*shape, kProjectInfoTag);
  shape->SetProjectName(info.Name);
  shape->SetCategory(info.Category);
  shape->SetPrintFoldLines(info.PrintFoldLines);
  shape->SetPrintCutLines(info.PrintCutLines);
  shape->SetCenterPrinting(info.CenterPrinting);
  shape->SetVersion(kProjectVersion);
  shape->SetTag(kProjectInfoTag);
  document.AddShape(std::move(shape));
}

void AddImageShape(TdtpDocument& document, const std::string& fileName, const TShapeRect& rect, int tag) {
  auto shape = std::make_unique<TdtpCropBitmapShape>();
  InitTemplateShape(*shape, tag);
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(fileName), ec)) {
    throw EFOpenError(Localizer().GetString("Messages", "FileOpenError") + " \"" + fileName + "\"");
  }
  shape->Image().LoadFromFile(fileName);
  PlaceShape(document, *shape, rect);
  shape->Pin();
  shape->SetTag(tag);
  shape->SetPreserveAspect(false);
  document.AddShape(std::move(shape));
}

namespace {

template <class T>
std::unique_ptr<T> NewTextShape(TdtpDocument& document, const TTextStyle& style, int tag, const TShapeRect& rect,
                                const std::function<void(T&)>& setText) {
  auto shape = std::make_unique<T>();
  shape->SetAutoSize(false);
  InitTemplateShape(*shape, tag);
  shape->SetAllowEdit(false);
  setText(*shape);
  ApplyTextStyle(document, *shape, style);
  PlaceShape(document, *shape, rect);
  shape->SetTag(tag);
  return shape;
}

}  // namespace

void AddTextShape(TdtpDocument& document, const std::string& text, const TTextStyle& style, int tag,
                  const TShapeRect& rect) {
  document.AddShape(NewTextShape<TdtpTextShape>(document, style, tag, rect, [&](TdtpTextShape& shape) {
    shape.SetText(Utf8ToWide(text));
  }));
}

void AddMemoShape(TdtpDocument& document, const std::string& text, const TTextStyle& style, int tag,
                  const TShapeRect& rect) {
  document.AddShape(NewTextShape<TdtpMemoShape>(document, style, tag, rect, [&](TdtpMemoShape& shape) {
    shape.Lines().SetText(Utf8ToWide(text));
  }));
}

void AddLineShape(TdtpDocument& document, TFloatPoint p1, TFloatPoint p2, int kind, float width) {
  TdtpPage* page = document.GetCurrentPage();
  if (!page) return;
  auto shape = std::make_unique<TDtpExLineShape>();
  InitTemplateShape(*shape, kind);
  shape->SetPenStyle(psSolid);
  shape->SetLineWidth(width);
  shape->SetDocLeft(page->MarginLeft() + p1.X);
  shape->SetDocTop(page->MarginTop() + p1.Y);
  // The frame runs from point 1 to point 2 and may have no or negative size.
  shape->SetDocRight(page->MarginLeft() + p2.X);
  shape->SetDocBottom(page->MarginTop() + p2.Y);
  shape->SetTag(kind);
  document.AddShape(std::move(shape));
}

// ---- Editing ----------------------------------------------------------------------------

void SelectShape(TdtpDocument& document, int index) {
  try {
    TdtpShape* shape = document.GetShape(index);
    if (!shape) return;
    if (shape->Selected()) {
      shape->SetSelected(false);
      return;
    }
    document.ClearSelection();
    shape->SetSelected(true);
  } catch (const std::exception&) {
    // Selection is a convenience of the data panel; a failure leaves it as it is.
  }
}

void SetShapeVisible(TdtpDocument& document, int index, bool visible) {
  if (TdtpShape* shape = document.GetShape(index)) shape->SetVisible(visible);
}

bool LoadImageIntoShape(TdtpDocument& document, int index, const std::string& fileName) {
  auto* shape = ShapeAs<TdtpCropBitmapShape>(document, index);
  if (!shape) return false;
  bool taken = false;
  try {
    // Decoded once here, so that bytes the resource could not show never
    // replace the user's picture; the shape's resource, reading the same
    // bytes, shares this decode instead of making its own.
    auto probe = TdtpResource::Create<TdtpBitmapResource>(nullptr);
    TResourceAccess access(*probe);
    probe->LoadFromFile(fileName);
    const TBitmap32* bitmap = probe->GetBitmap();
    if (!bitmap || bitmap->Empty()) throw ERasterError("The image \"" + fileName + "\" is empty");
    shape->Image().LoadFromFile(fileName);
    taken = true;
  } catch (const std::exception& e) {
    ShowError(e.what());
    if (shape->IsEmpty()) shape->Image().LoadFromFile(DefaultImageFile());
  }
  shape->RestorePinned();
  shape->SetPreserveAspect(false);
  return taken;
}

void RestoreImagePosition(TdtpDocument& document, int index) {
  if (auto* shape = ShapeAs<TdtpCropBitmapShape>(document, index)) shape->RestorePinned();
}

bool CropImage(TdtpDocument& document, int index, QWidget* parent) {
  auto* shape = ShapeAs<TdtpCropBitmapShape>(document, index);
  return shape && shape->ExecuteCropDialog(parent);
}

bool EditShapeFont(TdtpDocument& document, int index, QWidget* parent) {
  auto* shape = ShapeAs<TdtpTextBaseShape>(document, index);
  if (!shape) return false;
  const QString storedName = QString::fromStdString(shape->GetFontName());
  // The dialog lists only installed faces: it opens on the face that
  // fontconfig shows for the stored family, and choosing that face again
  // keeps the stored name, so that the file still names the font it was
  // made with.
  const QString shown = QFontInfo(QFont(storedName)).family();
  TFontChoice choice;
  choice.Family = shown;
  choice.PointSize = std::max(1, static_cast<int>(std::nearbyint(shape->GetFontSizePt())));
  choice.Style = shape->GetFontStyle();
  // A system colour shows as its colour and stays itself when not changed.
  const TColor stored = shape->GetFontColor();
  const TColor32 argb = Color32(stored);
  const TColor shownColor = static_cast<TColor>(RedComponent(argb) | (GreenComponent(argb) << 8) |
                                                (BlueComponent(argb) << 16));
  choice.Color = shownColor;
  if (!TFontDialog::Execute(choice, parent)) return false;
  shape->SetFontColor(choice.Color == shownColor ? stored : choice.Color);
  if (choice.Family != shown && choice.Family != storedName) shape->SetFontName(choice.Family.toStdString());
  if (choice.PointSize > 0) shape->SetFontHeight(PointsToMM(choice.PointSize));
  shape->SetFontStyle(choice.Style);
  return true;
}

void SetShapeText(TdtpDocument& document, int index, const std::string& text) {
  TdtpShape* shape = document.GetShape(index);
  if (auto* memo = dynamic_cast<TdtpMemoShape*>(shape)) {
    memo->Lines().SetText(Utf8ToWide(text));
  } else if (auto* line = dynamic_cast<TdtpTextShape*>(shape)) {
    line->SetText(Utf8ToWide(text));
  }
}

std::string GetTextShapeText(TdtpDocument& document, int index) {
  auto* shape = ShapeAs<TdtpTextBaseShape>(document, index);
  return shape ? WideToUtf8(shape->Text()) : std::string();
}

std::string GetMemoShapeText(TdtpDocument& document, int index) {
  auto* shape = ShapeAs<TdtpMemoShape>(document, index);
  return shape ? WideToUtf8(shape->Lines().Text()) : std::string();
}

void SetHorzAlignment(TdtpDocument& document, int index, std::uint8_t alignment) {
  if (auto* shape = ShapeAs<TdtpTextBaseShape>(document, index)) shape->SetAlignment(alignment);
}

void SetVertAlignment(TdtpDocument& document, int index, std::uint8_t alignment) {
  if (auto* shape = ShapeAs<TdtpTextBaseShape>(document, index)) shape->SetVertAlign(alignment);
}

void SetLineKindVisible(TdtpDocument& document, std::int32_t kind, bool visible) {
  for (int i = 0; i < document.ShapeCount(); ++i) {
    TdtpShape* shape = document.GetShape(i);
    if (shape->Tag() == kind) shape->SetVisible(visible);
  }
}

void SetLineKindStyle(TdtpDocument& document, std::int32_t kind, std::uint8_t penStyle, float width) {
  for (int i = 0; i < document.ShapeCount(); ++i) {
    TdtpShape* shape = document.GetShape(i);
    if (shape->Tag() != kind) continue;
    auto* line = dynamic_cast<TDtpExLineShape*>(shape);
    if (!line) throw EInvalidCast("Invalid class typecast");
    line->SetPenStyle(penStyle);
    line->SetLineWidth(width);
  }
}

void SetScreenLineWidths(TdtpDocument& document) {
  SetLineKindStyle(document, kCutLineTag, psSolid, kScreenLineWidth);
  SetLineKindStyle(document, kFoldLineTag, psSolid, kScreenLineWidth);
}

void OffsetAllShapes(TdtpDocument& document, float dx, float dy) {
  for (int i = 0; i < document.ShapeCount(); ++i) {
    TdtpShape* shape = document.GetShape(i);
    shape->SetDocLeft(shape->DocLeft() + dx);
    shape->SetDocTop(shape->DocTop() + dy);
  }
}

bool HasPage(const TdtpDocument& document) {
  return document.GetCurrentPage() != nullptr && document.GetShape(kProjectInfoIndex) != nullptr;
}

bool IsSupportedProject(const TdtpDocument& document) {
  const auto* info = dynamic_cast<const TDtpProjectInfoShape*>(document.GetShape(kProjectInfoIndex));
  return info && info->Version() == kProjectVersion;
}

void ApplyTemplateTexts(TdtpDocument& document, int templateType) {
  static constexpr const char* kNameKeys[] = {"CDFront", "CDFrontDouble", "CDBack",       "DVD",
                                              "SlimDVD", "PaperSleeve",   "OrigamiCDCase"};
  static constexpr const char* kCategoryKeys[] = {"CD", "CD", "CD", "DVD", "DVD", "PaperCase", "PaperCase"};
  static constexpr const char* kTitleKeys[] = {"Title1", "Title2", "Title3", "Title4"};
  if (!HasPage(document) || templateType < 0 || templateType > 6) return;
  TUndoLock lock(document);
  TLocalizer& texts = Localizer();
  if (auto* info = ShapeAs<TDtpProjectInfoShape>(document, kProjectInfoIndex)) {
    info->SetProjectName(texts.GetString("TemplateNames", kNameKeys[templateType]));
    info->SetCategory(texts.GetString("TemplateCategories", kCategoryKeys[templateType]));
  }
  for (int i = 0; i < 4; ++i) {
    auto* shape = ShapeAs<TdtpTextBaseShape>(document, kFirstTitleIndex + i);
    if (shape && shape->Text() == kTemplatePlaceholder)
      shape->SetText(Utf8ToWide(texts.GetString("TemplateResources", kTitleKeys[i])));
  }
  auto* contents = ShapeAs<TdtpTextBaseShape>(document, kContentsIndex);
  if (contents && contents->Text() == kTemplatePlaceholder)
    contents->SetText(Utf8ToWide(texts.GetString("TemplateResources", "Contents", true)));
}

// ---- Files --------------------------------------------------------------------------------

namespace {

// Collects what the shapes report while a project is read (a photo whose
// bytes no longer decode, a shape of a damaged element), each message once,
// so that the user hears it once the project is open rather than not at
// all or on every repaint. The document's own handler still sees each.
class TLoadErrorCollector {
 public:
  explicit TLoadErrorCollector(TdtpDocument& document) : document_(document), previous_(document.OnLoadError) {
    document.OnLoadError = [this](TdtpDocument& sender, TdtpShape* shape, const std::string& error) {
      if (std::find(messages_.begin(), messages_.end(), error) == messages_.end()) messages_.push_back(error);
      if (previous_) previous_(sender, shape, error);
    };
  }
  ~TLoadErrorCollector() { document_.OnLoadError = previous_; }
  TLoadErrorCollector(const TLoadErrorCollector&) = delete;
  TLoadErrorCollector& operator=(const TLoadErrorCollector&) = delete;

  std::string Text() const {
    std::string text;
    for (const std::string& m : messages_) text += (text.empty() ? "" : "\r\n") + m;
    return text;
  }

 private:
  TdtpDocument& document_;
  TdtpDocument::TdtpLoadErrorEvent previous_;
  std::vector<std::string> messages_;
};

}  // namespace

bool OpenProject(TdtpDocument& document, const std::string& fileName, const TProjectHooks& hooks) {
  TLocalizer& texts = Localizer();
  bool opened = false;
  std::string failure;
  std::string loadErrors;
  {
    TLoadErrorCollector collector(document);
    TDocumentUpdate update(document);
    TUndoLock lock(document);
    try {
      ClearCurrentPage(document);
      document.LoadFromFile(fileName);
      if (!HasPage(document)) {
        failure = texts.GetString("Messages", "LoadingError");
      } else if (IsSupportedProject(document)) {
        SetScreenLineWidths(document);
        opened = true;
      } else {
        failure = texts.GetString("Messages", "LoadingError") + "\r\n" +
                  texts.GetString("Messages", "UnSupportedProjectVersion");
      }
    } catch (const std::exception& e) {
      failure = e.what();
    }
    // A file that did not open leaves no project, so that nothing of it can
    // be saved over the file later.
    if (!opened) {
      try {
        ClearCurrentPage(document);
      } catch (const std::exception&) {
        document.SetPageCount(0);
      }
    }
    loadErrors = collector.Text();
  }
  // After the bracket, whose end reports the changes made inside it. The
  // history of what was there before went with it.
  document.SetModified(false);
  document.ClearUndo();
  if (!opened) {
    ShowError(failure);
    return false;
  }
  if (!loadErrors.empty()) ShowError(loadErrors);
  if (hooks.CheckPrinterOrientation) hooks.CheckPrinterOrientation();
  if (hooks.ZoomToWindow) hooks.ZoomToWindow();
  return true;
}

void SaveProjectFile(TdtpDocument& document, const std::string& fileName, const TProjectHooks& hooks) {
  // The document writes a temporary file and renames it over the target;
  // it is marked saved only after that.
  document.SaveToFile(fileName);
  if (hooks.RefreshStatusBar) hooks.RefreshStatusBar();
}

bool SaveProject(TdtpDocument& document, const std::string& fileName, const TProjectHooks& hooks) {
  const bool modified = document.Modified();
  try {
    SaveProjectFile(document, fileName, hooks);
    return true;
  } catch (const std::exception& e) {
    document.SetModified(modified);
    ShowError(e.what());
    return false;
  }
}

}  // namespace kdl
