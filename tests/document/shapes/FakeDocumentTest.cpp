#include <gtest/gtest.h>

#include "FakeDocument.h"
#include "foundation/Stream.h"

namespace kdl {
namespace {

using testing::FakeDocument;

std::unique_ptr<TdtpCommand> Record(std::int32_t id, const std::string& name) {
  return std::make_unique<TdtpCommand>(ckPropertyChanged, id, name, "1");
}

TEST(FakeDocument, GroupsChainEveryRecordAfterTheFirst) {
  FakeDocument doc;
  doc.AddUndo(Record(1, "A"));
  doc.BeginUndo();
  doc.AddUndo(Record(1, "B"));
  doc.BeginUndo();
  doc.AddUndo(Record(1, "C"));
  doc.EndUndo();
  doc.EndUndo();
  doc.LockUndo();
  doc.AddUndo(Record(1, "D"));  // locked: dropped
  doc.UnlockUndo();
  ASSERT_EQ(doc.UndoList().size(), 3u);
  EXPECT_FALSE(doc.UndoList()[0]->Chained);
  EXPECT_FALSE(doc.UndoList()[1]->Chained);
  EXPECT_TRUE(doc.UndoList()[2]->Chained);
  EXPECT_EQ(doc.UndoGroupCount(), 2);
}

TEST(FakeDocument, ArchiveIsARealInMemoryStorage) {
  FakeDocument doc;
  ASSERT_NE(doc.Storage(), nullptr);
  TMemoryStream in;
  in.WriteBuffer("abc", 3);
  doc.Storage()->WriteStream("Index.xml", in);
  EXPECT_TRUE(doc.Storage()->StreamExists("INDEX.XML"));
  doc.SetHasArchive(false);
  EXPECT_EQ(doc.Storage(), nullptr);
}

TEST(Command, MemorySizeCountsTextsAndPayload) {
  auto data = std::make_unique<TMemoryStream>();
  data->WriteBuffer("12345", 5);
  TdtpCommand c(ckChildDeleted, 7, "ClassName", "TdtpShape", std::move(data));
  EXPECT_EQ(c.Data->Position(), 0);
  EXPECT_EQ(c.MemorySize(), 9 + 9 + 4 + 5);
}

}  // namespace
}  // namespace kdl
