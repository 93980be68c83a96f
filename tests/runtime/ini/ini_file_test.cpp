// INI files on disk: reading and writing entries, what a write keeps, damaged
// and unreadable files, and that a write replaces the file atomically.
#include "runtime/ini/ini_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/error_state.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    ini_ = (dir_ / "Veltrane.INI").string();
    rt::ClearError();
  }

  static void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    return names;
  }

  TempFolder folder_{"veltrane-ini"};
  const fs::path& dir_ = folder_.Path();
  std::string ini_;
};

TEST_F(IniFileTest, WrittenEntriesReadBackAndFormAPlainFile) {
  EXPECT_EQ(rt::PutIni("Main", "Maximize", "No", ini_), 0);
  EXPECT_EQ(rt::PutIni("Main", "XPos", "10", ini_), 0);
  EXPECT_EQ(rt::PutIni("SelectLastDate", "Maximize", "Yes", ini_), 0);
  EXPECT_EQ(rt::PutIni("Main", "XPos", "12", ini_), 0);

  EXPECT_EQ(rt::GetIni("Main", "Maximize", "", ini_), "No");
  EXPECT_EQ(rt::GetIni("Main", "XPos", "", ini_), "12");
  EXPECT_EQ(rt::GetIni("SelectLastDate", "Maximize", "", ini_), "Yes");
  EXPECT_EQ(rt::GetIni("Main", "YPos", "---Unknown---", ini_), "---Unknown---");
  EXPECT_EQ(rt::GetIni("Other", "XPos", "d", ini_), "d");
  EXPECT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(ReadText(ini_), "[Main]\nMaximize=No\nXPos=12\n\n[SelectLastDate]\nMaximize=Yes\n");
}

TEST_F(IniFileTest, BackslashesInTheFileNameAreFolderSeparators) {
  std::string windowsStyle = dir_.string() + "\\Veltrane.INI";
  EXPECT_EQ(rt::PutIni("Main", "XPos", "3", windowsStyle), 0);
  EXPECT_EQ(ReadText(ini_), "[Main]\nXPos=3\n");
  EXPECT_EQ(rt::GetIni("Main", "XPos", "", windowsStyle), "3");
}

TEST_F(IniFileTest, SectionsAndKeysMatchWithoutRegardToCase) {
  WriteText(ini_, "[main]\nxpos = 5\n");
  EXPECT_EQ(rt::GetIni("MAIN", "XPos", "", ini_), "5");
  EXPECT_EQ(rt::PutIni("Main", "XPOS", "7", ini_), 0);
  EXPECT_EQ(rt::PutIni("mAIN", "YPos", "8", ini_), 0);
  // The file keeps its own spelling; no second section appears.
  EXPECT_EQ(ReadText(ini_), "[main]\nxpos=7\nYPos=8\n");
}

TEST_F(IniFileTest, CommentsUnknownLinesAndOtherSectionsSurviveAWrite) {
  const std::string before =
      "; settings of the purge\n"
      "stray line before any section\n"
      "\n"
      "[Main]\n"
      "# kept as written\n"
      "Maximize=No\n"
      "this line has no equals sign\n"
      "XPos=1\n"
      "\n"
      "; about the dialog\n"
      "[SelectLastDate]\n"
      "  Width =  300  \n";
  WriteText(ini_, before);
  EXPECT_EQ(rt::PutIni("Main", "XPos", "2", ini_), 0);
  EXPECT_EQ(rt::PutIni("Main", "YPos", "3", ini_), 0);
  EXPECT_EQ(rt::PutIni("__Dont_Touch_Me__", "Sectors", "0", ini_), 0);
  EXPECT_EQ(ReadText(ini_),
            "; settings of the purge\n"
            "stray line before any section\n"
            "\n"
            "[Main]\n"
            "# kept as written\n"
            "Maximize=No\n"
            "this line has no equals sign\n"
            "XPos=2\n"
            "YPos=3\n"
            "\n"
            "; about the dialog\n"
            "[SelectLastDate]\n"
            "  Width =  300  \n"
            "\n"
            "[__Dont_Touch_Me__]\n"
            "Sectors=0\n");
  EXPECT_EQ(rt::GetIni("SelectLastDate", "Width", "", ini_), "300");
}

TEST_F(IniFileTest, LineEndingsAndByteOrderMarkAreKept) {
  WriteText(ini_, "\xEF\xBB\xBF[Main]\r\nXPos=1\r\n");
  EXPECT_EQ(rt::GetIni("Main", "XPos", "", ini_), "1");
  EXPECT_EQ(rt::PutIni("Main", "YPos", "2", ini_), 0);
  EXPECT_EQ(ReadText(ini_), "\xEF\xBB\xBF[Main]\r\nXPos=1\r\nYPos=2\r\n");
}

TEST_F(IniFileTest, CarriageReturnsThatEndALineAreNoPartOfAValue) {
  // Converted to CRLF twice, then cut short after a carriage return.
  WriteText(ini_, "[Main]\nXPos=800\r\r\nYPos=5\r");
  EXPECT_EQ(rt::GetIni("Main", "XPos", "", ini_), "800");
  EXPECT_EQ(rt::GetIni("Main", "YPos", "", ini_), "5");
  EXPECT_EQ(rt::PutIni("Main", "Width", "3", ini_), 0);
  EXPECT_EQ(ReadText(ini_), "[Main]\nXPos=800\nYPos=5\nWidth=3\n");
}

TEST_F(IniFileTest, RemovingAnEntryKeepsTheRest) {
  WriteText(ini_, "[Main]\nXPos=1\nYPos=2\n[main]\nxpos=9\n");
  EXPECT_EQ(rt::PutIni("Main", "XPos", std::nullopt, ini_), 0);
  EXPECT_EQ(rt::GetIni("Main", "XPos", "gone", ini_), "gone");
  EXPECT_EQ(ReadText(ini_), "[Main]\nYPos=2\n[main]\n");
  // Removing what is not there changes nothing and creates nothing.
  EXPECT_EQ(rt::PutIni("Main", "Width", std::nullopt, ini_), 0);
  EXPECT_EQ(ReadText(ini_), "[Main]\nYPos=2\n[main]\n");
  std::string missing = (dir_ / "Missing.INI").string();
  EXPECT_EQ(rt::PutIni("Main", "XPos", std::nullopt, missing), 0);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(IniFileTest, DuplicatesReadTheFirstAndAWriteLeavesOne) {
  WriteText(ini_, "[A]\nk=1\n[a]\nK=2\nj=3\n");
  EXPECT_EQ(rt::GetIni("a", "k", "", ini_), "1");
  EXPECT_EQ(rt::GetIni("A", "j", "", ini_), "3");
  EXPECT_EQ(rt::PutIni("A", "k", "9", ini_), 0);
  EXPECT_EQ(ReadText(ini_), "[A]\nk=9\n[a]\nj=3\n");
}

TEST_F(IniFileTest, AnySingleLineValueReadsBackExactly) {
  const std::vector<std::string> values = {"",       "plain",     "  leading", "trailing  ", "\"quoted\"",
                                           "\"",     "\"\"",      "a=b=c",     "; not a comment",
                                           "[x]",    "tab\tinside", "Family,Item,Type", "\xE9t\xE9"};
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::string key = "Value" + std::to_string(i);
    ASSERT_EQ(rt::PutIni("Values", key, values[i], ini_), 0) << key;
  }
  for (std::size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(rt::GetIni("Values", "Value" + std::to_string(i), "absent", ini_), values[i]) << i;
}

struct BadPut {
  const char* what;
  std::string section;
  std::string entry;
  std::optional<std::string> value;
};

TEST_F(IniFileTest, BadInputIsRefusedAndLeavesTheFileAlone) {
  const std::string before = "[Main]\nXPos=1\n";
  WriteText(ini_, before);
  const std::vector<BadPut> cases = {
      {"empty section", "", "XPos", "1"},
      {"blank section", "  ", "XPos", "1"},
      {"line break in section", "Ma\nin", "XPos", "1"},
      {"empty entry", "Main", "", "1"},
      {"equals in entry", "Main", "X=Pos", "1"},
      {"comment entry", "Main", ";XPos", "1"},
      {"header-like entry", "Main", "[XPos", "1"},
      {"line break in value", "Main", "XPos", "1\n[Evil]\nx=y"},
      {"carriage return in value", "Main", "XPos", "1\r"},
      {"NUL in value", "Main", "XPos", std::string("1\0 2", 4)},
      // The file would no longer read as text: every setting in it lost.
      {"control character in value", "Main", "XPos", "1\x01"},
      {"escape in section", "Ma\x1bin", "XPos", "1"},
      {"DEL in entry", "Main", "X\x7fPos", "1"},
      {"removing a bad entry", "Main", "X=Pos", std::nullopt},
  };
  for (const BadPut& c : cases) {
    std::optional<std::string_view> value;
    if (c.value) value = *c.value;
    EXPECT_EQ(rt::PutIni(c.section, c.entry, value, ini_), rt::kBadRequest) << c.what;
    EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest) << c.what;
    EXPECT_EQ(ReadText(ini_), before) << c.what;
  }
  EXPECT_EQ(rt::PutIni("Main", "XPos", "1", ""), rt::kBadRequest);
  EXPECT_EQ(rt::GetIni("Main", "XPos", "dflt", ""), "dflt");
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
}

TEST_F(IniFileTest, RandomBytesReadAsEmptyAndTheNextWriteReplacesThem) {
  std::mt19937 random(20240115);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(random() & 0xff);
  // Make sure the garbage would parse as entries if it were taken for text.
  garbage += "\n[Main]\nXPos=666\n";
  WriteText(ini_, garbage);
  rt::SetError(rt::kRecordNotAvailable);
  EXPECT_EQ(rt::GetIni("Main", "XPos", "default", ini_), "default");
  EXPECT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(rt::PutIni("Main", "YPos", "4", ini_), 0);
  EXPECT_EQ(ReadText(ini_), "[Main]\nYPos=4\n");
  // What could not be read is kept beside, also when it happens again.
  EXPECT_EQ(ReadText(ini_ + ".damaged"), garbage);
  WriteText(ini_, "; notes\n\x1a");
  EXPECT_EQ(rt::PutIni("Main", "YPos", "5", ini_), 0);
  EXPECT_EQ(ReadText(ini_ + ".damaged"), garbage);
  EXPECT_EQ(ReadText(ini_ + ".damaged-2"), "; notes\n\x1a");
}

TEST_F(IniFileTest, AMissingFileReadsAsEmptyAndAMissingFolderIsAClearError) {
  EXPECT_EQ(rt::GetIni("Main", "XPos", "d", ini_), "d");
  EXPECT_EQ(rt::ErrorCode(), 0);
  std::string inMissingFolder = (dir_ / "no-such-folder" / "Veltrane.INI").string();
  EXPECT_EQ(rt::GetIni("Main", "XPos", "d", inMissingFolder), "d");
  EXPECT_EQ(rt::PutIni("Main", "XPos", "1", inMissingFolder), rt::kFileNotFound);
  EXPECT_EQ(rt::ErrorCode(), rt::kFileNotFound);
  EXPECT_EQ(rt::FileErrorCode(), std::to_string(ENOENT));
  EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));
}

// Things that cannot be read in the file's place: reading gives the default,
// and a write refuses to replace what it could not read.
TEST_F(IniFileTest, SomethingUnreadableInTheFilesPlaceReadsAsEmptyAndIsNotReplaced) {
  fs::create_directory(ini_);
  EXPECT_EQ(rt::GetIni("Main", "XPos", "d", ini_), "d");
  EXPECT_EQ(rt::PutIni("Main", "XPos", "1", ini_), rt::kAccessDenied);
  EXPECT_TRUE(fs::is_directory(ini_));
  fs::remove(ini_);

  // A FIFO must not hang the reader waiting for a writer.
  ASSERT_EQ(::mkfifo(ini_.c_str(), 0600), 0);
  EXPECT_EQ(rt::GetIni("Main", "XPos", "d", ini_), "d");
  EXPECT_EQ(rt::PutIni("Main", "XPos", "1", ini_), rt::kAccessDenied);
  EXPECT_TRUE(fs::is_fifo(ini_));
}

TEST_F(IniFileTest, AFileWithoutReadPermissionReadsAsEmptyAndIsNotReplaced) {
  WriteText(ini_, "[Main]\nXPos=1\n");
  ::chmod(ini_.c_str(), 0);
  if (std::ifstream(ini_).good())
    GTEST_SKIP() << "running with privileges that read any file (root): permissions cannot make it unreadable";
  EXPECT_EQ(rt::GetIni("Main", "XPos", "d", ini_), "d");
  EXPECT_EQ(rt::PutIni("Main", "XPos", "2", ini_), rt::kAccessDenied);
  ::chmod(ini_.c_str(), 0600);
  EXPECT_EQ(ReadText(ini_), "[Main]\nXPos=1\n");
}

TEST_F(IniFileTest, AReadOnlyFileIsNotReplaced) {
  WriteText(ini_, "[Main]\nXPos=1\n");
  ::chmod(ini_.c_str(), 0444);
  EXPECT_EQ(rt::PutIni("Main", "XPos", "2", ini_), rt::kAccessDenied);
  EXPECT_EQ(rt::GetIni("Main", "XPos", "", ini_), "1");
}

TEST_F(IniFileTest, AWriteKeepsPermissionsLeavesNoTemporaryFileAndFollowsALink) {
  WriteText(ini_, "[Main]\nXPos=1\n");
  ::chmod(ini_.c_str(), 0640);
  std::string link = (dir_ / "Link.INI").string();
  fs::create_symlink(ini_, link);
  EXPECT_EQ(rt::PutIni("Main", "XPos", "2", link), 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadText(ini_), "[Main]\nXPos=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(ini_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  std::vector<std::string> entries = FolderEntries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"Link.INI", "Veltrane.INI"}));
}

// A writer killed between making its temporary file and the rename leaves
// the file; the next write removes it unless its process lives or someone
// holds it locked.
TEST_F(IniFileTest, TemporaryFilesOfKilledWritersGoAndLiveOnesStay) {
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  auto temporary = [](long pid, int n) {
    return ".Veltrane.INI." + std::to_string(pid) + "." + std::to_string(n) + ".tmp";
  };
  WriteText((dir_ / temporary(dead, 0)).string(), "[Main]\nXPos=");
  WriteText((dir_ / temporary(1, 0)).string(), "[Main]\nXPos=");
  WriteText((dir_ / temporary(dead, 1)).string(), "[Main]\nXPos=");
  const int held = ::open((dir_ / temporary(dead, 1)).c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(rt::PutIni("Main", "XPos", "1", ini_), 0);
  ::close(held);
  std::vector<std::string> entries = FolderEntries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries,
            (std::vector<std::string>{temporary(1, 0), temporary(dead, 1), "Veltrane.INI"}));
}

TEST_F(IniFileTest, WritersOnSeveralThreadsLoseNoUpdate) {
  constexpr int kThreads = 4;
  constexpr int kEntries = 15;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEntries; ++i)
        rt::PutIni("Thread" + std::to_string(t), "Entry" + std::to_string(i), std::to_string(t * 100 + i), ini_);
    });
  for (auto& w : writers) w.join();
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kEntries; ++i)
      EXPECT_EQ(rt::GetIni("Thread" + std::to_string(t), "Entry" + std::to_string(i), "lost", ini_),
                std::to_string(t * 100 + i));
}

// A reader that opens the file again and again while it is rewritten must
// only ever see one complete version: the old file or the new one.
TEST_F(IniFileTest, AReaderNeverSeesAHalfWrittenFile) {
  constexpr int kVersions = 40;
  constexpr std::size_t kFill = 512 * 1024;
  auto valueOf = [&](int version) {
    std::string v = std::to_string(version);
    return v + ":" + std::string(kFill, static_cast<char>('a' + version % 26)) + ":" + v;
  };
  auto fileOf = [&](int version) { return "[Data]\nFill=" + valueOf(version) + "\n"; };
  ASSERT_EQ(rt::PutIni("Data", "Fill", valueOf(0), ini_), 0);

  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::vector<std::string> torn;
  std::thread reader([&] {
    while (!done.load()) {
      std::string text = ReadText(ini_);
      int version = std::atoi(text.c_str() + std::string_view("[Data]\nFill=").size());
      if (text != fileOf(version) && torn.size() < 3) torn.push_back(text.substr(0, 40) + "... (" +
                                                                      std::to_string(text.size()) + " bytes)");
      ++reads;
    }
  });
  for (int version = 1; version <= kVersions; ++version) ASSERT_EQ(rt::PutIni("Data", "Fill", valueOf(version), ini_), 0);
  done = true;
  reader.join();
  EXPECT_EQ(torn, std::vector<std::string>{});
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(ReadText(ini_), fileOf(kVersions));
}

}  // namespace
