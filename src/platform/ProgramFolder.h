// The program folder: where the installed assets lie (the folders
// "Languages", "Helps" and "Resources"). In the build tree they are copied
// beside the executable; an installed program finds them under
// ../share/<program name>/ from its own folder.
#pragma once

#include <filesystem>

namespace kdl {

// The folder of the running program's assets, resolved once.
std::filesystem::path ProgramFolder();

// Points ProgramFolder at a folder of the caller's (tests); an empty path
// resolves from the executable again.
void SetProgramFolder(const std::filesystem::path& folder);

// The executable's folder when it holds "Languages", else the share folder
// beside it.
std::filesystem::path ResolveProgramFolder(const std::filesystem::path& executableFolder);

}  // namespace kdl
