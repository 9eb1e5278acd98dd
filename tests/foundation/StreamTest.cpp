#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "foundation/Stream.h"
#include "platform/TempFiles.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

TEST(MemoryStream, GapAfterSeekPastEndReadsAsZeros) {
  TMemoryStream s;
  s.WriteBuffer("ab", 2);
  s.Seek(10, soBeginning);
  s.WriteBuffer("z", 1);
  ASSERT_EQ(s.Size(), 11);
  const auto* p = static_cast<const unsigned char*>(s.Memory());
  for (int i = 2; i < 10; ++i) EXPECT_EQ(p[i], 0) << i;
  // Shrinking then growing must not resurrect old bytes.
  s.SetSize(1);
  s.SetSize(3);
  EXPECT_EQ(static_cast<const unsigned char*>(s.Memory())[1], 0);
}

TEST(MemoryStream, ShortReadBufferRaises) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buf[4];
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);
}

TEST(FileStream, OpenMissingRaisesAndRoundTrips) {
  EXPECT_THROW(TFileStream("/nonexistent/dir/file", fmOpenRead), EFOpenError);
  TTempFile tmp("kdlstream");
  {
    TFileStream out(tmp.Path(), fmCreate);
    out.WriteBuffer("hello", 5);
    EXPECT_EQ(out.Size(), 5);
  }
  TFileStream in(tmp.Path(), fmOpenRead);
  char buf[5];
  in.ReadBuffer(buf, 5);
  EXPECT_EQ(std::memcmp(buf, "hello", 5), 0);
  EXPECT_THROW(in.ReadBuffer(buf, 1), EReadError);
}

TEST(WriteFileAtomically, FailureKeepsPreviousFileAndLeavesNoTemporary) {
  const test::ScratchDir dir;
  const auto target = dir / "doc.bin";
  test::WriteFile(target, "previous");
  EXPECT_THROW(WriteFileAtomically(target,
                                   [](TStream& s) {
                                     s.WriteBuffer("partial", 7);
                                     throw EWriteError("disk full");
                                   }),
               EWriteError);
  EXPECT_EQ(test::ReadFile(target), "previous");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

  // Through a symbolic link the link stays and its target gets the bytes.
  const auto link = dir / "link.bin";
  std::filesystem::create_symlink(target, link);
  WriteFileAtomically(link, [](TStream& s) { s.WriteBuffer("new", 3); });
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::ReadFile(target), "new");
}

}  // namespace
}  // namespace kdl
