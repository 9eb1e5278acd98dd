// Reads arbitrary bytes as a shape string into a shape of a document whose
// archive holds the document's own parts and another shape's image. Any
// input must end in a shape or in our exception; no member that existed may
// change, and a failed load must leave no member behind.
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "FakeDocument.h"
#include "FuzzApplication.h"
#include "TestShapes.h"
#include "document/Startup.h"

namespace {

void Put(kdl::TqxStorage& storage, const std::string& name, const std::string& bytes) {
  kdl::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  storage.WriteStream(name, s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready =
      (EnsureApplication(), kdl::InitializeDocumentLibrary(), kdl::testing::RegisterTestShapes(), true);
  (void)ready;
  kdl::testing::FakeDocument doc;
  kdl::TqxStorage& archive = *doc.Storage();
  Put(archive, "Index.xml", "<document/>");
  Put(archive, "Page0001.xml", "<page/>");
  Put(archive, "Thumb0001.bmp", "BM");
  Put(archive, "Fonts.dat", "fonts");
  Put(archive, "TMP0000001.png", "another shape's image");
  Put(archive, "C:\\cover.jpg", "cover");
  const auto before = kdl::testing::AllMembers(archive);

  kdl::TdtpShape root;
  root.SetDocument(&doc);
  auto owned = std::make_unique<kdl::testing::MemberShape>();
  kdl::testing::MemberShape& shape = *owned;
  root.AddShape(std::move(owned));
  bool failed = false;
  try {
    shape.LoadFromString(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const kdl::Exception&) {
    failed = true;
  }
  const auto after = kdl::testing::AllMembers(archive);
  for (const auto& [name, bytes] : before) {
    const auto it = after.find(name);
    if (it == after.end() || it->second != bytes) std::abort();
  }
  if (failed && after.size() != before.size()) std::abort();
  // Whatever loaded can be written again.
  (void)root.SaveToString();
  return 0;
}
