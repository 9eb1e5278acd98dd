// Opens arbitrary bytes as a document file, visits every page, renders a
// thumbnail, saves to memory and opens what it saved. Any input must end in
// our exception or in a document; a document we saved must open again.
#include <QApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "document/Startup.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/Stream.h"

namespace {

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
  kdl::TdtpDocument doc;
  kdl::TMemoryStream in;
  in.WriteBuffer(data, static_cast<std::int64_t>(size));
  in.Seek(0, kdl::soBeginning);
  try {
    doc.LoadFromStream(in);
  } catch (const kdl::Exception&) {
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
