// What the timer-driven record processor adds to a walk of the punch file:
// in one process, on one copy of a generated Timecard file,
//   plain      a view over Timecard in TIM:KEYCOMPDATECARDPTIME order read
//              with rt::FileNext to the end;
//   processor  a ProcessWindow in a headless window (timer 10 hundredths, as
//              the purge's) driving a RecordProcessor over the same view with
//              an empty per-record step, the step manager on TIM:COMPANY and
//              the thermometer and "% Complete" text as the purge has them,
//              the dictionary built as the main routine builds it;
// both with the same view batch. The two alternate which goes first.
//
// The file: VELTRANE_BENCH_PUNCHES punches (default 1,000,000) made by
// veltrane-data generate (seed 1), kept where driver_purge_bench keeps it.
// VELTRANE_BENCH_READAHEAD sets the view batch (default 20, the view
// reader's page). VELTRANE_BENCH_SLICE sets the process window's TimeSlice
// in hundredths (default 100).
// Counters: plain_s and processor_s (wall-clock means), processor/plain; the
// same in processor seconds (plain_cpu_s, processor_cpu_s,
// cpu_processor/plain), which other work on the machine disturbs less; the
// batch size the processor ended with (batch), and the longest time between
// two turns of the event loop (max_turn_s) and the mean (mean_turn_s).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/schema.h"
#include "bench/generated_punches.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/view.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/window.h"
#include "ui/process_window.h"
#include "ui/record_processor.h"
#include "ui/step_manager.h"

namespace {

namespace fs = std::filesystem;
namespace tim = app::tim;
using Clock = std::chrono::steady_clock;

void Fail(const std::string& what) {
  std::cerr << "record_processor: " << what << ": " << rt::ErrorCode() << " " << rt::ErrorText()
            << "\n";
  std::exit(1);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long PlainWalk(long readAhead) {
  rt::File& timecard = rt::FileOf(app::TimecardFile());
  rt::FileOpen(timecard);
  if (rt::ErrorCode() != 0) Fail("open");
  long records = 0;
  {
    rt::View view(timecard);
    rt::ViewSetProperty(view, rt::kPropOrder,
                        "TIM:COMPANY,TIM:DUTYDATE,TIM:EMP_CARD,TIM:PUNCH_TIME");
    rt::FileOpen(view);
    rt::FileBuffer(view, static_cast<int>(readAhead), 2, 0, 60);
    rt::ViewSetStart(view, 0);
    for (rt::FileNext(view); rt::ErrorCode() == 0; rt::FileNext(view)) ++records;
    if (rt::ErrorCode() != rt::kRecordNotAvailable) Fail("walk");
    rt::FileClose(view);
  }
  rt::FileClose(timecard);
  return records;
}

rt::WindowResource ProgressWindow(std::uint8_t* thermometer) {
  rt::WindowResource w;
  w.Name = "PROGRESSWINDOW";
  w.Caption = "Process Timecard";
  w.Width = 142;
  w.Height = 59;
  rt::ControlResource bar;
  bar.Number = 1;
  bar.Kind = rt::ControlKind::Progress;
  bar.Use = thermometer;
  rt::ControlResource text;
  text.Number = 3;
  rt::ControlResource cancel;
  cancel.Number = 4;
  cancel.Kind = rt::ControlKind::Button;
  w.Controls = {bar, text, cancel};
  return w;
}

// The purge's window without its per-record work; it times the loop's turns.
class WalkWindow : public ui::ProcessWindow {
 public:
  WalkWindow(rt::Window& window, ui::RecordProcessor& processor, rt::View& view,
             std::uint8_t& thermometer, long readAhead, long slice)
      : window_(window),
        processor_(processor),
        view_(view),
        thermometer_(thermometer),
        readAhead_(readAhead),
        slice_(slice) {}

  int Init() override {
    if (const int r = ProcessWindow::Init(); r != errors::LevelBenign) return r;
    Errors = app::GlobalErrors();
    app::RelationManagerOf(app::TimecardFile())->Open(0);
    Open(window_);
    window_.SetProperty(0, rt::PropTimer, 10);
    steps_.Init(4);
    processor_.Init(view_, *app::RelationManagerOf(app::TimecardFile()), 3,
                    view_.Primary().Field(tim::kCompany), &steps_, &thermometer_);
    processor_.AddSortOrder(tim::kKeyCompDateCardPtime);
    processor_.PageSize = static_cast<std::uint16_t>(readAhead_);
    InitProcess(processor_);
    TimeSlice = static_cast<std::int32_t>(slice_);
    AddButton(4, ui::RequestCancelled);
    SetAlerts();
    return errors::LevelBenign;
  }
  int Kill() override {
    if (const int r = KillProcess(); r != errors::LevelBenign) return r;
    app::RelationManagerOf(app::TimecardFile())->Close(0);
    return errors::LevelBenign;
  }
  int HandleEvent() override {
    const auto now = Clock::now();
    if (turns > 0) maxTurn = std::max(maxTurn, now - lastTurn);
    lastTurn = now;
    ++turns;
    return ProcessWindow::HandleEvent();
  }

  Clock::duration maxTurn{};
  Clock::time_point lastTurn;
  long turns = 0;

 private:
  rt::Window& window_;
  ui::RecordProcessor& processor_;
  rt::View& view_;
  std::uint8_t& thermometer_;
  ui::StepManager steps_;
  long readAhead_;
  long slice_;
};

struct ProcessorRun {
  long Records = 0;
  std::int32_t Batch = 0;
  double MaxTurn = 0;
  double MeanTurn = 0;
};

ProcessorRun ProcessorWalk(long readAhead, long slice) {
  app::DictionaryInit();
  app::GlobalErrors()->PushProcedureName("Main");
  ProcessorRun run;
  {
    rt::View view(*app::FileManagerOf(app::TimecardFile())->File);
    ui::RecordProcessor processor;
    std::uint8_t thermometer = 0;
    rt::Window window(ProgressWindow(&thermometer));
    WalkWindow walk(window, processor, view, thermometer, readAhead, slice);
    const auto start = Clock::now();
    if (walk.Run() != ui::RequestCompleted) Fail("the walk did not complete");
    const auto took = Clock::now() - start;
    run.Records = processor.RecordsProcessed;
    run.Batch = walk.RecordsPerCycle;
    run.MaxTurn = Seconds(walk.maxTurn);
    run.MeanTurn = Seconds(took) / static_cast<double>(std::max(1L, walk.turns));
  }
  app::GlobalErrors()->PopProcedureName();
  app::DictionaryKill();
  return run;
}

void ProcessorVersusPlainWalk(benchmark::State& state) {
  const long punches = bench::EnvNumber("VELTRANE_BENCH_PUNCHES", 1000000);
  const long readAhead = bench::EnvNumber("VELTRANE_BENCH_READAHEAD", 20);
  const long slice = bench::EnvNumber("VELTRANE_BENCH_SLICE", 100);
  const fs::path master = bench::GeneratedPunches(punches);

  bench::ProgramObjects program;
  rt::HeadlessBackend& backend = program.backend;
  const fs::path home = fs::current_path();
  const fs::path work = master.parent_path().parent_path() / "processor-run";
  fs::remove_all(work);
  fs::create_directories(work / "data");
  fs::copy_file(master, work / "data" / "Timecard.DAT");
  fs::current_path(work);

  double plain = 0, processor = 0, plainCpu = 0, processorCpu = 0, maxTurn = 0, meanTurn = 0;
  std::int32_t batch = 0;
  bool plainFirst = true;
  for (auto _ : state) {
    double processorSeconds = 0;
    for (bool plainTurn : {plainFirst, !plainFirst}) {
      const auto start = Clock::now();
      const std::clock_t cpuStart = std::clock();
      auto cpuSeconds = [&] { return static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC; };
      if (plainTurn) {
        if (PlainWalk(readAhead) != punches) Fail("the plain walk missed records");
        const double took = Seconds(Clock::now() - start);
        plain += took;
        plainCpu += cpuSeconds();
        std::cerr << "plain     " << took << " s, processor time " << cpuSeconds() << " s\n";
      } else {
        const ProcessorRun run = ProcessorWalk(readAhead, slice);
        if (run.Records != punches) Fail("the processor missed records");
        processorSeconds = Seconds(Clock::now() - start);
        processor += processorSeconds;
        processorCpu += cpuSeconds();
        maxTurn = std::max(maxTurn, run.MaxTurn);
        meanTurn += run.MeanTurn;
        batch = run.Batch;
        std::cerr << "processor " << processorSeconds << " s, processor time " << cpuSeconds()
                  << " s, batch " << run.Batch << ", longest turn " << run.MaxTurn << " s\n";
      }
    }
    state.SetIterationTime(processorSeconds);
    plainFirst = !plainFirst;
  }
  if (!backend.MessageBoxes().empty())
    Fail("the processor showed " + backend.MessageBoxes()[0].Caption);
  const double runs = static_cast<double>(state.iterations());
  state.counters["plain_s"] = plain / runs;
  state.counters["processor_s"] = processor / runs;
  state.counters["processor/plain"] = processor / plain;
  state.counters["plain_cpu_s"] = plainCpu / runs;
  state.counters["processor_cpu_s"] = processorCpu / runs;
  state.counters["cpu_processor/plain"] = processorCpu / plainCpu;
  state.counters["batch"] = batch;
  state.counters["max_turn_s"] = maxTurn;
  state.counters["mean_turn_s"] = meanTurn / runs;
  state.counters["punches"] = static_cast<double>(punches);
  state.counters["slice"] = static_cast<double>(slice);

  fs::current_path(home);
  fs::remove_all(work);
}

BENCHMARK(ProcessorVersusPlainWalk)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
