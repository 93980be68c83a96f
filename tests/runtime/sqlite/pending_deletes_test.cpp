// Deletes kept pending inside a transaction (pending_deletes.h): every
// handle, alias and other process sees exactly what it would have seen had
// each delete been applied at once; a rollback or a crash loses them.
#include <signal.h>

#include "tests/runtime/sqlite/keyed_fixture.h"

namespace keyed_test {
namespace {

class Pending : public KeyedFixture {
 protected:
  // Cards 1..6 at time = card; cards 2 and 3 share the origin "B".
  void SetUpPunches() {
    std::vector<Punch> punches;
    for (int card = 1; card <= 6; ++card)
      punches.push_back({1, 80000 + card % 2, card, card, card == 2 || card == 3 ? "B" : "A"});
    CreateWith(punches);
    rt::FileOpen(*aliasFile_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  }
  // Fetches the punch of `card` through the alias and deletes it there.
  void DeleteThroughAlias(int card) {
    SetPunch(*aliasFile_, {1, 0, card, card});
    rt::FileGetByKey(*aliasFile_, kKeyCardTime);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileDelete(*aliasFile_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  }
  // The cards a walk of `file` by `key` reads, forwards or backwards.
  std::vector<int> Walk(rt::File& file, int key, bool forward, int readAhead) {
    rt::FileSetProperty(file, rt::kPropReadAhead, std::to_string(readAhead));
    rt::FileSetKey(file, key);
    std::vector<int> cards;
    for (forward ? rt::FileNext(file) : rt::FilePrevious(file); rt::ErrorCode() == 0;
         forward ? rt::FileNext(file) : rt::FilePrevious(file))
      cards.push_back(static_cast<int>(file.Field(kCard).GetInt()));
    EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
    if (!forward) std::reverse(cards.begin(), cards.end());
    return cards;
  }
  // The number of punches another process finds in the file.
  int CountInAnotherProcess() {
    pid_t pid = Child([&] {
      std::string count = RawDb(path_).One("SELECT count(*) FROM Punch");
      ::_exit(std::stoi(count));
    });
    return WaitExit(pid);
  }
};

TEST_F(Pending, NoHandleReadsAPendingDeleteAgainAndOtherProcessesSeeOnlyTheCommit) {
  SetUpPunches();
  SetPunch(*file_, {1, 0, 2, 2});
  rt::FileGetByKey(*file_, kKeyCardTime);  // the main handle holds card 2 too
  const std::int64_t card2 = rt::FilePointer(*file_);
  rt::TxBegin(2, *file_);
  DeleteThroughAlias(5);  // the first write of a transaction goes at once
  DeleteThroughAlias(2);  // the ones after it wait
  const std::vector<int> left = {1, 3, 4, 6};
  for (int readAhead : {0, 10}) {
    SCOPED_TRACE(readAhead);
    // By the walk's key, by another key, by a key with a case rule, both ways.
    auto byDate = Walk(*file_, kKeyDateCard, true, readAhead);
    std::sort(byDate.begin(), byDate.end());
    EXPECT_EQ(byDate, left);
    EXPECT_EQ(Walk(*file_, kKeyCardTime, true, readAhead), left);
    EXPECT_EQ(Walk(*file_, kKeyCardTime, false, readAhead), left);
    EXPECT_EQ(Walk(*aliasFile_, kKeyOrigin, true, readAhead).size(), left.size());
  }
  // By key: the next record with that key, or none.
  SetPunch(*file_, {1, 0, 0, 0, "b"});
  rt::FileGetByKey(*file_, kKeyOrigin);
  EXPECT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(file_->Field(kCard).GetInt(), 3);
  SetPunch(*file_, {1, 0, 5, 5});
  rt::FileGetByKey(*file_, kKeyCardTime);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  // A handle that read the record in the transaction cannot delete it again.
  SetPunch(*file_, {1, 0, 6, 6});
  rt::FileGetByKey(*file_, kKeyCardTime);
  DeleteThroughAlias(6);
  rt::FileDelete(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  // By record number, a count, a duplicate test, a second delete.
  rt::FileGetByPointer(*file_, card2);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  EXPECT_EQ(rt::FileRecords(*file_), 3);
  SetPunch(*file_, {1, 0, 1, 1});
  rt::FileGetByKey(*file_, kKeyCardTime);
  file_->Field(kCard).SetInt(2);
  file_->Field(kTime).SetInt(2);
  EXPECT_FALSE(rt::FileDuplicate(*file_, kKeyCardTime));
  EXPECT_EQ(CountInAnotherProcess(), 6);
  // An add may reuse a pending record's unique key: the deletes go first.
  SetPunch(*file_, {1, 80000, 2, 2, "NEW"});
  rt::FileAdd(*file_);
  EXPECT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(CountInAnotherProcess(), 6);
  rt::TxCommit();
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(CountInAnotherProcess(), 4);
  EXPECT_EQ(RawDb(path_).Column("SELECT CARD || ORIGIN FROM Punch ORDER BY CARD"),
            (std::vector<std::string>{"1A", "2NEW", "3B", "4A"}));
}

// A read by key over a run of duplicates whose first records are pending
// resumes where the last read stopped; a put, a rollback or an add in between
// must still be seen.
TEST_F(Pending, AReadByKeyOverARunOfDuplicatesFindsTheFirstLeftWhateverCameBetween) {
  std::vector<Punch> punches;
  for (int card = 1; card <= 8; ++card) punches.push_back({1, 80000, card, card, card == 1 ? "A" : "d"});
  CreateWith(punches);
  rt::FileOpen(*aliasFile_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  // The card of the first punch of origin "D" the alias finds, 0 for none.
  auto firstD = [&] {
    SetPunch(*aliasFile_, {1, 0, 0, 0, "D"});
    rt::FileGetByKey(*aliasFile_, kKeyOrigin);
    return rt::ErrorCode() == 0 ? static_cast<int>(aliasFile_->Field(kCard).GetInt()) : 0;
  };
  auto deleteFirstD = [&](int card) {
    ASSERT_EQ(firstD(), card);
    rt::FileDelete(*aliasFile_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  };
  rt::TxBegin(2, *file_);
  for (int card : {2, 3, 4}) deleteFirstD(card);
  // Card 1 joins the run ahead of what is pending.
  SetPunch(*file_, {1, 0, 1, 1});
  rt::FileGetByKey(*file_, kKeyCardTime);
  file_->Field(kOrigin).SetString("d");
  rt::FilePut(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  for (int card : {1, 5, 6}) deleteFirstD(card);
  rt::TxRollback();
  EXPECT_EQ(firstD(), 2);
  rt::TxBegin(2, *file_);
  for (int card : {2, 3, 4, 5, 6, 7, 8}) deleteFirstD(card);
  EXPECT_EQ(firstD(), 0);
  // An added punch of the run is found, after all that is pending.
  SetPunch(*file_, {1, 80000, 9, 9, "D"});
  rt::FileAdd(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(firstD(), 9);
  rt::TxCommit();
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(RawDb(path_).One("SELECT group_concat(CARD || ORIGIN) FROM Punch"), "1A,9D");
}

TEST_F(Pending, APutOfARecordWhoseDeleteIsPendingFindsItGone) {
  SetUpPunches();
  rt::TxBegin(2, *file_);
  DeleteThroughAlias(1);
  SetPunch(*file_, {1, 0, 4, 4});
  rt::FileGetByKey(*file_, kKeyCardTime);
  DeleteThroughAlias(4);
  file_->Field(kOrigin).SetString("CHANGED");
  rt::FilePut(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  rt::TxCommit();
  EXPECT_EQ(RawDb(path_).One("SELECT group_concat(CARD) FROM Punch"), "2,3,5,6");
  EXPECT_EQ(RawDb(path_).One("SELECT count(*) FROM Punch WHERE ORIGIN = 'CHANGED'"), "0");
}

TEST_F(Pending, RollbackForgetsThem) {
  SetUpPunches();
  rt::FileSetProperty(*file_, rt::kPropReadAhead, "10");
  rt::FileSetKey(*file_, kKeyCardTime);
  rt::FileNext(*file_);  // a batch read ahead before the deletes
  rt::TxBegin(2, *file_);
  for (int card : {6, 2, 3}) DeleteThroughAlias(card);
  rt::FileNext(*file_);
  EXPECT_EQ(file_->Field(kCard).GetInt(), 4);
  rt::TxRollback();
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(rt::FileRecords(*file_), 6);
  EXPECT_EQ(Walk(*file_, kKeyCardTime, true, 10), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  // Deleted again in a new transaction, they stay deleted.
  rt::TxBegin(2, *file_);
  DeleteThroughAlias(3);
  rt::TxCommit();
  EXPECT_EQ(RawDb(path_).One("SELECT group_concat(CARD) FROM Punch"), "1,2,4,5,6");
}

TEST_F(Pending, AKilledRunLeavesTheFileAsOfItsLastCommit) {
  SetUpPunches();
  rt::FileClose(*file_);
  rt::FileClose(*aliasFile_);
  Signal pending;
  pid_t pid = Child([&] {
    rt::FileOpen(*file_);
    rt::FileOpen(*aliasFile_);
    rt::TxBegin(2, *file_);
    DeleteThroughAlias(1);
    rt::TxCommit();
    rt::TxBegin(2, *file_);
    for (int card : {2, 3, 4}) DeleteThroughAlias(card);
    pending.Send();
    ::pause();
  });
  ASSERT_TRUE(pending.Wait());
  ::kill(pid, SIGKILL);
  WaitExit(pid);
  EXPECT_EQ(RawDb(path_).One("SELECT group_concat(CARD) FROM Punch"), "2,3,4,5,6");
}

}  // namespace
}  // namespace keyed_test
