// FileManager over a real item file in a fresh folder: opening and its
// recoveries, reads, writes and their messages, keys, the runtime callbacks.
#include "access/file_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "access_fixture.h"
#include "errors/default_errors.h"

namespace {

using access_test::AccessFixture;
using access_test::Halted;
using access_test::Item;
using access_test::ItemOptions;
using access_test::kKeyGroup;
using access_test::kKeyName;
using access_test::kKeyNumber;
using errors::LevelBenign;
using errors::LevelFatal;
using errors::LevelNotify;

class FileManagerTest : public AccessFixture {};

// ---- Opening and open counting

TEST_F(FileManagerTest, OpenIsLazyAndTheLastOfBalancedClosesClosesTheFile) {
  CreateWith({{1, 1, "ONE"}});
  auto& m = Manager();
  EXPECT_EQ(m.Open(), LevelBenign);
  EXPECT_EQ(m.Open(), LevelBenign);
  EXPECT_FALSE(PhysicallyOpen()) << "a lazy open does not touch the disk";
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  EXPECT_TRUE(PhysicallyOpen());
  EXPECT_EQ(m.Close(), LevelBenign);
  EXPECT_TRUE(PhysicallyOpen());
  EXPECT_EQ(m.OpenCount(), 1);
  EXPECT_EQ(m.Close(), LevelBenign);
  EXPECT_FALSE(PhysicallyOpen());
  EXPECT_EQ(m.Used, 0);
  EXPECT_EQ(m.Close(), LevelBenign);
  EXPECT_EQ(m.OpenCount(), 0);
  EXPECT_TRUE(Captions().empty());
}

TEST_F(FileManagerTest, UseWithoutOpenOpensTheFileForGoodAndKillClosesIt) {
  CreateWith({{1, 1, "ONE"}});
  auto& m = Manager();
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  EXPECT_TRUE(PhysicallyOpen());
  EXPECT_EQ(m.OpenCount(), 1);
  m.Kill();
  EXPECT_FALSE(PhysicallyOpen());
  EXPECT_EQ(m.OpenCount(), 0);
}

TEST_F(FileManagerTest, MissingFileIsCreatedWhenCreateIsSet) {
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  EXPECT_TRUE(std::filesystem::exists(path_));
  EXPECT_EQ(m.Used, 1);
  EXPECT_TRUE(Captions().empty());
  EXPECT_TRUE(Contents().empty());
}

TEST_F(FileManagerTest, MissingFileWithoutCreateShowsMessage29AndLeavesNoOpenBehind) {
  auto& m = Manager({.Create = false});
  m.LazyOpen = 0;
  EXPECT_THROW(m.Open(), Halted);
  EXPECT_EQ(Captions(), std::vector<std::string>{"File Access Error"});
  EXPECT_NE(LastMessage().find("Item.DAT"), std::string::npos) << LastMessage();
  EXPECT_FALSE(std::filesystem::exists(path_));
  EXPECT_EQ(m.OpenCount(), 0);
  EXPECT_EQ(m.Used, 0);
}

TEST_F(FileManagerTest, FailedTryOpenIsQuietAndChangesNothing) {
  auto& m = Manager({.Create = false});
  m.LazyOpen = 0;
  dataaccess::ThreadRegistry().NoteUse(m, dataaccess::kUseUses);
  EXPECT_EQ(m.TryOpen(), LevelNotify);
  EXPECT_EQ(m.LastError, errors::ErrOpenFailed);
  EXPECT_EQ(m.OpenCount(), 0);
  EXPECT_EQ(m.Used, 0);
  EXPECT_EQ(m.OpenMode, 0x42);
  ASSERT_EQ(dataaccess::ThreadRegistry().StatusQ.size(), 1u);
  EXPECT_EQ(dataaccess::ThreadRegistry().StatusQ[0].NestedOpen, 0) << "no nested open was counted";
  EXPECT_TRUE(Captions().empty());
}

TEST_F(FileManagerTest, WriteAccessDeniedRetriesWithRecoverThenFallsBackToReadOnlyWithMessage2) {
  CreateWith({{1, 1, "ONE"}});
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Access Denied"});
  EXPECT_NE(LastMessage().find("trying read-only"), std::string::npos) << LastMessage();
  EXPECT_EQ(m.OpenMode & 0x03, 0) << "read-only now";
  EXPECT_EQ(m.OpenMode & 0xF0, 0x40) << "sharing bits kept";
  EXPECT_EQ(std::count(m.Operations.begin(), m.Operations.end(), rt::kOpSend), 1)
      << "the driver was told Recover= before the retry";
  EXPECT_EQ(access_test::ItemText(*m.File), "1/1/ONE");
  // An alias of the same disk file falls back too, without saying it again.
  auto aliasDecl = access_test::ItemDeclaration(path_, "AliasItem", "AITM");
  rt::ThreadFile(*aliasDecl);
  destroyOnExit_.push_back(aliasDecl.get());
  auto& alias = Manager({}, aliasDecl.get(), &m);
  ASSERT_EQ(alias.Open(), LevelBenign);
  ASSERT_EQ(alias.UseFile(dataaccess::kUseUses), LevelBenign);
  EXPECT_EQ(alias.OpenMode & 0x03, 0);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Access Denied"});
}

TEST_F(FileManagerTest, ReadOnlyOpenThatIsStillDeniedShowsMessage29AndRestoresTheMode) {
  CreateWith({{1, 1, "ONE"}});
  // Another handle holds the file and denies everyone else.
  auto other = access_test::ItemDeclaration(path_, "Other", "OTH");
  rt::File holder(*other);
  rt::FileOpen(holder, rt::kAccessReadWrite | rt::kShareDenyAll);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::ErrorText();
  auto& m = Manager({.LockRecover = 0});
  m.LazyOpen = 0;
  EXPECT_THROW(m.Open(), Halted);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Access Denied", "File Access Error"}));
  EXPECT_EQ(m.OpenMode, 0x42);
  EXPECT_EQ(m.OpenCount(), 0);
  rt::FileClose(holder);
}

TEST_F(FileManagerTest, MissingKeysAreRebuiltAfterMessage33) {
  // A file made by a declaration without the NAME key lacks that index.
  auto older = access_test::ItemDeclaration(path_, "Older", "OLD", 2);
  {
    rt::File file(*older);
    rt::FileCreate(file);
    rt::FileOpen(file);
    access_test::SetItem(file, {1, 2, "TWO"});
    rt::FileAdd(file);
    ASSERT_EQ(rt::ErrorCode(), 0);
    rt::FileClose(file);
  }
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  m.File->Field(access_test::kName).SetString("two");
  ASSERT_EQ(m.Fetch(kKeyName), LevelBenign);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Invalid Key"});
  EXPECT_EQ(access_test::ItemText(*m.File), "1/2/TWO");
  m.Close();
}

TEST_F(FileManagerTest, TryOpenOfAFileWithMissingKeysIsQuietAndRebuildsNothing) {
  auto older = access_test::ItemDeclaration(path_, "Older", "OLD", 2);
  {
    rt::File file(*older);
    rt::FileCreate(file);
  }
  auto& m = Manager();
  m.LazyOpen = 0;
  EXPECT_EQ(m.TryOpen(), LevelNotify);
  EXPECT_EQ(m.LastError, errors::ErrKeyInvalid);
  EXPECT_TRUE(Captions().empty());
  EXPECT_EQ(m.OpenCount(), 0);
}

TEST_F(FileManagerTest, ForeignFileShowsMessage26) {
  {
    std::FILE* f = std::fopen(path_.c_str(), "w");
    std::fputs("not a database at all, but long enough to look like a header", f);
    std::fclose(f);
  }
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  EXPECT_THROW(m.UseFile(dataaccess::kUseUses), Halted);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Invalid File"});
  EXPECT_EQ(m.Used, 0);
}

TEST_F(FileManagerTest, UseOfAFileThatCouldNotBeOpenedShowsMessage45) {
  // With the open failure only notified, the use goes on to report that the
  // file is not open.
  errs_.AddEntry(errors::ErrOpenFailed, "File %File could not be opened.", "File Access Error",
                 errors::LevelNotify);
  auto& m = Manager({.Create = false});
  EXPECT_THROW(m.UseFile(dataaccess::kUseUses), Halted);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"File Access Error", "File Usage Error"}));
  EXPECT_EQ(m.OpenCount(), 0);
  EXPECT_EQ(m.Used, 0);
}

// ---- Reads

TEST_F(FileManagerTest, FetchOfAMissingKeyIsQuietAndClearsTheBuffer) {
  CreateWith({{1, 1, "ONE"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  access_test::SetItem(*m.File, {3, 99, "NOBODY", "1.50"});
  EXPECT_EQ(m.Fetch(kKeyNumber), LevelNotify);
  EXPECT_EQ(access_test::ItemText(*m.File), "0/0/");
  EXPECT_EQ(m.File->Field(access_test::kAmount).ToText(), "0.00");
  EXPECT_TRUE(Captions().empty());
  m.Close();
}

TEST_F(FileManagerTest, TryFetchOfAMissingKeyLeavesTheBufferAlone) {
  CreateWith({{1, 1, "ONE"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  access_test::SetItem(*m.File, {3, 99, "NOBODY"});
  EXPECT_EQ(m.TryFetch(kKeyNumber), LevelNotify);
  EXPECT_EQ(access_test::ItemText(*m.File), "3/99/NOBODY");
  m.Close();
}

TEST_F(FileManagerTest, NextPastTheEndIsQuietAndSetsAtEnd) {
  CreateWith({{1, 2, "TWO"}, {1, 1, "ONE"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  rt::FileSetKey(*m.File, kKeyNumber);
  std::vector<std::string> seen;
  while (m.Next() == LevelBenign) seen.push_back(access_test::ItemText(*m.File));
  EXPECT_EQ(seen, (std::vector<std::string>{"1/1/ONE", "1/2/TWO"}));
  EXPECT_EQ(m.AtEnd(), 1);
  EXPECT_EQ(m.Next(), LevelNotify);
  EXPECT_TRUE(Captions().empty());
  rt::FileSetKey(*m.File, kKeyNumber);
  EXPECT_EQ(m.Previous(), LevelBenign);
  EXPECT_EQ(m.AtEnd(), 0);
  EXPECT_EQ(access_test::ItemText(*m.File), "1/2/TWO");
  m.Close();
}

TEST_F(FileManagerTest, UseMRPSwitchesReadAheadOnForReadsAndCloseSwitchesItOff) {
  CreateWith({{1, 1, "ONE"}, {1, 2, "TWO"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  rt::FileSetProperty(*m.File, rt::kPropReadAhead, "0");
  m.SetUseMRP(1);
  EXPECT_EQ(m.GetMRPSize(), 20) << "Init sets 20";
  rt::FileSetKey(*m.File, kKeyNumber);
  ASSERT_EQ(m.Next(), LevelBenign);
  EXPECT_EQ(rt::FileGetProperty(*m.File, rt::kPropReadAhead), "20");
  m.Open();
  m.Close();
  EXPECT_EQ(m.GetUseMRP(), 0);
  EXPECT_EQ(rt::FileGetProperty(*m.File, rt::kPropReadAhead), "0");
  m.Close();
}

// ---- Inserts

TEST_F(FileManagerTest, InsertAddsTheRecord) {
  CreateWith({});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  access_test::SetItem(*m.File, {2, 5, "FIVE"});
  EXPECT_EQ(m.Insert(), LevelBenign);
  EXPECT_EQ(Contents(), std::vector<std::string>{"2/5/FIVE"});
  m.Close();
}

TEST_F(FileManagerTest, DuplicateKeyShowsMessage15WithTheKeyDescriptionAndChangesNothing) {
  CreateWith({{1, 1, "ONE"}, {1, 2, "TWO"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  access_test::SetItem(*m.File, {1, 7, "two"});  // NAME ignores case
  EXPECT_EQ(m.Insert(), LevelNotify);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Duplicate Key Error"});
  EXPECT_EQ(LastMessage(), "Adding this record creates a duplicate entry for the key: By Name");
  EXPECT_EQ(m.LastError, errors::ErrDuplicateKey);
  EXPECT_EQ(Contents(), (std::vector<std::string>{"1/1/ONE", "1/2/TWO"}));

  access_test::SetItem(*m.File, {1, 2, "OTHER"});
  EXPECT_EQ(m.TryInsert(), LevelNotify);
  EXPECT_EQ(Captions().size(), 1u) << "TryInsert shows nothing";
  EXPECT_EQ(m.LastError, errors::ErrDuplicateKey);
  EXPECT_EQ(Contents(), (std::vector<std::string>{"1/1/ONE", "1/2/TWO"}));
  m.Close();
}

TEST_F(FileManagerTest, InsertIntoAReadOnlyFileShowsMessage4) {
  CreateWith({});
  auto& m = Manager();
  m.OpenMode = rt::kAccessRead | rt::kShareDenyNone;
  m.OpenModeOverridden = 1;
  ASSERT_EQ(m.Open(), LevelBenign);
  access_test::SetItem(*m.File, {1, 1, "ONE"});
  EXPECT_EQ(m.Insert(), LevelNotify);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Record Insert Error"});
  EXPECT_TRUE(Contents().empty());
  m.Close();
}

// ---- Updates

TEST_F(FileManagerTest, UpdateMeetingANewerVersionShowsMessage7ReloadsItAndTheSecondUpdateSucceeds) {
  CreateWith({{1, 1, "ONE", "1.00"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  m.File->Field(access_test::kNumber).SetInt(1);
  rt::FileWatch(*m.File);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);

  // Another station changes the record meanwhile (a second handle on the file).
  auto other = access_test::ItemDeclaration(path_, "Other", "OTH");
  {
    rt::File station(*other);
    rt::FileOpen(station);
    station.Field(access_test::kNumber).SetInt(1);
    rt::FileGetByKey(station, kKeyNumber);
    ASSERT_EQ(rt::ErrorCode(), 0);
    station.Field(access_test::kName).SetString("CHANGED");
    rt::FilePut(station);
    ASSERT_EQ(rt::ErrorCode(), 0);
    rt::FileClose(station);
  }

  m.File->Field(access_test::kAmount).SetString("2.00");
  EXPECT_EQ(m.Update(), LevelNotify);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Record Was Not Updated"});
  EXPECT_EQ(m.LastError, errors::ErrChangedElsewhere);
  EXPECT_EQ(access_test::ItemText(*m.File), "1/1/CHANGED") << "the other version is loaded";
  EXPECT_EQ(m.File->Field(access_test::kAmount).ToText(), "1.00");

  m.File->Field(access_test::kAmount).SetString("3.00");
  EXPECT_EQ(m.Update(), LevelBenign);
  EXPECT_EQ(Captions().size(), 1u);
  EXPECT_EQ(Contents(), std::vector<std::string>{"1/1/CHANGED"});
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  EXPECT_EQ(m.File->Field(access_test::kAmount).ToText(), "3.00");
  m.Close();
}

TEST_F(FileManagerTest, UpdateThatBreaksAUniqueKeyShowsMessage31AndKeepsTheFile) {
  CreateWith({{1, 1, "ONE"}, {1, 2, "TWO"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  m.File->Field(access_test::kName).SetString("TWO");
  EXPECT_EQ(m.TryUpdate(), LevelNotify);
  EXPECT_EQ(m.LastError, errors::ErrUpdateFailed);
  EXPECT_TRUE(Captions().empty());
  EXPECT_EQ(m.Update(), LevelNotify);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Record was not updated"});
  EXPECT_EQ(Contents(), (std::vector<std::string>{"1/1/ONE", "1/2/TWO"}));
  m.Close();
}

// ---- Deletes

TEST_F(FileManagerTest, DeleteAsksFirstWhenToldAndANoKeepsTheRecord) {
  CreateWith({{1, 1, "ONE"}, {1, 2, "TWO"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  backend_.Answer(rt::ButtonNo);
  EXPECT_EQ(m.Delete(1), errors::LevelCancel);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Confirm Delete"});
  EXPECT_EQ(Contents().size(), 2u);
  EXPECT_EQ(m.Delete(0), LevelBenign);
  EXPECT_EQ(Contents(), std::vector<std::string>{"1/2/TWO"});
  EXPECT_EQ(m.Delete(0), LevelNotify) << "no current record any more";
  EXPECT_EQ(m.LastError, errors::ErrDeleteFailed);
  EXPECT_EQ(Captions().size(), 1u) << "a failed delete is recorded, not shown";
  m.Close();
}

// ---- Names in messages

TEST_F(FileManagerTest, DisplayNamePrefersTheBoundNameThenTheValueThenTheRuntimeName) {
  auto& m = Manager();
  EXPECT_EQ(m.PushDisplayName(), "Item") << "Setup stores the label";
  m.FileNameValue = "   ";
  EXPECT_EQ(m.PushDisplayName(), path_);
  std::string bound = "Items on hand   ";
  m.FileName = &bound;
  EXPECT_EQ(m.PushDisplayName(), "Items on hand");
}

TEST_F(FileManagerTest, AFileWithoutAnyNameIsUnknownFileInMessages) {
  auto nameless = access_test::ItemDeclaration("", "", "NON");
  rt::ThreadFile(*nameless);
  destroyOnExit_.push_back(nameless.get());
  auto& m = Manager({}, nameless.get());
  EXPECT_EQ(m.PushDisplayName(), "Unknown File");
  m.Throw(errors::ErrRecordFetch);
  EXPECT_NE(LastMessage().find("from the Unknown File file"), std::string::npos) << LastMessage();
  m.Kill();
}

// ---- Keys

TEST_F(FileManagerTest, KeysCarryTheirComponentsOrderTextAndPrimaryKey) {
  auto& m = Manager();
  ASSERT_EQ(m.UseFile(dataaccess::kUseInitialize), LevelBenign);
  ASSERT_EQ(m.Keys.size(), 3u);
  EXPECT_EQ(m.Keys[1].Description, "By Group");
  EXPECT_EQ(m.PrimaryKey, 2) << "BYGROUP is the first unique key";
  EXPECT_EQ(m.ComponentCount(kKeyGroup), 2);
  EXPECT_EQ(m.ComponentName(kKeyGroup, 2), "ITM:NUMBER");
  EXPECT_EQ(m.KeyOrderText(kKeyGroup), "ITM:GROUP,ITM:NUMBER");
  EXPECT_EQ(m.KeyOrderText(kKeyGroup, 2), "ITM:NUMBER");
  EXPECT_EQ(m.KeyOrderText(kKeyName), "UPPER(ITM:NAME)");
  EXPECT_EQ(m.ComponentCount(9), 0);
  EXPECT_EQ(m.KeyOrderText(9), "");
  EXPECT_FALSE(m.ComponentField(kKeyGroup, 3).IsValid());
  EXPECT_EQ(m.Keys[2].NoCase, 1);
  EXPECT_EQ(m.Keys[0].Dups, 1);
  m.Close();
}

TEST_F(FileManagerTest, SetKeyRangeClearsTrailingComponentsToTheirLowestOrHighest) {
  auto& m = Manager();
  ASSERT_EQ(m.UseFile(dataaccess::kUseInitialize), LevelBenign);
  access_test::SetItem(*m.File, {4, 9, "X"});
  m.SetKeyRange(kKeyGroup, 2, 22, 0);
  EXPECT_EQ(m.File->Field(access_test::kGroup).GetInt(), 4);
  EXPECT_EQ(m.File->Field(access_test::kNumber).GetInt(), INT32_MIN);
  m.SetKeyRange(kKeyGroup, 2, 22, 1);
  EXPECT_EQ(m.File->Field(access_test::kNumber).GetInt(), INT32_MAX);
  m.SetKeyRange(kKeyName, 1, 1, 0);
  EXPECT_EQ(m.File->Field(access_test::kName).ToText(), "");
  m.SetKeyRange(kKeyName, 1, 1, 1);
  EXPECT_EQ(static_cast<unsigned char>(m.File->Field(access_test::kName).GetString()[0]), 0xFF);
}

// ---- Validation

class RefusingManager : public access_test::ItemManager {
 public:
  using ItemManager::ItemManager;
  int CheckField(int field, std::uint8_t report) override {
    Checked.push_back(field);
    if (field != RefusedField) return LevelBenign;
    return report ? Throw(errors::ErrFieldOutOfRange) : static_cast<int>(LevelNotify);
  }
  int RefusedField = 0;
  std::vector<int> Checked;
};

TEST_F(FileManagerTest, ValidationStopsAtTheFirstRefusedFieldAndNothingIsWritten) {
  CreateWith({{1, 1, "ONE"}});
  RefusingManager m(*decl_, errs_);
  m.Setup();
  m.RefusedField = access_test::kName;
  ASSERT_EQ(m.Open(), LevelBenign);
  access_test::SetItem(*m.File, {1, 2, "TWO"});
  int failed = 0;
  EXPECT_EQ(m.ValidateRecord(&failed), LevelNotify);
  EXPECT_EQ(failed, access_test::kName);
  EXPECT_EQ(m.Checked, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(m.Insert(), LevelNotify);
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  m.File->Field(access_test::kName).SetString("UNO");
  EXPECT_EQ(m.TryUpdate(), errors::LevelUser);
  EXPECT_EQ(Contents(), std::vector<std::string>{"1/1/ONE"});
  m.Close();
  m.Kill();
}

TEST_F(FileManagerTest, AnAliasValidatesThroughTheAliasedManagerAndLeavesItsBufferAlone) {
  CreateWith({{1, 1, "ONE"}});
  RefusingManager base(*decl_, errs_);
  base.Setup();
  base.RefusedField = access_test::kAmount;
  auto aliasDecl = access_test::ItemDeclaration(path_, "AliasItem", "AITM");
  rt::ThreadFile(*aliasDecl);
  destroyOnExit_.push_back(aliasDecl.get());
  auto& alias = Manager({}, aliasDecl.get(), &base);
  access_test::SetItem(*base.File, {9, 9, "BASE"});
  access_test::SetItem(*alias.File, {1, 5, "ALIAS", "4.00"});
  int failed = 0;
  EXPECT_EQ(alias.ValidateRecord(&failed), LevelNotify);
  EXPECT_EQ(failed, access_test::kAmount);
  EXPECT_EQ(base.Checked, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(access_test::ItemText(*base.File), "9/9/BASE");
  EXPECT_EQ(Captions(), std::vector<std::string>{"Range Error"});
  EXPECT_EQ(alias.TryValidateField(access_test::kAmount), LevelNotify);
  EXPECT_EQ(Captions().size(), 1u) << "the quiet form is quiet on the aliased file too";
  EXPECT_EQ(alias.ValidateField(access_test::kAmount), LevelNotify);
  EXPECT_EQ(Captions().size(), 2u);
  alias.Kill();
  base.Kill();
}

// ---- Runtime callbacks and life cycle

class HookedManager : public access_test::ItemManager {
 public:
  using ItemManager::ItemManager;
  int BeforeGroupA(int op, const rt::FileOperationParams&) override { return Note("A", op); }
  int BeforeGroupB(int op, const rt::FileOperationParams&) override { return Note("B", op); }
  int BeforeGroupC(int op, const rt::FileOperationParams&) override { return Note("C", op); }
  int BeforeGroupD(int op, const rt::FileOperationParams&, std::string_view record) override {
    Records.emplace_back(record);
    return Note("D", op);
  }
  int BeforeGroupE(int op, const rt::FileOperationParams&) override { return Note("E", op); }
  int Note(const std::string& group, int op) {
    Groups.push_back(group + std::to_string(op));
    return 1;
  }
  std::vector<std::string> Groups;
  std::vector<std::string> Records;
};

TEST_F(FileManagerTest, RuntimeOperationsReachTheirGroupHooks) {
  CreateWith({{1, 1, "ONE"}});
  HookedManager m(*decl_, errs_);
  m.Setup();
  ASSERT_EQ(m.Open(), LevelBenign);
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  m.File->Field(access_test::kName).SetString("UNO");
  ASSERT_EQ(m.Update(), LevelBenign);
  access_test::SetItem(*m.File, {1, 2, "TWO"});
  ASSERT_EQ(m.Insert(), LevelBenign);
  ASSERT_EQ(m.Delete(0), LevelBenign);
  EXPECT_EQ(m.Groups, (std::vector<std::string>{"D15", "C30", "E10", "B1", "A11"}));
  ASSERT_EQ(m.Records.size(), 1u);
  EXPECT_EQ(m.Records[0].size(), static_cast<std::size_t>(m.File->RecordLength()));
  m.Close();
  m.Kill();
}

TEST_F(FileManagerTest, SavePreviousBufferKeepsACopyOfTheRecordAsRead) {
  CreateWith({{1, 1, "ONE"}});
  auto& m = Manager();
  m.SavePreviousBuffer = 1;
  ASSERT_EQ(m.Open(), LevelBenign);
  m.File->Field(access_test::kNumber).SetInt(1);
  ASSERT_EQ(m.Fetch(kKeyNumber), LevelBenign);
  std::vector<std::uint8_t> asRead(m.Buffer.begin(), m.Buffer.end());
  m.File->Field(access_test::kName).SetString("CHANGED");
  EXPECT_EQ(m.PreviousBuffer, asRead);
  m.Close();
}

TEST_F(FileManagerTest, KillIsIdempotentAndGivesEverythingBack) {
  CreateWith({{1, 1, "ONE"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  EXPECT_EQ(dataaccess::ThreadRegistry().FileManagerFor(*m.File), &m);
  EXPECT_EQ(m.File->Receivers().size(), 1u);
  m.Kill();
  EXPECT_FALSE(PhysicallyOpen());
  EXPECT_EQ(m.Killed, 1);
  EXPECT_EQ(m.Initialized, 0);
  EXPECT_EQ(m.Opener, nullptr);
  EXPECT_TRUE(m.Keys.empty());
  EXPECT_TRUE(m.File->Receivers().empty());
  EXPECT_EQ(dataaccess::ThreadRegistry().FileManagerFor(*m.File), nullptr);
  m.Kill();
  m.Destroy();
  EXPECT_EQ(m.Killed, 1);
}

TEST_F(FileManagerTest, TheRuntimeDiscardingTheFileCleansTheManagerUp) {
  CreateWith({{1, 1, "ONE"}});
  auto& m = Manager();
  ASSERT_EQ(m.Open(), LevelBenign);
  ASSERT_EQ(m.UseFile(dataaccess::kUseUses), LevelBenign);
  rt::FileDestroy(*decl_, 0);
  EXPECT_EQ(m.CleanedUp, 1);
  EXPECT_EQ(m.OpenCount(), 0);
  EXPECT_EQ(m.File, nullptr) << "the manager no longer points at the freed file";
  EXPECT_EQ(m.UseFile(dataaccess::kUseUses), LevelFatal);
  m.Kill();
}

}  // namespace
