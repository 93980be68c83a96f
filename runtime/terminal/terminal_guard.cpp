#include "runtime/terminal/terminal_guard.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace rt {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                            SIGBUS, SIGFPE,  SIGILL, SIGABRT};

// Written before the handlers are installed and read only by them or by
// ResetTerminalNow; gArmed says whether there is anything to restore.
std::atomic<bool> gArmed{false};
int gFd = -1;
struct termios gSaved;
char gReset[512];
std::atomic<std::size_t> gResetLength{0};
struct sigaction gFormer[NSIG];
bool gInstalled[NSIG];

void WriteAll(const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(gFd, bytes, length);
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

void OnSignal(int number) {
  ResetTerminalNow();
  // The signal's former course: the default ends the process once this
  // handler returns; a crash re-faults into whatever handled it before.
  sigaction(number, &gFormer[number], nullptr);
  raise(number);
}

}  // namespace

void GuardTerminal(int fd) {
  if (tcgetattr(fd, &gSaved) != 0) return;
  gFd = fd;
  gResetLength = 0;
  for (int number : kSignals) {
    struct sigaction former;
    sigaction(number, nullptr, &former);
    gInstalled[number] = false;
    if (former.sa_handler == SIG_IGN) continue;
    gFormer[number] = former;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    gInstalled[number] = sigaction(number, &action, nullptr) == 0;
  }
  gArmed = true;
}

void SetTerminalResetSequence(std::string_view sequence) {
  const std::size_t length = std::min(sequence.size(), sizeof gReset);
  gResetLength = 0;
  std::memcpy(gReset, sequence.data(), length);
  gResetLength = length;
}

void ResetTerminalNow() {
  if (!gArmed.exchange(false)) return;
  WriteAll(gReset, gResetLength);
  tcsetattr(gFd, TCSANOW, &gSaved);
}

void UnguardTerminal() {
  gArmed = false;
  for (int number : kSignals)
    if (gInstalled[number]) {
      sigaction(number, &gFormer[number], nullptr);
      gInstalled[number] = false;
    }
}

}  // namespace rt
