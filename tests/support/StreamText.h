// Memory streams to and from std::string.
#pragma once

#include <string>

#include "foundation/Stream.h"

namespace kdl::test {

inline std::string Text(TMemoryStream& s) {
  return {static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size())};
}

// Replaces the stream's bytes and rewinds it.
inline TMemoryStream& Fill(TMemoryStream& s, const std::string& bytes) {
  s.SetSize(0);
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.Seek(0, soBeginning);
  return s;
}

}  // namespace kdl::test
