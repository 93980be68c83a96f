#include "runtime/files/file_operations.h"

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "runtime/core/error_state.h"
#include "runtime/core/halt.h"
#include "runtime/files/transaction.h"
#include "runtime/postgres/keyed_driver.h"
#include "runtime/postgres/server_connection.h"

namespace rt {
namespace {

// The calling thread's open files, so a halt can close them. Files destroyed
// at thread exit after this list check `openFilesGone` first.
thread_local bool openFilesGone = false;
struct OpenFileList {
  std::vector<File*> files;
  ~OpenFileList() { openFilesGone = true; }
};
std::vector<File*>& OpenFiles() {
  thread_local OpenFileList list;
  return list.files;
}

// A halt rolls back the halting thread's transaction and closes its files;
// other threads' uncommitted work is rolled back by the journal on next open.
void RegisterHaltCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    AddHaltCleanup([] {
      TxRollback();
      auto files = OpenFiles();
      for (File* file : files) FileClose(*file);
    });
  });
}

// Tells the receivers around one operation. Receivers may remove themselves
// while being told, so each call walks a copy (only when there are any).
class Announce {
 public:
  Announce(File& file, int op, FileOperationParams params = {})
      : file_(file), op_(op), params_(params) {
    if (file_.Receivers().empty()) return;
    auto receivers = file_.Receivers();
    for (auto* r : receivers) r->BeforeFileOperation(op_, params_);
  }
  ~Announce() {
    if (file_.Receivers().empty()) return;
    params_.ErrorCode = ErrorCode();
    auto receivers = file_.Receivers();
    for (auto* r : receivers) r->AfterFileOperation(op_, params_);
  }
  Announce(const Announce&) = delete;
  Announce& operator=(const Announce&) = delete;

 private:
  File& file_;
  int op_;
  FileOperationParams params_;
};

// The open handle of `file`, or null with the error state set.
Driver* OpenHandle(File& file) {
  Driver* driver = detail::HandleOf(file);
  if (!driver) return nullptr;
  if (!driver->IsOpen()) {
    SetError(kBadRequest, file.Declaration().DiskName(), {}, "file not open");
    return nullptr;
  }
  return driver;
}

// Runs one driver operation on an open file and reports its result.
template <class Body>
void Run(File& file, int op, Body body) {
  Announce announce(file, op);
  if (Driver* driver = OpenHandle(file)) detail::Report(file, body(*driver));
}

}  // namespace

namespace detail {

Driver* HandleOf(File& file) {
  if (Driver* driver = file.Handle()) return driver;
  auto driver = MakeDriver(file.Declaration().Driver(), file);
  if (!driver) {
    SetError(kBadRequest, file.Declaration().DiskName(), {},
             "no driver named " + file.Declaration().Driver());
    return nullptr;
  }
  file.SetHandle(std::move(driver));
  return file.Handle();
}

int Report(File& file, int code) {
  if (code == kNoError) {
    ClearError();
    return code;
  }
  Driver* driver = file.Handle();
  std::string driverCode = driver ? driver->LastDriverCode() : std::string();
  std::string driverText = driver ? driver->LastDriverText() : std::string();
  SetError(code, file.Declaration().DiskName(), driverCode, driverText);
  return code;
}

void CloseDiscardedFile(File& file) {
  TxForget(file);
  if (Driver* driver = file.Handle()) driver->Close();
  if (openFilesGone) return;
  auto& open = OpenFiles();
  open.erase(std::remove(open.begin(), open.end(), &file), open.end());
}

}  // namespace detail

// --- The file as a whole

void FileOpen(File& file, int mode) {
  Announce announce(file, kOpOpen);
  Driver* driver = detail::HandleOf(file);
  if (!driver) return;
  if (driver->IsOpen()) {
    SetError(kFileAlreadyOpen, file.Declaration().DiskName());
    return;
  }
  if (detail::Report(file, driver->Open(mode)) == kNoError) {
    RegisterHaltCleanup();
    OpenFiles().push_back(&file);
  }
}

void FileClose(File& file) {
  Announce announce(file, kOpClose);
  Driver* driver = file.Handle();
  if (driver && driver->IsOpen()) detail::CloseDiscardedFile(file);
  ClearError();
}

void FileCreate(File& file) {
  Announce announce(file, kOpCreate);
  if (Driver* driver = detail::HandleOf(file)) detail::Report(file, driver->Create());
}

void FileBuildKeys(File& file) {
  Announce announce(file, kOpBuildKeys);
  if (Driver* driver = detail::HandleOf(file)) detail::Report(file, driver->BuildKeys());
}

void FileSend(File& file, std::string_view option) {
  Announce announce(file, kOpSend);
  if (Driver* driver = detail::HandleOf(file)) detail::Report(file, driver->Send(option));
}

bool FileExists(std::string_view diskName) {
  std::string path(diskName);
  std::replace(path.begin(), path.end(), '\\', '/');
  struct stat st {};
  // With a server chosen, a KEYED file is there when its table is.
  bool exists = ::stat(path.c_str(), &st) == 0 ||
                (!postgres::Server().empty() && postgres::HasTable(path));
  ClearError();
  return exists;
}

// --- Records

void FileGetByKey(File& file, int key) {
  Run(file, kOpGetByKey, [&](Driver& d) { return d.GetByKey(key); });
}

void FileGetByPointer(File& file, std::int64_t pointer) {
  Run(file, kOpGetByPointer, [&](Driver& d) { return d.GetByPointer(pointer); });
}

std::int64_t FilePointer(File& file) {
  Driver* driver = OpenHandle(file);
  if (!driver) return 0;
  ClearError();
  return driver->Pointer();
}

void FileSetKey(File& file, int key) {
  Run(file, kOpSetKey, [&](Driver& d) { return d.SetKey(key); });
}

void FileSetKeyValue(File& file, int key) {
  Run(file, kOpSetKeyValue, [&](Driver& d) { return d.SetKeyValue(key); });
}

void FileNext(File& file) {
  Run(file, kOpNext, [](Driver& d) { return d.Next(); });
}

void FilePrevious(File& file) {
  Run(file, kOpPrevious, [](Driver& d) { return d.Previous(); });
}

void FileAdd(File& file) {
  Run(file, kOpAdd, [](Driver& d) { return d.Add(); });
}

void FilePut(File& file) {
  Run(file, kOpPut, [](Driver& d) { return d.Put(); });
}

void FileDelete(File& file) {
  Run(file, kOpDelete, [](Driver& d) { return d.Delete(); });
}

bool FileDuplicate(File& file, int key) {
  bool duplicate = false;
  Run(file, kOpDuplicate, [&](Driver& d) { return d.Duplicate(key, duplicate); });
  return duplicate;
}

void FileClear(File& file) {
  Announce announce(file, kOpClear);
  const auto& decl = file.Declaration();
  for (int n = 1; n <= decl.FieldCount(); ++n)
    for (int e = 0; e < decl.Field(n).Elements(); ++e) file.Field(n, e).Clear();
  ClearError();
}

void FileNoMemo(File& file) {
  Announce announce(file, kOpNoMemo);
  ClearError();
}

void FileWatch(File& file) {
  Run(file, kOpWatch, [](Driver& d) {
    d.Watch();
    return kNoError;
  });
}

// --- Positions

std::string FilePositionByRecord(File& file) { return FilePositionByKey(file, 0); }

std::string FilePositionByKey(File& file, int key) {
  std::string position;
  Run(file, kOpPosition, [&](Driver& d) { return d.Position(key, position); });
  return position;
}

void FileRegetByRecord(File& file, std::string_view position) {
  Run(file, kOpRegetByRecord, [&](Driver& d) { return d.Reget(0, position); });
}

void FileRegetByKey(File& file, int key, std::string_view position) {
  Run(file, kOpRegetByKey, [&](Driver& d) { return d.Reget(key, position); });
}

void FileResetByRecord(File& file, std::string_view position) {
  Run(file, kOpReset, [&](Driver& d) { return d.Reset(0, position); });
}

void FileResetByKey(File& file, int key, std::string_view position) {
  Run(file, kOpReset, [&](Driver& d) { return d.Reset(key, position); });
}

// --- Whole states

int FileGetState(File& file) {
  Announce announce(file, kOpGetState);
  File::SavedState state;
  state.Buffer.assign(file.Buffer(), file.Buffer() + file.RecordLength());
  Driver* driver = file.Handle();
  if (driver && driver->IsOpen()) state.Cursor = driver->SaveCursor();
  int id = file.NextStateId();
  file.States().emplace(id, std::move(state));
  ClearError();
  return id;
}

void FileRestoreState(File& file, int state) {
  Announce announce(file, kOpRestoreState);
  auto it = file.States().find(state);
  if (it == file.States().end()) {
    SetError(kBadRequest, file.Declaration().DiskName(), {},
             "no saved state " + std::to_string(state));
    return;
  }
  std::copy(it->second.Buffer.begin(), it->second.Buffer.end(), file.Buffer());
  Driver* driver = file.Handle();
  int code = kNoError;
  if (driver && driver->IsOpen() && !it->second.Cursor.empty())
    code = driver->RestoreCursor(it->second.Cursor);
  detail::Report(file, code);
}

void FileFreeState(File& file, int state) {
  Announce announce(file, kOpFreeState);
  file.States().erase(state);
  ClearError();
}

// --- Null flags

std::string FileGetNulls(File& file) {
  ClearError();
  return std::string(file.Declaration().FieldCount(), '0');
}

void FileSetNulls(File& file, std::string_view flags) {
  Announce announce(file, kOpSetNulls);
  const auto& decl = file.Declaration();
  if (flags.size() > static_cast<std::size_t>(decl.FieldCount()) ||
      flags.find_first_not_of("01") != std::string_view::npos) {
    SetError(kBadRequest, decl.DiskName(), {}, "null flags are one 0 or 1 per field");
    return;
  }
  for (std::size_t i = 0; i < flags.size(); ++i)
    if (flags[i] == '1')
      for (int e = 0; e < decl.Field(static_cast<int>(i) + 1).Elements(); ++e)
        file.Field(static_cast<int>(i) + 1, e).Clear();
  ClearError();
}

// --- Sizes

std::int64_t FileRecords(File& file) {
  std::int64_t count = 0;
  Run(file, kOpRecords, [&](Driver& d) { return d.Records(count); });
  return count;
}

std::vector<std::string> FileCheckIntegrity(File& file) {
  std::vector<std::string> problems;
  if (Driver* driver = detail::HandleOf(file))
    detail::Report(file, driver->CheckIntegrity(problems));
  return problems;
}

std::int64_t FileBytes(File& file) {
  std::int64_t bytes = 0;
  if (Driver* driver = detail::HandleOf(file)) detail::Report(file, driver->Bytes(bytes));
  return bytes;
}

int FileRecordSize(File& file) {
  ClearError();
  return file.LastRecordSize();
}

std::span<std::uint8_t> FileRecordArea(File& file) {
  ClearError();
  return {file.Buffer(), static_cast<std::size_t>(file.RecordLength())};
}

// --- Properties

std::string FileGetProperty(File& file, int property, int index) {
  const auto& decl = file.Declaration();
  ClearError();
  switch (property) {
    case kPropTransaction: return detail::TxMarked(file) ? "1" : "0";
    case kPropAliasTransaction: return "0";
    case kPropBlobCount: return "0";
    case kPropFieldCount: return std::to_string(decl.FieldCount());
    case kPropName: return decl.DiskName();
    case kPropFieldLabel:
      if (index >= 1 && index <= decl.FieldCount()) return decl.Field(index).Name;
      break;
    case kPropRecordArea: return std::to_string(file.RecordLength());
    case kPropReadAhead: {
      Driver* driver = detail::HandleOf(file);
      return driver ? std::to_string(driver->ReadAhead()) : "0";
    }
    case kPropThreadFile: return IsThreadFile(decl) ? "1" : "0";
    default: break;
  }
  SetError(kBadRequest, decl.DiskName(), {},
           "no file property " + std::to_string(property) + " (" + std::to_string(index) + ")");
  return {};
}

void FileSetProperty(File& file, int property, std::string_view value, int index) {
  FileOperationParams params;
  params.Property = property;
  Announce announce(file, kOpSetProperty, params);
  const auto& decl = file.Declaration();
  switch (property) {
    case kPropTransaction:
      detail::Report(file, detail::TxMark(file, value != "0" && !value.empty()));
      return;
    case kPropReadAhead: {
      Driver* driver = detail::HandleOf(file);
      if (!driver) return;
      int records = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || records > 100000) {
          SetError(kBadRequest, decl.DiskName(), {}, "read-ahead is a record count");
          return;
        }
        records = records * 10 + (c - '0');
      }
      driver->SetReadAhead(records);
      ClearError();
      return;
    }
    default:
      SetError(kBadRequest, decl.DiskName(), {},
               "file property " + std::to_string(property) + " (" + std::to_string(index) +
                   ") cannot be set");
  }
}

std::string KeyGetProperty(File& file, int key, int property, int index) {
  const auto& decl = file.Declaration();
  if (key < 1 || key > decl.KeyCount()) {
    SetError(kBadRequest, decl.DiskName(), {}, "no key " + std::to_string(key));
    return {};
  }
  const auto& k = decl.Key(key);
  ClearError();
  int components = static_cast<int>(k.Components.size());
  switch (property) {
    case kPropName: return k.Name;
    case kPropComponents: return std::to_string(components);
    case kPropDuplicates: return k.AllowsDuplicates() ? "1" : "0";
    case kPropNoCase: return k.IgnoresCase() ? "1" : "0";
    case kPropPrimary: {
      // The first key that refuses duplicates is the primary key.
      for (int n = 1; n <= decl.KeyCount(); ++n)
        if (!decl.Key(n).AllowsDuplicates()) return n == key ? "1" : "0";
      return "0";
    }
    case kPropComponentField:
      if (index >= 1 && index <= components) return std::to_string(k.Components[index - 1]);
      break;
    case kPropComponentAscend:
      if (index >= 1 && index <= components) return "1";
      break;
    default: break;
  }
  SetError(kBadRequest, decl.DiskName(), {},
           "no key property " + std::to_string(property) + " (" + std::to_string(index) + ")");
  return {};
}

}  // namespace rt
