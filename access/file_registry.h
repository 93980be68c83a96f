// The per-thread file registry: which FileManager and RelationManager serve
// each file on this thread, and which procedure scope is using each file.
//
// Scope tracking. A procedure that uses a file its caller is also using must
// give the caller its record buffer and position back when it is done. The
// registry keeps one scope entry per (thread, file, procedure level):
//   NoteUse    the first use by a procedure adds an entry; a procedure other
//              than the innermost one adds a nested entry one level deeper
//              and, for use types 1 and 2, saves the file's state (Hold);
//              the same procedure only raises the entry's use type.
//   NoteOpen   a further open in the innermost scope counts NestedOpen.
//   NoteClose  a close in the innermost scope first balances NestedOpen;
//              the balancing close restores Hold (the buffer too when the
//              use type stayed below 3) and removes the entry.
// The current procedure is the error manager's CurrentProcedureName.
//
// Threading: one registry per thread (ThreadRegistry), used only by that
// thread; it takes no lock. Managers are not owned.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "runtime/core/program.h"

namespace errors {
class ErrorManager;
}
namespace rt {
class File;
class FileDeclaration;
}  // namespace rt

namespace dataaccess {

class FileManager;
class RelationManager;

// One procedure's use of one file on one thread.
struct ScopeEntry {
  std::int32_t Thread = 0;
  std::string Proc;
  const rt::File* Id = nullptr;  // the thread's instance of the file
  std::uint8_t UStat = 0;        // highest use type seen in this scope
  std::uint16_t Hold = 0;        // SaveFile handle taken when the scope began; 0 for none
  std::uint16_t ScopeLevel = 0;  // 1 for the first procedure, +1 per nested one
  std::uint16_t NestedOpen = 0;  // further opens in the same scope
};

class FileRegistry {
 public:
  FileRegistry() = default;
  FileRegistry(const FileRegistry&) = delete;
  FileRegistry& operator=(const FileRegistry&) = delete;

  // Starts with empty lists; Kill empties them (held file states are not
  // restored: their managers are going away too).
  void Init();
  void Kill();

  // Maps the manager's file on this thread to the manager, replacing an
  // earlier mapping; Errs becomes the manager's error manager.
  void RegisterFileManager(FileManager& fileManager);
  // Maps the file of `fileManager` (the relation manager's own file manager)
  // to the relation manager.
  void RegisterRelationManager(RelationManager& relationManager, const FileManager& fileManager);
  // Removes every mapping to the manager.
  void UnregisterFileManager(const FileManager& fileManager);
  void UnregisterRelationManager(const RelationManager& relationManager);

  // Whether the manager registered itself and has not unregistered since (a
  // killed or destroyed manager has). Objects that keep manager pointers
  // beyond their own control, such as a view reader torn down after the
  // dictionary, ask this before they touch one. The pointer is only compared.
  bool Holds(const FileManager* fileManager) const;
  bool Holds(const RelationManager* relationManager) const;

  // The manager serving a file on this thread; null when none is registered.
  FileManager* FileManagerFor(const rt::File& file) const;
  FileManager* FileManagerFor(const rt::FileDeclaration& decl) const;
  RelationManager* RelationManagerFor(const rt::File& file) const;
  RelationManager* RelationManagerFor(const rt::FileDeclaration& decl) const;

  // Scope tracking (see the top of this file). The manager must have its File bound.
  void NoteUse(FileManager& fileManager, std::uint8_t useType);
  void NoteOpen(FileManager& fileManager);
  void NoteClose(FileManager& fileManager);

  // Error manager of the last registered file manager; not owned.
  errors::ErrorManager* Errs = nullptr;
  std::map<const rt::File*, FileManager*> FileMapping;
  std::map<const rt::File*, RelationManager*> RelationMapping;
  // Scope entries in the order they began; the innermost scope of a file is
  // its last entry.
  std::vector<ScopeEntry> StatusQ;

 private:
  // Managers registered and not yet unregistered, whichever file they map.
  std::set<const FileManager*> liveFileManagers_;
  std::set<const RelationManager*> liveRelationManagers_;

  // The innermost scope entry of the file on this thread, or null.
  ScopeEntry* InnermostScope(const rt::File* id);
  std::string CurrentProcedure() const;
};

// The calling thread's registry, built on first use. The thread-start hook
// calls Init on it and the thread-end hook Kill.
FileRegistry& ThreadRegistry();

// The registry's program module: its thread-start hook initialises the
// thread's registry and its thread-end hook kills it. List it before the
// modules whose managers register themselves, so that it is set up before
// them and torn down after them.
rt::Module RegistryModule();

}  // namespace dataaccess
