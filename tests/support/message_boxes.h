// What the headless backend showed, in the forms tests compare against.
#pragma once

#include <string>
#include <vector>

#include "runtime/headless/headless_backend.h"

// Captions of the message boxes shown so far, oldest first.
inline std::vector<std::string> MessageCaptions(const rt::HeadlessBackend& backend) {
  std::vector<std::string> captions;
  for (const auto& box : backend.MessageBoxes()) captions.push_back(box.Caption);
  return captions;
}

// All lines of the last message box joined with "|"; "<none>" when none was shown.
inline std::string LastMessageText(const rt::HeadlessBackend& backend) {
  auto boxes = backend.MessageBoxes();
  if (boxes.empty()) return "<none>";
  std::string text;
  for (const auto& line : boxes.back().Lines) text += (text.empty() ? "" : "|") + line;
  return text;
}
