// Shared helpers of the image format tests: scratch files, running the
// independent Debian tools and reading their raw output.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "document/resources/RasterFormats.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"
#include "support/TestFiles.h"

namespace kdl::test {

inline std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& p) {
  const std::string bytes = ReadFile(p);
  return {bytes.begin(), bytes.end()};
}

inline void WriteFileBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& b) {
  WriteFile(p, std::string(b.begin(), b.end()));
}

// Runs a shell command: its standard output as bytes, and the exit status.
inline std::vector<std::uint8_t> RunCommandBytes(const std::string& command, int* status = nullptr) {
  const std::string out = RunCommand(command, status);
  return {out.begin(), out.end()};
}

inline bool HaveTool(const std::string& tool) {
  int rc = 0;
  RunCommand("command -v " + tool + " >/dev/null 2>&1", &rc);
  return rc == 0;
}

inline void StreamFromBytes(TMemoryStream& s, const std::vector<std::uint8_t>& bytes) {
  s.SetSize(0);
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.Seek(0, soBeginning);
}

inline std::vector<std::uint8_t> StreamBytes(TMemoryStream& s) {
  const auto* p = static_cast<const std::uint8_t*>(s.Memory());
  return {p, p + s.Size()};
}

// The bitmap's pixels as R, G, B, A bytes, as `convert f RGBA:-` writes them.
inline std::vector<std::uint8_t> ToRgba(const TBitmap32& b) {
  std::vector<std::uint8_t> out;
  const std::int64_t n = std::int64_t{b.Width()} * b.Height();
  out.reserve(static_cast<std::size_t>(n * 4));
  for (std::int64_t i = 0; i < n; ++i) {
    const TColor32 c = b.Bits()[i];
    out.push_back(static_cast<std::uint8_t>(c >> 16));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 24));
  }
  return out;
}

// Loads a file through the registry, by its name.
inline void LoadFile(const std::filesystem::path& p, TBitmap32& b, std::int32_t w = 4000,
                     std::int32_t h = 4000) {
  TdtpImageFiler filer;
  filer.SetFileName(p.string());
  filer.SetRequestedSize(w, h);
  filer.LoadBitmap(&b);
}

// The message of the ERasterError that f raises.
inline std::string RasterErrorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const ERasterError& e) {
    return e.what();
  }
  return "(no ERasterError)";
}

// Registers the formats once for the whole test program.
class FormatsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { RegisterRasterFormats(); }
};

}  // namespace kdl::test
