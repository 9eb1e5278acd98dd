// Feeds raw bytes to the language file reader and checks what must hold for
// any input: names are found again without ASCII case, values come out as
// valid UTF-8 without blanks around them.
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/qt/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kdl::TMemIniFile ini;
  try {
    ini = kdl::TMemIniFile::FromBytes(bytes);
  } catch (const kdl::Exception&) {
    return 0;
  }
  // Look up every "[section]" and "key=" the input names, in both cases.
  std::string section;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    start = end + 1;
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key(line.substr(0, eq));
    for (std::string name : {key, QString::fromStdString(key).toUpper().toStdString()}) {
      const std::string* value = ini.Find(section, name);
      if (!value) continue;
      // A value may begin with U+FEFF, which QString::fromUtf8 would drop as
      // a byte-order mark: decode it as a character instead. Invalid or cut
      // sequences do not come back byte for byte.
      QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
      const QString text = decoder.decode(QByteArrayView(value->data(), static_cast<qsizetype>(value->size())));
      if (text.toUtf8().toStdString() != *value) std::abort();
      if (!value->empty() && (static_cast<unsigned char>(value->front()) <= ' ' ||
                              static_cast<unsigned char>(value->back()) <= ' '))
        std::abort();
    }
  }
  return 0;
}
