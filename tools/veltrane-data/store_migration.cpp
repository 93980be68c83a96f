#include "tools/veltrane-data/store_migration.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/schema.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/postgres/keyed_driver.h"
#include "runtime/postgres/server_connection.h"
#include "runtime/postgres/server_transaction.h"

namespace veltrane_data {
namespace {

namespace fs = std::filesystem;

// Seconds the source may keep another program's write waiting for, and the
// target's transaction waits for its locks.
constexpr int kWaitSeconds = 30;
constexpr char kStagePrefix[] = ".veltrane-migrate-";

using Files = std::vector<std::unique_ptr<rt::File>>;

std::string Why() {
  std::string text = rt::ErrorText();
  if (!rt::FileErrorText().empty() && rt::FileErrorText() != text)
    text += " (" + rt::FileErrorText() + ")";
  return text;
}

// Every data file with a disk file of its own (the alias shares Timecard's).
std::vector<const rt::FileDeclaration*> DataFiles() {
  std::vector<const rt::FileDeclaration*> files;
  for (const auto* decl : app::AllFiles())
    if (decl != &app::AliasTimeCardFile()) files.push_back(decl);
  return files;
}

std::string TableOf(const rt::FileDeclaration& decl) {
  return "table " + fs::path(decl.Path()).stem().string();
}

// Ends, when it goes, what the thread has begun: the runtime's transaction,
// the server transaction, the server choice.
struct Ending {
  rt::postgres::ServerTransaction Server;
  ~Ending() {
    rt::TxRollback();
    Server.Rollback();
    rt::postgres::SetServer("");
  }
};

void Sum(std::uint64_t& hash, const std::uint8_t* bytes, int length) {
  for (int i = 0; i < length; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ULL;
  }
}

// Reads `file` (open) in the order of its first key, from the start: each
// record goes to `each` and into `sum`. False with `error` when a read fails
// or `each` does.
template <typename Each>
bool ReadInKeyOrder(rt::File& file, MigratedFile& sum, Each&& each, std::string& error) {
  sum = {file.Declaration().Label(), 0, 14695981039346656037ULL};
  rt::FileSetProperty(file, rt::kPropReadAhead, "500");
  rt::FileSetKey(file, file.Declaration().KeyCount() > 0 ? 1 : 0);
  for (;;) {
    rt::FileNext(file);
    if (rt::ErrorCode() == rt::kRecordNotAvailable) return true;
    if (rt::ErrorCode() != 0) {
      error = "cannot read record " + std::to_string(sum.Records + 1) + " of " +
              file.Declaration().Label() + ": " + Why();
      return false;
    }
    Sum(sum.Checksum, file.Buffer(), file.RecordLength());
    ++sum.Records;
    if (!each()) return false;
  }
}

// Opens `file` to read it, sharing it with every other program; opening
// waits for another program's commit as long as reading does.
bool OpenSource(rt::File& file, const std::string& named, std::string& error) {
  rt::FileSend(file, "Recover=" + std::to_string(kWaitSeconds));
  rt::FileOpen(file, 0x40);
  if (rt::ErrorCode() == 0) return true;
  error = "cannot read " + named + ": " + Why();
  return false;
}

// Copies every source into its target (open, same declarations, in order),
// then reads each target back and compares it with its source.
bool CopyAndCompare(Files& sources, Files& targets, const std::vector<std::string>& targetNames,
                    ProgressLine& progress, std::vector<MigratedFile>& copied,
                    std::string& error) {
  std::int64_t total = 0, done = 0;
  for (auto& source : sources) total += rt::FileRecords(*source);
  progress.Start("copying", "records", total);
  copied.assign(sources.size(), {});
  for (std::size_t i = 0; i < sources.size(); ++i) {
    rt::File& from = *sources[i];
    rt::File& to = *targets[i];
    bool read = ReadInKeyOrder(
        from, copied[i],
        [&] {
          std::memcpy(to.Buffer(), from.Buffer(), static_cast<std::size_t>(from.RecordLength()));
          rt::FileAdd(to);
          if (rt::ErrorCode() != 0) {
            error = targetNames[i] + " refused record " + std::to_string(copied[i].Records) +
                    " of " + from.Declaration().Label() + " in key order: " + Why();
            return false;
          }
          progress.Update(++done);
          return true;
        },
        error);
    if (!read) return false;
  }
  progress.Start("comparing", "records", total);
  done = 0;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    MigratedFile back;
    if (!ReadInKeyOrder(*targets[i], back, [&] { return progress.Update(++done), true; }, error))
      return false;
    if (back.Records != copied[i].Records || back.Checksum != copied[i].Checksum) {
      error = targetNames[i] + " does not hold the records copied into it (" +
              std::to_string(back.Records) + " records read back of " +
              std::to_string(copied[i].Records) + ", or other values)";
      return false;
    }
  }
  progress.Clear();
  return true;
}

bool ChooseServer(const std::string& connection, std::string& error) {
  error = rt::postgres::CheckServer(connection);
  if (!error.empty()) return false;
  rt::postgres::SetServer(connection);
  return true;
}

// Removes the folders of migrations from the server whose process is gone.
void RemoveStaleStages() {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(".", ignored)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(kStagePrefix)) continue;
    const std::string pid = name.substr(sizeof kStagePrefix - 1);
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (::kill(std::stoi(pid), 0) != 0 && errno == ESRCH) fs::remove_all(entry.path(), ignored);
  }
}

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Moves the finished files of `stage` into data/: the whole folder in one
// rename when there is no data/, else each file by a link that fails on a
// file of that name, taking back the files already moved when one does.
bool MoveIntoData(const std::string& stage, std::string& error) {
  const std::string staged = stage + "/data";
  struct stat st {};
  if (::lstat("data", &st) != 0) {  // nothing named data, not even a link
    if (std::rename(staged.c_str(), "data") != 0)
      return error = std::string("cannot move the copies into data/: ") + std::strerror(errno),
             false;
    SyncFolder(".");
    return true;
  }
  std::vector<std::string> moved;
  for (const auto* decl : DataFiles()) {
    const std::string name = fs::path(decl->Path()).filename().string();
    const std::string from = staged + "/" + name, to = decl->Path();
    if (::link(from.c_str(), to.c_str()) == 0) {
      moved.push_back(to);
      continue;
    }
    error = "cannot move the copy of " + decl->Label() + " to " + to + ": " + std::strerror(errno) +
            "; data/ is left as it was";
    for (const auto& path : moved) ::unlink(path.c_str());
    return false;
  }
  SyncFolder("data");
  return true;
}

}  // namespace

bool MigrateToServer(const std::string& connection, ProgressLine& progress,
                     std::vector<MigratedFile>& copied, std::string& error) {
  rt::postgres::SetServer("");
  Files sources, targets;
  std::vector<std::string> names;
  Ending ending;  // declared after the files: ends the transactions before they close
  for (const auto* decl : DataFiles()) {
    if (!rt::FileExists(decl->DiskName()))
      return error = decl->Path() + " is missing ('veltrane-data init' makes the missing files, "
                                    "empty)",
             false;
    sources.push_back(std::make_unique<rt::File>(*decl));
    if (!OpenSource(*sources.back(), decl->Path(), error)) return false;
  }
  // One state of every file: a purge that comes to commit meanwhile waits.
  for (auto& source : sources) {
    rt::TxBegin(kWaitSeconds, *source);
    if (rt::ErrorCode() != 0)
      return error = "cannot read " + source->Declaration().Path() + ": " + Why(), false;
  }
  if (!ChooseServer(connection, error)) return false;
  error = ending.Server.Begin(rt::postgres::ServerTransaction::Kind::Writing);
  if (!error.empty()) return false;
  for (const auto* decl : DataFiles()) {
    names.push_back(TableOf(*decl));
    targets.push_back(std::make_unique<rt::File>(*decl));
    rt::File& target = *targets.back();
    const bool there = rt::postgres::HasTable(decl->DiskName());
    if (!there) rt::FileCreate(target);
    if (rt::ErrorCode() == 0) rt::FileOpen(target, 0x12);  // nobody else's until the commit
    if (rt::ErrorCode() != 0)
      return error = "cannot " + std::string(there ? "open " : "create ") + names.back() +
                     " on the server: " + Why(),
             false;
    if (std::int64_t held = there ? rt::FileRecords(target) : 0; held != 0)
      return error = names.back() + " on the server holds " + std::to_string(held) +
                     " records: migrate copies only into tables that are missing or empty",
             false;
  }
  if (!CopyAndCompare(sources, targets, names, progress, copied, error)) return false;
  error = ending.Server.Commit();
  return error.empty();
}

bool MigrateFromServer(const std::string& connection, ProgressLine& progress,
                       std::vector<MigratedFile>& copied, std::string& error) {
  rt::postgres::SetServer("");
  for (const auto* decl : DataFiles())
    if (struct stat st {}; ::stat(decl->Path().c_str(), &st) == 0)
      return error = decl->Path() + " is there already: migrate never writes over a data file",
             false;
  RemoveStaleStages();
  const std::string stage = kStagePrefix + std::to_string(::getpid());
  std::error_code ignored;
  struct Staged {  // gone unless the copies moved out of it
    std::string Path;
    ~Staged() {
      std::error_code ignored;
      if (::chdir(fs::path(Path).parent_path().c_str()) == 0) fs::remove_all(Path, ignored);
    }
  } staged{fs::absolute(stage).string()};
  {
    Files sources, targets;
    std::vector<std::string> names;
    Ending ending;
    if (!ChooseServer(connection, error)) return false;
    error = ending.Server.Begin(rt::postgres::ServerTransaction::Kind::Snapshot);
    if (!error.empty()) return false;
    for (const auto* decl : DataFiles()) {
      if (!rt::postgres::HasTable(decl->DiskName()))
        return error = "the server has no " + TableOf(*decl) + " (in the connection's schema)",
               false;
      sources.push_back(std::make_unique<rt::File>(*decl));
      if (!OpenSource(*sources.back(), TableOf(*decl) + " on the server", error)) return false;
    }
    if (!fs::create_directories(stage + "/data", ignored) || ::chdir(stage.c_str()) != 0)
      return error = "cannot make the folder " + stage + " for the copies", false;
    rt::postgres::SetServer("");
    for (const auto* decl : DataFiles()) {
      names.push_back(decl->Path());
      targets.push_back(std::make_unique<rt::File>(*decl));
      rt::FileCreate(*targets.back());
      if (rt::ErrorCode() == 0) rt::FileOpen(*targets.back(), 0x12);
      if (rt::ErrorCode() != 0) return error = "cannot create " + decl->Path() + ": " + Why(), false;
    }
    for (auto& target : targets) {
      rt::TxBegin(kWaitSeconds, *target);
      if (rt::ErrorCode() != 0)
        return error = "cannot write " + target->Declaration().Path() + ": " + Why(), false;
    }
    if (!CopyAndCompare(sources, targets, names, progress, copied, error)) return false;
    rt::TxCommit();
    if (rt::ErrorCode() != 0) return error = "cannot commit the copies: " + Why(), false;
  }  // every file closed: the copies are whole files, ready to move
  if (::chdir("..") != 0) return error = "cannot go back to the folder", false;
  return MoveIntoData(stage, error);
}

}  // namespace veltrane_data
