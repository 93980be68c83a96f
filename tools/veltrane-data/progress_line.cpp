#include "tools/veltrane-data/progress_line.h"

#include <unistd.h>

namespace veltrane_data {
namespace {

// How often the line is redrawn, and how many counts pass between looks at
// the clock (a look costs far more than counting a record).
constexpr auto kRedrawEvery = std::chrono::milliseconds(250);
constexpr std::int64_t kCountsBetweenLooks = 256;

}  // namespace

ProgressLine::ProgressLine(std::FILE* to, bool shown)
    : to_(to), shown_(shown && ::isatty(::fileno(to))) {}

void ProgressLine::Start(std::string doing, std::string things, std::int64_t total) {
  if (!shown_) return;
  doing_ = std::move(doing);
  things_ = std::move(things);
  total_ = total;
  started_ = Clock::now();
  Draw(0);
}

void ProgressLine::Look(std::int64_t done) {
  nextLook_ = done + kCountsBetweenLooks;
  if (Clock::now() - drawn_ >= kRedrawEvery) Draw(done);
}

void ProgressLine::Draw(std::int64_t done) {
  drawn_ = Clock::now();
  nextLook_ = done + kCountsBetweenLooks;
  std::string line = doing_;
  if (!things_.empty()) {
    line += ": " + std::to_string(done);
    if (total_ > 0) line += " of " + std::to_string(total_);
    line += " " + things_;
    if (total_ > 0) line += ", " + std::to_string(done * 100 / total_) + "%";
    double seconds = std::chrono::duration<double>(drawn_ - started_).count();
    if (seconds >= 0.5)
      line += ", " + std::to_string(static_cast<long long>(done / seconds)) + "/s";
  }
  // Blanks rub out what a longer line before left; no escape sequences, so
  // any terminal shows it.
  std::size_t width = line.size();
  if (line.size() < width_) line.append(width_ - line.size(), ' ');
  width_ = width;
  std::fprintf(to_, "\r%s", line.c_str());
  std::fflush(to_);
}

void ProgressLine::Pause() {
  if (!shown_ || width_ == 0) return;
  Clear();
  nextLook_ = 0;
  drawn_ = {};
}

void ProgressLine::Clear() {
  if (!shown_ || width_ == 0) return;
  std::fprintf(to_, "\r%s\r", std::string(width_, ' ').c_str());
  std::fflush(to_);
  width_ = 0;
  nextLook_ = INT64_MAX;
}

}  // namespace veltrane_data
