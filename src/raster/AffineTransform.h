// Affine mappings between source and target coordinates: the 2x3 matrix
// routines and the transform objects the map sampler inverts and walks.
#pragma once

#include <memory>

#include "platform/Exception.h"
#include "raster/Types.h"

namespace kdl {

// Floating-point faults of the matrix routines: inverting a singular matrix
// raises EZeroDivide, one whose inverse does not fit a double EOverflow.
KDL_DECLARE_EXCEPTION(EMathError, Exception);
KDL_DECLARE_EXCEPTION(EZeroDivide, EMathError);
KDL_DECLARE_EXCEPTION(EOverflow, EMathError);

// Maps (x, y) to (A·x + C·y + E, B·x + D·y + F).
struct TAffineMatrix {
  double A = 1;
  double B = 0;
  double C = 0;
  double D = 1;
  double E = 0;
  double F = 0;
  friend bool operator==(const TAffineMatrix&, const TAffineMatrix&) = default;
};

inline constexpr TAffineMatrix kIdentityMatrix{1, 0, 0, 1, 0, 0};

TAffineMatrix AffineMatrix(double a, double b, double c, double d, double e, double f);
// Computed in extended precision, stored in single precision.
TFloatPoint AffineTransformPoint(const TAffineMatrix& m, const TFloatPoint& p);
// The mapping m2 first, then m1.
TAffineMatrix AffineMultiply(const TAffineMatrix& m1, const TAffineMatrix& m2);
// 1 / (A·D − B·C) rounded to double; raises EZeroDivide when the matrix is
// singular and EOverflow when the reciprocal does not fit.
double AffineInverseDeterminant(const TAffineMatrix& m);
// In place; m is unchanged when it raises.
void AffineInvert(TAffineMatrix& m);

class TdtpTransform {
 public:
  TdtpTransform() = default;
  virtual ~TdtpTransform() = default;
  TdtpTransform(const TdtpTransform&) = delete;
  TdtpTransform& operator=(const TdtpTransform&) = delete;

  // The base copies nothing; every transform accepts any other.
  virtual void Assign(const TdtpTransform& source);
  // A new transform of this object's own class, in its initial state.
  virtual std::unique_ptr<TdtpTransform> Create() const = 0;
  virtual bool IsAffine() const { return false; }
  virtual void Invert() = 0;
  virtual TFloatPoint Transform(const TFloatPoint& p) const = 0;

  void TransformPoints(TFloatPoint* points, std::int64_t count) const;
};

class TdtpAffineTransform : public TdtpTransform {
 public:
  TdtpAffineTransform() = default;

  void Assign(const TdtpTransform& source) override;
  std::unique_ptr<TdtpTransform> Create() const override;
  bool IsAffine() const override { return true; }
  void Invert() override;
  TFloatPoint Transform(const TFloatPoint& p) const override;

  const TAffineMatrix& Matrix() const { return matrix_; }
  void SetMatrix(const TAffineMatrix& value) { matrix_ = value; }

  // Each applies after the mapping built so far.
  void Scale(double sx, double sy);
  void Translate(double dx, double dy);
  // Degrees about (cx, cy); with y growing downward a positive angle turns
  // clockwise on screen.
  void Rotate(double alpha, double cx = 0, double cy = 0);

 private:
  TAffineMatrix matrix_ = kIdentityMatrix;
};

}  // namespace kdl
