// Every (section, key) pair that the program looks up in a language file:
// the one list that shipped files and tests are checked against.
#pragma once

#include <array>
#include <cstddef>

namespace kdl {

struct TLanguageKey {
  const char* Section;
  const char* Key;
  bool Converted;  // "\n" in the value becomes a line break
};

inline constexpr std::size_t kLanguageKeyCount = 133;
extern const std::array<TLanguageKey, kLanguageKeyCount> kLanguageKeys;

}  // namespace kdl
