// Transactions on KEYED files: all-or-nothing over several files, a second
// declaration of an enlisted file, and a process killed in the middle.
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "runtime/core/halt.h"
#include "runtime/files/transaction.h"
#include "tests/runtime/sqlite/keyed_fixture.h"

namespace keyed_test {
namespace {

class TransactionsOnDisk : public KeyedFixture {
 protected:
  void SetUp() override {
    KeyedFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    otherPath_ = dir_ + "/Other.DAT";
    otherDecl_ = PunchDeclaration(otherPath_, "OTH");
    other_ = std::make_unique<rt::File>(*otherDecl_);
    CreateWith({{1, 80000, 1, 1}, {1, 80000, 2, 2}});
    rt::FileCreate(*other_);
    rt::FileOpen(*other_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  }
  void TearDown() override {
    rt::TxRollback();
    other_.reset();
    KeyedFixture::TearDown();
  }
  // Adds one punch to each file and deletes one from the first.
  void ChangeBoth() {
    SetPunch(*other_, {9, 80000, 9, 9});
    rt::FileAdd(*other_);
    ASSERT_EQ(rt::ErrorCode(), 0);
    SetPunch(*file_, {1, 80000, 3, 3});
    rt::FileAdd(*file_);
    ASSERT_EQ(rt::ErrorCode(), 0);
    file_->Field(kCard).SetInt(1);
    file_->Field(kTime).SetInt(1);
    rt::FileGetByKey(*file_, kKeyCardTime);
    rt::FileDelete(*file_);
    ASSERT_EQ(rt::ErrorCode(), 0);
  }
  // The cards of a file, in order: "1,2".
  std::string Cards(const std::string& path) {
    std::string cards;
    for (const auto& card :
         RawColumn("SELECT \"CARD\" FROM " + std::string(path == path_ ? "\"Punch\"" : "\"Other\"") +
                       " ORDER BY \"CARD\"",
                   path))
      cards += (cards.empty() ? "" : ",") + card;
    return cards;
  }

  std::string otherPath_;
  std::unique_ptr<rt::FileDeclaration> otherDecl_;
  std::unique_ptr<rt::File> other_;
};

// On both stores (.../Sqlite, .../Postgres); TransactionsOnDisk holds what
// only SQLite files have (their scratch files, a kill in the middle of a commit).
class Transactions : public OnEachStore<TransactionsOnDisk> {};
KEYED_ON_EACH_STORE(Transactions);

TEST_P(Transactions, RollbackLeavesBothFilesUnchanged) {
  rt::TxBegin(2, *file_);
  rt::TxBegin(2, *other_);
  ASSERT_EQ(rt::ErrorCode(), 0);
  ChangeBoth();
  EXPECT_EQ(rt::FileRecords(*file_), 2);  // the thread sees its own changes
  rt::TxRollback();
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(Cards(path_), "1,2");
  EXPECT_EQ(Cards(otherPath_), "");
  EXPECT_FALSE(rt::TxActive());
}

TEST_P(Transactions, CommitChangesBothFilesTogether) {
  rt::TxBegin(2, *file_);
  rt::FileSetProperty(*other_, rt::kPropTransaction, "1");
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(rt::FileGetProperty(*other_, rt::kPropTransaction), "1");
  ChangeBoth();
  // Another connection sees nothing before the commit.
  EXPECT_EQ(Cards(path_), "1,2");
  rt::TxCommit();
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(Cards(path_), "2,3");
  EXPECT_EQ(Cards(otherPath_), "9");
  EXPECT_EQ(rt::FileGetProperty(*other_, rt::kPropTransaction), "0");
  // The connection's scratch main database (what makes the commit over two
  // files atomic) sits beside the files while they are open, and goes with them.
  auto scratch = [&] {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      n += entry.path().filename().string().rfind(".veltrane-", 0) == 0;
    return n;
  };
  EXPECT_EQ(scratch(), OnServer() ? 0 : 1);
  rt::FileClose(*file_);
  rt::FileClose(*other_);
  EXPECT_EQ(scratch(), 0);
}

TEST_F(TransactionsOnDisk, TwoSpellingsOfOnePathShareOneAttachment) {
  auto spelled = PunchDeclaration(dir_ + "/./Punch.DAT", "SPL");
  rt::File other(*spelled);
  rt::FileOpen(other);
  ASSERT_EQ(rt::ErrorCode(), 0);
  // The walk reads both punches ahead; a delete through the other spelling
  // must reach it like a delete through an alias.
  rt::FileSetProperty(*file_, rt::kPropReadAhead, "10");
  rt::FileSetKey(*file_, kKeyCardTime);
  rt::FileNext(*file_);
  other.Field(kCard).SetInt(2);
  other.Field(kTime).SetInt(2);
  rt::FileGetByKey(other, kKeyCardTime);
  rt::FileDelete(other);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  rt::FileNext(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
}

TEST_P(Transactions, FilesMarkedBeforehandAreEnlistedByTxBegin) {
  rt::FileSetProperty(*file_, rt::kPropTransaction, "1");
  rt::FileSetProperty(*other_, rt::kPropTransaction, "1");
  rt::TxBegin(2);
  ASSERT_EQ(rt::ErrorCode(), 0);
  ChangeBoth();
  rt::TxRollback();
  EXPECT_EQ(Cards(otherPath_), "");
}

TEST_P(Transactions, EnlistingTheAliasOfAnEnlistedFileIsNoError) {
  rt::FileOpen(*aliasFile_);
  rt::TxBegin(2, *file_);
  rt::TxBegin(2, *aliasFile_);
  EXPECT_EQ(rt::ErrorCode(), 0);
  aliasFile_->Field(kCard).SetInt(2);
  aliasFile_->Field(kTime).SetInt(2);
  rt::FileGetByKey(*aliasFile_, kKeyCardTime);
  rt::FileDelete(*aliasFile_);
  rt::TxRollback();
  EXPECT_EQ(Cards(path_), "1,2");
}

TEST_P(Transactions, ClosingTheLastEnlistedFileRollsBack) {
  rt::TxBegin(2, *other_);
  SetPunch(*other_, {9, 80000, 9, 9});
  rt::FileAdd(*other_);
  rt::FileClose(*other_);
  EXPECT_FALSE(rt::TxActive());
  EXPECT_EQ(Cards(otherPath_), "");
}

TEST_P(Transactions, ADriverWithoutTransactionsGives80) {
  rt::FileDeclaration log("ASCII", "Log", "LOG", dir_ + "/log.txt", {}, {}, 0);
  rt::File logFile(log);
  rt::FileCreate(logFile);
  rt::FileOpen(logFile);
  rt::FileSetProperty(logFile, rt::kPropTransaction, "1");
  EXPECT_EQ(rt::ErrorCode(), rt::kNoTransactions);
  rt::TxBegin(2, logFile);
  EXPECT_EQ(rt::ErrorCode(), rt::kNoTransactions);
}

TEST_P(Transactions, AThreadEndingWithAnOpenTransactionLeavesNothingBehind) {
  rt::FileClose(*file_);
  std::thread worker([&] {
    rt::File& mine = rt::FileOf(*decl_);
    rt::FileOpen(mine);
    rt::TxBegin(2, mine);
    SetPunch(mine, {5, 80000, 5, 5});
    rt::FileAdd(mine);
    EXPECT_EQ(rt::ErrorCode(), 0);
  });
  worker.join();
  EXPECT_EQ(Cards(path_), "1,2");
  rt::FileOpen(*file_, 0x12);  // nobody holds the file any more
  EXPECT_EQ(rt::ErrorCode(), 0);
}

struct Halted {};

TEST_P(Transactions, HaltRollsBackAndClosesTheFiles) {
  rt::TxBegin(2, *file_);
  rt::TxBegin(2, *other_);
  ChangeBoth();
  rt::SetHaltHandler([](int, const std::string&) { throw Halted{}; });
  EXPECT_THROW(rt::Halt(3), Halted);
  rt::SetHaltHandler({});
  EXPECT_FALSE(rt::TxActive());
  EXPECT_EQ(Cards(path_), "1,2");
  EXPECT_EQ(Cards(otherPath_), "");
  rt::FileNext(*file_);
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);  // closed
}

// The scratch files ".veltrane-<pid>-..." in `dir` by the process that made them.
std::map<pid_t, int> ScratchFiles(const std::string& dir) {
  std::map<pid_t, int> owners;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(".veltrane-", 0) == 0) ++owners[std::stoi(name.substr(10))];
  }
  return owners;
}

// A killed run leaves its scratch file; a later open removes it, but never the
// one of a live process, nor one that another machine's process keeps locked
// in a shared folder (its number names no process here).
TEST_F(TransactionsOnDisk, ScratchFilesOfKilledRunsGoAndLiveOnesStay) {
  rt::FileClose(*file_);
  rt::FileClose(*other_);
  Signal opened, finish;
  pid_t live = Child([&] {
    rt::File mine(*decl_);
    rt::FileOpen(mine);
    opened.Send();
    finish.Wait();
  });
  ASSERT_TRUE(opened.Wait());
  pid_t killed = Child([&] {
    rt::File mine(*decl_);
    rt::FileOpen(mine);
    ::kill(::getpid(), SIGKILL);
  });
  EXPECT_EQ(WaitExit(killed), -1);
  std::string elsewhere = dir_ + "/.veltrane-" + std::to_string(killed) + "-77.tx";
  int held = ::open(elsewhere.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(ScratchFiles(dir_), (std::map<pid_t, int>{{live, 1}, {killed, 2}}));
  rt::FileOpen(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(ScratchFiles(dir_), (std::map<pid_t, int>{{live, 1}, {killed, 1}, {::getpid(), 1}}));
  ::close(held);
  finish.Send();
  EXPECT_EQ(WaitExit(live), 0);
  rt::FileClose(*file_);
  rt::FileOpen(*file_);
  EXPECT_EQ(ScratchFiles(dir_), (std::map<pid_t, int>{{::getpid(), 1}}));
}

// A power cut while a super-journal's list was written leaves it with holes
// of zeros or a torn path: never synced, so no journal names it, and a later
// open removes it with the dead run's scratch file (a whole list that names
// no journal goes too).
TEST_F(TransactionsOnDisk, SuperJournalsThatPowerCutsLeftHalfWrittenGo) {
  rt::FileClose(*file_);
  rt::FileClose(*other_);
  const pid_t dead = Child([] {});
  WaitExit(dead);
  const std::string journal = path_ + "-journal";
  const std::string lists[] = {std::string(5, '\0') + journal + '\0',
                               journal + '\0' + "\x93\x17\x80" + '\0',
                               journal.substr(0, 9),
                               journal + '\0'};
  for (std::size_t i = 0; i < std::size(lists); ++i) {
    const std::string prefix = dir_ + "/.veltrane-" + std::to_string(dead) + "-" + std::to_string(i);
    std::ofstream(prefix + ".tx");
    std::ofstream(prefix + ".tx-mj0A1B2C3D", std::ios::binary) << lists[i];
  }
  rt::FileOpen(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(ScratchFiles(dir_), (std::map<pid_t, int>{{::getpid(), 1}}));
}

// A child dies in the middle of a commit over two files: the first file is
// written, the second not yet, and the super-journal still says the commit
// is unfinished. A later open must let SQLite roll the first file back before
// it removes the super-journal, or the half-written commit would stand.
namespace midcommit {
sqlite3_vfs* real = nullptr;
sqlite3_vfs vfs;
sqlite3_io_methods methods;
const sqlite3_io_methods* realMethods = nullptr;
bool superJournalOpen = false;

int Sync(sqlite3_file* file, int flags) {
  if (superJournalOpen) ::kill(::getpid(), SIGKILL);  // before the first data file's sync
  return realMethods->xSync(file, flags);
}
int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  int rc = real->xOpen(real, name, file, flags, outFlags);
  if (flags & SQLITE_OPEN_SUPER_JOURNAL) superJournalOpen = true;
  if (rc == SQLITE_OK && (flags & SQLITE_OPEN_MAIN_DB) && file->pMethods) {
    if (!realMethods) {
      realMethods = file->pMethods;
      methods = *realMethods;
      methods.xSync = Sync;
    }
    if (file->pMethods == realMethods) file->pMethods = &methods;
  }
  return rc;
}
// Makes every database file opened from now on kill the process at its first
// sync after a super-journal was opened.
void Install() {
  real = sqlite3_vfs_find(nullptr);
  vfs = *real;
  vfs.zName = "kill-mid-commit";
  vfs.xOpen = Open;
  sqlite3_vfs_register(&vfs, 1);
}
}  // namespace midcommit

TEST_F(TransactionsOnDisk, ACommitKilledHalfWayIsRolledBackAndItsLeftoversGo) {
  rt::FileClose(*file_);
  rt::FileClose(*other_);
  Signal committing;
  pid_t child = Child([&] {
    midcommit::Install();
    rt::File a(*decl_), b(*otherDecl_);
    rt::FileOpen(a);
    rt::FileOpen(b);
    rt::TxBegin(2, a);
    rt::TxBegin(2, b);
    SetPunch(a, {1, 80000, 3, 3});
    rt::FileAdd(a);
    SetPunch(b, {9, 80000, 9, 9});
    rt::FileAdd(b);
    committing.Send();
    rt::TxCommit();
  });
  ASSERT_TRUE(committing.Wait());
  EXPECT_EQ(WaitExit(child), -1);
  auto names = [&] {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      if (entry.path().filename().string().find("-mj") != std::string::npos)
        found.insert("super-journal");
      else
        found.insert(entry.path().filename().string());
    return found;
  };
  // Half done: the super-journal, and the first file written with its journal
  // naming the super-journal.
  auto before = names();
  EXPECT_EQ(before.count("super-journal"), 1u);
  EXPECT_EQ(before.count("Punch.DAT-journal"), 1u);
  rt::FileOpen(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  rt::FileOpen(*other_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(Cards(path_), "1,2");
  EXPECT_EQ(Cards(otherPath_), "");
  rt::FileClose(*file_);
  rt::FileClose(*other_);
  // The second file's journal was never synced: SQLite ignores it and the
  // next write replaces it.
  auto after = names();
  after.erase("Other.DAT-journal");
  EXPECT_EQ(after, (std::set<std::string>{"Other.DAT", "Punch.DAT"}));
  EXPECT_EQ(RawDb(path_).One("PRAGMA integrity_check"), "ok");
}

// A child deletes 100000 punches inside a transaction and is killed before
// committing: the file must come back whole.
TEST_P(Transactions, KilledWriterLeavesEveryRecord) {
  rt::FileClose(*file_);
  rt::FileClose(*other_);
  Fill(120000);
  const std::string sum = "SELECT count(*) || ':' || sum(\"PTIME\") FROM \"Punch\"";
  std::string before = RawOne(sum);
  Signal deleted;
  pid_t child = Child([&] {
    rt::File file(*decl_), alias(*alias_);
    rt::FileOpen(file);
    rt::FileOpen(alias);
    rt::FileSetProperty(file, rt::kPropReadAhead, "100");
    rt::TxBegin(2, file);
    rt::TxBegin(2, alias);
    rt::FileSetKey(file, kKeyDateCard);
    for (int n = 0; n < 100000; ++n) {
      rt::FileNext(file);
      if (rt::ErrorCode() != 0) ::_exit(2);
      std::copy(file.Buffer(), file.Buffer() + file.RecordLength(), alias.Buffer());
      rt::FileGetByKey(alias, kKeyDateCard);
      rt::FileDelete(alias);
      if (rt::ErrorCode() != 0) ::_exit(3);
    }
    deleted.Send();
    for (;;) ::pause();
  });
  ASSERT_TRUE(deleted.Wait());
  ::kill(child, SIGKILL);
  EXPECT_EQ(WaitExit(child), -1);
  rt::FileOpen(*file_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(rt::FileRecords(*file_), 120002);
  rt::FileClose(*file_);
  EXPECT_EQ(RawOne(sum), before);
  if (!OnServer()) {
    EXPECT_EQ(RawOne("PRAGMA integrity_check"), "ok");
  }
}

// A child commits a transaction over two files and is killed at a random
// moment of the commit: each time both files come back together, either
// both before or both after it.
TEST_F(TransactionsOnDisk, KilledCommitOverTwoFilesIsAllOrNothing) {
  rt::FileClose(*file_);
  rt::FileClose(*other_);
  Fill(10000);
  std::string good = dir_ + "/good.DAT", otherGood = dir_ + "/otherGood.DAT";
  std::filesystem::copy_file(path_, good);
  std::filesystem::copy_file(otherPath_, otherGood);
  std::mt19937 random(42);
  int before = 0, after = 0;
  for (int round = 0; round < 10; ++round) {
    std::filesystem::copy_file(good, path_, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(otherGood, otherPath_,
                               std::filesystem::copy_options::overwrite_existing);
    Signal committing;
    pid_t child = Child([&] {
      rt::File a(*decl_), b(*otherDecl_);
      rt::FileOpen(a);
      rt::FileOpen(b);
      rt::TxBegin(2, a);
      rt::TxBegin(2, b);
      rt::FileSetProperty(a, rt::kPropReadAhead, "100");
      rt::FileSetKey(a, kKeyDateCard);
      for (int n = 0; n < 5000; ++n) {
        rt::FileNext(a);
        rt::FileDelete(a);
        SetPunch(b, {7, 80000, n, n});
        rt::FileAdd(b);
        if (rt::ErrorCode() != 0) ::_exit(2);
      }
      committing.Send();
      rt::TxCommit();
      for (;;) ::pause();
    });
    ASSERT_TRUE(committing.Wait());
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
    ::kill(child, SIGKILL);
    WaitExit(child);
    std::string a = RawDb(path_).One("SELECT count(*) FROM Punch");
    std::string b = RawDb(otherPath_).One("SELECT count(*) FROM Other");
    if (a == "10002" && b == "0") {
      ++before;
    } else if (a == "5002" && b == "5000") {
      ++after;
    } else {
      ADD_FAILURE() << "round " << round << ": Punch " << a << ", Other " << b;
    }
    EXPECT_EQ(RawDb(path_).One("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(RawDb(otherPath_).One("PRAGMA integrity_check"), "ok");
  }
  std::cout << "killed commits: " << before << " came back before, " << after << " after\n";
}

// A write that fails on a full disk makes SQLite roll the whole transaction
// back by itself. The writes after it must not commit one by one, nor the
// commit report success for changes that are gone. The disk is a 256 KiB
// tmpfs mounted in a child's own mount namespace.
TEST(FullDisk, AWriteThatFindsTheDiskFullLosesTheTransactionAndEveryLaterWriteSaysSo) {
  TempFolder folder("keyed-full");
  std::string disk = folder.Path().string() + "/disk";
  std::string result = folder.Path().string() + "/result";
  std::filesystem::create_directory(disk);
  pid_t child = Child([&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
      ::_exit(77);
    auto decl = PunchDeclaration(disk + "/Punch.DAT");
    rt::File file(*decl);
    rt::FileCreate(file);
    rt::FileSend(file, "CACHE=64");  // a small cache writes pages out before the commit
    rt::FileOpen(file);
    rt::TxBegin(1, file);
    int added = 0;
    for (; added < 100000; ++added) {
      SetPunch(file, {1, 80000, added, added, "FILLER FILL"});
      rt::FileAdd(file);
      if (rt::ErrorCode() != 0) break;
    }
    std::ofstream out(result);
    out << "full: " << rt::ErrorCode();
    SetPunch(file, {2, 80000, 1, 1});
    rt::FileAdd(file);
    out << ", next add: " << rt::ErrorCode();
    rt::TxCommit();
    out << ", commit: " << rt::ErrorCode();
    rt::TxRollback();
    out << ", rollback: " << rt::ErrorCode();
    rt::FileClose(file);
    out << ", records: " << RawDb(disk + "/Punch.DAT").One("SELECT count(*) FROM Punch");
  });
  int status = WaitExit(child);
  if (status == 77) GTEST_SKIP() << "cannot mount a tmpfs of our own here";
  ASSERT_EQ(status, 0);
  std::ifstream in(result);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "full: 90, next add: 90, commit: 90, rollback: 0, records: 0");
}

}  // namespace
}  // namespace keyed_test
