// Reads arbitrary bytes as XML the general way: from a file and through the
// transcoding streams, with the event hooks set, a stop requested part way,
// and the settings SkipComments and StrictRoot taken from the first byte.
#include <cstdint>
#include <fstream>
#include <string>

#include "foundation/BrenlowXml.h"
#include "foundation/CodecStream.h"
#include "platform/TempFiles.h"

namespace {

// At most this many characters are taken through a transcoding stream.
constexpr int kMaxChars = 1 << 16;

template <class Codec>
std::string Transcode(const std::uint8_t* data, std::size_t size) {
  kdl::TMemoryStream inner;
  if (size > 0) inner.WriteBuffer(data, static_cast<std::int64_t>(size));
  inner.Seek(0, kdl::soBeginning);
  Codec codec(&inner);
  std::string text;
  try {
    for (int i = 0; i < kMaxChars; ++i) {
      const char c = codec.ReadChar();
      if (c == 0) break;
      text.push_back(c);
    }
  } catch (const kdl::Exception&) {
  }
  return text;
}

void Configure(kdl::TBrenlowXml& doc, std::uint8_t flags, int& nodes) {
  doc.SetSkipComments(flags & 1);
  doc.SetStrictRoot(flags & 2);
  doc.SetUtf8Strings(flags & 4);
  const int stopAfter = flags >> 3;  // 0 never
  doc.OnNodeStarted = [&nodes, stopAfter](kdl::TBrenlowXml& sender, kdl::TXmlNode&) {
    if (++nodes == stopAfter) sender.SetStopRequested(true);
  };
  doc.OnNodeFinished = [](kdl::TBrenlowXml&, kdl::TXmlNode& node) { (void)node.GetAttributeCount(); };
  doc.OnStreamProgress = [](kdl::TBrenlowXml&, std::int64_t) {};
  doc.OnCharLost = [](kdl::TBrenlowXml&) {};
}

template <class Load>
void Try(std::uint8_t flags, Load load) {
  kdl::TBrenlowXml doc;
  int nodes = 0;
  Configure(doc, flags, nodes);
  try {
    load(doc);
    (void)doc.WriteToString();
  } catch (const kdl::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kdl::TTempFile file("fuzzxmlcodec");
  const std::uint8_t flags = size > 0 ? data[0] : 0;
  {
    std::ofstream out(file.Path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  Try(flags, [&](kdl::TBrenlowXml& doc) { doc.LoadFromFile(file.Path()); });

  // The same bytes through each transcoding stream, then read as text.
  const std::string ansi = Transcode<kdl::TqxAnsiStream>(data, size);
  const std::string utf8 = Transcode<kdl::TqxUtf8Stream>(data, size);
  Try(flags, [&](kdl::TBrenlowXml& doc) {
    kdl::TqxStringStream s(ansi);
    doc.ReadFromStream(s);
  });
  Try(flags | 4, [&](kdl::TBrenlowXml& doc) {
    kdl::TqxStringStream s(utf8);
    doc.ReadFromStream(s);
  });
  return 0;
}
