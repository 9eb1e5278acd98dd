#include "platform/qt/GlyphOutlines.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>

namespace kdl {
namespace {

// FreeType's library object is not thread-safe for face creation; one lock
// guards it and every face.
std::mutex& FreeTypeMutex() {
  static std::mutex m;
  return m;
}

FT_Library FreeTypeLibrary() {
  static FT_Library library = [] {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) lib = nullptr;
    return lib;
  }();
  return library;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Accumulates records for one contour.
class ContourBuilder {
 public:
  ContourBuilder(TNativePolygon& polygon, double scale) : polygon_(polygon), scale_(scale) {}

  TNativePoint Map(double x, double y) const {
    return {static_cast<std::int32_t>(std::llround(x * scale_ * 65536.0)),
            static_cast<std::int32_t>(std::llround(y * scale_ * 65536.0))};
  }

  void Add(TNativeCurveType type, TNativePoint p) {
    if (polygon_.Curves.empty() || polygon_.Curves.back().Type != type || closed_) {
      polygon_.Curves.push_back({type, {}});
      closed_ = false;
    }
    polygon_.Curves.back().Points.push_back(p);
  }
  // An on-curve point ends a spline record; the next spline starts a new one.
  void CloseSpline() { closed_ = true; }
  bool InSpline() const {
    return !polygon_.Curves.empty() && !closed_ && polygon_.Curves.back().Type == nctQSpline;
  }

 private:
  TNativePolygon& polygon_;
  double scale_;
  bool closed_ = false;
};

// Appends a flattened cubic (font units) as line points.
void FlattenCubic(ContourBuilder& b, double x0, double y0, double x1, double y1, double x2,
                  double y2, double x3, double y3, double tolerance, int depth = 0) {
  const double d = std::abs(x0 - x1) + std::abs(y0 - y1) + std::abs(x1 - x2) +
                   std::abs(y1 - y2) + std::abs(x2 - x3) + std::abs(y2 - y3);
  const double chord = std::abs(x0 - x3) + std::abs(y0 - y3);
  if (depth >= 16 || d - chord <= tolerance) {
    b.Add(nctLine, b.Map(x3, y3));
    return;
  }
  const double ax = (x0 + x1) / 2, ay = (y0 + y1) / 2;
  const double bx = (x1 + x2) / 2, by = (y1 + y2) / 2;
  const double cx = (x2 + x3) / 2, cy = (y2 + y3) / 2;
  const double dx = (ax + bx) / 2, dy = (ay + by) / 2;
  const double ex = (bx + cx) / 2, ey = (by + cy) / 2;
  const double mx = (dx + ex) / 2, my = (dy + ey) / 2;
  FlattenCubic(b, x0, y0, ax, ay, dx, dy, mx, my, tolerance, depth + 1);
  FlattenCubic(b, mx, my, ex, ey, cx, cy, x3, y3, tolerance, depth + 1);
}

void ConvertContour(const FT_Outline& outline, int first, int last, double scale,
                    double cubicTolerance, TNativePolygon& polygon) {
  auto on = [&](int i) { return FT_CURVE_TAG(outline.tags[i]) == FT_CURVE_TAG_ON; };
  auto cubic = [&](int i) { return FT_CURVE_TAG(outline.tags[i]) == FT_CURVE_TAG_CUBIC; };
  auto px = [&](int i) { return static_cast<double>(outline.points[i].x); };
  auto py = [&](int i) { return static_cast<double>(outline.points[i].y); };
  const int n = last - first + 1;

  // The contour starts on the curve: the first on point, or the midpoint of
  // two off points when it has none there.
  int startIndex = first;
  double sx, sy;
  if (on(first)) {
    sx = px(first), sy = py(first);
    startIndex = first + 1;
  } else if (on(last)) {
    sx = px(last), sy = py(last);
    startIndex = first;
  } else {
    sx = (px(first) + px(last)) / 2, sy = (py(first) + py(last)) / 2;
    startIndex = first;
  }
  ContourBuilder b(polygon, scale);
  polygon.Start = b.Map(sx, sy);

  // Points in order after the start, wrapping; the walk ends on the start.
  std::vector<int> order;
  for (int k = 0; k < n; ++k) {
    const int i = first + (startIndex - first + k) % n;
    order.push_back(i);
  }
  if (on(first)) order.pop_back();              // the start itself comes last
  else if (on(last)) order.pop_back();          // ditto, it is the last point

  double cx = sx, cy = sy;  // current on-curve point, for cubics
  for (std::size_t k = 0; k < order.size(); ++k) {
    const int i = order[k];
    if (cubic(i)) {
      // Two cubic controls then an on point (or the start).
      const int j = (k + 1 < order.size()) ? order[k + 1] : -1;
      const double c1x = px(i), c1y = py(i);
      const double c2x = j >= 0 ? px(j) : sx, c2y = j >= 0 ? py(j) : sy;
      const bool haveEnd = k + 2 < order.size();
      const double ex = haveEnd ? px(order[k + 2]) : sx, ey = haveEnd ? py(order[k + 2]) : sy;
      b.CloseSpline();
      FlattenCubic(b, cx, cy, c1x, c1y, c2x, c2y, ex, ey, cubicTolerance);
      cx = ex, cy = ey;
      k += 2;
      continue;
    }
    if (on(i)) {
      if (b.InSpline()) {
        b.Add(nctQSpline, b.Map(px(i), py(i)));
        b.CloseSpline();
      } else {
        b.Add(nctLine, b.Map(px(i), py(i)));
      }
      cx = px(i), cy = py(i);
    } else {
      b.Add(nctQSpline, b.Map(px(i), py(i)));
    }
  }
  // A pending spline ends on the start point; a line closes implicitly.
  if (b.InSpline()) b.Add(nctQSpline, polygon.Start);
}

}  // namespace

struct TOutlineFace::Impl {
  FT_Face face = nullptr;
  double scale = 1.0;  // font units to em-1000 units
  ~Impl() {
    if (face) {
      std::lock_guard<std::mutex> lock(FreeTypeMutex());
      FT_Done_Face(face);
    }
  }
};

TOutlineFace::~TOutlineFace() = default;

std::string SubstituteFamily(const std::string& family) {
  static const struct {
    const char* from;
    const char* to;
  } kAliases[] = {{"arial", "Liberation Sans"},         {"helvetica", "Liberation Sans"},
                  {"times new roman", "Liberation Serif"}, {"times", "Liberation Serif"},
                  {"courier new", "Liberation Mono"},   {"courier", "Liberation Mono"},
                  {"tahoma", "DejaVu Sans"},            {"verdana", "DejaVu Sans"}};
  const std::string key = Lower(family);
  for (const auto& a : kAliases)
    if (key == a.from) return a.to;
  return family;
}

std::unique_ptr<TOutlineFace> TOutlineFace::Open(const std::string& family, bool bold,
                                                 bool italic, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<TOutlineFace> {
    if (error) *error = why;
    return nullptr;
  };
  if (family.empty()) return fail("empty font family");
  std::lock_guard<std::mutex> lock(FreeTypeMutex());
  if (!FcInit()) return fail("fontconfig cannot start");
  if (!FreeTypeLibrary()) return fail("FreeType cannot start");

  // Ask for the family itself first; a Windows core name that fontconfig
  // does not know falls back to its metric-compatible substitute.
  std::string file;
  int index = 0;
  std::string matchedFamily;
  for (const std::string& candidate : {family, SubstituteFamily(family)}) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(candidate.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) continue;
    FcChar8* path = nullptr;
    FcChar8* fam = nullptr;
    FcBool scalable = FcFalse;
    if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path &&
        (FcPatternGetBool(match, FC_SCALABLE, 0, &scalable) != FcResultMatch || scalable)) {
      const std::string matchedFile = reinterpret_cast<const char*>(path);
      int idx = 0;
      FcPatternGetInteger(match, FC_INDEX, 0, &idx);
      std::string famName;
      if (FcPatternGetString(match, FC_FAMILY, 0, &fam) == FcResultMatch && fam)
        famName = reinterpret_cast<const char*>(fam);
      const bool exact = Lower(famName) == Lower(candidate);
      if (file.empty() || exact) {
        file = matchedFile;
        index = idx;
        matchedFamily = famName;
      }
      if (exact) {
        FcPatternDestroy(match);
        break;
      }
    }
    FcPatternDestroy(match);
  }
  if (file.empty()) return fail("no installed font matches \"" + family + "\"");

  std::unique_ptr<TOutlineFace> result(new TOutlineFace);
  result->impl_ = std::make_unique<Impl>();
  if (FT_New_Face(FreeTypeLibrary(), file.c_str(), index, &result->impl_->face) != 0) {
    result->impl_->face = nullptr;
    return fail("cannot load font file " + file);
  }
  FT_Face face = result->impl_->face;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return fail("font is not scalable: " + file);
  FT_Select_Charmap(face, FT_ENCODING_UNICODE);
  result->impl_->scale = static_cast<double>(kEm) / face->units_per_EM;
  const double s = result->impl_->scale;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && (os2->usWinAscent || os2->usWinDescent)) {
    result->ascent_ = static_cast<std::int32_t>(std::lround(os2->usWinAscent * s));
    result->descent_ = static_cast<std::int32_t>(std::lround(os2->usWinDescent * s));
  } else {
    result->ascent_ = static_cast<std::int32_t>(std::lround(face->ascender * s));
    result->descent_ = static_cast<std::int32_t>(std::lround(-face->descender * s));
  }
  result->fileName_ = file;
  result->familyName_ = matchedFamily;
  return result;
}

bool TOutlineFace::GetGlyph(char16_t code, TNativeGlyph& glyph) const {
  glyph = TNativeGlyph{};
  std::lock_guard<std::mutex> lock(FreeTypeMutex());
  FT_Face face = impl_->face;
  const FT_UInt index = FT_Get_Char_Index(face, code);  // 0: the default glyph
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0)
    return false;
  const double s = impl_->scale;
  FT_GlyphSlot slot = face->glyph;
  glyph.Metrics.CellIncX = static_cast<std::int32_t>(std::lround(slot->metrics.horiAdvance * s));
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE || slot->outline.n_points == 0) return true;

  const FT_Outline& outline = slot->outline;
  FT_BBox box;
  FT_Outline_Get_BBox(const_cast<FT_Outline*>(&outline), &box);
  const auto lo = [&](FT_Pos v) { return static_cast<std::int32_t>(std::floor(v * s)); };
  const auto hi = [&](FT_Pos v) { return static_cast<std::int32_t>(std::ceil(v * s)); };
  glyph.Metrics.OriginX = lo(box.xMin);
  glyph.Metrics.OriginY = hi(box.yMax);
  glyph.Metrics.BlackBoxX = hi(box.xMax) - lo(box.xMin);
  glyph.Metrics.BlackBoxY = hi(box.yMax) - lo(box.yMin);

  // Cubic curves are flattened to within a hundredth of an em-1000 unit.
  const double cubicTolerance = 0.01 / s;
  int first = 0;
  for (int c = 0; c < outline.n_contours; ++c) {
    const int last = outline.contours[c];
    if (last < first || last >= outline.n_points) break;
    if (last - first + 1 >= 2) {
      glyph.Polygons.emplace_back();
      ConvertContour(outline, first, last, s, cubicTolerance, glyph.Polygons.back());
    }
    first = last + 1;
  }
  return true;
}

}  // namespace kdl
