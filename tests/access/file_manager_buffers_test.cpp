// FileManager's saved buffers and states, priming and auto-increment
// numbering, over a real item file in a fresh folder.
#include <gtest/gtest.h>

#include "access/relation_manager.h"
#include "access_fixture.h"
#include "errors/default_errors.h"

namespace {

using access_test::AccessFixture;
using access_test::Item;
using access_test::ItemOptions;
using access_test::ItemText;
using access_test::kGroup;
using access_test::kKeyGroup;
using access_test::kKeyNumber;
using access_test::kName;
using access_test::kNumber;
using errors::LevelBenign;
using errors::LevelNotify;

class BuffersTest : public AccessFixture {};

// ---- Saved buffers

TEST_F(BuffersTest, RestoreBufferGivesTheSavedRecordBackAndConsumesTheId) {
  auto& m = Manager();
  access_test::SetItem(*m.File, {1, 1, "FIRST"});
  std::uint16_t id = m.SaveBuffer();
  EXPECT_EQ(id, 1);
  access_test::SetItem(*m.File, {2, 2, "SECOND"});
  std::uint16_t second = m.SaveBuffer();
  EXPECT_GT(second, id);
  m.RestoreBuffer(id, 1);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(ItemText(*m.File), "1/1/FIRST");
  m.RestoreBuffer(second, 0);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(ItemText(*m.File), "1/1/FIRST") << "restore clear only discards";
  EXPECT_TRUE(m.Buffers.empty());
}

TEST_F(BuffersTest, RestoreBufferWithIdZeroOrAnUnknownIdDoesNothing) {
  auto& m = Manager();
  access_test::SetItem(*m.File, {1, 1, "KEEP"});
  std::uint16_t zero = 0, unknown = 77;
  m.RestoreBuffer(zero, 1);
  m.RestoreBuffer(unknown, 1);
  EXPECT_EQ(unknown, 77);
  EXPECT_EQ(ItemText(*m.File), "1/1/KEEP");
}

TEST_F(BuffersTest, SavingAndRestoringKeepsTheRuntimeErrorState) {
  CreateWith({});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  m.File->Field(kNumber).SetInt(5);
  ASSERT_EQ(m.TryFetch(kKeyNumber), LevelNotify);
  int code = rt::ErrorCode();
  ASSERT_NE(code, 0);
  std::uint16_t id = m.SaveBuffer();
  m.RestoreBuffer(id, 1);
  EXPECT_EQ(rt::ErrorCode(), code);
  m.Close();
}

TEST_F(BuffersTest, EqualBufferComparesTheRecordAndAnyBlobWriteMakesItDiffer) {
  CreateWith({});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  access_test::SetItem(*m.File, {1, 1, "SAME"});
  std::uint16_t id = m.SaveBuffer();
  EXPECT_EQ(m.EqualBuffer(id), 1);
  m.File->Field(kName).SetString("OTHER");
  EXPECT_EQ(m.EqualBuffer(id), 0);
  m.File->Field(kName).SetString("SAME");
  EXPECT_EQ(m.EqualBuffer(id), 1);
  m.BlobChanged = 1;
  EXPECT_EQ(m.EqualBuffer(id), 0) << "a written blob counts as a change even with equal bytes";
  EXPECT_EQ(m.EqualBuffer(999), 0);
  m.RestoreBuffer(id, 0);
  m.Close();
}

// ---- Saved states

TEST_F(BuffersTest, SaveFileThenRestoreFileGivesBackPositionBufferAndFlag) {
  CreateWith({{1, 1, "A"}, {1, 2, "B"}, {1, 3, "C"}, {1, 4, "D"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  rt::FileSetKey(*m.File, kKeyNumber);
  ASSERT_EQ(m.Next(), LevelBenign);
  ASSERT_EQ(m.Next(), LevelBenign);  // on B
  m.File->Field(kName).SetString("B edited");
  m.AutoIncDone = 1;
  std::uint16_t handle = m.SaveFile();
  ASSERT_NE(handle, 0);

  // Look elsewhere in the file.
  m.AutoIncDone = 0;
  m.File->Field(kNumber).SetInt(4);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  rt::FileSetKey(*m.File, kKeyNumber);
  ASSERT_EQ(m.Next(), LevelBenign);

  m.RestoreFile(handle, 1);
  EXPECT_EQ(handle, 0);
  EXPECT_EQ(ItemText(*m.File), "1/2/B edited");
  EXPECT_EQ(m.AutoIncDone, 1);
  ASSERT_EQ(m.Next(), LevelBenign);
  EXPECT_EQ(ItemText(*m.File), "1/3/C") << "the sequence goes on after B";
  EXPECT_TRUE(m.Saved.empty());
  EXPECT_TRUE(m.Buffers.empty());
  m.Close();
}

TEST_F(BuffersTest, RestoreFileWithoutBufferKeepsTheCurrentRecordButRestoresThePosition) {
  CreateWith({{1, 1, "A"}, {1, 2, "B"}, {1, 3, "C"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  rt::FileSetKey(*m.File, kKeyNumber);
  ASSERT_EQ(m.Next(), LevelBenign);  // on A
  std::uint16_t handle = m.SaveFile();
  m.File->Field(kNumber).SetInt(3);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  m.RestoreFile(handle, 0);
  EXPECT_EQ(handle, 0);
  EXPECT_EQ(ItemText(*m.File), "1/3/C");
  EXPECT_TRUE(m.Saved.empty());
  EXPECT_TRUE(m.Buffers.empty());
  ASSERT_EQ(m.Next(), LevelBenign);
  EXPECT_EQ(ItemText(*m.File), "1/2/B") << "the sequence goes on after A";
  m.Close();
}

TEST_F(BuffersTest, SaveFileOfAFileThatCannotBeUsedGivesZero) {
  auto& m = Manager();
  m.File = nullptr;
  EXPECT_EQ(m.SaveFile(), 0);
  std::uint16_t handle = 0;
  m.RestoreFile(handle, 1);
  EXPECT_EQ(m.PrimeRecord(), errors::LevelFatal);
}

// ---- Priming and numbering

TEST_F(BuffersTest, PrimingWithoutAutoIncrementOnlyClearsTheRecord) {
  CreateWith({});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  access_test::SetItem(*m.File, {4, 4, "OLD"});
  EXPECT_EQ(m.PrimeRecord(1), LevelBenign);
  EXPECT_EQ(ItemText(*m.File), "4/4/OLD") << "suppressClear keeps the buffer";
  EXPECT_EQ(m.PrimeRecord(), LevelBenign);
  EXPECT_EQ(ItemText(*m.File), "0/0/");
  EXPECT_TRUE(Contents().empty());
  m.Close();
}

TEST_F(BuffersTest, AutoIncrementOnAnEmptyFileGivesOneAndAddsTheRecordAtOnce) {
  CreateWith({});
  auto& m = Manager({.AutoIncKey = 1});
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.PrimeRecord(), LevelBenign);
  EXPECT_EQ(m.File->Field(kNumber).GetInt(), 1);
  EXPECT_EQ(m.GetAutoIncDone(), 1);
  EXPECT_EQ(Contents(), std::vector<std::string>{"0/1/"});

  // Insert after priming writes the record that is already there.
  m.File->Field(kName).SetString("FIRST");
  EXPECT_EQ(m.Insert(), LevelBenign);
  EXPECT_EQ(m.GetAutoIncDone(), 0);
  EXPECT_EQ(Contents(), std::vector<std::string>{"0/1/FIRST"});

  ASSERT_EQ(m.PrimeRecord(), LevelBenign);
  EXPECT_EQ(m.File->Field(kNumber).GetInt(), 2);
  EXPECT_TRUE(Captions().empty());
  m.Close();
}

TEST_F(BuffersTest, InsertAfterPrimingWritesThePrimedRecordEvenAfterReadingAnother) {
  CreateWith({{0, 1, "ONE"}});
  auto& m = Manager({.AutoIncKey = 1});
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.PrimeRecord(), LevelBenign);
  std::uint16_t primed = m.SaveBuffer();
  m.File->Field(kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);  // a look-up on the same file
  m.RestoreBuffer(primed, 1);
  m.File->Field(kName).SetString("SECOND");
  EXPECT_EQ(m.Insert(), LevelBenign);
  EXPECT_EQ(Contents(), (std::vector<std::string>{"0/1/ONE", "0/2/SECOND"}));
  m.Close();
}

TEST_F(BuffersTest, InsertWithoutPrimingNumbersTheRecordItself) {
  CreateWith({{0, 7, "SEVEN"}});
  auto& m = Manager({.AutoIncKey = 1});
  ASSERT_EQ(m.Open(), LevelBenign);
  access_test::SetItem(*m.File, {0, 0, "NEXT"});
  EXPECT_EQ(m.Insert(), LevelBenign);
  EXPECT_EQ(m.GetAutoIncDone(), 0);
  EXPECT_EQ(Contents(), (std::vector<std::string>{"0/7/SEVEN", "0/8/NEXT"}));
  m.Close();
}

TEST_F(BuffersTest, AutoIncrementWithinAGroupStartsEachNewGroupAtOne) {
  CreateWith({{5, 1, "A"}, {5, 2, "B"}, {9, 40, "Z"}});
  auto& m = Manager({.AutoIncKey = 2});
  ASSERT_EQ(m.Open(), LevelBenign);
  struct Case {
    int group;
    int expected;
  };
  for (const Case& c : {Case{5, 3}, Case{7, 1}, Case{7, 2}, Case{9, 41}, Case{1, 1}}) {
    access_test::SetItem(*m.File, {c.group, 0, "N"});
    ASSERT_EQ(m.PrimeRecord(1), LevelBenign) << c.group;
    EXPECT_EQ(m.File->Field(kGroup).GetInt(), c.group);
    EXPECT_EQ(m.File->Field(kNumber).GetInt(), c.expected) << "group " << c.group;
    // Names must differ: NAME is a unique key.
    m.File->Field(kName).SetString("G" + std::to_string(c.group) + "N" + std::to_string(c.expected));
    ASSERT_EQ(m.Insert(), LevelBenign);
  }
  EXPECT_EQ(Contents().size(), 8u);
  m.Close();
}

TEST_F(BuffersTest, CancelAutoIncrementDeletesThePrimedRecordAndClearsTheFlag) {
  CreateWith({{0, 1, "ONE"}});
  auto& m = Manager({.AutoIncKey = 1});
  ASSERT_EQ(m.Open(), LevelBenign);
  EXPECT_EQ(m.CancelAutoIncrement(nullptr), LevelBenign) << "nothing primed: nothing to do";
  ASSERT_EQ(m.PrimeRecord(), LevelBenign);
  EXPECT_EQ(Contents().size(), 2u);
  EXPECT_EQ(m.CancelAutoIncrement(nullptr), LevelBenign);
  EXPECT_EQ(m.GetAutoIncDone(), 0);
  EXPECT_EQ(Contents(), std::vector<std::string>{"0/1/ONE"});
  m.Close();
}

// A look-up after priming moves the file; cancelling still removes the primed
// record (through the relation manager too) and comes back to the other one.
TEST_F(BuffersTest, CancelAutoIncrementDeletesThePrimedRecordEvenAfterALookUp) {
  CreateWith({{0, 1, "ONE"}});
  auto& m = Manager({.AutoIncKey = 1});
  dataaccess::RelationManager relations;
  relations.Init(m, 1);
  for (dataaccess::RelationManager* through : {static_cast<dataaccess::RelationManager*>(nullptr),
                                               &relations}) {
    ASSERT_EQ(m.Open(), LevelBenign);
    ASSERT_EQ(m.PrimeRecord(), LevelBenign);
    m.File->Field(kNumber).SetInt(1);
    ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
    EXPECT_EQ(m.CancelAutoIncrement(through), LevelBenign);
    EXPECT_EQ(m.GetAutoIncDone(), 0);
    EXPECT_EQ(ItemText(*m.File), "0/1/ONE") << "back on the looked-up record";
    EXPECT_EQ(Contents(), std::vector<std::string>{"0/1/ONE"});
    m.Close();
  }
  relations.Kill();
  EXPECT_TRUE(Captions().empty());
}

TEST_F(BuffersTest, NumberingThatKeepsFailingAsksAfterTheThirdTryAndKeepsTheBuffer) {
  CreateWith({{0, 1, "TAKEN"}});
  auto& m = Manager({.AutoIncKey = 1});
  ASSERT_EQ(m.Open(), LevelBenign);
  // NAME is unique, so every add of this record fails whatever its number.
  access_test::SetItem(*m.File, {0, 0, "taken"});
  EXPECT_EQ(m.TryPrimeAutoIncrement(), LevelNotify);
  EXPECT_TRUE(Captions().empty());
  EXPECT_EQ(m.LastError, errors::AskRetryAutoNumber);

  backend_.Answer(rt::ButtonYes);  // three more tries
  backend_.Answer(rt::ButtonNo);
  EXPECT_EQ(m.PrimeAutoIncrement(), LevelNotify);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Auto Increment Error", "Auto Increment Error"}));
  EXPECT_EQ(m.File->Field(kName).ToText(), "taken");
  EXPECT_EQ(m.File->Field(kNumber).GetInt(), 2) << "numbered as far as it got";
  EXPECT_EQ(m.GetAutoIncDone(), 0);
  EXPECT_EQ(Contents(), std::vector<std::string>{"0/1/TAKEN"});
  m.Close();
}

// With nobody to answer, "Try Again?" takes its default Yes once; asked again
// the same way it is declined, so numbering that cannot succeed ends.
TEST_F(BuffersTest, UnansweredNumberingRetryEndsWhenTheQuestionComesAgain) {
  CreateWith({{0, 1, "TAKEN"}});
  auto& m = Manager({.AutoIncKey = 1});
  ASSERT_EQ(m.Open(), LevelBenign);
  access_test::SetItem(*m.File, {0, 0, "taken"});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(m.PrimeAutoIncrement(), LevelNotify);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Auto Increment Error", "Auto Increment Error"}));
  EXPECT_NE(errors.find("answered No instead of Yes"), std::string::npos) << errors;
  EXPECT_EQ(Contents(), std::vector<std::string>{"0/1/TAKEN"});
  m.Close();
}

TEST_F(BuffersTest, AnAliasPrimesThroughTheAliasedManagerAndStandsOnThePrimedRecord) {
  CreateWith({{0, 3, "THREE"}});
  auto& base = Manager({.AutoIncKey = 1});
  auto aliasDecl = access_test::ItemDeclaration(path_, "AliasItem", "AITM");
  rt::ThreadFile(*aliasDecl);
  destroyOnExit_.push_back(aliasDecl.get());
  auto& alias = Manager({}, aliasDecl.get(), &base);
  ASSERT_EQ(alias.Open(), LevelBenign);
  access_test::SetItem(*base.File, {0, 3, "THREE"});
  access_test::SetItem(*alias.File, {0, 0, "NEW"});
  ASSERT_EQ(alias.PrimeRecord(1), LevelBenign);
  EXPECT_EQ(ItemText(*alias.File), "0/4/NEW");
  EXPECT_EQ(alias.GetAutoIncDone(), 1);
  EXPECT_EQ(ItemText(*base.File), "0/3/THREE") << "the aliased manager's record is as it was";
  EXPECT_EQ(base.OpenCount(), 0);
  EXPECT_EQ(Contents(), (std::vector<std::string>{"0/3/THREE", "0/4/NEW"}));

  // The alias's Insert writes the record priming added instead of adding it
  // again, and its cancel removes exactly the record it primed.
  alias.File->Field(kName).SetString("FOUR");
  EXPECT_EQ(alias.Insert(), LevelBenign);
  EXPECT_EQ(alias.GetAutoIncDone(), 0);
  access_test::SetItem(*alias.File, {0, 0, "GONE"});
  ASSERT_EQ(alias.PrimeRecord(1), LevelBenign);
  access_test::SetItem(*alias.File, {0, 3, ""});
  ASSERT_EQ(alias.Fetch(kKeyNumber), LevelBenign);
  EXPECT_EQ(alias.CancelAutoIncrement(nullptr), LevelBenign);
  EXPECT_EQ(Contents(), (std::vector<std::string>{"0/3/THREE", "0/4/FOUR"}));
  EXPECT_TRUE(Captions().empty());
  alias.Close();
}

}  // namespace
