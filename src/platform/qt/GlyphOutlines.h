// Scalable font faces and their glyph outlines, in place of the platform's
// TrueType outline calls: faces are found by family, weight and slant through
// fontconfig and read unhinted through FreeType. Metrics and outlines are in
// the units of an em of 1000, outline points in 16.16 with y pointing up, as
// line and quadratic-spline records rebuilt from the on/off-curve points.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kdl {

struct TNativePoint {
  std::int32_t X = 0;  // 16.16
  std::int32_t Y = 0;  // 16.16, y up
  friend bool operator==(const TNativePoint&, const TNativePoint&) = default;
};

enum TNativeCurveType : std::uint16_t { nctLine = 1, nctQSpline = 2 };

// One record: a run of line points, or a quadratic B-spline whose control
// points imply on-curve midpoints between them and whose last point is on
// the curve.
struct TNativeCurve {
  TNativeCurveType Type = nctLine;
  std::vector<TNativePoint> Points;
};

struct TNativePolygon {
  TNativePoint Start;
  std::vector<TNativeCurve> Curves;
};

struct TNativeGlyphMetrics {
  std::int32_t BlackBoxX = 0;  // ink box width
  std::int32_t BlackBoxY = 0;  // ink box height
  std::int32_t OriginX = 0;    // left of the ink box from the pen
  std::int32_t OriginY = 0;    // top of the ink box above the baseline
  std::int32_t CellIncX = 0;   // advance
  std::int32_t CellIncY = 0;
};

struct TNativeGlyph {
  TNativeGlyphMetrics Metrics;
  std::vector<TNativePolygon> Polygons;  // empty for a glyph without ink
};

class TOutlineFace {
 public:
  ~TOutlineFace();
  TOutlineFace(const TOutlineFace&) = delete;
  TOutlineFace& operator=(const TOutlineFace&) = delete;

  // The installed face closest to family, weight and slant; nullptr when
  // no scalable face can be found or loaded, with the reason in *error.
  static std::unique_ptr<TOutlineFace> Open(const std::string& family, bool bold, bool italic,
                                            std::string* error = nullptr);

  static constexpr int kEm = 1000;

  // Ascent and descent of the face at an em of 1000, from its OS/2 table
  // (winAscent/winDescent) where it has one, else from its header.
  std::int32_t Ascent() const { return ascent_; }
  std::int32_t Descent() const { return descent_; }
  const std::string& FileName() const { return fileName_; }
  const std::string& FamilyName() const { return familyName_; }

  // The outline of a UTF-16 code unit; a character the face lacks gets the
  // face's default glyph. False only when FreeType cannot load the glyph.
  bool GetGlyph(char16_t code, TNativeGlyph& glyph) const;

 private:
  TOutlineFace() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::int32_t ascent_ = 0;
  std::int32_t descent_ = 0;
  std::string fileName_;
  std::string familyName_;
};

// The family that fontconfig should look for: Windows core font names map
// to their metric-compatible free faces.
std::string SubstituteFamily(const std::string& family);

}  // namespace kdl
