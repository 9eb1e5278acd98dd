#include "foundation/XmlNode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

// Fixed-size blocks for nodes and their small attribute and child lists,
// carved from 64 KB chunks that live as long as the process. Each thread
// keeps its own free list per size, so taking and giving back need no lock;
// a block freed on another thread simply joins that thread's list. A parsed
// page holds tens of thousands of nodes, and the general heap spends more
// on them than the parse itself.
//
// Under AddressSanitizer the pools are off, so that the sanitizer sees every
// use after free, unless KDL_XML_NODE_POOL=1 asks for them: then free blocks
// are poisoned and wait in one locked first-in first-out queue per size, so
// that a block used after its release is still reported.
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
#else
constexpr bool PoolOn() { return true; }
#endif

template <std::size_t Size>
class TBlockPool {
 public:
  static constexpr std::size_t kBlock = Size;
  static constexpr std::size_t kPerChunk = 65536 / Size;

#ifdef KDL_XML_ASAN
  static void* Take() {
    for (;;) {
      {
        std::lock_guard<std::mutex> guard(lock_);
        // Keep a chunk's worth waiting, so that a freed block is not handed
        // out again at once.
        if (poisoned_->size() > kPerChunk) {
          void* b = poisoned_->front();
          poisoned_->pop_front();
          __asan_unpoison_memory_region(b, Size);
          return b;
        }
      }
      Grow();
    }
  }
  static void Give(void* p) {
    __asan_poison_memory_region(p, Size);
    std::lock_guard<std::mutex> guard(lock_);
    poisoned_->push_back(p);
  }
#else
  static void* Take() {
    if (!free_) Grow();
    FreeBlock* b = free_;
    free_ = b->next;
    // Blocks are wanted in runs: start fetching the lines of the next one.
    if (FreeBlock* later = b->next) {
      __builtin_prefetch(later, 1);
      if constexpr (Size > kLine) __builtin_prefetch(reinterpret_cast<const char*>(later) + kLine, 1);
    }
    return b;
  }
  static void Give(void* p) {
    auto* b = static_cast<FreeBlock*>(p);
    b->next = free_;
    free_ = b;
  }
#endif

 private:
  // Out of line, so that taking a block stays a few instructions.
  [[gnu::noinline]] static void Grow() {
    static std::mutex chunkLock;
    static auto* chunks = new std::vector<std::unique_ptr<unsigned char[]>>;  // never freed
    unsigned char* base;
    {
      std::lock_guard<std::mutex> guard(chunkLock);
      chunks->push_back(std::make_unique<unsigned char[]>(Size * kPerChunk + kLine));
      base = chunks->back().get();
    }
    // Blocks start on a cache line, so that a node spans no more lines than
    // its size needs.
    base += (kLine - reinterpret_cast<std::uintptr_t>(base) % kLine) % kLine;
    for (std::size_t i = kPerChunk; i-- > 0;) Give(base + i * Size);
  }

#ifdef KDL_XML_ASAN
  static inline std::mutex lock_;
  static inline auto* const poisoned_ = new std::deque<void*>;  // never freed
#else
  static inline thread_local FreeBlock* free_ = nullptr;
#endif
};

constexpr std::size_t kNodeBlock = (sizeof(TXmlNode) + alignof(std::max_align_t) - 1) /
                                   alignof(std::max_align_t) * alignof(std::max_align_t);
using TNodePool = TBlockPool<kNodeBlock>;

// The size classes of small lists; anything larger comes from the heap.
constexpr std::size_t kSmallBlocks[] = {64, 128, 256, 512};

}  // namespace

std::size_t XmlBlockSize(std::size_t bytes) {
  if (!PoolOn()) return bytes;
  for (const std::size_t size : kSmallBlocks)
    if (bytes <= size) return size;
  return bytes;
}

void* TakeXmlBlock(std::size_t size) {
  if (PoolOn()) {
    switch (size) {
      case 64: return TBlockPool<64>::Take();
      case 128: return TBlockPool<128>::Take();
      case 256: return TBlockPool<256>::Take();
      case 512: return TBlockPool<512>::Take();
      default: break;
    }
  }
  return ::operator new(size);
}

void GiveXmlBlock(void* p, std::size_t size) noexcept {
  if (PoolOn()) {
    switch (size) {
      case 64: return TBlockPool<64>::Give(p);
      case 128: return TBlockPool<128>::Give(p);
      case 256: return TBlockPool<256>::Give(p);
      case 512: return TBlockPool<512>::Give(p);
      default: break;
    }
  }
  ::operator delete(p);
}

void* TXmlNode::operator new(std::size_t size) {
  if (size == sizeof(TXmlNode) && PoolOn()) return TNodePool::Take();
  return ::operator new(size);
}

void TXmlNode::operator delete(void* p, std::size_t size) noexcept {
  if (!p) return;
  if (size == sizeof(TXmlNode) && PoolOn()) {
    TNodePool::Give(p);
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
  // The next sibling's lines are fetched while this one goes, as a large
  // tree no longer fits the caches.
  std::unique_ptr<TXmlNode>* const first = children_.data();
  for (std::unique_ptr<TXmlNode>* child = first + children_.size(); child != first;) {
    --child;
    if (child != first) {
      const TXmlNode* next = child[-1].get();
      __builtin_prefetch(next);
      __builtin_prefetch(reinterpret_cast<const char*>(next) + kLine);
    }
    child->reset();
  }
  children_.clear();
}

void TXmlNode::Clear() {
  name_.clear();
  valueText_.clear();
  attributes_.release();
  children_.clear();
}

void TXmlNode::CopyFrom(const TXmlNode& source) {
  kind_ = source.kind_;
  name_ = source.name_;
  tag_ = source.tag_;
  valueText_.assign(source.Value());
  attributes_.reserve(source.attributes_.size(), source.attributes_.bytes());
  for (std::size_t i = 0; i < source.attributes_.size(); ++i) InsertAttributeLine(source.attributes_[i]);
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

std::string TXmlNode::GetValueText() const { return UnescapeText(Value()); }

void TXmlNode::SetValueText(std::string_view text) { SetValueTextRaw(EscapeText(text)); }

void TXmlNode::SetParsedValue(std::string_view text) {
  // A value that fits the string's present room costs no allocation there.
  if (text.size() <= valueText_.capacity()) {
    attributes_.dropValue();
    valueText_.assign(text.data(), text.size());
  } else {
    valueText_.clear();
    attributes_.setValue(text);
  }
}

void TXmlNode::TakeParsedValue() const {
  valueText_.assign(attributes_.value());
  attributes_.dropValue();
}

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

bool TXmlNode::IsBare() const { return Value().empty() && children_.empty() && attributes_.empty(); }

bool TXmlNode::IsEmpty() const { return name_.empty() && IsBare(); }

// ---- Attributes -------------------------------------------------------------------

void TXmlNode::InsertAttributeLine(std::string_view line) {
  // The list's order is decided when it comes into being.
  if (attributes_.empty()) attributesSorted_ = document_ && document_->SortedAttributes();
  if (!attributesSorted_) {
    attributes_.insert(attributes_.size(), line);
    return;
  }
  // After every line that does not sort behind it.
  std::size_t lo = 0, hi = attributes_.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (CompareNoCase(line, attributes_[mid]) < 0) hi = mid;
    else lo = mid + 1;
  }
  attributes_.insert(lo, line);
}

void TXmlNode::AddAttributeLine(std::string line) { InsertAttributeLine(line); }

void TXmlNode::AddAttribute(std::string_view name, std::string_view value) {
  std::string line(name);
  line += '=';
  line += QuoteText(EscapeText(value));
  InsertAttributeLine(line);
}

void TXmlNode::AddAttributeInt(std::string_view name, std::int64_t value) {
  AddAttribute(name, IntToText(value));
}

TXmlNode::TAttributeLines& TXmlNode::TAttributeLines::operator=(TAttributeLines&& other) noexcept {
  if (this != &other) {
    release();
    block_ = other.block_;
    other.block_ = nullptr;
  }
  return *this;
}

void TXmlNode::TAttributeLines::release() {
  if (!block_) return;
  delete block_->Index;
  GiveXmlBlock(block_, block_->Size());
  block_ = nullptr;
}

void TXmlNode::TAttributeLines::clear() {
  if (!block_) return;
  if (block_->ValueSize == 0) {
    release();
    return;
  }
  DropIndex();
  block_->Count = 0;
  block_->Used = 0;
}

void TXmlNode::TAttributeLines::setValue(std::string_view text) {
  if (block_) block_->ValueSize = 0;
  // A value is set once: room for just that.
  Grow(size(), bytes() + text.size(), true);
  block_->ValueSize = static_cast<std::uint32_t>(text.size());
  std::memcpy(block_->Bytes() + block_->ByteCapacity - text.size(), text.data(), text.size());
}

void TXmlNode::TAttributeLines::dropValue() {
  if (!block_ || block_->ValueSize == 0) return;
  block_->ValueSize = 0;
  if (block_->Count == 0) release();
}

void TXmlNode::TAttributeLines::Grow(std::size_t count, std::size_t bytes, bool exact) {
  const std::size_t oldCount = block_ ? block_->Count : 0, oldUsed = block_ ? block_->Used : 0;
  const std::size_t value = block_ ? block_->ValueSize : 0;
  if (block_ && count <= block_->CountCapacity && bytes + value <= block_->ByteCapacity) return;
  bytes += value;
  constexpr std::size_t kMax = 0xFFFFFFFFu - 4096;
  if (count > kMax / sizeof(std::uint32_t) || bytes > kMax) throw EXmlNodeError("Attributes of an element too long");
  // Doubling what runs short, once a list grows line by line.
  if (block_) {
    count = count <= block_->CountCapacity ? block_->CountCapacity
            : exact                        ? count
                                           : std::min(std::max(count, 2 * std::size_t{block_->CountCapacity}), kMax / sizeof(std::uint32_t));
    bytes = bytes <= block_->ByteCapacity ? block_->ByteCapacity
            : exact                       ? bytes
                                          : std::min(std::max(bytes, 2 * std::size_t{block_->ByteCapacity}), kMax);
  }
  // The bytes take whatever room the block's size class leaves.
  const std::size_t want = sizeof(TBlock) + count * sizeof(std::uint32_t) + bytes, size = XmlBlockSize(want);
  auto* fresh = static_cast<TBlock*>(TakeXmlBlock(size));
  *fresh = TBlock{static_cast<std::uint32_t>(oldCount), static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(oldUsed),
                  static_cast<std::uint32_t>(bytes + (size - want)), static_cast<std::uint32_t>(value), nullptr};
  if (block_) {
    std::memcpy(fresh->Ends(), block_->Ends(), oldCount * sizeof(std::uint32_t));
    std::memcpy(fresh->Bytes(), block_->Bytes(), oldUsed);
    std::memcpy(fresh->Bytes() + fresh->ByteCapacity - value, block_->Bytes() + block_->ByteCapacity - value, value);
    fresh->Index = block_->Index;
    GiveXmlBlock(block_, block_->Size());
  }
  block_ = fresh;
}

void TXmlNode::TAttributeLines::reserve(std::size_t count, std::size_t bytes) {
  if (count == 0) return;
  Grow(size() + count, (block_ ? block_->Used : 0) + bytes);
}

void TXmlNode::TAttributeLines::insert(std::size_t at, std::string_view line) {
  if (!block_ || block_->Count == block_->CountCapacity ||
      line.size() > block_->ByteCapacity - block_->Used - block_->ValueSize)
    Grow(size() + 1, (block_ ? block_->Used : 0) + line.size());
  // Grow has made sure that every total fits 32 bits.
  const auto len = static_cast<std::uint32_t>(line.size());
  std::uint32_t* ends = block_->Ends();
  char* bytes = block_->Bytes();
  const std::uint32_t n = block_->Count, from = at ? ends[at - 1] : 0;
  if (at < n) std::memmove(bytes + from + len, bytes + from, block_->Used - from);
  if (len) std::memcpy(bytes + from, line.data(), len);
  for (std::size_t i = n; i > at; --i) ends[i] = ends[i - 1] + len;
  ends[at] = from + len;
  block_->Used += len;
  block_->Count = n + 1;
  // An appended line joins the index; one put before others moves them.
  if (!block_->Index) return;
  if (at == n) IndexLine(at);
  else DropIndex();
}

void TXmlNode::TAttributeLines::erase(std::size_t at) {
  std::uint32_t* ends = block_->Ends();
  char* bytes = block_->Bytes();
  const std::uint32_t from = at ? ends[at - 1] : 0, len = ends[at] - from;
  std::memmove(bytes + from, bytes + ends[at], block_->Used - ends[at]);
  for (std::size_t i = at; i + 1 < block_->Count; ++i) ends[i] = ends[i + 1] - len;
  block_->Used -= len;
  --block_->Count;
  DropIndex();
}

void TXmlNode::TAttributeLines::replace(std::size_t at, std::string_view line) {
  const auto oldLen = static_cast<std::uint32_t>((*this)[at].size());
  if (line.size() > oldLen) Grow(block_->Count, block_->Used + line.size() - oldLen);
  const auto len = static_cast<std::uint32_t>(line.size());
  std::uint32_t* ends = block_->Ends();
  char* bytes = block_->Bytes();
  const std::uint32_t from = at ? ends[at - 1] : 0;
  std::memmove(bytes + from + len, bytes + ends[at], block_->Used - ends[at]);
  if (len) std::memcpy(bytes + from, line.data(), len);
  for (std::size_t i = at; i < block_->Count; ++i) ends[i] = ends[i] - oldLen + len;
  block_->Used = block_->Used - oldLen + len;
}

void TXmlNode::TAttributeLines::DropIndex() const {
  delete block_->Index;
  block_->Index = nullptr;
}

void TXmlNode::TAttributeLines::BuildIndex() const {
  if (!block_->Index) block_->Index = new TIndex;
  std::size_t capacity = 64;
  while (capacity < 2 * block_->Count) capacity *= 2;
  block_->Index->Slots.assign(capacity, TSlot{0, -1});
  block_->Index->Indexed = 0;
  for (std::size_t i = 0; i < block_->Count; ++i) IndexLine(i);
}

void TXmlNode::TAttributeLines::IndexLine(std::size_t line) const {
  TIndex& index = *block_->Index;
  if (2 * (index.Indexed + 1) > index.Slots.size()) {
    BuildIndex();  // takes every line, this one included
    return;
  }
  const std::string_view name = LineName((*this)[line]);
  const std::uint32_t hash = NameHash(name);
  const std::size_t mask = index.Slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    TSlot& slot = index.Slots[i];
    if (slot.Line < 0) {
      slot = TSlot{hash, static_cast<std::int32_t>(line)};
      ++index.Indexed;
      return;
    }
    // A repeated name keeps pointing at its first line.
    if (slot.Hash == hash && SameXmlName(LineName((*this)[static_cast<std::size_t>(slot.Line)]), name)) return;
  }
}

int TXmlNode::TAttributeLines::find(std::string_view name) const {
  const std::size_t n = size();
  if (n < kIndexedAttributes) {
    for (std::size_t i = 0; i < n; ++i) {
      ++tAttributeComparisons;
      if (SameXmlName(LineName((*this)[i]), name)) return static_cast<int>(i);
    }
    return -1;
  }
  if (!block_->Index) BuildIndex();
  const auto& slots = block_->Index->Slots;
  const std::uint32_t hash = NameHash(name);
  const std::size_t mask = slots.size() - 1;
  for (std::size_t i = hash & mask; slots[i].Line >= 0; i = (i + 1) & mask) {
    if (slots[i].Hash != hash) continue;
    ++tAttributeComparisons;
    if (SameXmlName(LineName((*this)[static_cast<std::size_t>(slots[i].Line)]), name)) return slots[i].Line;
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
  return std::string(attributes_[static_cast<std::size_t>(index)]);
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
    InsertAttributeLine(line);
    attributesSorted_ = sorted;
    return;
  }
  attributes_.replace(static_cast<std::size_t>(index), line);
}

void TXmlNode::ClearAttributes() { attributes_.clear(); }

std::string TXmlNode::AttributeValueText(int index) const {
  const std::string_view line = attributes_[static_cast<std::size_t>(index)];
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return {};
  return UnescapeText(UnquoteText(line.substr(eq + 1)));
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
  for (std::size_t i = 0; i < attributes_.size(); ++i) {
    out += ' ';
    out += attributes_[i];
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
  return kind_ == ntElement && Value().empty() && children_.empty() &&
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
  SetValueTextRaw(WrapText(EncodeBinary(buffer, count, NodeBinaryFormat(document_)), GetLineBreak() + GetIndent(), 76));
}

void TXmlNode::ReadBinary(void* buffer, std::int64_t count) const {
  DecodeBinary(StripBlanks(Value()), NodeBinaryFormat(document_), buffer, count);
}

std::int64_t TXmlNode::GetBinaryLength() const {
  return BinaryLength(StripBlanks(Value()), NodeBinaryFormat(document_));
}

std::string TXmlNode::GetBinaryString() const {
  const std::string stripped = StripBlanks(Value());
  std::string bytes(static_cast<std::size_t>(BinaryLength(stripped, bfBase64)), '\0');
  DecodeBinary(stripped, bfBase64, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

void TXmlNode::SetBinaryString(std::string_view bytes) {
  if (bytes.empty()) {
    SetValueTextRaw(std::string());
    return;
  }
  SetValueTextRaw(WrapText(EncodeBinary(bytes.data(), static_cast<std::int64_t>(bytes.size()), bfBase64),
                           GetLineBreak() + GetIndent(), 76));
}

}  // namespace kdl
