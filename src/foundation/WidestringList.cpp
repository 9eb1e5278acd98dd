#include "foundation/WidestringList.h"

#include <algorithm>

#include "platform/CodePage.h"
#include "platform/Exception.h"

namespace kdl {

namespace {

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
  for (const auto& s : source) Add(Cp1252ToWide(s));
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
