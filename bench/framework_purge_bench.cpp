// What the data access framework adds to the purge's data work: the walk of
// driver_purge_bench run twice, in one process, on identical copies of one
// Timecard file,
//   raw        a view over Timecard in TIM:KEYCOMPDATECARDPTIME order read with
//              rt::FileNext; for each punch on or before the cut-off the four
//              key fields copied to AliasTimeCard, rt::FileGetByKey and
//              rt::FileDelete there;
//   framework  the same walk through ViewReader::Next and, on the alias,
//              FileManager::Fetch, with the dictionary built as the main
//              routine builds it, both files opened through their relation
//              managers, the managers receiving the runtime callbacks of
//              every operation and the file registry tracking scopes under the
//              procedure name "Main", as in the purge;
// both with the same view batch, committing every 150000 removals and at the
// end. The two alternate which goes first, so neither always meets the warmer
// page cache.
//
// The file: VELTRANE_BENCH_PUNCHES punches (default 1,000,000) made by
// veltrane-data generate (seed 1), kept between runs in the same place as
// driver_purge_bench keeps it; the cut-off is the median duty date.
// VELTRANE_BENCH_READAHEAD sets the view batch (default 100, as there).
// Counters: raw_s and framework_s, wall-clock seconds (means over the
// iterations), and framework/raw; the same in processor seconds (raw_cpu_s,
// framework_cpu_s, cpu_framework/raw), which other work on the machine
// disturbs less; removed. Each walk's times also go to standard error.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "access/view_reader.h"
#include "app/dictionary.h"
#include "bench/generated_punches.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/schema.h"
#include "errors/error_manager.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"

namespace {

namespace fs = std::filesystem;
namespace tim = app::tim;

constexpr long kCommitEvery = 150000;

void Fail(const std::string& what) {
  std::cerr << "framework_purge: " << what << ": " << rt::ErrorCode() << " " << rt::ErrorText()
            << "\n";
  std::exit(1);
}

// What both walks do per punch and per batch.
class Removal {
 public:
  Removal(rt::File& timecard, rt::File& alias) : timecard_(timecard), alias_(alias) {}

  void Begin() {
    rt::TxBegin(2, timecard_);
    rt::TxBegin(2, alias_);
    if (rt::ErrorCode() != 0) Fail("begin");
  }
  void CopyKey() {
    for (int field : {tim::kCompany, tim::kDutyDate, tim::kEmpCard, tim::kPunchTime})
      alias_.Field(field).SetFrom(timecard_.Field(field));
  }
  // Deletes the alias's current record; commits and begins at every batch.
  void Delete() {
    rt::FileDelete(alias_);
    if (rt::ErrorCode() != 0) Fail("delete");
    if (++removed_ % kCommitEvery == 0) {
      rt::TxCommit();
      if (rt::ErrorCode() != 0) Fail("commit");
      Begin();
    }
  }
  void End() {
    rt::TxCommit();
    if (rt::ErrorCode() != 0) Fail("commit");
  }
  long Removed() const { return removed_; }

 private:
  rt::File& timecard_;
  rt::File& alias_;
  long removed_ = 0;
};

long RawWalk(std::int32_t cutOff, long readAhead) {
  rt::File& timecard = rt::FileOf(app::TimecardFile());
  rt::File& alias = rt::FileOf(app::AliasTimeCardFile());
  for (rt::File* file : {&timecard, &alias}) {
    rt::FileOpen(*file);
    if (rt::ErrorCode() != 0) Fail("open");
  }
  Removal removal(timecard, alias);
  {
    rt::View view(timecard);
    rt::ViewSetProperty(view, rt::kPropOrder, "TIM:COMPANY,TIM:DUTYDATE,TIM:EMP_CARD,TIM:PUNCH_TIME");
    rt::FileOpen(view);
    rt::FileBuffer(view, static_cast<int>(readAhead), 2, 0, 60);
    rt::ViewSetStart(view, 0);
    if (rt::ErrorCode() != 0) Fail("view");
    removal.Begin();
    for (rt::FileNext(view); rt::ErrorCode() == 0; rt::FileNext(view)) {
      if (timecard.Field(tim::kDutyDate).GetInt() > cutOff) continue;
      removal.CopyKey();
      rt::FileGetByKey(alias, tim::kKeyCompDateCardPtime);
      if (rt::ErrorCode() != 0) Fail("fetch");
      removal.Delete();
    }
    if (rt::ErrorCode() != rt::kRecordNotAvailable) Fail("walk");
    removal.End();
    rt::FileClose(view);
  }
  rt::FileClose(alias);
  rt::FileClose(timecard);
  return removal.Removed();
}

long FrameworkWalk(std::int32_t cutOff, long readAhead) {
  app::DictionaryInit();
  app::GlobalErrors()->PushProcedureName("Main");
  dataaccess::RelationManager& timecardRelations = *app::RelationManagerOf(app::TimecardFile());
  dataaccess::RelationManager& aliasRelations = *app::RelationManagerOf(app::AliasTimeCardFile());
  dataaccess::FileManager& aliasManager = *app::FileManagerOf(app::AliasTimeCardFile());
  rt::File& timecard = *timecardRelations.Me->File;
  rt::File& alias = *aliasManager.File;
  if (aliasRelations.Open(0) != errors::LevelBenign) Fail("open");
  if (timecardRelations.Open(0) != errors::LevelBenign) Fail("open");
  Removal removal(timecard, alias);
  {
    rt::View view(timecard);
    dataaccess::ViewReader reader;
    reader.Init(view, timecardRelations);
    reader.AddSortOrder(tim::kKeyCompDateCardPtime);
    reader.PageSize = static_cast<std::uint16_t>(readAhead);
    reader.Reset();
    removal.Begin();
    int level;
    while ((level = reader.Next()) == errors::LevelBenign) {
      if (timecard.Field(tim::kDutyDate).GetInt() > cutOff) continue;
      removal.CopyKey();
      if (aliasManager.Fetch(tim::kKeyCompDateCardPtime) != errors::LevelBenign) Fail("fetch");
      removal.Delete();
    }
    if (level != errors::LevelNotify) Fail("walk");
    removal.End();
    reader.Kill();
  }
  aliasRelations.Close(0);
  timecardRelations.Close(0);
  app::GlobalErrors()->PopProcedureName();
  app::DictionaryKill();
  return removal.Removed();
}

// Wall-clock and processor seconds of `work`.
struct Seconds {
  double Wall = 0, Cpu = 0;
  Seconds& operator+=(const Seconds& other) {
    Wall += other.Wall;
    Cpu += other.Cpu;
    return *this;
  }
};

Seconds SecondsOf(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpuStart = std::clock();
  work();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC};
}

void FrameworkVersusRawPurge(benchmark::State& state) {
  const long punches = bench::EnvNumber("VELTRANE_BENCH_PUNCHES", 1000000);
  const long readAhead = bench::EnvNumber("VELTRANE_BENCH_READAHEAD", 100);
  const fs::path master = bench::GeneratedPunches(punches);
  const std::int32_t cutOff = bench::MedianDutyDate(master, punches);

  // The process-wide objects and the thread's files, as the main routine has
  // them; each walk runs in a folder of its own with a fresh copy.
  bench::ProgramObjects program;
  rt::HeadlessBackend& backend = program.backend;
  const fs::path home = fs::current_path();
  const fs::path work = master.parent_path().parent_path() / "framework-run";

  Seconds raw, framework;
  long rawRemoved = 0, frameworkRemoved = 0;
  bool rawFirst = true;
  for (auto _ : state) {
    Seconds frameworkSeconds;
    for (bool rawTurn : {rawFirst, !rawFirst}) {
      fs::remove_all(work);
      fs::create_directories(work / "data");
      fs::copy_file(master, work / "data" / "Timecard.DAT");
      ::sync();
      fs::current_path(work);
      Seconds took;
      if (rawTurn) {
        took = SecondsOf([&] { rawRemoved = RawWalk(cutOff, readAhead); });
        raw += took;
      } else {
        took = frameworkSeconds = SecondsOf([&] { frameworkRemoved = FrameworkWalk(cutOff, readAhead); });
        framework += took;
      }
      std::cerr << (rawTurn ? "raw       " : "framework ") << took.Wall << " s, processor "
                << took.Cpu << " s\n";
      fs::current_path(home);
    }
    state.SetIterationTime(frameworkSeconds.Wall);
    rawFirst = !rawFirst;
  }
  if (rawRemoved != frameworkRemoved) Fail("the walks removed different counts");
  if (!backend.MessageBoxes().empty()) Fail("the framework showed " + backend.MessageBoxes()[0].Caption);
  const double runs = static_cast<double>(state.iterations());
  state.counters["raw_s"] = raw.Wall / runs;
  state.counters["framework_s"] = framework.Wall / runs;
  state.counters["framework/raw"] = framework.Wall / raw.Wall;
  state.counters["raw_cpu_s"] = raw.Cpu / runs;
  state.counters["framework_cpu_s"] = framework.Cpu / runs;
  state.counters["cpu_framework/raw"] = framework.Cpu / raw.Cpu;
  state.counters["removed"] = static_cast<double>(frameworkRemoved);
  state.counters["punches"] = static_cast<double>(punches);
  state.counters["read_ahead"] = static_cast<double>(readAhead);

  fs::remove_all(work);
}

BENCHMARK(FrameworkVersusRawPurge)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
