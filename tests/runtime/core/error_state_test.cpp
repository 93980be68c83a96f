// The per-thread runtime error state and its save/restore stack.
#include "runtime/core/error_state.h"

#include <gtest/gtest.h>

#include <thread>

#include "runtime/core/critical_section.h"

namespace {

TEST(ErrorState, SetAndClear) {
  rt::SetError(rt::kDuplicateKey, "data/Timecard.DAT");
  EXPECT_EQ(rt::ErrorCode(), 40);
  EXPECT_EQ(rt::ErrorText(), "Creates Duplicate Key");
  EXPECT_EQ(rt::ErrorFile(), "data/Timecard.DAT");
  EXPECT_EQ(rt::FileErrorCode(), "40");
  rt::ClearError();
  EXPECT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(rt::ErrorText(), "");
  EXPECT_EQ(rt::FileErrorCode(), "0");
}

TEST(ErrorState, PushAndPopNest) {
  rt::SetError(rt::kFileNotFound, "a");
  rt::PushErrors();
  rt::SetError(rt::kAccessDenied, "b");
  rt::PushErrors();
  rt::ClearError();
  rt::PopErrors();
  EXPECT_EQ(rt::ErrorCode(), 5);
  EXPECT_EQ(rt::ErrorFile(), "b");
  rt::PopErrors();
  EXPECT_EQ(rt::ErrorCode(), 2);
  rt::PopErrors();  // nothing pushed: state stays
  EXPECT_EQ(rt::ErrorCode(), 2);
  rt::ClearError();
}

TEST(ErrorState, EachThreadHasItsOwn) {
  rt::SetError(rt::kRecordHeld);
  int other = -1;
  std::thread([&] {
    other = rt::ErrorCode();
    rt::SetError(rt::kRecordChanged);
  }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(rt::ErrorCode(), 43);
  rt::ClearError();
}

TEST(CriticalSection, IsReentrantAndExcludesOtherThreads) {
  auto cs = rt::NewCriticalSection();
  cs->Wait();
  cs->Wait();  // the holder takes it again without blocking
  bool otherGotIt = true;
  std::thread([&] {
    std::unique_lock<rt::CriticalSection> lock(*cs, std::try_to_lock);
    otherGotIt = lock.owns_lock();
  }).join();
  EXPECT_FALSE(otherGotIt);
  cs->Release();
  cs->Release();
  std::thread([&] {
    std::unique_lock<rt::CriticalSection> lock(*cs, std::try_to_lock);
    otherGotIt = lock.owns_lock();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

}  // namespace
