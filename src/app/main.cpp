// Entry point of the label designer.
#include <QApplication>
#include <QLocale>
#include <QMainWindow>
#include <QString>

#include "app/ApplicationSetup.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "kdl/Version.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  kdl::InitializeDocumentLibrary();
  kdl::RegisterApplicationShapeClasses();
  QApplication::setOrganizationName(kdl::version::CompanyName);
  QApplication::setApplicationName(kdl::version::ProductName);
  QApplication::setApplicationVersion(kdl::version::ProductVersion);
  kdl::SetApplicationFont();
  kdl::InstallQtTranslations(QLocale::system());

  QMainWindow window;
  window.setWindowTitle(QString("%1 %2").arg(kdl::version::ProductName,
                                             kdl::version::ProductVersion));
  window.setMinimumSize(920, 635);
  window.resize(920, 635);
  window.show();
  const int result = QApplication::exec();
  kdl::FinalizeDocumentLibrary();
  return result;
}
