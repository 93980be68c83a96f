// The default message table: every condition the framework reports, by id.
// The table is one packed read-only block of bytes, read by the error
// manager's AddTable:
//
//   table := count:u16le row{count}
//   row   := id:u16le level:u8 titleLength:u8 title textLength:u8 text
//
// Titles and texts are single-byte characters with no terminator; texts may
// hold placeholders ("%File", "%ErrorText", ...) and '|' as a line break.
// Trailing blanks are part of a text.
#pragma once

#include <cstdint>
#include <span>

namespace errors {

inline constexpr int ErrKeyInvalid = 33;
inline constexpr int ErrKeyRepairFailed = 32;
inline constexpr int ErrCreateFailed = 12;
inline constexpr int ErrProcedureMissing = 30;
inline constexpr int ErrFieldTooHigh = 21;
inline constexpr int ErrFieldTooLow = 22;
inline constexpr int ErrFieldOutOfRange = 20;
inline constexpr int ErrFieldNotInFile = 18;
inline constexpr int ErrUpdateRestricted = 37;
inline constexpr int ErrDeleteRestricted = 36;
inline constexpr int ErrInsertFailed = 4;
inline constexpr int ErrChangedElsewhere = 7;
inline constexpr int ErrChangedElsewhereShown = 8;
inline constexpr int AskRetrySave = 40;
inline constexpr int AskRetryDelete = 39;
inline constexpr int ErrFormNoInsert = 25;
inline constexpr int ErrFormNoChange = 44;
inline constexpr int ErrFormNoDelete = 14;
inline constexpr int AskAbandonChanges = 10;
inline constexpr int ErrDuplicateKey = 15;
inline constexpr int AskRetryAutoNumber = 38;
inline constexpr int ErrFileLoad = 23;
inline constexpr int AskWrapToEnd = 42;
inline constexpr int AskWrapToStart = 43;
inline constexpr int ErrCloseFailed = 6;
inline constexpr int ErrOpenFailed = 29;
inline constexpr int ErrUpdateFailed = 31;
inline constexpr int ErrDeleteFailed = 13;
inline constexpr int AskConfirmDelete = 11;
inline constexpr int AskSaveChanges = 41;
inline constexpr int ErrTransactionStart = 27;
inline constexpr int ErrRecordFetch = 1;
inline constexpr int ErrViewOpen = 46;
inline constexpr int AskAddAnother = 3;
inline constexpr int ErrRecordHeld = 34;
inline constexpr int AskAddMissing = 5;
inline constexpr int ErrFieldNotInList = 19;
inline constexpr int ErrNothingToProcess = 28;
inline constexpr int ErrReadOnlyFallback = 2;
inline constexpr int ErrFileNotOpen = 45;
inline constexpr int ErrQueryColumnDropped = 47;
inline constexpr int ErrSmtp = 48;
inline constexpr int ErrNntp = 49;
inline constexpr int ErrSocket = 50;
inline constexpr int ErrWmfInvalid = 52;
inline constexpr int ErrWmfRead = 24;
inline constexpr int ErrWmfFieldId = 54;
inline constexpr int ErrWmfControl = 53;
inline constexpr int ErrWmfQueue = 51;
inline constexpr int ErrReportComment = 55;
inline constexpr int ErrReportProperty = 56;
inline constexpr int ErrRecordVanished = 9;
inline constexpr int ErrFileStructure = 26;
inline constexpr int ErrSqlExecute = 16;
inline constexpr int ErrSqlStatementMissing = 17;

// Number of rows in the default table.
inline constexpr int kDefaultErrorCount = 55;

// The packed default table; static data that lives as long as the program.
std::span<const std::uint8_t> DefaultErrors();

}  // namespace errors
