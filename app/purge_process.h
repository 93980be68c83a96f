// PurgeProcess: the program's one piece of work. It asks for the cut-off
// (select_last_date.h), then walks the whole punch file Timecard in
// TIM:KEYCOMPDATECARDPTIME order from the progress window's timer and removes
// every punch whose duty date is on or before the cut-off.
//
// Each removal fetches the same punch through AliasTimeCard (a second
// declaration of the same disk file, with its own buffer) and deletes it
// there, so the view's position is never disturbed. Removals are committed in
// batches of 150000 and once more when the walk ends, however it ends (end of
// the punches, Cancel, a halt): what was removed before stays removed.
//
// The trace (string_utility.h) gets, per punch on or before the cut-off,
// "TIM:DutyDate:" and its date (MM/DD/YYYY); then "Removed:" and the count, or
// "ErrorCode:" and the runtime's code when the delete failed; "Committing
// 150000" before each batch commit, and "Committing" with the number of
// removals it holds before the final commit when it holds any.
//
// Progress: the thermometer follows the share of the punch file walked
// (records read against the records the file held when the walk began), so
// it means the same on one company or many. The step manager is made, set up
// and killed with the window but not consulted: its key-value progress would
// jump by whole companies.
//
// Commits on the status line: a commit that runs for more than half a second
// says "Committing N removals" there until it ends. One that another
// program's read transaction keeps from writing the file waits for it; after
// a second the status line says "Waiting for another program", and after 30
// seconds the commit gives up: the batch is rolled back and the run stops
// with the busy-file message. A stop signal ends the wait at once (the run is
// then cancelled, the batch rolled back and not counted); Cancel is
// served when the wait ends, and the status line says "Stopping once the
// file is free" meanwhile.
//
// Stop signals: while the walk runs, the first SIGTERM, SIGINT or SIGHUP
// (Ctrl+C in a terminal) is taken as Cancel: the walk stops at the next
// punch and what was removed is committed and counted. One that comes while
// the last batch commits cancels the run too (the commit goes on; the count
// says what it wrote). A second one takes its former course at once (the
// process ends; the uncommitted batch is rolled back by the file, so the
// data stays safe).
//
// Where this differs from a plain walk, for safety:
//   - the run goes on only when the dialog closed with OK and a date: Cancel
//     (or the close box) ends the program with "Exiting Application" even when
//     a date was accepted in the entry first, and nothing is written;
//   - a transaction that cannot begin or a commit that fails stops the run:
//     the trace says so, the operator sees the error through the error manager
//     with the runtime's text, and the uncommitted batch is rolled back, so its
//     punches are all still in the file.
//
// Threading: runs on the user-interface thread, inside its event loop.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/program.h"

namespace app {

// Runs the procedure once: the dialog, the purge, then a message box
// captioned "Veltrane" saying what was done (PurgeReport; see
// SetPurgeEndMessage). GlobalResponse gets the progress window's response. Halts when the punch file is missing
// ("Place this program above: " and its disk name) and when no cut-off was
// chosen ("Exiting Application").
void PurgeProcess();

// How the last PurgeProcess ended, for the command line.
enum class PurgeEnd {
  NotRun,     // it never started its walk (or is still running)
  Finished,   // the walk reached the end of the punches (an empty file too)
  Cancelled,  // the operator cancelled the walk
  Failed,     // a read, a transaction start or a commit failed
};
struct PurgeOutcome {
  PurgeEnd End = PurgeEnd::NotRun;
  int Signal = 0;               // the stop signal that cancelled the walk; 0 for none
  std::int32_t Removed = 0;     // punches removed and committed
  std::int32_t NotRemoved = 0;  // punches due for removal that could not be fetched or deleted
  std::int32_t RecordsPerCycle = 0;  // the progress window's batch size at the end
};
PurgeOutcome LastPurgeOutcome();

// What the purge did in words, as the unattended summary and the message box
// at the end of an interactive run say it: "removed N punches through DATE",
// "cancelled [by SIGNAL] after removing N punches through DATE" or "stopped
// by an error after removing N punches through DATE", then the punches due
// for removal that stayed. `elapsed`, when not empty, is the time taken.
std::string PurgeReport(const PurgeOutcome& outcome, std::string_view through,
                        std::string_view elapsed = {});

// Whether PurgeProcess ends with a message box saying what it did (on by
// default; the unattended run writes its summary instead).
void SetPurgeEndMessage(bool show);
// For tests only, never called by the shipped program: batches of `removals`
// instead of 150000 (0 puts that back), so a small file commits whole batches.
void SetCommitEveryForTests(std::int32_t removals);

// The purge's module: only a thread-end routine, which closes the
// procedure's view when this thread bound it.
rt::Module PurgeModule();

}  // namespace app
