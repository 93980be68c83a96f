// veltrane-debugview: watches the debug-output channel and prints each trace
// line on standard output as it arrives, one line per datagram, flushed at
// once so it can be piped or followed live.
//
//   veltrane-debugview [--channel NAME] | --help | --version
//
// It binds the abstract Unix socket "@veltrane-debug-output" (or @NAME). Only
// one viewer can hold a name; a second one says so and exits with 2. Ctrl+C or
// SIGTERM ends it cleanly with 0; a command line it cannot read exits with 1;
// standard output that cannot be written (a full disk, a closed pipe) is
// said on standard error and ends it with 3.
// Control characters in a line are printed as \xNN, because any local process
// can send to the socket and must not be able to drive the terminal.
//
// Lines the viewer did not read in time are dropped by the sender. The viewer
// counts them from the numbers on the datagrams (debug_channel_listener.h):
// where a gap is, a line "veltrane-debugview: N lines missed here" ("1 line
// missed here") stands in the output, and the total goes to standard error
// at the end.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/standard_output.h"
#include "app/version.h"
#include "runtime/core/text.h"
#include "runtime/trace/debug_channel_listener.h"
#include "runtime/trace/debug_output.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

constexpr int kBadUsage = 1;
constexpr int kCannotWatch = 2;
constexpr int kCannotWrite = 3;

// Help and the version on standard output; when that cannot be written,
// a message and kCannotWrite.
int Written() {
  if (const std::string why = app::StandardOutputFailure(); !why.empty()) {
    std::fprintf(stderr, "veltrane-debugview: cannot write standard output: %s\n", why.c_str());
    return kCannotWrite;
  }
  return 0;
}

int Help() {
  std::printf(
      "usage: veltrane-debugview [--channel NAME]\n"
      "Prints every trace line sent to the debug-output channel (default @%s) as it\n"
      "arrives, until Ctrl+C.\n"
      "\n"
      "  --channel NAME  watches @NAME instead\n"
      "  -h, --help      shows this help\n"
      "  --version       shows the version\n"
      "\n"
      "Exit status: 0 ended by Ctrl+C, 1 a command line that cannot be read,\n"
      "2 the channel cannot be watched (another viewer holds it), 3 the output\n"
      "cannot be written.\n",
      std::string(rt::kDebugChannelName).c_str());
  return Written();
}

int Usage(const std::string& message) {
  std::fprintf(stderr,
               "veltrane-debugview: %s\n"
               "usage: veltrane-debugview [--channel NAME]\n"
               "Try 'veltrane-debugview --help' for more information.\n",
               rt::PrintableText(message).c_str());
  return kBadUsage;
}

// "1 line", "N lines".
std::string Lines(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " line" : " lines");
}

}  // namespace

int main(int argc, char** argv) {
  std::string name(rt::kDebugChannelName);
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return Help();
    if (arg == "--version") {
      std::printf("veltrane-debugview %s\n", app::kVersion);
      return Written();
    }
    if (arg == "--channel") {
      if (i + 1 == argc || argv[i + 1][0] == '\0') return Usage("--channel needs a NAME");
      name = argv[++i];
      continue;
    }
    return Usage((arg.starts_with("-") ? "unknown option '" : "unexpected argument '") +
                 std::string(arg) + "'");
  }

  const std::string shownName = rt::PrintableText(name);
  rt::DebugChannelListener listener;
  if (int reason = listener.Bind(name)) {
    if (reason == EADDRINUSE)
      std::fprintf(stderr, "veltrane-debugview: another viewer is already watching @%s\n", shownName.c_str());
    else
      std::fprintf(stderr, "veltrane-debugview: cannot watch @%s: %s\n", shownName.c_str(), std::strerror(reason));
    return kCannotWatch;
  }
  struct sigaction onStop {};
  onStop.sa_handler = RequestStop;
  sigemptyset(&onStop.sa_mask);
  sigaction(SIGINT, &onStop, nullptr);
  sigaction(SIGTERM, &onStop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::fprintf(stderr, "veltrane-debugview: watching @%s (Ctrl+C ends)\n", shownName.c_str());
  int status = 0;
  while (!stopRequested) {
    // The timeout bounds how long a stop request waits to be seen.
    std::optional<rt::DebugDatagram> datagram = listener.ReceiveDatagram(200);
    if (!datagram) continue;
    std::string text;
    if (datagram->MissedBefore > 0)
      text = "veltrane-debugview: " + Lines(datagram->MissedBefore) + " missed here\n";
    if (datagram->HasLine) text += rt::PrintableText(datagram->Line) + "\n";
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "veltrane-debugview: cannot write the trace to standard output: %s\n",
                   std::strerror(errno != 0 ? errno : EIO));
      status = kCannotWrite;
      break;
    }
  }
  if (listener.MissedLines() > 0)
    std::fprintf(stderr, "veltrane-debugview: %s missed in all (traced faster than they were read)\n",
                 Lines(listener.MissedLines()).c_str());
  return status;
}
