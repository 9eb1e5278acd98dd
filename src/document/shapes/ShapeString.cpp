// The shape string: the archive members a shape uses, with their bytes, and
// its XML with root "shape". It copies shapes within and between documents
// and arrives from the clipboard, so reading it trusts nothing: every count
// and length is checked against the bytes left, and no member that exists
// already is ever changed.
#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string_view>
#include <utility>

#include "document/shapes/DocumentServices.h"
#include "document/shapes/MemberNames.h"
#include "document/shapes/Shape.h"
#include "document/shapes/ShapeString.h"
#include "document/shapes/ShapeValues.h"
#include "foundation/BrenlowXml.h"
#include "foundation/Storage.h"

namespace kdl {

namespace {

// Reads bytes in place, without copying them first.
class TViewStream : public TStream {
 public:
  explicit TViewStream(std::string_view bytes) : bytes_(bytes) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    const std::int64_t n = std::clamp<std::int64_t>(Size() - position_, 0, std::max<std::int64_t>(count, 0));
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
    position_ = std::clamp<std::int64_t>(base + offset, 0, Size());
    return position_;
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }
  // The next count bytes, checked against what is left.
  std::string_view Take(std::int64_t count) {
    if (count < 0 || count > Size() - position_) throw EShapeDataError(kInvalidShapeData);
    const std::string_view out = bytes_.substr(static_cast<std::size_t>(position_), static_cast<std::size_t>(count));
    position_ += count;
    return out;
  }

 private:
  std::string_view bytes_;
  std::int64_t position_ = 0;
};

// Writes into a string from a base offset on, so members and XML go
// straight into the result.
class TStringSinkStream : public TStream {
 public:
  explicit TStringSinkStream(std::string& out) : out_(out), base_(out.size()) {}
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (count <= 0) return 0;
    const auto at = static_cast<std::size_t>(base_ + position_);
    const auto n = static_cast<std::size_t>(count);
    if (at + n > out_.size()) out_.resize(at + n);
    std::memcpy(out_.data() + at, buffer, n);
    position_ += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
    position_ = std::max<std::int64_t>(base + offset, 0);
    return position_;
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(out_.size() - base_); }
  void SetSize(std::int64_t size) override { out_.resize(base_ + static_cast<std::size_t>(size)); }

 private:
  std::string& out_;
  std::size_t base_;
  std::int64_t position_ = 0;
};

void AppendInt(std::string& out, std::int64_t value) {
  if (value < INT32_MIN || value > INT32_MAX) throw EShapeDataError(kInvalidShapeData);
  TStringSinkStream sink(out);
  WriteStreamInt(sink, static_cast<std::int32_t>(value));
}

std::int32_t TakeInt(TViewStream& in) {
  const std::string_view b = in.Take(4);
  return static_cast<std::int32_t>(
      std::uint32_t{static_cast<unsigned char>(b[0])} |
      std::uint32_t{static_cast<unsigned char>(b[1])} << 8 |
      std::uint32_t{static_cast<unsigned char>(b[2])} << 16 |
      std::uint32_t{static_cast<unsigned char>(b[3])} << 24);
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  const std::size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return name.substr(dot);
}

bool MemberEquals(TqxStorage& storage, const std::string& name, std::string_view bytes) {
  const int index = storage.IndexOfStream(name);
  if (index < 0 || storage.Items()[static_cast<std::size_t>(index)].Size !=
                       static_cast<std::int64_t>(bytes.size()))
    return false;
  TMemoryStream member;
  storage.ReadStream(name, member);
  return bytes.empty() || std::memcmp(member.Memory(), bytes.data(), bytes.size()) == 0;
}

// Points every "ArchiveName" element that names a renamed member at its new
// name.
void RenameArchiveNames(TXmlNode& node, const std::vector<std::pair<std::string, std::string>>& renamed) {
  for (int i = 0; i < node.GetChildCount(); ++i) {
    TXmlNode& child = *node.GetChild(i);
    if (child.Kind() != ntElement) continue;
    if (child.Name() == "ArchiveName") {
      const std::string value = Lower(child.GetValueText());
      for (const auto& [from, to] : renamed)
        if (Lower(from) == value) {
          child.SetValueText(to);
          break;
        }
    }
    RenameArchiveNames(child, renamed);
  }
}

struct TEntry {
  std::string Name;
  std::string_view Bytes;
};

}  // namespace

std::string WriteStoredString(TqxStorage* storage, const std::function<std::vector<std::string>()>& names,
                              const char* root, const std::function<void(TXmlNode*)>& save) {
  // The XML first: writing it stores a resource's unsaved bytes (a picture
  // just loaded from a file) in the archive and may name its member, and a
  // copy taken before that would carry no bytes.
  TBrenlowXml xml(root);
  save(xml.Root());
  const std::vector<std::string> members = storage && names ? names() : std::vector<std::string>{};

  // The XML text on its own first, so that the string is made at its final
  // size and a picture's bytes in it are never moved to a larger one.
  std::string text;
  {
    TStringSinkStream sink(text);
    xml.SaveToStream(sink);
  }

  std::vector<std::int64_t> sizes;
  std::size_t total = 8 + text.size();
  for (const std::string& name : members) {
    const int index = storage->IndexOfStream(name);
    sizes.push_back(index < 0 ? 0 : storage->Items()[static_cast<std::size_t>(index)].Size);
    total += 8 + name.size() + static_cast<std::size_t>(sizes.back());
  }
  std::string out;
  out.reserve(total);
  AppendInt(out, static_cast<std::int64_t>(members.size()));
  for (std::size_t i = 0; i < members.size(); ++i) {
    AppendInt(out, static_cast<std::int64_t>(members[i].size()));
    out += members[i];
    AppendInt(out, sizes[i]);
    if (sizes[i] > 0) {
      TStringSinkStream sink(out);
      storage->ReadStream(members[i], sink);
    }
  }

  AppendInt(out, static_cast<std::int64_t>(text.size()));
  out += text;
  return out;
}

void ReadStoredString(std::string_view data, TqxStorage* storage, const char* root,
                      const std::function<void(TXmlNode*)>& load) {
  // 1. Read and check the whole string before anything changes.
  TViewStream in(data);
  std::vector<TEntry> entries;
  TBrenlowXml xml;
  try {
    const std::int32_t count = TakeInt(in);
    // Each entry needs at least its two lengths.
    if (count < 0 || count > (in.Size() - in.Position()) / 8) throw EShapeDataError(kInvalidShapeData);
    entries.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
      TEntry entry;
      entry.Name = std::string(in.Take(TakeInt(in)));
      entry.Bytes = in.Take(TakeInt(in));
      entries.push_back(std::move(entry));
    }
    TViewStream xmlBytes(in.Take(TakeInt(in)));
    xml.LoadFromStream(xmlBytes);
    if (!xml.Root() || (root && xml.Root()->Name() != root)) throw EShapeDataError(kInvalidShapeData);
  } catch (const EShapeDataError&) {
    throw;
  } catch (const std::exception&) {
    throw EShapeDataError(kInvalidShapeData);
  }

  // 2. Members: an existing one is never changed. A structural name, an
  // existing temporary name (a copy must not share its original's member)
  // or an existing name with other bytes is stored under a fresh name.
  std::vector<std::string> written;
  std::vector<std::pair<std::string, std::string>> renamed;
  std::set<std::string> seen;
  auto rollBack = [&] {
    for (const std::string& name : written) storage->DeleteStream(name);
  };
  try {
    if (storage) {
      for (const TEntry& entry : entries) {
        if (entry.Name.empty() || entry.Bytes.empty() || !seen.insert(Lower(entry.Name)).second)
          continue;
        const bool exists = storage->StreamExists(entry.Name);
        std::string target = entry.Name;
        // Names the document keeps for itself are never taken over by a shape.
        if (IsStructuralMemberName(entry.Name) ||
            (exists && (TqxStorage::IsTempStreamName(entry.Name) ||
                        !MemberEquals(*storage, entry.Name, entry.Bytes)))) {
          target = storage->MakeUniqueTempName(ExtensionOf(entry.Name));
          renamed.emplace_back(entry.Name, target);
        } else if (exists) {
          continue;  // the same bytes under the same name: shared as they are
        }
        TViewStream bytes(entry.Bytes);
        storage->WriteStream(target, bytes);
        written.push_back(target);
      }
      if (!renamed.empty()) RenameArchiveNames(*xml.Root(), renamed);
    }

    // 3. The object itself.
    load(xml.Root());
  } catch (...) {
    if (storage) rollBack();
    throw;
  }
}

std::string TdtpShape::SaveToString() {
  return WriteStoredString(
      GetStorage(),
      [this] {
        std::vector<std::string> names;
        GetResourceNames(names);
        return names;
      },
      "shape", [this](TXmlNode* root) { SaveToXml(root); });
}

void TdtpShape::LoadFromString(std::string_view data) {
  if (data.empty()) return;
  ReadStoredString(data, GetStorage(), "shape", [this](TXmlNode* root) {
    // Reading records nothing for undo.
    TLoadScope loading(*this);
    LoadFromXml(root);
    Loaded();
  });
  // Margins are not in the XML.
  UpdateAll();
}

}  // namespace kdl
