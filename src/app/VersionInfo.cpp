#include "app/VersionInfo.h"

#include <sys/utsname.h>

#include <QString>
#include <QSysInfo>

#include "kdl/Version.h"

namespace kdl {

TFileVersionInfo::TFileVersionInfo()
    : CompanyName(version::CompanyName),
      FileDescription(version::FileDescription),
      FileVersion(version::FileVersion),
      InternalName(version::InternalName),
      LegalCopyright(version::LegalCopyright),
      LegalTradeMarks(version::LegalTradeMarks),
      OriginalFilename(version::OriginalFilename),
      ProductName(version::ProductName),
      ProductVersion(version::ProductVersion),
      Comments(version::Comments) {
  const auto parts = SplitFileVersion(FileVersion);
  MajorVersion = parts[0];
  MinorVersion = parts[1];
  Release = parts[2];
  Build = parts[3];
}

std::array<std::string, 4> SplitFileVersion(std::string_view fileVersion) {
  char separator;
  if (fileVersion.find('.') != std::string_view::npos) separator = '.';
  else if (fileVersion.find(',') != std::string_view::npos) separator = ',';
  else return {kInfoNotAvailable, kInfoNotAvailable, kInfoNotAvailable, kInfoNotAvailable};

  // The first three parts end at the next separator; the build takes the rest.
  std::array<std::string, 4> parts;
  std::string_view rest = fileVersion;
  for (int i = 0; i < 3 && !rest.empty(); ++i) {
    const std::size_t at = rest.find(separator);
    parts[i] = rest.substr(0, at);
    rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
  }
  parts[3] = rest;
  return parts;
}

const TFileVersionInfo& VersionInfo() {
  static const TFileVersionInfo info;
  return info;
}

std::string GetOSVersionText() {
  utsname u{};
  if (uname(&u) != 0) return "Linux";
  // Qt answers the kernel's name and release when os-release has no
  // PRETTY_NAME; that is not a distribution's name.
  std::string name = QSysInfo::prettyProductName().toStdString();
  if (name.empty() || name == std::string(u.sysname) + " " + u.release || name == "unknown")
    name = "Linux";
  return name + " " + u.release + " Build " + u.version + " " + u.machine;
}

}  // namespace kdl
