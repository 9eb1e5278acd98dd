#include "foundation/BrenlowXml.h"

#include "foundation/CodecStream.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

namespace kdl {

TXmlDefaults& XmlDefaults() {
  static TXmlDefaults defaults;
  return defaults;
}

void SetDocumentLibraryXmlDefaults() {
  TXmlDefaults& d = XmlDefaults();
  d.DeclaredEncoding = "UTF-8";
  d.StreamEncoding = teUtf8;
  d.Utf8Strings = true;
  d.WriteDefaults = false;
}

namespace {

bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

struct TTagType {
  std::string_view Start;
  std::string_view Close;
  TXmlNodeKind Kind;
};

constexpr TTagType kTagTable[12] = {
    {"<![CDATA[", "]]>", ntCData},      {"<!DOCTYPE", ">", ntDoctype},
    {"<!ELEMENT", ">", ntDtdElement},   {"<!ATTLIST", ">", ntDtdAttList},
    {"<!ENTITY", ">", ntDtdEntity},     {"<!NOTATION", ">", ntDtdNotation},
    {"<?xml-stylesheet", "?>", ntStylesheet}, {"<?xml", "?>", ntDeclaration},
    {"<!--", "-->", ntComment},         {"<!", ">", ntBang},
    {"<?", "?>", ntInstruction},        {"<", ">", ntElement},
};
constexpr int kElementRow = 11;

// Characters of a tag that is a bare name: anything but blanks, quotes,
// "=", "/", ">" and NUL.
struct NameCharTable {
  bool v[256];
  constexpr NameCharTable() : v() {
    for (int i = 1; i < 256; ++i) v[i] = true;
    for (unsigned char c : {' ', '\t', '\n', '\r', '"', '\'', '=', '/', '>'}) v[c] = false;
  }
  bool operator[](unsigned char c) const { return v[c]; }
};
constexpr NameCharTable kNameChar;

// The first byte in [p, end) that is no name character, or end. Most names
// are short and end within a few bytes; a longer one is read sixteen bytes
// at a time: control characters, blanks and the five marks stand out
// together, and the table settles a control character.
const char* ScanName(const char* p, const char* end) {
  for (const char* const near = p + std::min<std::ptrdiff_t>(end - p, 8); p < near; ++p)
    if (!kNameChar[static_cast<unsigned char>(*p)]) return p;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' '), dquote = _mm_set1_epi8('"'), squote = _mm_set1_epi8('\''),
                equals = _mm_set1_epi8('='), slash = _mm_set1_epi8('/'), greater = _mm_set1_epi8('>');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(v, space), v);
    const __m128i marks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, dquote), _mm_cmpeq_epi8(v, squote)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, equals), _mm_or_si128(_mm_cmpeq_epi8(v, slash),
                                                                                            _mm_cmpeq_epi8(v, greater))));
    const int mask = _mm_movemask_epi8(_mm_or_si128(low, marks));
    if (!mask) {
      p += 16;
      continue;
    }
    p += __builtin_ctz(static_cast<unsigned>(mask));
    if (!kNameChar[static_cast<unsigned char>(*p)]) return p;
    ++p;
  }
#endif
  while (p < end && kNameChar[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

// Tokens of a tag's text: cut at blanks outside quotes, then "=" and quoted
// values that stood apart joined to their names.
void SplitAttributes(std::string_view text, std::vector<std::string>& tokens) {
  tokens.clear();
  text = Trim(text);
  if (text.empty()) return;
  // A token is a run of the text, quotes and all: cut it out in one piece.
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (IsBlank(c)) {
      if (i > start) tokens.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (text.size() > start) tokens.emplace_back(text.substr(start));
  for (std::size_t i = tokens.size(); i-- > 1;) {
    if (tokens[i][0] == '=') {
      tokens[i - 1] += tokens[i];
      tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  for (std::size_t i = tokens.size(); i-- > 1;) {
    if ((tokens[i][0] == '"' || tokens[i][0] == '\'') && tokens[i - 1].find('=') != std::string::npos) {
      tokens[i - 1] += tokens[i];
      tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

std::vector<std::string> SplitAttributes(std::string_view text) {
  std::vector<std::string> tokens;
  SplitAttributes(text, tokens);
  return tokens;
}

// Replaces the text of a string. Appending to an emptied string skips the
// general overlap handling of assign, which costs more than the copy of a
// short name; a longer text gets a buffer of its own size (growing would
// round it up). Text that lies in the string itself (a node reading its own
// value) still goes through assign.
void SetText(std::string& s, std::string_view text) {
  const std::less<const char*> before;
  if (!before(text.data(), s.data()) && before(text.data(), s.data() + s.size() + 1)) {
    s.assign(text.data(), text.size());
  } else if (text.size() > s.capacity()) {
    s = std::string(text);
  } else {
    s.clear();
    s.append(text.data(), text.size());
  }
}

// Equality of short byte runs such as element names, without a call.
bool SameBytes(const char* a, const char* b, std::size_t n) {
  std::uint64_t x, y;
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) return false;
  }
  if (n >= 4) {
    std::uint32_t u, v, s, t;
    std::memcpy(&u, a, 4);
    std::memcpy(&v, b, 4);
    std::memcpy(&s, a + n - 4, 4);
    std::memcpy(&t, b + n - 4, 4);
    return u == v && s == t;
  }
  for (; n > 0; ++a, ++b, --n)
    if (*a != *b) return false;
  return true;
}

// The first "<" in [p, end), or end. Sixteen bytes at a time while they
// last, memchr for long runs such as Base64 values.
const char* FindLess(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i less = _mm_set1_epi8('<');
  for (int blocks = 0; end - p >= 16; ++blocks) {
    if (blocks == 8) {
      const void* found = std::memchr(p, '<', static_cast<std::size_t>(end - p));
      return found ? static_cast<const char*>(found) : end;
    }
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, less));
    if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && *p != '<') ++p;
  return p;
}

std::string Format(std::string_view message, std::string_view name) {
  std::string out(message);
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, name);
  return out;
}

std::string ReadAll(TStream& stream) {
  // A transcoder gives one character per read, up to its end or a NUL.
  if (auto* codec = dynamic_cast<TqxCodecStream*>(&stream)) {
    std::string data;
    char c;
    while (codec->Read(&c, 1) == 1) data.push_back(c);
    return data;
  }
  // A memory stream hands over its bytes in one copy.
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
    const std::int64_t pos = memory->Position(), size = memory->Size();
    if (pos >= size) return {};
    std::string data(static_cast<const char*>(memory->Memory()) + pos, static_cast<std::size_t>(size - pos));
    memory->Seek(size, soBeginning);
    return data;
  }
  std::int64_t hint = 0;
  try {
    hint = stream.Size() - stream.Position();
  } catch (const EStreamError&) {
    hint = 0;
  }
  // The size is only a hint: the bytes really read decide.
  std::size_t want = hint > 0 && hint < (std::int64_t{1} << 31) ? static_cast<std::size_t>(hint) : 65536;
  std::string data(want, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == data.size()) data.resize(data.size() * 2);
    const std::int64_t n = stream.Read(data.data() + got, static_cast<std::int64_t>(data.size() - got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  data.resize(got);
  return data;
}

}  // namespace

// ---- Parser ---------------------------------------------------------------------------

// Scans text in the document's string form with pointers. A NUL reads as the
// end of the text, as it did for the character streams.
class TXmlParser {
 public:
  TXmlParser(TBrenlowXml* doc, std::string_view text) : doc_(doc) { Reset(text, 0); }

  void Reset(std::string_view text, std::size_t pos) {
    begin_ = text.data();
    end_ = begin_ + text.size();
    p_ = begin_ + pos;
    FindLimit();
  }
  std::size_t Position() const { return static_cast<std::size_t>(p_ - begin_); }
  bool AtEnd() const { return p_ >= end_; }

  void ParseNode(TXmlNode& node, int depth);

 private:
  void FindLimit() {
    const void* nul = p_ < end_ ? std::memchr(p_, 0, static_cast<std::size_t>(end_ - p_)) : nullptr;
    lim_ = nul ? static_cast<const char*>(nul) : end_;
  }
  int Get() {
    if (p_ >= lim_) {
      if (p_ < end_) {
        ++p_;  // the NUL is consumed
        FindLimit();
      }
      return -1;
    }
    return static_cast<unsigned char>(*p_++);
  }
  int NextNonBlank() {
    for (;;) {
      const int c = Get();
      if (!IsBlank(c)) return c;
    }
  }
  bool Stopped() const { return doc_ && doc_->StopRequested(); }
  void Progress() {
    if (doc_ && doc_->OnStreamProgress) doc_->OnStreamProgress(*doc_, static_cast<std::int64_t>(Position()));
  }
  void Started(TXmlNode& node) {
    if (doc_ && doc_->OnNodeStarted) doc_->OnNodeStarted(*doc_, node);
  }
  int MatchTagRow();
  // The attributes of an element tag written name="value" with single
  // blanks or more between them and nothing else, from q (behind the name)
  // up to ">" or "/>": into lines_, and tagEnd_ behind the tag. False for
  // anything else, which the general tag reading handles.
  bool PlainAttributes(const char* q, bool& shortTag);
  // Text up to the terminator (p_ then stands past it), or nothing at the end.
  bool ReadUntil(std::string_view terminator, bool respectQuotes, std::string_view& text);
  void ParseTagText(TXmlNode& node, std::string_view text, int row);
  // Text, if any, and the exact end tag: the properties of persistent
  // objects. False, with nothing consumed, for anything else.
  bool ParseLeafContent(TXmlNode& node);
  void ParseContent(TXmlNode& node, int depth);
  void EndTag(const TXmlNode& node);
  void ParseDoctype(TXmlNode& node, int depth);
  [[noreturn]] void Unterminated(std::string_view close, std::string_view what) {
    throw EFilerError("Missing \"" + std::string(close) + "\" in " + std::string(what));
  }

  TBrenlowXml* doc_;
  const char* begin_ = nullptr;
  const char* p_ = nullptr;
  const char* lim_ = nullptr;
  const char* end_ = nullptr;
  // Children of the previous sibling that had any: the next one likely has
  // as many (the shapes of a page, the properties of a shape).
  std::size_t childHint_ = 0;
  // Tokens of the tag at hand, kept to spare an allocation per tag.
  std::vector<std::string> tokens_;
  std::vector<std::string_view> lines_;
  const char* tagEnd_ = nullptr;
};

bool TXmlParser::PlainAttributes(const char* q, bool& shortTag) {
  lines_.clear();
  for (;;) {
    while (q < lim_ && IsBlank(*q)) ++q;
    if (q >= lim_) return false;
    if (*q == '>' || (*q == '/' && q + 1 < lim_ && q[1] == '>')) {
      shortTag = *q == '/';
      tagEnd_ = q + (shortTag ? 2 : 1);
      return true;
    }
    const char* start = q;
    q = ScanName(q, lim_);
    if (q == start || lim_ - q < 2 || *q != '=' || (q[1] != '"' && q[1] != '\'')) return false;
    const void* close = std::memchr(q + 2, q[1], static_cast<std::size_t>(lim_ - q - 2));
    if (!close) return false;
    q = static_cast<const char*>(close) + 1;
    // Anything glued to the closing quote belongs to the same token.
    if (q < lim_ && !IsBlank(*q) && *q != '>' && *q != '/') return false;
    lines_.emplace_back(start, static_cast<std::size_t>(q - start));
  }
}

int TXmlParser::MatchTagRow() {
  // Only "<!" and "<?" start anything but an element.
  if (p_ < lim_ && *p_ != '!' && *p_ != '?') return kElementRow;
  // The longest start text that stands here wins; all begin with "<".
  int best = kElementRow;
  std::size_t bestLen = 1;
  const std::size_t avail = static_cast<std::size_t>(lim_ - p_);
  for (int row = 0; row < kElementRow; ++row) {
    const std::string_view rest = kTagTable[row].Start.substr(1);
    if (rest.size() > bestLen - 1 && rest.size() <= avail && std::memcmp(p_, rest.data(), rest.size()) == 0) {
      best = row;
      bestLen = rest.size() + 1;
    }
  }
  p_ += bestLen - 1;
  return best;
}

bool TXmlParser::ReadUntil(std::string_view terminator, bool respectQuotes, std::string_view& text) {
  const char* start = p_;
  const char last = terminator.back();
  const std::size_t tlen = terminator.size();
  if (!respectQuotes) {
    const std::string_view hay(p_, static_cast<std::size_t>(lim_ - p_));
    const auto at = hay.find(terminator);
    if (at == std::string_view::npos) {
      p_ = lim_;
      Get();
      return false;
    }
    text = hay.substr(0, at);
    p_ += at + tlen;
    return true;
  }
  char quote = 0;
  if (tlen == 1) {
    for (const char* q = p_; q < lim_; ++q) {
      const char c = *q;
      if (c == last && !quote) {
        text = std::string_view(start, static_cast<std::size_t>(q - start));
        p_ = q + 1;
        return true;
      }
      if (c == '"' || c == '\'') {
        if (!quote) quote = c;
        else if (c == quote) quote = 0;
      }
    }
    p_ = lim_;
    Get();
    return false;
  }
  for (const char* q = p_; q < lim_; ++q) {
    const char c = *q;
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == last && static_cast<std::size_t>(q - start) + 1 >= tlen &&
               std::memcmp(q + 1 - tlen, terminator.data(), tlen) == 0) {
      text = std::string_view(start, static_cast<std::size_t>(q + 1 - tlen - start));
      p_ = q + 1;
      return true;
    }
  }
  p_ = lim_;
  Get();
  return false;
}

void TXmlParser::ParseTagText(TXmlNode& node, std::string_view text, int row) {
  const TXmlNodeKind kind = kTagTable[row].Kind;
  // Most tags are a bare name: no need to cut tokens.
  bool plain = kind == ntElement;
  for (std::size_t i = 0; plain && i < text.size(); ++i) {
    const char c = text[i];
    plain = !(IsBlank(c) || c == '"' || c == '\'' || c == '=');
  }
  if (plain) {
    if (text.empty()) throw EFilerError("Missing element name");
    node.SetName(text);
    return;
  }
  std::vector<std::string>& tokens = tokens_;
  SplitAttributes(text, tokens);
  std::size_t first = 0;
  if (kind == ntDeclaration) {
    node.name_ = "xml";
  } else if (kind == ntStylesheet) {
    node.name_ = "xml-stylesheet";
    node.valueText_ = std::string(Trim(text));
  } else {
    if (tokens.empty()) throw EFilerError("Missing element name");
    node.SetName(tokens[0]);
    first = 1;
  }
  for (std::size_t i = first; i < tokens.size(); ++i) node.InsertAttributeLine(tokens[i]);
}

void TXmlParser::ParseNode(TXmlNode& node, int depth) {
  if (Stopped()) return;
  // A node read again holds its value as a string, as the parse expects.
  if (node.attributes_.hasValue()) node.TakeParsedValue();
  if (NextNonBlank() != '<') return;
  // Only "<!" and "<?" start anything but an element.
  const int row = p_ < lim_ && *p_ != '!' && *p_ != '?' ? kElementRow : MatchTagRow();
  const TTagType& tag = kTagTable[row];
  node.kind_ = tag.Kind;
  std::string_view text;
  switch (tag.Kind) {
    case ntComment:
    case ntCData:
    case ntBang:
    case ntInstruction: {
      static constexpr std::string_view kNames[] = {"Comment", "CData", "Special", "Special"};
      const std::string_view name = kNames[tag.Kind == ntComment ? 0 : tag.Kind == ntCData ? 1 : 2];
      node.name_.assign(name);
      Started(node);
      if (Stopped()) return;
      if (!ReadUntil(tag.Close, false, text)) Unterminated(tag.Close, name);
      node.valueText_.assign(text);
      break;
    }
    case ntDoctype:
      node.name_ = "DTD";
      Started(node);
      if (Stopped()) return;
      ParseDoctype(node, depth);
      break;
    case ntDtdElement:
    case ntDtdAttList:
    case ntDtdEntity:
    case ntDtdNotation: {
      if (!ReadUntil(">", true, text)) Unterminated(">", tag.Start.substr(2));
      std::vector<std::string> tokens = SplitAttributes(text);
      if (!tokens.empty()) node.SetName(tokens[0]);
      std::string value;
      for (std::size_t i = 1; i < tokens.size(); ++i) value += tokens[i] + "\r\n";
      node.valueText_ = std::string(Trim(value));
      Started(node);
      break;
    }
    default: {
      bool shortTag = false;
      // A bare name ending in ">" or "/>": the common tag, in one pass.
      const char* q = p_;
      q = ScanName(q, lim_);
      if (tag.Kind == ntElement && q > p_ && q < lim_ &&
          (*q == '>' || (*q == '/' && q + 1 < lim_ && q[1] == '>'))) {
        SetText(node.name_, std::string_view(p_, static_cast<std::size_t>(q - p_)));
        shortTag = *q == '/';
        p_ = q + (shortTag ? 2 : 1);
      } else if (tag.Kind == ntElement && q > p_ && q < lim_ && IsBlank(*q) && PlainAttributes(q, shortTag)) {
        SetText(node.name_, std::string_view(p_, static_cast<std::size_t>(q - p_)));
        // One block for all lines: their bytes run from the first to the
        // last. A long text behind the tag is likely the value, which then
        // joins them.
        if (!lines_.empty()) {
          std::size_t room = static_cast<std::size_t>(lines_.back().data() + lines_.back().size() - lines_.front().data());
          if (!shortTag) {
            const auto text = static_cast<std::size_t>(FindLess(tagEnd_, lim_) - tagEnd_);
            if (text > node.valueText_.capacity() && text <= 4096) room += text;
          }
          node.attributes_.reserve(lines_.size(), room);
        }
        for (const std::string_view line : lines_) node.InsertAttributeLine(line);
        p_ = tagEnd_;
      } else {
        if (!ReadUntil(tag.Close, true, text)) Unterminated(tag.Close, "tag");
        if (tag.Kind == ntElement && !text.empty() && text.back() == '/') {
          shortTag = true;
          text.remove_suffix(1);
        }
        ParseTagText(node, text, row);
      }
      Started(node);
      if (Stopped()) return;
      if (tag.Kind == ntElement && !shortTag && !ParseLeafContent(node)) ParseContent(node, depth);
      if (Stopped()) return;
    }
  }
  Progress();
  if (doc_ && doc_->OnNodeFinished) doc_->OnNodeFinished(*doc_, node);
}

bool TXmlParser::ParseLeafContent(TXmlNode& node) {
  // With children already there, text would become a text node instead.
  if (!node.children_.empty()) return false;
  const char* lt = FindLess(p_, lim_);
  const std::size_t n = node.name_.size();
  if (static_cast<std::size_t>(lim_ - lt) < n + 3 || lt[1] != '/' || lt[n + 2] != '>' ||
      !SameBytes(lt + 2, node.name_.data(), n))
    return false;
  const std::string_view text(p_, static_cast<std::size_t>(lt - p_));
  bool blank = true;
  for (std::size_t i = 0; blank && i < text.size(); ++i) blank = IsBlank(text[i]);
  if (!blank) node.SetParsedValue(text);
  p_ = lt + n + 3;
  return true;
}

void TXmlParser::ParseContent(TXmlNode& node, int depth) {
  const std::size_t reserve = childHint_;
  std::size_t siblingChildren = 0;
  std::string_view text;  // one run between markup; flushed before each child
  bool crAfterChild = false;
  bool valueTaken = false;
  auto flush = [&]() {
    bool blank = true;
    for (std::size_t i = 0; blank && i < text.size(); ++i) blank = IsBlank(text[i]);
    if (blank) {
      text = {};
      return;
    }
    if (node.children_.empty() && !valueTaken) {
      // A leading text node would become the value at the end anyway.
      SetText(node.valueText_, text);
      valueTaken = true;
    } else {
      auto child = std::make_unique<TXmlNode>(doc_, ntText);
      SetText(child->valueText_, text);
      node.AddChild(std::move(child));
    }
    text = {};
  };
  for (;;) {
    const char* lt = FindLess(p_, lim_);
    if (lt >= lim_) {
      p_ = lim_;
      Get();
      throw EFilerError(Format("Missing close tag in element %s", node.name_));
    }
    if (!node.children_.empty() && !crAfterChild)
      for (const char* q = p_; q < lt; ++q) crAfterChild |= *q == '\r';
    text = std::string_view(p_, static_cast<std::size_t>(lt - p_));
    p_ = lt + 1;
    const int c = NextNonBlank();
    if (c < 0) throw EFilerError(Format("Missing data after \"<\" in element %s", node.name_));
    if (c == '/') break;
    // A child: flush, step back to its "<" and let it parse itself.
    if (depth >= kMaxXmlDepth) throw EFilerError(Format("Elements nested too deeply in element %s", node.name_));
    flush();
    p_ = lt;
    auto child = std::make_unique<TXmlNode>(doc_);
    TXmlNode* raw = child.get();
    if (node.children_.capacity() == 0) node.children_.reserve(std::max<std::size_t>(reserve, 8));
    raw->parent_ = &node;
    node.children_.push_back(std::move(child));
    childHint_ = siblingChildren;
    ParseNode(*raw, depth + 1);
    if (!raw->children_.empty()) siblingChildren = raw->children_.size();
    if (raw->kind_ == ntComment && doc_ && doc_->SkipComments()) node.RemoveChild(raw);
    crAfterChild = false;
    if (Stopped()) return;
  }
  // The usual end tag repeats the name exactly.
  const std::size_t n = node.name_.size();
  const bool same = static_cast<std::size_t>(lim_ - p_) > n && p_[n] == '>' && SameBytes(p_, node.name_.data(), n);
  if (same) {
    p_ += n + 1;
  } else {
    EndTag(node);
  }
  flush();
  if (crAfterChild && !node.children_.empty()) {
    auto trimEnd = [](std::string& v) {
      while (!v.empty() && (v.back() == '\n' || v.back() == '\r' || v.back() == ' ')) v.pop_back();
    };
    if (valueTaken) trimEnd(node.valueText_);
    for (auto& child : node.children_)
      if (child->kind_ == ntText) trimEnd(child->valueText_);
  }
}

void TXmlParser::EndTag(const TXmlNode& node) {
  std::string_view close;
  if (!ReadUntil(">", true, close))
    throw EFilerError(Format("Missing \">\" in close tag of element %s", node.name_));
  if (!SameXmlName(Trim(close), node.name_))
    throw EFilerError(Format("Incorrect close tag in element %s", node.name_));
}

void TXmlParser::ParseDoctype(TXmlNode& node, int depth) {
  const char* start = p_;
  while (p_ < lim_ && *p_ != '>' && *p_ != '[') ++p_;
  if (p_ >= lim_) {
    Get();
    Unterminated(">", "DOCTYPE");
  }
  const std::vector<std::string> tokens = SplitAttributes(std::string_view(start, static_cast<std::size_t>(p_ - start)));
  if (!tokens.empty()) node.SetName(tokens[0]);
  std::string value;
  for (std::size_t i = 1; i < tokens.size(); ++i) value += (i > 1 ? " " : "") + tokens[i];
  node.valueText_ = std::string(Trim(value));
  if (Get() == '[') {
    // The internal subset: declarations and comments up to "]".
    if (depth >= kMaxXmlDepth) throw EFilerError(Format("Elements nested too deeply in element %s", node.name_));
    for (;;) {
      auto child = std::make_unique<TXmlNode>(doc_);
      TXmlNode* raw = child.get();
      node.AddChild(std::move(child));
      ParseNode(*raw, depth + 1);
      if (raw->IsEmpty()) node.RemoveChild(raw);
      if (Stopped()) return;
      const int c = NextNonBlank();
      if (c < 0) Unterminated("]", "DOCTYPE");
      if (c == ']') break;
      --p_;
    }
    for (;;) {
      const int c = Get();
      if (c < 0) Unterminated(">", "DOCTYPE");
      if (c == '>') break;
    }
  }
}

// ---- Writer ------------------------------------------------------------------------------

class TXmlWriter {
 public:
  TXmlWriter(TBrenlowXml* doc, std::string& out, std::int64_t base)
      : doc_(doc), out_(out), base_(base) {
    if (doc_ && doc_->Layout() == xlIndented) {
      indented_ = true;
      lineBreak_ = "\r\n";
    } else if (doc_ && doc_->Layout() >= xlLineFeeds) {
      lineBreak_ = "\n";
    }
  }

  void WriteNode(const TXmlNode& node, int depth);

 private:
  void Indent(int depth) {
    if (!indented_) return;
    for (int i = 0; i < depth; ++i) out_ += doc_->IndentUnit();
  }
  void Wrapped(std::string_view open, std::string_view text, std::string_view close) {
    out_ += open;
    out_ += text;
    out_ += close;
  }
  void Attributes(const TXmlNode& node, bool shortTag) {
    for (std::size_t i = 0; i < node.attributes_.size(); ++i) {
      out_ += ' ';
      out_ += node.attributes_[i];
    }
    if (shortTag) out_ += '/';
  }

  TBrenlowXml* doc_;
  std::string& out_;
  std::int64_t base_;
  bool indented_ = false;
  std::string_view lineBreak_;
};

void TXmlWriter::WriteNode(const TXmlNode& node, int depth) {
  switch (node.kind_) {
    case ntElement: {
      const bool shortTag = node.Value().empty() && node.children_.empty() &&
                            !(doc_ && doc_->NoShortTags()) && depth >= 1;
      Indent(depth);
      out_ += '<';
      out_ += node.name_;
      Attributes(node, shortTag);
      out_ += '>';
      if (shortTag) break;
      out_ += node.Value();
      const auto& children = node.children_;
      if (!children.empty()) out_ += lineBreak_;
      for (std::size_t i = 0; i < children.size(); ++i) {
        WriteNode(*children[i], depth + 1);
        const bool nextIsText = i + 1 < children.size() && children[i + 1]->kind_ == ntText;
        if (children[i]->kind_ != ntText && !nextIsText) out_ += lineBreak_;
      }
      if (!children.empty()) Indent(depth);
      out_ += "</";
      out_ += node.name_;
      out_ += '>';
      break;
    }
    case ntComment:
      Indent(depth);
      Wrapped("<!--", node.Value(), "-->");
      break;
    case ntCData:
      Indent(depth);
      Wrapped("<![CDATA[", node.Value(), "]]>");
      break;
    case ntDeclaration:
      Indent(depth);
      out_ += "<?xml";
      Attributes(node, false);
      out_ += "?>";
      break;
    case ntStylesheet:
      Indent(depth);
      out_ += "<?xml-stylesheet";
      Attributes(node, false);
      out_ += "?>";
      break;
    case ntDoctype:
      Indent(depth);
      out_ += "<!DOCTYPE ";
      out_ += node.name_;
      out_ += ' ';
      out_ += node.Value();
      if (node.children_.empty()) {
        out_ += '>';
      } else {
        out_ += " [";
        out_ += lineBreak_;
        for (const auto& child : node.children_) {
          WriteNode(*child, depth + 1);
          out_ += lineBreak_;
        }
        out_ += "]>";
      }
      break;
    case ntDtdElement:
    case ntDtdAttList:
    case ntDtdEntity:
    case ntDtdNotation: {
      static constexpr std::string_view kStarts[] = {"<!ELEMENT ", "<!ATTLIST ", "<!ENTITY ", "<!NOTATION "};
      Indent(depth);
      out_ += kStarts[node.kind_ - ntDtdElement];
      out_ += node.name_;
      Wrapped(" ", node.Value(), ">");
      break;
    }
    case ntBang:
      Indent(depth);
      Wrapped("<!", node.Value(), ">");
      break;
    case ntInstruction:
      Indent(depth);
      Wrapped("<?", node.Value(), "?>");
      break;
    case ntText:
      out_ += node.Value();
      break;
    case ntRawTag:
      Indent(depth);
      Wrapped("<", node.Value(), ">");
      break;
    default:
      throw EFilerError("Illegal element type");
  }
  if (doc_ && doc_->OnStreamProgress)
    doc_->OnStreamProgress(*doc_, base_ + static_cast<std::int64_t>(out_.size()));
}

// ---- Node-level reading and writing -------------------------------------------------------

void TXmlNode::ReadFromString(std::string_view text) {
  TXmlParser parser(document_, text);
  parser.ParseNode(*this, std::max(GetDepth(), 0));
}

void TXmlNode::ReadFromStream(TStream& stream) {
  const std::int64_t start = stream.Position();
  const std::string text = ReadAll(stream);
  TXmlParser parser(document_, text);
  parser.ParseNode(*this, std::max(GetDepth(), 0));
  // Leave the stream just behind this node, for whatever follows it.
  stream.Seek(start + static_cast<std::int64_t>(parser.Position()), soBeginning);
}

std::string TXmlNode::WriteToString() const {
  std::string out;
  TXmlWriter(document_, out, 0).WriteNode(*this, std::max(GetDepth(), 0));
  return out;
}

void TXmlNode::WriteToStream(TStream& stream) const {
  const std::string text = WriteToString();
  if (stream.Write(text.data(), static_cast<std::int64_t>(text.size())) != static_cast<std::int64_t>(text.size()))
    throw EStreamError("Cannot write to output stream");
}

// ---- Encodings ------------------------------------------------------------------------------

namespace {

[[noreturn]] void Unsupported() { throw EStreamError("Unsupported string encoding"); }

char16_t Unit(const unsigned char* s, bool bigEndian) {
  return bigEndian ? static_cast<char16_t>(s[0] << 8 | s[1]) : static_cast<char16_t>(s[1] << 8 | s[0]);
}

bool AllAscii(std::string_view s) {
  const char* p = s.data();
  const char* end = p + s.size();
  for (; end - p >= 8; p += 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if (w & 0x8080808080808080ull) return false;
  }
  for (; p < end; ++p)
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  return true;
}

// Bytes (behind any byte-order mark) in the document's string form.
std::string DecodeBody(std::string_view body, TTextEncoding encoding, bool utf8Strings, bool& charLost) {
  if (IsWideEncoding(encoding)) {
    const bool be = IsSwappedEncoding(encoding);
    const auto* s = reinterpret_cast<const unsigned char*>(body.data());
    const std::size_t units = body.size() / 2;
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
      char32_t cp = Unit(s + 2 * i, be);
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
        const char16_t low = Unit(s + 2 * i + 2, be);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
      if (utf8Strings) {
        AppendUtf8(out, cp);
      } else {
        const int b = UnicodeToCp1252(cp);
        if (b < 0) charLost = true;
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
      }
    }
    return out;
  }
  if (encoding == teEightBit) {
    if (!utf8Strings || AllAscii(body)) return std::string(body);
    return AnsiToUtf8Text(body);
  }
  if (encoding == teUtf8) return SanitizeUtf8(body);
  Unsupported();
}

// The encoding a load reads its bytes in, and whether they parse as they
// stand (valid UTF-8 read as UTF-8, or ASCII, which reads alike in both).
struct TReading {
  TTextEncoding Encoding;
  bool AsTheyStand;
};

// The value of the "encoding" attribute of a declaration at the start of
// the text, nullopt without one. Only the declaration is parsed.
std::optional<std::string> LeadingDeclaredEncoding(std::string_view text, std::size_t& end) {
  std::size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  const std::string_view rest = text.substr(at);
  if (rest.substr(0, 5) != "<?xml" || rest.substr(0, 16) == "<?xml-stylesheet") return std::nullopt;
  TXmlNode declaration;
  TXmlParser parser(nullptr, text);
  try {
    parser.ParseNode(declaration, 0);
  } catch (const Exception&) {
    return std::nullopt;  // the parse proper reports it
  }
  end = parser.Position();
  return declaration.HasAttribute("encoding") ? std::optional(declaration.GetAttribute("encoding")) : std::nullopt;
}

// Bytes without a byte-order mark are UTF-8 when their declaration says so,
// or, declaring no encoding, when they are valid UTF-8 (most XML, and any
// text from the clipboard); otherwise 8-bit. A declaration holding bytes
// beyond ASCII is left to the parse, which reads it as 8-bit and switches
// behind it.
TReading ReadingOfUnmarked(std::string_view body) {
  std::size_t end = 0;
  const std::optional<std::string> declared = LeadingDeclaredEncoding(body, end);
  if (declared && SameXmlName(*declared, "UTF-8") && AllAscii(body.substr(0, end)))
    return {teUtf8, ValidUtf8Prefix(body) == body.size()};
  if (declared) return {teEightBit, AllAscii(body)};
  if (ValidUtf8Prefix(body) != body.size()) return {teEightBit, false};
  return AllAscii(body) ? TReading{teEightBit, true} : TReading{teUtf8, true};
}

// Length in bytes of the UTF-8 form of 8-bit text.
std::size_t Utf8LengthOfAnsi(unsigned char c) {
  const char16_t u = Cp1252ToUnicode(c);
  return u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
}

}  // namespace

TDecodedText DecodeXmlBytes(std::string_view bytes, bool utf8Strings) {
  TDecodedText result;
  const int row = DetectEncodingRow(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  const TTextEncoding encoding = row < 0 ? teEightBit : kEncodingTable[static_cast<std::size_t>(row)].Encoding;
  if (IsUnsupportedEncoding(encoding) || encoding == teUcs4LE) Unsupported();
  if (row >= 0 && kEncodingTable[static_cast<std::size_t>(row)].ByteOrderMark)
    bytes.remove_prefix(std::min<std::size_t>(kEncodingTable[static_cast<std::size_t>(row)].Length, bytes.size()));
  result.Encoding = encoding;
  result.Text = DecodeBody(bytes, encoding, utf8Strings, result.CharLost);
  return result;
}

std::string EncodeXmlText(std::string_view text, TTextEncoding encoding, bool utf8Strings) {
  if (IsUnsupportedEncoding(encoding) || encoding == teUcs4LE) Unsupported();
  std::string out;
  const int row = EncodingTableRow(encoding);
  if (row >= 0 && kEncodingTable[static_cast<std::size_t>(row)].ByteOrderMark) {
    const TEncodingSignature& sig = kEncodingTable[static_cast<std::size_t>(row)];
    out.append(reinterpret_cast<const char*>(sig.Bytes), sig.Length);
  }
  if (IsWideEncoding(encoding)) {
    const bool be = IsSwappedEncoding(encoding);
    std::u16string units;
    if (utf8Strings) {
      units = Utf8ToWide(text);
    } else {
      units.reserve(text.size());
      for (char c : text) units.push_back(Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
    }
    out.reserve(out.size() + units.size() * 2);
    for (char16_t u : units) {
      const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
      out.push_back(be ? hi : lo);
      out.push_back(be ? lo : hi);
    }
    return out;
  }
  if (encoding == teUtf8) {
    if (utf8Strings || AllAscii(text)) out.append(text);
    else out += AnsiToUtf8Text(text);
    return out;
  }
  // 8-bit output.
  if (!utf8Strings || AllAscii(text)) out.append(text);
  else out += Utf8ToAnsiText(text);
  return out;
}

// ---- Document ---------------------------------------------------------------------------------

TBrenlowXml::TBrenlowXml() : topNodes_(std::make_unique<TXmlNode>(this)) { Clear(); }

TBrenlowXml::TBrenlowXml(std::string_view rootName) : TBrenlowXml() { Root()->SetName(rootName); }

TBrenlowXml::~TBrenlowXml() = default;

void TBrenlowXml::ResetDefaults() {
  const TXmlDefaults& d = XmlDefaults();
  binaryFormat_ = d.BinaryFormat;
  skipComments_ = d.SkipComments;
  streamEncoding_ = d.StreamEncoding;
  floatExponentForm_ = d.FloatExponentForm;
  floatDigits_ = d.FloatDigits;
  strictRoot_ = d.StrictRoot;
  indentUnit_ = d.IndentUnit;
  noShortTags_ = d.NoShortTags;
  utf8Strings_ = d.Utf8Strings;
  writeDefaults_ = d.WriteDefaults;
  layout_ = d.Layout;
  sortedAttributes_ = d.SortedAttributes;
}

TXmlNode* TBrenlowXml::Clear() {
  ResetDefaults();
  topNodes_->Clear();
  auto declaration = std::make_unique<TXmlNode>(this, ntDeclaration);
  declaration->SetName("xml");
  declaration->AddAttribute("version", XmlDefaults().DeclaredVersion);
  declaration->AddAttribute("encoding", XmlDefaults().DeclaredEncoding);
  topNodes_->AddChild(std::move(declaration));
  return topNodes_->AddNewChild("");
}

void TBrenlowXml::Assign(const TBrenlowXml& source) {
  if (&source == this) return;
  binaryFormat_ = source.binaryFormat_;
  skipComments_ = source.skipComments_;
  streamEncoding_ = source.streamEncoding_;
  strictRoot_ = source.strictRoot_;
  indentUnit_ = source.indentUnit_;
  noShortTags_ = source.noShortTags_;
  utf8Strings_ = source.utf8Strings_;
  writeDefaults_ = source.writeDefaults_;
  layout_ = source.layout_;
  sortedAttributes_ = source.sortedAttributes_;
  topNodes_->Assign(*source.topNodes_);
  TXmlNode::SetDocumentDeep(topNodes_.get(), this);
}

void TBrenlowXml::Assign(const TXmlNode& source) {
  topNodes_->Assign(source);
  TXmlNode::SetDocumentDeep(topNodes_.get(), this);
}

TXmlNode* TBrenlowXml::Root() const { return topNodes_->FindChildOfKind(ntElement); }

bool TBrenlowXml::IsEmpty() const {
  const TXmlNode* root = Root();
  return !root || root->IsEmpty();
}

std::string TBrenlowXml::GetDeclaredEncoding() const {
  const TXmlNode* first = topNodes_->GetChild(0);
  return first && first->Kind() == ntDeclaration ? first->GetAttribute("encoding") : std::string();
}

// Parses the top-level nodes of text. With a source (a load), a declaration
// of UTF-8 switches 8-bit input to UTF-8 for the rest of it.
struct TBrenlowXml::LoadSource {
  std::string_view Body;
  TTextEncoding Encoding;
  bool Utf8Strings;
};

void TBrenlowXml::ParseTopLevel(std::string_view text, std::string& storage, LoadSource* source,
                                std::size_t start) {
  stopRequested_ = false;
  topNodes_->ClearChildren();
  if (OnStreamProgress) OnStreamProgress(*this, 0);
  TXmlParser parser(this, text);
  parser.Reset(text, start);
  while (!parser.AtEnd()) {
    auto node = std::make_unique<TXmlNode>(this);
    TXmlNode* raw = node.get();
    topNodes_->AddChild(std::move(node));
    parser.ParseNode(*raw, 0);
    if (stopRequested_) break;
    if (source && source->Encoding == teEightBit && raw->Kind() == ntDeclaration &&
        SameXmlName(raw->GetAttribute("encoding"), "UTF-8")) {
      source->Encoding = teUtf8;
      // The rest of the bytes were decoded as 8-bit; decode them again.
      const std::size_t pos = parser.Position();
      std::size_t rawPos = 0, decoded = 0;
      while (decoded < pos && rawPos < source->Body.size()) {
        const auto c = static_cast<unsigned char>(source->Body[rawPos++]);
        decoded += source->Utf8Strings ? Utf8LengthOfAnsi(c) : 1;
      }
      std::string redecoded(text.substr(0, pos));
      redecoded += SanitizeUtf8(source->Body.substr(rawPos));
      storage = std::move(redecoded);
      text = storage;
      parser.Reset(text, pos);
    }
    if (raw->IsEmpty()) topNodes_->RemoveChild(raw);
  }
  if (OnStreamProgress) OnStreamProgress(*this, static_cast<std::int64_t>(text.size()));
  CheckStrictRoot();
}

void TBrenlowXml::CheckStrictRoot() const {
  int elements = 0, declarations = 0, doctypes = 0, cdata = 0;
  int firstDeclaration = -1, lastElement = -1, lastDoctype = -1;
  for (int i = 0; i < topNodes_->GetChildCount(); ++i) {
    switch (topNodes_->GetChild(i)->Kind()) {
      case ntElement: ++elements; lastElement = i; break;
      case ntDeclaration: if (declarations++ == 0) firstDeclaration = i; break;
      case ntDoctype: ++doctypes; lastDoctype = i; break;
      case ntCData: ++cdata; break;
      default: break;
    }
  }
  if (elements == 0) throw EFilerError("No root element found in xml");
  if (!strictRoot_) return;
  if (elements > 1) throw EFilerError("More than one root element found in xml");
  if (declarations > 1) throw EFilerError("More than one xml declaration found in xml");
  if (declarations == 1 && firstDeclaration != 0) throw EFilerError("Xml declaration must be first element");
  if (doctypes > 1) throw EFilerError("More than one doctype declaration found in root");
  if (doctypes == 1 && lastDoctype > lastElement) throw EFilerError("Doctype declaration found after root element");
  if (cdata > 0) throw EFilerError("No CDATA allowed in root");
}

void TBrenlowXml::ReadFromString(std::string_view text) {
  // A copy: the text may lie in this document's own tree, which the parse
  // clears first.
  std::string copy(text);
  ParseTopLevel(copy, copy, nullptr);
}

void TBrenlowXml::ReadFromStream(TStream& stream) {
  std::string text = ReadAll(stream);
  ParseTopLevel(text, text, nullptr);
}

void TBrenlowXml::LoadFromStream(TStream& stream) {
  std::string bytes;
  std::string_view all;
  auto* memory = dynamic_cast<TMemoryStream*>(&stream);
  if (memory && !OnNodeStarted && !OnNodeFinished && !OnStreamProgress && !OnCharLost) {
    // Nothing can run during the parse that might change the stream: parse
    // its bytes in place instead of copying them.
    const std::int64_t pos = memory->Position(), size = memory->Size();
    if (pos < size)
      all = std::string_view(static_cast<const char*>(memory->Memory()) + pos, static_cast<std::size_t>(size - pos));
    memory->Seek(size, soBeginning);
  } else {
    bytes = ReadAll(stream);
    all = bytes;
  }
  const int row = DetectEncodingRow(reinterpret_cast<const std::uint8_t*>(all.data()), all.size());
  const TTextEncoding encoding = row < 0 ? teEightBit : kEncodingTable[static_cast<std::size_t>(row)].Encoding;
  if (IsUnsupportedEncoding(encoding) || encoding == teUcs4LE) Unsupported();
  std::string_view body = all;
  if (row >= 0 && kEncodingTable[static_cast<std::size_t>(row)].ByteOrderMark)
    // A mark cut short by the end of input leaves nothing behind it.
    body.remove_prefix(std::min<std::size_t>(kEncodingTable[static_cast<std::size_t>(row)].Length, body.size()));
  // Read once, in the encoding decided up front; bytes that need no change
  // are parsed in place, past any mark.
  const TReading reading = encoding == teEightBit ? ReadingOfUnmarked(body)
                                                  : TReading{encoding, encoding == teUtf8 && ValidUtf8Prefix(body) == body.size()};
  bool charLost = false;
  std::string storage;
  std::string_view text = all;
  std::size_t start = all.size() - body.size();
  if (!reading.AsTheyStand) {
    storage = DecodeBody(body, reading.Encoding, utf8Strings_, charLost);
    text = storage;
    start = 0;
  }
  if (charLost && OnCharLost) OnCharLost(*this);
  LoadSource source{body, reading.Encoding, utf8Strings_};
  ParseTopLevel(text, storage, &source, start);
  streamEncoding_ = source.Encoding;
  if (streamEncoding_ == teUtf8 || SameXmlName(GetDeclaredEncoding(), "UTF-8")) utf8Strings_ = true;
}

void TBrenlowXml::LoadFromFile(const std::filesystem::path& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

std::string TBrenlowXml::WriteToString() {
  if (strictRoot_ && !Root()) throw EFilerError("XML root element not defined.");
  if (OnStreamProgress) OnStreamProgress(*this, 0);
  std::string out;
  TXmlWriter writer(this, out, 0);
  const std::string lineBreak = GetDocLineBreak();
  for (int i = 0; i < topNodes_->GetChildCount(); ++i) {
    writer.WriteNode(*topNodes_->GetChild(i), 0);
    out += lineBreak;
  }
  if (OnStreamProgress) OnStreamProgress(*this, static_cast<std::int64_t>(out.size()));
  return out;
}

void TBrenlowXml::WriteToStream(TStream& stream) {
  const std::string text = WriteToString();
  if (stream.Write(text.data(), static_cast<std::int64_t>(text.size())) != static_cast<std::int64_t>(text.size()))
    throw EStreamError("Cannot write to output stream");
}

void TBrenlowXml::SaveToStream(TStream& stream) {
  // Check the encoding before any byte is written.
  if (IsUnsupportedEncoding(streamEncoding_) || streamEncoding_ == teUcs4LE) Unsupported();
  const std::string bytes = EncodeXmlText(WriteToString(), streamEncoding_, utf8Strings_);
  if (stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size())) != static_cast<std::int64_t>(bytes.size()))
    throw EStreamError("Cannot write to output stream");
}

void TBrenlowXml::SaveToFile(const std::filesystem::path& fileName) {
  WriteFileAtomically(fileName, [this](TStream& s) { SaveToStream(s); });
}

}  // namespace kdl
