// The debug-output channel over a real abstract socket: delivery in order,
// the cost of an unwatched line, a viewer that does not read, and the sink
// that tests use instead.
#include "runtime/trace/debug_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/halt.h"
#include "runtime/trace/debug_channel_listener.h"

namespace {

// Each test sends to a name of its own, so neither a running viewer nor a
// test in another process can see or swallow its lines.
class DebugOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> serial{0};
    name_ = "veltrane-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    rt::SetDebugChannelName(name_);
  }
  void TearDown() override {
    rt::SetDebugSink(nullptr);
    rt::SetDebugChannelName("");
  }

  std::string name_;
};

TEST_F(DebugOutputTest, ListenerReceivesEachLineWholeAndInOrder) {
  rt::DebugChannelListener listener;
  ASSERT_EQ(listener.Bind(name_), 0);
  auto before = rt::DebugChannelStatistics();
  std::vector<std::string> sent;
  std::vector<std::string> received;
  // Batches smaller than the kernel's smallest queue, read before the next.
  for (int batch = 0; batch < 20; ++batch) {
    for (int i = 0; i < 5; ++i) {
      sent.push_back("[qv][1] TIM:DutyDate: line " + std::to_string(batch * 5 + i));
      rt::DebugOutput(sent.back());
    }
    for (int i = 0; i < 5; ++i) {
      auto line = listener.Receive(5000);
      ASSERT_TRUE(line.has_value());
      received.push_back(*line);
    }
  }
  EXPECT_EQ(received, sent);
  auto after = rt::DebugChannelStatistics();
  EXPECT_EQ(after.Sends - before.Sends, 100u);
  EXPECT_EQ(after.Delivered - before.Delivered, 100u);
  EXPECT_EQ(after.Dropped - before.Dropped, 0u);
  EXPECT_EQ(rt::DebugChannelName(), name_);
}

TEST_F(DebugOutputTest, AnUnwatchedLineCostsOneFailedSend) {
  auto before = rt::DebugChannelStatistics();
  errno = EDOM;
  rt::DebugOutput("[qv][1] nobody listens");
  EXPECT_EQ(errno, EDOM);
  auto after = rt::DebugChannelStatistics();
  EXPECT_EQ(after.Sends - before.Sends, 1u);
  EXPECT_EQ(after.Dropped - before.Dropped, 1u);
  EXPECT_EQ(after.Delivered - before.Delivered, 0u);
}

// A viewer that never reads fills its queue; the program goes on at once and
// the lines that do not fit are dropped, the earliest kept.
TEST_F(DebugOutputTest, AViewerThatDoesNotReadNeverBlocksTheSender) {
  rt::DebugChannelListener listener;
  ASSERT_EQ(listener.Bind(name_), 0);
  auto before = rt::DebugChannelStatistics();
  constexpr int kLines = 2000;
  for (int i = 0; i < kLines; ++i) rt::DebugOutput("line " + std::to_string(i));
  auto after = rt::DebugChannelStatistics();
  EXPECT_EQ(after.Sends - before.Sends, static_cast<std::uint64_t>(kLines));
  EXPECT_GT(after.Delivered - before.Delivered, 0u);
  EXPECT_GT(after.Dropped - before.Dropped, 0u);
  EXPECT_EQ(after.Delivered - before.Delivered + after.Dropped - before.Dropped, static_cast<std::uint64_t>(kLines));
  EXPECT_EQ(listener.Receive(1000), std::optional<std::string>("line 0"));
}

TEST_F(DebugOutputTest, ASinkTakesTheLinesInsteadOfTheChannel) {
  rt::DebugChannelListener listener;
  ASSERT_EQ(listener.Bind(name_), 0);
  std::vector<std::string> lines;
  rt::SetDebugSink([&](std::string_view line) { lines.emplace_back(line); });
  auto before = rt::DebugChannelStatistics();
  rt::DebugOutput("first");
  rt::DebugOutput("second");
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(rt::DebugChannelStatistics().Sends, before.Sends);
  // Unix datagrams are queued during the send, so nothing pending means nothing was sent.
  EXPECT_EQ(listener.Receive(0), std::nullopt);

  rt::DebugSink previous = rt::SetDebugSink(nullptr);
  EXPECT_TRUE(static_cast<bool>(previous));
  rt::DebugOutput("third");
  EXPECT_EQ(listener.Receive(5000), std::optional<std::string>("third"));
  EXPECT_EQ(lines.size(), 2u);
}

// A listener counts what it missed from the numbers on the datagrams: a gap
// between two, the lines a sender skipped in its pause before the listener
// started, the lines dropped at the end of what it sent (from the sender's
// memory file, with no word from the sender), and at a halt.
TEST_F(DebugOutputTest, AListenerCountsEveryLineItMissed) {
  rt::DebugOutput("before anybody listens");
  rt::DebugChannelListener listener;
  ASSERT_EQ(listener.Bind(name_), 0);
  // The sender found nobody and pauses: these lines cost no system call.
  auto before = rt::DebugChannelStatistics();
  for (int i = 0; i < 100; ++i) rt::DebugOutput("in the pause");
  EXPECT_EQ(rt::DebugChannelStatistics().Sends, before.Sends);
  std::this_thread::sleep_for(rt::kNobodyListensPause + std::chrono::milliseconds(20));
  rt::DebugOutput("after the pause");
  auto datagram = listener.ReceiveDatagram(5000);
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(datagram->Line, "after the pause");
  EXPECT_EQ(datagram->MissedBefore, 100u);

  // Lines that find the queue full, told three ways: by the sender's next
  // datagram; with no word from the sender, from its memory file once the
  // queue is empty; by the datagram the sender sends when it ends (a halt).
  std::uint64_t total = 100;
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    const auto start = rt::DebugChannelStatistics();
    for (int i = 0; i < 500; ++i) rt::DebugOutput("line " + std::to_string(i));
    const auto end = rt::DebugChannelStatistics();
    const std::uint64_t missed = end.Missed - start.Missed;
    ASSERT_GT(missed, 0u);
    total += missed;
    for (std::uint64_t i = 0; i < end.Delivered - start.Delivered; ++i)
      EXPECT_EQ(listener.Receive(5000), std::optional<std::string>("line " + std::to_string(i)));
    if (way == 0) rt::DebugOutput("after the gap");
    if (way == 2) {
      rt::SetHaltHandler([](int, const std::string&) { throw std::runtime_error("halted"); });
      EXPECT_THROW(rt::Halt(3), std::runtime_error);
      rt::SetHaltHandler({});
    }
    datagram = listener.ReceiveDatagram(5000);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->HasLine, way == 0);
    EXPECT_EQ(datagram->Line, way == 0 ? "after the gap" : "");
    EXPECT_EQ(datagram->MissedBefore, missed);
  }
  EXPECT_EQ(listener.MissedLines(), total);
}

TEST_F(DebugOutputTest, OnlyOneListenerHoldsAName) {
  rt::DebugChannelListener first;
  rt::DebugChannelListener second;
  ASSERT_EQ(first.Bind(name_), 0);
  EXPECT_EQ(second.Bind(name_), EADDRINUSE);
  EXPECT_FALSE(second.Bound());
  EXPECT_EQ(second.Bind(std::string(200, 'x')), ENAMETOOLONG);
}

}  // namespace
