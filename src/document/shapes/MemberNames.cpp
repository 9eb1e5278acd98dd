#include "document/shapes/MemberNames.h"

#include <algorithm>
#include <string_view>

namespace kdl {

namespace {

bool HasPrefix(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool HasSuffix(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && HasPrefix(s.substr(s.size() - suffix.size()), suffix);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number of prefix + four digits + extension; -1 for any other name.
int NumberedName(std::string_view n, std::string_view prefix, std::string_view extension) {
  if (n.size() != prefix.size() + 4 + extension.size() || !HasPrefix(n, prefix) || !HasSuffix(n, extension))
    return -1;
  int value = 0;
  for (const char c : n.substr(prefix.size(), 4)) {
    if (!IsDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

bool IsStructuralMemberName(const std::string& name) {
  const std::string_view n(name);
  if (n.size() == 9 && (HasPrefix(n, "index.xml") || HasPrefix(n, "fonts.dat"))) return true;
  if (HasPrefix(n, "thumb")) return true;
  // "Page" and a number, whatever follows: the page members and any name
  // an older reader could have counted as one.
  return HasPrefix(n, "page") &&
         (HasSuffix(n, ".xml") || (n.size() > 4 && (IsDigit(n[4]) || n[4] == '-')));
}

bool IsDocumentMemberName(const std::string& name) {
  const std::string_view n(name);
  if (n.size() == 9 && (HasPrefix(n, "index.xml") || HasPrefix(n, "fonts.dat"))) return true;
  return NumberedName(n, "page", ".xml") >= 0 || NumberedName(n, "thumb", ".bmp") >= 0;
}

int PageMemberNumber(const std::string& name) { return std::max(NumberedName(name, "page", ".xml"), 0); }

}  // namespace kdl
