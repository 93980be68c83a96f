// veltrane_station: another station on the same punch data, for the tests and
// benchmarks that show what stations meet while a purge runs. It works in its
// current folder like the program (data/ below it; the server of
// VELTRANE_DATABASE or [Database] Server= in Veltrane.INI when one is given)
// and opens Timecard through the runtime as the program does, shared both
// ways. It runs until SIGTERM or SIGINT, then writes its report and ends.
//
//   veltrane_station clock N RATE LOG   a time clock: adds punches dated
//       today at RATE a second, each on its own (one record a transaction,
//       as a clock sends them), on cards 10000 + 100 N to 10000 + 100 N + 99.
//       An add refused because the file is busy (43) is tried again until it
//       goes in; its wait is the time from the first try to the add that
//       went in. LOG gets a line per punch added, after it went in:
//           <punch> <steady clock ns when the add returned>
//   veltrane_station reader LOG         an office: reads every punch in
//       key order by company, card, date and time (employees' punches),
//       pass after pass. LOG gets, per pass,
//           pass <steady clock ns before its first read>
//           <punch>                      one line per record read, in order
//           end <ns> | stopped <ns>      read to the end | stopped part way
// A punch is written as one number that sorts as the reader's key does:
//   ((company * 2^16 + card) * 2^20 + duty date) * 2^24 + punch time
// (Punch() in tests/support/stations.h reads it back).
//
// On standard output, at the end, one line:
//   clock:  added A longest_wait_ms W refused R
//   reader: passes P read K longest_wait_ms W refused R
// Exit status: 0 when it stopped as asked; 2 for a bad command line; 3 when
// the runtime failed with anything but a busy file (its text on standard
// error): a station must never meet such an error.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "app/database_choice.h"
#include "app/schema.h"
#include "runtime/core/dates.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> stopped{false};

void Stop(int) { stopped = true; }

std::int64_t Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

std::uint64_t PunchNumber(rt::File& timecard) {
  using namespace app::tim;
  auto get = [&](int field) { return static_cast<std::uint64_t>(timecard.Field(field).GetInt()); };
  return ((get(kCompany) << 16 | get(kEmpCard)) << 20 | get(kDutyDate)) << 24 | get(kPunchTime);
}

int Failed(const std::string& what) {
  std::cerr << "veltrane_station: " << what << ": " << rt::ErrorCode() << " " << rt::FileErrorText()
            << "\n";
  return 3;
}

// Runs `operation` until it does anything but find the file busy. How long
// it took from the first try, and how often it was refused, go to `waits`.
struct Waits {
  double LongestMs = 0;
  long Refused = 0;
};
template <class Operation>
int UntilNotBusy(Operation operation, Waits& waits) {
  const auto start = Clock::now();
  operation();
  while (rt::ErrorCode() == rt::kRecordHeld) {
    ++waits.Refused;
    operation();
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  waits.LongestMs = std::max(waits.LongestMs, ms);
  return rt::ErrorCode();
}

int RunClock(int station, int rate, std::ofstream& log) {
  rt::File timecard(app::TimecardFile());
  Waits waits;
  if (UntilNotBusy([&] { rt::FileOpen(timecard); }, waits) != 0) return Failed("open Timecard");
  waits = {};
  const std::int32_t today = rt::Today();
  const auto period = std::chrono::nanoseconds(1000000000 / std::max(rate, 1));
  const auto start = Clock::now();
  long added = 0;
  for (; !stopped; ++added) {
    // A clock behind its pace (it waited) sends the punches that queued at once.
    std::this_thread::sleep_until(start + added * period);
    using namespace app::tim;
    rt::FileClear(timecard);
    const int card = 10000 + 100 * station + static_cast<int>(added % 100);
    timecard.Field(kCompany).SetInt(1 + added % 3);
    timecard.Field(kDutyDate).SetInt(today);
    timecard.Field(kShift).SetInt(1);
    timecard.Field(kPunchTime).SetInt(added % 8640000);
    timecard.Field(kEmpCard).SetInt(card);
    timecard.Field(kPunchLoc).SetInt(station);
    timecard.Field(kPunchType).SetString(added % 2 ? "O" : "I");
    timecard.Field(kOrigin).SetString("CLOCK");
    timecard.Field(kEmpNo).SetInt(card);
    timecard.Field(kPunchDate).SetInt(today);
    timecard.Field(kDept).SetString("D1");
    timecard.Field(kJobNo).SetString("J1");
    if (UntilNotBusy([&] { rt::FileAdd(timecard); }, waits) != 0) return Failed("add a punch");
    log << PunchNumber(timecard) << ' ' << Nanoseconds(Clock::now()) << '\n';
  }
  log.flush();
  std::cout << "clock: added " << added << " longest_wait_ms " << waits.LongestMs << " refused "
            << waits.Refused << std::endl;
  return log ? 0 : Failed("write the log");
}

int RunReader(std::ofstream& log) {
  rt::File timecard(app::TimecardFile());
  Waits waits;
  if (UntilNotBusy([&] { rt::FileOpen(timecard, rt::kAccessRead | rt::kShareDenyNone); }, waits) != 0)
    return Failed("open Timecard");
  waits = {};
  rt::FileSend(timecard, "QUICKSCAN=on");
  long passes = 0, read = 0;
  while (!stopped) {
    ++passes;
    log << "pass " << Nanoseconds(Clock::now()) << '\n';
    rt::FileSetKey(timecard, app::tim::kKeyCompCardDatePtime);
    if (rt::ErrorCode() != 0) return Failed("set the key");
    for (;;) {
      if (stopped) {
        log << "stopped " << Nanoseconds(Clock::now()) << '\n';
        break;
      }
      const int code = UntilNotBusy([&] { rt::FileNext(timecard); }, waits);
      if (code == rt::kRecordNotAvailable) {
        log << "end " << Nanoseconds(Clock::now()) << '\n';
        break;
      }
      if (code != 0) return Failed("read the next punch");
      log << PunchNumber(timecard) << '\n';
      ++read;
    }
  }
  log.flush();
  std::cout << "reader: passes " << passes << " read " << read << " longest_wait_ms "
            << waits.LongestMs << " refused " << waits.Refused << std::endl;
  return log ? 0 : Failed("write the log");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!((mode == "clock" && argc == 5) || (mode == "reader" && argc == 3))) {
    std::cerr << "usage: veltrane_station clock N RATE LOG | veltrane_station reader LOG\n";
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = Stop;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  std::string error;
  if (!app::UseDatabase("", error)) {
    std::cerr << "veltrane_station: " << error << "\n";
    return 3;
  }
  std::ofstream log(argv[argc - 1], std::ios::binary | std::ios::trunc);
  if (mode == "reader") return RunReader(log);
  return RunClock(std::atoi(argv[2]), std::atoi(argv[3]), log);
}
