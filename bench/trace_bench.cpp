// What a trace line costs the purge: unwatched (the normal case: one failed
// send), watched by a viewer that has fallen behind (its queue is full), taken
// by an in-memory sink (everything but the system call), and formatting alone.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>

#include "app/string_utility.h"
#include "runtime/trace/debug_channel_listener.h"
#include "runtime/trace/debug_output.h"

namespace {

constexpr const char* kLine = "TIM:DutyDate: 01/15/2024";

// A channel name nobody else uses, so a viewer someone is running does not
// change what is measured.
std::string PrivateChannel(const char* what) {
  return std::string("veltrane-bench-") + what + "-" + std::to_string(::getpid());
}

// Traces kLine on channel name once per iteration and reports the system
// calls and drops per line.
void TraceOnChannel(benchmark::State& state, const std::string& name) {
  rt::SetDebugChannelName(name);
  app::StringUtility trace;
  auto before = rt::DebugChannelStatistics();
  for (auto _ : state) trace.TraceChannel(kLine, 0);
  auto after = rt::DebugChannelStatistics();
  double lines = static_cast<double>(state.iterations());
  state.counters["sends/line"] = static_cast<double>(after.Sends - before.Sends) / lines;
  state.counters["dropped/line"] = static_cast<double>(after.Dropped - before.Dropped) / lines;
  rt::SetDebugChannelName("");
}

void BM_TraceLineUnwatched(benchmark::State& state) { TraceOnChannel(state, PrivateChannel("unwatched")); }
BENCHMARK(BM_TraceLineUnwatched);

void BM_TraceLineViewerBehind(benchmark::State& state) {
  std::string name = PrivateChannel("behind");
  rt::DebugChannelListener viewer;
  if (viewer.Bind(name) != 0) {
    state.SkipWithError("cannot bind the benchmark's channel");
    return;
  }
  TraceOnChannel(state, name);
}
BENCHMARK(BM_TraceLineViewerBehind);

void BM_TraceLineToSink(benchmark::State& state) {
  std::size_t bytes = 0;
  rt::SetDebugSink([&bytes](std::string_view line) { bytes += line.size(); });
  app::StringUtility trace;
  for (auto _ : state) trace.TraceChannel(kLine, 0);
  benchmark::DoNotOptimize(bytes);
  rt::SetDebugSink(nullptr);
}
BENCHMARK(BM_TraceLineToSink);

void BM_TraceLineFormatOnly(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(app::StringUtility::TraceLine(1, kLine, 0, ""));
}
BENCHMARK(BM_TraceLineFormatOnly);

}  // namespace
