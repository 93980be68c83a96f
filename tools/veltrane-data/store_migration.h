// Moving a working folder's data between its SQLite files (FOLDER/data/) and
// the tables of a PostgreSQL server, both ways, all or nothing:
//
//   to the server    every data file is read in one read transaction (one
//                    state; a purge waits) and copied into its table in one
//                    server transaction begun before the first table is made,
//                    so a failure, a lost connection or a killed process
//                    leaves the server as it was: tables made are gone, and a
//                    table that was there (it must be empty) stays empty.
//   from the server  every table is read in one snapshot and copied into new
//                    files made in a folder of their own beside data/
//                    (FOLDER/.veltrane-migrate-<pid>/data/), in one
//                    transaction; only once they are committed and compared
//                    do they move into data/: the whole folder in one rename
//                    when there is no data/, else file by file, never over a
//                    file (an existing data file refuses the migration before
//                    anything is read). A killed migration leaves its own
//                    folder behind and data/ as it was; the next migration
//                    removes the folders of migrations whose process is gone.
//
// Before the target is made visible, each file's records are read back from
// it and compared with what was read from the source: the count, and a
// checksum (64-bit FNV-1a) over the record buffers in the order of the file's
// first key. Record numbers are not compared: the copy numbers the records in
// the order it adds them, which is that key order.
//
// Both run inside FOLDER (the current directory) and leave the server choice
// (rt::postgres::SetServer) empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/veltrane-data/progress_line.h"

namespace veltrane_data {

// What was copied of one data file: its label, records and checksum (the
// same on both sides once a migration succeeds).
struct MigratedFile {
  std::string Label;
  std::int64_t Records = 0;
  std::uint64_t Checksum = 0;
};

// `connection` is a libpq connection string or URI. True when every file is
// on the other side and compared equal, with `copied` saying what; false with
// one line in `error`, the target then as it was.
bool MigrateToServer(const std::string& connection, ProgressLine& progress,
                     std::vector<MigratedFile>& copied, std::string& error);
bool MigrateFromServer(const std::string& connection, ProgressLine& progress,
                       std::vector<MigratedFile>& copied, std::string& error);

}  // namespace veltrane_data
