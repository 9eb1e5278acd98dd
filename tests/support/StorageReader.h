// The independent archive reader (tests/foundation/storage_reader.py), run
// on a file: one line per member, its name, offset, size and bytes in hex.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "support/TestFiles.h"

namespace kdl::test {

// The reader's output, with its messages; status is its exit status.
inline std::string RunStorageReader(const std::filesystem::path& file, int& status) {
  status = -1;
  return RunCommand("python3 " + std::string(KDL_SOURCE_DIR) + "/tests/foundation/storage_reader.py read " +
                        file.string() + " 2>&1",
                    &status);
}

// Every member the reader finds, by name. error is left empty when the
// reader ran and every line it printed reads as a member.
inline std::map<std::string, std::string> ReadWithIndependentReader(const std::filesystem::path& file,
                                                                    std::string& error) {
  std::map<std::string, std::string> members;
  int status = -1;
  const std::string out = RunStorageReader(file, status);
  if (status != 0) error = out.substr(0, 400);
  for (std::size_t at = 0; at < out.size();) {
    const std::size_t end = std::min(out.find('\n', at), out.size());
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    const std::size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
    if (t3 == std::string::npos) {
      error = "unreadable line: " + line.substr(0, 100);
      break;
    }
    std::string data;
    for (std::size_t k = t3 + 1; k + 1 < line.size(); k += 2)
      data.push_back(static_cast<char>(std::stoi(line.substr(k, 2), nullptr, 16)));
    members[line.substr(0, t1)] = data;
  }
  return members;
}

}  // namespace kdl::test
