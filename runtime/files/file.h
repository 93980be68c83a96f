// Per-thread files. A FileDeclaration is static data; every thread that uses
// it gets its own File with its own record buffer (and, once opened, its own
// driver handle and position). ThreadFile registers a declaration as
// per-thread; FileOf gives the calling thread's copy, building it on first use;
// FileDestroy discards that copy, telling its callback receivers first.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/files/field_ref.h"
#include "runtime/files/file_declaration.h"

namespace rt {

// Operation codes passed to file callback receivers.
inline constexpr int kOpDestroy = 104;  // the runtime is discarding the file

// What a callback receiver learns about an operation.
struct FileOperationParams {
  // For kOpDestroy: 0 when the receiver should clean up, 1 when the file is
  // only being discarded with its thread.
  int DiscardFlag = 0;
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

 private:
  const FileDeclaration* decl_;  // static data, outlives every File
  std::vector<std::uint8_t> buffer_;
  std::vector<FileCallbackReceiver*> receivers_;
};

// Registers a declaration as a per-thread file.
void ThreadFile(const FileDeclaration& decl);
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
