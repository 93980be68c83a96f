// The dictionary: for each of the eleven data files, one file manager and one
// relation manager per thread (app/dictionary_file_manager.h,
// app/dictionary_relation_manager.h), and the per-thread references through
// which the program reaches them.
//
// DictionaryInit builds the calling thread's dictionary in two passes over
// the files in registration order (Timecard first, AliasTimeCard last):
// first every manager pair is created and each file's relation-manager
// reference set; then each file manager is set up (which sets the file's
// file-manager reference) and its relation manager initialised with it and
// with transactions on. Timecard is set up before AliasTimeCard, whose
// manager refers to Timecard's. The relation lists are not built here: each
// relation manager adds its relations the first time it needs them.
//
// DictionaryKill walks the files in the same order; each relation manager's
// Kill kills and frees its file manager and clears both references, and the
// relation manager is freed.
//
// The main routine builds thread 1's dictionary; the main module's
// thread-start hook builds it on every other thread, and its thread-end hook
// tears it down before the thread's files are destroyed.
//
// Threading: everything here is per thread. Ownership: the dictionary owns
// its managers; the references handed out are not owned and are null before
// DictionaryInit and after DictionaryKill.
#pragma once

#include "runtime/files/file_declaration.h"

namespace dataaccess {
class FileManager;
class RelationManager;
}  // namespace dataaccess

namespace app {

// Builds the calling thread's dictionary. A second call on the same thread
// does nothing; without the global error manager (outside the program frame)
// nothing is built.
void DictionaryInit();
// Tears the calling thread's dictionary down. Does nothing when none is built.
void DictionaryKill();

// The calling thread's managers of one of the eleven files; null when the
// dictionary is not built or `file` is not a dictionary file.
dataaccess::FileManager* FileManagerOf(const rt::FileDeclaration& file);
dataaccess::RelationManager* RelationManagerOf(const rt::FileDeclaration& file);

// Set by the managers themselves: the file manager's Setup and Kill, the
// dictionary and the relation manager's Kill. Ignored for other files.
void SetFileManagerReference(const rt::FileDeclaration& file, dataaccess::FileManager* manager);
void SetRelationManagerReference(const rt::FileDeclaration& file,
                                 dataaccess::RelationManager* manager);

}  // namespace app
