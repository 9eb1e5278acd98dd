// Opens arbitrary bytes as the working file of an auto-save archive, the way
// a project file becomes the file being edited, then reads every member,
// writes, renames and deletes some, and checks that the file reopens with
// exactly the members that the edits left.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Storage.h"
#include "platform/TempFiles.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

Members Read(kdl::TqxStorage& storage) {
  Members members;
  const int count = storage.StreamCount();
  for (int i = 0; i < count; ++i) {
    std::string name = storage.GetStreamName(i);
    kdl::TMemoryStream s;
    storage.ReadStream(name, s);
    members.emplace_back(std::move(name),
                         std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size())));
  }
  return members;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kdl::TTempFile file("fuzzautosave");
  {
    std::ofstream out(file.Path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  Members expect;
  {
    kdl::TqxStorage storage;
    storage.SetAutoSave(true);
    try {
      storage.SetFileName(file.Path());
    } catch (const kdl::Exception&) {
      Check(storage.StreamCount() == 0);
      return 0;
    }
    Read(storage);
    // Edits in place: a new member, one grown, one renamed, one deleted.
    kdl::TMemoryStream bytes;
    bytes.WriteBuffer(data, static_cast<std::int64_t>(size < 200 ? size : 200));
    storage.WriteStream("Added.bin", bytes);
    const int count = storage.StreamCount();
    if (count > 1) storage.WriteStream(storage.GetStreamName(0), bytes);
    if (count > 2) storage.RenameStream(storage.GetStreamName(1), "Renamed.xml");
    if (count > 3) storage.DeleteStream(storage.GetStreamName(count - 2));
    expect = Read(storage);
  }
  kdl::TqxStorage reopened;
  reopened.LoadFromFile(file.Path());
  Check(Read(reopened) == expect);
  return 0;
}
