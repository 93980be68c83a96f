#include "app/dictionary.h"

#include <array>
#include <cstddef>
#include <memory>

#include "app/dictionary_file_manager.h"
#include "app/dictionary_relation_manager.h"
#include "app/globals.h"
#include "app/schema.h"
#include "runtime/core/thread_instance.h"

namespace app {
namespace {

constexpr std::size_t kFileCount = 11;

struct DictionaryEntry {
  // Owns the relation manager, which owns the file manager.
  std::unique_ptr<DictionaryRelationManager> Storage;
  dataaccess::FileManager* FileManagerRef = nullptr;
  dataaccess::RelationManager* RelationManagerRef = nullptr;
};

// One thread's dictionary, in registration order (AllFiles).
struct ThreadDictionary {
  std::array<DictionaryEntry, kFileCount> Entries;
  bool Built = false;
};

const rt::ThreadVar<ThreadDictionary> threadDictionary;

// The entry of a dictionary file; null for any other file.
DictionaryEntry* EntryOf(const rt::FileDeclaration& file) {
  const auto files = AllFiles();
  for (std::size_t i = 0; i < files.size() && i < kFileCount; ++i)
    if (files[i] == &file) return &rt::ThreadInstance(threadDictionary).Entries[i];
  return nullptr;
}

}  // namespace

void DictionaryInit() {
  ThreadDictionary& dictionary = rt::ThreadInstance(threadDictionary);
  if (dictionary.Built || !GlobalErrors()) return;
  const auto files = AllFiles();

  for (std::size_t i = 0; i < kFileCount; ++i)
    dictionary.Entries[i].Storage =
        std::make_unique<DictionaryRelationManager>(MakeFileManager(*files[i]));
  for (std::size_t i = 0; i < kFileCount; ++i)
    dictionary.Entries[i].RelationManagerRef = dictionary.Entries[i].Storage.get();

  for (std::size_t i = 0; i < kFileCount; ++i) {
    DictionaryRelationManager& relationManager = *dictionary.Entries[i].Storage;
    DictionaryFileManager& fileManager = *relationManager.OwnedFileManager();
    fileManager.Setup();
    relationManager.Init(fileManager, 1);
  }
  EntryOf(AliasTimeCardFile())->Storage->AliasFile = EntryOf(TimecardFile())->Storage.get();
  dictionary.Built = true;
}

void DictionaryKill() {
  if (!threadDictionary.Exists()) return;
  ThreadDictionary& dictionary = rt::ThreadInstance(threadDictionary);
  for (auto& entry : dictionary.Entries) {
    if (entry.Storage) entry.Storage->Kill();
    entry.Storage.reset();
    entry.FileManagerRef = nullptr;
    entry.RelationManagerRef = nullptr;
  }
  dictionary.Built = false;
}

dataaccess::FileManager* FileManagerOf(const rt::FileDeclaration& file) {
  DictionaryEntry* entry = EntryOf(file);
  return entry ? entry->FileManagerRef : nullptr;
}

dataaccess::RelationManager* RelationManagerOf(const rt::FileDeclaration& file) {
  DictionaryEntry* entry = EntryOf(file);
  return entry ? entry->RelationManagerRef : nullptr;
}

void SetFileManagerReference(const rt::FileDeclaration& file, dataaccess::FileManager* manager) {
  if (DictionaryEntry* entry = EntryOf(file)) entry->FileManagerRef = manager;
}

void SetRelationManagerReference(const rt::FileDeclaration& file,
                                 dataaccess::RelationManager* manager) {
  if (DictionaryEntry* entry = EntryOf(file)) entry->RelationManagerRef = manager;
}

}  // namespace app
