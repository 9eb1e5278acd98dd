// Wide-string helpers and a list of wide strings with change notification,
// holding the lines of multi-line texts. Positions are 1-based UTF-16 units.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kdl {

// The part of s from the 1-based index with at most count characters; empty
// when index <= 0, index > length or count <= 0.
std::u16string WideCopy(const std::u16string& s, int index, int count);

// The number of characters from pos (1-based) up to the next CR or LF or the
// end; pos moves past that line end (CR LF counts as one), to length + 1 at
// the end. Returns -1 and leaves pos when pos is past the end.
int WideNextLine(const std::u16string& s, int& pos);

class TqxWidestringList {
 public:
  using TNotifyEvent = std::function<void(TqxWidestringList* sender)>;

  TqxWidestringList() = default;
  virtual ~TqxWidestringList() = default;
  TqxWidestringList(const TqxWidestringList&) = delete;
  TqxWidestringList& operator=(const TqxWidestringList&) = delete;

  // Copies another list inside one update.
  virtual void Assign(const TqxWidestringList& source);
  // Copies 8-bit strings (Windows-1252) inside one update.
  virtual void Assign(const std::vector<std::string>& source);
  virtual int Add(const std::u16string& s);
  virtual void AddStrings(const TqxWidestringList& list);
  // Removes all strings; fires no events by itself.
  virtual void Clear();

  void BeginUpdate();
  void EndUpdate();

  int Count() const { return static_cast<int>(strings_.size()); }
  const std::u16string& Get(int index) const;

  // The strings joined by CR LF, without a trailing line break.
  std::u16string Text() const;
  // One string per line (CR, LF or CR LF), up to a NUL or the end; a final
  // line break adds no empty string.
  void SetText(const std::u16string& text);

  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;

 private:
  std::vector<std::u16string> strings_;
  int updateCount_ = 0;
};

}  // namespace kdl
