#include "runtime/files/view.h"

#include <algorithm>

#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"

namespace rt {
namespace {

void Fail(View& view, int code, const std::string& text) {
  SetError(code, view.Primary().Declaration().DiskName(), {}, text);
}

}  // namespace

View::View(File& primary) : primary_(&primary) {}
View::~View() = default;

void FileOpen(View& view, int) {
  if (view.open_) return SetError(kFileAlreadyOpen, view.Primary().Declaration().DiskName());
  Driver* driver = detail::HandleOf(view.Primary());
  if (!driver) return;
  if (!driver->IsOpen()) return Fail(view, kBadRequest, "the view's file is not open");
  view.open_ = true;
  view.changed_ = true;
  ClearError();
}

void FileClose(View& view) {
  view.cursor_.reset();
  view.open_ = false;
  ClearError();
}

void FileBuffer(View& view, int pageSize, int, int pagesAhead, int) {
  int records = std::max(1, pageSize) * (std::max(0, pagesAhead) + 1);
  view.readAhead_ = records;
  if (view.cursor_) view.cursor_->SetReadAhead(records);
  ClearError();
}

void ViewSetStart(View& view, int components) {
  if (!view.open_) return Fail(view, kBadRequest, "view not open");
  if (view.changed_ || !view.cursor_) {
    view.cursor_.reset();
    Driver* driver = detail::HandleOf(view.Primary());
    if (!driver) return;
    ViewQuery query;
    query.Order = view.order_;
    query.Filter = CopyFilter(view.filter_.get());
    int code = kNoError;
    view.cursor_ = driver->OpenView(std::move(query), code);
    if (!view.cursor_) {
      detail::Report(view.Primary(), code == kNoError ? kBadRequest : code);
      return;
    }
    view.cursor_->SetReadAhead(view.readAhead_);
    view.changed_ = false;
  }
  detail::Report(view.Primary(), view.cursor_->Start(components));
}

void View::Read(bool forward) {
  if (!open_) return Fail(*this, kBadRequest, "view not open");
  if (!cursor_ || changed_) {
    ViewSetStart(*this, 0);
    if (ErrorCode() != kNoError) return;
  }
  File& file = *primary_;
  FileOperationParams params;
  params.ForView = true;
  bool told = !file.Receivers().empty();
  if (told) {
    auto receivers = file.Receivers();
    for (auto* r : receivers) r->BeforeFileOperation(forward ? kOpNext : kOpPrevious, params);
  }
  detail::Report(file, forward ? cursor_->Next() : cursor_->Previous());
  if (told) {
    params.EndOfViewOperation = true;
    params.ErrorCode = ErrorCode();
    auto receivers = file.Receivers();
    for (auto* r : receivers) r->AfterFileOperation(forward ? kOpNext : kOpPrevious, params);
  }
}

void FileNext(View& view) { view.Read(true); }
void FilePrevious(View& view) { view.Read(false); }

void ViewSetProperty(View& view, int property, std::string_view value) {
  const auto& decl = view.Primary().Declaration();
  std::string error;
  switch (property) {
    case kPropOrder: {
      std::vector<OrderTerm> order;
      if (int code = ParseOrder(value, decl, order, error)) return Fail(view, code, error);
      view.order_ = std::move(order);
      view.orderText_ = value;
      view.changed_ = true;
      return ClearError();
    }
    case kPropFilter: {
      std::unique_ptr<FilterNode> filter;
      if (int code = ParseFilter(value, decl, filter, error)) return Fail(view, code, error);
      view.filter_ = std::move(filter);
      view.filterText_ = value;
      view.changed_ = true;
      return ClearError();
    }
    case kPropReadAhead: {
      int records = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || records > 100000)
          return Fail(view, kBadRequest, "read-ahead is a record count");
        records = records * 10 + (c - '0');
      }
      view.readAhead_ = std::max(1, records);
      if (view.cursor_) view.cursor_->SetReadAhead(view.readAhead_);
      return ClearError();
    }
    default:
      Fail(view, kBadRequest, "view property " + std::to_string(property) + " cannot be set");
  }
}

std::string ViewGetProperty(View& view, int property, int index) {
  ClearError();
  switch (property) {
    case kPropViewFileCount: return "1";
    case kPropViewFile:
      if (index == 1) return view.Primary().Declaration().Label();
      break;
    case kPropOrder: return view.orderText_;
    case kPropFilter: return view.filterText_;
    case kPropReadAhead: return std::to_string(view.readAhead_);
    default: break;
  }
  Fail(view, kBadRequest,
       "no view property " + std::to_string(property) + " (" + std::to_string(index) + ")");
  return {};
}

File* ViewFile(View& view, int n) {
  ClearError();
  return n == 1 ? &view.Primary() : nullptr;
}

}  // namespace rt
