#include "document/resources/ArchiveMembers.h"

#include <cstring>
#include <vector>

#include "foundation/Storage.h"

namespace kdl {

bool MemberHoldsBytes(TqxStorage& storage, const std::string& name, TStream& stream) {
  const int index = storage.IndexOfStream(name);
  if (index < 0) return false;
  const std::int64_t size = stream.Size();
  if (storage.Items()[static_cast<std::size_t>(index)].Size != size) return false;
  TMemoryStream member;
  storage.ReadStream(name, member);
  const auto* bytes = static_cast<const unsigned char*>(member.Memory());
  // Compared block by block, so a large stream is never copied whole.
  std::vector<unsigned char> block(65536);
  stream.SetPosition(0);
  bool same = true;
  for (std::int64_t at = 0; same && at < size;) {
    const std::int64_t n = stream.Read(block.data(), static_cast<std::int64_t>(block.size()));
    if (n <= 0) return false;
    same = std::memcmp(block.data(), bytes + at, static_cast<std::size_t>(n)) == 0;
    at += n;
  }
  stream.SetPosition(0);
  return same;
}

}  // namespace kdl
