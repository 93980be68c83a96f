#include "errors/default_errors.h"

#include <array>
#include <string_view>

namespace errors {
namespace {

struct Row {
  int Id;
  int Level;
  std::string_view Title;
  std::string_view Text;
};

// The rows in their stored order.
constexpr Row kRows[] = {
    {ErrKeyInvalid, 5, "Invalid Key",
     "%File key file is invalid. Key must be rebuilt."},
    {ErrKeyRepairFailed, 3, "Key was not built",
     "Error: (%ErrorText) repairing key for %File."},
    {ErrCreateFailed, 3, "File Creation Error",
     "Error: (%ErrorText) creating %File."},
    {ErrProcedureMissing, 5, "Procedure not defined",
     "The Procedure %Message has not been defined."},
    {ErrFieldTooHigh, 5, "Range Error",
     "The value of %Field must be lower than %Message."},
    {ErrFieldTooLow, 5, "Range Error",
     "The value of %Field must be higher than %Message."},
    {ErrFieldOutOfRange, 5, "Range Error",
     "The value of %Field must be in range %Message."},
    {ErrFieldNotInFile, 5, "Field contents error",
     "The value of %Field must be found in the %Message file."},
    {ErrUpdateRestricted, 5, "Referential Integrity Update Error",
     "This record is referenced from the file %File. Linking field(s) have been restricted from change and have been reset to original values."},
    {ErrDeleteRestricted, 5, "Referential Integrity Delete Error",
     "This record is referenced from the file %File. This record cannot be deleted while these references exist."},
    {ErrInsertFailed, 5, "Record Insert Error",
     "An error was experienced during the creation of a record.|File: %File|Error: %ErrorText."},
    {ErrChangedElsewhere, 5, "Record Was Not Updated",
     "This record was changed by another station."},
    {ErrChangedElsewhereShown, 5, "Record Was Not Updated",
     "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button or Ctrl+H to recall your changes."},
    {AskRetrySave, 1, "Record Update Error",
     "An error was experienced changing this record. Do you want to try to save again?"},
    {AskRetryDelete, 1, "Record Delete Error",
     "An error was experienced deleting this record. Do you want to try to delete it again?"},
    {ErrFormNoInsert, 5, "Invalid Request",
     "This form cannot be used to insert a record"},
    {ErrFormNoChange, 5, "Invalid Request",
     "This form cannot be used to update a record"},
    {ErrFormNoDelete, 5, "Invalid Request",
     "This form cannot be used to delete a record"},
    {AskAbandonChanges, 1, "Changes will be lost!",
     "Are you sure you want to cancel?"},
    {ErrDuplicateKey, 5, "Duplicate Key Error",
     "Adding this record creates a duplicate entry for the key: %Message"},
    {AskRetryAutoNumber, 1, "Auto Increment Error",
     "Attempts to automatically number this record have failed.|File: %File|Key: %Key|Error: %ErrorText.|Try Again?"},
    {ErrFileLoad, 5, "File Load Error",
     "%File File Load Error.  Error: %ErrorText."},
    {AskWrapToEnd, 1, "Beginning of File Error",
     "The beginning of the file %File was encountered. Do you want to start again from the end of the file?"},
    {AskWrapToStart, 1, "End of File Error",
     "The end of the file %File was encountered. Do you want to start again from the beginning?"},
    {ErrCloseFailed, 5, "File Access Error",
     "File %File could not be closed.  Error: %ErrorText."},
    {ErrOpenFailed, 3, "File Access Error",
     "File %File could not be opened.  Error: %ErrorText."},
    {ErrUpdateFailed, 5, "Record was not updated",
     "An error (%ErrorText) was experienced when making changes to the %File file."},
    {ErrDeleteFailed, 5, "Record was not deleted",
     "An error (%ErrorText) was experienced when deleting a record from the %File file."},
    {AskConfirmDelete, 1, "Confirm Delete",
     "Are you sure you want to delete the highlighted record?"},
    {AskSaveChanges, 1, "Save Record",
     "Do you want to save the changes to this record?"},
    {ErrTransactionStart, 5, "Transaction cancelled",
     "Error: (%ErrorText) attempting to frame the transaction on %File."},
    {ErrRecordFetch, 5, "Record Retrieval Error",
     "Error: (%ErrorText) attempting to access a record from the %File file.  Returning to previous window."},
    {ErrViewOpen, 5, "View Open Error",
     "Error: (%ErrorText) attempting to open the current VIEW. Filter and Range Limits ignored."},
    {AskAddAnother, 1, "Record Added",
     "This record has been added to the file. Do you want to add another record?"},
    {ErrRecordHeld, 5, "Record not read",
     "A record held by another station was encountered reading from the %File file."},
    {AskAddMissing, 5, "Add New Record?",
     "Record match not found, do you wish to add a new one?"},
    {ErrFieldNotInList, 5, "Value Error",
     "The value of %Field must be in the list : %Message."},
    {ErrNothingToProcess, 5, "No Records",
     "There are no records available to process."},
    {ErrReadOnlyFallback, 5, "Access Denied",
     "Could not get write access to %File so trying read-only."},
    {ErrFileNotOpen, 2, "File Usage Error",
     "Attempt to use file (%File) before it was opened"},
    {ErrQueryColumnDropped, 5, "Unsupported QBE Column",
     "The saved QBE column, %Field is not supported. It will be dropped from the query."},
    {ErrSmtp, 5, "SMTP Error",
     "The following SMTP Error occurred: %Message "},
    {ErrNntp, 5, "NNTP Error",
     "%Message "},
    {ErrSocket, 5, "Winsock Error",
     "%Message "},
    {ErrWmfInvalid, 3, "WMF Parser Error",
     "The File %File is not a valid WMF file."},
    {ErrWmfRead, 3, "WMF Parser Error",
     "Get next record from file %File failed."},
    {ErrWmfFieldId, 3, "WMF Parser Error",
     "Cannot find %Field id. Parsing %File."},
    {ErrWmfControl, 3, "WMF Parser Error",
     "Invalid %Field control found. Parsing %File."},
    {ErrWmfQueue, 3, "WMF Parser Error",
     "Adding record to queue failed. Parsing %File."},
    {ErrReportComment, 5, "Report Writer Error",
     "Poorly Formed Comment String \"%Message\" at Position %Field."},
    {ErrReportProperty, 5, "Report Writer Error",
     "Unknown Property %Message."},
    {ErrRecordVanished, 5, "Record Retrieval Error",
     "This record was changed or deleted by another station.|Error: (%ErrorText) attempting to access a record from the %File file."},
    {ErrFileStructure, 3, "Invalid File",
     "%File has an invalid File structure.|Error: %ErrorCode - %Error|FileError: %FileErrorCode - %FileError|"},
    {ErrSqlExecute, 5, "SQL Execution Error",
     "Executing the SQL command %Message failed.|Error: %ErrorText."},
    {ErrSqlStatementMissing, 5, "SQL Execution Error",
     "Could not find SQL statement %Message.|Error: %ErrorText."},
};

constexpr std::size_t PackedSize() {
  std::size_t size = 2;
  for (const auto& row : kRows) size += 2 + 1 + 1 + row.Title.size() + 1 + row.Text.size();
  return size;
}

constexpr std::array<std::uint8_t, PackedSize()> Pack() {
  std::array<std::uint8_t, PackedSize()> block{};
  std::size_t at = 0;
  auto put16 = [&](std::size_t v) {
    block[at++] = static_cast<std::uint8_t>(v & 0xFF);
    block[at++] = static_cast<std::uint8_t>(v >> 8);
  };
  auto putText = [&](std::string_view s) {
    block[at++] = static_cast<std::uint8_t>(s.size());
    for (char c : s) block[at++] = static_cast<std::uint8_t>(c);
  };
  put16(std::size(kRows));
  for (const auto& row : kRows) {
    put16(static_cast<std::size_t>(row.Id));
    block[at++] = static_cast<std::uint8_t>(row.Level);
    putText(row.Title);
    putText(row.Text);
  }
  return block;
}

constexpr bool FitsTheFormat() {
  for (const auto& row : kRows)
    if (row.Id < 0 || row.Id > 0xFFFF || row.Title.size() > 255 || row.Text.size() > 255)
      return false;
  return true;
}

static_assert(std::size(kRows) == kDefaultErrorCount);
static_assert(FitsTheFormat());

constexpr auto kBlock = Pack();

}  // namespace

std::span<const std::uint8_t> DefaultErrors() { return kBlock; }

}  // namespace errors
