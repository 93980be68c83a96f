#include "access/file_opener.h"

#include <map>
#include <mutex>

#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"

namespace dataaccess {
namespace {

// The process-wide list of shared openers, by file declaration.
struct SharedOpenerList {
  std::recursive_mutex lock;
  std::map<const rt::FileDeclaration*, SharedOpener*> openers;  // guarded by lock
};

SharedOpenerList& SharedOpeners() {
  static SharedOpenerList list;
  return list;
}

// Opens `file`; "already open" counts as success.
int OpenFile(rt::File& file, int mode) {
  rt::FileOpen(file, mode);
  int code = rt::ErrorCode();
  return code == rt::kFileAlreadyOpen ? rt::kNoError : code;
}

int CloseFile(rt::File& file) {
  rt::FileClose(file);
  return rt::ErrorCode();
}

}  // namespace

// ---- PlainOpener

void PlainOpener::MarkDisposed() { Disposed = 1; }

void PlainOpener::SetFile(rt::File& file) { MyFile = &file; }

int PlainOpener::Open(int mode) {
  if (!MyFile) return rt::kBadRequest;
  return OpenFile(*MyFile, mode);
}

int PlainOpener::Close() {
  if (!MyFile) return rt::kBadRequest;
  return CloseFile(*MyFile);
}

void PlainOpener::AddRef() { ++Usage; }

void PlainOpener::Release() {
  if (Disposed) return;
  if (Usage == 0) {
    MarkDisposed();
    delete this;
    return;
  }
  --Usage;
}

// ---- SharedOpener

SharedOpener::SharedOpener() : CSect(rt::NewCriticalSection()) {}

void SharedOpener::MarkDisposed() {
  PlainOpener::MarkDisposed();
  CSect.reset();
}

void SharedOpener::SetFile(rt::File& file) {
  std::scoped_lock lock(*CSect);
  PlainOpener::SetFile(file);
  FileUsageCount = 0;
}

int SharedOpener::Open(int mode) {
  std::scoped_lock lock(*CSect);
  if (FileUsageCount == 0) {
    int code = PlainOpener::Open(mode);
    if (code != rt::kNoError) return code;
  }
  ++FileUsageCount;
  return rt::kNoError;
}

int SharedOpener::Close() {
  std::scoped_lock lock(*CSect);
  if (FileUsageCount > 0) {
    if (FileUsageCount == 1) {
      int code = PlainOpener::Close();
      if (code != rt::kNoError) return code;
    }
    --FileUsageCount;
  }
  return rt::kNoError;
}

void SharedOpener::AddRef() {
  std::scoped_lock lock(*CSect);
  ++Usage;
}

void SharedOpener::Release() {
  auto& list = SharedOpeners();
  std::unique_lock listLock(list.lock);
  {
    std::scoped_lock lock(*CSect);
    if (Disposed) return;
    if (Usage > 0) {
      --Usage;
      return;
    }
    for (auto it = list.openers.begin(); it != list.openers.end(); ++it)
      if (it->second == this) {
        list.openers.erase(it);
        break;
      }
  }
  // Nobody can reach the opener any more: the list no longer holds it and
  // this was the last reference.
  MarkDisposed();
  delete this;
}

// ---- The opener for a file

IFileOpenServer* OpenerFor(rt::File& file) {
  auto& list = SharedOpeners();
  std::scoped_lock listLock(list.lock);
  if (rt::FileGetProperty(file, rt::kPropThreadFile) == "1") {
    auto* opener = new PlainOpener;
    opener->SetFile(file);
    return opener;
  }
  auto it = list.openers.find(&file.Declaration());
  if (it == list.openers.end()) {
    auto* opener = new SharedOpener;
    opener->SetFile(file);
    list.openers.emplace(&file.Declaration(), opener);
    return opener;
  }
  it->second->AddRef();
  return it->second;
}

int SharedOpenerCount() {
  auto& list = SharedOpeners();
  std::scoped_lock listLock(list.lock);
  return static_cast<int>(list.openers.size());
}

}  // namespace dataaccess
