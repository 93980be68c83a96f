#include "runtime/files/field_ref.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace rt {
namespace {

using Bytes = std::vector<std::uint8_t>;

enum Field { kByte = 1, kShort, kLong, kDate, kAmount, kName, kCode, kSlots };

const FileDeclaration& Declaration() {
  static const FileDeclaration decl("KEYED", "Sample", "SAM", "data\\Sample.DAT",
                                    {
                                        {FieldType::Byte, 0, 0, "SAM:FLAG", {}},
                                        {FieldType::Short, 0, 0, "SAM:COUNT", {}},
                                        {FieldType::Long, 0, 0, "SAM:ID", {}},
                                        {FieldType::Date, 0, 0, "SAM:DUTYDATE", {}},
                                        {FieldType::Decimal, 3, 2, "SAM:AMOUNT", {}},  // (5,2)
                                        {FieldType::Text, 6, 0, "SAM:NAME", {}},
                                        {FieldType::CText, 6, 0, "SAM:CODE", {}},
                                        {FieldType::Long, 0, 0, "SAM:SLOTS", {3}},
                                    },
                                    {}, 0);
  return decl;
}

class FieldRefTest : public testing::Test {
 protected:
  // One spare byte past the record catches writes beyond it.
  FieldRefTest() : buffer_(Declaration().RecordLength() + 1, 0x5A) {}
  ~FieldRefTest() override { EXPECT_EQ(buffer_.back(), 0x5A); }

  FieldRef Ref(int field, int element = 0) {
    return FieldRef(buffer_.data(), Declaration(), field, element);
  }
  Bytes Stored(int field, int element = 0) {
    const FieldRef ref = Ref(field, element);
    return Bytes(ref.Data(), ref.Data() + ref.Size());
  }

  Bytes buffer_;
};

TEST_F(FieldRefTest, NumbersAreStoredLittleEndianAndPacked) {
  ASSERT_TRUE(Ref(kByte).SetInt(200) && Ref(kShort).SetInt(-2) && Ref(kLong).SetInt(0x01020304) &&
              Ref(kDate).SetInt(80788) && Ref(kAmount).SetDecimal(Decimal{-12345, 2}));
  EXPECT_EQ(Stored(kByte), (Bytes{200}));
  EXPECT_EQ(Stored(kShort), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(Stored(kLong), (Bytes{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(Stored(kDate), (Bytes{0x94, 0x3B, 0x01, 0x00}));
  EXPECT_EQ(Stored(kAmount), (Bytes{0xF1, 0x23, 0x45}));
  EXPECT_EQ(Ref(kByte).GetInt(), 200);
  EXPECT_EQ(Ref(kShort).GetInt(), -2);
  EXPECT_EQ(Ref(kDate).ToText(), "80788");
  EXPECT_EQ(Ref(kAmount).GetInt(), -123);  // cut toward zero
  EXPECT_EQ(Ref(kAmount).ToText(), "-123.45");
  ASSERT_TRUE(Ref(kAmount).SetString(" 0.125 "));  // rounded half away from zero
  EXPECT_EQ(Ref(kAmount).GetDecimal(), Decimal({13, 2}));
}

TEST_F(FieldRefTest, ValuesThatDoNotFitAreRefusedAndLeaveTheFieldUnchanged) {
  struct Case {
    int Field;
    std::int64_t Value;
    bool Fits;
  };
  const Case cases[] = {
      {kByte, 255, true},        {kByte, 256, false},       {kByte, -1, false},
      {kShort, -32768, true},    {kShort, 32768, false},    {kLong, INT32_MIN, true},
      {kLong, 1LL << 31, false}, {kDate, 1LL << 32, false}, {kAmount, -999, true},
      {kAmount, 1000, false},    {kName, 123456, true},     {kName, -123456, false},
      {kCode, 12345, true},      {kCode, 123456, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "field " << c.Field << " value " << c.Value);
    Ref(c.Field).Clear();
    const Bytes before = Stored(c.Field);
    EXPECT_EQ(Ref(c.Field).SetInt(c.Value), c.Fits);
    if (c.Fits)
      EXPECT_EQ(Ref(c.Field).GetInt(), c.Value);
    else
      EXPECT_EQ(Stored(c.Field), before);
  }
  EXPECT_FALSE(Ref(kAmount).SetDecimal(Decimal{99999, 1}));  // 9999.9
  EXPECT_FALSE(Ref(kAmount).SetString("12x"));
  EXPECT_EQ(Stored(kAmount), (Bytes{0, 0, 0}));
}

TEST_F(FieldRefTest, TextIsBlankPaddedAndCTextNulTerminated) {
  ASSERT_TRUE(Ref(kName).SetString("AB") && Ref(kCode).SetString("AB"));
  EXPECT_EQ(Stored(kName), (Bytes{'A', 'B', ' ', ' ', ' ', ' '}));
  EXPECT_EQ(Stored(kCode), (Bytes{'A', 'B', 0, 0, 0, 0}));
  EXPECT_EQ(Ref(kName).GetString(), "AB    ");
  EXPECT_EQ(Ref(kName).ToText(), "AB");
  EXPECT_EQ(Ref(kCode).GetString(), "AB");

  ASSERT_TRUE(Ref(kName).SetString("ABCDEFGH") && Ref(kCode).SetString("ABCDEFGH"));
  EXPECT_EQ(Ref(kName).GetString(), "ABCDEF");
  EXPECT_EQ(Stored(kCode), (Bytes{'A', 'B', 'C', 'D', 'E', 0}));
  EXPECT_EQ(Stored(kSlots), (Bytes{0x5A, 0x5A, 0x5A, 0x5A}));  // the next field is untouched
}

TEST_F(FieldRefTest, ComparesByValue) {
  ASSERT_TRUE(Ref(kAmount).SetDecimal(Decimal{500, 2}) && Ref(kLong).SetInt(5));
  EXPECT_EQ(Ref(kAmount).Compare(Ref(kLong)), 0);
  ASSERT_TRUE(Ref(kLong).SetInt(6) && Ref(kByte).SetInt(200) && Ref(kShort).SetInt(-1));
  EXPECT_EQ(Ref(kAmount).Compare(Ref(kLong)), -1);
  EXPECT_EQ(Ref(kLong).Compare(Ref(kAmount)), 1);
  EXPECT_EQ(Ref(kByte).Compare(Ref(kShort)), 1);

  struct Case {
    const char* Name;
    const char* Code;
    int Want;
  };
  for (const Case& c : {Case{"AB", "AB", 0},
                        {"AB  ", "AB", 0},
                        {"AB", "AB  ", -1},  // a ctext's trailing blanks are characters
                        {"AB", "ABC", -1},
                        {"ABD", "ABC", 1},
                        {"AB", "AB\x01", -1},
                        {"\xE9", "z", 1},
                        {"", "", 0}}) {
    ASSERT_TRUE(Ref(kName).SetString(c.Name) && Ref(kCode).SetString(c.Code));
    EXPECT_EQ(Ref(kName).Compare(Ref(kCode)), c.Want) << c.Name << " vs " << c.Code;
    EXPECT_EQ(Ref(kCode).Compare(Ref(kName)), -c.Want) << c.Name << " vs " << c.Code;
  }
}

TEST_F(FieldRefTest, ClearGivesZeroBlanksAndNuls) {
  for (int field = kByte; field <= kSlots; ++field) Ref(field).Clear();
  EXPECT_EQ(Stored(kLong), Bytes(4, 0));
  EXPECT_EQ(Stored(kAmount), Bytes(3, 0));
  EXPECT_EQ(Stored(kName), Bytes(6, ' '));
  EXPECT_EQ(Stored(kCode), Bytes(6, 0));
  EXPECT_EQ(Ref(kAmount).ToText(), "0.00");
  EXPECT_EQ(Stored(kSlots, 1), Bytes(4, 0x5A));  // only element 0 of the array
}

TEST_F(FieldRefTest, SetFromConvertsBetweenTypes) {
  ASSERT_TRUE(Ref(kAmount).SetDecimal(Decimal{1299, 2}));
  ASSERT_TRUE(Ref(kLong).SetFrom(Ref(kAmount)) && Ref(kByte).SetFrom(Ref(kLong)));
  EXPECT_EQ(Ref(kByte).GetInt(), 12);
  ASSERT_TRUE(Ref(kName).SetFrom(Ref(kAmount)) && Ref(kCode).SetFrom(Ref(kName)));
  EXPECT_EQ(Ref(kName).GetString(), "12.99 ");
  EXPECT_EQ(Ref(kCode).GetString(), "12.99");  // the text's padding is not copied
  ASSERT_TRUE(Ref(kShort).SetFrom(Ref(kCode)));
  EXPECT_EQ(Ref(kShort).GetInt(), 12);

  ASSERT_TRUE(Ref(kLong).SetInt(-70000) && Ref(kCode).SetString("abc"));
  EXPECT_FALSE(Ref(kShort).SetFrom(Ref(kLong)));
  EXPECT_FALSE(Ref(kLong).SetFrom(Ref(kCode)));
  std::memset(Ref(kAmount).Data(), 0xAB, 3);  // damaged BCD
  EXPECT_FALSE(Ref(kLong).SetFrom(Ref(kAmount)));
  EXPECT_EQ(Ref(kShort).GetInt(), 12);
  EXPECT_EQ(Ref(kLong).GetInt(), -70000);
}

TEST_F(FieldRefTest, ArrayElementsAreSeparateAndBoundsAreChecked) {
  for (int e = 0; e < 3; ++e) ASSERT_TRUE(Ref(kSlots, e).SetInt(100 + e));
  for (int e = 0; e < 3; ++e) EXPECT_EQ(Ref(kSlots, e).GetInt(), 100 + e);
  for (FieldRef invalid : {Ref(0), Ref(kSlots + 1), Ref(kSlots, 3), Ref(kSlots, -1), Ref(kLong, 1),
                           FieldRef(nullptr, Declaration(), kLong)}) {
    EXPECT_FALSE(invalid.IsValid() || invalid.SetInt(1) || invalid.SetString("1"));
    EXPECT_EQ(invalid.GetInt(), 0);
    EXPECT_EQ(invalid.ToText(), "");
    EXPECT_EQ(invalid.Compare(Ref(kLong)), -1);
    invalid.Clear();
  }
}

}  // namespace
}  // namespace rt
