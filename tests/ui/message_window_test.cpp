// The error history window on the headless backend, reached the way the
// program reaches it: through the error manager, with the history window
// installed.
#include "ui/message_window.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "errors/default_errors.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window.h"
#include "tests/ui/ui_fixture.h"

namespace {

using namespace ui_test;

class HistoryWindowTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    ui::UseHistoryWindow(errs);
  }

  // The list's rows as "message|category", read while the window is open;
  // then `finish` is given as the operator's next step.
  void ReadRowsThen(const std::string& finish) {
    backend.OnIdle([this, finish](rt::HeadlessBackend& b) {
      const rt::Window* window = rt::CurrentWindow();
      if (!window || window->Name() != "HISTORY") return;
      rows.clear();
      icon = window->Control(ui::kHistoryIcon)->Icon;
      for (int row = 1; row <= window->RowCount(ui::kHistoryList); ++row)
        rows.push_back(window->Cell(ui::kHistoryList, row, 1) + "|" +
                       window->Cell(ui::kHistoryList, row, 2));
      ASSERT_TRUE(b.LoadScript(finish));
    });
  }

  std::vector<std::string> rows;
  std::string icon;
};

struct ButtonCase {
  const char* Name;
  int Buttons;
  int Default;
  std::vector<std::string> Captions;  // from the right end leftwards
  std::size_t DefaultAt;              // the default's place in Captions
  const char* Script;
  int Answer;
};
void PrintTo(const ButtonCase& c, std::ostream* os) { *os << c.Name; }

class ButtonTest : public HistoryWindowTest, public ::testing::WithParamInterface<ButtonCase> {};

// Tab from the default button's focus and Enter tell where the focus was.
const ButtonCase kButtonCases[] = {
    {"HelpAtTheRightEndOkDefault", rt::ButtonOk | rt::ButtonHelp, rt::ButtonOk,
     {"&Help", "O&k"}, 1, "key Tab\nkey Enter", rt::ButtonOk},
    {"YesNoCancelWithCancelDefault", rt::ButtonYes | rt::ButtonNo | rt::ButtonCancel,
     rt::ButtonCancel, {"&Cancel", "&No", "&Yes"}, 0, "key Tab\nkey Enter", rt::ButtonNo},
    {"ClosingOtherwiseAnswersTheDefault", rt::ButtonYes | rt::ButtonNo, rt::ButtonYes,
     {"&No", "&Yes"}, 1, "close", rt::ButtonYes},
    {"EveryButton", 255, rt::ButtonHelp,
     {"&Help", "&Cancel", "&Ignore", "&Retry", "&Abort", "&No", "&Yes", "O&k"}, 0,
     "accept ?BUTTON6", rt::ButtonNo},
};

TEST_P(ButtonTest, PlacesButtonsRightToLeftAndAnswersThePressedOne) {
  const ButtonCase& c = GetParam();
  ASSERT_TRUE(backend.LoadScript(std::string("expect HISTORY\n") + c.Script));
  EXPECT_EQ(errs.ShowHistoryWindow("Errors History", 0, c.Buttons, c.Default), c.Answer);
  EXPECT_TRUE(backend.Problems().empty()) << backend.Problems().front();
  const auto shown = backend.Shown("HISTORY");
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->Caption, "Errors History");
  for (int i = 0; i < ui::kHistoryButtonCount; ++i) {
    const auto& button = shown->Controls.at(ui::kHistoryFirstButton + i);
    const bool used = i < static_cast<int>(c.Captions.size());
    SCOPED_TRACE("button " + std::to_string(i + 1));
    EXPECT_EQ(button.Hidden, !used);
    if (!used) continue;
    EXPECT_EQ(button.Text, c.Captions[i]);
    EXPECT_EQ(button.Default, static_cast<std::size_t>(i) == c.DefaultAt);
  }
}

INSTANTIATE_TEST_SUITE_P(HistoryWindow, ButtonTest, ::testing::ValuesIn(kButtonCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(HistoryWindowTest, ListsTheRecordedMessagesWithTheirCategories) {
  errs.AddEntry(900, "Disk full|try again", "Files", errors::LevelNotify, "Files");
  errs.SetHistoryThreshold(-1);
  errs.Raise(900);
  errs.Raise(errors::ErrNothingToProcess);
  EXPECT_TRUE(backend.MessageBoxes().empty()) << "recorded, not shown";
  ReadRowsThen("accept ?BUTTON2");  // OK, left of Help
  errs.ReviewHistory();
  EXPECT_EQ(rows, (std::vector<std::string>{"Disk full|try again|Files",
                                            "There are no records available to process.|Tarvo"}));
  EXPECT_EQ(errs.HistorySnapshot().size(), 2u) << "reviewing keeps the history";
  EXPECT_EQ(icon, rt::StockIcon(rt::kStockInformation));
}

TEST_F(HistoryWindowTest, ANotificationAtTheViewLevelShowsOnlyItselfWithOneOk) {
  errs.AddEntry(901, "First", "Files", errors::LevelNotify);
  errs.AddEntry(902, "Second", "Files", errors::LevelNotify);
  errs.SetHistoryThreshold(1);
  errs.SetHistoryViewLevel(errors::LevelNotify);
  ReadRowsThen("accept ?BUTTON1");
  errs.Raise(901);
  ReadRowsThen("accept ?BUTTON1");
  errs.Raise(902);
  EXPECT_EQ(rows, (std::vector<std::string>{"Second|Tarvo"}));
  const auto shown = backend.Shown("HISTORY");
  EXPECT_EQ(shown->Controls.at(ui::kHistoryFirstButton).Text, "O&k");
  EXPECT_TRUE(shown->Controls.at(ui::kHistoryFirstButton + 1).Hidden);
  EXPECT_TRUE(backend.MessageBoxes().empty());
}

TEST_F(HistoryWindowTest, AnEmptyHistoryStillOpensTheWindowWithTheIconAsked) {
  ReadRowsThen("close");
  rows = {"not read"};
  EXPECT_EQ(errs.ShowHistoryWindow("", rt::kStockExclamation, rt::ButtonOk, rt::ButtonOk),
            rt::ButtonOk);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(icon, rt::StockIcon(rt::kStockExclamation));
  EXPECT_EQ(backend.Shown("HISTORY")->Caption, "Error") << "the designed title without a caption";
  EXPECT_FALSE(backend.Shown("HISTORY")->Open);
}

}  // namespace
