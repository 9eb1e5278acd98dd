// Millisecond tick counts from one steady clock. Tests that must drive time
// (cache thread, timers) install their own source.
#pragma once

#include <cstdint>
#include <functional>

namespace kdl {

// Milliseconds since an arbitrary fixed start, never going backwards.
std::uint64_t TickCount64();

// The same count truncated to 32 bits; it wraps after about 49.7 days, so
// compare two readings by unsigned subtraction only.
inline std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(TickCount64()); }

// Replaces the clock (nullptr restores the steady clock).
void SetTickSource(std::function<std::uint64_t()> source);

}  // namespace kdl
