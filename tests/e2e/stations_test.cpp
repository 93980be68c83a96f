// Other stations while the program purges: four time clocks add punches and
// an office reads employees' punches in key order, each a process of its
// own on the same data, while `veltrane --through` removes 300,000 due
// punches; on both stores (.../Sqlite and .../Postgres). Afterwards only
// what was kept and lost is asserted, against plain SQL on the file or the
// server (tests/support/stations.h says exactly what). How long the stations
// waited is printed, never asserted: bench/stations_bench measures it.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

#include "runtime/core/dates.h"
#include "runtime/core/pictures.h"
#include "tests/e2e/program_run.h"
#include "tests/support/stations.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_server.h"

namespace {

namespace fs = std::filesystem;

const std::int32_t kCutOff = rt::Date(12, 31, 2022);
constexpr long kDue = 300000;
constexpr long kLater = 12500;
constexpr int kClocks = 4;
// A clock's pace. On SQLite every add is a commit of the whole file, and a
// machine of this kind commits about 200 a second in all: four clocks at the
// server's pace would hold the file's lock nearly all the time, and the
// purge's one-second TxBegin would find no moment to take it (a limit of the
// embedded store, measured by bench/stations_bench). There the clocks add at
// a pace the file can serve.
constexpr int kPunchesASecond = 200;
constexpr int kPunchesASecondOnSqlite = 25;

class Stations : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    std::string connection;
    if (GetParam()) {
      const std::string why = test_server::Missing();
      if (!why.empty()) {
        if (test_server::Required()) FAIL() << why << " (required under CI)";
        GTEST_SKIP() << why;
      }
      schema_ = std::make_unique<test_server::Schema>();
      connection = schema_->Connection();
    }
    store_ = std::make_unique<stations::Store>(folder_.Path(), connection);
    ASSERT_EQ(store_->Create(e2e::BuiltProgram("tools/veltrane-data")), "");
  }
  void TearDown() override {
    for (const char* suffix : {".out", ".err"}) fs::remove(folder_.Path().string() + suffix);
  }

  TempFolder folder_{"veltrane-stations"};
  std::unique_ptr<test_server::Schema> schema_;
  std::unique_ptr<stations::Store> store_;
};
INSTANTIATE_TEST_SUITE_P(, Stations, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

TEST_P(Stations, ClocksAndAReaderWorkThroughAPurgeAndLoseNothing) {
  ASSERT_EQ(store_->Add(stations::DueAndLaterPunches(kDue, kLater, kCutOff)), "");
  const std::vector<stations::Punch> before = store_->Punches();
  ASSERT_EQ(before.size(), static_cast<std::size_t>(kDue + kLater));

  stations::Stations others(folder_.Path(), e2e::BuiltProgram("tests/veltrane_station"), *store_,
                            kClocks, GetParam() ? kPunchesASecond : kPunchesASecondOnSqlite);
  ASSERT_TRUE(others.Started()) << others.Stop();
  const auto start = std::chrono::steady_clock::now();
  const e2e::RunResult purge =
      e2e::Run(folder_.Path(), e2e::BuiltProgram("app/veltrane"),
               {"--through", rt::Format(kCutOff, "D02")}, store_->Environment());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(others.Stop(), "");
  EXPECT_EQ(purge.Status, 0) << purge.Err;
  EXPECT_NE(purge.Err.find("veltrane: removed " + std::to_string(kDue) + " punches"),
            std::string::npos)
      << purge.Err;

  EXPECT_EQ(stations::CheckKeptAndLost(before, store_->Punches(), kCutOff, others), "");

  // The figures, for the record.
  std::cout << (GetParam() ? "server" : "SQLite") << ": purge of " << kDue << " punches " << seconds
            << " s\n";
  for (std::size_t i = 0; i < others.Clocks.size(); ++i)
    std::cout << "  clock " << i << ": added " << others.Clocks[i].Added << ", longest wait "
              << others.Clocks[i].LongestWaitMs << " ms, refused " << others.Clocks[i].Refused
              << " times\n";
  std::cout << "  reader: " << others.Reader.Passes << " passes, longest wait "
            << others.Reader.LongestWaitMs << " ms, refused " << others.Reader.Refused << " times\n";
}

}  // namespace
