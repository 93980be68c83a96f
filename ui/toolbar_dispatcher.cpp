#include "ui/toolbar_dispatcher.h"

#include "errors/level.h"

namespace ui {

void ToolbarDispatcher::Init() {
  Targets.emplace();
  TargetId = 0;
}

void ToolbarDispatcher::Kill() {
  Targets.reset();
  TargetId = 0;
}

void ToolbarDispatcher::AddTarget(std::int32_t id, ToolbarTarget& target) {
  if (!Targets || id == 0) return;
  for (auto& entry : *Targets)
    if (entry.Id == id) {
      entry.Target = &target;
      return;
    }
  Targets->push_back({id, &target});
}

ToolbarTarget* ToolbarDispatcher::Find(std::int32_t id) const {
  if (!Targets || id == 0) return nullptr;
  for (const auto& entry : *Targets)
    if (entry.Id == id) return entry.Target;
  return nullptr;
}

void ToolbarDispatcher::SetTarget(std::int32_t id) {
  if (!Targets) return;
  if (id != 0) {
    if (ToolbarTarget* target = Find(id)) {
      TargetId = id;
      target->TakeToolbar();
    }
    return;
  }
  ToolbarTarget* chosen = nullptr;
  for (const auto& entry : *Targets)
    if (entry.Target->WantsToolbar()) {
      chosen = entry.Target;
      TargetId = entry.Id;
    }
  if (chosen) chosen->TakeToolbar();
}

int ToolbarDispatcher::CurrentTargetAction() {
  ToolbarTarget* target = Find(TargetId);
  return target ? target->TakeAction() : errors::LevelBenign;
}

void ToolbarDispatcher::HandleToolbar(std::int32_t* request) {
  if (!Targets || Targets->empty()) return;
  if (ToolbarTarget* target = Find(TargetId)) target->HandleRequest(request);
}

}  // namespace ui
