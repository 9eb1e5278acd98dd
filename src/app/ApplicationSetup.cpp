#include "app/ApplicationSetup.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "kdl/Version.h"

namespace kdl {
namespace {

// Qt's font dialog matches the face it opens on by the translated style name
// ("Fett") against the untranslated names fontconfig lists ("Bold"), and so
// opens a bold text on the first face of the family, dropping its style as
// soon as the user changes only the size. The lists show fontconfig's names
// anyway, so the style names stay untranslated.
class TQtTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;
  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override {
    if (qstrcmp(context, "QFontDatabase") == 0) return {};
    return QTranslator::translate(context, sourceText, disambiguation, n);
  }
};

}  // namespace

void SetApplicationFont() {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(11);
  QApplication::setFont(font);
}

bool InstallQtTranslations(const QLocale& locale) {
  // One set at a time: a new language takes the previous one's place, and
  // a language Qt has none for leaves Qt's own English.
  static QPointer<QTranslator> installed;
  if (installed) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
  }
  if (!QCoreApplication::instance()) return false;
  // Owned by the application, which keeps it until the next language.
  auto* translator = new TQtTranslator(QCoreApplication::instance());
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  installed = translator;
  return QCoreApplication::installTranslator(translator);
}

void PrepareApplication() {
  InitializeDocumentLibrary();
  RegisterApplicationShapeClasses();
  QApplication::setOrganizationName(version::CompanyName);
  QApplication::setApplicationName(version::ProductName);
  QApplication::setApplicationVersion(version::ProductVersion);
  SetApplicationFont();
  InstallQtTranslations(QLocale::system());
}

}  // namespace kdl
