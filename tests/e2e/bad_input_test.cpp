// Bad input to the whole program, one case per row: data files missing,
// locked, read-only, cut short, foreign or damaged; settings that are damaged
// or read-only; a date the entry cannot read; CSV rows the data tool refuses;
// a second copy of the program on the same data; a disk that fills up during
// the purge; a trace file that cannot be opened or written. Each row runs the program in a child process on a fresh folder
// and checks its message, its exit status, and with plain SQL that every data
// file holds what it held before (or, where the purge could go on, exactly
// the punches after the cut-off).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "runtime/core/dates.h"
#include "tests/e2e/program_run.h"
#include "tests/support/sqlite_lock_holder.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const std::string kThrough = "12/31/2022";
const std::int32_t kCutOff = rt::Date(12, 31, 2022);
constexpr int kPunches = 3000;  // two thirds of them on or before the cut-off

// Every row of every table of an SQLite file, sorted; the raw bytes of a file
// SQLite cannot read through.
std::string Contents(const fs::path& path, const std::string& timecardFilter = "") {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  bool read = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
  std::vector<std::string> tables;
  auto query = [&](const std::string& sql, std::vector<std::string>& into, const std::string& tag) {
    sqlite3_stmt* stmt = nullptr;
    read = read && sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
    int rc = SQLITE_ROW;
    while (read && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::string row = tag;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        const unsigned char* text = sqlite3_column_text(stmt, c);
        row += '|';
        if (text) row += reinterpret_cast<const char*>(text);
      }
      into.push_back(row);
    }
    read = read && rc == SQLITE_DONE;
    sqlite3_finalize(stmt);
  };
  query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", tables, "");
  for (const std::string& table : tables) {
    const std::string name = table.substr(1);
    const bool punches = name == "Timecard" && !timecardFilter.empty();
    query("SELECT * FROM \"" + name + "\"" + (punches ? " WHERE " + timecardFilter : ""), rows,
          name);
  }
  sqlite3_close(db);
  if (!read) return "bytes:" + e2e::ReadFile(path);
  std::sort(rows.begin(), rows.end());
  std::string all;
  for (const std::string& row : rows) all += row + "\n";
  return all;
}

// A working folder with the eleven data files and kPunches punches, and
// room beside it for the test's own files.
class Folder {
 public:
  Folder() {
    if (temp_.Path().empty() || !fs::create_directory(Dir())) return;
    made_ = e2e::Run(Dir(), e2e::BuiltProgram("tools/veltrane-data"), {"init", "."}).Status == 0;
    e2e::SqlFile timecard(Punches());
    made_ = made_ && e2e::AddPunches(timecard, e2e::SpreadPunches(kPunches, kCutOff, 50)) == "";
  }
  bool Made() const { return made_; }
  fs::path Dir() const { return temp_.Path() / "work"; }
  fs::path Beside(const std::string& name) const { return temp_.Path() / name; }
  fs::path Data() const { return Dir() / "data"; }
  fs::path Punches() const { return Data() / "Timecard.DAT"; }
  // Each data file's contents; Timecard's rows through `timecardFilter`.
  std::map<std::string, std::string> Everything(const std::string& timecardFilter = "") const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(Data()))
      if (entry.path().extension() == ".DAT")
        files[entry.path().filename()] = Contents(entry.path(), timecardFilter);
    return files;
  }
  e2e::RunResult Run(const std::string& program, const std::vector<std::string>& args) const {
    return e2e::Run(Dir(), e2e::BuiltProgram(program), args);
  }

 private:
  TempFolder temp_{"veltrane-bad-input"};
  bool made_ = false;
};

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void Sql(const fs::path& file, const std::string& sql) {
  e2e::SqlFile db(file);
  ASSERT_EQ(db.Exec(sql), "") << sql;
}

using RunIt = std::function<e2e::RunResult()>;

// The program runs while another process keeps a write transaction open on
// the punch file.
e2e::RunResult WhileAnotherProcessWrites(Folder& f, const RunIt& run) {
  SqliteLockHolder writer(f.Punches().string(), "BEGIN; DELETE FROM Timecard WHERE rowid = 1;",
                          f.Beside("lock").string());
  EXPECT_TRUE(writer.Ready());
  return run();
}

// The program runs while another process keeps a read transaction open on
// the punch file, so no commit to it can finish.
e2e::RunResult WhileAnotherProcessReads(Folder& f, const RunIt& run) {
  SqliteLockHolder reader(f.Punches().string(), "BEGIN; SELECT count(*) FROM Timecard;",
                          f.Beside("lock").string());
  EXPECT_TRUE(reader.Ready());
  return run();
}

// The program runs while a first copy purges the same data. The first copy
// traces into a pipe nobody reads and is stopped once the pipe is full:
// inside its first batch, with the punch file held. Afterwards it goes on,
// the pipe is read to its end, and the first copy must finish its purge.
e2e::RunResult WhileAFirstCopyPurges(Folder& f, const RunIt& run) {
  const fs::path pipe = f.Beside("first-trace");
  EXPECT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  const fs::path out = f.Beside("first.out"), err = f.Beside("first.err");
  const pid_t first =
      e2e::Spawn(f.Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", kThrough}, out, err,
                 {"VELTRANE_TRACE_FILE=" + pipe.string()});
  int queued = 0;
  for (int i = 0; i < 6000 && queued < 65000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::ioctl(reader, FIONREAD, &queued);
  }
  EXPECT_GE(queued, 65000) << "the first copy never got into its purge";
  ::kill(first, SIGSTOP);
  e2e::RunResult second = run();
  ::kill(first, SIGCONT);
  ::fcntl(reader, F_SETFL, 0);
  char chunk[65536];
  while (::read(reader, chunk, sizeof chunk) > 0) {
  }
  ::close(reader);
  EXPECT_EQ(e2e::WaitFor(first), 0) << e2e::ReadFile(err);
  return second;
}

// Mounts a file system of its own for this process and its children: a
// private mount namespace, entered through a user namespace when this
// process is not allowed to mount.
bool PrivateMounts(std::string& why) {
  static int state = 0;  // 0 not tried, 1 entered, -1 refused
  if (state == 0) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    bool ok = ::unshare(CLONE_NEWNS) == 0;
    if (!ok && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
      Write("/proc/self/setgroups", "deny");
      Write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
      Write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
      ok = true;
    }
    ok = ok && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    why = ok ? "" : std::string("no mount namespace: ") + std::strerror(errno);
    state = ok ? 1 : -1;
  }
  return state == 1;
}

// The program runs with its data folder on a file system that has room for
// the data files and a little more, but not for the journal of the batch.
e2e::RunResult OnAFullDisk(Folder& f, const RunIt& run) {
  std::string why;
  if (!PrivateMounts(why)) {
    ADD_FAILURE() << "cannot make a small file system here (" << why << ")";
    return {};
  }
  std::uintmax_t used = 0;
  for (const auto& entry : fs::directory_iterator(f.Data())) used += fs::file_size(entry.path());
  const fs::path kept = f.Beside("kept");
  fs::rename(f.Data(), kept);
  fs::create_directory(f.Data());
  const std::string size = "size=" + std::to_string(used / 1024 + 160) + "k";
  if (::mount("tmpfs", f.Data().c_str(), "tmpfs", 0, size.c_str()) != 0) {
    ADD_FAILURE() << "cannot mount a tmpfs: " << std::strerror(errno);
    return {};
  }
  fs::copy(kept, f.Data());
  fs::remove_all(kept);
  e2e::RunResult result = run();
  // Back onto the folder's own disk, where the checks and the clean-up find it.
  fs::copy(f.Data(), kept);
  ::umount2(f.Data().c_str(), MNT_DETACH);
  fs::remove(f.Data());
  fs::rename(kept, f.Data());
  return result;
}

// What reads the trace FIFO: a reader that takes the first lines and closes
// it, one that never reads, none at all, or one that opens it once the
// purge runs and reads it to its end (what it read is kept in "trace-read").
enum class FifoReader { GoesAway, NeverReads, None, ComesLate };

// The program runs with its trace going into a FIFO.
e2e::RunResult TracingToAFifo(Folder& f, FifoReader mode) {
  const fs::path fifo = f.Beside("trace-fifo");
  EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int reader = mode == FifoReader::GoesAway || mode == FifoReader::NeverReads
                   ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                   : -1;
  const fs::path out = f.Beside("trace.out"), err = f.Beside("trace.err");
  const pid_t program = e2e::Spawn(f.Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", kThrough},
                                   out, err, {"VELTRANE_TRACE_FILE=" + fifo.string()});
  int queued = 0;
  for (int i = 0; mode == FifoReader::GoesAway && i < 6000 && queued == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::ioctl(reader, FIONREAD, &queued);
  }
  if (mode == FifoReader::GoesAway) ::close(reader);
  if (mode == FifoReader::ComesLate) {
    for (int i = 0; i < 6000 && e2e::ReadFile(err).find("% Complete") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Not held up should the program have gone already: that reads nothing.
    reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ::fcntl(reader, F_SETFL, 0);
    std::string read;
    char chunk[65536];
    for (ssize_t n; (n = ::read(reader, chunk, sizeof chunk)) > 0;) read.append(chunk, n);
    Write(f.Beside("trace-read"), read);
  }
  // A program held at the start (in the FIFO's open) is ended after 60 s.
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 600 && !(ended = ::waitpid(program, &status, WNOHANG) == program); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  e2e::RunResult result;
  if (ended) {
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    ADD_FAILURE() << "the program was held for 60 s";
    ::kill(program, SIGKILL);
    result.Status = e2e::WaitFor(program);
  }
  if (reader >= 0) ::close(reader);
  result.Out = e2e::ReadFile(out);
  result.Err = e2e::ReadFile(err);
  return result;
}

e2e::RunResult TracingInto(Folder& f, const fs::path& file) {
  return e2e::Run(f.Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", kThrough},
                  {"VELTRANE_TRACE_FILE=" + file.string()});
}

enum class After { Unchanged, Purged };

struct BadInput {
  const char* Name;
  std::function<void(Folder&)> Break;  // makes the bad input; may be empty
  std::vector<std::string> Command;    // the program (in the build) and its arguments
  int Status;
  std::vector<std::string> Says;  // each found in standard output or error
  After Data;
  std::function<e2e::RunResult(Folder&, const RunIt&)> During = nullptr;  // runs the command
  std::function<void(Folder&)> Check = nullptr;  // anything else to check afterwards
};

const std::string kVeltrane = "app/veltrane";
const std::string kData = "tools/veltrane-data";
const std::string kIni = "[Main]\nXPos=7\nYPos=9\n";
const std::string kDeptRow = ",8,12,8,60,60,15,0,0,0,0,R,O,D,J1\n";

// A CSV file of a data file: its header, as the data tool exports it, and rows.
void WriteCsv(Folder& f, const std::string& label, const std::string& name,
              const std::string& rows) {
  const e2e::RunResult header = f.Run(kData, {"export", ".", label, "--quiet"});
  ASSERT_EQ(header.Status, 0) << header.Err;
  Write(f.Dir() / name, header.Out.substr(0, header.Out.find('\n') + 1) + rows);
}

void RandomBytes(Folder& f) {
  std::mt19937 random(15);
  std::string bytes(65536, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  Write(f.Punches(), bytes);
}

void AnotherTable(Folder& f) {
  Write(f.Punches(), "");
  Sql(f.Punches(), "CREATE TABLE Punches (CARD INTEGER, AT INTEGER); "
                   "INSERT INTO Punches VALUES (5, 81000), (6, 81001);");
}

// Every punch, then one more whose company is no number.
void CsvWithABadCell(Folder& f) {
  const std::string csv = f.Run(kData, {"export", ".", "Timecard", "--quiet"}).Out;
  const std::size_t second = csv.find('\n') + 1;
  const std::string row = csv.substr(second, csv.find('\n', second) + 1 - second);
  Write(f.Dir() / "punches.csv", csv + "x" + row.substr(row.find(',')));
}

// A department already there, then a CSV file that adds a new one and the
// same one again.
void CsvAddingADuplicate(Folder& f) {
  WriteCsv(f, "Dept", "d1.csv", "1,D1,One" + kDeptRow);
  ASSERT_EQ(f.Run(kData, {"import", ".", "Dept", "d1.csv"}).Status, 0);
  WriteCsv(f, "Dept", "dept.csv", "1,D2,Two" + kDeptRow + "1,D1,Again" + kDeptRow);
}

void IndexIsBack(Folder& f) {
  e2e::SqlFile timecard(f.Punches());
  EXPECT_EQ(timecard.Number("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND "
                            "name = 'KEYCOMPDATECARDPTIME'"),
            1);
}

void IniWrittenAnew(Folder& f) {
  const std::string ini = e2e::ReadFile(f.Dir() / "Veltrane.INI");
  EXPECT_NE(ini.find("[SelectLastDate]"), std::string::npos) << ini;
  EXPECT_EQ(ini.find('\0'), std::string::npos) << ini;
}

TEST(BadInput, EachCaseIsToldAndLosesNothing) {
  const std::vector<std::string> purge = {kVeltrane, "--through", kThrough};
  const std::string transactionCancelled =
      "Transaction cancelled: Error: (Record Is Already Held (43)) attempting to frame the "
      "transaction on data\\Timecard.DAT.";
  const BadInput cases[] = {
      {"punch file missing", [](Folder& f) { fs::remove(f.Punches()); }, purge, 3,
       {"veltrane: Place this program above: data\\Timecard.DAT"}, After::Unchanged, nullptr,
       [](Folder& f) { EXPECT_FALSE(fs::exists(f.Punches())); }},
      {"punch file locked by another process's write", nullptr, purge, 3, {transactionCancelled},
       After::Unchanged, WhileAnotherProcessWrites},
      {"punch file read-only",
       [](Folder& f) { fs::permissions(f.Punches(), fs::perms::owner_read); }, purge, 3,
       {"Could not get write access to data\\Timecard.DAT so trying read-only.",
        "Record was not deleted: An error (Access Denied (5)) was experienced when deleting a "
        "record from the data\\Timecard.DAT file."},
       After::Unchanged},
      {"punch file cut short",
       [](Folder& f) { fs::resize_file(f.Punches(), fs::file_size(f.Punches()) / 2); }, purge, 3,
       {"Invalid File: data\\Timecard.DAT has an invalid File structure.",
        "database disk image is malformed"},
       After::Unchanged},
      {"punch file of random bytes", RandomBytes, purge, 3,
       {"Invalid File: data\\Timecard.DAT", "file is not a database"}, After::Unchanged},
      {"punch file holding another table", AnotherTable, purge, 3,
       {"Invalid File: data\\Timecard.DAT", "no table Timecard"}, After::Unchanged},
      {"punch file without a column",
       [](Folder& f) { Sql(f.Punches(), "ALTER TABLE Timecard DROP COLUMN FUNCT"); }, purge, 3,
       {"Invalid File: data\\Timecard.DAT", "no column FUNCT"}, After::Unchanged},
      {"index of the walk dropped",
       [](Folder& f) { Sql(f.Punches(), "DROP INDEX KEYCOMPDATECARDPTIME"); }, purge, 0,
       {"Invalid Key: data\\Timecard.DAT key file is invalid. Key must be rebuilt."},
       After::Purged, nullptr, IndexIsBack},
      {"settings damaged",
       [](Folder& f) { Write(f.Dir() / "Veltrane.INI", std::string("[Main]\nXPos=\0\1\2", 15)); },
       purge, 0, {}, After::Purged, nullptr, IniWrittenAnew},
      {"settings read-only",
       [](Folder& f) {
         Write(f.Dir() / "Veltrane.INI", kIni);
         fs::permissions(f.Dir() / "Veltrane.INI", fs::perms::owner_read);
       },
       purge, 0, {}, After::Purged, nullptr,
       [](Folder& f) { EXPECT_EQ(e2e::ReadFile(f.Dir() / "Veltrane.INI"), kIni); }},
      // The entry keeps what was typed, says how to type a date, beeps, and
      // the dialog stays.
      {"date the entry cannot read",
       [](Folder& f) {
         Write(f.Dir() / "date.txt",
               "type ?LASTDATE 13/45/2022\naccept ?OK\nexpect QUICKWINDOW\naccept ?CANCEL\n");
       },
       {kVeltrane, "--script", "date.txt"}, 2,
       {"input accept ?OK\nhint QUICKWINDOW:5 \"Type a date as MM/DD/YYYY\"\nbeep 150 16\n"
        "input accept ?CANCEL\n",
        "veltrane: Exiting Application"},
       After::Unchanged},
      {"CSV row with a cell that is no number", CsvWithABadCell,
       {kData, "import", ".", "Timecard", "punches.csv"}, 2,
       {"punches.csv:" + std::to_string(kPunches + 2) + ": COMPANY: 'x' is not",
        "nothing imported"},
       After::Unchanged},
      {"CSV import into a file another process reads",
       [](Folder& f) {
         Write(f.Dir() / "punches.csv", f.Run(kData, {"export", ".", "Timecard", "-q"}).Out);
       },
       // The file's own punches again: taken as duplicates, as far as the commit.
       {kData, "import", ".", "Timecard", "punches.csv", "--allow-duplicates"}, 2,
       {"veltrane-data: nothing imported into Timecard: cannot commit: database is locked"},
       After::Unchanged, WhileAnotherProcessReads},
      {"CSV row the file refuses", CsvAddingADuplicate, {kData, "import", ".", "Dept", "dept.csv"},
       2, {"dept.csv:3: cannot add: Creates Duplicate Key", "nothing imported"}, After::Unchanged},
      {"second copy started while the first purges", nullptr, purge, 3, {transactionCancelled},
       After::Purged, WhileAFirstCopyPurges},
      // Where the trace goes: refused at the start when it cannot be opened,
      // never stopping the purge afterwards, and lines lost are said.
      {"trace file that cannot be opened for appending",
       [](Folder& f) { fs::create_directory(f.Beside("trace")); }, purge, 1,
       {"veltrane: cannot write the trace to " + (fs::path("..") / "trace").string()}, After::Unchanged,
       [](Folder& f, const RunIt&) { return TracingInto(f, fs::path("..") / "trace"); },
       [](Folder& f) { EXPECT_TRUE(fs::is_empty(f.Beside("trace"))); }},
      {"trace file on a full device", nullptr, purge, 0,
       {"trace lines could not be written (No space left on device)"}, After::Purged,
       [](Folder& f, const RunIt&) { return TracingInto(f, "/dev/full"); }},
      {"trace into a FIFO whose reader goes away", nullptr, purge, 0,
       {"trace lines could not be written (Broken pipe)"}, After::Purged,
       [](Folder& f, const RunIt&) { return TracingToAFifo(f, FifoReader::GoesAway); }},
      {"trace into a FIFO whose reader stops reading", nullptr, purge, 0,
       {"trace lines could not be written (the reader took nothing for 1000 ms)"}, After::Purged,
       [](Folder& f, const RunIt&) { return TracingToAFifo(f, FifoReader::NeverReads); }},
      // A FIFO nobody has opened never holds the program at the start: the
      // trace waits in it for as much as it holds.
      {"trace into a FIFO nobody opens", nullptr, purge, 0,
       {"trace lines could not be written (the reader took nothing for 1000 ms)"}, After::Purged,
       [](Folder& f, const RunIt&) { return TracingToAFifo(f, FifoReader::None); }},
      {"trace into a FIFO whose reader comes once the purge runs", nullptr, purge, 0, {},
       After::Purged, [](Folder& f, const RunIt&) { return TracingToAFifo(f, FifoReader::ComesLate); },
       [](Folder& f) {
         const std::string read = e2e::ReadFile(f.Beside("trace-read"));
         EXPECT_TRUE(read.starts_with("[qv][1] TIM:DutyDate:")) << read.substr(0, 200);
       }},
      {"disk full during the purge", nullptr, purge, 3,
       {"Record was not deleted: An error (database or disk is full (13)) was experienced when "
        "deleting a record from the data\\Timecard.DAT file."},
       After::Unchanged, OnAFullDisk},
  };
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.Name);
    Folder f;
    ASSERT_TRUE(f.Made());
    if (c.Break) c.Break(f);
    const auto expected =
        f.Everything(c.Data == After::Purged ? "DUTYDATE > " + std::to_string(kCutOff) : "");
    const RunIt run = [&] {
      return f.Run(c.Command[0], std::vector<std::string>(c.Command.begin() + 1, c.Command.end()));
    };
    const e2e::RunResult result = c.During ? c.During(f, run) : run();
    EXPECT_EQ(result.Status, c.Status) << result.Out << result.Err;
    for (const std::string& text : c.Says)
      EXPECT_NE((result.Out + result.Err).find(text), std::string::npos)
          << text << "\nnot in:\n" << result.Out << result.Err;
    EXPECT_TRUE(f.Everything() == expected) << "the data files hold other punches";
    if (c.Check) c.Check(f);
  }
}

}  // namespace
