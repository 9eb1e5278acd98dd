// Temporary files: the temporary folder and files created there under
// unique names, atomically, so that two processes never share one.
#pragma once

#include <filesystem>
#include <string>

namespace kdl {

// The user's temporary folder ($TMPDIR, else /tmp).
std::filesystem::path TempDirectory();

// Creates a new empty file named <prefix>XXXXXX<suffix> in Dir (the temporary
// folder when empty) and returns its path; raises Exception on failure.
std::filesystem::path CreateUniqueFile(const std::string& prefix,
                                       const std::filesystem::path& dir = {},
                                       const std::string& suffix = ".tmp");

// A uniquely named file that is removed when its owner goes.
class TTempFile {
 public:
  explicit TTempFile(const std::string& prefix,
                     const std::filesystem::path& dir = {});
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Gives up ownership: the file is no longer removed.
  std::filesystem::path Release();

 private:
  std::filesystem::path path_;
};

}  // namespace kdl
