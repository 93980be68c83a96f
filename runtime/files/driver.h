// The narrow interface between the runtime's file operations and the drivers
// that store records. A Driver is one file's handle: the runtime makes one per
// per-thread File the first time an operation needs it (MakeDriver, by the
// declaration's driver name) and keeps it, open or closed, until the File goes.
//
// Every operation returns a runtime error code (error_state.h): 0 on success,
// the driver's failure otherwise. Drivers never touch the thread's error state
// themselves; the file operations set it from the code and from
// LastDriverError(). Keys are numbered from 1 as in the declaration; key 0
// means record order (the order records were added in).
//
// Threading: a Driver belongs to the thread that owns its File.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/view_expression.h"

namespace rt {

class File;

// What a driver's view reads: the primary file's records in `Order` (record
// order when empty), limited by `Filter` (none when null).
struct ViewQuery {
  std::vector<OrderTerm> Order;
  std::unique_ptr<FilterNode> Filter;
};

// A driver's cursor over a view. Reads land in the primary file's record
// buffer and make the read record that file's current record.
class ViewCursor {
 public:
  virtual ~ViewCursor() = default;
  // Positions before the first record (components 0), or at the record
  // buffer's values of the first `components` order terms.
  virtual int Start(int components) = 0;
  virtual int Next() = 0;
  virtual int Previous() = 0;
  // Records read ahead per batch; 0 or 1 reads one at a time.
  virtual void SetReadAhead(int records) = 0;
  virtual int ReadAhead() const = 0;
};

// Access bits (low two bits) and sharing bits (high four bits) of an open mode.
inline constexpr int kAccessRead = 0x00;
inline constexpr int kAccessWrite = 0x01;
inline constexpr int kAccessReadWrite = 0x02;
inline constexpr int kShareCompat = 0x00;
inline constexpr int kShareDenyAll = 0x10;
inline constexpr int kShareDenyWrite = 0x20;
inline constexpr int kShareDenyRead = 0x30;
inline constexpr int kShareDenyNone = 0x40;
inline constexpr int kDefaultOpenMode = kAccessReadWrite | kShareDenyNone;  // 0x42

class Driver {
 public:
  virtual ~Driver() = default;

  // --- The file as a whole. Create, BuildKeys and Send work on a closed file.
  // Creates the empty file; refuses to replace one that exists.
  virtual int Create() = 0;
  virtual int Open(int mode) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Rebuilds every declared key's index.
  virtual int BuildKeys() = 0;
  // A driver option string ("Recover=10", "QUICKSCAN=on").
  virtual int Send(std::string_view option) = 0;

  // --- Records. The current record is the last one read, added or written.
  // Reading by key or pointer leaves the sequence (SetKey, Next) where it was.
  virtual int GetByKey(int key) = 0;
  // Pointer 0 (or any pointer that names no record) reads nothing, gives 33
  // and leaves the handle without a current record; the buffer is untouched.
  virtual int GetByPointer(std::int64_t pointer) = 0;
  // The current record's pointer; 0 when there is none.
  virtual std::int64_t Pointer() const = 0;
  // Sequence in key order: SetKey positions at both ends (Next reads the
  // first record, Previous the last); SetKeyValue at the buffer's key value
  // (Next reads the first record at or after it, Previous the last at or
  // before it).
  virtual int SetKey(int key) = 0;
  virtual int SetKeyValue(int key) = 0;
  virtual int Next() = 0;
  virtual int Previous() = 0;
  virtual int Add() = 0;
  virtual int Put() = 0;
  virtual int Delete() = 0;
  // Whether another record already holds the buffer's value of unique key
  // `key` (keys that allow duplicates never report one).
  virtual int Duplicate(int key, bool& duplicate) = 0;
  // Arms change detection for the next read: a Put of that record then fails
  // with 89 when anything changed it since.
  virtual void Watch() = 0;

  // --- Positions and whole states, as opaque texts of at most 1024 characters.
  // Position of the current record, by key (1..n) or by record (0).
  virtual int Position(int key, std::string& position) = 0;
  // Reads the record a position names.
  virtual int Reget(int key, std::string_view position) = 0;
  // Positions the sequence so that Next reads the record a position names
  // (or the one after it, when it is gone).
  virtual int Reset(int key, std::string_view position) = 0;
  // The whole sequence state (order, place, current record) and back.
  virtual std::string SaveCursor() const = 0;
  virtual int RestoreCursor(std::string_view saved) = 0;

  // --- Sizes and read-ahead.
  virtual int Records(std::int64_t& count) = 0;
  virtual int Bytes(std::int64_t& bytes) = 0;
  virtual int ReadAhead() const = 0;
  virtual void SetReadAhead(int records) = 0;

  // --- Soundness of the file (open) as its storage sees it: appends to
  // `problems` what the storage's own check finds wrong (nothing when sound,
  // or when the driver has no check of its own). Changes nothing.
  virtual int CheckIntegrity(std::vector<std::string>& /*problems*/) { return 0; }

  // --- Transactions (drivers without them answer 80).
  virtual bool SupportsTransactions() const { return false; }
  // Begins the calling thread's transaction, or joins this file to the one
  // already begun; a driver that locks at the start (or at the join) waits at
  // most `timeoutSeconds` for its locks.
  virtual int BeginTransaction(int timeoutSeconds);
  virtual int CommitTransaction();
  virtual int RollbackTransaction();
  // Whether the transaction was already undone under the caller (a write
  // failed on a full disk or an I/O error): nothing more can be committed in
  // it, and it waits for RollbackTransaction.
  virtual bool TransactionLost() const { return false; }

  // --- Views over this file as primary. On failure returns null and sets `code`.
  virtual std::unique_ptr<ViewCursor> OpenView(ViewQuery query, int& code);

  // The driver's own code and text for the last failure ("" when none).
  virtual std::string LastDriverCode() const { return {}; }
  virtual std::string LastDriverText() const { return {}; }
};

// Builds a closed handle for `file` (not owned; it outlives the handle).
using DriverFactory = std::function<std::unique_ptr<Driver>(File& file)>;

// Makes the handle of the driver named `name` (any case); null when no driver
// has that name. KEYED and ASCII are built in.
std::unique_ptr<Driver> MakeDriver(std::string_view name, File& file);
// Adds or replaces a driver. Process-wide, guarded by its own lock.
void RegisterDriver(std::string name, DriverFactory factory);

}  // namespace rt
