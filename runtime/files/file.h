// Per-thread files. A FileDeclaration is static data; every thread that uses
// it gets its own File with its own record buffer (and, once opened, its own
// driver handle and position). ThreadFile registers a declaration as
// per-thread; FileOf gives the calling thread's copy, building it on first use;
// FileDestroy discards that copy, telling its callback receivers first.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/field_ref.h"
#include "runtime/files/file_declaration.h"

namespace rt {

class Driver;

// Operation codes passed to file callback receivers, grouped by what the
// operation does to the record buffer.
// Adds (the buffer was written as a new record):
inline constexpr int kOpAdd = 1;
// Deletes:
inline constexpr int kOpDelete = 11;
// Writes of the current record:
inline constexpr int kOpPut = 30;
// Reads (the buffer now holds a record from the file):
inline constexpr int kOpGetByKey = 15;
inline constexpr int kOpGetByPointer = 16;
inline constexpr int kOpNext = 17;
inline constexpr int kOpPrevious = 24;
inline constexpr int kOpRegetByRecord = 31;
inline constexpr int kOpRegetByKey = 53;
inline constexpr int kOpRestoreState = 66;
// Clearing the buffer:
inline constexpr int kOpClear = 10;
// Everything else: the file as a whole, positions and properties.
inline constexpr int kOpOpen = 40;
inline constexpr int kOpClose = 41;
inline constexpr int kOpCreate = 42;
inline constexpr int kOpBuildKeys = 43;
inline constexpr int kOpSend = 44;
inline constexpr int kOpSetKey = 45;
inline constexpr int kOpSetKeyValue = 46;
inline constexpr int kOpDuplicate = 47;
inline constexpr int kOpNoMemo = 48;
inline constexpr int kOpWatch = 49;
inline constexpr int kOpPosition = 56;
inline constexpr int kOpReset = 57;
inline constexpr int kOpGetState = 58;
inline constexpr int kOpFreeState = 60;
inline constexpr int kOpSetNulls = 61;
inline constexpr int kOpRecords = 63;
inline constexpr int kOpSetProperty = 78;
inline constexpr int kOpDestroy = 104;  // the runtime is discarding the file

// What a callback receiver learns about an operation.
struct FileOperationParams {
  // For kOpDestroy: 0 when the receiver should clean up, 1 when the file is
  // only being discarded with its thread.
  int DiscardFlag = 0;
  // The operation reads for a view; EndOfViewOperation marks the call after
  // the view's read, when the view is done with the file.
  bool ForView = false;
  bool EndOfViewOperation = false;
  // For kOpSetProperty: the property number.
  int Property = 0;
  // After the operation: its error code.
  int ErrorCode = 0;
};

// Receives calls around every operation on a file (see FileCallback).
class FileCallbackReceiver {
 public:
  virtual ~FileCallbackReceiver() = default;
  virtual void BeforeFileOperation(int operation, const FileOperationParams& params) = 0;
  virtual void AfterFileOperation(int operation, const FileOperationParams& params) = 0;
};

class File {
 public:
  explicit File(const FileDeclaration& decl);
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  const FileDeclaration& Declaration() const { return *decl_; }
  std::uint8_t* Buffer() { return buffer_.data(); }
  const std::uint8_t* Buffer() const { return buffer_.data(); }
  int RecordLength() const { return static_cast<int>(buffer_.size()); }

  // Field n (1-based), element `element` (0-based) of an array.
  FieldRef Field(int n, int element = 0);
  // Field by name, with or without prefix; an invalid FieldRef when unknown.
  FieldRef Field(std::string_view name, int element = 0);

  // Receivers registered with FileCallback, in registration order. Not owned.
  const std::vector<FileCallbackReceiver*>& Receivers() const { return receivers_; }
  void AddReceiver(FileCallbackReceiver* r);
  void RemoveReceiver(FileCallbackReceiver* r);

  // The driver handle the file operations made for this file; null until the
  // first operation needs it. Owned by the File.
  Driver* Handle() const { return driver_.get(); }
  void SetHandle(std::unique_ptr<Driver> driver);

  // Whole states saved by FileGetState, by handle. Owned by the File.
  struct SavedState {
    std::vector<std::uint8_t> Buffer;
    std::string Cursor;
  };
  std::map<int, SavedState>& States() { return states_; }
  int NextStateId() { return ++lastStateId_; }

  // Size of the last record read (0 before any).
  int LastRecordSize() const { return lastRecordSize_; }
  void SetLastRecordSize(int size) { lastRecordSize_ = size; }

 private:
  const FileDeclaration* decl_;  // static data, outlives every File
  std::vector<std::uint8_t> buffer_;
  std::vector<FileCallbackReceiver*> receivers_;
  std::unique_ptr<Driver> driver_;
  std::map<int, SavedState> states_;
  int lastStateId_ = 0;
  int lastRecordSize_ = 0;
};

// Registers a declaration as a per-thread file.
void ThreadFile(const FileDeclaration& decl);
// Takes the registration back; a declaration does this when it is destroyed,
// so a later declaration at the same address starts unregistered.
void ForgetThreadFile(const FileDeclaration& decl);
bool IsThreadFile(const FileDeclaration& decl);

// The calling thread's copy of the file, built with a cleared buffer on first use.
File& FileOf(const FileDeclaration& decl);
// True when the calling thread has built its copy.
bool FileExists(const FileDeclaration& decl);

// Discards the calling thread's copy: every receiver gets BeforeFileOperation
// and AfterFileOperation with kOpDestroy and `discardFlag`, then the copy is
// closed and freed. Does nothing when the thread has no copy.
void FileDestroy(const FileDeclaration& decl, int discardFlag);

// Registers (mode 0) or removes (mode 1) a receiver for the file's operations.
void FileCallback(File& file, FileCallbackReceiver* receiver, int mode);

}  // namespace rt
