// ViewReader: reads the records of a runtime view one at a time, in one of a
// list of sort orders, and lets a derived class accept, skip or stop at each.
//
// Life of a reader
//   Init          binds the view and its primary relation manager and opens
//                 every file of the view through its relation manager (the
//                 thread's file registry finds the managers).
//   AddSortOrder  adds an order built from a key of the primary file; the new
//                 order becomes current. SetSort picks another one.
//   SetOrder, AppendOrder, SetFilter, SetNamedFilter change the current
//                 order's texts; they reach the view at the next Open (or an
//                 explicit ApplyOrder / ApplyFilter) and Reset.
//   Open / Reset  open the view, apply order and filter, position at the start.
//   Next          reads until ValidateRecord accepts a record (LevelBenign),
//                 reports out of range or the end (LevelNotify, no message),
//                 or the read fails (message 1, LevelFatal).
//   Kill          closes the view and the files Init opened, releases lists.
//                 Managers killed before the reader (a dictionary torn down
//                 first) are forgotten, not touched: the thread's file
//                 registry tells which are still there.
//
// Filters. Each order keeps named filters sorted by id (the first 30
// characters count, trailing blanks do not); SetFilter is the one named
// "5 Standard". ApplyFilter joins them in id order as "(a) AND (b) ...".
//
// Failures are reported by the primary file's manager: message 46 when the
// view cannot be opened, ordered, filtered or positioned (the reader carries
// on), message 1 when a read fails. One failure is not carried on with: a
// filter that the view refuses (it does not parse, or the joined text is
// longer than 4999 characters) would leave the view reading records the
// filter was meant to exclude, and a derived reader may act on every record
// it is given (the purge deletes them). So after message 46 for a filter
// Next and Previous give no records (LevelNotify) until a filter is applied
// that the view accepts.
//
// Threading: a reader, its view and its files belong to one thread.
// Ownership: the view, the relation managers and the file managers are not
// owned. The order list is owned when Init made it (DisposeOrder).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/field_ref.h"

namespace rt {
class File;
class View;
}  // namespace rt

namespace dataaccess {

class FieldPairList;
class FileManager;
class RelationManager;

// Record check results of ValidateRecord. Any value other than the first two
// skips the record.
inline constexpr std::uint8_t RecordAccepted = 0;
inline constexpr std::uint8_t RecordOutOfRange = 1;  // reading stops
inline constexpr std::uint8_t RecordFiltered = 2;

// The id SetFilter files its text under.
inline constexpr std::string_view kStandardFilterId = "5 Standard";
inline constexpr std::size_t kFilterIdCapacity = 30;
// The longest filter text ApplyFilter hands to the view.
inline constexpr std::size_t kFilterTextCapacity = 4999;

// View buffering defaults.
inline constexpr std::uint16_t kViewPageSize = 20;
inline constexpr std::uint16_t kViewPagesBehind = 2;
inline constexpr std::uint16_t kViewPagesAhead = 0;
inline constexpr std::uint16_t kViewTimeOut = 60;

struct NamedFilter {
  std::string Id;      // at most 30 characters, no trailing blanks
  std::string Filter;  // never blank: a blank text removes the entry
};

struct SortOrder {
  SortOrder();
  SortOrder(SortOrder&&) noexcept;
  SortOrder& operator=(SortOrder&&) noexcept;
  ~SortOrder();

  std::vector<NamedFilter> Filter;  // sorted by Id
  rt::FieldRef FreeElement;         // first key component no range fixes
  std::uint8_t LimitType = 0;       // range-limit kind; 0 none
  int MainKey = 0;                  // key number in the primary file; 0 none
  std::string Order;                // the view's order text
  std::unique_ptr<FieldPairList> RangeList;
};

// The sort orders of a reader and which one is current.
struct SortOrderList {
  std::vector<SortOrder> Entries;
  std::size_t Current = 0;  // 1-based; 0 while the list is empty

  // The current entry; null while the list is empty.
  SortOrder* CurrentEntry();
  const SortOrder* CurrentEntry() const;
};

// A record buffer saved by SaveBuffers.
struct SavedViewBuffer {
  std::uint16_t Buff = 0;     // the manager's SaveBuffer id
  FileManager* FM = nullptr;  // not owned
};

class ViewReader {
 public:
  ViewReader();
  // Kills a reader that was initialised and not killed. A derived class whose
  // Kill does more must call Destroy (or Kill) itself before it goes.
  virtual ~ViewReader();
  ViewReader(const ViewReader&) = delete;
  ViewReader& operator=(const ViewReader&) = delete;

  // ---- Virtual operations, in their fixed order.

  // Kill when Init ran and Kill did not.
  virtual void Destroy();
  // Extends the current order text: an empty order takes the text as it is,
  // a text starting with "*" replaces the order by the rest, anything else is
  // appended after a ",".
  virtual void AppendOrder(std::string_view text);
  // Sets the view's filter to the current order's named filters joined in id
  // order (none removes the filter). Message 46 when the view refuses it.
  virtual void ApplyFilter();
  // Sets the view's order to the current order text; message 46 when refused.
  virtual void ApplyOrder();
  // 1 when the current order's range limits changed since they were applied
  // (and the filter was applied again); 0 without range limits.
  virtual std::uint8_t ApplyRange();
  // CloseView(0).
  virtual void Close();
  // Closes the view when this reader opened it, or always with `force`.
  virtual void CloseView(std::uint8_t force);
  // Clears the record buffer of every file of the view.
  virtual void ClearViewRecords();
  // Whether the free element sorts ascending; 1 when there is none.
  virtual std::int32_t FreeElementAscending();
  // The free element's component name ("TIM:DUTYDATE"); empty when none.
  virtual std::string FreeElementName();
  // 1-based key component of the free element; 0 when there is none.
  virtual std::uint8_t FreeElementPosition();
  // Releases the orders, the view and the files; a second call does nothing.
  virtual void Kill();
  // The next record ValidateRecord accepts: LevelBenign; out of range or no
  // more records: LevelNotify without a message; a failed read: message 1
  // and LevelFatal.
  virtual int Next();
  // Opens the view when it is not (message 46 on failure, 52 accepted) and
  // applies order and filter.
  virtual void Open();
  // As Next, backwards.
  virtual int Previous();
  // Clears every file's record (unless suppressClear) and primes the primary
  // file's record through its manager; that manager's result.
  virtual int PrimeRecord(std::uint8_t suppressClear = 0);
  // Open, then position before the first record (components 0) or at the
  // primary record's values of the first `components` order terms.
  virtual void ResetTo(int components);
  // ResetTo(0).
  virtual void Reset();
  // Gives every saved record buffer back to its file and empties the list.
  virtual void RestoreBuffers();
  // Saves the record buffer of every file of the view that has a manager.
  virtual void SaveBuffers();
  // SetNamedFilter(text, "5 Standard").
  virtual void SetFilter(std::string_view text);
  // Adds, replaces or (blank text) removes the current order's filter `id`.
  virtual void SetNamedFilter(std::string_view text, std::string_view id);
  // Replaces the current order text; a blank text empties it.
  virtual void SetOrder(std::string_view text);
  // Makes sort order n current (0 means 1): 1 when that changed, 0 when n
  // already was current or there is no order n.
  virtual std::uint8_t SetSort(std::size_t n);
  // The derived class's judgement of the record just read; RecordAccepted here.
  virtual std::uint8_t ValidateRecord();

  // ---- Non-virtual operations.

  // Binds the view and the primary file's relation manager (neither owned;
  // both must outlive the reader) and opens the view's files. `orderList`,
  // when given, is used instead of a list of the reader's own (not owned).
  void Init(rt::View& view, RelationManager& primary, SortOrderList* orderList = nullptr);
  // Adds a sort order from key `key` of the primary file (0 for none) and
  // makes it current; returns its number.
  std::size_t AddSortOrder(int key);
  // Opens every file of the view through its relation manager; stops at the
  // first file that cannot be used.
  void UseFiles();
  // Closes what UseFiles opened.
  void ReleaseFiles();

  // ---- Fields, in their fixed order.

  std::uint8_t DisposeOrder = 0;
  std::uint8_t Opened = 0;
  SortOrderList* Order = nullptr;  // owned when DisposeOrder is set
  std::uint16_t PagesAhead = kViewPagesAhead;
  std::uint16_t PagesBehind = kViewPagesBehind;
  std::uint16_t PageSize = kViewPageSize;
  RelationManager* Primary = nullptr;  // not owned
  std::uint16_t TimeOut = kViewTimeOut;
  rt::View* View = nullptr;  // not owned
  std::optional<std::vector<SavedViewBuffer>> SavedBuffers;
  std::uint8_t Inited = 0;
  std::uint8_t Killed = 0;
  std::uint8_t Used = 0;

 private:
  int Read(bool forward);
  // Restores (restore 1) or discards the saved record buffers and empties the
  // list; managers gone since the save are left alone.
  void GiveBackBuffers(std::uint8_t restore);
  // The primary file's manager; null without one.
  FileManager* PrimaryManager() const;
  // Shows message `id` through the primary file's manager.
  void Report(int id);
  // The files of the view, first the primary.
  std::vector<rt::File*> ViewFiles() const;

  std::unique_ptr<SortOrderList> ownOrder_;
  // The relation managers UseFiles opened, in opening order.
  std::vector<RelationManager*> openedManagers_;
  // The view refused the last filter; reads give nothing until one is accepted.
  bool filterRefused_ = false;
};

}  // namespace dataaccess
