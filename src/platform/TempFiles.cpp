#include "platform/TempFiles.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/Exception.h"

namespace kdl {

std::filesystem::path TempDirectory() {
  std::error_code ec;
  auto dir = std::filesystem::temp_directory_path(ec);
  if (ec || dir.empty()) dir = "/tmp";
  return dir;
}

std::filesystem::path CreateUniqueFile(const std::string& prefix,
                                       const std::filesystem::path& dir,
                                       const std::string& suffix) {
  const auto folder = dir.empty() ? TempDirectory() : dir;
  std::string pattern = (folder / (prefix + "XXXXXX" + suffix)).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // mkstemps creates the file with O_EXCL: the name is ours alone.
  const int fd = mkstemps(buffer.data(), static_cast<int>(suffix.size()));
  if (fd < 0) {
    throw Exception("Cannot create temporary file in " + folder.string() + ": " +
                    std::strerror(errno));
  }
  close(fd);
  return std::filesystem::path(buffer.data());
}

TTempFile::TTempFile(const std::string& prefix, const std::filesystem::path& dir)
    : path_(CreateUniqueFile(prefix, dir)) {}

TTempFile::~TTempFile() {
  if (!path_.empty()) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

std::filesystem::path TTempFile::Release() {
  auto p = path_;
  path_.clear();
  return p;
}

}  // namespace kdl
