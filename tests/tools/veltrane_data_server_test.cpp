// veltrane-data on a PostgreSQL server, as a user runs it: the commands on
// the store veltrane would choose, and migrate both ways, against the
// throwaway test server (scripts/test starts it; without one these tests
// skip with one line, and fail under CI).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/program_run.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_server.h"

namespace {

namespace fs = std::filesystem;

// The records of a CSV export, in an order that does not depend on the
// store's record numbers.
std::vector<std::string> SortedRows(const std::string& csv) {
  std::vector<std::string> rows;
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  std::sort(rows.begin(), rows.end());
  return rows;
}

class VeltraneDataOnServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = test_server::Missing(); !why.empty()) {
      if (test_server::Required()) FAIL() << why << " (required under CI)";
      GTEST_SKIP() << why;
    }
    ASSERT_FALSE(folder_.Path().empty());
    schema_ = std::make_unique<test_server::Schema>();
    server_ = schema_->Connection();
  }

  // Runs the tool in the test's folder with `args`, and `env` ("NAME=value").
  e2e::RunResult Tool(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
    return e2e::Run(folder_.Path(), e2e::BuiltProgram("tools/veltrane-data"), args, env);
  }
  std::string Sql(const std::string& query) { return test_server::Sql(server_).One(query); }
  std::string Path(const std::string& relative) const { return (folder_.Path() / relative).string(); }
  // The table's records as the export writes them, sorted.
  std::vector<std::string> Exported(const std::vector<std::string>& where,
                                    const std::string& label) {
    std::vector<std::string> args = {"export", where[0], label};
    args.insert(args.end(), where.begin() + 1, where.end());
    const e2e::RunResult run = Tool(args);
    EXPECT_EQ(run.Status, 0) << run.Err;
    return SortedRows(run.Out);
  }

  // Runs the tool with `args` until it waits for a lock on `table` (which
  // another session holds), then kills it.
  void KillWhenItWaitsFor(const std::vector<std::string>& args, const std::string& table) {
    const pid_t pid = e2e::Spawn(folder_.Path(), e2e::BuiltProgram("tools/veltrane-data"), args,
                                 Path("kill.out"), Path("kill.err"));
    bool waiting = false;
    for (int i = 0; i < 600 && !waiting; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      waiting = Sql("SELECT count(*) FROM pg_locks WHERE relation = '\"" + table +
                    "\"'::regclass AND NOT granted") == "1";
    }
    EXPECT_TRUE(waiting) << e2e::ReadFile(Path("kill.err"));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(e2e::WaitFor(pid), 128 + SIGKILL);
  }

  TempFolder folder_{"veltrane-data-server"};
  std::unique_ptr<test_server::Schema> schema_;
  std::string server_;
};

// Generated punches go to the server and back with every record as it was,
// and every command reads the server as it reads the files.
TEST_F(VeltraneDataOnServer, MigrationRoundTripsAGeneratedFolder) {
  ASSERT_EQ(Tool({"generate", "a", "--punches", "3000", "--seed", "7", "--from", "01/02/2023",
                  "--to", "03/31/2023"})
                .Status,
            0);
  const e2e::RunResult to = Tool({"migrate", "a", "--to", server_});
  ASSERT_EQ(to.Status, 0) << to.Err;
  EXPECT_NE(to.Out.find("Timecard: 3000 records, checksum "), std::string::npos) << to.Out;
  EXPECT_NE(to.Out.find("migrated 10 data files ("), std::string::npos) << to.Out;
  EXPECT_EQ(Sql("SELECT count(*) FROM \"Timecard\""), "3000");

  // The store is chosen as veltrane chooses it, first found of --database,
  // VELTRANE_DATABASE and Server= in the folder's INI.
  fs::create_directory(Path("s"));
  std::ofstream(Path("s/Veltrane.INI")) << "[Database]\nServer=" << server_ << "\n";
  const std::string unreachable = "host=/nonexistent dbname=none connect_timeout=2";
  const struct {
    const char* Case;
    std::vector<std::string> Args, Env;
    bool OnServer;
  } choices[] = {
      {"--database", {"stats", "s", "--database", server_}, {}, true},
      {"the variable", {"stats", "s"}, {"VELTRANE_DATABASE=" + server_}, true},
      {"the INI", {"stats", "s"}, {}, true},
      {"--database before the variable",
       {"stats", "s", "--database", server_},
       {"VELTRANE_DATABASE=" + unreachable},
       true},
      {"the variable before the INI", {"stats", "s"}, {"VELTRANE_DATABASE=" + unreachable}, false},
  };
  const std::string files = Tool({"stats", "a", "--through", "02/15/2023"}).Out;
  for (const auto& c : choices) {
    SCOPED_TRACE(c.Case);
    std::vector<std::string> args = c.Args;
    args.insert(args.end(), {"--through", "02/15/2023"});
    const e2e::RunResult stats = Tool(args, c.Env);
    if (c.OnServer) {
      EXPECT_EQ(stats.Status, 0) << stats.Err;
      EXPECT_EQ(stats.Out, files);
    } else {
      EXPECT_EQ(stats.Status, 2);
      EXPECT_NE(stats.Err.find("cannot connect to the database server"), std::string::npos)
          << stats.Err;
    }
  }
  const e2e::RunResult check = Tool({"check", "s"});
  EXPECT_EQ(check.Status, 0) << check.Out << check.Err;
  EXPECT_NE(check.Out.find("all sound: 10 tables, "), std::string::npos) << check.Out;

  const e2e::RunResult from = Tool({"migrate", "b", "--from", server_});
  ASSERT_EQ(from.Status, 0) << from.Err;
  EXPECT_EQ(from.Out.substr(0, from.Out.find("migrated")), to.Out.substr(0, to.Out.find("migrated")));
  for (const char* label : {"Timecard", "Employee", "Dept", "PayType"}) {
    SCOPED_TRACE(label);
    const auto original = Exported({"a"}, label);
    EXPECT_EQ(original, Exported({"a", "--database", server_}, label));
    EXPECT_EQ(original, Exported({"b"}, label));
  }
  EXPECT_EQ(Tool({"check", "b"}).Status, 0);
  // Only the data files came: the folder the copies were made in is gone.
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(Path("b"))) entries.push_back(entry.path().filename());
  EXPECT_EQ(entries, std::vector<std::string>{"data"});
}

// The server's own check of pages and indexes runs when the database has it,
// and check says so when it has not.
TEST_F(VeltraneDataOnServer, CheckUsesTheServersPageCheckWhenThereIsOne) {
  // An extension belongs to a whole database: this test has a database of its
  // own, so that tests beside it never meet an extension it adds and drops.
  const std::string database = schema_->Name() + "_pages";
  test_server::Sql admin(test_server::Connection());
  admin.Exec("DROP DATABASE IF EXISTS " + database);
  ASSERT_EQ(admin.Exec("CREATE DATABASE " + database), "");
  const std::string server = test_server::Connection() + " dbname=" + database;
  {
    ASSERT_EQ(Tool({"generate", "c", "--punches", "500", "--seed", "2", "--database", server}).Status,
              0);
    const e2e::RunResult without = Tool({"check", "c", "--database", server});
    EXPECT_EQ(without.Status, 0) << without.Err;
    EXPECT_NE(without.Out.find("pages and indexes were not checked: the database has no amcheck"),
              std::string::npos)
        << without.Out;
    test_server::Sql sql(server);
    ASSERT_EQ(sql.Exec("CREATE EXTENSION amcheck"), "");
    const e2e::RunResult with = Tool({"check", "c", "--database", server});
    EXPECT_EQ(with.Status, 0) << with.Out << with.Err;
    EXPECT_EQ(with.Out.find("not checked"), std::string::npos) << with.Out;
    EXPECT_NE(with.Out.find("all sound: 10 tables, "), std::string::npos) << with.Out;
  }
  EXPECT_EQ(admin.Exec("DROP DATABASE " + database + " WITH (FORCE)"), "");
}

// Whatever stops a migration, its target is left as it was.
TEST_F(VeltraneDataOnServer, AFailedMigrationToTheServerLeavesItAsItWas) {
  ASSERT_EQ(Tool({"generate", "a", "--punches", "2000", "--seed", "3"}).Status, 0);
  test_server::Sql sql(server_);
  auto tables = [&] {
    return sql.One("SELECT string_agg(relname, ',' ORDER BY relname) FROM pg_class c JOIN "
                   "pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = current_schema() "
                   "AND relkind = 'r'");
  };

  // Some tables are there, empty; one of them refuses the punches of the
  // third company (a rule another tool added), met half way through.
  ASSERT_EQ(Tool({"init", "e", "--database", server_}).Status, 0);
  ASSERT_EQ(sql.Exec("DROP TABLE \"Employee\", \"Dept\"; ALTER TABLE \"Timecard\" ADD CHECK "
                     "(\"COMPANY\" < 3)"),
            "");
  const std::string before = tables();
  const e2e::RunResult refused = Tool({"migrate", "a", "--to", server_});
  EXPECT_EQ(refused.Status, 2);
  EXPECT_NE(refused.Err.find("nothing migrated to "), std::string::npos) << refused.Err;
  EXPECT_NE(refused.Err.find("table Timecard refused record "), std::string::npos) << refused.Err;
  EXPECT_EQ(tables(), before);
  EXPECT_EQ(sql.One("SELECT count(*) FROM \"Timecard\""), "0");

  // A table that holds records is never added to.
  ASSERT_EQ(sql.Exec("ALTER TABLE \"Timecard\" DROP CONSTRAINT \"Timecard_COMPANY_check\"; "
                     "INSERT INTO \"PayType\" (\"COMPANY\", \"CODE\", \"DESCRIPTION\", "
                     "\"PAYAS\", \"MONITOR\") VALUES (1, 'XX', 'kept', 0, 0)"),
            "");
  const e2e::RunResult held = Tool({"migrate", "a", "--to", server_});
  EXPECT_EQ(held.Status, 2);
  EXPECT_NE(held.Err.find("table PayType on the server holds 1 records"), std::string::npos)
      << held.Err;
  EXPECT_EQ(sql.One("SELECT count(*) FROM \"Timecard\""), "0");

  // Killed while it copies: the server rolls the whole copy back. A lock
  // another session holds on PayType stops the copy there, after Timecard.
  ASSERT_EQ(sql.Exec("DELETE FROM \"PayType\""), "");
  test_server::Sql locker(server_);
  ASSERT_EQ(locker.Exec("BEGIN; LOCK TABLE \"PayType\" IN SHARE MODE"), "");
  KillWhenItWaitsFor({"migrate", "a", "--to", server_}, "PayType");
  ASSERT_EQ(locker.Exec("ROLLBACK"), "");
  // The killed client's server process ends when it finds the client gone,
  // and its locks with it.
  for (int i = 0; i < 300 && sql.One("SELECT count(*) FROM pg_locks WHERE relation = "
                                     "'\"Timecard\"'::regclass") != "0";
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(tables(), before);
  EXPECT_EQ(sql.One("SELECT count(*) FROM \"Timecard\""), "0");

  // And once nothing stands in its way, it goes through.
  const e2e::RunResult done = Tool({"migrate", "a", "--to", server_});
  EXPECT_EQ(done.Status, 0) << done.Err;
  EXPECT_EQ(sql.One("SELECT count(*) FROM \"Timecard\""), "2000");
}

TEST_F(VeltraneDataOnServer, AFailedMigrationFromTheServerLeavesTheFolderAsItWas) {
  ASSERT_EQ(Tool({"generate", "a", "--punches", "2000", "--seed", "3", "--database", server_}).Status,
            0);
  auto listing = [&](const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(Path(folder)))
      names.push_back(fs::relative(entry.path(), Path(folder)).string());
    std::sort(names.begin(), names.end());
    return names;
  };

  // A data file already in data/ is never written over: nothing is made.
  fs::create_directories(Path("b/data"));
  std::ofstream(Path("b/data/Employee.DAT")) << "mine";
  const e2e::RunResult there = Tool({"migrate", "b", "--from", server_});
  EXPECT_EQ(there.Status, 2);
  EXPECT_NE(there.Err.find("data/Employee.DAT is there already"), std::string::npos) << there.Err;
  EXPECT_EQ(listing("b"), (std::vector<std::string>{"data", "data/Employee.DAT"}));
  EXPECT_EQ(e2e::ReadFile(Path("b/data/Employee.DAT")), "mine");

  // Killed with its copies half made: data/ is as it was; the next
  // migration clears what the killed one left and finishes.
  fs::remove(Path("b/data/Employee.DAT"));
  test_server::Sql locker(server_);
  ASSERT_EQ(locker.Exec("BEGIN; LOCK TABLE \"PayType\" IN ACCESS EXCLUSIVE MODE"), "");
  KillWhenItWaitsFor({"migrate", "b", "--from", server_}, "PayType");
  ASSERT_EQ(locker.Exec("ROLLBACK"), "");
  EXPECT_EQ(listing("b/data"), std::vector<std::string>{});
  const e2e::RunResult done = Tool({"migrate", "b", "--from", server_});
  ASSERT_EQ(done.Status, 0) << done.Err;
  EXPECT_EQ(listing("b").size(), 11u);  // data/ and its ten files, nothing else
  EXPECT_EQ(Exported({"b"}, "Timecard"), Exported({"a", "--database", server_}, "Timecard"));
}

}  // namespace
