// The terminal backend in a real pseudo-terminal: the window driver program
// runs in a shell inside a private tmux server; the tests type keys and
// mouse clicks into it, read the screen with capture-pane and check what the
// windows gave back in the driver's results file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/tmux_screen.h"

namespace rt {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class TerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TmuxScreen::Installed()) GTEST_SKIP() << "tmux is not installed";
    const char* build = std::getenv("VELTRANE_TEST_BINARY_DIR");
    ASSERT_NE(build, nullptr) << "VELTRANE_TEST_BINARY_DIR is not set";
    driver_ = std::string(build) + "/tests/terminal_window_driver";
  }

  // The driver in a fresh cols x rows terminal.
  TmuxScreen& Run(int cols, int rows, const std::string& scenario,
                  const std::string& arguments = {}) {
    screen_.reset();
    screen_ = std::make_unique<TmuxScreen>(cols, rows);
    EXPECT_TRUE(screen_->Started());
    screen_->Run(driver_ + " " + scenario + " " + screen_->File("results") + " " + arguments);
    return *screen_;
  }
  bool WaitFor(const std::string& text) {
    if (screen_->WaitFor(text)) return true;
    ADD_FAILURE() << "\"" << text << "\" never showed; the screen:\n" << screen_->Shown();
    return false;
  }
  // What the driver wrote, once it has ended.
  std::string Results() {
    WaitFor("exit=");
    return TmuxScreen::ReadFile(screen_->File("results"));
  }
  // The terminal settings are the shell's again and the windows are gone.
  void ExpectRestored() {
    WaitFor("exit=");
    EXPECT_TRUE(screen_->SettingsRestored());
    EXPECT_THAT(screen_->Screen(), Not(HasSubstr("\u2502"))) << "a window is still on the screen";
  }

  std::unique_ptr<TmuxScreen> screen_;
  std::string driver_;
};

TEST_F(TerminalTest, CutoffDialogIsCentredRefuses2024AndTakesATypedDate) {
  TmuxScreen& screen = Run(80, 24, "dialog");
  ASSERT_TRUE(WaitFor("Purge Punches Through"));
  const auto [top, left] = screen.Find("\u250C");
  const auto [bottom, right] = screen.Find("\u2518");
  EXPECT_NEAR(left + right, 79, 1) << "centred across";
  EXPECT_NEAR(top + bottom, 23, 1) << "centred down";
  EXPECT_THAT(screen.Screen(), HasSubstr("Last Date Of A Period  mm/dd/yyyy"));
  EXPECT_THAT(screen.Screen(), HasSubstr("[ OK ]     [ Cancel ]"));
  screen.Keys("BTab BTab 1/1/2024 M-o");  // back over the calendar button to the entry; Alt+O is OK
  ASSERT_TRUE(WaitFor("Date Not acceptable. Pick a date prior 01/2024."));
  EXPECT_THAT(screen.Screen(), HasSubstr("\u2500 Veltrane \u2500")) << "captioned as on the desktop";
  screen.Keys("Enter 12/31/2023 M-o");  // the refusal gave the entry the focus back
  EXPECT_THAT(Results(), HasSubstr("\nresponse 1\nlastDate 12/31/2023\nend\n"));
  ExpectRestored();
}

TEST_F(TerminalTest, CalendarMovesByArrowKeysWithRedWeekendsAndBoldToday) {
  TmuxScreen& screen = Run(80, 24, "dialog");
  ASSERT_TRUE(WaitFor("Purge Punches Through"));
  screen.Keys("BTab BTab 2/27/2020 Tab Enter");
  ASSERT_TRUE(WaitFor("February 2020"));
  // Saturday the 29th in red, the current day in bold (with underline), in
  // blue rather than black: terminals that brighten bold would make it grey.
  EXPECT_EQ(screen.StyleOf("29"), "31");
  EXPECT_EQ(screen.StyleOf("27"), "1;4;34");
  EXPECT_THAT(screen.Screen(), HasSubstr("Sun  Mon  Tue  Wed  Thu  Fri  Sat"));
  screen.Keys("Right Right Down");
  ASSERT_TRUE(WaitFor("March 2020"));
  EXPECT_EQ(screen.StyleOf("  7 "), "1;4;7;31") << "Saturday the 7th, the current day, focused";
  screen.Keys("c");  // the plain letter of "&Close": no entry has the focus
  ASSERT_TRUE(WaitFor("03/07/2020"));
  screen.Keys("Escape");
  EXPECT_THAT(Results(), HasSubstr("response 2\nlastDate 03/07/2020\n"));
}

TEST_F(TerminalTest, ProgressBarAdvancesAndAClickOnCancelStopsIt) {
  TmuxScreen& screen = Run(200, 60, "progress", "200 5");
  ASSERT_TRUE(WaitFor("10% Complete"));
  EXPECT_THAT(screen.Shown(),
              HasSubstr("\u2588\u2588\u258E\u2591"));  // 10% of 23 cells, in eighths
  EXPECT_THAT(screen.Shown(), HasSubstr("\u2591  10%"));
  const auto [row, col] = screen.Find("[ Cancel ]");
  ASSERT_GE(row, 0);
  screen.Click(row, col + 3);
  const std::string results = Results();
  const int taken = std::stoi(results.substr(results.find("taken ") + 6));
  EXPECT_GT(taken, 0);
  EXPECT_LT(taken, 200);
  EXPECT_EQ(taken % 5, 0);
}

TEST_F(TerminalTest, ProgressRunsToTheEnd) {
  Run(80, 24, "progress", "20 5");
  EXPECT_THAT(Results(), HasSubstr("taken 20\n"));
  ExpectRestored();
}

TEST_F(TerminalTest, TooSmallTerminalShowsANoticeAndTheListScrolls) {
  TmuxScreen& screen = Run(80, 24, "history");
  ASSERT_TRUE(WaitFor("Errors History"));
  screen.Resize(50, 20);
  ASSERT_TRUE(WaitFor("Terminal too small: 84x14 needed, 50x20 here"));
  screen.Resize(40, 10);  // narrower than the notice: it goes on two lines, numbers whole
  ASSERT_TRUE(WaitFor("Terminal too small: 84x14 needed,"));
  ASSERT_TRUE(WaitFor("40x10 here"));
  screen.Resize(80, 24);
  ASSERT_TRUE(WaitFor("Errors History"));
  EXPECT_THAT(screen.Screen(), HasSubstr("[ Ok ]   [ Help ]")) << "Help at the right end";
  screen.Keys("Tab");  // from the default button, OK, to the list
  for (int i = 0; i < 14; ++i) screen.Keys("Down");
  ASSERT_TRUE(WaitFor("Message number 14"));
  EXPECT_THAT(screen.Screen(), Not(HasSubstr("Message number 1 ")));
  screen.Keys("Enter");  // the list has the focus: Enter presses the default button
  const std::string results = Results();
  EXPECT_THAT(results, HasSubstr("selected 14\nanswer 1\n"));
  std::size_t sized = 0;
  for (std::size_t at = 0; (at = results.find("\n561 0\n", at)) != std::string::npos; ++at) ++sized;
  EXPECT_GE(sized, 3u) << "opening and each resize size the window";
}

TEST_F(TerminalTest, TerminalIsRestoredAfterAHaltASignalAndACrash) {
  Run(80, 24, "halt");
  ASSERT_TRUE(WaitFor("Purge Punches Through"));
  screen_->Keys("M-o");
  ASSERT_TRUE(WaitFor("Exiting Application"));
  screen_->Keys("Enter");
  ASSERT_TRUE(WaitFor("exit=3"));
  EXPECT_THAT(screen_->Screen(), HasSubstr("Exiting Application\nexit=3"));
  ExpectRestored();

  Run(80, 24, "progress", "1000 1");
  ASSERT_TRUE(WaitFor("Complete"));
  const std::string results = TmuxScreen::ReadFile(screen_->File("results"));
  std::system(("kill -TERM " + results.substr(4, results.find('\n') - 4)).c_str());
  ASSERT_TRUE(WaitFor("exit=143"));
  ExpectRestored();

  Run(80, 24, "crash");
  ASSERT_TRUE(WaitFor("Purge Punches Through"));
  screen_->Keys("M-o");
  ExpectRestored();
}

TEST_F(TerminalTest, WithoutATerminalTheBackendSaysSoInOneLine) {
  TempFolder folder("veltrane-terminal");
  const std::string err = (folder.Path() / "err").string();
  const std::string results = (folder.Path() / "results").string();
  const int status =
      std::system((driver_ + " dialog " + results + " </dev/null >/dev/null 2>" + err).c_str());
  EXPECT_NE(status, 0);
  EXPECT_EQ(TmuxScreen::ReadFile(err),
            "the terminal backend needs a terminal, and standard input or output is not one\n");
}

}  // namespace
}  // namespace rt
