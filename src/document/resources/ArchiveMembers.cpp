#include "document/resources/ArchiveMembers.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "foundation/Storage.h"

namespace kdl {

namespace {

bool HasPrefix(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool HasSuffix(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && HasPrefix(s.substr(s.size() - suffix.size()), suffix);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number of prefix + four digits + extension; -1 for any other name.
int NumberedName(std::string_view n, std::string_view prefix, std::string_view extension) {
  if (n.size() != prefix.size() + 4 + extension.size() || !HasPrefix(n, prefix) || !HasSuffix(n, extension))
    return -1;
  int value = 0;
  for (const char c : n.substr(prefix.size(), 4)) {
    if (!IsDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

bool IsStructuralMemberName(const std::string& name) {
  const std::string_view n(name);
  if (n.size() == 9 && (HasPrefix(n, "index.xml") || HasPrefix(n, "fonts.dat"))) return true;
  if (HasPrefix(n, "thumb")) return true;
  // "Page" and a number, whatever follows: the page members and any name
  // an older reader could have counted as one.
  return HasPrefix(n, "page") &&
         (HasSuffix(n, ".xml") || (n.size() > 4 && (IsDigit(n[4]) || n[4] == '-')));
}

bool IsDocumentMemberName(const std::string& name) {
  const std::string_view n(name);
  if (n.size() == 9 && (HasPrefix(n, "index.xml") || HasPrefix(n, "fonts.dat"))) return true;
  return NumberedName(n, "page", ".xml") >= 0 || NumberedName(n, "thumb", ".bmp") >= 0;
}

int PageMemberNumber(const std::string& name) { return std::max(NumberedName(name, "page", ".xml"), 0); }

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
