#include "app/project/Templates.h"

#include <QStandardPaths>

#include <array>
#include <vector>

#include "app/project/DtpHelper.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/ProgramFolder.h"

namespace kdl {

namespace {

enum TTextKind { tkText, tkMemo };

struct TTemplateText {
  TTextKind Kind;
  char Style;  // 'A' to 'F'
  const char* Text;
  TShapeRect Rect;
};

struct TTemplateLine {
  int Kind;  // cut or fold
  TFloatPoint From, To;
};

struct TTemplate {
  const char* FileName;
  TPageRecord Page;
  const char* Category;
  bool CenterPrinting;
  TShapeRect Image;
  std::array<TTemplateText, 5> Texts;
  std::vector<TTemplateLine> Lines;
};

constexpr const char* kPlaceholder = "_TMP_";
constexpr TColor kBlack = 0;
constexpr std::uint8_t kCentre = 2;
constexpr float kLineWidth = 1.0f;

TTextStyle Style(char style) {
  switch (style) {
    case 'A':
      return {"Tahoma", kBlack, 36, fsBold, kCentre, 0};
    case 'B':
      return {"Tahoma", kBlack, 24, fsBold, kCentre, 0};
    case 'C':
      return {"Tahoma", kBlack, 18, 0, kCentre, 0};
    case 'D':
      return {"Tahoma", kBlack, 18, 0, kCentre, 1};
    case 'E':
      return {"Tahoma", kBlack, 14, 0, kCentre, 1};
    default:
      return {"Verdana", kBlack, 14, 0, kCentre, 0};
  }
}

TTemplateLine Cut(float x1, float y1, float x2, float y2) { return {kCutLineTag, {x1, y1}, {x2, y2}}; }
TTemplateLine Fold(float x1, float y1, float x2, float y2) { return {kFoldLineTag, {x1, y1}, {x2, y2}}; }

// The outline of a w by h rectangle from the margin origin, clockwise.
std::vector<TTemplateLine> CutFrame(float w, float h) {
  return {Cut(0, 0, w, 0), Cut(w, 0, w, h), Cut(w, h, 0, h), Cut(0, h, 0, 0)};
}

std::vector<TTemplateLine> Join(std::vector<TTemplateLine> a, const std::vector<TTemplateLine>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const TTemplate& Template(int type) {
  static const TPageRecord kMargins{0, 0, 6, 6, 4, 4};
  auto page = [](double w, double h) {
    TPageRecord p = kMargins;
    p.Width = w;
    p.Height = h;
    return p;
  };
  static const std::array<TTemplate, kTemplateCount> kTemplates = {{
      {"CD Front",
       page(131, 130),
       "CD",
       false,
       {0, 0, 121, 120},
       {{{tkText, 'A', kPlaceholder, {10.5f, 15, 100, 20}},
         {tkText, 'B', kPlaceholder, {10.5f, 35, 100, 16}},
         {tkText, 'C', "", {10.5f, 50, 100, 12}},
         {tkText, 'C', "", {10.5f, 58, 100, 12}},
         {tkMemo, 'F', "", {10.5f, 70, 100, 30}}}},
       CutFrame(121, 120)},
      {"CD Front Double",
       page(252, 130),
       "CD",
       false,
       {121, 0, 121, 120},
       {{{tkText, 'A', kPlaceholder, {131.5f, 15, 100, 20}},
         {tkText, 'B', kPlaceholder, {131.5f, 35, 100, 16}},
         {tkText, 'B', kPlaceholder, {10.5f, 10, 100, 16}},
         {tkText, 'C', "", {10.5f, 21, 100, 12}},
         {tkMemo, 'F', kPlaceholder, {10.5f, 30, 100, 70}}}},
       Join(CutFrame(242, 120), {Fold(121, 0, 121, 120)})},
      {"CD Back",
       page(161, 130),
       "CD",
       false,
       {6.5f, 0, 138, 120},
       {{{tkText, 'B', kPlaceholder, {25.5f, 10, 100, 16}},
         {tkText, 'C', kPlaceholder, {25.5f, 25, 100, 12}},
         {tkMemo, 'E', kPlaceholder, {-58, 56.75f, 121, 7, 90}},
         {tkMemo, 'E', kPlaceholder, {88, 56.75f, 121, 7, 270}},
         {tkMemo, 'F', kPlaceholder, {25.5f, 36, 100, 70}}}},
       Join(CutFrame(151, 120), {Fold(6.5f, 0, 6.5f, 120), Fold(144.5f, 0, 144.5f, 120)})},
      {"DVD",
       page(284, 194),
       "DVD",
       false,
       {0, 0, 274, 184},
       {{{tkText, 'A', kPlaceholder, {159, 15, 100, 20}},
         {tkText, 'B', kPlaceholder, {159, 35, 100, 16}},
         {tkText, 'B', kPlaceholder, {15, 10, 100, 16}},
         {tkMemo, 'D', kPlaceholder, {45, 85, 184, 12, 90}},
         {tkMemo, 'F', kPlaceholder, {15, 30, 100, 120}}}},
       Join(CutFrame(274, 184), {Fold(130, 0, 130, 184), Fold(144, 0, 144, 184)})},
      {"Slim DVD",
       page(278, 194),
       "DVD",
       false,
       {0, 0, 268, 184},
       {{{tkText, 'A', kPlaceholder, {153, 15, 100, 20}},
         {tkText, 'B', kPlaceholder, {153, 35, 100, 16}},
         {tkText, 'B', kPlaceholder, {15, 10, 100, 16}},
         {tkMemo, 'D', kPlaceholder, {41, 88, 184, 9, 90}},
         {tkMemo, 'F', kPlaceholder, {15, 30, 100, 70}}}},
       Join(CutFrame(268, 184), {Fold(130, 0, 130, 184), Fold(138, 0, 138, 184)})},
      {"Paper Sleeve",
       page(164, 284),
       "Paper Case",
       false,
       {15, 30, 124, 124},
       {{{tkText, 'A', kPlaceholder, {26, 50, 100, 20}},
         {tkText, 'B', kPlaceholder, {26, 70, 100, 16}},
         {tkText, 'B', kPlaceholder, {26, 10, 100, 16, 180}},
         {tkText, 'C', kPlaceholder, {26, 2, 100, 12, 180}},
         {tkMemo, 'F', kPlaceholder, {26, 160, 100, 70, 180}}}},
       {Fold(15, 30, 139, 30), Fold(139, 30, 139, 154), Fold(139, 154, 15, 154), Fold(15, 154, 15, 30),
        Cut(15, 154, 0, 146.5f), Cut(0, 146.5f, 0, 37.5f), Cut(0, 37.5f, 15, 30), Cut(139, 30, 154, 37.5f),
        Cut(154, 37.5f, 154, 146.5f), Cut(154, 146.5f, 139, 154), Cut(15, 30, 20, 0), Cut(20, 0, 134, 0),
        Cut(134, 0, 139, 30), Cut(138, 154, 138, 274), Cut(138, 274, 16, 274), Cut(16, 274, 16, 154)}},
      {"Origami CD Case",
       {174, 254, 0, 0, 0, 0},
       "Paper Case",
       true,
       {25, 90, 124, 124},
       {{{tkText, 'A', kPlaceholder, {36, 105, 100, 20}},
         {tkText, 'B', kPlaceholder, {36, 125, 100, 16}},
         {tkText, 'B', kPlaceholder, {36, 65, 100, 16, 180}},
         {tkText, 'C', kPlaceholder, {36, 57, 100, 12, 180}},
         {tkMemo, 'F', kPlaceholder, {36, 220, 100, 30, 180}}}},
       {Fold(0, 90, 174, 90), Fold(174, 214, 0, 214), Fold(149, 254, 149, 0), Fold(25, 254, 25, 0),
        Fold(30, 0, 25, 25), Fold(144, 0, 149, 25)}},
  }};
  return kTemplates[static_cast<std::size_t>(type)];
}

bool Build(TdtpDocument& document, int type) {
  const TTemplate& t = Template(type);
  // 1.
  if (!SetupPage(&document, t.Page)) return false;
  // 2.
  AddProjectInfo(document, {t.FileName, t.Category, true, true, t.CenterPrinting});
  // 3.
  AddImageShape(document, (ProgramFolder() / "Resources" / "default.jpg").string(), t.Image, 0);
  // 4.
  for (const TTemplateText& text : t.Texts) {
    if (text.Kind == tkText)
      AddTextShape(document, text.Text, Style(text.Style), 0, text.Rect);
    else
      AddMemoShape(document, text.Text, Style(text.Style), 0, text.Rect);
  }
  // 5.
  for (const TTemplateLine& line : t.Lines) AddLineShape(document, line.From, line.To, line.Kind, kLineWidth);
  return true;
}

}  // namespace

bool CreateCDFrontTemplate(TdtpDocument& document) { return Build(document, 0); }
bool CreateCDFrontDoubleTemplate(TdtpDocument& document) { return Build(document, 1); }
bool CreateCDBackTemplate(TdtpDocument& document) { return Build(document, 2); }
bool CreateDVDTemplate(TdtpDocument& document) { return Build(document, 3); }
bool CreateSlimDVDTemplate(TdtpDocument& document) { return Build(document, 4); }
bool CreatePaperSleeveTemplate(TdtpDocument& document) { return Build(document, 5); }
bool CreateOrigamiCDCaseTemplate(TdtpDocument& document) { return Build(document, 6); }

bool CreateTemplate(TdtpDocument& document, int type) {
  if (type < 0 || type >= kTemplateCount) return false;
  return Build(document, type);
}

std::filesystem::path TemplatesFolder() {
  return std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString()) /
         "Templates";
}

std::string GetTemplateFileName(int type) {
  if (type < 0 || type >= kTemplateCount) return {};
  return (TemplatesFolder() / (std::string(Template(type).FileName) + ".ovx")).string();
}

void CreateTemplateFiles(TdtpDocument& document) {
  std::filesystem::create_directories(TemplatesFolder());
  for (int type : {1, 2, 3, 4, 5, 6, 0}) {
    CreateTemplate(document, type);
    SaveProjectFile(document, GetTemplateFileName(type));
  }
  if (TdtpPage* page = document.GetCurrentPage()) page->ClearShapes();
  document.SetModified(false);
}

bool TemplateFilesMissing() {
  std::error_code ec;
  return !std::filesystem::exists(GetTemplateFileName(0), ec);
}

}  // namespace kdl
