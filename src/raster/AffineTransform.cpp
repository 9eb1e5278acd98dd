#include "raster/AffineTransform.h"

#include <cmath>

namespace kdl {

namespace {

// π/180 in extended precision.
constexpr long double kDegToRad = 3.14159265358979323846264338327950288L / 180.0L;

}  // namespace

TAffineMatrix AffineMatrix(double a, double b, double c, double d, double e, double f) {
  return {a, b, c, d, e, f};
}

TFloatPoint AffineTransformPoint(const TAffineMatrix& m, const TFloatPoint& p) {
  const long double x = p.X, y = p.Y;
  return {static_cast<float>(static_cast<long double>(m.A) * x + static_cast<long double>(m.C) * y +
                             static_cast<long double>(m.E)),
          static_cast<float>(static_cast<long double>(m.B) * x + static_cast<long double>(m.D) * y +
                             static_cast<long double>(m.F))};
}

TAffineMatrix AffineMultiply(const TAffineMatrix& m1, const TAffineMatrix& m2) {
  TAffineMatrix r;
  r.A = m1.A * m2.A + m1.C * m2.B;
  r.B = m1.B * m2.A + m1.D * m2.B;
  r.C = m1.A * m2.C + m1.C * m2.D;
  r.D = m1.B * m2.C + m1.D * m2.D;
  r.E = m1.A * m2.E + m1.C * m2.F + m1.E;
  r.F = m1.B * m2.E + m1.D * m2.F + m1.F;
  return r;
}

double AffineInverseDeterminant(const TAffineMatrix& m) {
  const long double det = static_cast<long double>(m.A) * m.D - static_cast<long double>(m.B) * m.C;
  // A singular matrix has no inverse; letting infinities through would
  // poison every position the sampler derives from it.
  if (det == 0) throw EZeroDivide("Floating point division by zero");
  const double r = static_cast<double>(1.0L / det);
  if (!std::isfinite(r)) throw EOverflow("Floating point overflow");
  return r;
}

void AffineInvert(TAffineMatrix& m) {
  const long double r = AffineInverseDeterminant(m);
  TAffineMatrix n;
  n.A = static_cast<double>(r * m.D);
  n.B = static_cast<double>(-r * m.B);
  n.C = static_cast<double>(-r * m.C);
  n.D = static_cast<double>(r * m.A);
  n.E = static_cast<double>(-static_cast<long double>(m.E) * n.A - static_cast<long double>(m.F) * n.C);
  n.F = static_cast<double>(-static_cast<long double>(m.E) * n.B - static_cast<long double>(m.F) * n.D);
  for (double v : {n.A, n.B, n.C, n.D, n.E, n.F})
    if (!std::isfinite(v)) throw EOverflow("Floating point overflow");
  m = n;
}

// ---- TdtpTransform --------------------------------------------------------

void TdtpTransform::Assign(const TdtpTransform&) {}

void TdtpTransform::TransformPoints(TFloatPoint* points, std::int64_t count) const {
  for (std::int64_t i = 0; i < count; ++i) points[i] = Transform(points[i]);
}

// ---- TdtpAffineTransform --------------------------------------------------

void TdtpAffineTransform::Assign(const TdtpTransform& source) {
  TdtpTransform::Assign(source);
  if (const auto* affine = dynamic_cast<const TdtpAffineTransform*>(&source)) matrix_ = affine->matrix_;
}

std::unique_ptr<TdtpTransform> TdtpAffineTransform::Create() const {
  return std::make_unique<TdtpAffineTransform>();
}

void TdtpAffineTransform::Invert() { AffineInvert(matrix_); }

TFloatPoint TdtpAffineTransform::Transform(const TFloatPoint& p) const {
  return AffineTransformPoint(matrix_, p);
}

void TdtpAffineTransform::Scale(double sx, double sy) {
  matrix_ = AffineMultiply({sx, 0, 0, sy, 0, 0}, matrix_);
}

void TdtpAffineTransform::Translate(double dx, double dy) {
  matrix_ = AffineMultiply({1, 0, 0, 1, dx, dy}, matrix_);
}

void TdtpAffineTransform::Rotate(double alpha, double cx, double cy) {
  const bool aboutCentre = cx != 0 || cy != 0;
  if (aboutCentre) Translate(-cx, -cy);
  const long double t = alpha * kDegToRad;
  const double c = static_cast<double>(std::cos(t)), s = static_cast<double>(std::sin(t));
  matrix_ = AffineMultiply({c, s, -s, c, 0, 0}, matrix_);
  if (aboutCentre) Translate(cx, cy);
}

}  // namespace kdl
