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
#include "TestShapes.h"
#include "document/Startup.h"

namespace {

std::map<std::string, std::string> Members(kdl::TqxStorage& storage) {
  std::map<std::string, std::string> members;
  for (int i = 0; i < storage.StreamCount(); ++i) {
    const std::string name = storage.GetStreamName(i);
    kdl::TMemoryStream s;
    storage.ReadStream(name, s);
    members.emplace(name, std::string(static_cast<const char*>(s.Memory()),
                                      static_cast<std::size_t>(s.Size())));
  }
  return members;
}

void Put(kdl::TqxStorage& storage, const std::string& name, const std::string& bytes) {
  kdl::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  storage.WriteStream(name, s);
}

// Text shapes measure with the platform's fonts, which need an application.
void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char arg0[] = "fuzz";
  static char* argv[] = {arg0, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
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
  const auto before = Members(archive);

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
  const auto after = Members(archive);
  for (const auto& [name, bytes] : before) {
    const auto it = after.find(name);
    if (it == after.end() || it->second != bytes) std::abort();
  }
  if (failed && after.size() != before.size()) std::abort();
  // Whatever loaded can be written again.
  (void)root.SaveToString();
  return 0;
}
