// The document library's start-up: runs once, before any document exists.
#pragma once

namespace kdl {

// Chooses the raster kernels for this processor, registers the image
// formats (BMP, JPEG, ".hck", GIF, PNG) and the shape classes, and switches
// the XML defaults of every later document to UTF-8 without default values.
// Later calls do nothing.
void InitializeDocumentLibrary();

}  // namespace kdl
