// What a purge interrupted at any moment may leave of Timecard, for the tests
// that interrupt it (kills, I/O errors, power cuts): the walk removes the due
// punches in key order and commits every `batch` removals, so after k commits
// the punches past the (k * batch)-th due one in key order are still there.
// The expected survivors are worked out with SQL from an untouched copy of
// the file, never from the program's trace.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/core/dates.h"
#include "tests/e2e/program_run.h"

namespace e2e {

inline const std::string kPurgeThrough = "12/31/2022";

// Names in the working folder and data/ that are not the data files and the
// settings: what a run left behind.
inline std::vector<std::string> Leftovers(const fs::path& dir) {
  std::vector<std::string> names;
  for (const fs::path& folder : {dir, dir / "data"})
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename();
      if (name != "data" && name != "Veltrane.INI" && entry.path().extension() != ".DAT")
        names.push_back(name);
    }
  std::sort(names.begin(), names.end());
  return names;
}

// Every .DAT file in `folder` passes PRAGMA integrity_check (a hot journal
// beside one is rolled back first, as by any next open).
inline bool AllIntact(const fs::path& folder) {
  bool intact = true;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".DAT") continue;
    SqlFile file(entry.path());
    file.Exec("PRAGMA mmap_size = 268435456");
    const std::vector<std::string> check = file.Column("PRAGMA integrity_check(3)");
    EXPECT_EQ(check, std::vector<std::string>{"ok"}) << entry.path().filename();
    intact = intact && check == std::vector<std::string>{"ok"};
  }
  return intact;
}

class PurgeModel {
 public:
  // `pristine`: the untouched Timecard; `ranks`: a file of the model's own.
  PurgeModel(fs::path pristine, fs::path ranks, long batch)
      : pristine_(std::move(pristine)), ranks_(std::move(ranks)), batch_(batch) {}

  // Numbers the due punches of the untouched file in key order; the error
  // text, empty on success.
  std::string Build() {
    SqlFile ranks(ranks_, true);
    const std::string key = "COMPANY, DUTYDATE, EMP_CARD, PUNCH_TIME";
    std::string error = ranks.Exec(
        "ATTACH '" + pristine_.string() + "' AS p; CREATE TABLE due (n INTEGER PRIMARY KEY, " +
        key + "); INSERT INTO due SELECT row_number() OVER (ORDER BY " + key + "), " + key +
        " FROM p.Timecard WHERE " + Due());
    punches_ = ranks.Number("SELECT count(*) FROM p.Timecard");
    due_ = ranks.Number("SELECT count(*) FROM due");
    return error;
  }
  long Punches() const { return punches_; }
  long DueCount() const { return due_; }

  // How many due punches are gone from `copy` (a data folder): goneBefore,
  // goneBefore + batch, ... or all of them but the `skipped` ones (a run
  // that could not remove them said so), whichever leaves as many punches
  // as the file holds; -1 for none.
  long Gone(const fs::path& copy, long goneBefore, long skipped = 0) const {
    SqlFile timecard(copy / "Timecard.DAT");
    const long left = timecard.Number("SELECT count(*) FROM Timecard");
    long gone = -1;
    for (long k = 0; goneBefore + (k - 1) * batch_ < due_ - skipped; ++k) {
      const long candidate = std::min(goneBefore + k * batch_, due_ - skipped);
      if (left == punches_ - candidate) gone = candidate;
    }
    return gone;
  }

  // Whether every data file of `copy` passes integrity_check and Timecard
  // holds exactly the punches left when `gone` due punches are gone in key
  // order: every punch left an original one, unchanged, the later ones all
  // there, and the due ones exactly those past the `gone`-th, or past the
  // (gone + skipped)-th and `skipped` of those before.
  bool Intact(const fs::path& copy, long gone, long skipped = 0) const {
    const bool intact = AllIntact(copy);
    SqlFile timecard(copy / "Timecard.DAT");
    EXPECT_EQ(timecard.Exec("ATTACH '" + pristine_.string() + "' AS p; ATTACH '" +
                            ranks_.string() + "' AS r"),
              "");
    std::string same;
    for (const std::string& column :
         timecard.Column("SELECT name FROM pragma_table_info('Timecard')"))
      same += " AND p." + column + " IS t." + column;
    const long left = timecard.Number("SELECT count(*) FROM Timecard");
    const long original = timecard.Number(
        "SELECT count(*) FROM Timecard t JOIN p.Timecard p ON p.rowid = t.rowid" + same);
    const long later = timecard.Number("SELECT count(*) FROM Timecard WHERE NOT (" + Due() + ")");
    const std::string key = "COMPANY, DUTYDATE, EMP_CARD, PUNCH_TIME, count(*)";
    const long wrong = timecard.Number(
        "SELECT count(*) FROM (SELECT " + key + " FROM Timecard WHERE " + Due() +
        " GROUP BY 1, 2, 3, 4 EXCEPT SELECT " + key + " FROM r.due WHERE n > " +
        std::to_string(gone + skipped) + " GROUP BY 1, 2, 3, 4)");
    return intact && original == left && left == punches_ - gone &&
           later == punches_ - due_ && wrong == skipped;
  }

  // The cut-off as stored and the condition on it.
  static std::int32_t CutOff() { return rt::Date(12, 31, 2022); }
  static std::string Due() { return "DUTYDATE <= " + std::to_string(CutOff()); }

 private:
  fs::path pristine_, ranks_;
  long batch_;
  long punches_ = 0, due_ = 0;
};

}  // namespace e2e
