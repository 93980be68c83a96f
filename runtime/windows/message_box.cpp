#include "runtime/windows/message_box.h"

#include <iostream>

#include "runtime/core/error_state.h"
#include "runtime/windows/backend.h"

namespace rt {

std::string StockIcon(int number) {
  return {static_cast<char>(0xFF), static_cast<char>(0x01), static_cast<char>(number & 0xFF),
          static_cast<char>((number >> 8) & 0xFF)};
}

int StockIconNumber(std::string_view icon) {
  if (icon.size() != 4 || static_cast<unsigned char>(icon[0]) != 0xFF || icon[1] != 0x01) return 0;
  return static_cast<unsigned char>(icon[2]) | (static_cast<unsigned char>(icon[3]) << 8);
}

int MessageBox(std::string_view text, std::string_view caption, std::string_view icon, int buttons,
               int defaultButton, int style) {
  MessageBoxRequest request;
  request.Caption = std::string(caption);
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = text.find('|', start);
    request.Lines.emplace_back(text.substr(start, bar == std::string_view::npos ? bar : bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  request.Icon = std::string(icon);
  request.Buttons = buttons & 0xFF;
  if (request.Buttons == 0) request.Buttons = ButtonOk;
  const bool oneButton = defaultButton > 0 && (defaultButton & (defaultButton - 1)) == 0;
  request.DefaultButton = oneButton && (defaultButton & request.Buttons)
                              ? defaultButton
                              : request.Buttons & -request.Buttons;
  request.Style = style;
  ClearError();
  Backend* backend = ActiveBackend();
  if (!backend || !OnBackendThread()) {
    std::cerr << (caption.empty() ? "" : std::string(caption) + ": ") << text << std::endl;
    return request.DefaultButton;
  }
  const int answer = backend->ShowMessageBox(request);
  const bool validAnswer = answer > 0 && (answer & (answer - 1)) == 0 && (answer & request.Buttons);
  return validAnswer ? answer : request.DefaultButton;
}

}  // namespace rt
