// Entry point of the label designer. The program takes no arguments.
#include <QApplication>
#include <QLocale>

#include "app/ApplicationSetup.h"
#include "app/MainForm.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "kdl/Version.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // The library's registrations, then the application's own shape classes.
  kdl::InitializeDocumentLibrary();
  kdl::RegisterApplicationShapeClasses();
  QApplication::setOrganizationName(kdl::version::CompanyName);
  QApplication::setApplicationName(kdl::version::ProductName);
  QApplication::setApplicationVersion(kdl::version::ProductVersion);
  kdl::SetApplicationFont();
  kdl::InstallQtTranslations(QLocale::system());

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
