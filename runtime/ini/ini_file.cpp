#include "runtime/ini/ini_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "runtime/core/error_state.h"

namespace rt {
namespace {

// Serialises read-change-replace cycles in this process.
std::mutex& WriteLock() {
  static std::mutex lock;
  return lock;
}

std::string MapSeparators(std::string_view file) {
  std::string path(file);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

int Fail(int code, const std::string& path, int reason) {
  SetError(code, path, std::to_string(reason), std::error_code(reason, std::generic_category()).message());
  return code;
}

int FailWithErrno(const std::string& path, int reason) {
  bool folderMissing = reason == ENOENT || reason == ENOTDIR;
  return Fail(folderMissing ? kFileNotFound : kAccessDenied, path, reason);
}

// Keeps a damaged file beside itself as "<path>.damaged" (or ".damaged-2" up
// to "-99" when earlier copies are there) before a write replaces it: what
// could not be read is not ours to throw away. A hard link, so the file
// itself is untouched until the replace. Gives 0 or the errno of the failure.
int KeepDamaged(const std::string& path) {
  constexpr int kMostCopies = 99;
  for (int n = 1; n <= kMostCopies; ++n) {
    std::string copy = path;
    copy += ".damaged";
    if (n > 1) {
      copy += "-";
      copy += std::to_string(n);
    }
    if (::link(path.c_str(), copy.c_str()) == 0) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Reads the whole file; reason gets errno when the result is Unreadable.
IniReadResult ReadWhole(const std::string& path, IniDocument& document, int& reason) {
  document = IniDocument();
  reason = 0;
  // O_NONBLOCK so a FIFO put in the file's place cannot hang the reader.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = errno;
    return (reason == ENOENT || reason == ENOTDIR) ? IniReadResult::Missing : IniReadResult::Unreadable;
  }
  struct stat st {};
  IniReadResult result = IniReadResult::Read;
  std::string text;
  if (::fstat(fd, &st) != 0) {
    reason = errno;
    result = IniReadResult::Unreadable;
  } else if (!S_ISREG(st.st_mode)) {
    reason = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    result = IniReadResult::Unreadable;
  } else if (static_cast<std::size_t>(st.st_size) > kMaxIniBytes) {
    result = IniReadResult::Damaged;
  } else {
    char buffer[64 * 1024];
    for (;;) {
      ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        reason = errno;
        result = IniReadResult::Unreadable;
        break;
      }
      if (got == 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
      if (text.size() > kMaxIniBytes) {
        result = IniReadResult::Damaged;
        break;
      }
    }
  }
  ::close(fd);
  if (result != IniReadResult::Read) return result;
  std::optional<IniDocument> parsed = IniDocument::Parse(text);
  if (!parsed) return IniReadResult::Damaged;
  document = std::move(*parsed);
  return IniReadResult::Read;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t put = ::write(fd, text.data(), text.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// Removes the temporary files ".<base>.<pid>.<n>.tmp" in `folder` that a
// killed process left: its process is gone and nobody locks the file (a
// writer holds a lock on its temporary file, which also guards a folder
// shared with another machine, where the number names no process here).
void RemoveDeadTemporaries(const std::string& folder, const std::string& base) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const std::string prefix = "." + base + ".";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
      continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
      continue;
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(path.c_str());
    ::close(fd);
  }
  ::closedir(dir);
}

// Replaces target with text through a temporary file in the same folder.
// existing is the target's status when it exists, so the new file keeps its
// permissions and owner. Returns 0 or errno.
int ReplaceFile(const std::string& target, std::string_view text, const struct stat* existing) {
  static std::atomic<unsigned> counter{0};
  std::size_t slash = target.rfind('/');
  std::string folder = slash == target.npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  std::string base = slash == target.npos ? target : target.substr(slash + 1);
  RemoveDeadTemporaries(folder, base);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = folder + "/." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  (void)::flock(fd, LOCK_EX);  // ours until it is renamed or removed
  int reason = 0;
  if (existing) {
    if (::fchmod(fd, existing->st_mode & 07777) != 0) reason = errno;
    // Only root can hand the file back to its owner; for anyone else the owner is already right.
    if (reason == 0 && ::geteuid() == 0) (void)::fchown(fd, existing->st_uid, existing->st_gid);
  }
  if (reason == 0 && !WriteAll(fd, text)) reason = errno ? errno : EIO;
  if (reason == 0 && ::fsync(fd) != 0) reason = errno;
  if (::close(fd) != 0 && reason == 0) reason = errno;
  if (reason == 0 && ::rename(temp.c_str(), target.c_str()) != 0) reason = errno;
  if (reason != 0) {
    ::unlink(temp.c_str());
    return reason;
  }
  // Make the rename itself durable.
  int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
  return 0;
}

}  // namespace

IniReadResult ReadIniFile(const std::string& path, IniDocument& document) {
  int reason = 0;
  return ReadWhole(path, document, reason);
}

int UpdateIniFile(const std::string& path, const std::function<bool(IniDocument&)>& change) {
  std::lock_guard<std::mutex> hold(WriteLock());
  std::string target = path;
  struct stat linkStatus {};
  if (::lstat(path.c_str(), &linkStatus) == 0 && S_ISLNK(linkStatus.st_mode)) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return FailWithErrno(path, errno);
    target = resolved;
    std::free(resolved);
  }

  IniDocument document;
  int reason = 0;
  IniReadResult read = ReadWhole(target, document, reason);
  if (read == IniReadResult::Unreadable) return Fail(kAccessDenied, path, reason);
  struct stat existing {};
  bool exists = read != IniReadResult::Missing && ::stat(target.c_str(), &existing) == 0;
  if (exists && ::access(target.c_str(), W_OK) != 0) return Fail(kAccessDenied, path, errno);
  // Without any write permission the file is read-only on purpose, also to
  // a user the system lets write anything (root).
  if (exists && (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    return Fail(kAccessDenied, path, EACCES);

  if (!change(document)) {
    ClearError();
    return 0;
  }
  if (read == IniReadResult::Damaged) {
    reason = KeepDamaged(target);
    if (reason != 0) return FailWithErrno(path, reason);
  }
  reason = ReplaceFile(target, document.Text(), exists ? &existing : nullptr);
  if (reason != 0) return FailWithErrno(path, reason);
  ClearError();
  return 0;
}

IniDocument ReadIni(std::string_view file) {
  IniDocument document;
  ReadIniFile(MapSeparators(file), document);
  return document;
}

std::string GetIni(std::string_view section, std::string_view entry, std::string_view defaultValue,
                   std::string_view file) {
  if (file.empty()) {
    SetError(kBadRequest);
    return std::string(defaultValue);
  }
  IniDocument document;
  ReadIniFile(MapSeparators(file), document);
  ClearError();
  std::optional<std::string> value = document.Get(section, entry);
  return value ? std::move(*value) : std::string(defaultValue);
}

int PutIni(std::string_view section, std::string_view entry, std::optional<std::string_view> value,
           std::string_view file) {
  std::string path = MapSeparators(file);
  if (file.empty() || !IniDocument::ValidSection(section) || !IniDocument::ValidKey(entry) ||
      (value && !IniDocument::ValidValue(*value))) {
    SetError(kBadRequest, path);
    return kBadRequest;
  }
  return UpdateIniFile(path, [&](IniDocument& document) {
    if (!value) return document.Remove(section, entry);
    // An unchanged value needs no rewrite (and no fsync).
    if (document.Get(section, entry) == *value) return false;
    document.Set(section, entry, *value);
    return true;
  });
}

}  // namespace rt
