#include "app/Localizer.h"

#include <QLocale>
#include <QMessageBox>

#include <algorithm>

#include "app/ApplicationSetup.h"
#include "platform/ProgramFolder.h"

namespace kdl {
namespace {

constexpr std::string_view kLanguageExtension = ".lng";

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool IsRegularFile(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec);
}

}  // namespace

void TLocalizer::LoadFromFile(const std::filesystem::path& fileName) {
  auto file = std::make_unique<TMemIniFile>(fileName);
  file_ = std::move(file);
  errorShown_ = false;
}

void TLocalizer::Clear() { file_.reset(); }

std::string TLocalizer::GetString(std::string_view section, std::string_view key, bool convert) {
  if (!file_) {
    // Every control of a window asks; one message is enough.
    if (!errorShown_) {
      errorShown_ = true;
      if (OnLangError) {
        OnLangError();
      } else {
        QMessageBox box(QMessageBox::NoIcon, QString(), QStringLiteral("Lang error"),
                        QMessageBox::Ok);
        box.exec();
      }
    }
    return {};
  }
  const std::string* value = file_->Find(section, key);
  if (!value) {
    ++missingCount_;
    return kMissingText;
  }
  return convert ? ConvertNewLines(*value) : *value;
}

QString TLocalizer::Text(std::string_view section, std::string_view key, bool convert) {
  QString text = QString::fromStdString(GetString(section, key, convert));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

std::string TLocalizer::ConvertNewLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += "\r\n";
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

TLocalizer& Localizer() {
  static TLocalizer instance;
  return instance;
}

std::filesystem::path LanguagesFolder() { return ProgramFolder() / "Languages"; }

std::vector<std::string> ListLanguages(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= kLanguageExtension.size() || !name.ends_with(kLanguageExtension)) continue;
    if (!IsRegularFile(it->path())) continue;
    names.push_back(name.substr(0, name.size() - kLanguageExtension.size()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::filesystem::path ResolveLanguageFile(const std::filesystem::path& folder,
                                          std::string& language) {
  if (IsPlainFileName(language)) {
    const std::filesystem::path file = folder / (language + std::string(kLanguageExtension));
    if (IsRegularFile(file)) return file;
  }
  language = kDefaultLanguage;
  return folder / (language + std::string(kLanguageExtension));
}

QLocale LanguageLocale(std::string_view language) {
  const QString name = QString::fromUtf8(language.data(), static_cast<qsizetype>(language.size()));
  for (int l = QLocale::AnyLanguage + 1; l <= QLocale::LastLanguage; ++l) {
    const auto value = static_cast<QLocale::Language>(l);
    if (QLocale::languageToString(value).compare(name, Qt::CaseInsensitive) == 0) return QLocale(value);
  }
  return QLocale::c();
}

void LoadLanguage(std::string& language) {
  Localizer().LoadFromFile(ResolveLanguageFile(LanguagesFolder(), language));
  // Qt's own texts (standard buttons, file dialogs, key names) follow.
  InstallQtTranslations(LanguageLocale(language));
}

}  // namespace kdl
