#include "app/globals.h"

#include <memory>

#include "ui/message_window.h"

namespace app {
namespace {

std::unique_ptr<TextMatcher>& TextMatcherSlot() {
  static std::unique_ptr<TextMatcher> matcher;
  return matcher;
}
std::unique_ptr<errors::ErrorManager>& ErrorsSlot() {
  static std::unique_ptr<errors::ErrorManager> manager;
  return manager;
}
std::unique_ptr<settings::SettingsStore>& SettingsSlot() {
  static std::unique_ptr<settings::SettingsStore> store;
  return store;
}

}  // namespace

const rt::ThreadVar<std::uint8_t> GlobalRequest{0};
const rt::ThreadVar<std::uint8_t> GlobalResponse{0};
const rt::ThreadVar<std::int32_t> VCRRequest{0};
const rt::ThreadVar<errors::ErrorStatus> ErrorStatusVar;

TextMatcher* GlobalTextMatcher() { return TextMatcherSlot().get(); }
errors::ErrorManager* GlobalErrors() { return ErrorsSlot().get(); }
settings::SettingsStore* GlobalSettings() { return SettingsSlot().get(); }

void BuildGlobals() {
  TextMatcherSlot() = std::make_unique<TextMatcher>();
  ErrorsSlot() = std::make_unique<errors::ErrorManager>();
  // Its history shows in the program's own window, not in a message box.
  ui::UseHistoryWindow(*ErrorsSlot());
  SettingsSlot() = std::make_unique<settings::SettingsStore>();
}

void ReleaseGlobals() {
  SettingsSlot().reset();
  if (ErrorsSlot()) ErrorsSlot()->Kill();
  ErrorsSlot().reset();
  TextMatcherSlot().reset();
}

}  // namespace app
