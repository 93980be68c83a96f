// The sharing bits of an open mode, kept between handles and processes.
//
// Inside the process every holder of a disk file is known, so the classic
// rules apply exactly: a request is refused when its access is denied by a
// holder's sharing bits or a holder's access is denied by the request's.
// Between processes the file itself carries an advisory lock (flock, which
// is independent of the record locks SQLite takes): shared while no holder in
// this process denies anything, exclusive while one does. Another process
// that denies anything therefore refuses every other opener, and a denying
// request is refused while any other process has the file open.
//
// The descriptor that carries the advisory lock stays open until the last
// holder in the process is gone; it must not close earlier, because closing a
// descriptor of a file drops every POSIX lock the process holds on it,
// SQLite's among them. Thread-safe: one process-wide table behind a mutex.
#pragma once

#include <string>

namespace rt::sqlite {

class ShareLock {
 public:
  ShareLock() = default;
  ShareLock(const ShareLock&) = delete;
  ShareLock& operator=(const ShareLock&) = delete;
  ~ShareLock() { Release(); }

  // Takes the file at `path` for `mode` (access and sharing bits), waiting up
  // to `waitSeconds` for holders elsewhere. Gives 0, 2 (no such file) or 5.
  int Acquire(const std::string& path, int mode, int waitSeconds);
  void Release();
  bool Held() const { return key_ != 0 || dev_ != 0; }
  // A descriptor open on the file while held (-1 otherwise), for reading its header.
  int Descriptor() const;

 private:
  friend class SharePin;
  unsigned long long dev_ = 0;
  unsigned long long key_ = 0;  // inode
  int id_ = 0;                  // this holder's entry
};

// Keeps the descriptor of a held file open while SQLite has the file open,
// which may outlast the handle that opened it (a file closed inside a
// transaction stays attached until the transaction ends). A pin refuses
// nobody.
class SharePin {
 public:
  SharePin() = default;
  SharePin(const SharePin&) = delete;
  SharePin& operator=(const SharePin&) = delete;
  ~SharePin() { Unpin(); }
  void Pin(const ShareLock& held);
  void Unpin();

 private:
  unsigned long long dev_ = 0;
  unsigned long long key_ = 0;
  bool pinned_ = false;
};

}  // namespace rt::sqlite
