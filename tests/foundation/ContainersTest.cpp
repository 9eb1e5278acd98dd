#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/QuickMemStream.h"
#include "foundation/SortedList.h"
#include "foundation/WidestringList.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

TEST(WideStrings, CopyAndNextLine) {
  EXPECT_EQ(WideCopy(u"hello", 2, 3), u"ell");
  EXPECT_EQ(WideCopy(u"hello", 4, 100), u"lo");
  EXPECT_EQ(WideCopy(u"hello", 4, 0x7FFFFFFF), u"lo");
  EXPECT_EQ(WideCopy(u"hello", 0, 2), u"");
  EXPECT_EQ(WideCopy(u"hello", 6, 2), u"");
  EXPECT_EQ(WideCopy(u"hello", 1, -1), u"");

  const std::u16string s = u"ab\r\nc";
  int pos = 1;
  EXPECT_EQ(WideNextLine(s, pos), 2);
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(WideNextLine(s, pos), 1);
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(WideNextLine(s, pos), -1);
  EXPECT_EQ(pos, 6);
  // LF CR is two breaks; an empty line between them.
  const std::u16string t = u"x\n\ry";
  pos = 1;
  EXPECT_EQ(WideNextLine(t, pos), 1);
  EXPECT_EQ(WideNextLine(t, pos), 0);
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(WideNextLine(t, pos), 1);
}

TEST(WidestringList, TextEventsAndBounds) {
  TqxWidestringList list;
  int changing = 0, changed = 0;
  list.OnChanging = [&](TqxWidestringList* sender) {
    EXPECT_EQ(sender, &list);
    ++changing;
  };
  list.OnChange = [&](TqxWidestringList*) { ++changed; };

  list.SetText(u"a\rb\n\nc");
  EXPECT_EQ(list.Get(2), u"");
  EXPECT_EQ(list.Text(), u"a\r\nb\r\n\r\nc");
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);

  list.SetText(u"one\r\ntwo\r\n");
  EXPECT_EQ(list.Count(), 2);
  list.SetText(std::u16string(u"x\ny\0z\nw", 7));
  EXPECT_EQ(list.Count(), 2);
  list.SetText(u"");
  EXPECT_EQ(list.Count(), 0);

  changing = changed = 0;
  EXPECT_EQ(list.Add(u"first"), 0);
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  list.BeginUpdate();
  for (int i = 0; i < 10; ++i) list.Add(u"n");
  list.EndUpdate();
  EXPECT_EQ(changing, 2);
  EXPECT_EQ(changed, 2);

  EXPECT_THROW(list.Get(list.Count()), Exception);
  EXPECT_THROW(list.Get(-1), Exception);
  EXPECT_EQ(test::ErrorOf([&] { list.EndUpdate(); }), "EndUpdate called more often than BeginUpdate");
  // The refused EndUpdate leaves the counter balanced.
  changing = changed = 0;
  list.Add(u"again");
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);

  TqxWidestringList copy;
  copy.Assign(list);
  EXPECT_EQ(copy.Text(), list.Text());
  copy.AddStrings(copy);
  EXPECT_EQ(copy.Count(), 2 * list.Count());
  // 8-bit strings are Windows-1252.
  copy.Assign(std::vector<std::string>{"caf\xE9", "\x80 5", "\x9F"});
  EXPECT_EQ(copy.Text(), u"caf\u00E9\r\n\u20AC 5\r\n\u0178");
}

struct Key {
  explicit Key(int v) : value(v) {}
  int value;
};

int ByValue(const Key* a, const Key* b, std::intptr_t) {
  // Any magnitude, as the events in the wild return.
  return (a->value - b->value) * 1000;
}

TEST(SortedList, FindAddAndSort) {
  TSortedList<Key> list;
  list.OnCompare = ByValue;
  EXPECT_TRUE(list.Sorted());
  for (int v : {5, 1, 3}) list.Add(std::make_unique<Key>(v));
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(0)->value, 1);
  EXPECT_EQ(list.Items(2)->value, 5);

  Key four(4);
  int index = -1;
  EXPECT_FALSE(list.Find(&four, index));
  EXPECT_EQ(index, 2);
  Key three(3);
  EXPECT_TRUE(list.Find(&three, index));
  EXPECT_EQ(index, 1);
  Key* second = list.Items(1);
  EXPECT_EQ(list.Add(std::make_unique<Key>(3)), 1);
  EXPECT_EQ(list.Items(2), second);  // inserted before the equal item

  // Unsorted: appends, finds by identity, and Sort restores the order.
  list.SetSorted(false);
  list.Add(std::make_unique<Key>(0));
  EXPECT_EQ(list.Items(4)->value, 0);
  EXPECT_FALSE(list.Find(&three, index));
  EXPECT_EQ(index, 5);
  EXPECT_TRUE(list.Find(second, index));
  list.Sort();
  EXPECT_TRUE(list.Sorted());
  std::vector<int> values;
  for (int i = 0; i < list.Count(); ++i) values.push_back(list.Items(i)->value);
  EXPECT_EQ(values, (std::vector<int>{0, 1, 3, 3, 5}));

  // Without an event: by address, so distinct items never compare equal.
  TSortedList<Key> byAddress;
  for (int i = 0; i < 50; ++i) byAddress.Add(std::make_unique<Key>(i));
  for (int i = 1; i < 50; ++i) EXPECT_LT(byAddress.DoCompare(byAddress.Items(i - 1), byAddress.Items(i)), 0);
}

TEST(SortedList, SortIsCorrectAndStaysInBoundsWithAnyCompare) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const int n = 1 + static_cast<int>(rng() % 60);
    TSortedList<Key> list;
    list.SetSorted(false);
    std::vector<int> expect;
    for (int i = 0; i < n; ++i) {
      const int v = static_cast<int>(rng() % 20);
      expect.push_back(v);
      list.Add(std::make_unique<Key>(v));
    }
    const bool consistent = round % 2 == 0;
    list.OnCompare = [&](const Key* a, const Key* b, std::intptr_t) {
      if (consistent) return ByValue(a, b, 0);
      return static_cast<int>(rng() % 3) - 1;  // contradicts itself
    };
    list.Sort();
    std::vector<int> got;
    for (int i = 0; i < list.Count(); ++i) got.push_back(list.Items(i)->value);
    std::sort(expect.begin(), expect.end());
    if (consistent) {
      EXPECT_EQ(got, expect);
    } else {
      // Every item is still there exactly once.
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, expect);
    }
  }
}

TEST(QuickMemStream, ReadsStopAtTheEndAndNegativeArgumentsDoNothing) {
  TQuickMemStream s;
  EXPECT_EQ(s.Write("abcdefgh", 8), 8);
  char buf[8];
  s.Seek(-3, soEnd);
  EXPECT_EQ(s.Read(buf, 8), 3);
  EXPECT_EQ(s.Seek(-5, soBeginning), -5);
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Write("x", 1), 0);
  s.Seek(0, soBeginning);
  EXPECT_EQ(s.Write("x", -1), 0);
  EXPECT_EQ(s.Read(buf, -1), 0);
  EXPECT_THROW(s.Seek(INT64_MAX, soEnd), EStreamError);
}

}  // namespace
}  // namespace kdl
