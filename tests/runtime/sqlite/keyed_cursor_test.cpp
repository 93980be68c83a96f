// The cursor rule and views: a walk through one handle (or a view) never
// skips or repeats a record whatever another handle on the same disk file
// deletes, adds or rewrites; views order, filter and refuse bad filters.
#include <map>
#include <set>

#include "runtime/files/view.h"
#include "runtime/sqlite/sqlite_connection.h"
#include "tests/runtime/sqlite/keyed_fixture.h"

namespace keyed_test {
namespace {

class CursorsOnDisk : public KeyedFixture {
 protected:
  CursorsOnDisk() { uniqueCardTime_ = false; }
};
// On both stores (.../Sqlite, .../Postgres). A page read ahead from the
// server is served as read; only SQLite checks it against other connections'
// commits first (CursorsOnDisk).
class Cursors : public OnEachStore<CursorsOnDisk> {};
KEYED_ON_EACH_STORE(Cursors);

// Punches with many duplicate keys: card and time repeat.
std::vector<Punch> PunchesWithDuplicates(int count) {
  std::vector<Punch> punches;
  for (int i = 0; i < count; ++i)
    punches.push_back({1 + i % 2, 80000 + i % 5, i % 7, 100 * (i % 3), "CLOCK", "1.00", "J"});
  return punches;
}

// The alias rule: walk in key order, delete every other record through the
// alias fetched by the same key. `readAhead` 0 reads one record at a time.
void WalkDeletingEveryOther(rt::File& walker, rt::File& alias, int readAhead,
                            std::set<std::int64_t>& seen, int& deleted) {
  rt::FileSetProperty(walker, rt::kPropReadAhead, std::to_string(readAhead));
  rt::FileSetKey(walker, kKeyDateCard);
  int n = 0;
  for (rt::FileNext(walker); rt::ErrorCode() == 0; rt::FileNext(walker)) {
    EXPECT_TRUE(seen.insert(rt::FilePointer(walker)).second) << "seen twice: " << KeyText(walker);
    if (n++ % 2 == 0) continue;
    std::copy(walker.Buffer(), walker.Buffer() + walker.RecordLength(), alias.Buffer());
    rt::FileGetByKey(alias, kKeyDateCard);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileDelete(alias);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    ++deleted;
  }
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
}

TEST_P(Cursors, DeletingThroughTheAliasNeverSkipsOrRepeats) {
  for (int readAhead : {0, 1, 3, 20, 1000}) {
    SCOPED_TRACE(readAhead);
    rt::FileClose(*file_);
    rt::FileClose(*aliasFile_);
    Discard();
    CreateWith(PunchesWithDuplicates(200));
    rt::FileOpen(*aliasFile_);
    std::set<std::int64_t> seen;
    int deleted = 0;
    // One walk commits each delete on its own, the others in one transaction.
    if (readAhead != 3) rt::TxBegin(2, *aliasFile_);
    WalkDeletingEveryOther(*file_, *aliasFile_, readAhead, seen, deleted);
    rt::TxCommit();
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_EQ(deleted, 100);
    EXPECT_EQ(rt::FileRecords(*file_), 100);
  }
}

TEST_P(Cursors, AddsAndPutsThroughTheAliasNeverSkipOrRepeat) {
  CreateWith(PunchesWithDuplicates(60));
  rt::FileOpen(*aliasFile_);
  rt::FileSetProperty(*file_, rt::kPropReadAhead, "10");
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::TxBegin(2, *file_);
  std::multiset<std::string> seen;
  std::set<std::int64_t> pointers;
  int n = 0;
  for (rt::FileNext(*file_); rt::ErrorCode() == 0; rt::FileNext(*file_)) {
    ASSERT_TRUE(pointers.insert(rt::FilePointer(*file_)).second);
    seen.insert(KeyText(*file_));
    if (++n % 10 == 0) {
      // A new punch behind the walk, one ahead of it, and a rewrite of the record just read.
      SetPunch(*aliasFile_, {0, 1, 1, 1});
      rt::FileAdd(*aliasFile_);
      SetPunch(*aliasFile_, {9, 90000, n, 1});
      rt::FileAdd(*aliasFile_);
      ASSERT_EQ(rt::ErrorCode(), 0);
      rt::FileGetByPointer(*aliasFile_, rt::FilePointer(*file_));
      aliasFile_->Field(kOrigin).SetString("REWRITTEN");
      rt::FilePut(*aliasFile_);
      ASSERT_EQ(rt::ErrorCode(), 0);
    }
  }
  rt::TxCommit();
  // Every original punch once, plus each punch added ahead of the walk.
  EXPECT_EQ(pointers.size(), 60u + 6u);
  EXPECT_EQ(seen.count("0/1/1/1"), 0u);
}

TEST_P(Cursors, DeletingTheRecordReadAheadIsNeverReturned) {
  CreateWith({{1, 80000, 1, 1}, {1, 80000, 2, 2}, {1, 80000, 3, 3}, {1, 80000, 4, 4}});
  rt::FileOpen(*aliasFile_);
  rt::FileSetProperty(*file_, rt::kPropReadAhead, "10");
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::FileNext(*file_);  // reads all four ahead
  for (int card : {2, 3}) {
    SetPunch(*aliasFile_, {1, 80000, card, card});
    rt::FileGetByKey(*aliasFile_, kKeyCardTime);
    rt::FileDelete(*aliasFile_);
  }
  rt::FileNext(*file_);
  EXPECT_EQ(KeyText(*file_), "1/80000/4/4");
}

// A fetch by key through the alias may be answered from the walk's read-ahead
// (the purge fetches every punch its walk reads): it must find what the file
// would, the first record with the key by record number that is still there,
// also when the walk skipped earlier duplicates and while deletes are pending.
// A walk reading one record at a time answers every fetch from the file.
TEST_F(CursorsOnDisk, AFetchByKeyFindsWhatTheFileWouldWhateverTheWalkReadAhead) {
  std::map<int, std::vector<std::int64_t>> fetched;  // by read-ahead
  for (int readAhead : {0, 20}) {
    SCOPED_TRACE(readAhead);
    rt::FileClose(*file_);
    rt::FileClose(*aliasFile_);
    Discard();
    std::vector<Punch> punches;  // 24 keys, 5 punches each
    for (int i = 0; i < 120; ++i) punches.push_back({1 + i % 2, 80000 + i % 3, i % 4, 0});
    CreateWith(punches);
    rt::FileOpen(*aliasFile_);
    rt::FileSetProperty(*file_, rt::kPropReadAhead, std::to_string(readAhead));
    rt::FileSetKey(*file_, kKeyDateCard);
    rt::TxBegin(2, *aliasFile_);
    int n = 0;
    for (rt::FileNext(*file_); rt::ErrorCode() == 0; rt::FileNext(*file_)) {
      if (n++ % 3 == 0) continue;
      std::copy(file_->Buffer(), file_->Buffer() + file_->RecordLength(), aliasFile_->Buffer());
      rt::FileGetByKey(*aliasFile_, kKeyDateCard);
      ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
      fetched[readAhead].push_back(rt::FilePointer(*aliasFile_));
      rt::FileDelete(*aliasFile_);
      ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    }
    rt::TxCommit();
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  }
  EXPECT_EQ(fetched[20], fetched[0]);
}

// The read-ahead answers a fetch only while nobody else has committed to the
// file since it was read.
TEST_F(CursorsOnDisk, AFetchByKeyFromReadAheadSeesAnotherConnectionsDelete) {
  CreateWith({{1, 80000, 5, 1}, {1, 80000, 10, 1}, {1, 80000, 10, 1}, {1, 80000, 20, 1}});
  rt::FileOpen(*aliasFile_);
  rt::FileSetProperty(*file_, rt::kPropReadAhead, "10");
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::FileNext(*file_);  // card 5, the other three read ahead
  rt::FileNext(*file_);  // the first card 10, record 2
  ASSERT_EQ(rt::FilePointer(*file_), 2);
  ASSERT_EQ(RawDb(path_).Exec("DELETE FROM Punch WHERE rowid = 2"), SQLITE_OK);
  SetPunch(*aliasFile_, {1, 80000, 10, 1});
  rt::FileGetByKey(*aliasFile_, kKeyDateCard);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(rt::FilePointer(*aliasFile_), 3);
  rt::FileNext(*file_);
  EXPECT_EQ(KeyText(*file_), "1/80000/10/1");
  EXPECT_EQ(rt::FilePointer(*file_), 3);
}

// Another connection (another thread or process) announces nothing: the
// walk notices its commit and reads on from the last record it returned,
// also when its own transaction has taken the file's lock since.
TEST_F(CursorsOnDisk, ReadAheadSeesWhatAnotherConnectionCommitted) {
  for (bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction);
    rt::FileClose(*file_);
    rt::FileClose(*aliasFile_);
    std::filesystem::remove(path_);
    CreateWith({{1, 80000, 10, 1}, {1, 80000, 20, 1}, {1, 80000, 30, 1}, {1, 80000, 40, 1}});
    rt::FileOpen(*aliasFile_);
    rt::FileSetProperty(*file_, rt::kPropReadAhead, "10");
    rt::FileSetKey(*file_, kKeyCardTime);
    rt::FileNext(*file_);  // card 10, the other three read ahead
    ASSERT_EQ(RawDb(path_).Exec("DELETE FROM Punch WHERE CARD = 20; INSERT INTO Punch VALUES "
                                "(1, 80000, 15, 1, 'CLOCK', 8.25, 'J1', x'000000')"),
              SQLITE_OK);
    if (inTransaction) {
      rt::TxBegin(2, *aliasFile_);
      SetPunch(*aliasFile_, {1, 80000, 40, 1});
      rt::FileGetByKey(*aliasFile_, kKeyCardTime);
      ASSERT_EQ(rt::ErrorCode(), 0);
    }
    std::string cards;
    for (rt::FileNext(*file_); rt::ErrorCode() == 0; rt::FileNext(*file_))
      cards += std::to_string(file_->Field(kCard).GetInt()) + " ";
    EXPECT_EQ(cards, "15 30 40 ");
    rt::TxCommit();
  }
}

// SQLite's virtual machine steps (in thousands) that a whole walk of the
// file by kKeyDateCard, one record a read, forward then back, takes.
long WalkSteps(rt::File& file, const std::string& dir, int& records) {
  int code = 0;
  std::string error;
  auto connection = rt::sqlite::Connection::ForThread(dir, code, error);
  long steps = 0;
  sqlite3_progress_handler(
      connection->Db(), 1000, [](void* count) { return ++*static_cast<long*>(count), 0; }, &steps);
  rt::FileSetProperty(file, rt::kPropReadAhead, "0");
  records = 0;
  rt::FileSetKey(file, kKeyDateCard);
  for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file)) ++records;
  rt::FileSetKey(file, kKeyDateCard);
  for (rt::FilePrevious(file); rt::ErrorCode() == 0; rt::FilePrevious(file)) ++records;
  sqlite3_progress_handler(connection->Db(), 0, nullptr, nullptr);
  return steps;
}

// A walk must not step over the records it has already read: many records
// under one key cost what as many distinct keys cost, not their square.
TEST_F(CursorsOnDisk, AWalkThroughOneKeyCostsWhatAWalkThroughDistinctKeysCosts) {
  constexpr int kCount = 3000;
  std::vector<Punch> distinct, same;
  for (int i = 0; i < kCount; ++i) {
    distinct.push_back({1, 80000, i, i});
    same.push_back({1, 80000, 7, 5});
  }
  CreateWith(distinct);
  int records = 0;
  const long distinctSteps = WalkSteps(*file_, dir_, records);
  EXPECT_EQ(records, 2 * kCount);
  rt::FileClose(*file_);
  std::filesystem::remove(path_);
  CreateWith(same);
  const long sameSteps = WalkSteps(*file_, dir_, records);
  EXPECT_EQ(records, 2 * kCount);
  EXPECT_LT(sameSteps, 2 * distinctSteps) << "distinct keys: " << distinctSteps;
}

TEST_P(Cursors, AViewWalkSurvivesDeletesThroughTheAlias) {
  CreateWith(PunchesWithDuplicates(150));
  rt::FileOpen(*aliasFile_);
  rt::View view(*file_);
  rt::ViewSetProperty(view, rt::kPropOrder, "PUN:COMPANY,PUN:DUTYDATE,PUN:CARD,PUN:PTIME");
  rt::FileOpen(view);
  rt::FileBuffer(view, 20, 2, 0, 60);
  rt::ViewSetStart(view, 0);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  std::set<std::int64_t> seen;
  int n = 0;
  rt::TxBegin(2, *aliasFile_);
  for (rt::FileNext(view); rt::ErrorCode() == 0; rt::FileNext(view)) {
    ASSERT_TRUE(seen.insert(rt::FilePointer(*file_)).second);
    if (n++ % 2 == 0) continue;
    std::copy(file_->Buffer(), file_->Buffer() + file_->RecordLength(), aliasFile_->Buffer());
    rt::FileGetByKey(*aliasFile_, kKeyDateCard);
    rt::FileDelete(*aliasFile_);
    ASSERT_EQ(rt::ErrorCode(), 0);
  }
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  rt::TxCommit();
  EXPECT_EQ(seen.size(), 150u);
  EXPECT_EQ(rt::FileRecords(*file_), 75);
}

// --- Views -------------------------------------------------------------------

class ViewsOnDisk : public KeyedFixture {
 protected:
  void SetUp() override {
    KeyedFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    CreateWith({{1, 80000, 10, 1, "Clock"},
                {1, 80001, 11, 2, "TERMINAL"},
                {2, 80000, 12, 3, "terminal"},
                {2, 80002, 13, 4, "O'Brien"},
                {3, 80001, 14, 5, "clock"}});
    view_ = std::make_unique<rt::View>(*file_);
    rt::FileOpen(*view_);
  }
  // The cards the view returns from its start, forwards.
  std::string Cards(const std::string& order, const std::string& filter) {
    rt::ViewSetProperty(*view_, rt::kPropOrder, order);
    EXPECT_EQ(rt::ErrorCode(), 0) << rt::ErrorText();
    rt::ViewSetProperty(*view_, rt::kPropFilter, filter);
    EXPECT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::ViewSetStart(*view_, 0);
    std::string cards;
    for (rt::FileNext(*view_); rt::ErrorCode() == 0; rt::FileNext(*view_))
      cards += (cards.empty() ? "" : ",") + std::to_string(file_->Field(kCard).GetInt());
    EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
    return cards;
  }
  std::unique_ptr<rt::View> view_;
};

class Views : public OnEachStore<ViewsOnDisk> {};
KEYED_ON_EACH_STORE(Views);

TEST_P(Views, OrdersAscendingDescendingAndByUpperCase) {
  EXPECT_EQ(Cards("", ""), "10,11,12,13,14");
  EXPECT_EQ(Cards("COMPANY,-DUTYDATE", ""), "11,10,13,12,14");
  EXPECT_EQ(Cards("-PUN:COMPANY,PTIME", ""), "14,12,13,10,11");
  EXPECT_EQ(Cards("UPPER(ORIGIN),-CARD", ""), "14,10,13,12,11");
}

TEST_P(Views, FiltersWithLogicStringsAndUpper) {
  struct Case {
    const char* filter;
    const char* cards;
  } cases[] = {
      {"COMPANY = 2", "12,13"},
      {"COMPANY = 1 OR CARD >= 14", "10,11,14"},
      {"NOT (COMPANY = 1 OR COMPANY = 3)", "12,13"},
      {"(COMPANY <> 2 AND DUTYDATE <= 80000) OR PTIME > 4", "10,14"},
      {"ORIGIN = 'clock'", "14"},
      {"UPPER(ORIGIN) = 'CLOCK' AND NOT CARD < 11", "14"},
      {"upper(pun:origin) = \"TERMINAL\"", "11,12"},
      {"ORIGIN = 'O''Brien'", "13"},
      {"HOURS = 8.25 AND CARD > 12", "13,14"},
      {"ORIGIN = 'x'' OR ''1''=''1'", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Cards("CARD", c.filter), c.cards) << c.filter;
}

TEST_P(Views, TheLongestAndDeepestFiltersThatParseRead) {
  // The run of 250 comparisons was past SQLite's parser with a parenthesis per
  // OR; the others nest groups, NOT and UPPER as deep as a filter may.
  std::string run = "CARD = 12";
  for (int card = 1000; card < 1249; ++card) run += " OR CARD = " + std::to_string(card);
  std::string groups = "CARD = 13", nots = "CARD = 13", uppers = "ORIGIN";
  for (int level = 0; level < 20; ++level) {
    groups = (level % 2 ? "COMPANY = 9 OR (" : "COMPANY < 9 AND (") + groups + ")";
    nots = "NOT " + nots;
    uppers = "UPPER(" + uppers + ")";
  }
  struct Case {
    std::string filter;
    const char* cards;
  } cases[] = {{run, "12"}, {groups, "13"}, {nots, "13"}, {uppers + " = 'CLOCK'", "10,14"}};
  for (const auto& c : cases) EXPECT_EQ(Cards("CARD", c.filter), c.cards) << c.filter.substr(0, 40);
}

TEST_P(Views, FilterTextCannotReachTheDatabase) {
  EXPECT_EQ(Cards("CARD", "ORIGIN = 'a''); DROP TABLE Punch; --'"), "");
  EXPECT_EQ(Cards("CARD", ""), "10,11,12,13,14");
}

TEST_P(Views, FilterThatDoesNotParseIsRefusedAndTheOldOneStays) {
  Cards("CARD", "COMPANY = 2");
  for (const char* bad : {"COMPANY = ", "COMPANY 2", "(COMPANY = 2", "NOSUCH = 1", "ORIGIN = 'open",
                          "COMPANY = 2 AND", "COMPANY = 2 extra", "UPPER ORIGIN = 'A'"}) {
    rt::ViewSetProperty(*view_, rt::kPropFilter, bad);
    EXPECT_EQ(rt::ErrorCode(), rt::kFilterSyntax) << bad;
    EXPECT_NE(rt::FileErrorText().find("position"), std::string::npos) << rt::FileErrorText();
  }
  EXPECT_EQ(rt::ViewGetProperty(*view_, rt::kPropFilter), "COMPANY = 2");
  rt::ViewSetProperty(*view_, rt::kPropOrder, "COMPANY,,CARD");
  EXPECT_EQ(rt::ErrorCode(), rt::kFilterSyntax);
}

TEST_P(Views, StartAtTheBufferAndReadBackwards) {
  rt::ViewSetProperty(*view_, rt::kPropOrder, "COMPANY,DUTYDATE");
  SetPunch(*file_, {2, 0, 0, 0});
  rt::ViewSetStart(*view_, 1);
  rt::FileNext(*view_);
  EXPECT_EQ(file_->Field(kCard).GetInt(), 12);
  SetPunch(*file_, {2, 0, 0, 0});
  rt::ViewSetStart(*view_, 1);
  rt::FilePrevious(*view_);
  EXPECT_EQ(file_->Field(kCard).GetInt(), 13);
  rt::FilePrevious(*view_);
  EXPECT_EQ(file_->Field(kCard).GetInt(), 12);
  rt::FilePrevious(*view_);
  EXPECT_EQ(file_->Field(kCard).GetInt(), 11);
}

TEST_P(Views, DescribeTheirFilesAndDeleteWhatTheyRead) {
  EXPECT_EQ(rt::ViewGetProperty(*view_, rt::kPropViewFileCount), "1");
  EXPECT_EQ(rt::ViewGetProperty(*view_, rt::kPropViewFile, 1), "Punch");
  EXPECT_EQ(rt::ViewFile(*view_, 1), file_.get());
  EXPECT_EQ(rt::FileGetProperty(*file_, rt::kPropRecordArea),
            std::to_string(file_->RecordLength()));
  rt::FileOpen(*view_);
  EXPECT_EQ(rt::ErrorCode(), rt::kFileAlreadyOpen);
  rt::ViewSetStart(*view_, 0);
  rt::FileNext(*view_);
  rt::FileDelete(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(Cards("CARD", ""), "11,12,13,14");
}

TEST_P(Views, AViewOutlivingItsFileFailsCleanly) {
  rt::ViewSetStart(*view_, 0);
  rt::FileClose(*file_);
  rt::FileNext(*view_);
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
}

}  // namespace
}  // namespace keyed_test
