// The font manager's sharing rules and the "Fonts.dat" layout, built byte by
// byte here from its description.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "document/text/FontManager.h"
#include "document/text/FontRenderer.h"
#include "foundation/QuickMemStream.h"
#include "support/AllocationMeter.h"

namespace kdl {
namespace {

std::vector<unsigned char> Save(const TdtpFontManager& m) {
  TMemoryStream s;
  m.SaveToStream(s);
  const auto* p = static_cast<const unsigned char*>(s.Memory());
  return {p, p + s.Size()};
}

void Load(TdtpFontManager& m, const std::vector<unsigned char>& bytes) {
  TQuickMemStream s;
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.SetPosition(0);
  m.LoadFromStream(s);
}

std::string LoadError(const std::vector<unsigned char>& bytes) {
  TdtpFontManager m;
  try {
    Load(m, bytes);
  } catch (const EFontError& e) {
    EXPECT_TRUE(m.Fonts().empty());
    return e.Message();
  }
  return "";
}

struct Bytes {
  std::vector<unsigned char> b;
  Bytes& raw(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& u8(unsigned v) {
    b.push_back(static_cast<unsigned char>(v));
    return *this;
  }
  Bytes& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8); }
  Bytes& i32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return u8(u & 0xFF).u8((u >> 8) & 0xFF).u8((u >> 16) & 0xFF).u8(u >> 24);
  }
  Bytes& header(std::int32_t fonts) { return raw("FNT").u16(0x0100).i32(fonts); }
  Bytes& font(const std::string& name, unsigned style, std::int32_t glyphs) {
    return i32(static_cast<std::int32_t>(name.size())).raw(name).u8(style).i32(900).i32(200).i32(1).i32(glyphs);
  }
  // A glyph with one triangle, or without outline.
  Bytes& glyph(unsigned code, bool outline) {
    u16(code).i32(500).i32(500).i32(10).i32(700).i32(480).i32(700).u8(outline ? 1 : 0);
    if (outline) i32(1).i32(3).i32(0).i32(0).i32(100 << 16).i32(0).i32(0).i32(-700 << 16);
    return *this;
  }
};

TEST(FontCache, RoundTripsByteForByteAndRendersWithoutTheFace) {
  TdtpFontManager m;
  EXPECT_EQ(Save(m), (std::vector<unsigned char>{'F', 'N', 'T', 0x00, 0x01, 0, 0, 0, 0}));
  TdtpFont* sans = m.AcquireFont("Liberation Sans", fsBold | fsUnderline, nullptr);
  TdtpFont* serif = m.AcquireFont("Liberation Serif", 0, nullptr);
  ASSERT_TRUE(sans && serif);
  TdtpFontRenderer r(sans);
  r.SetSize(10);
  TPolygon32 before;
  r.TextToPolygon(u"Quartz, jig", before, 3, 1, 40);
  serif->GetGlyph(u'g');
  serif->GetGlyph(u'A');  // out of order: the list keeps codes sorted
  const auto saved = Save(m);

  TdtpFontManager copy;
  Load(copy, saved);
  ASSERT_EQ(copy.Fonts().size(), 2u);
  EXPECT_EQ(Save(copy), saved);
  TdtpFont* loaded = copy.Fonts()[0].get();
  EXPECT_EQ(loaded->Name(), "Liberation Sans");
  EXPECT_EQ(loaded->Style(), fsBold | fsUnderline);
  EXPECT_EQ(loaded->RefCount(), 1);
  EXPECT_EQ(copy.Fonts()[1]->Glyphs().Items(0)->CharCode, u'A');

  // Cached characters draw the same contours without opening the face.
  TdtpFontRenderer lr(loaded);
  lr.SetSize(10);
  TPolygon32 after;
  lr.TextToPolygon(u"Quartz, jig", after, 3, 1, 40);
  EXPECT_EQ(after.Contours(), before.Contours());
  EXPECT_EQ(loaded->Handle(), nullptr);
  // Acquiring it again shares the loaded font, still without the face.
  EXPECT_EQ(copy.AcquireFont("Liberation Sans", fsBold | fsUnderline, nullptr), loaded);
  EXPECT_EQ(loaded->RefCount(), 2);
  EXPECT_EQ(loaded->Handle(), nullptr);
}

// A stored font opens its face only for a character it lacks, and then
// takes the face's metrics; a face that cannot be opened keeps the cached
// glyphs, and a character it lacks has no advance, no ink and no entry.
TEST(FontCache, StoredFontsOpenTheFaceForAMissingCharacter) {
  TdtpFontManager m;
  Load(m, Bytes().header(2).font("Liberation Sans", 0, 1).glyph('A', true).font("", 0, 1).glyph('A', true).b);
  TdtpFont* f = m.Fonts()[0].get();
  EXPECT_EQ(f->Ascent(), 900);
  EXPECT_EQ(f->GetGlyph(u'A')->AdvanceX, 500);  // the stored glyph, not the face's
  EXPECT_EQ(f->Handle(), nullptr);
  EXPECT_EQ(f->GetGlyph(u'B')->AdvanceX, 667);
  EXPECT_NE(f->Handle(), nullptr);
  EXPECT_EQ(f->Ascent(), 905);
  EXPECT_EQ(f->Descent(), 212);
  EXPECT_EQ(f->GetGlyph(u'A')->AdvanceX, 500);

  TdtpFont* broken = m.Fonts()[1].get();
  TdtpFontRenderer r(broken);
  r.SetSize(1000);
  EXPECT_DOUBLE_EQ(r.GetTextExtent(u"AZA").Width, 1000);
  EXPECT_EQ(broken->HandleError(), "Unable to create font with name \"\"");
  EXPECT_EQ(broken->Glyphs().Count(), 1);

  // Without a font a renderer measures (0, 0) and draws nothing.
  EXPECT_EQ(m.AcquireFont("", 0, nullptr), nullptr);
  TdtpFontRenderer none(nullptr);
  none.SetSize(10);
  const TdtpTextExtent e = none.GetTextExtent(u"Text");
  EXPECT_EQ(e.Width, 0);
  EXPECT_EQ(e.Height, 0);
  TPolygon32 p;
  none.TextToPolygon(u"Text", p, 5, 0, 0);
  EXPECT_EQ(p.Contours().size(), 1u);
  EXPECT_TRUE(p.Contours()[0].empty());
}

TEST(FontCache, AcquireSharesAndReleasesByNameAndStyle) {
  TdtpFontManager m;
  TdtpFont* a = m.AcquireFont("Liberation Sans", 0, nullptr);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->RefCount(), 1);
  EXPECT_EQ(m.AcquireFont("Liberation Sans", 0, a), a);  // unchanged count
  EXPECT_EQ(a->RefCount(), 1);
  EXPECT_EQ(m.AcquireFont("Liberation Sans", 0, nullptr), a);
  EXPECT_EQ(a->RefCount(), 2);
  // Names differing in case, or another style, are other fonts.
  TdtpFont* lower = m.AcquireFont("liberation sans", 0, nullptr);
  TdtpFont* italic = m.AcquireFont("Liberation Sans", fsItalic, nullptr);
  EXPECT_NE(lower, a);
  EXPECT_NE(italic, a);
  EXPECT_EQ(m.Fonts().size(), 3u);
  // Switching away releases the old font, freed once nobody holds it.
  TdtpFont* serif = m.AcquireFont("Liberation Serif", 0, lower);
  EXPECT_EQ(m.Fonts().size(), 3u);
  TdtpFont* dejavu = m.AcquireFont("DejaVu Sans", 0, a);
  EXPECT_EQ(dejavu, m.Fonts().back().get());
  EXPECT_EQ(a->RefCount(), 1);
  EXPECT_EQ(m.Fonts().size(), 4u);
  EXPECT_EQ(m.AcquireFont("DejaVu Sans", 0, a), dejavu);
  EXPECT_EQ(dejavu->RefCount(), 2);
  EXPECT_EQ(m.Fonts().size(), 3u);  // a gone
  for (const auto& f : m.Fonts()) EXPECT_NE(f.get(), a);
  EXPECT_EQ(m.Fonts()[1].get(), serif);
  EXPECT_TRUE(m.LastError().empty());
}

TEST(FontCache, DamagedFilesRaiseTheDocumentedErrors) {
  const std::string corrupt = "Font file is corrupt or incorrect";
  EXPECT_EQ(LoadError(Bytes().raw("FNX").u16(0x0100).i32(0).b), corrupt);
  EXPECT_EQ(LoadError(Bytes().raw("FNT").u16(0x0101).i32(0).b), "Font file has unknown version");
  // Magic first: a bad magic with a bad version is corrupt.
  EXPECT_EQ(LoadError(Bytes().raw("fnt").u16(0x0200).b), corrupt);
  EXPECT_EQ(LoadError({}), corrupt);
  // Counts and lengths beyond the bytes left.
  EXPECT_EQ(LoadError(Bytes().header(0x7FFFFFFF).b), corrupt);
  EXPECT_EQ(LoadError(Bytes().header(1).i32(1000).raw("Arial").b), corrupt);
  EXPECT_EQ(LoadError(Bytes().header(1).font("X", 0, 0x10000000).b), corrupt);
  Bytes lines = Bytes().header(1).font("X", 0, 1);
  lines.u16('A').i32(1).i32(1).i32(0).i32(0).i32(1).i32(1).u8(1).i32(0x40000000);
  EXPECT_EQ(LoadError(lines.b), corrupt);
  Bytes points = Bytes().header(1).font("X", 0, 1);
  points.u16('A').i32(1).i32(1).i32(0).i32(0).i32(1).i32(1).u8(1).i32(1).i32(0x20000000).i32(0);
  EXPECT_EQ(LoadError(points.b), corrupt);
  // Each of these is refused before a block is allocated for its count.
  if (test::AllocationMeter::Available()) {
    for (const auto& bytes : {Bytes().header(0x7FFFFFFF).b, Bytes().header(1).i32(0x7FFFFFF0).raw("Arial").b,
                              Bytes().header(1).font("X", 0, 0x10000000).b, lines.b, points.b}) {
      test::AllocationMeter meter;
      EXPECT_EQ(LoadError(bytes), corrupt);
      EXPECT_LT(meter.Largest(), std::int64_t{1} << 20) << bytes.size();
    }
  }

  // Every truncation of a good file is corrupt and appends nothing.
  const auto good = Bytes().header(2).font("Ab", 3, 2).glyph('B', true).glyph('A', false)
                        .font("", 0, 0).b;
  EXPECT_EQ(LoadError(good), "");
  for (std::size_t n = 5; n < good.size(); ++n)
    EXPECT_EQ(LoadError({good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)}), corrupt) << n;
}

TEST(FontCache, LoadingSortsGlyphsAndDropsDuplicates) {
  TdtpFontManager m;
  // Negative name length and counts store nothing, as the writer never
  // gives them; out-of-order and repeated codes are sorted and dropped.
  Bytes b = Bytes().header(1).i32(-5).u8(0).i32(1).i32(2).i32(3).i32(4);
  b.glyph(0xFFFF, false).glyph('z', true).glyph('a', false).glyph('z', false);
  Load(m, b.b);
  Load(m, Bytes().header(-3).b);
  ASSERT_EQ(m.Fonts().size(), 1u);
  const TdtpGlyphList& g = m.Fonts()[0]->Glyphs();
  ASSERT_EQ(g.Count(), 3);
  EXPECT_EQ(g.Items(0)->CharCode, u'a');
  EXPECT_EQ(g.Items(1)->CharCode, u'z');
  EXPECT_TRUE(g.Items(1)->Outline);  // the first of the two
  EXPECT_EQ(g.Items(2)->CharCode, 0xFFFF);  // codes compare unsigned
  EXPECT_EQ(g.FindGlyph(0xFFFF), g.Items(2));
  EXPECT_EQ(g.FindGlyph('b'), nullptr);
  EXPECT_EQ(m.Fonts()[0]->Ascent(), 1);
  EXPECT_EQ(m.Fonts()[0]->Descent(), 2);
  EXPECT_EQ(m.Fonts()[0]->RefCount(), 3);
  // A stored outline keeps its lines and points.
  const auto& lines = g.Items(1)->Outline->Contours();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (TArrayOfFixedPoint{{0, 0}, {100 << 16, 0}, {0, -700 << 16}}));
  // Loading appends to what the manager holds.
  Load(m, Bytes().header(1).font("Q", 0, 0).b);
  EXPECT_EQ(m.Fonts().size(), 2u);
  m.AcquireFont("Q", 0, nullptr);
  EXPECT_EQ(m.Fonts()[1]->RefCount(), 2);
}

}  // namespace
}  // namespace kdl
