// What every program does with --help, --version and an option it does not
// know: help and version on standard output with exit 0; a mistake named on
// standard error with the usage, exit 1, and nothing on standard output.
#include <gtest/gtest.h>

#include <string>

#include "app/version.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/program_run.h"

namespace {

TEST(CommandLine, HelpVersionAndMistakesOfEveryProgram) {
  struct Case {
    std::string program, args;
    int exit;
    std::string out, err;  // what each stream holds; empty: the stream is empty
  } cases[] = {
      {"tools/veltrane-data", "--help", 0, "usage: veltrane-data init FOLDER", ""},
      {"tools/veltrane-data", "export --help", 0, "usage: veltrane-data init FOLDER", ""},
      {"tools/veltrane-data", "--version", 0, "veltrane-data " + std::string(app::kVersion) + "\n",
       ""},
      {"tools/veltrane-data", "--bogus", 1, "", "veltrane-data: unknown option --bogus\nusage:"},
      {"tools/veltrane-data", "stats . --punches 3", 1, "",
       "veltrane-data: unknown option --punches for stats\nusage:"},
      {"tools/veltrane-data", "stats . --through", 1, "",
       "veltrane-data: --through needs a value\nusage:"},
      {"tools/veltrane-debugview", "--help", 0, "usage: veltrane-debugview [--channel NAME]", ""},
      {"tools/veltrane-debugview", "--version",
       0, "veltrane-debugview " + std::string(app::kVersion) + "\n", ""},
      {"tools/veltrane-debugview", "--chanel x", 1, "",
       "veltrane-debugview: unknown option --chanel\nusage:"},
      {"tools/veltrane-debugview", "--channel", 1, "",
       "veltrane-debugview: --channel needs a NAME\nusage:"},
  };
  TempFolder scratch("command-line-test");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program + " " + c.args);
    ProgramRun run =
        RunCommand(BuildFolder() + "/" + c.program + " " + c.args, scratch.Path() / "run");
    EXPECT_EQ(run.Exit, c.exit);
    // Each expected text opens its stream (a help text goes on after it).
    EXPECT_EQ(run.Out.substr(0, c.out.size()), c.out);
    EXPECT_EQ(run.Out.empty(), c.out.empty()) << run.Out;
    EXPECT_EQ(run.Err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(run.Err.empty(), c.err.empty()) << run.Err;
  }
}

}  // namespace
