// veltrane-data as a user runs it: a real process on real folders.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/temp_folder.h"

namespace {

struct ToolRun {
  int Exit = -1;
  std::string Out, Err;
};

class VeltraneData : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("VELTRANE_TEST_BINARY_DIR");
    ASSERT_NE(build, nullptr) << "VELTRANE_TEST_BINARY_DIR is not set";
    tool_ = std::string(build) + "/tools/veltrane-data";
    ASSERT_FALSE(folder_.Path().empty());
    dir_ = folder_.Path().string();
  }

  // Runs the tool with `args` (a shell-quoted text), capturing both streams.
  ToolRun Tool(const std::string& args) {
    std::string out = dir_ + "/.out", err = dir_ + "/.err";
    int status = std::system((tool_ + " " + args + " >" + out + " 2>" + err).c_str());
    ToolRun run;
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = Read(out);
    run.Err = Read(err);
    return run;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  TempFolder folder_{"veltrane-data-test"};
  std::string tool_, dir_;
};

TEST_F(VeltraneData, GenerateExportImportRoundTripsEveryRecord) {
  ASSERT_EQ(Tool("generate " + dir_ + "/a --punches 3000 --companies 4 --cards 300 --seed 11").Exit,
            0);
  ASSERT_EQ(Tool("export " + dir_ + "/a Timecard " + dir_ + "/a.csv").Exit, 0);
  ToolRun imported = Tool("import " + dir_ + "/b Timecard " + dir_ + "/a.csv");
  ASSERT_EQ(imported.Exit, 0) << imported.Err;
  EXPECT_EQ(imported.Out, "imported 3000 records into Timecard\n");
  ASSERT_EQ(Tool("export " + dir_ + "/b Timecard " + dir_ + "/b.csv").Exit, 0);
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
                  .Exit,
              0);
  std::string x = Tool("export " + dir_ + "/x Timecard").Out;
  EXPECT_EQ(x, Tool("export " + dir_ + "/y Timecard").Out);
  EXPECT_NE(x, Tool("export " + dir_ + "/z Timecard").Out);
}

TEST_F(VeltraneData, StatsCountWhatAPurgeWouldRemove) {
  ASSERT_EQ(
      Tool("generate " + dir_ + "/s --punches 2000 --from 01/02/2023 --to 01/31/2023 --seed 5")
          .Exit,
      0);
  ToolRun stats = Tool("stats " + dir_ + "/s --through 01/15/2023");
  ASSERT_EQ(stats.Exit, 0) << stats.Err;
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
  ASSERT_EQ(Tool("generate " + dir_ + "/g --punches 3 --cards 3 --seed 1").Exit, 0);
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
  EXPECT_EQ(run.Exit, 1);
  for (const char* line :
       {":3: 3 cells", ":4: COMPANY: 'x' is not", ":6: COMPANY:", ":8: COMPANY:"})
    EXPECT_NE(run.Err.find(line), std::string::npos) << line << " in\n" << run.Err;
  EXPECT_EQ(run.Err.find(":5:"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("nothing imported"), std::string::npos);
  EXPECT_NE(Tool("stats " + dir_ + "/h").Out.find("Timecard: 0 records"), std::string::npos);
}

TEST_F(VeltraneData, TooManyPlacesOrTooLongTextIsRefused) {
  ASSERT_EQ(Tool("init " + dir_ + "/t").Exit, 0);
  std::string header = Tool("export " + dir_ + "/t Timecard").Out;
  auto row = [](const std::string& dec, const std::string& origin) {
    return "1,81000,1,100," + std::string("5,1,I,") + dec + "," + origin + ",5,81000,D1,,J1,0\n";
  };
  Write(dir_ + "/t.csv",
        header + row("8.25", "CLOCK") + row("8.255", "CLOCK") + row("8.25", "THIRTEEN CHAR"));
  ToolRun run = Tool("import " + dir_ + "/t Timecard " + dir_ + "/t.csv");
  EXPECT_EQ(run.Exit, 1);
  EXPECT_NE(run.Err.find(":3: PUNCH_TIME_DEC: '8.255' has more than 2 places"), std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find(":4: ORIGIN: text longer than 12"), std::string::npos) << run.Err;
}

// Export then import gives back the same bytes: a ctext field's trailing
// blanks are part of its value (JOBNO is part of a key).
TEST_F(VeltraneData, ExportKeepsTheTrailingBlanksOfCtextFields) {
  ASSERT_EQ(Tool("init " + dir_ + "/a").Exit, 0);
  std::string header = Tool("export " + dir_ + "/a Timecard").Out;
  Write(dir_ + "/in.csv", header + "1,81000,1,100,5,1,I,8.25,CLOCK,5,81000,\"D1  \",,\" J1 \",0\n");
  ASSERT_EQ(Tool("import " + dir_ + "/a Timecard " + dir_ + "/in.csv").Exit, 0);
  std::string exported = Tool("export " + dir_ + "/a Timecard").Out;
  EXPECT_NE(exported.find(",\"D1  \",,\" J1 \","), std::string::npos) << exported;
  Write(dir_ + "/a.csv", exported);
  ASSERT_EQ(Tool("import " + dir_ + "/b Timecard " + dir_ + "/a.csv").Exit, 0);
  EXPECT_EQ(Tool("export " + dir_ + "/b Timecard").Out, exported);
}

// Dates and times are written for people, and files exported before with
// day numbers and hundredths still load.
TEST_F(VeltraneData, DatesAndTimesAreReadableAndOldNumbersStillLoad) {
  ASSERT_EQ(Tool("init " + dir_ + "/o").Exit, 0);
  std::string header = Tool("export " + dir_ + "/o Timecard").Out;
  Write(dir_ + "/old.csv", header + "1,81446,1,2130006,5,1,I,5.91,CLOCK,5,81445,D1,,J1,0\n" +
                               "2,0,1,0,6,1,O,0,EDIT,6,0,D2,,J2,0\n");
  ToolRun imported = Tool("import " + dir_ + "/o Timecard " + dir_ + "/old.csv");
  ASSERT_EQ(imported.Exit, 0) << imported.Err;
  std::string exported = Tool("export " + dir_ + "/o Timecard").Out;
  EXPECT_EQ(exported, header +
                          "1,12/25/2023,1,05:55:00.06,5,1,I,5.91,CLOCK,5,12/24/2023,D1,,J1,0\n"
                          "2,,1,00:00:00.00,6,1,O,0.00,EDIT,6,,D2,,J2,0\n");
  Write(dir_ + "/new.csv", exported);
  imported = Tool("import " + dir_ + "/n Timecard " + dir_ + "/new.csv");
  ASSERT_EQ(imported.Exit, 0) << imported.Err;
  EXPECT_EQ(Tool("export " + dir_ + "/n Timecard").Out, exported);
  Write(dir_ + "/bad.csv", header + "1,12/25/2023,1,24:00:00.00,5,1,I,5.91,CLOCK,5,0,D1,,J1,0\n");
  EXPECT_NE(Tool("import " + dir_ + "/x Timecard " + dir_ + "/bad.csv")
                .Err.find("PUNCH_TIME: '24:00:00.00' is not a time"),
            std::string::npos);
}

TEST_F(VeltraneData, CommandLineMistakesGetAClearMessage) {
  struct Case {
    std::string args;
    int exit;
    std::string message;
  } cases[] = {
      {"", 2, "no command"},
      {"frobnicate " + dir_, 2, "unknown command frobnicate"},
      {"generate " + dir_ + "/q", 2, "generate needs --punches N"},
      {"generate " + dir_ + "/q --punches many", 2, "--punches must be a whole number"},
      {"generate " + dir_ + "/q --punches 10 --from 02/30/2023", 2, "--from must be a date"},
      {"generate " + dir_ + "/q --punches 10 --colour red", 2, "unknown option --colour"},
      {"export " + dir_ + "/nowhere Timecard", 1, "cannot enter folder"},
      {"export " + dir_ + " Nothing", 1, "no data file is labelled Nothing"},
      {"import " + dir_ + " Timecard " + dir_ + "/missing.csv", 1, "cannot read"},
  };
  for (const auto& c : cases) {
    ToolRun run = Tool(c.args);
    EXPECT_EQ(run.Exit, c.exit) << c.args;
    EXPECT_NE(run.Err.find(c.message), std::string::npos) << c.args << ": " << run.Err;
  }
}

}  // namespace
