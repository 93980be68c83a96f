// File openers: the objects that physically open and close a data file for
// its file managers.
//
// A file with one instance per thread (the usual case: every file of the
// dictionary) gets a PlainOpener per manager; a file shared by all threads
// gets one SharedOpener for the whole process, found through a process-wide
// list, which opens the file once for its first user and closes it when the
// last user closes.
//
// Ownership: an opener owns itself. OpenerFor hands out a reference; every
// holder gives it back exactly once with Release, and the Release that finds
// no further users frees the object (a shared opener also leaves the list).
//
// Locking: the shared-opener list is guarded by one process-wide lock, every
// shared opener by its own CSect. OpenerFor and SharedOpener::Release take the
// list lock before an opener's lock, never the other way round. A plain
// opener belongs to its manager's thread and takes no lock.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/core/critical_section.h"

namespace rt {
class File;
}

namespace dataaccess {

// What a file manager sees of its opener. Codes are runtime error codes.
class IFileOpenServer {
 public:
  // 0 on success; "already open" (52) also gives 0.
  virtual int Open(int mode) = 0;
  virtual int Close() = 0;
  virtual void AddRef() = 0;
  // Gives a reference back; see the ownership note above.
  virtual void Release() = 0;

 protected:
  virtual ~IFileOpenServer() = default;
};

class PlainOpener : public IFileOpenServer {
 public:
  PlainOpener() = default;

  // Own virtual operations, in their fixed order.
  virtual void MarkDisposed();
  // `file` is not owned and must outlive the opener.
  virtual void SetFile(rt::File& file);

  int Open(int mode) override;
  int Close() override;
  void AddRef() override;
  void Release() override;

  std::uint8_t Disposed = 0;
  rt::File* MyFile = nullptr;  // not owned
  std::int32_t Usage = 0;      // references beyond the first

 protected:
  ~PlainOpener() override = default;
};

class SharedOpener : public PlainOpener {
 public:
  SharedOpener();

  // Also releases CSect.
  void MarkDisposed() override;
  // Also sets FileUsageCount to 0.
  void SetFile(rt::File& file) override;

  // Opens the file when no manager has it open yet; counts the user.
  int Open(int mode) override;
  // Closes the file when the last user closes; a failed physical close is
  // returned with the count unchanged.
  int Close() override;
  void AddRef() override;
  // The last release also removes the opener from the process-wide list.
  void Release() override;

  std::unique_ptr<rt::CriticalSection> CSect;  // guards MyFile and the counts
  std::int32_t FileUsageCount = 0;             // managers that have the file open; guarded by CSect

 protected:
  ~SharedOpener() override = default;
};

// The opener for `file`: a new PlainOpener when the file has one instance per
// thread (property 31893), otherwise the process's SharedOpener for the file's
// declaration, made on first use and given one more reference on every later
// call. The caller gives the reference back with Release.
IFileOpenServer* OpenerFor(rt::File& file);

// Number of shared openers in the process-wide list (for tests and checks).
int SharedOpenerCount();

}  // namespace dataaccess
