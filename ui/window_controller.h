// WindowController: the base of every window procedure. A procedure derives a
// class from it, overrides the steps it needs (at least Init and Kill) and
// calls Run, which initialises, runs the window's event loop, tears down and
// returns the window's response.
//
// Life of a controller
//   Init     (the deriving Init calls the base first) lists, binding scope and
//            defaults; then the procedure sets FirstField, Errors and its other
//            fields, adds toolbar, buttons and components, calls Open, restores
//            the window's placement and calls SetAlerts.
//   Run      Init; RunEventLoop only when Init gave LevelBenign; Kill always;
//            the response (0 reads as RequestCancelled).
//   Kill     (the deriving Kill calls the base first and stops on a nonzero
//            result) kills the components, releases the lists, the saved
//            buffers, the toolbar and the resizer, and marks the controller
//            Dead. A second Kill returns LevelNotify and releases nothing.
//
// Events. Each pass of the loop calls HandleEvent: window events go to
// HandleWindowEvent first; then accepted, rejected, selected, new-selection
// and alert-key events to their handlers; control events to HandleFieldEvent;
// then every component is offered the event. A nonzero level ends the pass:
// LevelNotify skips the runtime's default handling of the event (a close
// event then leaves the window open), LevelFatal leaves the loop at once.
// After an event that is not quiet (IsQuietEvent) the first component that
// needs a reset makes the controller Reset.
//
// Buttons close the window: AddButton(control, response) makes accepting
// that control SetResponse(response), which stores it and posts the close.
//
// Record forms (Primary set): PrepareRecord readies the primary record for the
// request; OK (PostOk) has the runtime accept every entry, which ends in
// EventCompleted, and HandleCompleted inserts, changes or deletes the record
// through Primary, asking messages 3, 39 and 40 where the operator decides;
// closing a changed form asks message 41 or 10 (CancelAction).
//
// Threading: a controller, its window and its components belong to the thread
// that calls Run. Ownership: nothing referenced here is owned (window, owner,
// error manager, relation manager, components, toolbar, resizer, translator);
// the lists and the saved buffers are, and Kill releases them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/files/field_ref.h"

namespace dataaccess {
class FileManager;
class RelationManager;
}  // namespace dataaccess

namespace errors {
class ErrorManager;
}

namespace rt {
class Window;
}

namespace ui {

class ToolbarDispatcher;
class WindowComponent;

// Requests (Request, OriginalRequest, BeforeSaveRequest, the per-thread request
// a procedure is started with). 0, 4 and 5 mean nothing here; a procedure may
// give them a meaning of its own.
inline constexpr std::uint8_t RequestInsert = 1;
inline constexpr std::uint8_t RequestChange = 2;
inline constexpr std::uint8_t RequestDelete = 3;
inline constexpr std::uint8_t RequestView = 6;
inline constexpr std::uint8_t RequestSave = 7;  // transient, while the save button works

// Responses (Response, button actions, Run's result).
inline constexpr std::uint8_t RequestCompleted = 1;
inline constexpr std::uint8_t RequestCancelled = 2;

// The toolbar's recall control: accepting it recalls the focused field's
// saved value.
inline constexpr int kToolbarRecallControl = 3012;

// CancelAction bits.
inline constexpr std::uint8_t kCancelOffersSave = 1;
inline constexpr std::uint8_t kCancelAsksFirst = 2;

// Component list kinds.
inline constexpr std::int32_t kPlainComponent = 0;
inline constexpr std::int32_t kRecordComponent = 1;

// Inited bits.
inline constexpr std::uint8_t kInitedActivated = 1;  // FirstActivate has run
inline constexpr std::uint8_t kInitedSized = 2;      // the first EventSized was seen

// What the controller asks of the collaborators it holds but does not define.

// A window resizer: held in Resize; Kill releases it.
class WindowResizerBase {
 public:
  virtual void Kill() = 0;

 protected:
  ~WindowResizerBase() = default;
};

// A translator of window texts; FirstActivate hands it the window.
class WindowTranslator {
 public:
  virtual void TranslateWindow(rt::Window& window) = 0;

 protected:
  ~WindowTranslator() = default;
};

// The record-stepping component of batch forms: moves the form's primary
// record to the next one.
class FormStepper {
 public:
  virtual void StepToNext() = 0;

 protected:
  ~FormStepper() = default;
};

struct ButtonEntry {
  std::int32_t Control = 0;
  std::uint8_t Action = 0;  // the response accepting the control closes with
};

struct ComponentEntry {
  std::int32_t Kind = kPlainComponent;
  WindowComponent* Component = nullptr;  // not owned
};

struct FormFileEntry {
  dataaccess::FileManager* Manager = nullptr;  // not owned
  std::uint16_t Saved = 0;                     // the manager's saved-buffer id
};

// A field whose value the operator can recall (HistoryKey, the toolbar's
// recall control) after the form last completed.
struct HistoryField {
  rt::FieldRef Field;              // not owned
  std::vector<std::uint8_t> Copy;  // the saved value's bytes
  std::int32_t Control = 0;        // the list's key
  rt::FieldType Type = rt::FieldType::Long;
};

class WindowController {
 public:
  WindowController() = default;
  virtual ~WindowController();
  WindowController(const WindowController&) = delete;
  WindowController& operator=(const WindowController&) = delete;

  // ---- Virtual operations, in their fixed order.

  // The event loop; returns at once on a dead controller.
  virtual void RunEventLoop();
  virtual int Init();
  virtual int Kill();
  // Translate (with a translator), Reset(0), set Inited bit 0.
  virtual void FirstActivate();
  // Opens `window` (not owned; it must outlive the controller's use of it),
  // owned by `owner` when given (or by an OwnerWindow set earlier).
  virtual void Open(rt::Window& window, rt::Window* owner = nullptr);
  // Empty hook: fill in a new record's defaults.
  virtual void PrimeFields();
  // Readies the primary record for the request (see the top of the file).
  // LevelFatal means the form must not open (a delete request is done).
  virtual int PrepareRecord();
  // Resets every component, unless the window's PropNoReset is set.
  virtual void Reset(std::uint8_t force);
  virtual void RecallHistory(std::int32_t control);
  // Init, the loop, Kill; the response, RequestCancelled for 0.
  virtual std::uint8_t Run();
  // 2; no part of this program calls it.
  virtual std::uint8_t DefaultAnswer();
  virtual void SetAlerts();
  // Stores the response and posts the close.
  virtual void SetResponse(std::uint8_t response);
  virtual int HandleAccepted();
  virtual int HandleCompleted();
  virtual int HandleCloseEvent();
  virtual int HandleEvent();
  virtual int HandleFieldEvent();
  virtual int HandleNewSelection();
  virtual int HandleNotify(std::int32_t code, std::int32_t thread, std::int32_t parameter);
  virtual int HandleRejected();
  virtual int HandleSelected();
  virtual int HandleWindowEvent();
  virtual void Update();
  // Disables (nonzero `disable`) or enables a control; control 0 is ignored.
  virtual void SetControlDisabled(std::int32_t control, std::uint8_t disable);
  virtual int CompleteInsert();
  virtual int CompleteChange();
  virtual int CompleteDelete();
  virtual int SaveChangeAndStay();
  virtual int SaveInsertAndStay();
  virtual void SelectFirstField();

  // ---- Non-virtual operations.

  // Appends a plain (kind 0) component; not owned.
  void AddComponent(WindowComponent& component);
  // Appends a component of either kind; not owned.
  void AddComponent(WindowComponent& component, std::int32_t kind);
  // Accepting `control` will close the window with `action` as the response.
  void AddButton(std::int32_t control, std::uint8_t action);
  // Stores the dispatcher (not owned) and initialises it.
  void AddToolbar(ToolbarDispatcher& dispatcher);
  // Stores the resizer (not owned); Kill releases it.
  void SetResizer(WindowResizerBase& resizer);
  // Adds a file whose record buffer is saved with the form (PrepareRecord).
  void AddFile(dataaccess::FileManager& manager);
  // Makes `field`, shown by `control`, recallable (creates History).
  void AddHistoryField(std::int32_t control, const rt::FieldRef& field);
  void PostOk();
  bool IsQuietEvent();
  void SaveHistory();
  void ResetComponents(std::uint8_t force);
  void DisableCancelButtons();
  void EnableCancelButtons();

  // ---- Fields, in their fixed order.
  std::uint8_t AutoRefresh = 1;
  std::uint8_t AutoToolbar = 1;
  std::optional<std::vector<ButtonEntry>> Buttons;
  std::optional<std::vector<ComponentEntry>> CL;
  std::uint8_t CancelAction = kCancelOffersSave | kCancelAsksFirst;
  std::uint8_t ChangeAction = 2;
  std::uint8_t Dead = 0;
  std::uint8_t DeleteAction = 2;
  std::uint8_t BatchProcessing = 0;
  errors::ErrorManager* Errors = nullptr;  // not owned
  std::vector<FormFileEntry> Files;
  std::uint8_t FilesOpened = 0;
  std::int32_t FirstField = 0;
  std::uint8_t ForcedReset = 0;
  std::optional<std::vector<HistoryField>> History;
  std::int32_t HistoryKey = 0;
  std::uint8_t Inited = 0;
  std::uint8_t InsertAction = 2;
  std::string LastInsertedPosition;  // at most 1024 characters
  std::int32_t OkControl = 0;
  std::int32_t SaveControl = 0;
  std::uint8_t DisableCancelButton = 0;
  std::uint8_t Opened = 0;
  std::uint8_t OriginalRequest = 0;
  std::uint8_t RecordSaved = 0;
  std::uint8_t BeforeSaveRequest = 0;
  dataaccess::RelationManager* Primary = nullptr;  // not owned
  std::uint8_t Request = 0;
  std::uint8_t ResetOnGainFocus = 0;
  WindowResizerBase* Resize = nullptr;  // not owned
  std::uint8_t Response = 0;
  std::uint16_t Saved = 0;
  FormStepper* FormVCR = nullptr;          // not owned
  ToolbarDispatcher* Toolbar = nullptr;    // not owned
  WindowTranslator* Translator = nullptr;  // not owned
  std::int32_t* VCRRequest = nullptr;      // the shared stepping request; not owned
  rt::Window* MyWindow = nullptr;          // not owned
  rt::Window* OwnerWindow = nullptr;       // not owned

 protected:
  // Reports message `id` through Errors; LevelBenign without an error manager.
  int Throw(int id);
  // Asks message `id` with `buttons` through Errors; `defaultButton` without one.
  int Ask(int id, int buttons, int defaultButton);
  // Discards the primary buffer saved under Saved and saves the current one.
  void SaveAnew();
  // After an insert that keeps the form open: remembers the new record's
  // position, saves the Files buffers anew and primes the next new record.
  int PrimeNextRecord();
  // The primary file's manager; null without Primary.
  dataaccess::FileManager* PrimaryFile() const;
  // Posts an event to this controller's window (urgent: ahead of the queue).
  void PostEvent(int event, int control = 0, bool urgent = false);
  // Redisplays the window, or one control.
  void Redisplay(int control = 0);
  // The shared stepping request's value; 0 without one.
  std::int32_t SharedRequest() const;

 private:
  // Steps a batch form to the next record and shows it.
  int StepBatchForm();
  // Writes the primary record when it changed (`changed` tells), asking
  // message 40 while the write fails and the operator wants to try again.
  // LevelBenign when written or unchanged, else LevelNotify.
  int UpdatePrimary(bool& changed);
  bool bindPushed_ = false;
};

}  // namespace ui
