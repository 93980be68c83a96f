// The packed default message table as the error manager loads it.
#include "errors/default_errors.h"

#include <gtest/gtest.h>

#include <set>

#include "errors/error_manager.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"

namespace {

const rt::ThreadVar<errors::ErrorStatus> statusVar;

class DefaultTable : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetBackend(&backend);
    manager.Init(statusVar);
  }
  void TearDown() override { rt::SetBackend(nullptr); }
  errors::ErrorEntry Entry(int id) {
    errors::ErrorEntry e;
    EXPECT_EQ(manager.LookupEntry(id, e), errors::LevelBenign) << id;
    return e;
  }
  rt::HeadlessBackend backend;
  errors::ErrorManager manager;
};

TEST_F(DefaultTable, HasFiftyFiveRowsEachIdOnceInStoredOrder) {
  auto block = errors::DefaultErrors();
  ASSERT_GE(block.size(), 2u);
  EXPECT_EQ(block[0] | (block[1] << 8), 55);
  EXPECT_EQ(manager.EntryCount(), 55);
  // Walk the rows as stored: the first and last ids and the set of all.
  std::vector<int> ids;
  std::size_t at = 2;
  while (at < block.size()) {
    ids.push_back(block[at] | (block[at + 1] << 8));
    at += 3;
    at += 1 + block[at];
    at += 1 + block[at];
  }
  EXPECT_EQ(at, block.size());
  ASSERT_EQ(ids.size(), 55u);
  EXPECT_EQ(ids.front(), 33);
  EXPECT_EQ(ids[1], 32);
  EXPECT_EQ(ids.back(), 17);
  EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), 55u);
}

TEST_F(DefaultTable, RowsKeepTheirLevelsAndTextsByteForByte) {
  struct Row {
    int id, level;
    const char *title, *text;
  };
  const Row rows[] = {
      {29, 3, "File Access Error", "File %File could not be opened.  Error: %ErrorText."},
      {45, 2, "File Usage Error", "Attempt to use file (%File) before it was opened"},
      {10, 1, "Changes will be lost!", "Are you sure you want to cancel?"},
      {5, 5, "Add New Record?", "Record match not found, do you wish to add a new one?"},
      {48, 5, "SMTP Error", "The following SMTP Error occurred: %Message "},
      {49, 5, "NNTP Error", "%Message "},
      {50, 5, "Winsock Error", "%Message "},
      {55, 5, "Report Writer Error",
       "Poorly Formed Comment String \"%Message\" at Position %Field."},
      {26, 3, "Invalid File",
       "%File has an invalid File structure.|Error: %ErrorCode - %Error|FileError: %FileErrorCode"
       " - %FileError|"},
  };
  for (const auto& r : rows) {
    auto e = Entry(r.id);
    EXPECT_EQ(e.Fatality, r.level) << r.id;
    EXPECT_EQ(e.Title, r.title) << r.id;
    EXPECT_EQ(e.Message, r.text) << r.id;
    EXPECT_EQ(e.Category, "") << r.id;
  }
}

TEST_F(DefaultTable, LineBreaksReachTheMessageBoxUnchanged) {
  for (int id : {4, 9, 16, 17, 38}) {
    manager.SelectEntry(id);
    EXPECT_NE(manager.ExpandText().find('|'), std::string::npos) << id;
  }
  manager.SetFileName("Timecard");
  manager.Dispatch(errors::ErrInsertFailed);
  auto boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Lines, (std::vector<std::string>{
                                "An error was experienced during the creation of a record.",
                                "File: Timecard", "Error:  (0)."}));
}

TEST_F(DefaultTable, TrailingBlankOfMessageOnlyRowsSurvivesExpansion) {
  manager.SetMessageText("connection refused");
  manager.SelectEntry(errors::ErrNntp);
  EXPECT_EQ(manager.ExpandText(), "connection refused ");
}

}  // namespace
