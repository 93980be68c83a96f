// The program's windows (app/window_layouts.h, app/select_last_date.h) on the desktop,
// driven with real Qt key and mouse input: what the user does must reach the
// runtime's variables and events, and what the program sets must show.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/core/dates.h"
#include "tests/runtime/qt/qt_fixture.h"
#include "tests/support/window_layouts.h"
#include "ui/message_window.h"

namespace rt {
namespace {

using namespace testing;  // the layouts, their procedures and the fixture

constexpr char kDialog[] = "QUICKWINDOW";
constexpr char kCalendar[] = "CALENDARSCREEN";

TEST_F(QtTest, CutoffDialogRefusesA2024DateAndTakesADayFromTheCalendar) {
  std::int32_t lastDate = 0;
  std::vector<std::string> seen;
  Desk desk;
  desk.Then(On<QLineEdit>(kDialog, "?LASTDATE",
                          [](QLineEdit* e) { QTest::keyClicks(e, "1/1/2024"); }))
      .Then(Click(kDialog, "?OK"))
      .Then([&] {
        QMessageBox* box = OpenMessageBox();
        if (!box) return false;
        seen.push_back(box->text().toStdString());
        Screenshot(box, "cutoff-refusal");
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        return true;
      })
      .Then([] {  // the refusal puts the focus back on the date
        if (OpenMessageBox() || FocusNameIn(kDialog) != "?LASTDATE") return false;
        Screenshot(ShownWindow(kDialog), "cutoff-dialog");
        QTest::mouseClick(ShownControl(kDialog, "?CALENDAR"), Qt::LeftButton);
        return true;
      })
      .Then(On<QLabel>(kCalendar, "?MONTHYEAR",
                       [&](QLabel* title) {
                         seen.push_back(title->text().toStdString());
                         // 1 January 2024 is a Monday: Sunday the 7th is button 12 + 1 + 6.
                         auto* sunday = ShownControl<QPushButton>(kCalendar, "?DAY8");
                         auto* monday = ShownControl<QPushButton>(kCalendar, "?DAY2");
                         EXPECT_EQ(sunday->palette().color(QPalette::ButtonText), QColor(Qt::red));
                         EXPECT_NE(monday->palette().color(QPalette::ButtonText), QColor(Qt::red));
                         EXPECT_TRUE(monday->font().bold()) << "the current day, the 1st, is bold";
                         EXPECT_FALSE(sunday->font().bold());
                         EXPECT_FALSE(ShownControl<QPushButton>(kCalendar, "?DAY1")->isVisible())
                             << "Sunday 31 December is not January";
                         Screenshot(ShownWindow(kCalendar), "calendar");
                         QTest::mouseClick(ShownControl(kCalendar, "?PREVMONTH"),
                                           Qt::LeftButton);  // previous month
                       }))
      // December 2023 starts on a Friday: the 31st is the 36th button.
      .Then(On<QPushButton>(kCalendar, "?DAY36",
                            [](QPushButton* day) {
                              EXPECT_EQ(day->text(), "31");
                              QTest::mouseClick(day, Qt::LeftButton);
                            }))
      .Then([&] {
        auto* entry = ShownControl<QLineEdit>(kDialog, "?LASTDATE");
        if (ShownWindow(kCalendar) || !entry || entry->text() != "12/31/2023" ||
            !ActiveWindow(kDialog))
          return false;
        QTest::keyClick(ShownWindow(kDialog), Qt::Key_O,
                        Qt::AltModifier);  // the OK button's accelerator
        return true;
      });
  EXPECT_EQ(RunCutoffDialog(lastDate), 1);
  EXPECT_TRUE(desk.Done());
  EXPECT_EQ(lastDate, Date(12, 31, 2023));
  EXPECT_EQ(seen, (std::vector<std::string>{"Date Not acceptable. Pick a date prior 01/2024.",
                                            "January 2024"}));
}

// Arrows, PageDown and Home move the date and the focus onto its day, where
// Enter picks it; the focus is then on OK, so the next Enter accepts.
TEST_F(QtTest, CalendarTakesTheKeysAndAPickLeavesTheFocusOnOk) {
  std::int32_t lastDate = 0;
  auto keys = [](const char* focus, std::vector<Qt::Key> pressed) {
    return [focus, pressed] {
      QWidget* calendar = ShownWindow(kCalendar);
      if (!calendar || !calendar->focusWidget() || calendar->focusWidget()->objectName() != focus)
        return false;
      for (Qt::Key key : pressed) QTest::keyClick(calendar->focusWidget(), key);
      return true;
    };
  };
  Desk desk;
  desk.Then(On<QLineEdit>(kDialog, "?LASTDATE",
                          [](QLineEdit* e) {
                            QTest::keyClicks(e, "2/27/2020");
                            QTest::keyClick(e, Qt::Key_Tab);
                          }))
      .Then([] {
        if (FocusNameIn(kDialog) != "?CALENDAR") return false;
        QTest::keyClick(FocusIn(kDialog), Qt::Key_Return);
        return true;
      })
      .Then(keys("?CLOSE", {Qt::Key_Right, Qt::Key_Right}))
      // February 2020 starts on a Saturday: the 29th is button 12 + 6 + 28.
      .Then(keys("?DAY35", {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Home}))
      // April 2020 starts on a Wednesday: the 1st is button 12 + 3.
      .Then([] {
        QWidget* calendar = ShownWindow(kCalendar);
        if (!calendar || !calendar->focusWidget() ||
            calendar->focusWidget()->objectName() != "?DAY4")
          return false;
        Screenshot(calendar, "calendar-keys");
        QTest::keyClick(calendar->focusWidget(), Qt::Key_Enter);
        return true;
      })
      .Then([] {
        auto* entry = ShownControl<QLineEdit>(kDialog, "?LASTDATE");
        if (ShownWindow(kCalendar) || !entry || entry->text() != "04/01/2020" ||
            FocusNameIn(kDialog) != "?OK")
          return false;
        QTest::keyClick(FocusIn(kDialog), Qt::Key_Return);
        return true;
      });
  EXPECT_EQ(RunCutoffDialog(lastDate), 1);
  EXPECT_TRUE(desk.Done());
  EXPECT_EQ(lastDate, Date(4, 1, 2020)) << "27 Feb 2020 + 2 days, + 7, a month on, its first day";
}

// The entry keeps the text it could not read, says how to type a date in its
// tip, and shows the format while empty; Tab draws the focus on buttons.
TEST_F(QtTest, UnreadableDateStaysAsTypedAndTabFollowsControlNumbers) {
  std::int32_t lastDate = Date(6, 30, 2022);
  std::vector<std::string> focus;
  auto focused = [&] { focus.push_back(FocusNameIn(kDialog)); };
  QImage cancelBefore;
  Desk desk;
  desk.Then(On<QLineEdit>(kDialog, "?LASTDATE",
                          [](QLineEdit* e) {
                            QTest::mouseClick(e, Qt::LeftButton);
                            QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
                            QTest::keyClicks(e, "13/45/2023");
                            QTest::keyClick(e, Qt::Key_Tab);
                          }))
      .Then([&] {
        if (backend->Beeps() == 0) return false;
        focused();
        auto* entry = ShownControl<QLineEdit>(kDialog, "?LASTDATE");
        EXPECT_EQ(entry->text(), "13/45/2023") << "the entry keeps what was typed";
        EXPECT_EQ(entry->toolTip(), "Type a date as MM/DD/YYYY");
        EXPECT_EQ(entry->placeholderText(), "mm/dd/yyyy");
        Screenshot(ShownWindow(kDialog), "cutoff-unreadable-date");
        QTest::keyClick(entry, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(entry, "7/4/2022");
        QTest::keyClick(entry, Qt::Key_Tab);
        return true;
      })
      .Then([&] {
        if (FocusNameIn(kDialog) == "?LASTDATE") return false;
        focused();
        EXPECT_EQ(ShownControl(kDialog, "?LASTDATE")->toolTip(), "") << "read: nothing to say";
        cancelBefore = ShownControl(kDialog, "?CANCEL")->grab().toImage();
        QTest::keyClick(FocusIn(kDialog), Qt::Key_Tab);
        return true;
      })
      .Then([&] {
        if (FocusNameIn(kDialog) != "?OK" || !ActiveWindow(kDialog)) return false;
        focused();
        QTest::keyClick(FocusIn(kDialog), Qt::Key_Tab);
        return true;
      })
      .Then([&] {
        if (FocusNameIn(kDialog) != "?CANCEL") return false;
        focused();
        EXPECT_NE(ShownControl(kDialog, "?CANCEL")->grab().toImage(), cancelBefore)
            << "the focus on Cancel is drawn";
        Screenshot(ShownWindow(kDialog), "cutoff-focus-on-cancel");
        QTest::keyClick(ShownWindow(kDialog), Qt::Key_C, Qt::AltModifier);  // Cancel
        return true;
      });
  EXPECT_EQ(RunCutoffDialog(lastDate), 2);
  EXPECT_TRUE(desk.Done());
  EXPECT_EQ(backend->Beeps(), 1);
  EXPECT_EQ(lastDate, Date(7, 4, 2022))
      << "the date read when the entry was left stays after Cancel";
  EXPECT_EQ(focus, (std::vector<std::string>{"?LASTDATE", "?CALENDAR", "?OK", "?CANCEL"}));
}

TEST_F(QtTest, ProgressWindowAdvancesOnItsTimerAndCancelStopsIt) {
  int shownPercent = -1;
  Desk desk;
  desk.Then([&] {
    auto* bar = ShownControl<QProgressBar>("PROGRESSWINDOW", "?PROGRESS:THERMOMETER");
    if (!bar || !bar->isVisible() || bar->value() < 6) return false;
    shownPercent = bar->value();
    EXPECT_EQ(ShownControl<QLabel>("PROGRESSWINDOW", "?PROGRESS:PCTTEXT")->text().toStdString(),
              std::to_string(shownPercent) + "% Complete");
    Screenshot(ShownWindow("PROGRESSWINDOW"), "progress");
    QTest::mouseClick(ShownControl("PROGRESSWINDOW", "?PROGRESS:CANCEL"), Qt::LeftButton);
    return true;
  });
  const int taken = RunProcess(500, 10);
  EXPECT_TRUE(desk.Done());
  EXPECT_EQ(taken % 10, 0) << "a tick's batch is never cut";
  EXPECT_GE(taken * 100 / 500, shownPercent);
  EXPECT_LT(taken, 500) << "Cancel stopped the run";
}

TEST_F(QtTest, HistoryListShowsItsRowsAndEnterPressesTheDefaultButton) {
  const std::vector<std::pair<std::string, std::string>> history = {{"Disk full", "Files"},
                                                                    {"Record locked", "Files"}};
  Window window(ui::HistoryWindowResource());
  OpenWindow(window);
  SetProperty(0, PropText, "Errors History");
  SetListSource(2, [&](int row, int column) -> std::string {
    if (row == -1) return std::to_string(history.size());
    if (row < 1 || row > static_cast<int>(history.size())) return row == -3 ? "1" : "";
    return column == 1 ? history[row - 1].first : history[row - 1].second;
  });
  SetProperty(3, PropText, "&Help");
  SetProperty(4, PropText, "O&k");
  Unhide(3);
  Unhide(4);
  SetProperty(4, PropDefault, 1);
  Select(4);
  std::vector<std::string> cells;
  Desk desk;
  desk.Then(On<QTreeWidget>("HISTORY", "?LIST", [&](QTreeWidget* list) {
    for (int row = 0; row < list->topLevelItemCount(); ++row)
      cells.push_back(list->topLevelItem(row)->text(0).toStdString() + "|" +
                      list->topLevelItem(row)->text(1).toStdString());
    EXPECT_EQ(list->headerItem()->text(0), "Message");
    EXPECT_FALSE(ShownControl<QLabel>("HISTORY", "?IMAGE")->pixmap().isNull())
        << "the information icon";
    Screenshot(ShownWindow("HISTORY"), "history");
    const QRect row2 = list->visualItemRect(list->topLevelItem(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row2.center());
    QTest::keyClick(list, Qt::Key_Return);
  }));
  int accepted = 0;
  ServeEvents([&] {
    accepted = AcceptedControl();
    return accepted ? -1 : 0;
  });
  EXPECT_EQ(accepted, 4) << "Enter on the list presses the default button";
  EXPECT_EQ(GetProperty(2, PropSelected).Number(), 2);
  EXPECT_EQ(cells, (std::vector<std::string>{"Disk full|Files", "Record locked|Files"}));
}

}  // namespace
}  // namespace rt
