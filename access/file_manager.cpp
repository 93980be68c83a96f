// FileManager: life cycle, opening, reads, writes, validation, keys, error
// reporting and the runtime callbacks. Buffers and states are in
// file_manager_buffers.cpp, priming and numbering in file_manager_numbering.cpp.
#include "access/file_manager.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "access/file_opener.h"
#include "access/file_registry.h"
#include "errors/default_errors.h"
#include "errors/error_manager.h"
#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/files/file_operations.h"

namespace dataaccess {
namespace {

std::string Cut(std::string_view text, std::size_t capacity) {
  return std::string(text.substr(0, capacity));
}

int ToInt(const std::string& text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Operation groups of the runtime callbacks.
enum class Group { None, A, B, C, D, E };

Group GroupOf(int operation) {
  switch (operation) {
    case 11: return Group::A;
    case 1: case 4: case 51: case 59: return Group::B;
    case 30: case 54: case 55: return Group::C;
    case 15: case 16: case 17: case 24: case 31: case 53: case 66: case 67: return Group::D;
    case 10: return Group::E;
    default: return Group::None;
  }
}

// Runtime callback codes outside file.h's list that the groups name.
constexpr int kOpBlobWrite = 76;
constexpr int kPropBlobProperty = 31894;

}  // namespace

// ---- Construction

FileManager::FileManager() : FileCallbackInterface(*this) {}

// A manager that was never killed still gives back its opener and callback.
FileManager::~FileManager() {
  if (!Killed) FileManager::Kill();
}

void FileManager::CallbackReceiver::BeforeFileOperation(int operation,
                                                        const rt::FileOperationParams& params) {
  owner_->BeforeFileOperation(operation, params);
}

void FileManager::CallbackReceiver::AfterFileOperation(int operation,
                                                       const rt::FileOperationParams& params) {
  owner_->AfterFileOperation(operation, params);
}

void FileManager::BindFile(rt::File& file, errors::ErrorManager& errorManager,
                           FileManager* aliasedFile) {
  File = &file;
  Buffer = std::span<std::uint8_t>(file.Buffer(), static_cast<std::size_t>(file.RecordLength()));
  FileNameValue = Cut(file.Declaration().Label(), kFileNameCapacity);
  Errors = &errorManager;
  AliasedFile = aliasedFile;
}

void FileManager::Setup() {
  Opened = 0;
  LazyOpen = 1;
  Killed = 0;
  UseMRP = 0;
  MRPSize = 10;
  ThreadRegistry().RegisterFileManager(*this);
  registered_ = true;
}

void FileManager::Init(rt::File& file, errors::ErrorManager& errorManager) {
  Errors = &errorManager;
  File = &file;
  Buffer = std::span<std::uint8_t>(file.Buffer(), static_cast<std::size_t>(file.RecordLength()));
  if (Opener) Opener->Release();
  Opener = OpenerFor(file);
  // Saved buffers and states survive: one may have been saved before the
  // first use, and Cleanup has released everything of an earlier life.
  Keys.clear();
  Fields.clear();
  HasAutoInc = 0;
  SkipHeldRecords = 0;
  if (!OpenModeOverridden) OpenMode = rt::kDefaultOpenMode;
  Create = 1;
  LockRecover = 10;
  PrimaryKey = 0;
  FileNameValue = Cut(rt::FileGetProperty(file, rt::kPropName), kFileNameCapacity);
  CleanedUp = 0;
  Initialized = 1;
  Killed = 0;
  UseMRP = 0;
  MRPSize = 20;
  rt::FileCallback(file, &FileCallbackInterface, 0);
}

void FileManager::Kill() {
  if (Killed) return;
  Cleanup();
  if (File) rt::FileCallback(*File, &FileCallbackInterface, 1);
  Killed = 1;
  Initialized = 0;
}

void FileManager::Destroy() {
  if (!Killed) Kill();
  FileName = nullptr;
}

void FileManager::Cleanup() {
  if (CleanedUp) return;
  CleanedUp = 1;
  while (Opened > 0) Close();
  if (registered_) ThreadRegistry().UnregisterFileManager(*this);
  registered_ = false;
  Keys.clear();
  HasAutoInc = 0;
  PrimaryKey = 0;
  PreviousBuffer.clear();
  PreviousBuffer.shrink_to_fit();
  Buffers.clear();
  if (File)
    for (const auto& state : Saved) rt::FileFreeState(*File, state.State);
  Saved.clear();
  Fields.clear();
  if (Opener) {
    Opener->Release();
    Opener = nullptr;
  }
  FileName = nullptr;
  OpenModeOverridden = 0;
}

// ---- UseFile

int FileManager::UseFile(std::uint8_t useType) { return UseFileWith(useType, {}); }

int FileManager::UseFileWith(std::uint8_t useType, const std::function<void()>& addKeys) {
  if (!File || !Errors) return errors::LevelFatal;  // never set up, or the file is gone
  if (useType != kUseInitialize) {
    UseFile(kUseInitialize);
  } else if (!Initialized) {
    std::uint8_t wasInUse = InUseFile;
    InUseFile = 1;
    Init(*File, *Errors);
    Create = 1;
    LockRecover = 10;
    if (addKeys) {
      addKeys();
    } else {
      for (int key = 1; key <= File->Declaration().KeyCount(); ++key)
        AddKey(File->Declaration().Key(key).Name, key, 0);
    }
    InUseFile = wasInUse;
  }
  return SharedUseFile(useType);
}

int FileManager::SharedUseFile(std::uint8_t useType) {
  if (!File || !Initialized) return errors::LevelFatal;
  std::uint8_t wasInUse = InUseFile;
  InUseFile = 1;
  int result = errors::LevelBenign;
  if (useType == kUseInitialize) {
    if (LazyOpen && Opened < 1) {
      if (Used) {
        OpenRoutine(OpenVariant::Report, false);
      } else {
        // The file is used without an Open: open it for good. The open routine
        // counts the open it makes, so Opened ends at 1 and Cleanup closes it.
        ++Opened;
        OpenRoutine(OpenVariant::Report, true);
        --Opened;
      }
    }
  } else {
    if (useType != kUseNoScope) ThreadRegistry().NoteUse(*this, useType);
    if (LazyOpen && !Used) {
      if (Opened < 1) {
        InUseFile = wasInUse;
        return Throw(errors::ErrFileNotOpen);
      }
      std::uint16_t saved = SaveBuffer();
      result = PhysicalOpen(OpenVariant::Report);
      RestoreBuffer(saved, 1);
    }
  }
  InUseFile = wasInUse;
  return result;
}

// ---- Opening

int FileManager::Open() { return OpenRoutine(OpenVariant::Report, false); }

int FileManager::TryOpen() { return OpenRoutine(OpenVariant::Try, false); }

int FileManager::OpenRoutine(OpenVariant variant, bool forced) {
  if (!File || !Errors) return errors::LevelFatal;
  BindFields();
  if (forced || (!LazyOpen && Opened == 0)) {
    int result = PhysicalOpen(variant);
    if (result != errors::LevelBenign) return result;
  }
  // Counted only now, so a failed open leaves no nested open behind.
  ThreadRegistry().NoteOpen(*this);
  ++Opened;
  return errors::LevelBenign;
}

int FileManager::PhysicalOpen(OpenVariant variant) {
  auto report = [&](int messageId) {
    SetError(messageId);
    return variant == OpenVariant::Report ? ThrowLastError() : static_cast<int>(errors::LevelNotify);
  };
  if (UseFile(kUseInitialize) != errors::LevelBenign || !Opener) return report(errors::ErrOpenFailed);
  // A failed open must not leave the read-only fallback behind.
  std::uint8_t modeBefore = OpenMode;
  auto fail = [&](int messageId) {
    OpenMode = modeBefore;
    return report(messageId);
  };
  for (int attempt = 1; attempt <= 2; ++attempt) {
    int code = Opener->Open(OpenMode);
    if (code == rt::kAccessDenied) {
      rt::FileSend(*File, "Recover=" + std::to_string(LockRecover));
      code = Opener->Open(OpenMode);
    }
    switch (code) {
      case rt::kNoError:
        if ((OpenMode & 0x03) != rt::kAccessRead) fellBackToReadOnly_ = false;
        Used = 1;
        AtEOF = 0;
        AutoIncDone = 0;
        return errors::LevelBenign;
      case rt::kFileNotFound:
        if (!Create) return fail(errors::ErrOpenFailed);
        rt::FileCreate(*File);
        if (rt::ErrorCode() != rt::kNoError) return fail(errors::ErrCreateFailed);
        continue;
      case rt::kKeysMustBeRebuilt:
        SetError(errors::ErrKeyInvalid);
        if (variant == OpenVariant::Try) {
          OpenMode = modeBefore;
          return errors::LevelNotify;
        }
        ThrowLastError();
        rt::FileBuildKeys(*File);
        if (rt::ErrorCode() != rt::kNoError) {
          OpenMode = modeBefore;
          return Throw(errors::ErrKeyRepairFailed);
        }
        continue;
      case rt::kInvalidDeclaration:
        return fail(errors::ErrFileStructure);
      case rt::kAccessDenied:
        if ((OpenMode & 0x03) == rt::kAccessRead) return fail(errors::ErrOpenFailed);
        OpenMode = static_cast<std::uint8_t>(OpenMode & ~0x03);
        if (!FallbackAlreadyShown()) Throw(errors::ErrReadOnlyFallback);
        fellBackToReadOnly_ = true;
        continue;
      default:
        return fail(errors::ErrOpenFailed);
    }
  }
  return fail(errors::ErrOpenFailed);
}

bool FileManager::FallbackAlreadyShown() const {
  const std::string& disk = File->Declaration().DiskName();
  for (const auto& [file, manager] : ThreadRegistry().FileMapping)
    if (manager && manager != this && manager->fellBackToReadOnly_ && manager->Used &&
        manager->File && manager->File->Declaration().DiskName() == disk)
      return true;
  return false;
}

int FileManager::Close() {
  ++InClose;
  ThreadRegistry().NoteClose(*this);
  if (UseMRP) {
    UseMRP = 0;
    if (File && Used) rt::FileSetProperty(*File, rt::kPropReadAhead, "0");
  }
  if (Opened != 0) {
    if (Opened == 1) {
      if (Initialized && Opener && Used) Opener->Close();
      Used = 0;
    }
    --Opened;
  }
  --InClose;
  return errors::LevelBenign;
}

void FileManager::BindFields() {}

// ---- Reading

int FileManager::TryFetch(int key) {
  if (UseFile(kUseUses) != errors::LevelBenign) return errors::LevelFatal;
  rt::FileGetByKey(*File, key);
  return rt::ErrorCode() == rt::kNoError ? errors::LevelBenign : errors::LevelNotify;
}

int FileManager::Fetch(int key) {
  int result = TryFetch(key);
  // No stale record may stay in the buffer after a failed fetch.
  if (result != errors::LevelBenign && File) rt::FileClear(*File);
  return result;
}

int FileManager::Next() { return ReadSequential(true, OpenVariant::Report); }
int FileManager::TryNext() { return ReadSequential(true, OpenVariant::Try); }
int FileManager::Previous() { return ReadSequential(false, OpenVariant::Report); }
int FileManager::TryPrevious() { return ReadSequential(false, OpenVariant::Try); }

int FileManager::ReadSequential(bool forward, OpenVariant variant) {
  // The flag tells about this read only, even one that fails before it reads.
  AtEOF = 0;
  if (UseFile(kUseUses) != errors::LevelBenign) return errors::LevelFatal;
  for (;;) {
    AtEOF = 0;
    if (UseMRP && rt::FileGetProperty(*File, rt::kPropReadAhead) == "0")
      rt::FileSetProperty(*File, rt::kPropReadAhead, std::to_string(MRPSize));
    if (forward)
      rt::FileNext(*File);
    else
      rt::FilePrevious(*File);
    switch (rt::ErrorCode()) {
      case rt::kNoError: return errors::LevelBenign;
      case rt::kRecordNotAvailable: AtEOF = 1; return errors::LevelNotify;
      case rt::kRecordHeld:
        if (SkipHeldRecords) continue;
        SetError(errors::ErrRecordHeld);
        return variant == OpenVariant::Report ? ThrowLastError() : errors::LevelNotify;
      default:
        SetError(errors::ErrRecordFetch);
        return variant == OpenVariant::Report ? ThrowLastError() : errors::LevelFatal;
    }
  }
}

// ---- Writing

void FileManager::ReadAheadOff() {
  if (File && rt::FileGetProperty(*File, rt::kPropReadAhead) != "0")
    rt::FileSetProperty(*File, rt::kPropReadAhead, "0");
}

int FileManager::Insert() { return InsertRecord(OpenVariant::Report); }
int FileManager::TryInsert() { return InsertRecord(OpenVariant::Try); }

int FileManager::InsertRecord(OpenVariant variant) {
  if (UseFile(kUseUses) != errors::LevelBenign) return errors::LevelFatal;
  if (ValidateRecord(nullptr) != errors::LevelBenign) return errors::LevelNotify;
  ReadAheadOff();
  if (AutoIncDone) {
    // Priming already added the record (for an alias, through the file it
    // aliases, whatever this declaration's own keys number).
    WritePrimedRecord();
  } else if (!HasAutoInc) {
    rt::FileAdd(*File);
  } else {
    int primed = variant == OpenVariant::Report ? PrimeAutoIncrement() : TryPrimeAutoIncrement();
    if (primed != errors::LevelBenign) return errors::LevelNotify;
  }
  int code = rt::ErrorCode();
  if (code == rt::kNoError) {
    AutoIncDone = 0;
    return errors::LevelBenign;
  }
  if (code != rt::kDuplicateKey) {
    SetError(errors::ErrInsertFailed);
    return variant == OpenVariant::Report ? ThrowLastError() : errors::LevelNotify;
  }
  SetError(errors::ErrDuplicateKey);
  if (variant == OpenVariant::Try) return errors::LevelNotify;
  // Find the key the record duplicates; the probes keep the error state of the add.
  const KeyEntry* duplicated = nullptr;
  rt::PushErrors();
  if (!HasAutoInc) rt::FileGetByPointer(*File, 0);
  for (const auto& entry : Keys)
    if (rt::FileDuplicate(*File, entry.Key)) {
      duplicated = &entry;
      break;
    }
  rt::PopErrors();
  if (!duplicated) return errors::LevelNotify;
  std::string description = KeyDescriptionOrLabel(*duplicated);
  Errors->SetKeyName(description);
  ThrowWithMessage(errors::ErrDuplicateKey, description);
  return errors::LevelNotify;
}

// Priming already added the record; write the buffer over it. Reads since
// may have moved the current record elsewhere: go back to the primed record
// first, keeping the buffer, so no other record is overwritten. When it is
// gone (another station deleted it), add the record again.
void FileManager::WritePrimedRecord() {
  if (primedPointer_ != 0 && rt::FilePointer(*File) != primedPointer_) {
    std::vector<std::uint8_t> record(Buffer.begin(), Buffer.end());
    rt::FileGetByPointer(*File, primedPointer_);
    bool found = rt::ErrorCode() == rt::kNoError;
    std::copy(record.begin(), record.end(), Buffer.begin());
    if (!found) {
      rt::FileAdd(*File);
      return;
    }
  }
  rt::FilePut(*File);
}

int FileManager::Update(int mode) { return UpdateRecord(OpenVariant::Report, mode); }
int FileManager::TryUpdate(int mode) { return UpdateRecord(OpenVariant::Try, mode); }

int FileManager::UpdateRecord(OpenVariant variant, int mode) {
  if (UseFile(kUseUses) != errors::LevelBenign) return errors::LevelFatal;
  if (ValidateRecord(nullptr) != errors::LevelBenign) return errors::LevelUser;
  std::string position;
  int primary = PrimaryKeyNumber();
  position = Cut(primary ? rt::FilePositionByKey(*File, primary) : rt::FilePositionByRecord(*File),
                 kPositionCapacity);
  rt::FilePut(*File);
  int code = rt::ErrorCode();
  if (code == rt::kNoError) return errors::LevelBenign;
  if (code == rt::kRecordChanged) {
    SetError(mode == 2 ? errors::ErrChangedElsewhereShown : errors::ErrChangedElsewhere);
    if (variant == OpenVariant::Report) ThrowLastError();
    // Load the other station's version, watched again, so the next write can succeed.
    rt::FileWatch(*File);
    RefetchByPosition(position);
    return errors::LevelNotify;
  }
  SetError(errors::ErrUpdateFailed);
  return variant == OpenVariant::Report ? ThrowLastError() : errors::LevelNotify;
}

int FileManager::Delete(std::uint8_t ask) {
  if (ask && Throw(errors::AskConfirmDelete) != errors::LevelBenign) return errors::LevelCancel;
  if (UseFile(kUseUses) != errors::LevelBenign) return errors::LevelFatal;
  rt::FileDelete(*File);
  if (rt::ErrorCode() == rt::kNoError) return errors::LevelBenign;
  SetError(errors::ErrDeleteFailed);
  return errors::LevelNotify;
}

std::uint8_t FileManager::SkipCascadeRecord() { return 0; }

// ---- Positions

int FileManager::PrimaryKeyNumber() const {
  if (PrimaryKey == 0 || PrimaryKey > Keys.size()) return 0;
  return Keys[PrimaryKey - 1].Key;
}

int FileManager::RefetchByPosition(std::string_view position) {
  if (UseFile(kUseUses) != errors::LevelBenign) return errors::LevelFatal;
  if (int primary = PrimaryKeyNumber())
    rt::FileRegetByKey(*File, primary, position);
  else
    rt::FileRegetByRecord(*File, position);
  return rt::ErrorCode() == rt::kNoError ? errors::LevelBenign : errors::LevelNotify;
}

std::string FileManager::PushPosition() {
  if (UseFile(kUseUses) != errors::LevelBenign) return {};
  int primary = PrimaryKeyNumber();
  return Cut(primary ? rt::FilePositionByKey(*File, primary) : rt::FilePositionByRecord(*File),
             kPositionCapacity);
}

// ---- Validation

int FileManager::WithAliasedBuffer(const std::function<int(FileManager&)>& work) {
  FileManager& aliased = *AliasedFile;
  std::uint16_t saved = aliased.SaveBuffer();
  std::size_t bytes = std::min(Buffer.size(), aliased.Buffer.size());
  if (bytes) std::memcpy(aliased.Buffer.data(), Buffer.data(), bytes);
  int result = work(aliased);
  aliased.RestoreBuffer(saved, 1);
  return result;
}

int FileManager::ValidateRecord(int* failedField) {
  if (AliasedFile)
    return WithAliasedBuffer([&](FileManager& m) { return m.ValidateRecord(failedField); });
  int fields = File ? File->Declaration().FieldCount() : 0;
  return ValidateFields(1, fields, failedField);
}

int FileManager::ValidateFields(int first, int last, int* failedField) {
  if (AliasedFile)
    return WithAliasedBuffer(
        [&](FileManager& m) { return m.ValidateFields(first, last, failedField); });
  for (int field = first; field <= last; ++field) {
    int result = ValidateField(field);
    if (result != errors::LevelBenign) {
      if (failedField) *failedField = field;
      return result;
    }
  }
  return errors::LevelBenign;
}

int FileManager::ValidateField(int field) { return CheckField(field, 1); }

int FileManager::TryValidateField(int field) { return CheckField(field, 0); }

int FileManager::CheckField(int field, std::uint8_t report) {
  if (!AliasedFile) return errors::LevelBenign;
  // The quiet form stays quiet on the aliased file too.
  return WithAliasedBuffer([&](FileManager& m) {
    return report ? m.ValidateField(field) : m.TryValidateField(field);
  });
}

// ---- Keys

void FileManager::AddKey(std::string_view description, int key, std::uint8_t autoIncComponent) {
  if (!File || key < 1 || key > File->Declaration().KeyCount()) return;
  rt::File& file = *File;
  KeyEntry entry;
  entry.Key = key;
  entry.Description = Cut(description, kKeyDescriptionCapacity);
  entry.AutoInc = autoIncComponent;
  if (autoIncComponent) HasAutoInc = 1;
  entry.Dups = rt::KeyGetProperty(file, key, rt::kPropDuplicates) == "1";
  entry.NoCase = rt::KeyGetProperty(file, key, rt::kPropNoCase) == "1";
  int components = ToInt(rt::KeyGetProperty(file, key, rt::kPropComponents));
  for (int n = 1; n <= components; ++n) {
    KeyComponent component;
    component.Ascend = rt::KeyGetProperty(file, key, rt::kPropComponentAscend, n) == "1";
    int fieldNumber = ToInt(rt::KeyGetProperty(file, key, rt::kPropComponentField, n));
    component.Field = file.Field(fieldNumber);
    std::string label = Cut(rt::FileGetProperty(file, rt::kPropFieldLabel, fieldNumber),
                            kComponentNameCapacity);
    component.FieldName = entry.NoCase && component.Field.IsString() ? "UPPER(" + label + ")" : label;
    entry.Fields.push_back(std::move(component));
  }
  bool primary = rt::KeyGetProperty(file, key, rt::kPropPrimary) == "1";
  Keys.push_back(std::move(entry));
  if (primary) PrimaryKey = static_cast<std::uint8_t>(Keys.size());
}

const KeyEntry* FileManager::KeyFor(int key) const {
  for (const auto& entry : Keys)
    if (entry.Key == key) return &entry;
  return nullptr;
}

int FileManager::ComponentCount(int key) const {
  const KeyEntry* entry = KeyFor(key);
  return entry ? static_cast<int>(entry->Fields.size()) : 0;
}

const KeyComponent* FileManager::ComponentFor(int key, int component) const {
  const KeyEntry* entry = KeyFor(key);
  if (!entry || component < 1 || component > static_cast<int>(entry->Fields.size())) return nullptr;
  return &entry->Fields[component - 1];
}

std::string FileManager::ComponentName(int key, int component) const {
  const KeyComponent* c = ComponentFor(key, component);
  return c ? c->FieldName : std::string();
}

std::uint8_t FileManager::ComponentAscending(int key, int component) const {
  const KeyComponent* c = ComponentFor(key, component);
  return c ? c->Ascend : 0;
}

rt::FieldRef FileManager::ComponentField(int key, int component) const {
  const KeyComponent* c = ComponentFor(key, component);
  return c ? c->Field : rt::FieldRef();
}

std::string FileManager::KeyOrderText(int key, int first) const {
  const KeyEntry* entry = KeyFor(key);
  std::string text;
  if (!entry) return text;
  for (int n = std::max(first, 1); n <= static_cast<int>(entry->Fields.size()); ++n) {
    const auto& component = entry->Fields[n - 1];
    if (!text.empty()) text += ',';
    if (!component.Ascend) text += '-';
    text += component.FieldName;
  }
  return Cut(text, kOrderTextCapacity);
}

void FileManager::SetKeyRange(int key, int first, int last, int flag) {
  const KeyEntry* entry = KeyFor(key);
  if (!entry) return;
  int end = std::min(last, static_cast<int>(entry->Fields.size()));
  for (int n = std::max(first, 1); n <= end; ++n) {
    const auto& component = entry->Fields[n - 1];
    bool lowest = (flag == 0 && component.Ascend) || (flag == 1 && !component.Ascend);
    SetToExtreme(component.Field, !lowest);
  }
}

void FileManager::SetToExtreme(const rt::FieldRef& field, bool high) {
  rt::FieldRef f = field;
  if (!f.IsValid()) return;
  switch (f.Type()) {
    case rt::FieldType::Text:
    case rt::FieldType::CText:
      if (!high) {
        f.Clear();
      } else {
        // Byte 0xFF sorts after every other character; a ctext keeps its NUL.
        int length = f.Type() == rt::FieldType::CText ? f.Size() - 1 : f.Size();
        std::memset(f.Data(), 0xFF, static_cast<std::size_t>(std::max(length, 0)));
      }
      return;
    case rt::FieldType::Byte: f.SetInt(high ? 255 : 0); return;
    case rt::FieldType::Short: f.SetInt(high ? SHRT_MAX : SHRT_MIN); return;
    case rt::FieldType::Long:
    case rt::FieldType::Date: f.SetInt(high ? INT_MAX : INT_MIN); return;
    case rt::FieldType::Decimal: {
      std::int64_t units = 0;
      for (int d = 0; d < std::min(f.Digits(), 18); ++d) units = units * 10 + 9;
      f.SetDecimal(rt::Decimal{high ? units : -units, f.Places()});
      return;
    }
  }
}

std::string FileManager::KeyDescriptionOrLabel(const KeyEntry& entry) const {
  if (!rt::TrimRight(entry.Description).empty()) return entry.Description;
  return File ? rt::KeyGetProperty(*File, entry.Key, rt::kPropName) : std::string();
}

// ---- Errors

void FileManager::SetError(int messageId) {
  if (Errors) Errors->CaptureRuntimeError();
  LastError = messageId;
}

int FileManager::ThrowLastError() {
  if (!Errors) return errors::LevelFatal;
  Errors->SetFileName(PushDisplayName());
  return Errors->Dispatch(LastError);
}

int FileManager::Throw(int messageId) {
  SetError(messageId);
  return ThrowLastError();
}

int FileManager::ThrowWithMessage(int messageId, std::string_view text) {
  if (!Errors) return errors::LevelFatal;
  Errors->SetFileName(PushDisplayName());
  return Errors->RaiseWithText(messageId, text);
}

std::string FileManager::PushDisplayName() const {
  std::string name;
  if (FileName) name = rt::TrimRight(*FileName);
  if (name.empty()) name = rt::TrimRight(FileNameValue);
  if (name.empty() && File) {
    rt::PushErrors();
    name = rt::TrimRight(rt::FileGetProperty(*File, rt::kPropName));
    rt::PopErrors();
  }
  if (name.empty()) name = kUnknownFile;
  return name;
}

// ---- Accessors

void FileManager::SetUseMRP(std::uint8_t value) { UseMRP = value; }
std::uint8_t FileManager::GetUseMRP() { return UseMRP; }
void FileManager::SetMRPSize(std::uint8_t value) { MRPSize = value; }
std::uint8_t FileManager::GetMRPSize() { return MRPSize; }
std::uint8_t FileManager::GetAutoIncDone() { return AutoIncDone; }
std::uint8_t FileManager::GetHasAutoInc() { return HasAutoInc; }

// ---- Runtime callbacks

void FileManager::BeforeFileOperation(int operation, const rt::FileOperationParams& params) {
  if (operation == rt::kOpDestroy) {
    // The runtime frees the file right after telling us. Clean up whatever the
    // discard flag says: a manager left pointing at the freed file would close
    // or read it later.
    ++InCallback;
    Cleanup();
    --InCallback;
  }
  BeforeOperationHooks(operation, params);
}

void FileManager::AfterFileOperation(int operation, const rt::FileOperationParams& params) {
  switch (operation) {
    case 1: case 4: case 51: case 59: case 11: case 30: case 54: case 55:
      BlobChanged = 0;
      break;
    case 15: case 16: case 17: case 24: case 31: case 53: case 66: case 67:
      if (SavePreviousBuffer) PreviousBuffer.assign(Buffer.begin(), Buffer.end());
      break;
    case kOpBlobWrite:
      BlobChanged = 1;
      break;
    case rt::kOpSetProperty:
      if (params.Property == kPropBlobProperty) BlobChanged = 1;
      break;
    default:
      break;
  }
  AfterOperationHooks(operation, params);
  if (operation == rt::kOpDestroy && File) {
    rt::FileCallback(*File, &FileCallbackInterface, 1);
    File = nullptr;
    Buffer = {};
    Initialized = 0;
  }
}

int FileManager::BeforeOperationHooks(int operation, const rt::FileOperationParams& params) {
  if (InView) return 1;
  // The runtime has no stop flag of its own to exchange; hooks see it cleared.
  StopOperation = 0;
  if (params.ForView) InView = 1;
  return GroupHook(true, operation, params);
}

int FileManager::AfterOperationHooks(int operation, const rt::FileOperationParams& params) {
  if (InView) {
    if (!params.EndOfViewOperation) return 1;
    InView = 0;
  }
  return GroupHook(false, operation, params);
}

int FileManager::GroupHook(bool before, int operation, const rt::FileOperationParams& params) {
  switch (GroupOf(operation)) {
    case Group::A:
      return before ? BeforeGroupA(operation, params) : AfterGroupA(operation, params);
    case Group::B:
      return before ? BeforeGroupB(operation, params) : AfterGroupB(operation, params);
    case Group::C:
      return before ? BeforeGroupC(operation, params) : AfterGroupC(operation, params);
    case Group::D: {
      std::string_view record(reinterpret_cast<const char*>(Buffer.data()), Buffer.size());
      return before ? BeforeGroupD(operation, params, record) : AfterGroupD(operation, params, record);
    }
    case Group::E:
      return before ? BeforeGroupE(operation, params) : AfterGroupE(operation, params);
    case Group::None:
      return 1;
  }
  return 1;
}

int FileManager::BeforeGroupA(int, const rt::FileOperationParams&) { return 1; }
int FileManager::AfterGroupA(int, const rt::FileOperationParams&) { return 1; }
int FileManager::BeforeGroupB(int, const rt::FileOperationParams&) { return 1; }
int FileManager::AfterGroupB(int, const rt::FileOperationParams&) { return 1; }
int FileManager::BeforeGroupC(int, const rt::FileOperationParams&) { return 1; }
int FileManager::AfterGroupC(int, const rt::FileOperationParams&) { return 1; }
int FileManager::BeforeGroupD(int, const rt::FileOperationParams&, std::string_view) { return 1; }
int FileManager::AfterGroupD(int, const rt::FileOperationParams&, std::string_view) { return 1; }
int FileManager::BeforeGroupE(int, const rt::FileOperationParams&) { return 1; }
int FileManager::AfterGroupE(int, const rt::FileOperationParams&) { return 1; }

}  // namespace dataaccess
