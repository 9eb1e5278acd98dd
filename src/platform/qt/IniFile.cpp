#include "platform/qt/IniFile.h"

#include <QByteArray>
#include <QString>

#include <fstream>
#include <iterator>

#include "platform/CodePage.h"

namespace kdl {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string Fold(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Blanks and control characters, as the classic Trim takes them; bytes of
// multi-byte UTF-8 sequences are all above 0x7F and stay.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Qt replaces every invalid sequence by U+FFFD, so only valid UTF-8 comes
// back byte for byte.
bool IsValidUtf8(std::string_view bytes) {
  const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return QString::fromUtf8(view).toUtf8() == view;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  const std::u16string wide = Cp1252ToWide(bytes);
  return QString::fromStdU16String(wide).toStdString();
}

}  // namespace

TMemIniFile::TMemIniFile(const std::filesystem::path& fileName) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec))
    throw EIniFileError("Cannot open the file \"" + fileName.string() + "\"");
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EIniFileError("Cannot open the file \"" + fileName.string() + "\"");
  // Read one byte past the limit, so that a file that grew since it was
  // looked at is refused too.
  std::string bytes(kMaxFileSize + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) throw EIniFileError("Cannot read the file \"" + fileName.string() + "\"");
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kMaxFileSize)
    throw EIniFileError("The file \"" + fileName.string() + "\" is larger than 1 MiB");
  *this = FromBytes(bytes);
}

TMemIniFile TMemIniFile::FromBytes(std::string_view bytes) {
  if (bytes.size() > kMaxFileSize) throw EIniFileError("The text is larger than 1 MiB");
  TMemIniFile ini;
  if (bytes.starts_with(kUtf8Bom)) {
    bytes.remove_prefix(kUtf8Bom.size());
    ini.Parse(bytes);
  } else if (IsValidUtf8(bytes)) {
    ini.Parse(bytes);
  } else {
    ini.Parse(Cp1252ToUtf8(bytes));
  }
  return ini;
}

void TMemIniFile::Parse(std::string_view text) {
  TSection* current = nullptr;  // null before the first section and inside a repeated one
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = Trim(text.substr(0, eol));  // a CR before the LF is a blank
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      // The first section of a name wins; a repeat of it is skipped whole.
      const auto [it, added] = sections_.try_emplace(Fold(Trim(line.substr(1, line.size() - 2))));
      current = added ? &it->second : nullptr;
      continue;
    }

    const std::size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) continue;
    current->try_emplace(Fold(key), Trim(line.substr(eq + 1)));  // the first key wins
  }
}

bool TMemIniFile::SectionExists(std::string_view section) const {
  return sections_.contains(Fold(section));
}

bool TMemIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return Find(section, key) != nullptr;
}

const std::string* TMemIniFile::Find(std::string_view section, std::string_view key) const {
  const auto s = sections_.find(Fold(section));
  if (s == sections_.end()) return nullptr;
  const auto k = s->second.find(Fold(key));
  return k == s->second.end() ? nullptr : &k->second;
}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view key,
                                    const std::string& defaultValue) const {
  const std::string* value = Find(section, key);
  return value ? *value : defaultValue;
}

}  // namespace kdl
