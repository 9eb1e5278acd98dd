// Poly-polygons of 16.16 points into the pixels of a bitmap: scanline fills
// with the even-odd or non-zero winding rule, at whole-pixel precision or
// anti-aliased on a grid of 16, 8 or 4 sub-samples per pixel and axis;
// polylines; fills that hand their spans to a callback; and TPolygon32, the
// contour container with its outline and grow/shrink operations.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "raster/Bitmap32.h"
#include "raster/ThreadPersistent.h"
#include "raster/Types.h"

namespace kdl {

enum TPolygonFillRule : std::uint8_t { frAlternate = 0, frNonZero = 1 };

// Sub-samples per pixel and axis: 16, 8 or 4.
enum TSubsampleMode : std::uint8_t { sm16 = 0, sm8 = 1, sm4 = 2 };

// One span of a fill: dst is the address of pixel (dstX, dstY). An
// anti-aliased fill passes length pixels with their coverage 0..255 in
// alphaValues; a whole-pixel fill passes nullptr and length = last pixel −
// first pixel.
using TFillSpanEvent = std::function<void(TColor32* dst, std::int32_t dstX, std::int32_t dstY,
                                          std::int32_t length, const std::int32_t* alphaValues)>;

// ---- Free routines ---------------------------------------------------------

void DrawPolyline(TBitmap32& bitmap, const TArrayOfFixedPoint& points, TColor32 color,
                  bool closed = false);
void DrawPolylineAA(TBitmap32& bitmap, const TArrayOfFixedPoint& points, TColor32 color,
                    bool closed = false);
void DrawPolyPolyline(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points, TColor32 color,
                      bool closed = false);
void DrawPolyPolylineAA(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                        TColor32 color, bool closed = false);

// Every fill treats its contours as closed. An odd crossing count on a
// scanline (which well-formed input never gives) raises EAssertionFailed
// before anything is painted.
void FillPolyPolygon(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points, TColor32 color,
                     TPolygonFillRule fillRule = frAlternate);
void FillPolyPolygonCallback(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                             TPolygonFillRule fillRule, const TFillSpanEvent& callback);
void FillPolyPolygonAA(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points, TColor32 color,
                       TSubsampleMode mode = sm8, TPolygonFillRule fillRule = frAlternate);
void FillPolyPolygonAACallback(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                               TPolygonFillRule fillRule, TSubsampleMode mode,
                               const TFillSpanEvent& callback);

// The anti-aliased fill of a target that is no bitmap (a byte map): spans
// within clip go to callback with dst null, and nothing is allocated per
// pixel.
void FillPolyPolygonAAClipped(const TRect& clip, const TArrayOfArrayOfFixedPoint& points,
                              TPolygonFillRule fillRule, TSubsampleMode mode,
                              const TFillSpanEvent& callback);

// The two fill cores: spans go to the callback when one is given, else they
// are painted with color.
void RasterizePolyPolygon(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                          TColor32 color, TPolygonFillRule fillRule, const TFillSpanEvent& callback);
void RasterizePolyPolygonAA(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                            TColor32 color, TSubsampleMode mode, TPolygonFillRule fillRule,
                            const TFillSpanEvent& callback);

// Sorts crossing words by their low 31 bits; raises EAssertionFailed for an
// odd count.
void SortCrossings(std::uint32_t* crossings, std::int32_t count);

// ---- TPolygon32 ------------------------------------------------------------

class TPolygon32 : public TThreadPersistent {
 public:
  // One empty contour.
  TPolygon32();

  bool UseAntialiasing() const { return useAntialiasing_; }
  void SetUseAntialiasing(bool value) { useAntialiasing_ = value; }
  // Closes every contour back to its first point for polylines, normals,
  // offsets and outlines (fills always treat contours as closed).
  bool CloseContours() const { return closeContours_; }
  void SetCloseContours(bool value) { closeContours_ = value; }
  TPolygonFillRule FillRule() const { return fillRule_; }
  void SetFillRule(TPolygonFillRule value) { fillRule_ = value; }
  TSubsampleMode SubsampleMode() const { return subsampleMode_; }
  void SetSubsampleMode(TSubsampleMode value) { subsampleMode_ = value; }

  const TArrayOfArrayOfFixedPoint& Contours() const { return contours_; }
  // One unit normal per point of each contour; empty until ComputeNormals.
  const TArrayOfArrayOfFixedPoint& EdgeNormals() const { return normals_; }

  // Leaves one empty contour.
  void Clear();
  void StartLine();
  // Points always go to the last contour.
  void AddPoint(const TFixedPoint& p);
  void AddPoints(const TFixedPoint* points, std::int64_t count);

  void CopySettingsTo(TPolygon32& dest) const;
  // Settings, contours and normals.
  void AssignTo(TPolygon32& dest) const;

  void ComputeNormals();

  void DrawEdges(TBitmap32& bitmap, TColor32 color) const;
  void Fill(TBitmap32& bitmap, TColor32 color) const;
  void FillWithCallback(TBitmap32& bitmap, const TFillSpanEvent& callback) const;

  // The contours moved outward along their normals by delta (inward when
  // negative); corners are mitred when the turn is gentle enough for
  // edgeSharpness (0..0.99), else bevelled.
  std::unique_ptr<TPolygon32> Offset(TFixed delta, float edgeSharpness);
  // Every contour forward and then backward, ready to be offset into an
  // outline ring.
  std::unique_ptr<TPolygon32> ContourPolygon();

 private:
  bool useAntialiasing_ = false;
  bool closeContours_ = true;
  TPolygonFillRule fillRule_ = frAlternate;
  TArrayOfArrayOfFixedPoint normals_;
  TArrayOfArrayOfFixedPoint contours_;
  TSubsampleMode subsampleMode_ = sm8;
};

}  // namespace kdl
