#include "app/ApplicationSetup.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace kdl {

void SetApplicationFont() {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(11);
  QApplication::setFont(font);
}

bool InstallQtTranslations(const QLocale& locale) {
  // Owned by the application, which keeps it for the rest of the run.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace kdl
