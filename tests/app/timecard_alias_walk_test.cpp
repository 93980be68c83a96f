// The purge's access pattern on the real Timecard declarations: walk Timecard
// in TIM:KEYCOMPDATECARDPTIME order and delete every other punch through
// AliasTimeCard, fetched by the same key. Every punch is seen exactly once,
// also when keys repeat, whether the walk reads through the file or a view.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "app/schema.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "tests/support/temp_folder.h"

namespace {

using namespace app::tim;

class TimecardAliasWalk : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    home_ = std::filesystem::current_path();
    ASSERT_FALSE(folder_.Path().empty());
    dir_ = folder_.Path().string();
    std::filesystem::create_directories(dir_ + "/data");
    std::filesystem::current_path(dir_);
    timecard_ = std::make_unique<rt::File>(app::TimecardFile());
    alias_ = std::make_unique<rt::File>(app::AliasTimeCardFile());
    rt::FileCreate(*timecard_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileOpen(*timecard_);
    rt::FileOpen(*alias_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    // 600 punches; every fifth one twice, so the walked key repeats.
    rt::TxBegin(2, *timecard_);
    for (int i = 0; i < 600; ++i) {
      for (int copy = 0; copy < (i % 5 == 0 ? 2 : 1); ++copy) {
        rt::FileClear(*timecard_);
        timecard_->Field(kCompany).SetInt(1 + i % 3);
        timecard_->Field(kDutyDate).SetInt(81000 + i % 17);
        timecard_->Field(kEmpCard).SetInt(1000 + i % 23);
        timecard_->Field(kPunchTime).SetInt(i % 7 * 100000);
        timecard_->Field(kOrigin).SetString(copy ? "SECOND" : "CLOCK");
        rt::FileAdd(*timecard_);
        ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
        ++total_;
      }
    }
    rt::TxCommit();
  }
  void TearDown() override {
    alias_.reset();
    timecard_.reset();
    std::filesystem::current_path(home_);
  }

  std::filesystem::path home_;
  TempFolder folder_{"timecard-walk"};
  std::string dir_;
  std::unique_ptr<rt::File> timecard_, alias_;
  int total_ = 0;
};

TEST_P(TimecardAliasWalk, EveryPunchIsSeenOnceWhileTheAliasDeletesEveryOther) {
  bool throughView = GetParam();
  rt::View view(*timecard_);
  auto next = [&] { throughView ? rt::FileNext(view) : rt::FileNext(*timecard_); };
  if (throughView) {
    rt::ViewSetProperty(view, rt::kPropOrder,
                        "TIM:COMPANY,TIM:DUTYDATE,TIM:EMP_CARD,TIM:PUNCH_TIME");
    rt::FileOpen(view);
    rt::FileBuffer(view, 20, 2, 0, 60);
    rt::ViewSetStart(view, 0);
  } else {
    rt::FileSetProperty(*timecard_, rt::kPropReadAhead, "20");
    rt::FileSetKey(*timecard_, kKeyCompDateCardPtime);
  }
  rt::TxBegin(2, *timecard_);
  rt::TxBegin(2, *alias_);
  ASSERT_EQ(rt::ErrorCode(), 0);
  std::set<std::int64_t> seen;
  std::string previous;
  int deleted = 0, n = 0;
  for (next(); rt::ErrorCode() == 0; next()) {
    ASSERT_TRUE(seen.insert(rt::FilePointer(*timecard_)).second);
    // Key order holds.
    char key[64];
    std::snprintf(key, sizeof key, "%03lld/%08lld/%08lld/%08lld",
                  static_cast<long long>(timecard_->Field(kCompany).GetInt()),
                  static_cast<long long>(timecard_->Field(kDutyDate).GetInt()),
                  static_cast<long long>(timecard_->Field(kEmpCard).GetInt()),
                  static_cast<long long>(timecard_->Field(kPunchTime).GetInt()));
    EXPECT_LE(previous, key);
    previous = key;
    if (n++ % 2 == 0) continue;
    for (int f : {kCompany, kDutyDate, kEmpCard, kPunchTime})
      alias_->Field(f).SetFrom(timecard_->Field(f));
    rt::FileGetByKey(*alias_, kKeyCompDateCardPtime);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileDelete(*alias_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    ++deleted;
  }
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  rt::TxCommit();
  ASSERT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(static_cast<int>(seen.size()), total_);
  EXPECT_EQ(deleted, total_ / 2);
  EXPECT_EQ(rt::FileRecords(*timecard_), total_ - deleted);
}

INSTANTIATE_TEST_SUITE_P(ByFileAndByView, TimecardAliasWalk, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "View" : "File"; });

}  // namespace
