// SIGKILL at random moments of whole-program purges (--through, in a child
// process). After each kill every data file must pass PRAGMA integrity_check
// and Timecard must hold exactly the punches that no committed batch of
// 150000 removed (purge_model.h); exactly one number of batches must match.
// The next run goes on from what the kill
// left (a hot journal, scratch files of a dead process), up to three killed
// runs a purge, and a last run must finish the job and clear every leftover.
//
// The punch count and the number of kills are 200000 and 10 unless
// VELTRANE_KILL_PUNCHES and VELTRANE_KILLS say otherwise (tests/e2e/kill_many
// runs 50 kills on 1000000 by hand); VELTRANE_KILL_SEED repeats a run. The
// figures of every kill are printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/dates.h"
#include "tests/e2e/program_run.h"
#include "tests/e2e/purge_model.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr long kBatch = 150000;
const std::string kThrough = e2e::kPurgeThrough;

long Setting(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atol(value) : fallback;
}

// The size of the trace of `removals` removals: a date line and a count line
// each, and a line at every commit.
long TraceBytes(long removals) {
  long bytes = removals / kBatch * 26;
  for (long r = 1; r <= removals; ++r) bytes += 49 + static_cast<long>(std::to_string(r).size());
  return bytes;
}

// The last whole line of a trace file.
std::string LastLine(const fs::path& trace) {
  const std::string text = e2e::ReadFile(trace);
  const std::size_t end = text.rfind('\n');
  if (end == std::string::npos) return "";
  const std::size_t start = end == 0 ? std::string::npos : text.rfind('\n', end - 1);
  const std::size_t from = start == std::string::npos ? 0 : start + 1;
  return text.substr(from, end - from);
}

struct Kill {
  std::string Phase;
  double Seconds = 0;
  std::vector<std::string> Left;
};

class Kills : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    fs::create_directory(Dir());
    ASSERT_EQ(e2e::Run(Dir(), e2e::BuiltProgram("tools/veltrane-data"), {"init", "."}).Status, 0);
    {
      // Somewhat more than one batch is due.
      e2e::SqlFile timecard(Punches());
      ASSERT_EQ(e2e::AddPunches(timecard,
                                e2e::SpreadPunches(punches_, e2e::PurgeModel::CutOff(), 34)),
                "");
    }
    fs::copy_file(Punches(), Pristine());
    ASSERT_EQ(model_.Build(), "");
    due_ = model_.DueCount();
    ASSERT_GT(due_, kBatch) << "a batch must be committed before the end";
  }

  // The working folder; the test's own files are beside it.
  fs::path Dir() const { return folder_.Path() / "work"; }
  fs::path Beside(const std::string& name) const { return folder_.Path() / name; }
  fs::path Punches() const { return Dir() / "data" / "Timecard.DAT"; }
  fs::path Pristine() const { return Beside("pristine.DAT"); }
  fs::path Ranks() const { return Beside("ranks.db"); }
  fs::path TraceFile() const { return Beside("trace"); }

  // A copy of the data files as a kill left them, so that no check does the
  // next run's work: SQLite rolls a hot journal back in the copy, while the
  // real one stays for the program to meet.
  fs::path Snapshot(long kill) const {
    const fs::path copy = Beside("check" + std::to_string(kill));
    fs::copy(Dir() / "data", copy);
    return copy;
  }

  long Gone(const fs::path& copy, long goneBefore) const { return model_.Gone(copy, goneBefore); }
  // Checks the copy against the model, then removes it.
  bool Intact(const fs::path& copy, long gone) const {
    const bool intact = model_.Intact(copy, gone);
    fs::remove_all(copy);
    return intact;
  }

  // Runs veltrane until it ends or is killed: at a random point of the trace
  // that the removals of this run would write, or a moment after the last
  // of them (final commit, shut-down), or during start-up. One run in four
  // that commits batches before its end is killed while one of them commits
  // (a moment that a point drawn over the whole trace hardly ever meets).
  Kill KillARun(long goneBefore, std::mt19937& random) {
    const long batches = (due_ - goneBefore) / kBatch;
    auto draw = [&random](int from, int to) {
      return std::uniform_int_distribution<int>(from, to)(random);
    };
    const double share = std::uniform_real_distribution<double>(-0.05, 1.1)(random);
    long target =
        share <= 0 ? 0 : static_cast<long>(std::min(share, 1.0) * TraceBytes(due_ - goneBefore));
    int pauseMs = share <= 0 ? draw(0, 300) : share >= 1 ? draw(0, 400) : draw(0, 20);
    if (batches > 0 && draw(1, 4) == 1) {
      target = TraceBytes(draw(1, static_cast<int>(batches)) * kBatch);
      pauseMs = draw(0, 600);
    }
    fs::remove(TraceFile());
    const Clock::time_point start = Clock::now();
    const pid_t pid = e2e::Spawn(Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", kThrough},
                                 Beside("out"), Beside("err"),
                                 {"VELTRANE_TRACE_FILE=" + TraceFile().string()});
    int status = -1;
    std::error_code ignored;
    while (status < 0) {
      if (int s = 0; ::waitpid(pid, &s, WNOHANG) == pid)
        status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
      const auto size = fs::file_size(TraceFile(), ignored);
      if (status < 0 && !ignored && static_cast<long>(size) >= target) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (status < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      ::kill(pid, SIGKILL);
      status = e2e::WaitFor(pid);
    }
    Kill kill;
    kill.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    kill.Left = e2e::Leftovers(Dir());
    const std::string last = LastLine(TraceFile());
    kill.Phase = status != 128 + SIGKILL               ? "ended before the kill"
                 : last.empty()                        ? "start-up"
                 : last.ends_with("Committing 150000") ? "batch commit"
                 : last.ends_with("Removed:" + std::to_string(due_ - goneBefore))
                     ? "final commit, shut-down"
                     : "walk";
    if (status != 128 + SIGKILL) {
      EXPECT_EQ(status, 0) << e2e::ReadFile(Beside("err"));
    }
    return kill;
  }

  const long punches_ = Setting("VELTRANE_KILL_PUNCHES", 200000);
  long due_ = 0;
  TempFolder folder_{"veltrane-kills"};
  e2e::PurgeModel model_{Pristine(), Ranks(), kBatch};
};

TEST_F(Kills, EveryKillLeavesTheCommittedBatchesAndTheNextRunGoesOn) {
  const long kills = Setting("VELTRANE_KILLS", 10);
  const unsigned seed =
      static_cast<unsigned>(Setting("VELTRANE_KILL_SEED", std::random_device()()));
  std::mt19937 random(seed);
  std::printf("%ld punches, %ld due for removal; seed %u\n", punches_, due_, seed);
  std::map<std::string, int> phases;
  long gone = 0;  // due punches removed by committed batches so far
  // Runs since the untouched file was put back: after three killed runs the
  // purge starts over, so kills fall all over whole purges and not only on
  // what the first kills left to do.
  int runs = 0;
  // Each kill's files are checked while the next run goes on.
  std::future<bool> intact;
  long checked = 0;
  auto await = [&] {
    if (intact.valid()) {
      EXPECT_TRUE(intact.get()) << "kill " << checked << " lost or kept punches";
    }
  };
  for (long i = 1; i <= kills; ++i) {
    if (gone == due_ || runs == 3) {
      fs::copy_file(Pristine(), Punches(), fs::copy_options::overwrite_existing);
      fs::remove(Punches().string() + "-journal");
      gone = 0;
      runs = 0;
    }
    ++runs;
    const Kill kill = KillARun(gone, random);
    const fs::path copy = Snapshot(i);
    const long now = Gone(copy, gone);
    ASSERT_GE(now, 0) << "kill " << i << " (" << kill.Phase
                      << ") left a number of punches no number of committed batches leaves";
    std::string left;
    for (const std::string& name : kill.Left) left += " " + name;
    std::printf("kill %2ld  run %d  %-24s %ld batch(es) committed  %6.2f s  left:%s\n", i, runs,
                kill.Phase.c_str(), (now - gone + kBatch - 1) / kBatch, kill.Seconds, left.c_str());
    if (kill.Phase == "ended before the kill") {
      EXPECT_EQ(now, due_);
    }
    ++phases[kill.Phase];
    gone = now;
    await();
    intact = std::async(std::launch::async, [this, copy, now] { return Intact(copy, now); });
    checked = i;
  }
  await();
  for (const auto& [phase, count] : phases) std::printf("%-24s %d\n", phase.c_str(), count);

  // The next run finishes the job and clears what the killed runs left.
  const Clock::time_point start = Clock::now();
  const e2e::RunResult last =
      e2e::Run(Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", kThrough});
  std::printf("last run: %.2f s\n", std::chrono::duration<double>(Clock::now() - start).count());
  EXPECT_EQ(last.Status, 0) << last.Err;
  const fs::path copy = Snapshot(kills + 1);
  EXPECT_EQ(Gone(copy, gone), due_);
  EXPECT_TRUE(Intact(copy, due_));
  EXPECT_EQ(e2e::Leftovers(Dir()), std::vector<std::string>{});
}

}  // namespace
