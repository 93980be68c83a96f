// A walk of the real Timecard file through a ViewReader in
// TIM:KEYCOMPDATECARDPTIME order, checked row for row against an SQL query of
// the same file: once reading only, and once deleting every punch up to a
// cut-off through AliasTimeCard on the way, as the purge does. The managers
// are the dictionary's, built as the main routine builds them.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "access/view_reader.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/schema.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/core/halt.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "tests/support/temp_folder.h"
#include "tests/runtime/sqlite/keyed_fixture.h"

namespace {

using errors::LevelBenign;
namespace tim = app::tim;

constexpr int kPunches = 12000;
constexpr int kFirstDate = 80000;  // duty dates run from here over 400 days, some are 0
constexpr int kCutOff = kFirstDate + 200;

// Every field of a record, as the SQL query below writes it.
constexpr const char* kRowSql =
    "SELECT COMPANY||'|'||DUTYDATE||'|'||SHIFT||'|'||PUNCH_TIME||'|'||EMP_CARD||'|'||PUNCHLOC"
    "||'|'||PUNCHTYPE||'|'||printf('%.2f',PUNCH_TIME_DEC)||'|'||ORIGIN||'|'||EMPNO||'|'||"
    "PUNCHDATE||'|'||DEPT||'|'||OTHERCODE||'|'||JOBNO||'|'||FUNCT FROM Timecard ";
// Key order; records with equal keys come in the order they were added.
constexpr const char* kKeyOrderSql = " ORDER BY COMPANY, DUTYDATE, EMP_CARD, PUNCH_TIME, rowid";

// Rows in an order unrelated to the key, with many repeated keys (cards and
// times take few values), negative and zero companies and zero dates.
std::string FillSql(int count) {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<" +
         std::to_string(count) +
         ") INSERT INTO Timecard SELECT "
         "(i*7919)%5-1, "                                                      // COMPANY
         "CASE WHEN i%97=0 THEN 0 ELSE " + std::to_string(kFirstDate) + "+(i*104729)%400 END, "
         "i%3, "                                                               // SHIFT
         "((i*17)%30)*60, "                                                    // PUNCH_TIME
         "(i*13)%50 + CASE WHEN i%11=0 THEN 9999900 ELSE 0 END, "              // EMP_CARD
         "i%4, "                                                               // PUNCHLOC
         "CASE WHEN i%2=0 THEN 'I' ELSE 'O' END, "                             // PUNCHTYPE
         "(i%2400)/100.0, "                                                    // PUNCH_TIME_DEC
         "CASE i%4 WHEN 0 THEN 'CLOCK' WHEN 1 THEN 'web' WHEN 2 THEN 'Phone 2' ELSE '' END, "
         "i%1000, "                                                            // EMPNO
         "80000+i%500, "                                                       // PUNCHDATE
         "'D'||(i%7), "                                                        // DEPT
         "CASE WHEN i%5=0 THEN 'OT' ELSE '' END, "                             // OTHERCODE
         "'J'||(i%13), "                                                       // JOBNO
         "i%9 FROM n";
}

// A working folder with data/Timecard.DAT filled by SQL, and the thread's
// dictionary built over it, as the purge finds them.
class TimecardWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    oldDirectory = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    std::filesystem::create_directory("data");
    rt::SetBackend(&backend);
    rt::SetHaltHandler([](int, const std::string& text) { throw std::runtime_error(text); });
    app::BuildGlobals();
    app::MainRegisterFiles();
    app::GlobalErrors()->Init(app::ErrorStatusVar);
    dataaccess::ThreadRegistry().Init();

    timecardFile = &rt::FileOf(app::TimecardFile());
    aliasFile = &rt::FileOf(app::AliasTimeCardFile());
    rt::FileCreate(*timecardFile);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    sql = std::make_unique<keyed_test::RawDb>("data/Timecard.DAT");
    ASSERT_EQ(sql->Exec(FillSql(kPunches)), SQLITE_OK);

    app::DictionaryInit();
    timecardRelations = app::RelationManagerOf(app::TimecardFile());
    aliasRelations = app::RelationManagerOf(app::AliasTimeCardFile());
    alias = app::FileManagerOf(app::AliasTimeCardFile());
    ASSERT_TRUE(timecardRelations && aliasRelations && alias);
    view = std::make_unique<rt::View>(*timecardFile);
  }

  void TearDown() override {
    reader.Kill();
    view.reset();
    sql.reset();
    app::MainThreadEnd();  // the dictionary, the error state, the files
    dataaccess::ThreadRegistry().Kill();
    app::ReleaseGlobals();
    rt::SetHaltHandler({});
    rt::SetBackend(nullptr);
    std::filesystem::current_path(oldDirectory);
  }

  // The record in Timecard's buffer, as the SQL query writes it.
  std::string BufferRow() {
    std::string row;
    for (int field = 1; field <= app::TimecardFile().FieldCount(); ++field) {
      if (field > 1) row += '|';
      row += timecardFile->Field(field).ToText();
    }
    return row;
  }

  void StartReader() {
    reader.Init(*view, *timecardRelations);
    reader.AddSortOrder(tim::kKeyCompDateCardPtime);
    reader.Reset();
  }

  TempFolder folder{"view-walk"};
  std::filesystem::path oldDirectory;
  rt::HeadlessBackend backend;
  rt::File* timecardFile = nullptr;
  rt::File* aliasFile = nullptr;
  std::unique_ptr<keyed_test::RawDb> sql;
  dataaccess::RelationManager* timecardRelations = nullptr;
  dataaccess::RelationManager* aliasRelations = nullptr;
  dataaccess::FileManager* alias = nullptr;
  std::unique_ptr<rt::View> view;
  dataaccess::ViewReader reader;
};

TEST_F(TimecardWalk, KeyOrderWalkMatchesSqlRowForRow) {
  const auto expected = sql->Column(std::string(kRowSql) + kKeyOrderSql);
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(kPunches));
  StartReader();
  EXPECT_EQ(reader.Order->CurrentEntry()->Order,
            "TIM:COMPANY,TIM:DUTYDATE,TIM:EMP_CARD,TIM:PUNCH_TIME");
  std::vector<std::string> walked;
  int level;
  while ((level = reader.Next()) == LevelBenign) walked.push_back(BufferRow());
  EXPECT_EQ(level, errors::LevelNotify);
  ASSERT_EQ(walked.size(), expected.size());
  for (std::size_t i = 0; i < walked.size(); ++i) ASSERT_EQ(walked[i], expected[i]) << "row " << i;
  EXPECT_TRUE(backend.MessageBoxes().empty());
}

// Deleting through the alias while the view reads ahead must neither skip
// nor repeat a punch, and must delete exactly the punches on or before the
// cut-off.
TEST_F(TimecardWalk, PurgeWalkDeletingThroughAliasVisitsEveryPunchOnce) {
  const auto expected = sql->Column(std::string(kRowSql) + kKeyOrderSql);
  const auto kept = sql->Column(std::string(kRowSql) + "WHERE DUTYDATE > " +
                              std::to_string(kCutOff) + kKeyOrderSql);
  ASSERT_GT(kept.size(), 0u);
  ASSERT_LT(kept.size(), expected.size());
  StartReader();
  ASSERT_EQ(aliasRelations->Open(0), LevelBenign);

  constexpr int kBatch = 1000;  // commits in the middle of the walk too
  rt::TxBegin(1, *timecardFile);
  rt::TxBegin(1, *aliasFile);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::ErrorText();
  std::vector<std::string> walked;
  int removed = 0, failures = 0;
  while (reader.Next() == LevelBenign) {
    walked.push_back(BufferRow());
    if (timecardFile->Field(tim::kDutyDate).GetInt() > kCutOff) continue;
    for (int field : {tim::kCompany, tim::kDutyDate, tim::kEmpCard, tim::kPunchTime})
      aliasFile->Field(field).SetFrom(timecardFile->Field(field));
    if (alias->Fetch(tim::kKeyCompDateCardPtime) != LevelBenign) {
      ++failures;
      continue;
    }
    rt::FileDelete(*aliasFile);
    if (rt::ErrorCode() != 0) {
      ++failures;
      continue;
    }
    if (++removed % kBatch == 0) {
      rt::TxCommit();
      rt::TxBegin(1, *timecardFile);
      rt::TxBegin(1, *aliasFile);
    }
  }
  rt::TxCommit();
  aliasRelations->Close(0);

  EXPECT_EQ(failures, 0);
  EXPECT_EQ(removed, static_cast<int>(expected.size() - kept.size()));
  ASSERT_EQ(walked.size(), expected.size());
  for (std::size_t i = 0; i < walked.size(); ++i) ASSERT_EQ(walked[i], expected[i]) << "row " << i;
  EXPECT_EQ(sql->Column(std::string(kRowSql) + kKeyOrderSql), kept);
  EXPECT_TRUE(backend.MessageBoxes().empty());
}

}  // namespace
