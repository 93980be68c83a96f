// `cmake --install` of this build into a fresh prefix, checked as a desktop
// and a reader of manual pages see it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "app/version.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/program_run.h"

namespace {

namespace fs = std::filesystem;

TEST(Install, PutsTheProgramsTheirPagesAndTheMenuEntryUnderThePrefix) {
  TempFolder prefix("install-test");
  ASSERT_FALSE(prefix.Path().empty());
  const fs::path root = prefix.Path() / "usr";
  const std::string scratch = (prefix.Path() / "run").string();
  e2e::RunResult install = RunCommand(
      "cmake --install '" + e2e::BuiltProgram("").string() + "' --prefix '" + root.string() + "'",
      scratch);
  ASSERT_EQ(install.Status, 0) << install.Out << install.Err;

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

}  // namespace
