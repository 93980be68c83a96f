// The desktop backend itself: starting without a display, message boxes and
// halts, sizes from the font, the user's resizing and the program's placing,
// the cursor, and waiting for input in Qt's event processing.
#include "runtime/qt/qt_backend.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <cstdlib>
#include <iostream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/dates.h"
#include "runtime/core/program.h"
#include "runtime/qt/dialog_units.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "tests/runtime/qt/qt_fixture.h"
#include "tests/support/window_layouts.h"

namespace rt {
namespace {

using namespace testing;  // the fixture and the layouts

struct DisplayCase {
  const char* platform;
  const char* display;  // nullptr: unset
  const char* says;
};

void PrintTo(const DisplayCase& c, std::ostream* os) {
  *os << c.platform << " " << (c.display ? c.display : "-");
}

class NoDisplayTest : public ::testing::TestWithParam<DisplayCase> {};

// In a child process: this one may have made its QApplication already.
TEST_P(NoDisplayTest, FactoryFailsWithOneLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const DisplayCase& c = GetParam();
  EXPECT_EXIT(
      {
        ::setenv("QT_QPA_PLATFORM", c.platform, 1);
        ::unsetenv("WAYLAND_DISPLAY");
        if (c.display)
          ::setenv("DISPLAY", c.display, 1);
        else
          ::unsetenv("DISPLAY");
        std::string error;
        const bool made = MakeQtBackend(error) != nullptr;
        std::cerr << "[" << error << "]" << std::endl;
        std::exit(made || error.find('\n') != std::string::npos ? 1 : 0);
      },
      ::testing::ExitedWithCode(0),
      std::string("\\[cannot open a window on the desktop: ") + c.says);
}

INSTANTIATE_TEST_SUITE_P(
    Displays, NoDisplayTest,
    ::testing::Values(
        DisplayCase{"xcb", nullptr, "DISPLAY is not set\\]"},
        DisplayCase{"xcb", ":97", "the X display :97 does not answer\\]"},
        DisplayCase{"nowhere", nullptr, "the Qt platform nowhere is not supported here\\]"},
        DisplayCase{"xcb;nowhere", nullptr, "DISPLAY is not set; the Qt platform nowhere.*\\]"}));

struct BoxCase {
  int buttons;
  int defaultButton;
  Qt::Key key;  // Qt::Key_unknown: click the button of the answer instead
  int answer;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
  *os << "buttons " << c.buttons << " answer " << c.answer;
}

class MessageBoxTest : public QtTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBoxTest, ShowsLinesIconAndButtonsAndAnswersWithThePressedOne) {
  const BoxCase& c = GetParam();
  QString text;
  QMessageBox::StandardButtons buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Desk desk;
  desk.Then([&] {
    QMessageBox* box = OpenMessageBox();
    if (!box) return false;
    text = box->windowTitle() + ":" + box->text();
    buttons = box->standardButtons();
    icon = box->icon();
    if (c.key != Qt::Key_unknown)
      QTest::keyClick(box, c.key);
    else
      QTest::mouseClick(box->button(c.answer == ButtonYes ? QMessageBox::Yes : QMessageBox::Help),
                        Qt::LeftButton);
    return true;
  });
  EXPECT_EQ(MessageBox("First line|Second line", "Purge", StockIcon(kStockExclamation), c.buttons,
                       c.defaultButton),
            c.answer);
  EXPECT_EQ(text, "Purge:First line\nSecond line");
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(buttons.testFlag(QMessageBox::Cancel), (c.buttons & ButtonCancel) != 0);
  EXPECT_EQ(buttons.testFlag(QMessageBox::Help), (c.buttons & ButtonHelp) != 0);
}

constexpr int kYesNoCancel = ButtonYes | ButtonNo | ButtonCancel;
INSTANTIATE_TEST_SUITE_P(
    Answers, MessageBoxTest,
    ::testing::Values(BoxCase{kYesNoCancel, ButtonNo, Qt::Key_Return, ButtonNo},
                      BoxCase{kYesNoCancel, ButtonNo, Qt::Key_Escape, ButtonCancel},
                      BoxCase{kYesNoCancel, ButtonNo, Qt::Key_unknown, ButtonYes},
                      BoxCase{ButtonOk | ButtonHelp, ButtonOk, Qt::Key_unknown, ButtonHelp}));

TEST_F(QtTest, HaltShowsItsTextBeforeTheProgramEnds) {
  QString shown;
  Desk desk;
  desk.Then([&] {
    QMessageBox* box = OpenMessageBox();
    if (!box) return false;
    shown = box->text();
    QTest::keyClick(box, Qt::Key_Return);
    return true;
  });
  try {
    Halt(3, "Exiting Application");
    ADD_FAILURE() << "the halt returned";
  } catch (const Halted& halted) {
    EXPECT_EQ(halted.text, "Exiting Application");
  }
  EXPECT_EQ(shown, "Exiting Application");
}

// A window of the given font face and size, 200 by 100 units with a button
// filling its lower half.
WindowResource Sized(std::string face, int points) {
  WindowResource w;
  w.Name = "SIZED";
  w.Font = {std::move(face), points, 400};
  w.Width = 200;
  w.Height = 100;
  w.Resizable = true;
  w.Controls = {MakeControl(1, "?LOWER", ControlKind::Button, {0, 50, 200, 50}, "Lower half")};
  return w;
}

TEST_F(QtTest, DialogUnitsFollowTheFontAndAMissingFaceIsTheDesktopFont) {
  Window small(Sized("No Such Face Anywhere", 8));
  Window large(Sized("No Such Face Anywhere", 16));
  OpenWindow(small);
  OpenWindow(large);
  QWidget* a = backend->NativeWindowOf(small);
  QWidget* b = backend->NativeWindowOf(large);
  const double ratio = double(b->width()) / a->width();
  EXPECT_GT(ratio, 1.7);
  EXPECT_LT(ratio, 2.3);
  EXPECT_NEAR(double(b->height()) / a->height(), ratio, 0.35);
  EXPECT_EQ(QFontInfo(a->font()).family(),
            QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family());
  const QRect lower = backend->NativeControlOf(small, 1)->geometry();
  EXPECT_NEAR(lower.top() * 2, a->height(), 1) << "50 of 100 units down is half way";
  EXPECT_EQ(lower.right() + 1, a->width());
  CloseWindow(large);
  CloseWindow(small);
}

TEST_F(QtTest, UserResizingMaximisingAndMovingReachTheModelAndPlacingComesBack) {
  Window window(Sized("", 8));
  OpenWindow(window);
  QWidget* native = backend->NativeWindowOf(window);
  const DialogUnits units(native->font());
  std::vector<std::string> seen;
  Desk desk;
  desk.Then([&] {
        if (!native->isVisible()) return false;
        native->resize(units.Size(300, 200));
        return true;
      })
      .Then([&] {
        if (window.Area().Width != 300) return false;
        native->showMaximized();
        return true;
      })
      .Then([&] {
        if (!window.Maximized()) return false;
        native->showNormal();
        return true;
      })
      .Then([&] {
        if (window.Maximized()) return false;
        native->move(units.X(20), units.Y(10));
        return true;
      })
      .Then([&] {
        if (window.Area().X != 20 || window.Area().Y != 10) return false;
        native->close();  // the close box
        return true;
      });
  ServeEvents([&] {
    const int event = CurrentEvent();
    if (event == EventSized || event == EventMaximized || event == EventRestored)
      seen.push_back(EventName(event, 0) + " " + std::to_string(window.Area().Width) + "x" +
                     std::to_string(window.Area().Height));
    return 0;
  });
  EXPECT_TRUE(desk.Done());
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(seen[0], "Sized 200x100");
  EXPECT_EQ(seen[1], "Sized 300x200");
  EXPECT_EQ(seen[2].rfind("Maximized", 0), 0u);
  EXPECT_EQ(seen.back(), "Sized 300x200") << "restored to the size before maximising";
  // The program places the window the way a saved placement would.
  SetPosition(0, 40, 30, 250, 120);
  const QRect placed(native->pos(), native->size());
  EXPECT_EQ(placed, QRect(units.X(40), units.Y(30), units.X(250), units.Y(120)));
  EXPECT_EQ(backend->NativeControlOf(window, 1)->geometry(), units.Pixels({0, 50, 200, 50}));
}

struct PlacementCase {
  const char* name;
  Rect saved;  // dialog units
  bool minimised;
  bool kept;  // wholly on the screen: shown exactly there
};

class SavedPlacementTest : public QtTest, public ::testing::WithParamInterface<PlacementCase> {};

// The cut-off dialog placed as a saved placement restores it comes up
// restored and whole on a screen, takes the typed date, and the model learns
// where it really is (that is what is saved next).
TEST_P(SavedPlacementTest, TheDialogComesUpWholeOnAScreenAndTakesTheTypedDate) {
  const PlacementCase& c = GetParam();
  std::int32_t lastDate = 0;
  Window window(app::CutoffDialogResource(&lastDate));
  OpenWindow(window);
  SetPosition(0, c.saved.X, c.saved.Y, c.saved.Width, c.saved.Height);
  if (c.minimised) window.SetProperty(0, PropIconized, std::int64_t{1});
  QWidget* native = backend->NativeWindowOf(window);
  const DialogUnits units(native->font());
  QRect frame;
  bool minimised = true;
  Desk desk;
  desk.Then([&] {
        if (!ActiveWindow("QUICKWINDOW")) return false;
        frame = native->frameGeometry();
        minimised = native->isMinimized();
        return true;
      })
      .Then(On<QLineEdit>("QUICKWINDOW", "?LASTDATE",
                          [](QLineEdit* entry) {
                            QTest::mouseClick(entry, Qt::LeftButton);
                            QTest::keyClicks(entry, "12/31/2022");
                          }))
      .Then([&] {
        Screenshot(native, std::string("placement-") + c.name);
        QTest::keyClick(native, Qt::Key_O, Qt::AltModifier);
        return true;
      });
  ServeEvents([] { return AcceptedControl() == 1 ? -1 : 0; });
  EXPECT_TRUE(desk.Done());
  EXPECT_EQ(lastDate, Date(12, 31, 2022));
  EXPECT_FALSE(minimised);
  const QScreen* screen = QGuiApplication::screenAt(frame.center());
  EXPECT_TRUE(screen && screen->availableGeometry().contains(frame))
      << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
  const QRect expected(units.X(c.saved.X), units.Y(c.saved.Y), units.X(c.saved.Width),
                       units.Y(c.saved.Height));
  if (c.kept) {
    EXPECT_EQ(QRect(native->pos(), native->size()), expected);
  }
  EXPECT_FALSE(window.Iconized());
  EXPECT_EQ(window.Area(), (Rect{units.UnitsX(native->x()), units.UnitsY(native->y()),
                                 units.UnitsX(native->width()), units.UnitsY(native->height())}));
}

INSTANTIATE_TEST_SUITE_P(
    Placements, SavedPlacementTest,
    ::testing::Values(PlacementCase{"OnScreen", {40, 30, 250, 120}, false, true},
                      PlacementCase{"Minimised", {40, 30, 250, 120}, true, true},
                      PlacementCase{"OffEveryScreen", {99999, -99999, 250, 120}, false, false},
                      PlacementCase{"LargerThanTheScreen", {40, 30, 999999, 999999}, false, false},
                      PlacementCase{"AllThree", {99999, -99999, 999999, 999999}, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QtTest, BusyCursorComesAndGoes) {
  SetCursor(CursorBusy);
  ASSERT_TRUE(QApplication::overrideCursor());
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  SetCursor(CursorBusy);
  SetCursor();
  EXPECT_FALSE(QApplication::overrideCursor()) << "one restore undoes the cursor set twice";
}

// A window with no timer waits in Qt's event processing without end; an
// event from another thread must wake it.
TEST_F(QtTest, EventFromAnotherThreadWakesTheWait) {
  Module module;
  module.Name = "test";
  ASSERT_NE(RuntimeInit({module}), 0);
  std::vector<std::int64_t> got;
  RuntimeStart([&] {
    Window window(Sized("", 8));
    OpenWindow(window);
    Thread sender;
    ServeEvents([&] {
      if (CurrentEvent() == EventOpenWindow) {
        const int ui = ThreadNumber();
        sender = StartThread([ui] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          Notify(0x206, ui, 42);
        });
      }
      if (CurrentEvent() == EventNotify) {
        int code = 0, thread = 0;
        std::int64_t parameter = 0;
        Notification(code, thread, parameter);
        got = {code, parameter};
        return -1;
      }
      return 0;
    });
  });
  RuntimeExit();
  EXPECT_EQ(got, (std::vector<std::int64_t>{0x206, 42}));
}

}  // namespace
}  // namespace rt
