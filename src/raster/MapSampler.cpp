#include "raster/MapSampler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "raster/Blend.h"
#include "raster/Transforms.h"

namespace kdl {

namespace {

// 24.8 positions beyond this are far outside any source we can address;
// keeping bases and deltas below it leaves every stepped position inside
// 32 bits.
constexpr double kPositionLimit = 536870912.0;  // 2^29

bool Addressable(double v) { return std::fabs(v) <= kPositionLimit; }

std::int32_t Near(double v) { return static_cast<std::int32_t>(std::nearbyint(v)); }

// The bounding box of the pixels of region whose alpha is not zero; empty
// when there is none. Eight pixels are tested at once: their alphas are
// zero exactly when the alpha of their bitwise or is.
TRect InkBounds(const TBitmap32& bitmap, const TRect& region) {
  TRect ink{region.Right, region.Bottom, region.Left, region.Top};
  for (std::int32_t y = region.Top; y < region.Bottom; ++y) {
    const TColor32* row = bitmap.ScanLine(y);
    std::int32_t l = region.Left;
    for (; l + 8 <= region.Right; l += 8) {
      const TColor32 any = row[l] | row[l + 1] | row[l + 2] | row[l + 3] | row[l + 4] | row[l + 5] |
                           row[l + 6] | row[l + 7];
      if (any >> 24) break;
    }
    while (l < region.Right && (row[l] >> 24) == 0) ++l;
    if (l == region.Right) continue;
    std::int32_t r = region.Right;
    while ((row[r - 1] >> 24) == 0) --r;
    ink = {std::min(ink.Left, l), std::min(ink.Top, y), std::max(ink.Right, r), y + 1};
  }
  return ink.Right > ink.Left ? ink : TRect{};
}

// The x extent of a convex quadrilateral within the strip y0 <= y <= y1;
// false when they do not meet.
bool StripExtent(const TFloatPoint (&q)[4], double y0, double y1, double& lo, double& hi) {
  lo = std::numeric_limits<double>::infinity();
  hi = -lo;
  for (int k = 0; k < 4; ++k) {
    const TFloatPoint& a = q[k];
    const TFloatPoint& b = q[(k + 1) % 4];
    const double dx = static_cast<double>(b.X) - a.X, dy = static_cast<double>(b.Y) - a.Y;
    double t0 = 0, t1 = 1;
    if (dy == 0) {
      if (a.Y < y0 || a.Y > y1) continue;
    } else {
      double u0 = (y0 - a.Y) / dy, u1 = (y1 - a.Y) / dy;
      if (u0 > u1) std::swap(u0, u1);
      t0 = std::max(t0, u0);
      t1 = std::min(t1, u1);
      if (t0 > t1) continue;
    }
    lo = std::min({lo, a.X + t0 * dx, a.X + t1 * dx});
    hi = std::max({hi, a.X + t0 * dx, a.X + t1 * dx});
  }
  return lo <= hi;
}

// Entries from .. to − 1 (to <= n + 1) of what DistributeSteps(delta, n)
// writes, for n >= 1: a span drawn only in part needs only its part's
// steps. Step k is q·k + floor(k·r / n) of the magnitude, mirrored for a
// negative delta, which makes step n the delta itself.
void DistributeStepsPart(std::int32_t delta, std::int32_t n, std::int32_t from, std::int32_t to,
                         std::int32_t* steps) {
  if (delta == 0) {
    std::fill(steps + from, steps + to, 0);
    return;
  }
  const std::int64_t sign = delta < 0 ? -1 : 1;
  const std::int64_t magnitude = sign * std::int64_t{delta};
  const std::int64_t q = magnitude / n, r = magnitude % n;
  std::int64_t total = q * from + (r * from) / n, acc = (r * from) % n;
  for (std::int32_t k = from; k < to; ++k) {
    steps[k] = static_cast<std::int32_t>(sign * total);
    acc += r;
    const std::int64_t carry = acc >= n ? 1 : 0;
    total += q + carry;
    acc -= carry * n;
  }
}

}  // namespace

void DistributeSteps(std::int32_t delta, std::int32_t n, std::int32_t* steps) {
  if (n <= 0) {
    steps[0] = delta;
    return;
  }
  // An upright span has no vertical steps, and an even spread no remainder.
  if (delta == 0) {
    std::fill_n(steps, n, 0);
  } else if (delta % n == 0) {
    const std::int32_t q = delta / n;
    for (std::int32_t k = 0; k < n; ++k) steps[k] = q * k;
  } else {
    // Walk the magnitude and mirror the result, so that a negative delta
    // spreads its remainder as evenly as a positive one.
    const std::int64_t sign = delta < 0 ? -1 : 1;
    const std::int64_t magnitude = sign * std::int64_t{delta};
    const std::int64_t q = magnitude / n, r = magnitude % n;
    // Step k is q·k + floor(k·r / n). Four interleaved walks, each four
    // steps at a time, keep the carries of one from waiting on another.
    constexpr std::int32_t kWalks = 4;
    const std::int64_t q4 = kWalks * q + (kWalks * r) / n, r4 = (kWalks * r) % n;
    std::int64_t total[kWalks], acc[kWalks];
    for (std::int32_t c = 0; c < kWalks; ++c) {
      total[c] = q * c + (r * c) / n;
      acc[c] = (r * c) % n;
    }
    std::int32_t k = 0;
    for (; k + kWalks <= n; k += kWalks)
      for (std::int32_t c = 0; c < kWalks; ++c) {
        steps[k + c] = static_cast<std::int32_t>(sign * total[c]);
        acc[c] += r4;
        const std::int64_t carry = acc[c] >= n ? 1 : 0;
        total[c] += q4 + carry;
        acc[c] -= carry * n;
      }
    for (std::int32_t c = 0; k < n; ++k, ++c) steps[k] = static_cast<std::int32_t>(sign * total[c]);
  }
  steps[n] = delta;
}

// ---- TdtpSampler ----------------------------------------------------------

void TdtpSampler::SetTransform(TdtpTransform* t) {
  std::unique_ptr<TdtpTransform> inverse;
  if (t) {
    inverse = t->Create();
    inverse->Assign(*t);
    inverse->Invert();
  }
  transform_ = t;
  inverse_ = std::move(inverse);
}

// ---- TdtpMapSampler -------------------------------------------------------

TdtpMapSampler::TdtpMapSampler() {
  bytesPerPixel_ = 4;
  SetOversampling(2);
}

void TdtpMapSampler::SetOversampling(std::int32_t n) {
  if (static_cast<std::int64_t>(n) * n == sampleCount_) return;
  if (n < 1 || n > 6) throw Exception("Illegal oversampling value");
  sampleCount_ = n * n;
  if (n == 1) {
    spanRoutine_ = &TdtpMapSampler::SampleSpan;
    return;
  }
  spanRoutine_ = &TdtpMapSampler::SampleSpanOversampled;
  sampleOffsets_.assign(static_cast<std::size_t>(sampleCount_), {});
  for (std::int32_t j = 0; j < n; ++j)
    for (std::int32_t i = 0; i < n; ++i)
      sampleOffsets_[static_cast<std::size_t>(i + n * j)] = {
          static_cast<float>((j + 0.5) / n - 0.5), static_cast<float>((i + 0.5) / n - 0.5)};
}

const TColor32* TdtpMapSampler::GetSpan(std::int32_t x, std::int32_t y, std::int32_t count) {
  const std::size_t need = static_cast<std::size_t>(std::max(count, 0)) * static_cast<std::size_t>(bytesPerPixel_);
  if (spanBuffer_.size() < need) spanBuffer_.resize(need);
  if (count > 0) (this->*spanRoutine_)(x, y, count, 0, count);
  return spanBuffer_.data();
}

TColor32 SampleBilinear256(const TBitmap32& source, std::int32_t x, std::int32_t y) {
  // The bitmap's own sub-pixel read weighs by the gamma table and rounds
  // twice: it darkens even areas and moves edges.
  if (x > 0 && y > 0 && static_cast<std::int64_t>(x) < (static_cast<std::int64_t>(source.Width()) - 1) * 256 &&
      static_cast<std::int64_t>(y) < (static_cast<std::int64_t>(source.Height()) - 1) * 256) {
    const TColor32* p = source.PixelPtr(x >> 8, y >> 8);
    const std::uint32_t wx = 256 - (static_cast<std::uint32_t>(x) & 0xFF);
    const std::uint32_t wy = 256 - (static_cast<std::uint32_t>(y) & 0xFF);
    return LinearInterpolator(wx << 16, wy << 16, p, p + source.Width());
  }
  return source.OuterColor();
}

TColor32 TdtpMapSampler::Read(double sx, double sy) const {
  // A position that is not a number, or too far out for 24.8, lies outside
  // the source.
  if (!Addressable(sx) || !Addressable(sy)) return source_->OuterColor();
  return SampleBilinear256(*source_, Near(sx), Near(sy));
}

bool TdtpMapSampler::BuildSteps(std::int32_t x, std::int32_t y, std::int32_t count, std::int32_t from,
                                std::int32_t to, TFloatPoint& p0) {
  const TdtpTransform& inverse = *InverseTransform();
  p0 = inverse.Transform({static_cast<float>(x + 0.5), static_cast<float>(y + 0.5)});
  const TFloatPoint p1 = inverse.Transform(
      {static_cast<float>(x + 0.5 + (count - 1)), static_cast<float>(y + 0.5)});
  if (!Addressable(p0.X * 256.0) || !Addressable(p0.Y * 256.0) || !Addressable(p1.X * 256.0) ||
      !Addressable(p1.Y * 256.0))
    return false;
  const auto n = static_cast<std::size_t>(count);
  if (xSteps_.size() < n + 1) xSteps_.resize(n + 1);
  if (ySteps_.size() < n + 1) ySteps_.resize(n + 1);
  DistributeStepsPart(Near((static_cast<double>(p1.X) - p0.X) * 256.0), count - 1, from, to, xSteps_.data());
  DistributeStepsPart(Near((static_cast<double>(p1.Y) - p0.Y) * 256.0), count - 1, from, to, ySteps_.data());
  return true;
}

void TdtpMapSampler::SampleSpan(std::int32_t x, std::int32_t y, std::int32_t count, std::int32_t from,
                                std::int32_t to) {
  const TdtpTransform& inverse = *InverseTransform();
  TColor32* out = spanBuffer_.data();
  // An affine span is walked linearly in 24.8: two inverse mappings per row,
  // integer steps in between.
  TFloatPoint p0;
  if (inverse.IsAffine() && count > 1 && BuildSteps(x, y, count, from, to, p0)) {
    BilinearRun(source_->Bits(), source_->Width(), source_->Height(), source_->OuterColor(),
                Near(p0.X * 256.0), Near(p0.Y * 256.0), xSteps_.data() + from, ySteps_.data() + from, to - from,
                out + from);
    return;
  }
  for (std::int32_t i = from; i < to; ++i) {
    const TFloatPoint p =
        inverse.Transform({static_cast<float>(x + 0.5 + i), static_cast<float>(y + 0.5)});
    out[i] = Read(p.X * 256.0, p.Y * 256.0);
  }
  EMMS();
}

void TdtpMapSampler::SampleSpanOversampled(std::int32_t x, std::int32_t y, std::int32_t count,
                                           std::int32_t from, std::int32_t to) {
  const TdtpTransform& inverse = *InverseTransform();
  const auto s = static_cast<std::size_t>(sampleCount_);
  const auto n = static_cast<std::size_t>(count);
  if (sampleBuffer_.size() < n * s) sampleBuffer_.resize(n * s);
  TColor32* samples = sampleBuffer_.data();
  const auto first = static_cast<std::size_t>(from), last = static_cast<std::size_t>(to);

  // Sub-sample k of pixel i lives at k·count + i: one run per sub-sample.
  TFloatPoint p0;
  if (inverse.IsAffine() && count > 1 && BuildSteps(x, y, count, from, to, p0)) {
    for (std::size_t k = 0; k < s; ++k) {
      TColor32* plane = samples + k * n;
      const TFloatPoint p = inverse.Transform({static_cast<float>(x + 0.5 + sampleOffsets_[k].X),
                                               static_cast<float>(y + 0.5 + sampleOffsets_[k].Y)});
      if (!Addressable(p.X * 256.0) || !Addressable(p.Y * 256.0)) {
        std::fill(plane + first, plane + last, source_->OuterColor());
        continue;
      }
      BilinearRun(source_->Bits(), source_->Width(), source_->Height(), source_->OuterColor(),
                  Near(p.X * 256.0), Near(p.Y * 256.0), xSteps_.data() + from, ySteps_.data() + from, to - from,
                  plane + from);
    }
  } else {
    for (std::size_t k = 0; k < s; ++k)
      for (std::size_t i = first; i < last; ++i) {
        const TFloatPoint p = inverse.Transform({static_cast<float>(x + 0.5 + sampleOffsets_[k].X + static_cast<double>(i)),
                                                 static_cast<float>(y + 0.5 + sampleOffsets_[k].Y)});
        samples[k * n + i] = Read(p.X * 256.0, p.Y * 256.0);
        EMMS();
      }
  }

  // Each output byte is the truncated mean of its sub-samples.
  TColor32* out = spanBuffer_.data();
  if (s == 4) {
    // The common 2 x 2 grid: two channels summed per 32-bit word (at most
    // 4 x 255 each, so no channel spills) and divided by a shift.
    const TColor32 *a = samples, *b = samples + n, *c = samples + 2 * n, *d = samples + 3 * n;
    for (std::size_t i = first; i < last; ++i) {
      const std::uint32_t lo = (a[i] & 0x00FF00FFu) + (b[i] & 0x00FF00FFu) + (c[i] & 0x00FF00FFu) +
                               (d[i] & 0x00FF00FFu);
      const std::uint32_t hi = ((a[i] >> 8) & 0x00FF00FFu) + ((b[i] >> 8) & 0x00FF00FFu) +
                               ((c[i] >> 8) & 0x00FF00FFu) + ((d[i] >> 8) & 0x00FF00FFu);
      out[i] = ((lo >> 2) & 0x00FF00FFu) | (((hi >> 2) & 0x00FF00FFu) << 8);
    }
    return;
  }
  for (std::size_t i = first; i < last; ++i) {
    std::uint32_t sum[4] = {0, 0, 0, 0};
    for (std::size_t k = 0; k < s; ++k)
      for (int c = 0; c < 4; ++c) sum[c] += (samples[k * n + i] >> (8 * c)) & 0xFF;
    TColor32 v = 0;
    for (int c = 0; c < 4; ++c) v |= (sum[c] / static_cast<std::uint32_t>(s)) << (8 * c);
    out[i] = v;
  }
}

void TdtpMapSampler::Render(const TFloatRect& srcRect) {
  TBitmap32* target = Target();
  if (!target || !source_ || !Transform() || !InverseTransform() || target->Empty()) return;

  // 1. Bounding box of the mapped corners.
  TFloatPoint corners[4] = {{srcRect.Left, srcRect.Top},
                            {srcRect.Right, srcRect.Top},
                            {srcRect.Right, srcRect.Bottom},
                            {srcRect.Left, srcRect.Bottom}};
  Transform()->TransformPoints(corners, 4);
  double minX = corners[0].X, maxX = corners[0].X, minY = corners[0].Y, maxY = corners[0].Y;
  for (const TFloatPoint& c : corners) {
    minX = std::min(minX, static_cast<double>(c.X));
    maxX = std::max(maxX, static_cast<double>(c.X));
    minY = std::min(minY, static_cast<double>(c.Y));
    maxY = std::max(maxY, static_cast<double>(c.Y));
  }
  // Non-finite bounds have no pixels to give.
  if (!std::isfinite(minX) || !std::isfinite(maxX) || !std::isfinite(minY) || !std::isfinite(maxY))
    return;

  // 2. Clipped to the target, limited in floating point before any
  // conversion to integers.
  const double x0 = std::max(std::floor(minX), 0.0);
  const double x1 = std::min(std::ceil(maxX), static_cast<double>(target->Width() - 1));
  const double top = targetTop_;
  const double y0 = std::max(std::floor(minY), top);
  const double y1 = std::min(std::ceil(maxY), top + target->Height() - 1);
  if (y1 < y0 || x1 - x0 + 1 <= 0) return;
  const auto X0 = static_cast<std::int32_t>(x0), X1 = static_cast<std::int32_t>(x1);
  const auto Y0 = static_cast<std::int32_t>(y0), Y1 = static_cast<std::int32_t>(y1);
  const std::int32_t w = X1 - X0 + 1;

  // 3. Where the source and its outside are transparent, a sample that
  // reads only transparent pixels merges as nothing. A position p reads
  // pixels floor(p) and floor(p) + 1, so only positions within a pixel of
  // the ink (and a pixel more for the 24.8 rounding) can give colour; each
  // row is drawn where its pixels' squares meet that area mapped into the
  // target, with a pixel to spare. The steps stay those of the whole row,
  // so every pixel drawn is the one the whole row would give.
  TFloatPoint reach[4];
  bool cull = false;
  if ((source_->OuterColor() >> 24) == 0 && Transform()->IsAffine() && InverseTransform()->IsAffine()) {
    // Only the source under the box (its pixels' squares mapped back, and
    // the second tap and rounding beyond) can be read: the ink is looked
    // for there, so a band of a large cache scans its own part.
    TFloatPoint box[4] = {{static_cast<float>(x0), static_cast<float>(y0)},
                          {static_cast<float>(x1 + 1), static_cast<float>(y0)},
                          {static_cast<float>(x1 + 1), static_cast<float>(y1 + 1)},
                          {static_cast<float>(x0), static_cast<float>(y1 + 1)}};
    InverseTransform()->TransformPoints(box, 4);
    double sx0 = box[0].X, sx1 = box[0].X, sy0 = box[0].Y, sy1 = box[0].Y;
    for (const TFloatPoint& p : box) {
      sx0 = std::min(sx0, static_cast<double>(p.X));
      sx1 = std::max(sx1, static_cast<double>(p.X));
      sy0 = std::min(sy0, static_cast<double>(p.Y));
      sy1 = std::max(sy1, static_cast<double>(p.Y));
    }
    const auto clampTo = [](double v, std::int32_t n) {
      return static_cast<std::int32_t>(std::clamp(v, 0.0, static_cast<double>(n)));
    };
    TRect region{};
    if (std::isfinite(sx0) && std::isfinite(sx1) && std::isfinite(sy0) && std::isfinite(sy1))
      region = {clampTo(std::floor(sx0) - 2, source_->Width()), clampTo(std::floor(sy0) - 2, source_->Height()),
                clampTo(std::ceil(sx1) + 2, source_->Width()), clampTo(std::ceil(sy1) + 2, source_->Height())};
    else
      region = source_->BoundsRect();
    if (hasInkBounds_)
      region = {std::max(region.Left, inkBounds_.Left), std::max(region.Top, inkBounds_.Top),
                std::min(region.Right, inkBounds_.Right), std::min(region.Bottom, inkBounds_.Bottom)};
    if (region.Right <= region.Left || region.Bottom <= region.Top) return;
    const TRect ink = InkBounds(*source_, region);
    if (ink.Right <= ink.Left) return;
    const auto l = static_cast<float>(ink.Left - 2), t = static_cast<float>(ink.Top - 2);
    const auto r = static_cast<float>(ink.Right + 1), b = static_cast<float>(ink.Bottom + 1);
    reach[0] = {l, t};
    reach[1] = {r, t};
    reach[2] = {r, b};
    reach[3] = {l, b};
    Transform()->TransformPoints(reach, 4);
    cull = true;
    for (const TFloatPoint& p : reach) cull = cull && std::isfinite(p.X) && std::isfinite(p.Y);
  }

  // 4. Every row of the box merged, whole or in the part the ink reaches.
  const std::uint32_t masterAlpha = source_->MasterAlpha();
  for (std::int32_t y = Y0; y <= Y1; ++y) {
    std::int32_t from = 0, to = w;
    if (cull) {
      double lo = 0, hi = 0;
      if (!StripExtent(reach, y, y + 1.0, lo, hi)) continue;
      from = static_cast<std::int32_t>(std::clamp(std::floor(lo) - 1 - x0, 0.0, static_cast<double>(w)));
      to = static_cast<std::int32_t>(std::clamp(std::ceil(hi) + 2 - x0, 0.0, static_cast<double>(w)));
      if (from >= to) continue;
    }
    const std::size_t need = static_cast<std::size_t>(w) * static_cast<std::size_t>(bytesPerPixel_);
    if (spanBuffer_.size() < need) spanBuffer_.resize(need);
    (this->*spanRoutine_)(X0, y, w, from, to);
    const TColor32* span = spanBuffer_.data() + from;
    if (masterAlpha == 255)
      MergeLine(span, target->PixelPtr(X0 + from, y - targetTop_), to - from);
    else
      MergeLineEx(span, target->PixelPtr(X0 + from, y - targetTop_), to - from, masterAlpha);
    EMMS();
  }
}

}  // namespace kdl
