// The runtime's per-thread error state. Every runtime operation sets it: code 0
// and empty texts on success, the failure's code and texts otherwise. Codes are
// the driver error numbers (2 file not found, 5 access denied, 33 no record or
// end of file, 40 duplicate key, 43 record held, 46 keys must be rebuilt,
// 47 invalid declaration, 52 already open, 80 no transactions, 89 changed by
// another station) plus the runtime's own (kFilterSyntax).
#pragma once

#include <string>
#include <string_view>

namespace rt {

inline constexpr int kNoError = 0;
inline constexpr int kFileNotFound = 2;
inline constexpr int kAccessDenied = 5;
inline constexpr int kRecordNotAvailable = 33;
inline constexpr int kDuplicateKey = 40;
inline constexpr int kRecordHeld = 43;
inline constexpr int kKeysMustBeRebuilt = 46;
inline constexpr int kInvalidDeclaration = 47;
inline constexpr int kFileAlreadyOpen = 52;
inline constexpr int kNoTransactions = 80;
inline constexpr int kRecordChanged = 89;
// A view's order or filter text does not parse.
inline constexpr int kFilterSyntax = 801;
// The runtime was asked for something it cannot do (bad argument, no file).
inline constexpr int kBadRequest = 90;

// The calling thread's last error.
int ErrorCode();
std::string ErrorText();
std::string ErrorFile();
// The driver's own code and text for the last error ("0" and "" when none).
std::string FileErrorCode();
std::string FileErrorText();

// Sets the calling thread's error state. Runtime code calls these; program
// code only reads.
void SetError(int code, std::string_view file = {}, std::string_view fileErrorCode = {},
              std::string_view fileErrorText = {});
void ClearError();

// Text of a runtime error code ("" for 0).
std::string ErrorTextOf(int code);

// Saves the calling thread's error state on a per-thread stack and restores it.
// PopErrors with nothing pushed leaves the state alone.
void PushErrors();
void PopErrors();

}  // namespace rt
