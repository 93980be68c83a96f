// The per-thread file registry (mappings and scope tracking) and the file
// openers, with real item files and real threads.
#include "access/file_registry.h"

#include <gtest/gtest.h>

#include <thread>

#include "access/file_opener.h"
#include "access_fixture.h"

namespace {

using access_test::AccessFixture;
using access_test::ItemText;
using access_test::kKeyNumber;
using access_test::kNumber;
using errors::LevelBenign;

class RegistryTest : public AccessFixture {
 protected:
  // The caller stands on item 2 of 1..4, walking in NUMBER order.
  access_test::ItemManager& CallerOnSecondItem() {
    CreateWith({{1, 1, "A"}, {1, 2, "B"}, {1, 3, "C"}, {1, 4, "D"}});
    errs_.PushProcedureName("Caller");
    auto& m = Manager();
    EXPECT_EQ(m.Open(), LevelBenign);
    EXPECT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
    rt::FileSetKey(*m.File, kKeyNumber);
    EXPECT_EQ(m.Next(), LevelBenign);
    EXPECT_EQ(m.Next(), LevelBenign);
    EXPECT_EQ(ItemText(*m.File), "1/2/B");
    return m;
  }
  // The called procedure opens the file as a relation manager would (open,
  // then first use), reads item 4 and walks on from there.
  void CalleeReadsElsewhere(access_test::ItemManager& m) {
    ASSERT_EQ(m.Open(), LevelBenign);
    ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
    m.File->Field(kNumber).SetInt(4);
    ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
    rt::FileSetKey(*m.File, kKeyNumber);
    ASSERT_EQ(m.Next(), LevelBenign);
    ASSERT_EQ(ItemText(*m.File), "1/1/A");
  }
};

TEST_F(RegistryTest, ANestedProcedureGivesBackTheCallersBufferAndPositionOnClose) {
  auto& m = CallerOnSecondItem();
  errs_.PushProcedureName("Callee");
  CalleeReadsElsewhere(m);
  auto& scopes = dataaccess::ThreadRegistry().StatusQ;
  ASSERT_EQ(scopes.size(), 2u);
  EXPECT_EQ(scopes[1].Proc, "Callee");
  EXPECT_EQ(scopes[1].ScopeLevel, 2);
  EXPECT_NE(scopes[1].Hold, 0);
  m.Close();
  errs_.PopProcedureName();

  EXPECT_EQ(ItemText(*m.File), "1/2/B");
  EXPECT_EQ(dataaccess::ThreadRegistry().StatusQ.size(), 1u);
  ASSERT_EQ(m.Next(), LevelBenign);
  EXPECT_EQ(ItemText(*m.File), "1/3/C");
  EXPECT_EQ(m.OpenCount(), 1);
  m.Close();
  errs_.PopProcedureName();
}

TEST_F(RegistryTest, AWindowUseGivesBackThePositionButKeepsTheRecord) {
  auto& m = CallerOnSecondItem();
  errs_.PushProcedureName("Callee");
  CalleeReadsElsewhere(m);
  ASSERT_EQ(m.UseFile(dataaccess::kUseWindow), LevelBenign);
  m.Close();
  errs_.PopProcedureName();

  EXPECT_EQ(ItemText(*m.File), "1/1/A") << "the callee's record stays";
  ASSERT_EQ(m.Next(), LevelBenign);
  EXPECT_EQ(ItemText(*m.File), "1/3/C") << "the caller's position is back";
  m.Close();
  errs_.PopProcedureName();
}

TEST_F(RegistryTest, OpeningTwiceInOneProcedureRestoresOnlyOnTheBalancingClose) {
  auto& m = CallerOnSecondItem();
  errs_.PushProcedureName("Callee");
  CalleeReadsElsewhere(m);
  ASSERT_EQ(m.Open(), LevelBenign);
  m.Close();
  EXPECT_EQ(ItemText(*m.File), "1/1/A") << "one close of two restores nothing";
  m.Close();
  EXPECT_EQ(ItemText(*m.File), "1/2/B");
  errs_.PopProcedureName();
  m.Close();
  errs_.PopProcedureName();
}

TEST_F(RegistryTest, UsesWithoutScopeTrackingAddNoScope) {
  CreateWith({{1, 1, "A"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseNoScope), LevelBenign);
  EXPECT_TRUE(dataaccess::ThreadRegistry().StatusQ.empty());
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  ASSERT_EQ(dataaccess::ThreadRegistry().StatusQ.size(), 1u);
  ASSERT_EQ(m.UseFile(dataaccess::kUseWindow), LevelBenign);
  EXPECT_EQ(dataaccess::ThreadRegistry().StatusQ[0].UStat, dataaccess::kUseWindow);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  EXPECT_EQ(dataaccess::ThreadRegistry().StatusQ[0].UStat, dataaccess::kUseWindow) << "only raised";
  m.Close();
  EXPECT_TRUE(dataaccess::ThreadRegistry().StatusQ.empty());
}

TEST_F(RegistryTest, ManagersAreFoundByFileAndUnknownFilesGiveNull) {
  auto& m = Manager();
  auto& registry = dataaccess::ThreadRegistry();
  EXPECT_EQ(registry.FileManagerFor(*m.File), &m);
  EXPECT_EQ(registry.FileManagerFor(*decl_), &m);
  EXPECT_EQ(registry.Errs, &errs_);
  auto never = access_test::ItemDeclaration(dir_ + "/Never.DAT", "Never", "NEV");
  EXPECT_EQ(registry.FileManagerFor(*never), nullptr);
  EXPECT_EQ(registry.RelationManagerFor(*never), nullptr);
  EXPECT_EQ(registry.RelationManagerFor(*m.File), nullptr);

  // A second manager of the same file replaces the first.
  auto& second = Manager();
  EXPECT_EQ(registry.FileManagerFor(*m.File), &second);
  second.Kill();
  EXPECT_EQ(registry.FileManagerFor(*m.File), nullptr);
}

// ---- Openers

TEST_F(RegistryTest, AFileWithOneInstancePerThreadGetsAPlainOpenerOfItsOwn) {
  rt::File& file = rt::FileOf(*decl_);
  dataaccess::IFileOpenServer* first = dataaccess::OpenerFor(file);
  dataaccess::IFileOpenServer* second = dataaccess::OpenerFor(file);
  EXPECT_NE(first, second);
  EXPECT_NE(dynamic_cast<dataaccess::PlainOpener*>(first), nullptr);
  EXPECT_EQ(dynamic_cast<dataaccess::SharedOpener*>(first), nullptr);
  EXPECT_EQ(dataaccess::SharedOpenerCount(), 0);
  EXPECT_EQ(first->Open(rt::kDefaultOpenMode), rt::kFileNotFound);
  CreateWith({});
  EXPECT_EQ(first->Open(rt::kDefaultOpenMode), 0);
  EXPECT_EQ(second->Open(rt::kDefaultOpenMode), 0) << "already open counts as success";
  EXPECT_EQ(first->Close(), 0);
  EXPECT_FALSE(PhysicallyOpen());
  first->Release();
  second->Release();
}

// A declaration that is not registered as per-thread: one shared opener.
class SharedFileTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    shared_ = access_test::ItemDeclaration(path_, "Shared", "SHR");
  }
  void TearDown() override {
    rt::FileDestroy(*shared_, 1);
    RegistryTest::TearDown();
  }
  std::unique_ptr<rt::FileDeclaration> shared_;
};

TEST_F(SharedFileTest, TwoThreadsShareOnePhysicalOpenAndTheLastCloseClosesIt) {
  CreateWith({{1, 1, "A"}});
  access_test::ItemManager& mine = Manager({}, shared_.get());
  ASSERT_EQ(mine.Open(), LevelBenign);
  ASSERT_EQ(mine.UseFile(dataaccess::kUseUses), LevelBenign);
  ASSERT_TRUE(PhysicallyOpen(shared_.get()));
  auto* opener = dynamic_cast<dataaccess::SharedOpener*>(mine.Opener);
  ASSERT_NE(opener, nullptr);
  EXPECT_EQ(opener->FileUsageCount, 1);
  EXPECT_EQ(dataaccess::SharedOpenerCount(), 1);

  std::vector<int> opensSeenByOther;
  std::thread other([&] {
    dataaccess::ThreadRegistry().Init();
    access_test::ItemManager theirs(*shared_, errs_);
    theirs.Setup();
    EXPECT_EQ(theirs.Open(), LevelBenign);
    EXPECT_EQ(theirs.UseFile(dataaccess::kUseUses), LevelBenign);
    EXPECT_EQ(theirs.Opener, mine.Opener) << "one opener for the process";
    opensSeenByOther.push_back(opener->FileUsageCount);
    EXPECT_EQ(theirs.Used, 1);
    theirs.Close();
    opensSeenByOther.push_back(opener->FileUsageCount);
    theirs.Kill();
    dataaccess::ThreadRegistry().Kill();
    rt::FileDestroy(*shared_, 1);
  });
  other.join();
  EXPECT_EQ(opensSeenByOther, (std::vector<int>{2, 1}));
  EXPECT_TRUE(PhysicallyOpen(shared_.get())) << "still open for this thread";
  EXPECT_EQ(mine.Close(), LevelBenign);
  EXPECT_FALSE(PhysicallyOpen(shared_.get()));
  EXPECT_EQ(Captions(), std::vector<std::string>{});
  mine.Kill();
  EXPECT_EQ(dataaccess::SharedOpenerCount(), 0) << "the last release removes the opener";
}

TEST_F(SharedFileTest, AFailedSharedOpenCountsNoUser) {
  auto& m = Manager({.Create = false}, shared_.get());
  m.LazyOpen = 0;
  EXPECT_EQ(m.TryOpen(), errors::LevelNotify);
  auto* opener = dynamic_cast<dataaccess::SharedOpener*>(m.Opener);
  ASSERT_NE(opener, nullptr);
  EXPECT_EQ(opener->FileUsageCount, 0);
  CreateWith({});
  EXPECT_EQ(m.TryOpen(), LevelBenign);
  EXPECT_EQ(opener->FileUsageCount, 1);
  m.Close();
  EXPECT_EQ(opener->FileUsageCount, 0);
}

}  // namespace
