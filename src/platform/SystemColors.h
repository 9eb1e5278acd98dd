// The system colours, from a fixed table of the classic desktop scheme so
// that stored files and rendering never depend on the desktop theme.
#pragma once

#include <cstdint>

namespace kdl {

// The colour (0x00BBGGRR) of a system colour index (the low byte of a
// negative TColor); 0 for an unknown index.
std::int32_t GetSysColor(int index);

}  // namespace kdl
