// The cropped picture's paint against a slow reference that this test owns:
// the whole crop resampled linearly to the paint scale into a fresh
// intermediate, which is then stretched whole onto the frame. Whatever the
// shape keeps or leaves out, every pixel of every view, clip and band must
// be the reference's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "QtApplication.h"
#include "app/shapes/CropBitmapShape.h"
#include "document/Startup.h"
#include "document/resources/BitmapResource.h"
#include "document/shapes/Rendering.h"
#include "foundation/BrenlowXml.h"
#include "raster/AffineTransform.h"
#include "raster/Bitmap32.h"
#include "raster/Transforms.h"

namespace kdl {
namespace {

class CropPaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    InitializeDocumentLibrary();
  }
};

// A photo-like picture: smooth fields, grain and translucent patches, so
// that any pixel taken from the wrong place or weight shows.
void Photo(TBitmap32& b, std::int32_t w, std::int32_t h, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> grain(-40, 40);
  b.SetSize(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      const auto c = [&](int base) { return static_cast<TColor32>(std::clamp(base + grain(rng), 0, 255)); };
      const TColor32 a = ((x / 23 + y / 17) % 3 == 0) ? c(128) : 255;
      *b.PixelPtr(x, y) = a << 24 | c(x * 255 / w) << 16 | c(y * 255 / h) << 8 | c((x ^ y) & 0xFF);
    }
}

struct TView {
  double A, D, E, F;  // the paint transform, upright
  float Scale;        // the paint information's
};

TAffineMatrix Matrix(const TView& v) {
  TAffineMatrix m;
  m.A = v.A;
  m.D = v.D;
  m.E = v.E;
  m.F = v.F;
  return m;
}

std::int32_t Round(double v) { return static_cast<std::int32_t>(std::nearbyint(v)); }

// The picture drawn the slow way: a whole intermediate of the crop at the
// paint scale, then stretched onto the frame's pixels with the filter.
void ReferencePaint(TBitmap32& image, const TRect& cropRect, double w, double h, TBitmap32& target,
                    const TView& v, TStretchFilter filter) {
  TRect crop;
  if (!IntersectRect(crop, cropRect, image.BoundsRect())) return;
  const TRect dst{Round(v.E), Round(v.F), Round(v.A * w + v.E), Round(v.D * h + v.F)};
  if (dst.Right <= dst.Left || dst.Bottom <= dst.Top) return;
  TBitmap32 temp;
  temp.SetSize(Round(w * v.Scale), Round(h * v.Scale));
  StretchTransfer(&temp, temp.BoundsRect(), temp.BoundsRect(), &image, crop, sfLinear, dmOpaque, nullptr);
  StretchTransfer(&target, dst, target.BoundsRect(), &temp, temp.BoundsRect(), filter, dmBlend, nullptr);
}

void ShapePaint(TdtpCropBitmapShape& shape, TBitmap32& target, const TView& v, TStretchFilter filter,
                bool freeCache = false, TDeviceType device = dtScreen) {
  shape.SetPaintTransform(Matrix(v));
  TdtpPaintInfo info;
  info.Device = device;
  info.Scale = info.RenderScale = v.Scale;
  info.StretchFilter = filter;
  info.FreeCache = freeCache;
  shape.Paint32(target, info);
}

// A background that the blend must keep where the picture is translucent.
void Paper(TBitmap32& b, std::int32_t w, std::int32_t h) {
  b.SetSize(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) *b.PixelPtr(x, y) = 0xFF000000u | static_cast<TColor32>(x * 7 + y * 3);
}

// Paints a w x h window of the view at (left, top) with the shape and with
// the reference and compares every pixel.
void ExpectWindow(TdtpCropBitmapShape& shape, TBitmap32& image, const TView& view, TStretchFilter filter,
                  std::int32_t left, std::int32_t top, std::int32_t w, std::int32_t h, const std::string& what,
                  TDeviceType device = dtScreen) {
  TView moved = view;
  moved.E -= left;
  moved.F -= top;
  TBitmap32 got, want;
  Paper(got, w, h);
  Paper(want, w, h);
  ShapePaint(shape, got, moved, filter, false, device);
  ReferencePaint(image, shape.CropRect(), shape.DocWidth(), shape.DocHeight(), want, moved, filter);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      ASSERT_EQ(*got.PixelPtr(x, y), *want.PixelPtr(x, y))
          << what << " filter " << int(filter) << " window (" << left << "," << top << ") pixel " << x << ","
          << y;
}

constexpr TStretchFilter kFilters[] = {sfNearest, sfDraft, sfLinear, sfCosine, sfSpline, sfLanczos, sfMitchell};

void SetUpShape(TdtpCropBitmapShape& shape, TBitmap32& image) {
  shape.Image().SetBitmap(&image);
  shape.SetDocBounds(0, 0, 40, 30);
  shape.SetCropRect({23, 17, 281, 190});
}

TEST_F(CropPaintTest, EveryZoomClipAndFilterGivesTheReferencePixels) {
  TBitmap32 image;
  Photo(image, 300, 200, 1);
  // One shape keeps its intermediate from window to window; another lets
  // it go before each window, so that it has nothing to reuse; a third
  // paints for the printer, which keeps no resampled frame.
  TdtpCropBitmapShape kept, fresh, printed;
  SetUpShape(kept, image);
  SetUpShape(fresh, image);
  SetUpShape(printed, image);
  // Views where the frame's pixel size is and is not the intermediate's:
  // reductions and enlargements of the second resampling, fractional
  // frame corners, and frames reaching past the target's edges.
  const TView views[] = {
      {5, 5, 0.4, 0.3, 5},          {3.7, 3.7, 1.5, 2.5, 3.7},   {12, 12, -61.3, -47.6, 9.5},
      {2.2, 2.2, 3.25, 7.75, 4.1},  {1.1, 1.3, 0.5, 0.5, 0.9},   {7.9, 6.3, -3.4, 11.6, 2.6},
      {0.37, 0.41, 2.2, 1.6, 0.61}, {4.13, 4.13, 0.49, 0.51, 4.0},
  };
  // The whole target, then clips that show only part of the frame in an
  // order that makes the kept intermediate grow every way.
  const TRect windows[] = {{0, 0, 260, 220}, {150, 120, 240, 190}, {20, 10, 60, 40}, {170, 0, 250, 200},
                           {0, 160, 250, 205}, {97, 83, 98, 84}};
  for (const TView& v : views)
    for (const TStretchFilter f : kFilters) {
      const std::string what = "view " + std::to_string(v.A) + "/" + std::to_string(v.Scale);
      for (const TRect& r : windows) {
        fresh.ClearCaches();
        ExpectWindow(fresh, image, v, f, r.Left, r.Top, r.Width(), r.Height(), what + " fresh");
        ExpectWindow(kept, image, v, f, r.Left, r.Top, r.Width(), r.Height(), what + " kept");
        ExpectWindow(printed, image, v, f, r.Left, r.Top, r.Width(), r.Height(), what + " printed", dtPrinter);
        if (HasFatalFailure()) return;
      }
    }
}

TEST_F(CropPaintTest, PrintBandsTopToBottomAndBackGiveTheReferencePixels) {
  TBitmap32 image;
  Photo(image, 257, 311, 2);
  TdtpCropBitmapShape shape;
  shape.Image().SetBitmap(&image);
  shape.SetDocBounds(0, 0, 33, 47);
  shape.SetCropRect({-5, 9, 240, 400});  // clipped to the bitmap
  const TView view{6.1, 6.1, 3.3, 2.7, 5.9};
  // A page printed at the paint scale draws the frame at the
  // intermediate's own size; the screen, zoomed, does not.
  const TView printed{5.9, 5.9, 3.3, 2.7, 5.9};
  for (const TDeviceType device : {dtPrinter, dtScreen})
    for (const TView& v : {view, printed})
      for (const TStretchFilter f : {sfLinear, sfLanczos, sfDraft}) {
        for (std::int32_t top = 0; top < 300; top += 37)
          ExpectWindow(shape, image, v, f, 0, top, 210, 37, "down", device);
        for (std::int32_t top = 263; top >= 0; top -= 29)
          ExpectWindow(shape, image, v, f, 0, top, 210, 29, "up", device);
        if (HasFatalFailure()) return;
      }
}
// Frames wide enough that a page band is resampled in several smaller
// bands, the last one shorter, through memory the shape keeps from one page
// band to the next: page bands of every height down and up, a frame whose
// rows are taken one to one (wider than the intermediate) and one drawn at
// the intermediate's own size, then a narrower frame and a wider one again,
// for a crop whose rows are reduced (small bands) and one whose rows are
// enlarged (larger bands). No pixel of an earlier band may show.
TEST_F(CropPaintTest, WideFramesPrintInBandsOfEverySize) {
  TBitmap32 image;
  Photo(image, 640, 200, 5);
  TdtpCropBitmapShape shape;
  shape.Image().SetBitmap(&image);
  const TView stretched{6.2, 5.9, 3.3, 2.7, 5.9};
  const TView printed{5.9, 5.9, 3.3, 2.7, 5.9};
  // 197 and 58 rows of the crop become 94 of the frame.
  for (const TRect crop : {TRect{3, 2, 637, 199}, TRect{3, 2, 637, 60}}) {
    shape.SetCropRect(crop);
    // 1100 wide: bands of 7 rows for the reduction and 40 for the
    // enlargement, so that a page band of 41 ends in a shorter band.
    for (const float width : {1100.0f, 120.0f, 1100.0f}) {
      // 16 high: the frame's rows and the intermediate's both round to 94.
      shape.SetDocBounds(0, 0, width, 16);
      const std::int32_t w = static_cast<std::int32_t>(std::ceil(width * 6.2 + 4));
      for (const TView& v : {stretched, printed})
        for (const TStretchFilter f : {sfLinear, sfLanczos}) {
          const std::string what = "crop rows " + std::to_string(crop.Height()) + " width " + std::to_string(width) +
                                   (v.A == printed.A ? " printed" : " stretched");
          for (std::int32_t top = 0; top < 100; top += 41)
            ExpectWindow(shape, image, v, f, 0, top, w, 41, what, dtPrinter);
          for (std::int32_t top = 90; top >= 0; top -= 23)
            ExpectWindow(shape, image, v, f, 0, top, w, 9, what, dtPrinter);
          if (HasFatalFailure()) return;
        }
    }
  }
}

TEST_F(CropPaintTest, ANewCropImageOrScaleIsNeverShownFromAnOldIntermediate) {
  TBitmap32 first, second;
  Photo(first, 300, 200, 3);
  Photo(second, 300, 200, 4);
  TdtpCropBitmapShape shape;
  shape.Image().SetBitmap(&first);
  shape.SetDocBounds(0, 0, 40, 30);
  shape.SetCropRect({10, 10, 290, 190});
  const TView view{5.3, 5.3, 0.4, 0.6, 4.9};
  ExpectWindow(shape, first, view, sfLinear, 0, 0, 230, 170, "first");
  // The crop moves by a pixel: the same size, other pixels.
  shape.SetCropRect({11, 10, 291, 190});
  ExpectWindow(shape, first, view, sfLinear, 0, 0, 230, 170, "moved crop");
  // Other pixels of the same size in the same resource.
  shape.Image().SetBitmap(&second);
  ExpectWindow(shape, second, view, sfLinear, 0, 0, 230, 170, "second image");
  // A scale that rounds to another intermediate size, then back.
  ExpectWindow(shape, second, {5.3, 5.3, 0.4, 0.6, 5.0}, sfLinear, 0, 0, 230, 170, "scale");
  ExpectWindow(shape, second, view, sfLinear, 0, 0, 230, 170, "scale back");
  // At one scale, a frame that rounds a pixel narrower when it moves by a
  // fifth of a pixel (213 then 212 pixels wide), and back; then another
  // filter over the same frame, and back.
  ExpectWindow(shape, second, {5.3075, 5.3075, 0.4, 0.6, 4.9}, sfLinear, 0, 0, 230, 170, "frame 213 wide");
  ExpectWindow(shape, second, {5.3075, 5.3075, 0.6, 0.6, 4.9}, sfLinear, 0, 0, 230, 170, "frame 212 wide");
  ExpectWindow(shape, second, {5.3075, 5.3075, 0.4, 0.6, 4.9}, sfLinear, 0, 0, 230, 170, "frame 213 again");
  ExpectWindow(shape, second, view, sfLanczos, 0, 0, 230, 170, "other filter");
  ExpectWindow(shape, second, view, sfLinear, 0, 0, 230, 170, "filter back");
  // The first picture back in the same resource.
  shape.Image().SetBitmap(&first);
  ExpectWindow(shape, first, view, sfLinear, 20, 20, 100, 100, "first again");
  // Other bytes read into the resource after a trim let its picture go:
  // nothing announces the change, the content version does.
  auto source = TdtpResource::Create<TdtpBitmapResource>(nullptr);
  source->SetBitmap(&second);
  TBrenlowXml xml("Image");
  source->SaveToXml(*xml.Root());
  shape.Image().Release();
  shape.Image().LoadFromXml(*xml.Root());
  ExpectWindow(shape, second, view, sfLinear, 20, 20, 100, 100, "bytes read after a trim");
  shape.Image().SetBitmap(&first);
  // A one-off picture keeps nothing, and the next paint still matches.
  TBitmap32 target;
  Paper(target, 230, 170);
  ShapePaint(shape, target, view, sfLinear, true);
  ExpectWindow(shape, first, view, sfLinear, 0, 0, 230, 170, "after a one-off picture");
}

}  // namespace
}  // namespace kdl
