// Reads arbitrary bytes as an "Effect" element onto a small test shape in a
// document, then applies the effect to the shape's cache at 2 px/mm. Any
// input must end in a rendered alpha or in our exception.
#include <cstdint>
#include <memory>
#include <string_view>

#include "FakeDocument.h"
#include "RenderTestShapes.h"
#include "document/Startup.h"
#include "document/effects/MaskEffect.h"
#include "foundation/BrenlowXml.h"
#include "raster/Bitmap32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (kdl::InitializeDocumentLibrary(), kdl::testing::RegisterRenderTestClasses(), true);
  (void)ready;
  kdl::testing::FakeDocument doc;
  kdl::testing::RectShape shape;
  shape.SetDocument(&doc);
  shape.SetDocBounds(0, 0, 15, 10);
  kdl::TBrenlowXml xml;
  try {
    xml.ReadFromString(std::string_view(reinterpret_cast<const char*>(data), size));
    kdl::TXmlNode* root = xml.Root();
    if (!root) return 0;
    auto owned = kdl::CreateEffect(root->ReadString("ClassName", ""));
    kdl::TdtpEffect& effect = *owned;
    shape.AddEffect(std::move(owned));
    effect.LoadFromXml(root);
    effect.Loaded();
  } catch (const kdl::Exception&) {
    return 0;
  }
  // Margins from any value stay numbers the cache can refuse.
  float l = 0, t = 0, r = 0, b = 0;
  shape.AdjustMargins(l, t, r, b);

  // The cache at 2 px/mm with a fixed border: huge margins are the cache
  // cap's to bound, and at that size every run would take seconds.
  constexpr float kScale = 2;
  constexpr int kBorder = 6;
  kdl::TBitmap32 cache;
  cache.SetSize(30 + 2 * kBorder, 20 + 2 * kBorder);
  cache.Clear(0);
  kdl::TdtpPaintInfo info;
  info.Device = kdl::dtPrinter;
  info.Scale = info.RenderScale = kScale;
  shape.RenderContent(cache, {-kBorder / kScale, -kBorder / kScale, 15 + kBorder / kScale, 10 + kBorder / kScale},
                      info);
  // A mask image that does not decode renders as none: nothing raises here.
  shape.PostProcess(cache, info);
  return 0;
}
