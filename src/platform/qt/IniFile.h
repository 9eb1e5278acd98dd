// A read-only INI file held in memory, as the language files are written:
// "[Section]" headers, "Key=Value" lines and ";" comments. Nothing else in
// a value is interpreted, so commas, quotes, "%" and backslashes stay as
// they are (QSettings would split and unescape them).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Exception.h"

namespace kdl {

// A file that cannot be read or is too large to be an INI file of ours.
KDL_DECLARE_EXCEPTION(EIniFileError, Exception);

class TMemIniFile {
 public:
  // Larger files are refused rather than read into memory.
  static constexpr std::size_t kMaxFileSize = 1024 * 1024;

  TMemIniFile() = default;
  // Reads the whole file; raises EIniFileError when it cannot.
  explicit TMemIniFile(const std::filesystem::path& fileName);
  // Parses bytes in UTF-8 or, when they are not valid UTF-8, in
  // Windows-1252; a leading UTF-8 BOM is skipped first either way.
  static TMemIniFile FromBytes(std::string_view bytes);

  // Names compare without ASCII case; values are UTF-8.
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // The value, or nullptr when the file has none.
  const std::string* Find(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& defaultValue) const;

 private:
  using TSection = std::unordered_map<std::string, std::string>;  // folded key -> value
  void Parse(std::string_view text);

  std::unordered_map<std::string, TSection> sections_;  // folded section name -> keys
};

}  // namespace kdl
