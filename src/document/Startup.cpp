#include "document/Startup.h"

#include <mutex>

#include "document/effects/Effect.h"
#include "document/effects/MaskEffect.h"
#include "document/kinds/BitmapShape.h"
#include "document/kinds/FreehandShape.h"
#include "document/kinds/GroupShape.h"
#include "document/kinds/LineShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/resources/RasterFormats.h"
#include "document/resources/Resource.h"
#include "document/resources/ResourceThread.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/text/MemoShape.h"
#include "document/view/Page.h"
#include "foundation/BrenlowXml.h"
#include "raster/Blend.h"

namespace kdl {

namespace {

// For kinds whose construction lays out text, which needs the platform's
// fonts: registered without making one.
template <class T>
void RegisterNamed(const char* name) {
  RegisterShapeClass(name, [] { return std::unique_ptr<TdtpShape>(new T()); });
}

// The library's own shape kinds, the page among them, then the text kinds.
void RegisterShapeClasses() {
  RegisterShapeClass<TdtpShape>();
  RegisterShapeClass<TdtpEffectShape>();
  RegisterShapeClass<TdtpGroupShape>();
  // Stored placeholders read back as one, so that text shapes find them.
  RegisterNamed<TdtpPlaceHolder>("TdtpPlaceHolder");
  RegisterShapeClass<TdtpPage>();
  RegisterShapeClass<TdtpPolygonShape>();
  RegisterShapeClass<TdtpEllipseShape>();
  RegisterShapeClass<TdtpRectangleShape>();
  RegisterShapeClass<TdtpRoundRectShape>();
  RegisterShapeClass<TdtpFreehandShape>();
  RegisterShapeClass<TdtpLineShape>();
  RegisterShapeClass<TdtpBitmapShape>();
  RegisterNamed<TdtpSnapBitmap>("TdtpSnapBitmap");
  RegisterShapeClass<TdtpTextShape>();
  RegisterShapeClass<TdtpMemoShape>();
  RegisterShapeClass<TdtpPolygonMemo>();
}

}  // namespace

void InitializeDocumentLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetupBlendFunctions();
    RegisterRasterFormats();
    SetDocumentLibraryXmlDefaults();
    RegisterShapeClasses();
    RegisterEffectClasses();
    RegisterMaskClasses();
    RegisterResourceClasses();
    ResourceThread().Start();
  });
}

void FinalizeDocumentLibrary() { ResourceThread().Stop(); }

}  // namespace kdl
