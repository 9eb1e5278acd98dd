// The bitmap's life, pixel access, streaming, and drawing through the
// platform's painter into the bitmap's own memory.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <memory>
#include <sstream>

#include "raster/Bitmap32.h"
#include "support/AllocationMeter.h"
#include "support/QtApplication.h"

namespace kdl {
namespace {

using test::EnsureApplication;

TEST(Bitmap32, SizeUpdatesAndEvents) {
  TBitmap32 b;
  int changes = 0, resizes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  b.OnResize = [&](TThreadPersistent*) { ++resizes; };
  EXPECT_TRUE(b.SetSize(-3, 5));
  EXPECT_EQ(b.Width(), 0);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.DC(), nullptr);
  const int before = changes;
  b.Clear(0xFFFFFFFFu);
  EXPECT_EQ(changes, before) << "clearing an empty bitmap does nothing";
  EXPECT_FALSE(b.SetSize(0, 5));
  EXPECT_EQ(resizes, 1);

  EXPECT_TRUE(b.SetSize(4, 3));
  for (int i = 0; i < 12; ++i) EXPECT_EQ(b.Bits()[i], 0u) << "new pixels are zero";
  // Updates hold the change event back; EndUpdate does not fire it.
  b.BeginUpdate();
  const int c = changes;
  b.Clear(1);
  b.EndUpdate();
  EXPECT_EQ(changes, c);
  EXPECT_THROW(b.EndUpdate(), EAssertionFailed);

  // Sizes beyond what we allocate fail cleanly and leave the bitmap empty.
  EXPECT_THROW(b.SetSize(70000, 70000), Exception);
  EXPECT_TRUE(b.Empty());
}

TEST(Bitmap32, ClippedAndSubPixelAccess) {
  TBitmap32 b;
  b.SetSize(4, 4);
  b.SetOuterColor(0x12345678u);
  b.Clear(0xFF000000u);
  EXPECT_EQ(b.GetPixelS(-1, 0), 0x12345678u);
  EXPECT_EQ(b.GetPixelS(4, 0), 0x12345678u);
  b.SetPixelS(4, 0, 0);  // outside: ignored (ASan watches the memory)
  b.SetPixelS(0, -1, 0);
  // The interpolated read stays strictly inside, column 0 included.
  EXPECT_EQ(b.GetPixelTS256(0, 256), 0x12345678u);
  EXPECT_EQ(b.GetPixelTS256(256, 256 + 128), b.GetPixelT256(256, 256 + 128));

  // An opaque plot right on a pixel centre goes (almost: the weight is
  // 255 x 255 x 255 shr 16 = 253, combined term by term) all to that pixel.
  b.SetPixelTS256(2 << 8, 1 << 8, 0xFFFFFFFFu);
  EXPECT_EQ(b.GetPixel(2, 1), 0xFEFCFCFCu);
  EXPECT_EQ(b.GetPixel(3, 1), 0xFF000000u);
  EXPECT_EQ(b.GetPixel(2, 2), 0xFF000000u);
  // On the border only the inside corners are touched: half a pixel up and
  // left of (0, 0) puts a quarter on it.
  b.SetPixelTS256(-128, -128, 0xFFFFFFFFu);
  b.SetPixelTS256(3 * 256 + 128, 3 * 256 + 128, 0xFFFFFFFFu);
  EXPECT_NE(b.GetPixel(0, 0), 0xFF000000u);
  EXPECT_NE(b.GetPixel(3, 3), 0xFF000000u);

  // Transparent plots go through the blend of the combine mode.
  b.SetPixelT(0, 2, 0x00FFFFFFu);
  EXPECT_EQ(b.GetPixel(0, 2), 0xFF000000u);
  b.SetPixelT(0, 2, 0xFFFFFFFFu);
  EXPECT_EQ(b.GetPixel(0, 2), 0xFFFFFFFFu);
  b.ResetAlpha(7);
  EXPECT_EQ(b.GetPixel(0, 2), 0x07FFFFFFu);
}

TEST(Bitmap32, GammaTableIsThePowerCurve) {
  for (float gamma : {1.0f, 0.7f}) {  // 0.7 last: the start-up value
    SetGamma(gamma);
    for (int i = 0; i < 256; ++i)
      EXPECT_EQ(GAMMA_TABLE[i], std::nearbyint(std::pow(i / 255.0, gamma) * 255.0)) << i;
  }
}

TEST(Bitmap32, DataStream) {
  TBitmap32 a;
  a.SetSize(2, 1);
  a.SetPixel(0, 0, 0x44332211u);
  a.SetPixel(1, 0, 0x88776655u);
  std::ostringstream out;
  a.WriteData(out);
  const std::string bytes = out.str();
  EXPECT_EQ(bytes, std::string("\x02\0\0\0\x01\0\0\0\x11\x22\x33\x44\x55\x66\x77\x88", 16));
  EXPECT_TRUE(a.DataIsStored(nullptr));

  TBitmap32 b;
  EXPECT_FALSE(b.DataIsStored(nullptr));
  int changes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  std::istringstream in(bytes);
  b.ReadData(in);
  EXPECT_TRUE(b.Equal(a));
  EXPECT_FALSE(b.DataIsStored(&a));
  EXPECT_GE(changes, 1);

  // Short streams and absurd sizes raise, after which a change is still
  // reported; nothing is allocated for bytes that are not there.
  for (const std::string& bad :
       {bytes.substr(0, 12), bytes.substr(0, 5),
        std::string("\xFF\xFF\xFF\x7F\xFF\xFF\xFF\x7F", 8),
        std::string("\x00\x40\x00\x00\x00\x40\x00\x00", 8) + std::string(64, 'x')}) {
    changes = 0;
    std::istringstream s(bad);
    EXPECT_THROW(b.ReadData(s), EBitmapReadError);
    EXPECT_EQ(changes, 1);
  }
  // A stream that cannot seek takes the collecting path.
  struct TPipeBuf : std::streambuf {
    explicit TPipeBuf(const std::string& s) : data(s) {
      setg(data.data(), data.data(), data.data() + data.size());
    }
    std::string data;
  };
  TPipeBuf pipe(bytes);
  std::istream piped(&pipe);
  TBitmap32 c;
  c.ReadData(piped);
  EXPECT_TRUE(c.Equal(a));
  TPipeBuf shortPipe(bytes.substr(0, 13));
  std::istream shortPiped(&shortPipe);
  EXPECT_THROW(c.ReadData(shortPiped), EBitmapReadError);

  // A header promising 16384 x 16384 over 64 bytes: refused before the
  // gigabyte is allocated, on either path.
  if (test::AllocationMeter::Available()) {
    const std::string lying = std::string("\x00\x40\x00\x00\x00\x40\x00\x00", 8) + std::string(64, 'x');
    test::AllocationMeter meter;
    std::istringstream seekable(lying);
    EXPECT_THROW(c.ReadData(seekable), EBitmapReadError);
    TPipeBuf lyingPipe(lying);
    std::istream lyingPiped(&lyingPipe);
    EXPECT_THROW(c.ReadData(lyingPiped), EBitmapReadError);
    EXPECT_LT(meter.Largest(), std::int64_t{16} << 20);
  }

  std::istringstream zero(std::string("\0\0\0\0\x05\0\0\0", 8));
  b.ReadData(zero);
  EXPECT_TRUE(b.Empty());
}

// Drawing through the canvas changes the bitmap's own pixels: the device
// is a view of Bits, not a copy.
TEST(Bitmap32, CanvasDrawsIntoTheBitmapsMemory) {
  EnsureApplication();
  TBitmap32 b;
  b.SetSize(20, 10);
  b.Clear(0xFF000000u);
  ASSERT_NE(b.DC(), nullptr);
  EXPECT_EQ(b.DC()->constBits(), reinterpret_cast<const uchar*>(b.Bits()));
  int changes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  b.Canvas().Paint([](QPainter& p) { p.fillRect(QRect(2, 3, 4, 5), QColor(10, 20, 30)); });
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.GetPixel(2, 3), 0xFF0A141Eu);
  EXPECT_EQ(b.GetPixel(5, 7), 0xFF0A141Eu);
  EXPECT_EQ(b.GetPixel(6, 7), 0xFF000000u);
  EXPECT_EQ(b.DC()->constBits(), reinterpret_cast<const uchar*>(b.Bits())) << "never detached";

  // A resize rebinds the canvas to the new memory.
  b.SetSize(8, 8);
  b.Clear(0xFF000000u);
  b.Canvas().Paint([](QPainter& p) { p.fillRect(QRect(0, 0, 1, 1), Qt::white); });
  EXPECT_EQ(b.GetPixel(0, 0), 0xFFFFFFFFu);

  // DrawToDC copies the pixels 1:1.
  QImage target(10, 10, QImage::Format_ARGB32);
  target.fill(0);
  {
    QPainter p(&target);
    b.DrawToDC(p, 1, 2);
  }
  EXPECT_EQ(target.pixel(1, 2), 0xFFFFFFFFu);
  EXPECT_EQ(target.pixel(2, 2), 0xFF000000u);
  EXPECT_EQ(target.pixel(0, 0), 0u);
}

TEST(Bitmap32, TextMeasuresWhatItDraws) {
  EnsureApplication();
  TBitmap32 b;
  b.SetSize(200, 40);
  b.Clear(0xFF000000u);
  b.Font().SetHeight(-20);
  b.Font().SetColor(0xFFFFFF);
  const std::u16string text = u"Hello";
  const TSize size = b.TextExtentW(text);
  EXPECT_GT(size.cx, 20);
  EXPECT_GE(size.cy, 20);
  EXPECT_EQ(b.TextExtentW(u""), (TSize{0, 0}));
  int changes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  b.TextoutW({5, 5, 195, 35}, DT_NOPREFIX, text);
  EXPECT_EQ(changes, 1);
  // The ink lies within the measured box.
  int minX = 1000, maxX = -1;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x)
      if ((b.GetPixel(x, y) & 0xFF) > 64) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
      }
  ASSERT_GE(maxX, 0) << "text drawn into the bitmap's pixels";
  EXPECT_GE(minX, 5);
  EXPECT_LE(maxX, 5 + size.cx);
  EXPECT_GT(maxX - minX, size.cx / 2);
}

}  // namespace
}  // namespace kdl
