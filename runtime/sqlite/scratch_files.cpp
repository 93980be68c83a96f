#include "runtime/sqlite/scratch_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

namespace rt::sqlite {
namespace {

constexpr char kPrefix[] = ".veltrane-";
constexpr char kJournal[] = "-journal";

std::atomic<int> scratchCounter{0};

// A process that exists, or one we may not signal (it exists too).
bool ProcessAlive(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

// Opening a data file whose journal is hot makes SQLite roll the journal back
// (or, when its super-journal is gone, finish it).
void OpenToRecover(const std::string& dataFile) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(dataFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 2000);
    sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
}

std::uint32_t BigEndian(const unsigned char* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Whether `journal` is a live or hot journal (its header begins with SQLite's
// magic; an unsynced journal begins with zeros and is ignored) whose tail
// names the super-journal `superName` (a file name). SQLite ends such a
// journal with the super-journal's path, its length, a checksum and the magic.
bool NamesSuperJournal(const std::string& journal, const std::string& superName) {
  static const unsigned char kMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
  std::ifstream in(journal, std::ios::binary);
  unsigned char head[8] = {};
  if (!in.read(reinterpret_cast<char*>(head), sizeof head) || std::memcmp(head, kMagic, 8) != 0)
    return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  unsigned char tail[16];
  if (size < 16 + 8 || !in.seekg(size - 16) || !in.read(reinterpret_cast<char*>(tail), 16) ||
      std::memcmp(tail + 8, kMagic, 8) != 0)
    return false;
  std::uint32_t length = BigEndian(tail);
  if (length == 0 || length > 4096 || std::streamoff(length) > size - 24) return false;
  std::string path(length, '\0');
  if (!in.seekg(size - 16 - length) || !in.read(path.data(), length)) return false;
  std::uint32_t sum = 0;
  for (unsigned char c : path) sum += c;
  if (sum != BigEndian(tail + 4)) return false;
  path.resize(std::strlen(path.c_str()));
  std::size_t slash = path.find_last_of('/');
  return (slash == std::string::npos ? path : path.substr(slash + 1)) == superName;
}

// Lets SQLite roll back every journal that still names a super-journal (in
// `folder`, file `name`); true when none names it any more.
//
// SQLite syncs the list before it writes the super-journal's name into any
// journal, so a list that is not whole (a power cut while it was written
// leaves holes of zeros, or garbage) was never synced, and no journal names
// its super-journal: that one may go.
bool RecoverJournalsOf(const std::string& folder, const std::string& name) {
  std::ifstream in(folder + "/" + name, std::ios::binary);
  if (!in) return true;  // gone already: SQLite removes it after the last rollback
  std::string list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  // The journals' full paths, each ended by a NUL.
  std::vector<std::string> journals;
  for (std::size_t start = 0; start < list.size();) {
    std::size_t end = list.find('\0', start);
    if (end == std::string::npos) return true;  // the last path unended
    std::string journal = list.substr(start, end - start);
    start = end + 1;
    if (journal.size() <= sizeof kJournal - 1 ||
        journal.compare(journal.size() - (sizeof kJournal - 1), std::string::npos, kJournal) != 0)
      return true;  // not a journal's path
    journals.push_back(std::move(journal));
  }
  for (const std::string& journal : journals) {
    if (!NamesSuperJournal(journal, name)) continue;
    OpenToRecover(journal.substr(0, journal.size() - (sizeof kJournal - 1)));
    if (NamesSuperJournal(journal, name)) return false;  // read-only or locked: later
  }
  return true;
}

// What a leftover connection ".veltrane-<pid>-<n>.tx" left.
struct Leftover {
  long Pid = 0;
  bool Scratch = false;                    // the .tx file itself
  std::vector<std::string> SuperJournals;  // file names
};

}  // namespace

bool ScratchFile::Create(const std::string& directory) {
  Remove();
  std::string folder = directory.empty() ? std::string(".") : directory;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = folder + "/" + kPrefix + std::to_string(::getpid()) + "-" +
                       std::to_string(++scratchCounter) + ".tx";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;  // a leftover under a number used before
    if (fd < 0) return false;
    ::flock(fd, LOCK_EX | LOCK_NB);
    path_ = path;
    fd_ = fd;
    return true;
  }
  return false;
}

void ScratchFile::Remove() {
  if (path_.empty()) return;
  ::unlink((path_ + kJournal).c_str());
  ::unlink(path_.c_str());
  ::close(fd_);  // the lock goes with the last descriptor, after the file
  path_.clear();
  fd_ = -1;
}

void RemoveLeftovers(const std::string& directory) {
  std::string folder = directory.empty() ? std::string(".") : directory;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::map<std::string, Leftover> leftovers;  // by "<pid>-<n>"
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0) continue;
    // "<pid>-<n>.tx", then nothing, "-journal" or "-mj<hex>".
    std::size_t dash = name.find('-', sizeof kPrefix - 1);
    std::size_t dot = name.find(".tx", sizeof kPrefix - 1);
    if (dash == std::string::npos || dot == std::string::npos || dash > dot) continue;
    std::string pid = name.substr(sizeof kPrefix - 1, dash - (sizeof kPrefix - 1));
    std::string number = name.substr(dash + 1, dot - dash - 1);
    auto digits = [](const std::string& text) {
      return !text.empty() && text.size() <= 9 &&
             text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(pid) || !digits(number)) continue;
    std::string tail = name.substr(dot + 3);
    Leftover& leftover = leftovers[pid + "-" + number];
    leftover.Pid = std::stol(pid);
    if (tail.empty()) leftover.Scratch = true;
    if (tail.compare(0, 3, "-mj") == 0) leftover.SuperJournals.push_back(name);
  }
  ::closedir(dir);

  for (const auto& [id, leftover] : leftovers) {
    if (leftover.Pid == ::getpid() || leftover.Pid <= 0 || ProcessAlive(leftover.Pid)) continue;
    std::string scratch = folder + "/" + kPrefix + id + ".tx";
    int fd = leftover.Scratch ? ::open(scratch.c_str(), O_RDWR | O_CLOEXEC) : -1;
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);  // another machine's live connection
      continue;
    }
    for (const auto& name : leftover.SuperJournals)
      if (RecoverJournalsOf(folder, name)) ::unlink((folder + "/" + name).c_str());
    ::unlink((scratch + kJournal).c_str());
    if (fd >= 0) {
      ::unlink(scratch.c_str());
      ::close(fd);
    }
  }
}

}  // namespace rt::sqlite
