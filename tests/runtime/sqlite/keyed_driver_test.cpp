// The KEYED driver through the runtime's file operations, on real SQLite
// files in a fresh temporary folder: the on-disk form, reading and writing,
// and every error code provoked by real means.
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "tests/runtime/sqlite/keyed_fixture.h"

namespace keyed_test {
namespace {

// The contract every KEYED store keeps (instances .../Sqlite and .../Postgres);
// KeyedOnDisk holds what only SQLite files have (their form, file permissions,
// SQLite's own locks and record numbers).
class Keyed : public OnEachStore<KeyedFixture> {};
KEYED_ON_EACH_STORE(Keyed);
using KeyedOnDisk = KeyedFixture;

TEST_F(KeyedOnDisk, CreateWritesTheDocumentedForm) {
  CreateWith({});
  rt::FileClose(*file_);
  RawDb db(path_);
  EXPECT_EQ(
      db.Column("SELECT name || ' ' || type || ' ' || \"notnull\" FROM pragma_table_info('Punch')"),
      (std::vector<std::string>{"COMPANY INTEGER 1", "DUTYDATE INTEGER 1", "CARD INTEGER 1",
                                "PTIME INTEGER 1", "ORIGIN TEXT 1", "HOURS REAL 1", "JOB TEXT 1",
                                "CODES BLOB 1"}));
  EXPECT_EQ(
      db.Column("SELECT name || ' ' || \"unique\" FROM pragma_index_list('Punch') ORDER BY name"),
      (std::vector<std::string>{"BYCARDTIME 1", "BYORIGIN 0", "KEYDATECARD 0"}));
  EXPECT_EQ(
      db.Column("SELECT coalesce(name, 'expr') FROM pragma_index_xinfo('KEYDATECARD') WHERE key=1"),
      (std::vector<std::string>{"COMPANY", "DUTYDATE", "CARD", "PTIME"}));
  EXPECT_EQ(db.One("PRAGMA journal_mode"), "delete");
}

TEST_P(Keyed, CreateRefusesToReplaceAFile) {
  CreateWith({{}});
  rt::FileClose(*file_);
  rt::FileCreate(*file_);
  EXPECT_NE(rt::ErrorCode(), 0);
  rt::FileOpen(*file_);
  EXPECT_EQ(rt::FileRecords(*file_), 1);
}

TEST_P(Keyed, EveryFieldTypeRoundTripsAndIsStoredReadably) {
  CreateWith({});
  SetPunch(*file_, {7, 81234, 1234567, 4321, "Caf\xE9  ", "-12.34", "JOB9"});
  file_->Field(kCodes, 1).SetInt(200);
  std::vector<std::uint8_t> written(file_->Buffer(), file_->Buffer() + file_->RecordLength());
  rt::FileAdd(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0);
  rt::FileClear(*file_);
  file_->Field(kCard).SetInt(1234567);
  file_->Field(kTime).SetInt(4321);
  rt::FileGetByKey(*file_, kKeyCardTime);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(std::vector<std::uint8_t>(file_->Buffer(), file_->Buffer() + file_->RecordLength()),
            written);
  EXPECT_EQ(rt::FileRecordSize(*file_), file_->RecordLength());
  rt::FileClose(*file_);
  EXPECT_EQ(RawOne("SELECT \"ORIGIN\" || '|' || \"HOURS\" || '|' || \"JOB\" FROM \"Punch\""),
            "Caf\xC3\xA9|-12.34|JOB9");
  EXPECT_EQ(RawOne(OnServer() ? "SELECT encode(\"CODES\", 'hex') FROM \"Punch\""
                              : "SELECT lower(hex(CODES)) FROM Punch"),
            "00c800");
}

// Decimals of 16 to 18 digits are counted in units: a double would round them.
TEST_P(Keyed, WideDecimalsKeepEveryDigitAndWiderOnesAreRefused) {
  auto field = [](const char* name, int digits, int places) {
    return FieldDecl(rt::FieldType::Decimal, "WID", name, rt::PackedSize(digits), places);
  };
  rt::FileDeclaration decl("KEYED", "Wide", "WID", dir_ + "/Wide.DAT",
                           {field("AMOUNT", 17, 2), field("RATIO", 17, 10), field("SMALL", 5, 2)},
                           {KeyDecl("WID", "BYAMOUNT", rt::kKeyBase, {1})}, 0);
  rt::File wide(decl);
  rt::FileCreate(wide);
  rt::FileOpen(wide);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  const std::vector<std::vector<std::string>> rows = {
      {"999999999999999.99", "1234567.0123456789", "-1.25"},
      {"90071992547409.93", "-0.0000000001", "999.99"},
      {"90071992547409.94", "9999999.9999999999", "0.01"}};
  for (const auto& row : rows) {
    for (int f = 1; f <= 3; ++f) wide.Field(f).SetDecimal(*rt::Decimal::Parse(row[f - 1]));
    rt::FileAdd(wide);
    ASSERT_EQ(rt::ErrorCode(), 0) << row[0] << ": " << rt::FileErrorText();
  }
  std::vector<std::vector<std::string>> read;
  rt::View view(wide);
  rt::ViewSetProperty(view, rt::kPropFilter, "WID:AMOUNT >= 90071992547409.94");
  rt::FileOpen(view);
  rt::ViewSetStart(view, 0);
  for (rt::FileNext(view); rt::ErrorCode() == 0; rt::FileNext(view))
    read.push_back({wide.Field(1).ToText(), wide.Field(2).ToText(), wide.Field(3).ToText()});
  EXPECT_EQ(read, (std::vector<std::vector<std::string>>{rows[0], rows[2]}));
  rt::FileClose(view);
  rt::FileClose(wide);
  if (!OnServer()) {  // counted in units in SQLite; numeric on the server
    EXPECT_EQ(
      RawDb(decl.Path())
          .Column("SELECT typeof(AMOUNT) || ' ' || typeof(SMALL) || ' ' || "
                  "AMOUNT FROM Wide ORDER BY AMOUNT"),
      (std::vector<std::string>{"integer real 9007199254740993", "integer real 9007199254740994",
                                "integer real 99999999999999999"}));
  }

  rt::FileDeclaration wider("KEYED", "Wider", "WID", dir_ + "/Wide.DAT", {field("AMOUNT", 19, 2)},
                            {}, 0);
  rt::File tooWide(wider);
  for (bool create : {true, false}) {
    create ? rt::FileCreate(tooWide) : rt::FileOpen(tooWide);
    EXPECT_EQ(rt::ErrorCode(), rt::kInvalidDeclaration);
    EXPECT_NE(rt::FileErrorText().find("AMOUNT"), std::string::npos) << rt::FileErrorText();
  }
}

// Another tool may store values that the fields cannot hold. Reading such a
// record gives 47 with a text that names the record (its number and first
// key) and what is wrong, and leaves the buffer as it was, instead of a
// changed value that a put or an export would write back; a walk goes on
// past it.
TEST_F(KeyedOnDisk, AValueItsFieldCannotHoldIsRefusedNotChanged) {
  CreateWith({{1, 80000, 1, 1}});
  const struct {
    std::string Column, Stored, Message;
  } stored[] = {
      {"COMPANY", "5000000000",
       "record 2 (COMPANY=5000000000, DUTYDATE=80000, CARD=2, PTIME=2): column COMPANY holds "
       "5000000000, but field COMPANY holds -2147483648 to 2147483647"},
      {"DUTYDATE", "'abc'",
       "record 3 (COMPANY=1, DUTYDATE='abc', CARD=3, PTIME=3): column DUTYDATE holds 'abc', but "
       "field DUTYDATE is a number"},
      {"PTIME", "80000.5",
       "record 4 (COMPANY=1, DUTYDATE=80000, CARD=4, PTIME=80000.5): column PTIME holds 80000.5, "
       "but field PTIME holds whole numbers"},
      {"ORIGIN", "'THIRTEEN CHAR'",
       "record 5 (COMPANY=1, DUTYDATE=80000, CARD=5, PTIME=5): column ORIGIN holds a text of 13 "
       "characters ('THIRTEEN CHAR'), but field ORIGIN holds at most 12"},
      {"JOB", "'SEVENCH'",  // 7 characters in a ctext of 7 (6 and the NUL)
       "record 6 (COMPANY=1, DUTYDATE=80000, CARD=6, PTIME=6): column JOB holds a text of 7 "
       "characters ('SEVENCH'), but field JOB holds at most 6"},
      {"HOURS", "1000.5",
       "record 7 (COMPANY=1, DUTYDATE=80000, CARD=7, PTIME=7): column HOURS holds 1000.5, but "
       "field HOURS is a decimal of 5 digits with 2 places"},
      {"CODES", "x'00000000'",
       "record 8 (COMPANY=1, DUTYDATE=80000, CARD=8, PTIME=8): column CODES holds a blob of 4 "
       "bytes, but field CODES is an array of 3 bytes"},
      {"PTIME", "1e20",  // whole, only out of range
       "record 9 (COMPANY=1, DUTYDATE=80000, CARD=9, PTIME=1e+20): column PTIME holds 1e+20, but "
       "field PTIME holds -2147483648 to 2147483647"},
      // Read as '?' they would be changed in an export, and a put would write that back.
      {"ORIGIN", "'5 \u20ac'",
       "record 10 (COMPANY=1, DUTYDATE=80000, CARD=10, PTIME=10): column ORIGIN holds '5 \u20ac', "
       "but field ORIGIN holds Latin-1 characters only"},
      {"JOB", "x'ff'",
       "record 11 (COMPANY=1, DUTYDATE=80000, CARD=11, PTIME=11): column JOB holds a blob of 1 "
       "bytes, but field JOB holds Latin-1 characters only"}};
  {
    RawDb db(path_);
    for (std::size_t i = 0; i < std::size(stored); ++i) {
      std::string card = std::to_string(i + 2);
      ASSERT_EQ(db.Exec("INSERT INTO Punch SELECT COMPANY, DUTYDATE, " + card + ", " + card +
                        ", ORIGIN, HOURS, JOB, CODES FROM Punch WHERE CARD = 1; UPDATE Punch SET " +
                        stored[i].Column + " = " + stored[i].Stored + " WHERE CARD = " + card),
                SQLITE_OK);
    }
  }
  rt::FileGetByPointer(*file_, 1);
  const std::vector<std::uint8_t> first(file_->Buffer(), file_->Buffer() + file_->RecordLength());
  for (std::size_t i = 0; i < std::size(stored); ++i) {
    rt::FileGetByPointer(*file_, static_cast<std::int64_t>(i) + 2);
    EXPECT_EQ(rt::ErrorCode(), rt::kInvalidDeclaration) << stored[i].Column;
    EXPECT_EQ(rt::FileErrorText(), stored[i].Message);
    EXPECT_EQ(std::vector<std::uint8_t>(file_->Buffer(), file_->Buffer() + file_->RecordLength()),
              first)
        << stored[i].Column;
  }
  rt::FileSetProperty(*file_, rt::kPropReadAhead, "20");
  rt::FileSetKey(*file_, kKeyCardTime);
  std::string walk;
  do {
    rt::FileNext(*file_);
    walk += std::to_string(rt::ErrorCode()) + " ";
  } while (rt::ErrorCode() != rt::kRecordNotAvailable && walk.size() < 100);
  std::string expected = "0 ";
  for (std::size_t i = 0; i < std::size(stored); ++i) expected += "47 ";
  EXPECT_EQ(walk, expected + "33 ");
}

TEST_P(Keyed, SequentialReadsFollowTheKeyBothWays) {
  CreateWith({{1, 80002, 5, 1}, {1, 80001, 9, 2}, {2, 80000, 1, 3}, {1, 80001, 3, 4}});
  auto walk = [&](bool forward) {
    std::vector<std::string> seen;
    rt::FileSetKey(*file_, kKeyDateCard);
    for (;;) {
      forward ? rt::FileNext(*file_) : rt::FilePrevious(*file_);
      if (rt::ErrorCode() != 0) break;
      seen.push_back(KeyText(*file_));
    }
    EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
    return seen;
  };
  std::vector<std::string> ascending = {"1/80001/3/4", "1/80001/9/2", "1/80002/5/1", "2/80000/1/3"};
  EXPECT_EQ(walk(true), ascending);
  EXPECT_EQ(walk(false), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
  // From a key value: the first record at or after it, the last at or before it.
  SetPunch(*file_, {1, 80001, 5, 0});
  rt::FileSetKeyValue(*file_, kKeyDateCard);
  rt::FileNext(*file_);
  EXPECT_EQ(KeyText(*file_), "1/80001/9/2");
  SetPunch(*file_, {1, 80001, 5, 0});
  rt::FileSetKeyValue(*file_, kKeyDateCard);
  rt::FilePrevious(*file_);
  EXPECT_EQ(KeyText(*file_), "1/80001/3/4");
}

TEST_P(Keyed, CaseInsensitiveKeyFindsAnyCase) {
  CreateWith({{1, 80000, 1, 1, "Terminal"}, {1, 80000, 2, 2, "clock"}});
  rt::FileClear(*file_);
  file_->Field(kOrigin).SetString("TERMINAL");
  rt::FileGetByKey(*file_, kKeyOrigin);
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(file_->Field(kCard).GetInt(), 1);
  rt::FileSetKey(*file_, kKeyOrigin);
  rt::FileNext(*file_);
  EXPECT_EQ(file_->Field(kOrigin).ToText(), "clock");
}

TEST_P(Keyed, PutRewritesAndDeleteRemovesTheCurrentRecord) {
  CreateWith({{1, 80000, 1, 1}, {1, 80000, 2, 2}});
  file_->Field(kCard).SetInt(2);
  file_->Field(kTime).SetInt(2);
  rt::FileGetByKey(*file_, kKeyCardTime);
  file_->Field(kOrigin).SetString("EDITED");
  rt::FilePut(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0);
  rt::FileGetByPointer(*file_, rt::FilePointer(*file_));
  EXPECT_EQ(file_->Field(kOrigin).ToText(), "EDITED");
  rt::FileDelete(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(rt::FileRecords(*file_), 1);
  rt::FileDelete(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
}

// --- Error codes, each provoked by real means -------------------------------

TEST_P(Keyed, MissingFileGives2) {
  rt::FileOpen(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kFileNotFound);
  EXPECT_FALSE(rt::FileExists(path_));
}

TEST_F(KeyedOnDisk, ReadOnlyFileRefusesReadWriteOpenWith5AndOpensReadOnly) {
  CreateWith({{}});
  rt::FileClose(*file_);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  rt::FileOpen(*file_, 0x42);
  EXPECT_EQ(rt::ErrorCode(), rt::kAccessDenied);
  rt::FileOpen(*file_, 0x40);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::FileNext(*file_);
  EXPECT_EQ(rt::ErrorCode(), 0);
  rt::FileDelete(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kAccessDenied);
}

TEST_P(Keyed, AnotherProcessDenyingAccessGives5) {
  CreateWith({{}});
  rt::FileClose(*file_);
  struct Case {
    int childMode, parentMode, expected;
  } cases[] = {
      {0x12, 0x42, rt::kAccessDenied},  // child denies all
      // The child denies writing: a SQLite file then refuses every other
      // process (one flock per file), the server only writers (the classic rule).
      {0x22, 0x40, OnServer() ? rt::kNoError : rt::kAccessDenied},
      {0x22, 0x42, rt::kAccessDenied},
      {0x42, 0x42, rt::kNoError},       // both share
      {0x42, 0x12, rt::kAccessDenied},  // we would deny what the child holds
  };
  for (const auto& c : cases) {
    Signal opened, done;
    pid_t child = Child([&] {
      rt::File file(*decl_);
      rt::FileOpen(file, c.childMode);
      if (rt::ErrorCode() != 0) ::_exit(2);
      opened.Send();
      done.Wait();
    });
    ASSERT_TRUE(opened.Wait());
    rt::FileOpen(*file_, c.parentMode);
    EXPECT_EQ(rt::ErrorCode(), c.expected) << std::hex << c.childMode << " then " << c.parentMode;
    rt::FileClose(*file_);
    done.Send();
    EXPECT_EQ(WaitExit(child), 0);
  }
  // With the holder gone the file opens again (a server lets a session's
  // locks go a moment after its client ends: Recover= waits for that).
  rt::FileSend(*file_, "Recover=5");
  rt::FileOpen(*file_, 0x12);
  EXPECT_EQ(rt::ErrorCode(), 0);
}

TEST_P(Keyed, SharingRulesHoldBetweenHandlesOfOneProcess) {
  CreateWith({});
  rt::FileOpen(*aliasFile_, 0x12);
  EXPECT_EQ(rt::ErrorCode(), rt::kAccessDenied);
  rt::FileOpen(*aliasFile_, 0x42);
  EXPECT_EQ(rt::ErrorCode(), 0);
}

TEST_P(Keyed, NoRecordAndEndOfFileGive33) {
  CreateWith({{1, 80000, 1, 1}});
  SetPunch(*file_, {1, 80000, 99, 99});
  rt::FileGetByKey(*file_, kKeyCardTime);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  rt::FileSetKey(*file_, kKeyCardTime);
  rt::FileNext(*file_);
  EXPECT_EQ(rt::ErrorCode(), 0);
  rt::FileNext(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  rt::FileGetByPointer(*file_, 0);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  rt::FilePut(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
}

TEST_P(Keyed, DuplicateUniqueKeyGives40AndLeavesTheFileAlone) {
  CreateWith({{1, 80000, 5, 5, "FIRST"}});
  SetPunch(*file_, {2, 80001, 5, 5, "SECOND"});
  // The record just added is current, and a record never duplicates itself.
  EXPECT_FALSE(rt::FileDuplicate(*file_, kKeyCardTime));
  rt::FileGetByPointer(*file_, 0);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  EXPECT_TRUE(rt::FileDuplicate(*file_, kKeyCardTime));
  EXPECT_FALSE(rt::FileDuplicate(*file_, kKeyDateCard));  // allows duplicates
  rt::FileAdd(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kDuplicateKey);
  EXPECT_EQ(rt::FileRecords(*file_), 1);
  SetPunch(*file_, {2, 80001, 5, 6});
  EXPECT_FALSE(rt::FileDuplicate(*file_, kKeyCardTime));
}

TEST_F(KeyedOnDisk, LockHeldByAnotherProcessGives43AfterRecover) {
  CreateWith({{1, 80000, 1, 1}});
  rt::FileClose(*file_);
  Signal locked, done;
  pid_t child = Child([&] {
    RawDb db(path_);
    if (db.Exec("BEGIN IMMEDIATE; UPDATE Punch SET ORIGIN='CHILD'") != SQLITE_OK) ::_exit(2);
    locked.Send();
    done.Wait();
  });
  ASSERT_TRUE(locked.Wait());
  rt::FileOpen(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  rt::FileSend(*file_, "Recover=1");
  ASSERT_EQ(rt::ErrorCode(), 0);
  SetPunch(*file_, {1, 80000, 2, 2});
  auto start = std::chrono::steady_clock::now();
  rt::FileAdd(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordHeld);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  done.Send();
  EXPECT_EQ(WaitExit(child), 0);
  rt::FileAdd(*file_);
  EXPECT_EQ(rt::ErrorCode(), 0);
}

TEST_F(KeyedOnDisk, MissingOrWrongIndexGives46UntilKeysAreRebuilt) {
  for (std::string damage :
       {"DROP INDEX BYCARDTIME",
        "DROP INDEX KEYDATECARD; CREATE INDEX KEYDATECARD ON Punch(COMPANY)",
        "DROP INDEX BYCARDTIME; CREATE INDEX BYCARDTIME ON Punch(CARD, PTIME)",
        // A partial index would make a fetch by key miss the records it leaves out.
        "DROP INDEX BYCARDTIME; CREATE UNIQUE INDEX BYCARDTIME ON Punch(CARD, PTIME) "
        "WHERE CARD > 1",
        // A walk in key order cannot use these: every batch would sort the table.
        "DROP INDEX KEYDATECARD; CREATE INDEX KEYDATECARD ON Punch(COMPANY, DUTYDATE DESC, CARD, "
        "PTIME)",
        "DROP INDEX BYCARDTIME; CREATE UNIQUE INDEX BYCARDTIME ON Punch(CARD COLLATE NOCASE, "
        "PTIME)"}) {
    SCOPED_TRACE(damage);
    std::filesystem::remove(path_);
    CreateWith({{1, 80000, 1, 1}, {1, 80000, 2, 2}});
    rt::FileClose(*file_);
    ASSERT_EQ(RawDb(path_).Exec(damage), SQLITE_OK);
    rt::FileOpen(*file_);
    EXPECT_EQ(rt::ErrorCode(), rt::kKeysMustBeRebuilt);
    EXPECT_NE(rt::FileErrorText().find("index "), std::string::npos) << rt::FileErrorText();
    rt::FileBuildKeys(*file_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileOpen(*file_);
    ASSERT_EQ(rt::ErrorCode(), 0);
    EXPECT_EQ(rt::FileRecords(*file_), 2);
    rt::FileClose(*file_);
  }
}

TEST_F(KeyedOnDisk, RebuildingAUniqueKeyOverDuplicatesGives40) {
  CreateWith({});
  rt::FileClose(*file_);
  RawDb db(path_);
  ASSERT_EQ(db.Exec("DROP INDEX BYCARDTIME; INSERT INTO Punch VALUES (1,1,5,5,'',0,'',x''),"
                    "(1,1,5,5,'',0,'',x'')"),
            SQLITE_OK);
  rt::FileBuildKeys(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kDuplicateKey);
  EXPECT_EQ(db.One("SELECT count(*) FROM Punch"), "2");
}

TEST_F(KeyedOnDisk, FilesThatAreNotThisDeclarationGive47) {
  CreateWith({{1, 80000, 1, 1}});
  rt::FileClose(*file_);
  Fill(5000);
  std::string good = dir_ + "/good.DAT";
  std::filesystem::copy_file(path_, good);
  // The table made again with `card` for its CARD column and `tail` closing
  // it, its records and indexes as they were.
  auto remake = [&](const std::string& card, const std::string& tail) {
    RawDb db(path_);
    ASSERT_EQ(db.Exec("ALTER TABLE Punch RENAME TO Old; DROP INDEX KEYDATECARD;"
                      "DROP INDEX BYCARDTIME; DROP INDEX BYORIGIN;"
                      "CREATE TABLE Punch (COMPANY INTEGER NOT NULL, DUTYDATE INTEGER NOT NULL, " +
                      card +
                      ", PTIME INTEGER NOT NULL, ORIGIN TEXT NOT NULL, HOURS REAL NOT NULL,"
                      " JOB TEXT NOT NULL, CODES BLOB NOT NULL" +
                      (tail.empty() ? ")" : tail) +
                      "; INSERT INTO Punch SELECT * FROM Old; DROP TABLE Old;"
                      "CREATE INDEX KEYDATECARD ON Punch(COMPANY, DUTYDATE, CARD, PTIME);"
                      "CREATE UNIQUE INDEX BYCARDTIME ON Punch(CARD, PTIME);"
                      "CREATE INDEX BYORIGIN ON Punch(UPPER(ORIGIN))"),
              SQLITE_OK);
  };
  struct Case {
    std::string name;
    std::function<void()> damage;
    std::string names = {};  // what the error text must name
  } cases[] = {
      {"random bytes",
       [&] {
         std::mt19937 random(7);
         std::ofstream out(path_, std::ios::binary | std::ios::trunc);
         for (int i = 0; i < 8192; ++i) out.put(static_cast<char>(random()));
       }},
      {"truncated copy",
       [&] { std::filesystem::resize_file(path_, std::filesystem::file_size(path_) / 2); }},
      {"wrong column", [&] { RawDb(path_).Exec("ALTER TABLE Punch RENAME COLUMN JOB TO JOBNO"); }},
      {"wrong type",
       [&] {
         RawDb db(path_);
         db.Exec(
             "CREATE TABLE t2 AS SELECT * FROM Punch; DROP TABLE Punch;"
             "CREATE TABLE Punch (COMPANY INTEGER NOT NULL, DUTYDATE INTEGER NOT NULL,"
             " CARD INTEGER NOT NULL, PTIME TEXT NOT NULL, ORIGIN TEXT NOT NULL,"
             " HOURS REAL NOT NULL, JOB TEXT NOT NULL, CODES BLOB NOT NULL)");
       },
       "PTIME"},
      {"extra column", [&] { RawDb(path_).Exec("ALTER TABLE Punch ADD COLUMN EXTRA INTEGER"); },
       "EXTRA"},
      // A key walk would skip the records whose key columns hold NULL.
      {"nullable column", [&] { remake("CARD INTEGER", ""); }, "CARD"},
      // Its indexes would take the collation again however often they were rebuilt.
      {"column collation", [&] { remake("CARD INTEGER NOT NULL COLLATE NOCASE", ""); }, "CARD"},
      {"without rowid",
       [&] { remake("CARD INTEGER NOT NULL", ", PRIMARY KEY (CARD, PTIME)) WITHOUT ROWID"); },
       "WITHOUT ROWID"},
      {"no table", [&] { RawDb(path_).Exec("DROP TABLE Punch"); }},
      {"empty file", [&] { std::ofstream out(path_, std::ios::trunc); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::copy_file(good, path_, std::filesystem::copy_options::overwrite_existing);
    c.damage();
    rt::FileOpen(*file_);
    EXPECT_EQ(rt::ErrorCode(), rt::kInvalidDeclaration) << rt::FileErrorText();
    EXPECT_FALSE(rt::FileErrorText().empty());
    EXPECT_NE(rt::FileErrorText().find(c.names), std::string::npos) << rt::FileErrorText();
    rt::FileClose(*file_);
  }
}

TEST_F(KeyedOnDisk, ColumnsInAnotherOrderOpenAndReadNormally) {
  RawDb(path_).Exec(
      "CREATE TABLE Punch (CODES BLOB NOT NULL, JOB TEXT NOT NULL, HOURS REAL NOT NULL,"
      " ORIGIN TEXT NOT NULL, PTIME INTEGER NOT NULL, CARD INTEGER NOT NULL,"
      " DUTYDATE INTEGER NOT NULL, COMPANY INTEGER NOT NULL);"
      "CREATE INDEX KEYDATECARD ON Punch(COMPANY, DUTYDATE, CARD, PTIME);"
      "CREATE UNIQUE INDEX BYCARDTIME ON Punch(CARD, PTIME);"
      "CREATE INDEX BYORIGIN ON Punch(UPPER(ORIGIN));"
      "INSERT INTO Punch VALUES (x'010203', 'J5', 7.5, 'EDIT', 40, 30, 80020, 2)");
  rt::FileOpen(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  SetPunch(*file_, {3, 80030, 31, 41, "CLOCK", "1.25", "J6"});
  rt::FileAdd(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::FileNext(*file_);
  EXPECT_EQ(KeyText(*file_) + " " + file_->Field(kOrigin).ToText() + " " +
                file_->Field(kHours).ToText() + " " + file_->Field(kJob).ToText() + " " +
                std::to_string(file_->Field(kCodes, 2).GetInt()),
            "2/80020/30/40 EDIT 7.50 J5 3");
  rt::FileNext(*file_);
  EXPECT_EQ(KeyText(*file_), "3/80030/31/41");
}

TEST_P(Keyed, AliasMustMatchTheColumnsToo) {
  CreateWith({});
  auto other = PunchDeclaration(path_, "OTH");
  // Same disk file, one field fewer.
  std::vector<rt::FieldDeclaration> fields;
  for (int f = 1; f < other->FieldCount(); ++f) fields.push_back(other->Field(f));
  rt::FileDeclaration shorter("KEYED", "Shorter", "OTH", path_, fields, {}, 0);
  rt::File shortFile(shorter);
  rt::FileOpen(shortFile);
  EXPECT_EQ(rt::ErrorCode(), rt::kInvalidDeclaration);
  rt::FileOpen(*aliasFile_);
  EXPECT_EQ(rt::ErrorCode(), 0);
}

TEST_P(Keyed, OpeningAnOpenFileGives52AndKeepsItOpen) {
  CreateWith({{}});
  rt::FileOpen(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kFileAlreadyOpen);
  EXPECT_EQ(rt::FileRecords(*file_), 1);
}

TEST_P(Keyed, PutAfterWatchGives89WhenAnotherHandleChangedTheRecord) {
  CreateWith({{1, 80000, 1, 1, "ORIGINAL"}});
  rt::FileOpen(*aliasFile_);
  for (rt::File* file : {file_.get(), aliasFile_.get()}) {
    file->Field(kCard).SetInt(1);
    file->Field(kTime).SetInt(1);
  }
  rt::FileWatch(*file_);
  rt::FileGetByKey(*file_, kKeyCardTime);
  rt::FileGetByKey(*aliasFile_, kKeyCardTime);
  aliasFile_->Field(kOrigin).SetString("ALIAS");
  rt::FilePut(*aliasFile_);
  ASSERT_EQ(rt::ErrorCode(), 0);
  file_->Field(kOrigin).SetString("MINE");
  rt::FilePut(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordChanged);
  // Read again under watch: now the put goes through.
  rt::FileWatch(*file_);
  rt::FileGetByKey(*file_, kKeyCardTime);
  EXPECT_EQ(file_->Field(kOrigin).ToText(), "ALIAS");
  file_->Field(kOrigin).SetString("MINE");
  rt::FilePut(*file_);
  EXPECT_EQ(rt::ErrorCode(), 0);
  // Without a watch a put simply writes.
  rt::FileGetByKey(*aliasFile_, kKeyCardTime);
  aliasFile_->Field(kOrigin).SetString("LAST");
  rt::FilePut(*aliasFile_);
  EXPECT_EQ(rt::ErrorCode(), 0);
}

TEST_P(Keyed, PutAfterWatchGives89WhenAnotherProcessChangedTheRecord) {
  CreateWith({{1, 80000, 1, 1, "ORIGINAL"}});
  file_->Field(kCard).SetInt(1);
  file_->Field(kTime).SetInt(1);
  rt::FileWatch(*file_);
  rt::FileGetByKey(*file_, kKeyCardTime);
  pid_t child = Child([&] {
    if (!RawExec("UPDATE \"Punch\" SET \"HOURS\" = 9.5").empty()) ::_exit(2);
  });
  ASSERT_EQ(WaitExit(child), 0);
  rt::FilePut(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordChanged);
}

// SQLite numbers a new record one past the highest, so deleting the last
// record frees its number for the next add: a handle still holding that
// number must neither write nor re-get the unrelated record that took it.
TEST_F(KeyedOnDisk, AStaleRecordNumberNeverReachesTheRecordThatTookItOver) {
  for (bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction);
    rt::FileClose(*file_);
    rt::FileClose(*aliasFile_);
    std::filesystem::remove(path_);
    CreateWith({{1, 80000, 1, 1, "FIRST"}, {1, 80000, 2, 2, "LAST"}});
    rt::FileOpen(*aliasFile_);
    if (inTransaction) rt::TxBegin(2, *file_);
    SetPunch(*file_, {1, 80000, 2, 2});
    rt::FileGetByKey(*file_, kKeyCardTime);
    std::string position = rt::FilePositionByRecord(*file_);
    SetPunch(*aliasFile_, {1, 80000, 2, 2});
    rt::FileGetByKey(*aliasFile_, kKeyCardTime);
    rt::FileDelete(*aliasFile_);
    SetPunch(*aliasFile_, {7, 80001, 9, 9, "NEW"});
    rt::FileAdd(*aliasFile_);
    ASSERT_EQ(rt::FilePointer(*aliasFile_), rt::FilePointer(*file_));  // the number came back
    file_->Field(kOrigin).SetString("STALE");
    rt::FilePut(*file_);
    EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
    rt::FileRegetByRecord(*file_, position);
    EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
    EXPECT_EQ(file_->Field(kOrigin).ToText(), "STALE");  // the buffer is left alone
    rt::FileDelete(*file_);
    EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
    rt::TxCommit();
  }
  // A key that another tool stored with trailing blanks is still the same record.
  ASSERT_EQ(RawDb(path_).Exec("UPDATE Punch SET ORIGIN = 'FIRST  ' WHERE CARD = 1"), SQLITE_OK);
  SetPunch(*file_, {1, 80000, 1, 1});
  rt::FileGetByKey(*file_, kKeyCardTime);
  file_->Field(kCard).SetInt(3);  // a put may change the keys of the record it read
  rt::FilePut(*file_);
  EXPECT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(RawDb(path_).Column("SELECT CARD || ' ' || ORIGIN FROM Punch ORDER BY CARD"),
            (std::vector<std::string>{"3 FIRST", "9 NEW"}));
}

TEST_P(Keyed, DriverOptionsAreChecked) {
  CreateWith({});
  for (const char* good :
       {"Recover=10", "recover = 0", "QUICKSCAN=on", "QuickScan=OFF", "CACHE=4096"}) {
    rt::FileSend(*file_, good);
    EXPECT_EQ(rt::ErrorCode(), 0) << good;
  }
  for (const char* bad : {"Recover=", "Recover=ten", "QUICKSCAN=maybe", "CACHE=-1", "Colour=red"}) {
    rt::FileSend(*file_, bad);
    EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest) << bad;
  }
  rt::FileSend(*file_, "QUICKSCAN=on");
  EXPECT_EQ(rt::FileGetProperty(*file_, rt::kPropReadAhead), "64");
}

// --- Positions, states, nulls, properties -----------------------------------

TEST_P(Keyed, PositionsFindTheRecordAgainAndResetBeforeIt) {
  CreateWith({{1, 80000, 1, 1}, {1, 80000, 2, 2}, {1, 80000, 3, 3}});
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::FileNext(*file_);
  rt::FileNext(*file_);
  std::string byKey = rt::FilePositionByKey(*file_, kKeyDateCard);
  std::string byRecord = rt::FilePositionByRecord(*file_);
  ASSERT_LE(byKey.size(), 1024u);
  rt::FileNext(*file_);
  rt::FileRegetByKey(*file_, kKeyDateCard, byKey);
  EXPECT_EQ(KeyText(*file_), "1/80000/2/2");
  rt::FileNext(*file_);
  rt::FileRegetByRecord(*file_, byRecord);
  EXPECT_EQ(KeyText(*file_), "1/80000/2/2");
  rt::FileResetByKey(*file_, kKeyDateCard, byKey);
  rt::FileNext(*file_);
  EXPECT_EQ(KeyText(*file_), "1/80000/2/2");
  // Once the record is gone a reset continues after where it stood.
  rt::FileDelete(*file_);
  rt::FileResetByKey(*file_, kKeyDateCard, byKey);
  rt::FileNext(*file_);
  EXPECT_EQ(KeyText(*file_), "1/80000/3/3");
  rt::FileRegetByRecord(*file_, byRecord);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  rt::FileRegetByRecord(*file_, "garbage");
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
}

TEST_P(Keyed, SavedStateRestoresBufferAndSequence) {
  CreateWith({{1, 80000, 1, 1}, {1, 80000, 2, 2}, {1, 80000, 3, 3}});
  rt::FileSetKey(*file_, kKeyCardTime);
  rt::FileNext(*file_);
  int state = rt::FileGetState(*file_);
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::FilePrevious(*file_);
  EXPECT_EQ(KeyText(*file_), "1/80000/3/3");
  rt::FileRestoreState(*file_, state);
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(KeyText(*file_), "1/80000/1/1");
  rt::FileNext(*file_);
  EXPECT_EQ(KeyText(*file_), "1/80000/2/2");
  rt::FileFreeState(*file_, state);
  rt::FileRestoreState(*file_, state);
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
}

TEST_P(Keyed, NullFlagsAreAllClearAndSettingOneClearsTheField) {
  CreateWith({});
  SetPunch(*file_, {4, 80000, 1, 1, "X"});
  EXPECT_EQ(rt::FileGetNulls(*file_), "00000000");
  rt::FileSetNulls(*file_, "1000");
  EXPECT_EQ(file_->Field(kCompany).GetInt(), 0);
  EXPECT_EQ(file_->Field(kOrigin).ToText(), "X");
  rt::FileSetNulls(*file_, "10x");
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
}

TEST_P(Keyed, PropertiesDescribeFileAndKeys) {
  CreateWith({{}});
  EXPECT_EQ(rt::FileGetProperty(*file_, rt::kPropFieldCount), "8");
  EXPECT_EQ(rt::FileGetProperty(*file_, rt::kPropName), path_);
  EXPECT_EQ(rt::FileGetProperty(*file_, rt::kPropFieldLabel, 2), "PUN:DUTYDATE");
  EXPECT_EQ(rt::FileGetProperty(*file_, rt::kPropBlobCount), "0");
  EXPECT_EQ(rt::KeyGetProperty(*file_, kKeyCardTime, rt::kPropName), "PUN:BYCARDTIME");
  EXPECT_EQ(rt::KeyGetProperty(*file_, kKeyDateCard, rt::kPropComponents), "4");
  EXPECT_EQ(rt::KeyGetProperty(*file_, kKeyDateCard, rt::kPropDuplicates), "1");
  EXPECT_EQ(rt::KeyGetProperty(*file_, kKeyOrigin, rt::kPropNoCase), "1");
  EXPECT_EQ(rt::KeyGetProperty(*file_, kKeyCardTime, rt::kPropPrimary), "1");
  EXPECT_EQ(rt::KeyGetProperty(*file_, kKeyDateCard, rt::kPropPrimary), "0");
  EXPECT_EQ(rt::KeyGetProperty(*file_, kKeyDateCard, rt::kPropComponentField, 3), "3");
  EXPECT_EQ(rt::KeyGetProperty(*file_, kKeyDateCard, rt::kPropComponentAscend, 1), "1");
  rt::FileSetProperty(*file_, rt::kPropReadAhead, "20");
  EXPECT_EQ(rt::FileGetProperty(*file_, rt::kPropReadAhead), "20");
  rt::KeyGetProperty(*file_, 9, rt::kPropName);
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
  EXPECT_GT(rt::FileBytes(*file_), 0);
}

// Records the operation codes a file's receivers are told.
class Recorder : public rt::FileCallbackReceiver {
 public:
  void BeforeFileOperation(int op, const rt::FileOperationParams&) override { seen.push_back(op); }
  void AfterFileOperation(int op, const rt::FileOperationParams& p) override {
    seen.push_back(-op);
    codes.push_back(p.ErrorCode);
  }
  std::vector<int> seen, codes;
};

TEST_P(Keyed, ReceiversAreToldAroundEveryOperation) {
  CreateWith({{}});
  Recorder recorder;
  rt::FileCallback(*file_, &recorder, 0);
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::FileNext(*file_);
  rt::FileNext(*file_);
  rt::FileGetByPointer(*file_, 0);
  rt::FileCallback(*file_, &recorder, 1);
  rt::FileAdd(*file_);
  EXPECT_EQ(recorder.seen,
            (std::vector<int>{rt::kOpSetKey, -rt::kOpSetKey, rt::kOpNext, -rt::kOpNext, rt::kOpNext,
                              -rt::kOpNext, rt::kOpGetByPointer, -rt::kOpGetByPointer}));
  EXPECT_EQ(recorder.codes,
            (std::vector<int>{0, 0, rt::kRecordNotAvailable, rt::kRecordNotAvailable}));
}

TEST_P(Keyed, OperationsOnAClosedFileFailCleanly) {
  rt::FileNext(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
  rt::FileClose(*file_);
  EXPECT_EQ(rt::ErrorCode(), 0);
  rt::FileDeclaration unknown("NOSUCH", "X", "X", dir_ + "/x", {}, {}, 0);
  rt::File file(unknown);
  rt::FileOpen(file);
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
}

}  // namespace
}  // namespace keyed_test
