// The error log on a real file in a fresh folder (the current folder of the
// test), written by the error manager with messages going to the headless
// backend.
#include "errors/standard_error_log.h"

#include <gtest/gtest.h>

#include <cctype>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "errors/error_manager.h"
#include "runtime/core/dates.h"
#include "runtime/core/error_state.h"
#include "runtime/core/pictures.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "tests/support/temp_folder.h"

namespace {

using errors::LevelBenign;
using errors::LevelNotify;
using errors::StandardErrorLog;

const rt::ThreadVar<errors::ErrorStatus> statusVar;

class ErrorLogging : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.Path());
    rt::SetBackend(&backend_);
    manager_.Init(statusVar);
    manager_.AddEntry(900, "First|line two", "Note", LevelNotify);
    manager_.AddEntry(901, "Second", "Note", LevelNotify);
  }
  void TearDown() override {
    manager_.Kill();
    rt::SetBackend(nullptr);
    std::filesystem::current_path(previous_);
  }

  std::vector<std::string> LogLines() {
    std::ifstream in(std::string(StandardErrorLog::kFileName));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  TempFolder folder_{"error-log"};
  std::filesystem::path previous_;
  rt::HeadlessBackend backend_;
  errors::ErrorManager manager_;
};

TEST_F(ErrorLogging, FirstReportCreatesTheLogAndLaterOnesAppendDatedLines) {
  manager_.SetLogErrors(true);
  EXPECT_EQ(manager_.Raise(900), LevelNotify);
  manager_.SetSilent(true);
  EXPECT_EQ(manager_.Raise(901), LevelNotify);
  EXPECT_EQ(backend_.MessageBoxes().size(), 1u) << "the silent report is logged, not shown";

  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  // The C locale's short date and long time.
  const std::string date = rt::Format(rt::Today(), "D17");
  ASSERT_FALSE(date.empty());
  // The time as HH:MM:SS.
  auto isTime = [](const std::string& text) {
    if (text.size() != 8) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
      if (i % 3 == 2 ? text[i] != ':' : !std::isdigit(static_cast<unsigned char>(text[i])))
        return false;
    return true;
  };
  const std::vector<std::string> texts = {"First|line two", "Second"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string prefix = date + "@";
    ASSERT_EQ(lines[i].substr(0, prefix.size()), prefix) << lines[i];
    const std::size_t arrow = lines[i].find(" --> ");
    ASSERT_NE(arrow, std::string::npos) << lines[i];
    EXPECT_TRUE(isTime(lines[i].substr(prefix.size(), arrow - prefix.size())))
        << lines[i];
    EXPECT_EQ(lines[i].substr(arrow + 5), texts[i]);
  }
}

TEST_F(ErrorLogging, ALogThatCannotBeWrittenNeverStopsAReportAndWorksOnceItCan) {
  manager_.SetLogErrors(true);
  // A folder where the log should be: it can be neither created nor opened.
  std::filesystem::create_directory(std::string(StandardErrorLog::kFileName));
  rt::SetError(rt::kAccessDenied, "data/Item.DAT");
  manager_.SetSilent(true);
  EXPECT_EQ(manager_.Raise(900), LevelNotify);
  EXPECT_EQ(rt::ErrorCode(), rt::kAccessDenied) << "the log's failure left the error state alone";
  manager_.SetSilent(false);
  EXPECT_EQ(manager_.Raise(901), LevelNotify);
  EXPECT_EQ(backend_.MessageBoxes().size(), 1u);

  std::filesystem::remove(std::string(StandardErrorLog::kFileName));
  EXPECT_EQ(manager_.Raise(901), LevelNotify);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u) << "the failed opens left the usage count at 0";
  EXPECT_NE(lines[0].find(" --> Second"), std::string::npos);
}

TEST_F(ErrorLogging, UsageCountsOpensAndNeverGoesBelowZero) {
  StandardErrorLog log;
  EXPECT_EQ(log.Append("not open"), LevelNotify);
  EXPECT_EQ(log.Close(false), LevelNotify);
  EXPECT_EQ(log.Usage(), 0);

  ASSERT_EQ(log.Open(false), LevelBenign);
  ASSERT_EQ(log.Open(false), LevelBenign);
  EXPECT_EQ(log.Usage(), 2);
  EXPECT_EQ(log.Close(false), LevelBenign);
  EXPECT_EQ(log.Append("still open"), LevelBenign);
  EXPECT_EQ(log.Close(false), LevelBenign);
  EXPECT_EQ(log.Usage(), 0);
  EXPECT_EQ(log.Append("closed"), LevelNotify);

  ASSERT_EQ(log.Open(false), LevelBenign);
  ASSERT_EQ(log.Open(false), LevelBenign);
  EXPECT_EQ(log.Close(true), LevelBenign);
  EXPECT_EQ(log.Usage(), 0);
  EXPECT_EQ(log.Append(std::string(1500, 'x') + "\nmore"), LevelNotify);
  ASSERT_EQ(log.Open(false), LevelBenign);
  EXPECT_EQ(log.Append(std::string(1500, 'x')), LevelBenign);
  log.Close(false);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"still open", std::string(1024, 'x')}));
}

}  // namespace
