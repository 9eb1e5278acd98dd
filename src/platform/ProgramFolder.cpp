#include "platform/ProgramFolder.h"

#include <mutex>

#include "kdl/Version.h"

namespace kdl {
namespace {

std::mutex gLock;
std::filesystem::path gFolder;  // empty until resolved or set

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

}  // namespace

std::filesystem::path ResolveProgramFolder(const std::filesystem::path& executableFolder) {
  std::error_code ec;
  if (std::filesystem::is_directory(executableFolder / "Languages", ec)) return executableFolder;
  return (executableFolder / ".." / "share" / version::InternalName).lexically_normal();
}

std::filesystem::path ProgramFolder() {
  std::lock_guard guard(gLock);
  if (gFolder.empty()) gFolder = ResolveProgramFolder(ExecutableFolder());
  return gFolder;
}

void SetProgramFolder(const std::filesystem::path& folder) {
  std::lock_guard guard(gLock);
  gFolder = folder;
}

}  // namespace kdl
