// The terminal backend in a real pseudo-terminal: the window driver program
// runs in a shell inside a private tmux server; the tests type keys and
// mouse clicks into it, read the screen with capture-pane and check what the
// windows gave back in the driver's results file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"

namespace rt {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

class TerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v tmux >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "tmux is not installed";
    const char* build = std::getenv("VELTRANE_TEST_BINARY_DIR");
    ASSERT_NE(build, nullptr) << "VELTRANE_TEST_BINARY_DIR is not set";
    driver_ = std::string(build) + "/tests/terminal_window_driver";
    tmux_ = "tmux -S " + File("tmux.sock") + " ";
  }
  void TearDown() override {
    if (tmux_.empty()) return;
    Tmux("kill-server");
    std::filesystem::remove(File("tmux.sock"));  // the next server starts afresh
  }

  int Tmux(const std::string& arguments) {
    return std::system((tmux_ + arguments + " >/dev/null 2>&1").c_str());
  }

  // A shell in a cols x rows terminal that records its terminal settings,
  // runs the driver and says how it ended.
  void Run(int cols, int rows, const std::string& scenario, const std::string& arguments = {}) {
    std::filesystem::remove(File("results"));
    std::filesystem::remove(File("after"));
    ASSERT_EQ(Tmux("-u -f /dev/null new-session -d -x " + std::to_string(cols) + " -y " +
                   std::to_string(rows) + " \"env LANG=C.UTF-8 PS1='$ ' sh\""),
              0);
    Keys("-l " + Quoted("stty -g >" + File("before") + "; clear; " + driver_ + " " + scenario +
                        " " + File("results") + " " + arguments + "; echo ex\"\"it=$?; stty -g >" +
                        File("after")));
    Keys("Enter");
  }
  void Keys(const std::string& keys) { Tmux("send-keys " + keys); }
  // A left click at a screen cell (0-based), as the terminal reports it.
  void Click(int row, int col) {
    std::string hex;
    for (int button : {32, 35}) {
      const int bytes[] = {0x1b, '[', 'M', button, 33 + col, 33 + row};
      for (int b : bytes) hex += " " + std::to_string(b / 16) + "0123456789abcdef"[b % 16];
    }
    Tmux("send-keys -H" + hex);
  }
  std::string Screen(bool colours = false) {
    const std::string file = File("screen");
    std::system((tmux_ + "capture-pane -p " + (colours ? "-e " : "") + ">" + file).c_str());
    return ReadFile(file);
  }
  // Waits up to 10 s for text on the screen; shown_ keeps that screen.
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      shown_ = Screen();
      if (shown_.find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "\"" << text << "\" never showed; the screen:\n" << Screen();
    return false;
  }
  // Screen row and column of text (-1 when absent); columns count characters.
  std::pair<int, int> Find(const std::string& text) {
    std::istringstream lines(Screen());
    std::string line;
    for (int row = 0; std::getline(lines, line); ++row)
      if (auto at = line.find(text); at != std::string::npos) {
        int col = 0;
        for (std::size_t i = 0; i < at; ++i)
          col += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        return {row, col};
      }
    return {-1, -1};
  }
  // The attributes the terminal was told just before text, where text
  // follows a change of attributes ("" when it never does).
  std::string StyleOf(const std::string& text) {
    const std::string screen = Screen(true);
    for (std::size_t at = screen.find(text); at != std::string::npos;
         at = screen.find(text, at + 1)) {
      std::string style;
      std::size_t end = at;
      while (end > 0 && screen[end - 1] == 'm') {
        const std::size_t start = screen.rfind("\033[", end - 1);
        if (start == std::string::npos) break;
        style = screen.substr(start + 2, end - 1 - start - 2) + (style.empty() ? "" : ";" + style);
        end = start;
      }
      if (!style.empty()) return style;
    }
    return {};
  }
  // What the driver wrote, once it has ended.
  std::string Results() {
    WaitFor("exit=");
    return ReadFile(File("results"));
  }
  // The terminal settings are the shell's again and the windows are gone.
  void ExpectRestored() {
    WaitFor("exit=");
    for (int i = 0; i < 100 && ReadFile(File("after")).empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReadFile(File("after")), ReadFile(File("before")));
    EXPECT_THAT(Screen(), Not(HasSubstr("\u2502"))) << "a window is still on the screen";
  }

  std::string File(const std::string& name) const { return (folder_.Path() / name).string(); }

  TempFolder folder_{"veltrane-terminal"};
  std::string driver_, tmux_, shown_;
};

TEST_F(TerminalTest, CutoffDialogIsCentredRefuses2024AndTakesATypedDate) {
  Run(80, 24, "dialog");
  ASSERT_TRUE(WaitFor("Purge Punches Through"));
  const auto [top, left] = Find("\u250C");
  const auto [bottom, right] = Find("\u2518");
  EXPECT_NEAR(left + right, 79, 1) << "centred across";
  EXPECT_NEAR(top + bottom, 23, 1) << "centred down";
  EXPECT_THAT(Screen(), HasSubstr("Last Date Of A Period  mm/dd/yyyy"));
  EXPECT_THAT(Screen(), HasSubstr("[ OK ]     [ Cancel ]"));
  Keys("BTab BTab 1/1/2024 M-o");  // back over the calendar button to the entry; Alt+O is OK
  ASSERT_TRUE(WaitFor("Date Not acceptable. Pick a date prior 01/2024."));
  Keys("Enter 12/31/2023 M-o");  // the refusal gave the entry the focus back
  EXPECT_THAT(Results(), HasSubstr("\nresponse 1\nlastDate 12/31/2023\nend\n"));
  ExpectRestored();
}

TEST_F(TerminalTest, CalendarMovesByArrowKeysWithRedWeekendsAndBoldToday) {
  Run(80, 24, "dialog");
  ASSERT_TRUE(WaitFor("Purge Punches Through"));
  Keys("BTab BTab 2/27/2020 Tab Enter");
  ASSERT_TRUE(WaitFor("February 2020"));
  // Saturday the 29th in red, the current day in bold (with underline).
  EXPECT_EQ(StyleOf("29"), "31");
  EXPECT_EQ(StyleOf("27"), "1;4");
  EXPECT_THAT(Screen(), HasSubstr("Sun  Mon  Tue  Wed  Thu  Fri  Sat"));
  Keys("Right Right Down");
  ASSERT_TRUE(WaitFor("March 2020"));
  EXPECT_EQ(StyleOf(" 7"), "1;4;31") << "Saturday the 7th, the current day";
  Keys("c");  // the plain letter of "&Close": no entry has the focus
  ASSERT_TRUE(WaitFor("03/07/2020"));
  Keys("Escape");
  EXPECT_THAT(Results(), HasSubstr("response 2\nlastDate 03/07/2020\n"));
}

TEST_F(TerminalTest, ProgressBarAdvancesAndAClickOnCancelStopsIt) {
  Run(200, 60, "progress", "200 5");
  ASSERT_TRUE(WaitFor("10% Complete"));
  EXPECT_THAT(shown_, HasSubstr("\u2588\u2588\u258E\u2591"));  // 10% of 23 cells, in eighths
  EXPECT_THAT(shown_, HasSubstr("\u2591  10%"));
  const auto [row, col] = Find("[ Cancel ]");
  ASSERT_GE(row, 0);
  Click(row, col + 3);
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
  Run(80, 24, "history");
  ASSERT_TRUE(WaitFor("Errors History"));
  Tmux("resize-window -x 50 -y 20");
  ASSERT_TRUE(WaitFor("Terminal too small: 84x14 needed, 50x20 here"));
  Tmux("resize-window -x 80 -y 24");
  ASSERT_TRUE(WaitFor("Errors History"));
  for (int i = 0; i < 14; ++i) Keys("Down");
  ASSERT_TRUE(WaitFor("Message number 14"));
  EXPECT_THAT(Screen(), Not(HasSubstr("Message number 1 ")));
  Keys("Enter");  // the list has the focus: Enter presses the default button
  const std::string results = Results();
  EXPECT_THAT(results, HasSubstr("answer 1\nselected 14\n"));
  std::size_t sized = 0;
  for (std::size_t at = 0; (at = results.find("\n561 0\n", at)) != std::string::npos; ++at) ++sized;
  EXPECT_GE(sized, 3u) << "opening and each resize size the window";
}

TEST_F(TerminalTest, TerminalIsRestoredAfterAHaltASignalAndACrash) {
  Run(80, 24, "halt");
  ASSERT_TRUE(WaitFor("Purge Punches Through"));
  Keys("M-o");
  ASSERT_TRUE(WaitFor("Exiting Application"));
  Keys("Enter");
  ASSERT_TRUE(WaitFor("exit=3"));
  EXPECT_THAT(Screen(), HasSubstr("Exiting Application\nexit=3"));
  ExpectRestored();
  TearDown();

  Run(80, 24, "progress", "1000 1");
  ASSERT_TRUE(WaitFor("Complete"));
  const std::string results = ReadFile(File("results"));
  std::system(("kill -TERM " + results.substr(4, results.find('\n') - 4)).c_str());
  ASSERT_TRUE(WaitFor("exit=143"));
  ExpectRestored();
  TearDown();

  Run(80, 24, "crash");
  ASSERT_TRUE(WaitFor("Purge Punches Through"));
  Keys("M-o");
  ExpectRestored();
}

TEST_F(TerminalTest, WithoutATerminalTheBackendSaysSoInOneLine) {
  const std::string err = File("err");
  const int status = std::system(
      (driver_ + " dialog " + File("results") + " </dev/null >/dev/null 2>" + err).c_str());
  EXPECT_NE(status, 0);
  EXPECT_EQ(ReadFile(err),
            "the terminal backend needs a terminal, and standard input or output is not one\n");
}

}  // namespace
}  // namespace rt
