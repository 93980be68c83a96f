// Entries bound to a variable with a picture: accepted text is read under the
// picture into the variable; text the picture cannot read is rejected and the
// variable keeps its value.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "runtime/core/dates.h"
#include "runtime/windows/event_loop.h"
#include "tests/runtime/windows/headless_fixture.h"

namespace rt {
namespace {

using ::testing::ElementsAre;
using testing::HeadlessTest;

struct EntryCase {
  const char* typed;
  bool accepted;
  std::int32_t stored;  // the variable afterwards
  const char* shown;    // the entry's text afterwards
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << '"' << c.typed << '"'; }

constexpr std::int32_t kBefore = 80000;  // a date the variable holds beforehand

class DateEntryTest : public HeadlessTest, public ::testing::WithParamInterface<EntryCase> {
 protected:
  DateEntryTest() {
    dialog.Name = "QUICKWINDOW";
    ControlResource entry = MakeControl(5, "?LASTDATE", ControlKind::Entry);
    entry.Picture = "D02B";
    entry.Use = &lastDate;
    dialog.Controls = {MakeControl(1, "?OK", ControlKind::Button), entry};
  }
  WindowResource dialog;
  std::int32_t lastDate = kBefore;
};

TEST_P(DateEntryTest, ReadsTheTextUnderThePicture) {
  const EntryCase& param = GetParam();
  backend.Type("?LASTDATE", param.typed);
  backend.Key(KeyEnter);
  Window window(dialog);
  OpenWindow(window);
  std::string outcome;
  ServeEvents([&] {
    if (EventControl() == 5 && (CurrentEvent() == EventAccepted || CurrentEvent() == EventRejected)) {
      outcome = testing::CurrentEventName();
      Post(EventCloseWindow);
    }
    return 0;
  });
  EXPECT_EQ(outcome, param.accepted ? "Accepted 5" : "Rejected 5");
  EXPECT_EQ(lastDate, param.stored);
  EXPECT_EQ(window.Control(5)->Text, param.shown);
}

INSTANTIATE_TEST_SUITE_P(
    D02B, DateEntryTest,
    ::testing::Values(EntryCase{"12/31/2023", true, Date(12, 31, 2023), "12/31/2023"},
                      EntryCase{"1/5/2023", true, Date(1, 5, 2023), "01/05/2023"},
                      EntryCase{" 2/29/2024 ", true, Date(2, 29, 2024), "02/29/2024"},
                      EntryCase{"", true, 0, ""},
                      EntryCase{"13/45/2023", false, kBefore, "13/45/2023"},
                      EntryCase{"2/29/2023", false, kBefore, "2/29/2023"},
                      EntryCase{"12/31/23", false, kBefore, "12/31/23"},
                      EntryCase{"yesterday", false, kBefore, "yesterday"}));

TEST_F(DateEntryTest, EntryShowsNothingWhileTheDateIsZero) {
  lastDate = 0;
  Window window(dialog);
  OpenWindow(window);
  EXPECT_EQ(window.Control(5)->Text, "");
  lastDate = Date(3, 7, 2022);
  window.Display(5);
  EXPECT_EQ(backend.ShownText("QUICKWINDOW", 5), "03/07/2022");
}

// Pressing a button while the entry holds text it cannot read: the entry is
// rejected, keeps the focus, and the button press never happens.
TEST_F(DateEntryTest, RejectedEntryStopsTheButtonPressAndIsReadAgainNextTime) {
  backend.Type("?LASTDATE", "13/45/2023");
  backend.Accept("?OK");
  backend.Accept("?OK");
  backend.Type("?LASTDATE", "12/31/2023");
  backend.Accept("?OK");
  Window window(dialog);
  OpenWindow(window);
  std::vector<std::string> seen;
  std::int32_t dateAtOk = -1;
  ServeEvents([&] {
    const int event = CurrentEvent();
    if (event == EventAccepted || event == EventRejected) seen.push_back(testing::CurrentEventName());
    if (AcceptedControl() == 1) {
      dateAtOk = lastDate;
      Post(EventCloseWindow);
    }
    return 0;
  });
  EXPECT_THAT(seen, ElementsAre("Rejected 5", "Rejected 5", "Accepted 5", "Accepted 1"));
  EXPECT_EQ(dateAtOk, Date(12, 31, 2023));
}

TEST_F(DateEntryTest, ImmediateButtonActsWithoutReadingTheEntry) {
  ControlResource cancel = MakeControl(2, "?CANCEL", ControlKind::Button);
  cancel.Immediate = true;
  dialog.Controls.push_back(cancel);
  backend.Type("?LASTDATE", "13/45/2023");
  backend.Accept("?CANCEL");
  Window window(dialog);
  OpenWindow(window);
  std::vector<std::string> seen;
  ServeEvents([&] {
    if (CurrentEvent() == EventAccepted || CurrentEvent() == EventRejected) seen.push_back(testing::CurrentEventName());
    if (AcceptedControl() == 2) Post(EventCloseWindow);
    return 0;
  });
  EXPECT_THAT(seen, ElementsAre("Accepted 2"));
  EXPECT_EQ(lastDate, kBefore);
  EXPECT_EQ(window.Focus(), 5) << "the entry keeps the focus and its text";
  EXPECT_EQ(window.Control(5)->Text, "13/45/2023");
}

struct NumberCase {
  const char* typed;
  bool accepted;
  std::int16_t stored;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.typed << '"'; }

class NumberEntryTest : public HeadlessTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(NumberEntryTest, ValueMustFitTheVariable) {
  std::int16_t count = 7;
  WindowResource resource;
  resource.Name = "COUNT";
  ControlResource entry = MakeControl(1, {}, ControlKind::Entry);
  entry.Picture = "n6";
  entry.Use = &count;
  resource.Controls = {entry};
  Window window(resource);
  OpenWindow(window);
  backend.Type("1", GetParam().typed);
  backend.Key(KeyEnter);
  int result = 0;
  ServeEvents([&] {
    if (CurrentEvent() == EventAccepted || CurrentEvent() == EventRejected) {
      result = CurrentEvent();
      Post(EventCloseWindow);
    }
    return 0;
  });
  EXPECT_EQ(result, GetParam().accepted ? EventAccepted : EventRejected);
  EXPECT_EQ(count, GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Short, NumberEntryTest,
                         ::testing::Values(NumberCase{"32767", true, 32767}, NumberCase{"-12", true, -12},
                                           NumberCase{"32768", false, 7}, NumberCase{"12a", false, 7}));

}  // namespace
}  // namespace rt
