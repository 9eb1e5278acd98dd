// Reads arbitrary text into a node that already sits in a document, at a
// depth, as a caller that parses one fragment does; the fragment is then
// written and read again.
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/BrenlowXml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  kdl::TBrenlowXml doc("Root");
  doc.SetUtf8Strings(data[0] & 1);
  kdl::TXmlNode* node = doc.Root();
  for (int depth = data[0] >> 5; depth > 0; --depth) node = node->AddNewChild("Level");
  node->AddAttribute("kept", "until the read");
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    node->ReadFromString(text);
  } catch (const kdl::Exception&) {
    return 0;
  }
  for (int i = 0; i < node->GetAttributeCount(); ++i) (void)node->GetAttributeValue(i);
  try {
    const std::string again = node->WriteToString();
    kdl::TXmlNode* copy = doc.Root()->AddNewChild("Copy");
    copy->ReadFromString(again);
  } catch (const kdl::Exception&) {
  }
  return 0;
}
