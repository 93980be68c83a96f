#include "runtime/core/error_state.h"

#include <vector>

namespace rt {
namespace {

struct ErrorState {
  int code = 0;
  std::string text;
  std::string file;
  std::string fileErrorCode = "0";
  std::string fileErrorText;
};

struct ThreadErrors {
  ErrorState current;
  std::vector<ErrorState> saved;
};

ThreadErrors& Errors() {
  thread_local ThreadErrors errors;
  return errors;
}

}  // namespace

int ErrorCode() { return Errors().current.code; }
std::string ErrorText() { return Errors().current.text; }
std::string ErrorFile() { return Errors().current.file; }
std::string FileErrorCode() { return Errors().current.fileErrorCode; }
std::string FileErrorText() { return Errors().current.fileErrorText; }

std::string ErrorTextOf(int code) {
  switch (code) {
    case kNoError: return "";
    case kFileNotFound: return "File Not Found";
    case kAccessDenied: return "Access Denied";
    case kRecordNotAvailable: return "Record Not Available";
    case kDuplicateKey: return "Creates Duplicate Key";
    case kRecordHeld: return "Record Is Already Held";
    case kKeysMustBeRebuilt: return "Keys Must Be Rebuilt";
    case kInvalidDeclaration: return "Invalid Record Declaration";
    case kFileAlreadyOpen: return "File Already Open";
    case kNoTransactions: return "Function Not Supported";
    case kRecordChanged: return "Record Changed By Another Station";
    case kFilterSyntax: return "Invalid Filter Expression";
    case kBadRequest: return "Invalid Request";
    default: return "Error " + std::to_string(code);
  }
}

void SetError(int code, std::string_view file, std::string_view fileErrorCode,
              std::string_view fileErrorText) {
  auto& e = Errors().current;
  e.code = code;
  e.text = ErrorTextOf(code);
  e.file = file;
  e.fileErrorCode = fileErrorCode.empty() ? std::to_string(code) : std::string(fileErrorCode);
  e.fileErrorText = fileErrorText.empty() ? e.text : std::string(fileErrorText);
}

void ClearError() { Errors().current = ErrorState{}; }

void PushErrors() { Errors().saved.push_back(Errors().current); }

void PopErrors() {
  auto& t = Errors();
  if (t.saved.empty()) return;
  t.current = std::move(t.saved.back());
  t.saved.pop_back();
}

}  // namespace rt
