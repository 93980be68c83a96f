// Window and control properties, positions, focus and keys.
#include "runtime/windows/window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/core/error_state.h"
#include "runtime/core/program.h"
#include "runtime/windows/event_loop.h"
#include "tests/runtime/windows/headless_fixture.h"

namespace rt {
namespace {

using ::testing::ElementsAre;
using testing::HeadlessTest;

class WindowTest : public HeadlessTest {
 protected:
  WindowTest() {
    resource.Name = "PROGRESSWINDOW";
    resource.Caption = "Process Timecard";
    resource.Font = {"Sans Serif", 8, 400};
    resource.Width = 142;
    resource.Height = 59;
    auto add = [&](int number, std::string label, ControlKind kind, Rect at, std::string text = {}) {
      resource.Controls.push_back(MakeControl(number, std::move(label), kind, at, std::move(text)));
    };
    add(1, "?PROGRESS:THERMOMETER", ControlKind::Progress, {15, 15, 111, 12});
    add(2, "?PROGRESS:USERSTRING", ControlKind::Text, {0, 3, 141, 10});
    add(3, "?PROGRESS:PCTTEXT", ControlKind::Text, {0, 30, 141, 10});
    add(4, "?PROGRESS:CANCEL", ControlKind::Button, {46, 42, 49, 15}, "Cancel");
    resource.Controls[0].Use = &percent;
  }
  WindowResource resource;
  std::uint8_t percent = 0;
};

TEST_F(WindowTest, PropertiesReadBackWhatWasSet) {
  Window window(resource);
  ASSERT_EQ(OpenWindow(window), 0);
  struct Case {
    int control, property;
    PropertyValue value;
  };
  const std::vector<Case> cases = {
      {0, PropText, "Processing Records"}, {3, PropText, "0% Completed"}, {3, PropFontColor, 255},
      {3, PropFontStyle, 0x22BC},          {4, PropHide, 1},              {0, PropTimer, 10},
      {0, PropMinWidth, 100},              {1, PropRangeHigh, 50},        {2, PropNoResize, 1},
      {0, PropQuietField, 1},              {0, PropIconized, 1},          {4, PropTip, "Cancel Process"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetProperty(c.control, c.property, c.value), 0) << c.property;
    EXPECT_EQ(GetProperty(c.control, c.property).Text(), c.value.Text()) << c.property;
  }
  EXPECT_EQ(GetProperty(4, PropType).Number(), static_cast<int>(ControlKind::Button));
  EXPECT_EQ(GetProperty(0, PropThread).Number(), ThreadNumber());
  EXPECT_EQ(backend.Shown("PROGRESSWINDOW")->Caption, "Processing Records");
  EXPECT_TRUE(backend.Shown("PROGRESSWINDOW")->Controls.at(4).Hidden);
}

TEST_F(WindowTest, UnknownControlsAndReadOnlyPropertiesAreRefused) {
  Window window(resource);
  OpenWindow(window);
  EXPECT_EQ(SetProperty(9, PropText, "x"), kBadRequest);
  GetProperty(9, PropText);
  EXPECT_EQ(ErrorCode(), kBadRequest);
  EXPECT_EQ(FileErrorText(), "window PROGRESSWINDOW has no control 9");
  EXPECT_EQ(SetProperty(1, PropType, 8), kBadRequest);
  EXPECT_EQ(GetProperty(1, PropType).Number(), static_cast<int>(ControlKind::Progress));
  EXPECT_EQ(SetProperty(0, PropThread, 5), kBadRequest);
  EXPECT_EQ(SetProperty(2, PropUse, "not a variable"), kBadRequest);
  EXPECT_EQ(Select(2), kBadRequest) << "a text cannot take the focus";
  EXPECT_EQ(SetPropertyValue(3, PropText, 2, "x"), kBadRequest);
  EXPECT_EQ(SetPropertyValue(3, PropText, 0, "x"), 0);
}

TEST_F(WindowTest, DisplayMovesTheThermometerFromItsVariable) {
  Window window(resource);
  OpenWindow(window);
  percent = 37;
  EXPECT_EQ(backend.Shown("PROGRESSWINDOW")->Controls.at(1).Value, 0);
  Display();
  EXPECT_EQ(backend.Shown("PROGRESSWINDOW")->Controls.at(1).Value, 37);
  EXPECT_THAT(backend.Transcript(), ::testing::Contains("value PROGRESSWINDOW:1 37"));
}

TEST_F(WindowTest, PositionsKeepMarkedValuesAndControlsEnumerate) {
  Window window(resource);
  OpenWindow(window);
  EXPECT_EQ(SetPosition(3, 5, kKeepValue, 100, kKeepValue), 0);
  EXPECT_EQ(GetPosition(3), (Rect{5, 30, 100, 10}));
  SetProperty(0, PropMinWidth, 142);
  SetPosition(0, 20, 30, 50, 80);
  EXPECT_EQ(GetPosition(0), (Rect{20, 30, 142, 80})) << "held at the minimum width";
  EXPECT_EQ(GetProperty(0, PropClientWidth).Number(), 142);
  std::vector<int> controls;
  for (int c = GetProperty(0, PropNextControl, 0).Number(); c != 0; c = GetProperty(0, PropNextControl, c).Number())
    controls.push_back(c);
  EXPECT_THAT(controls, ElementsAre(1, 2, 3, 4));
  EXPECT_EQ(LastControl(), 4);
  EXPECT_EQ(SetPosition(7, 0, 0, 0, 0), kBadRequest);
}

TEST_F(WindowTest, UserResizingIsHeldToTheLimitsAndMaximizingComesBack) {
  resource.Resizable = true;
  Window window(resource);
  OpenWindow(window);
  SetProperty(0, PropMinWidth, 142);
  SetProperty(0, PropMinHeight, 59);
  ASSERT_TRUE(backend.LoadScript("resize 100 200\nmaximize\nrestore\nclose\n"));
  std::vector<std::string> seen;
  std::vector<Rect> areas;
  ServeEvents([&] {
    const int event = CurrentEvent();
    if (event == EventSized || event == EventMaximized || event == EventRestored) {
      seen.push_back(testing::CurrentEventName());
      areas.push_back(GetPosition(0));
    }
    return 0;
  });
  const Rect screen = backend.ScreenArea();
  EXPECT_THAT(seen, ElementsAre("Sized", "Sized", "Maximized", "Sized", "Restored", "Sized"));
  EXPECT_EQ(areas[1], (Rect{0, 0, 142, 200})) << "no narrower than the minimum";
  EXPECT_EQ(areas[3], screen);
  EXPECT_EQ(areas[5], (Rect{0, 0, 142, 200}));
  EXPECT_FALSE(window.Maximized());
}

TEST_F(WindowTest, DeferredMovesAreShownWhenTheCountDropsToZero) {
  Window window(resource);
  OpenWindow(window);
  SetProperty(0, PropDeferMoves, 2);
  SetPosition(3, 1, 2, 3, 4);
  SetPosition(4, 5, 6, 7, 8);
  EXPECT_EQ(GetPosition(3), (Rect{1, 2, 3, 4})) << "the model moves at once";
  EXPECT_EQ(backend.Shown("PROGRESSWINDOW")->Controls.at(3).Position, (Rect{0, 30, 141, 10}));
  SetProperty(0, PropDeferMoves, 0);
  EXPECT_EQ(backend.Shown("PROGRESSWINDOW")->Controls.at(3).Position, (Rect{1, 2, 3, 4}));
  EXPECT_EQ(backend.Shown("PROGRESSWINDOW")->Controls.at(4).Position, (Rect{5, 6, 7, 8}));
  SetPosition(4, 9, 9, 9, 9);
  EXPECT_EQ(backend.Shown("PROGRESSWINDOW")->Controls.at(4).Position, (Rect{9, 9, 9, 9})) << "shown at once again";
}

TEST_F(WindowTest, AlertKeysArriveAsEventsAndOtherKeysKeepTheirUse) {
  resource.Controls.push_back(MakeControl(5, {}, ControlKind::Entry));
  Window window(resource);
  OpenWindow(window);
  Alert(KeyDown);
  SetProperty(5, PropAlertKey, KeyEnter);
  Select(5);
  backend.Type("5", "abc");
  backend.Key(KeyDown);
  backend.Key(KeyEnter);
  backend.Key(KeyTab);   // to the cancel button
  backend.Key(KeyEnter); // presses it
  std::vector<std::string> seen;
  std::vector<int> keys;
  ServeEvents([&] {
    const int event = CurrentEvent();
    if (event == EventAlertKey || event == EventSelected || event == EventAccepted) {
      seen.push_back(testing::CurrentEventName());
      keys.push_back(KeyCode());
    }
    if (AcceptedControl() == 4) Post(EventCloseWindow);
    return 0;
  });
  EXPECT_THAT(seen, ElementsAre("Selected 5", "AlertKey 5", "AlertKey 5", "Accepted 5", "Selected 4", "Accepted 4"));
  EXPECT_THAT(keys, ElementsAre(0, KeyDown, KeyEnter, KeyTab, KeyTab, KeyEnter));
}

TEST_F(WindowTest, ClickSetsThePointerKeyCodeAndPressKeyActsLikeTheUser) {
  Window window(resource);
  OpenWindow(window);
  backend.Accept("?PROGRESS:CANCEL");
  std::vector<int> keys;
  ServeEvents([&] {
    if (AcceptedControl() == 4) {
      keys.push_back(KeyCode());
      SetKeyCode(0);
      PressKey(KeyEscape);
    }
    return 0;
  });
  EXPECT_THAT(keys, ElementsAre(KeyPointer));
  EXPECT_EQ(KeyCode(), KeyEscape);
}

TEST_F(WindowTest, ListRowsComeFromTheSource) {
  ControlResource list = MakeControl(6, {}, ControlKind::List);
  list.ListFormat = "217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~L(1)@s255@";
  resource.Controls.push_back(list);
  Window window(resource);
  OpenWindow(window);
  EXPECT_EQ(GetProperty(6, PropColumns).Number(), 2);
  const std::vector<std::string> rows = {"Disk full", "File locked"};
  SetListSource(6, [&](int row, int column) -> std::string {
    if (row == -1) return std::to_string(rows.size());
    if (row == -2) return "2";
    if (row == -3) return "1";
    return column == 1 ? rows.at(row - 1) : "Tarvo";
  });
  EXPECT_EQ(window.RowCount(6), 2);
  EXPECT_EQ(GetProperty(6, PropCell, 2 * 256 + 1).Text(), "File locked");
  EXPECT_EQ(window.Cell(6, 1, 2), "Tarvo");
  backend.SelectRow("6", 2);
  backend.Close();
  EXPECT_THAT(testing::HeadlessTest::Serve(), ::testing::Contains("NewSelection 6"));
  EXPECT_EQ(GetProperty(6, PropSelected).Number(), 2);
}

TEST(ListColumnsTest, ReadsWidthsAlignmentHeadersAndPictures) {
  const auto columns = ListColumns("217L(2)|M~Message~S(255)@s255@42R(2)|M~Category~L(1)@n3@");
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(columns[0].Width, 217);
  EXPECT_EQ(columns[0].Header, "Message");
  EXPECT_EQ(columns[1].Align, 'R');
  EXPECT_EQ(columns[1].Picture, "n3");
  EXPECT_TRUE(ListColumns("12L~unterminated").empty());
}

}  // namespace
}  // namespace rt
