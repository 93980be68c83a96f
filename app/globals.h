// The program's process-wide and per-thread objects.
//
// Process-wide objects are built by the main module's construction hook and
// destroyed by its destruction hook; they are null outside that span.
// Per-thread objects exist once per thread and are reached through
// rt::ThreadInstance; the main module's thread-start hook builds them.
#pragma once

#include <cstdint>

#include "app/text_matcher.h"
#include "errors/error_manager.h"
#include "errors/error_status.h"
#include "runtime/core/thread_instance.h"
#include "settings/settings_store.h"

namespace app {

// Process-wide.
TextMatcher* GlobalTextMatcher();
errors::ErrorManager* GlobalErrors();
settings::SettingsStore* GlobalSettings();

// The settings file, relative to the working directory.
inline constexpr const char* kSettingsFile = ".\\Veltrane.INI";

// Per-thread: the request code handed to the next window procedure, the
// response the last one left, and the pending record-navigation request.
extern const rt::ThreadVar<std::uint8_t> GlobalRequest;
extern const rt::ThreadVar<std::uint8_t> GlobalResponse;
extern const rt::ThreadVar<std::int32_t> VCRRequest;
// Per-thread: the error manager's state for this thread.
extern const rt::ThreadVar<errors::ErrorStatus> ErrorStatusVar;

// Builds and releases the process-wide objects (construction and destruction hooks).
void BuildGlobals();
void ReleaseGlobals();

}  // namespace app
