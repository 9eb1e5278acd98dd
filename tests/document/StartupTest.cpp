#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/Startup.h"
#include "document/resources/RasterFormats.h"
#include "document/shapes/ShapeRegistry.h"
#include "foundation/BrenlowXml.h"
#include "support/QtApplication.h"

namespace kdl {
namespace {

TEST(Startup, RegistersFormatsAndSwitchesXmlDefaultsOnce) {
  InitializeDocumentLibrary();
  InitializeDocumentLibrary();
  EXPECT_NE(RasterClassByExtension(".png"), nullptr);
  EXPECT_NE(RasterClassByExtension(".hck"), nullptr);
  TBrenlowXml xml;
  EXPECT_TRUE(xml.Utf8Strings());
  EXPECT_FALSE(xml.WriteDefaults());
}

// The class names stored files carry; a kind left out of start-up would read
// back as a plain shape and lose its content without a word.
TEST(Startup, RegistersEveryStoredShapeClassOnceInOrder) {
  test::EnsureApplication();  // placeholder captions lay out text
  InitializeDocumentLibrary();
  const std::vector<std::string> stored = {
      "TdtpShape",          "TdtpEffectShape",    "TdtpGroupShape",  "TdtpPlaceHolder",
      "TdtpPage",           "TdtpPolygonShape",   "TdtpEllipseShape", "TdtpRectangleShape",
      "TdtpRoundRectShape", "TdtpFreehandShape",  "TdtpLineShape",   "TdtpBitmapShape",
      "TdtpSnapBitmap",     "TdtpTextShape",      "TdtpMemoShape",   "TdtpPolygonMemo"};
  std::vector<std::string> registered;
  for (const TShapeClassHolder& h : ShapeClasses()) registered.push_back(h.Name);
  // Test programs may register kinds of their own after start-up.
  ASSERT_GE(registered.size(), stored.size());
  registered.resize(stored.size());
  EXPECT_EQ(registered, stored);
  for (const std::string& name : stored) EXPECT_EQ(CreateShape(name)->ClassName(), name);
}

}  // namespace
}  // namespace kdl
