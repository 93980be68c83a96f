#include "access/view_reader.h"

#include <algorithm>
#include <cstdlib>

#include "access/field_pair_list.h"
#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "errors/default_errors.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/view.h"

namespace dataaccess {
namespace {

// The view's open mode: read/write, deny write.
constexpr int kViewOpenMode = 0x22;

bool IsBlank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

// A filter id as it is compared: its first 30 characters without trailing blanks.
std::string FilterId(std::string_view id) {
  return std::string(rt::TrimRight(id.substr(0, kFilterIdCapacity)));
}

}  // namespace

SortOrder::SortOrder() = default;
SortOrder::SortOrder(SortOrder&&) noexcept = default;
SortOrder& SortOrder::operator=(SortOrder&&) noexcept = default;
SortOrder::~SortOrder() = default;

SortOrder* SortOrderList::CurrentEntry() {
  return Current >= 1 && Current <= Entries.size() ? &Entries[Current - 1] : nullptr;
}

const SortOrder* SortOrderList::CurrentEntry() const {
  return Current >= 1 && Current <= Entries.size() ? &Entries[Current - 1] : nullptr;
}

ViewReader::ViewReader() = default;

ViewReader::~ViewReader() { ViewReader::Destroy(); }

// ---- Life cycle

void ViewReader::Init(rt::View& view, RelationManager& primary, SortOrderList* orderList) {
  if (Inited && !Killed) Kill();
  Inited = 1;
  View = &view;
  Primary = &primary;
  if (orderList) {
    Order = orderList;
    DisposeOrder = 0;
  } else {
    ownOrder_ = std::make_unique<SortOrderList>();
    Order = ownOrder_.get();
    DisposeOrder = 1;
  }
  SavedBuffers.emplace();
  PageSize = kViewPageSize;
  PagesBehind = kViewPagesBehind;
  PagesAhead = kViewPagesAhead;
  TimeOut = kViewTimeOut;
  Killed = 0;
  filterRefused_ = false;
  UseFiles();
}

void ViewReader::UseFiles() {
  FileRegistry& registry = ThreadRegistry();
  for (rt::File* file : ViewFiles()) {
    FileManager* fileManager = registry.FileManagerFor(*file);
    RelationManager* relationManager = registry.RelationManagerFor(*file);
    if (!fileManager || !relationManager) continue;  // nothing to open it with
    // A failed open gives back what it had opened, so only a successful one
    // is owed a Close.
    if (relationManager->Open(0) == errors::LevelBenign) openedManagers_.push_back(relationManager);
    Used = 1;
    if (fileManager->UseFile(kUseUses) != errors::LevelBenign) break;
  }
}

void ViewReader::ReleaseFiles() {
  if (!Used) return;
  // Only the managers UseFiles opened are closed, so every open count comes
  // back to where it was even when an open failed or opening stopped early.
  // Managers killed before the reader (the dictionary going first) are gone
  // and have nothing left to close.
  const FileRegistry& registry = ThreadRegistry();
  for (auto it = openedManagers_.rbegin(); it != openedManagers_.rend(); ++it)
    if (registry.Holds(*it)) (*it)->Close(0);
  openedManagers_.clear();
  Used = 0;
}

void ViewReader::Kill() {
  if (Killed || !Inited) {
    Killed = 1;
    return;
  }
  if (Order) {
    for (SortOrder& order : Order->Entries) {
      if (order.RangeList) order.RangeList->Kill();
      order.RangeList.reset();
      order.Filter.clear();
      order.Order.clear();
      order.FreeElement = rt::FieldRef();
    }
  }
  if (DisposeOrder) {
    ownOrder_.reset();
    DisposeOrder = 0;
  }
  Order = nullptr;
  // Copies still held by the file managers are discarded with the list.
  GiveBackBuffers(0);
  SavedBuffers.reset();
  Close();
  ReleaseFiles();
  Killed = 1;
}

void ViewReader::Destroy() {
  if (Inited && !Killed) Kill();
}

// ---- Sort orders

std::size_t ViewReader::AddSortOrder(int key) {
  if (!Order) return 0;
  SortOrder order;
  order.MainKey = key;
  order.RangeList = std::make_unique<FieldPairList>();
  order.RangeList->Init();
  FileManager* manager = PrimaryManager();
  if (key != 0 && manager && manager->ComponentCount(key) >= 1)
    order.FreeElement = manager->ComponentField(key, 1);
  Order->Entries.push_back(std::move(order));
  Order->Current = Order->Entries.size();
  SetOrder(manager && key != 0 ? manager->KeyOrderText(key, 1) : std::string());
  return Order->Entries.size();
}

std::uint8_t ViewReader::SetSort(std::size_t n) {
  if (!Order) return 0;
  if (n == 0) n = 1;
  if (n == Order->Current || n > Order->Entries.size()) return 0;
  Order->Current = n;
  return 1;
}

void ViewReader::SetOrder(std::string_view text) {
  SortOrder* order = Order ? Order->CurrentEntry() : nullptr;
  if (!order) return;
  order->Order = IsBlank(text) ? std::string() : std::string(text);
}

void ViewReader::AppendOrder(std::string_view text) {
  SortOrder* order = Order ? Order->CurrentEntry() : nullptr;
  if (!order) return;
  if (order->Order.empty())
    SetOrder(text);
  else if (!text.empty() && text.front() == '*')
    SetOrder(text.substr(1));
  else
    SetOrder(order->Order + "," + std::string(text));
}

void ViewReader::SetNamedFilter(std::string_view text, std::string_view id) {
  SortOrder* order = Order ? Order->CurrentEntry() : nullptr;
  if (!order) return;
  std::string key = FilterId(id);
  auto& filters = order->Filter;
  auto at = std::lower_bound(filters.begin(), filters.end(), key,
                             [](const NamedFilter& f, const std::string& k) { return f.Id < k; });
  bool found = at != filters.end() && at->Id == key;
  if (IsBlank(text)) {
    if (found) filters.erase(at);
    return;
  }
  if (found)
    at->Filter = std::string(text);
  else
    filters.insert(at, NamedFilter{std::move(key), std::string(text)});
}

void ViewReader::SetFilter(std::string_view text) { SetNamedFilter(text, kStandardFilterId); }

// ---- The view

void ViewReader::ApplyOrder() {
  if (!View) return;
  const SortOrder* order = Order ? Order->CurrentEntry() : nullptr;
  rt::ViewSetProperty(*View, rt::kPropOrder, order ? order->Order : std::string());
  if (rt::ErrorCode() != rt::kNoError) Report(errors::ErrViewOpen);
}

void ViewReader::ApplyFilter() {
  if (!View) return;
  std::string text;
  if (const SortOrder* order = Order ? Order->CurrentEntry() : nullptr) {
    for (const NamedFilter& filter : order->Filter) {
      text += text.empty() ? "(" : " AND (";
      text += filter.Filter;
      text += ")";
    }
  }
  if (text.size() > kFilterTextCapacity) {
    // A cut filter could still parse and let through records the whole one
    // excludes, so a filter that does not fit is refused outright.
    rt::SetError(rt::kFilterSyntax, View->Primary().Declaration().DiskName(), {},
                 "the filter is longer than " + std::to_string(kFilterTextCapacity) +
                     " characters");
  } else {
    rt::ViewSetProperty(*View, rt::kPropFilter, text);
  }
  filterRefused_ = rt::ErrorCode() != rt::kNoError;
  if (filterRefused_) Report(errors::ErrViewOpen);
}

std::uint8_t ViewReader::ApplyRange() {
  // No operation of this system sets a range limit, so there is never a
  // change to apply.
  return 0;
}

void ViewReader::Open() {
  if (!View) return;
  if (!Opened) {
    rt::FileOpen(*View, kViewOpenMode);
    int code = rt::ErrorCode();
    if (code == rt::kNoError)
      Opened = 1;
    else if (code != rt::kFileAlreadyOpen)
      Report(errors::ErrViewOpen);
    rt::FileBuffer(*View, PageSize, PagesBehind, PagesAhead, TimeOut);
  }
  ApplyOrder();
  ApplyFilter();
}

void ViewReader::CloseView(std::uint8_t force) {
  if (!View || (!Opened && !force)) return;
  rt::FileClose(*View);
  Opened = 0;
}

void ViewReader::Close() { CloseView(0); }

void ViewReader::ResetTo(int components) {
  if (!View) return;
  Open();
  rt::ViewSetStart(*View, components);
  if (rt::ErrorCode() != rt::kNoError) Report(errors::ErrViewOpen);
}

void ViewReader::Reset() { ResetTo(0); }

int ViewReader::Read(bool forward) {
  if (!View) return errors::LevelFatal;
  if (filterRefused_) return errors::LevelNotify;
  for (;;) {
    if (forward)
      rt::FileNext(*View);
    else
      rt::FilePrevious(*View);
    int code = rt::ErrorCode();
    if (code == rt::kRecordNotAvailable) return errors::LevelNotify;
    if (code != rt::kNoError) {
      Report(errors::ErrRecordFetch);
      return errors::LevelFatal;
    }
    std::uint8_t check = ValidateRecord();
    if (check == RecordAccepted) return errors::LevelBenign;
    if (check == RecordOutOfRange) return errors::LevelNotify;
  }
}

int ViewReader::Next() { return Read(true); }

int ViewReader::Previous() { return Read(false); }

std::uint8_t ViewReader::ValidateRecord() { return RecordAccepted; }

// ---- Records and buffers

int ViewReader::PrimeRecord(std::uint8_t suppressClear) {
  if (!suppressClear)
    for (rt::File* file : ViewFiles()) rt::FileClear(*file);
  FileManager* manager = PrimaryManager();
  return manager ? manager->PrimeRecord(1) : errors::LevelFatal;
}

void ViewReader::ClearViewRecords() {
  for (rt::File* file : ViewFiles()) rt::FileClear(*file);
}

void ViewReader::SaveBuffers() {
  if (!SavedBuffers) return;
  // Copies left over from an earlier save that was never restored go first,
  // so the managers do not keep them.
  GiveBackBuffers(0);
  FileRegistry& registry = ThreadRegistry();
  for (rt::File* file : ViewFiles())
    if (FileManager* manager = registry.FileManagerFor(*file))
      SavedBuffers->push_back(SavedViewBuffer{manager->SaveBuffer(), manager});
}

void ViewReader::RestoreBuffers() { GiveBackBuffers(1); }

void ViewReader::GiveBackBuffers(std::uint8_t restore) {
  if (!SavedBuffers) return;
  // A manager killed since the save took its copies with it.
  const FileRegistry& registry = ThreadRegistry();
  for (auto& saved : *SavedBuffers)
    if (registry.Holds(saved.FM)) saved.FM->RestoreBuffer(saved.Buff, restore);
  SavedBuffers->clear();
}

// ---- The free element

std::uint8_t ViewReader::FreeElementPosition() {
  const SortOrder* order = Order ? Order->CurrentEntry() : nullptr;
  FileManager* manager = PrimaryManager();
  if (!order || order->MainKey == 0 || !manager) return 0;
  int position = (order->RangeList ? order->RangeList->Count() : 0) + (order->LimitType == 3 ? 0 : 1);
  return position >= 1 && manager->ComponentCount(order->MainKey) >= position
             ? static_cast<std::uint8_t>(position)
             : 0;
}

std::string ViewReader::FreeElementName() {
  std::uint8_t position = FreeElementPosition();
  if (position == 0) return {};
  return PrimaryManager()->ComponentName(Order->CurrentEntry()->MainKey, position);
}

std::int32_t ViewReader::FreeElementAscending() {
  std::uint8_t position = FreeElementPosition();
  if (position == 0) return 1;
  return PrimaryManager()->ComponentAscending(Order->CurrentEntry()->MainKey, position);
}

// ---- Helpers

FileManager* ViewReader::PrimaryManager() const { return Primary ? Primary->Me : nullptr; }

void ViewReader::Report(int id) {
  if (FileManager* manager = PrimaryManager()) manager->Throw(id);
}

std::vector<rt::File*> ViewReader::ViewFiles() const {
  std::vector<rt::File*> files;
  if (!View) return files;
  int count = std::atoi(rt::ViewGetProperty(*View, rt::kPropViewFileCount).c_str());
  for (int n = 1; n <= count; ++n)
    if (rt::File* file = rt::ViewFile(*View, n)) files.push_back(file);
  return files;
}

}  // namespace dataaccess
