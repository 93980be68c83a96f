// RelationManager: a data file together with its relatives. One manager per
// data file and thread, beside the file's FileManager.
//
// Relations. A per-file class declares them in AddRelations, which runs once,
// the first time an operation needs them (EnsureRelations). Each relation
// names the related file's manager and, unless it is a plain lookup, the
// related file's key whose leading components are the linking fields, the
// linking field pairs (left: this file's record, right: the related record,
// buffer: the left values as last read, see SaveLinks) and what a change of
// this record does to the related records:
//   kRiNone 0      nothing
//   kRiClear 1     blank the related records' linking fields
//   kRiRestrict 2  refuse while related records exist (messages 37 / 36)
//   kRiCascade 3   carry the change: new linking values on update, deletion
//                  on delete, each related record cascading in turn
// A relation without link pairs or key never causes work, whatever its modes.
// Linking values are compared by the case rule of the related file's key the
// relation goes through: exactly for a case-sensitive key, without regard to
// case for a key that ignores case (so a change of case alone is a change, or
// is not, just as the key sees it).
//
// Cascading open, close and quick scan. Open(0) opens this file physically
// and counts a (lazy) open on every direct relative; each relation remembers
// in Opened how many of those opens it owes, and Close(0) gives back exactly
// those. A forced open (OpenForced, or Open of a file that is not opened
// lazily) reaches the relatives' relatives too. A per-thread visit stamp is
// raised by every top-level call; a manager whose LastTouched equals the
// stamp was already reached in this pass and is skipped, so a cycle in the
// relation graph opens, closes and quick-scans each file once. A top-level
// Open that fails gives back every open it made before it returns, so the
// caller owes no Close.
//
// Transactions. Update and Delete (and Insert with UseLogoutOnInsert) first
// open the whole connected tree, enlist every file the change can reach,
// then begin one runtime transaction and end it with exactly one commit or
// rollback. A failure anywhere in the cascade, including a commit the driver
// refuses, rolls the whole change back: every file is left as it was. Every
// cascade step saves the related file's state (position and record) first
// and gives it back before it returns, on success and on failure alike.
// Files a restrict action will scan are opened before the transaction too,
// because a file cannot join the thread's connection while a transaction is
// open; marks left by an enlisting that failed are taken back. Without
// transactions in the driver (error 80 on enlisting) UseLogout is cleared and
// changes go unframed. A change is refused (message 27) while the thread
// already has a transaction open, whose work its commit or rollback would
// otherwise end too.
//
// Results are level codes (errors/level.h); messages are those of the file
// managers (27 transaction, 36/37 restrict, 39 delete retry, the managers'
// read and write messages).
//
// Threading: a manager, its relations and the visit stamp belong to one thread.
// Ownership: Me and the related managers are not owned; the link lists are.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "access/field_pair_list.h"

namespace rt {
class FieldRef;
class File;
}  // namespace rt

namespace dataaccess {

class FileManager;

// Referential-integrity actions of a relation.
inline constexpr std::uint8_t kRiNone = 0;
inline constexpr std::uint8_t kRiClear = 1;
inline constexpr std::uint8_t kRiRestrict = 2;
inline constexpr std::uint8_t kRiCascade = 3;

// Marker bit of SetQuickScan's mode on the calls it makes to relatives.
inline constexpr std::uint8_t kQuickScanNested = 128;
// SetQuickScan modes: which relatives follow (0: none).
inline constexpr std::uint8_t kQuickScanParents = 1;   // relations without a key (parents, lookups)
inline constexpr std::uint8_t kQuickScanChildren = 2;  // relations with a key
inline constexpr std::uint8_t kQuickScanAll = 3;

// The wait before a transaction gives up on a lock, in seconds.
inline constexpr std::uint8_t kLogoutTimeout = 2;

class RelationManager;

struct RelationEntry {
  RelationManager* File = nullptr;        // the related file's manager; not owned
  std::unique_ptr<FieldPairList> Fields;  // null for a lookup
  int HisKey = 0;  // related file's key number (1-based); 0 for a parent or lookup
  std::uint8_t UpdateMode = kRiNone;
  std::uint8_t DeleteMode = kRiNone;
  std::uint8_t Opened = 0;  // opens of the related file made here and not yet closed
};

class RelationManager {
 public:
  RelationManager() = default;
  virtual ~RelationManager();
  RelationManager(const RelationManager&) = delete;
  RelationManager& operator=(const RelationManager&) = delete;

  // ---- Virtual operations, in their fixed order.

  // Removes a record that priming numbered and added, through Delete so its
  // cascades apply (FileManager::CancelAutoIncrement).
  virtual int CancelAutoIncrement();
  // Balances Open. Callers pass 0; 1 is for the cascade's own calls.
  virtual int Close(std::uint8_t nested = 0);
  // Deletes the current record of Me with the delete actions of every
  // relation, in one transaction. With `ask`, message 11 first (LevelCancel
  // unless yes). A failure of the record itself asks whether to try again
  // (message 39). LevelBenign when the record and its cascade are gone.
  virtual int Delete(std::uint8_t ask);
  // Runs on the related manager: applies `mode` to every record of this file
  // whose linking fields (right side of `links`) equal the parent's (left).
  virtual int DeleteChildren(int hisKey, FieldPairList& links, std::uint8_t mode,
                             std::uint8_t ask);
  // Removes the manager from the file registry and releases the relations.
  // A second call does nothing.
  virtual void Kill();
  // Opens Me and counts opens on its relatives (see the top of the file).
  // Callers pass 0; 1 is for the cascade's own calls.
  virtual int Open(std::uint8_t nested = 0);
  // Remembers the linking fields of the record just read, so that Update can
  // see which of them changed.
  virtual void SaveLinks();
  // Switches the driver's read-ahead for sequential reads on (1) or off, on
  // Me and, by mode, on its relatives (kQuickScan*).
  virtual void SetQuickScan(std::uint8_t on, std::uint8_t mode);
  // Adds the record in Me's buffer (framed only with UseLogoutOnInsert).
  virtual int Insert();
  // Writes Me's current record and carries changed linking fields to the
  // related records, in one transaction. `fromForm` turns message 7 into 8.
  virtual int Update(std::uint8_t fromForm = 0);
  // Runs on the related manager: finds the records holding the parent's old
  // linking values (buffer side of `links`) and applies `mode` to them.
  virtual int UpdateChildren(int hisKey, FieldPairList& links, std::uint8_t mode);
  // Per-file hook that declares the relations; the shared form adds none.
  virtual void AddRelations();

  // ---- Non-virtual operations.

  // Binds the file manager (not owned; must outlive this manager), starts an
  // empty relation list and registers the manager with the thread's file
  // registry under Me's file.
  void Init(FileManager& fileManager, std::uint8_t useLogout);
  // Appends a relation to `related` with a new, empty link list.
  void AddRelation(RelationManager& related, std::uint8_t updateMode, std::uint8_t deleteMode,
                   int hisKey);
  // Appends a relation with no links, no key and no actions.
  void AddLookup(RelationManager& related);
  // Adds a linking pair to the most recently added relation: `left` in Me's
  // record, `right` in the related record. Ignored after AddLookup or before
  // any relation.
  void AddRelationLink(const rt::FieldRef& left, const rt::FieldRef& right);
  // The same by 1-based field numbers of Me's file and of the related file.
  void AddRelationLink(int leftField, int rightField);
  int OpenForced(std::uint8_t nested = 0);
  // Runs AddRelations the first time.
  void EnsureRelations();
  // The body of Open (open true) and Close (open false).
  int Cascade(std::uint8_t nested, bool open);
  // Marks Me's file for the next transaction. Error 80 clears UseLogout and
  // succeeds; any other failure shows message 27 and gives LevelNotify.
  int Enlist();
  int EnlistForInsert();
  int EnlistForUpdate();
  int EnlistForDelete();
  // Carries changed linking fields of Me's current record to its related
  // records, then writes the record.
  int UpdateRecordWithChildren();

  // ---- Fields, in their fixed order.
  FileManager* Me = nullptr;  // not owned
  std::vector<RelationEntry> Relations;
  RelationManager* AliasFile = nullptr;  // not owned; no behaviour in the shared code
  std::uint8_t PrevUseLogout = 0;
  std::uint8_t UseLogout = 0;
  std::uint8_t UseLogoutOnInsert = 0;
  std::uint8_t LogoutTimeout = kLogoutTimeout;
  std::int32_t LastTouched = 0;
  std::uint8_t ForcingOpen = 0;
  std::uint8_t DeferedRelationsDone = 0;

 private:
  // Raises the calling thread's visit stamp and returns the new value.
  static std::int32_t NextVisitStamp();
  static std::int32_t CurrentVisitStamp();
  // The file a transaction is framed on: Me's file, or for an alias file the
  // file it aliases when that is open.
  rt::File* TransactionFile() const;
  bool Enlisted() const;
  // Takes back the marks that enlisting left on the files reachable from
  // here when the transaction never began.
  void Unmark();
  // Opens the connected tree, enlists the files `enlist` reaches and begins
  // the transaction (without UseLogout: only the open). A failure undoes what
  // was done and gives its level; LevelBenign means Close(0) is owed.
  int BeginChange(int (RelationManager::*enlist)());
  // Begins the transaction over the enlisted files; message 27 on failure.
  int BeginTransaction();
  // Commits; a commit the driver refuses is rolled back and shown as message 27.
  int CommitTransaction();
  void RollbackTransaction();
  // Makes sure a related file that a restrict action will scan is physically
  // open before the transaction begins (files cannot join a connection while
  // a transaction is open).
  static int PrepareRestricted(RelationManager& related);
  // Positions Me before the first record whose linking fields hold the
  // parent's old values (buffer side of `links`) or current ones (left
  // side); returns the saved state of Me, given back when the scan ends.
  std::uint16_t StartRelatedScan(int hisKey, FieldPairList& links, bool oldValues);
  enum class ScanStep { Record, End, Failed };
  // Reads the next record of the scan; a failed read is rolled back and shown.
  ScanStep NextRelated();
  // Records `messageId` (0: keeps the last one), rolls the change back and
  // shows the message; LevelNotify.
  int FailChange(int messageId);
  // Runs the update or delete actions of this manager's relations on their
  // related records.
  int UpdateRelated();
  int DeleteRelated(std::uint8_t ask);
  // Gives back what a failed top-level open had already opened.
  void UndoOpen(bool meCounted);
  bool killed_ = false;
};

}  // namespace dataaccess
