#include "app/globals.h"

#include <memory>

namespace app {
namespace {

std::unique_ptr<TextMatcher>& TextMatcherSlot() {
  static std::unique_ptr<TextMatcher> matcher;
  return matcher;
}

}  // namespace

const rt::ThreadVar<std::uint8_t> GlobalRequest{0};
const rt::ThreadVar<std::uint8_t> GlobalResponse{0};
const rt::ThreadVar<std::int32_t> VCRRequest{0};
const rt::ThreadVar<errors::ErrorStatus> ErrorStatusVar;

TextMatcher* GlobalTextMatcher() { return TextMatcherSlot().get(); }

void BuildGlobals() { TextMatcherSlot() = std::make_unique<TextMatcher>(); }

void ReleaseGlobals() { TextMatcherSlot().reset(); }

}  // namespace app
