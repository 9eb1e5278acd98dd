// TdtpPage::PrintPage and its band splitting.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "document/view/Page.h"
#include "document/view/PagePrinting.h"
#include "platform/Exception.h"
#include "platform/PrintSurface.h"
#include "raster/Bitmap32.h"
#include "raster/UninitializedSize.h"
#include "raster/Utilities.h"

namespace kdl {
namespace {

// A rounded pixel extent; one that does not fit 32 bits is refused rather
// than wrapped into a small or negative size.
std::int32_t RoundExtent(double value) {
  const double r = std::nearbyint(value);
  if (!(r >= 0) || r > std::numeric_limits<std::int32_t>::max())
    throw Exception("The page is too large to print at this resolution");
  return static_cast<std::int32_t>(r);
}

std::int64_t Area(const TRect& r) {
  return static_cast<std::int64_t>(r.Width()) * static_cast<std::int64_t>(r.Height());
}

// One page's job: the fixed values every band shares.
class TBandPrinter {
 public:
  TBandPrinter(TdtpPage& page, TPrintSurface& surface, const TRect& pageRect, const TRect& d,
               const TRect& s, float dpm, int rotation, bool mirrorRows, bool flipRows,
               const TdtpPaintInfo& info, TColor32 paper, bool optimized)
      : page_(page), surface_(surface), p_(pageRect), d_(d), dpm_(dpm), rotation_(rotation),
        mirrorRows_(mirrorRows), flipRows_(flipRows), info_(info), paper_(paper),
        optimized_(optimized),
        onDeviceGrid_(d.Width() != s.Width() || d.Height() != s.Height()) {}

  void PrintBands(TRect d, TRect s, double lo, double hi);

 private:
  void RenderBand(TRect d, const TRect& s);

  TdtpPage& page_;
  TPrintSurface& surface_;
  const TRect p_;
  // The whole destination.
  const TRect d_;
  const float dpm_;
  const int rotation_;
  const bool mirrorRows_;
  const bool flipRows_;
  const TdtpPaintInfo info_;
  const TColor32 paper_;
  const bool optimized_;
  // Where the destination's size differs from the render size, each band
  // is drawn straight on the device's pixel grid, mapped from the whole
  // destination. Resampling every band on its own would shift it by up to
  // half a pixel against its neighbours: a seam along every border.
  const bool onDeviceGrid_;
  // One band's memory for all bands: their sizes repeat, and the paper
  // fill writes every pixel.
  TBitmap32 band_;
};

void TBandPrinter::PrintBands(TRect d, TRect s, double lo, double hi) {
  // 1. Small enough: one band, then the job's progress. A band drawn on the
  // device grid has D's pixels, which bound it too.
  if (Area(s) < kBandPixelLimit && (!onDeviceGrid_ || Area(d) < kBandPixelLimit)) {
    RenderBand(d, s);
    TdtpDocumentServices* doc = page_.Document();
    const int count = doc->ProgressCount();
    if (count > 0) {
      const int n = doc->ProgressPage();
      doc->DoProgress(ptPrint, n, count, static_cast<float>((n - 1 + hi) / count));
    }
    return;
  }

  // 2. Halve D and S along S's longer side; odd extents give the extra
  // pixel to the second half.
  TRect d2 = d, s2 = s;
  if (s.Width() > s.Height()) {
    d.Right = d2.Left = d.Left + d.Width() / 2;
    s.Right = s2.Left = s.Left + s.Width() / 2;
  } else {
    d.Bottom = d2.Top = d.Top + d.Height() / 2;
    s.Bottom = s2.Top = s.Top + s.Height() / 2;
  }
  const double mid = (lo + hi) / 2;
  PrintBands(d, s, lo, mid);
  PrintBands(d2, s2, mid, hi);
}

void TBandPrinter::RenderBand(TRect d, const TRect& s) {
  if (s.Width() <= 0 || s.Height() <= 0 || d.Width() <= 0 || d.Height() <= 0) return;

  // 1. The band's area in the page's own millimetres: S / Dpm, or on the
  // device grid the part of the page that D covers of the whole.
  TBitmap32& band = band_;
  TFloatRect area;
  TdtpPaintInfo info = info_;
  if (onDeviceGrid_) {
    const double sx = d_.Width() / static_cast<double>(page_.PageWidth());
    const double sy = d_.Height() / static_cast<double>(page_.PageHeight());
    SetSizeUninitialized(band, d.Width(), d.Height());
    area = {static_cast<float>((d.Left - d_.Left) / sx), static_cast<float>((d.Top - d_.Top) / sy),
            static_cast<float>((d.Right - d_.Left) / sx), static_cast<float>((d.Bottom - d_.Top) / sy)};
    info.Scale = static_cast<float>(sx);
  } else {
    SetSizeUninitialized(band, s.Width(), s.Height());
    area = {static_cast<float>(s.Left / static_cast<double>(dpm_)),
            static_cast<float>(s.Top / static_cast<double>(dpm_)),
            static_cast<float>(s.Right / static_cast<double>(dpm_)),
            static_cast<float>(s.Bottom / static_cast<double>(dpm_))};
  }
  band.ResetClipRect();
  band.Clear(paper_);
  page_.Paint(band, area, true, info);

  // 2. Nothing but paper need not go to the device.
  if (optimized_ && IsUniformColor(&band, paper_)) return;

  // 3. Turn.
  if (rotation_ == 1) RotateLeft90(&band);
  else if (rotation_ == 2) Rotate180(&band);
  else if (rotation_ == 3) RotateRight90(&band);

  // 4. Mirror; the surface takes rows top-down, so only FlipRows reverses
  // their order.
  bool mirror = mirrorRows_, flip = flipRows_;
  if (mirror) MirrorHorizontal(&band);
  if (flip) MirrorVertical(&band);

  // 5. A quarter turn exchanges the page's axes.
  if (rotation_ == 1 || rotation_ == 3) std::swap(mirror, flip);

  // 6. Mirror the band's place within the page rectangle.
  if (mirror) d = {p_.Left + p_.Right - d.Right, d.Top, p_.Left + p_.Right - d.Left, d.Bottom};
  if (flip) d = {d.Left, p_.Top + p_.Bottom - d.Bottom, d.Right, p_.Top + p_.Bottom - d.Top};

  // 7. The device position.
  const std::int32_t w = d.Width(), h = d.Height();
  TPoint origin;
  std::int32_t width = 0, height = 0;
  switch (rotation_) {
    case 0:
      origin = {d.Left, d.Top};
      width = w, height = h;
      break;
    case 1:
      origin = {p_.Left + d.Top - p_.Top, p_.Top + p_.Right - d.Left - w};
      width = h, height = w;
      break;
    case 2:
      origin = {p_.Left + p_.Right - d.Left - w, p_.Top + p_.Bottom - d.Top - h};
      width = w, height = h;
      break;
    case 3:
      origin = {p_.Left + p_.Bottom - d.Top - h, p_.Top + d.Left - p_.Left};
      width = h, height = w;
      break;
    default:
      return;
  }

  // 8. Out 1:1: the band already has the destination's size, so the
  // device's own scaler never touches it.
  if (width != band.Width() || height != band.Height()) return;
  surface_.DrawBand(origin.X, origin.Y, {band.Bits(), band.Width(), band.Height()});
}

}  // namespace

void TdtpPage::PrintPage(TPrintSurface& surface, const TRect& rect, float dpm, int rotation,
                         bool mirrorRows, bool flipRows) {
  // 1. Nothing without a document.
  EnsureLoaded();
  TdtpDocumentServices* doc = Document();
  if (doc == nullptr) return;
  doc->BeginPrinting();
  struct TEndPrinting {
    TdtpDocumentServices* doc;
    ~TEndPrinting() { doc->EndPrinting(); }
  } endPrinting{doc};
  SetDocAngle(0);
  // A page without area has no pixels to print.
  if (!HasArea()) return;

  // 2. A quarter turn exchanges the target's width and height.
  TRect p = rect;
  if (rotation == 1 || rotation == 3) {
    p.Right = p.Left + rect.Height();
    p.Bottom = p.Top + rect.Width();
  }
  if (p.Width() <= 0 || p.Height() <= 0) return;

  // 3. Fit factor; Dpm 0 renders at the destination's size.
  const double pageWidth = PageWidth(), pageHeight = PageHeight();
  const double f = std::min(p.Height() / pageHeight, p.Width() / pageWidth);
  if (dpm == 0) dpm = static_cast<float>(f);
  if (!(dpm > 0) || !std::isfinite(dpm)) return;

  // 4. Destination, centred in the target.
  const std::int32_t dw = RoundExtent(f * pageWidth), dh = RoundExtent(f * pageHeight);
  TRect d;
  d.Left = p.Left + (p.Width() - dw) / 2;
  d.Top = p.Top + (p.Height() - dh) / 2;
  d.Right = d.Left + dw;
  d.Bottom = d.Top + dh;

  // 5. Source: the page in render pixels.
  const TRect s{0, 0, RoundExtent(static_cast<double>(dpm) * pageWidth),
                RoundExtent(static_cast<double>(dpm) * pageHeight)};
  if (Area(d) == 0 || Area(s) == 0) return;

  // 6. Paint information.
  TdtpPaintInfo info;
  info.Device = dtPrinter;
  const TColor32 paper = Color32(PageColor());
  info.BackColor = paper & 0x00FFFFFFu;
  info.Scale = dpm;
  info.RenderScale = dpm;
  info.StretchFilter = doc->Quality();
  info.FreeCache = false;
  info.ExactScale = false;

  // 7. The bands.
  TBandPrinter(*this, surface, p, d, s, dpm, rotation, mirrorRows, flipRows, info, paper,
               doc->OptimizedPrinting())
      .PrintBands(d, s, 0, 1);

  // 8. Caches go unless the document keeps them for speed.
  if (doc->Performance() == 0) ClearCaches();
}

void TdtpPage::PrintPage150(TPrintSurface& surface, const TRect& rect, int rotation,
                            bool mirrorRows, bool flipRows) {
  PrintPage(surface, rect, kPrint150Dpm, rotation, mirrorRows, flipRows);
}

}  // namespace kdl
