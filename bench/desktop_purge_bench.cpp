// The whole program's purge on the desktop backend against the same purge on
// the headless backend, one backend per run of this program:
//   VELTRANE_BENCH_BACKEND=qt (the default) shows the real windows on the
//     display Qt finds (run it under xvfb-run with QT_QPA_PLATFORM=xcb); the
//     cut-off dialog gets the median duty date typed into its entry and Enter,
//     as Qt key events, and the progress window's timer drives the walk;
//   VELTRANE_BENCH_BACKEND=headless answers the dialog the way --through does.
// Both walk a fresh copy of the generated Timecard of VELTRANE_BENCH_PUNCHES
// punches (default 1,000,000; the file the other purge benchmarks use) with
// the trace on and nobody listening.
// Counters: program_s and program_cpu_s (the program from start to end, the
// dialog included), peak_MiB (the process's peak resident memory), max_turn_s
// (the longest time the program went without asking the backend for input,
// that is without handling input or repainting; each turn over 0.3 s is
// printed), removed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/headless_run.h"
#include "app/main_routine.h"
#include "app/purge_process.h"
#include "bench/generated_punches.h"
#include "runtime/core/pictures.h"
#include "runtime/qt/qt_backend.h"
#include "runtime/trace/debug_output.h"
#include "runtime/windows/window.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Fail(const std::string& what) {
  std::cerr << "desktop purge: " << what << "\n";
  std::exit(1);
}

// Passes everything to the backend under test and times how long the program
// goes between two requests for input.
class TimedBackend : public rt::Backend {
 public:
  explicit TimedBackend(rt::Backend& inner) : inner_(inner) {}

  std::optional<rt::Input> WaitForInput(int timeoutMs) override {
    turns.Asking();
    auto input = inner_.WaitForInput(timeoutMs);
    turns.Answered();
    return input;
  }
  void CreateNative(const rt::Window& window) override { inner_.CreateNative(window); }
  void DestroyNative(const rt::Window& window) override { inner_.DestroyNative(window); }
  void Update(const rt::Window& window, int control, int property) override {
    inner_.Update(window, control, property);
  }
  void Wake() override { inner_.Wake(); }
  // Nobody presses a message box in a benchmark (the interactive run ends
  // with one saying what was done): each gets its default button unshown.
  int ShowMessageBox(const rt::MessageBoxRequest& request) override {
    return request.DefaultButton;
  }
  void ShowHalt(const std::string& text) override { inner_.ShowHalt(text); }
  void Beep(int frequency, int duration) override { inner_.Beep(frequency, duration); }
  void SetCursor(std::string_view cursor) override { inner_.SetCursor(cursor); }
  std::int64_t NowMs() const override { return inner_.NowMs(); }
  rt::Rect ScreenArea() const override { return inner_.ScreenArea(); }

  bench::TurnClock turns;

 private:
  rt::Backend& inner_;
};

// Types the date into the cut-off dialog's entry and presses Enter, which
// reads the entry and presses OK, once the dialog is there.
void AnswerDialogWithKeys(QTimer& timer, const std::string& date) {
  QObject::connect(&timer, &QTimer::timeout, [&timer, date] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (!window->isVisible() || window->objectName() != "QUICKWINDOW") continue;
      auto* entry = window->findChild<QLineEdit*>("?LASTDATE");
      if (!entry) continue;
      timer.stop();
      QTest::keyClicks(entry, QString::fromStdString(date));
      QTest::keyClick(entry, Qt::Key_Return);
    }
  });
  timer.start(10);
}

void DesktopPurge(benchmark::State& state) {
  const long punches = bench::EnvNumber("VELTRANE_BENCH_PUNCHES", 1000000);
  const char* backendName = std::getenv("VELTRANE_BENCH_BACKEND");
  const bool desktop = !backendName || std::string(backendName) != "headless";
  const fs::path master = bench::GeneratedPunches(punches);
  const std::string through = rt::Format(bench::MedianDutyDate(master, punches), "D02");
  const fs::path home = fs::current_path();
  const fs::path work = master.parent_path().parent_path() / "desktop-purge-run";
  rt::SetDebugChannelName("veltrane-bench-nobody-" + std::to_string(::getpid()));

  for (auto _ : state) {
    fs::remove_all(work);
    fs::create_directories(work / "program");
    fs::copy(master.parent_path(), work / "program" / "data", fs::copy_options::recursive);
    ::sync();

    std::unique_ptr<rt::Backend> inner;
    std::unique_ptr<QTimer> answer;  // goes before the application the backend made
    if (desktop) {
      std::string error;
      inner = rt::MakeQtBackend(error);
      if (!inner) Fail(error);
      answer = std::make_unique<QTimer>();
      AnswerDialogWithKeys(*answer, through);
    } else {
      auto headless = std::make_unique<app::HeadlessRun>();
      headless->AnswerCutoff(through);
      inner = std::move(headless);
    }
    TimedBackend backend(*inner);
    rt::SetBackend(&backend);
    fs::current_path(work / "program");
    const auto start = Clock::now();
    const double cpuStart = bench::CpuSeconds();
    const int status = app::ProgramEntry();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = bench::CpuSeconds() - cpuStart;
    fs::current_path(home);
    rt::SetBackend(nullptr);
    const double peak = bench::PeakMiB();
    const app::PurgeOutcome outcome = app::LastPurgeOutcome();
    if (status != 0) Fail("the program ended with " + std::to_string(status));

    std::cerr << (desktop ? "desktop" : "headless") << " program " << wall << " s, processor "
              << cpu << " s, longest turn " << backend.turns.Longest() << " s, peak " << peak
              << " MiB, removed " << outcome.Removed << "\nturns over "
              << bench::TurnClock::kSlowTurn << " s:";
    for (double turn : backend.turns.SlowTurns()) std::cerr << " " << turn;
    std::cerr << "\n";
    state.SetIterationTime(wall);
    state.counters["program_s"] = wall;
    state.counters["program_cpu_s"] = cpu;
    state.counters["peak_MiB"] = peak;
    state.counters["max_turn_s"] = backend.turns.Longest();
    state.counters["slow_turns"] = static_cast<double>(backend.turns.SlowTurns().size());
    state.counters["removed"] = static_cast<double>(outcome.Removed);
    state.counters["punches"] = static_cast<double>(punches);
    answer.reset();
    inner.reset();
  }
  fs::remove_all(work);
}

BENCHMARK(DesktopPurge)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
