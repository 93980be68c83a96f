// The desk: the steps a person at the desk takes, given with real Qt input
// (QTest key and mouse events on the widgets) while the program waits for it,
// and the helpers the steps use to find windows and controls by their
// resource names and labels and to save pictures of them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <deque>
#include <functional>
#include <string>

namespace rt::testing {

// A shown top-level window by its resource name, else nullptr.
inline QWidget* ShownWindow(const char* name) {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->isVisible() && widget->objectName() == name) return widget;
  return nullptr;
}

// The window if it is the one that takes the keyboard (accelerators need
// that), else nullptr.
inline QWidget* ActiveWindow(const char* name) {
  QWidget* window = ShownWindow(name);
  return window && window == QApplication::activeWindow() ? window : nullptr;
}

// The control a shown window has its focus on (whether or not the window is
// the active one; the window system activates it when it likes), else nullptr.
inline QWidget* FocusIn(const char* window) {
  QWidget* top = ShownWindow(window);
  return top ? top->focusWidget() : nullptr;
}

// The label of that control, else "".
inline std::string FocusNameIn(const char* window) {
  QWidget* focus = FocusIn(window);
  return focus ? focus->objectName().toStdString() : std::string();
}

// A control of a shown window by its label, else nullptr.
template <class Widget = QWidget>
Widget* ShownControl(const char* window, const char* label) {
  QWidget* top = ShownWindow(window);
  return top ? top->findChild<Widget*>(label) : nullptr;
}

// The step is done once the control is there; then act on it.
template <class Widget = QWidget, class Action>
std::function<bool()> On(const char* window, const char* label, Action action) {
  return [=] {
    Widget* widget = ShownControl<Widget>(window, label);
    if (!widget || !widget->isVisible()) return false;
    action(widget);
    return true;
  };
}

inline std::function<bool()> Click(const char* window, const char* label) {
  return On(window, label, [](QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); });
}

inline QMessageBox* OpenMessageBox() {
  return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

// Saves a picture of the widget as <dir>/<platform>-<name>.png, dir being
// $VELTRANE_TEST_BINARY_DIR/screenshots (or the temporary folder).
inline void Screenshot(QWidget* widget, const std::string& name) {
  ASSERT_TRUE(widget);
  const QByteArray build = qgetenv("VELTRANE_TEST_BINARY_DIR");
  const QString dir =
      (build.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(build)) + "/screenshots";
  QDir().mkpath(dir);
  const QString file =
      dir + "/" + QGuiApplication::platformName() + "-" + QString::fromStdString(name) + ".png";
  EXPECT_TRUE(widget->grab().save(file)) << file.toStdString();
}

// Steps run in order from a timer, that is from Qt's event processing inside
// the runtime's wait or a message box. A step returns false while what it
// needs is not there yet (a window not shown) and is tried again. When a step
// cannot happen within the time limit, or the program still runs that long
// after the last step, the test fails and the desk closes whatever is open so
// the program under test ends.
class Desk {
 public:
  explicit Desk(std::chrono::milliseconds limit = std::chrono::seconds(20))
      : limit_(limit), stepStart_(std::chrono::steady_clock::now()) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Run(); });
    timer_.start(5);
  }
  Desk& Then(std::function<bool()> step) {
    steps_.push_back(std::move(step));
    return *this;
  }
  bool Done() const { return steps_.empty(); }

 private:
  void Run() {
    if (busy_) return;
    busy_ = true;
    const auto now = std::chrono::steady_clock::now();
    if (giveUp_) {
      if (QMessageBox* box = OpenMessageBox()) box->reject();
      for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible()) widget->close();
    } else if (!steps_.empty() && steps_.front()()) {
      steps_.pop_front();
      stepStart_ = now;
    } else if (now - stepStart_ > limit_) {
      ADD_FAILURE() << (steps_.empty() ? std::string("the program did not end after the last step")
                                       : "a step could not happen; " +
                                             std::to_string(steps_.size()) + " left");
      giveUp_ = true;
    }
    busy_ = false;
  }

  std::chrono::milliseconds limit_;
  QTimer timer_;
  std::deque<std::function<bool()>> steps_;
  std::chrono::steady_clock::time_point
      stepStart_;  // when the current step (or the wait after the last) began
  bool busy_ = false;
  bool giveUp_ = false;
};

}  // namespace rt::testing
