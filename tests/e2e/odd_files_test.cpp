// Data files and arguments a user or another tool may hand the programs, each
// checked against the file itself read with plain SQL, never against what the
// program says it did. Tests marked DISABLED_ show faults not mended yet; the
// comment above each names the fault.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/e2e/program_run.h"
#include "tests/e2e/purge_model.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class OddFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.Path().empty());
    fs::create_directory(Dir());
    ASSERT_EQ(Tool({"init", "."}).Status, 0);
    e2e::SqlFile timecard(Punches());
    ASSERT_EQ(e2e::AddPunches(timecard, e2e::SpreadPunches(300, e2e::PurgeModel::CutOff(), 20)), "");
  }

  fs::path Dir() const { return temp_.Path() / "work"; }
  fs::path Punches() const { return Dir() / "data" / "Timecard.DAT"; }
  e2e::RunResult Tool(const std::vector<std::string>& args) {
    return e2e::Run(Dir(), e2e::BuiltProgram("tools/veltrane-data"), args);
  }
  e2e::RunResult Purge() {
    return e2e::Run(Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", e2e::kPurgeThrough});
  }
  // Runs a program, killed when it has not ended within 60 s (status -1).
  e2e::RunResult RunAtMost60s(const fs::path& program, const std::vector<std::string>& args) {
    const fs::path out = temp_.Path() / "run.out", err = temp_.Path() / "run.err";
    const pid_t pid = e2e::Spawn(Dir(), program, args, out, err);
    e2e::RunResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        e2e::WaitFor(pid);
        return result;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Err = e2e::ReadFile(err);
    return result;
  }
  // Due punches as a scan of the table finds them, whatever its indexes hold.
  long long DueLeft() {
    e2e::SqlFile timecard(Punches());
    return timecard.Number("SELECT count(*) FROM \"Timecard\" NOT INDEXED WHERE " +
                           e2e::PurgeModel::Due());
  }

  TempFolder temp_{"veltrane-odd-files"};
};

// A folder or a FIFO in the punch file's place is refused at once by the
// purge and the tools alike (a FIFO used to hang them in open()).
TEST_F(OddFiles, SomethingOtherThanAFileInThePunchFilesPlaceIsRefused) {
  const std::vector<std::pair<std::string, int (*)(const char*)>> cases = {
      {"a folder", [](const char* path) { return ::mkdir(path, 0755); }},
      {"a FIFO", [](const char* path) { return ::mkfifo(path, 0644); }}};
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    fs::remove_all(Punches());
    ASSERT_EQ(make(Punches().c_str()), 0);
    const e2e::RunResult purge = RunAtMost60s(e2e::BuiltProgram("app/veltrane"),
                                              {"--through", e2e::kPurgeThrough});
    EXPECT_EQ(purge.Status, 3) << purge.Err;
    EXPECT_NE(purge.Err.find("data/Timecard.DAT is " + what + ", not a data file"), std::string::npos)
        << purge.Err;
    const e2e::RunResult stats = RunAtMost60s(e2e::BuiltProgram("tools/veltrane-data"), {"stats", "."});
    EXPECT_EQ(stats.Status, 2) << stats.Err;
    EXPECT_TRUE(fs::exists(Punches()) && !fs::is_regular_file(Punches()));
  }
}

// Fault: the walk's index missing a due punch (damage that only the integrity
// check sees) lets the purge say it removed every due punch and exit 0 while
// that punch stays; `veltrane-data check` finds the damage.
TEST_F(OddFiles, DISABLED_ADuePunchMissingFromTheWalksIndexIsNotReportedAsDone) {
  const std::string index = "CREATE INDEX \"KEYCOMPDATECARDPTIME\" ON \"Timecard\" "
                            "(\"COMPANY\", \"DUTYDATE\", \"EMP_CARD\", \"PUNCH_TIME\")";
  {
    // The schema says the index leaves out one duty date while one punch of
    // that date is added, then says it holds every punch again.
    e2e::SqlFile timecard(Punches());
    ASSERT_EQ(timecard.Exec("PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = '" +
                            index + " WHERE DUTYDATE <> 1' WHERE name = 'KEYCOMPDATECARDPTIME'"),
              "");
  }
  {
    e2e::SqlFile timecard(Punches());
    ASSERT_EQ(e2e::AddPunches(timecard, "SELECT 1, 1, 7, 7"), "");
  }
  {
    e2e::SqlFile timecard(Punches());
    ASSERT_EQ(timecard.Exec("PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = '" +
                            index + "' WHERE name = 'KEYCOMPDATECARDPTIME'"),
              "");
  }
  ASSERT_EQ(Tool({"check", "."}).Status, 2);
  const e2e::RunResult run = Purge();
  const long long left = DueLeft();
  EXPECT_TRUE(run.Status != 0 || left == 0)
      << "exit 0 with " << left << " due punches still in the file\n" << run.Err;
}

// An export whose FILE is a symbolic link writes the file the link names and
// leaves the link; one whose FILE is a pipe or a device is refused.
TEST_F(OddFiles, AnExportThroughASymbolicLinkWritesWhereTheLinkPoints) {
  fs::create_directory(temp_.Path() / "backup");
  const fs::path target = temp_.Path() / "backup" / "before.csv", link = Dir() / "before.csv";
  fs::create_symlink(target, link);
  const e2e::RunResult run =
      Tool({"export", ".", "Timecard", "before.csv", "--through", e2e::kPurgeThrough});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(e2e::ReadLines(target).size(), 1u + static_cast<std::size_t>(DueLeft()));
  const fs::path pipe = Dir() / "pipe.csv";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const e2e::RunResult refused = Tool({"export", ".", "Timecard", "pipe.csv"});
  EXPECT_EQ(refused.Status, 2) << refused.Err;
  EXPECT_NE(refused.Err.find("not a regular file"), std::string::npos) << refused.Err;
  EXPECT_TRUE(fs::is_fifo(pipe));
}

// Importing a folder named as the CSV is told and imports nothing.
TEST_F(OddFiles, ImportingAFolderIsToldAndImportsNothing) {
  const e2e::RunResult run = Tool({"import", ".", "Timecard", "data"});
  EXPECT_EQ(run.Status, 2) << run.Err;
  EXPECT_NE(run.Err.find("data"), std::string::npos) << run.Err;
  e2e::SqlFile timecard(Punches());
  EXPECT_EQ(timecard.Number("SELECT count(*) FROM \"Timecard\""), 300);
}

// A text field holding a NUL (written by another tool) is exported as is and
// imported back into the same record.
TEST_F(OddFiles, AnExportedCopyOfATextWithANulImportsBack) {
  {
    e2e::SqlFile timecard(Punches());
    ASSERT_EQ(timecard.Exec("UPDATE \"Timecard\" SET \"ORIGIN\" = 'A' || char(0) WHERE rowid = 1"), "");
  }
  const e2e::RunResult exported = Tool({"export", ".", "Timecard", "copy.csv"});
  ASSERT_EQ(exported.Status, 0) << exported.Err;
  fs::rename(Punches(), Dir() / "kept.DAT");
  ASSERT_EQ(Tool({"init", "."}).Status, 0);
  const e2e::RunResult imported = Tool({"import", ".", "Timecard", "copy.csv"});
  EXPECT_EQ(imported.Status, 0) << imported.Err;
  e2e::SqlFile timecard(Punches());
  EXPECT_EQ(timecard.Number("SELECT count(*) FROM \"Timecard\" WHERE \"ORIGIN\" = 'A' || char(0)"), 1);
}

}  // namespace

// Duty dates no calendar has (written by another tool) are shown by their day
// numbers in the statistics, not as 00/00/0000.
TEST_F(OddFiles, StatisticsShowDutyDatesOutsideTheCalendarAsNumbers) {
  {
    e2e::SqlFile timecard(Punches());
    ASSERT_EQ(timecard.Exec("UPDATE \"Timecard\" SET \"DUTYDATE\" = -5 WHERE rowid = 1;"
                            "UPDATE \"Timecard\" SET \"DUTYDATE\" = 99999999 WHERE rowid = 2"),
              "");
  }
  const e2e::RunResult stats = Tool({"stats", "."});
  EXPECT_NE(stats.Out.find("Timecard duty dates: day number -5 (no date) to day number 99999999 (no date)"),
            std::string::npos)
      << stats.Out;
}
