// An owning list of objects kept in order by a compare event; the base of
// lists that are searched by key (the font cache's glyph list).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/Exception.h"

namespace kdl {

template <class T>
class TSortedList {
 public:
  // Negative, zero or positive, like a three-way comparison; any magnitude.
  using TCompareEvent = std::function<int(const T* item1, const T* item2, std::intptr_t info)>;

  TSortedList() = default;
  virtual ~TSortedList() = default;
  TSortedList(const TSortedList&) = delete;
  TSortedList& operator=(const TSortedList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  T* Items(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
  int IndexOf(const T* item) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == item) return static_cast<int>(i);
    return -1;
  }
  void Delete(int index) { items_.erase(items_.begin() + CheckedIndex(index)); }
  // Hands an item back to the caller, removing it from the list.
  std::unique_ptr<T> Extract(int index) {
    const auto i = CheckedIndex(index);
    auto item = std::move(items_[i]);
    items_.erase(items_.begin() + i);
    return item;
  }
  void Clear() { items_.clear(); }

  bool Sorted() const { return sorted_; }
  void SetSorted(bool value) { sorted_ = value; }
  std::intptr_t CompareInfo() const { return compareInfo_; }
  void SetCompareInfo(std::intptr_t value) { compareInfo_ = value; }

  TCompareEvent OnCompare;

  virtual int DoCompare(const T* item1, const T* item2) const {
    if (OnCompare) return OnCompare(item1, item2, compareInfo_);
    // By address, in full: a narrowed address could make distinct items equal.
    const std::less<const T*> less;
    return less(item1, item2) ? -1 : less(item2, item1) ? 1 : 0;
  }

  // Sorted: binary search; index is the item's place or, when absent, where it
  // would be inserted. Unsorted: a linear search by identity.
  virtual bool Find(const T* item, int& index) const {
    if (!sorted_) {
      index = IndexOf(item);
      if (index >= 0) return true;
      index = Count();
      return false;
    }
    int lo = 0;
    int hi = Count();
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      const int r = DoCompare(items_[static_cast<std::size_t>(mid)].get(), item);
      if (r < 0) {
        lo = mid + 1;
      } else if (r == 0) {
        index = mid;
        return true;
      } else {
        hi = mid;
      }
    }
    index = lo;
    return false;
  }

  // Sorted: at the found place (before an equal item); unsorted: appended.
  virtual int Add(std::unique_ptr<T> item) {
    int index = Count();
    if (sorted_) Find(item.get(), index);
    items_.insert(items_.begin() + index, std::move(item));
    return index;
  }

  virtual void Sort() {
    if (Count() > 1) QuickSort(0, Count() - 1);
    sorted_ = true;
  }

 private:
  std::size_t CheckedIndex(int index) const {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds");
    return static_cast<std::size_t>(index);
  }

  // Hoare partition around the middle item; the scans are bounded by the
  // range, so a compare event that contradicts itself can reorder the items
  // but never reach outside them. The smaller side recurses, the larger loops.
  void QuickSort(int l, int r) {
    while (l < r) {
      int i = l;
      int j = r;
      int p = l + (r - l) / 2;
      do {
        while (i < r && DoCompare(At(i), At(p)) < 0) ++i;
        while (j > l && DoCompare(At(j), At(p)) > 0) --j;
        if (i <= j) {
          std::swap(items_[static_cast<std::size_t>(i)], items_[static_cast<std::size_t>(j)]);
          if (p == i) p = j;
          else if (p == j) p = i;
          ++i;
          --j;
        }
      } while (i <= j);
      if (j - l < r - i) {
        if (l < j) QuickSort(l, j);
        l = i;
      } else {
        if (i < r) QuickSort(i, r);
        r = j;
      }
    }
  }

  const T* At(int index) const { return items_[static_cast<std::size_t>(index)].get(); }

  std::vector<std::unique_ptr<T>> items_;
  bool sorted_ = true;
  std::intptr_t compareInfo_ = 0;
};

}  // namespace kdl
