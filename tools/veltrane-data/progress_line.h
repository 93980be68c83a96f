// The live line that shows how far long work has come: the count, the
// percentage and the rate, redrawn on standard error a few times a second
// while standard error is a terminal, and wiped when the work ends so only
// the summary stays. Off a terminal, or when silenced, it shows nothing, so
// logs and pipes get the summary alone.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace veltrane_data {

class ProgressLine {
 public:
  // Draws on `to` when `shown` and `to` is a terminal; otherwise does nothing.
  ProgressLine(std::FILE* to, bool shown);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() { Clear(); }

  // Begins a stage: `doing` says what is being done ("generating"), `things`
  // what is counted ("punches"; empty: nothing is counted, the line shows
  // `doing` alone), `total` how many there will be (0: not known, then no
  // percentage). Draws the line at once.
  void Start(std::string doing, std::string things, std::int64_t total);

  // The count so far. Cheap enough to call for every record: it looks at the
  // clock only now and then and redraws only when the last drawing is old.
  void Update(std::int64_t done) {
    if (done >= nextLook_) Look(done);
  }

  // Wipes the line (a stage can follow).
  void Clear();
  // Wipes the line so that other output can go to the terminal; the next
  // Update draws it again.
  void Pause();

 private:
  using Clock = std::chrono::steady_clock;

  void Look(std::int64_t done);
  void Draw(std::int64_t done);

  std::FILE* to_;  // not owned
  bool shown_;
  std::string doing_, things_;
  std::int64_t total_ = 0;
  std::int64_t nextLook_ = INT64_MAX;
  Clock::time_point started_, drawn_;
  std::size_t width_ = 0;  // of what is on the screen now
};

}  // namespace veltrane_data
