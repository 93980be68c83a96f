// What the window runtime costs per event, with the headless backend: posted
// events through a loop, timer ticks (the purge's work arrives on them), and
// entries read under a date picture.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "runtime/headless/headless_backend.h"
#include "runtime/windows/event_loop.h"

namespace {

rt::WindowResource Dialog(std::int32_t* date) {
  rt::WindowResource w;
  w.Name = "BENCH";
  rt::ControlResource entry;
  entry.Number = 1;
  entry.Kind = rt::ControlKind::Entry;
  entry.Picture = "D02B";
  entry.Use = date;
  rt::ControlResource ok;
  ok.Number = 2;
  ok.Kind = rt::ControlKind::Button;
  w.Controls = {entry, ok};
  return w;
}

// A window with a running loop on the headless backend, for one benchmark.
struct OpenDialog {
  explicit OpenDialog(int timer = 0) {
    backend.SetIdleLimit(1 << 30);
    rt::SetBackend(&backend);
    rt::OpenWindow(window);
    if (timer) rt::SetProperty(0, rt::PropTimer, timer);
    rt::StartEventLoop();
  }
  ~OpenDialog() {
    rt::EndEventLoop(-1);
    rt::CloseWindow(window);
    rt::SetBackend(nullptr);
  }
  rt::HeadlessBackend backend;
  std::int32_t date = 0;
  rt::Window window{Dialog(&date)};
};

// One event posted and served per iteration.
void BM_PostedEvents(benchmark::State& state) {
  OpenDialog dialog;
  for (auto _ : state) {
    rt::Post(rt::EventAccepted, 2);
    while (rt::AcceptedControl() != 2) rt::EndEventLoop(0);
    rt::EndEventLoop(0);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostedEvents);

// One timer tick per iteration; the headless clock skips the waiting.
void BM_TimerTicks(benchmark::State& state) {
  OpenDialog dialog(10);
  for (auto _ : state) {
    while (rt::CurrentEvent() != rt::EventTimer) rt::EndEventLoop(0);
    rt::EndEventLoop(0);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimerTicks);

// One date typed and read into its variable per iteration.
void BM_DateEntries(benchmark::State& state) {
  OpenDialog dialog;
  for (auto _ : state) {
    dialog.backend.Type("1", "12/31/2023");
    dialog.backend.Key(rt::KeyEnter);
    while (rt::AcceptedControl() != 1) rt::EndEventLoop(0);
    rt::EndEventLoop(0);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DateEntries);

}  // namespace
