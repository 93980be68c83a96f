// The whole program on a terminal: veltrane runs in a shell inside a private
// tmux server, the tests type into it and read the screen, and the punch file
// is checked with plain SQL afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/dates.h"
#include "tests/e2e/program_run.h"
#include "tests/support/sqlite_lock_holder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tmux_screen.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The cut-off the tests purge through: a weekday, so the demo data has
// punches on it and on the day after.
const std::int32_t kCutOff = rt::Date(12, 28, 2022);
const std::string kTypedCutOff = "12/28/2022";

// Every punch due for removal, in the order the purge walks them.
const std::string kDueInKeyOrder = "SELECT rowid FROM Timecard WHERE DUTYDATE <= " +
                                   std::to_string(kCutOff) +
                                   " ORDER BY COMPANY, DUTYDATE, EMP_CARD, PUNCH_TIME, rowid";
// The punches a purge must keep, summed up.
const std::string kKept =
    "SELECT count(*) || ' punches, sums ' || total(rowid) || ' ' || total(DUTYDATE) || ' ' || "
    "total(EMP_CARD) || ' ' || total(PUNCH_TIME) FROM Timecard WHERE DUTYDATE > " +
    std::to_string(kCutOff);

class TerminalProgram : public ::testing::Test {
 protected:
  // Demo data over 2022 and 2023 in a fresh folder, what a purge through
  // the cut-off must remove and keep, and a cols x rows terminal.
  void Start(int cols, int rows, int punches) {
    if (!TmuxScreen::Installed()) GTEST_SKIP() << "tmux is not installed";
    ASSERT_FALSE(folder_.Path().empty());
    const e2e::RunResult made =
        e2e::Run(folder_.Path(), e2e::BuiltProgram("tools/veltrane-data"),
                 {"generate", ".", "--punches", std::to_string(punches), "--from", "01/01/2022",
                  "--to", "12/31/2023", "--seed", "7"});
    ASSERT_EQ(made.Status, 0) << made.Err;
    due_ = Due();
    kept_ = Sql().Column(kKept).at(0);
    // Punches on the cut-off and on the day after tell a wrong cut-off.
    for (std::int32_t day : {kCutOff, kCutOff + 1})
      ASSERT_GT(Sql().Number("SELECT count(*) FROM Timecard WHERE DUTYDATE = " +
                             std::to_string(day)),
                0);
    screen_ = std::make_unique<TmuxScreen>(cols, rows);
    ASSERT_TRUE(screen_->Started());
  }
  // veltrane in the data folder, with no display, after a line of the
  // shell's own that must be back on the screen when the program is gone.
  void Veltrane(const std::string& options = {}, const std::string& firstShown = "Purge Punches Through") {
    screen_->Run("cd " + folder_.Path().string() + " && echo shell-was-here && env -u DISPLAY " +
                 "-u WAYLAND_DISPLAY VELTRANE_TRACE_FILE=" + TraceFile() + " " +
                 e2e::BuiltProgram("app/veltrane").string() + " " + options);
    ASSERT_TRUE(WaitFor(firstShown));
  }
  bool WaitFor(const std::string& text) {
    if (screen_->WaitFor(text)) return true;
    ADD_FAILURE() << "\"" << text << "\" never showed; the screen:\n" << screen_->Shown();
    return false;
  }
  // The message box that ends a purge says `says`; Enter closes it.
  void CloseEndBox(const std::string& says) {
    ASSERT_TRUE(WaitFor(says));
    EXPECT_THAT(screen_->Shown(), HasSubstr("Veltrane"));
    screen_->Keys("Enter");
  }
  std::string RemovedAll() const {
    return "Removed " + std::to_string(due_.size()) + " punches through " + kTypedCutOff + ".";
  }
  // The program ended with `status`, the shell's screen and settings are back.
  void ExpectEndedAndRestored(int status, const std::string& lastWords = {}) {
    ASSERT_TRUE(WaitFor("exit=" + std::to_string(status)));
    EXPECT_TRUE(screen_->SettingsRestored());
    EXPECT_THAT(screen_->Screen(), HasSubstr("shell-was-here\n" + lastWords + "exit="));
    EXPECT_THAT(screen_->Screen(), Not(HasSubstr("\u2502"))) << "a window is still on the screen";
  }
  // A window's frame is centred on the screen.
  void ExpectCentred(int cols, int rows) {
    const auto [top, left] = screen_->Find("\u250C");
    const auto [bottom, right] = screen_->Find("\u2518");
    EXPECT_NEAR(left + right, cols - 1, 1) << screen_->Screen();
    EXPECT_NEAR(top + bottom, rows - 1, 1) << screen_->Screen();
  }

  e2e::SqlFile Sql() { return e2e::SqlFile(folder_.Path() / "data" / "Timecard.DAT"); }
  std::vector<std::string> Due() { return Sql().Column(kDueInKeyOrder); }
  // Every punch due was removed and every other one kept as it was.
  void ExpectPurged() {
    EXPECT_EQ(Due(), std::vector<std::string>{});
    EXPECT_EQ(Sql().Column(kKept).at(0), kept_);
  }
  std::string TraceFile() const { return screen_->File("trace"); }

  TempFolder folder_{"veltrane-terminal"};
  std::unique_ptr<TmuxScreen> screen_;
  std::vector<std::string> due_;
  std::string kept_;
};

TEST_F(TerminalProgram, ATypedDatePurgesThroughItWhileTheProgressWindowShows) {
  Start(80, 24, 20000);
  Veltrane();  // no backend named: with no display the terminal is chosen
  ExpectCentred(80, 24);
  EXPECT_THAT(screen_->Shown(), HasSubstr("Last Date Of A Period  mm/dd/yyyy"));
  screen_->Keys("BTab BTab " + kTypedCutOff + " M-o");  // back over the calendar button to the entry
  ASSERT_TRUE(WaitFor("Processing Records"));
  EXPECT_THAT(screen_->Shown(), HasSubstr("% Complete"));
  CloseEndBox(RemovedAll());
  ExpectEndedAndRestored(0);
  ExpectPurged();
}

TEST_F(TerminalProgram, TheCalendarPicksTheCutOffWithTheKeys) {
  Start(80, 24, 5000);
  Veltrane();
  screen_->Keys("BTab BTab 1/5/2023 Tab Enter");  // from the entry to the calendar button
  ASSERT_TRUE(WaitFor("January 2023"));
  screen_->Keys("Tab Tab Enter");  // from Close over Previous Year to Previous Month, pressed
  ASSERT_TRUE(WaitFor("December 2022"));
  screen_->Keys("PageDown Home");  // January 1st
  ASSERT_TRUE(WaitFor("January 2023"));
  screen_->Keys("Up Left");  // a week back into December, then a day
  ASSERT_TRUE(WaitFor("December 2022"));
  EXPECT_EQ(screen_->StyleOf("31"), "31") << "a Saturday in red";
  screen_->Keys("Right Right Right Right Enter");  // the 28th, picked where the focus is
  ASSERT_TRUE(WaitFor("Last Date Of A Period  " + kTypedCutOff));
  screen_->Keys("Enter");  // the focus went to OK
  CloseEndBox(RemovedAll());
  ExpectEndedAndRestored(0);
  ExpectPurged();
}

// A terminal too small for the dialog shows only a notice, and what is typed
// there reaches no window: no purge, no end. Grown, the dialog is back as it
// was; a date it cannot read stays as typed and the status line says why.
TEST_F(TerminalProgram, KeysTypedAtTheTooSmallNoticeReachNoWindow) {
  Start(60, 20, 5000);
  Veltrane("--backend terminal", "Terminal too small");
  screen_->Keys("BTab BTab 06/30/2021 Enter Escape");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_THAT(screen_->Screen(), HasSubstr("Terminal too small"));
  EXPECT_THAT(screen_->Screen(), Not(HasSubstr("exit=")));
  screen_->Resize(80, 24);
  ASSERT_TRUE(WaitFor("Last Date Of A Period  mm/dd/yyyy"));
  screen_->Keys("BTab BTab 02/30/2021 Tab");
  ASSERT_TRUE(WaitFor("Type a date as MM/DD/YYYY"));
  EXPECT_THAT(screen_->Shown(), HasSubstr("Last Date Of A Period  02/30/2021"));
  screen_->Keys("Escape");
  ASSERT_TRUE(WaitFor("Exiting Application"));
  screen_->Keys("Enter");
  ASSERT_TRUE(WaitFor("Exiting Application\nexit=2"));
  EXPECT_EQ(Due(), due_);
  EXPECT_EQ(Sql().Column(kKept).at(0), kept_);
}

TEST_F(TerminalProgram, A2024DateIsRefusedAndCancelHaltsWithTheFileUntouched) {
  Start(80, 24, 5000);
  Veltrane("--backend terminal");
  screen_->Keys("BTab BTab 1/1/2024 M-o");
  ASSERT_TRUE(WaitFor("Date Not acceptable. Pick a date prior 01/2024."));
  screen_->Keys("Enter");
  ASSERT_TRUE(WaitFor("01/01/2024"));
  EXPECT_THAT(screen_->Shown(), Not(HasSubstr("Date Not acceptable")));
  screen_->Keys("Escape");  // the close box: nothing is purged
  ASSERT_TRUE(WaitFor("Exiting Application"));
  EXPECT_THAT(screen_->Shown(), HasSubstr("[ OK ]"));
  screen_->Keys("Enter");
  ExpectEndedAndRestored(2, "Exiting Application\n");
  EXPECT_EQ(Due(), due_);
  EXPECT_EQ(Sql().Column(kKept).at(0), kept_);
}

// Cancel once the walk has removed a thousand punches, by the Cancel button
// or by Ctrl+C: what is left is the tail of the walk, the trace counted the
// rest, and the box at the end says so.
class TerminalCancel : public TerminalProgram, public ::testing::WithParamInterface<bool> {};

TEST_P(TerminalCancel, MidRunKeepsExactlyThePunchesNotYetWalked) {
  const bool ctrlC = GetParam();
  Start(200, 60, 60000);
  Veltrane("--backend terminal");
  screen_->Keys("BTab BTab " + kTypedCutOff + " Enter");  // Enter in the entry presses OK
  ASSERT_TRUE(WaitFor("Processing Records"));
  ExpectCentred(200, 60);
  for (int i = 0; i < 400 && TmuxScreen::ReadFile(TraceFile()).find("Removed:1000\n") ==
                                 std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (ctrlC) {
    screen_->Keys("C-c");
  } else {
    const auto [row, col] = screen_->Find("[ Cancel ]");
    ASSERT_GE(row, 0);
    screen_->Click(row, col + 3);
  }
  ASSERT_TRUE(WaitFor(ctrlC ? "Cancelled by SIGINT after removing" : "Cancelled after removing"));
  const std::vector<std::string> left = Due();
  const std::string removed = std::to_string(due_.size() - left.size());
  CloseEndBox("Cancelled" + std::string(ctrlC ? " by SIGINT" : "") + " after removing " +
              removed + " punches through " + kTypedCutOff + ".");
  ExpectEndedAndRestored(2);
  ASSERT_GT(left.size(), 0u) << "cancelled before the end";
  ASSERT_LT(left.size(), due_.size()) << "cancelled after the walk began";
  EXPECT_EQ(left, std::vector<std::string>(due_.end() - left.size(), due_.end()));
  EXPECT_EQ(Sql().Column(kKept).at(0), kept_);
  const std::vector<std::string> lines = e2e::ReadLines(TraceFile());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "[qv][1] Removed:" + removed);
  EXPECT_EQ(lines.back(), "[qv][1] Committing " + removed);
}
INSTANTIATE_TEST_SUITE_P(ButtonOrCtrlC, TerminalCancel, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "CtrlC" : "CancelButton"; });

// Another program's read transaction holds up the commit at the end of the
// walk: the status line says so in full, Cancel pressed meanwhile is answered
// at once, and once the reader lets go the removals are committed.
TEST_F(TerminalProgram, ACommitHeldUpByAReaderSaysSoAndAnswersCancel) {
  Start(80, 24, 5000);
  SqliteLockHolder reader((folder_.Path() / "data" / "Timecard.DAT").string(),
                          "BEGIN; SELECT count(*) FROM Timecard;", screen_->File("reader"));
  ASSERT_TRUE(reader.Ready());
  Veltrane("--backend terminal");
  screen_->Keys("BTab BTab " + kTypedCutOff + " Enter");
  ASSERT_TRUE(WaitFor("Waiting for another program"));
  const auto [row, col] = screen_->Find("[ Cancel ]");
  ASSERT_GE(row, 0);
  screen_->Click(row, col + 3);
  ASSERT_TRUE(WaitFor("Stopping once the file is free"));
  reader.Release();
  CloseEndBox(RemovedAll());
  ExpectEndedAndRestored(0);
  ExpectPurged();
}

// Placements saved on a desktop that a terminal cannot show as they are: the
// dialog and the progress window minimised, the dialog far wider than the
// screen. Both come up on the screen and take input.
TEST_F(TerminalProgram, WindowsSavedMinimisedOrTooLargeStillShowAndTakeInput) {
  Start(80, 24, 20000);
  std::ofstream(folder_.Path() / "Veltrane.INI")
      << "[SelectLastDate]\nMaximize=No\nMinimize=Yes\nWidth=999999\nHeight=999999\n"
         "[Main]\nMaximize=No\nMinimize=Yes\n";
  Veltrane("--backend terminal");
  EXPECT_THAT(screen_->Shown(), Not(HasSubstr("Terminal too small")));
  screen_->Keys("BTab BTab 12/31/2022 M-o");
  ASSERT_TRUE(WaitFor("Processing Records"));
  CloseEndBox(" punches through 12/31/2022.");
  ExpectEndedAndRestored(0);
  EXPECT_EQ(Sql().Column(kDueInKeyOrder), std::vector<std::string>{});
}

}  // namespace
