#include "document/text/FontManager.h"

#include <cstring>
#include <utility>

namespace kdl {
namespace {

constexpr char kMagic[3] = {'F', 'N', 'T'};
constexpr std::uint16_t kVersion = 0x0100;
constexpr char kCorrupt[] = "Font file is corrupt or incorrect";
constexpr char kUnknownVersion[] = "Font file has unknown version";

// The smallest records, so that a count can be checked against the bytes
// left before anything is allocated for it.
constexpr std::int64_t kMinFontRecord = 4 + 1 + 4 + 4 + 4 + 4;       // empty name, no glyphs
constexpr std::int64_t kMinGlyphRecord = 2 + 6 * 4 + 1;              // no outline
constexpr std::int64_t kLineHeader = 4;
constexpr std::int64_t kPointSize = 8;

class Writer {
 public:
  void Bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    buf_.insert(buf_.end(), b, b + n);
  }
  void U8(std::uint8_t v) { buf_.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void I32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(u >> (8 * i)));
  }
  void Count(std::size_t n) { I32(static_cast<std::int32_t>(n)); }
  const std::vector<unsigned char>& Buffer() const { return buf_; }

 private:
  std::vector<unsigned char> buf_;
};

// Reads little-endian fields; running short of bytes is a corrupt file.
class Reader {
 public:
  explicit Reader(TStream& s) : s_(s) {
    const std::int64_t size = s.Size();
    const std::int64_t pos = s.Position();
    left_ = size > pos && pos >= 0 ? size - pos : 0;
  }
  std::int64_t Left() const { return left_; }
  void Bytes(void* p, std::int64_t n) {
    if (n < 0 || n > left_ || s_.Read(p, n) != n) throw EFontError(kCorrupt);
    left_ -= n;
  }
  std::uint8_t U8() {
    std::uint8_t v;
    Bytes(&v, 1);
    return v;
  }
  std::uint16_t U16() {
    unsigned char b[2];
    Bytes(b, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
  }
  std::int32_t I32() {
    unsigned char b[4];
    Bytes(b, 4);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) |
                                     (static_cast<std::uint32_t>(b[1]) << 8) |
                                     (static_cast<std::uint32_t>(b[2]) << 16) |
                                     (static_cast<std::uint32_t>(b[3]) << 24));
  }
  // A count of records of at least recordSize bytes each; a negative count
  // stores nothing, one that the bytes left cannot hold is corrupt.
  std::int32_t Count(std::int64_t recordSize) {
    const std::int32_t n = I32();
    if (n <= 0) return 0;
    if (n > left_ / recordSize) throw EFontError(kCorrupt);
    return n;
  }

 private:
  TStream& s_;
  std::int64_t left_ = 0;
};

void WriteGlyph(Writer& w, const TdtpGlyph& g) {
  w.U16(g.CharCode);
  w.I32(g.AdvanceX);
  w.I32(g.AdvanceX2);
  w.I32(g.OriginX);
  w.I32(g.OriginY);
  w.I32(g.BlackBoxX);
  w.I32(g.BlackBoxY);
  w.U8(g.Outline ? 1 : 0);
  if (!g.Outline) return;
  const TArrayOfArrayOfFixedPoint& lines = g.Outline->Contours();
  w.Count(lines.size());
  for (const TArrayOfFixedPoint& line : lines) {
    w.Count(line.size());
    for (const TFixedPoint& p : line) {
      w.I32(p.X);
      w.I32(p.Y);
    }
  }
}

std::unique_ptr<TdtpGlyph> ReadGlyph(Reader& r, TdtpFont* font) {
  auto g = std::make_unique<TdtpGlyph>();
  g->Font = font;
  g->CharCode = r.U16();
  g->AdvanceX = r.I32();
  g->AdvanceX2 = r.I32();
  g->OriginX = r.I32();
  g->OriginY = r.I32();
  g->BlackBoxX = r.I32();
  g->BlackBoxY = r.I32();
  if (r.U8() == 0) return g;
  // The outline starts with its one empty line; the stored lines follow.
  const std::int32_t lineCount = r.Count(kLineHeader);
  g->Outline = std::make_unique<TPolygon32>();
  TArrayOfFixedPoint points;
  for (std::int32_t i = 0; i < lineCount; ++i) {
    const std::int32_t n = r.Count(kPointSize);
    points.resize(static_cast<std::size_t>(n));
    for (TFixedPoint& p : points) {
      p.X = r.I32();
      p.Y = r.I32();
    }
    if (i > 0) g->Outline->StartLine();
    g->Outline->AddPoints(points.data(), n);
  }
  return g;
}

}  // namespace

TdtpFontManager::~TdtpFontManager() = default;

TdtpFont* TdtpFontManager::AcquireFont(const std::string& name, TFontStyles style, TdtpFont* old) {
  lastError_.clear();
  if (name.empty()) return nullptr;
  if (old) {
    if (old->Name() == name && old->Style() == style) return old;
    --old->refCount_;
    PurgeReleased();
  }
  for (const auto& font : fonts_) {
    if (font->Name() == name && font->Style() == style) {
      ++font->refCount_;
      return font.get();
    }
  }
  auto font = std::make_unique<TdtpFont>(this, name, style);
  if (!font->NeedHandle()) {
    lastError_ = font->HandleError();
    return nullptr;
  }
  font->refCount_ = 1;
  fonts_.push_back(std::move(font));
  return fonts_.back().get();
}

void TdtpFontManager::PurgeReleased() {
  std::erase_if(fonts_, [](const std::unique_ptr<TdtpFont>& f) { return f->RefCount() <= 0; });
}

void TdtpFontManager::SaveToStream(TStream& stream) const {
  Writer w;
  w.Bytes(kMagic, sizeof kMagic);
  w.U16(kVersion);
  w.Count(fonts_.size());
  for (const auto& font : fonts_) {
    w.Count(font->Name().size());
    w.Bytes(font->Name().data(), font->Name().size());
    w.U8(font->Style());
    w.I32(font->Ascent());
    w.I32(font->Descent());
    w.I32(font->RefCount());
    const TdtpGlyphList& glyphs = font->Glyphs();
    w.Count(static_cast<std::size_t>(glyphs.Count()));
    for (int i = 0; i < glyphs.Count(); ++i) WriteGlyph(w, *glyphs.Items(i));
  }
  stream.WriteBuffer(w.Buffer().data(), static_cast<std::int64_t>(w.Buffer().size()));
}

void TdtpFontManager::LoadFromStream(TStream& stream) {
  Reader r(stream);
  char magic[3];
  r.Bytes(magic, 3);
  if (std::memcmp(magic, kMagic, 3) != 0) throw EFontError(kCorrupt);
  if (r.U16() != kVersion) throw EFontError(kUnknownVersion);

  // Everything is read before anything is appended, so a damaged file adds
  // no half-read fonts.
  TdtpFontList loaded;
  const std::int32_t fontCount = r.Count(kMinFontRecord);
  for (std::int32_t f = 0; f < fontCount; ++f) {
    const std::int32_t nameLength = r.I32();
    std::string name;
    if (nameLength > 0) {
      if (nameLength > r.Left()) throw EFontError(kCorrupt);
      name.resize(static_cast<std::size_t>(nameLength));
      r.Bytes(name.data(), nameLength);
    }
    const TFontStyles style = r.U8();
    auto font = std::make_unique<TdtpFont>(this, std::move(name), style);
    font->ascent_ = r.I32();
    font->descent_ = r.I32();
    font->refCount_ = r.I32();
    const std::int32_t glyphCount = r.Count(kMinGlyphRecord);
    for (std::int32_t i = 0; i < glyphCount; ++i) font->glyphs_.InsertGlyph(ReadGlyph(r, font.get()));
    loaded.push_back(std::move(font));
  }
  for (auto& font : loaded) fonts_.push_back(std::move(font));
}

}  // namespace kdl
