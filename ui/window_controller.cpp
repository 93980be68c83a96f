#include "ui/window_controller.h"

#include <algorithm>
#include <cstring>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "errors/default_errors.h"
#include "errors/error_manager.h"
#include "errors/level.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/bind_scope.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/events.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"
#include "ui/toolbar_dispatcher.h"
#include "ui/window_component.h"

namespace ui {
namespace {

using errors::LevelBenign;
using errors::LevelCancel;
using errors::LevelFatal;
using errors::LevelNotify;
using errors::LevelUser;

// The buttons of the record-form questions and their default.
constexpr int kYesNoCancel = rt::ButtonYes | rt::ButtonNo | rt::ButtonCancel;

// Events that never make the controller ask its components for a reset:
// focus, mouse and scrolling events of the runtime.
bool AlwaysQuiet(int event) {
  switch (event) {
    case 0x0B:
    case 0x0C:
    case 0x10:
    case 0x11:
    case 0x15:
    case 0x16:
    case 0x17:
    case 0x1B:
    case 0x102:
    case rt::EventLoseFocus:
    case rt::EventGainFocus: return true;
    default: return event >= 0x220 && event <= 0x224;
  }
}

// Events that are quiet on a control whose PropQuietField is set: entry
// editing and list scrolling.
bool QuietOnQuietField(int event) {
  return (event >= 3 && event <= 8) || event == 0x14 || event == 0x1D;
}

}  // namespace

WindowController::~WindowController() {
  // A controller that never got to Kill (its procedure was left by an
  // exception) still closes the binding scope it opened.
  if (bindPushed_) rt::PopBind();
}

// ---- Helpers

int WindowController::Throw(int id) { return Errors ? Errors->Raise(id) : LevelBenign; }

int WindowController::Ask(int id, int buttons, int defaultButton) {
  return Errors ? Errors->Ask(id, buttons, defaultButton) : defaultButton;
}

dataaccess::FileManager* WindowController::PrimaryFile() const {
  return Primary ? Primary->Me : nullptr;
}

void WindowController::SaveAnew() {
  dataaccess::FileManager* file = PrimaryFile();
  if (!file) return;
  if (Saved) file->RestoreBuffer(Saved, 0);
  Saved = file->SaveBuffer();
}

void WindowController::PostEvent(int event, int control, bool urgent) {
  if (MyWindow)
    MyWindow->Post(event, control, urgent);
  else
    rt::Post(event, control, 0, urgent ? 1 : 0);
}

void WindowController::Redisplay(int control) {
  if (MyWindow)
    MyWindow->Display(control);
  else
    rt::Display(control);
}

std::int32_t WindowController::SharedRequest() const { return VCRRequest ? *VCRRequest : 0; }

// ---- Life cycle

std::uint8_t WindowController::Run() {
  if (Init() == LevelBenign) RunEventLoop();
  Kill();
  return Response ? Response : RequestCancelled;
}

void WindowController::RunEventLoop() {
  if (Dead) return;
  LastInsertedPosition.clear();
  rt::ServeEvents([this] {
    const int r = HandleEvent();
    return r == LevelFatal ? -1 : r == LevelNotify ? 1 : 0;
  });
}

int WindowController::Init() {
  OriginalRequest = Request;
  CL.emplace();
  Buttons.emplace();
  if (!bindPushed_) {
    rt::PushBind(1);
    bindPushed_ = true;
  }
  // A click that started this window must not count as the first key of it.
  if (rt::KeyCode() == rt::KeyPointer || rt::KeyCode() == rt::KeyPointerDouble) rt::SetKeyCode(0);
  InsertAction = 2;
  DeleteAction = 2;
  ChangeAction = 2;
  CancelAction = kCancelOffersSave | kCancelAsksFirst;
  AutoToolbar = 1;
  AutoRefresh = 1;
  OwnerWindow = nullptr;
  return LevelBenign;
}

int WindowController::Kill() {
  if (Dead || !CL) return LevelNotify;
  // A component's Kill may look at the list; it is no longer in it by then.
  while (!CL->empty()) {
    WindowComponent* component = CL->front().Component;
    CL->erase(CL->begin());
    component->Kill();
  }
  CL.reset();
  Buttons.reset();
  History.reset();
  // A manager killed before the window took its saved copies with it.
  const dataaccess::FileRegistry& registry = dataaccess::ThreadRegistry();
  for (auto& file : Files)
    if (registry.Holds(file.Manager)) file.Manager->RestoreBuffer(file.Saved, 0);
  Files.clear();
  if (Primary && registry.Holds(Primary) && Primary->Me && Saved)
    Primary->Me->RestoreBuffer(Saved, 0);
  Saved = 0;
  if (Toolbar) Toolbar->Kill();
  if (Resize) Resize->Kill();
  Dead = 1;
  if (bindPushed_) {
    rt::PopBind();
    bindPushed_ = false;
  }
  return LevelBenign;
}

void WindowController::Open(rt::Window& window, rt::Window* owner) {
  MyWindow = &window;
  if (owner) OwnerWindow = owner;
  if (OwnerWindow)
    rt::OpenOwnedWindow(window, *OwnerWindow);
  else
    rt::OpenWindow(window);
  if (window.IsOpen()) Opened = 1;
}

void WindowController::FirstActivate() {
  if (Translator && MyWindow) Translator->TranslateWindow(*MyWindow);
  Reset(0);
  Inited |= kInitedActivated;
}

std::uint8_t WindowController::DefaultAnswer() { return 2; }

// ---- Lists

void WindowController::AddComponent(WindowComponent& component) {
  AddComponent(component, kPlainComponent);
}

void WindowController::AddComponent(WindowComponent& component, std::int32_t kind) {
  if (CL) CL->push_back({kind, &component});
}

void WindowController::AddButton(std::int32_t control, std::uint8_t action) {
  if (Buttons) Buttons->push_back({control, action});
}

void WindowController::AddToolbar(ToolbarDispatcher& dispatcher) {
  Toolbar = &dispatcher;
  dispatcher.Init();
}

void WindowController::SetResizer(WindowResizerBase& resizer) { Resize = &resizer; }

void WindowController::AddFile(dataaccess::FileManager& manager) { Files.push_back({&manager, 0}); }

void WindowController::AddHistoryField(std::int32_t control, const rt::FieldRef& field) {
  if (!History) History.emplace();
  HistoryField entry;
  entry.Field = field;
  entry.Control = control;
  entry.Type = field.Type();
  if (field.IsValid()) entry.Copy.assign(field.Data(), field.Data() + field.Size());
  History->push_back(std::move(entry));
}

// ---- Resets, refreshes, alerts

void WindowController::Reset(std::uint8_t force) {
  if (MyWindow && MyWindow->GetProperty(0, rt::PropNoReset).Number() != 0) return;
  const std::uint8_t f = (force || ForcedReset) ? 1 : 0;
  ForcedReset = 0;
  ResetComponents(f);
  if (CL)
    for (std::size_t i = 0; i < CL->size(); ++i) (*CL)[i].Component->UpdateWindow();
  Redisplay(0);
}

void WindowController::ResetComponents(std::uint8_t force) {
  if (!CL) return;
  for (std::size_t i = 0; i < CL->size(); ++i) {
    const ComponentEntry entry = (*CL)[i];
    if (entry.Kind != kRecordComponent) {
      entry.Component->Reset(force);
      continue;
    }
    if (entry.Component->PrimaryBufferRestoreNeeded()) {
      // Restoring gives the copy back to the file manager; keep one for later.
      if (dataaccess::FileManager* file = PrimaryFile(); file && Saved) {
        file->RestoreBuffer(Saved, 1);
        Saved = file->SaveBuffer();
      }
      entry.Component->AfterPrimaryRestored();
      force = 1;
    }
    entry.Component->Reset(force);
    if (entry.Component->PrimaryBufferChanged()) {
      SaveAnew();
      entry.Component->AfterPrimarySaved();
    }
  }
}

void WindowController::Update() {
  if (!CL) return;
  for (std::size_t i = 0; i < CL->size(); ++i) (*CL)[i].Component->Update();
}

void WindowController::SetAlerts() {
  if (CL)
    for (std::size_t i = 0; i < CL->size(); ++i) (*CL)[i].Component->SetAlerts();
  if (History && MyWindow)
    for (const auto& entry : *History)
      MyWindow->SetProperty(entry.Control, rt::PropAlertKey, HistoryKey);
}

void WindowController::RecallHistory(std::int32_t control) {
  if (!History) return;
  for (const auto& entry : *History) {
    if (entry.Control != control) continue;
    if (entry.Field.IsValid() && entry.Copy.size() == static_cast<std::size_t>(entry.Field.Size()))
      std::memcpy(entry.Field.Data(), entry.Copy.data(), entry.Copy.size());
    Redisplay(control);
    return;
  }
}

void WindowController::SaveHistory() {
  if (!History) return;
  std::vector<std::int32_t> done;
  for (auto& entry : *History) {
    if (std::find(done.begin(), done.end(), entry.Control) != done.end()) continue;
    done.push_back(entry.Control);
    if (entry.Field.IsValid())
      entry.Copy.assign(entry.Field.Data(), entry.Field.Data() + entry.Field.Size());
  }
}

// ---- Events

int WindowController::HandleEvent() {
  const int event = rt::CurrentEvent();
  const int control = rt::EventControl();
  int r = LevelBenign;
  if (control == 0) {
    r = HandleWindowEvent();
    if (r != LevelBenign) return r;
  }
  switch (event) {
    case rt::EventSized: PostEvent(rt::EventLayoutRequest, 0, true); break;
    case rt::EventAccepted: r = HandleAccepted(); break;
    case rt::EventRejected: r = HandleRejected(); break;
    case rt::EventSelected: r = HandleSelected(); break;
    case rt::EventNewSelection: r = HandleNewSelection(); break;
    case rt::EventAlertKey:
      if (HistoryKey != 0 && HistoryKey == rt::KeyCode()) RecallHistory(rt::FocusedControl());
      break;
    default: break;
  }
  if (r != LevelBenign) return r;
  if (control != 0) {
    r = HandleFieldEvent();
    if (r != LevelBenign) return r;
  }
  if (CL)
    for (std::size_t i = 0; i < CL->size(); ++i) {
      r = (*CL)[i].Component->HandleEvent();
      if (r != LevelBenign) return r;
    }
  if (AutoRefresh && CL && !IsQuietEvent())
    for (std::size_t i = 0; i < CL->size(); ++i)
      if ((*CL)[i].Component->ResetRequired()) {
        Reset(0);
        break;
      }
  return r;
}

bool WindowController::IsQuietEvent() {
  const int event = rt::CurrentEvent();
  if (AlwaysQuiet(event)) return true;
  if (!QuietOnQuietField(event)) return false;
  const int control = rt::EventControl();
  return control != 0 && MyWindow &&
         MyWindow->GetProperty(control, rt::PropQuietField).Number() != 0;
}

int WindowController::HandleWindowEvent() {
  switch (rt::CurrentEvent()) {
    case rt::EventCloseWindow:
    case rt::EventCloseDown: return HandleCloseEvent();
    case rt::EventOpenWindow:
      if (!(Inited & kInitedActivated)) FirstActivate();
      if (FirstField != 0 && MyWindow) MyWindow->Select(FirstField);
      return LevelBenign;
    case rt::EventLoseFocus:
      if (ResetOnGainFocus) ForcedReset = 1;
      return LevelBenign;
    case rt::EventGainFocus:
      if (Inited & kInitedActivated)
        Reset(0);
      else
        FirstActivate();
      return LevelBenign;
    case rt::EventNotify: {
      int code = 0, thread = 0;
      std::int64_t parameter = 0;
      if (!rt::Notification(code, thread, parameter)) return LevelBenign;
      const int r = HandleNotify(code, thread, static_cast<std::int32_t>(parameter));
      // Another thread asks this window to come forward.
      if (r == LevelBenign && code == rt::EventGainFocus && MyWindow) {
        rt::Yield();
        if (MyWindow->GetProperty(0, rt::PropIconized).Number() != 0)
          MyWindow->SetProperty(0, rt::PropIconized, 0);
        MyWindow->SetProperty(0, rt::PropActive, 1);
        rt::Post(rt::EventGainFocus, 0,
                 static_cast<int>(MyWindow->GetProperty(0, rt::PropThread).Number()));
      }
      return r;
    }
    case rt::EventCompleted: return HandleCompleted();
    case rt::EventSized:
      if (Inited & kInitedSized)
        Reset(0);
      else
        Inited |= kInitedSized;
      return LevelBenign;
    default: return LevelBenign;
  }
}

int WindowController::HandleAccepted() {
  const std::int32_t accepted = rt::AcceptedControl();
  if (Toolbar) {
    Toolbar->HandleToolbar(VCRRequest);
    if (accepted == kToolbarRecallControl) RecallHistory(rt::FocusedControl());
  }
  if (Buttons)
    for (const auto& button : *Buttons)
      if (button.Control == accepted) {
        SetResponse(button.Action);
        return LevelNotify;
      }
  if (OkControl != 0 && accepted == OkControl) PostOk();
  if (SaveControl != 0 && accepted == SaveControl) {
    if (Request == RequestView) return LevelNotify;
    BeforeSaveRequest = Request;
    Request = RequestSave;
    PostOk();
  }
  EnableCancelButtons();
  return LevelBenign;
}

void WindowController::PostOk() {
  const bool formRequest = OriginalRequest == RequestInsert || OriginalRequest == RequestChange ||
                           OriginalRequest == RequestView;
  if (formRequest) {
    if (OriginalRequest == RequestView && !BatchProcessing) PostEvent(rt::EventCompleted);
  } else if (!BatchProcessing) {
    PostEvent(rt::EventCompleted);
    return;
  }
  // The runtime reads every entry in turn and then delivers EventCompleted.
  if (MyWindow)
    MyWindow->Select(0);
  else
    rt::Select(0);
}

void WindowController::SetResponse(std::uint8_t response) {
  Response = response;
  PostEvent(rt::EventCloseWindow);
  if (response == RequestCancelled && Toolbar && VCRRequest) *VCRRequest = 0;
}

int WindowController::HandleCompleted() {
  SaveHistory();
  switch (Request) {
    case RequestInsert: return CompleteInsert();
    case RequestChange: return CompleteChange();
    case RequestDelete: return CompleteDelete();
    case RequestView: return BatchProcessing && FormVCR ? StepBatchForm() : LevelBenign;
    case RequestSave:
      if (OriginalRequest == RequestInsert) return SaveInsertAndStay();
      if (OriginalRequest == RequestChange) return SaveChangeAndStay();
      return LevelBenign;
    default: return LevelBenign;
  }
}

int WindowController::HandleCloseEvent() {
  if (Response == RequestCompleted || !Primary) return LevelBenign;
  dataaccess::FileManager* file = PrimaryFile();
  if (CancelAction != 0 && (Request == RequestInsert || Request == RequestChange) &&
      !file->EqualBuffer(Saved)) {
    const bool offersSave = CancelAction & kCancelOffersSave;
    const bool asksFirst = CancelAction & kCancelAsksFirst;
    if (offersSave && !asksFirst) {
      PostEvent(rt::EventAccepted, OkControl);
      return LevelNotify;
    }
    if (offersSave) {
      const int answer = Ask(errors::AskSaveChanges, kYesNoCancel, rt::ButtonCancel);
      if (answer == rt::ButtonYes) {
        PostEvent(rt::EventAccepted, OkControl);
        return LevelNotify;
      }
      if (answer == rt::ButtonCancel) {
        SelectFirstField();
        return LevelNotify;
      }
    } else if (Throw(errors::AskAbandonChanges) == LevelCancel) {
      SelectFirstField();
      return LevelNotify;
    }
  }
  if (OriginalRequest == RequestInsert && Response == RequestCancelled &&
      Primary->CancelAutoIncrement() != LevelBenign) {
    SelectFirstField();
    return LevelNotify;
  }
  if (!LastInsertedPosition.empty()) {
    Response = RequestCompleted;
    file->RefetchByPosition(LastInsertedPosition);
  }
  return LevelBenign;
}

int WindowController::HandleFieldEvent() { return LevelBenign; }

int WindowController::HandleSelected() { return LevelBenign; }

int WindowController::HandleNotify(std::int32_t, std::int32_t, std::int32_t) { return LevelBenign; }

int WindowController::HandleNewSelection() {
  const int control = rt::EventControl();
  if (MyWindow && MyWindow->GetProperty(control, rt::PropType).Number() ==
                      static_cast<int>(rt::ControlKind::List)) {
    Reset(0);
    if (AutoToolbar && Toolbar) Toolbar->SetTarget(0);
  }
  return LevelBenign;
}

int WindowController::HandleRejected() {
  const int control = rt::EventControl();
  rt::Beep(150, 16);
  // The entry keeps what the operator typed, and the runtime has it say how
  // to type it: redisplaying it from its variable would wipe the text.
  if (MyWindow) MyWindow->Select(control);
  return LevelBenign;
}

void WindowController::SetControlDisabled(std::int32_t control, std::uint8_t disable) {
  if (control == 0 || !MyWindow) return;
  if (disable)
    MyWindow->Disable(control);
  else
    MyWindow->Enable(control);
}

void WindowController::DisableCancelButtons() {
  if (!DisableCancelButton || !Buttons) return;
  for (const auto& button : *Buttons)
    if (button.Action == RequestCancelled) SetControlDisabled(button.Control, 1);
}

void WindowController::EnableCancelButtons() {
  if (!DisableCancelButton || !Buttons) return;
  for (const auto& button : *Buttons)
    if (button.Action == RequestCancelled) SetControlDisabled(button.Control, 0);
}

void WindowController::SelectFirstField() {
  // Selecting control 0 would make the runtime accept every entry.
  if (FirstField != 0 && MyWindow) MyWindow->Select(FirstField);
}

// ---- Record forms

void WindowController::PrimeFields() {}

int WindowController::PrepareRecord() {
  dataaccess::FileManager* file = PrimaryFile();
  if (!file) return LevelBenign;
  file->UseFile(dataaccess::kUseWindow);
  for (auto& entry : Files) {
    entry.Manager->RestoreBuffer(entry.Saved, 0);
    entry.Saved = entry.Manager->SaveBuffer();
  }
  if (Request == RequestInsert && InsertAction != 0) {
    // A new record starts from a primed buffer (cleared, numbered when the
    // file numbers its records), never from whatever was read last.
    if (file->PrimeRecord() != LevelBenign) {
      Response = RequestCancelled;
      return LevelFatal;
    }
    Response = RequestCompleted;
    PrimeFields();
    if (Response == RequestCancelled) return LevelFatal;
    Response = RequestCancelled;  // cancelled until saved
  } else if (Request == RequestDelete && (DeleteAction == 2 || DeleteAction == 4)) {
    const int r = Primary->Delete(DeleteAction == 2 ? 1 : 0);
    Response = r == LevelBenign ? RequestCompleted : RequestCancelled;
    return LevelFatal;  // the form never opens
  }
  SaveAnew();
  return LevelBenign;
}

int WindowController::PrimeNextRecord() {
  dataaccess::FileManager* file = PrimaryFile();
  LastInsertedPosition = file->PushPosition();
  for (auto& entry : Files) {
    entry.Manager->RestoreBuffer(entry.Saved, 0);
    entry.Saved = entry.Manager->SaveBuffer();
  }
  // The next record starts from the record as the form first had it.
  file->RestoreBuffer(Saved, 1);
  if (file->PrimeRecord(1) != LevelBenign) {
    PostEvent(rt::EventCloseWindow);
  } else {
    PrimeFields();
    Response = RequestCancelled;
  }
  SaveAnew();
  Redisplay();
  SelectFirstField();
  return LevelNotify;
}

int WindowController::StepBatchForm() {
  if (FormVCR) FormVCR->StepToNext();
  SaveAnew();
  Redisplay();
  SelectFirstField();
  return LevelNotify;
}

int WindowController::CompleteInsert() {
  if (!Primary) return LevelBenign;
  if (Primary->Insert() != LevelBenign) {
    SelectFirstField();
    return LevelNotify;
  }
  if (!BatchProcessing) {
    if (InsertAction == 2) {
      SetResponse(RequestCompleted);
      return LevelBenign;
    }
    // Message 3 asks whether to add another: No closes the form.
    if (InsertAction == 4 && Throw(errors::AskAddAnother) != LevelBenign) {
      SetResponse(RequestCompleted);
      return LevelBenign;
    }
  }
  return PrimeNextRecord();
}

int WindowController::UpdatePrimary(bool& changed) {
  dataaccess::FileManager* file = PrimaryFile();
  for (;;) {
    int r = LevelBenign;
    rt::SetCursor(rt::CursorBusy);
    changed = !file->EqualBuffer(Saved);
    if (changed) r = Primary->Update(1);
    rt::SetCursor();
    if (r == LevelBenign) return LevelBenign;
    if (r == LevelUser) {
      const int answer = Ask(errors::AskRetrySave, kYesNoCancel, rt::ButtonCancel);
      if (answer == rt::ButtonYes) continue;
      if (answer == rt::ButtonNo) {
        if (OriginalRequest != RequestInsert) PostEvent(rt::EventCloseWindow);
        return LevelNotify;
      }
    }
    Redisplay();
    SelectFirstField();
    return LevelNotify;
  }
}

int WindowController::CompleteChange() {
  if (!Primary) return LevelBenign;
  Response = RequestCancelled;
  bool changed = false;
  if (UpdatePrimary(changed) != LevelBenign) return LevelNotify;
  if (changed || (Toolbar && SharedRequest() == 0)) Response = RequestCompleted;
  if (OriginalRequest == RequestChange) {
    if (ChangeAction == 2) {
      PostEvent(rt::EventCloseWindow);
      return LevelBenign;
    }
    if (BatchProcessing && FormVCR) return StepBatchForm();
    SaveAnew();
    return LevelNotify;
  }
  if (OriginalRequest == RequestInsert) {
    // The record was added earlier with the save button.
    EnableCancelButtons();
    Request = RequestInsert;
    if (InsertAction != 3 && ChangeAction == 2) {
      PostEvent(rt::EventCloseWindow);
      return LevelBenign;
    }
    return PrimeNextRecord();
  }
  return LevelBenign;
}

int WindowController::CompleteDelete() {
  if (!Primary) return LevelBenign;
  for (;;) {
    Response = RequestCancelled;
    rt::SetCursor(rt::CursorBusy);
    const int r = Primary->Delete(DeleteAction == 2 ? 1 : 0);
    rt::SetCursor();
    if (r == LevelBenign || r == LevelCancel) break;
    const int answer = Ask(errors::AskRetryDelete, kYesNoCancel, rt::ButtonCancel);
    if (answer == rt::ButtonYes) continue;
    if (answer == rt::ButtonNo) {
      if (!BatchProcessing) PostEvent(rt::EventCloseWindow);
      return LevelNotify;
    }
    Redisplay();
    SelectFirstField();
    return LevelNotify;
  }
  if (BatchProcessing) return StepBatchForm();
  SetResponse(RequestCompleted);
  return LevelBenign;
}

int WindowController::SaveChangeAndStay() {
  if (!Primary) return LevelBenign;
  bool changed = false;
  const int r = UpdatePrimary(changed);
  Request = RequestChange;
  if (r != LevelBenign) return LevelNotify;
  SaveAnew();
  DisableCancelButtons();
  return LevelNotify;
}

int WindowController::SaveInsertAndStay() {
  if (!Primary) return LevelBenign;
  if (BeforeSaveRequest == RequestInsert) {
    if (Primary->Insert() != LevelBenign) {
      Request = RequestInsert;
      SelectFirstField();
      return LevelNotify;
    }
    Request = RequestChange;
    SelectFirstField();
    SaveAnew();
    DisableCancelButtons();
    return LevelNotify;
  }
  Request = RequestChange;
  if (!PrimaryFile()->EqualBuffer(Saved)) return SaveChangeAndStay();
  return LevelNotify;
}

}  // namespace ui
