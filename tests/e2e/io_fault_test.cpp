// I/O errors and power cuts at any I/O call of a purge and of a relation
// cascade, through the test OS layer under the program
// (tests/support/io_fault_layer.h, tests/e2e/io_faults). One driver for
// every kind: a run with the layer counting lists the I/O calls; then one
// run per chosen call N makes call N fail (once, or from then on, in turn)
// or cuts the power there (the unsynced writes dropped, kept in part or a
// page torn, in turn). Every call inside a commit is chosen when the runs
// allow it, the others evenly over the rest of the run. After each run:
//   - a run the fault reached reports an error or was ended by the cut; a
//     run that says it finished did all of its work, and an unattended
//     summary never counts a punch the file still holds;
//   - with the layer gone, every data file passes integrity_check and the
//     files hold what whole commits leave: for the purge, the punches after
//     a whole number of batches in key order (purge_model.h) and those the
//     summary says could not be removed (a delete that failed alone); for the
//     cascade, the employee with all its punches in every file or none of
//     them anywhere (one commit over several files);
//   - a rerun finishes the job and leaves nothing behind.
// Runs per kind: VELTRANE_IO_COMMIT_RUNS in commits (-1 for every call in
// every way) and VELTRANE_IO_OTHER_RUNS elsewhere, 12 and 12 unless set (a
// sample; tests/e2e/io_fault_sweep runs the full sweep). The figures are printed:
// runs, how they ended, the commits they left, the distinct call sites hit.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/program_run.h"
#include "tests/e2e/purge_model.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr long kBatch = 80;      // removals a batch commits here
constexpr long kPunches = 300;   // of which 232 are due: two full batches and one of 72
constexpr int kCompany = 1;      // the cascade deletes this employee...
constexpr int kCard = 1000;      // ... of the three that veltrane-data generates

enum class Work { Purge, Cascade };
enum class Kind { Errors, PowerCuts };
struct Sweep {
  Work Of;
  Kind Way;
  const char* Name;
};

// Test names and listings show the sweep's name, not its bytes.
void PrintTo(const Sweep& sweep, std::ostream* out) { *out << sweep.Name; }

long Setting(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atol(value) : fallback;
}

// A counted call of the layer's log.
struct IoCall {
  long Number = 0;
  bool InCommit = false;
};

// The plan for call `n`, the i-th run of its kind.
std::string PlanFor(Kind kind, long n, long i) {
  static const char* const kErrors[] = {"fail-once", "fail-on"};
  static const char* const kCuts[] = {"cut-drop", "cut-keep", "cut-tear"};
  if (kind == Kind::Errors) return std::string(kErrors[i % 2]) + ":" + std::to_string(n);
  return std::string(kCuts[i % 3]) + ":" + std::to_string(n) + ":" + std::to_string(i + 1);
}

// The calls to strike: `commitRuns` of the calls inside commits (-1: every
// one), each in every way of its kind (`ways` runs in a row), and
// `otherRuns` of the others, evenly over the run.
std::vector<long> Choose(const std::vector<IoCall>& calls, long commitRuns, long otherRuns,
                         int ways) {
  std::vector<long> inCommit, outside;
  for (const IoCall& call : calls) {
    if (!call.InCommit) outside.push_back(call.Number);
    for (int w = 0; call.InCommit && w < ways; ++w) inCommit.push_back(call.Number);
  }
  auto spread = [](const std::vector<long>& from, long count, std::vector<long>& into) {
    count = count < 0 ? static_cast<long>(from.size())
                      : std::min(count, static_cast<long>(from.size()));
    for (long k = 0; k < count; ++k)
      into.push_back(from[k * static_cast<long>(from.size()) / count]);
  };
  std::vector<long> chosen;
  spread(inCommit, commitRuns, chosen);
  spread(outside, otherRuns, chosen);
  return chosen;
}

class IoFaults : public ::testing::TestWithParam<Sweep> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    fs::create_directory(Master());
    const fs::path data = e2e::BuiltProgram("tools/veltrane-data");
    ASSERT_EQ(e2e::Run(Master(), data, {"init", "."}).Status, 0);
    if (GetParam().Of == Work::Purge) {
      {
        e2e::SqlFile timecard(Master() / "data" / "Timecard.DAT");
        ASSERT_EQ(e2e::AddPunches(timecard,
                                  e2e::SpreadPunches(kPunches, e2e::PurgeModel::CutOff(), 34)),
                  "");
      }
      fs::copy_file(Master() / "data" / "Timecard.DAT", Beside("pristine.DAT"));
      ASSERT_EQ(model_.Build(), "");
      ASSERT_GT(model_.DueCount(), kBatch);
    } else {
      ASSERT_EQ(e2e::Run(Master(), data,
                         {"generate", ".", "--punches", "300", "--companies", "1", "--cards", "3",
                          "--seed", "1"})
                    .Status,
                0);
      // The employee's punches in history too: the cascade changes three files.
      e2e::SqlFile history(Master() / "data" / "HTimecard.DAT");
      ASSERT_EQ(history.Exec("ATTACH '" + (Master() / "data" / "Timecard.DAT").string() +
                             "' AS t; INSERT INTO HTimecard SELECT COMPANY, DUTYDATE, PUNCH_TIME, "
                             "EMP_CARD, PUNCHLOC, PUNCHTYPE, PUNCH_TIME_DEC, ORIGIN, PUNCHDATE "
                             "FROM t.Timecard WHERE EMP_CARD <= " + std::to_string(kCard + 1)),
                "");
      before_ = Records(Master() / "data");
      ASSERT_GT(before_[0], 0);
      ASSERT_GT(before_[3], 0);
    }
  }

  fs::path Master() const { return folder_.Path() / "master"; }
  fs::path Dir() const { return folder_.Path() / "work"; }
  fs::path Beside(const std::string& name) const { return folder_.Path() / name; }
  fs::path Log() const { return Beside("io.log"); }

  // A run of the program over the layer with `plan` ("" for none).
  e2e::RunResult Launch(const std::string& plan) {
    std::vector<std::string> args = {"--through", e2e::kPurgeThrough};
    if (GetParam().Of == Work::Cascade)
      args = {"--cascade", std::to_string(kCompany), std::to_string(kCard)};
    std::vector<std::string> env = {"VELTRANE_TEST_BATCH=" + std::to_string(kBatch)};
    if (!plan.empty()) {
      env.push_back("VELTRANE_IO_FAULT=" + plan);
      env.push_back("VELTRANE_IO_LOG=" + Log().string());
    }
    fs::remove(Log());
    return e2e::Run(Dir(), e2e::BuiltProgram("tests/veltrane_under_faults"), args, env);
  }

  // For the cascade, in the files of `folder`: the employee's records in
  // Employee, Timecard and HTimecard, then every other record of the three.
  std::vector<long> Records(const fs::path& folder) const {
    std::vector<long> counts;
    const std::string mine = "COMPANY = " + std::to_string(kCompany) + " AND ";
    for (const auto& [file, card] : std::vector<std::pair<std::string, std::string>>{
             {"Employee", "CARDNO"}, {"Timecard", "EMP_CARD"}, {"HTimecard", "EMP_CARD"}}) {
      e2e::SqlFile sql(folder / (file + ".DAT"));
      const std::string where = mine + card + " = " + std::to_string(kCard);
      counts.push_back(sql.Number("SELECT count(*) FROM " + file + " WHERE " + where));
      counts.push_back(sql.Number("SELECT count(*) FROM " + file + " WHERE NOT (" + where + ")"));
    }
    return {counts[0], counts[2], counts[4], counts[1] + counts[3] + counts[5]};
  }

  // Checks what a run left in a copy of the data (a hot journal rolled back
  // there, the real one left for the rerun) and returns the commits it
  // left: for the purge the due punches gone, for the cascade 0 before and
  // 1 after; -1 when the files hold what no whole commits leave. `claimed`
  // and `skipped`: the punches the run's summary says it removed and could
  // not remove.
  long Check(long claimed, long skipped) {
    const fs::path copy = Beside("check");
    fs::remove_all(copy);
    fs::copy(Dir() / "data", copy);
    long result = -1;
    if (GetParam().Of == Work::Purge) {
      const long gone = model_.Gone(copy, 0, skipped);
      if (gone >= 0 && model_.Intact(copy, gone, skipped)) result = gone;
      EXPECT_LE(claimed, result) << "the summary counted punches still in the file";
    } else {
      const std::vector<long> now = Records(copy);
      const std::vector<long> after = {0, 0, 0, before_[3]};
      if (e2e::AllIntact(copy) && (now == before_ || now == after)) result = now == after;
      EXPECT_TRUE(result >= 0) << "employee, punches, history, others: " << now[0] << " "
                               << now[1] << " " << now[2] << " " << now[3];
    }
    fs::remove_all(copy);
    return result;
  }

  long Finished() const {
    return GetParam().Of == Work::Purge ? model_.DueCount() : 1;
  }

  TempFolder folder_{"veltrane-io-faults"};
  e2e::PurgeModel model_{Beside("pristine.DAT"), Beside("ranks.db"), kBatch};
  std::vector<long> before_;
};

// The last line of a program's error output, each number as #.
std::string LastLine(const std::string& err) {
  std::istringstream in(err);
  std::string line, last, shape;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  for (char c : last)
    if (c < '0' || c > '9') shape += c;
    else if (shape.empty() || shape.back() != '#') shape += '#';
  return shape;
}

// The figures of an unattended summary ("removed N punches ...; K due for
// removal could not be removed", or "... after removing N punches ..."):
// N and K, 0 for what it does not say.
std::pair<long, long> Summary(const std::string& err) {
  const std::size_t line = err.rfind("veltrane: ");
  if (line == std::string::npos) return {0, 0};
  const std::size_t removed = err.find_first_of("0123456789", line);
  const std::size_t skipped = err.find("; ", line);
  return {removed == std::string::npos ? 0 : std::atol(err.c_str() + removed),
          skipped == std::string::npos ? 0 : std::atol(err.c_str() + skipped + 2)};
}

TEST_P(IoFaults, EveryFaultLeavesWholeCommitsAndARerunFinishes) {
  const Sweep sweep = GetParam();
  // The calls of an untroubled run.
  fs::copy(Master(), Dir(), fs::copy_options::recursive);
  const e2e::RunResult counted = Launch("count");
  ASSERT_EQ(counted.Status, 0) << counted.Err;
  std::vector<IoCall> calls;
  {
    std::istringstream log(e2e::ReadFile(Log()));
    std::string word, kind, role, site;
    IoCall call;
    int inCommit = 0;
    while (log >> word >> call.Number >> kind >> role >> site >> inCommit) {
      call.InCommit = inCommit == 1;
      calls.push_back(call);
    }
  }
  const long commitCalls = std::count_if(calls.begin(), calls.end(),
                                         [](const IoCall& c) { return c.InCommit; });
  ASSERT_GT(commitCalls, 0);
  ASSERT_EQ(Check(0, 0), Finished());
  fs::remove_all(Dir());

  const std::vector<long> chosen =
      Choose(calls, Setting("VELTRANE_IO_COMMIT_RUNS", 12), Setting("VELTRANE_IO_OTHER_RUNS", 12),
             sweep.Way == Kind::Errors ? 2 : 3);
  std::map<std::string, int> endings;
  std::map<long, int> left;
  std::set<std::string> sites;  // "KIND ROLE SITE"
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    fs::copy(Master(), Dir(), fs::copy_options::recursive);
    const std::string plan = PlanFor(sweep.Way, chosen[i], static_cast<long>(i));
    const e2e::RunResult run = Launch(plan);
    const std::string fault = e2e::ReadFile(Log());
    SCOPED_TRACE(plan + ": " + fault + run.Err);
    if (!fault.empty()) sites.insert(fault.substr(fault.find(' ', 6) + 1));
    const auto [claimed, skipped] = Summary(run.Err);
    const long now = Check(claimed, skipped);
    ASSERT_GE(now, 0) << "the files hold what no whole number of commits leaves";
    if (sweep.Way == Kind::PowerCuts && !fault.empty()) {
      EXPECT_EQ(run.Status, 128 + SIGKILL);
    } else if (run.Status == 0) {
      EXPECT_EQ(now, Finished()) << "success claimed for work not done";
    } else {
      EXPECT_EQ(run.Status, 3);
      EXPECT_FALSE(run.Err.empty()) << "an error without a word";
    }
    ++endings[run.Status == 0 ? "finished" : run.Status == 3 ? "error: " + LastLine(run.Err) : "power cut"];
    ++left[now];
    // After the reboot, or with the fault gone, a rerun finishes the job.
    const e2e::RunResult rerun = Launch("");
    ASSERT_EQ(rerun.Status, 0) << rerun.Err;
    ASSERT_EQ(Check(0, 0), Finished());
    // A journal of a commit that ended (its super-journal gone) stays until
    // the file is next opened; the rerun of a cascade that had committed
    // opens none of the files it spans.
    for (const auto& entry : fs::directory_iterator(Dir() / "data"))
      if (entry.path().extension() == ".DAT")
        e2e::SqlFile(entry.path()).Exec("SELECT count(*) FROM sqlite_master");
    EXPECT_EQ(e2e::Leftovers(Dir()), std::vector<std::string>{});
    fs::remove_all(Dir());
  }
  std::printf("%s: %zu calls, %ld in commits; %zu runs, %zu distinct call sites hit\n", sweep.Name,
              calls.size(), commitCalls, chosen.size(), sites.size());
  std::map<std::string, int> kinds;
  for (const std::string& site : sites) ++kinds[site.substr(0, site.rfind(' '))];
  std::printf("  sites:");
  for (const auto& [kind, count] : kinds) std::printf(" %s %d;", kind.c_str(), count);
  std::printf("\n");
  for (const auto& [ending, count] : endings) std::printf("  %5d %s\n", count, ending.c_str());
  for (const auto& [commits, count] : left)
    std::printf("  left %s %ld: %d\n", sweep.Of == Work::Purge ? "punches gone" : "commits", commits,
                count);
}

INSTANTIATE_TEST_SUITE_P(
    Sweeps, IoFaults,
    ::testing::Values(Sweep{Work::Purge, Kind::Errors, "PurgeErrors"},
                      Sweep{Work::Purge, Kind::PowerCuts, "PurgePowerCuts"},
                      Sweep{Work::Cascade, Kind::Errors, "CascadeErrors"},
                      Sweep{Work::Cascade, Kind::PowerCuts, "CascadePowerCuts"}),
    [](const ::testing::TestParamInfo<Sweep>& info) { return std::string(info.param.Name); });

}  // namespace
