// Opens arbitrary bytes as a document file, visits every page, renders a
// thumbnail, saves to memory and opens what it saved. Any input must end in
// our exception or in a document; a document we saved must open again.
// Opening touches nothing outside the document: the seeds name image files
// in a scratch folder that must look the same after every input, and a load
// that fails leaves no new member that nothing refers to.
#include <QApplication>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "document/Startup.h"
#include "document/resources/BitmapResource.h"
#include "document/shapes/MemberNames.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/Storage.h"
#include "foundation/Stream.h"

namespace {

// The folder the seeds' image paths point into.
constexpr const char* kScratchFolder = "/tmp/kdl-document-load-scratch";

// Everything under the scratch folder, or nothing when it is absent.
std::set<std::string> ScratchListing() {
  std::set<std::string> names;
  std::error_code ec;
  if (!std::filesystem::exists(kScratchFolder, ec)) return names;
  names.insert(".");
  for (auto it = std::filesystem::recursive_directory_iterator(kScratchFolder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    names.insert(it->path().string());
  }
  return names;
}

void CheckScratchFolder(const std::set<std::string>& before) {
  if (ScratchListing() == before) return;
  std::fprintf(stderr, "a document created files under %s\n", kScratchFolder);
  std::abort();
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// After a failed load every member came from the file, is the document's
// own or is named by what was read.
void CheckNoNewOrphans(kdl::TdtpDocument& doc, const std::uint8_t* data, std::size_t size) {
  kdl::TqxStorage input;
  try {
    kdl::TMemoryStream in;
    in.WriteBuffer(data, static_cast<std::int64_t>(size));
    in.Seek(0, kdl::soBeginning);
    input.LoadFromStream(in);
  } catch (const kdl::Exception&) {
    return;  // Not an archive: the load wrote nothing either.
  }
  kdl::TqxStorage* storage = doc.Storage();
  if (!storage) return;
  std::vector<std::string> named;
  {
    kdl::TResourcesLock lock;
    doc.DefaultBackground()->GetArchiveNames(named);
    for (int i = 0; i < doc.PageCount(); ++i) {
      const kdl::TdtpPage* page = doc.GetPage(i);
      if (page->IsLoaded()) page->GetResourceNames(named);
    }
  }
  for (int i = 0; i < storage->StreamCount(); ++i) {
    const std::string name = storage->GetStreamName(i);
    if (input.StreamExists(name) || kdl::IsStructuralMemberName(name)) continue;
    if (std::any_of(named.begin(), named.end(), [&](const std::string& n) { return SameName(n, name); })) continue;
    std::fprintf(stderr, "a failed load left the member \"%s\" that nothing names\n", name.c_str());
    std::abort();
  }
}

void MakeApplication() {
  if (QCoreApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char arg0[] = "document_load";
  static char* argv[] = {arg0, nullptr};
  // Never destroyed: Qt's statics may go first at exit.
  new QApplication(argc, argv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (MakeApplication(), kdl::InitializeDocumentLibrary(), true);
  (void)ready;
  static const std::set<std::string> scratchBefore = ScratchListing();
  struct TScratchCheck {
    ~TScratchCheck() { CheckScratchFolder(scratchBefore); }
  } scratchCheck;
  kdl::TdtpDocument doc;
  kdl::TMemoryStream in;
  in.WriteBuffer(data, static_cast<std::int64_t>(size));
  in.Seek(0, kdl::soBeginning);
  try {
    doc.LoadFromStream(in);
  } catch (const kdl::Exception&) {
    CheckNoNewOrphans(doc, data, size);
    return 0;
  }
  for (int i = 0; i < doc.PageCount(); ++i) {
    try {
      doc.SetCurrentPageIndex(i);
    } catch (const kdl::Exception&) {
      // An unreadable page stays empty; the others go on.
    }
  }
  if (kdl::TdtpPage* page = doc.GetPage(0)) {
    try {
      page->UpdateThumbnail();
    } catch (const kdl::Exception&) {
    }
  }
  kdl::TMemoryStream out;
  doc.ForceFullSave();
  try {
    doc.SaveToStream(out);
  } catch (const kdl::Exception& e) {
    std::fprintf(stderr, "save failed: %s\n", e.what());
    std::abort();
  }
  kdl::TdtpDocument reopened;
  out.Seek(0, kdl::soBeginning);
  try {
    reopened.LoadFromStream(out);
  } catch (const kdl::Exception& e) {
    std::fprintf(stderr, "our own file does not open: %s\n", e.what());
    std::abort();
  }
  if (reopened.PageCount() != doc.PageCount()) std::abort();
  return 0;
}
