// A small data file with a field of every kind the schema uses, for the fuzz
// targets that go through the KEYED driver: numbers, a day number and a clock
// time in long fields, decimals stored as REAL and as counted units, text,
// ctext, a date, a short and a byte array, under a unique and two duplicate
// keys (one ignoring case).
//
// The file lives in a fresh folder under /dev/shm when there is one, so the
// commits' syncs cost nothing and a long run does not wear the disk; it is
// removed when the target ends normally.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_declaration.h"
#include "runtime/files/file_operations.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/declarations.h"
#include "tests/support/temp_folder.h"

namespace fuzz {

// Field numbers of the sample file.
enum SampleField {
  kCompany = 1, kDutyDate, kCard, kPunchTime, kOrigin, kHours, kAmount, kJob, kHireDate, kShift,
  kCodes
};

class SampleFile {
 public:
  SampleFile() {
    if (std::filesystem::is_directory("/dev/shm")) ::setenv("TMPDIR", "/dev/shm", 1);
    folder_ = std::make_unique<TempFolder>("veltrane-fuzz");
    if (folder_->Path().empty()) Broken("a fresh folder can be made", "");
    auto field = [](rt::FieldType type, const char* name, int size = 0, int places = 0) {
      return FieldDecl(type, "SMP", name, size, places);
    };
    auto codes = field(rt::FieldType::Byte, "CODES");
    codes.Dimensions = {3};
    std::vector<rt::FieldDeclaration> fields = {
        field(rt::FieldType::Long, "COMPANY"),        field(rt::FieldType::Long, "DUTYDATE"),
        field(rt::FieldType::Decimal, "CARD", 4, 0),  field(rt::FieldType::Long, "PUNCH_TIME"),
        field(rt::FieldType::Text, "ORIGIN", 12),     field(rt::FieldType::Decimal, "HOURS", 3, 2),
        field(rt::FieldType::Decimal, "AMOUNT", 9, 2), field(rt::FieldType::CText, "JOB", 7),
        field(rt::FieldType::Date, "HIREDATE"),       field(rt::FieldType::Short, "SHIFT"),
        codes};
    std::vector<rt::KeyDeclaration> keys = {
        KeyDecl("SMP", "KEYCOMPDATE", rt::kKeyBase | rt::kKeyDuplicates,
                {kCompany, kDutyDate, kCard, kPunchTime}),
        KeyDecl("SMP", "KEYCARDTIME", rt::kKeyBase, {kCard, kPunchTime}),
        KeyDecl("SMP", "KEYORIGIN", rt::kKeyBase | rt::kKeyDuplicates | rt::kKeyNoCase, {kOrigin})};
    decl_ = std::make_unique<rt::FileDeclaration>("KEYED", "Sample", "SMP",
                                                  (folder_->Path() / "Sample.DAT").string(),
                                                  fields, keys, 0);
    file_ = std::make_unique<rt::File>(*decl_);
    rt::FileCreate(*file_);
    if (rt::ErrorCode() == 0) rt::FileOpen(*file_);
    if (rt::ErrorCode() != 0) Broken("the sample file can be made and opened", rt::FileErrorText());
  }
  rt::File& File() { return *file_; }

 private:
  // Destroyed in reverse: the file closes before its folder goes.
  std::unique_ptr<TempFolder> folder_;
  std::unique_ptr<rt::FileDeclaration> decl_;
  std::unique_ptr<rt::File> file_;
};

}  // namespace fuzz
