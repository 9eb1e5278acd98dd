// The pixel offsets a hit test probes around the mouse point, so that thin
// shapes stay easy to hit: (0, 0), then four arms from the farthest in, then
// four diagonals. Sensitivity 1 gives 21 offsets, reaching 4 pixels.
#pragma once

#include <vector>

#include "raster/Types.h"

namespace kdl {

std::vector<TPoint> MakeHitPoints(float sensitivity);
// The table for sensitivity 1, made once.
const std::vector<TPoint>& DefaultHitPoints();

}  // namespace kdl
