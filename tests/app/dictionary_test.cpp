// The dictionary on the real schema, in a fresh working folder with real data
// files: building and tearing it down (also on a second thread), the field
// rules, and the relations between employees, their punches and the other
// files, with failures injected on one child by real means.
#include "app/dictionary.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/schema.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/core/halt.h"
#include "runtime/core/program.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/message_box.h"
#include "tests/support/message_boxes.h"
#include "tests/support/operation_counter.h"
#include "tests/support/sqlite_lock_holder.h"
#include "tests/support/temp_folder.h"

namespace {

using errors::LevelBenign;
using errors::LevelNotify;

struct Halted {
  int Code;
  std::string Text;
};

using Row = std::map<std::string, std::string>;

// Creates a data file of the real schema and adds rows (field label -> text)
// through the runtime alone.
void Seed(const rt::FileDeclaration& decl, const std::vector<Row>& rows) {
  rt::File file(decl);
  if (!rt::FileExists(decl.DiskName())) rt::FileCreate(file);
  rt::FileOpen(file);
  ASSERT_EQ(rt::ErrorCode(), 0) << decl.Label() << ": " << rt::FileErrorText();
  for (const Row& row : rows) {
    rt::FileClear(file);
    for (const auto& [name, value] : row)
      ASSERT_TRUE(file.Field(decl.Prefix() + ":" + name).SetString(value)) << name;
    rt::FileAdd(file);
    ASSERT_EQ(rt::ErrorCode(), 0) << decl.Label() << ": " << rt::FileErrorText();
  }
  rt::FileClose(file);
}

// The named fields of every record ("1/100/HR"), sorted, read through a
// handle of its own.
std::vector<std::string> Values(const rt::FileDeclaration& decl, std::vector<std::string> names = {}) {
  if (names.empty())
    for (int n = 1; n <= decl.FieldCount(); ++n) names.emplace_back(decl.Field(n).Label());
  std::vector<std::string> rows;
  rt::File file(decl);
  rt::FileOpen(file, rt::kAccessRead | rt::kShareDenyNone);
  if (rt::ErrorCode() != 0) return {"<cannot open: " + rt::ErrorText() + ">"};
  rt::FileSetKey(file, 0);
  for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file)) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : "/") + file.Field(name).ToText();
    rows.push_back(text);
  }
  rt::FileClose(file);
  std::sort(rows.begin(), rows.end());
  return rows;
}

// A working folder with data/, the process-wide objects and the thread's
// files registered, as the program has them when the main routine runs.
class DictionaryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    dir_ = folder_.Path().string();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::filesystem::create_directory("data");
    rt::SetBackend(&backend_);
    // Questions nobody scripted are answered No, so a retry never loops.
    backend_.OnMessageBox([](const rt::HeadlessBackend::MessageBoxRecord& box) {
      return (box.Buttons & rt::ButtonNo) ? rt::ButtonNo : box.DefaultButton;
    });
    rt::SetHaltHandler([](int code, const std::string& text) { throw Halted{code, text}; });
    app::BuildGlobals();
    app::MainRegisterFiles();
    app::GlobalErrors()->Init(app::ErrorStatusVar);
    dataaccess::ThreadRegistry().Init();
  }

  void TearDown() override {
    app::MainThreadEnd();  // the dictionary, the error state, the files
    dataaccess::ThreadRegistry().Kill();
    app::ReleaseGlobals();
    rt::SetHaltHandler({});
    rt::SetBackend(nullptr);
    std::filesystem::current_path(previous_);
  }

  static dataaccess::FileManager& Fm(const rt::FileDeclaration& decl) {
    return *app::FileManagerOf(decl);
  }
  static dataaccess::RelationManager& Rm(const rt::FileDeclaration& decl) {
    return *app::RelationManagerOf(decl);
  }

  std::vector<std::string> Captions() const {
    return MessageCaptions(backend_);
  }
  std::string LastMessage() const {
    return LastMessageText(backend_);
  }

  TempFolder folder_{"dictionary"};
  std::string dir_;
  std::filesystem::path previous_;
  rt::HeadlessBackend backend_;
};

// ---- Building and tearing down

using DictionaryLife = DictionaryFixture;

TEST_F(DictionaryLife, InitBuildsAManagerPairPerFileAndKillClearsEveryReference) {
  app::DictionaryInit();
  for (const auto* decl : app::AllFiles()) {
    SCOPED_TRACE(decl->Label());
    dataaccess::FileManager* fm = app::FileManagerOf(*decl);
    dataaccess::RelationManager* rm = app::RelationManagerOf(*decl);
    ASSERT_NE(fm, nullptr);
    ASSERT_NE(rm, nullptr);
    EXPECT_EQ(rm->Me, fm);
    EXPECT_EQ(rm->UseLogout, 1);
    EXPECT_EQ(fm->FileNameValue, decl->Label());
    EXPECT_EQ(fm->File, &rt::FileOf(*decl));
    EXPECT_EQ(fm->Errors, app::GlobalErrors());
    EXPECT_EQ(fm->LazyOpen, 1);
    EXPECT_EQ(fm->Initialized, 0);
    EXPECT_EQ(dataaccess::ThreadRegistry().FileManagerFor(*decl), fm);
    EXPECT_EQ(dataaccess::ThreadRegistry().RelationManagerFor(*decl), rm);
    const bool alias = decl == &app::AliasTimeCardFile();
    EXPECT_EQ(fm->AliasedFile, alias ? app::FileManagerOf(app::TimecardFile()) : nullptr);
    EXPECT_EQ(rm->AliasFile, alias ? app::RelationManagerOf(app::TimecardFile()) : nullptr);
    EXPECT_TRUE(rm->Relations.empty());  // added on first need
  }
  // A second build on the same thread changes nothing.
  auto* timecard = app::FileManagerOf(app::TimecardFile());
  app::DictionaryInit();
  EXPECT_EQ(app::FileManagerOf(app::TimecardFile()), timecard);

  app::DictionaryKill();
  for (const auto* decl : app::AllFiles()) {
    EXPECT_EQ(app::FileManagerOf(*decl), nullptr) << decl->Label();
    EXPECT_EQ(app::RelationManagerOf(*decl), nullptr) << decl->Label();
    EXPECT_EQ(dataaccess::ThreadRegistry().FileManagerFor(*decl), nullptr) << decl->Label();
    EXPECT_EQ(dataaccess::ThreadRegistry().RelationManagerFor(*decl), nullptr) << decl->Label();
  }
  app::DictionaryKill();  // nothing left to do
}

TEST_F(DictionaryLife, FirstUseRegistersEveryKeyWithItsDescription) {
  app::DictionaryInit();
  for (const auto* decl : app::AllFiles()) {
    SCOPED_TRACE(decl->Label());
    dataaccess::FileManager& fm = Fm(*decl);
    ASSERT_EQ(Rm(*decl).Open(0), LevelBenign);  // creates the missing file
    EXPECT_EQ(fm.Initialized, 1);
    EXPECT_EQ(fm.Create, 1);
    EXPECT_EQ(fm.LockRecover, 10);
    ASSERT_EQ(static_cast<int>(fm.Keys.size()), decl->KeyCount());
    for (int k = 1; k <= decl->KeyCount(); ++k) {
      EXPECT_EQ(fm.Keys[k - 1].Key, k);
      EXPECT_EQ(fm.Keys[k - 1].Description, app::KeyDescription(*decl, k));
      EXPECT_EQ(fm.Keys[k - 1].AutoInc, 0);
    }
    Rm(*decl).Close(0);
  }
  EXPECT_TRUE(Captions().empty());
}

TEST_F(DictionaryLife, EveryRelationOfTheTableResolves) {
  app::DictionaryInit();
  std::vector<std::string> relations;
  for (const auto* decl : app::AllFiles()) {
    dataaccess::RelationManager& rm = Rm(*decl);
    rm.EnsureRelations();
    for (const auto& r : rm.Relations) {
      const rt::FileDeclaration& related = r.File->Me->File->Declaration();
      std::string text = decl->Label() + ">" + related.Label();
      if (r.Fields)
        text += " " + std::to_string(r.UpdateMode) + std::to_string(r.DeleteMode) + " " +
                related.Key(r.HisKey).Name + " " + std::to_string(r.Fields->Count());
      relations.push_back(text);
    }
  }
  const std::vector<std::string> expected = {
      "Timecard>Employee",
      "EmpAnnualized>Employee",
      "Dept>Employee 30 EMP:KEYCOMPDEPT 2",
      "Employee>EmpAnnualized 33 EMPA:BYCOMPCARDPARENT 2",
      "Employee>EmpMisPC 30 EMPC:BYCOMPCARD 2",
      "Employee>HOS 33 HOS:BYCOMPCARD 2",
      "Employee>PayType",
      "Employee>Dept",
      "Employee>HOtherTrx 33 HOHT:KEYCOMPCARD 2",
      "Employee>HTimecard 33 HTIM:KEYCOMPCARDDATETIME 2",
      "Employee>Timecard 33 TIM:KEYCOMPCARDDATEPTIME 2",
      "Employee>OtherHrsTrx 33 OHT:BYCOMPCARD 2",
      "HOtherTrx>Employee",
      "PayType>Employee 30 EMP:KEYCOMPPAYTYPE 2",
      "EmpMisPC>Employee",
      "HTimecard>Employee",
      "OtherHrsTrx>Employee",
      "HOS>Employee",
  };
  EXPECT_EQ(relations, expected);
}

TEST_F(DictionaryLife, ThreadOneBuildsInTheMainRoutineOtherThreadsAtTheirStart) {
  ASSERT_NE(rt::RuntimeInit(app::ModuleTable()), 0);
  // The fixture built the process-wide objects; the frame builds its own.
  app::ReleaseGlobals();
  bool builtAtStart = true, builtByInit = false, secondBuilt = false, secondOwn = false;
  bool secondRegistered = false;
  rt::RuntimeStart([&] {
    builtAtStart = app::FileManagerOf(app::TimecardFile()) != nullptr;
    app::GlobalErrors()->Init(app::ErrorStatusVar);
    app::DictionaryInit();
    auto* mine = app::FileManagerOf(app::TimecardFile());
    builtByInit = mine != nullptr;
    rt::StartThread([&] {
      auto* theirs = app::FileManagerOf(app::TimecardFile());
      secondBuilt = theirs != nullptr;
      secondOwn = theirs != mine && theirs->File == &rt::FileOf(app::TimecardFile());
      secondRegistered =
          dataaccess::ThreadRegistry().FileManagerFor(app::TimecardFile()) == theirs;
    }).Join();
    // Thread 1's dictionary is still there after the other thread's went.
    EXPECT_EQ(app::FileManagerOf(app::TimecardFile()), mine);
  });
  rt::RuntimeExit();
  app::BuildGlobals();  // for the fixture's teardown
  app::MainRegisterFiles();
  EXPECT_FALSE(builtAtStart);
  EXPECT_TRUE(builtByInit);
  EXPECT_TRUE(secondBuilt);
  EXPECT_TRUE(secondOwn);
  EXPECT_TRUE(secondRegistered);
  // The thread-end hook of thread 1 tore its dictionary down.
  EXPECT_EQ(app::FileManagerOf(app::TimecardFile()), nullptr);
}

TEST_F(DictionaryLife, OpeningThePunchFilesOnlyCountsTheirRelatives) {
  Seed(app::TimecardFile(), {});
  app::DictionaryInit();
  ASSERT_EQ(Rm(app::AliasTimeCardFile()).Open(0), LevelBenign);
  ASSERT_EQ(Rm(app::TimecardFile()).Open(0), LevelBenign);
  EXPECT_EQ(Fm(app::TimecardFile()).Used, 1);
  EXPECT_EQ(Fm(app::EmployeeFile()).OpenCount(), 1);
  EXPECT_EQ(Fm(app::EmployeeFile()).Used, 0);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator("data"))
    if (entry.path().extension() == ".DAT") files.push_back(entry.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"Timecard.DAT"});
  Rm(app::AliasTimeCardFile()).Close(0);
  Rm(app::TimecardFile()).Close(0);
  EXPECT_EQ(Fm(app::EmployeeFile()).OpenCount(), 0);
  EXPECT_EQ(Fm(app::TimecardFile()).Used, 0);
}

// ---- Field rules

class FieldRules : public DictionaryFixture {
 protected:
  void SetUp() override {
    DictionaryFixture::SetUp();
    app::DictionaryInit();
  }
  dataaccess::FileManager& Opened(const rt::FileDeclaration& decl) {
    EXPECT_EQ(Rm(decl).Open(0), LevelBenign);
    return Fm(decl);
  }
};

TEST_F(FieldRules, PrimedTimecardPassesAndPrimedHistoryPunchFailsField6) {
  dataaccess::FileManager& timecard = Opened(app::TimecardFile());
  ASSERT_EQ(timecard.PrimeRecord(0), LevelBenign);
  EXPECT_EQ(timecard.File->Field(app::tim::kPunchType).ToText(), "I");
  int failed = -1;
  EXPECT_EQ(timecard.ValidateRecord(&failed), LevelBenign);
  EXPECT_TRUE(Captions().empty());

  dataaccess::FileManager& history = Opened(app::HTimecardFile());
  ASSERT_EQ(history.PrimeRecord(0), LevelBenign);
  EXPECT_EQ(history.File->Field(app::htim::kPunchType).ToText(), "*");
  EXPECT_EQ(history.ValidateRecord(&failed), LevelNotify);
  EXPECT_EQ(failed, app::htim::kPunchType);
  EXPECT_EQ(LastMessage(), "The value of HTIM:PunchType must be in the list : 'IN','OUT','?'.");
  history.File->Field(app::htim::kPunchType).SetString("O");
  EXPECT_EQ(history.ValidateRecord(&failed), LevelBenign);
}

TEST_F(FieldRules, PrimingSetsEachFilesInitialValues) {
  dataaccess::FileManager& employee = Opened(app::EmployeeFile());
  ASSERT_EQ(employee.PrimeRecord(0), LevelBenign);
  EXPECT_EQ(employee.File->Field(app::emp::kScheduleCode).ToText(), "REG");
  EXPECT_EQ(employee.File->Field(app::emp::kScheduleLevel).ToText(), "1");
  dataaccess::FileManager& payType = Opened(app::PayTypeFile());
  payType.File->Field(app::pay::kMonitor).SetInt(9);
  payType.File->Field(app::pay::kCode).SetString("HR");
  ASSERT_EQ(payType.PrimeRecord(1), LevelBenign);  // keep what the caller set
  EXPECT_EQ(payType.File->Field(app::pay::kMonitor).ToText(), "0");
  EXPECT_EQ(payType.File->Field(app::pay::kCode).ToText(), "HR");
}

struct RuleCase {
  const char* Name;
  const rt::FileDeclaration& (*File)();
  int Field;
  const char* Value;
  int Level;
  const char* Message;  // "" when nothing is shown
};

class FieldRuleCases : public FieldRules, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(FieldRuleCases, ReportingCheck) {
  const RuleCase& c = GetParam();
  dataaccess::FileManager& fm = Opened(c.File());
  ASSERT_TRUE(fm.File->Field(c.Field).SetString(c.Value));
  // The silent check gives the same level and shows nothing.
  EXPECT_EQ(fm.TryValidateField(c.Field), c.Level);
  EXPECT_TRUE(Captions().empty());
  EXPECT_EQ(fm.ValidateField(c.Field), c.Level);
  if (*c.Message) {
    EXPECT_EQ(Captions(), std::vector<std::string>{"Value Error"});
    EXPECT_EQ(LastMessage(), c.Message);
  } else {
    EXPECT_TRUE(Captions().empty());
  }
}

const char* const kPunchTypeMessage =
    "The value of TIM:PunchType must be in the list : 'IN','OUT','?'.";

INSTANTIATE_TEST_SUITE_P(
    Rules, FieldRuleCases,
    ::testing::Values(
        RuleCase{"PunchTypeIn", app::TimecardFile, app::tim::kPunchType, "I", LevelBenign, ""},
        RuleCase{"PunchTypeUnknown", app::TimecardFile, app::tim::kPunchType, "?", LevelBenign, ""},
        RuleCase{"PunchTypeLowerCase", app::TimecardFile, app::tim::kPunchType, "o", LevelNotify,
                 kPunchTypeMessage},
        RuleCase{"PunchTypeBlank", app::TimecardFile, app::tim::kPunchType, " ", LevelNotify,
                 kPunchTypeMessage},
        RuleCase{"OtherTimecardField", app::TimecardFile, app::tim::kShift, "7", LevelBenign, ""},
        // The alias is checked by Timecard's rules.
        RuleCase{"AliasPunchTypeBlank", app::AliasTimeCardFile, app::tim::kPunchType, " ",
                 LevelNotify, kPunchTypeMessage},
        RuleCase{"HistoryPunchTypeOut", app::HTimecardFile, app::htim::kPunchType, "O", LevelBenign,
                 ""},
        RuleCase{"PayAs3", app::PayTypeFile, app::pay::kPayAs, "3", LevelBenign, ""},
        RuleCase{"PayAs4", app::PayTypeFile, app::pay::kPayAs, "4", LevelNotify,
                 "The value of 0=None, 1=Salary, 2=Full-Time, 3=Part-Time must be in the list : "
                 "'None','Salary','Full Time','Part Time'."},
        RuleCase{"PayTypeMonitor", app::PayTypeFile, app::pay::kMonitor, "4", LevelBenign, ""},
        RuleCase{"HosPeriods8", app::DeptFile, app::dep::kHosPeriods, "8", LevelBenign, ""},
        RuleCase{"HosPeriods5", app::DeptFile, app::dep::kHosPeriods, "5", LevelNotify,
                 "The value of Hours-Of-Service Periods must be in the list : 'NA','7','8'."},
        RuleCase{"EmployeeHasNoRule", app::EmployeeFile, app::emp::kLastName, " ", LevelBenign,
                 ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Relations

// Company 1: employees 100 and 200 (pay type HR) and 300 (SAL), each with
// records in every related file; company 2: employee 100 with a punch.
class Relations : public DictionaryFixture {
 protected:
  void SetUp() override {
    DictionaryFixture::SetUp();
    using namespace app;
    std::vector<Row> employees, punches, history, other, otherHistory, hos, annual, payCodes;
    for (const auto& [company, card, payType, dept] :
         std::vector<std::tuple<std::string, std::string, std::string, std::string>>{
             {"1", "100", "HR", "SHOP"}, {"1", "200", "HR", "OFFICE"}, {"1", "300", "SAL", "SHOP"},
             {"2", "100", "HR", "SHOP"}}) {
      employees.push_back({{"COMPANY", company}, {"CARDNO", card}, {"PAYTYPE", payType},
                           {"DEPT", dept}, {"EMPLOYEENO", "E" + card}, {"LASTNAME", "N" + card}});
      for (const char* day : {"80001", "80002"})
        punches.push_back({{"COMPANY", company}, {"EMP_CARD", card}, {"DUTYDATE", day},
                           {"PUNCH_TIME", "360000"}, {"PUNCHTYPE", "I"}});
      if (company == "2") continue;
      for (const char* day : {"79001", "79002"})
        history.push_back({{"COMPANY", company}, {"EMP_CARD", card}, {"DUTYDATE", day},
                           {"PUNCH_TIME", "360000"}, {"PUNCHTYPE", "O"}});
      other.push_back({{"COMPANY", company}, {"CARDNO", card}, {"CODE", "VAC"}, {"DATE", "80001"}});
      otherHistory.push_back(
          {{"COMPANY", company}, {"CARDNO", card}, {"CODE", "SIC"}, {"DATE", "79001"}});
      hos.push_back({{"COMPANY", company}, {"EMP_CARD", card}});
      annual.push_back({{"COMPANY", company}, {"CARDNO", card}, {"PARENTCODE", "VAC"}});
      payCodes.push_back({{"COMPANY", company}, {"CARDNO", card}, {"CODE", "PC" + card}});
    }
    Seed(EmployeeFile(), employees);
    Seed(TimecardFile(), punches);
    Seed(HTimecardFile(), history);
    Seed(OtherHrsTrxFile(), other);
    Seed(HOtherTrxFile(), otherHistory);
    Seed(HOSFile(), hos);
    Seed(EmpAnnualizedFile(), annual);
    Seed(EmpMisPCFile(), payCodes);
    Seed(PayTypeFile(), {{{"COMPANY", "1"}, {"CODE", "HR"}, {"PAYAS", "1"}},
                         {{"COMPANY", "1"}, {"CODE", "SAL"}, {"PAYAS", "1"}}});
    Seed(DeptFile(), {{{"COMPANY", "1"}, {"DEPT", "SHOP"}, {"HOSPERIODS", "7"}},
                      {{"COMPANY", "1"}, {"DEPT", "OFFICE"}, {"HOSPERIODS", "0"}}});
    app::DictionaryInit();
  }

  // Opens `decl` through its relation manager and reads the record whose
  // key `key` fields hold `values`.
  dataaccess::FileManager& Fetch(const rt::FileDeclaration& decl, const char* key,
                                 const Row& values) {
    EXPECT_EQ(Rm(decl).Open(0), LevelBenign);
    dataaccess::FileManager& fm = Fm(decl);
    for (const auto& [name, value] : values) fm.File->Field(decl.Prefix() + ":" + name).SetString(value);
    EXPECT_EQ(fm.Fetch(decl.KeyNumber(key)), LevelBenign) << decl.Label();
    Rm(decl).SaveLinks();
    return fm;
  }

  // Company/card of every record of the files related to employees.
  std::map<std::string, std::vector<std::string>> Cards() {
    using namespace app;
    return {{"Timecard", Values(TimecardFile(), {"COMPANY", "EMP_CARD"})},
            {"HTimecard", Values(HTimecardFile(), {"COMPANY", "EMP_CARD"})},
            {"OtherHrsTrx", Values(OtherHrsTrxFile(), {"COMPANY", "CARDNO"})},
            {"HOtherTrx", Values(HOtherTrxFile(), {"COMPANY", "CARDNO"})},
            {"HOS", Values(HOSFile(), {"COMPANY", "EMP_CARD"})},
            {"EmpAnnualized", Values(EmpAnnualizedFile(), {"COMPANY", "CARDNO"})},
            {"EmpMisPC", Values(EmpMisPCFile(), {"COMPANY", "CARDNO"})},
            {"Employee", Values(EmployeeFile(), {"COMPANY", "CARDNO"})}};
  }

  // Every field of every record of every data file.
  std::vector<std::vector<std::string>> Everything() {
    std::vector<std::vector<std::string>> all;
    for (const auto* decl : app::AllFiles())
      if (decl != &app::AliasTimeCardFile()) all.push_back(Values(*decl));
    return all;
  }
};

TEST_F(Relations, DeletingAnEmployeeCascadesToSixFilesInOneTransaction) {
  Fetch(app::EmployeeFile(), "EMP:BYCOMPCARD", {{"COMPANY", "1"}, {"CARDNO", "100"}});
  EXPECT_EQ(Rm(app::EmployeeFile()).Delete(0), LevelBenign);
  EXPECT_FALSE(rt::TxActive());
  Rm(app::EmployeeFile()).Close(0);
  const std::vector<std::string> others2 = {"1/200", "1/300"};
  const std::vector<std::string> others4 = {"1/200", "1/200", "1/300", "1/300"};
  std::map<std::string, std::vector<std::string>> expected = {
      {"Timecard", {"1/200", "1/200", "1/300", "1/300", "2/100", "2/100"}},
      {"HTimecard", others4},
      {"OtherHrsTrx", others2},
      {"HOtherTrx", others2},
      {"HOS", others2},
      {"EmpAnnualized", others2},
      {"EmpMisPC", {"1/100", "1/200", "1/300"}},  // deleting leaves pay codes alone
      {"Employee", {"1/200", "1/300", "2/100"}}};
  EXPECT_EQ(Cards(), expected);
  EXPECT_TRUE(Captions().empty());
}

// How a test breaks one child file of the employee before the delete.
enum class Injection { ReadOnlyHos, OtherHoursLockedByAnotherProcess };

class FailingEmployeeDelete : public Relations, public ::testing::WithParamInterface<Injection> {};

TEST_P(FailingEmployeeDelete, LeavesEveryFileUnchanged) {
  std::unique_ptr<SqliteLockHolder> lock;
  if (GetParam() == Injection::ReadOnlyHos) {
    std::filesystem::permissions("data/HOS.DAT", std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::group_read |
                                                     std::filesystem::perms::others_read);
  } else {
    // The last child the delete reaches: the transaction takes its lock at
    // the begin, so the delete is refused before any file is touched.
    lock = std::make_unique<SqliteLockHolder>("data/OtherHrsTrx.DAT", "BEGIN IMMEDIATE;",
                                              dir_ + "/lock.out");
    ASSERT_TRUE(lock->Ready());
  }
  const auto before = Everything();
  dataaccess::FileManager& employee =
      Fetch(app::EmployeeFile(), "EMP:BYCOMPCARD", {{"COMPANY", "1"}, {"CARDNO", "100"}});
  EXPECT_EQ(Rm(app::EmployeeFile()).Delete(0), LevelNotify);
  // Checked while the employee file is open: closing it would roll back too.
  EXPECT_FALSE(rt::TxActive());
  if (lock) lock->Release();
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(employee.File->Field(app::emp::kCardNo).ToText(), "100");
  Rm(app::EmployeeFile()).Close(0);
  auto captions = Captions();
  ASSERT_FALSE(captions.empty());
  EXPECT_EQ(captions.back(), lock ? "Transaction cancelled" : "Record was not deleted");
}

INSTANTIATE_TEST_SUITE_P(Injections, FailingEmployeeDelete,
                         ::testing::Values(Injection::ReadOnlyHos,
                                           Injection::OtherHoursLockedByAnotherProcess),
                         [](const auto& info) {
                           return info.param == Injection::ReadOnlyHos
                                      ? std::string("ReadOnlyHos")
                                      : std::string("OtherHoursLockedByAnotherProcess");
                         });

TEST_F(Relations, ChangingAnEmployeeCardCascadesToEveryChild) {
  dataaccess::FileManager& employee =
      Fetch(app::EmployeeFile(), "EMP:BYCOMPCARD", {{"COMPANY", "1"}, {"CARDNO", "100"}});
  employee.File->Field(app::emp::kCardNo).SetInt(150);
  EXPECT_EQ(Rm(app::EmployeeFile()).Update(0), LevelBenign);
  Rm(app::EmployeeFile()).Close(0);
  const std::vector<std::string> three = {"1/150", "1/200", "1/300"};
  const std::vector<std::string> six = {"1/150", "1/150", "1/200", "1/200", "1/300", "1/300"};
  std::map<std::string, std::vector<std::string>> expected = {
      {"Timecard", {"1/150", "1/150", "1/200", "1/200", "1/300", "1/300", "2/100", "2/100"}},
      {"HTimecard", six},
      {"OtherHrsTrx", three},
      {"HOtherTrx", three},
      {"HOS", three},
      {"EmpAnnualized", three},
      {"EmpMisPC", three},
      {"Employee", {"1/150", "1/200", "1/300", "2/100"}}};
  EXPECT_EQ(Cards(), expected);
  EXPECT_TRUE(Captions().empty());
}

TEST_F(Relations, ACardChangeThatOneChildRefusesChangesNothing) {
  // A punch of employee 100 whose type breaks Timecard's rule: writing it
  // with the new card is refused, and the whole change with it.
  Seed(app::TimecardFile(), {{{"COMPANY", "1"}, {"EMP_CARD", "100"}, {"DUTYDATE", "80003"},
                              {"PUNCH_TIME", "1"}, {"PUNCHTYPE", "X"}}});
  const auto before = Everything();
  dataaccess::FileManager& employee =
      Fetch(app::EmployeeFile(), "EMP:BYCOMPCARD", {{"COMPANY", "1"}, {"CARDNO", "100"}});
  employee.File->Field(app::emp::kCardNo).SetInt(150);
  EXPECT_EQ(Rm(app::EmployeeFile()).Update(0), LevelNotify);
  EXPECT_FALSE(rt::TxActive());
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(employee.File->Field(app::emp::kCardNo).ToText(), "100");
  Rm(app::EmployeeFile()).Close(0);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Value Error", "Record was not updated"}));
}

TEST_F(Relations, PayTypeCodeChangeCascadesToItsEmployees) {
  dataaccess::FileManager& payType =
      Fetch(app::PayTypeFile(), "PAY:BYCOMPCODE", {{"COMPANY", "1"}, {"CODE", "HR"}});
  payType.File->Field(app::pay::kCode).SetString("HOUR");
  EXPECT_EQ(Rm(app::PayTypeFile()).Update(0), LevelBenign);
  Rm(app::PayTypeFile()).Close(0);
  EXPECT_EQ(Values(app::EmployeeFile(), {"COMPANY", "CARDNO", "PAYTYPE"}),
            (std::vector<std::string>{"1/100/HOUR", "1/200/HOUR", "1/300/SAL", "2/100/HR"}));
  EXPECT_EQ(Values(app::PayTypeFile(), {"COMPANY", "CODE"}),
            (std::vector<std::string>{"1/HOUR", "1/SAL"}));
  EXPECT_EQ(Cards()["Timecard"].size(), 8u);  // the employees' own children are untouched
}

TEST_F(Relations, DeptCodeChangeCascadesToItsEmployees) {
  dataaccess::FileManager& dept =
      Fetch(app::DeptFile(), "DEP:BYCOMPDEPARTMENT", {{"COMPANY", "1"}, {"DEPT", "SHOP"}});
  dept.File->Field(app::dep::kDept).SetString("PLANT");
  EXPECT_EQ(Rm(app::DeptFile()).Update(0), LevelBenign);
  Rm(app::DeptFile()).Close(0);
  EXPECT_EQ(Values(app::EmployeeFile(), {"COMPANY", "CARDNO", "DEPT"}),
            (std::vector<std::string>{"1/100/PLANT", "1/200/OFFICE", "1/300/PLANT", "2/100/SHOP"}));
}

TEST_F(Relations, TheEmployeeCycleOpensClosesAndQuickScansEachFileOnce) {
  std::map<const rt::FileDeclaration*, OperationCounter> sends;
  for (const auto* decl : app::AllFiles()) rt::FileCallback(rt::FileOf(*decl), &sends[decl], 0);
  ASSERT_EQ(Rm(app::EmployeeFile()).OpenForced(0), LevelBenign);
  for (const auto* decl : app::AllFiles()) {
    const bool reached = decl != &app::AliasTimeCardFile();
    EXPECT_EQ(Fm(*decl).OpenCount(), reached ? 1 : 0) << decl->Label();
    if (reached) {
      ASSERT_EQ(Fm(*decl).UseFile(2), LevelBenign) << decl->Label();
    }
  }
  for (auto& [decl, counter] : sends) counter.Reset();
  Rm(app::EmployeeFile()).SetQuickScan(1, dataaccess::kQuickScanAll);
  for (const auto* decl : app::AllFiles())
    EXPECT_EQ(sends[decl].Count(rt::kOpSend), decl != &app::AliasTimeCardFile() ? 1 : 0) << decl->Label();
  Rm(app::EmployeeFile()).Close(0);
  for (const auto* decl : app::AllFiles()) {
    EXPECT_EQ(Fm(*decl).OpenCount(), 0) << decl->Label();
    EXPECT_EQ(Fm(*decl).Used, 0) << decl->Label();
  }
  for (const auto* decl : app::AllFiles()) rt::FileCallback(rt::FileOf(*decl), &sends[decl], 1);
}

TEST_F(Relations, OpenThenCloseRestoresEveryOpenCount) {
  // As the purge has them: the alias and the punch file open.
  ASSERT_EQ(Rm(app::AliasTimeCardFile()).Open(0), LevelBenign);
  ASSERT_EQ(Rm(app::TimecardFile()).Open(0), LevelBenign);
  auto counts = [] {
    std::vector<int> all;
    for (const auto* decl : app::AllFiles()) all.push_back(Fm(*decl).OpenCount());
    return all;
  };
  for (const auto* decl : app::AllFiles()) {
    for (bool forced : {false, true}) {
      const auto before = counts();
      ASSERT_EQ(forced ? Rm(*decl).OpenForced(0) : Rm(*decl).Open(0), LevelBenign);
      Rm(*decl).Close(0);
      EXPECT_EQ(counts(), before) << decl->Label() << (forced ? " forced" : "");
    }
  }
  Rm(app::TimecardFile()).Close(0);
  Rm(app::AliasTimeCardFile()).Close(0);
  for (int count : counts()) EXPECT_EQ(count, 0);
}

}  // namespace
