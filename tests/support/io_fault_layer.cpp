#include "tests/support/io_fault_layer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace iofault {
namespace {

enum class Fault { None, FailOnce, FailOn, Cut };
enum class Fate { Drop, Keep, Tear };
enum Call { kOpen, kRead, kWrite, kTruncate, kSync, kSize, kLock, kUnlock, kDelete, kAccess };
const char* const kCallNames[] = {"open", "read",   "write",  "truncate", "sync",
                                  "size", "lock",   "unlock", "delete",   "access"};
// The error each kind of call fails with (a write from then on: disk full).
const int kErrors[] = {SQLITE_CANTOPEN,       SQLITE_IOERR_READ,  SQLITE_IOERR_WRITE,
                       SQLITE_IOERR_TRUNCATE, SQLITE_IOERR_FSYNC, SQLITE_IOERR_FSTAT,
                       SQLITE_IOERR_LOCK,     SQLITE_IOERR_UNLOCK, SQLITE_IOERR_DELETE,
                       SQLITE_IOERR_ACCESS};

// What the system's cache holds of a file beyond what its last sync put on
// the disk, block by block for reading it back, and as the writes and
// truncations in their order for the disk's fate at a power cut.
constexpr std::int64_t kBlock = 512;
struct Unsynced {
  struct Op {
    std::int64_t Offset;  // a truncation's new size
    std::string Bytes;
    bool Truncate;
  };
  std::int64_t Size = 0;   // the file's size as the system shows it
  std::int64_t Floor = 0;  // bytes from here on that no block holds read as zeros
  std::unordered_map<std::int64_t, std::string> Blocks;
  std::vector<Op> Ops;
};

struct LayerFile {
  sqlite3_file Base;
  sqlite3_file* Real;
  std::string Path;  // empty for a nameless temporary file
  const char* Role;
  int Lock;
};

struct State {
  std::recursive_mutex Mutex;
  Fault What = Fault::None;
  long At = 0;
  Fate Left = Fate::Drop;
  unsigned Seed = 1;
  long Calls = 0;
  bool Failing = false;
  bool InCommit = false;
  int WriteLocked = 0;  // files at a RESERVED lock or above
  std::FILE* CountLog = nullptr;
  int FaultLog = -1;
  sqlite3_vfs* Real = nullptr;
  sqlite3_vfs Vfs{};
  sqlite3_io_methods Methods{};
  std::map<std::string, Unsynced> Cache;  // by path, power-cut plans only
  std::unordered_map<void*, std::string> Sites;
};

// Never destroyed: SQLite may close files while the process exits.
State& S() {
  static State* state = new State;
  return *state;
}

bool EndsWith(const std::string& text, const char* end) {
  const std::size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

const char* RoleOf(const std::string& path, int flags) {
  if (path.empty()) return "temp";
  if ((flags & SQLITE_OPEN_SUPER_JOURNAL) || path.find(".tx-mj") != std::string::npos)
    return "super-journal";
  if (EndsWith(path, ".tx-journal")) return "scratch-journal";
  if (EndsWith(path, "-journal")) return "journal";
  if (EndsWith(path, ".tx")) return "scratch";
  return (flags & (SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL)) || flags == 0 ? "data"
                                                                                  : "temp";
}

const std::string& SiteOf(void* address) {
  State& s = S();
  auto it = s.Sites.find(address);
  if (it != s.Sites.end()) return it->second;
  std::string site = "?";
  Dl_info info{};
  if (::dladdr(address, &info) && info.dli_fname) {
    const char* name = std::strrchr(info.dli_fname, '/');
    char offset[32];
    std::snprintf(offset, sizeof offset, "+0x%lx",
                  static_cast<unsigned long>(static_cast<char*>(address) -
                                             static_cast<char*>(info.dli_fbase)));
    site = std::string(name ? name + 1 : info.dli_fname) + offset;
  }
  return s.Sites.emplace(address, site).first->second;
}

void ApplyOp(int fd, const Unsynced::Op& op, std::size_t bytes) {
  if (op.Truncate) {
    (void)!::ftruncate(fd, op.Offset);
  } else {
    (void)!::pwrite(fd, op.Bytes.data(), std::min(bytes, op.Bytes.size()), op.Offset);
  }
}

// The disk after the power went: each file gets the fate of its unsynced
// writes; then the process ends as abruptly as the power.
[[noreturn]] void CutThePower() {
  State& s = S();
  std::mt19937 random(s.Seed);
  for (const auto& [path, unsynced] : s.Cache) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0 || unsynced.Ops.empty()) {
      if (fd >= 0) ::close(fd);
      continue;
    }
    const std::vector<Unsynced::Op>& ops = unsynced.Ops;
    if (s.Left == Fate::Keep) {
      for (const Unsynced::Op& op : ops)
        if (random() % 2) ApplyOp(fd, op, op.Bytes.size());
    } else if (s.Left == Fate::Tear) {
      // Written in order until the power went part way through one write:
      // its first sectors are new, the next one garbage, the rest as before.
      const std::size_t torn = random() % ops.size();
      for (std::size_t i = 0; i < torn; ++i) ApplyOp(fd, ops[i], ops[i].Bytes.size());
      const Unsynced::Op& op = ops[torn];
      if (op.Truncate) {
        if (random() % 2) ApplyOp(fd, op, 0);
      } else {
        const std::size_t sectors = (op.Bytes.size() + kBlock - 1) / kBlock;
        const std::size_t whole = (random() % sectors) * kBlock;
        ApplyOp(fd, op, whole);
        std::string garbage(std::min<std::size_t>(kBlock, op.Bytes.size() - whole), '\0');
        for (char& c : garbage) c = static_cast<char>(random());
        (void)!::pwrite(fd, garbage.data(), garbage.size(), op.Offset + whole);
      }
    }
    ::close(fd);
  }
  ::raise(SIGKILL);
  std::abort();
}

// Counts a call; SQLITE_OK to go on with it, else the error it fails with.
// A power cut does not come back.
int Count(Call call, const char* role, void* address) {
  State& s = S();
  ++s.Calls;
  if (s.CountLog) {
    std::fprintf(s.CountLog, "call %ld %s %s %s %d\n", s.Calls, kCallNames[call], role,
                 SiteOf(address).c_str(), s.InCommit ? 1 : 0);
  }
  const bool strike = s.What != Fault::None && s.Calls == s.At;
  if (strike && s.FaultLog >= 0) {
    const std::string line = "fault " + std::to_string(s.Calls) + " " + kCallNames[call] + " " +
                             role + " " + SiteOf(address) + "\n";
    (void)!::write(s.FaultLog, line.data(), line.size());
  }
  if (strike && s.What == Fault::Cut) CutThePower();
  if (strike && s.What == Fault::FailOn) s.Failing = true;
  if (strike || s.Failing) return call == kWrite && s.Failing ? SQLITE_FULL : kErrors[call];
  return SQLITE_OK;
}

LayerFile* Of(sqlite3_file* file) { return reinterpret_cast<LayerFile*>(file); }

// The file's unsynced writes, or null when the plan keeps none or it has none
// (`make`: start them).
Unsynced* UnsyncedOf(LayerFile* f, bool make) {
  State& s = S();
  if (s.What != Fault::Cut || f->Path.empty()) return nullptr;
  auto it = s.Cache.find(f->Path);
  if (it != s.Cache.end()) return &it->second;
  if (!make) return nullptr;
  sqlite3_int64 size = 0;
  f->Real->pMethods->xFileSize(f->Real, &size);
  Unsynced& u = s.Cache[f->Path];
  u.Size = u.Floor = size;
  return &u;
}

// Block `block` as the system shows it; `scratch` holds it when no block does.
const std::string& BlockOf(LayerFile* f, Unsynced& u, std::int64_t block, std::string& scratch) {
  auto it = u.Blocks.find(block);
  if (it != u.Blocks.end()) return it->second;
  scratch.assign(kBlock, '\0');
  const std::int64_t start = block * kBlock;
  if (start < u.Floor) {
    f->Real->pMethods->xRead(f->Real, scratch.data(), kBlock, start);  // zeros past the end
    if (u.Floor - start < kBlock) std::fill(scratch.begin() + (u.Floor - start), scratch.end(), '\0');
  }
  return scratch;
}

int LayerClose(sqlite3_file* file) {
  LayerFile* f = Of(file);
  const int rc = f->Real->pMethods ? f->Real->pMethods->xClose(f->Real) : SQLITE_OK;
  f->~LayerFile();
  return rc;
}

int LayerRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  std::lock_guard lock(S().Mutex);
  LayerFile* f = Of(file);
  if (int rc = Count(kRead, f->Role, __builtin_return_address(0))) return rc;
  Unsynced* u = UnsyncedOf(f, false);
  if (!u) return f->Real->pMethods->xRead(f->Real, buffer, amount, offset);
  char* out = static_cast<char*>(buffer);
  std::string scratch;
  for (std::int64_t at = offset; at < offset + amount;) {
    const std::int64_t within = at % kBlock;
    const std::int64_t n = std::min<std::int64_t>(kBlock - within, offset + amount - at);
    std::memcpy(out + (at - offset), BlockOf(f, *u, at / kBlock, scratch).data() + within, n);
    at += n;
  }
  if (offset + amount <= u->Size) return SQLITE_OK;
  const std::int64_t from = std::max<std::int64_t>(offset, u->Size);
  std::memset(out + (from - offset), 0, offset + amount - from);
  return SQLITE_IOERR_SHORT_READ;
}

int LayerWrite(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
  std::lock_guard lock(S().Mutex);
  LayerFile* f = Of(file);
  if (int rc = Count(kWrite, f->Role, __builtin_return_address(0))) return rc;
  Unsynced* u = UnsyncedOf(f, true);
  if (!u) return f->Real->pMethods->xWrite(f->Real, buffer, amount, offset);
  const char* in = static_cast<const char*>(buffer);
  std::string scratch;
  for (std::int64_t at = offset; at < offset + amount;) {
    const std::int64_t block = at / kBlock, within = at % kBlock;
    const std::int64_t n = std::min<std::int64_t>(kBlock - within, offset + amount - at);
    auto it = u->Blocks.find(block);
    if (it == u->Blocks.end()) it = u->Blocks.emplace(block, BlockOf(f, *u, block, scratch)).first;
    std::memcpy(it->second.data() + within, in + (at - offset), n);
    at += n;
  }
  u->Size = std::max<std::int64_t>(u->Size, offset + amount);
  u->Ops.push_back({offset, std::string(in, amount), false});
  return SQLITE_OK;
}

int LayerTruncate(sqlite3_file* file, sqlite3_int64 size) {
  std::lock_guard lock(S().Mutex);
  LayerFile* f = Of(file);
  if (int rc = Count(kTruncate, f->Role, __builtin_return_address(0))) return rc;
  Unsynced* u = UnsyncedOf(f, true);
  if (!u) return f->Real->pMethods->xTruncate(f->Real, size);
  u->Size = size;
  u->Floor = std::min<std::int64_t>(u->Floor, size);
  for (auto it = u->Blocks.begin(); it != u->Blocks.end();) {
    const std::int64_t start = it->first * kBlock;
    if (start >= size) {
      it = u->Blocks.erase(it);
      continue;
    }
    if (size - start < kBlock) std::fill(it->second.begin() + (size - start), it->second.end(), '\0');
    ++it;
  }
  u->Ops.push_back({size, {}, true});
  return SQLITE_OK;
}

int LayerSync(sqlite3_file* file, int flags) {
  std::lock_guard lock(S().Mutex);
  LayerFile* f = Of(file);
  if (int rc = Count(kSync, f->Role, __builtin_return_address(0))) return rc;
  if (Unsynced* u = UnsyncedOf(f, false)) {
    for (const Unsynced::Op& op : u->Ops) {
      const int rc = op.Truncate ? f->Real->pMethods->xTruncate(f->Real, op.Offset)
                                 : f->Real->pMethods->xWrite(f->Real, op.Bytes.data(),
                                                             static_cast<int>(op.Bytes.size()),
                                                             op.Offset);
      if (rc != SQLITE_OK) return rc;
    }
    S().Cache.erase(f->Path);
  }
  return f->Real->pMethods->xSync(f->Real, flags);
}

int LayerFileSize(sqlite3_file* file, sqlite3_int64* size) {
  std::lock_guard lock(S().Mutex);
  LayerFile* f = Of(file);
  if (int rc = Count(kSize, f->Role, __builtin_return_address(0))) return rc;
  if (Unsynced* u = UnsyncedOf(f, false)) {
    *size = u->Size;
    return SQLITE_OK;
  }
  return f->Real->pMethods->xFileSize(f->Real, size);
}

// Where a commit ends: the last file that held a write lock lets it go.
void LockMoved(LayerFile* f, int level) {
  State& s = S();
  const bool before = f->Lock >= SQLITE_LOCK_RESERVED, after = level >= SQLITE_LOCK_RESERVED;
  f->Lock = level;
  if (before == after) return;
  s.WriteLocked += after ? 1 : -1;
  if (s.WriteLocked == 0) s.InCommit = false;
}

int MoveLock(sqlite3_file* file, int level, Call call, void* address) {
  std::lock_guard lock(S().Mutex);
  LayerFile* f = Of(file);
  if (int rc = Count(call, f->Role, address)) return rc;
  const sqlite3_io_methods* real = f->Real->pMethods;
  const int rc = (call == kLock ? real->xLock : real->xUnlock)(f->Real, level);
  if (rc == SQLITE_OK) LockMoved(f, level);
  return rc;
}

int LayerLock(sqlite3_file* file, int level) {
  return MoveLock(file, level, kLock, __builtin_return_address(0));
}

int LayerUnlock(sqlite3_file* file, int level) {
  return MoveLock(file, level, kUnlock, __builtin_return_address(0));
}

int LayerCheckReservedLock(sqlite3_file* file, int* out) {
  return Of(file)->Real->pMethods->xCheckReservedLock(Of(file)->Real, out);
}

int LayerFileControl(sqlite3_file* file, int op, void* arg) {
  // A size hint would have the file grown behind the unsynced writes' back.
  if (op == SQLITE_FCNTL_SIZE_HINT && S().What == Fault::Cut) return SQLITE_OK;
  return Of(file)->Real->pMethods->xFileControl(Of(file)->Real, op, arg);
}

int LayerSectorSize(sqlite3_file* file) {
  return Of(file)->Real->pMethods->xSectorSize(Of(file)->Real);
}

// Only the property the power cut keeps: a write changes nothing outside its range.
int LayerDeviceCharacteristics(sqlite3_file* file) {
  return Of(file)->Real->pMethods->xDeviceCharacteristics(Of(file)->Real) &
         SQLITE_IOCAP_POWERSAFE_OVERWRITE;
}

int LayerOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  State& s = S();
  std::lock_guard lock(s.Mutex);
  LayerFile* f = new (file) LayerFile{};
  f->Base.pMethods = nullptr;
  f->Real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + sizeof(LayerFile));
  f->Path = name ? name : "";
  f->Role = RoleOf(f->Path, flags);
  f->Lock = SQLITE_LOCK_NONE;
  int rc = Count(kOpen, f->Role, __builtin_return_address(0));
  if (rc == SQLITE_OK) rc = s.Real->xOpen(s.Real, name, f->Real, flags, outFlags);
  if (rc != SQLITE_OK || !f->Real->pMethods) {
    if (f->Real->pMethods) f->Real->pMethods->xClose(f->Real);
    f->~LayerFile();
    return rc == SQLITE_OK ? SQLITE_CANTOPEN : rc;
  }
  f->Base.pMethods = &s.Methods;
  return SQLITE_OK;
}

int LayerDelete(sqlite3_vfs*, const char* name, int syncDir) {
  State& s = S();
  std::lock_guard lock(s.Mutex);
  if (int rc = Count(kDelete, RoleOf(name, 0), __builtin_return_address(0))) return rc;
  const int rc = s.Real->xDelete(s.Real, name, syncDir);
  if (rc == SQLITE_OK) s.Cache.erase(name);
  return rc;
}

int LayerAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
  State& s = S();
  std::lock_guard lock(s.Mutex);
  if (int rc = Count(kAccess, RoleOf(name, 0), __builtin_return_address(0))) return rc;
  return s.Real->xAccess(s.Real, name, flags, out);
}

int LayerFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return S().Real->xFullPathname(S().Real, name, size, out);
}
void* LayerDlOpen(sqlite3_vfs*, const char* name) { return S().Real->xDlOpen(S().Real, name); }
void LayerDlError(sqlite3_vfs*, int size, char* out) { S().Real->xDlError(S().Real, size, out); }
void (*LayerDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return S().Real->xDlSym(S().Real, handle, symbol);
}
void LayerDlClose(sqlite3_vfs*, void* handle) { S().Real->xDlClose(S().Real, handle); }
int LayerRandomness(sqlite3_vfs*, int size, char* out) {
  return S().Real->xRandomness(S().Real, size, out);
}
int LayerSleep(sqlite3_vfs*, int microseconds) { return S().Real->xSleep(S().Real, microseconds); }
int LayerCurrentTime(sqlite3_vfs*, double* now) { return S().Real->xCurrentTime(S().Real, now); }
int LayerGetLastError(sqlite3_vfs*, int size, char* out) {
  return S().Real->xGetLastError(S().Real, size, out);
}
int LayerCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) {
  return S().Real->xCurrentTimeInt64(S().Real, now);
}

int OnCommit(void*) {
  S().InCommit = true;
  return 0;
}

int WatchCommits(sqlite3* db, char**, const sqlite3_api_routines*) {
  sqlite3_commit_hook(db, OnCommit, nullptr);
  return SQLITE_OK;
}

bool ParsePlan(const std::string& text, State& s) {
  if (text == "count") return true;
  static const std::map<std::string, std::pair<Fault, Fate>> kinds = {
      {"fail-once", {Fault::FailOnce, Fate::Drop}}, {"fail-on", {Fault::FailOn, Fate::Drop}},
      {"cut-drop", {Fault::Cut, Fate::Drop}},       {"cut-keep", {Fault::Cut, Fate::Keep}},
      {"cut-tear", {Fault::Cut, Fate::Tear}}};
  const std::size_t colon = text.find(':');
  auto kind = kinds.find(text.substr(0, colon));
  if (colon == std::string::npos || kind == kinds.end()) return false;
  char* end = nullptr;
  s.At = std::strtol(text.c_str() + colon + 1, &end, 10);
  if (kind->second.first == Fault::Cut) {
    if (*end != ':') return false;
    s.Seed = static_cast<unsigned>(std::strtoul(end + 1, &end, 10));
  }
  if (*end != '\0' || s.At < 1) return false;
  s.What = kind->second.first;
  s.Left = kind->second.second;
  return true;
}

}  // namespace

bool InstallFromEnvironment(std::string& error) {
  const char* plan = std::getenv(kPlanVariable);
  if (!plan || !*plan) return true;
  State& s = S();
  if (!ParsePlan(plan, s)) {
    error = std::string("cannot read ") + kPlanVariable + "=" + plan;
    return false;
  }
  if (const char* log = std::getenv(kLogVariable); log && *log) {
    if (s.What == Fault::None) {
      s.CountLog = std::fopen(log, "w");
    } else {
      s.FaultLog = ::open(log, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    }
  }
  s.Real = sqlite3_vfs_find(nullptr);
  sqlite3_io_methods& m = s.Methods;
  m.iVersion = 1;  // no memory mapping: every read goes through xRead
  m.xClose = LayerClose;
  m.xRead = LayerRead;
  m.xWrite = LayerWrite;
  m.xTruncate = LayerTruncate;
  m.xSync = LayerSync;
  m.xFileSize = LayerFileSize;
  m.xLock = LayerLock;
  m.xUnlock = LayerUnlock;
  m.xCheckReservedLock = LayerCheckReservedLock;
  m.xFileControl = LayerFileControl;
  m.xSectorSize = LayerSectorSize;
  m.xDeviceCharacteristics = LayerDeviceCharacteristics;
  sqlite3_vfs& v = s.Vfs;
  v.iVersion = 2;
  v.szOsFile = static_cast<int>(sizeof(LayerFile)) + s.Real->szOsFile;
  v.mxPathname = s.Real->mxPathname;
  v.zName = "iofault";
  v.xOpen = LayerOpen;
  v.xDelete = LayerDelete;
  v.xAccess = LayerAccess;
  v.xFullPathname = LayerFullPathname;
  v.xDlOpen = LayerDlOpen;
  v.xDlError = LayerDlError;
  v.xDlSym = LayerDlSym;
  v.xDlClose = LayerDlClose;
  v.xRandomness = LayerRandomness;
  v.xSleep = LayerSleep;
  v.xCurrentTime = LayerCurrentTime;
  v.xGetLastError = LayerGetLastError;
  v.xCurrentTimeInt64 = LayerCurrentTimeInt64;
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(WatchCommits));
  if (sqlite3_vfs_register(&v, 1) != SQLITE_OK) {
    error = "cannot register the test OS layer";
    return false;
  }
  return true;
}

}  // namespace iofault
