// A real terminal for tests: a shell in a pseudo-terminal of a chosen size,
// run by a private tmux server (its own socket in a fresh folder, no user
// configuration). Tests type keys and mouse clicks into it and read the
// screen with capture-pane. Commands run through Run record the terminal's
// settings before and after and print "exit=N" when they end, so a test can
// check that a program gave the terminal back as it found it.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "tests/support/temp_folder.h"

class TmuxScreen {
 public:
  static bool Installed() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

  // Starts the server and the shell; Started() tells whether that worked.
  TmuxScreen(int cols, int rows) : tmux_("tmux -S " + File("tmux.sock") + " ") {
    started_ = Tmux("-u -f /dev/null new-session -d -x " + std::to_string(cols) + " -y " +
                    std::to_string(rows) + " \"env LANG=C.UTF-8 PS1='$ ' sh\"") == 0;
  }
  TmuxScreen(const TmuxScreen&) = delete;
  TmuxScreen& operator=(const TmuxScreen&) = delete;
  ~TmuxScreen() { Tmux("kill-server"); }

  bool Started() const { return started_; }
  // A file in the screen's own folder, for a program's results.
  std::string File(const std::string& name) const { return (folder_.Path() / name).string(); }

  // Clears the screen and runs a shell command line.
  void Run(const std::string& command) {
    std::filesystem::remove(File("after"));
    Keys("-l '" +
         ("stty -g >" + File("before") + "; clear; " + command + "; echo ex\"\"it=$?; stty -g >" +
          File("after")) +
         "'");
    Keys("Enter");
  }
  // Keys as tmux names them ("Tab", "BTab", "M-o", "Enter") or plain text.
  void Keys(const std::string& keys) { Tmux("send-keys " + keys); }
  // A left click at a screen cell (0-based), as a terminal reports it
  // (press and release, X10 encoding).
  void Click(int row, int col) {
    std::string hex;
    for (int button : {32, 35}) {
      const int bytes[] = {0x1b, '[', 'M', button, 33 + col, 33 + row};
      for (int b : bytes) {
        hex += ' ';
        hex += std::to_string(b / 16);
        hex += "0123456789abcdef"[b % 16];
      }
    }
    Tmux("send-keys -H" + hex);
  }
  void Resize(int cols, int rows) {
    Tmux("resize-window -x " + std::to_string(cols) + " -y " + std::to_string(rows));
  }

  // The screen as text, or with the terminal's attribute sequences.
  std::string Screen(bool colours = false) {
    const std::string file = File("screen");
    std::system((tmux_ + "capture-pane -p " + (colours ? "-e " : "") + ">" + file).c_str());
    return ReadFile(file);
  }
  // Waits up to 10 s for text on the screen; Shown() is then that screen, or
  // the last one seen.
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      shown_ = Screen();
      if (shown_.find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  const std::string& Shown() const { return shown_; }
  // Row and column (0-based, in characters) of text; -1, -1 when absent.
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
  // The attributes the terminal was told just before text, where text follows
  // a change of attributes ("1;4;31": bold, underlined, red); "" when it never
  // does.
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
  // After the command of Run ended: whether the terminal's settings are those
  // it had before (waits up to 5 s for the command to end).
  bool SettingsRestored() {
    for (int i = 0; i < 100 && ReadFile(File("after")).empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string after = ReadFile(File("after"));
    return !after.empty() && after == ReadFile(File("before"));
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  int Tmux(const std::string& arguments) {
    return std::system((tmux_ + arguments + " >/dev/null 2>&1").c_str());
  }

  TempFolder folder_{"veltrane-tmux"};
  std::string tmux_;
  std::string shown_;
  bool started_ = false;
};
