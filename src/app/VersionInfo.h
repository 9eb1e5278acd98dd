// The program's version information, from the constants CMake generates,
// and a description of the running system for support mails.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kdl {

inline constexpr const char* kInfoNotAvailable = "<info not available>";

class TFileVersionInfo {
 public:
  TFileVersionInfo();

  std::string CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright,
      LegalTradeMarks, OriginalFilename, ProductName, ProductVersion, Comments;
  std::string MajorVersion, MinorVersion, Release, Build;
};

// Major, minor, release and build from a file version: the separator is
// "." when the text has one, else ","; parts a shorter version lacks are
// empty. Without a separator all four are "<info not available>".
std::array<std::string, 4> SplitFileVersion(std::string_view fileVersion);

// The one version information of the process.
const TFileVersionInfo& VersionInfo();

// The distribution's name (os-release PRETTY_NAME, "Linux" without one),
// the kernel release, " Build ", the kernel version and the machine.
std::string GetOSVersionText();

}  // namespace kdl
