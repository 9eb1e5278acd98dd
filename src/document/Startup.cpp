#include "document/Startup.h"

#include <mutex>

#include "document/effects/Effect.h"
#include "document/effects/MaskEffect.h"
#include "document/resources/RasterFormats.h"
#include "document/resources/Resource.h"
#include "document/resources/ResourceThread.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/text/MemoShape.h"
#include "foundation/BrenlowXml.h"
#include "raster/Blend.h"

namespace kdl {

void InitializeDocumentLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetupBlendFunctions();
    RegisterRasterFormats();
    SetDocumentLibraryXmlDefaults();
    RegisterShapeClasses();
    RegisterTextClasses();
    RegisterEffectClasses();
    RegisterMaskClasses();
    RegisterResourceClasses();
    ResourceThread().Start();
  });
}

void FinalizeDocumentLibrary() { ResourceThread().Stop(); }

}  // namespace kdl
