#include "app/stop_signals.h"

#include <signal.h>

#include <atomic>
#include <cstring>
#include <iterator>

namespace app {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> received{0};
// Written before the handlers are installed; read by them.
struct sigaction former[std::size(kStopSignals)];
bool installed[std::size(kStopSignals)];

void RestoreFormer() {
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
    if (installed[i]) {
      sigaction(kStopSignals[i], &former[i], nullptr);
      installed[i] = false;
    }
}

void OnStopSignal(int number) {
  int none = 0;
  received.compare_exchange_strong(none, number);
  RestoreFormer();
}

}  // namespace

StopSignals::StopSignals() {
  received = 0;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    installed[i] = false;
    if (sigaction(kStopSignals[i], nullptr, &former[i]) != 0 || former[i].sa_handler == SIG_IGN)
      continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // The other stop signals wait while the handler puts their former course back.
    for (int other : kStopSignals) sigaddset(&action.sa_mask, other);
    action.sa_flags = SA_RESTART;
    installed[i] = sigaction(kStopSignals[i], &action, nullptr) == 0;
  }
}

StopSignals::~StopSignals() {
  sigset_t block, saved;
  sigemptyset(&block);
  for (int number : kStopSignals) sigaddset(&block, number);
  pthread_sigmask(SIG_BLOCK, &block, &saved);
  RestoreFormer();
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

int StopSignalReceived() { return received; }

std::string SignalName(int number) {
  switch (number) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(number);
  }
}

}  // namespace app
