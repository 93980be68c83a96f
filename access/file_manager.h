// FileManager: the one way the framework reads and writes the records of a
// data file. One manager per data file and thread.
//
// Life of a manager
//   Setup      (dictionary built) a per-file class binds File, Buffer, Errors,
//              FileNameValue and AliasedFile (BindFile does all five), then
//              calls FileManager::Setup: Opened 0, LazyOpen 1, registered.
//   Init       runs once, on first use, from the per-file part of UseFile(5):
//              the opener, the key list (AddKey per key), the runtime callback.
//   Open/Close count logical opens (Opened). With LazyOpen nothing touches the
//              disk until the first operation calls UseFile(2); the last Close
//              closes the file physically.
//   Kill       closes what is still open and releases everything (Cleanup).
//
// UseFile(useType) is called with 2 by every record operation. For any type
// but 5 it first calls UseFile(5), whose per-file part initialises the manager
// and whose shared part opens a lazily opened file that nobody opened (without
// counting it: the next UseFile(5) counts that open, so the final Close or
// Cleanup closes the file). Then, unless the type is 4, it notes the use with
// the file registry's scope tracking (file_registry.h), and when the file
// still is not physically open it opens it (Opened > 0) or reports message 45.
//
// The physical open makes two attempts through the opener:
//   0        open: Used 1
//   5        access denied: "Recover=<LockRecover>" is sent and the opener
//            called once more; still 5 with write access asked for: message 2
//            and the next attempt is read-only; read-only and denied: 29
//   2        not found: created when Create is set (next attempt), else 29;
//            a failed create gives 12
//   46       keys invalid: 33; the reporting open rebuilds them (32 if that
//            fails) and tries again
//   47       invalid file: 26
//   other    29
// Opened is raised only after a successful open, so a failed Open leaves the
// manager exactly as it was.
//
// Results are level codes (errors/level.h). "Try" operations never show a
// message; their partners report through the ErrorManager and return the
// level its answer gives.
//
// Record buffers, file states, priming and auto-increment numbering are in
// file_manager_buffers.cpp and file_manager_numbering.cpp.
//
// Threading: a manager and everything it points to belong to one thread.
// Ownership: the manager owns its lists (keys, saved buffers, saved states,
// fields) and its PreviousBuffer copy; File, Errors, AliasedFile and FileName
// are not owned. The opener is a counted reference given back by Cleanup.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors/level.h"
#include "runtime/files/field_ref.h"
#include "runtime/files/file.h"

namespace errors {
class ErrorManager;
}

// The access/ folder's namespace is `dataaccess`: a namespace named `access`
// cannot coexist with the POSIX function access(), which standard headers declare.
namespace dataaccess {

class IFileOpenServer;
class RelationManager;

// Use types passed to UseFile.
inline constexpr std::uint8_t kUseReturns = 1;     // treated like kUseUses
inline constexpr std::uint8_t kUseUses = 2;        // ordinary use before an operation
inline constexpr std::uint8_t kUseWindow = 3;      // window procedures: position restored, buffer kept
inline constexpr std::uint8_t kUseNoScope = 4;     // no scope tracking
inline constexpr std::uint8_t kUseInitialize = 5;  // first-use initialisation

// Capacities of texts whose cut is observable.
inline constexpr std::size_t kFileNameCapacity = 256;
inline constexpr std::size_t kKeyDescriptionCapacity = 80;
inline constexpr std::size_t kPositionCapacity = 1024;
inline constexpr std::size_t kOrderTextCapacity = 511;
inline constexpr std::size_t kComponentNameCapacity = 999;

// The display name of a file that has no name at all.
inline constexpr std::string_view kUnknownFile = "Unknown File";

// One component of a key.
struct KeyComponent {
  rt::FieldRef Field;       // into the manager's record buffer
  std::string FieldName;    // label, or "UPPER(label)" for a string of a no-case key
  std::uint8_t Ascend = 1;  // 1 ascending, 0 descending
};

// One key of the file, in the order AddKey added them.
struct KeyEntry {
  int Key = 0;              // 1-based key number in the file's declaration
  std::string Description;  // shown in messages; at most 80 characters
  std::vector<KeyComponent> Fields;
  std::uint8_t AutoInc = 0;  // 1-based auto-incremented component, 0 for none
  std::uint8_t Dups = 0;
  std::uint8_t NoCase = 0;
};

// A field entry kept for derived classes; the shared code only releases them.
struct FieldEntry {
  int Tag = 0;
  rt::FieldRef Fld;
  int FType = 0;
  std::string FPicture;
};

// A state saved by SaveFile.
struct SavedFileState {
  std::uint16_t Buffer = 0;  // SaveBuffer id of the record copy
  std::uint16_t Id = 0;      // the handle given to the caller
  std::uint8_t AutoIncDone = 0;
  std::int32_t State = 0;  // runtime state handle (FileGetState)
  std::string Pos;         // position text, at most 1024 characters
};

class FileManager {
 public:
  FileManager();
  virtual ~FileManager();
  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;

  // ---- Virtual operations, in their fixed order.

  // Runtime callbacks: the runtime calls these (through FileCallbackInterface)
  // around every operation on File once Init has registered the manager.
  virtual void BeforeFileOperation(int operation, const rt::FileOperationParams& params);
  virtual void AfterFileOperation(int operation, const rt::FileOperationParams& params);
  // Kills a manager that was not killed and unbinds FileName.
  virtual void Destroy();
  // Makes the record's fields available to view filters. The runtime resolves
  // field labels against the declaration, so the shared form has nothing to bind.
  virtual void BindFields();
  // Deletes the record that priming added (AutoIncDone set), through
  // `relationManager`'s Delete when given (so its cascades apply), else through
  // this manager's Delete. LevelBenign when there was nothing to cancel.
  virtual int CancelAutoIncrement(RelationManager* relationManager);
  // Balances one Open; the last closes the file physically. Always LevelBenign.
  virtual int Close();
  // 1 when the record (and every blob) equals the copy saved under `id` and no
  // blob was written since; 0 otherwise.
  virtual std::uint8_t EqualBuffer(std::int32_t id);
  // Reads by key `key` (1-based) with the key value in the record buffer.
  // Not found: LevelNotify, no message, and a cleared buffer.
  virtual int Fetch(int key);
  // Shared set-up, run by the per-file Setup after BindFile.
  virtual void Setup();
  // First-use initialisation (see the top of the file); registers the runtime
  // callback. Not owned: both arguments must outlive the manager.
  virtual void Init(rt::File& file, errors::ErrorManager& errorManager);
  // Adds the record in the buffer (writes it when priming already added it).
  // Duplicate key: message 15 naming the key, LevelNotify, file unchanged.
  virtual int Insert();
  // Cleanup, then Killed 1 and Initialized 0. A second call does nothing.
  virtual void Kill();
  // Next record in the current sequence; past the end: LevelNotify, AtEOF set,
  // no message.
  virtual int Next();
  // Logical open; physical only when LazyOpen is clear. LevelBenign or the
  // reported open failure.
  virtual int Open();
  virtual int Previous();
  // Reporting form of the auto-increment numbering (file_manager_numbering.cpp).
  virtual int PrimeAutoIncrement();
  // Per-file default values for a new record; nothing in the shared class.
  virtual void PrimeFields();
  // Prepares a new record: clears it (unless suppressClear), PrimeFields, and
  // numbers and adds it when the file has an auto-increment key.
  virtual int PrimeRecord(std::uint8_t suppressClear = 0);
  // Restores (restore 1) or only discards (restore 0) the copy saved under
  // `id`; `id` becomes 0. An id of 0 or an unknown id does nothing.
  virtual void RestoreBuffer(std::uint16_t& id, std::uint8_t restore = 1);
  // Saves a copy of the record, its blobs and its null flags; returns its id.
  virtual std::uint16_t SaveBuffer();
  // SetError(messageId), then ThrowLastError.
  virtual int Throw(int messageId);
  // Shows LastError with this file's display name; the ErrorManager's result.
  virtual int ThrowLastError();
  // Shows `messageId` with `text` as its %Message; the ErrorManager's result.
  virtual int ThrowWithMessage(int messageId, std::string_view text);
  virtual int TryFetch(int key);
  virtual int TryInsert();
  virtual int TryNext();
  virtual int TryOpen();
  virtual int TryPrevious();
  virtual int TryPrimeAutoIncrement();
  // Writes the current record. Changed by another station (89): records 7 (8
  // with mode 2), reloads the other version, LevelNotify. Validation refused:
  // LevelUser, nothing written.
  virtual int TryUpdate(int mode = 0);
  virtual int Update(int mode = 0);
  // See the top of the file. LevelBenign when the file may be used.
  virtual int UseFile(std::uint8_t useType);
  // Field validation: ValidateField reports, TryValidateField does not; both
  // ask CheckField.
  virtual int ValidateField(int field);
  virtual int TryValidateField(int field);
  // Per-file field rules; the shared form asks the aliased file's manager and
  // otherwise accepts every field.
  virtual int CheckField(int field, std::uint8_t report);
  // Validates fields first..last in order and stops at the first failure, whose
  // number goes to *failedField when given.
  virtual int ValidateFields(int first, int last, int* failedField);
  virtual int ValidateRecord(int* failedField);
  // Deletes the current record; with `ask`, message 11 first (LevelCancel
  // unless yes). Failure: message 13 recorded, not shown; LevelNotify.
  virtual int Delete(std::uint8_t ask);
  // Non-zero makes a delete cascade step over the current child record.
  virtual std::uint8_t SkipCascadeRecord();
  virtual void SetUseMRP(std::uint8_t value);
  virtual std::uint8_t GetUseMRP();
  virtual void SetMRPSize(std::uint8_t value);
  virtual std::uint8_t GetMRPSize();
  virtual std::uint8_t GetAutoIncDone();
  virtual std::uint8_t GetHasAutoInc();
  // Dispatch of runtime callbacks to the group hooks; 1 means carry on.
  virtual int BeforeOperationHooks(int operation, const rt::FileOperationParams& params);
  virtual int AfterOperationHooks(int operation, const rt::FileOperationParams& params);
  // Group A: deletes. B: adds. C: writes. D: reads (with the record as read).
  // E: clearing the buffer. Every shared hook returns 1.
  virtual int BeforeGroupA(int operation, const rt::FileOperationParams& params);
  virtual int AfterGroupA(int operation, const rt::FileOperationParams& params);
  virtual int BeforeGroupB(int operation, const rt::FileOperationParams& params);
  virtual int AfterGroupB(int operation, const rt::FileOperationParams& params);
  virtual int BeforeGroupC(int operation, const rt::FileOperationParams& params);
  virtual int AfterGroupC(int operation, const rt::FileOperationParams& params);
  virtual int BeforeGroupD(int operation, const rt::FileOperationParams& params,
                           std::string_view record);
  virtual int AfterGroupD(int operation, const rt::FileOperationParams& params,
                          std::string_view record);
  virtual int BeforeGroupE(int operation, const rt::FileOperationParams& params);
  virtual int AfterGroupE(int operation, const rt::FileOperationParams& params);

  // ---- Non-virtual operations.

  // Appends key `key` (1-based in the declaration) with its description and
  // auto-incremented component (0 for none); reads the key's components,
  // duplicates, case and primary flags from the runtime.
  void AddKey(std::string_view description, int key, std::uint8_t autoIncComponent = 0);
  // Records the runtime's error state with the ErrorManager and remembers
  // messageId in LastError.
  void SetError(int messageId);
  // Saves position, runtime state, record and AutoIncDone; returns a handle,
  // 0 when the file cannot be used.
  std::uint16_t SaveFile();
  // Gives back what SaveFile saved under `handle` and releases it; `handle`
  // becomes 0. The position always comes back; the record and AutoIncDone
  // only when restoreBuffer is set (otherwise the current record stays).
  void RestoreFile(std::uint16_t& handle, std::uint8_t restoreBuffer);
  // The same with a state `source` saved (used for alias files).
  void RestoreFileFrom(FileManager& source, std::uint16_t& handle, std::uint8_t restore);
  // Reads the record at a position text from PushPosition.
  int RefetchByPosition(std::string_view position);
  // The current position as text (by the primary key when there is one);
  // empty when the file cannot be used.
  std::string PushPosition();
  // The file's display name: FileName when bound, else FileNameValue, else
  // the runtime's name, else "Unknown File"; trailing blanks removed.
  std::string PushDisplayName() const;
  std::int32_t OpenCount() const { return Opened; }
  bool IsOpenForSend() const { return Initialized != 0 && Opened > 0; }
  std::uint8_t AtEnd() const { return AtEOF; }
  // Sets components first..last of key `key` (stopping at its last) to their
  // lowest value when (flag 0 and ascending) or (flag 1 and descending), else
  // to their highest: a scan from there starts at the first record whose
  // leading components equal the buffer.
  void SetKeyRange(int key, int first, int last, int flag);
  // The order text of components first.. of the key ("-" before descending
  // ones, "," between), at most 511 characters.
  std::string KeyOrderText(int key, int first = 1) const;
  // Key components by key number and 1-based component; a key that was not
  // added has none (0, empty text, invalid reference).
  int ComponentCount(int key) const;
  std::string ComponentName(int key, int component) const;
  std::uint8_t ComponentAscending(int key, int component) const;
  rt::FieldRef ComponentField(int key, int component) const;
  // The key entry for key number `key`; null when it was not added.
  const KeyEntry* KeyFor(int key) const;
  // Component `component` (1-based) of that key; null when there is none.
  const KeyComponent* ComponentFor(int key, int component) const;
  // Releases everything once (see Kill). Safe to call again.
  void Cleanup();

  // ---- Fields, in their fixed order.

  // The manager's face as the runtime's callback receiver.
  class CallbackReceiver : public rt::FileCallbackReceiver {
   public:
    explicit CallbackReceiver(FileManager& owner) : owner_(&owner) {}
    void BeforeFileOperation(int operation, const rt::FileOperationParams& params) override;
    void AfterFileOperation(int operation, const rt::FileOperationParams& params) override;

   private:
    FileManager* owner_;
  };
  CallbackReceiver FileCallbackInterface;
  FileManager* AliasedFile = nullptr;  // manager of the file this one aliases; not owned
  std::span<std::uint8_t> Buffer;      // File's record buffer
  std::map<std::int32_t, std::vector<std::uint8_t>> Buffers;  // saved copies by id
  std::uint8_t Create = 1;
  errors::ErrorManager* Errors = nullptr;  // not owned
  std::vector<FieldEntry> Fields;
  rt::File* File = nullptr;               // not owned
  const std::string* FileName = nullptr;  // bound display name; not owned
  std::string FileNameValue;              // at most 256 characters
  std::uint8_t HasAutoInc = 0;
  std::uint8_t InUseFile = 0;
  std::uint8_t InCallback = 0;
  std::uint8_t InClose = 0;
  std::uint8_t InRestore = 0;
  std::uint8_t InView = 0;
  std::uint8_t Used = 0;
  std::int32_t Opened = 0;
  std::uint8_t AtEOF = 0;
  std::uint8_t AutoIncDone = 0;
  std::int32_t LastError = 0;
  std::uint8_t DoNotAssertOnCloseMisuse = 0;
  std::uint8_t LazyOpen = 1;
  std::int16_t LockRecover = 10;
  std::uint8_t OpenMode = 0x42;
  std::uint8_t OpenModeOverridden = 0;
  std::uint8_t PrimaryKey = 0;  // 1-based index in Keys of the primary key, 0 for none
  std::vector<SavedFileState> Saved;
  std::uint8_t SkipHeldRecords = 0;
  std::uint8_t CleanedUp = 0;
  std::vector<KeyEntry> Keys;
  std::uint8_t BlobChanged = 0;
  std::vector<std::uint8_t> PreviousBuffer;
  std::uint8_t SavePreviousBuffer = 0;
  std::uint8_t Initialized = 0;
  std::uint8_t Killed = 0;
  IFileOpenServer* Opener = nullptr;  // counted reference, given back by Cleanup
  std::uint8_t UseMRP = 0;
  std::uint8_t MRPSize = 10;
  std::uint8_t StopOperation = 0;

 protected:
  // The per-file part of Setup: binds File (the calling thread's instance),
  // Buffer, Errors, FileNameValue (the declaration's label) and AliasedFile.
  void BindFile(rt::File& file, errors::ErrorManager& errorManager,
                FileManager* aliasedFile = nullptr);

  // The per-file part of UseFile for derived classes, which override UseFile
  // as `return UseFileWith(useType, [this] { AddKey(...); ... });`:
  // for a type other than 5 it first calls UseFile(5); for 5, when not yet
  // initialised, it calls Init(*File, *Errors), sets Create 1 and LockRecover
  // 10 and runs `addKeys`. Then the shared step. With an empty `addKeys`
  // every key of the declaration is added under its label, without
  // auto-increment (the shared UseFile does this).
  int UseFileWith(std::uint8_t useType, const std::function<void()>& addKeys);
  // The shared step of UseFile (see the top of the file).
  int SharedUseFile(std::uint8_t useType);

  // Key number of the primary key for positions; 0 (by record) when none.
  int PrimaryKeyNumber() const;

 private:
  enum class OpenVariant { Try, Report };
  int OpenRoutine(OpenVariant variant, bool forced);
  int PhysicalOpen(OpenVariant variant);
  int ReadSequential(bool forward, OpenVariant variant);
  int InsertRecord(OpenVariant variant);
  void WritePrimedRecord();
  int UpdateRecord(OpenVariant variant, int mode);
  int NumberAutoIncrement(OpenVariant variant);
  // Copies this record into the aliased manager around `work` and restores its buffer.
  int WithAliasedBuffer(const std::function<int(FileManager&)>& work);
  void ReadAheadOff();
  // Calls the before or after hook of the operation's group; 1 for no group.
  int GroupHook(bool before, int operation, const rt::FileOperationParams& params);
  std::string KeyDescriptionOrLabel(const KeyEntry& entry) const;
  // Sets a field to the lowest or highest value its type holds.
  static void SetToExtreme(const rt::FieldRef& field, bool high);
  // Restores (restore set) or discards the copy `from` saved under `id` into
  // the record of `into`, and releases it; `id` becomes 0.
  static void MoveSavedBuffer(FileManager& from, FileManager& into, std::uint16_t& id,
                              std::uint8_t restore);

  // The record numbering added last (its runtime pointer), so Insert writes
  // that record even when other records were read since.
  std::int64_t primedPointer_ = 0;
  // Setup registered the manager with this thread's registry.
  bool registered_ = false;
  // An open fell back to read-only because write access was denied;
  // cleared by an open that gets write access.
  bool fellBackToReadOnly_ = false;
  // Another manager of this thread (an alias) has the same disk file open
  // after the same fallback: the operator has been told already.
  bool FallbackAlreadyShown() const;
};

}  // namespace dataaccess
