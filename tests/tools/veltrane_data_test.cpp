// veltrane-data as a user runs it: a real process on real folders.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/schema.h"
#include "errors/level.h"
#include "runtime/files/file.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "tests/support/sqlite_lock_holder.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/program_run.h"

namespace {

using ToolRun = e2e::RunResult;

class VeltraneData : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = e2e::BuiltProgram("tools/veltrane-data").string();
    ASSERT_FALSE(folder_.Path().empty());
    dir_ = folder_.Path().string();
  }

  // Runs the tool with `args` (a shell-quoted text), capturing both streams.
  ToolRun Tool(const std::string& args) { return RunCommand(tool_ + " " + args, dir_ + "/run"); }
  static std::string Read(const std::string& path) { return e2e::ReadFile(path); }
  void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  TempFolder folder_{"veltrane-data-test"};
  std::string tool_, dir_;
};

TEST_F(VeltraneData, GenerateExportImportRoundTripsEveryRecord) {
  ASSERT_EQ(Tool("generate " + dir_ + "/a --punches 3000 --companies 4 --cards 300 --seed 11").Status,
            0);
  ASSERT_EQ(Tool("export " + dir_ + "/a Timecard " + dir_ + "/a.csv").Status, 0);
  // A data file named as the copy's file stays as it is.
  const std::string punches = dir_ + "/a/data/Timecard.DAT", kept = Read(punches);
  const ToolRun over = Tool("export " + dir_ + "/a Employee " + punches);
  EXPECT_EQ(over.Status, 2);
  EXPECT_NE(over.Err.find("Timecard.DAT is a data file"), std::string::npos) << over.Err;
  EXPECT_TRUE(Read(punches) == kept);
  ToolRun imported = Tool("import " + dir_ + "/b Timecard " + dir_ + "/a.csv");
  ASSERT_EQ(imported.Status, 0) << imported.Err;
  EXPECT_EQ(imported.Out, "imported 3000 records into Timecard\n");
  ASSERT_EQ(Tool("export " + dir_ + "/b Timecard " + dir_ + "/b.csv").Status, 0);
  std::string a = Read(dir_ + "/a.csv");
  EXPECT_EQ(a, Read(dir_ + "/b.csv"));
  // A header and one line per punch, some of them double swipes.
  std::istringstream lines(a);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line.substr(0, 26), "COMPANY,DUTYDATE,SHIFT,PUN");
  std::set<std::string> distinct;
  int rows = 0;
  for (; std::getline(lines, line); ++rows) distinct.insert(line);
  EXPECT_EQ(rows, 3000);
  EXPECT_LT(distinct.size(), 3000u);
}

TEST_F(VeltraneData, SameSeedSamePunchesOtherSeedOthers) {
  for (const char* name : {"x", "y", "z"})
    ASSERT_EQ(Tool("generate " + dir_ + "/" + name + " --punches 500 --seed " +
                   (std::string(name) == "z" ? "2" : "1"))
                  .Status,
              0);
  std::string x = Tool("export " + dir_ + "/x Timecard").Out;
  EXPECT_EQ(x, Tool("export " + dir_ + "/y Timecard").Out);
  EXPECT_NE(x, Tool("export " + dir_ + "/z Timecard").Out);
}

// Without --from the tool goes back as far as the punches need; these counts
// once fell just short of its own check (and so did 10,000,000 punches).
TEST_F(VeltraneData, TheRangeTheToolChoosesHoldsThePunches) {
  const struct {
    std::string Punches, Cards;
  } cases[] = {{"797", "1"}, {"1095", "2"}, {"2084", "7"}};
  for (const auto& c : cases) {
    const ToolRun made =
        Tool("generate " + dir_ + "/r --punches " + c.Punches + " --cards " + c.Cards + " --seed 1");
    ASSERT_EQ(made.Status, 0) << c.Punches << ": " << made.Err;
    EXPECT_NE(Tool("stats " + dir_ + "/r").Out.find("Timecard: " + c.Punches + " records"),
              std::string::npos)
        << c.Punches;
    std::filesystem::remove_all(dir_ + "/r");
  }
}

TEST_F(VeltraneData, StatsCountWhatAPurgeWouldRemove) {
  ASSERT_EQ(
      Tool("generate " + dir_ + "/s --punches 2000 --from 01/02/2023 --to 01/31/2023 --seed 5")
          .Status,
      0);
  ToolRun stats = Tool("stats " + dir_ + "/s --through 01/15/2023");
  ASSERT_EQ(stats.Status, 0) << stats.Err;
  EXPECT_NE(stats.Out.find("Timecard: 2000 records"), std::string::npos) << stats.Out;
  EXPECT_NE(stats.Out.find("Timecard duty dates: 01/02/2023 to "), std::string::npos) << stats.Out;
  // The punches through the 15th, counted from the export's duty dates (all
  // in January 2023, so their texts compare as the dates do).
  std::string csv = Tool("export " + dir_ + "/s Timecard").Out;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  int through = 0;
  while (std::getline(lines, line)) through += line.substr(line.find(',') + 1, 10) <= "01/15/2023";
  EXPECT_NE(stats.Out.find("would remove " + std::to_string(through) + " punches"),
            std::string::npos)
      << stats.Out;
}

TEST_F(VeltraneData, BadRowsAreReportedByLineAndNothingIsImported) {
  ASSERT_EQ(Tool("generate " + dir_ + "/g --punches 3 --cards 3 --seed 1").Status, 0);
  std::string csv = Tool("export " + dir_ + "/g Timecard").Out;
  std::istringstream lines(csv);
  std::string header, good;
  std::getline(lines, header);
  std::getline(lines, good);
  Write(dir_ + "/bad.csv", header + "\n" + good + "\n" + "1,2,3\n" +       // line 3: too few cells
                               "x" + good.substr(good.find(',')) + "\n" +  // line 4: not a number
                               good + "\n" +                               // line 5: fine
                               "\"quoted\nacross lines\"" + good.substr(good.find(',')) +
                               "\n" +                                                // 6-7
                               "99999999999" + good.substr(good.find(',')) + "\n");  // line 8
  ToolRun run = Tool("import " + dir_ + "/h Timecard " + dir_ + "/bad.csv");
  EXPECT_EQ(run.Status, 2);
  for (const char* line :
       {":3: 3 cells", ":4: COMPANY: 'x' is not", ":6: COMPANY:", ":8: COMPANY:"})
    EXPECT_NE(run.Err.find(line), std::string::npos) << line << " in\n" << run.Err;
  EXPECT_EQ(run.Err.find(":5:"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("nothing imported"), std::string::npos);
  EXPECT_NE(Tool("stats " + dir_ + "/h").Out.find("Timecard: 0 records"), std::string::npos);
  // A spreadsheet's UTF-8 CSV: a byte order mark before the header, lines ending in CRLF.
  Write(dir_ + "/marked.csv", "\xEF\xBB\xBF" + header + "\r\n" + good + "\r\n");
  run = Tool("import " + dir_ + "/h Timecard " + dir_ + "/marked.csv");
  EXPECT_EQ(run.Status, 0) << run.Err;
}

TEST_F(VeltraneData, TooManyPlacesOrTooLongTextIsRefused) {
  ASSERT_EQ(Tool("init " + dir_ + "/t").Status, 0);
  std::string header = Tool("export " + dir_ + "/t Timecard").Out;
  auto row = [](const std::string& dec, const std::string& origin) {
    return "1,81000,1,100," + std::string("5,1,I,") + dec + "," + origin + ",5,81000,D1,,J1,0\n";
  };
  Write(dir_ + "/t.csv",
        header + row("8.25", "CLOCK") + row("8.255", "CLOCK") + row("8.25", "THIRTEEN CHAR"));
  ToolRun run = Tool("import " + dir_ + "/t Timecard " + dir_ + "/t.csv");
  EXPECT_EQ(run.Status, 2);
  EXPECT_NE(run.Err.find(":3: PUNCH_TIME_DEC: '8.255' has more than 2 places"), std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find(":4: ORIGIN: text longer than 12"), std::string::npos) << run.Err;
}

// Export then import gives back the same bytes: a ctext field's trailing
// blanks are part of its value (JOBNO is part of a key).
TEST_F(VeltraneData, ExportKeepsTheTrailingBlanksOfCtextFields) {
  ASSERT_EQ(Tool("init " + dir_ + "/a").Status, 0);
  std::string header = Tool("export " + dir_ + "/a Timecard").Out;
  Write(dir_ + "/in.csv", header + "1,81000,1,100,5,1,I,8.25,CLOCK,5,81000,\"D1  \",,\" J1 \",0\n");
  ASSERT_EQ(Tool("import " + dir_ + "/a Timecard " + dir_ + "/in.csv").Status, 0);
  std::string exported = Tool("export " + dir_ + "/a Timecard").Out;
  EXPECT_NE(exported.find(",\"D1  \",,\" J1 \","), std::string::npos) << exported;
  Write(dir_ + "/a.csv", exported);
  ASSERT_EQ(Tool("import " + dir_ + "/b Timecard " + dir_ + "/a.csv").Status, 0);
  EXPECT_EQ(Tool("export " + dir_ + "/b Timecard").Out, exported);
}

// A record that another tool stored in a form its fields cannot hold stops an
// export with a message naming the column, instead of going into the copy
// changed; the copy made before stays as it was.
TEST_F(VeltraneData, ARecordTheFieldsCannotHoldStopsTheExport) {
  ASSERT_EQ(Tool("generate " + dir_ + "/a --punches 500").Status, 0);
  ASSERT_EQ(Tool("export " + dir_ + "/a Timecard " + dir_ + "/copy.csv").Status, 0);
  std::string before = Read(dir_ + "/copy.csv");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ + "/a/data/Timecard.DAT").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "UPDATE Timecard SET ORIGIN = 'THIRTEEN CHARS' WHERE rowid = 300",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  ToolRun run = Tool("export " + dir_ + "/a Timecard " + dir_ + "/copy.csv");
  EXPECT_EQ(run.Status, 2);
  EXPECT_NE(run.Err.find("ORIGIN"), std::string::npos) << run.Err;
  EXPECT_TRUE(Read(dir_ + "/copy.csv") == before);
}

// Dates and times are written for people, and files exported before with
// day numbers and hundredths still load.
TEST_F(VeltraneData, DatesAndTimesAreReadableAndOldNumbersStillLoad) {
  ASSERT_EQ(Tool("init " + dir_ + "/o").Status, 0);
  std::string header = Tool("export " + dir_ + "/o Timecard").Out;
  Write(dir_ + "/old.csv", header + "1,81446,1,2130006,5,1,I,5.91,CLOCK,5,81445,D1,,J1,0\n" +
                               "2,0,1,0,6,1,O,0,EDIT,6,0,D2,,J2,0\n");
  ToolRun imported = Tool("import " + dir_ + "/o Timecard " + dir_ + "/old.csv");
  ASSERT_EQ(imported.Status, 0) << imported.Err;
  std::string exported = Tool("export " + dir_ + "/o Timecard").Out;
  EXPECT_EQ(exported, header +
                          "1,12/25/2023,1,05:55:00.06,5,1,I,5.91,CLOCK,5,12/24/2023,D1,,J1,0\n"
                          "2,,1,00:00:00.00,6,1,O,0.00,EDIT,6,,D2,,J2,0\n");
  Write(dir_ + "/new.csv", exported);
  imported = Tool("import " + dir_ + "/n Timecard " + dir_ + "/new.csv");
  ASSERT_EQ(imported.Status, 0) << imported.Err;
  EXPECT_EQ(Tool("export " + dir_ + "/n Timecard").Out, exported);
  Write(dir_ + "/bad.csv", header + "1,12/25/2023,1,24:00:00.00,5,1,I,5.91,CLOCK,5,0,D1,,J1,0\n");
  EXPECT_NE(Tool("import " + dir_ + "/x Timecard " + dir_ + "/bad.csv")
                .Err.find("PUNCH_TIME: '24:00:00.00' is not a time"),
            std::string::npos);
}

// A single value of SQL over `db`.
long long Scalar(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  long long value = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    value = sqlite3_column_int64(statement, 0);
  EXPECT_GE(value, 0) << sql << ": " << sqlite3_errmsg(db);
  sqlite3_finalize(statement);
  return value;
}

// The copy kept before a purge holds exactly the punches a purge through the
// date removes (dated on or before it, undated ones too), each as often as
// it is in the file; the same selection made in SQL on the files decides.
TEST_F(VeltraneData, ExportThroughWritesExactlyThePunchesAPurgeRemoves) {
  std::string p = dir_ + "/p", kept = dir_ + "/kept.csv";
  ASSERT_EQ(Tool("generate " + p + " --punches 3000 --from 01/02/2023 --to 01/31/2023 --seed 7")
                .Status,
            0);
  std::string header = Tool("export " + p + " Timecard").Out;
  header.erase(header.find('\n') + 1);
  Write(dir_ + "/undated.csv", header + "1,,1,08:00:00.00,5,1,I,8.00,CLOCK,5,,D1,,J1,0\n");
  ASSERT_EQ(Tool("import " + p + " Timecard " + dir_ + "/undated.csv").Status, 0);

  ToolRun run = Tool("export " + p + " Timecard " + kept + " --through 01/17/2023");
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_FALSE(std::filesystem::exists(kept + ".part"));
  ASSERT_EQ(Tool("import " + dir_ + "/k Timecard " + kept).Status, 0);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((p + "/data/Timecard.DAT").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, ("ATTACH '" + dir_ + "/k/data/Timecard.DAT' AS k").c_str(), nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  // Day numbers count from 28 December 1800.
  const std::string cutoff = "CAST(julianday('2023-01-17') - julianday('1800-12-28') AS INTEGER)";
  const std::string removed = "FROM main.Timecard WHERE DUTYDATE <= " + cutoff;
  long long count = Scalar(db, "SELECT COUNT(*) " + removed);
  EXPECT_GT(Scalar(db, "SELECT COUNT(*) FROM Timecard WHERE DUTYDATE = " + cutoff), 0);
  EXPECT_GT(Scalar(db, "SELECT COUNT(*) FROM Timecard WHERE DUTYDATE = " + cutoff + " + 1"), 0);
  EXPECT_EQ(Scalar(db, "SELECT COUNT(*) FROM k.Timecard"), count);
  EXPECT_EQ(run.Out, "exported " + std::to_string(count) +
                         " punches dated through 01/17/2023 from Timecard to " + kept + "\n");
  // Every distinct punch with the number of times it is there, both ways.
  const std::string columns =
      "COMPANY, DUTYDATE, SHIFT, PUNCH_TIME, EMP_CARD, PUNCHLOC, PUNCHTYPE, PUNCH_TIME_DEC, "
      "ORIGIN, EMPNO, PUNCHDATE, DEPT, OTHERCODE, JOBNO, FUNCT";
  const std::string inFile = "SELECT " + columns + ", COUNT(*) " + removed + " GROUP BY " + columns;
  const std::string inCopy =
      "SELECT " + columns + ", COUNT(*) FROM k.Timecard GROUP BY " + columns;
  EXPECT_EQ(Scalar(db, "SELECT COUNT(*) FROM (" + inFile + " EXCEPT " + inCopy + ")"), 0);
  EXPECT_EQ(Scalar(db, "SELECT COUNT(*) FROM (" + inCopy + " EXCEPT " + inFile + ")"), 0);
  sqlite3_close(db);

  // An export that fails leaves the copy made before as it was.
  std::string before = Read(kept);
  EXPECT_EQ(Tool("export " + dir_ + "/nowhere Timecard " + kept + " --through 01/17/2023").Status,
            2);
  EXPECT_EQ(Read(kept), before);
  EXPECT_FALSE(std::filesystem::exists(kept + ".part"));
}

// The copy kept before a purge, made while the purge runs: the export reads
// one state of the file from its first punch to its last, however slowly its
// reader takes the copy, and the purge waits for it or gives up. Whichever
// way it goes, the copy is the file as it was, the purge's summary counts
// what left the file, and no punch is in neither.
TEST_F(VeltraneData, AnExportDuringAPurgeCopiesOneStateAndLosesNothing) {
  const std::string p = dir_ + "/p", through = "03/31/2023";
  ASSERT_EQ(Tool("generate " + p + " --punches 12000 --from 01/02/2023 --to 06/30/2023 --seed 7")
                .Status,
            0);
  std::filesystem::copy(p, dir_ + "/before", std::filesystem::copy_options::recursive);
  const std::string expected = Tool("export " + dir_ + "/before Timecard --through " + through).Out;
  const auto punchesIn = [&](const std::string& folder) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open((folder + "/data/Timecard.DAT").c_str(), &db), SQLITE_OK);
    long long count = Scalar(db, "SELECT COUNT(*) FROM Timecard");
    sqlite3_close(db);
    return count;
  };

  // The export stops at its first buffer of output until the purge has had
  // its time, as when its reader is slow.
  std::FILE* exported = ::popen(
      (tool_ + " export " + p + " Timecard --through " + through + " 2>" + dir_ + "/export.err")
          .c_str(),
      "r");
  ASSERT_NE(exported, nullptr);
  std::string copy;
  char chunk[4096];
  ASSERT_NE(std::fgets(chunk, sizeof chunk, exported), nullptr);
  copy += chunk;
  ToolRun purge;
  std::thread purging([&] {
    purge = RunCommand("cd " + p + " && " + e2e::BuiltProgram("app/veltrane").string() +
                           " --through " + through,
                       dir_ + "/purge");
  });
  std::this_thread::sleep_for(std::chrono::seconds(6));
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, exported)) > 0;)
    copy.append(chunk, n);
  const int exportStatus = ::pclose(exported);
  purging.join();

  EXPECT_EQ(exportStatus, 0) << Read(dir_ + "/export.err");
  EXPECT_TRUE(copy == expected) << copy.size() << " bytes copied of " << expected.size();
  const long long copied = std::count(expected.begin(), expected.end(), '\n') - 1;
  EXPECT_EQ(Read(dir_ + "/export.err"), "exported " + std::to_string(copied) +
                                            " punches dated through " + through +
                                            " from Timecard\n");
  // The summary's count: "removed N punches through ...", "... after removing N punches through".
  const std::size_t counted = purge.Err.find(" punches through ");
  ASSERT_NE(counted, std::string::npos) << purge.Err;
  const std::size_t number = purge.Err.rfind(' ', counted - 1) + 1;
  const long long removed = std::stoll(purge.Err.substr(number, counted - number));
  EXPECT_EQ(punchesIn(p), punchesIn(dir_ + "/before") - removed) << purge.Err;
}

// Check lists whatever is wrong in a folder's data files, record by record
// where a record cannot be read, exits 2 for it and changes nothing; a sound
// folder gives 0.
TEST_F(VeltraneData, CheckListsWhatIsWrongAndChangesNothing) {
  const std::string sound = dir_ + "/generated";
  ASSERT_EQ(Tool("generate " + sound + " --punches 3000 --cards 300 --seed 2").Status, 0);
  const struct {
    std::string Name;
    std::function<void(const std::string& data)> Damage;
    int Exit;
    std::vector<std::string> Lines;  // each begins a line of the listing
  } cases[] = {
      {"sound", [](const std::string&) {}, 0, {"all sound: 10 data files, "}},
      {"unreadable records",
       [](const std::string& data) {
         sqlite3* db = nullptr;
         sqlite3_open((data + "/Timecard.DAT").c_str(), &db);
         sqlite3_exec(db,
                      "UPDATE Timecard SET DEPT = printf('%.100c', 'X') WHERE rowid = 200;"
                      "UPDATE Timecard SET PUNCH_TIME = 'late' WHERE rowid = 2500",
                      nullptr, nullptr, nullptr);
         sqlite3_close(db);
       },
       2,
       {"data/Timecard.DAT: record 200 (COMPANY=", "data/Timecard.DAT: record 2500 (COMPANY="}},
      {"a damaged index",
       [](const std::string& data) {
         sqlite3* db = nullptr;
         sqlite3_open((data + "/Timecard.DAT").c_str(), &db);
         const long long page =
             Scalar(db, "SELECT rootpage FROM sqlite_master WHERE name = 'KEYCOMPCARDDATEPTIME'");
         const long long size = Scalar(db, "PRAGMA page_size");
         sqlite3_close(db);
         std::fstream file(data + "/Timecard.DAT", std::ios::in | std::ios::out | std::ios::binary);
         file.seekp((page - 1) * size);
         file << std::string(64, '\x7f');
       },
       2,
       {"data/Timecard.DAT: "}},
      {"a missing file",
       [](const std::string& data) { std::filesystem::remove(data + "/HOS.DAT"); },
       2,
       {"data/HOS.DAT: no such file"}},
  };
  for (const auto& c : cases) {
    const std::string folder = dir_ + "/" + c.Name;
    std::filesystem::copy(sound, folder, std::filesystem::copy_options::recursive);
    c.Damage(folder + "/data");
    const std::string before = Read(folder + "/data/Timecard.DAT");
    const ToolRun run = Tool("check '" + folder + "'");
    EXPECT_EQ(run.Status, c.Exit) << c.Name << "\n" << run.Out << run.Err;
    for (const auto& line : c.Lines)
      EXPECT_TRUE(run.Out.starts_with(line) || run.Out.find("\n" + line) != std::string::npos)
          << c.Name << ": " << line << " in\n" << run.Out;
    EXPECT_TRUE(Read(folder + "/data/Timecard.DAT") == before) << c.Name;
  }
  // The record's line names its number, key values, column and what is wrong.
  const ToolRun unreadable = Tool("check '" + dir_ + "/unreadable records'");
  EXPECT_NE(unreadable.Out.find("): column DEPT holds a text of 100 characters ('XXXX"),
            std::string::npos)
      << unreadable.Out;
  EXPECT_NE(
      unreadable.Out.find("): column PUNCH_TIME holds 'late', but field PUNCH_TIME is a number"),
      std::string::npos)
      << unreadable.Out;
  EXPECT_EQ(Tool("check").Status, 1);
}

// Another program commits to the punch file for four seconds (as a purge
// commits its batch) when the readers come to it: each waits for the commit,
// opening as reading, and reads the file, rather than fail at its open (check
// would list a sound file as a problem).
TEST_F(VeltraneData, ReadersWaitForACommitInProgress) {
  const std::string g = dir_ + "/g";
  ASSERT_EQ(Tool("generate " + g + " --punches 3000 --cards 300 --seed 8").Status, 0);
  const std::string commands[] = {"export " + g + " Timecard", "stats " + g, "check " + g};
  std::vector<ToolRun> runs(std::size(commands));
  {
    SqliteLockHolder writer(g + "/data/Timecard.DAT", "BEGIN EXCLUSIVE;", dir_ + "/lock");
    ASSERT_TRUE(writer.Ready());
    std::vector<std::thread> readers;
    for (std::size_t i = 0; i < std::size(commands); ++i)
      readers.emplace_back([&, i] {
        runs[i] = RunCommand(tool_ + " " + commands[i], dir_ + "/run" + std::to_string(i));
      });
    std::this_thread::sleep_for(std::chrono::seconds(4));
    writer.Release();
    for (auto& reader : readers) reader.join();
  }
  for (std::size_t i = 0; i < std::size(commands); ++i)
    EXPECT_EQ(runs[i].Status, 0) << commands[i] << "\n" << runs[i].Out << runs[i].Err;
  EXPECT_NE(runs[0].Err.find("exported 3000 records of Timecard"), std::string::npos);
  EXPECT_NE(runs[1].Out.find("Timecard: 3000 records"), std::string::npos);
}

// A CSV imported twice would put its punches in the file twice; import
// refuses rows identical in every field to records already there, naming how
// many and the first, unless told to take them.
TEST_F(VeltraneData, ImportRefusesRecordsAlreadyInTheFile) {
  const std::string g = dir_ + "/g", csv = dir_ + "/g.csv";
  ASSERT_EQ(Tool("generate " + g + " --punches 3000 --cards 300 --seed 6").Status, 0);
  ASSERT_EQ(Tool("export " + g + " Timecard " + csv).Status, 0);
  std::string text = Read(csv);
  // A new punch before the copied ones: the first duplicate is at line 3.
  const std::size_t second = text.find('\n') + 1;
  std::string fresh = text.substr(second, text.find('\n', second) - second + 1);
  fresh.replace(0, fresh.find(','), "9");
  Write(csv, text.substr(0, second) + fresh + text.substr(second));

  ToolRun refused = Tool("import " + g + " Timecard " + csv);
  EXPECT_EQ(refused.Status, 2);
  EXPECT_NE(refused.Err.find("nothing imported: 3000 row(s) of " + csv +
                             " are identical in every field to records already in Timecard, the "
                             "first at line 3"),
            std::string::npos)
      << refused.Err;
  EXPECT_NE(Tool("stats " + g).Out.find("Timecard: 3000 records"), std::string::npos);
  ToolRun allowed = Tool("import " + g + " Timecard " + csv + " --allow-duplicates");
  EXPECT_EQ(allowed.Status, 0) << allowed.Err;
  EXPECT_NE(Tool("stats " + g).Out.find("Timecard: 6001 records"), std::string::npos);
}

// Generate dates the punches up to the last working day through --to (12/31/2023
// is a Sunday), with --from or without it, however many punches there are.
TEST_F(VeltraneData, GenerateDatesThePunchesThroughTo) {
  const struct {
    std::string Options, Last;
  } cases[] = {
      {"--punches 20000", "12/29/2023"},
      {"--punches 3000 --to 06/30/2023", "06/30/2023"},
      {"--punches 797 --cards 1 --to 12/31/2023", "12/29/2023"},
      {"--punches 5000 --from 01/01/2021 --to 12/31/2023", "12/29/2023"},
  };
  for (const auto& c : cases) {
    const ToolRun made = Tool("generate " + dir_ + "/d " + c.Options + " --seed 1");
    ASSERT_EQ(made.Status, 0) << c.Options << ": " << made.Err;
    const std::string stats = Tool("stats " + dir_ + "/d").Out;
    EXPECT_NE(stats.find(" to " + c.Last + "\n"), std::string::npos) << c.Options << "\n" << stats;
    std::filesystem::remove_all(dir_ + "/d");
  }
}

// Long work draws a live line on a terminal, wiped before the summary; off a
// terminal only the summary is written, and --quiet silences both.
TEST_F(VeltraneData, ProgressShowsLiveOnATerminalOnly) {
  auto generate = [&](const std::string& folder) {
    return std::vector<std::string>{tool_,    "generate", dir_ + "/" + folder, "--punches",
                                    "3000", "--seed",   "3"};
  };
  ToolRun live = RunInTerminal(generate("a"));
  ASSERT_EQ(live.Status, 0) << live.Out;
  EXPECT_EQ(live.Out.find("\rgenerating: 0 of 3000 punches, 0%"), 0u) << live.Out;
  std::string summary =
      "generated 3000 punches in data/Timecard.DAT, with 36 departments, 6 pay types and 2905 "
      "employees";
  EXPECT_TRUE(live.Out.ends_with("  \r" + summary + "\r\n")) << live.Out;

  auto quiet = generate("b");
  quiet.push_back("--quiet");
  ToolRun silent = RunInTerminal(quiet);
  EXPECT_EQ(silent.Status, 0);
  EXPECT_EQ(silent.Out, "");

  ToolRun off = Tool("generate " + dir_ + "/c --punches 3000 --seed 3");
  EXPECT_EQ(off.Status, 0);
  EXPECT_EQ(off.Out + off.Err, summary + "\n");
  // Exported to standard output, the summary keeps off the CSV.
  off = Tool("export " + dir_ + "/c Timecard");
  EXPECT_EQ(off.Err, "exported 3000 records of Timecard\n");
  EXPECT_EQ(Tool("export " + dir_ + "/c Timecard -q").Err, "");
}

TEST_F(VeltraneData, CommandLineMistakesGetAClearMessage) {
  struct Case {
    std::string args;
    int exit;
    std::string message;
  } cases[] = {
      {"", 1, "no command"},
      {"frobnicate " + dir_, 1, "unknown command 'frobnicate'"},
      {"generate " + dir_ + "/q", 1, "generate needs --punches N"},
      {"generate " + dir_ + "/q --punches many", 1, "--punches must be a whole number"},
      {"generate " + dir_ + "/q --punches 10 --from 02/30/2023", 1, "--from must be a date"},
      {"generate " + dir_ + "/q --punches 10 --colour red", 1, "unknown option '--colour'"},
      {"generate " + dir_ + "/q --punches=ten", 1, "--punches must be a whole number"},
      {"generate --punches 10", 1, "generate needs FOLDER"},
      {"export " + dir_ + " Employee --through 01/01/2020", 1, "--through applies to Timecard"},
      {"export " + dir_ + " Timecard --through 13/01/2020", 1, "--through must be a date"},
      {"export " + dir_ + "/nowhere Timecard", 2, "cannot enter folder"},
      {"export " + dir_ + " Nothing", 2, "no data file is labelled Nothing"},
      {"import " + dir_ + " Timecard " + dir_ + "/missing.csv", 2, "cannot read"},
      // --to is named with its date, given or not.
      {"generate " + dir_ + "/q --punches 5 --from 01/08/2024", 2,
       "--from 01/08/2024 --to 12/31/2023: --from is after --to"},
      {"generate " + dir_ + "/q --punches 5 --from 01/06/2024 --to 01/07/2024", 2,
       "the range holds no working day"},
  };
  for (const auto& c : cases) {
    ToolRun run = Tool(c.args);
    EXPECT_EQ(run.Status, c.exit) << c.args;
    EXPECT_NE(run.Err.find(c.message), std::string::npos) << c.args << ": " << run.Err;
  }
}

}  // namespace

// The program's process-wide objects and the thread's dictionary, working in
// `folder`, for the life of the object.
class ProgramDictionary {
 public:
  explicit ProgramDictionary(const std::string& folder) {
    std::filesystem::current_path(folder);
    rt::SetBackend(&backend_);
    app::BuildGlobals();
    app::MainRegisterFiles();
    app::GlobalErrors()->Init(app::ErrorStatusVar);
    dataaccess::ThreadRegistry().Init();
    app::DictionaryInit();
  }
  ~ProgramDictionary() {
    app::MainThreadEnd();
    dataaccess::ThreadRegistry().Kill();
    app::ReleaseGlobals();
    rt::SetBackend(nullptr);
    std::filesystem::current_path(previous_);
  }
  ProgramDictionary(const ProgramDictionary&) = delete;
  ProgramDictionary& operator=(const ProgramDictionary&) = delete;

  // Reads the record of `decl` whose `key` holds `values` (field number,
  // value) through its relation manager, opened for the change to come.
  dataaccess::RelationManager& Read(const rt::FileDeclaration& decl, const char* key,
                                    const std::vector<std::pair<int, std::string>>& values) {
    dataaccess::RelationManager& manager = *app::RelationManagerOf(decl);
    EXPECT_EQ(manager.Open(0), errors::LevelBenign);
    for (const auto& [field, value] : values) manager.Me->File->Field(field).SetString(value);
    EXPECT_EQ(manager.Me->Fetch(decl.KeyNumber(key)), errors::LevelBenign) << decl.Label();
    manager.SaveLinks();
    return manager;
  }

 private:
  std::filesystem::path previous_ = std::filesystem::current_path();
  rt::HeadlessBackend backend_;
};

// Generate makes the departments, pay types and employees its punches belong
// to: every link the dictionary's relations follow finds its record, no
// record is there without punches, a second generate adds only what is new,
// and the relation managers reach the records: deleting an employee takes
// its punches, renaming a pay type carries over to its employees.
// Another process is writing the employee file when generate comes to it and
// finishes two seconds later: generate waits for it, rather than stop at its
// first employee with its punches already added.
TEST_F(VeltraneData, GenerateWaitsForAnotherWriterOfItsFiles) {
  const std::string g = dir_ + "/g";
  ASSERT_EQ(Tool("generate " + g + " --punches 3000 --cards 40 --seed 4").Status, 0);
  ToolRun second;
  {
    SqliteLockHolder writer(g + "/data/Employee.DAT", "BEGIN IMMEDIATE;", dir_ + "/lock");
    ASSERT_TRUE(writer.Ready());
    std::thread finish([&] {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      writer.Release();
    });
    second = Tool("generate " + g + " --punches 3000 --cards 60 --seed 5");
    finish.join();
  }
  EXPECT_EQ(second.Status, 0) << second.Err;
  EXPECT_NE(second.Out.find("0 pay types and 20 employees"), std::string::npos) << second.Out;
}

TEST_F(VeltraneData, GenerateMakesTheRecordsThePunchesBelongTo) {
  const std::string g = dir_ + "/g";
  ToolRun first = Tool("generate " + g + " --punches 3000 --cards 40 --seed 4");
  ASSERT_EQ(first.Status, 0) << first.Err;
  EXPECT_NE(first.Out.find("6 pay types and 40 employees"), std::string::npos) << first.Out;
  ToolRun second = Tool("generate " + g + " --punches 3000 --cards 60 --seed 5");
  ASSERT_EQ(second.Status, 0) << second.Err;
  EXPECT_NE(second.Out.find("0 pay types and 20 employees"), std::string::npos) << second.Out;

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((g + "/data/Timecard.DAT").c_str(), &db), SQLITE_OK);
  for (const char* file : {"Employee", "Dept", "PayType"})
    ASSERT_EQ(sqlite3_exec(db,
                           ("ATTACH '" + g + "/data/" + file + ".DAT' AS " + file).c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  const char* orphans[] = {
      "Timecard t WHERE NOT EXISTS (SELECT 1 FROM Employee.Employee e "
      "WHERE e.COMPANY = t.COMPANY AND e.CARDNO = t.EMP_CARD)",
      "Timecard t WHERE NOT EXISTS (SELECT 1 FROM Dept.Dept d "
      "WHERE d.COMPANY = t.COMPANY AND d.DEPT = t.DEPT)",
      "Employee.Employee e WHERE NOT EXISTS (SELECT 1 FROM Dept.Dept d "
      "WHERE d.COMPANY = e.COMPANY AND d.DEPT = e.DEPT)",
      "Employee.Employee e WHERE NOT EXISTS (SELECT 1 FROM PayType.PayType p "
      "WHERE p.COMPANY = e.COMPANY AND p.CODE = e.PAYTYPE)",
      "Employee.Employee e WHERE NOT EXISTS (SELECT 1 FROM Timecard t "
      "WHERE t.COMPANY = e.COMPANY AND t.EMP_CARD = e.CARDNO)",
  };
  for (const char* orphan : orphans)
    EXPECT_EQ(Scalar(db, std::string("SELECT COUNT(*) FROM ") + orphan), 0) << orphan;
  EXPECT_EQ(Scalar(db, "SELECT COUNT(*) FROM Employee"), 60);
  const long long punches = Scalar(db, "SELECT COUNT(*) FROM Timecard");
  const std::string card1001 = "FROM Timecard WHERE COMPANY = 2 AND EMP_CARD = 1001";
  const long long ofCard1001 = Scalar(db, "SELECT COUNT(*) " + card1001);
  const std::string salaried = "SELECT COUNT(*) FROM Employee WHERE COMPANY = 1 AND PAYTYPE = ";
  const long long salariedBefore = Scalar(db, salaried + "'SA'");
  EXPECT_GT(ofCard1001, 0);
  EXPECT_GT(salariedBefore, 0);

  {
    ProgramDictionary dictionary(g);
    using namespace app;
    auto& employee = dictionary.Read(EmployeeFile(), "EMP:BYCOMPCARD",
                                     {{emp::kCompany, "2"}, {emp::kCardNo, "1001"}});
    EXPECT_EQ(employee.Delete(0), errors::LevelBenign);
    employee.Close(0);
    auto& payType = dictionary.Read(PayTypeFile(), "PAY:BYCOMPCODE",
                                    {{pay::kCompany, "1"}, {pay::kCode, "SA"}});
    payType.Me->File->Field(pay::kCode).SetString("SAL");
    EXPECT_EQ(payType.Update(0), errors::LevelBenign);
    payType.Close(0);
  }
  EXPECT_EQ(Scalar(db, "SELECT COUNT(*) " + card1001), 0);
  EXPECT_EQ(Scalar(db, "SELECT COUNT(*) FROM Timecard"), punches - ofCard1001);
  EXPECT_EQ(Scalar(db, salaried + "'SA'"), 0);
  EXPECT_EQ(Scalar(db, salaried + "'SAL'"), salariedBefore);
  sqlite3_close(db);
}
