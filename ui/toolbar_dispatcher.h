// ToolbarDispatcher: routes a window's toolbar (record stepping, recall) to
// the one target that has it, among the targets registered with it (lists,
// forms). A window controller holds one (WindowController::AddToolbar), passes
// it the shared stepping request whenever a control is accepted, and re-targets
// it when a list's selection changes.
//
// Ownership: the dispatcher owns its target list, not the targets; Kill
// disposes the list.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ui {

// What the dispatcher asks of a target.
class ToolbarTarget {
 public:
  virtual ~ToolbarTarget() = default;
  // Acts on the toolbar's current request; a level code.
  virtual int TakeAction() = 0;
  // The target now has the toolbar (enable its buttons, and so on).
  virtual void TakeToolbar() = 0;
  // Nonzero when the target wants the toolbar now (for example it has the focus).
  virtual std::uint8_t WantsToolbar() = 0;
  // The window's stepping request (see WindowController::VCRRequest); null when
  // the window has none. The target may change it.
  virtual void HandleRequest(std::int32_t* request) = 0;
};

struct ToolbarTargetEntry {
  std::int32_t Id = 0;
  ToolbarTarget* Target = nullptr;  // not owned
};

class ToolbarDispatcher {
 public:
  ToolbarDispatcher() = default;
  virtual ~ToolbarDispatcher() = default;

  // ---- Virtual operations, in their fixed order.

  // The current target's TakeAction; LevelBenign when there is none.
  virtual int CurrentTargetAction();
  // Disposes the target list; a second call does nothing.
  virtual void Kill();
  // Passes the stepping request to the current target, when the list is not empty.
  virtual void HandleToolbar(std::int32_t* request);

  // ---- Non-virtual operations.

  // Creates the (empty) target list; no target is current.
  void Init();
  // Registers a target under a nonzero id (a second one under the same id
  // replaces it). Ignored before Init or after Kill.
  void AddTarget(std::int32_t id, ToolbarTarget& target);
  // A nonzero id makes that target current and gives it the toolbar; 0 asks
  // every target whether it wants the toolbar and makes the last that does
  // current (giving it the toolbar).
  void SetTarget(std::int32_t id);

  // ---- Fields.
  std::optional<std::vector<ToolbarTargetEntry>> Targets;
  std::int32_t TargetId = 0;  // the current target's id; 0 = none

 private:
  ToolbarTarget* Find(std::int32_t id) const;
};

}  // namespace ui
