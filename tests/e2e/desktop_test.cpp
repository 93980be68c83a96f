// The whole program on the desktop backend. In this process on Qt's offscreen
// platform: veltrane's command line runs with --backend qt while a desk gives
// real Qt key and mouse input to its windows. And once as a user runs it: the
// built program under Xvfb, typed into with xdotool. The punch file is checked
// with plain SQL afterwards, the windows are saved as pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>

#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/backend_choice.h"
#include "app/command_line.h"
#include "app/purge_process.h"
#include "app/purge_variables.h"
#include "runtime/core/dates.h"
#include "runtime/qt/dialog_units.h"
#include "runtime/qt/qt_backend.h"
#include "tests/e2e/program_run.h"
#include "tests/support/qt_desk.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace rt::testing;  // the desk

constexpr char kDialog[] = "QUICKWINDOW";
constexpr char kCalendar[] = "CALENDARSCREEN";
constexpr char kProgress[] = "PROGRESSWINDOW";
const std::int32_t kCutOff = rt::Date(12, 31, 2022);

class DesktopProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's backend runs on this application, which the desk's timer needs first.
    static int argc = 1;
    static char name[] = "veltrane";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }

  // Demo data over 2022 and 2023.
  void Generate(int punches) {
    const e2e::RunResult made =
        e2e::Run(folder_.Path(), e2e::BuiltProgram("tools/veltrane-data"),
                 {"generate", ".", "--punches", std::to_string(punches), "--from", "01/01/2022",
                  "--to", "12/31/2023", "--seed", "7"});
    ASSERT_EQ(made.Status, 0) << made.Err;
    due_ = Count("DUTYDATE <= " + std::to_string(kCutOff));
    kept_ = Kept();
    ASSERT_GT(due_, 0);
  }
  // veltrane with --backend qt, run here in the data folder; its exit status.
  // The desktop backend is added the way the program's main adds it.
  int Veltrane() {
    static const bool added = [] {
      app::AddBackend(
          {"qt", app::DisplaySet, [](std::string& error) -> std::unique_ptr<rt::Backend> {
             return rt::MakeQtBackend(error);
           }});
      return true;
    }();
    (void)added;
    const fs::path home = fs::current_path();
    fs::current_path(folder_.Path());
    char program[] = "veltrane", option[] = "--backend", qt[] = "qt";
    char* args[] = {program, option, qt, nullptr};
    const int status = app::RunCommandLine(3, args);
    fs::current_path(home);
    return status;
  }

  long long Count(const std::string& where) {
    e2e::SqlFile timecard(folder_.Path() / "data" / "Timecard.DAT");
    return timecard.Number("SELECT count(*) FROM Timecard WHERE " + where);
  }
  // The punches a purge through the cut-off must keep, as one text.
  std::string Kept() {
    e2e::SqlFile timecard(folder_.Path() / "data" / "Timecard.DAT");
    return timecard
        .Column(
            "SELECT group_concat(rowid || ':' || DUTYDATE, ',') FROM (SELECT * FROM "
            "Timecard WHERE DUTYDATE > " +
            std::to_string(kCutOff) + " ORDER BY rowid)")
        .at(0);
  }

  // Steps: the date typed into the dialog's entry and OK by its accelerator.
  static void TypeDateAndOk(Desk& desk, const char* date) {
    desk.Then(On<QLineEdit>(kDialog, "?LASTDATE",
                            [date](QLineEdit* entry) {
                              QTest::mouseClick(entry, Qt::LeftButton);
                              QTest::keyClicks(entry, date);
                            }))
        .Then([] {
          if (!ActiveWindow(kDialog)) return false;
          QTest::keyClick(ActiveWindow(kDialog), Qt::Key_O, Qt::AltModifier);
          return true;
        });
  }

  // The caption the desktop shows on a window: the application's name when
  // it has no title of its own.
  static std::string Caption(QWidget* window) {
    const QString title = window->windowTitle();
    return (title.isEmpty() ? QGuiApplication::applicationDisplayName() : title).toStdString();
  }
  // Step: the message box that ends the purge, its text and caption noted
  // in `seen`, closed with Return.
  static std::function<bool()> CloseEndBox(std::vector<std::string>& seen) {
    return [&seen] {
      QMessageBox* box = OpenMessageBox();
      if (!box || ShownWindow(kProgress)) return false;
      seen.push_back(box->text().toStdString() + " / " + Caption(box));
      Screenshot(box, "program-end-box");
      QTest::keyClick(box, Qt::Key_Return);
      return true;
    };
  }
  std::string RemovedAll() const {
    return "Removed " + std::to_string(due_) + " punches through 12/31/2022. / Veltrane";
  }

  TempFolder folder_{"veltrane-desktop"};
  std::unique_ptr<QApplication> app_;
  long long due_ = 0;
  std::string kept_;
};

TEST_F(DesktopProgram, RefusedDateThenACalendarDayThenTheWholePurge) {
  Generate(3000);
  std::vector<std::string> seen;
  int shownPercent = -1;
  Desk desk(std::chrono::seconds(60));
  TypeDateAndOk(desk, "1/1/2024");
  desk.Then([&] {
        QMessageBox* box = OpenMessageBox();
        if (!box) return false;
        seen.push_back(box->text().toStdString() + " / " + Caption(box));
        QTest::keyClick(box, Qt::Key_Return);
        return true;
      })
      .Then([] {
        if (OpenMessageBox() || FocusNameIn(kDialog) != "?LASTDATE") return false;
        QTest::mouseClick(ShownControl(kDialog, "?CALENDAR"), Qt::LeftButton);
        return true;
      })
      .Then(On<QLabel>(kCalendar, "?MONTHYEAR",
                       [&](QLabel* title) {
                         seen.push_back(title->text().toStdString() + " / " +
                                        title->window()->windowTitle().toStdString());
                         QTest::mouseClick(ShownControl(kCalendar, "?PREVYEAR"), Qt::LeftButton);
                         QTest::mouseClick(ShownControl(kCalendar, "?PREVMONTH"), Qt::LeftButton);
                       }))
      // 1 December 2022 is a Thursday: the 31st is the 35th button.
      .Then([] {
        auto* title = ShownControl<QLabel>(kCalendar, "?MONTHYEAR");
        if (!title || title->text() != "December 2022") return false;
        QTest::mouseClick(ShownControl(kCalendar, "?DAY35"), Qt::LeftButton);
        return true;
      })
      .Then([] {
        auto* entry = ShownControl<QLineEdit>(kDialog, "?LASTDATE");
        if (ShownWindow(kCalendar) || !entry || entry->text() != "12/31/2022" ||
            !ActiveWindow(kDialog))
          return false;
        QTest::keyClick(ActiveWindow(kDialog), Qt::Key_O, Qt::AltModifier);
        return true;
      })
      .Then([&] {
        auto* bar = ShownControl<QProgressBar>(kProgress, "?PROGRESS:THERMOMETER");
        if (!bar || !bar->isVisible()) return false;
        shownPercent = bar->value();
        return true;
      })
      .Then(CloseEndBox(seen));
  EXPECT_EQ(Veltrane(), 0);
  EXPECT_TRUE(desk.Done());
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "Date Not acceptable. Pick a date prior 01/2024. / Veltrane",
                      "January 2024 / Select a Date", RemovedAll()}));
  EXPECT_GE(shownPercent, 0) << "the progress window showed";
  EXPECT_EQ(app::LastDate, kCutOff);
  EXPECT_EQ(app::LastPurgeOutcome().Removed, due_);
  EXPECT_EQ(Count("DUTYDATE <= " + std::to_string(kCutOff)), 0);
  EXPECT_EQ(Kept(), kept_);
}

TEST_F(DesktopProgram, CancelMidRunKeepsWhatWasRemovedAndEveryOtherPunch) {
  Generate(60000);
  int cancelledAt = -1;
  std::vector<std::string> seen;
  Desk desk(std::chrono::seconds(120));
  TypeDateAndOk(desk, "12/31/2022");
  desk.Then([&] {
        auto* bar = ShownControl<QProgressBar>(kProgress, "?PROGRESS:THERMOMETER");
        if (!bar || !bar->isVisible() || bar->value() < 10) return false;
        cancelledAt = bar->value();
        Screenshot(bar->window(), "program-progress");
        QTest::mouseClick(ShownControl(kProgress, "?PROGRESS:CANCEL"), Qt::LeftButton);
        return true;
      })
      .Then(CloseEndBox(seen));
  EXPECT_EQ(Veltrane(), 2) << "cancelled";
  EXPECT_TRUE(desk.Done());
  const long long left = Count("DUTYDATE <= " + std::to_string(kCutOff));
  EXPECT_EQ(seen, std::vector<std::string>{"Cancelled after removing " +
                                           std::to_string(due_ - left) +
                                           " punches through 12/31/2022. / Veltrane"});
  EXPECT_GT(left, 0) << "cancelled before the end, at " << cancelledAt << "%";
  EXPECT_LT(left, due_);
  EXPECT_EQ(app::LastPurgeOutcome().Removed, due_ - left) << "every removal was committed";
  EXPECT_EQ(Kept(), kept_);
}

TEST_F(DesktopProgram, TheDialogResizedAndMovedByTheUserIsSavedThere) {
  Generate(200);
  Desk desk;
  desk.Then([] {
    QWidget* dialog = ActiveWindow(kDialog);
    if (!dialog) return false;
    const rt::DialogUnits units(dialog->font());
    dialog->resize(units.Size(300, 120));
    dialog->move(units.X(30), units.Y(20));
    return true;
  });
  TypeDateAndOk(desk, "12/31/2022");
  std::vector<std::string> seen;
  desk.Then(CloseEndBox(seen));
  EXPECT_EQ(Veltrane(), 0);
  EXPECT_TRUE(desk.Done());
  EXPECT_EQ(seen, std::vector<std::string>{RemovedAll()});
  const std::string ini = e2e::ReadFile(folder_.Path() / "Veltrane.INI");
  EXPECT_NE(
      ini.find(
          "[SelectLastDate]\nMaximize=No\nMinimize=No\nXPos=30\nYPos=20\nWidth=300\nHeight=120\n"),
      std::string::npos)
      << ini;
}

// The built program under a real X server, typed into with xdotool as a user
// would: the dialog, the calendar and the progress window are saved as
// pictures of the screen on the way.
TEST_F(DesktopProgram, OnX11TheDemoDataIsPurgedThroughATypedDateInTheRestoredDialog) {
  for (const char* tool : {"xvfb-run", "xdotool", "import"})
    if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0)
      GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
  Generate(40000);
  const fs::path& folder = folder_.Path();
  // A placement saved by an earlier run: the dialog must come back there.
  std::ofstream(folder / "Veltrane.INI")
      << "[SelectLastDate]\nMaximize=No\nMinimize=No\nXPos=40\nYPos=30\nWidth=300\nHeight=120\n";
  const fs::path shots = e2e::BuiltProgram("screenshots");
  fs::create_directories(shots);
  const fs::path script = folder / "drive.sh";
  std::ofstream(script) << R"sh(set -u
# $1 the program, $2 the folder for pictures. No step waits for ever: a window
# that never shows, or a program that never ends, ends the run with a status
# of its own, a picture of the whole screen and the names of the windows shown.
find() {
  id=$(timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
  [ -n "$id" ] && echo "$id"
}
# Keys go to the window that has the input focus; with no window manager on
# the server that is set here rather than left to where the pointer is.
focus() { timeout 10 xdotool windowfocus --sync "$1"; }
shot() { sleep 0.5; timeout 20 import -window "$1" "$2/xvfb-program-$3.png"; }
fail() {
  timeout 20 import -window root "$pictures/xvfb-program-failure.png"
  echo "windows shown:" >&2
  timeout 10 xdotool search --onlyvisible --name . getwindowname %@ >&2
  kill -9 $pid 2>/dev/null
  exit "$1"
}
pictures=$2
QT_QPA_PLATFORM=xcb "$1" > veltrane.out 2> veltrane.err &
pid=$!
dialog=$(find 'Purge Punches Through') || fail 90
xdotool getwindowgeometry "$dialog" > dialog-geometry
focus "$dialog"
# From OK back over the calendar button to the entry.
xdotool key --delay 100 shift+Tab shift+Tab
xdotool type --delay 60 '12/31/2022'
shot "$dialog" "$2" cutoff-dialog
xdotool key --delay 100 Tab Return
calendar=$(find 'Select a Date') || fail 91
shot "$calendar" "$2" calendar
focus "$calendar"
xdotool key Escape
sleep 0.5
focus "$dialog"
xdotool key alt+o
progress=$(find 'Processing Records') || fail 92
# While the purge runs the program answers the server only between batches, and
# a picture taken through the window itself can wait on it for good: this one is
# cut out of the whole screen instead.
eval "$(xdotool getwindowgeometry --shell "$progress")"
timeout 20 import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$2/xvfb-program-progress.png"
# The purge of 40000 punches takes seconds; the box at its end says what it did.
box=$(find 'Veltrane') || fail 94
shot "$box" "$2" end-box
focus "$box"
xdotool key Return
# Four minutes means the program hangs.
for i in $(seq 480); do kill -0 $pid 2>/dev/null || break; sleep 0.5; done
kill -0 $pid 2>/dev/null && fail 93
wait $pid
)sh";
  const e2e::RunResult run =
      e2e::Run(folder, "/usr/bin/env",
               {"timeout", "-k", "10", "420", "xvfb-run", "-a", "-n", "140", "-s", "-noreset -screen 0 1280x1024x24", "sh",
                script.string(), e2e::BuiltProgram("app/veltrane").string(), shots.string()},
               {"LSAN_OPTIONS=suppressions=" VELTRANE_SOURCE_DIR "/tests/support/qt_leaks.supp"});
  EXPECT_EQ(run.Status, 0) << run.Out << run.Err << e2e::ReadFile(folder / "veltrane.err");
  const rt::DialogUnits units(rt::DialogFont("Sans Serif", 8));
  const std::string geometry = e2e::ReadFile(folder / "dialog-geometry");
  EXPECT_NE(
      geometry.find("Position: " + std::to_string(units.X(40)) + "," + std::to_string(units.Y(30))),
      std::string::npos)
      << geometry;
  EXPECT_NE(geometry.find("Geometry: " + std::to_string(units.X(300)) + "x" +
                          std::to_string(units.Y(120))),
            std::string::npos)
      << geometry;
  EXPECT_NE(
      e2e::ReadFile(folder / "Veltrane.INI").find("XPos=40\nYPos=30\nWidth=300\nHeight=120\n"),
      std::string::npos)
      << "saved again where it was";
  EXPECT_EQ(Count("DUTYDATE <= " + std::to_string(kCutOff)), 0);
  EXPECT_EQ(Kept(), kept_);
}

}  // namespace
