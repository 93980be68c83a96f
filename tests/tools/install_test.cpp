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
  ProgramRun install =
      RunCommand("cmake --install '" + BuildFolder() + "' --prefix '" + root.string() + "'", scratch);
  ASSERT_EQ(install.Exit, 0) << install.Out << install.Err;

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
    ProgramRun shown = RunCommand("MANWIDTH=80 man --warnings -l '" + page.string() + "'", scratch);
    EXPECT_EQ(shown.Exit, 0);
    EXPECT_EQ(shown.Err, "");
    EXPECT_NE(shown.Out.find(std::string(program) + " - "), std::string::npos) << shown.Out;
    EXPECT_NE(shown.Out.find("Veltrane " + std::string(app::kVersion)), std::string::npos);
  }

  // The menu entry is valid and starts the installed launcher, which starts
  // the installed program.
  fs::path entry = root / "share/applications/veltrane.desktop";
  EXPECT_EQ(RunCommand("desktop-file-validate '" + entry.string() + "'", scratch),
            (ProgramRun{0, "", ""}));
  std::string text = ReadWholeFile(entry.string());
  EXPECT_NE(text.find("\nExec=\"" + (root / "libexec/veltrane/veltrane-launch").string() + "\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nTryExec=" + (root / "bin/veltrane").string() + "\n"), std::string::npos);
  EXPECT_NE(text.find("\nIcon=veltrane\n"), std::string::npos);
  EXPECT_NE(ReadWholeFile((root / "libexec/veltrane/veltrane-launch").string())
                .find("exec \"" + (root / "bin/veltrane").string() + "\" \"$@\""),
            std::string::npos);
}

}  // namespace
