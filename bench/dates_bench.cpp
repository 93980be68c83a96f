// Throughput of the conversions a purge runs per record: day numbers to and
// from month/day/year, "D02" formatting, and packed decimals in and out of a
// record buffer.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "runtime/core/dates.h"
#include "runtime/core/decimal.h"
#include "runtime/core/pictures.h"

namespace {

// Day numbers spread over the whole valid range.
std::vector<std::int32_t> SpreadDays() {
  std::vector<std::int32_t> days;
  for (std::int32_t d = rt::kFirstDay; d <= rt::kLastDay; d += 7919) days.push_back(d);
  return days;
}

void BM_DateFromParts(benchmark::State& state) {
  const auto days = SpreadDays();
  std::vector<std::array<int, 3>> parts;
  for (auto d : days) parts.push_back({rt::Month(d), rt::Day(d), rt::Year(d)});
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& p = parts[i++ % parts.size()];
    benchmark::DoNotOptimize(rt::Date(p[0], p[1], p[2]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DateFromParts);

void BM_YearMonthDay(benchmark::State& state) {
  const auto days = SpreadDays();
  std::size_t i = 0;
  for (auto _ : state) {
    const std::int32_t d = days[i++ % days.size()];
    benchmark::DoNotOptimize(rt::Year(d));
    benchmark::DoNotOptimize(rt::Month(d));
    benchmark::DoNotOptimize(rt::Day(d));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_YearMonthDay);

void BM_FormatD02(benchmark::State& state) {
  const auto days = SpreadDays();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(rt::Format(days[i++ % days.size()], "D02"));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatD02);

// decimal(9,4), the widest shape the program declares.
std::vector<rt::Decimal> SampleDecimals() {
  std::vector<rt::Decimal> values;
  for (std::int64_t u = -999'999'999; u <= 999'999'999; u += 7'777'777) values.push_back({u, 4});
  return values;
}

void BM_DecimalEncode(benchmark::State& state) {
  const auto values = SampleDecimals();
  std::array<std::uint8_t, rt::PackedSize(9)> packed{};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rt::Encode(values[i++ % values.size()], 9, 4, packed));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecimalEncode);

void BM_DecimalDecode(benchmark::State& state) {
  std::vector<std::array<std::uint8_t, rt::PackedSize(9)>> packed;
  for (const auto& v : SampleDecimals()) rt::Encode(v, 9, 4, packed.emplace_back());
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(rt::Decode(packed[i++ % packed.size()], 9, 4));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecimalDecode);

}  // namespace
