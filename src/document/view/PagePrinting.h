// Printing a page in bands: the target is cut until every band holds fewer
// than kBandPixelLimit pixels, so that no page is ever held whole.
#pragma once

#include <cstdint>

namespace kdl {

// Bands hold fewer pixels than this (7.7 MB of 32-bit pixels).
inline constexpr std::int64_t kBandPixelLimit = 1920001;

// 150 dpi in pixels per mm.
inline constexpr float kPrint150Dpm = 5.905512f;

}  // namespace kdl
