// The dictionary's file managers: a class derived from the framework's
// FileManager for each data file, carrying what is particular to the file.
//
//   every file     Setup     binds the thread's file, its record buffer, the
//                            global error manager and the label as the name;
//                            AliasTimeCard also the manager of Timecard
//                  UseFile   first use: Init, Create 1, LockRecover 10, and
//                            every key in key order under its description
//                            (app::KeyDescription), none auto-numbered
//                  Kill      the framework's kill, then the reference cleared
//   Timecard       primes TIM:PUNCHTYPE "I";   TIM:PUNCHTYPE (7) in I, O, ?
//   HTimecard      primes HTIM:PUNCHTYPE "*";  HTIM:PUNCHTYPE (6) in I, O, ?
//                  (so a primed history punch fails until its type is set)
//   PayType        primes PAY:MONITOR 0;       PAY:PAYAS (4) in 0, 1, 2, 3
//   Dept                                       DEP:HOSPERIODS (10) in 0, 7, 8
//   Employee       primes EMP:SCHEDULECODE "REG", EMP:SCHEDULELEVEL 1
//
// A field outside its list fails with LevelNotify; the reporting check shows
// message 19 ("The value of %Field must be in the list : %Message.") with the
// rule's field name and list text. Any other field gets the framework's result.
//
// Threading: a manager belongs to the thread whose dictionary made it.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "access/file_manager.h"
#include "runtime/files/file_declaration.h"

namespace app {

// The allowed values of one field.
struct FieldListRule {
  int Field = 0;               // 1-based field number
  std::string_view FieldName;  // %Field of message 19
  std::string_view Allowed;    // the values, each written "]value["
  std::string_view ListText;   // %Message of message 19
};

class DictionaryFileManager : public dataaccess::FileManager {
 public:
  // `file` is the file served; `aliasOf` the file it is a second declaration
  // of (Timecard for AliasTimeCard), null otherwise. Both are static data.
  explicit DictionaryFileManager(const rt::FileDeclaration& file,
                                 const rt::FileDeclaration* aliasOf = nullptr);

  const rt::FileDeclaration& Declaration() const { return file_; }

  void Setup() override;
  void Kill() override;
  int UseFile(std::uint8_t useType) override;

 protected:
  // The framework's check, then the rule for its field.
  int CheckFieldAgainst(const FieldListRule& rule, int field, std::uint8_t report);

 private:
  const rt::FileDeclaration& file_;
  const rt::FileDeclaration* aliasOf_;
};

class TimecardFileManager final : public DictionaryFileManager {
 public:
  TimecardFileManager();
  void PrimeFields() override;
  int CheckField(int field, std::uint8_t report) override;
};

class HTimecardFileManager final : public DictionaryFileManager {
 public:
  HTimecardFileManager();
  void PrimeFields() override;
  int CheckField(int field, std::uint8_t report) override;
};

class PayTypeFileManager final : public DictionaryFileManager {
 public:
  PayTypeFileManager();
  void PrimeFields() override;
  int CheckField(int field, std::uint8_t report) override;
};

class DeptFileManager final : public DictionaryFileManager {
 public:
  DeptFileManager();
  int CheckField(int field, std::uint8_t report) override;
};

class EmployeeFileManager final : public DictionaryFileManager {
 public:
  EmployeeFileManager();
  void PrimeFields() override;
};

// The manager class of one of the eleven files; null for any other file.
std::unique_ptr<DictionaryFileManager> MakeFileManager(const rt::FileDeclaration& file);

}  // namespace app
