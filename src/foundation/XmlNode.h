// One node of an XML tree. Properties of persistent objects are child
// elements whose text is the value, written and read by typed operations
// that take a default.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Stream.h"
#include "foundation/XmlValues.h"
#include "platform/FontStyles.h"

namespace kdl {

class TBrenlowXml;

enum TXmlNodeKind : std::uint8_t {
  ntElement = 0,
  ntComment = 1,
  ntCData = 2,
  ntDeclaration = 3,
  ntStylesheet = 4,
  ntDoctype = 5,
  ntDtdElement = 6,
  ntDtdAttList = 7,
  ntDtdEntity = 8,
  ntDtdNotation = 9,
  ntBang = 10,
  ntInstruction = 11,
  ntText = 12,
  ntRawTag = 13,
};

class TXmlNode;

// Memory for the small lists of nodes: XmlBlockSize rounds a request up to
// the size that TakeXmlBlock hands out and GiveXmlBlock takes back.
std::size_t XmlBlockSize(std::size_t bytes);
void* TakeXmlBlock(std::size_t size);
void GiveXmlBlock(void* p, std::size_t size) noexcept;

template <class T>
struct TXmlBlockAllocator {
  using value_type = T;
  TXmlBlockAllocator() = default;
  template <class U>
  TXmlBlockAllocator(const TXmlBlockAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / 2 / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(TakeXmlBlock(XmlBlockSize(n * sizeof(T))));
  }
  void deallocate(T* p, std::size_t n) noexcept { GiveXmlBlock(p, XmlBlockSize(n * sizeof(T))); }
  friend bool operator==(const TXmlBlockAllocator&, const TXmlBlockAllocator&) { return true; }
};

// References to nodes; owns nothing.
using TXmlNodeList = std::vector<TXmlNode*>;

// The fields of the GUI library's drawing objects as stored in XML.
using TXmlFontStyle = TFontStyles;
struct TXmlBrush {
  TColor Color = 0x00FFFFFF;
  int Style = 0;  // solid
  bool HasBitmap = false;
};
struct TXmlFont {
  std::string Name = "Arial";
  TColor Color = 0;
  int Size = 14;
  std::uint8_t Style = 0;  // TXmlFontStyle bits
};
struct TXmlPen {
  TColor Color = 0;
  int Mode = 4;  // copy
  int Style = 0;  // solid
  int Width = 1;
};

class TXmlNode {
 public:
  explicit TXmlNode(TBrenlowXml* document = nullptr) : document_(document) {}
  TXmlNode(TBrenlowXml* document, std::string_view name);
  TXmlNode(TBrenlowXml* document, std::string_view name, std::string_view value);
  TXmlNode(TBrenlowXml* document, TXmlNodeKind kind);
  virtual ~TXmlNode();
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;
  // Nodes come from a pool: a parsed page holds tens of thousands of them.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;

  // Deep copy; the copies belong to this node's document. Safe when source
  // lies inside this node's own subtree.
  virtual void Assign(const TXmlNode& source);
  virtual void Assign(const TBrenlowXml& source);
  // Empties name, value, attributes and children; kind and tag stay.
  virtual void Clear();

  TBrenlowXml* Document() const { return document_; }
  void SetDocument(TBrenlowXml* document) { document_ = document; }
  static void SetDocumentDeep(TXmlNode* node, TBrenlowXml* document);
  TXmlNodeKind Kind() const { return kind_; }
  void SetKind(TXmlNodeKind kind) { kind_ = kind; }
  const std::string& Name() const { return name_; }
  // Raises EXmlNodeError for a name holding TAB, LF, CR or space.
  void SetName(std::string_view name);
  TXmlNode* Parent() const { return parent_; }
  std::int32_t Tag() const { return tag_; }
  void SetTag(std::int32_t tag) { tag_ = tag; }
  // The value as it stands in the file (escaped). A long value read from a
  // file is kept beside the attributes until it is asked for here, so a
  // node shared between threads needs the same care as an attribute look-up.
  const std::string& ValueText() const {
    if (attributes_.hasValue()) TakeParsedValue();
    return valueText_;
  }
  void SetValueTextRaw(std::string text) {
    attributes_.dropValue();
    valueText_ = std::move(text);
  }
  std::string GetValueText() const;
  void SetValueText(std::string_view text);
  int GetDepth() const;

  // ---- Children -------------------------------------------------------------
  virtual int GetChildCount() const { return static_cast<int>(children_.size()); }
  virtual TXmlNode* GetChild(int index) const;
  // Appends the node and returns its index; nil gives -1.
  virtual int AddChild(std::unique_ptr<TXmlNode> node);
  // A node that has a parent is moved out of it, never shared. A node
  // without parent must be one released from its owner. Refused (-1): this
  // node or one of its ancestors, and a document's container.
  int AddChild(TXmlNode* node);
  virtual void InsertChild(int index, std::unique_ptr<TXmlNode> node);
  void InsertChild(int index, TXmlNode* node);
  virtual TXmlNode* AddNewChild(std::string_view name);
  virtual TXmlNode* InsertNewChild(int index, std::string_view name);
  virtual TXmlNode* FindChild(std::string_view name) const;
  virtual TXmlNode* FindOrAddChild(std::string_view name);
  virtual int IndexOfChild(std::string_view name) const;
  virtual int IndexOfChildFrom(std::string_view name, int start) const;
  int IndexOfChildNode(const TXmlNode* node) const;
  TXmlNode* FindChildOfKind(TXmlNodeKind kind) const;
  void FindChildren(std::string_view name, TXmlNodeList* list) const;
  virtual void DeleteChild(int index);
  int RemoveChild(TXmlNode* node);
  virtual std::unique_ptr<TXmlNode> ExtractChild(TXmlNode* node);
  virtual void DeleteSelf();
  virtual void ClearChildren();
  virtual bool IsBare() const;
  virtual bool IsEmpty() const;

  // ---- Attributes (raw lines Name=QuotedValue) ------------------------------
  void AddAttribute(std::string_view name, std::string_view value);
  void AddAttributeInt(std::string_view name, std::int64_t value);
  void AddAttributeLine(std::string line);
  int IndexOfAttribute(std::string_view name) const;
  virtual bool HasAttribute(std::string_view name) const { return IndexOfAttribute(name) >= 0; }
  int GetAttributeCount() const { return static_cast<int>(attributes_.size()); }
  std::string GetAttributeName(int index) const;
  // The unescaped value of the attribute at index; empty when out of range.
  std::string GetAttributeValue(int index) const;
  std::string GetAttributePair(int index) const;
  void SetAttributeByIndex(int index, std::string_view value);
  virtual void ClearAttributes();
  std::string GetAttribute(std::string_view name) const;
  virtual std::string GetAttributeText() const;

  // ---- Typed element values ---------------------------------------------------
  virtual bool ReadBool(std::string_view name, bool def) const;
  virtual std::int32_t ReadInteger(std::string_view name, std::int32_t def) const;
  virtual std::int64_t ReadInt64(std::string_view name, std::int64_t def) const;
  virtual double ReadFloat(std::string_view name, double def) const;
  // Raises EConvertError for a malformed value.
  virtual TColor ReadColor(std::string_view name, TColor def) const;
  virtual std::string ReadString(std::string_view name, std::string_view def) const;
  virtual std::u16string ReadWideString(std::string_view name, std::u16string_view def) const;
  virtual TDateTime ReadDateTime(std::string_view name, TDateTime def) const;
  virtual void ReadBrush(std::string_view name, TXmlBrush& brush) const;
  virtual void ReadFont(std::string_view name, TXmlFont& font) const;
  virtual void ReadPen(std::string_view name, TXmlPen& pen) const;

  virtual void WriteBool(std::string_view name, bool value, bool def);
  virtual void WriteInteger(std::string_view name, std::int32_t value, std::int32_t def);
  virtual void WriteInt64(std::string_view name, std::int64_t value, std::int64_t def);
  virtual void WriteFloat(std::string_view name, double value, double def);
  virtual void WriteDateTime(std::string_view name, TDateTime value, TDateTime def);
  virtual void WriteString(std::string_view name, std::string_view value, std::string_view def);
  virtual void WriteWideString(std::string_view name, std::u16string_view value,
                               std::u16string_view def);
  virtual void WriteHex(std::string_view name, std::int64_t value, std::int64_t def, int digits);
  virtual void WriteColor(std::string_view name, TColor value, TColor def);
  virtual void WriteBrush(std::string_view name, const TXmlBrush& brush);
  virtual void WriteFont(std::string_view name, const TXmlFont& font);
  virtual void WritePen(std::string_view name, const TXmlPen& pen);

  virtual bool ValueToBool(bool def) const;
  virtual std::int32_t ValueToInteger(std::int32_t def) const;
  virtual std::int64_t ValueToInt64(std::int64_t def) const;
  virtual double ValueToFloat(double def) const;
  virtual TDateTime ValueToDateTime(TDateTime def) const;

  virtual bool ReadAttributeBool(std::string_view name, bool def) const;
  virtual std::int32_t ReadAttributeInteger(std::string_view name, std::int32_t def) const;
  virtual std::int64_t ReadAttributeInt64(std::string_view name, std::int64_t def) const;
  virtual std::string ReadAttributeString(std::string_view name, std::string_view def) const;
  virtual void WriteAttributeBool(std::string_view name, bool value, bool def);
  virtual void WriteAttributeInteger(std::string_view name, std::int32_t value, std::int32_t def);
  virtual void WriteAttributeFloat(std::string_view name, double value, double def);
  virtual void WriteAttributeString(std::string_view name, std::string_view value,
                                    std::string_view def);

  // ---- Binary values ---------------------------------------------------------
  virtual void WriteBinary(const void* buffer, std::int64_t count);
  // Raises EFilerError when the value holds fewer than count bytes or a
  // character outside the format's alphabet.
  virtual void ReadBinary(void* buffer, std::int64_t count) const;
  virtual std::int64_t GetBinaryLength() const;
  std::string GetBinaryString() const;
  void SetBinaryString(std::string_view bytes);

  // ---- Text conversions --------------------------------------------------------
  std::string WideToDocText(std::u16string_view text) const;
  std::u16string DocTextToWide(std::string_view text) const;
  virtual std::string UnescapeText(std::string_view text) const;

  // ---- Parsing and writing of this node and its subtree ------------------------
  virtual void ReadFromStream(TStream& stream);
  virtual void ReadFromString(std::string_view text);
  virtual void WriteToStream(TStream& stream) const;
  virtual std::string WriteToString() const;

  // Settings of the document as this node sees them.
  bool DocWriteDefaults() const;
  bool DocUtf8Strings() const;
  std::string GetIndent() const;
  std::string GetLineBreak() const;
  bool IsShortTag() const;

 private:
  friend class TXmlParser;
  friend class TXmlWriter;

  bool WriteWanted(bool differs) const { return differs || DocWriteDefaults(); }
  std::string AttributeValueText(int index) const;
  // The escaped value wherever it is kept.
  std::string_view Value() const { return attributes_.hasValue() ? attributes_.value() : std::string_view(valueText_); }
  // A value read from a file: a long one goes beside the attributes, which
  // costs no allocation of its own.
  void SetParsedValue(std::string_view text);
  void TakeParsedValue() const;
  void InsertAttributeLine(std::string_view line);
  void CopyFrom(const TXmlNode& source);
  void SetValue(std::string_view name, std::string_view text);

  // Attribute lines, held out of line: most nodes have none, and a node of
  // 128 bytes fills exactly two cache lines. All lines of a node share one
  // pooled block (their ends, then their bytes), so that a parsed tag costs
  // no heap allocation however many attributes it has. The block's last
  // bytes may hold the node's value as parsed, until it is wanted as a
  // string. A node with many attributes also gets a hash index of their
  // names, built by the first look-up that needs it and dropped by any
  // change that moves a line.
  class TAttributeLines {
   public:
    TAttributeLines() = default;
    TAttributeLines(TAttributeLines&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
    TAttributeLines& operator=(TAttributeLines&& other) noexcept;
    ~TAttributeLines() { release(); }
    bool empty() const { return !block_ || block_->Count == 0; }
    std::size_t size() const { return block_ ? block_->Count : 0; }
    // Bytes of all lines together.
    std::size_t bytes() const { return block_ ? block_->Used : 0; }
    std::string_view operator[](std::size_t i) const {
      const std::uint32_t* ends = block_->Ends();
      const std::size_t from = i ? ends[i - 1] : 0;
      return {block_->Bytes() + from, ends[i] - from};
    }
    // Drops the lines; a value stays.
    void clear();
    // Drops lines and value.
    void release();
    bool hasValue() const { return block_ && block_->ValueSize != 0; }
    std::string_view value() const {
      return {block_->Bytes() + block_->ByteCapacity - block_->ValueSize, block_->ValueSize};
    }
    // text must not lie in this block.
    void setValue(std::string_view text);
    void dropValue();
    // Room for count lines more, of bytes in all.
    void reserve(std::size_t count, std::size_t bytes);
    // line must not lie in this list.
    void insert(std::size_t at, std::string_view line);
    void erase(std::size_t at);
    // The line keeps its name, so the index stays valid.
    void replace(std::size_t at, std::string_view line);
    // The first line of that name, or -1.
    int find(std::string_view name) const;

   private:
    struct TSlot {
      std::uint32_t Hash;
      std::int32_t Line;  // -1: empty
    };
    struct TIndex {
      std::vector<TSlot> Slots;  // open addressing, a power of two long
      std::size_t Indexed = 0;
    };
    struct TBlock {
      // Counts of lines and bytes; Grow refuses more than 32 bits hold.
      std::uint32_t Count, CountCapacity, Used, ByteCapacity, ValueSize;
      TIndex* Index;
      std::uint32_t* Ends() const { return reinterpret_cast<std::uint32_t*>(const_cast<TBlock*>(this) + 1); }
      char* Bytes() const { return reinterpret_cast<char*>(Ends() + CountCapacity); }
      std::size_t Size() const { return sizeof(TBlock) + CountCapacity * sizeof(std::uint32_t) + ByteCapacity; }
    };
    // A block with room for at least count lines of bytes in all beside
    // the value, holding the present lines and value.
    // Growth is by doubling, unless exact.
    void Grow(std::size_t count, std::size_t bytes, bool exact = false);
    void DropIndex() const;
    void BuildIndex() const;
    void IndexLine(std::size_t line) const;

    TBlock* block_ = nullptr;
  };

  // Small members last, so that a node fills as few cache lines as it can.
  mutable TAttributeLines attributes_;
  TBrenlowXml* document_ = nullptr;
  std::string name_;
  std::vector<std::unique_ptr<TXmlNode>, TXmlBlockAllocator<std::unique_ptr<TXmlNode>>> children_;
  TXmlNode* parent_ = nullptr;
  mutable std::string valueText_;
  std::int32_t tag_ = 0;
  TXmlNodeKind kind_ = ntElement;
  bool attributesSorted_ = false;
};

KDL_DECLARE_EXCEPTION(EXmlNodeError, Exception);

// Name comparison of child elements and attributes: case-insensitive.
bool SameXmlName(std::string_view a, std::string_view b);

// Attribute names compared by look-ups on this thread so far; tests read it
// to show that a look-up on a large node does not walk its attributes.
std::uint64_t XmlAttributeComparisons();

}  // namespace kdl
