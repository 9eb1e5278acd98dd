// Pastes arbitrary bytes as clipboard text into a document whose archive
// holds the document's own parts and an image shape's member, undoes the
// paste and saves. Any input must end in pasted shapes or in nothing, never
// in an exception, a crash or a message: the existing members stay byte for
// byte, every member added belongs to a pasted shape, and no file appears
// in the scratch folder that the seeds' external images name.
#include <QApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestShapes.h"
#include "document/Startup.h"
#include "document/kinds/BitmapShape.h"
#include "document/resources/BitmapResource.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/Storage.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/MessageBox.h"
#include "raster/Bitmap32.h"

namespace {

// The seeds' external images point into this folder, which never exists.
constexpr const char* kScratchFolder = "/tmp/kdl-paste-scratch";

void MakeApplication() {
  if (QCoreApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char arg0[] = "paste_selection";
  static char* argv[] = {arg0, nullptr};
  // Never destroyed: Qt's statics may go first at exit.
  new QApplication(argc, argv);
}

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// Names compare as the archive compares them.
std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

void CheckKept(const std::map<std::string, std::string>& before,
               const std::map<std::string, std::string>& after) {
  for (const auto& [name, bytes] : before) {
    const auto it = after.find(name);
    if (it == after.end() || it->second != bytes) Fail("an existing member changed");
  }
}

void CheckMembers(kdl::TdtpDocument& doc, const std::map<std::string, std::string>& before) {
  const auto after = kdl::testing::AllMembers(*doc.Storage());
  CheckKept(before, after);
  std::set<std::string> used;
  std::vector<std::string> names;
  for (int i = 0; i < doc.ShapeCount(); ++i) doc.GetShape(i)->GetResourceNames(names);
  for (const std::string& name : names) used.insert(Lower(name));
  for (const auto& [name, bytes] : after)
    if (!before.count(name) && !used.count(Lower(name))) Fail("a member nothing refers to");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (MakeApplication(), kdl::InitializeDocumentLibrary(), true);
  (void)ready;
  static std::vector<std::string> messages;
  kdl::SetMessageDisplay([](const std::string& text) { messages.push_back(text); });
  // A picture that does not decode is reported by the paint, and that is all.
  kdl::SetErrorDisplay([](const std::string&) {});
  messages.clear();

  kdl::TdtpDocument doc;
  doc.SetUseClipboard(false);
  auto owned = std::make_unique<kdl::TdtpBitmapShape>();
  kdl::TdtpBitmapShape& image = *owned;
  doc.AddShape(std::move(owned));
  image.SetStorageKind(kdl::rsArchive);
  kdl::TBitmap32 picture;
  picture.SetSize(4, 3);
  picture.Clear(0xFF336699);
  image.Image().SetBitmap(&picture);
  doc.ClearUndo();
  const auto before = kdl::testing::AllMembers(*doc.Storage());

  const std::string text(reinterpret_cast<const char*>(data), size);
  int pasted = 0;
  try {
    // One action, as Paste makes it, so that one Undo takes it back.
    doc.BeginUndo();
    pasted = doc.PasteFromString(text);
    doc.EndUndo();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "paste raised: %s\n", e.what());
    std::abort();
  }
  if (pasted != doc.ShapeCount() - 1) Fail("the count is not what was added");
  CheckMembers(doc, before);

  try {
    // Painting reads every pasted image; saving writes what changed.
    doc.resize(400, 300);
    doc.grab();
    doc.Undo();
    if (doc.ShapeCount() != 1) Fail("undo left pasted shapes");
    if (!messages.empty()) Fail("undo found a record nobody owns");
    // A member the copy brought under its own name may stay: other shapes
    // may share such a name, so deleting a shape keeps it.
    CheckKept(before, kdl::testing::AllMembers(*doc.Storage()));
    kdl::TMemoryStream out;
    doc.SaveToStream(out);
  } catch (const kdl::Exception& e) {
    std::fprintf(stderr, "after the paste: %s\n", e.what());
    std::abort();
  }
  std::error_code ec;
  if (std::filesystem::exists(kScratchFolder, ec)) Fail("a file appeared in the scratch folder");
  kdl::SetMessageDisplay(nullptr);
  return 0;
}
