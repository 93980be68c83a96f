// Modal message boxes, shown through the active backend.
#pragma once

#include <string>
#include <string_view>

namespace rt {

// Buttons: a message box shows a set of them and answers with one.
inline constexpr int ButtonOk = 1;
inline constexpr int ButtonYes = 2;
inline constexpr int ButtonNo = 4;
inline constexpr int ButtonAbort = 8;
inline constexpr int ButtonRetry = 16;
inline constexpr int ButtonIgnore = 32;
inline constexpr int ButtonCancel = 64;
inline constexpr int ButtonHelp = 128;

// The caption every backend shows on a message box given none.
inline constexpr char kUncaptioned[] = "Veltrane";

// Stock icons are four-byte codes: 0xFF, 0x01, then the stock number, low byte first.
std::string StockIcon(int number);
inline constexpr int kStockExclamation = 0x7F03;
inline constexpr int kStockInformation = 0x7F04;
// The stock number of a stock icon code, else 0.
int StockIconNumber(std::string_view icon);

// Shows text ("|" starts a new line) with a caption, an icon (name, stock
// code or empty) and a set of buttons; returns the value of the button
// pressed. An empty button set shows OK; a default that is not one of the
// buttons becomes the first button of the set (lowest value); an answer from
// the backend that is not one of the buttons counts as the default. Without an
// active backend the text goes to standard error and the default is returned.
int MessageBox(std::string_view text, std::string_view caption = {}, std::string_view icon = {},
               int buttons = ButtonOk, int defaultButton = 0, int style = 0);

}  // namespace rt
