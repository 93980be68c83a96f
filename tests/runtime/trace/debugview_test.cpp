// veltrane-debugview as a real process: it prints what the channel carries,
// line by line as it arrives, refuses a second viewer on the same channel and
// ends cleanly on Ctrl+C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/trace/debug_output.h"

extern char** environ;

namespace {

std::string ViewerPath() {
  const char* dir = std::getenv("VELTRANE_TEST_BINARY_DIR");
  return dir ? std::string(dir) + "/tools/veltrane-debugview" : std::string();
}

// A running viewer with its standard output and error on pipes, or its
// output into the file `output`.
class ViewerProcess {
 public:
  explicit ViewerProcess(const std::vector<std::string>& args, const char* output = nullptr) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output)
      posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY, 0);
    else
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::string path = ViewerPath();
    std::vector<char*> argv{path.data()};
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~ViewerProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }

  bool Started() const { return pid_ > 0; }
  void Signal(int sig) { ::kill(pid_, sig); }
  std::optional<std::string> OutputLine() { return ReadLine(out_, outBuffer_); }
  std::optional<std::string> ErrorLine() { return ReadLine(err_, errBuffer_); }

  // The exit status, or nothing when the process has not ended within 10 s.
  std::optional<int> Wait() {
    for (int i = 0; i < 1000; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

 private:
  // One line without its '\n', waiting at most 10 s for it.
  static std::optional<std::string> ReadLine(int fd, std::string& buffer) {
    for (;;) {
      if (auto end = buffer.find('\n'); end != buffer.npos) {
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        return line;
      }
      pollfd wait{fd, POLLIN, 0};
      if (::poll(&wait, 1, 10000) <= 0) return std::nullopt;
      char chunk[4096];
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffer.append(chunk, static_cast<std::size_t>(got));
    }
  }

  pid_t pid_ = -1;
  bool exited_ = false;
  int out_ = -1;
  int err_ = -1;
  std::string outBuffer_;
  std::string errBuffer_;
};

// "1 line", "N lines".
std::string Lines(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " line" : " lines");
}

class DebugViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(ViewerPath()))
      GTEST_SKIP() << "veltrane-debugview is not built next to the tests (" << ViewerPath() << ")";
    channel_ = "veltrane-view-test-" + std::to_string(::getpid());
    rt::SetDebugChannelName(channel_);
  }
  void TearDown() override { rt::SetDebugChannelName(""); }

  std::string channel_;
};

TEST_F(DebugViewTest, PrintsEachLineAsItArrivesAndEndsCleanlyOnCtrlC) {
  ViewerProcess viewer({"--channel", channel_});
  ASSERT_TRUE(viewer.Started());
  // The viewer announces itself once the channel is bound.
  auto banner = viewer.ErrorLine();
  ASSERT_TRUE(banner.has_value());
  EXPECT_NE(banner->find("watching @" + channel_), std::string::npos) << *banner;

  const std::vector<std::pair<std::string, std::string>> lines = {
      {"[qv][1] TIM:DutyDate: 01/15/2024", "[qv][1] TIM:DutyDate: 01/15/2024"},
      {"[qv][1] Committing 150000", "[qv][1] Committing 150000"},
      {"[qv][1]", "[qv][1]"},
      {"tab\tstays, escape \x1b[2J does not", "tab\tstays, escape \\x1b[2J does not"},
      {"two\nlines", "two\\x0alines"},
      {"C1 \xc2\x9b" "2J too, not \xc3\xa9", "C1 \\xc2\\x9b2J too, not \xc3\xa9"},
  };
  for (const auto& [sent, shown] : lines) {
    rt::DebugOutput(sent);
    // Each line must be out before the next is sent: printed and flushed on arrival.
    EXPECT_EQ(viewer.OutputLine(), std::optional<std::string>(shown));
  }
  viewer.Signal(SIGINT);
  EXPECT_EQ(viewer.Wait(), std::optional<int>(0));
}

// Every line the viewer could not take is accounted for where it was lost,
// whether the viewer was stopped or its own output was not read, and even
// when the sender says nothing more after the gap.
TEST_F(DebugViewTest, SaysWhereLinesWereMissedAndHowManyInAll) {
  constexpr int kLines = 3000;  // more than the viewer's output pipe holds
  const std::string padding(50, '.');
  for (const bool stopped : {true, false}) {
    SCOPED_TRACE(stopped ? "viewer stopped" : "viewer's output not read");
    const std::string channel = channel_ + (stopped ? "-stopped" : "-blocked");
    rt::SetDebugChannelName(channel);
    ViewerProcess viewer({"--channel", channel});
    ASSERT_TRUE(viewer.Started());
    ASSERT_TRUE(viewer.ErrorLine().has_value());
    if (stopped) viewer.Signal(SIGSTOP);
    for (int i = 0; i < kLines; ++i) rt::DebugOutput(std::to_string(i) + padding);
    if (stopped) viewer.Signal(SIGCONT);
    std::uint64_t next = 0, missed = 0;
    while (next < kLines) {
      const std::optional<std::string> line = viewer.OutputLine();
      ASSERT_TRUE(line.has_value()) << "at line " << next;
      if (std::uint64_t n = 0; std::sscanf(line->c_str(), "veltrane-debugview: %lu line", &n) == 1) {
        EXPECT_EQ(*line, "veltrane-debugview: " + Lines(n) + " missed here");
        next += n;
        missed += n;
      } else {
        EXPECT_EQ(*line, std::to_string(next) + padding);
        ++next;
      }
    }
    EXPECT_EQ(next, static_cast<std::uint64_t>(kLines));
    EXPECT_GT(missed, 0u);
    rt::DebugOutput("after the gap");
    EXPECT_EQ(viewer.OutputLine(), std::optional<std::string>("after the gap"));
    viewer.Signal(SIGINT);
    EXPECT_EQ(viewer.Wait(), std::optional<int>(0));
    EXPECT_EQ(viewer.ErrorLine(), "veltrane-debugview: " + Lines(missed) +
                                      " missed in all (traced faster than they were read)");
  }
}

TEST_F(DebugViewTest, OutputThatCannotBeWrittenIsSaidAndEndsTheViewer) {
  ViewerProcess viewer({"--channel", channel_}, "/dev/full");
  ASSERT_TRUE(viewer.Started());
  ASSERT_TRUE(viewer.ErrorLine().has_value());
  rt::DebugOutput("[qv][1] Committing 150000");
  EXPECT_EQ(viewer.Wait(), std::optional<int>(3));
  EXPECT_EQ(viewer.ErrorLine(),
            "veltrane-debugview: cannot write the trace to standard output: No space left on device");
}

TEST_F(DebugViewTest, ASecondViewerOnTheSameChannelSaysSoAndExits) {
  ViewerProcess first({"--channel", channel_});
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(first.ErrorLine().has_value());

  ViewerProcess second({"--channel", channel_});
  ASSERT_TRUE(second.Started());
  EXPECT_EQ(second.Wait(), std::optional<int>(2));
  auto complaint = second.ErrorLine();
  ASSERT_TRUE(complaint.has_value());
  EXPECT_NE(complaint->find("another viewer is already watching"), std::string::npos) << *complaint;

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), std::optional<int>(0));
}

}  // namespace
