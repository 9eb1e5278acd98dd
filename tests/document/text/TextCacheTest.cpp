// A text's render cache at output scales is made of storage that reads as
// zero, written only near the ink, and the sampler is told where the ink
// lies. What reaches the target must be what a cache cleared in full and
// drawn in full gives: the reference below builds that cache itself, at
// the layout the shape uses, and samples it with a sampler of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "QtApplication.h"
#include "document/shapes/Rendering.h"
#include "document/text/MemoShape.h"
#include "document/text/TextShape.h"
#include "raster/AffineTransform.h"
#include "raster/Bitmap32.h"
#include "raster/MapSampler.h"

namespace kdl {
namespace {

constexpr double kScreen = 96 / 25.4;
constexpr double kPrint600 = 600 / 25.4;

struct Variant {
  const char* Name;
  float Angle = 0;
  bool Mirrored = false;
  bool Flipped = false;
  std::int32_t Alpha = 255;
  TColor Color = 0;  // the font colour, 0x00BBGGRR
};

const Variant kSetups[] = {
    {"upright black"},
    {"upright red", 0, false, false, 255, 0x0000C0},
    {"turned 30 blue", 30, false, false, 255, 0xC04010},
    {"turned 90 black", 90, false, false, 255, 0},
    {"turned 200 grey", 200, false, false, 255, 0x808080},
    {"mirrored green", 0, true, false, 255, 0x00A000},
    {"flipped and turned", 45, false, true, 255, 0x102030},
    {"translucent red", 0, false, false, 128, 0x0000FF},
    {"translucent turned black", 15, false, false, 77, 0},
};

void Apply(TdtpTextShape& shape, const Variant& s) {
  shape.SetFontName("DejaVu Sans");
  shape.SetFontHeight(6);
  shape.SetFontColor(s.Color);
  shape.SetDocLeft(12);
  shape.SetDocTop(9);
  shape.SetDocAngle(s.Angle);
  shape.SetMirrored(s.Mirrored);
  shape.SetFlipped(s.Flipped);
  shape.SetMasterAlpha(s.Alpha);
}

// A view of the page around the shape, width x height pixels at scale.
struct Page {
  TFloatRect View;
  std::int32_t Width = 0, Height = 0;
};

Page PageAt(double scale) {
  Page p;
  p.View = {0, 0, 70, 45};
  p.Width = static_cast<std::int32_t>(std::lround(70 * scale));
  p.Height = static_cast<std::int32_t>(std::lround(45 * scale));
  return p;
}

TdtpPaintInfo OutputInfo(double scale) {
  TdtpPaintInfo info;
  info.Device = dtPrinter;
  info.BackColor = 0;
  info.Scale = static_cast<float>(scale);
  info.RenderScale = static_cast<float>(scale);
  info.StretchFilter = sfLinear;
  return info;
}

// The shape painted as the program paints it: the whole page at once, or
// in bands of bandRows rows with each cache freed after its last band.
std::unique_ptr<TBitmap32> Painted(TdtpShape& shape, const Page& page, double scale, std::int32_t bandRows) {
  auto out = std::make_unique<TBitmap32>();
  out->SetSize(page.Width, page.Height);
  TdtpPaintInfo info = OutputInfo(scale);
  if (bandRows <= 0) {
    shape.Paint(*out, page.View, false, info);
    return out;
  }
  info.PictureHeight = page.Height;
  info.FreeCache = true;
  TBitmap32 band;
  for (std::int32_t top = 0; top < page.Height; top += bandRows) {
    const std::int32_t rows = std::min(bandRows, page.Height - top);
    band.SetSize(page.Width, rows);
    band.Clear(0);
    info.BandTop = top;
    shape.Paint(band, page.View, false, info);
    for (std::int32_t y = 0; y < rows; ++y)
      std::copy(band.ScanLine(y), band.ScanLine(y) + page.Width, out->ScanLine(top + y));
  }
  return out;
}

// The reference: a cache of the shape's layout at cacheScale, cleared in
// full, its content drawn as on any bitmap, then mirrored or flipped, and
// sampled through the cache's own mapping into the page. Every pixel of a
// text's cache carries the font colour: the full conversion of the drawn
// white text gives nothing else.
std::unique_ptr<TBitmap32> Reference(TdtpTextShape& shape, const Page& page, double cacheScale) {
  const double s = static_cast<float>(cacheScale);
  const double w = shape.DocWidth(), h = shape.DocHeight();
  const double leftPx = std::max(std::ceil(shape.MarginLeft() * s), 1.0);
  const double topPx = std::max(std::ceil(shape.MarginTop() * s), 1.0);
  const double rightPx = std::max(std::ceil((w + shape.MarginRight()) * s), std::ceil(w * s) + 1);
  const double bottomPx = std::max(std::ceil((h + shape.MarginBottom()) * s), std::ceil(h * s) + 1);
  TBitmap32 cache;
  cache.SetSize(static_cast<std::int32_t>(leftPx + rightPx), static_cast<std::int32_t>(topPx + bottomPx));
  cache.Clear(0);
  cache.SetCombineMode(cmMerge);
  cache.SetDrawMode(dmBlend);
  TdtpPaintInfo info = OutputInfo(s);
  const TFloatRect local{static_cast<float>(-leftPx / s), static_cast<float>(-topPx / s),
                         static_cast<float>(rightPx / s), static_cast<float>(bottomPx / s)};
  shape.RenderContent(cache, local, info);
  shape.PostProcess(cache, info);
  const TColor32 rgb = Color32(shape.GetFontColor()) & 0x00FFFFFFu;
  std::int64_t foreign = 0;
  for (std::int32_t y = 0; y < cache.Height(); ++y)
    for (std::int32_t x = 0; x < cache.Width(); ++x) foreign += (cache.GetPixel(x, y) & 0x00FFFFFFu) != rgb;
  EXPECT_EQ(foreign, 0) << "cache pixels without the font colour";
  cache.SetOuterColor(0);
  cache.SetMasterAlpha(static_cast<std::uint32_t>(shape.MasterAlpha()));

  const double originX = shape.Mirrored() ? rightPx - w * s : leftPx;
  const double originY = shape.Flipped() ? bottomPx - h * s : topPx;
  TdtpAffineTransform t;
  t.Translate(0.5 - originX, 0.5 - originY);
  t.Scale(1 / s, 1 / s);
  t.Rotate(-static_cast<double>(shape.DocAngle()), 0, 0);
  t.Translate(shape.DocLeft(), shape.DocTop());
  t.Translate(-static_cast<double>(page.View.Left), -static_cast<double>(page.View.Top));
  t.Scale(page.Width / (static_cast<double>(page.View.Right) - page.View.Left),
          page.Height / (static_cast<double>(page.View.Bottom) - page.View.Top));
  auto out = std::make_unique<TBitmap32>();
  out->SetSize(page.Width, page.Height);
  TdtpMapSampler sampler;
  sampler.SetTarget(out.get());
  sampler.SetSource(&cache);
  sampler.SetTransform(&t);
  sampler.Render({0, 0, static_cast<float>(cache.Width()), static_cast<float>(cache.Height())});
  return out;
}

// Pixels that differ, with the first one named.
std::int64_t Differences(const TBitmap32& a, const TBitmap32& b, std::string& first) {
  std::int64_t n = 0;
  for (std::int32_t y = 0; y < a.Height(); ++y)
    for (std::int32_t x = 0; x < a.Width(); ++x)
      if (a.GetPixel(x, y) != b.GetPixel(x, y) && n++ == 0)
        first = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
  return n;
}

std::int64_t Inked(const TBitmap32& b) {
  std::int64_t n = 0;
  for (std::int32_t y = 0; y < b.Height(); ++y)
    for (std::int32_t x = 0; x < b.Width(); ++x) n += (b.GetPixel(x, y) >> 24) != 0;
  return n;
}

void ExpectSame(TdtpTextShape& shape, double scale, std::int32_t bandRows, const std::string& what,
                bool expectInk = true) {
  const Page page = PageAt(scale);
  const auto ours = Painted(shape, page, scale, bandRows);
  const auto ref = Reference(shape, page, scale);
  if (expectInk) {
    ASSERT_GT(Inked(*ref), 0) << what;
  }
  std::string first;
  EXPECT_EQ(Differences(*ours, *ref, first), 0) << what << ", first at " << first;
}

TEST(TextCache, TextsAtOutputScalesMatchAFullyClearedCache) {
  test::EnsureApplication();
  for (const Variant& s : kSetups)
    for (const double scale : {kPrint600, kScreen})
      for (const std::int32_t bandRows : {0, 37}) {
        TdtpTextShape text;
        Apply(text, s);
        text.SetText(u"Journey Wj");
        ExpectSame(text, scale, bandRows,
                   std::string("text, ") + s.Name + " at " + std::to_string(std::lround(scale * 25.4)) +
                       " dpi, bands of " + std::to_string(bandRows));
      }
}

TEST(TextCache, MemosAndEmptyTextsMatchAFullyClearedCache) {
  test::EnsureApplication();
  for (const Variant& s : kSetups) {
    TdtpMemoShape memo;
    Apply(memo, s);
    memo.SetDocWidth(40);
    memo.SetDocHeight(20);
    memo.SetText(u"First line\r\n\r\nfy-gjq ||");
    ExpectSame(memo, kPrint600, 29, std::string("memo, ") + s.Name);

    // A frame without text leaves its cache untouched: nothing is drawn.
    TdtpTextShape empty;
    Apply(empty, s);
    empty.SetDocWidth(40);
    empty.SetDocHeight(8);
    ExpectSame(empty, kPrint600, 0, std::string("empty text, ") + s.Name, false);
  }
}

// One cache after another reuses storage given back zero: texts in a row,
// each painted in bands and freed, each compared with its reference.
TEST(TextCache, CachesMadeOneAfterAnotherStayExact) {
  test::EnsureApplication();
  const char16_t* texts[] = {u"Wide WWWWWWWW", u"i", u"Tall |||", u"gy", u"Wide WWWWWWWW"};
  int k = 0;
  for (const char16_t* t : texts)
    for (const Variant& s : {kSetups[1], kSetups[2], kSetups[0]}) {
      TdtpTextShape text;
      Apply(text, s);
      text.SetText(t);
      ExpectSame(text, kPrint600, 64, "text " + std::to_string(k++) + ", " + s.Name);
    }
}

// A cache kept from a larger scale serves a smaller one: the sampler then
// mixes pixels further apart in the cache, which must all hold the font
// colour, up to and past what the written margin around the ink covers.
TEST(TextCache, ACacheReadFromAfarMatchesAFullyClearedCache) {
  test::EnsureApplication();
  for (const double ratio : {1.5, 2.0, 2.5, 9.0})
  for (const Variant& s : kSetups) {
    TdtpTextShape text;
    Apply(text, s);
    text.SetText(u"Journey Wj");
    const double large = kPrint600, small = kPrint600 / ratio;
    const Page bigPage = PageAt(large), page = PageAt(small);
    (void)Painted(text, bigPage, large, 0);
    ASSERT_NE(text.Cache(), nullptr) << s.Name;
    TdtpPaintInfo info = OutputInfo(small);
    auto ours = std::make_unique<TBitmap32>();
    ours->SetSize(page.Width, page.Height);
    text.Paint(*ours, page.View, false, info);
    const auto ref = Reference(text, page, large);
    ASSERT_GT(Inked(*ref), 0) << s.Name;
    std::string first;
    EXPECT_EQ(Differences(*ours, *ref, first), 0) << s.Name << ", read at 1:" << ratio << ", first at " << first;
  }
}

}  // namespace
}  // namespace kdl
