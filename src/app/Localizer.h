// The program's texts, looked up by section and key in the chosen language
// file (the folder "Languages" of the program folder, "<Language>.lng").
// A language text is never a format string: callers concatenate it or pass
// it as an argument.
#pragma once

#include <QLocale>
#include <QString>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/qt/IniFile.h"

namespace kdl {

class TLocalizer {
 public:
  static constexpr const char* kMissingText = "???";

  // Reads the whole file and only then replaces the loaded one, so that a
  // failed load raises EIniFileError and keeps the previous texts.
  void LoadFromFile(const std::filesystem::path& fileName);
  void Clear();
  bool Loaded() const { return file_ != nullptr; }

  // The value in UTF-8, or "???" when the file has none; with convert,
  // "\n" becomes CR LF. Without a loaded file the text is empty and
  // "Lang error" is reported, once until the next successful load.
  std::string GetString(std::string_view section, std::string_view key, bool convert = false);
  // The same for Qt widgets, whose line breaks are LF.
  QString Text(std::string_view section, std::string_view key, bool convert = false);

  static std::string ConvertNewLines(std::string_view text);

  // Look-ups that answered "???", so that tests can prove a window asks
  // only for keys the file has.
  std::size_t MissingCount() const { return missingCount_; }
  void ResetMissingCount() { missingCount_ = 0; }

  // Shows "Lang error"; a plain message box when unset.
  std::function<void()> OnLangError;

 private:
  std::unique_ptr<TMemIniFile> file_;
  std::size_t missingCount_ = 0;
  bool errorShown_ = false;
};

// The one localizer of the process.
TLocalizer& Localizer();

inline constexpr const char* kDefaultLanguage = "English";

// ProgramFolder()/"Languages".
std::filesystem::path LanguagesFolder();

// Base names of the regular files in folder whose names end in ".lng",
// sorted by name.
std::vector<std::string> ListLanguages(const std::filesystem::path& folder);

// The file of language in folder. A name that is not a plain file name
// (empty, "." or "..", holding "/", "\" or NUL) or that has no regular
// file there is replaced by "English" in language.
std::filesystem::path ResolveLanguageFile(const std::filesystem::path& folder,
                                          std::string& language);

// The locale of a language file's name, as Qt names languages in English
// ("German"); the C locale for a name Qt does not know.
QLocale LanguageLocale(std::string_view language);

// Resolves language in LanguagesFolder() and loads it into Localizer(),
// and Qt's own translations for its locale.
void LoadLanguage(std::string& language);

}  // namespace kdl
