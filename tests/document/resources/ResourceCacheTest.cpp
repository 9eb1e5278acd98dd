// The cache trim on an injected clock, one loop pass at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "ResourceTestUtil.h"
#include "platform/TickCount.h"

namespace kdl {
namespace {

using test::NewBitmapResource;

// A resource whose object is a 1x1 bitmap decoded from any bytes, and whose
// object size is whatever the test says.
class TSizedResource : public TdtpResource {
 public:
  std::int64_t ObjectSize = 0;
  bool FailSize = false;
  void Modify() { MarkObjectModified(); }

 protected:
  explicit TSizedResource(TdtpDocumentServices* d) : TdtpResource(d) {}
  void LoadObject(TStream&, std::unique_ptr<TBitmap32>& object) override {
    object = std::make_unique<TBitmap32>();
    object->SetSize(1, 1);
  }
  std::int64_t GetObjectSize() override {
    if (FailSize) throw std::bad_alloc();
    return Object() ? ObjectSize : 0;
  }
  template <class T>
  friend class TListedResource;
};

class ResourceCache : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDocumentLibrary();
    ResourceThread().Stop();
    SetTickSource([this] { return now_.load(); });
    ResourceThread().ResetCounters(0);
  }
  void TearDown() override {
    resources_.clear();
    SetTickSource(nullptr);
  }

  // n resources with embedded bytes, each decoded once; the last made is
  // first in the list.
  void Make(int n, TdtpResourceStorage storage = rsEmbedded) {
    for (int i = 0; i < n; ++i) {
      auto r = TdtpResource::Create<TSizedResource>(&document_);
      test::LoadXml(*r, "<Resource><Data><Size>3</Size><Filter>BinHex</Filter><Buffer>414243</Buffer>"
                        "</Data><Storage>Embedded</Storage></Resource>");
      if (storage == rsArchive) {
        r->SetStorage(rsArchive);  // writes a member of its own
      }
      test::ResourcePixels(*r);
      resources_.push_back(std::move(r));
    }
  }
  // Swaps the first two of the list until the counter reached count: every
  // swap is a touch, and the rest of the order stays.
  void TouchUntil(std::uint32_t count) {
    while (ResourceThread().Touches() < count) ResourceThread().Touch(&At(1));
  }
  int State(int listIndex) {
    for (auto& r : resources_)
      if (ResourceThread().IndexOf(r.get()) == listIndex) return r->GetLoadState();
    return -1;
  }
  TSizedResource& At(int listIndex) {
    for (auto& r : resources_)
      if (ResourceThread().IndexOf(r.get()) == listIndex) return *r;
    throw Exception("no resource at that index");
  }

  testing::FakeDocument document_;
  std::atomic<std::uint64_t> now_{0};
  std::vector<std::unique_ptr<TSizedResource>> resources_;
};

TEST_F(ResourceCache, TrimsOnlyAfterTwoSecondsAndTwentyTouches) {
  Make(12);
  TouchUntil(21);
  now_ = 2000;  // not more than 2000 ms yet
  ResourceThread().Step();
  EXPECT_EQ(State(10), 2);
  ResourceThread().ResetCounters(0);
  TouchUntil(20);  // not more than 20 touches
  now_ = 5000;
  ResourceThread().Step();
  EXPECT_EQ(State(10), 2);
  TouchUntil(21);
  ResourceThread().Step();
  EXPECT_EQ(State(9), 2);
  EXPECT_EQ(State(10), 1);  // embedded: the object goes, the bytes stay
  EXPECT_EQ(State(11), 1);
  EXPECT_EQ(ResourceThread().Touches(), 0u);
  EXPECT_EQ(ResourceThread().LastTrim(), 5000u);
}

TEST_F(ResourceCache, TouchingTheFirstCountsNothing) {
  Make(3);
  ResourceThread().ResetCounters(0);
  TdtpResource& first = At(0);
  for (int i = 0; i < 5; ++i) ResourceThread().Touch(&first);
  EXPECT_EQ(ResourceThread().Touches(), 0u);
  ResourceThread().Touch(&At(2));
  EXPECT_EQ(ResourceThread().Touches(), 1u);
  EXPECT_EQ(ResourceThread().IndexOf(&first), 1);
}

TEST_F(ResourceCache, TenOrFewerAreNeverReleased) {
  Make(10);
  TouchUntil(100);
  now_ = 100000;
  ResourceThread().Step();
  PurgeResources();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(State(i), 2) << i;
}

TEST_F(ResourceCache, BracketedAndUnsavedResourcesStay) {
  Make(13);
  TSizedResource& bracketed = At(10);
  TSizedResource& modified = At(11);
  modified.OnStoreObject = [](TdtpResource&, TStream& target, TBitmap32&) {
    target.WriteBuffer("xyz", 3);
  };
  modified.Modify();
  now_ = 3000;
  {
    TResourceAccess access(bracketed);
    TouchUntil(21);
    ResourceThread().Step();
    EXPECT_EQ(bracketed.GetLoadState(), 2);
  }
  EXPECT_EQ(At(12).GetLoadState(), 1);
  // The background trim never encodes: the changed object stays.
  EXPECT_TRUE(modified.ObjectModified());
  EXPECT_EQ(test::DataBytes(modified), "ABC");
  // The synchronous trim after a saved page does.
  PurgeResources();
  EXPECT_EQ(bracketed.GetLoadState(), 1);
  EXPECT_EQ(modified.GetLoadState(), 1);
  EXPECT_EQ(test::DataBytes(modified), "xyz");
}

TEST_F(ResourceCache, AFailedTrimIsTriedAgainLater) {
  // Whatever a trim raises stays in the loop: leaving the thread would end
  // the program.
  Make(11);
  TSizedResource& failing = At(0);
  failing.FailSize = true;
  TouchUntil(21);
  now_ = 3000;
  EXPECT_NO_THROW(ResourceThread().Step());
  EXPECT_EQ(State(10), 2);
  failing.FailSize = false;
  ResourceThread().Step();
  EXPECT_EQ(State(10), 1);
}

TEST_F(ResourceCache, HundredMebibytesAmongTheMostRecent) {
  Make(11);
  for (auto& r : resources_) r->ObjectSize = 60 << 20;
  TouchUntil(21);
  now_ = 3000;
  ResourceThread().Step();
  // Index 0 is counted from 0, index 1 from 60 MiB; by index 2 the kept
  // ones hold 120 MiB.
  EXPECT_EQ(State(0), 2);
  EXPECT_EQ(State(1), 2);
  for (int i = 2; i < 11; ++i) EXPECT_EQ(State(i), 1) << i;
}

TEST_F(ResourceCache, ArchivedResourcesDropTheirBytesAndReadThemAgain) {
  Make(11, rsArchive);
  TouchUntil(21);
  now_ = 3000;
  ResourceThread().Step();
  TSizedResource& released = At(10);
  EXPECT_EQ(released.GetLoadState(), 0);
  EXPECT_FALSE(released.DataLoaded());
  ASSERT_FALSE(released.ArchiveName().empty());
  EXPECT_EQ(test::ResourcePixels(released).size(), 1u);
  EXPECT_EQ(test::DataBytes(released), "ABC");
  EXPECT_EQ(At(0).GetLoadState(), 2);
}

}  // namespace
}  // namespace kdl
