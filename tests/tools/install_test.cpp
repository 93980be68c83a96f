// `cmake --install` of this build into a fresh prefix, checked as a desktop
// and a reader of manual pages see it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/version.h"
#include "runtime/core/dates.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_server.h"
#include "tests/tools/program_run.h"

namespace {

namespace fs = std::filesystem;

// Installs this build under `prefix`/usr and gives that folder. One install
// at a time: each writes the menu entry for its prefix into the build first.
fs::path Installed(const TempFolder& prefix) {
  const std::string build = e2e::BuiltProgram("").string();
  e2e::RunResult install =
      RunCommand("flock '" + build + "/install.lock' cmake --install '" + build + "' --prefix '" +
                     (prefix.Path() / "usr").string() + "'",
                 (prefix.Path() / "run").string());
  EXPECT_EQ(install.Status, 0) << install.Out << install.Err;
  return prefix.Path() / "usr";
}

TEST(Install, PutsTheProgramsTheirPagesAndTheMenuEntryUnderThePrefix) {
  TempFolder prefix("install-test");
  ASSERT_FALSE(prefix.Path().empty());
  const fs::path root = Installed(prefix);
  const std::string scratch = (prefix.Path() / "run").string();
  struct File {
    std::string path;
    bool executable;
  } files[] = {
      {"bin/veltrane", true},
      {"bin/veltrane-data", true},
      {"bin/veltrane-debugview", true},
      {"libexec/veltrane/veltrane-launch", true},
      {"share/man/man1/veltrane.1", false},
      {"share/man/man1/veltrane-data.1", false},
      {"share/man/man1/veltrane-debugview.1", false},
      {"share/applications/veltrane.desktop", false},
      {"share/icons/hicolor/scalable/apps/veltrane.svg", false},
      {"share/icons/hicolor/48x48/apps/veltrane.png", false},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.path);
    struct stat info {};
    ASSERT_EQ(::stat((root / file.path).c_str(), &info), 0);
    EXPECT_EQ((info.st_mode & S_IXUSR) != 0, file.executable);
  }

  // Every page reads without a warning and names its program and version.
  for (const char* program : {"veltrane", "veltrane-data", "veltrane-debugview"}) {
    SCOPED_TRACE(program);
    fs::path page = root / "share/man/man1" / (std::string(program) + ".1");
    e2e::RunResult shown =
        RunCommand("MANWIDTH=80 man --warnings -l '" + page.string() + "'", scratch);
    EXPECT_EQ(shown.Status, 0);
    EXPECT_EQ(shown.Err, "");
    EXPECT_NE(shown.Out.find(std::string(program) + " - "), std::string::npos) << shown.Out;
    EXPECT_NE(shown.Out.find("Veltrane " + std::string(app::kVersion)), std::string::npos);
  }

  // The menu entry is valid and starts the installed launcher with the icon.
  fs::path entry = root / "share/applications/veltrane.desktop";
  e2e::RunResult validated = RunCommand("desktop-file-validate '" + entry.string() + "'", scratch);
  EXPECT_EQ(validated.Status, 0);
  EXPECT_EQ(validated.Out + validated.Err, "");
  std::string text = e2e::ReadFile(entry);
  EXPECT_NE(text.find("\nExec=\"" + (root / "libexec/veltrane/veltrane-launch").string() + "\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nTryExec=" + (root / "bin/veltrane").string() + "\n"), std::string::npos);
  EXPECT_NE(text.find("\nIcon=veltrane\n"), std::string::npos);

  // Run from anywhere, the launcher runs the program in the user's data
  // folder: $XDG_DATA_HOME/veltrane, else ~/.local/share/veltrane, made when
  // missing. A purge there leaves its INI beside the data it purged.
  const fs::path xdg = prefix.Path() / "xdg", home = prefix.Path() / "home";
  const std::string launcher = "'" + (root / "libexec/veltrane/veltrane-launch").string() + "'";
  ASSERT_EQ(RunCommand("'" + (root / "bin/veltrane-data").string() + "' generate '" +
                           (xdg / "veltrane").string() + "' --punches 400 --seed 2",
                       scratch)
                .Status,
            0);
  e2e::RunResult purge = RunCommand(
      "cd / && XDG_DATA_HOME='" + xdg.string() + "' " + launcher + " --through 12/31/2022", scratch);
  EXPECT_EQ(purge.Status, 0) << purge.Err;
  EXPECT_NE(purge.Err.find("veltrane: removed "), std::string::npos) << purge.Err;
  EXPECT_TRUE(fs::exists(xdg / "veltrane/Veltrane.INI"));
  e2e::RunResult version = RunCommand(
      "cd / && HOME='" + home.string() + "' XDG_DATA_HOME=relative " + launcher + " --version",
      scratch);
  EXPECT_EQ(version.Out, "veltrane " + std::string(app::kVersion) + "\n");
  EXPECT_TRUE(fs::is_directory(home / ".local/share/veltrane"));
}

// The README's "Sharing the data between stations", step by step with the
// installed programs, on the throwaway server: the test's schema stands in
// for the database, the test's own role for its owner.
TEST(Install, TheStationsDataMovesToAServerAsTheReadmeSays) {
  if (std::string why = test_server::Missing(); !why.empty()) {
    if (test_server::Required()) FAIL() << why << " (required under CI)";
    GTEST_SKIP() << why;
  }
  TempFolder prefix("install-server-test");
  ASSERT_FALSE(prefix.Path().empty());
  const fs::path root = Installed(prefix);
  const std::string scratch = (prefix.Path() / "run").string();
  const std::string data = "'" + (prefix.Path() / "veltrane").string() + "'";
  const std::string tool = "'" + (root / "bin/veltrane-data").string() + "'";
  test_server::Schema schema;
  test_server::Sql owner(schema.Connection());
  // A role for the stations, with only the rights the README gives it.
  struct Role {
    std::string Name = "clerk_" + std::to_string(::getpid());
    std::string Server;
    ~Role() { test_server::Sql(Server).Exec("DROP OWNED BY " + Name + "; DROP ROLE " + Name); }
  } clerk{.Server = schema.Connection()};
  ASSERT_EQ(owner.Exec("CREATE ROLE " + clerk.Name + " LOGIN; GRANT USAGE ON SCHEMA " +
                       schema.Name() + " TO " + clerk.Name),
            "");
  const std::string clerkServer = test_server::Connection() + " user=" + clerk.Name +
                                  " options='-c search_path=" + schema.Name() + "'";

  ASSERT_EQ(RunCommand(tool + " generate " + data + " --punches 3000 --from 01/02/2023 --to "
                                                   "06/30/2023 --seed 4 --quiet",
                       scratch)
                .Status,
            0);
  const e2e::RunResult moved =
      RunCommand(tool + " migrate " + data + " --to \"" + schema.Connection() + "\"", scratch);
  ASSERT_EQ(moved.Status, 0) << moved.Err;
  ASSERT_EQ(owner.Exec("GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA " +
                       schema.Name() + " TO " + clerk.Name),
            "");
  fs::rename(prefix.Path() / "veltrane/data", prefix.Path() / "veltrane/data.before-server");
  std::ofstream(prefix.Path() / "veltrane/Veltrane.INI")
      << "[Database]\nServer=" << clerkServer << "\n";

  const e2e::RunResult purge = RunCommand(
      "cd " + data + " && " + tool + " export . Timecard before.csv --through 03/31/2023 --quiet && '" +
          (root / "bin/veltrane").string() + "' --through 03/31/2023",
      scratch);
  EXPECT_EQ(purge.Status, 0) << purge.Err;
  EXPECT_NE(purge.Err.find("veltrane: removed "), std::string::npos) << purge.Err;
  // The punches through the date are gone and exactly those: the copy kept
  // before holds them, the server the rest.
  const std::string kept = e2e::ReadFile(prefix.Path() / "veltrane/before.csv");
  const long copied = static_cast<long>(std::count(kept.begin(), kept.end(), '\n')) - 1;
  EXPECT_GT(copied, 0);
  EXPECT_EQ(owner.One("SELECT count(*) FROM \"Timecard\""), std::to_string(3000 - copied));
  EXPECT_EQ(owner.One("SELECT count(*) FROM \"Timecard\" WHERE \"DUTYDATE\" <= " +
                      std::to_string(rt::Date(3, 31, 2023))),
            "0");
  // The stations' role may not change the tables' form.
  test_server::Sql station(clerkServer);
  EXPECT_NE(station.Exec("CREATE TABLE \"Other\" (a int)"), "");
  EXPECT_NE(station.Exec("DROP TABLE \"Timecard\""), "");
}

}  // namespace
