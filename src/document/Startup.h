// The document library's start-up and shut-down: start-up runs once, before
// any document exists; shut-down runs once at the end of the program.
#pragma once

namespace kdl {

// Chooses the raster kernels for this processor, registers the image
// formats (BMP, JPEG, ".hck", GIF, PNG), the shape and resource classes,
// switches the XML defaults of every later document to UTF-8 without
// default values, and starts the resource cache thread. Later calls do
// nothing.
void InitializeDocumentLibrary();

// Stops the resource cache thread and waits for it. Called by the program
// and the test mains before they return; safe to call more than once.
void FinalizeDocumentLibrary();

}  // namespace kdl
