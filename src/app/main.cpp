// Entry point of the label designer. The program takes no arguments.
#include <QApplication>

#include "app/ApplicationSetup.h"
#include "app/MainForm.h"
#include "document/Startup.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  kdl::PrepareApplication();

  int result = 1;
  {
    kdl::TMainForm form;
    // Without its templates the program has nothing to open projects from.
    if (form.Start()) {
      form.show();
      result = QApplication::exec();
    }
  }
  kdl::FinalizeDocumentLibrary();
  return result;
}
