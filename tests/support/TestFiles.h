// Helpers for tests that work with files and independent tools, with bytes
// held in std::string.
#pragma once

#include <stdlib.h>
#include <sys/resource.h>

#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace kdl::test {

// Caps the size of files this process writes, so that writes fail with EFBIG
// the way they fail on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit r = old_;
    r.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
};

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// Runs a shell command: its standard output, and the exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

// Lower-case hex of every byte, as python's bytes.hex() prints it.
inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// The message of the kdl::Exception that f raises.
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no error)";
}

// A private folder in the temporary folder, removed with everything in it
// at the end of its scope.
class ScratchDir {
 public:
  ScratchDir() {
    std::string name = (std::filesystem::temp_directory_path() / "kdl-test-XXXXXX").string();
    if (!mkdtemp(name.data())) throw Exception("Cannot create a scratch folder");
    path_ = name;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A binary PPM ("P6", maxval 255) as pdftoppm and ImageMagick write it:
// each pixel as 0xFFRRGGBB, rows top-down. Empty for anything else.
struct PpmImage {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::vector<std::uint32_t> Pixels;
  std::uint32_t At(std::int32_t x, std::int32_t y) const {
    return Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) +
                  static_cast<std::size_t>(x)];
  }
};

inline PpmImage ReadPpm(const std::filesystem::path& p) {
  const std::string bytes = ReadFile(p);
  std::size_t pos = 0;
  // The header: magic, width, height, maxval, each after white space.
  auto token = [&]() -> std::string {
    while (pos < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
    const std::size_t start = pos;
    while (pos < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
    return bytes.substr(start, pos - start);
  };
  PpmImage image;
  if (token() != "P6") return {};
  const std::string w = token(), h = token(), maxval = token();
  if (maxval != "255" || w.empty() || h.empty()) return {};
  ++pos;
  image.Width = std::stoi(w);
  image.Height = std::stoi(h);
  const std::size_t count = static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.Height);
  if (bytes.size() - pos < count * 3) return {};
  image.Pixels.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto* rgb = reinterpret_cast<const unsigned char*>(bytes.data() + pos + i * 3);
    image.Pixels[i] = 0xFF000000u | (std::uint32_t{rgb[0]} << 16) | (std::uint32_t{rgb[1]} << 8) | rgb[2];
  }
  return image;
}

}  // namespace kdl::test
