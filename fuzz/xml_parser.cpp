// Loads raw bytes as an XML document, in both string forms, then writes the
// tree and reads it back and touches every value the way callers do.
#include <cstdint>
#include <string>

#include "foundation/BrenlowXml.h"

namespace {

void Visit(const kdl::TXmlNode& node) {
  (void)node.GetValueText();
  for (int i = 0; i < node.GetAttributeCount(); ++i) {
    (void)node.GetAttributeName(i);
    (void)node.GetAttributeValue(i);
  }
  // One look-up by name per node, through the index on large ones.
  if (const int n = node.GetAttributeCount(); n > 0) (void)node.GetAttribute(node.GetAttributeName(n - 1));
  try {
    (void)node.GetBinaryString();
  } catch (const kdl::Exception&) {
  }
  (void)node.ValueToFloat(0);
  (void)node.ValueToDateTime(0);
  for (int i = 0; i < node.GetChildCount(); ++i) Visit(*node.GetChild(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (bool utf8 : {false, true}) {
    kdl::TBrenlowXml doc;
    doc.SetUtf8Strings(utf8);
    kdl::TMemoryStream in;
    if (size > 0) in.WriteBuffer(data, static_cast<std::int64_t>(size));
    in.Seek(0, kdl::soBeginning);
    try {
      doc.LoadFromStream(in);
    } catch (const kdl::Exception&) {
      continue;
    }
    Visit(*doc.TopNodes());
    try {
      kdl::TMemoryStream out;
      doc.SaveToStream(out);
      const std::string text = doc.WriteToString();
      kdl::TBrenlowXml again;
      again.SetUtf8Strings(doc.Utf8Strings());
      again.ReadFromString(text);
    } catch (const kdl::Exception&) {
    }
  }
  return 0;
}
