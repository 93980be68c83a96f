#include "runtime/trace/trace_file.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>

#include "runtime/trace/debug_output.h"

namespace rt {
namespace {

struct Counts {
  std::atomic<std::uint64_t> written{0};
  std::atomic<std::uint64_t> lost{0};
  std::atomic<int> lastError{0};
};

Counts& TheCounts() {
  static Counts& counts = *new Counts;
  return counts;
}

// SIGPIPE held off for this thread while a write to a pipe or socket runs. A
// SIGPIPE the write raised is taken back, unless one was pending already.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
  }
  ~PipeSignalHeld() {
    sigset_t pending;
    if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

 private:
  sigset_t pipe_;
  sigset_t before_;
  bool wasPending_ = false;
};

// The open trace file; only the (serialised) sink touches it.
class TraceFile {
 public:
  TraceFile(int fd, bool pipeLike) : fd_(fd), pipeLike_(pipeLike) {}
  ~TraceFile() { ::close(fd_); }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  void Write(std::string_view line) {
    text_.clear();
    if (cut_) text_ += '\n';
    text_ += line;
    text_ += '\n';
    const int savedErrno = errno;
    const int reason = pipeLike_ ? WriteToPipe() : WriteAll();
    Counts& counts = TheCounts();
    if (reason == 0) {
      counts.written.fetch_add(1, std::memory_order_relaxed);
    } else {
      counts.lost.fetch_add(1, std::memory_order_relaxed);
      counts.lastError.store(reason, std::memory_order_relaxed);
    }
    errno = savedErrno;
  }

 private:
  // Writes text_ from done_ on; 0, or the errno that stopped it (EAGAIN when
  // a pipe has no room). cut_ tells whether a part of the line is out.
  int WriteFrom(std::size_t& done) {
    while (done < text_.size()) {
      const ssize_t n = ::write(fd_, text_.data() + done, text_.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EINTR) {
        return errno;
      }
    }
    return 0;
  }

  int WriteAll() {
    std::size_t done = 0;
    const int reason = WriteFrom(done);
    cut_ = reason != 0 && done > 0;
    return reason;
  }

  int WriteToPipe() {
    PipeSignalHeld held;
    std::size_t done = 0;
    int reason = WriteFrom(done);
    // A stalled reader gets no wait; a line it takes ends the stall.
    while (reason == EAGAIN && !stalled_) {
      pollfd room{fd_, POLLOUT, 0};
      int ready;
      while ((ready = ::poll(&room, 1, static_cast<int>(kTraceReaderWait.count()))) < 0 && errno == EINTR) {
      }
      if (ready <= 0) {
        stalled_ = true;
        break;
      }
      reason = WriteFrom(done);
    }
    if (reason == 0) stalled_ = false;
    cut_ = reason != 0 && done > 0;
    return reason;
  }

  const int fd_;  // owned
  const bool pipeLike_;
  std::string text_;
  bool cut_ = false;      // the last line went out cut short
  bool stalled_ = false;  // a wait for the reader ran out and no line went through since
};

}  // namespace

int TraceToFile(const std::string& path) {
  // Opened without blocking: a FIFO nobody reads yet would otherwise hold the
  // program here (and a terminal line waiting for its carrier too).
  constexpr int kFlags = O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK;
  int fd = ::open(path.c_str(), O_WRONLY | kFlags, 0644);
  // ENXIO: a FIFO without a reader. It is opened for reading and writing,
  // which Linux allows without one: the trace fills the FIFO's buffer, a
  // reader that comes later gets it from there on, and lines that find the
  // buffer full are dropped and counted like those of a reader that stalled.
  // The FIFO is checked again once open, so nothing else is read-write.
  if (fd < 0 && errno == ENXIO) {
    fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    struct stat opened {};
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || !S_ISFIFO(opened.st_mode))) {
      ::close(fd);
      fd = -1;
      errno = ENXIO;
    }
  }
  if (fd < 0) return errno;
  struct stat about {};
  const bool pipeLike = ::fstat(fd, &about) == 0 && !S_ISREG(about.st_mode) && !S_ISBLK(about.st_mode);
  // Only a FIFO, socket or terminal is written without blocking.
  if (!pipeLike) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // The sink owns the file: it stays open while lines may come.
  auto file = std::make_shared<TraceFile>(fd, pipeLike);
  SetDebugSink([file](std::string_view line) { file->Write(line); });
  return 0;
}

TraceFileCounts TraceFileStatistics() {
  Counts& counts = TheCounts();
  return {counts.written.load(std::memory_order_relaxed), counts.lost.load(std::memory_order_relaxed),
          counts.lastError.load(std::memory_order_relaxed)};
}

std::string TraceFileLoss() {
  const TraceFileCounts counts = TraceFileStatistics();
  if (counts.Lost == 0) return {};
  const std::string why = counts.LastError == EAGAIN || counts.LastError == EWOULDBLOCK
                              ? "the reader took nothing for " + std::to_string(kTraceReaderWait.count()) + " ms"
                              : std::strerror(counts.LastError);
  return std::to_string(counts.Lost) + " trace lines could not be written (" + why + ")";
}

}  // namespace rt
