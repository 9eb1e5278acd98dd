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

// Strict UTF-8: no overlong forms, surrogates, values past U+10FFFF or cut
// sequences. A U+FEFF at the start is a character like any other; the
// caller has already taken the file's own byte-order mark away.
bool IsValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    const unsigned lead = *p++;
    if (lead < 0x80) continue;
    int more = 0;
    char32_t c = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3, c = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (end - p < more) return false;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      c = c << 6 | (*p & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  }
  return true;
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
  // A byte-order mark promises UTF-8 but proves nothing: the rest is
  // checked like a file without one.
  if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  if (IsValidUtf8(bytes)) {
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
