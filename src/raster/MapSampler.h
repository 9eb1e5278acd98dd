// Draws a source bitmap into a target through an arbitrary transform: each
// target pixel's centre is mapped back into the source, read bilinearly
// (optionally on a regular grid of sub-samples, averaged) and the row is
// merged into the target.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Exception.h"
#include "raster/AffineTransform.h"
#include "raster/Bitmap32.h"
#include "raster/Types.h"

namespace kdl {

// Spreads delta over n equal integer steps: steps[k] for k = 0..n−1 is the
// running total before step k and steps[n] = delta. The remainder is
// distributed evenly; a negative delta is the mirror of the positive one.
// steps must hold n + 1 entries; n <= 0 writes steps[0] = delta only.
void DistributeSteps(std::int32_t delta, std::int32_t n, std::int32_t* steps);

// The source read of the map sampler, at 24.8 coordinates: bilinear with
// linear weights and one rounding, so that an even area reads back exactly
// and a half-way position lies half-way; positions of 0 or less, or of the
// last row or column or beyond, give the outer colour.
TColor32 SampleBilinear256(const TBitmap32& source, std::int32_t x, std::int32_t y);

class TdtpSampler {
 public:
  TdtpSampler() = default;
  virtual ~TdtpSampler() = default;
  TdtpSampler(const TdtpSampler&) = delete;
  TdtpSampler& operator=(const TdtpSampler&) = delete;

  TBitmap32* Target() const { return target_; }
  void SetTarget(TBitmap32* bitmap) { target_ = bitmap; }
  // Stored for the caller; rendering is bounded by the target's size.
  TRect ClipRect() const { return clipRect_; }
  void SetClipRect(const TRect& rect) { clipRect_ = rect; }
  TdtpTransform* Transform() const { return transform_; }
  const TdtpTransform* InverseTransform() const { return inverse_.get(); }
  // Stores t (not owned) and builds its inverse, an object of t's class.
  // Raises EMathError for a transform without an inverse, keeping the
  // previous one.
  void SetTransform(TdtpTransform* t);

  // The colours of target pixels x .. x + count − 1 of row y; valid until
  // the next call.
  virtual const TColor32* GetSpan(std::int32_t x, std::int32_t y, std::int32_t count) = 0;
  virtual void Render(const TFloatRect& srcRect) = 0;

 private:
  TdtpTransform* transform_ = nullptr;
  std::unique_ptr<TdtpTransform> inverse_;
  TBitmap32* target_ = nullptr;
  TRect clipRect_;
};

class TdtpMapSampler : public TdtpSampler {
 public:
  TdtpMapSampler();

  TBitmap32* Source() const { return source_; }
  void SetSource(TBitmap32* bitmap) { source_ = bitmap; }
  // The target's first row is row top of the picture the transform maps
  // into: a band of a taller picture, sampled exactly as the whole.
  std::int32_t TargetTop() const { return targetTop_; }
  void SetTargetTop(std::int32_t top) { targetTop_ = top; }
  // Every pixel of the source outside bounds has alpha zero, as its maker
  // knows: only the pixels inside are looked at for ink, so a large and
  // mostly empty source is not read through. The whole source until set.
  void SetInkBounds(const TRect& bounds) {
    inkBounds_ = bounds;
    hasInkBounds_ = true;
  }
  // Samples per pixel and axis, 1..6 (2 at creation); raises Exception
  // "Illegal oversampling value" otherwise, keeping the previous setting.
  void SetOversampling(std::int32_t n);
  std::int32_t SampleCount() const { return sampleCount_; }
  const std::vector<TFloatPoint>& SampleOffsets() const { return sampleOffsets_; }

  const TColor32* GetSpan(std::int32_t x, std::int32_t y, std::int32_t count) override;
  // Merges every target pixel of the bounding box of srcRect's mapped
  // corners (clipped to the target) with the source's master alpha.
  void Render(const TFloatRect& srcRect) override;

 private:
  using TSpanRoutine = void (TdtpMapSampler::*)(std::int32_t x, std::int32_t y, std::int32_t count,
                                                std::int32_t from, std::int32_t to);

  // Pixels from .. to − 1 of the span of count pixels at (x, y); the walk's
  // steps are those of the whole span, so a part reads what the whole does.
  void SampleSpan(std::int32_t x, std::int32_t y, std::int32_t count, std::int32_t from, std::int32_t to);
  void SampleSpanOversampled(std::int32_t x, std::int32_t y, std::int32_t count, std::int32_t from,
                             std::int32_t to);
  // Fills entries from .. to − 1 of the step tables for a linear walk over
  // the centres of count pixels of row y and gives the first centre's
  // source position; false when the span is too far out for 24.8 integers
  // and must be mapped pixel by pixel.
  bool BuildSteps(std::int32_t x, std::int32_t y, std::int32_t count, std::int32_t from, std::int32_t to,
                  TFloatPoint& p0);
  TColor32 Read(double sx, double sy) const;

  TBitmap32* source_ = nullptr;
  std::int32_t targetTop_ = 0;
  TRect inkBounds_{};
  bool hasInkBounds_ = false;
  std::vector<TColor32> spanBuffer_;
  std::vector<TColor32> sampleBuffer_;
  TSpanRoutine spanRoutine_ = nullptr;
  std::int32_t bytesPerPixel_ = 4;
  std::vector<std::int32_t> xSteps_;
  std::vector<std::int32_t> ySteps_;
  std::int32_t sampleCount_ = 0;
  std::vector<TFloatPoint> sampleOffsets_;
};

}  // namespace kdl
