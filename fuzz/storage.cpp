// Loads arbitrary bytes as an archive, from memory and from a file, reads
// every member, then changes the working copy and checks that a saved copy
// reads back the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>
#include <string>

#include "foundation/Storage.h"
#include "platform/TempFiles.h"

namespace {

std::string Member(kdl::TqxStorage& storage, const std::string& name) {
  kdl::TMemoryStream s;
  storage.ReadStream(name, s);
  return {static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size())};
}

// Every member in directory order; a name stored twice reads as its first.
std::vector<std::pair<std::string, std::string>> Members(kdl::TqxStorage& storage) {
  std::vector<std::pair<std::string, std::string>> members;
  const int count = storage.StreamCount();
  members.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    std::string name = storage.GetStreamName(i);
    std::string bytes = Member(storage, name);
    members.emplace_back(std::move(name), std::move(bytes));
  }
  return members;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kdl::TTempFile file("fuzzstorage");
  kdl::TMemoryStream input;
  if (size > 0) input.WriteBuffer(data, static_cast<std::int64_t>(size));

  kdl::TqxStorage fromStream;
  try {
    fromStream.LoadFromStream(input);
  } catch (const kdl::Exception&) {
    Check(fromStream.StreamCount() == 0);
    return 0;
  }
  const auto members = Members(fromStream);

  // The same bytes as a source file give the same members.
  { std::ofstream(file.Path(), std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size)); }
  kdl::TqxStorage fromFile;
  fromFile.SetMemoryCache(64);
  fromFile.LoadFromFile(file.Path());
  Check(Members(fromFile) == members);

  // Change both working copies; a packed copy reads back equal.
  for (auto* storage : {&fromStream, &fromFile}) {
    kdl::TMemoryStream extra;
    extra.WriteBuffer(data, static_cast<std::int64_t>(size < 100 ? size : 100));
    storage->WriteStream("Extra.bin", extra);
    if (storage->StreamCount() > 1) storage->DeleteStream(storage->GetStreamName(0));
    if (storage->StreamCount() > 1) storage->RenameStream(storage->GetStreamName(0), "Renamed with a longer name");
    const auto expect = Members(*storage);
    kdl::TMemoryStream saved;
    storage->SaveToStream(saved);
    kdl::TqxStorage reloaded;
    reloaded.LoadFromStream(saved);
    Check(Members(reloaded) == expect);
  }
  return 0;
}
