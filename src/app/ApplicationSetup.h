// What the application object gets before the first window: the one font
// the layout records are measured for, and Qt's own translations.
#pragma once

class QLocale;

namespace kdl {

// Liberation Sans at 11 pixels, a size that does not grow with the dpi, so
// that texts fit the fixed control sizes on every screen.
void SetApplicationFont();

// Installs Qt's translations for locale (the standard dialogs' buttons and
// captions) in place of those installed before; false, leaving Qt's
// English, when Qt ships none for it.
bool InstallQtTranslations(const QLocale& locale);

// What the program does once its application object exists: the document
// library's registrations, then the application's own shape classes, its
// names, its font and Qt's translations for the system's language.
void PrepareApplication();

}  // namespace kdl
