#include "foundation/WidestringList.h"

#include <algorithm>

#include "platform/Exception.h"

namespace kdl {

namespace {

// Windows-1252 bytes 0x80..0x9F; the rest of the code page equals Latin-1.
// Undefined bytes map to their C1 control code points.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string AnsiToWide(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (const char ch : s) {
    const auto b = static_cast<unsigned char>(ch);
    out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
  }
  return out;
}

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

}  // namespace

std::u16string WideCopy(const std::u16string& s, int index, int count) {
  const auto length = static_cast<long long>(s.size());
  if (index <= 0 || index > length || count <= 0) return {};
  const auto start = static_cast<std::size_t>(index - 1);
  const auto n = std::min<long long>(count, length - (index - 1));
  return s.substr(start, static_cast<std::size_t>(n));
}

int WideNextLine(const std::u16string& s, int& pos) {
  const auto length = static_cast<long long>(s.size());
  if (pos > length) return -1;
  // A position before the start reads from the first character.
  std::size_t i = pos < 1 ? 0 : static_cast<std::size_t>(pos - 1);
  const std::size_t start = i;
  while (i < s.size() && !IsLineBreak(s[i])) ++i;
  const int count = static_cast<int>(i - start);
  if (i < s.size()) {
    if (s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n') ++i;
    ++i;
  }
  pos = static_cast<int>(i) + 1;
  return count;
}

void TqxWidestringList::Assign(const TqxWidestringList& source) {
  if (&source == this) return;
  BeginUpdate();
  Clear();
  AddStrings(source);
  EndUpdate();
}

void TqxWidestringList::Assign(const std::vector<std::string>& source) {
  BeginUpdate();
  Clear();
  for (const auto& s : source) Add(AnsiToWide(s));
  EndUpdate();
}

int TqxWidestringList::Add(const std::u16string& s) {
  BeginUpdate();
  strings_.push_back(s);
  EndUpdate();
  return Count() - 1;
}

void TqxWidestringList::AddStrings(const TqxWidestringList& list) {
  // Index-based, so that adding a list to itself copies what was there.
  const int n = list.Count();
  for (int i = 0; i < n; ++i) Add(std::u16string(list.Get(i)));
}

void TqxWidestringList::Clear() { strings_.clear(); }

void TqxWidestringList::BeginUpdate() {
  if (updateCount_ == 0 && OnChanging) OnChanging(this);
  ++updateCount_;
}

void TqxWidestringList::EndUpdate() {
  if (updateCount_ <= 0) throw Exception("EndUpdate called more often than BeginUpdate");
  --updateCount_;
  if (updateCount_ == 0 && OnChange) OnChange(this);
}

const std::u16string& TqxWidestringList::Get(int index) const {
  if (index < 0 || index >= Count()) throw Exception("List index out of bounds");
  return strings_[static_cast<std::size_t>(index)];
}

std::u16string TqxWidestringList::Text() const {
  std::u16string text;
  for (std::size_t i = 0; i < strings_.size(); ++i) {
    if (i > 0) text += u"\r\n";
    text += strings_[i];
  }
  return text;
}

void TqxWidestringList::SetText(const std::u16string& text) {
  BeginUpdate();
  Clear();
  const std::u16string body = text.substr(0, std::min(text.find(u'\0'), text.size()));
  int pos = 1;
  for (;;) {
    const int start = pos;
    const int n = WideNextLine(body, pos);
    if (n < 0) break;
    Add(WideCopy(body, start, n));
  }
  EndUpdate();
}

}  // namespace kdl
