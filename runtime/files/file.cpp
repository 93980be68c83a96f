#include "runtime/files/file.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "runtime/files/driver.h"
#include "runtime/files/file_operations.h"

namespace rt {
namespace {

// Never destroyed: declarations that are statics themselves forget their
// registration as the program ends, after ordinary statics may be gone.
std::mutex& RegisteredMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::unordered_set<const FileDeclaration*>& Registered() {
  static auto* registered = new std::unordered_set<const FileDeclaration*>;  // guarded by RegisteredMutex()
  return *registered;
}

std::unordered_map<const FileDeclaration*, std::unique_ptr<File>>& ThreadFiles() {
  thread_local std::unordered_map<const FileDeclaration*, std::unique_ptr<File>> files;
  return files;
}

}  // namespace

File::File(const FileDeclaration& decl) : decl_(&decl), buffer_(decl.RecordLength(), 0) {
  for (int n = 1; n <= decl.FieldCount(); ++n)
    for (int e = 0; e < decl.Field(n).Elements(); ++e) Field(n, e).Clear();
}

// A file discarded while open is closed first (leaving any transaction it
// was enlisted in), so its driver handle never outlives its bookkeeping.
File::~File() {
  if (driver_ && driver_->IsOpen()) detail::CloseDiscardedFile(*this);
}

void File::SetHandle(std::unique_ptr<Driver> driver) { driver_ = std::move(driver); }

FieldRef File::Field(int n, int element) { return FieldRef(buffer_.data(), *decl_, n, element); }

FieldRef File::Field(std::string_view name, int element) {
  return Field(decl_->FieldNumber(name), element);
}

void File::AddReceiver(FileCallbackReceiver* r) {
  if (std::find(receivers_.begin(), receivers_.end(), r) == receivers_.end())
    receivers_.push_back(r);
}

void File::RemoveReceiver(FileCallbackReceiver* r) {
  receivers_.erase(std::remove(receivers_.begin(), receivers_.end(), r), receivers_.end());
}

void ThreadFile(const FileDeclaration& decl) {
  std::lock_guard lock(RegisteredMutex());
  Registered().insert(&decl);
}

void ForgetThreadFile(const FileDeclaration& decl) {
  std::lock_guard lock(RegisteredMutex());
  Registered().erase(&decl);
}

bool IsThreadFile(const FileDeclaration& decl) {
  std::lock_guard lock(RegisteredMutex());
  return Registered().count(&decl) != 0;
}

File& FileOf(const FileDeclaration& decl) {
  auto& files = ThreadFiles();
  auto it = files.find(&decl);
  if (it == files.end()) it = files.emplace(&decl, std::make_unique<File>(decl)).first;
  return *it->second;
}

bool FileExists(const FileDeclaration& decl) { return ThreadFiles().count(&decl) != 0; }

void FileDestroy(const FileDeclaration& decl, int discardFlag) {
  auto& files = ThreadFiles();
  auto it = files.find(&decl);
  if (it == files.end()) return;
  FileOperationParams params{discardFlag};
  // Receivers may remove themselves while being told; walk a copy.
  auto receivers = it->second->Receivers();
  for (auto* r : receivers) r->BeforeFileOperation(kOpDestroy, params);
  for (auto* r : receivers) r->AfterFileOperation(kOpDestroy, params);
  files.erase(&decl);
}

void FileCallback(File& file, FileCallbackReceiver* receiver, int mode) {
  if (mode == 0)
    file.AddReceiver(receiver);
  else
    file.RemoveReceiver(receiver);
}

}  // namespace rt
