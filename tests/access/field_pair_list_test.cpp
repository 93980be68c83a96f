// FieldPairList over fields of a record buffer: copies between the three
// columns and the exact and case-insensitive comparisons.
#include "access/field_pair_list.h"

#include <gtest/gtest.h>

#include <memory>

#include "access_fixture.h"
#include "runtime/files/file_declaration.h"
#include "tests/support/declarations.h"

namespace {

// A parent and a child record side by side, fields of mixed types.
class FieldPairListTest : public ::testing::Test {
 protected:
  static constexpr int kCode = 1, kCount = 2, kLabel = 3, kAmount = 4;

  static std::unique_ptr<rt::FileDeclaration> Declaration(const std::string& prefix) {
    auto field = [&](rt::FieldType type, const std::string& name, int size = 0, int places = 0) {
      return FieldDecl(type, prefix, name, size, places);
    };
    return std::make_unique<rt::FileDeclaration>(
        "KEYED", prefix, prefix, "", std::vector<rt::FieldDeclaration>{
            field(rt::FieldType::Text, "CODE", 6), field(rt::FieldType::Long, "COUNT"),
            field(rt::FieldType::CText, "LABEL", 8), field(rt::FieldType::Decimal, "AMOUNT", 3, 2)},
        std::vector<rt::KeyDeclaration>{}, 0);
  }

  void SetUp() override {
    list.Init();
    for (int n = 1; n <= 4; ++n) {
      Parent(n).Clear();
      Child(n).Clear();
    }
  }

  rt::FieldRef Parent(int n) { return rt::FieldRef(parentBytes.data(), *parentDecl, n); }
  rt::FieldRef Child(int n) { return rt::FieldRef(childBytes.data(), *childDecl, n); }

  std::unique_ptr<rt::FileDeclaration> parentDecl = Declaration("PAR");
  std::unique_ptr<rt::FileDeclaration> childDecl = Declaration("CHI");
  std::vector<std::uint8_t> parentBytes = std::vector<std::uint8_t>(parentDecl->RecordLength());
  std::vector<std::uint8_t> childBytes = std::vector<std::uint8_t>(childDecl->RecordLength());
  dataaccess::FieldPairList list;
};

TEST_F(FieldPairListTest, AddPairLeavesTheRightFieldAloneAndStartsTheBufferBlank) {
  Child(kCode).SetString("AB1");
  Child(kAmount).SetString("4.25");
  list.AddPair(Parent(kCode), Child(kCode));
  list.AddPair(Parent(kAmount), Child(kAmount));
  EXPECT_EQ(Child(kCode).ToText(), "AB1");
  EXPECT_EQ(Child(kAmount).ToText(), "4.25");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ((*list.List)[0].Buffer->Ref().GetString(), "      ");
  EXPECT_EQ((*list.List)[1].Buffer->Ref().ToText(), "0.00");
  EXPECT_EQ((*list.List)[1].Buffer->Ref().Places(), 2);
}

TEST_F(FieldPairListTest, CopiesRunOverEveryPairBetweenTheThreeColumns) {
  list.AddPair(Parent(kCode), Child(kCode));
  list.AddPair(Parent(kCount), Child(kCount));
  Parent(kCode).SetString("P1");
  Parent(kCount).SetInt(7);

  list.AssignLeftToBuffer();
  list.AssignLeftToRight();
  EXPECT_EQ(Child(kCode).ToText(), "P1");
  EXPECT_EQ(Child(kCount).GetInt(), 7);

  Parent(kCode).SetString("P2");
  Parent(kCount).SetInt(8);
  EXPECT_EQ(list.EqualLeftBuffer(), 0) << "a changed key shows against the buffer";
  list.AssignBufferToLeft();
  EXPECT_EQ(Parent(kCode).ToText(), "P1");
  EXPECT_EQ(Parent(kCount).GetInt(), 7);

  list.ClearRight();
  EXPECT_EQ(Child(kCode).ToText(), "");
  EXPECT_EQ(Child(kCount).GetInt(), 0);
  list.AssignBufferToRight();
  EXPECT_EQ(list.EqualRightBuffer(), 1);
  Child(kCount).SetInt(9);
  list.AssignRightToLeft();
  EXPECT_EQ(Parent(kCount).GetInt(), 9);
  list.AssignRightToBuffer();
  EXPECT_EQ(list.EqualLeftBuffer(), 1);
}

TEST_F(FieldPairListTest, CaseOnlyMattersToTheExactComparison) {
  list.AddPair(Parent(kCode), Child(kCode));
  Parent(kCode).SetString("abc");
  Child(kCode).SetString("ABC");
  list.AssignRightToBuffer();
  EXPECT_EQ(list.EqualLeftRight(), 0);
  EXPECT_EQ(list.EqualLeftBuffer(), 1);
  EXPECT_EQ(list.EqualRightBuffer(), 1);
  // A key's own case rule, either way.
  EXPECT_EQ(list.EqualLeftRight(true), 1);
  EXPECT_EQ(list.EqualLeftBuffer(false), 0);
  EXPECT_EQ(list.EqualRightBuffer(false), 1);
  Child(kCode).SetString("abc");
  EXPECT_EQ(list.EqualLeftRight(), 1);
}

TEST_F(FieldPairListTest, AStringAndANumberCompareAsTextInTheCaseInsensitiveComparisons) {
  // Left is a text field, right a long: the buffer takes the long's type.
  list.AddPair(Parent(kLabel), Child(kCount));
  Parent(kLabel).SetString("42");
  Child(kCount).SetInt(42);
  list.AssignRightToBuffer();
  EXPECT_EQ(list.EqualLeftBuffer(), 1);
  Parent(kLabel).SetString("042");
  EXPECT_EQ(list.EqualLeftBuffer(), 0) << "as text, 042 is not 42";
  EXPECT_EQ(list.EqualLeftRight(), 1) << "typed, 042 is 42";
}

TEST_F(FieldPairListTest, TheFirstMismatchDecidesAndAnEmptyListMatches) {
  EXPECT_EQ(list.EqualLeftRight(), 1);
  EXPECT_EQ(list.EqualLeftBuffer(), 1);
  list.AddPair(Parent(kCount), Child(kCount));
  list.AddPair(Parent(kCode), Child(kCode));
  Parent(kCount).SetInt(1);
  Child(kCount).SetInt(1);
  Parent(kCode).SetString("X");
  EXPECT_EQ(list.EqualLeftRight(), 0);
}

TEST_F(FieldPairListTest, KillTwiceOrBeforeInitDoesNoHarm) {
  dataaccess::FieldPairList fresh;
  fresh.Kill();
  EXPECT_EQ(fresh.List, nullptr);
  EXPECT_EQ(fresh.EqualLeftRight(), 1);
  fresh.AssignLeftToRight();
  list.AddPair(Parent(kCode), Child(kCode));
  list.Kill();
  list.Kill();
  EXPECT_EQ(list.List, nullptr);
  EXPECT_EQ(list.RealList, nullptr);
  EXPECT_EQ(list.Count(), 0);
  list.Init();
  EXPECT_EQ(list.List, list.RealList.get());
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
