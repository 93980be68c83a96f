// veltrane's command line, run as a child process with no display and no
// terminal: what each kind of line answers and the exit status it ends with.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/program_run.h"
#include "tests/support/temp_folder.h"

namespace {

struct LineCase {
  std::vector<std::string> Args;
  int Status;
  std::string Says;  // found in standard output or error
};

TEST(CommandLine, EachLineGetsItsAnswerAndExitStatus) {
  TempFolder folder("veltrane-command-line");
  ASSERT_FALSE(folder.Path().empty());
  std::ofstream(folder.Path() / "bad.txt") << "expect QUICKWINDOW\naccept\n";
  const LineCase cases[] = {
      {{"--help"}, 0, "usage: veltrane [--backend NAME]"},
      {{"--version"}, 0, "veltrane 0."},
      {{"--bogus"}, 1, "veltrane: unknown option '--bogus'"},
      {{"--through"}, 1, "--through needs a value"},
      {{"--through", "02/30/2023"}, 1, "--through needs a date MM/DD/YYYY, not '02/30/2023'"},
      {{"--backend", "curses"}, 1, "unknown backend 'curses' (one of: "},
      {{"--backend=terminal", "--through=12/31/2022"}, 1, "--through runs on the headless backend"},
      {{"--script", "bad.txt", "--through", "12/31/2022"}, 1, "--script and --through exclude"},
      {{"--script", "missing.txt"}, 1, "cannot read operator script missing.txt"},
      {{"--script", "bad.txt"}, 1, "bad.txt: line 2"},
      {{}, 1, "veltrane: no display and no terminal to show the cut-off dialog on"},
      {{"--backend", "terminal"}, 1, "veltrane: the terminal backend needs a terminal"},
      {{"--backend", "qt"}, 1, "veltrane: cannot open a window on the desktop"},
      {{"--through", "12/31/2022"}, 3, "veltrane: Place this program above: data\\Timecard.DAT"},
      // A runaway value is shown cut.
      {{"--through", std::string(100000, '1')}, 1,
       "not '" + std::string(40, '1') + "... (100000 characters)'"},
      {{"--" + std::string(100000, 'x')}, 1, "unknown option '--" + std::string(38, 'x') + "... ("},
      // Control characters are shown, not sent to the terminal.
      {{"--through", "1\x1b[2J\r\xc2\x9b"}, 1, "not '1\\x1b[2J\\x0d\\xc2\\x9b'"},
      {{"--database", " \t"}, 1, "--database needs a value"},
      {{"--database", "host=/nonexistent-veltrane dbname=punches password=s3cret", "--through",
        "12/31/2022"},
       3,
       "veltrane: cannot connect to the database server: "},
      {{"--database", "host=/nonexistent-veltrane dbname=punches password=s3cret"}, 3,
       "(host /nonexistent-veltrane, database punches)\n"},
      {{"--database=host='unclosed password=s3cret"}, 3,
       "veltrane: the database connection does not parse"},
  };
  for (const LineCase& c : cases) {
    std::string line;
    for (const auto& a : c.Args) line += a.substr(0, 50) + " ";
    SCOPED_TRACE(line);
    const e2e::RunResult run = e2e::Run(folder.Path(), e2e::BuiltProgram("app/veltrane"), c.Args);
    EXPECT_EQ(run.Status, c.Status);
    EXPECT_NE((run.Out + run.Err).find(c.Says), std::string::npos) << run.Out << run.Err;
    EXPECT_LT(run.Err.size(), 500u) << "an error is a line or two";
    EXPECT_EQ((run.Out + run.Err).find('\x1b'), std::string::npos) << "an escape sent raw";
    EXPECT_EQ((run.Out + run.Err).find("s3cret"), std::string::npos) << "a password shown";
  }
}

// The server comes from --database, else VELTRANE_DATABASE, else [Database]
// Server= in Veltrane.INI (each here one that cannot be reached, named in
// the message).
TEST(CommandLine, TheDatabaseComesFromTheLineTheEnvironmentOrTheSettings) {
  TempFolder folder("veltrane-command-line");
  ASSERT_FALSE(folder.Path().empty());
  std::ofstream(folder.Path() / "Veltrane.INI") << "[Database]\nServer=host=/from-ini dbname=x\n";
  const std::vector<std::string> through = {"--through", "12/31/2022"};
  auto host = [&](std::vector<std::string> args, std::vector<std::string> env) {
    args.insert(args.end(), through.begin(), through.end());
    const e2e::RunResult run =
        e2e::Run(folder.Path(), e2e::BuiltProgram("app/veltrane"), args, env);
    EXPECT_EQ(run.Status, 3) << run.Err;
    const auto at = run.Err.find("(host ");
    return at == std::string::npos ? run.Err : run.Err.substr(at, run.Err.find(',', at) - at);
  };
  EXPECT_EQ(host({"--database", "host=/from-line"}, {"VELTRANE_DATABASE=host=/from-env"}),
            "(host /from-line");
  EXPECT_EQ(host({}, {"VELTRANE_DATABASE=host=/from-env"}), "(host /from-env");
  EXPECT_EQ(host({}, {}), "(host /from-ini");
  // Blanks name no server: they would connect to libpq's defaults.
  EXPECT_EQ(host({}, {"VELTRANE_DATABASE= \t "}), "(host /from-ini");
}

}  // namespace
