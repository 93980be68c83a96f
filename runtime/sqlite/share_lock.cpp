#include "runtime/sqlite/share_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "runtime/core/error_state.h"
#include "runtime/files/driver.h"

namespace rt::sqlite {
namespace {

struct Holder {
  int Access;  // 0 read, 1 write, 2 read/write
  int Share;   // sharing bits
};

struct Entry {
  int Fd = -1;
  bool Exclusive = false;  // the advisory lock's current level
  std::map<int, Holder> Holders;
  int Pins = 0;
};

struct Table {
  std::mutex mutex;
  std::map<std::pair<unsigned long long, unsigned long long>, Entry> entries;  // guarded by mutex
  int nextId = 1;
};

Table& Locks() {
  static Table table;
  return table;
}

bool Reads(int access) { return access == kAccessRead || access == kAccessReadWrite; }
bool Writes(int access) { return access == kAccessWrite || access == kAccessReadWrite; }
bool DeniesRead(int share) { return share == kShareDenyAll || share == kShareDenyRead; }
bool DeniesWrite(int share) { return share == kShareDenyAll || share == kShareDenyWrite; }
bool DeniesAny(int share) { return DeniesRead(share) || DeniesWrite(share); }

bool Compatible(const Holder& a, const Holder& b) {
  if ((Reads(a.Access) && DeniesRead(b.Share)) || (Writes(a.Access) && DeniesWrite(b.Share)))
    return false;
  if ((Reads(b.Access) && DeniesRead(a.Share)) || (Writes(b.Access) && DeniesWrite(a.Share)))
    return false;
  return true;
}

bool NeedsExclusive(const Entry& entry) {
  for (const auto& [id, h] : entry.Holders)
    if (DeniesAny(h.Share)) return true;
  return false;
}

// Brings the advisory lock to the level the holders need, without waiting.
bool Relock(Entry& entry, bool exclusive) {
  if (entry.Exclusive == exclusive) return true;
  if (::flock(entry.Fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
    entry.Exclusive = exclusive;
    return true;
  }
  // A failed conversion may have dropped the lock held before; take it back.
  ::flock(entry.Fd, (entry.Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  return false;
}

}  // namespace

int ShareLock::Acquire(const std::string& path, int mode, int waitSeconds) {
  Release();
  Holder request{mode & 0x03, mode & 0xF0};
  if (request.Access == 3) request.Access = kAccessReadWrite;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  for (;;) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? kFileNotFound : kAccessDenied;
    auto key = std::make_pair(static_cast<unsigned long long>(st.st_dev),
                              static_cast<unsigned long long>(st.st_ino));
    {
      auto& table = Locks();
      std::lock_guard lock(table.mutex);
      auto& entry = table.entries[key];
      bool ok = true;
      for (const auto& [id, h] : entry.Holders) ok = ok && Compatible(request, h);
      if (ok && entry.Fd < 0) {
        entry.Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (entry.Fd < 0) {
          table.entries.erase(key);
          return errno == ENOENT ? kFileNotFound : kAccessDenied;
        }
        if (::flock(entry.Fd, LOCK_SH | LOCK_NB) != 0) {
          ::close(entry.Fd);
          entry.Fd = -1;
          ok = false;
        }
      }
      if (ok && (!DeniesAny(request.Share) || Relock(entry, true))) {
        int id = table.nextId++;
        entry.Holders.emplace(id, request);
        dev_ = key.first;
        key_ = key.second;
        id_ = id;
        return kNoError;
      }
      if (entry.Holders.empty() && entry.Pins == 0) {
        if (entry.Fd >= 0) ::close(entry.Fd);
        table.entries.erase(key);
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) return kAccessDenied;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void ShareLock::Release() {
  if (id_ == 0) return;
  auto& table = Locks();
  std::lock_guard lock(table.mutex);
  auto it = table.entries.find({dev_, key_});
  if (it != table.entries.end()) {
    auto& entry = it->second;
    entry.Holders.erase(id_);
    if (entry.Holders.empty() && entry.Pins == 0) {
      ::close(entry.Fd);  // drops the advisory lock with it
      table.entries.erase(it);
    } else if (entry.Exclusive && !NeedsExclusive(entry)) {
      Relock(entry, false);
    }
  }
  dev_ = key_ = 0;
  id_ = 0;
}

void SharePin::Pin(const ShareLock& held) {
  Unpin();
  if (held.id_ == 0) return;
  auto& table = Locks();
  std::lock_guard lock(table.mutex);
  auto it = table.entries.find({held.dev_, held.key_});
  if (it == table.entries.end()) return;
  ++it->second.Pins;
  dev_ = held.dev_;
  key_ = held.key_;
  pinned_ = true;
}

void SharePin::Unpin() {
  if (!pinned_) return;
  auto& table = Locks();
  std::lock_guard lock(table.mutex);
  auto it = table.entries.find({dev_, key_});
  if (it != table.entries.end()) {
    auto& entry = it->second;
    --entry.Pins;
    if (entry.Holders.empty() && entry.Pins == 0) {
      ::close(entry.Fd);
      table.entries.erase(it);
    }
  }
  pinned_ = false;
}

int ShareLock::Descriptor() const {
  if (id_ == 0) return -1;
  auto& table = Locks();
  std::lock_guard lock(table.mutex);
  auto it = table.entries.find({dev_, key_});
  return it == table.entries.end() ? -1 : it->second.Fd;
}

}  // namespace rt::sqlite
