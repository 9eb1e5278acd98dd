// An XML document: the top-level nodes, the settings that fix how nodes are
// read and written, and loading and saving in the supported encodings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/Encoding.h"
#include "foundation/Stream.h"
#include "foundation/XmlNode.h"

namespace kdl {

enum TBinaryFormat : std::uint8_t { bfBinHex = 0, bfBase64 = 1 };
enum TXmlLayout : std::uint8_t { xlIndented = 0, xlCompact = 1, xlLineFeeds = 2 };

// Deepest element nesting the parser accepts.
inline constexpr int kMaxXmlDepth = 1000;

// The process-wide settings that every new document starts from.
struct TXmlDefaults {
  std::string DeclaredEncoding = "windows-1252";
  std::string DeclaredVersion = "1.0";
  TTextEncoding StreamEncoding = teEightBit;
  TXmlLayout Layout = xlCompact;
  bool WriteDefaults = true;
  TBinaryFormat BinaryFormat = bfBase64;
  bool Utf8Strings = false;
  std::string IndentUnit = "  ";
  bool SkipComments = false;
  bool NoShortTags = false;
  bool SortedAttributes = false;
  bool StrictRoot = false;
  bool FloatExponentForm = true;
  int FloatDigits = 6;
};

// Changed only at start-up, before any document exists.
TXmlDefaults& XmlDefaults();
// The document library's start-up choice: UTF-8 declared, stored with a
// byte-order mark and held in strings; values equal to their default are
// not written.
void SetDocumentLibraryXmlDefaults();

class TBrenlowXml {
 public:
  TBrenlowXml();
  explicit TBrenlowXml(std::string_view rootName);
  virtual ~TBrenlowXml();
  TBrenlowXml(const TBrenlowXml&) = delete;
  TBrenlowXml& operator=(const TBrenlowXml&) = delete;

  virtual void Assign(const TBrenlowXml& source);
  virtual void Assign(const TXmlNode& source);
  void AssignIfSet(const TBrenlowXml* source) {
    if (source) Assign(*source);
  }
  // Defaults, then a declaration and an empty root, which is returned.
  virtual TXmlNode* Clear();
  virtual void ResetDefaults();
  virtual bool IsEmpty() const;
  TXmlNode* Root() const;
  TXmlNode* TopNodes() const { return topNodes_.get(); }
  std::string GetDeclaredEncoding() const;
  std::string GetDocLineBreak() const { return layout_ == xlIndented ? "\r\n" : "\n"; }

  // Bytes in any supported encoding; a load replaces the whole tree.
  virtual void LoadFromStream(TStream& stream);
  virtual void LoadFromFile(const std::filesystem::path& fileName);
  virtual void SaveToStream(TStream& stream);
  // Writes a temporary file and renames it over the target.
  virtual void SaveToFile(const std::filesystem::path& fileName);
  // Text in the document's own string form, without byte-order mark.
  virtual void ReadFromString(std::string_view text);
  virtual std::string WriteToString();
  virtual void ReadFromStream(TStream& stream);
  virtual void WriteToStream(TStream& stream);

  // ---- Settings ------------------------------------------------------------------
  bool StopRequested() const { return stopRequested_; }
  void SetStopRequested(bool v) { stopRequested_ = v; }
  TBinaryFormat BinaryFormat() const { return binaryFormat_; }
  void SetBinaryFormat(TBinaryFormat v) { binaryFormat_ = v; }
  bool SkipComments() const { return skipComments_; }
  void SetSkipComments(bool v) { skipComments_ = v; }
  TTextEncoding StreamEncoding() const { return streamEncoding_; }
  void SetStreamEncoding(TTextEncoding v) { streamEncoding_ = v; }
  bool FloatExponentForm() const { return floatExponentForm_; }
  void SetFloatExponentForm(bool v) { floatExponentForm_ = v; }
  int FloatDigits() const { return floatDigits_; }
  void SetFloatDigits(int v) { floatDigits_ = v; }
  bool StrictRoot() const { return strictRoot_; }
  void SetStrictRoot(bool v) { strictRoot_ = v; }
  const std::string& IndentUnit() const { return indentUnit_; }
  void SetIndentUnit(std::string v) { indentUnit_ = std::move(v); }
  bool NoShortTags() const { return noShortTags_; }
  void SetNoShortTags(bool v) { noShortTags_ = v; }
  bool Utf8Strings() const { return utf8Strings_; }
  void SetUtf8Strings(bool v) { utf8Strings_ = v; }
  bool WriteDefaults() const { return writeDefaults_; }
  void SetWriteDefaults(bool v) { writeDefaults_ = v; }
  TXmlLayout Layout() const { return layout_; }
  void SetLayout(TXmlLayout v) { layout_ = v; }
  bool SortedAttributes() const { return sortedAttributes_; }
  void SetSortedAttributes(bool v) { sortedAttributes_ = v; }

  std::function<void(TBrenlowXml& sender, TXmlNode& node)> OnNodeStarted;
  std::function<void(TBrenlowXml& sender, TXmlNode& node)> OnNodeFinished;
  std::function<void(TBrenlowXml& sender, std::int64_t position)> OnStreamProgress;
  std::function<void(TBrenlowXml& sender)> OnCharLost;

 private:
  friend class TXmlParser;
  struct LoadSource;
  // text lies in storage or in memory that outlives the parse; a redecode
  // puts its result into storage.
  void ParseTopLevel(std::string_view text, std::string& storage, LoadSource* source, std::size_t start = 0);
  void CheckStrictRoot() const;

  bool stopRequested_ = false;
  TBinaryFormat binaryFormat_ = bfBase64;
  bool skipComments_ = false;
  TTextEncoding streamEncoding_ = teEightBit;
  bool floatExponentForm_ = true;
  int floatDigits_ = 6;
  bool strictRoot_ = false;
  std::unique_ptr<TXmlNode> topNodes_;
  std::string indentUnit_ = "  ";
  bool noShortTags_ = false;
  bool utf8Strings_ = false;
  bool writeDefaults_ = true;
  TXmlLayout layout_ = xlCompact;
  bool sortedAttributes_ = false;
};

// Text of a document in its string form, decoded from bytes in an encoding.
// Used by loading; exposed for the codec tests.
struct TDecodedText {
  std::string Text;
  TTextEncoding Encoding = teEightBit;
  bool CharLost = false;
};
TDecodedText DecodeXmlBytes(std::string_view bytes, bool utf8Strings);
// Bytes of text in the document's string form, in an encoding, with the
// encoding's byte-order mark.
std::string EncodeXmlText(std::string_view text, TTextEncoding encoding, bool utf8Strings);

}  // namespace kdl
