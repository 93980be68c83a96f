// The ASCII driver: create, open shared for appending, add lines, close.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "tests/support/temp_folder.h"

namespace {

class Ascii : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    dir_ = folder_.Path().string();
    rt::FieldDeclaration line;
    line.Type = rt::FieldType::Text;
    line.Size = 40;
    line.Name = "LOG:LINE";
    decl_ = std::make_unique<rt::FileDeclaration>("ASCII", "Log", "LOG", dir_ + "/Error.Log",
                                                  std::vector<rt::FieldDeclaration>{line},
                                                  std::vector<rt::KeyDeclaration>{}, 0);
  }
  std::string Contents() {
    std::ifstream in(dir_ + "/Error.Log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void AddLine(rt::File& file, const std::string& text) {
    file.Field(1).SetString(text);
    rt::FileAdd(file);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  }
  TempFolder folder_{"ascii-test"};
  std::string dir_;
  std::unique_ptr<rt::FileDeclaration> decl_;
};

TEST_F(Ascii, AppendsOneLinePerRecordAcrossOpens) {
  rt::File file(*decl_);
  rt::FileOpen(file);
  EXPECT_EQ(rt::ErrorCode(), rt::kFileNotFound);
  rt::FileCreate(file);
  ASSERT_EQ(rt::ErrorCode(), 0);
  rt::FileOpen(file, 0x42);
  AddLine(file, "first line");
  AddLine(file, "");
  rt::FileClose(file);
  rt::FileOpen(file, 0x42);
  AddLine(file, "third");
  rt::FileClose(file);
  EXPECT_EQ(Contents(), "first line\n\nthird\n");
  rt::FileCreate(file);
  EXPECT_NE(rt::ErrorCode(), 0);  // never replaces a log
  EXPECT_EQ(Contents(), "first line\n\nthird\n");
}

TEST_F(Ascii, TwoProcessesAppendWithoutLosingLines) {
  rt::File file(*decl_);
  rt::FileCreate(file);
  pid_t child = ::fork();
  if (child == 0) {
    rt::File mine(*decl_);
    rt::FileOpen(mine, 0x42);
    for (int i = 0; i < 200; ++i) {
      mine.Field(1).SetString("child");
      rt::FileAdd(mine);
    }
    ::_exit(rt::ErrorCode());
  }
  rt::FileOpen(file, 0x42);
  for (int i = 0; i < 200; ++i) AddLine(file, "parent");
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::istringstream lines(Contents());
  int parent = 0, fromChild = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line == "parent")
      ++parent;
    else if (line == "child")
      ++fromChild;
    else
      ADD_FAILURE() << "mixed line: " << line;
  }
  EXPECT_EQ(parent, 200);
  EXPECT_EQ(fromChild, 200);
}

TEST_F(Ascii, ReadOnlyOpenAndReadingAreRefused) {
  rt::File file(*decl_);
  rt::FileCreate(file);
  rt::FileOpen(file, 0x40);
  file.Field(1).SetString("x");
  rt::FileAdd(file);
  EXPECT_EQ(rt::ErrorCode(), rt::kAccessDenied);
  rt::FileNext(file);
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
  EXPECT_EQ(Contents(), "");
}

}  // namespace
