#include "access/file_registry.h"

#include <algorithm>

#include "access/file_manager.h"
#include "errors/error_manager.h"
#include "runtime/core/program.h"
#include "runtime/core/thread_instance.h"
#include "runtime/files/file.h"

namespace dataaccess {
namespace {

const rt::ThreadVar<FileRegistry> registryVar;

}  // namespace

FileRegistry& ThreadRegistry() { return rt::ThreadInstance(registryVar); }

rt::Module RegistryModule() {
  return rt::Module{"FileRegistry", {}, {}, [] { ThreadRegistry().Init(); },
                    [] { ThreadRegistry().Kill(); }, {}};
}

void FileRegistry::Init() {
  FileMapping.clear();
  RelationMapping.clear();
  StatusQ.clear();
}

void FileRegistry::Kill() {
  FileMapping.clear();
  RelationMapping.clear();
  StatusQ.clear();
  liveFileManagers_.clear();
  liveRelationManagers_.clear();
  Errs = nullptr;
}

void FileRegistry::RegisterFileManager(FileManager& fileManager) {
  Errs = fileManager.Errors;
  liveFileManagers_.insert(&fileManager);
  if (fileManager.File) FileMapping[fileManager.File] = &fileManager;
}

void FileRegistry::RegisterRelationManager(RelationManager& relationManager,
                                           const FileManager& fileManager) {
  liveRelationManagers_.insert(&relationManager);
  if (fileManager.File) RelationMapping[fileManager.File] = &relationManager;
}

void FileRegistry::UnregisterFileManager(const FileManager& fileManager) {
  liveFileManagers_.erase(&fileManager);
  std::erase_if(FileMapping, [&](const auto& entry) { return entry.second == &fileManager; });
}

void FileRegistry::UnregisterRelationManager(const RelationManager& relationManager) {
  liveRelationManagers_.erase(&relationManager);
  std::erase_if(RelationMapping, [&](const auto& entry) { return entry.second == &relationManager; });
}

bool FileRegistry::Holds(const FileManager* fileManager) const {
  return liveFileManagers_.count(fileManager) != 0;
}

bool FileRegistry::Holds(const RelationManager* relationManager) const {
  return liveRelationManagers_.count(relationManager) != 0;
}

FileManager* FileRegistry::FileManagerFor(const rt::File& file) const {
  auto it = FileMapping.find(&file);
  return it == FileMapping.end() ? nullptr : it->second;
}

FileManager* FileRegistry::FileManagerFor(const rt::FileDeclaration& decl) const {
  // A thread that never built its copy of the file cannot have a manager for it.
  if (!rt::FileExists(decl)) return nullptr;
  return FileManagerFor(rt::FileOf(decl));
}

RelationManager* FileRegistry::RelationManagerFor(const rt::File& file) const {
  auto it = RelationMapping.find(&file);
  return it == RelationMapping.end() ? nullptr : it->second;
}

RelationManager* FileRegistry::RelationManagerFor(const rt::FileDeclaration& decl) const {
  if (!rt::FileExists(decl)) return nullptr;
  return RelationManagerFor(rt::FileOf(decl));
}

std::string FileRegistry::CurrentProcedure() const {
  return Errs ? Errs->CurrentProcedureName() : std::string();
}

ScopeEntry* FileRegistry::InnermostScope(const rt::File* id) {
  int thread = rt::ThreadNumber();
  for (auto it = StatusQ.rbegin(); it != StatusQ.rend(); ++it)
    if (it->Thread == thread && it->Id == id) return &*it;
  return nullptr;
}

void FileRegistry::NoteUse(FileManager& fileManager, std::uint8_t useType) {
  const rt::File* id = fileManager.File;
  std::string proc = CurrentProcedure();
  ScopeEntry* inner = InnermostScope(id);
  if (inner && inner->Proc == proc) {
    if (useType > inner->UStat) inner->UStat = useType;
    return;
  }
  ScopeEntry entry;
  entry.Thread = rt::ThreadNumber();
  entry.Proc = std::move(proc);
  entry.Id = id;
  entry.UStat = useType;
  entry.ScopeLevel = inner ? static_cast<std::uint16_t>(inner->ScopeLevel + 1) : 1;
  // A nested procedure's first use: keep what the caller had, so the balancing
  // close can give it back. The entry goes in first, so the use SaveFile
  // notes itself lands in it.
  bool hold = inner && (useType == kUseReturns || useType == kUseUses);
  StatusQ.push_back(std::move(entry));
  if (hold) {
    std::uint16_t handle = fileManager.SaveFile();
    // SaveFile may have noted uses of its own; find the entry again.
    if (ScopeEntry* added = InnermostScope(id)) added->Hold = handle;
  }
}

void FileRegistry::NoteOpen(FileManager& fileManager) {
  ScopeEntry* inner = InnermostScope(fileManager.File);
  if (inner && inner->Proc == CurrentProcedure()) ++inner->NestedOpen;
}

void FileRegistry::NoteClose(FileManager& fileManager) {
  ScopeEntry* inner = InnermostScope(fileManager.File);
  if (!inner || inner->Proc != CurrentProcedure()) return;
  if (inner->NestedOpen > 0) {
    --inner->NestedOpen;
    return;
  }
  std::uint16_t hold = inner->Hold;
  std::uint8_t restoreBuffer = inner->UStat < kUseWindow ? 1 : 0;
  // The restore uses the file, which notes a use in this same scope; the
  // entry goes only afterwards, so that use cannot open a scope of its own.
  if (hold != 0) fileManager.RestoreFile(hold, restoreBuffer);
  if (ScopeEntry* done = InnermostScope(fileManager.File))
    StatusQ.erase(StatusQ.begin() + (done - StatusQ.data()));
}

}  // namespace dataaccess
