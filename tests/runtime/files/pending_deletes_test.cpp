// The pending-delete set both drivers keep: the order it applies in, a
// failure half way, the memory bound and forgetting.
#include "runtime/files/pending_deletes.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "runtime/core/error_state.h"

namespace rt {
namespace {

// Values in ascending order: each order string must sort after the one before.
TEST(OrderKey, BytesSortAsTheValuesDo) {
  const std::vector<std::int64_t> ints = {LLONG_MIN, -70000, -256, -255, -1, 0, 1, 255, 256,
                                          65535,     80000,  LLONG_MAX};
  for (std::size_t i = 1; i < ints.size(); ++i)
    EXPECT_LT(OrderKey().Int(ints[i - 1]).Take(), OrderKey().Int(ints[i]).Take()) << ints[i];
  const std::vector<double> reals = {-1e300, -2.5, -0.0, 0.5, 2.25, 1e300};
  for (std::size_t i = 1; i < reals.size(); ++i)
    EXPECT_LT(OrderKey().Real(reals[i - 1]).Take(), OrderKey().Real(reals[i]).Take()) << reals[i];
  // "a" sorts after "a\0..." as bytes compare: the shorter text is a prefix.
  const std::vector<std::string> sorted = {"", "a", std::string("a\0", 2), std::string("a\0b", 3),
                                           "ab", "b"};
  for (std::size_t i = 1; i < sorted.size(); ++i)
    EXPECT_LT(OrderKey().Bytes(sorted[i - 1]).Take(), OrderKey().Bytes(sorted[i]).Take()) << i;
  // A later value only decides between equal earlier ones.
  EXPECT_LT(OrderKey().Bytes("a").Int(9).Take(), OrderKey().Bytes("ab").Int(1).Take());
  EXPECT_LT(OrderKey().Int(1).Int(900).Take(), OrderKey().Int(2).Int(-5).Take());
}

std::string Order(std::int64_t n) { return OrderKey().Int(n).Take(); }

TEST(PendingDeletes, AppliesInOrderThenRecordNumber) {
  PendingDeletes pending;
  pending.Add(10, Order(3));
  pending.Add(11, Order(1));
  pending.Add(9, Order(3));
  pending.Add(11, Order(0));  // already pending: ignored
  EXPECT_EQ(pending.Count(), 3u);
  EXPECT_TRUE(pending.Contains(9));
  EXPECT_FALSE(pending.Contains(12));
  std::vector<std::vector<std::int64_t>> applied;
  EXPECT_EQ(pending.Apply(2,
                          [&](const std::int64_t* records, std::size_t count) {
                            applied.emplace_back(records, records + count);
                            return kNoError;
                          }),
            kNoError);
  EXPECT_EQ(applied, (std::vector<std::vector<std::int64_t>>{{11, 9}, {10}}));
  EXPECT_TRUE(pending.Empty());
  EXPECT_FALSE(pending.Contains(9));
  EXPECT_LT(pending.Bytes(), 64u);  // its memory given back
}

TEST(PendingDeletes, AFailureKeepsThatChunkAndTheRestPending) {
  PendingDeletes pending;
  for (std::int64_t r = 1; r <= 5; ++r) pending.Add(r, Order(r));
  EXPECT_EQ(pending.Apply(2,
                          [](const std::int64_t* records, std::size_t) {
                            return records[0] == 3 ? kRecordHeld : kNoError;
                          }),
            kRecordHeld);
  EXPECT_EQ(pending.InOrder(), (std::vector<std::int64_t>{3, 4, 5}));
  EXPECT_FALSE(pending.Contains(2));
  EXPECT_TRUE(pending.Contains(4));
  pending.Clear();
  EXPECT_TRUE(pending.Empty());
  EXPECT_FALSE(pending.Contains(4));
}

TEST(PendingDeletes, FullOncePastItsBound) {
  PendingDeletes pending(1000);
  std::int64_t added = 0;
  while (!pending.Full()) {
    ++added;
    pending.Add(added, Order(added));
  }
  EXPECT_GT(added, 1);
  EXPECT_LT(added, 100);  // each entry counts what it holds
  // A long order text counts its own memory.
  PendingDeletes wide(1000);
  wide.Add(1, std::string(2000, 'x'));
  EXPECT_TRUE(wide.Full());
}

}  // namespace
}  // namespace rt
