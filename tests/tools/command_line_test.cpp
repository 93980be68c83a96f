// What every program does with --help, --version and a command line it cannot
// read: help and version on standard output with exit 0; the mistake named on
// standard error with the usage, exit 1, and nothing on standard output; and
// what it does when standard output cannot be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/version.h"
#include "tests/e2e/program_run.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(ProgramOptions, HelpVersionAndMistakesOfEveryProgram) {
  const std::string version = app::kVersion;
  struct Case {
    std::string program;
    std::vector<std::string> args;
    int status;
    std::string out, err;  // what each stream opens with; empty: the stream is empty
  } cases[] = {
      {"app/veltrane", {"--help"}, 0, "usage: veltrane [--backend NAME]", ""},
      {"app/veltrane", {"--version"}, 0, "veltrane " + version + "\n", ""},
      {"app/veltrane", {"--bogus"}, 1, "", "veltrane: unknown option '--bogus'\nusage: veltrane"},
      {"app/veltrane", {"--through"}, 1, "", "veltrane: --through needs a value\nusage: veltrane"},
      {"tools/veltrane-data", {"--help"}, 0, "usage: veltrane-data init FOLDER", ""},
      {"tools/veltrane-data", {"export", "--help"}, 0, "usage: veltrane-data init FOLDER", ""},
      {"tools/veltrane-data", {"--version"}, 0, "veltrane-data " + version + "\n", ""},
      {"tools/veltrane-data", {"--bogus"}, 1, "",
       "veltrane-data: unknown option '--bogus'\nusage: veltrane-data"},
      {"tools/veltrane-data", {"stats", ".", "--punches", "3"}, 1, "",
       "veltrane-data: unknown option '--punches' for stats\nusage: veltrane-data"},
      {"tools/veltrane-data", {"stats", ".", "--through"}, 1, "",
       "veltrane-data: --through needs a value\nusage: veltrane-data"},
      // What came from the command line cannot drive the terminal.
      {"tools/veltrane-data", {"stat\x1b[2J"}, 1, "",
       "veltrane-data: unknown command 'stat\\x1b[2J'\nusage: veltrane-data"},
      {"tools/veltrane-debugview", {"--help"}, 0, "usage: veltrane-debugview [--channel NAME]", ""},
      {"tools/veltrane-debugview", {"--version"}, 0, "veltrane-debugview " + version + "\n", ""},
      {"tools/veltrane-debugview", {"--chanel", "x"}, 1, "",
       "veltrane-debugview: unknown option '--chanel'\nusage: veltrane-debugview"},
      {"tools/veltrane-debugview", {"--channel"}, 1, "",
       "veltrane-debugview: --channel needs a NAME\nusage: veltrane-debugview"},
      {"tools/veltrane-debugview", {"--chanel\x1b]0;title\x07"}, 1, "",
       "veltrane-debugview: unknown option '--chanel\\x1b]0;title\\x07'\nusage: veltrane-debugview"},
  };
  TempFolder folder("program-options-test");
  ASSERT_FALSE(folder.Path().empty());
  for (const auto& c : cases) {
    std::string line = c.program;
    for (const auto& a : c.args) line += " " + a;
    SCOPED_TRACE(line);
    e2e::RunResult run = e2e::Run(folder.Path(), e2e::BuiltProgram(c.program), c.args);
    EXPECT_EQ(run.Status, c.status);
    EXPECT_EQ(run.Out.substr(0, c.out.size()), c.out);
    EXPECT_EQ(run.Out.empty(), c.out.empty()) << run.Out;
    EXPECT_EQ(run.Err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(run.Err.empty(), c.err.empty()) << run.Err;
  }
}

// Standard output on a full device: what a program writes there is its
// result, so losing it is said on standard error and fails the program with
// the status each documents for failed work.
TEST(ProgramOptions, OutputThatCannotBeWrittenFailsEveryProgram) {
  const std::string full = "cannot write standard output: No space left on device\n";
  struct Case {
    std::string program;
    std::vector<std::string> args;
    int status;
    std::string err;  // found on standard error
  } cases[] = {
      {"app/veltrane", {"--help"}, 3, "veltrane: " + full},
      {"app/veltrane", {"--version"}, 3, "veltrane: " + full},
      // The transcript of a script run (the purge of an empty file).
      {"app/veltrane", {"--script", "purge.txt"}, 3, "veltrane: cannot write standard output: "},
      {"tools/veltrane-data", {"--help"}, 2, "veltrane-data: " + full},
      {"tools/veltrane-data", {"stats", "."}, 2, "veltrane-data: " + full},
      {"tools/veltrane-data", {"check", "."}, 2, "veltrane-data: " + full},
      {"tools/veltrane-data", {"export", ".", "Dept"}, 2,
       "veltrane-data: cannot export Dept: cannot write the CSV: No space left on device\n"},
      {"tools/veltrane-debugview", {"--version"}, 3, "veltrane-debugview: " + full},
  };
  TempFolder folder("program-output-test");
  ASSERT_FALSE(folder.Path().empty());
  ASSERT_EQ(e2e::Run(folder.Path(), e2e::BuiltProgram("tools/veltrane-data"), {"init", "."}).Status, 0);
  std::ofstream(folder.Path() / "purge.txt") << "type ?LASTDATE 12/31/2022\naccept ?OK\n";
  const std::string err = folder.Path().string() + ".err";
  for (const auto& c : cases) {
    std::string line = c.program;
    for (const auto& a : c.args) line += " " + a;
    SCOPED_TRACE(line);
    const int status =
        e2e::WaitFor(e2e::Spawn(folder.Path(), e2e::BuiltProgram(c.program), c.args, "/dev/full", err));
    EXPECT_EQ(status, c.status);
    EXPECT_NE(e2e::ReadFile(err).find(c.err), std::string::npos) << e2e::ReadFile(err);
  }
  std::filesystem::remove(err);
}

}  // namespace
