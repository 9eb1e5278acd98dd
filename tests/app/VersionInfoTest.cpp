#include <gtest/gtest.h>

#include <array>
#include <string>

#include "app/VersionInfo.h"
#include "kdl/Version.h"
#include "support/QtApplication.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

using Parts = std::array<std::string, 4>;

TEST(VersionInfo, FileVersionParts) {
  EXPECT_EQ(SplitFileVersion("1.2.3.4"), (Parts{"1", "2", "3", "4"}));
  EXPECT_EQ(SplitFileVersion("1,2,3,4"), (Parts{"1", "2", "3", "4"}));
  const std::string na = kInfoNotAvailable;
  EXPECT_EQ(SplitFileVersion("7"), (Parts{na, na, na, na}));
  EXPECT_EQ(SplitFileVersion(""), (Parts{na, na, na, na}));
  EXPECT_EQ(SplitFileVersion("1.2"), (Parts{"1", "2", "", ""}));
  EXPECT_EQ(SplitFileVersion("1.2.3"), (Parts{"1", "2", "3", ""}));
  EXPECT_EQ(SplitFileVersion("1.2.3.4.5"), (Parts{"1", "2", "3", "4.5"}));
  EXPECT_EQ(SplitFileVersion("1,2.3"), (Parts{"1,2", "3", "", ""}));  // "." first
}

TEST(VersionInfo, TheProgramsOwnStrings) {
  const TFileVersionInfo& info = VersionInfo();
  EXPECT_EQ(info.CompanyName, version::CompanyName);
  EXPECT_EQ(info.ProductName, version::ProductName);
  EXPECT_EQ(info.FileVersion, version::FileVersion);
  EXPECT_EQ(info.MajorVersion, std::to_string(version::MajorVersion));
  EXPECT_EQ(info.MinorVersion, std::to_string(version::MinorVersion));
  EXPECT_EQ(info.Release, std::to_string(version::Release));
  EXPECT_EQ(info.Build, std::to_string(version::Build));
}

// Against uname(1) and Python's reading of os-release.
TEST(VersionInfo, OperatingSystemText) {
  test::EnsureApplication();
  auto line = [](const std::string& command) {
    std::string out = test::RunCommand(command);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  };
  std::string pretty = line(
      "python3 -c 'import platform\ntry:\n print(platform.freedesktop_os_release().get("
      "\"PRETTY_NAME\", \"\"))\nexcept OSError:\n print(\"\")'");
  if (pretty.empty()) pretty = "Linux";
  EXPECT_EQ(GetOSVersionText(), pretty + " " + line("uname -r") + " Build " + line("uname -v") +
                                    " " + line("uname -m"));
}

}  // namespace
}  // namespace kdl
