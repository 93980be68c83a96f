// The data file declarations against the record layouts and keys the disk
// files are built with. The expected tables are written out here in full, in
// the same notation (types as "decimal(7,0)", components by field label), so a
// mismatch shows as a difference between two readable tables.
#include "app/schema.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/file.h"

namespace {

struct FieldRow {
  std::string Name;
  std::string Type;  // "long", "decimal(5,2)", "ctext(21)[10]" for an array of 10
  int Offset;
  int Bytes;
};

struct KeyRow {
  std::string Name;
  bool Unique;
  std::string Components;  // field labels in key order, ", "-separated
  std::string Description;
  std::string StoredName;  // "" when the key has none
};

struct FileCase {
  std::string Label;
  const rt::FileDeclaration& (*Declaration)();
  std::string Prefix;
  std::string DiskName;
  int RecordBytes;
  int FieldCount;
  int KeyCount;
  std::uint32_t Flags;
  std::vector<FieldRow> Fields;
  std::vector<KeyRow> Keys;
};

// --- Expected tables ---------------------------------------------------------

const std::vector<FieldRow> kTimecardFields = {
    {"TIM:COMPANY", "long", 0, 4},
    {"TIM:DUTYDATE", "long", 4, 4},
    {"TIM:SHIFT", "short", 8, 2},
    {"TIM:PUNCH_TIME", "long", 10, 4},
    {"TIM:EMP_CARD", "decimal(7,0)", 14, 4},
    {"TIM:PUNCHLOC", "long", 18, 4},
    {"TIM:PUNCHTYPE", "text(1)", 22, 1},
    {"TIM:PUNCH_TIME_DEC", "decimal(5,2)", 23, 3},
    {"TIM:ORIGIN", "text(12)", 26, 12},
    {"TIM:EMPNO", "decimal(7,0)", 38, 4},
    {"TIM:PUNCHDATE", "long", 42, 4},
    {"TIM:DEPT", "ctext(7)", 46, 7},
    {"TIM:OTHERCODE", "text(4)", 53, 4},
    {"TIM:JOBNO", "ctext(7)", 57, 7},
    {"TIM:FUNCT", "long", 64, 4},
};

const std::vector<KeyRow> kTimecardKeys = {
    {"TIM:KEYCOMPDATECARDPTIME", false, "COMPANY, DUTYDATE, EMP_CARD, PUNCH_TIME",
     "TIM:KeyCompDateCardPtime", ""},
    {"TIM:KEYCOMPLOCDATECARDPTIME", false, "COMPANY, PUNCHLOC, DUTYDATE, EMP_CARD, PUNCH_TIME",
     "TIM:KeyCompLocDateCardPtime", ""},
    {"TIM:KEYCOMPCARDDATEPTIME", false, "COMPANY, EMP_CARD, DUTYDATE, PUNCH_TIME",
     "TIM:KeyCompCardDatePtime", ""},
    {"TIM:BYCOMPCARDPDATEPTIME", false, "COMPANY, EMP_CARD, PUNCHDATE, PUNCH_TIME", "By Card", ""},
    {"TIM:BYCOMPCARDDDATEPDATEPTIME", false, "COMPANY, EMP_CARD, DUTYDATE, PUNCHDATE, PUNCH_TIME",
     "By Card", ""},
    {"TIM:BYCOMPDUTYDOTHERCODEEMPCARDPDATEPTIME", false,
     "COMPANY, EMP_CARD, OTHERCODE, DUTYDATE, PUNCHDATE, PUNCH_TIME", "By Other Code",
     "ByCompDutydPaytypeEmpcardPdatePtime"},
    {"TIM:BYCOMPEMPCARDJOBCODEDUTYDPDATEPTIME", false,
     "COMPANY, EMP_CARD, JOBNO, DUTYDATE, PUNCHDATE, PUNCH_TIME", "By Job",
     "ByCompEmpcardJobcodeDutydPdatePtime"},
};

const std::vector<KeyRow> kAliasTimeCardKeys = {
    {"ATIM:KEYCOMPDATECARDPTIME", false, "COMPANY, DUTYDATE, EMP_CARD, PUNCH_TIME",
     "ATIM:KeyCompDateCardPtime", ""},
    {"ATIM:KEYCOMPLOCDATECARDPTIME", false, "COMPANY, PUNCHLOC, DUTYDATE, EMP_CARD, PUNCH_TIME",
     "ATIM:KeyCompLocDateCardPtime", ""},
    {"ATIM:KEYCOMPCARDDATEPTIME", false, "COMPANY, EMP_CARD, DUTYDATE, PUNCH_TIME",
     "ATIM:KeyCompCardDatePtime", ""},
    {"ATIM:BYCOMPCARDPDATEPTIME", false, "COMPANY, EMP_CARD, PUNCHDATE, PUNCH_TIME", "By Card", ""},
    {"ATIM:BYCOMPCARDDDATEPDATEPTIME", false, "COMPANY, EMP_CARD, DUTYDATE, PUNCHDATE, PUNCH_TIME",
     "By Card", ""},
    {"ATIM:BYCOMPDUTYDOTHERCODEEMPCARDPDATEPTIME", false,
     "COMPANY, EMP_CARD, OTHERCODE, DUTYDATE, PUNCHDATE, PUNCH_TIME", "By Other Code",
     "ByCompDutydPaytypeEmpcardPdatePtime"},
    {"ATIM:BYCOMPEMPCARDJOBCODEDUTYDPDATEPTIME", false,
     "COMPANY, EMP_CARD, JOBNO, DUTYDATE, PUNCHDATE, PUNCH_TIME", "By Job",
     "ByCompEmpcardJobcodeDutydPdatePtime"},
};

const std::vector<FieldRow> kHTimecardFields = {
    {"HTIM:COMPANY", "long", 0, 4},
    {"HTIM:DUTYDATE", "long", 4, 4},
    {"HTIM:PUNCH_TIME", "long", 8, 4},
    {"HTIM:EMP_CARD", "decimal(7,0)", 12, 4},
    {"HTIM:PUNCHLOC", "long", 16, 4},
    {"HTIM:PUNCHTYPE", "text(1)", 20, 1},
    {"HTIM:PUNCH_TIME_DEC", "decimal(5,2)", 21, 3},
    {"HTIM:ORIGIN", "text(12)", 24, 12},
    {"HTIM:PUNCHDATE", "long", 36, 4},
};

const std::vector<KeyRow> kHTimecardKeys = {
    {"HTIM:KEYDATECARDTIME", false, "DUTYDATE, EMP_CARD, PUNCH_TIME", "HTIM:KeyDateCardTime", ""},
    {"HTIM:KEYLOCATIONDATECARDTIME", false, "PUNCHLOC, DUTYDATE, EMP_CARD, PUNCH_TIME",
     "HTIM:KeyLocationDateCardTime", ""},
    {"HTIM:KEYCOMPCARDDATETIME", false, "COMPANY, EMP_CARD, DUTYDATE, PUNCH_TIME",
     "HTIM:KeyCompCardDateTime", ""},
    {"HTIM:BYCOMPDDATECARDPDATEPTYPE", false, "COMPANY, DUTYDATE, EMP_CARD, PUNCHDATE, PUNCHTYPE",
     "By Card", ""},
};

const std::vector<FieldRow> kOtherHrsTrxFields = {
    {"OHT:COMPANY", "long", 0, 4},
    {"OHT:CARDNO", "decimal(7,0)", 4, 4},
    {"OHT:CODE", "text(4)", 8, 4},
    {"OHT:PARENTCODE", "text(4)", 12, 4},
    {"OHT:DATE", "long", 16, 4},
    {"OHT:HOURS", "decimal(7,2)", 20, 4},
    {"OHT:ORIGIN", "text(12)", 24, 12},
    {"OHT:JOBNO", "ctext(7)", 36, 7},
};

const std::vector<KeyRow> kOtherHrsTrxKeys = {
    {"OHT:KEYCOMPCARDDATECODE", true, "COMPANY, CARDNO, DATE, CODE", "OHT:KeyCompCardDateCode", ""},
    {"OHT:KEYCOMPDATECODECARD", true, "COMPANY, DATE, CODE, CARDNO", "OHT:KeyCompDateCodeCard", ""},
    {"OHT:BYCOMPDATECARD", false, "COMPANY, DATE, CARDNO", "By Date", ""},
    {"OHT:BYCOMPCODECARDDATE", true, "COMPANY, CODE, CARDNO, DATE", "By Code", ""},
    {"OHT:BYCOMPCARDCODEDATE", true, "COMPANY, CARDNO, CODE, DATE", "OHT:ByCompCardCodeDate", ""},
    {"OHT:BYCOMPCARD", false, "COMPANY, CARDNO", "By Employee Card", ""},
    {"OHT:BYCOMPCARDPARENT", false, "COMPANY, CARDNO, PARENTCODE", "OHT:ByCompCardParent", ""},
    {"OHT:BYCOMPCARDDATEPARENT", false, "COMPANY, CARDNO, DATE, PARENTCODE",
     "OHT:ByCompCardDateParent", ""},
    {"OHT:BYCOMPCARDPARENTDATE", false, "COMPANY, CARDNO, PARENTCODE, DATE",
     "OHT:ByCompCardParentDate", ""},
};

const std::vector<KeyRow> kHOtherTrxKeys = {
    {"HOHT:KEYCOMPCARDDATECODE", false, "COMPANY, CARDNO, DATE, CODE", "HOHT:KeyCompCardDateCode",
     ""},
    {"HOHT:KEYCOMPCARD", false, "COMPANY, CARDNO", "HOHT:KeyCompCard", ""},
    {"HOHT:KEYDATECODECARD", false, "DATE, CODE, CARDNO", "HOHT:KeyDateCodeCard", ""},
    {"HOHT:BYDATECARD", false, "DATE, CARDNO", "By Date", ""},
    {"HOHT:BYCOMPCARDPARENT", false, "COMPANY, CARDNO, PARENTCODE", "HOHT:ByCompCardParent", ""},
    {"HOHT:BYCOMPCARDDATEPARENT", false, "COMPANY, CARDNO, DATE, PARENTCODE",
     "HOHT:ByCompCardDateParent", ""},
    {"HOHT:BYCOMPCARDPARENTDATE", false, "COMPANY, CARDNO, PARENTCODE, DATE",
     "HOHT:ByCompCardParentDate", ""},
};

const std::vector<FieldRow> kHOSFields = {
    {"HOS:COMPANY", "long", 0, 4},
    {"HOS:EMP_CARD", "decimal(7,0)", 4, 4},
    {"HOS:DATE", "long[8]", 8, 32},
    {"HOS:TIME", "long[8]", 40, 32},
    {"HOS:HRS", "decimal(5,2)[8]", 72, 24},
    {"HOS:OFFHRS", "decimal(5,2)[8]", 96, 24},
};

const std::vector<KeyRow> kHOSKeys = {
    {"HOS:BYCOMPCARD", false, "COMPANY, EMP_CARD", "By Card", ""},
};

const std::vector<FieldRow> kEmployeeFields = {
    {"EMP:COMPANY", "long", 0, 4},
    {"EMP:LASTNAME", "text(20)", 4, 20},
    {"EMP:FIRSTNAME", "text(20)", 24, 20},
    {"EMP:MIDDLEINITIAL", "text(1)", 44, 1},
    {"EMP:STREET", "ctext(41)", 45, 41},
    {"EMP:CITY", "ctext(31)", 86, 31},
    {"EMP:STATE", "ctext(3)", 117, 3},
    {"EMP:ZIPCOPE", "ctext(11)", 120, 11},
    {"EMP:CARDNO", "decimal(7,0)", 131, 4},
    {"EMP:DEPT", "ctext(7)", 135, 7},
    {"EMP:PAYTYPE", "ctext(5)", 142, 5},
    {"EMP:SSNO", "decimal(9,0)", 147, 5},
    {"EMP:MARITALSTATUS", "text(1)", 152, 1},
    {"EMP:BIRTHDAY", "date", 153, 4},
    {"EMP:HIREDATE", "date", 157, 4},
    {"EMP:RAISEDATE", "date", 161, 4},
    {"EMP:REVIEWDATE", "date", 165, 4},
    {"EMP:TERMINATEDDATE", "date", 169, 4},
    {"EMP:PHONE1", "ctext(21)", 173, 21},
    {"EMP:PHONE2", "ctext(21)", 194, 21},
    {"EMP:PHONE3", "ctext(21)", 215, 21},
    {"EMP:REGRATE", "decimal(7,2)", 236, 4},
    {"EMP:OTRATE", "decimal(7,2)", 240, 4},
    {"EMP:DTRATE", "decimal(7,2)", 244, 4},
    {"EMP:HOLIDAYRATE", "decimal(7,2)", 248, 4},
    {"EMP:YTDREGULARHRS", "decimal(7,2)", 252, 4},
    {"EMP:YTDOVERTIMEHRS", "decimal(7,2)", 256, 4},
    {"EMP:TOTALLEAVEHRS", "decimal(7,2)", 260, 4},
    {"EMP:YTDLEAVEHRSUSED", "decimal(7,2)", 264, 4},
    {"EMP:YTDHOLIDAY", "decimal(7,2)", 268, 4},
    {"EMP:TOTALSICKALLOWED", "decimal(7,2)", 272, 4},
    {"EMP:SICKHOURSTAKEN", "decimal(7,2)", 276, 4},
    {"EMP:FMLASTARTDATE", "long", 280, 4},
    {"EMP:FMLAENDDATE", "long", 284, 4},
    {"EMP:FMLAHRS", "decimal(7,2)", 288, 4},
    {"EMP:FMLAUSED", "decimal(7,2)", 292, 4},
    {"EMP:MISCHRS", "decimal(7,2)", 296, 4},
    {"EMP:PAIDHOLIDAYHRS", "text(1)", 300, 1},
    {"EMP:SCHEDULECODE", "text(4)", 301, 4},
    {"EMP:SCHEDULELEVEL", "decimal(3,0)", 305, 2},
    {"EMP:LASTPAYROLLDATE", "long", 307, 4},
    {"EMP:ACTIVEINACTIVE", "text(1)", 311, 1},
    {"EMP:LOCATION", "long", 312, 4},
    {"EMP:NAME", "text(46)", 316, 46},
    {"EMP:EMPLOYEENO", "ctext(21)", 362, 21},
    {"EMP:LASTWORKDATE", "long", 383, 4},
    {"EMP:LASTCLOCKOUT", "long", 387, 4},
    {"EMP:USEHOS", "byte", 391, 1},
    {"EMP:HOSEXCEPTIONTAKEN", "byte", 392, 1},
    {"EMP:JOBNO", "ctext(7)", 393, 7},
    {"EMP:COLUMNLABEL", "ctext(21)[10]", 400, 210},
    {"EMP:COLUMNDATA", "ctext(61)[10]", 610, 610},
};

const std::vector<KeyRow> kEmployeeKeys = {
    {"EMP:KEYCOMPLASTNAME", false, "COMPANY, LASTNAME", "EMP:KeyCompLastname", ""},
    {"EMP:BYCOMPANYDEPTNAME", false, "COMPANY, DEPT, NAME", "By Department", ""},
    {"EMP:KEYCOMPFIRSTNAME", false, "COMPANY, FIRSTNAME", "EMP:KeyCompFirstname", ""},
    {"EMP:BYCOMPCARD", true, "COMPANY, CARDNO", "By Card", ""},
    {"EMP:KEYCOMPDEPT", false, "COMPANY, DEPT", "EMP:KeyCompDept", ""},
    {"EMP:KEYCOMPPAYTYPE", false, "COMPANY, PAYTYPE", "EMP:KeyCompPaytype", ""},
    {"EMP:BYCOMPNAME", false, "COMPANY, NAME", "By Name", ""},
    {"EMP:BYCOMPEMPNO", true, "COMPANY, EMPLOYEENO", "By Employee Number", ""},
    {"EMP:BYCOMPNOJOB", false, "COMPANY, JOBNO", "By Job", "ByCompnoJob"},
};

const std::vector<FieldRow> kEmpMisPCFields = {
    {"EMPC:COMPANY", "long", 0, 4},
    {"EMPC:CARDNO", "decimal(7,0)", 4, 4},
    {"EMPC:CODE", "text(15)", 8, 15},
};

const std::vector<KeyRow> kEmpMisPCKeys = {
    {"EMPC:BYCOMPCARD", true, "COMPANY, CARDNO", "By Card", ""},
    {"EMPC:BYCOMPCODE", false, "COMPANY, CODE", "By Code", ""},
};

const std::vector<FieldRow> kPayTypeFields = {
    {"PAY:COMPANY", "long", 0, 4},
    {"PAY:CODE", "ctext(5)", 4, 5},
    {"PAY:DESCRIPTION", "text(15)", 9, 15},
    {"PAY:PAYAS", "byte", 24, 1},
    {"PAY:MONITOR", "byte", 25, 1},
};

const std::vector<KeyRow> kPayTypeKeys = {
    {"PAY:BYCOMPCODE", true, "COMPANY, CODE", "By Code", ""},
};

const std::vector<FieldRow> kDeptFields = {
    {"DEP:COMPANY", "long", 0, 4},
    {"DEP:DEPT", "ctext(7)", 4, 7},
    {"DEP:DESCRIPTION", "text(30)", 11, 30},
    {"DEP:TYPICALDUTYHRS", "decimal(5,2)", 41, 3},
    {"DEP:MAXDUTYHOURSPERDAY", "decimal(5,2)", 44, 3},
    {"DEP:MINDUTYHOURSOFF", "decimal(5,2)", 47, 3},
    {"DEP:MAXLUNCHTIME", "decimal(5,2)", 50, 3},
    {"DEP:MAXDINNERTIME", "decimal(5,2)", 53, 3},
    {"DEP:MAXBREAKTIME", "decimal(5,2)", 56, 3},
    {"DEP:HOSPERIODS", "byte", 59, 1},
    {"DEP:HOSHOURS", "decimal(5,2)", 60, 3},
    {"DEP:HOSCYCLERESET", "decimal(5,2)", 63, 3},
    {"DEP:HOSEXCEPTIONHOURS", "decimal(5,2)", 66, 3},
    {"DEP:REG_MISCCODE", "text(4)", 69, 4},
    {"DEP:OT_MISCCODE", "text(4)", 73, 4},
    {"DEP:DT_MISCCODE", "text(4)", 77, 4},
    {"DEP:JOBNO", "ctext(7)", 81, 7},
};

const std::vector<KeyRow> kDeptKeys = {
    {"DEP:BYCOMPDEPARTMENT", true, "COMPANY, DEPT", "By Department", ""},
};

const std::vector<FieldRow> kEmpAnnualizedFields = {
    {"EMPA:COMPANY", "long", 0, 4},
    {"EMPA:CARDNO", "decimal(7,0)", 4, 4},
    {"EMPA:EMPLOYEENO", "ctext(21)", 8, 21},
    {"EMPA:IMPORTCODE", "text(10)", 29, 10},
    {"EMPA:PARENTCODE", "text(4)", 39, 4},
    {"EMPA:DESCRIPTION", "ctext(21)", 43, 21},
    {"EMPA:ANIVERSARYDATE", "date", 64, 4},
    {"EMPA:CTK_HOURSREMAINING", "decimal(9,4)", 68, 5},
    {"EMPA:PR_HOURSAVAILABLE", "decimal(9,4)", 73, 5},
    {"EMPA:ALLOWABLEDIFFERENCE", "decimal(5,2)", 78, 3},
    {"EMPA:LASTMODIFIEDDATE", "date", 81, 4},
};

const std::vector<KeyRow> kEmpAnnualizedKeys = {
    {"EMPA:BYCOMPCARDPARENT", true, "COMPANY, CARDNO, PARENTCODE", "By Card", "ByCompCardParent"},
};

// The alias and the other-hours history repeat another file's fields under
// their own prefix.
std::vector<FieldRow> Reprefixed(std::vector<FieldRow> rows, const std::string& prefix) {
  for (auto& row : rows) row.Name = prefix + row.Name.substr(row.Name.find(':'));
  return rows;
}

std::vector<FileCase> FileCases() {
  return {
      {"Timecard", app::TimecardFile, "TIM", "data\\Timecard.DAT", 68, 15, 7, 0x14,
       kTimecardFields, kTimecardKeys},
      {"AliasTimeCard", app::AliasTimeCardFile, "ATIM", "data\\Timecard.DAT", 68, 15, 7, 0x14,
       Reprefixed(kTimecardFields, "ATIM"), kAliasTimeCardKeys},
      {"HTimecard", app::HTimecardFile, "HTIM", "data\\HTimecard.DAT", 40, 9, 4, 0x14,
       kHTimecardFields, kHTimecardKeys},
      {"OtherHrsTrx", app::OtherHrsTrxFile, "OHT", "data\\OtherHrsTrx.DAT", 43, 8, 9, 0x1c,
       kOtherHrsTrxFields, kOtherHrsTrxKeys},
      {"HOtherTrx", app::HOtherTrxFile, "HOHT", "data\\HOtherTrx.DAT", 43, 8, 7, 0x14,
       Reprefixed(kOtherHrsTrxFields, "HOHT"), kHOtherTrxKeys},
      {"HOS", app::HOSFile, "HOS", "data\\HOS.DAT", 120, 6, 1, 0x1c, kHOSFields, kHOSKeys},
      {"Employee", app::EmployeeFile, "EMP", "data\\Employee.DAT", 1220, 52, 9, 0x1c,
       kEmployeeFields, kEmployeeKeys},
      {"EmpMisPC", app::EmpMisPCFile, "EMPC", "data\\EmpMisPC.DAT", 23, 3, 2, 0x1c,
       kEmpMisPCFields, kEmpMisPCKeys},
      {"PayType", app::PayTypeFile, "PAY", "data\\PayType.DAT", 26, 5, 1, 0x1c, kPayTypeFields,
       kPayTypeKeys},
      {"Dept", app::DeptFile, "DEP", "data\\Dept.DAT", 88, 17, 1, 0x1c, kDeptFields, kDeptKeys},
      {"EmpAnnualized", app::EmpAnnualizedFile, "EMPA", "data\\EmpAnnual.DAT", 85, 11, 1, 0x14,
       kEmpAnnualizedFields, kEmpAnnualizedKeys},
  };
}

// --- Rendering declarations in the tables' notation --------------------------

std::string TypeText(const rt::FieldDeclaration& field) {
  std::string text;
  switch (field.Type) {
    case rt::FieldType::Byte: text = "byte"; break;
    case rt::FieldType::Short: text = "short"; break;
    case rt::FieldType::Date: text = "date"; break;
    case rt::FieldType::Long: text = "long"; break;
    case rt::FieldType::Decimal:
      text = "decimal(" + std::to_string(field.Digits()) + "," + std::to_string(field.Places) + ")";
      break;
    case rt::FieldType::Text: text = "text(" + std::to_string(field.Size) + ")"; break;
    case rt::FieldType::CText: text = "ctext(" + std::to_string(field.Size) + ")"; break;
    default: text = "type " + std::to_string(static_cast<int>(field.Type)); break;
  }
  for (auto d : field.Dimensions) text += "[" + std::to_string(d) + "]";
  return text;
}

std::string RowText(const FieldRow& row) {
  return row.Name + " | " + row.Type + " | @" + std::to_string(row.Offset) + " | " +
         std::to_string(row.Bytes);
}

std::vector<std::string> ExpectedFields(const FileCase& c) {
  std::vector<std::string> rows;
  for (const auto& row : c.Fields) rows.push_back(RowText(row));
  return rows;
}

std::vector<std::string> ActualFields(const rt::FileDeclaration& decl) {
  std::vector<std::string> rows;
  for (int n = 1; n <= decl.FieldCount(); ++n) {
    const auto& field = decl.Field(n);
    rows.push_back(RowText(
        {field.Name, TypeText(field), decl.Offset(n), field.ElementSize() * field.Elements()}));
  }
  return rows;
}

std::string KeyText(const std::string& name, const std::string& flags,
                    const std::string& components, std::string_view description,
                    const std::string& storedName) {
  return name + " | " + flags + " | " + components + " | \"" + std::string(description) +
         "\" | " + (storedName.empty() ? "-" : storedName);
}

std::vector<std::string> ExpectedKeys(const FileCase& c) {
  std::vector<std::string> rows;
  for (const auto& key : c.Keys) {
    // Every key carries the base bit; the ones that are not unique add the duplicates bit.
    rows.push_back(KeyText(key.Name, key.Unique ? "flags 0x04" : "flags 0x05", key.Components,
                           key.Description, key.StoredName));
  }
  return rows;
}

std::string ComponentLabels(const rt::FileDeclaration& decl, const rt::KeyDeclaration& key) {
  std::string text;
  for (int n : key.Components) {
    if (!text.empty()) text += ", ";
    if (n < 1 || n > decl.FieldCount())
      text += "#" + std::to_string(n) + "?";
    else
      text += std::string(decl.Field(n).Label());
  }
  return text;
}

std::vector<std::string> ActualKeys(const rt::FileDeclaration& decl) {
  std::vector<std::string> rows;
  for (int k = 1; k <= decl.KeyCount(); ++k) {
    const auto& key = decl.Key(k);
    char flags[16];
    std::snprintf(flags, sizeof flags, "flags 0x%02x", key.Flags);
    rows.push_back(KeyText(key.Name, flags, ComponentLabels(decl, key),
                           app::KeyDescription(decl, k), key.StoredName));
  }
  return rows;
}

// --- Every file against its table --------------------------------------------

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.Label; }

class DeclaredFileTest : public testing::TestWithParam<FileCase> {};

TEST_P(DeclaredFileTest, HeaderMatchesFileTable) {
  const FileCase& c = GetParam();
  const rt::FileDeclaration& decl = c.Declaration();
  EXPECT_EQ(decl.Driver(), "KEYED");
  EXPECT_EQ(decl.Label(), c.Label);
  EXPECT_EQ(decl.Prefix(), c.Prefix);
  EXPECT_EQ(decl.DiskName(), c.DiskName);
  EXPECT_EQ(decl.Flags(), c.Flags);
  EXPECT_EQ(decl.RecordLength(), c.RecordBytes);
  EXPECT_EQ(decl.FieldCount(), c.FieldCount);
  EXPECT_EQ(decl.KeyCount(), c.KeyCount);
}

TEST_P(DeclaredFileTest, FieldsMatchLayoutTable) {
  const FileCase& c = GetParam();
  ASSERT_EQ(static_cast<int>(c.Fields.size()), c.FieldCount) << "expected table is incomplete";
  EXPECT_THAT(ActualFields(c.Declaration()), testing::ElementsAreArray(ExpectedFields(c)));
}

TEST_P(DeclaredFileTest, KeysMatchKeyTable) {
  const FileCase& c = GetParam();
  ASSERT_EQ(static_cast<int>(c.Keys.size()), c.KeyCount) << "expected table is incomplete";
  EXPECT_THAT(ActualKeys(c.Declaration()), testing::ElementsAreArray(ExpectedKeys(c)));
}

INSTANTIATE_TEST_SUITE_P(AllFiles, DeclaredFileTest, testing::ValuesIn(FileCases()),
                         [](const testing::TestParamInfo<FileCase>& info) {
                           return info.param.Label;
                         });

// --- Relations between declarations ------------------------------------------

TEST(SchemaTest, AliasTimeCardAgreesWithTimecardFieldByFieldAndKeyByKey) {
  const rt::FileDeclaration& live = app::TimecardFile();
  const rt::FileDeclaration& alias = app::AliasTimeCardFile();
  EXPECT_EQ(alias.DiskName(), live.DiskName());
  EXPECT_EQ(alias.RecordLength(), live.RecordLength());
  ASSERT_EQ(alias.FieldCount(), live.FieldCount());
  for (int n = 1; n <= live.FieldCount(); ++n) {
    SCOPED_TRACE(live.Field(n).Name);
    EXPECT_EQ(alias.Field(n).Label(), live.Field(n).Label());
    EXPECT_EQ(alias.Field(n).Name, "ATIM:" + std::string(live.Field(n).Label()));
    EXPECT_EQ(TypeText(alias.Field(n)), TypeText(live.Field(n)));
    EXPECT_EQ(alias.Offset(n), live.Offset(n));
  }
  ASSERT_EQ(alias.KeyCount(), live.KeyCount());
  for (int k = 1; k <= live.KeyCount(); ++k) {
    SCOPED_TRACE(live.Key(k).Name);
    EXPECT_EQ(alias.Key(k).Label(), live.Key(k).Label());
    EXPECT_EQ(alias.Key(k).Components, live.Key(k).Components);
    EXPECT_EQ(alias.Key(k).Flags, live.Key(k).Flags);
    EXPECT_EQ(alias.Key(k).StoredName, live.Key(k).StoredName);
  }
}

TEST(SchemaTest, OtherCodeKeyPutsCardBeforeOtherCodeAndDutyDate) {
  for (const rt::FileDeclaration* decl : {&app::TimecardFile(), &app::AliasTimeCardFile()}) {
    int k = decl->KeyNumber("BYCOMPDUTYDOTHERCODEEMPCARDPDATEPTIME");
    ASSERT_EQ(k, app::tim::kKeyByCompDutydOtherCodeEmpCardPdatePtime) << decl->Label();
    EXPECT_EQ(ComponentLabels(*decl, decl->Key(k)),
              "COMPANY, EMP_CARD, OTHERCODE, DUTYDATE, PUNCHDATE, PUNCH_TIME")
        << decl->Label();
  }
}

TEST(SchemaTest, HistoryCardDateCodeKeyAdmitsDuplicatesWhereLiveOneDoesNot) {
  const auto& live = app::OtherHrsTrxFile();
  const auto& history = app::HOtherTrxFile();
  int liveKey = live.KeyNumber("OHT:KEYCOMPCARDDATECODE");
  int historyKey = history.KeyNumber("HOHT:KEYCOMPCARDDATECODE");
  ASSERT_NE(liveKey, 0);
  ASSERT_NE(historyKey, 0);
  EXPECT_FALSE(live.Key(liveKey).AllowsDuplicates());
  EXPECT_TRUE(history.Key(historyKey).AllowsDuplicates());
  EXPECT_EQ(history.Key(historyKey).Components, live.Key(liveKey).Components);
}

TEST(SchemaTest, AllFilesListsEachDeclarationOnceInRegistrationOrder) {
  std::vector<std::string> labels;
  for (const auto* decl : app::AllFiles()) labels.push_back(decl->Label());
  EXPECT_EQ(labels, (std::vector<std::string>{"Timecard", "EmpAnnualized", "Dept", "Employee",
                                              "HOtherTrx", "PayType", "EmpMisPC", "HTimecard",
                                              "OtherHrsTrx", "HOS", "AliasTimeCard"}));
  // The entries are the accessors' objects, not copies.
  EXPECT_EQ(app::AllFiles().front(), &app::TimecardFile());
  EXPECT_EQ(app::AllFiles().back(), &app::AliasTimeCardFile());
}

TEST(SchemaTest, KeyDescriptionIsEmptyOutsideTheDeclaredKeys) {
  const auto& timecard = app::TimecardFile();
  EXPECT_EQ(app::KeyDescription(timecard, 0), "");
  EXPECT_EQ(app::KeyDescription(timecard, timecard.KeyCount() + 1), "");
  rt::FileDeclaration foreign("KEYED", "Timecard", "TIM", "data\\Timecard.DAT", {}, {}, 0x14);
  EXPECT_EQ(app::KeyDescription(foreign, 1), "");
}

// The numbered constants other code uses name the fields and keys they claim to.
TEST(SchemaTest, FieldAndKeyConstantsNumberTheirNames) {
  struct Case {
    const rt::FileDeclaration& (*Declaration)();
    int Number;
    const char* Name;
  };
  using namespace app;
  const Case fieldCases[] = {
      {TimecardFile, tim::kCompany, "TIM:COMPANY"},
      {TimecardFile, tim::kDutyDate, "TIM:DUTYDATE"},
      {TimecardFile, tim::kShift, "TIM:SHIFT"},
      {TimecardFile, tim::kPunchTime, "TIM:PUNCH_TIME"},
      {TimecardFile, tim::kEmpCard, "TIM:EMP_CARD"},
      {TimecardFile, tim::kPunchLoc, "TIM:PUNCHLOC"},
      {TimecardFile, tim::kPunchType, "TIM:PUNCHTYPE"},
      {TimecardFile, tim::kPunchTimeDec, "TIM:PUNCH_TIME_DEC"},
      {TimecardFile, tim::kOrigin, "TIM:ORIGIN"},
      {TimecardFile, tim::kEmpNo, "TIM:EMPNO"},
      {TimecardFile, tim::kPunchDate, "TIM:PUNCHDATE"},
      {TimecardFile, tim::kDept, "TIM:DEPT"},
      {TimecardFile, tim::kOtherCode, "TIM:OTHERCODE"},
      {TimecardFile, tim::kJobNo, "TIM:JOBNO"},
      {TimecardFile, tim::kFunct, "TIM:FUNCT"},
      {AliasTimeCardFile, tim::kDutyDate, "ATIM:DUTYDATE"},
      {AliasTimeCardFile, tim::kEmpCard, "ATIM:EMP_CARD"},
      {HTimecardFile, htim::kCompany, "HTIM:COMPANY"},
      {HTimecardFile, htim::kDutyDate, "HTIM:DUTYDATE"},
      {HTimecardFile, htim::kPunchTime, "HTIM:PUNCH_TIME"},
      {HTimecardFile, htim::kEmpCard, "HTIM:EMP_CARD"},
      {HTimecardFile, htim::kPunchLoc, "HTIM:PUNCHLOC"},
      {HTimecardFile, htim::kPunchType, "HTIM:PUNCHTYPE"},
      {HTimecardFile, htim::kPunchDate, "HTIM:PUNCHDATE"},
      {OtherHrsTrxFile, oht::kCompany, "OHT:COMPANY"},
      {OtherHrsTrxFile, oht::kCardNo, "OHT:CARDNO"},
      {OtherHrsTrxFile, oht::kCode, "OHT:CODE"},
      {OtherHrsTrxFile, oht::kParentCode, "OHT:PARENTCODE"},
      {OtherHrsTrxFile, oht::kDate, "OHT:DATE"},
      {HOtherTrxFile, oht::kCardNo, "HOHT:CARDNO"},
      {HOtherTrxFile, oht::kDate, "HOHT:DATE"},
      {HOSFile, hos::kCompany, "HOS:COMPANY"},
      {HOSFile, hos::kEmpCard, "HOS:EMP_CARD"},
      {EmployeeFile, emp::kCompany, "EMP:COMPANY"},
      {EmployeeFile, emp::kLastName, "EMP:LASTNAME"},
      {EmployeeFile, emp::kFirstName, "EMP:FIRSTNAME"},
      {EmployeeFile, emp::kCardNo, "EMP:CARDNO"},
      {EmployeeFile, emp::kDept, "EMP:DEPT"},
      {EmployeeFile, emp::kPayType, "EMP:PAYTYPE"},
      {EmployeeFile, emp::kScheduleCode, "EMP:SCHEDULECODE"},
      {EmployeeFile, emp::kScheduleLevel, "EMP:SCHEDULELEVEL"},
      {EmployeeFile, emp::kName, "EMP:NAME"},
      {EmployeeFile, emp::kEmployeeNo, "EMP:EMPLOYEENO"},
      {EmployeeFile, emp::kJobNo, "EMP:JOBNO"},
      {EmpMisPCFile, empc::kCompany, "EMPC:COMPANY"},
      {EmpMisPCFile, empc::kCardNo, "EMPC:CARDNO"},
      {EmpMisPCFile, empc::kCode, "EMPC:CODE"},
      {PayTypeFile, pay::kCompany, "PAY:COMPANY"},
      {PayTypeFile, pay::kCode, "PAY:CODE"},
      {PayTypeFile, pay::kPayAs, "PAY:PAYAS"},
      {PayTypeFile, pay::kMonitor, "PAY:MONITOR"},
      {DeptFile, dep::kCompany, "DEP:COMPANY"},
      {DeptFile, dep::kDept, "DEP:DEPT"},
      {DeptFile, dep::kHosPeriods, "DEP:HOSPERIODS"},
      {EmpAnnualizedFile, empa::kCompany, "EMPA:COMPANY"},
      {EmpAnnualizedFile, empa::kCardNo, "EMPA:CARDNO"},
      {EmpAnnualizedFile, empa::kParentCode, "EMPA:PARENTCODE"},
  };
  for (const auto& c : fieldCases)
    EXPECT_EQ(c.Declaration().FieldNumber(c.Name), c.Number) << c.Name;

  const Case keyCases[] = {
      {TimecardFile, tim::kKeyCompDateCardPtime, "TIM:KEYCOMPDATECARDPTIME"},
      {TimecardFile, tim::kKeyCompLocDateCardPtime, "TIM:KEYCOMPLOCDATECARDPTIME"},
      {TimecardFile, tim::kKeyCompCardDatePtime, "TIM:KEYCOMPCARDDATEPTIME"},
      {TimecardFile, tim::kKeyByCompCardPdatePtime, "TIM:BYCOMPCARDPDATEPTIME"},
      {TimecardFile, tim::kKeyByCompCardDdatePdatePtime, "TIM:BYCOMPCARDDDATEPDATEPTIME"},
      {TimecardFile, tim::kKeyByCompDutydOtherCodeEmpCardPdatePtime,
       "TIM:BYCOMPDUTYDOTHERCODEEMPCARDPDATEPTIME"},
      {TimecardFile, tim::kKeyByCompEmpCardJobCodeDutydPdatePtime,
       "TIM:BYCOMPEMPCARDJOBCODEDUTYDPDATEPTIME"},
      {AliasTimeCardFile, tim::kKeyCompDateCardPtime, "ATIM:KEYCOMPDATECARDPTIME"},
  };
  for (const auto& c : keyCases) EXPECT_EQ(c.Declaration().KeyNumber(c.Name), c.Number) << c.Name;
}

// --- Record buffers built from the declarations ------------------------------

TEST(SchemaRecordTest, FileBufferHasRecordLength) {
  for (const auto* decl : app::AllFiles()) {
    rt::File file(*decl);
    EXPECT_EQ(file.RecordLength(), decl->RecordLength()) << decl->Label();
  }
}

// Setting one field through a FieldRef changes exactly the bytes at that
// field's place in the table and leaves the rest of the record as it was.
TEST(SchemaRecordTest, FieldWritesLandAtTableOffsets) {
  struct Case {
    const rt::FileDeclaration& (*Declaration)();
    const char* Field;
    int Element;
    std::function<bool(rt::FieldRef)> Set;
    int Offset;  // from the layout tables
    std::vector<std::uint8_t> Bytes;
  };
  const auto setInt = [](std::int64_t v) { return [v](rt::FieldRef f) { return f.SetInt(v); }; };
  const auto setText = [](const char* s) { return [s](rt::FieldRef f) { return f.SetString(s); }; };
  const Case cases[] = {
      {app::TimecardFile, "TIM:DUTYDATE", 0, setInt(0x01020304), 4, {0x04, 0x03, 0x02, 0x01}},
      {app::TimecardFile, "TIM:SHIFT", 0, setInt(-2), 8, {0xfe, 0xff}},
      {app::TimecardFile, "TIM:EMP_CARD", 0, setInt(1234567), 14, {0x01, 0x23, 0x45, 0x67}},
      {app::TimecardFile, "TIM:PUNCHTYPE", 0, setText("I"), 22, {'I'}},
      {app::TimecardFile, "TIM:OTHERCODE", 0, setText("VAC"), 53, {'V', 'A', 'C', ' '}},
      {app::TimecardFile, "TIM:FUNCT", 0, setInt(7), 64, {7, 0, 0, 0}},
      {app::AliasTimeCardFile, "ATIM:PUNCHDATE", 0, setInt(0x0a0b0c0d), 42,
       {0x0d, 0x0c, 0x0b, 0x0a}},
      {app::HTimecardFile, "HTIM:PUNCHDATE", 0, setInt(9), 36, {9, 0, 0, 0}},
      {app::OtherHrsTrxFile, "OHT:JOBNO", 0, setText("J1"), 36, {'J', '1', 0, 0, 0, 0, 0}},
      {app::HOSFile, "HOS:DATE", 3, setInt(5), 8 + 3 * 4, {5, 0, 0, 0}},
      {app::EmployeeFile, "EMP:USEHOS", 0, setInt(1), 391, {1}},
      {app::EmployeeFile, "EMP:COLUMNDATA", 9, setText("Z"), 610 + 9 * 61, {'Z', 0}},
      {app::PayTypeFile, "PAY:MONITOR", 0, setInt(3), 25, {3}},
      {app::DeptFile, "DEP:HOSPERIODS", 0, setInt(2), 59, {2}},
      {app::EmpAnnualizedFile, "EMPA:PARENTCODE", 0, setText("SICK"), 39, {'S', 'I', 'C', 'K'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Field);
    rt::File file(c.Declaration());
    std::vector<std::uint8_t> expected(file.Buffer(), file.Buffer() + file.RecordLength());
    ASSERT_LE(c.Offset + static_cast<int>(c.Bytes.size()), file.RecordLength());
    std::copy(c.Bytes.begin(), c.Bytes.end(), expected.begin() + c.Offset);

    rt::FieldRef field = file.Field(c.Field, c.Element);
    ASSERT_TRUE(field.IsValid());
    ASSERT_TRUE(c.Set(field));
    EXPECT_EQ(std::vector<std::uint8_t>(file.Buffer(), file.Buffer() + file.RecordLength()),
              expected);
  }
}

}  // namespace
