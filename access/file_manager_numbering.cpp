// FileManager: preparing new records and numbering auto-increment keys.
//
// Numbering adds the record at once, so the number is taken the moment it is
// handed out. For each key with an auto-incremented component the highest
// number in use is read:
//   one component      the last record of the key (the first when the key
//                      runs descending); an empty file gives 1
//   leading components the last record of the group whose leading values
//                      equal the buffer's (positioned at the group's highest
//                      possible value); a new group gives 1
// and the record is added with that number + 1. The record buffer is saved
// before each read and restored after it, on failures too, so the caller's
// record survives with the numbers of the keys handled so far. An add that
// fails is retried with fresh numbers (another station may have taken the
// number); after three failures in a row the reporting form asks whether to
// try three more times (message 38).
#include <string>

#include "access/file_manager.h"
#include "access/relation_manager.h"
#include "errors/default_errors.h"
#include "errors/error_manager.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file_operations.h"

namespace dataaccess {
namespace {

constexpr int kTriesBeforeAsking = 3;

// The values of the key's components 1..count-1 as text, each followed by "|".
std::string LeadingValues(const KeyEntry& key, int count) {
  std::string text;
  for (int n = 1; n < count && n <= static_cast<int>(key.Fields.size()); ++n)
    text += key.Fields[n - 1].Field.ToText() + "|";
  return text;
}

}  // namespace

void FileManager::PrimeFields() {}

int FileManager::PrimeRecord(std::uint8_t suppressClear) {
  if (UseFile(kUseUses) != errors::LevelBenign) return errors::LevelFatal;
  if (AliasedFile) {
    // The aliased file's manager primes (and numbers) the record; this manager
    // then holds the primed record and stands on it.
    FileManager& aliased = *AliasedFile;
    aliased.Open();
    std::uint16_t before = aliased.SaveFile();
    if (suppressClear) {
      std::uint16_t mine = SaveBuffer();
      MoveSavedBuffer(*this, aliased, mine, 1);
    }
    int result = aliased.PrimeRecord(suppressClear);
    if (result == errors::LevelBenign) {
      std::uint16_t primed = aliased.SaveFile();
      RestoreFileFrom(aliased, primed, 1);
      // Both declarations hold the same records: Insert and
      // CancelAutoIncrement here must find the record the aliased file added.
      primedPointer_ = aliased.primedPointer_;
    }
    aliased.RestoreFile(before, 1);
    aliased.Close();
    return result;
  }
  if (!suppressClear) rt::FileClear(*File);
  PrimeFields();
  if (!HasAutoInc) return errors::LevelBenign;
  AutoIncDone = 0;
  return PrimeAutoIncrement();
}

int FileManager::PrimeAutoIncrement() { return NumberAutoIncrement(OpenVariant::Report); }

int FileManager::TryPrimeAutoIncrement() { return NumberAutoIncrement(OpenVariant::Try); }

int FileManager::NumberAutoIncrement(OpenVariant variant) {
  if (UseFile(kUseUses) != errors::LevelBenign) return errors::LevelFatal;
  if (!HasAutoInc || AutoIncDone) return errors::LevelBenign;
  rt::FileSetProperty(*File, rt::kPropReadAhead, "0");
  int failures = 0;
  for (;;) {
    for (const auto& key : Keys) {
      if (key.AutoInc == 0 || key.AutoInc > key.Fields.size()) continue;
      Errors->SetKeyName(KeyDescriptionOrLabel(key));
      std::uint16_t saved = SaveBuffer();
      rt::FileNoMemo(*File);
      const KeyComponent& numbered = key.Fields[key.AutoInc - 1];
      std::string leading;
      if (key.Fields.size() == 1) {
        rt::FileSetKey(*File, key.Key);
      } else {
        leading = LeadingValues(key, key.AutoInc);
        SetToExtreme(numbered.Field, true);
        rt::FileSetKeyValue(*File, key.Key);
      }
      if (rt::ErrorCode() == rt::kNoError) {
        if (numbered.Ascend)
          rt::FilePrevious(*File);
        else
          rt::FileNext(*File);
      }
      std::int64_t number = 1;
      int code = rt::ErrorCode();
      if (code == rt::kNoError) {
        bool sameGroup = key.Fields.size() == 1 || LeadingValues(key, key.AutoInc) == leading;
        if (sameGroup) number = numbered.Field.GetInt() + 1;
      } else if (code != rt::kRecordNotAvailable) {
        RestoreBuffer(saved, 1);
        SetError(errors::ErrRecordFetch);
        return variant == OpenVariant::Report ? ThrowLastError() : errors::LevelNotify;
      }
      RestoreBuffer(saved, 1);
      rt::FieldRef field = numbered.Field;
      field.SetInt(number);
    }
    rt::FileAdd(*File);
    int code = rt::ErrorCode();
    if (code == rt::kNoError) {
      AutoIncDone = 1;
      primedPointer_ = rt::FilePointer(*File);
      return errors::LevelBenign;
    }
    if (++failures < kTriesBeforeAsking) continue;
    if (code == rt::kDuplicateKey) {
      rt::PushErrors();
      for (const auto& key : Keys)
        if (rt::FileDuplicate(*File, key.Key)) {
          Errors->SetKeyName(KeyDescriptionOrLabel(key));
          break;
        }
      rt::PopErrors();
    }
    SetError(errors::AskRetryAutoNumber);
    if (variant == OpenVariant::Try) return errors::LevelNotify;
    if (ThrowLastError() != errors::LevelBenign) return errors::LevelNotify;
    failures = 0;
  }
}

int FileManager::CancelAutoIncrement(RelationManager* relationManager) {
  if (UseFile(kUseUses) != errors::LevelBenign || !AutoIncDone || primedPointer_ == 0)
    return errors::LevelBenign;
  const auto cancel = [&] { return relationManager ? relationManager->Delete(0) : Delete(0); };
  int result;
  if (rt::FilePointer(*File) == primedPointer_) {
    result = cancel();
  } else {
    // Reads since priming moved the file: delete the primed record, not the
    // current one, and come back to the current one afterwards.
    std::uint16_t current = SaveFile();
    rt::FileGetByPointer(*File, primedPointer_);
    const bool primedThere = rt::ErrorCode() == rt::kNoError;
    result = primedThere ? cancel() : errors::LevelBenign;
    RestoreFile(current, 1);
  }
  // A primed record someone else deleted meanwhile needs no cancelling.
  if (result == errors::LevelBenign) {
    AutoIncDone = 0;
    primedPointer_ = 0;
  }
  return result;
}

}  // namespace dataaccess
