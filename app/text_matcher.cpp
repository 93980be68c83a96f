#include "app/text_matcher.h"

namespace app {

void TextMatcher::Init() {
  initialized_ = true;
  ignoreCase_ = false;
  wholeWords_ = true;
}

void TextMatcher::SetOption(int option, bool on) {
  if (option == 1) ignoreCase_ = on;
  if (option == 2) wholeWords_ = on;
}

bool TextMatcher::Option(int option) const {
  if (option == 1) return ignoreCase_;
  if (option == 2) return wholeWords_;
  return false;
}

void TextMatcher::Kill() { initialized_ = false; }

}  // namespace app
