// The program frame: hook order around the main routine, thread numbering,
// per-thread objects and threads started through the runtime.
#include "runtime/core/program.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "runtime/core/thread_instance.h"

namespace {

std::mutex logMutex;
std::vector<std::string> log;

void Record(const std::string& what) {
  std::lock_guard lock(logMutex);
  log.push_back(what);
}

rt::Module Recording(const std::string& name) {
  auto tag = [name](const char* hook) {
    return [name, hook] { Record(name + "." + hook + "@" + std::to_string(rt::ThreadNumber())); };
  };
  return {name, tag("construct"), tag("destruct"), tag("threadStart"), tag("threadEnd"),
          tag("files")};
}

class ProgramFrame : public ::testing::Test {
 protected:
  void SetUp() override { log.clear(); }
  void TearDown() override { rt::RuntimeExit(); }
};

TEST_F(ProgramFrame, SetsUpInTableOrderAndTearsDownInReverse) {
  ASSERT_NE(rt::RuntimeInit({Recording("a"), Recording("b")}), 0);
  rt::RuntimeStart([] { Record("main@" + std::to_string(rt::ThreadNumber())); });
  EXPECT_EQ(log, (std::vector<std::string>{"a.files@1", "b.files@1", "a.construct@1",
                                           "b.construct@1", "a.threadStart@1", "b.threadStart@1",
                                           "main@1", "b.threadEnd@1", "a.threadEnd@1",
                                           "b.destruct@1", "a.destruct@1"}));
}

TEST_F(ProgramFrame, EmptyHooksAreSkipped) {
  ASSERT_NE(rt::RuntimeInit({rt::Module{"bare", {}, {}, {}, {}, {}}}), 0);
  bool ran = false;
  rt::RuntimeStart([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST_F(ProgramFrame, RefusesASecondTableAndNamelessModules) {
  EXPECT_EQ(rt::RuntimeInit({rt::Module{}}), 0);
  ASSERT_NE(rt::RuntimeInit({Recording("a")}), 0);
  EXPECT_EQ(rt::RuntimeInit({Recording("b")}), 0);
}

TEST_F(ProgramFrame, StartWithoutInitRunsNothing) {
  bool ran = false;
  rt::RuntimeStart([&] { ran = true; });
  EXPECT_FALSE(ran);
}

TEST_F(ProgramFrame, StartedThreadsRunTheirOwnHooksAndGetNewNumbers) {
  ASSERT_NE(rt::RuntimeInit({Recording("a")}), 0);
  int second = 0, third = 0;
  rt::RuntimeStart([&] {
    auto t2 = rt::StartThread([&] { second = rt::ThreadNumber(); });
    t2.Join();
    auto t3 = rt::StartThread([&] { third = rt::ThreadNumber(); });
    t3.Join();
  });
  EXPECT_EQ(second, 2);
  EXPECT_EQ(third, 3);
  std::vector<std::string> threadTwo;
  for (auto& line : log)
    if (line.ends_with("@2")) threadTwo.push_back(line);
  EXPECT_EQ(threadTwo, (std::vector<std::string>{"a.threadStart@2", "a.threadEnd@2"}));
}

const rt::ThreadVar<int> counter{7};

TEST(ThreadInstance, EachThreadHasItsOwnCopyBuiltFromTheInitialValue) {
  rt::ThreadInstance(counter) = 42;
  int seenInThread = 0;
  const int* addressInThread = nullptr;
  std::thread([&] {
    seenInThread = rt::ThreadInstance(counter);
    addressInThread = &rt::ThreadInstance(counter);
  }).join();
  EXPECT_EQ(seenInThread, 7);
  EXPECT_NE(addressInThread, &rt::ThreadInstance(counter));
  EXPECT_EQ(rt::ThreadInstance(counter), 42);
}

TEST(ThreadInstance, DestroyGivesAFreshCopyOnNextUse) {
  rt::ThreadInstance(counter) = 9;
  EXPECT_TRUE(counter.Exists());
  counter.Destroy();
  EXPECT_FALSE(counter.Exists());
  EXPECT_EQ(rt::ThreadInstance(counter), 7);
}

}  // namespace
