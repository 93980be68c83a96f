// The program's own windows, run for the backends' tests the way the program
// runs them: the cut-off dialog is app::SelectLastDate inside the program's
// frame, and a batch process drives the progress window's own layout
// (app/window_layouts.h) from its timer. A fault in the program's layouts or
// dialog shows in every backend's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/globals.h"
#include "app/main_routine.h"
#include "app/purge_variables.h"
#include "app/select_last_date.h"
#include "app/window_layouts.h"
#include "runtime/core/program.h"
#include "runtime/core/thread_instance.h"
#include "runtime/windows/event_loop.h"
#include "tests/support/temp_folder.h"

namespace rt::testing {

// A batch process as the purge runs it, on the progress window: hidden at
// first, then each timer tick takes a few records and moves the thermometer;
// Cancel ends it between ticks. Returns the number of records taken.
inline int RunProcess(int records, int perTick) {
  using namespace app::progress;
  std::uint8_t thermometer = 0;
  Window window(app::ProgressWindowResource(&thermometer));
  OpenWindow(window);
  SetProperty(0, PropText, "Processing Records");
  SetProperty(kPercentText, PropText, "0% Completed");
  SetProperty(kUserString, PropText, "");
  SetProperty(0, PropTimer, 10);
  Hide(0);
  int taken = 0;
  ServeEvents([&] {
    switch (CurrentEvent()) {
      case EventTimer:
        Unhide(0);
        for (int i = 0; i < perTick && taken < records; ++i) ++taken;
        if (const int p = taken * 100 / records; p != thermometer) {
          thermometer = static_cast<std::uint8_t>(p);
          SetProperty(kPercentText, PropText, std::to_string(p) + "% Complete");
          Display();
        }
        if (taken == records) {
          SetProperty(0, PropTimer, 0);
          Post(EventCloseWindow);
        }
        break;
      case EventAccepted:
        if (AcceptedControl() == kCancel) Post(EventCloseWindow);
        break;
    }
    return 0;
  });
  return taken;
}

// The program's cut-off dialog, in the program's frame, on the active
// backend: starts from `lastDate`, leaves there the date the dialog holds
// when it closes, and returns its response (1 OK, 2 Cancel). It runs in a
// fresh folder, so the settings file it writes goes with it.
inline int RunCutoffDialog(std::int32_t& lastDate) {
  TempFolder folder("veltrane-cutoff");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  RuntimeInit(app::ModuleTable());
  int response = 0;
  RuntimeStart([&] {
    app::GlobalErrors()->Init(app::ErrorStatusVar);
    app::GlobalSettings()->Init(app::kSettingsFile, settings::StorageIni, 0);
    app::LastDate = lastDate;
    app::SelectLastDate();
    lastDate = app::LastDate;
    response = ThreadInstance(app::GlobalResponse);
    app::GlobalSettings()->Kill();
  });
  RuntimeExit();
  std::filesystem::current_path(previous);
  return response;
}

}  // namespace rt::testing
