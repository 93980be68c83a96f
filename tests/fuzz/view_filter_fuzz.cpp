// View order and filter texts, read through a real view of a small file.
// Input: an order text on the first line and a filter text after it
// ("-CARD\nHOURS >= 7.5 AND NOT UPPER(ORIGIN) = 'web'"); without a line break
// the whole input is the filter.
//
// Promises: a text that does not parse is refused with the filter-syntax
// code; one that parses reads the file without any other error; and the
// records of NOT (filter) are exactly the ones the filter leaves out.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/core/decimal.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/sample_file.h"

namespace {

// Made on first use, after the runtime's own statics, so it goes (closing the
// file and removing its folder) before them at exit.
fuzz::SampleFile& Sample() {
  static fuzz::SampleFile sample;
  return sample;
}
int sampleRecords = 0;

struct Row {
  int Company, DutyDate, Card, PunchTime;
  const char* Origin;
  const char* Hours;
  const char* Amount;
  const char* Job;
  int HireDate, Shift;
};

// Values on both sides of the usual comparisons: zero and negatives, case and
// Latin-1 letters, decimals with and without places, blank and full texts.
const Row kRows[] = {
    {1, 80000, 17, 360000, "CLOCK", "8.25", "1234567.89", "J1", 80000, 0},
    {1, 80001, 17, 720050, "clock", "-0.5", "-0.01", "", 0, -3},
    {2, 0, 0, 0, "", "0", "0", "J\xe9", 4, 32767},
    {-7, 2994626, 9999999, 8639999, "WEB ENTRY", "999.99", "999999999999999.99", "ABCDEF", 2994626,
     -32768},
    {3, 81234, 42, 100, "\xc9t\xe9", "1.5", "1.5", "x'y\"z", 81000, 1},
    {3, 81234, 43, 100, "'quoted'", "7.5", "100", "7.5", 81000, 2},
};

void AddRows(rt::File& file) {
  rt::TxBegin(5, file);
  for (const Row& row : kRows) {
    rt::FileClear(file);
    file.Field(fuzz::kCompany).SetInt(row.Company);
    file.Field(fuzz::kDutyDate).SetInt(row.DutyDate);
    file.Field(fuzz::kCard).SetInt(row.Card);
    file.Field(fuzz::kPunchTime).SetInt(row.PunchTime);
    file.Field(fuzz::kOrigin).SetString(row.Origin);
    file.Field(fuzz::kHours).SetDecimal(*rt::Decimal::Parse(row.Hours));
    file.Field(fuzz::kAmount).SetDecimal(*rt::Decimal::Parse(row.Amount));
    file.Field(fuzz::kJob).SetString(row.Job);
    file.Field(fuzz::kHireDate).SetInt(row.HireDate);
    file.Field(fuzz::kShift).SetInt(row.Shift);
    file.Field(fuzz::kCodes, 1).SetInt(row.Card % 256);
    rt::FileAdd(file);
    if (rt::ErrorCode() != 0) fuzz::Broken("the sample rows can be added", rt::FileErrorText());
    ++sampleRecords;
  }
  rt::TxCommit();
}

// Records the view reads under `order` and `filter`; -1 when the filter does
// not parse.
int Count(std::string_view order, std::string_view filter, std::string_view input) {
  rt::View view(Sample().File());
  rt::ViewSetProperty(view, rt::kPropOrder, order);
  if (rt::ErrorCode() != 0 && rt::ErrorCode() != rt::kFilterSyntax)
    fuzz::Broken("an order that does not parse is refused as filter syntax", input);
  rt::ViewSetProperty(view, rt::kPropFilter, filter);
  if (rt::ErrorCode() == rt::kFilterSyntax) return -1;
  if (rt::ErrorCode() != 0)
    fuzz::Broken("a filter that does not parse is refused as filter syntax", input);
  rt::FileOpen(view);
  rt::ViewSetStart(view, 0);
  int count = 0;
  for (rt::FileNext(view); rt::ErrorCode() == 0; rt::FileNext(view)) ++count;
  if (rt::ErrorCode() != rt::kRecordNotAvailable)
    fuzz::Broken("a view whose texts parse reads to the end",
                 std::string(input) + " -> " + rt::ErrorText() + ": " + rt::FileErrorText());
  if (count > sampleRecords) fuzz::Broken("a view reads no record twice", input);
  return count;
}

bool SameTree(const rt::FilterNode* a, const rt::FilterNode* b) {
  if (!a || !b) return a == b;
  if (a->Kind != b->Kind || a->Op != b->Op || a->Field != b->Field || a->Text != b->Text ||
      a->Number.Units != b->Number.Units || a->Number.Places != b->Number.Places ||
      a->Children.size() != b->Children.size())
    return false;
  for (std::size_t i = 0; i < a->Children.size(); ++i)
    if (!SameTree(a->Children[i].get(), b->Children[i].get())) return false;
  return true;
}

// Whether "NOT (filter)" parses as the negation of filter's own tree (it does
// not when the filter closes a parenthesis it did not open: "A=1) OR (B=2").
bool NegationParses(std::string_view filter, const std::string& negated) {
  std::unique_ptr<rt::FilterNode> plain, negation;
  std::string error;
  const auto& decl = Sample().File().Declaration();
  if (rt::ParseFilter(filter, decl, plain, error) != 0 || !plain) return false;
  if (rt::ParseFilter(negated, decl, negation, error) != 0 || !negation) return false;
  return negation->Kind == rt::FilterKind::Not &&
         SameTree(negation->Children.at(0).get(), plain.get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  AddRows(Sample().File());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::Text(data, size);
  std::string_view order, filter = input;
  if (const auto end = input.find('\n'); end != input.npos) {
    order = input.substr(0, end);
    filter = input.substr(end + 1);
  }
  const int kept = Count(order, filter, input);
  if (kept < 0) return 0;
  const std::string negated = "NOT (" + std::string(filter) + ")";
  if (!NegationParses(filter, negated)) return 0;
  if (kept + Count(order, negated, input) != sampleRecords)
    fuzz::Broken("NOT (filter) reads exactly the records the filter leaves out", input);
  return 0;
}
