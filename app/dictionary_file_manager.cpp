#include "app/dictionary_file_manager.h"

#include <string>

#include "app/dictionary.h"
#include "app/globals.h"
#include "app/schema.h"
#include "errors/default_errors.h"
#include "errors/error_manager.h"
#include "errors/level.h"
#include "runtime/files/file.h"

namespace app {
namespace {

constexpr std::string_view kPunchTypes = "]I[]O[]?[";
constexpr std::string_view kPunchTypeList = "'IN','OUT','?'";

constexpr FieldListRule kTimecardRule{tim::kPunchType, "TIM:PunchType", kPunchTypes,
                                      kPunchTypeList};
constexpr FieldListRule kHTimecardRule{htim::kPunchType, "HTIM:PunchType", kPunchTypes,
                                       kPunchTypeList};
constexpr FieldListRule kPayTypeRule{pay::kPayAs, "0=None, 1=Salary, 2=Full-Time, 3=Part-Time",
                                     "]0[]1[]2[]3[", "'None','Salary','Full Time','Part Time'"};
constexpr FieldListRule kDeptRule{dep::kHosPeriods, "Hours-Of-Service Periods", "]0[]7[]8[",
                                  "'NA','7','8'"};

}  // namespace

DictionaryFileManager::DictionaryFileManager(const rt::FileDeclaration& file,
                                             const rt::FileDeclaration* aliasOf)
    : file_(file), aliasOf_(aliasOf) {}

void DictionaryFileManager::Setup() {
  Initialized = 0;
  // The aliased file's manager is already set up: Timecard comes first.
  FileManager* aliased = aliasOf_ ? FileManagerOf(*aliasOf_) : nullptr;
  BindFile(rt::FileOf(file_), *GlobalErrors(), aliased);
  FileManager::Setup();
  SetFileManagerReference(file_, this);
}

void DictionaryFileManager::Kill() {
  FileManager::Kill();
  if (FileManagerOf(file_) == this) SetFileManagerReference(file_, nullptr);
}

int DictionaryFileManager::UseFile(std::uint8_t useType) {
  return UseFileWith(useType, [this] {
    for (int key = 1; key <= file_.KeyCount(); ++key) AddKey(KeyDescription(file_, key), key, 0);
  });
}

int DictionaryFileManager::CheckFieldAgainst(const FieldListRule& rule, int field,
                                             std::uint8_t report) {
  int level = FileManager::CheckField(field, report);
  if (field != rule.Field) return level;
  Errors->SetFieldName(rule.FieldName);
  // Text loses its trailing blanks and numbers are written in decimal, so a
  // blank punch type searches for "][", which no list holds.
  // Appended rather than "]" + text: GCC 12 at -O2 takes that for an overlapping copy.
  std::string value = "]";
  value += File->Field(field).ToText();
  value += '[';
  if (rule.Allowed.find(value) == std::string_view::npos) level = errors::LevelNotify;
  if (level != errors::LevelBenign && report)
    return Errors->RaiseWithText(errors::ErrFieldNotInList, rule.ListText);
  return level;
}

TimecardFileManager::TimecardFileManager() : DictionaryFileManager(TimecardFile()) {}

void TimecardFileManager::PrimeFields() {
  File->Field(tim::kPunchType).SetString("I");
  DictionaryFileManager::PrimeFields();
}

int TimecardFileManager::CheckField(int field, std::uint8_t report) {
  return CheckFieldAgainst(kTimecardRule, field, report);
}

HTimecardFileManager::HTimecardFileManager() : DictionaryFileManager(HTimecardFile()) {}

void HTimecardFileManager::PrimeFields() {
  File->Field(htim::kPunchType).SetString("*");
  DictionaryFileManager::PrimeFields();
}

int HTimecardFileManager::CheckField(int field, std::uint8_t report) {
  return CheckFieldAgainst(kHTimecardRule, field, report);
}

PayTypeFileManager::PayTypeFileManager() : DictionaryFileManager(PayTypeFile()) {}

void PayTypeFileManager::PrimeFields() {
  File->Field(pay::kMonitor).SetInt(0);
  DictionaryFileManager::PrimeFields();
}

int PayTypeFileManager::CheckField(int field, std::uint8_t report) {
  return CheckFieldAgainst(kPayTypeRule, field, report);
}

DeptFileManager::DeptFileManager() : DictionaryFileManager(DeptFile()) {}

int DeptFileManager::CheckField(int field, std::uint8_t report) {
  return CheckFieldAgainst(kDeptRule, field, report);
}

EmployeeFileManager::EmployeeFileManager() : DictionaryFileManager(EmployeeFile()) {}

void EmployeeFileManager::PrimeFields() {
  File->Field(emp::kScheduleCode).SetString("REG");
  File->Field(emp::kScheduleLevel).SetInt(1);
  DictionaryFileManager::PrimeFields();
}

std::unique_ptr<DictionaryFileManager> MakeFileManager(const rt::FileDeclaration& file) {
  if (&file == &TimecardFile()) return std::make_unique<TimecardFileManager>();
  if (&file == &HTimecardFile()) return std::make_unique<HTimecardFileManager>();
  if (&file == &PayTypeFile()) return std::make_unique<PayTypeFileManager>();
  if (&file == &DeptFile()) return std::make_unique<DeptFileManager>();
  if (&file == &EmployeeFile()) return std::make_unique<EmployeeFileManager>();
  if (&file == &AliasTimeCardFile())
    return std::make_unique<DictionaryFileManager>(file, &TimecardFile());
  for (const auto* known : AllFiles())
    if (known == &file) return std::make_unique<DictionaryFileManager>(file);
  return nullptr;
}

}  // namespace app
