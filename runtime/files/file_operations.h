// The runtime's file operations. Each works on the calling thread's File (see
// file.h) through the file's driver, and each sets the calling thread's error
// state (error_state.h): 0 on success, the failure's code otherwise. The
// results below are only meaningful when ErrorCode() is 0 afterwards.
//
// Every operation also tells the file's callback receivers (FileCallback)
// before and after it runs, with the operation codes of file.h.
//
// Keys are named by their 1-based number in the file's declaration; key 0
// means record order. Threading: a File and everything done to it belong to
// the thread that owns it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/driver.h"
#include "runtime/files/file.h"

namespace rt {

// File and key property numbers.
inline constexpr int kPropTransaction = 29441;       // file: enlist in the next transaction (0/1)
inline constexpr int kPropAliasTransaction = 29454;  // file: 1 when the driver has transactions
inline constexpr int kPropBlobCount = 29457;         // file: number of blobs (always 0)
inline constexpr int kPropFieldCount = 29458;        // file: number of fields
inline constexpr int kPropName = 29462;              // file: disk name; key: label
inline constexpr int kPropFieldLabel = 29463;        // file, field n: label
inline constexpr int kPropComponents = 29466;        // key: number of components
inline constexpr int kPropDuplicates = 29467;        // key: duplicates allowed
inline constexpr int kPropNoCase = 29469;            // key: ignores case
inline constexpr int kPropPrimary = 29470;           // key: the primary key
inline constexpr int kPropComponentField = 29471;    // key, component n: field number
inline constexpr int kPropComponentAscend = 29472;   // key, component n: ascending
inline constexpr int kPropViewFileCount = 29477;     // view: number of files
inline constexpr int kPropViewFile = 29478;          // view, n: label of the n-th file
inline constexpr int kPropRecordArea = 29515;        // file: record length (see FileRecordArea)
inline constexpr int kPropReadAhead = 29525;         // file or view: read-ahead records (0 off)
inline constexpr int kPropThreadFile = 31893;        // file: one instance per thread
inline constexpr int kPropFilter = 31928;            // view: filter text
inline constexpr int kPropBlob = 31935;              // file, blob -n: contents (no blobs here)
inline constexpr int kPropOrder = 31974;             // view: order text

// --- The file as a whole
// `mode`: access in the low two bits (0 read, 1 write, 2 read/write), sharing
// in the high four (driver.h). Opening an open file gives 52 and leaves it open.
void FileOpen(File& file, int mode = kDefaultOpenMode);
void FileClose(File& file);
void FileCreate(File& file);
void FileBuildKeys(File& file);
// Driver option strings: "Recover=N" (seconds a locked file is waited for),
// "QUICKSCAN=on|off" (read-ahead for sequential reads).
void FileSend(File& file, std::string_view option);
// Whether a file of this name exists on disk ('\' separators allowed).
bool FileExists(std::string_view diskName);

// --- Records
void FileGetByKey(File& file, int key);
void FileGetByPointer(File& file, std::int64_t pointer);
// The current record's pointer (0 when none).
std::int64_t FilePointer(File& file);
void FileSetKey(File& file, int key);
void FileSetKeyValue(File& file, int key);
void FileNext(File& file);
void FilePrevious(File& file);
void FileAdd(File& file);
void FilePut(File& file);
void FileDelete(File& file);
// True when the buffer's value of unique key `key` is already held by another record.
bool FileDuplicate(File& file, int key);
// Blanks the record buffer (numbers 0, text blanks, ctext NULs).
void FileClear(File& file);
// Records have no memos here; accepted for callers that ask.
void FileNoMemo(File& file);
void FileWatch(File& file);

// --- Positions (texts of at most 1024 characters)
std::string FilePositionByRecord(File& file);
std::string FilePositionByKey(File& file, int key);
void FileRegetByRecord(File& file, std::string_view position);
void FileRegetByKey(File& file, int key, std::string_view position);
void FileResetByRecord(File& file, std::string_view position);
void FileResetByKey(File& file, int key, std::string_view position);

// --- Whole states: sequence, position and record buffer. The handle stays
// valid until FileFreeState (or until the file goes); 0 when nothing was saved.
int FileGetState(File& file);
void FileRestoreState(File& file, int state);
void FileFreeState(File& file, int state);

// --- Null flags: one '0' or '1' per field. Records hold no nulls, so the text
// is all '0'; setting a field's flag to '1' clears that field.
std::string FileGetNulls(File& file);
void FileSetNulls(File& file, std::string_view flags);

// --- Sizes
std::int64_t FileRecords(File& file);
// What the storage's own check finds wrong with the open file, one text a
// problem (empty when it is sound); changes nothing. Can take as long as
// reading the whole file.
std::vector<std::string> FileCheckIntegrity(File& file);
// Size of the file on disk in bytes.
std::int64_t FileBytes(File& file);
// Size of the last record read, in bytes.
int FileRecordSize(File& file);
// The record buffer (what property 29515 describes).
std::span<std::uint8_t> FileRecordArea(File& file);

// --- Properties. `index` is the field, component or blob number where the
// property needs one. Unknown properties give kBadRequest.
std::string FileGetProperty(File& file, int property, int index = 0);
void FileSetProperty(File& file, int property, std::string_view value, int index = 0);
std::string KeyGetProperty(File& file, int key, int property, int index = 0);

namespace detail {
// The driver handle of `file`, made on first use; null (with the error state
// set) when the declaration names no known driver.
Driver* HandleOf(File& file);
// Sets the thread's error state from a driver's result and returns `code`.
int Report(File& file, int code);
// Closes a file that is being discarded, without touching the error state.
void CloseDiscardedFile(File& file);
}  // namespace detail

}  // namespace rt
