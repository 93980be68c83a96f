#include "runtime/qt/qt_backend.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <iostream>

#include "runtime/qt/desktop_message_box.h"
#include "runtime/qt/dialog_units.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window.h"

namespace rt {

QtBackend::QtBackend(std::unique_ptr<QApplication> ownedApp)
    : ownedApp_(std::move(ownedApp)),
      dispatcher_(QAbstractEventDispatcher::instance()),
      timeout_(std::make_unique<QTimer>()) {
  QApplication::setQuitOnLastWindowClosed(false);
  // Only wakes the event processing; once it has fired the wait is over.
  timeout_->setSingleShot(true);
  timeout_->setTimerType(Qt::PreciseTimer);
}

QtBackend::~QtBackend() {
  if (ActiveBackend() == this) SetBackend(nullptr);
  if (busy_) QApplication::restoreOverrideCursor();
  opened_.clear();
  windows_.clear();
  timeout_.reset();
  if (ownedApp_) {
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ownedApp_.reset();
  }
}

NativeWindow* QtBackend::Native(const Window& window) const {
  auto it = windows_.find(&window);
  return it == windows_.end() ? nullptr : it->second.get();
}

QWidget* QtBackend::NativeWindowOf(const Window& window) const {
  NativeWindow* native = Native(window);
  return native ? native->Widget() : nullptr;
}

QWidget* QtBackend::NativeControlOf(const Window& window, int control) const {
  NativeWindow* native = Native(window);
  return native ? native->ControlWidget(control) : nullptr;
}

QWidget* QtBackend::Topmost() const {
  return opened_.empty() ? nullptr : NativeWindowOf(*opened_.back());
}

void QtBackend::CreateNative(const Window& window) {
  QWidget* over = window.Owner() ? NativeWindowOf(*window.Owner()) : Topmost();
  windows_[&window] = std::make_unique<NativeWindow>(window, over, static_cast<InputSink&>(*this));
  opened_.push_back(&window);
}

void QtBackend::DestroyNative(const Window& window) {
  std::erase(opened_, &window);
  // A later window may live at the same address: nothing queued may reach it.
  std::erase_if(inputs_, [&](const Input& input) { return input.Target == &window; });
  windows_.erase(&window);
  // As a desktop does when a dialog closes: the window under it takes the keyboard again.
  if (QWidget* top = Topmost(); top && top->isVisible()) top->activateWindow();
}

void QtBackend::Update(const Window& window, int control, int property) {
  if (NativeWindow* native = Native(window)) native->Update(control, property);
}

void QtBackend::Give(Input input) {
  // Typing gives one edit per key; the runtime needs only the latest text.
  if (input.What == Input::Kind::Edit && !inputs_.empty()) {
    Input& last = inputs_.back();
    if (last.What == Input::Kind::Edit && last.Target == input.Target &&
        last.Control == input.Control) {
      last.Text = std::move(input.Text);
      return;
    }
  }
  inputs_.push_back(std::move(input));
}

bool QtBackend::TextPending(const Window& window, int control) const {
  return std::any_of(inputs_.begin(), inputs_.end(), [&](const Input& input) {
    return input.Target == &window && input.Control == control && input.What == Input::Kind::Edit;
  });
}

bool QtBackend::AreaPending(const Window& window) const {
  return std::any_of(inputs_.begin(), inputs_.end(), [&](const Input& input) {
    switch (input.What) {
      case Input::Kind::Resize:
      case Input::Kind::Move:
      case Input::Kind::Maximize:
      case Input::Kind::Minimize:
      case Input::Kind::Restore: return input.Target == &window;
      default: return false;
    }
  });
}

std::optional<Input> QtBackend::Take() {
  if (inputs_.empty()) return std::nullopt;
  Input input = std::move(inputs_.front());
  inputs_.pop_front();
  return input;
}

std::optional<Input> QtBackend::WaitForInput(int timeoutMs) {
  // Deletions Qt deferred run here, as they would at the top of its own loop.
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  for (const Window* window : opened_) Native(*window)->ShowIfDue();
  if (!opened_.empty()) Native(*opened_.back())->SyncFocus();
  if (auto input = Take()) return input;
  if (wake_.exchange(false)) return std::nullopt;
  if (timeoutMs == 0) {
    QApplication::processEvents(QEventLoop::AllEvents);
    return Take();
  }
  if (timeoutMs > 0) timeout_->start(timeoutMs);
  std::optional<Input> input;
  for (;;) {
    QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if ((input = Take())) break;
    if (wake_.exchange(false)) break;
    if (timeoutMs > 0 && !timeout_->isActive()) break;
  }
  timeout_->stop();
  return input;
}

void QtBackend::Wake() {
  wake_.store(true);
  if (dispatcher_) dispatcher_->wakeUp();
}

int QtBackend::ShowMessageBox(const MessageBoxRequest& request) {
  const int answer = ShowDesktopMessageBox(request, Topmost());
  if (QWidget* top = Topmost(); top && top->isVisible()) top->activateWindow();
  return answer;
}

void QtBackend::ShowHalt(const std::string& text) {
  if (!OnBackendThread()) {
    std::cerr << text << std::endl;
    return;
  }
  if (busy_) {
    QApplication::restoreOverrideCursor();
    busy_ = false;
  }
  ShowDesktopHalt(text, Topmost());
}

void QtBackend::Beep(int, int) {
  ++beeps_;
  QApplication::beep();
}

void QtBackend::SetCursor(std::string_view cursor) {
  const bool busy = !cursor.empty();  // the busy cursor is the only one the program asks for
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

Rect QtBackend::ScreenArea() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return Backend::ScreenArea();
  const DialogUnits units(DialogFont({}, 0));
  const QRect area = screen->availableGeometry();
  return {units.UnitsX(area.x()), units.UnitsY(area.y()), units.UnitsX(area.width()),
          units.UnitsY(area.height())};
}

std::unique_ptr<QtBackend> MakeQtBackend(std::string& error) {
  std::unique_ptr<QApplication> app;
  if (!QCoreApplication::instance()) {
    // Qt keeps argc and argv for the application's life.
    static int argc = 1;
    static char name[] = "veltrane";
    static char* argv[] = {name, nullptr};
    const std::string problem =
        StartQtPlatform([&] { app = std::make_unique<QApplication>(argc, argv); });
    if (!problem.empty()) {
      error = "cannot open a window on the desktop: " + problem;
      return nullptr;
    }
  } else if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    error = "cannot open a window on the desktop: this process runs Qt without widgets";
    return nullptr;
  }
  // The caption the desktop shows on a window or message box that brings
  // none of its own (it was the lower-case name the program was started by).
  QCoreApplication::setApplicationName(QString::fromLatin1(kUncaptioned));
  return std::make_unique<QtBackend>(std::move(app));
}

}  // namespace rt
