#include <gtest/gtest.h>

#include <cctype>
#include <map>

#include "FakeDocument.h"
#include "TestFiles.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/shapes/ShapeValues.h"

namespace kdl {
namespace {

using testing::FailingShape;
using testing::FakeDocument;
using testing::MemberShape;

std::map<std::string, std::string> Members(TqxStorage& storage) { return testing::AllMembers(storage); }
void Put(TqxStorage& storage, const std::string& name, const std::string& bytes) {
  testing::WriteMember(storage, name, bytes);
}
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The strings written by Python's struct module, by case name.
std::string FromPython(const std::string& name) {
  static const std::map<std::string, std::string> cases = [] {
    std::map<std::string, std::string> out;
    int status = 0;
    const std::string all = test::RunCommand(
        "python3 " KDL_SOURCE_DIR "/tests/document/shapes/shape_string_writer.py", &status);
    EXPECT_EQ(status, 0);
    std::size_t at = 0;
    while (at < all.size()) {
      const std::size_t newline = all.find('\n', at);
      if (newline == std::string::npos || newline + 5 > all.size()) break;
      const std::string key = all.substr(at, newline - at);
      std::uint32_t length = 0;
      for (int i = 3; i >= 0; --i)
        length = length << 8 | static_cast<unsigned char>(all[newline + 1 + static_cast<std::size_t>(i)]);
      out[key] = all.substr(newline + 5, length);
      at = newline + 5 + length;
    }
    return out;
  }();
  const auto it = cases.find(name);
  EXPECT_NE(it, cases.end()) << name;
  return it == cases.end() ? std::string() : it->second;
}

class ShapeString : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitializeDocumentLibrary();
    testing::RegisterTestShapes();
  }
  void SetUp() override { root.SetDocument(&doc); }
  // A member shape added to parent, with no member yet.
  template <class Kind = MemberShape>
  static Kind& Add(TdtpShape& parent) {
    auto s = std::make_unique<Kind>();
    Kind& ref = *s;
    parent.AddShape(std::move(s));
    return ref;
  }
  // The same, holding bytes in a member of its own.
  static MemberShape& AddMemberShape(TdtpShape& parent, const std::string& bytes) {
    MemberShape& ref = Add(parent);
    ref.Store(bytes);
    return ref;
  }
  FakeDocument doc;
  TdtpShape root;
};

TEST_F(ShapeString, CarriesMembersIntoAnotherDocument) {
  auto& a = AddMemberShape(root, "first image");
  auto& b = AddMemberShape(a, std::string(3000, '\x7f'));
  const std::string data = a.SaveToString();
  // Layout: N, then per entry name and bytes, then the XML block.
  ASSERT_EQ(data.substr(0, 4), std::string("\x02\0\0\0", 4));

  FakeDocument other;
  TdtpShape target;
  target.SetDocument(&other);
  MemberShape& c = Add(target);
  other.ClearUndo();
  c.LoadFromString(data);
  EXPECT_EQ(c.ArchiveName, a.ArchiveName);
  EXPECT_EQ(c.Bytes(), "first image");
  ASSERT_EQ(c.GetShapeCount(), 1);
  EXPECT_EQ(static_cast<MemberShape*>(c.GetShape(0))->ArchiveName, b.ArchiveName);
  EXPECT_EQ(static_cast<MemberShape*>(c.GetShape(0))->Bytes(), std::string(3000, '\x7f'));
  EXPECT_EQ(other.Storage()->StreamCount(), 2);
  EXPECT_TRUE(other.UndoList().empty());  // loading records nothing

  // Without a document there are no members to list.
  MemberShape loose;
  loose.ArchiveName = "TMP0000001.png";
  EXPECT_EQ(loose.SaveToString().substr(0, 4), std::string(4, '\0'));
}

// Read back by the layout alone, a written string ends exactly where its
// XML block says, whatever the sizes of the members before it and of the
// XML (here far more than a few kilobytes of both).
TEST_F(ShapeString, WrittenStringFollowsTheLayoutToItsLastByte) {
  auto& a = AddMemberShape(root, std::string(200000, '\x5a'));
  for (int i = 0; i < 150; ++i) Add(a);
  AddMemberShape(a, "second");
  const std::string data = a.SaveToString();
  std::size_t at = 0;
  auto int32 = [&] {
    EXPECT_LE(at + 4, data.size());
    if (at + 4 > data.size()) return std::uint32_t{0};
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    at += 4;
    return v;
  };
  const std::uint32_t count = int32();
  ASSERT_EQ(count, 2u);
  std::map<std::string, std::string> members;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t nameLength = int32();
    const std::string name = data.substr(at, nameLength);
    at += nameLength;
    const std::uint32_t size = int32();
    members[name] = data.substr(at, size);
    at += size;
  }
  const std::uint32_t xmlLength = int32();
  EXPECT_GT(xmlLength, 4096u);
  EXPECT_EQ(at + xmlLength, data.size());
  EXPECT_LE(data.find('<', at), at + 3);  // after a byte-order mark at most
  EXPECT_EQ(members, Members(*doc.Storage()));
}

TEST_F(ShapeString, CopiesInOneDocumentOwnTheirMembers) {
  auto& original = AddMemberShape(root, "pixels");
  auto& copy1 = AddMemberShape(root, "x");
  auto& copy2 = AddMemberShape(root, "y");
  copy1.Assign(original);
  copy2.Assign(original);
  EXPECT_NE(copy1.ArchiveName, original.ArchiveName);
  EXPECT_NE(copy2.ArchiveName, copy1.ArchiveName);
  EXPECT_TRUE(TqxStorage::IsTempStreamName(copy1.ArchiveName));
  root.DeleteShape(root.IndexOfShape(&original));
  EXPECT_EQ(copy1.Bytes(), "pixels");
  EXPECT_EQ(copy2.Bytes(), "pixels");
}

TEST_F(ShapeString, AssignFromInsideItsOwnSubtree) {
  auto& outer = AddMemberShape(root, "outer");
  auto& inner = AddMemberShape(outer, "inner");
  bool fired = false;
  inner.OnChange = [&](TdtpShape&) { fired = true; };
  outer.Assign(inner);  // inner is freed by the clear; its string was taken first
  EXPECT_EQ(outer.GetShapeCount(), 0);
  EXPECT_EQ(outer.Bytes(), "inner");
  ASSERT_TRUE(outer.OnChange);
  outer.Assign(outer);  // nothing
  EXPECT_EQ(outer.Bytes(), "inner");
}

TEST_F(ShapeString, SelfAssignmentKeepsTheChildrenAndRecordsNothing) {
  // Whoever holds a child (a selection, an undo record) finds it still
  // there, under its own ID.
  auto& outer = AddMemberShape(root, "outer");
  auto& inner = AddMemberShape(outer, "inner");
  const std::int32_t id = inner.ID();
  doc.ClearUndo();
  outer.Assign(outer);
  ASSERT_EQ(outer.GetShapeCount(), 1);
  ASSERT_EQ(outer.GetShape(0), &inner);
  EXPECT_EQ(inner.ID(), id);
  EXPECT_EQ(inner.Bytes(), "inner");
  EXPECT_EQ(outer.Bytes(), "outer");
  EXPECT_TRUE(doc.UndoList().empty());
}

TEST_F(ShapeString, NeverChangesAnExistingMember) {
  TqxStorage& archive = *doc.Storage();
  for (const char* name : {"Index.xml", "Page0001.xml", "Thumb0001.bmp", "Fonts.dat"})
    Put(archive, name, std::string("original ") + name);
  Put(archive, "TMP0000001.png", "another shape's image");
  const auto before = Members(archive);

  MemberShape& s = Add(root);
  s.LoadFromString(FromPython("structural"));
  auto after = Members(archive);
  for (const auto& [name, bytes] : before) EXPECT_EQ(after[name], bytes) << name;
  // The shape's own member went under a fresh name, and its XML follows.
  EXPECT_NE(s.ArchiveName, "TMP0000001.png");
  EXPECT_TRUE(TqxStorage::IsTempStreamName(s.ArchiveName));
  EXPECT_EQ(s.Bytes(), "\x89PNG\r\n\x1a\nmember bytes");
  // Index.xml and its case variant are one name, stored once; the nameless
  // entry is skipped.
  EXPECT_EQ(after.size(), before.size() + 5);
}

TEST_F(ShapeString, LetterCaseVariantIsTheSameMember) {
  Put(*doc.Storage(), "TMP1234567.png", "mine");
  MemberShape& s = Add(root);
  s.LoadFromString(FromPython("case_variant"));
  EXPECT_EQ(Members(*doc.Storage())["TMP1234567.png"], "mine");
  EXPECT_EQ(doc.Storage()->StreamCount(), 2);
  EXPECT_FALSE(doc.Storage()->GetStreamName(1) == "tmp1234567.png");
  EXPECT_EQ(s.Bytes(), "theirs");
}

TEST_F(ShapeString, RenamedMemberIsFollowedWhateverTheLetterCase) {
  // The string's member collides with another shape's temporary member and
  // goes under a fresh name; the XML spells the old name in other letters,
  // and must still follow the rename instead of pointing at the other image.
  Put(*doc.Storage(), "TMP0000001.png", "another shape's image");
  MemberShape& s = Add(root);
  s.LoadFromString(FromPython("renamed_other_case"));
  EXPECT_TRUE(TqxStorage::IsTempStreamName(s.ArchiveName));
  EXPECT_NE(Lower(s.ArchiveName), "tmp0000001.png");
  EXPECT_EQ(s.Bytes(), "\x89PNG\r\n\x1a\nmember bytes");
  EXPECT_EQ(Members(*doc.Storage())["TMP0000001.png"], "another shape's image");
}

TEST_F(ShapeString, SameBytesUnderAnOwnNameAreShared) {
  Put(*doc.Storage(), "/home/user/cover.jpg", "jpeg bytes");
  MemberShape& s = Add(root);
  s.ArchiveName = "/home/user/cover.jpg";
  const std::string data = s.SaveToString();
  MemberShape& t = AddMemberShape(root, "z");
  const int count = doc.Storage()->StreamCount();
  t.LoadFromString(data);
  EXPECT_EQ(t.ArchiveName, "/home/user/cover.jpg");
  EXPECT_EQ(doc.Storage()->StreamCount(), count);
}

TEST_F(ShapeString, CorruptStringsRaiseAndChangeNothing) {
  Put(*doc.Storage(), "Index.xml", "index");
  MemberShape& s = Add(root);
  const auto before = Members(*doc.Storage());
  for (const char* name : {"negative_count", "huge_count", "negative_name", "huge_name",
                           "data_past_end", "negative_data", "negative_xml", "xml_past_end",
                           "not_xml", "wrong_root"}) {
    const std::string data = FromPython(name);
    EXPECT_EQ(test::ErrorOf([&] { s.LoadFromString(data); }), "Invalid shape data") << name;
    EXPECT_EQ(Members(*doc.Storage()), before) << name;
  }
  // The valid one loads; each of its truncations raises cleanly.
  const std::string valid = FromPython("valid");
  for (std::size_t n = 1; n < valid.size(); ++n) {
    const std::string cut = valid.substr(0, n);
    ASSERT_EQ(test::ErrorOf([&] { s.LoadFromString(cut); }), "Invalid shape data") << n;
    ASSERT_EQ(Members(*doc.Storage()), before) << n;
  }
  s.LoadFromString(valid);
  EXPECT_FLOAT_EQ(s.DocWidth(), 12);
  EXPECT_EQ(s.Bytes(), "\x89PNG\r\n\x1a\nmember bytes");
}

// A kind that tidies a value once it has been read, through its ordinary
// setter, which records undo outside a load.
class TidyingShape : public MemberShape {
 public:
  void Loaded() override { SetMasterAlpha(128); }
};

TEST_F(ShapeString, LoadingRecordsNoUndoEvenWhereTheKindTidiesUp) {
  TidyingShape& s = Add<TidyingShape>(root);
  doc.ClearUndo();
  s.LoadFromString(FromPython("valid"));
  EXPECT_EQ(s.MasterAlpha(), 128);
  EXPECT_TRUE(doc.UndoList().empty());
  // Outside a load the same setter records.
  s.SetMasterAlpha(64);
  EXPECT_EQ(doc.UndoList().size(), 1u);
}

TEST_F(ShapeString, CopyRepaintsTheMarginsItsCurbsGive) {
  // Margins are not stored: a copy works them out from the curbs it reads.
  // Mirrored, both sides take the larger of left and right.
  TdtpShape& source = Add<TdtpShape>(root);
  source.SetDocBounds(10, 20, 30, 40);
  source.SetCurbs(1, 2, 3, 4);
  source.SetMirrored(true);
  TdtpShape& copy = Add<TdtpShape>(root);
  copy.LoadFromString(source.SaveToString());
  EXPECT_FLOAT_EQ(copy.MarginLeft(), 3);
  EXPECT_FLOAT_EQ(copy.MarginTop(), 2);
  EXPECT_FLOAT_EQ(copy.MarginRight(), 3);
  EXPECT_FLOAT_EQ(copy.MarginBottom(), 4);
  const TFloatRect b = copy.GetDocBounds(true);
  EXPECT_FLOAT_EQ(b.Left, 7);
  EXPECT_FLOAT_EQ(b.Top, 18);
  EXPECT_FLOAT_EQ(b.Right, 43);
  EXPECT_FLOAT_EQ(b.Bottom, 64);
}

TEST_F(ShapeString, FailedLoadLeavesNoOrphans) {
  FailingShape& s = Add<FailingShape>(root);
  const auto before = Members(*doc.Storage());
  EXPECT_EQ(test::ErrorOf([&] { s.LoadFromString(FromPython("valid")); }), "Broken shape");
  EXPECT_EQ(Members(*doc.Storage()), before);
}

}  // namespace
}  // namespace kdl
