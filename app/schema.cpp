// The record layouts and keys of the data files. Fields are listed in record
// order; the runtime packs them with no padding, so the order alone fixes
// every offset. Keys are listed in key order, each with its components (all
// ascending) in the order the disk files' indexes are built with, which is
// not always the order the key's label spells out.
//
// File flags (0x14, 0x1c) and key attribute bits are handed to the runtime and
// the driver unchanged; this program does not interpret them.
#include "app/schema.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/core/decimal.h"

namespace app {
namespace {

// --- Fields ------------------------------------------------------------------

using rt::FieldType;

rt::FieldDeclaration Field(FieldType type, std::string name, int size = 0, int places = 0) {
  rt::FieldDeclaration field;
  field.Type = type;
  field.Size = static_cast<std::uint16_t>(size);
  field.Places = static_cast<std::uint8_t>(places);
  field.Name = std::move(name);
  return field;
}

rt::FieldDeclaration Byte(std::string name) { return Field(FieldType::Byte, std::move(name)); }
rt::FieldDeclaration Short(std::string name) { return Field(FieldType::Short, std::move(name)); }
rt::FieldDeclaration Date(std::string name) { return Field(FieldType::Date, std::move(name)); }
rt::FieldDeclaration Long(std::string name) { return Field(FieldType::Long, std::move(name)); }

// decimal(digits, places), stored packed.
rt::FieldDeclaration Dec(std::string name, int digits, int places) {
  return Field(FieldType::Decimal, std::move(name), rt::PackedSize(digits), places);
}

rt::FieldDeclaration Text(std::string name, int length) {
  return Field(FieldType::Text, std::move(name), length);
}

rt::FieldDeclaration CText(std::string name, int length) {
  return Field(FieldType::CText, std::move(name), length);
}

// `field` as an array of `elements` values stored one after another.
rt::FieldDeclaration Array(rt::FieldDeclaration field, int elements) {
  field.Dimensions = {static_cast<std::uint16_t>(elements)};
  return field;
}

// --- Keys --------------------------------------------------------------------

// A key with the text it is registered under with the file's manager.
struct DeclaredKey {
  rt::KeyDeclaration Declaration;
  std::string Description;
};

constexpr bool kUnique = true;
constexpr bool kDuplicates = false;

// `components` are 1-based field numbers in key order; `storedName` is the
// external name the driver knows the key by, empty when it has none.
DeclaredKey Key(std::string name, bool unique, std::vector<int> components,
                std::string description, std::string storedName = {}) {
  rt::KeyDeclaration key;
  key.StoredName = std::move(storedName);
  key.Name = std::move(name);
  key.Flags = unique ? rt::kKeyBase : static_cast<std::uint8_t>(rt::kKeyBase | rt::kKeyDuplicates);
  key.Components = std::move(components);
  return {std::move(key), std::move(description)};
}

// --- Second declarations under another prefix --------------------------------

// `text` with its "PREFIX:" replaced by `prefix`; text without one ("By Card")
// is returned as it is.
std::string WithPrefix(const std::string& text, std::string_view prefix) {
  auto colon = text.find(':');
  if (colon == std::string::npos) return text;
  return std::string(prefix) + text.substr(colon);
}

std::vector<rt::FieldDeclaration> WithPrefix(std::vector<rt::FieldDeclaration> fields,
                                             std::string_view prefix) {
  for (auto& field : fields) field.Name = WithPrefix(field.Name, prefix);
  return fields;
}

// Renames the keys and their prefixed descriptions; stored names stay as they
// are because both declarations name the same indexes on disk.
std::vector<DeclaredKey> WithPrefix(std::vector<DeclaredKey> keys, std::string_view prefix) {
  for (auto& key : keys) {
    key.Declaration.Name = WithPrefix(key.Declaration.Name, prefix);
    key.Description = WithPrefix(key.Description, prefix);
  }
  return keys;
}

// --- One declared file -------------------------------------------------------

// A file's declaration together with the descriptions of its keys.
class SchemaFile {
 public:
  SchemaFile(std::string label, std::string prefix, std::string diskName,
             std::vector<rt::FieldDeclaration> fields, const std::vector<DeclaredKey>& keys,
             std::uint32_t flags)
      : declaration_("KEYED", std::move(label), std::move(prefix), std::move(diskName),
                     std::move(fields), KeyDeclarations(keys), flags),
        descriptions_(Descriptions(keys)) {}

  const rt::FileDeclaration& Declaration() const { return declaration_; }
  // Empty when `keyNumber` (1-based) is out of range.
  std::string_view Description(int keyNumber) const {
    if (keyNumber < 1 || keyNumber > static_cast<int>(descriptions_.size())) return {};
    return descriptions_[keyNumber - 1];
  }

 private:
  static std::vector<rt::KeyDeclaration> KeyDeclarations(const std::vector<DeclaredKey>& keys) {
    std::vector<rt::KeyDeclaration> result;
    for (const auto& key : keys) result.push_back(key.Declaration);
    return result;
  }
  static std::vector<std::string> Descriptions(const std::vector<DeclaredKey>& keys) {
    std::vector<std::string> result;
    for (const auto& key : keys) result.push_back(key.Description);
    return result;
  }

  rt::FileDeclaration declaration_;
  std::vector<std::string> descriptions_;
};

// --- Timecard and its alias --------------------------------------------------

std::vector<rt::FieldDeclaration> TimecardFields() {
  return {
      Long("TIM:COMPANY"),
      Long("TIM:DUTYDATE"),
      Short("TIM:SHIFT"),
      Long("TIM:PUNCH_TIME"),
      Dec("TIM:EMP_CARD", 7, 0),
      Long("TIM:PUNCHLOC"),
      Text("TIM:PUNCHTYPE", 1),
      Dec("TIM:PUNCH_TIME_DEC", 5, 2),
      Text("TIM:ORIGIN", 12),
      Dec("TIM:EMPNO", 7, 0),
      Long("TIM:PUNCHDATE"),
      CText("TIM:DEPT", 7),
      Text("TIM:OTHERCODE", 4),
      CText("TIM:JOBNO", 7),
      Long("TIM:FUNCT"),
  };
}

std::vector<DeclaredKey> TimecardKeys() {
  using namespace tim;
  return {
      Key("TIM:KEYCOMPDATECARDPTIME", kDuplicates, {kCompany, kDutyDate, kEmpCard, kPunchTime},
          "TIM:KeyCompDateCardPtime"),
      Key("TIM:KEYCOMPLOCDATECARDPTIME", kDuplicates,
          {kCompany, kPunchLoc, kDutyDate, kEmpCard, kPunchTime}, "TIM:KeyCompLocDateCardPtime"),
      Key("TIM:KEYCOMPCARDDATEPTIME", kDuplicates, {kCompany, kEmpCard, kDutyDate, kPunchTime},
          "TIM:KeyCompCardDatePtime"),
      Key("TIM:BYCOMPCARDPDATEPTIME", kDuplicates, {kCompany, kEmpCard, kPunchDate, kPunchTime},
          "By Card"),
      Key("TIM:BYCOMPCARDDDATEPDATEPTIME", kDuplicates,
          {kCompany, kEmpCard, kDutyDate, kPunchDate, kPunchTime}, "By Card"),
      // The card comes before the other code and the duty date, whatever the
      // label says: the disk files' indexes are built in this order.
      Key("TIM:BYCOMPDUTYDOTHERCODEEMPCARDPDATEPTIME", kDuplicates,
          {kCompany, kEmpCard, kOtherCode, kDutyDate, kPunchDate, kPunchTime}, "By Other Code",
          "ByCompDutydPaytypeEmpcardPdatePtime"),
      Key("TIM:BYCOMPEMPCARDJOBCODEDUTYDPDATEPTIME", kDuplicates,
          {kCompany, kEmpCard, kJobNo, kDutyDate, kPunchDate, kPunchTime}, "By Job",
          "ByCompEmpcardJobcodeDutydPdatePtime"),
  };
}

const SchemaFile& Timecard() {
  static const SchemaFile file("Timecard", "TIM", "data\\Timecard.DAT", TimecardFields(),
                               TimecardKeys(), 0x14);
  return file;
}

const SchemaFile& AliasTimeCard() {
  static const SchemaFile file("AliasTimeCard", "ATIM", "data\\Timecard.DAT",
                               WithPrefix(TimecardFields(), "ATIM"),
                               WithPrefix(TimecardKeys(), "ATIM"), 0x14);
  return file;
}

// --- Punch history -----------------------------------------------------------

const SchemaFile& HTimecard() {
  using namespace htim;
  static const SchemaFile file(
      "HTimecard", "HTIM", "data\\HTimecard.DAT",
      {
          Long("HTIM:COMPANY"),
          Long("HTIM:DUTYDATE"),
          Long("HTIM:PUNCH_TIME"),
          Dec("HTIM:EMP_CARD", 7, 0),
          Long("HTIM:PUNCHLOC"),
          Text("HTIM:PUNCHTYPE", 1),
          Dec("HTIM:PUNCH_TIME_DEC", 5, 2),
          Text("HTIM:ORIGIN", 12),
          Long("HTIM:PUNCHDATE"),
      },
      {
          Key("HTIM:KEYDATECARDTIME", kDuplicates, {kDutyDate, kEmpCard, kPunchTime},
              "HTIM:KeyDateCardTime"),
          Key("HTIM:KEYLOCATIONDATECARDTIME", kDuplicates,
              {kPunchLoc, kDutyDate, kEmpCard, kPunchTime}, "HTIM:KeyLocationDateCardTime"),
          Key("HTIM:KEYCOMPCARDDATETIME", kDuplicates, {kCompany, kEmpCard, kDutyDate, kPunchTime},
              "HTIM:KeyCompCardDateTime"),
          Key("HTIM:BYCOMPDDATECARDPDATEPTYPE", kDuplicates,
              {kCompany, kDutyDate, kEmpCard, kPunchDate, kPunchType}, "By Card"),
      },
      0x14);
  return file;
}

// --- Other-hours transactions and their history ------------------------------

std::vector<rt::FieldDeclaration> OtherHrsTrxFields() {
  return {
      Long("OHT:COMPANY"),
      Dec("OHT:CARDNO", 7, 0),
      Text("OHT:CODE", 4),
      Text("OHT:PARENTCODE", 4),
      Long("OHT:DATE"),
      Dec("OHT:HOURS", 7, 2),
      Text("OHT:ORIGIN", 12),
      CText("OHT:JOBNO", 7),
  };
}

const SchemaFile& OtherHrsTrx() {
  using namespace oht;
  static const SchemaFile file(
      "OtherHrsTrx", "OHT", "data\\OtherHrsTrx.DAT", OtherHrsTrxFields(),
      {
          Key("OHT:KEYCOMPCARDDATECODE", kUnique, {kCompany, kCardNo, kDate, kCode},
              "OHT:KeyCompCardDateCode"),
          Key("OHT:KEYCOMPDATECODECARD", kUnique, {kCompany, kDate, kCode, kCardNo},
              "OHT:KeyCompDateCodeCard"),
          Key("OHT:BYCOMPDATECARD", kDuplicates, {kCompany, kDate, kCardNo}, "By Date"),
          Key("OHT:BYCOMPCODECARDDATE", kUnique, {kCompany, kCode, kCardNo, kDate}, "By Code"),
          Key("OHT:BYCOMPCARDCODEDATE", kUnique, {kCompany, kCardNo, kCode, kDate},
              "OHT:ByCompCardCodeDate"),
          Key("OHT:BYCOMPCARD", kDuplicates, {kCompany, kCardNo}, "By Employee Card"),
          Key("OHT:BYCOMPCARDPARENT", kDuplicates, {kCompany, kCardNo, kParentCode},
              "OHT:ByCompCardParent"),
          Key("OHT:BYCOMPCARDDATEPARENT", kDuplicates, {kCompany, kCardNo, kDate, kParentCode},
              "OHT:ByCompCardDateParent"),
          Key("OHT:BYCOMPCARDPARENTDATE", kDuplicates, {kCompany, kCardNo, kParentCode, kDate},
              "OHT:ByCompCardParentDate"),
      },
      0x1c);
  return file;
}

// Same records as OtherHrsTrx; none of its keys is unique.
const SchemaFile& HOtherTrx() {
  using namespace oht;
  static const SchemaFile file(
      "HOtherTrx", "HOHT", "data\\HOtherTrx.DAT", WithPrefix(OtherHrsTrxFields(), "HOHT"),
      {
          Key("HOHT:KEYCOMPCARDDATECODE", kDuplicates, {kCompany, kCardNo, kDate, kCode},
              "HOHT:KeyCompCardDateCode"),
          Key("HOHT:KEYCOMPCARD", kDuplicates, {kCompany, kCardNo}, "HOHT:KeyCompCard"),
          Key("HOHT:KEYDATECODECARD", kDuplicates, {kDate, kCode, kCardNo}, "HOHT:KeyDateCodeCard"),
          Key("HOHT:BYDATECARD", kDuplicates, {kDate, kCardNo}, "By Date"),
          Key("HOHT:BYCOMPCARDPARENT", kDuplicates, {kCompany, kCardNo, kParentCode},
              "HOHT:ByCompCardParent"),
          Key("HOHT:BYCOMPCARDDATEPARENT", kDuplicates, {kCompany, kCardNo, kDate, kParentCode},
              "HOHT:ByCompCardDateParent"),
          Key("HOHT:BYCOMPCARDPARENTDATE", kDuplicates, {kCompany, kCardNo, kParentCode, kDate},
              "HOHT:ByCompCardParentDate"),
      },
      0x14);
  return file;
}

// --- Hours of service --------------------------------------------------------

// Eight dated entries per employee card.
const SchemaFile& HOS() {
  using namespace hos;
  static const SchemaFile file(
      "HOS", "HOS", "data\\HOS.DAT",
      {
          Long("HOS:COMPANY"),
          Dec("HOS:EMP_CARD", 7, 0),
          Array(Long("HOS:DATE"), 8),
          Array(Long("HOS:TIME"), 8),
          Array(Dec("HOS:HRS", 5, 2), 8),
          Array(Dec("HOS:OFFHRS", 5, 2), 8),
      },
      {Key("HOS:BYCOMPCARD", kDuplicates, {kCompany, kEmpCard}, "By Card")},
      0x1c);
  return file;
}

// --- Employees and their code files ------------------------------------------

const SchemaFile& Employee() {
  using namespace emp;
  static const SchemaFile file(
      "Employee", "EMP", "data\\Employee.DAT",
      {
          Long("EMP:COMPANY"),
          Text("EMP:LASTNAME", 20),
          Text("EMP:FIRSTNAME", 20),
          Text("EMP:MIDDLEINITIAL", 1),
          CText("EMP:STREET", 41),
          CText("EMP:CITY", 31),
          CText("EMP:STATE", 3),
          CText("EMP:ZIPCOPE", 11),  // the column name the disk files carry
          Dec("EMP:CARDNO", 7, 0),
          CText("EMP:DEPT", 7),
          CText("EMP:PAYTYPE", 5),
          Dec("EMP:SSNO", 9, 0),
          Text("EMP:MARITALSTATUS", 1),
          Date("EMP:BIRTHDAY"),
          Date("EMP:HIREDATE"),
          Date("EMP:RAISEDATE"),
          Date("EMP:REVIEWDATE"),
          Date("EMP:TERMINATEDDATE"),
          CText("EMP:PHONE1", 21),
          CText("EMP:PHONE2", 21),
          CText("EMP:PHONE3", 21),
          Dec("EMP:REGRATE", 7, 2),
          Dec("EMP:OTRATE", 7, 2),
          Dec("EMP:DTRATE", 7, 2),
          Dec("EMP:HOLIDAYRATE", 7, 2),
          Dec("EMP:YTDREGULARHRS", 7, 2),
          Dec("EMP:YTDOVERTIMEHRS", 7, 2),
          Dec("EMP:TOTALLEAVEHRS", 7, 2),
          Dec("EMP:YTDLEAVEHRSUSED", 7, 2),
          Dec("EMP:YTDHOLIDAY", 7, 2),
          Dec("EMP:TOTALSICKALLOWED", 7, 2),
          Dec("EMP:SICKHOURSTAKEN", 7, 2),
          Long("EMP:FMLASTARTDATE"),
          Long("EMP:FMLAENDDATE"),
          Dec("EMP:FMLAHRS", 7, 2),
          Dec("EMP:FMLAUSED", 7, 2),
          Dec("EMP:MISCHRS", 7, 2),
          Text("EMP:PAIDHOLIDAYHRS", 1),
          Text("EMP:SCHEDULECODE", 4),
          Dec("EMP:SCHEDULELEVEL", 3, 0),
          Long("EMP:LASTPAYROLLDATE"),
          Text("EMP:ACTIVEINACTIVE", 1),
          Long("EMP:LOCATION"),
          Text("EMP:NAME", 46),
          CText("EMP:EMPLOYEENO", 21),
          Long("EMP:LASTWORKDATE"),
          Long("EMP:LASTCLOCKOUT"),
          Byte("EMP:USEHOS"),
          Byte("EMP:HOSEXCEPTIONTAKEN"),
          CText("EMP:JOBNO", 7),
          Array(CText("EMP:COLUMNLABEL", 21), 10),
          Array(CText("EMP:COLUMNDATA", 61), 10),
      },
      {
          Key("EMP:KEYCOMPLASTNAME", kDuplicates, {kCompany, kLastName}, "EMP:KeyCompLastname"),
          Key("EMP:BYCOMPANYDEPTNAME", kDuplicates, {kCompany, kDept, kName}, "By Department"),
          Key("EMP:KEYCOMPFIRSTNAME", kDuplicates, {kCompany, kFirstName}, "EMP:KeyCompFirstname"),
          Key("EMP:BYCOMPCARD", kUnique, {kCompany, kCardNo}, "By Card"),
          Key("EMP:KEYCOMPDEPT", kDuplicates, {kCompany, kDept}, "EMP:KeyCompDept"),
          Key("EMP:KEYCOMPPAYTYPE", kDuplicates, {kCompany, kPayType}, "EMP:KeyCompPaytype"),
          Key("EMP:BYCOMPNAME", kDuplicates, {kCompany, kName}, "By Name"),
          Key("EMP:BYCOMPEMPNO", kUnique, {kCompany, kEmployeeNo}, "By Employee Number"),
          Key("EMP:BYCOMPNOJOB", kDuplicates, {kCompany, kJobNo}, "By Job", "ByCompnoJob"),
      },
      0x1c);
  return file;
}

const SchemaFile& EmpMisPC() {
  using namespace empc;
  static const SchemaFile file(
      "EmpMisPC", "EMPC", "data\\EmpMisPC.DAT",
      {
          Long("EMPC:COMPANY"),
          Dec("EMPC:CARDNO", 7, 0),
          Text("EMPC:CODE", 15),
      },
      {
          Key("EMPC:BYCOMPCARD", kUnique, {kCompany, kCardNo}, "By Card"),
          Key("EMPC:BYCOMPCODE", kDuplicates, {kCompany, kCode}, "By Code"),
      },
      0x1c);
  return file;
}

const SchemaFile& PayType() {
  using namespace pay;
  static const SchemaFile file(
      "PayType", "PAY", "data\\PayType.DAT",
      {
          Long("PAY:COMPANY"),
          CText("PAY:CODE", 5),
          Text("PAY:DESCRIPTION", 15),
          Byte("PAY:PAYAS"),
          Byte("PAY:MONITOR"),
      },
      {Key("PAY:BYCOMPCODE", kUnique, {kCompany, kCode}, "By Code")},
      0x1c);
  return file;
}

const SchemaFile& Dept() {
  using namespace dep;
  static const SchemaFile file(
      "Dept", "DEP", "data\\Dept.DAT",
      {
          Long("DEP:COMPANY"),
          CText("DEP:DEPT", 7),
          Text("DEP:DESCRIPTION", 30),
          Dec("DEP:TYPICALDUTYHRS", 5, 2),
          Dec("DEP:MAXDUTYHOURSPERDAY", 5, 2),
          Dec("DEP:MINDUTYHOURSOFF", 5, 2),
          Dec("DEP:MAXLUNCHTIME", 5, 2),
          Dec("DEP:MAXDINNERTIME", 5, 2),
          Dec("DEP:MAXBREAKTIME", 5, 2),
          Byte("DEP:HOSPERIODS"),
          Dec("DEP:HOSHOURS", 5, 2),
          Dec("DEP:HOSCYCLERESET", 5, 2),
          Dec("DEP:HOSEXCEPTIONHOURS", 5, 2),
          Text("DEP:REG_MISCCODE", 4),
          Text("DEP:OT_MISCCODE", 4),
          Text("DEP:DT_MISCCODE", 4),
          CText("DEP:JOBNO", 7),
      },
      {Key("DEP:BYCOMPDEPARTMENT", kUnique, {kCompany, kDept}, "By Department")},
      0x1c);
  return file;
}

// Annualized balances for each employee card. The disk name is shorter than the label.
const SchemaFile& EmpAnnualized() {
  using namespace empa;
  static const SchemaFile file(
      "EmpAnnualized", "EMPA", "data\\EmpAnnual.DAT",
      {
          Long("EMPA:COMPANY"),
          Dec("EMPA:CARDNO", 7, 0),
          CText("EMPA:EMPLOYEENO", 21),
          Text("EMPA:IMPORTCODE", 10),
          Text("EMPA:PARENTCODE", 4),
          CText("EMPA:DESCRIPTION", 21),
          Date("EMPA:ANIVERSARYDATE"),
          Dec("EMPA:CTK_HOURSREMAINING", 9, 4),
          Dec("EMPA:PR_HOURSAVAILABLE", 9, 4),
          Dec("EMPA:ALLOWABLEDIFFERENCE", 5, 2),
          Date("EMPA:LASTMODIFIEDDATE"),
      },
      {Key("EMPA:BYCOMPCARDPARENT", kUnique, {kCompany, kCardNo, kParentCode}, "By Card",
           "ByCompCardParent")},
      0x14);
  return file;
}

// Every declared file, in registration order; AllFiles and KeyDescription walk it.
using SchemaFileAccessor = const SchemaFile& (*)();
constexpr std::array<SchemaFileAccessor, 11> kRegistrationOrder = {
    Timecard, EmpAnnualized, Dept,        Employee, HOtherTrx,     PayType,
    EmpMisPC, HTimecard,     OtherHrsTrx, HOS,      AliasTimeCard,
};

}  // namespace

const rt::FileDeclaration& TimecardFile() { return Timecard().Declaration(); }
const rt::FileDeclaration& AliasTimeCardFile() { return AliasTimeCard().Declaration(); }
const rt::FileDeclaration& HTimecardFile() { return HTimecard().Declaration(); }
const rt::FileDeclaration& OtherHrsTrxFile() { return OtherHrsTrx().Declaration(); }
const rt::FileDeclaration& HOtherTrxFile() { return HOtherTrx().Declaration(); }
const rt::FileDeclaration& HOSFile() { return HOS().Declaration(); }
const rt::FileDeclaration& EmployeeFile() { return Employee().Declaration(); }
const rt::FileDeclaration& EmpMisPCFile() { return EmpMisPC().Declaration(); }
const rt::FileDeclaration& PayTypeFile() { return PayType().Declaration(); }
const rt::FileDeclaration& DeptFile() { return Dept().Declaration(); }
const rt::FileDeclaration& EmpAnnualizedFile() { return EmpAnnualized().Declaration(); }

std::span<const rt::FileDeclaration* const> AllFiles() {
  static const auto files = [] {
    std::array<const rt::FileDeclaration*, kRegistrationOrder.size()> result{};
    for (std::size_t i = 0; i < result.size(); ++i)
      result[i] = &kRegistrationOrder[i]().Declaration();
    return result;
  }();
  return files;
}

std::string_view KeyDescription(const rt::FileDeclaration& file, int keyNumber) {
  for (auto accessor : kRegistrationOrder) {
    const SchemaFile& schemaFile = accessor();
    if (&schemaFile.Declaration() == &file) return schemaFile.Description(keyNumber);
  }
  return {};
}

}  // namespace app
