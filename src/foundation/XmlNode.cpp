#include "foundation/XmlNode.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>

#include "foundation/BrenlowXml.h"
#include "foundation/Encoding.h"

namespace kdl {

namespace {

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(Fold(a[i])), y = static_cast<unsigned char>(Fold(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string_view LineName(std::string_view line) {
  const auto eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

std::string ColorText(TColor color) {
  return HexText(static_cast<std::uint32_t>(ColorToRGB(color)), 8);
}

thread_local std::uint64_t tAttributeComparisons = 0;

// Nodes with fewer attributes are searched line by line.
constexpr std::size_t kIndexedAttributes = 16;

// FNV-1a over the names' folded bytes, so that it agrees with SameXmlName.
std::uint32_t NameHash(std::string_view name) {
  std::uint32_t h = 2166136261u;
  for (const char c : name) h = (h ^ static_cast<unsigned char>(Fold(c))) * 16777619u;
  return h;
}

}  // namespace

std::uint64_t XmlAttributeComparisons() { return tAttributeComparisons; }

bool SameXmlName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

// ---- Node pool ------------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
#define KDL_XML_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KDL_XML_ASAN 1
#endif
#endif

#ifdef KDL_XML_ASAN
extern "C" {
void __asan_poison_memory_region(void const volatile* addr, std::size_t size);
void __asan_unpoison_memory_region(void const volatile* addr, std::size_t size);
}
#endif

namespace {

// Fixed-size blocks for nodes, carved from 64 KB chunks that live as long as
// the process. Each thread keeps its own free list, so taking and giving back
// need no lock; a block freed on another thread simply joins that thread's
// list.
//
// Under AddressSanitizer the pool is off, so that the sanitizer sees every
// use after free, unless KDL_XML_NODE_POOL=1 asks for it: then free blocks
// are poisoned and wait in one locked first-in first-out queue, so that a
// node used after its release is still reported.
constexpr std::size_t kNodeBlock = (sizeof(TXmlNode) + alignof(std::max_align_t) - 1) /
                                   alignof(std::max_align_t) * alignof(std::max_align_t);
constexpr std::size_t kNodesPerChunk = 65536 / kNodeBlock;
constexpr std::size_t kLine = 64;

struct FreeBlock {
  FreeBlock* next;
};

#ifdef KDL_XML_ASAN
bool PoolOn() {
  static const bool on = [] {
    const char* v = std::getenv("KDL_XML_NODE_POOL");
    return v && std::string_view(v) == "1";
  }();
  return on;
}
std::mutex gPoisonedLock;
auto* const gPoisoned = new std::deque<void*>;  // never freed

void PushBlock(FreeBlock* b) {
  __asan_poison_memory_region(b, kNodeBlock);
  std::lock_guard<std::mutex> guard(gPoisonedLock);
  gPoisoned->push_back(b);
}
#else
constexpr bool PoolOn() { return true; }
thread_local FreeBlock* tFreeNodes = nullptr;

void PushBlock(FreeBlock* b) {
  b->next = tFreeNodes;
  tFreeNodes = b;
}
#endif

// Out of line, so that taking a block stays a few instructions.
[[gnu::noinline]] void GrowNodePool() {
  static std::mutex lock;
  static auto* chunks = new std::vector<std::unique_ptr<unsigned char[]>>;  // never freed
  unsigned char* base;
  {
    std::lock_guard<std::mutex> guard(lock);
    chunks->push_back(std::make_unique<unsigned char[]>(kNodeBlock * kNodesPerChunk + kLine));
    base = chunks->back().get();
  }
  // Blocks start on a cache line, so that a node spans no more lines than
  // its size needs.
  base += (kLine - reinterpret_cast<std::uintptr_t>(base) % kLine) % kLine;
  for (std::size_t i = kNodesPerChunk; i-- > 0;) PushBlock(reinterpret_cast<FreeBlock*>(base + i * kNodeBlock));
}

#ifdef KDL_XML_ASAN
void* TakeBlock() {
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(gPoisonedLock);
      // Keep a chunk's worth waiting, so that a freed block is not handed
      // out again at once.
      if (gPoisoned->size() > kNodesPerChunk) {
        void* b = gPoisoned->front();
        gPoisoned->pop_front();
        __asan_unpoison_memory_region(b, kNodeBlock);
        return b;
      }
    }
    GrowNodePool();
  }
}
#else
void* TakeBlock() {
  if (!tFreeNodes) GrowNodePool();
  FreeBlock* b = tFreeNodes;
  tFreeNodes = b->next;
  // Nodes are wanted in runs: start fetching the lines of the next one.
  if (FreeBlock* later = b->next) {
    __builtin_prefetch(later, 1);
    __builtin_prefetch(reinterpret_cast<const char*>(later) + kLine, 1);
  }
  return b;
}
#endif

}  // namespace

void* TXmlNode::operator new(std::size_t size) {
  if (size == sizeof(TXmlNode) && PoolOn()) return TakeBlock();
  return ::operator new(size);
}

void TXmlNode::operator delete(void* p, std::size_t size) noexcept {
  if (!p) return;
  if (size == sizeof(TXmlNode) && PoolOn()) {
    PushBlock(static_cast<FreeBlock*>(p));
  } else {
    ::operator delete(p);
  }
}

// ---- Construction -----------------------------------------------------------------

TXmlNode::TXmlNode(TBrenlowXml* document, std::string_view name) : document_(document) { SetName(name); }

TXmlNode::TXmlNode(TBrenlowXml* document, std::string_view name, std::string_view value)
    : document_(document) {
  SetName(name);
  SetValueText(value);
}

TXmlNode::TXmlNode(TBrenlowXml* document, TXmlNodeKind kind) : document_(document), kind_(kind) {}

TXmlNode::~TXmlNode() {
  // Newest first: the nodes parsed last are the ones still in the caches.
  while (!children_.empty()) children_.pop_back();
}

void TXmlNode::Clear() {
  name_.clear();
  valueText_.clear();
  attributes_.clear();
  children_.clear();
}

void TXmlNode::CopyFrom(const TXmlNode& source) {
  kind_ = source.kind_;
  name_ = source.name_;
  tag_ = source.tag_;
  valueText_ = source.valueText_;
  for (const std::string& line : source.attributes_) InsertAttributeLine(line);
  children_.reserve(source.children_.size());
  for (const auto& child : source.children_) {
    auto copy = std::make_unique<TXmlNode>(document_);
    copy->parent_ = this;
    copy->CopyFrom(*child);
    children_.push_back(std::move(copy));
  }
}

void TXmlNode::Assign(const TXmlNode& source) {
  if (&source == this) return;
  // Copy first: the source may lie inside this node's own subtree, which
  // Clear would free.
  TXmlNode copy(document_);
  copy.CopyFrom(source);
  Clear();
  kind_ = copy.kind_;
  name_ = std::move(copy.name_);
  tag_ = copy.tag_;
  valueText_ = std::move(copy.valueText_);
  attributes_ = std::move(copy.attributes_);
  attributesSorted_ = copy.attributesSorted_;
  children_ = std::move(copy.children_);
  for (auto& child : children_) child->parent_ = this;
}

void TXmlNode::Assign(const TBrenlowXml& source) { Assign(*source.TopNodes()); }

void TXmlNode::SetDocumentDeep(TXmlNode* node, TBrenlowXml* document) {
  if (!node) return;
  node->document_ = document;
  for (auto& child : node->children_) SetDocumentDeep(child.get(), document);
}

void TXmlNode::SetName(std::string_view name) {
  if (name == name_) return;
  bool blank = false;
  for (char c : name) blank |= c == ' ' || c == '\t' || c == '\n' || c == '\r';
  if (blank)
    throw EXmlNodeError("Illegal character in node name \"" + std::string(name) + "\"");
  name_.assign(name);
}

std::string TXmlNode::GetValueText() const { return UnescapeText(valueText_); }

void TXmlNode::SetValueText(std::string_view text) { valueText_ = EscapeText(text); }

int TXmlNode::GetDepth() const {
  int depth = -1;
  for (const TXmlNode* p = parent_; p; p = p->parent_) ++depth;
  return depth;
}

// ---- Children -----------------------------------------------------------------------

TXmlNode* TXmlNode::GetChild(int index) const {
  if (index < 0 || index >= GetChildCount()) return nullptr;
  return children_[static_cast<std::size_t>(index)].get();
}

int TXmlNode::AddChild(std::unique_ptr<TXmlNode> node) {
  if (!node) return -1;
  node->parent_ = this;
  // Property elements come in dozens: skip the smallest growth steps.
  if (children_.capacity() == 0) children_.reserve(8);
  children_.push_back(std::move(node));
  return static_cast<int>(children_.size()) - 1;
}

namespace {

// Takes a node for a new parent: moved out of its old parent, refused when
// it is the new parent or one of its ancestors.
std::unique_ptr<TXmlNode> Adopt(TXmlNode* node, const TXmlNode* newParent) {
  for (const TXmlNode* p = newParent; p; p = p->Parent())
    if (p == node) return nullptr;
  // A document owns its container of top-level nodes for good.
  if (node->Document() && node->Document()->TopNodes() == node) return nullptr;
  if (node->Parent()) return node->Parent()->ExtractChild(node);
  return std::unique_ptr<TXmlNode>(node);
}

}  // namespace

int TXmlNode::AddChild(TXmlNode* node) {
  if (!node) return -1;
  auto owned = Adopt(node, this);
  return owned ? AddChild(std::move(owned)) : -1;
}

void TXmlNode::InsertChild(int index, std::unique_ptr<TXmlNode> node) {
  if (!node || index < 0 || index > GetChildCount()) return;
  node->parent_ = this;
  children_.insert(children_.begin() + index, std::move(node));
}

void TXmlNode::InsertChild(int index, TXmlNode* node) {
  if (!node || index < 0 || index > GetChildCount()) return;
  // Moving within the same parent shifts the target index.
  if (node->parent_ == this && IndexOfChildNode(node) < index) --index;
  auto owned = Adopt(node, this);
  if (owned) InsertChild(index, std::move(owned));
}

TXmlNode* TXmlNode::AddNewChild(std::string_view name) {
  auto node = std::make_unique<TXmlNode>(document_, name);
  TXmlNode* raw = node.get();
  AddChild(std::move(node));
  return raw;
}

TXmlNode* TXmlNode::InsertNewChild(int index, std::string_view name) {
  if (index < 0 || index > GetChildCount()) return nullptr;
  auto node = std::make_unique<TXmlNode>(document_, name);
  TXmlNode* raw = node.get();
  InsertChild(index, std::move(node));
  return raw;
}

TXmlNode* TXmlNode::FindChild(std::string_view name) const {
  for (const auto& child : children_)
    if (SameXmlName(child->name_, name)) return child.get();
  return nullptr;
}

TXmlNode* TXmlNode::FindOrAddChild(std::string_view name) {
  TXmlNode* child = FindChild(name);
  return child ? child : AddNewChild(name);
}

int TXmlNode::IndexOfChild(std::string_view name) const { return IndexOfChildFrom(name, 0); }

int TXmlNode::IndexOfChildFrom(std::string_view name, int start) const {
  for (int i = std::max(start, 0); i < GetChildCount(); ++i)
    if (SameXmlName(children_[static_cast<std::size_t>(i)]->name_, name)) return i;
  return -1;
}

int TXmlNode::IndexOfChildNode(const TXmlNode* node) const {
  for (std::size_t i = 0; i < children_.size(); ++i)
    if (children_[i].get() == node) return static_cast<int>(i);
  return -1;
}

TXmlNode* TXmlNode::FindChildOfKind(TXmlNodeKind kind) const {
  for (const auto& child : children_)
    if (child->kind_ == kind) return child.get();
  return nullptr;
}

void TXmlNode::FindChildren(std::string_view name, TXmlNodeList* list) const {
  if (!list) return;
  list->clear();
  for (const auto& child : children_)
    if (SameXmlName(child->name_, name)) list->push_back(child.get());
}

void TXmlNode::DeleteChild(int index) {
  if (index < 0 || index >= GetChildCount()) return;
  children_.erase(children_.begin() + index);
}

int TXmlNode::RemoveChild(TXmlNode* node) {
  const int index = IndexOfChildNode(node);
  DeleteChild(index);
  return index;
}

std::unique_ptr<TXmlNode> TXmlNode::ExtractChild(TXmlNode* node) {
  const int index = IndexOfChildNode(node);
  if (index < 0) return nullptr;
  std::unique_ptr<TXmlNode> owned = std::move(children_[static_cast<std::size_t>(index)]);
  children_.erase(children_.begin() + index);
  owned->parent_ = nullptr;
  return owned;
}

void TXmlNode::DeleteSelf() {
  if (parent_) parent_->RemoveChild(this);  // frees this node: nothing may follow
}

void TXmlNode::ClearChildren() { children_.clear(); }

bool TXmlNode::IsBare() const { return valueText_.empty() && children_.empty() && attributes_.empty(); }

bool TXmlNode::IsEmpty() const { return name_.empty() && IsBare(); }

// ---- Attributes -------------------------------------------------------------------

void TXmlNode::InsertAttributeLine(std::string line) {
  // The list's order is decided when it comes into being.
  if (attributes_.empty()) attributesSorted_ = document_ && document_->SortedAttributes();
  if (!attributesSorted_) {
    attributes_.insert(attributes_.size(), std::move(line));
    return;
  }
  const auto at = std::upper_bound(attributes_.begin(), attributes_.end(), line,
                                   [](const std::string& a, const std::string& b) {
                                     return CompareNoCase(a, b) < 0;
                                   });
  attributes_.insert(static_cast<std::size_t>(at - attributes_.begin()), std::move(line));
}

void TXmlNode::AddAttributeLine(std::string line) { InsertAttributeLine(std::move(line)); }

void TXmlNode::AddAttribute(std::string_view name, std::string_view value) {
  std::string line(name);
  line += '=';
  line += QuoteText(EscapeText(value));
  InsertAttributeLine(std::move(line));
}

void TXmlNode::AddAttributeInt(std::string_view name, std::int64_t value) {
  AddAttribute(name, IntToText(value));
}

void TXmlNode::TAttributeLines::insert(std::size_t at, std::string line) {
  if (!lines_) lines_ = std::make_unique<TLines>();
  auto& lines = lines_->Lines;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  // An appended line joins the index; one put before others moves them.
  if (lines_->Index.empty()) return;
  if (at + 1 == lines.size()) IndexLine(at);
  else lines_->Index.clear();
}

void TXmlNode::TAttributeLines::BuildIndex() const {
  std::size_t capacity = 64;
  while (capacity < 2 * lines_->Lines.size()) capacity *= 2;
  lines_->Index.assign(capacity, TSlot{0, -1});
  lines_->Indexed = 0;
  for (std::size_t i = 0; i < lines_->Lines.size(); ++i) IndexLine(i);
}

void TXmlNode::TAttributeLines::IndexLine(std::size_t line) const {
  auto& index = lines_->Index;
  if (2 * (lines_->Indexed + 1) > index.size()) {
    BuildIndex();  // takes every line, this one included
    return;
  }
  const std::string_view name = LineName(lines_->Lines[line]);
  const std::uint32_t hash = NameHash(name);
  const std::size_t mask = index.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    TSlot& slot = index[i];
    if (slot.Line < 0) {
      slot = TSlot{hash, static_cast<std::int32_t>(line)};
      ++lines_->Indexed;
      return;
    }
    // A repeated name keeps pointing at its first line.
    if (slot.Hash == hash && SameXmlName(LineName(lines_->Lines[static_cast<std::size_t>(slot.Line)]), name)) return;
  }
}

int TXmlNode::TAttributeLines::find(std::string_view name) const {
  const std::size_t n = size();
  if (n < kIndexedAttributes) {
    for (std::size_t i = 0; i < n; ++i) {
      ++tAttributeComparisons;
      if (SameXmlName(LineName(lines_->Lines[i]), name)) return static_cast<int>(i);
    }
    return -1;
  }
  if (lines_->Index.empty()) BuildIndex();
  const auto& index = lines_->Index;
  const std::uint32_t hash = NameHash(name);
  const std::size_t mask = index.size() - 1;
  for (std::size_t i = hash & mask; index[i].Line >= 0; i = (i + 1) & mask) {
    if (index[i].Hash != hash) continue;
    ++tAttributeComparisons;
    if (SameXmlName(LineName(lines_->Lines[static_cast<std::size_t>(index[i].Line)]), name))
      return index[i].Line;
  }
  return -1;
}

int TXmlNode::IndexOfAttribute(std::string_view name) const { return attributes_.find(name); }

std::string TXmlNode::GetAttributeName(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return {};
  return std::string(LineName(attributes_[static_cast<std::size_t>(index)]));
}

std::string TXmlNode::GetAttributePair(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return {};
  return attributes_[static_cast<std::size_t>(index)];
}

void TXmlNode::SetAttributeByIndex(int index, std::string_view value) {
  if (index < 0 || index >= GetAttributeCount()) return;
  std::string line(LineName(attributes_[static_cast<std::size_t>(index)]));
  line += '=';
  line += QuoteText(EscapeText(value));
  if (attributesSorted_) {
    // A sorted list keeps its order: take the line out and put it back.
    attributes_.erase(static_cast<std::size_t>(index));
    const bool sorted = attributesSorted_;
    InsertAttributeLine(std::move(line));
    attributesSorted_ = sorted;
    return;
  }
  attributes_.replace(static_cast<std::size_t>(index), std::move(line));
}

void TXmlNode::ClearAttributes() { attributes_.clear(); }

std::string TXmlNode::AttributeValueText(int index) const {
  const std::string& line = attributes_[static_cast<std::size_t>(index)];
  const auto eq = line.find('=');
  if (eq == std::string::npos) return {};
  return UnescapeText(UnquoteText(std::string_view(line).substr(eq + 1)));
}

std::string TXmlNode::GetAttributeValue(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return {};
  return AttributeValueText(index);
}

std::string TXmlNode::GetAttribute(std::string_view name) const {
  const int index = IndexOfAttribute(name);
  return index < 0 ? std::string() : AttributeValueText(index);
}

std::string TXmlNode::GetAttributeText() const {
  std::string out;
  for (const std::string& line : attributes_) {
    out += ' ';
    out += line;
  }
  if (IsShortTag()) out += '/';
  return out;
}

// ---- Settings -----------------------------------------------------------------------

bool TXmlNode::DocWriteDefaults() const { return !document_ || document_->WriteDefaults(); }

bool TXmlNode::DocUtf8Strings() const { return document_ && document_->Utf8Strings(); }

std::string TXmlNode::GetIndent() const {
  if (!document_ || document_->Layout() != xlIndented) return {};
  std::string out;
  for (int i = GetDepth(); i > 0; --i) out += document_->IndentUnit();
  return out;
}

std::string TXmlNode::GetLineBreak() const {
  if (!document_ || document_->Layout() == xlCompact) return {};
  return document_->Layout() == xlIndented ? "\r\n" : "\n";
}

bool TXmlNode::IsShortTag() const {
  return kind_ == ntElement && valueText_.empty() && children_.empty() &&
         !(document_ && document_->NoShortTags()) && GetDepth() >= 1;
}

// ---- Text conversions -----------------------------------------------------------------

std::string TXmlNode::WideToDocText(std::u16string_view text) const {
  return DocUtf8Strings() ? WideToUtf8(text) : WideToAnsi(text);
}

std::u16string TXmlNode::DocTextToWide(std::string_view text) const {
  return DocUtf8Strings() ? Utf8ToWide(text) : AnsiToWide(text);
}

std::string TXmlNode::UnescapeText(std::string_view text) const {
  return DocUtf8Strings() ? UnescapeTextUtf8(text) : UnescapeTextAnsi(text);
}

// ---- Typed values ----------------------------------------------------------------------

bool TXmlNode::ValueToBool(bool def) const { return TextToBoolDef(GetValueText(), def); }

std::int32_t TXmlNode::ValueToInteger(std::int32_t def) const {
  const auto v = TextToInt64(GetValueText());
  return v ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*v)) : def;
}

std::int64_t TXmlNode::ValueToInt64(std::int64_t def) const {
  const auto v = TextToInt64(GetValueText());
  return v ? *v : def;
}

double TXmlNode::ValueToFloat(double def) const {
  const auto v = TextToFloat(GetValueText());
  return v ? *v : def;
}

TDateTime TXmlNode::ValueToDateTime(TDateTime def) const { return TextToDateTimeDef(GetValueText(), def); }

bool TXmlNode::ReadBool(std::string_view name, bool def) const {
  const TXmlNode* child = FindChild(name);
  return child ? child->ValueToBool(def) : def;
}

std::int32_t TXmlNode::ReadInteger(std::string_view name, std::int32_t def) const {
  const TXmlNode* child = FindChild(name);
  return child ? child->ValueToInteger(def) : def;
}

std::int64_t TXmlNode::ReadInt64(std::string_view name, std::int64_t def) const {
  const TXmlNode* child = FindChild(name);
  return child ? child->ValueToInt64(def) : def;
}

double TXmlNode::ReadFloat(std::string_view name, double def) const {
  const TXmlNode* child = FindChild(name);
  return child ? child->ValueToFloat(def) : def;
}

TColor TXmlNode::ReadColor(std::string_view name, TColor def) const {
  const TXmlNode* child = FindChild(name);
  if (!child) return def;
  const std::string text = child->GetValueText();
  const auto v = TextToInt64(text);
  if (!v) throw EConvertError("'" + text + "' is not a valid integer value");
  return static_cast<TColor>(static_cast<std::uint32_t>(*v));
}

std::string TXmlNode::ReadString(std::string_view name, std::string_view def) const {
  const TXmlNode* child = FindChild(name);
  return child ? child->GetValueText() : std::string(def);
}

std::u16string TXmlNode::ReadWideString(std::string_view name, std::u16string_view def) const {
  return DocTextToWide(ReadString(name, WideToDocText(def)));
}

TDateTime TXmlNode::ReadDateTime(std::string_view name, TDateTime def) const {
  const TXmlNode* child = FindChild(name);
  return child ? child->ValueToDateTime(def) : def;
}

void TXmlNode::ReadBrush(std::string_view name, TXmlBrush& brush) const {
  const TXmlNode* node = FindChild(name);
  if (!node) {
    brush = TXmlBrush();
    return;
  }
  brush.Color = node->ReadColor("Color", 0x00FFFFFF);
  brush.Style = node->ReadInteger("Style", 0);
}

void TXmlNode::ReadFont(std::string_view name, TXmlFont& font) const {
  const TXmlNode* node = FindChild(name);
  if (!node) {
    font = TXmlFont();
    return;
  }
  font.Name = node->ReadString("Name", "Arial");
  font.Color = node->ReadColor("Color", 0);
  font.Size = node->ReadInteger("Size", 14);
  font.Style = 0;
  if (node->ReadBool("Bold", false)) font.Style |= fsBold;
  if (node->ReadBool("Italic", false)) font.Style |= fsItalic;
  if (node->ReadBool("Underline", false)) font.Style |= fsUnderline;
  if (node->ReadBool("Strikeout", false)) font.Style |= fsStrikeOut;
}

void TXmlNode::ReadPen(std::string_view name, TXmlPen& pen) const {
  const TXmlNode* node = FindChild(name);
  if (!node) {
    pen = TXmlPen();
    return;
  }
  pen.Color = node->ReadColor("Color", 0);
  pen.Mode = node->ReadInteger("Mode", 4);
  pen.Style = node->ReadInteger("Style", 0);
  pen.Width = node->ReadInteger("Width", 1);
}

void TXmlNode::SetValue(std::string_view name, std::string_view text) {
  FindOrAddChild(name)->SetValueText(text);
}

void TXmlNode::WriteBool(std::string_view name, bool value, bool def) {
  if (WriteWanted(value != def)) SetValue(name, BoolToText(value));
}

void TXmlNode::WriteInteger(std::string_view name, std::int32_t value, std::int32_t def) {
  if (WriteWanted(value != def)) SetValue(name, IntToText(value));
}

void TXmlNode::WriteInt64(std::string_view name, std::int64_t value, std::int64_t def) {
  if (WriteWanted(value != def)) SetValue(name, IntToText(value));
}

namespace {
std::string DocFloatText(const TBrenlowXml* doc, double value) {
  return doc ? FloatToText(value, doc->FloatDigits(), doc->FloatExponentForm())
             : FloatToText(value, 6, true);
}
}  // namespace

void TXmlNode::WriteFloat(std::string_view name, double value, double def) {
  if (WriteWanted(value != def)) SetValue(name, DocFloatText(document_, value));
}

void TXmlNode::WriteDateTime(std::string_view name, TDateTime value, TDateTime def) {
  if (WriteWanted(value != def)) SetValue(name, DateTimeToText(value));
}

void TXmlNode::WriteString(std::string_view name, std::string_view value, std::string_view def) {
  if (WriteWanted(value != def)) SetValue(name, value);
}

void TXmlNode::WriteWideString(std::string_view name, std::u16string_view value,
                               std::u16string_view def) {
  // Both sides in the document's form, so that a value that differs from the
  // default is never taken for it.
  const std::string text = WideToDocText(value);
  if (WriteWanted(value != def)) SetValue(name, text);
}

void TXmlNode::WriteHex(std::string_view name, std::int64_t value, std::int64_t def, int digits) {
  if (WriteWanted(value != def)) SetValue(name, HexText(value, digits));
}

void TXmlNode::WriteColor(std::string_view name, TColor value, TColor def) {
  if (WriteWanted(value != def)) SetValue(name, ColorText(value));
}

// The writers use the readers' defaults, so that an omitted field reads back
// as the value it stands for.
void TXmlNode::WriteBrush(std::string_view name, const TXmlBrush& brush) {
  TXmlNode* node = FindOrAddChild(name);
  node->WriteColor("Color", brush.Color, 0x00FFFFFF);
  node->WriteInteger("Style", brush.Style, 0);
}

void TXmlNode::WriteFont(std::string_view name, const TXmlFont& font) {
  TXmlNode* node = FindOrAddChild(name);
  node->WriteString("Name", font.Name, "Arial");
  node->WriteColor("Color", font.Color, 0);
  node->WriteInteger("Size", font.Size, 14);
  node->WriteBool("Bold", (font.Style & fsBold) != 0, false);
  node->WriteBool("Italic", (font.Style & fsItalic) != 0, false);
  node->WriteBool("Underline", (font.Style & fsUnderline) != 0, false);
  node->WriteBool("Strikeout", (font.Style & fsStrikeOut) != 0, false);
}

void TXmlNode::WritePen(std::string_view name, const TXmlPen& pen) {
  TXmlNode* node = FindOrAddChild(name);
  node->WriteColor("Color", pen.Color, 0);
  node->WriteInteger("Mode", pen.Mode, 4);
  node->WriteInteger("Style", pen.Style, 0);
  node->WriteInteger("Width", pen.Width, 1);
}

// ---- Attribute values ------------------------------------------------------------------

bool TXmlNode::ReadAttributeBool(std::string_view name, bool def) const {
  try {
    return XmlTextToBool(GetAttribute(name));
  } catch (const EConvertError&) {
    return def;
  }
}

std::int32_t TXmlNode::ReadAttributeInteger(std::string_view name, std::int32_t def) const {
  const auto v = TextToInt64(GetAttribute(name));
  return v ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*v)) : def;
}

std::int64_t TXmlNode::ReadAttributeInt64(std::string_view name, std::int64_t def) const {
  const auto v = TextToInt64(GetAttribute(name));
  return v ? *v : def;
}

std::string TXmlNode::ReadAttributeString(std::string_view name, std::string_view def) const {
  std::string text = GetAttribute(name);
  return text.empty() ? std::string(def) : text;
}

namespace {
void PutAttribute(TXmlNode& node, std::string_view name, std::string_view text) {
  const int index = node.IndexOfAttribute(name);
  if (index >= 0) node.SetAttributeByIndex(index, text);
  else node.AddAttribute(name, text);
}
}  // namespace

void TXmlNode::WriteAttributeBool(std::string_view name, bool value, bool def) {
  if (WriteWanted(value != def)) PutAttribute(*this, name, BoolToText(value));
}

void TXmlNode::WriteAttributeInteger(std::string_view name, std::int32_t value, std::int32_t def) {
  if (WriteWanted(value != def)) PutAttribute(*this, name, IntToText(value));
}

void TXmlNode::WriteAttributeFloat(std::string_view name, double value, double def) {
  if (WriteWanted(value != def)) PutAttribute(*this, name, DocFloatText(document_, value));
}

void TXmlNode::WriteAttributeString(std::string_view name, std::string_view value,
                                    std::string_view def) {
  if (WriteWanted(value != def)) PutAttribute(*this, name, value);
}

// ---- Binary values -----------------------------------------------------------------------

namespace {

TBinaryFormat NodeBinaryFormat(const TBrenlowXml* doc) { return doc ? doc->BinaryFormat() : bfBinHex; }

std::int64_t BinaryLength(std::string_view stripped, TBinaryFormat format) {
  if (format == bfBinHex) {
    if (stripped.size() % 2 != 0) throw EFilerError("Error while calculating streamlength");
    return static_cast<std::int64_t>(stripped.size() / 2);
  }
  if (stripped.size() % 4 != 0) throw EFilerError("Error while calculating streamlength");
  std::int64_t n = static_cast<std::int64_t>(stripped.size() / 4 * 3);
  for (std::size_t i = 0; i < 2 && i < stripped.size() && stripped[stripped.size() - 1 - i] == '='; ++i) --n;
  return n;
}

void DecodeBinary(std::string_view stripped, TBinaryFormat format, void* buffer, std::int64_t count) {
  if (count <= 0) return;
  if (format == bfBinHex) DecodeBinHex(stripped, buffer, static_cast<std::size_t>(count));
  else DecodeBase64(stripped, buffer, static_cast<std::size_t>(count));
}

std::string EncodeBinary(const void* buffer, std::int64_t count, TBinaryFormat format) {
  if (count <= 0) return {};
  return format == bfBinHex ? EncodeBinHex(buffer, static_cast<std::size_t>(count))
                            : EncodeBase64(buffer, static_cast<std::size_t>(count));
}

}  // namespace

void TXmlNode::WriteBinary(const void* buffer, std::int64_t count) {
  valueText_ = WrapText(EncodeBinary(buffer, count, NodeBinaryFormat(document_)),
                        GetLineBreak() + GetIndent(), 76);
}

void TXmlNode::ReadBinary(void* buffer, std::int64_t count) const {
  DecodeBinary(StripBlanks(valueText_), NodeBinaryFormat(document_), buffer, count);
}

std::int64_t TXmlNode::GetBinaryLength() const {
  return BinaryLength(StripBlanks(valueText_), NodeBinaryFormat(document_));
}

std::string TXmlNode::GetBinaryString() const {
  const std::string stripped = StripBlanks(valueText_);
  std::string bytes(static_cast<std::size_t>(BinaryLength(stripped, bfBase64)), '\0');
  DecodeBinary(stripped, bfBase64, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

void TXmlNode::SetBinaryString(std::string_view bytes) {
  if (bytes.empty()) {
    valueText_.clear();
    return;
  }
  valueText_ = WrapText(EncodeBinary(bytes.data(), static_cast<std::int64_t>(bytes.size()), bfBase64),
                        GetLineBreak() + GetIndent(), 76);
}

}  // namespace kdl
