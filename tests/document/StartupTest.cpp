#include <gtest/gtest.h>

#include "document/Startup.h"
#include "document/resources/RasterFormats.h"
#include "foundation/BrenlowXml.h"

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

}  // namespace
}  // namespace kdl
