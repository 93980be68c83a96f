// Random interleavings of reads, deletes, adds, puts, positions, saved states,
// views, commits and rollbacks through two handles on one file, checked step
// by step against a model list of records and, at every commit or rollback,
// against the file itself read with plain SQL by another connection. Deletes
// that the driver keeps pending must change nothing anyone can see.
#include <sched.h>
#include <sys/mount.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <random>

#include <thread>

#include "runtime/core/halt.h"
#include "runtime/files/view.h"
#include "tests/runtime/sqlite/keyed_fixture.h"
#include "tests/runtime/windows/headless_fixture.h"

namespace keyed_test {
namespace {

struct Row {
  int Company, Date, Card, Time;
  std::string Origin, Hours, Job;  // origin without trailing blanks
};
using Rows = std::map<std::int64_t, Row>;  // by record number

std::string Pad(int n) {
  std::string text = std::to_string(n);
  return std::string(10 - text.size(), '0') + text;
}

// A walk order: the sort values of a record (compared as byte strings), then
// its number. Key 0 is record order; kViewOrder is the view's "date, -card".
constexpr int kViewOrder = 9;
std::vector<std::string> SortValues(const Row& r, int key) {
  std::string upper = r.Origin;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  switch (key) {
    case kKeyDateCard: return {Pad(r.Company), Pad(r.Date), Pad(r.Card), Pad(r.Time)};
    case kKeyCardTime: return {Pad(r.Card), Pad(r.Time)};
    case kKeyOrigin: return {upper};
    case kViewOrder: return {Pad(r.Date), Pad(99999 - r.Card)};
    default: return {};
  }
}

// Where a walk stands, as the keyset cursor keeps it.
struct Walk {
  enum Place { Ends, BeforeFirst, AfterLast, At, From } Where = Ends;
  std::vector<std::string> Values;
  std::int64_t Record = 0;
};

// The record a step of a walk reaches in `rows`, or none (and the walk moves
// to that end).
std::optional<std::int64_t> Step(const Rows& rows, int key, Walk& walk, bool forward) {
  using Place = std::pair<std::vector<std::string>, std::int64_t>;
  std::optional<Place> best;
  const Place at{walk.Values, walk.Record};
  for (const auto& [number, row] : rows) {
    if (key == kViewOrder && row.Company != 1) continue;
    Place p{SortValues(row, key), number};
    bool after = walk.Where == Walk::Ends || (forward ? walk.Where == Walk::BeforeFirst
                                                      : walk.Where == Walk::AfterLast);
    if (walk.Where == Walk::At) after = forward ? p > at : p < at;
    if (walk.Where == Walk::From) after = forward ? p >= at : p <= at;
    if (after && (!best || (forward ? p < *best : p > *best))) best = p;
  }
  if (!best) {
    walk.Where = forward ? Walk::AfterLast : Walk::BeforeFirst;
    return std::nullopt;
  }
  walk = {Walk::At, best->first, best->second};
  return best->second;
}

// What the test knows of one handle: its walk, its current record as it
// read it (number 0 for none, -1 when another handle changed its keys since),
// and whether its buffer still holds that record.
struct Handle {
  rt::File* File = nullptr;
  int Key = 0;
  Walk Walking;
  std::int64_t Current = 0;
  Row Read{};
  bool BufferIsRead = false;
};

class PendingModel : public KeyedFixture {
 protected:
  void Put(rt::File& file, const Row& r) {
    SetPunch(file, {r.Company, r.Date, r.Card, r.Time, r.Origin, r.Hours, r.Job});
  }
  void ExpectBuffer(rt::File& file, const Row& r) {
    EXPECT_EQ(file.Field(kCompany).GetInt(), r.Company);
    EXPECT_EQ(file.Field(kDutyDate).GetInt(), r.Date);
    EXPECT_EQ(file.Field(kCard).GetInt(), r.Card);
    EXPECT_EQ(file.Field(kTime).GetInt(), r.Time);
    std::string origin = file.Field(kOrigin).GetString();
    origin.erase(origin.find_last_not_of(' ') + 1);
    EXPECT_EQ(origin, r.Origin);
    EXPECT_EQ(file.Field(kJob).GetString(), r.Job);
  }
  // The file as another connection reads it.
  std::vector<std::string> OnDisk() {
    return RawDb(path_).Column(
        "SELECT rowid||' '||COMPANY||' '||DUTYDATE||' '||CARD||' '||PTIME||' '||ORIGIN||' '||"
        "printf('%.2f',HOURS)||' '||JOB FROM Punch ORDER BY rowid");
  }
  static std::vector<std::string> Text(const Rows& rows) {
    std::vector<std::string> out;
    for (const auto& [n, r] : rows)
      out.push_back(std::to_string(n) + " " + std::to_string(r.Company) + " " +
                    std::to_string(r.Date) + " " + std::to_string(r.Card) + " " +
                    std::to_string(r.Time) + " " + r.Origin + " " + r.Hours + " " + r.Job);
    return out;
  }
  static bool SameIdentity(const Row& a, const Row& b) {
    return a.Company == b.Company && a.Date == b.Date && a.Card == b.Card && a.Time == b.Time &&
           a.Origin == b.Origin;
  }
  static bool CardTimeTaken(const Rows& rows, const Row& r, std::int64_t except) {
    for (const auto& [n, other] : rows)
      if (n != except && other.Card == r.Card && other.Time == r.Time) return true;
    return false;
  }

  void Run(unsigned seed, int steps);
};

void PendingModel::Run(unsigned seed, int steps) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const std::vector<std::string> origins = {"a", "A", "b", "B ", "c"};
  const std::vector<std::string> hours = {"1.50", "8.25", "0.00"};
  auto randomRow = [&] {
    std::string origin = origins[pick(5)];
    while (!origin.empty() && origin.back() == ' ') origin.pop_back();
    return Row{1 + pick(2), 80000 + pick(4), 1 + pick(8), 1 + pick(6), origin, hours[pick(3)],
               "J" + std::to_string(pick(3))};
  };

  Rows rows;
  std::vector<Punch> punches;
  for (int i = 0; i < 30; ++i) {
    Row r = randomRow();
    if (CardTimeTaken(rows, r, 0)) continue;
    rows[static_cast<std::int64_t>(rows.size()) + 1] = r;
    punches.push_back({r.Company, r.Date, r.Card, r.Time, r.Origin, r.Hours, r.Job});
  }
  CreateWith(punches);
  rt::FileOpen(*aliasFile_);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  rt::View view(*aliasFile_);
  rt::ViewSetProperty(view, rt::kPropOrder, "APUN:DUTYDATE,-APUN:CARD");
  rt::ViewSetProperty(view, rt::kPropFilter, "APUN:COMPANY = 1");
  rt::FileOpen(view);
  rt::ViewSetStart(view, 0);
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  Walk viewWalk;

  Rows committed = rows;
  bool inTransaction = false;
  Handle handles[2];
  handles[0].File = file_.get();
  handles[1].File = aliasFile_.get();
  // The main handle holds the last record it added.
  handles[0].Current = rows.rbegin()->first;
  handles[0].Read = rows.rbegin()->second;
  struct Saved {
    int State;
    Handle Copy;
  };
  std::vector<Saved> states[2];
  struct Position {
    int Key;
    std::string Text;
    std::vector<std::string> Values;
    std::int64_t Record;
    Row Read;
  };
  std::vector<Position> positions[2];

  auto wrote = [&] {
    if (!inTransaction) committed = rows;
  };
  // A record that another handle changed keys of may now be written or not,
  // depending on what its handle knows; the test leaves it alone.
  auto changedUnder = [&](int by, std::int64_t number) {
    for (int h = 0; h < 2; ++h)
      if (h != by && handles[h].Current == number) handles[h].Current = -1;
  };
  auto became = [&](Handle& h, std::int64_t number) {
    h.Current = number;
    h.Read = rows.at(number);
    h.BufferIsRead = true;
    ExpectBuffer(*h.File, h.Read);
  };
  // Whether the handle's current record is still there as it read it.
  auto stillThere = [&](const Handle& h) {
    auto it = rows.find(h.Current);
    return h.Current > 0 && it != rows.end() && SameIdentity(it->second, h.Read);
  };

  std::string history;
  for (int step = 0; step < steps && !HasFatalFailure(); ++step) {
    const int which = pick(2);
    Handle& h = handles[which];
    rt::File& file = *h.File;
    const int op = pick(22);
    // The steps so far, each as op/handle:current record before it.
    history += " " + std::to_string(op) + "/" + std::to_string(which) + ":" +
               std::to_string(h.Current);
    SCOPED_TRACE("seed " + std::to_string(seed) + " steps" + history);
    switch (op) {
      case 0:
      case 1:
      case 2: {  // next or previous by the handle's key
        const bool forward = op != 2;
        auto expected = Step(rows, h.Key, h.Walking, forward);
        forward ? rt::FileNext(file) : rt::FilePrevious(file);
        ASSERT_EQ(rt::ErrorCode(), expected ? 0 : rt::kRecordNotAvailable) << rt::FileErrorText();
        if (expected) {
          EXPECT_EQ(rt::FilePointer(file), *expected);
          became(h, *expected);
        }
        break;
      }
      case 3: {  // a new key and read-ahead
        h.Key = pick(4);
        rt::FileSetProperty(file, rt::kPropReadAhead, std::to_string(pick(3) * 3));
        rt::FileSetKey(file, h.Key);
        h.Walking = {};
        break;
      }
      case 4:
      case 5:
      case 6: {  // delete the current record
        if (h.Current < 0) break;
        const bool there = stillThere(h);
        rt::FileDelete(file);
        ASSERT_EQ(rt::ErrorCode(), there ? 0 : rt::kRecordNotAvailable) << rt::FileErrorText();
        if (there) {
          rows.erase(h.Current);
          h.Current = 0;
          wrote();
        }
        break;
      }
      case 7: {  // add
        Row r = randomRow();
        Put(file, r);
        h.BufferIsRead = false;
        const bool taken = CardTimeTaken(rows, r, 0);
        rt::FileAdd(file);
        ASSERT_EQ(rt::ErrorCode(), taken ? rt::kDuplicateKey : 0) << rt::FileErrorText();
        if (!taken) {
          const std::int64_t number = rows.empty() ? 1 : rows.rbegin()->first + 1;
          EXPECT_EQ(rt::FilePointer(file), number);
          rows[number] = r;
          became(h, number);
          wrote();
        }
        break;
      }
      case 8: {  // put, sometimes onto another record's unique key
        if (h.Current <= 0) break;
        const bool there = stillThere(h);
        Row r = h.Read;
        r.Hours = hours[pick(3)];
        r.Job = "P" + std::to_string(pick(9));
        if (pick(2)) r.Time = 1 + pick(6);
        Put(file, r);
        h.BufferIsRead = false;
        const bool taken = there && CardTimeTaken(rows, r, h.Current);
        rt::FilePut(file);
        ASSERT_EQ(rt::ErrorCode(), !there ? rt::kRecordNotAvailable : taken ? rt::kDuplicateKey : 0)
            << rt::FileErrorText();
        if (there && !taken) {
          rows[h.Current] = r;
          h.Read = r;
          h.BufferIsRead = true;
          changedUnder(which, h.Current);
          wrote();
        }
        break;
      }
      case 9:
      case 10: {  // by key, from a record that is there or was
        const int key = 1 + pick(3);
        Row r = rows.empty() || pick(4) == 0 ? randomRow() : std::next(rows.begin(), pick(static_cast<int>(rows.size())))->second;
        Put(file, r);
        h.BufferIsRead = false;
        std::optional<std::int64_t> expected;
        for (const auto& [n, row] : rows)
          if (SortValues(row, key) == SortValues(r, key)) {
            expected = n;
            break;
          }
        rt::FileGetByKey(file, key);
        ASSERT_EQ(rt::ErrorCode(), expected ? 0 : rt::kRecordNotAvailable) << rt::FileErrorText();
        if (expected) became(h, *expected);
        break;
      }
      case 11: {  // by record number
        const std::int64_t number = 1 + pick(static_cast<int>(rows.empty() ? 3 : rows.rbegin()->first + 3));
        const bool there = rows.count(number) != 0;
        rt::FileGetByPointer(file, number);
        ASSERT_EQ(rt::ErrorCode(), there ? 0 : rt::kRecordNotAvailable) << rt::FileErrorText();
        if (there) became(h, number);
        else h.Current = 0;
        break;
      }
      case 12: {  // count, and a duplicate test against another record's key
        EXPECT_EQ(rt::FileRecords(file), static_cast<std::int64_t>(rows.size()));
        if (!stillThere(h) || rows.empty()) break;
        Row r = std::next(rows.begin(), pick(static_cast<int>(rows.size())))->second;
        file.Field(kCard).SetInt(r.Card);
        file.Field(kTime).SetInt(r.Time);
        h.BufferIsRead = false;
        Row probe = h.Read;
        probe.Card = r.Card;
        probe.Time = r.Time;
        EXPECT_EQ(rt::FileDuplicate(file, kKeyCardTime), CardTimeTaken(rows, probe, h.Current));
        break;
      }
      case 13: {  // remember a position by key or by record
        if (!stillThere(h) || !h.BufferIsRead) break;
        const int key = pick(4);
        std::string text = key == 0 ? rt::FilePositionByRecord(file)
                                    : rt::FilePositionByKey(file, key);
        ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
        positions[which].push_back({key, text, SortValues(h.Read, key), h.Current, h.Read});
        break;
      }
      case 14: {  // re-get a remembered position
        if (positions[which].empty()) break;
        const Position& p = positions[which][pick(static_cast<int>(positions[which].size()))];
        auto it = rows.find(p.Record);
        const bool there =
            it != rows.end() && (p.Key != 0 || SameIdentity(it->second, p.Read));
        p.Key == 0 ? rt::FileRegetByRecord(file, p.Text)
                   : rt::FileRegetByKey(file, p.Key, p.Text);
        ASSERT_EQ(rt::ErrorCode(), there ? 0 : rt::kRecordNotAvailable) << rt::FileErrorText();
        if (there) became(h, p.Record);
        else h.Current = 0;
        break;
      }
      case 15: {  // walk on from a remembered position by key
        if (positions[which].empty()) break;
        const Position& p = positions[which][pick(static_cast<int>(positions[which].size()))];
        if (p.Key == 0) break;
        rt::FileResetByKey(file, p.Key, p.Text);
        ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
        h.Key = p.Key;
        h.Walking = {Walk::From, p.Values, p.Record};
        break;
      }
      case 16: {  // save the handle's state
        const int state = rt::FileGetState(file);
        states[which].push_back({state, h});
        break;
      }
      case 17: {  // restore a saved state
        if (states[which].empty()) break;
        const Saved& s = states[which][pick(static_cast<int>(states[which].size()))];
        rt::FileRestoreState(file, s.State);
        ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
        h = s.Copy;
        break;
      }
      case 18: {  // the view over the alias: company 1 by date, card descending
        const bool forward = pick(3) != 0;
        if (pick(6) == 0) {
          rt::ViewSetStart(view, 0);
          viewWalk = {};
        }
        auto expected = Step(rows, kViewOrder, viewWalk, forward);
        forward ? rt::FileNext(view) : rt::FilePrevious(view);
        ASSERT_EQ(rt::ErrorCode(), expected ? 0 : rt::kRecordNotAvailable) << rt::FileErrorText();
        if (expected) became(handles[1], *expected);
        break;
      }
      case 19: {  // begin or commit
        if (!inTransaction) {
          rt::TxBegin(2, *file_);
          ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
          inTransaction = true;
          break;
        }
        rt::TxCommit();
        ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
        inTransaction = false;
        committed = rows;
        ASSERT_EQ(OnDisk(), Text(committed));
        break;
      }
      case 20: {  // roll back
        if (!inTransaction) break;
        rt::TxRollback();
        ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
        inTransaction = false;
        rows = committed;
        ASSERT_EQ(OnDisk(), Text(committed));
        break;
      }
      default:  // another connection sees the last commit only
        ASSERT_EQ(OnDisk(), Text(committed));
    }
  }
  if (inTransaction) {
    rt::TxCommit();
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  }
  EXPECT_EQ(OnDisk(), Text(rows));
}

TEST_F(PendingModel, RandomStepsThroughTwoHandlesAndAViewMatchTheModel) {
  for (unsigned seed = 1; seed <= 40 && !HasFailure(); ++seed) {
    SCOPED_TRACE(seed);
    rt::FileClose(*aliasFile_);
    rt::FileClose(*file_);
    std::filesystem::remove(path_);
    Run(seed, 400);
  }
}

// The disk fills up after the deletes went pending: the commit that cannot
// apply them must say so, and what it reports must be what the file holds,
// whether the commit is tried again once there is room or rolled back.
TEST(PendingOnAFullDisk, ACommitThatCannotApplyThemFailsAndTheFileMatchesWhatItReported) {
  TempFolder folder("pending-full");
  const std::string disk = folder.Path().string() + "/disk";
  const std::string result = folder.Path().string() + "/result";
  std::filesystem::create_directory(disk);
  pid_t child = Child([&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0)
      ::_exit(77);
    const std::string path = disk + "/Punch.DAT";
    auto decl = PunchDeclaration(path);
    rt::File file(*decl);
    rt::FileCreate(file);
    {
      RawDb db(path);
      db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<3000) "
              "INSERT INTO Punch SELECT i%3+1, 80000+i%97, i%500, i, 'CLOCK', 8.25, 'J1', "
              "x'000000' FROM n");
    }
    rt::FileSend(file, "CACHE=64");
    rt::FileOpen(file);
    rt::FileSetKey(file, kKeyCardTime);
    rt::TxBegin(1, file);
    // Every 300th punch in card order: the first delete goes at once, the
    // rest wait while the disk has room for them.
    int deleted = 0;
    for (int n = 0; deleted < 8; ++n) {
      rt::FileNext(file);
      if (rt::ErrorCode() != 0) ::_exit(2);
      if (n % 300 != 0) continue;
      rt::FileDelete(file);
      if (rt::ErrorCode() != 0) ::_exit(3);
      ++deleted;
    }
    {
      std::ofstream filler(disk + "/filler", std::ios::binary);
      std::string block(4096, 'x');
      while (filler.write(block.data(), block.size())) {
      }
    }
    std::ofstream out(result);
    rt::TxCommit();
    const int first = rt::ErrorCode();
    std::filesystem::remove(disk + "/filler");
    int second = 0;
    if (first != 0) {
      rt::TxCommit();
      second = rt::ErrorCode();
      if (second != 0) rt::TxRollback();
    }
    rt::FileClose(file);
    const bool committed = first == 0 || second == 0;
    out << (first != 0 ? "refused" : "committed") << " "
        << RawDb(path).One("SELECT count(*) FROM Punch") << " "
        << (committed ? 3000 - 8 : 3000) << " " << RawDb(path).One("PRAGMA integrity_check");
  });
  const int status = WaitExit(child);
  if (status == 77) GTEST_SKIP() << "cannot mount a tmpfs of our own here";
  ASSERT_EQ(status, 0);
  std::ifstream in(result);
  std::string refused, count, expected, check;
  in >> refused >> count >> expected >> check;
  EXPECT_EQ(refused, "refused");
  EXPECT_EQ(count, expected);
  EXPECT_EQ(check, "ok");
}

// More deletes in one transaction than the pending set holds: it is applied
// on the way, and every read, count and the commit stay right.
TEST_F(PendingModel, ATransactionPastTheMemoryBoundAppliesOnTheWay) {
  rt::FileCreate(*file_);
  constexpr int kPunches = 300000;
  Fill(kPunches);
  rt::FileOpen(*file_);
  rt::FileOpen(*aliasFile_);
  rt::FileSetProperty(*file_, rt::kPropReadAhead, "100");
  rt::FileSetKey(*file_, kKeyDateCard);
  rt::TxBegin(2, *file_);
  int read = 0, kept = 0;
  for (rt::FileNext(*file_); rt::ErrorCode() == 0; rt::FileNext(*file_)) {
    ++read;
    if (file_->Field(kTime).GetInt() % 50 == 0) {
      ++kept;
      continue;
    }
    rt::FileDelete(*file_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  }
  EXPECT_EQ(read, kPunches);
  EXPECT_EQ(rt::FileRecords(*aliasFile_), kept);
  int seen = 0;
  rt::FileSetKey(*aliasFile_, kKeyCardTime);
  for (rt::FileNext(*aliasFile_); rt::ErrorCode() == 0; rt::FileNext(*aliasFile_)) {
    EXPECT_EQ(aliasFile_->Field(kTime).GetInt() % 50, 0);
    ++seen;
  }
  EXPECT_EQ(seen, kept);
  EXPECT_EQ(RawDb(path_).One("SELECT count(*) FROM Punch"), std::to_string(kPunches));
  rt::TxCommit();
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(RawDb(path_).One("SELECT count(*) FROM Punch WHERE PTIME % 50 = 0"),
            std::to_string(kept));
  EXPECT_EQ(RawDb(path_).One("SELECT count(*) FROM Punch"), std::to_string(kept));
}

// A commit with deletes pending, under an open window: the commit runs on a
// helper thread while the window takes input, which is served right after it.
// (Run under ThreadSanitizer too: nothing the window does meanwhile may touch
// what the commit uses.)
TEST_F(PendingModel, ACommitUnderAnOpenWindowKeepsTakingInputAndCommitsEveryDelete) {
  rt::HeadlessBackend backend;
  rt::SetBackend(&backend);
  rt::SetHaltHandler([](int code, const std::string& text) { throw rt::testing::Halted{code, text}; });
  rt::FileCreate(*file_);
  Fill(30000);
  rt::FileOpen(*file_);
  rt::FileOpen(*aliasFile_);
  rt::WindowResource dialog;
  dialog.Name = "PROGRESS";
  dialog.Timer = 1;
  dialog.Controls = {rt::MakeControl(1, "?CANCEL", rt::ControlKind::Button, {}, "&Cancel")};
  rt::Window window(dialog);
  rt::OpenWindow(window);
  std::vector<std::string> afterCommit;
  int committed = -1;
  std::thread presser;
  rt::ServeEvents([&] {
    if (committed >= 0) afterCommit.push_back(rt::testing::CurrentEventName());
    if (rt::CurrentEvent() == rt::EventTimer && committed < 0) {
      rt::SetProperty(0, rt::PropTimer, 0);
      rt::FileSetProperty(*file_, rt::kPropReadAhead, "50");
      rt::FileSetKey(*file_, kKeyDateCard);
      rt::TxBegin(2, *file_);
      for (rt::FileNext(*file_); rt::ErrorCode() == 0; rt::FileNext(*file_))
        if (file_->Field(kTime).GetInt() % 10 != 0) rt::FileDelete(*file_);
      presser = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        backend.Accept("?CANCEL");
      });
      rt::TxCommit();
      committed = rt::ErrorCode();
      presser.join();
      // The alias reads what the commit left.
      EXPECT_EQ(rt::FileRecords(*aliasFile_), 3000);
    }
    if (rt::AcceptedControl() == 1) rt::Post(rt::EventCloseWindow);
    return 0;
  });
  rt::SetHaltHandler({});
  rt::SetBackend(nullptr);
  EXPECT_EQ(committed, 0);
  EXPECT_NE(std::find(afterCommit.begin(), afterCommit.end(), "Accepted 1"), afterCommit.end());
  EXPECT_EQ(RawDb(path_).One("SELECT count(*) FROM Punch"), "3000");
  EXPECT_EQ(RawDb(path_).One("SELECT count(*) FROM Punch WHERE PTIME % 10 <> 0"), "0");
}

// Triggers see every delete, and one that refuses a delete refuses that one
// at the delete, the others going through.
TEST_F(PendingModel, TriggersSeeEveryDeleteAndARefusalFailsItsOwnDelete) {
  std::vector<Punch> punches;
  for (int card = 1; card <= 8; ++card) punches.push_back({1, 80000, card, card});
  CreateWith(punches);
  ASSERT_EQ(RawDb(path_).Exec(
                "CREATE TABLE Gone (CARD INTEGER);"
                "CREATE TRIGGER Logged AFTER DELETE ON Punch BEGIN "
                "INSERT INTO Gone VALUES (old.CARD); END;"
                "CREATE TRIGGER Kept BEFORE DELETE ON Punch WHEN old.CARD = 6 BEGIN "
                "SELECT RAISE(ABORT, 'card 6 stays'); END;"),
            SQLITE_OK);
  rt::FileClose(*file_);
  rt::FileOpen(*file_);
  rt::FileSetKey(*file_, kKeyCardTime);
  rt::TxBegin(2, *file_);
  std::vector<int> refused;
  for (rt::FileNext(*file_); rt::ErrorCode() == 0; rt::FileNext(*file_)) {
    const int card = static_cast<int>(file_->Field(kCard).GetInt());
    if (card == 3) continue;
    rt::FileDelete(*file_);
    if (rt::ErrorCode() != 0) refused.push_back(card);
  }
  EXPECT_EQ(refused, std::vector<int>{6});
  rt::TxCommit();
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  EXPECT_EQ(RawDb(path_).One("SELECT group_concat(CARD) FROM Punch"), "3,6");
  EXPECT_EQ(RawDb(path_).One("SELECT group_concat(CARD) FROM (SELECT CARD FROM Gone ORDER BY 1)"),
            "1,2,4,5,7,8");
}

}  // namespace
}  // namespace keyed_test
