// The desktop backend: runtime windows as Qt 6 Widgets windows.
//
// One event loop. The runtime's loop is the only loop: WaitForInput runs Qt's
// event processing until the user gives input, the timeout passes or Wake is
// called, so repainting, timers and input stay live while the program works in
// timer-driven batches, without a second thread for the user interface. Qt's
// event handlers only queue Input; the runtime turns it into events when it
// next asks (native_window.h says how the widgets follow the model).
//
// Threading: as Backend. The QApplication lives on the thread that made the
// backend, which must be the thread that activates it. Wake may come from any
// thread; ShowHalt from another thread writes to standard error.
//
// Texts are Latin-1, like record text; characters the user types that
// Latin-1 has not become '?'.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/qt/native_window.h"
#include "runtime/windows/backend.h"

class QAbstractEventDispatcher;
class QApplication;
class QTimer;
class QWidget;

namespace rt {

class QtBackend final : public Backend, private InputSink {
 public:
  // Runs on the QApplication the process has, or on ownedApp when given (the
  // backend then deletes it last). See MakeQtBackend.
  explicit QtBackend(std::unique_ptr<QApplication> ownedApp = nullptr);
  ~QtBackend() override;
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

  // The native window of an open runtime window and one of its controls;
  // nullptr when there is none. For tests and screenshots.
  QWidget* NativeWindowOf(const Window& window) const;
  QWidget* NativeControlOf(const Window& window, int control) const;
  // How many beeps were asked for.
  int Beeps() const { return beeps_; }

  // Backend
  void CreateNative(const Window& window) override;
  void DestroyNative(const Window& window) override;
  void Update(const Window& window, int control, int property) override;
  std::optional<Input> WaitForInput(int timeoutMs) override;
  void Wake() override;
  int ShowMessageBox(const MessageBoxRequest& request) override;
  void ShowHalt(const std::string& text) override;
  void Beep(int frequency, int duration) override;
  void SetCursor(std::string_view cursor) override;
  Rect ScreenArea() const override;

 private:
  // InputSink
  void Give(Input input) override;
  bool TextPending(const Window& window, int control) const override;
  bool AreaPending(const Window& window) const override;

  NativeWindow* Native(const Window& window) const;
  QWidget* Topmost() const;
  std::optional<Input> Take();

  std::unique_ptr<QApplication> ownedApp_;
  QAbstractEventDispatcher* dispatcher_ = nullptr;  // the user interface thread's
  std::unique_ptr<QTimer> timeout_;
  std::map<const Window*, std::unique_ptr<NativeWindow>> windows_;
  std::vector<const Window*> opened_;  // in the order they opened, topmost last
  std::deque<Input> inputs_;
  std::atomic<bool> wake_{false};
  bool busy_ = false;  // the busy cursor is on
  int beeps_ = 0;
};

// The desktop backend, or nullptr with error set to one line saying why no
// window can be opened (no display, a display that does not answer, Qt's
// platform plugin missing). Never lets Qt end the process for that. Makes the
// QApplication when the process has none.
std::unique_ptr<QtBackend> MakeQtBackend(std::string& error);

}  // namespace rt
