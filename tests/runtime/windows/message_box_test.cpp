// Message boxes and halts go through the active backend.
#include "runtime/windows/message_box.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "runtime/core/halt.h"
#include "tests/runtime/windows/headless_fixture.h"

namespace rt {
namespace {

using ::testing::ElementsAre;
using testing::HeadlessTest;

TEST_F(HeadlessTest, MessageBoxShowsLinesAndReturnsTheScriptedAnswer) {
  backend.Answer(ButtonNo);
  const int answer = MessageBox("Save the record?|Changes will be lost", "Save Record", StockIcon(kStockExclamation),
                                ButtonYes | ButtonNo | ButtonCancel, ButtonCancel);
  EXPECT_EQ(answer, ButtonNo);
  ASSERT_EQ(backend.MessageBoxes().size(), 1u);
  const auto shown = backend.MessageBoxes()[0];
  EXPECT_THAT(shown.Lines, ElementsAre("Save the record?", "Changes will be lost"));
  EXPECT_EQ(shown.Caption, "Save Record");
  EXPECT_EQ(shown.Buttons, 70);
  EXPECT_EQ(shown.DefaultButton, ButtonCancel);
  EXPECT_EQ(StockIconNumber(shown.Icon), kStockExclamation);
  EXPECT_EQ(backend.Transcript().back(),
            "messagebox \"Save Record\" \"Save the record?|Changes will be lost\" icon=exclamation buttons=70 "
            "default=64 -> 4");
}

struct DefaultCase {
  int buttons;
  int defaultButton;
  int expected;  // what an unanswered box returns
};

void PrintTo(const DefaultCase& c, std::ostream* os) {
  *os << "buttons " << c.buttons << " default " << c.defaultButton;
}

class MessageBoxDefaultTest : public HeadlessTest, public ::testing::WithParamInterface<DefaultCase> {};

TEST_P(MessageBoxDefaultTest, UnansweredBoxGivesItsDefault) {
  EXPECT_EQ(MessageBox("Text", "Caption", {}, GetParam().buttons, GetParam().defaultButton), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, MessageBoxDefaultTest,
                         ::testing::Values(DefaultCase{ButtonYes | ButtonNo, ButtonYes, ButtonYes},
                                           DefaultCase{ButtonOk, 0, ButtonOk},
                                           DefaultCase{0, 0, ButtonOk},                           // no buttons: OK
                                           DefaultCase{ButtonYes | ButtonNo, ButtonCancel, ButtonYes},  // not offered
                                           DefaultCase{ButtonOk | ButtonHelp, ButtonOk | ButtonHelp, ButtonOk}));

TEST_F(HeadlessTest, AnswerThatIsNotOfferedCountsAsTheDefaultAndIsReported) {
  backend.Answer(ButtonRetry);
  EXPECT_EQ(MessageBox("Date Not acceptable. Pick a date prior 01/2024.", "", {}, ButtonOk, ButtonOk), ButtonOk);
  ASSERT_EQ(backend.Problems().size(), 1u);
  EXPECT_THAT(backend.Problems()[0], ::testing::HasSubstr("no such button"));
}

TEST_F(HeadlessTest, CallbackAnswersWhatTheScriptDoesNot) {
  backend.Answer(ButtonYes);
  backend.OnMessageBox([](const HeadlessBackend::MessageBoxRecord& box) {
    return box.Caption == "Second" ? ButtonNo : ButtonYes;
  });
  EXPECT_EQ(MessageBox("a", "First", {}, ButtonYes | ButtonNo, ButtonNo), ButtonYes);
  EXPECT_EQ(MessageBox("b", "Second", {}, ButtonYes | ButtonNo, ButtonYes), ButtonNo);
}

TEST_F(HeadlessTest, HaltTextGoesThroughTheBackend) {
  EXPECT_THROW(Halt(0, "Place this program above: data\\Timecard.DAT"), testing::Halted);
  EXPECT_THAT(backend.Halts(), ElementsAre("Place this program above: data\\Timecard.DAT"));
  EXPECT_EQ(backend.Transcript().back(), "halt \"Place this program above: data\\Timecard.DAT\"");
}

TEST_F(HeadlessTest, BeepAndCursorAreRecorded) {
  Beep(150, 16);
  SetCursor(CursorBusy);
  EXPECT_EQ(backend.Cursor(), "busy");
  SetCursor();
  EXPECT_EQ(backend.Cursor(), "");
  EXPECT_THAT(backend.Transcript(), ElementsAre("beep 150 16", "cursor busy", "cursor normal"));
}

TEST(MessageBoxWithoutBackendTest, ReturnsTheDefault) {
  SetBackend(nullptr);
  EXPECT_EQ(MessageBox("nobody sees this", "", {}, ButtonYes | ButtonNo, ButtonNo), ButtonNo);
}

}  // namespace
}  // namespace rt
