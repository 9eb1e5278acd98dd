// The page against hand-made expectations: its XML written out from the
// format's table, its paper painted at a known transform and checked pixel
// by pixel against the formulas, thumbnails, and the faults a page must not
// repeat (lost backgrounds, the wrong page resized, zero-sized pages).
#include <gtest/gtest.h>

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <set>

#include "../resources/ResourceTestUtil.h"
#include "FakeDocument.h"
#include "QtApplication.h"
#include "document/Startup.h"
#include "document/resources/BitmapResource.h"
#include "document/view/Page.h"
#include "foundation/BrenlowXml.h"
#include "raster/Bitmap32.h"
#include "support/AllocationMeter.h"

namespace kdl {
namespace {

constexpr TColor32 kGreen32 = 0xFF00FF00u, kRed32 = 0xFFFF0000u, kBlue32 = 0xFF0000FFu, kBlack32 = 0xFF000000u;

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    InitializeDocumentLibrary();
  }
  // A page in the fake document as its n-th page (0-based).
  std::unique_ptr<TdtpPage> AddPage() {
    auto page = std::make_unique<TdtpPage>();
    doc_.Pages.push_back(page.get());
    page->SetDocument(&doc_);
    return page;
  }
  testing::FakeDocument doc_;
};

void Saved(TdtpPage& page, TBrenlowXml& xml) {
  xml.ReadFromString("<Page/>");
  page.SaveToXml(xml.Root());
}

void Load(TdtpPage& page, const std::string& text) {
  TBrenlowXml xml;
  xml.ReadFromString(text);
  page.LoadFromXml(xml.Root());
}

// ---- XML -----------------------------------------------------------------------------------

TEST_F(PageTest, BlackNonDefaultPageKeepsEveryElement) {
  // Written by hand from the format's table.
  auto page = AddPage();
  Load(*page,
       "<Page><IsDefaultPage>False</IsDefaultPage><MarginLeft>1.5</MarginLeft><MarginTop>2</MarginTop>"
       "<MarginRight>3</MarginRight><MarginBottom>4.25</MarginBottom><GridSize>2.5</GridSize>"
       "<GridColor>255</GridColor><PageColor>0</PageColor><PageWidth>120</PageWidth>"
       "<PageHeight>125</PageHeight><BackgroundTiled>True</BackgroundTiled></Page>");
  EXPECT_FALSE(page->IsDefaultPage());
  EXPECT_EQ(page->MarginLeft(), 1.5f);
  EXPECT_EQ(page->MarginTop(), 2.0f);
  EXPECT_EQ(page->MarginRight(), 3.0f);
  EXPECT_EQ(page->MarginBottom(), 4.25f);
  EXPECT_EQ(page->GridSize(), 2.5f);
  EXPECT_EQ(page->GridColor(), 255);
  EXPECT_EQ(page->PageColor(), 0);
  EXPECT_EQ(page->PageWidth(), 120.0f);
  EXPECT_EQ(page->PageHeight(), 125.0f);
  EXPECT_TRUE(page->BackgroundTiled());
  EXPECT_FALSE(page->ThumbnailDirty());

  TBrenlowXml xml;
  Saved(*page, xml);
  // Page elements come first, in the table's order, then the shape part.
  std::vector<std::string> names;
  for (int i = 0; i < xml.Root()->GetChildCount(); ++i) names.push_back(xml.Root()->GetChild(i)->Name());
  const std::vector<std::string> head = {"IsDefaultPage", "MarginLeft", "MarginTop", "MarginRight",
                                         "MarginBottom",  "GridSize",   "GridColor", "PageColor",
                                         "PageWidth",     "PageHeight", "BackgroundTiled"};
  ASSERT_GE(names.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + head.size()), head);
  EXPECT_EQ(xml.Root()->ReadColor("PageColor", -1), 0);  // black is no default: written

  TdtpPage back;
  back.LoadFromXml(xml.Root());
  EXPECT_EQ(back.MarginBottom(), 4.25f);
  EXPECT_EQ(back.PageColor(), 0);
  EXPECT_EQ(back.PageHeight(), 125.0f);

  // Absent elements read as white paper, which is written no more; a
  // default page writes the shape part alone.
  Load(*page, "<Page><IsDefaultPage>False</IsDefaultPage></Page>");
  EXPECT_EQ(page->PageColor(), 0xFFFFFF);
  Saved(*page, xml);
  EXPECT_EQ(xml.Root()->FindChild("PageColor"), nullptr);
  page->SetIsDefaultPage(true);
  Saved(*page, xml);
  EXPECT_EQ(xml.Root()->FindChild("PageWidth"), nullptr);
  EXPECT_EQ(xml.Root()->FindChild("ClassName")->GetValueText(), "TdtpPage");
}

TEST_F(PageTest, BackgroundImageReadsInBothForms) {
  auto page = AddPage();
  page->SetMarginLeft(7);  // leaves the default state
  auto picture = test::OpaqueBitmap(5, 3, 4);
  page->BackgroundResource().SetBitmap(picture.get());
  TBrenlowXml xml;
  Saved(*page, xml);
  const TXmlNode* image = xml.Root()->FindChild("BackgroundImage");
  ASSERT_NE(image, nullptr);
  EXPECT_FALSE(IsLegacyBitmapXml(*image));
  TdtpPage back;
  back.LoadFromXml(xml.Root());
  EXPECT_EQ(test::ResourcePixels(back.BackgroundResource()), test::Pixels(*picture));

  // The older form: the image file's bytes, decoded into the resource.
  auto legacy = std::make_unique<TBitmap32>();
  test::FillRandom(*legacy, 7, 5, 3);
  test::ScratchDir dir;
  std::string text = test::LegacyBitmapXml(test::EncodedBytes(*legacy, ".bmp"), dir);
  text.insert(std::string("<Page>").size(), "<IsDefaultPage>False</IsDefaultPage>");
  Load(*page, text);
  EXPECT_EQ(test::ResourcePixels(page->BackgroundResource()), test::Pixels(*legacy));
}

// ---- Painting --------------------------------------------------------------------------------

// Scale 2 px/mm, page corner at (5, 5).
void PaintAt(TBitmap32& b, TdtpPage& page, TDeviceType device) {
  b.SetSize(440, 620);
  b.Clear(0xFF123456u);
  page.SetPaintTransform({2, 0, 0, 2, 5, 5});
  TdtpPaintInfo info;
  info.Device = device;
  page.Paint32(b, info);
}

TEST_F(PageTest, GridLinesAndDotsFallAtTheirMappedColumns) {
  auto page = AddPage();  // 210 x 297, grid 5
  doc_.Defaults.GridColor = 0x0000FF;  // red as a TColor
  doc_.View.HelperMethod = hmGrid;
  TBitmap32 b;
  PaintAt(b, *page, dtScreen);
  // Row at 2.5 mm crosses no horizontal line.
  std::set<int> lines;
  for (int x = 0; x < b.Width(); ++x)
    if (b.GetPixel(x, 10) == kRed32) lines.insert(x);
  std::set<int> expected;
  for (int c = 1; c <= 41; ++c) expected.insert(10 * c + 5);
  EXPECT_EQ(lines, expected);

  doc_.View.HelperMethod = hmDots;
  PaintAt(b, *page, dtScreen);
  std::set<int> dots;
  for (int x = 0; x < b.Width(); ++x)
    if (b.GetPixel(x, 15) == kRed32) dots.insert(x);
  expected.insert(425);  // the right edge: 42 columns
  EXPECT_EQ(dots, expected);
  EXPECT_NE(b.GetPixel(15, 10), kRed32);
}

TEST_F(PageTest, TinyGridPitchStillPaintsEveryPixelOnce) {
  auto page = AddPage();
  doc_.Defaults.GridSize = 1e-30f;
  doc_.Defaults.GridColor = 0x0000FF;
  doc_.View.HelperMethod = hmGrid;
  TBitmap32 b;
  PaintAt(b, *page, dtScreen);
  // Lines everywhere between the page's inner edges, done in pixel steps.
  EXPECT_EQ(b.GetPixel(200, 300), kRed32);
}

TEST_F(PageTest, CheckerboardFrameShadowAndMargins) {
  auto page = AddPage();
  doc_.View.HelperMethod = hmPattern;
  TBitmap32 b;
  PaintAt(b, *page, dtScreen);
  for (int y = 5; y < 599; y += 3)
    for (int x = 5; x < 425; x += 3) {
      const bool white = ((((x - 5) / 8) + ((y - 5) / 8)) % 2) == 0;
      ASSERT_EQ(b.GetPixel(x, y), white ? 0xFFFFFFFFu : 0xFFB0B0B0u) << x << "," << y;
    }

  doc_.View.HelperMethod = hmNone;
  doc_.View.ViewStyle = vsPrintLayout;
  doc_.View.ShowMargins = true;
  doc_.Defaults.PageColor = 0x00FF00;
  PaintAt(b, *page, dtScreen);
  // Frame on the page rectangle's border pixels.
  EXPECT_EQ(b.GetPixel(5, 300), kBlack32);
  EXPECT_EQ(b.GetPixel(424, 300), kBlack32);
  EXPECT_EQ(b.GetPixel(200, 5), kBlack32);
  EXPECT_EQ(b.GetPixel(200, 598), kBlack32);
  EXPECT_EQ(b.GetPixel(4, 300), 0xFF123456u);
  // 1 mm shadow: (P0.x + 2, P1.y)-(PS) and (P1.x, P0.y + 2)-(PS.x, P1.y).
  EXPECT_EQ(b.GetPixel(7, 599), kBlack32);
  EXPECT_EQ(b.GetPixel(426, 600), kBlack32);
  EXPECT_EQ(b.GetPixel(425, 7), kBlack32);
  EXPECT_EQ(b.GetPixel(6, 599), 0xFF123456u);
  EXPECT_EQ(b.GetPixel(425, 6), 0xFF123456u);
  EXPECT_EQ(b.GetPixel(427, 300), 0xFF123456u);
  // Stippled margins from (25, 25) to (405, 579): white, black and their
  // blends at the half steps, never the paper.
  int white = 0, black = 0, paper = 0;
  for (int x = 25; x <= 405; ++x) {
    const TColor32 p = b.GetPixel(x, 25);
    white += p == 0xFFFFFFFFu;
    black += p == kBlack32;
    paper += p == kGreen32;
  }
  EXPECT_EQ(paper, 0);
  EXPECT_GT(white, 90);
  EXPECT_GT(black, 90);
  for (int y = 26; y < 579; ++y) {
    ASSERT_NE(b.GetPixel(405, y), kGreen32) << y;
    ASSERT_EQ(b.GetPixel(406, y), kGreen32) << y;
    ASSERT_EQ(b.GetPixel(24, y), kGreen32) << y;
  }
}

TEST_F(PageTest, PureRedPageHasRedChannelFullAndBlueEmpty) {
  auto page = AddPage();
  page->SetPageColor(0x0000FF);
  TBitmap32 b;
  PaintAt(b, *page, dtPrinter);
  for (int y = 5; y < 599; ++y)
    for (int x = 5; x < 425; ++x) {
      const TColor32 p = b.GetPixel(x, y);
      ASSERT_EQ((p >> 16) & 0xFF, 255u);
      ASSERT_EQ(p & 0xFF, 0u);
    }
}

TEST_F(PageTest, TiledBackgroundRepeatsWholeTilesAndCutsAtTheEdges) {
  TdtpPage page;  // no document: its own fields
  page.SetPageWidth(20);
  page.SetPageHeight(10);
  page.SetBackgroundTiled(true);
  TBitmap32 tile;
  tile.SetSize(30, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) tile.SetPixel(x, y, x < 15 ? kRed32 : kBlue32);
  page.BackgroundResource().SetBitmap(&tile);
  // At 150 dpi a tile maps to its own pixels; the page is 118 x 59 of them.
  TBitmap32 b;
  b.SetSize(130, 70);
  b.Clear(0xFF123456u);
  page.SetPaintTransform({kTileDpm, 0, 0, kTileDpm, 0, 0});
  TdtpPaintInfo info;
  info.Device = dtPrinter;
  page.Paint32(b, info);
  for (int y = 0; y < 59; ++y)
    for (int x = 0; x < 118; ++x) ASSERT_EQ(b.GetPixel(x, y), x % 30 < 15 ? kRed32 : kBlue32) << x;
  EXPECT_EQ(b.GetPixel(118, 10), 0xFF123456u);
  EXPECT_EQ(b.GetPixel(10, 59), 0xFF123456u);
}

// ---- Small contracts ---------------------------------------------------------------------

// The largest difference of one channel, alpha included: stretching a
// picture may round a level or two.
int ChannelDistance(TColor32 a, TColor32 b) {
  int d = 0;
  for (int shift : {0, 8, 16, 24})
    d = std::max(d, std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)));
  return d;
}

// The page with picture as its tiled background, drawn for the printer at
// scale px/mm from (5, 5) onto b, made w x h of another colour.
void PaintTiledBackground(TdtpPage& page, const TBitmap32& picture, double scale, int w, int h, TBitmap32& b) {
  page.SetMarginLeft(7);
  page.BackgroundResource().SetBitmap(&picture);
  page.SetBackgroundTiled(true);
  b.SetSize(w, h);
  b.Clear(0xFF123456u);
  page.SetPaintTransform({scale, 0, 0, scale, 5, 5});
  TdtpPaintInfo info;
  info.Device = dtPrinter;
  page.Paint32(b, info);
}

TEST_F(PageTest, TiledBackgroundAtATinyScaleStillCoversThePaper) {
  // At 0.5 px/mm a 2 x 2 picture's tiles would be 0.17 px wide; each takes
  // a whole pixel instead, so every pixel of the paper shows the picture.
  auto page = AddPage();
  TBitmap32 red;
  red.SetSize(2, 2);
  red.Clear(kRed32);
  TBitmap32 b;
  PaintTiledBackground(*page, red, 0.5, 120, 160, b);
  // The page covers x 5 .. 110 and y 5 .. 153.5.
  for (int y = 6; y < 152; ++y)
    for (int x = 6; x < 109; ++x) ASSERT_LE(ChannelDistance(b.GetPixel(x, y), kRed32), 2) << x << "," << y;
}

TEST_F(PageTest, TileWiderThanAnyPixelPositionShowsItsCorner) {
  // At 10^10 px/mm one tile of a 2 x 1 picture would be 3.4 * 10^9 pixels
  // wide, past what a pixel position holds; held at a billion pixels, the
  // bitmap shows the first tile's top-left: the picture's red left half.
  auto page = AddPage();
  TBitmap32 picture;
  picture.SetSize(2, 1);
  picture.SetPixel(0, 0, kRed32);
  picture.SetPixel(1, 0, kBlue32);
  TBitmap32 b;
  PaintTiledBackground(*page, picture, 1e10, 40, 40, b);
  EXPECT_LE(ChannelDistance(b.GetPixel(20, 20), kRed32), 2);
  EXPECT_LE(ChannelDistance(b.GetPixel(39, 39), kRed32), 2);
}

TEST_F(PageTest, SnapHalvesToEvenAndNamesByIndex) {
  auto first = AddPage(), second = AddPage(), third = AddPage();
  EXPECT_EQ(third->GetDisplayName(), "Page 3");
  third->SetName("Back");
  EXPECT_EQ(third->GetDisplayName(), "Back");
  doc_.Defaults.GridSize = 5;
  // 12.5 / 5 = 2.5 -> 2; 17.5 / 5 = 3.5 -> 4.
  EXPECT_EQ(first->SnapPoint({12.5f, 17.5f}), (TFloatPoint{10, 20}));
  doc_.Defaults.GridSize = 0;
  EXPECT_EQ(first->SnapPoint({12.5f, 17.5f}), (TFloatPoint{12.5f, 17.5f}));
}

struct FrameCase {
  float Width, Height;
  int Left, Top, W, H;  // worked out from the thumbnail formula by hand
};

TEST_F(PageTest, ThumbnailFrameLiesWhereTheFormulaPutsIt) {
  // 80 x 60: portrait s = 60/297, w = 42, h = 60; landscape s = 80/297,
  // w = 80, h = Round(56.57) = 57, top = 1.
  for (const FrameCase& c : {FrameCase{210, 297, 19, 0, 42, 60}, FrameCase{297, 210, 0, 1, 80, 57}}) {
    auto page = AddPage();
    page->SetPageWidth(c.Width);
    page->SetPageHeight(c.Height);
    const QImage* t = page->GetThumbnail();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->size(), QSize(80, 60));
    auto at = [&](int x, int y) { return t->pixel(x, y) & 0xFFFFFF; };
    for (int y = c.Top; y < c.Top + c.H; ++y) {
      ASSERT_EQ(at(c.Left, y), 0u) << y;
      ASSERT_EQ(at(c.Left + c.W - 1, y), 0u) << y;
    }
    for (int x = c.Left; x < c.Left + c.W; ++x) {
      ASSERT_EQ(at(x, c.Top), 0u) << x;
      ASSERT_EQ(at(x, c.Top + c.H - 1), 0u) << x;
    }
    if (c.Left > 0) {
      EXPECT_EQ(at(c.Left - 1, 30), 0x808080u);
    }
    if (c.Top > 0) {
      EXPECT_EQ(at(40, c.Top - 1), 0x808080u);
    }
    EXPECT_EQ(at(c.Left + c.W / 2, c.Top + c.H / 2), 0xFFFFFFu);  // the paper
    EXPECT_FALSE(page->ThumbnailDirty());
    page->SetModified(true);
    EXPECT_TRUE(page->ThumbnailDirty());
    doc_.Pages.clear();
  }
}

TEST_F(PageTest, ZeroSizedPageNeitherCrashesNorDivides) {
  auto page = AddPage();
  Load(*page, "<Page><IsDefaultPage>False</IsDefaultPage></Page>");  // no PageWidth: 0
  page->SetPageWidth(0);
  page->SetPageHeight(0);
  const QImage* t = page->GetThumbnail();
  if (!page->HasArea()) {
    ASSERT_NE(t, nullptr);
    for (int y = 0; y < t->height(); ++y)
      for (int x = 0; x < t->width(); ++x) ASSERT_EQ(t->pixel(x, y) & 0xFFFFFF, 0x808080u);
  }
  QImage target(10, 10, QImage::Format_RGB32);
  target.fill(Qt::green);
  QPainter painter(&target);
  page->PaintToCanvas(painter, {0, 0, 2, 2}, 5, true);
  page->PaintToCanvas(painter, {0, 0, 0, 0}, 5, true);
  TBitmap32 b;
  PaintAt(b, *page, dtScreen);
  EXPECT_EQ(doc_.PrintingDepth(), 0);
}

// ---- Mended faults -------------------------------------------------------------------------

TEST_F(PageTest, ThumbnailAtAHighZoomCostsOnlyItsOwnPixels) {
  if (!test::AllocationMeter::Available()) GTEST_SKIP() << "needs the sanitizer's allocator hooks";
  // At 20 px/mm the whole A4 page is 4200 x 5940 pixels (about 100 MB);
  // the 80 x 60 thumbnail needs a few kilobytes of them.
  auto page = AddPage();
  doc_.ScreenDpmValue = 20;
  test::AllocationMeter meter;
  const QImage* t = page->GetThumbnail();
  ASSERT_NE(t, nullptr);
  EXPECT_LT(meter.Peak(), 4 << 20);
  EXPECT_EQ(t->pixel(40, 30) & 0xFFFFFF, 0xFFFFFFu);  // the paper
  EXPECT_EQ(t->pixel(19, 30) & 0xFFFFFF, 0u);         // the frame, as at any zoom
}

TEST_F(PageTest, UndecodableBackgroundLeavesThePaperBareAndKeepsItsBytes) {
  auto page = AddPage();
  page->SetMarginLeft(7);
  test::ScratchDir dir;
  const auto file = dir / "scan.png";
  const std::string junk = "\x89PNG\r\n\x1a\n and nothing a decoder can read";
  test::WriteFile(file, junk);
  page->BackgroundResource().LoadFromFile(file);
  // The first paint meets the decode error, the second the remembered one;
  // neither ends the paint, and the page shows bare paper.
  TBitmap32 b;
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_NO_THROW(PaintAt(b, *page, dtPrinter)) << pass;
    EXPECT_EQ(b.GetPixel(100, 100), Color32(page->PageColor())) << pass;
  }
  EXPECT_FALSE(page->BackgroundResource().ErrorMessage().empty());
  // The user's bytes are not dropped because they did not decode.
  TBrenlowXml xml;
  Saved(*page, xml);
  const TXmlNode* image = xml.Root()->FindChild("BackgroundImage");
  ASSERT_NE(image, nullptr);
  const TXmlNode* data = image->FindChild("Data");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->ReadInt64("Size", 0), static_cast<std::int64_t>(junk.size()));
}

TEST_F(PageTest, ImageLoadedIntoADefaultPageSurvivesLeavingTheDefaults) {
  auto page = AddPage();
  auto defaultPicture = test::OpaqueBitmap(4, 4, 1);
  doc_.DefaultBackground()->SetBitmap(defaultPicture.get());
  doc_.Defaults.MarginTop = 6;
  auto picture = test::OpaqueBitmap(6, 5, 2);
  test::ScratchDir dir;
  const auto file = dir / "user.png";
  test::WriteFile(file, test::EncodedBytes(*picture, ".png"));
  page->BackgroundResource().LoadFromFile(file);
  EXPECT_FALSE(page->IsDefaultPage());
  EXPECT_EQ(page->MarginTop(), 6.0f);  // the other defaults were copied
  EXPECT_EQ(test::ResourcePixels(page->BackgroundResource()), test::Pixels(*picture));
}

TEST_F(PageTest, ReturningToTheDefaultsResizesThisPageOnly) {
  auto current = AddPage(), other = AddPage();
  doc_.Current = current.get();
  other->SetMarginLeft(1);
  other->SetPageWidth(100);
  other->SetPageHeight(80);
  current->SetPageWidth(50);
  doc_.Defaults.PageWidth = 150;
  doc_.Defaults.PageHeight = 160;
  other->SetIsDefaultPage(true);
  EXPECT_EQ(other->PageWidth(), 150.0f);
  EXPECT_EQ(other->PageHeight(), 160.0f);
  EXPECT_EQ(current->PageWidth(), 50.0f);
  EXPECT_EQ(other->MarginLeft(), doc_.Defaults.MarginLeft);
}

TEST_F(PageTest, LazyPageLoadsOnFirstGetter) {
  auto page = AddPage();
  doc_.PageXml = {"<Page><IsDefaultPage>False</IsDefaultPage><MarginLeft>9</MarginLeft></Page>"};
  page->SetLoaded(false);
  EXPECT_EQ(page->MarginLeft(), 9.0f);
  EXPECT_EQ(doc_.LoadedPages, std::vector<int>{0});
  EXPECT_EQ(page->MarginLeft(), 9.0f);
  EXPECT_EQ(doc_.LoadedPages.size(), 1u);
}

TEST_F(PageTest, PaintEventsDrawOnTheBitmapsOwnMemory) {
  auto page = AddPage();
  TRect seen{};
  doc_.OnPaintBackground = [&](QPainter& painter, const TdtpPaintInfo&, const TRect& r) {
    seen = r;
    painter.fillRect(QRect(r.Left, r.Top, 1, 1), QColor(0, 0, 255));
  };
  int layer = -1;
  doc_.OnPaintForeground = [&](QPainter&, const TdtpPaintInfo&, const TRect&, int l) { layer = l; };
  TBitmap32 b;
  PaintAt(b, *page, dtPrinter);
  EXPECT_EQ(std::vector<int>({seen.Left, seen.Top, seen.Right, seen.Bottom}), std::vector<int>({5, 5, 425, 599}));
  EXPECT_EQ(b.GetPixel(5, 5), kBlue32);
  EXPECT_EQ(b.GetPixel(6, 5), 0xFFFFFFFFu);
  TdtpPaintInfo info;
  page->PaintForeground(b, info, 2);
  EXPECT_EQ(layer, 2);
}

TEST_F(PageTest, CurrentPageResizeTellsTheDocumentUnlessPrinting) {
  auto page = AddPage();
  doc_.Current = page.get();
  page->SetPageWidth(100);
  const int before = doc_.PageSizeChanges;
  EXPECT_GT(before, 0);
  doc_.BeginPrinting();
  page->SetPageWidth(110);
  doc_.EndPrinting();
  EXPECT_EQ(doc_.PageSizeChanges, before);
}

}  // namespace
}  // namespace kdl
