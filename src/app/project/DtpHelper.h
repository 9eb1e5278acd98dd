// The label project model: a document whose current page holds a fixed set
// of shapes, addressed by index (the index is the shape's role), and the
// operations that build, edit, open and save such a project.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/Stream.h"
#include "platform/Exception.h"
#include "platform/FontStyles.h"
#include "raster/Types.h"

class QWidget;

namespace kdl {

class TdtpDocument;
class TdtpShape;
class TdtpTextBaseShape;

KDL_DECLARE_EXCEPTION(EInvalidCast, Exception);

// Shape roles by index on the page.
inline constexpr int kProjectInfoIndex = 0;
inline constexpr int kImageIndex = 1;
inline constexpr int kFirstTitleIndex = 2;
inline constexpr int kContentsIndex = 6;
inline constexpr int kFirstLineIndex = 7;
// Tags of the line kinds and of the project information shape.
inline constexpr std::int32_t kCutLineTag = 1;
inline constexpr std::int32_t kFoldLineTag = 2;
inline constexpr std::int32_t kProjectInfoTag = 8;
// The placeholder text that a new project replaces with the language's text.
inline constexpr const char16_t* kTemplatePlaceholder = u"_TMP_";
// Cut and fold lines on screen.
inline constexpr float kScreenLineWidth = 0.75f;

struct TPageRecord {
  double Width, Height, MarginLeft, MarginTop, MarginRight, MarginBottom;
};

// Millimetres from the page's margin origin; the angle in degrees.
struct TShapeRect {
  float Left, Top, Width, Height, Angle = 0;
};

struct TTextStyle {
  std::string FontName;
  TColor FontColor = 0;
  std::int32_t Size = 0;  // points
  TFontStyles FontStyle = 0;
  std::uint8_t Alignment = 0;  // 0 left, 1 right, 2 centre
  std::uint8_t VertAlign = 0;  // 0 top, 1 middle, 2 bottom; memo shapes only
};

struct TProjectInfo {
  std::string Name;
  std::string Category;
  bool PrintCutLines = false;
  bool PrintFoldLines = false;
  bool CenterPrinting = false;
};

// ---- Builders ---------------------------------------------------------------------------
// False without a current page; otherwise clears it and sets size and margins.
bool SetupPage(TdtpDocument* document, const TPageRecord& page);
void PlaceShape(TdtpDocument& document, TdtpShape& shape, const TShapeRect& rect);
void ApplyTextStyle(TdtpDocument& document, TdtpTextBaseShape& shape, const TTextStyle& style);
void InitTemplateShape(TdtpShape& shape, int flag);
// A copy that a paste or a copy-drag made is the user's own shape: it can be
// selected and deleted, and it has no role's tag (the original keeps both).
void FreePastedCopy(TdtpShape& shape);
void AddProjectInfo(TdtpDocument& document, const TProjectInfo& info);
// Raises EFOpenError when the file does not exist.
void AddImageShape(TdtpDocument& document, const std::string& fileName, const TShapeRect& rect, int tag);
void AddTextShape(TdtpDocument& document, const std::string& text, const TTextStyle& style, int tag,
                  const TShapeRect& rect);
void AddMemoShape(TdtpDocument& document, const std::string& text, const TTextStyle& style, int tag,
                  const TShapeRect& rect);
void AddLineShape(TdtpDocument& document, TFloatPoint p1, TFloatPoint p2, int kind, float width);

// ---- Editing (an index without a shape does nothing) -------------------------------------
void SelectShape(TdtpDocument& document, int index);
void SetShapeVisible(TdtpDocument& document, int index, bool visible);
// Decodes the file first: a file that cannot be read is reported and the
// current picture stays (the default image comes only into an empty
// shape). True when the file was taken.
bool LoadImageIntoShape(TdtpDocument& document, int index, const std::string& fileName);
void RestoreImagePosition(TdtpDocument& document, int index);
// Opens the crop dialog on the image shape at index; true on OK.
bool CropImage(TdtpDocument& document, int index, QWidget* parent = nullptr);
// A font dialog over parent; true when the user confirmed.
bool EditShapeFont(TdtpDocument& document, int index, QWidget* parent = nullptr);
void SetShapeText(TdtpDocument& document, int index, const std::string& text);
std::string GetTextShapeText(TdtpDocument& document, int index);
std::string GetMemoShapeText(TdtpDocument& document, int index);
void SetHorzAlignment(TdtpDocument& document, int index, std::uint8_t alignment);
void SetVertAlignment(TdtpDocument& document, int index, std::uint8_t alignment);
void SetLineKindVisible(TdtpDocument& document, std::int32_t kind, bool visible);
// Raises EInvalidCast for a shape of the kind that is not a line.
void SetLineKindStyle(TdtpDocument& document, std::int32_t kind, std::uint8_t penStyle, float width);
void SetScreenLineWidths(TdtpDocument& document);
void OffsetAllShapes(TdtpDocument& document, float dx, float dy);
bool HasPage(const TdtpDocument& document);
bool IsSupportedProject(const TdtpDocument& document);
void ApplyTemplateTexts(TdtpDocument& document, int templateType);

// ---- Files --------------------------------------------------------------------------------
// What the main window adds around opening and saving.
struct TProjectHooks {
  std::function<void()> CheckPrinterOrientation;
  std::function<void()> ZoomToWindow;
  std::function<void()> RefreshStatusBar;
};

// Opens a project file. A file that cannot be read or is no supported
// project is reported through the error display and leaves no project
// (HasPage false) and an unmodified document; the result says which.
bool OpenProject(TdtpDocument& document, const std::string& fileName, const TProjectHooks& hooks = {});
// Saves; a failed write leaves the previous file and the Modified flag as
// they were and raises the error.
void SaveProjectFile(TdtpDocument& document, const std::string& fileName, const TProjectHooks& hooks = {});
// The same, reporting a failure through the error display.
bool SaveProject(TdtpDocument& document, const std::string& fileName, const TProjectHooks& hooks = {});

}  // namespace kdl
