// Feeds raw text to every value reader and checks the round trips that must
// hold for any input: escaping, and float text back to the same float.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/BrenlowXml.h"
#include "foundation/Encoding.h"
#include "foundation/XmlValues.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)kdl::TextToFloat(text);
  (void)kdl::TextToInt64(text);
  (void)kdl::TextToDateTimeDef(text, 0);
  (void)kdl::UnquoteText(text);
  (void)kdl::Utf8ToWide(text);
  (void)kdl::Utf8ToAnsiText(text);
  if (kdl::SanitizeUtf8(kdl::SanitizeUtf8(text)) != kdl::SanitizeUtf8(text)) std::abort();
  if (kdl::UnescapeTextUtf8(kdl::EscapeText(text)) != text) std::abort();
  if (kdl::UnescapeTextAnsi(kdl::EscapeText(text)) != text) std::abort();
  (void)kdl::UnescapeTextUtf8(text);
  (void)kdl::UnescapeTextAnsi(text);

  // Binary values as a node holds them, in both formats.
  kdl::TBrenlowXml doc("R");
  kdl::TXmlNode* node = doc.Root()->AddNewChild("B");
  node->SetValueTextRaw(text);
  for (kdl::TBinaryFormat format : {kdl::bfBinHex, kdl::bfBase64}) {
    doc.SetBinaryFormat(format);
    try {
      const std::int64_t n = node->GetBinaryLength();
      std::string bytes(static_cast<std::size_t>(n), '\0');
      node->ReadBinary(bytes.data(), n);
    } catch (const kdl::Exception&) {
    }
  }

  // A float32 written with nine digits reads back as the same float.
  if (size >= 4) {
    float f;
    std::memcpy(&f, data, 4);
    if (std::isfinite(f)) {
      const std::string t = kdl::FloatToText(f, 9, true);
      const auto back = kdl::TextToFloat(t);
      if (!back || static_cast<float>(*back) != f) std::abort();
    }
  }
  return 0;
}
