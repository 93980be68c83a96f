// veltrane-debugview: watches the debug-output channel and prints each trace
// line on standard output as it arrives, one line per datagram, flushed at
// once so it can be piped or followed live.
//
//   veltrane-debugview [--channel NAME]
//
// It binds the abstract Unix socket "@veltrane-debug-output" (or @NAME). Only
// one viewer can hold a name; a second one says so and exits with 1. Ctrl+C or
// SIGTERM ends it cleanly with 0. Control characters in a line are printed as
// \xNN, because any local process can send to the socket and must not be able
// to drive the terminal.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/trace/debug_channel_listener.h"
#include "runtime/trace/debug_output.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

int Usage(std::FILE* to, int status) {
  std::fprintf(to,
               "usage: veltrane-debugview [--channel NAME]\n"
               "Prints every trace line sent to the debug-output channel (default @%s).\n",
               std::string(rt::kDebugChannelName).c_str());
  return status;
}

std::string Printable(std::string_view line) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(line.size() + 1);
  for (char ch : line) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\t') || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += ch;
    }
  }
  out += '\n';
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string name(rt::kDebugChannelName);
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return Usage(stdout, 0);
    if (arg == "--channel" && i + 1 < argc && argv[i + 1][0] != '\0') {
      name = argv[++i];
      continue;
    }
    std::fprintf(stderr, "veltrane-debugview: unexpected argument '%s'\n", argv[i]);
    return Usage(stderr, 2);
  }

  rt::DebugChannelListener listener;
  if (int reason = listener.Bind(name)) {
    if (reason == EADDRINUSE)
      std::fprintf(stderr, "veltrane-debugview: another viewer is already watching @%s\n", name.c_str());
    else
      std::fprintf(stderr, "veltrane-debugview: cannot watch @%s: %s\n", name.c_str(), std::strerror(reason));
    return 1;
  }
  struct sigaction onStop {};
  onStop.sa_handler = RequestStop;
  sigemptyset(&onStop.sa_mask);
  sigaction(SIGINT, &onStop, nullptr);
  sigaction(SIGTERM, &onStop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::fprintf(stderr, "veltrane-debugview: watching @%s (Ctrl+C ends)\n", name.c_str());
  while (!stopRequested) {
    // The timeout bounds how long a stop request waits to be seen.
    std::optional<std::string> line = listener.Receive(200);
    if (!line) continue;
    std::string text = Printable(*line);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
      break;  // the reader went away (a closed pipe): nothing left to do
  }
  return 0;
}
