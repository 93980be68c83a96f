// A test OS layer for SQLite: registered over the default one (never in the
// shipped program), it counts the I/O calls of every file SQLite opens, the
// journals and the scratch main database included, and at the Nth call can
// make it fail or cut the power.
//
// Counted calls: open, read, write, truncate, sync, file size, lock, unlock,
// delete and access (the look for a hot journal). A plan says what happens
// at call N (counting from 1):
//   count           nothing; every call is written to the log, one a line:
//                   "call N KIND ROLE SITE C" (C is 1 for a call inside a
//                   commit: from SQLite's commit hook until no file holds a
//                   write lock any more)
//   fail-once:N     call N fails with an I/O error, the calls after it succeed
//   fail-on:N       call N and every later one fail (writes as on a full disk)
//   cut-drop:N:S    the power goes at call N: the process ends there, and
//   cut-keep:N:S    each file keeps, of what was written since its last
//   cut-tear:N:S    sync, nothing (drop), each write or not at random (keep),
//                   or the writes in order up to one page torn part way
//                   (tear), which takes the rest; S seeds the choices.
// In the fault plans the log gets one line "fault N KIND ROLE SITE" when the
// fault strikes. ROLE is data, journal, super-journal, scratch,
// scratch-journal or temp; SITE is the caller's address in its library
// ("libsqlite3.so.0+0x1a2b3"), the same in every run of one build.
//
// For a power cut the layer keeps each file's writes since its last sync in
// memory (SQLite reads them back through it, as through the system's cache)
// and writes them to the file at the sync; at the cut it gives each file the
// chosen fate and ends the process with SIGKILL. Creating and removing files
// takes effect at once, as on a disk whose folder is synced (SQLite syncs the
// folder where a commit depends on it). The layer reports only the device
// property it keeps, that a write never changes bytes outside its own range.
#pragma once

#include <string>

namespace iofault {

inline constexpr char kPlanVariable[] = "VELTRANE_IO_FAULT";
inline constexpr char kLogVariable[] = "VELTRANE_IO_LOG";

// Installs the layer when kPlanVariable is set, with the log in the file
// kLogVariable names. False, with `error`, for a plan it cannot read.
bool InstallFromEnvironment(std::string& error);

}  // namespace iofault
