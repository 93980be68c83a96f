// Views: ordered, filtered reading of a primary file. A View belongs to the
// thread that made it and reads into its primary file's record buffer; a
// record it reads becomes that file's current record, so FilePut and
// FileDelete on the file act on it.
//
//   View view(FileOf(Timecard));                 // the primary file must be open
//   ViewSetProperty(view, kPropOrder, "COMPANY,-DUTYDATE");
//   ViewSetProperty(view, kPropFilter, "DUTYDATE <= 80000 AND NOT ORIGIN = 'X'");
//   FileOpen(view); ViewSetStart(view, 0);
//   for (FileNext(view); ErrorCode() == 0; FileNext(view)) ...
//
// The order and filter texts are parsed when set (view_expression.h); a text
// that does not parse sets kFilterSyntax and leaves the previous one in force.
// New texts take effect at the next ViewSetStart. A view joins no other
// files: its file count is 1.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/driver.h"
#include "runtime/files/view_expression.h"

namespace rt {

class File;
class View;

// Opens the view (the mode is accepted for its callers; the primary file's
// own open decides access). An open view gives 52 and stays open.
void FileOpen(View& view, int mode = 0x22);
void FileClose(View& view);
// Buffering: `pageSize` records a page, pages kept behind and read ahead,
// seconds buffers are kept. The view reads pageSize * (pagesAhead + 1)
// records a batch.
void FileBuffer(View& view, int pageSize, int pagesBehind, int pagesAhead, int timeoutSeconds);
void FileNext(View& view);
void FilePrevious(View& view);
// Positions the view before its first record (components 0), or at the
// primary record's values of its first `components` order terms.
void ViewSetStart(View& view, int components);
// 31974 order text, 31928 filter text, 29525 read-ahead records.
void ViewSetProperty(View& view, int property, std::string_view value);
// 29477 file count, 29478 label of file `index`, 31974, 31928, 29525.
std::string ViewGetProperty(View& view, int property, int index = 0);
// The n-th file of the view (1-based); null when there is none.
File* ViewFile(View& view, int n);

class View {
 public:
  // `primary` is not owned and must outlive the view.
  explicit View(File& primary);
  ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  File& Primary() const { return *primary_; }

 private:
  friend void FileOpen(View&, int);
  friend void FileClose(View&);
  friend void FileBuffer(View&, int, int, int, int);
  friend void FileNext(View&);
  friend void FilePrevious(View&);
  friend void ViewSetStart(View&, int);
  friend void ViewSetProperty(View&, int, std::string_view);
  friend std::string ViewGetProperty(View&, int, int);
  void Read(bool forward);

  File* primary_;
  bool open_ = false;
  std::string orderText_;
  std::string filterText_;
  std::vector<OrderTerm> order_;
  std::unique_ptr<FilterNode> filter_;
  bool changed_ = true;  // order or filter changed since the cursor was made
  int readAhead_ = 20;
  std::unique_ptr<ViewCursor> cursor_;
};

}  // namespace rt
