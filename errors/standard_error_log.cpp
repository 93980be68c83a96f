#include "errors/standard_error_log.h"

#include <algorithm>
#include <vector>

#include "errors/level.h"
#include "runtime/core/dates.h"
#include "runtime/core/error_state.h"
#include "runtime/core/pictures.h"
#include "runtime/files/driver.h"
#include "runtime/files/file.h"
#include "runtime/files/file_declaration.h"
#include "runtime/files/file_operations.h"

namespace errors {

StandardErrorLog::StandardErrorLog(std::string_view fileName) {
  rt::FieldDeclaration text{};
  text.Type = rt::FieldType::Text;
  text.Size = static_cast<std::uint16_t>(kLineCapacity);
  text.Name = "LOG:TXT";
  decl_ = std::make_unique<rt::FileDeclaration>(
      "ASCII", "ErrorLog", "LOG", std::string(fileName), std::vector<rt::FieldDeclaration>{text},
      std::vector<rt::KeyDeclaration>{}, 0);
  file_ = std::make_unique<rt::File>(*decl_);
}

StandardErrorLog::~StandardErrorLog() {
  rt::PushErrors();
  Close(true);
  rt::PopErrors();
}

int StandardErrorLog::Open(bool force) {
  if (usage_ > 0 && !force) {
    ++usage_;
    return LevelBenign;
  }
  const bool alreadyOpen = file_->Handle() && file_->Handle()->IsOpen();
  if (!alreadyOpen) {
    if (!rt::FileExists(decl_->DiskName())) {
      rt::FileCreate(*file_);
      if (rt::ErrorCode() != rt::kNoError) return LevelNotify;
    }
    rt::FileOpen(*file_, rt::kDefaultOpenMode);
    if (rt::ErrorCode() != rt::kNoError) return LevelNotify;
  }
  ++usage_;
  return LevelBenign;
}

int StandardErrorLog::Close(bool force) {
  // A Close that balances no Open (the one after a failed Open) leaves the
  // count at 0, so the next Open opens the file again.
  if (usage_ <= 0 && !force) return LevelNotify;
  if (usage_ <= 1 || force) {
    if (file_->Handle() && file_->Handle()->IsOpen()) {
      rt::FileClose(*file_);
      if (rt::ErrorCode() != rt::kNoError) return LevelNotify;
    }
    usage_ = 0;
    return LevelBenign;
  }
  --usage_;
  return LevelBenign;
}

int StandardErrorLog::Append(std::string_view line) {
  if (usage_ <= 0) return LevelNotify;
  // One record is one line of the file: a line break inside the text would
  // split it.
  std::string text(line.substr(0, kLineCapacity));
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  file_->Field(1).SetString(text);
  rt::FileAdd(*file_);
  return rt::ErrorCode() == rt::kNoError ? LevelBenign : LevelNotify;
}

std::string ErrorLogLine(std::string_view text) {
  return rt::Format(rt::Today(), "D17") + "@" + rt::Format(rt::Clock(), "T8") + " --> " +
         std::string(text);
}

}  // namespace errors
