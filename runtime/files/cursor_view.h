// A view of a KEYED driver (SQLite or PostgreSQL): a cursor over the file in
// the view's order and limited by its filter, reading into the file's record
// buffer and making each record read the file's current record. The two
// drivers' cursors and files offer the same calls:
//   Cursor  ToEnds(), ToValues(values), SortValuesOf(record), SetBatch(records),
//           Next(record, number), Previous(record, number), LastError()
//   Owner   TheFile(), Became(number), Fail(code, text), Forget(view), ReadAhead()
// The owner keeps the views it made and orphans them when the file closes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "runtime/core/error_state.h"
#include "runtime/files/driver.h"
#include "runtime/files/file.h"

namespace rt {

template <class Owner, class Cursor>
class CursorView final : public ViewCursor {
 public:
  CursorView(Owner& owner, std::unique_ptr<Cursor> cursor)
      : owner_(&owner), cursor_(std::move(cursor)) {}
  ~CursorView() override {
    if (owner_) owner_->Forget(this);
  }
  CursorView(const CursorView&) = delete;
  CursorView& operator=(const CursorView&) = delete;

  int Start(int components) override {
    if (!owner_ || !cursor_) return kBadRequest;
    if (components <= 0) {
      cursor_->ToEnds();
    } else {
      auto values = cursor_->SortValuesOf(owner_->TheFile().Buffer());
      if (static_cast<int>(values.size()) > components) values.resize(components);
      cursor_->ToValues(std::move(values));
    }
    return kNoError;
  }
  int Next() override { return Read(true); }
  int Previous() override { return Read(false); }
  void SetReadAhead(int records) override {
    readAhead_ = records;
    ApplyBatch();
  }
  int ReadAhead() const override { return readAhead_; }
  // The cursor's batch: the view's buffering, or the file's quick-scan
  // read-ahead when that is larger (a walk the program asked to be quick).
  void ApplyBatch() {
    if (cursor_) cursor_->SetBatch(std::max(readAhead_, owner_ ? owner_->ReadAhead() : 0));
  }

  // The file closed under the view: the cursor goes with the file's connection.
  void Orphan() {
    cursor_.reset();
    owner_ = nullptr;
  }

 private:
  int Read(bool forward) {
    if (!owner_ || !cursor_) return kBadRequest;
    std::int64_t number = 0;
    std::uint8_t* record = owner_->TheFile().Buffer();
    const int code = forward ? cursor_->Next(record, number) : cursor_->Previous(record, number);
    if (code == kNoError) {
      owner_->Became(number);
      return code;
    }
    return owner_->Fail(code, code == kRecordNotAvailable ? "end of file" : cursor_->LastError());
  }

  Owner* owner_;  // not owned; null once the file closed
  std::unique_ptr<Cursor> cursor_;
  int readAhead_ = 1;
};

}  // namespace rt
