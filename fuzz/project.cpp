// Opens arbitrary bytes as a label project and renders its page small and
// in a print band. Any input must end in a refused project or an opened one;
// nothing may crash, hang or exhaust memory (damaged crop rectangles, line
// ends and page sizes included).
#include <QApplication>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/project/DtpHelper.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "document/shapes/Rendering.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/qt/ErrorDisplay.h"
#include "raster/Bitmap32.h"

namespace {

void MakeApplication() {
  if (QCoreApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char arg0[] = "project";
  static char* argv[] = {arg0, nullptr};
  // Never destroyed: Qt's statics may go first at exit.
  new QApplication(argc, argv);
}

bool Setup() {
  MakeApplication();
  kdl::InitializeDocumentLibrary();
  kdl::RegisterApplicationShapeClasses();
  kdl::SetErrorDisplay([](const std::string&) {});
  return true;
}

// A file of the input's bytes, named once per process.
std::string InputFile(const std::uint8_t* data, std::size_t size) {
  static const std::string name =
      (std::filesystem::temp_directory_path() / ("kdl-fuzz-project-" + std::to_string(::getpid()) + ".ovx"))
          .string();
  std::ofstream(name, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = Setup();
  (void)ready;
  kdl::TdtpDocument doc;
  const std::string file = InputFile(data, size);
  const bool opened = kdl::OpenProject(doc, file);
  std::filesystem::remove(file);
  if (!opened) {
    if (kdl::HasPage(doc)) std::abort();
    return 0;
  }
  kdl::TdtpPage* page = doc.GetCurrentPage();
  if (!page) std::abort();
  try {
    page->UpdateThumbnail();
  } catch (const kdl::Exception&) {
  }
  // A band of a print at 150 dpi: the page's top left, 300 by 64 pixels.
  try {
    kdl::TBitmap32 band;
    band.SetSize(300, 64);
    band.Clear(0xFFFFFFFFu);
    kdl::TdtpPaintInfo info;
    info.Device = kdl::dtPrinter;
    info.Scale = info.RenderScale = 150 / 25.4f;
    page->Paint(band, {0, 0, 300 / info.Scale, 64 / info.Scale}, false, info);
  } catch (const kdl::Exception&) {
  }
  return 0;
}
