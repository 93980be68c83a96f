#include "access/relation_manager.h"

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "errors/default_errors.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/core/thread_instance.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/windows/backend.h"

namespace dataaccess {
namespace {

using errors::LevelBenign;
using errors::LevelCancel;
using errors::LevelFatal;
using errors::LevelNotify;

// The last component a cascade scan clears: past the end of any key, so the
// scan clears every component after the linking ones.
constexpr int kAllComponents = 22;

const rt::ThreadVar<std::int32_t> visitStamp{0};

// True when a relation's `mode` causes work: an action, and links to act on.
bool Acts(const RelationEntry& relation, std::uint8_t mode) {
  return mode >= kRiClear && mode <= kRiCascade && relation.Fields &&
         relation.Fields->Count() > 0 && relation.HisKey != 0;
}

// Whether key `key` of a manager's file ignores case. A relation's links are
// compared by the rule of the related file's key the relation goes through.
bool KeyIgnoresCase(const RelationManager& manager, int key) {
  const rt::File* file = manager.Me ? manager.Me->File : nullptr;
  if (!file || key < 1 || key > file->Declaration().KeyCount()) return false;
  return (file->Declaration().Key(key).Flags & rt::kKeyNoCase) != 0;
}

bool Marked(rt::File& file) {
  return std::atoi(rt::FileGetProperty(file, rt::kPropTransaction).c_str()) >= 1;
}

// Shows the wait cursor for as long as it lives.
class WaitCursor {
 public:
  WaitCursor() { rt::SetCursor(rt::CursorBusy); }
  ~WaitCursor() { rt::SetCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

RelationManager::~RelationManager() { RelationManager::Kill(); }

std::int32_t RelationManager::NextVisitStamp() { return ++rt::ThreadInstance(visitStamp); }

std::int32_t RelationManager::CurrentVisitStamp() { return rt::ThreadInstance(visitStamp); }

// ---- Life cycle and declarations

void RelationManager::Init(FileManager& fileManager, std::uint8_t useLogout) {
  Me = &fileManager;
  Relations.clear();
  DeferedRelationsDone = 0;
  UseLogout = useLogout;
  LogoutTimeout = kLogoutTimeout;
  killed_ = false;
  ThreadRegistry().RegisterRelationManager(*this, fileManager);
}

void RelationManager::Kill() {
  if (killed_) return;
  killed_ = true;
  if (Me) ThreadRegistry().UnregisterRelationManager(*this);
  for (auto& relation : Relations)
    if (relation.Fields) relation.Fields->Kill();
  Relations.clear();
  DeferedRelationsDone = 0;
}

void RelationManager::AddRelations() {}

void RelationManager::EnsureRelations() {
  if (DeferedRelationsDone) return;
  // Set first: a hook that reaches back here must not add the list twice.
  DeferedRelationsDone = 1;
  AddRelations();
}

void RelationManager::AddRelation(RelationManager& related, std::uint8_t updateMode,
                                  std::uint8_t deleteMode, int hisKey) {
  RelationEntry relation;
  relation.File = &related;
  relation.Fields = std::make_unique<FieldPairList>();
  relation.Fields->Init();
  relation.HisKey = hisKey;
  relation.UpdateMode = updateMode;
  relation.DeleteMode = deleteMode;
  Relations.push_back(std::move(relation));
}

void RelationManager::AddLookup(RelationManager& related) {
  RelationEntry relation;
  relation.File = &related;
  Relations.push_back(std::move(relation));
}

void RelationManager::AddRelationLink(const rt::FieldRef& left, const rt::FieldRef& right) {
  if (Relations.empty() || !Relations.back().Fields) return;
  Relations.back().Fields->AddPair(left, right);
}

void RelationManager::AddRelationLink(int leftField, int rightField) {
  if (Relations.empty() || !Relations.back().Fields || !Me || !Me->File) return;
  FileManager* related = Relations.back().File->Me;
  if (!related || !related->File) return;
  AddRelationLink(Me->File->Field(leftField), related->File->Field(rightField));
}

// ---- Cascading open, close and quick scan

int RelationManager::Open(std::uint8_t nested) {
  if (!Me->LazyOpen) ForcingOpen = 1;
  int result = Cascade(nested, true);
  ForcingOpen = 0;
  return result;
}

int RelationManager::OpenForced(std::uint8_t nested) {
  ForcingOpen = 1;
  return Open(nested);
}

int RelationManager::Close(std::uint8_t nested) { return Cascade(nested, false); }

int RelationManager::Cascade(std::uint8_t nested, bool open) {
  std::int32_t stamp;
  if (nested == 0) {
    stamp = NextVisitStamp();
  } else {
    stamp = CurrentVisitStamp();
    if (LastTouched == stamp) return LevelBenign;
  }
  const bool forcing = ForcingOpen != 0;
  LastTouched = stamp;

  int result;
  bool meCounted = false;
  if (open) {
    const std::int32_t before = Me->OpenCount();
    result = Me->Open();
    meCounted = Me->OpenCount() > before;
    // The top file is opened physically even when it opens lazily.
    if (nested == 0 && result == LevelBenign) result = Me->UseFile(kUseUses);
  } else {
    result = Me->Close();
  }
  if (nested == 0 || forcing) EnsureRelations();

  for (auto& relation : Relations) {
    if (result != LevelBenign) break;
    RelationManager& related = *relation.File;
    if (open) {
      const std::int32_t before = related.Me->OpenCount();
      result = forcing ? related.OpenForced(1) : related.Open(1);
      if (related.Me->OpenCount() > before) ++relation.Opened;
    } else if (relation.Opened > 0) {
      const std::int32_t before = related.Me->OpenCount();
      result = related.Close(1);
      if (related.Me->OpenCount() < before) --relation.Opened;
    }
  }

  // A failed open leaves nothing open that it opened.
  if (open && nested == 0 && result != LevelBenign) UndoOpen(meCounted);
  return result;
}

void RelationManager::UndoOpen(bool meCounted) {
  if (meCounted) {
    Close(0);
    return;
  }
  // Me did not count the open: give back only what the relations owe.
  LastTouched = NextVisitStamp();
  for (auto& relation : Relations) {
    if (relation.Opened == 0) continue;
    const std::int32_t before = relation.File->Me->OpenCount();
    relation.File->Close(1);
    if (relation.File->Me->OpenCount() < before) --relation.Opened;
  }
}

void RelationManager::SetQuickScan(std::uint8_t on, std::uint8_t mode) {
  // A relative reached twice in one pass is switched once.
  if (mode & kQuickScanNested) {
    if (LastTouched == CurrentVisitStamp()) return;
  } else if (mode != 0) {
    NextVisitStamp();
  }
  if (Me && Me->IsOpenForSend()) rt::FileSend(*Me->File, on == 1 ? "QUICKSCAN=on" : "QUICKSCAN=off");
  if (mode == 0) return;
  LastTouched = CurrentVisitStamp();
  EnsureRelations();
  const std::uint8_t which = mode & static_cast<std::uint8_t>(~kQuickScanNested);
  for (auto& relation : Relations) {
    const bool follows = which == kQuickScanParents    ? relation.HisKey == 0
                         : which == kQuickScanChildren ? relation.HisKey != 0
                                                       : true;
    if (follows) relation.File->SetQuickScan(on, which | kQuickScanNested);
  }
}

void RelationManager::SaveLinks() {
  for (auto& relation : Relations)
    if (relation.Fields) relation.Fields->AssignLeftToBuffer();
}

// ---- Transactions

rt::File* RelationManager::TransactionFile() const {
  // Both declarations of an aliased disk file share one attachment and so one
  // transaction; the aliased file can only be enlisted while it is open.
  FileManager* aliased = Me->AliasedFile;
  if (aliased && aliased->File && aliased->Used &&
      rt::FileGetProperty(*Me->File, rt::kPropAliasTransaction) == "0")
    return aliased->File;
  return Me->File;
}

bool RelationManager::Enlisted() const {
  rt::File* file = TransactionFile();
  return file && Marked(*file);
}

int RelationManager::Enlist() {
  int used = Me->UseFile(kUseUses);
  if (used != LevelBenign) return used;
  if (!UseLogout) return LevelBenign;
  rt::File* target = TransactionFile();
  if (Marked(*target)) return LevelBenign;
  rt::FileSetProperty(*target, rt::kPropTransaction, "1");
  const int code = rt::ErrorCode();
  if (code == rt::kNoError) return LevelBenign;
  if (code == rt::kNoTransactions) {
    UseLogout = 0;
    return LevelBenign;
  }
  Me->Throw(errors::ErrTransactionStart);
  return LevelNotify;
}

int RelationManager::EnlistForInsert() {
  if (Marked(*Me->File)) return LevelBenign;
  int result = Enlist();
  if (result != LevelBenign) return result;
  EnsureRelations();
  for (auto& relation : Relations) {
    result = relation.File->EnlistForInsert();
    if (result != LevelBenign) return result;
  }
  return LevelBenign;
}

int RelationManager::EnlistForUpdate() {
  if (Enlisted()) return LevelBenign;
  int result = Enlist();
  if (result != LevelBenign) return result;
  EnsureRelations();
  for (auto& relation : Relations) {
    if (!Acts(relation, relation.UpdateMode)) continue;
    result = relation.UpdateMode == kRiRestrict ? PrepareRestricted(*relation.File)
                                                : relation.File->EnlistForUpdate();
    if (result != LevelBenign) return result;
  }
  return LevelBenign;
}

int RelationManager::EnlistForDelete() {
  if (Enlisted()) return LevelBenign;
  int result = Enlist();
  if (result != LevelBenign) return result;
  EnsureRelations();
  for (auto& relation : Relations) {
    if (!Acts(relation, relation.DeleteMode)) continue;
    switch (relation.DeleteMode) {
      case kRiCascade: result = relation.File->EnlistForDelete(); break;
      case kRiClear: result = relation.File->EnlistForUpdate(); break;
      default: result = PrepareRestricted(*relation.File); break;
    }
    if (result != LevelBenign) return result;
  }
  return LevelBenign;
}

int RelationManager::PrepareRestricted(RelationManager& related) {
  return related.Me->UseFile(kUseUses);
}

void RelationManager::Unmark() {
  if (rt::TxActive()) return;
  const std::int32_t stamp = NextVisitStamp();
  std::vector<RelationManager*> pending{this};
  while (!pending.empty()) {
    RelationManager* manager = pending.back();
    pending.pop_back();
    if (manager->LastTouched == stamp) continue;
    manager->LastTouched = stamp;
    for (rt::File* file : {manager->Me->File, manager->TransactionFile()})
      if (file && Marked(*file)) rt::FileSetProperty(*file, rt::kPropTransaction, "0");
    for (auto& relation : manager->Relations) pending.push_back(relation.File);
  }
}

int RelationManager::BeginChange(int (RelationManager::*enlist)()) {
  // Joining a transaction someone else began would commit or roll back their
  // work with ours.
  if (UseLogout && rt::TxActive()) {
    Me->Throw(errors::ErrTransactionStart);
    return LevelNotify;
  }
  int result = OpenForced(0);
  // A failed open has already given back everything it opened.
  if (result != LevelBenign) return result;
  if (UseLogout) {
    result = (this->*enlist)();
    if (result != LevelBenign) {
      Unmark();
      Close(0);
      return result;
    }
  }
  // Enlisting clears UseLogout when the driver has no transactions.
  if (UseLogout && BeginTransaction() != LevelBenign) {
    Close(0);
    return LevelNotify;
  }
  return LevelBenign;
}

int RelationManager::BeginTransaction() {
  rt::TxBegin(LogoutTimeout);
  if (rt::ErrorCode() == rt::kNoError) return LevelBenign;
  Me->Throw(errors::ErrTransactionStart);
  Unmark();
  return LevelNotify;
}

int RelationManager::CommitTransaction() {
  rt::TxCommit();
  if (rt::ErrorCode() == rt::kNoError) return LevelBenign;
  // Record the commit's error before the rollback replaces it.
  Me->SetError(errors::ErrTransactionStart);
  rt::TxRollback();
  Me->ThrowLastError();
  return LevelNotify;
}

void RelationManager::RollbackTransaction() {
  if (rt::TxActive()) rt::TxRollback();
}

// ---- Insert, update and delete

int RelationManager::CancelAutoIncrement() { return Me->CancelAutoIncrement(this); }

int RelationManager::Insert() {
  if (!(UseLogoutOnInsert && UseLogout)) return Me->Insert();
  int result = BeginChange(&RelationManager::EnlistForInsert);
  if (result != LevelBenign) return result;
  const bool framed = UseLogout != 0;
  result = Me->Insert();
  if (framed) {
    if (result == LevelBenign)
      result = CommitTransaction();
    else
      RollbackTransaction();
  }
  Close(0);
  return result;
}

int RelationManager::Update(std::uint8_t fromForm) {
  int result = BeginChange(&RelationManager::EnlistForUpdate);
  if (result != LevelBenign) return result;
  const bool framed = UseLogout != 0;

  result = Me->TryUpdate();
  if (result != LevelBenign) {
    if (framed) RollbackTransaction();
    if (fromForm && Me->LastError == errors::ErrChangedElsewhere)
      Me->LastError = errors::ErrChangedElsewhereShown;
    if (result == LevelNotify) Me->ThrowLastError();
    Close(0);
    const bool changedElsewhere = Me->LastError == errors::ErrChangedElsewhere ||
                                  Me->LastError == errors::ErrChangedElsewhereShown;
    return changedElsewhere ? LevelNotify : errors::LevelUser;
  }

  EnsureRelations();
  result = UpdateRelated();
  if (result != LevelBenign) {
    // The failing step has rolled back already; make sure nothing survives.
    if (framed) RollbackTransaction();
    Close(0);
    return result;
  }
  if (framed) result = CommitTransaction();
  Close(0);
  return result;
}

int RelationManager::UpdateRelated() {
  for (auto& relation : Relations) {
    if (!Acts(relation, relation.UpdateMode) ||
        relation.Fields->EqualLeftBuffer(KeyIgnoresCase(*relation.File, relation.HisKey)))
      continue;
    int result = relation.File->UpdateChildren(relation.HisKey, *relation.Fields, relation.UpdateMode);
    if (result != LevelBenign) {
      // The change was rolled back: show the linking values the file still holds.
      relation.Fields->AssignBufferToLeft();
      return result;
    }
  }
  return LevelBenign;
}

int RelationManager::UpdateRecordWithChildren() {
  EnsureRelations();
  if (UpdateRelated() != LevelBenign) return LevelNotify;
  int result = Me->TryUpdate();
  if (result == LevelBenign) return LevelBenign;
  if (UseLogout) RollbackTransaction();
  // Validation refuses without recording a message of its own.
  if (result == errors::LevelUser) Me->SetError(errors::ErrUpdateFailed);
  result = Me->ThrowLastError();
  return result == LevelBenign ? LevelNotify : result;
}

std::uint16_t RelationManager::StartRelatedScan(int hisKey, FieldPairList& links,
                                               bool oldValues) {
  Me->UseFile(kUseUses);
  const std::uint16_t saved = Me->SaveFile();
  rt::FileClear(*Me->File);
  if (oldValues)
    links.AssignBufferToRight();
  else
    links.AssignLeftToRight();
  Me->SetKeyRange(hisKey, links.Count() + 1, kAllComponents, 0);
  rt::FileSetKeyValue(*Me->File, hisKey);
  return saved;
}

RelationManager::ScanStep RelationManager::NextRelated() {
  const int read = Me->TryNext();
  if (read == LevelBenign) return ScanStep::Record;
  // Only a read that itself ran past the last record ends the scan. Any other
  // failure (a held record, a file that cannot be used, which fails before
  // the end flag is looked at) fails it: ending it would count the related
  // records as done while they are still there.
  if (read == LevelNotify && Me->AtEnd()) return ScanStep::End;
  FailChange(0);
  return ScanStep::Failed;
}

int RelationManager::FailChange(int messageId) {
  if (messageId != 0) Me->SetError(messageId);
  if (UseLogout) RollbackTransaction();
  Me->ThrowLastError();
  return LevelNotify;
}

int RelationManager::UpdateChildren(int hisKey, FieldPairList& links, std::uint8_t mode) {
  std::uint16_t saved = StartRelatedScan(hisKey, links, true);
  const bool ignoreCase = KeyIgnoresCase(*this, hisKey);
  int result = LevelBenign;
  for (;;) {
    const ScanStep step = NextRelated();
    if (step == ScanStep::Failed) result = LevelNotify;
    if (step != ScanStep::Record || !links.EqualRightBuffer(ignoreCase)) break;
    SaveLinks();
    if (mode == kRiRestrict) {
      result = FailChange(errors::ErrUpdateRestricted);
      links.AssignBufferToLeft();
      break;
    }
    if (mode == kRiClear) {
      links.ClearRight();
    } else if (mode == kRiCascade) {
      links.AssignLeftToRight();
    } else {
      break;
    }
    if (UpdateRecordWithChildren() != LevelBenign) {
      result = LevelNotify;
      break;
    }
  }
  Me->RestoreFile(saved, 1);
  return result;
}

int RelationManager::Delete(std::uint8_t ask) {
  if (ask && Me->Throw(errors::AskConfirmDelete) != LevelBenign) return LevelCancel;
  for (;;) {
    int result;
    {
      WaitCursor wait;
      const std::string position = Me->PushPosition();
      result = BeginChange(&RelationManager::EnlistForDelete);
      if (result != LevelBenign) return result;
      const bool framed = UseLogout != 0;

      // Read the record again inside the transaction so the cascade and the
      // delete see its current version; a record gone meanwhile is not deleted.
      if (Me->RefetchByPosition(position) != LevelBenign) {
        result = FailChange(errors::ErrDeleteFailed);
      } else {
        EnsureRelations();
        result = DeleteRelated(0);
        if (result != LevelBenign) {
          // The failing child has rolled back; no retry question.
          if (framed) RollbackTransaction();
          Close(0);
          return result;
        }
        result = Me->Delete(0);
        if (result != LevelBenign)
          result = FailChange(0);
        else if (framed)
          result = CommitTransaction();
      }
      Close(0);
    }
    if (result == LevelBenign) return result;
    if (Me->Throw(errors::AskRetryDelete) != LevelBenign) return result;
  }
}

int RelationManager::DeleteRelated(std::uint8_t ask) {
  for (auto& relation : Relations) {
    if (!Acts(relation, relation.DeleteMode)) continue;
    int result =
        relation.File->DeleteChildren(relation.HisKey, *relation.Fields, relation.DeleteMode, ask);
    if (result != LevelBenign) return result;
  }
  return LevelBenign;
}

int RelationManager::DeleteChildren(int hisKey, FieldPairList& links, std::uint8_t mode,
                                    std::uint8_t ask) {
  std::uint16_t saved = StartRelatedScan(hisKey, links, false);
  const bool ignoreCase = KeyIgnoresCase(*this, hisKey);
  int result = LevelBenign;
  for (;;) {
    const ScanStep step = NextRelated();
    if (step == ScanStep::Failed) result = LevelNotify;
    if (step != ScanStep::Record || !links.EqualLeftRight(ignoreCase)) break;
    if (Me->SkipCascadeRecord()) continue;
    if (mode == kRiRestrict) {
      result = FailChange(errors::ErrDeleteRestricted);
      break;
    }
    if (mode == kRiClear) {
      SaveLinks();
      links.ClearRight();
      if (UpdateRecordWithChildren() != LevelBenign) {
        result = LevelNotify;
        break;
      }
      continue;
    }
    if (mode != kRiCascade) break;
    EnsureRelations();
    result = DeleteRelated(ask);
    if (result != LevelBenign) break;
    const int deleted = Me->Delete(ask);
    if (deleted == LevelCancel) {
      if (UseLogout) RollbackTransaction();
      result = LevelCancel;
      break;
    }
    if (deleted != LevelBenign) {
      result = FailChange(0);
      break;
    }
  }
  Me->RestoreFile(saved, 1);
  return result;
}

}  // namespace dataaccess
