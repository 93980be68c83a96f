// One data file as CSV: a header row of field labels (without the prefix;
// array elements as LABEL(1), LABEL(2), ...), then one row per record in
// record order. Export writes exactly what import reads back into the same
// bytes. Dates are MM/DD/YYYY (empty for no date) and clock times
// HH:MM:SS.hh, in the date fields and in the long fields that hold day
// numbers (label ending in DATE) or times (label ending in TIME); a value no
// date or time can show stays a number, and import reads plain numbers there
// too, as files exported before took them. Decimals are exact; text loses
// only the blanks that pad it (a ctext keeps its trailing blanks); UTF-8.
// Cells holding a comma, a quote, a line break or blanks at either end are
// quoted, quotes doubled.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace rt {
class File;
}

namespace veltrane_data {

class ProgressLine;

// Takes the record in the file's buffer for export or not; an empty filter
// takes every record.
using RecordFilter = std::function<bool(rt::File&)>;

// Writes the records of `file` (open) that `keep` takes to `out`, in record
// order, and shows on `progress` how many were read. Returns the count
// written, or -1 with `error` on a read or write failure.
std::int64_t ExportCsv(rt::File& file, std::ostream& out, const RecordFilter& keep,
                       ProgressLine& progress, std::string& error);

// A row that cannot be imported: its line in the CSV text and why.
struct CsvProblem {
  int Line = 0;
  std::string Text;
};

// Rows identical in every field to records the file holds already.
struct CsvDuplicates {
  std::int64_t Rows = 0;
  int FirstLine = 0;
};

// Checks every row of the CSV text first, a row at a time, keeping only the
// records the rows make (not the text); when every row is valid, adds all
// records to `file` (open for writing) in one transaction. When any row is bad, or an
// add fails, nothing is imported and `problems` lists them. Unless
// `allowDuplicates`, nothing is imported either when rows are identical in
// every field to records in the file (a second import of the same copy);
// `duplicates` then counts them. Shows on `progress` how far the checks and
// the adds have come. Returns the count of records imported.
long ImportCsv(rt::File& file, std::istream& in, bool allowDuplicates, ProgressLine& progress,
               std::vector<CsvProblem>& problems, CsvDuplicates& duplicates);

}  // namespace veltrane_data
