// CSV import (veltrane-data import) into a small file with a field of every
// kind. Input: CSV text, whose header row names the file's columns:
//   COMPANY,DUTYDATE,CARD,PUNCH_TIME,ORIGIN,HOURS,AMOUNT,JOB,HIREDATE,SHIFT,
//   CODES(1),CODES(2),CODES(3)
//
// Promises: all or nothing: an import with any problem adds no record, and
// one without adds every row; what was imported exports as CSV that imports
// into the same records and exports as the same text again.
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/error_state.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/sample_file.h"
#include "tools/veltrane-data/csv_table.h"
#include "tools/veltrane-data/progress_line.h"

namespace {

// Made on first use, after the runtime's own statics, so it goes (closing the
// file and removing its folder) before them at exit.
fuzz::SampleFile& Sample() {
  static fuzz::SampleFile sample;
  return sample;
}

using Records = std::vector<std::vector<std::uint8_t>>;

long Import(std::string_view csv, std::vector<veltrane_data::CsvProblem>& problems) {
  std::istringstream in{std::string(csv)};
  veltrane_data::ProgressLine progress(stderr, false);
  veltrane_data::CsvDuplicates duplicates;  // none: every input goes into an empty file
  return veltrane_data::ImportCsv(Sample().File(), in, false, progress, problems, duplicates);
}

std::string Export(std::string_view input) {
  std::ostringstream out;
  veltrane_data::ProgressLine progress(stderr, false);
  std::string error;
  if (veltrane_data::ExportCsv(Sample().File(), out, {}, progress, error) < 0)
    fuzz::Broken("imported records export", std::string(input) + " -> " + error);
  return out.str();
}

// Every record in record order, as the bytes of its buffer.
Records Read(rt::File& file) {
  Records records;
  rt::FileSetKey(file, 0);
  for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file))
    records.emplace_back(file.Buffer(), file.Buffer() + file.RecordLength());
  return records;
}

void Empty(rt::File& file, std::string_view input) {
  rt::TxBegin(5, file);
  rt::FileSetKey(file, 0);
  for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file)) rt::FileDelete(file);
  rt::TxCommit();
  if (rt::ErrorCode() != 0 || rt::FileRecords(file) != 0)
    fuzz::Broken("the sample file can be emptied",
                 std::string(input) + " -> " + rt::FileErrorText());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Sample();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::Text(data, size);
  rt::File& file = Sample().File();
  std::vector<veltrane_data::CsvProblem> problems;
  const long imported = Import(input, problems);
  const std::int64_t stored = rt::FileRecords(file);
  if (!problems.empty()) {
    if (imported != 0 || stored != 0) fuzz::Broken("an import with a problem adds nothing", input);
    return 0;
  }
  if (stored != imported) fuzz::Broken("an import without problems adds every row", input);
  if (imported == 0) return 0;

  const std::string exported = Export(input);
  const Records records = Read(file);
  Empty(file, input);
  if (Import(exported, problems) != imported || !problems.empty())
    fuzz::Broken("an export imports whole",
                 exported + " -> " + (problems.empty() ? "" : problems.front().Text));
  if (Read(file) != records) fuzz::Broken("an export imports into the same records", exported);
  if (Export(input) != exported) fuzz::Broken("an export imported exports the same", exported);
  Empty(file, input);
  return 0;
}
