// The scratch main databases of the KEYED driver's connections, and what
// killed runs leave beside them.
//
// A connection's main database is an empty file ".veltrane-<pid>-<n>.tx"
// beside the data (keyed_driver.cpp says why). A commit over several files
// first writes a super-journal ".veltrane-<pid>-<n>.tx-mj<hex>" listing the
// journal of every file it changes, and each of those journals names the
// super-journal; deleting the super-journal is the moment the commit takes
// effect. While it exists, SQLite rolls a journal that names it back the next
// time anyone opens that data file; once it is gone, SQLite takes every such
// journal for a finished commit and keeps what the data file holds, half of
// a commit if the process died in the middle. So a super-journal may go only
// when no journal names it any more.
//
// A process killed before its connection closed leaves its scratch file (and
// the file's journal); one killed inside a commit over several files leaves
// the super-journal too. The process in the name owns a scratch file and holds
// an advisory lock (flock) on it while its connection lives; the lock also
// guards a folder shared with another machine, where the number names no
// process here.
#pragma once

#include <string>

namespace rt::sqlite {

// A scratch database of this process, locked while the object holds it.
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() { Remove(); }

  // Makes a new empty scratch file in `directory` and locks it; false when
  // the folder takes no file.
  bool Create(const std::string& directory);
  // Removes the file and its journal and lets the lock go (SQLite must have
  // closed it first).
  void Remove();
  // Empty when there is none.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// Clears `directory` of the leftovers of connections whose process is gone and
// whose scratch file nobody locks: first it opens every data file whose
// journal a leftover super-journal lists, so that SQLite rolls the journal
// back, then it removes each super-journal that no journal names any more,
// and the scratch files with their journals. A super-journal that a journal
// may still name stays (a later start tries again).
void RemoveLeftovers(const std::string& directory);

}  // namespace rt::sqlite
