#include "ui/window_resizer.h"

#include <algorithm>
#include <cstdint>

#include "runtime/windows/events.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"

namespace ui {
namespace {

// The events that lay the window out.
constexpr int kLayoutEvents[] = {rt::EventLayoutRequest, rt::EventMaximized, rt::EventGainFocus,
                                 rt::EventRestored};

// Control types the resizer never manages (the runtime's menus, toolbars,
// sheets and the like).
bool Unmanaged(int type) {
  switch (type) {
    case 19:
    case 20:
    case 22:
    case 24:
    case 25:
    case 38: return true;
    default: return type < 1 || type > 127;
  }
}

bool IsContainer(int type) { return type == 11 || type == 13 || type == 37 || type == 38; }

constexpr int kSheet = 38;

// Ratios are kept to four decimal places (units of 1/kRatio); positions are
// computed in units of 1/kUnit so that halves of ratios stay exact, and
// rounded to whole dialog units (halves away from zero) only when stored.
constexpr std::int64_t kRatio = 10000;
constexpr std::int64_t kUnit = 2 * kRatio;

std::int64_t Ratio(std::int64_t now, std::int64_t before) {
  // A container recorded with no extent gives no ratio: its children keep
  // their sizes instead of dividing by zero.
  if (before <= 0) return kRatio;
  return (now * kRatio * 2 + before) / (before * 2);
}

std::int32_t Whole(std::int64_t units) {
  const std::int64_t whole = units >= 0 ? (units + kUnit / 2) / kUnit : -((-units + kUnit / 2) / kUnit);
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(whole, INT32_MIN + 1, INT32_MAX));
}

// One axis of ComputePosition: the new start of a control along it.
//   code    the axis's positional rule, already resolved from "nearest edge"
//   p0, p1  the container's recorded and new start and extent
//   c0      the control's recorded start
//   factor  the axis's ratio, or kRatio when the size is kept
std::int32_t NewStart(int code, std::int64_t p0Start, std::int64_t p0Extent, std::int64_t p1Start,
                      std::int64_t p1Extent, std::int64_t c0Start, std::int64_t factor,
                      std::int64_t ratio, int keep, int right, int left, int centre, int half) {
  const std::int64_t d = c0Start - p0Start;
  if (code == keep) return static_cast<std::int32_t>(c0Start);
  if (code == right) return Whole((p1Start + p1Extent) * kUnit - (p0Extent - d) * factor * 2);
  if (code == left) return Whole((p1Start + d) * kUnit);
  if (code == centre)
    return Whole(p1Start * kUnit + p1Extent * kRatio + (2 * d - p0Extent) * factor);
  if (code == half)
    return Whole((c0Start + p1Start - p0Start) * kUnit + (p1Extent - p0Extent) * kRatio);
  return Whole(p1Start * kUnit + d * ratio * 2);
}

}  // namespace

ResizeDefaults DefaultStrategies(int appStrategy, int controlType) {
  // Columns: types 9, 12, 21 | 1, 2, 10 | 8, 15, 16, 34 | 3, 4, 11, 13, 14,
  // 37, 39 | 17, 40 | any other type.
  static constexpr ResizeDefaults kTable[5][6] = {
      {{4112, 3}, {0, 0}, {0, 2}, {0, 0}, {0, 0}, {0, 0}},
      {{4112, 3}, {1024, 2}, {1024, 2}, {1028, 12}, {0, 0}, {0, 0}},
      {{257, 3}, {257, 3}, {257, 3}, {257, 3}, {257, 3}, {257, 3}},
      {{4112, 3}, {1028, 3}, {1028, 6}, {1028, 12}, {1028, 12}, {0, 0}},
      {{2056, 3}, {2056, 3}, {2056, 3}, {2056, 3}, {2056, 3}, {2056, 3}},
  };
  if (appStrategy < 1 || appStrategy > 5) return {};
  int column = 5;
  switch (controlType) {
    case 9:
    case 12:
    case 21: column = 0; break;
    case 1:
    case 2:
    case 10: column = 1; break;
    case 8:
    case 15:
    case 16:
    case 34: column = 2; break;
    case 3:
    case 4:
    case 11:
    case 13:
    case 14:
    case 37:
    case 39: column = 3; break;
    case 17:
    case 40: column = 4; break;
    default: break;
  }
  return kTable[appStrategy - 1][column];
}

WindowResizer::~WindowResizer() { Kill(); }

ResizeControl* WindowResizer::Find(std::int32_t control) {
  for (auto& entry : ControlQueue)
    if (entry.ID == control) return &entry;
  return nullptr;
}

rt::Rect WindowResizer::WindowArea() const {
  return {static_cast<int>(window_->GetProperty(0, rt::PropXPos).Number()),
          static_cast<int>(window_->GetProperty(0, rt::PropYPos).Number()),
          static_cast<int>(window_->GetProperty(0, rt::PropClientWidth).Number()),
          static_cast<int>(window_->GetProperty(0, rt::PropClientHeight).Number())};
}

rt::Rect WindowResizer::ControlArea(std::int32_t control) const {
  return window_->GetPosition(control);
}

void WindowResizer::Init(std::uint8_t appStrategy, bool setMinimum, bool setMaximum) {
  Kill();
  AppStrategy = appStrategy;
  for (int event : kLayoutEvents)
    window_->RegisterEvent(
        event,
        [this] {
          ResizeWindow();
          return 0;  // the window's own loop still sees the event
        },
        this);
  registered_ = true;
  window_->SetProperty(0, rt::PropQuietField, 1);
  CaptureLayout();
  if (appStrategy == 2 || appStrategy == 4) SetParentDefaults();
  if (setMinimum) {
    window_->SetProperty(0, rt::PropMinWidth, OrigWin.Area.Width);
    window_->SetProperty(0, rt::PropMinHeight, OrigWin.Area.Height);
  }
  if (setMaximum) {
    window_->SetProperty(0, rt::PropMaxWidth, OrigWin.Area.Width);
    window_->SetProperty(0, rt::PropMaxHeight, OrigWin.Area.Height);
  }
  DeferMoves = 1;
}

void WindowResizer::Kill() {
  // A closed window has dropped its handlers already.
  if (registered_ && window_->IsOpen())
    for (int event : kLayoutEvents) window_->UnregisterEvent(event, this);
  registered_ = false;
  ControlQueue.clear();
  ResizeList.clear();
}

std::int32_t WindowResizer::GetParentControl(std::int32_t control) {
  const ResizeControl* entry = Find(control);
  return entry ? entry->ParentID : 0;
}

void WindowResizer::CaptureLayout() {
  OrigWin.Area = WindowArea();
  OrigWin.Maximized = window_->GetProperty(0, rt::PropMaximized).Number() != 0;
  OrigWin.Iconized = window_->GetProperty(0, rt::PropIconized).Number() != 0;
  PreviousWin = OrigWin.Area;
  for (int control = static_cast<int>(window_->GetProperty(0, rt::PropNextControl, 0).Number());
       control != 0;
       control = static_cast<int>(window_->GetProperty(0, rt::PropNextControl, control).Number())) {
    if (ResizeControl* known = Find(control)) {
      known->Pos = ControlArea(control);
      continue;
    }
    if (window_->GetProperty(control, rt::PropNoResize).Number() != 0) continue;
    int type = static_cast<int>(window_->GetProperty(control, rt::PropType).Number());
    if (Unmanaged(type)) continue;
    if (type == static_cast<int>(rt::ControlKind::Combo) &&
        window_->GetProperty(control, rt::PropComboAsEntry).Number() != 0)
      type = static_cast<int>(rt::ControlKind::Entry);
    const ResizeDefaults defaults = DefaultStrategies(AppStrategy, type);
    ControlQueue.push_back(
        {control, type, 0, defaults.Positional, defaults.Resize, ControlArea(control), 0});
  }
  ResizeCalled = 0;
}

void WindowResizer::SetParentDefaults() {
  for (current_ = 0; current_ < ControlQueue.size(); ++current_) SetParentDefault();
}

void WindowResizer::SetParentDefault() {
  if (current_ >= ControlQueue.size()) return;
  ResizeControl& a = ControlQueue[current_];
  auto runtimeParent = [this](int control) {
    return static_cast<int>(window_->GetProperty(control, rt::PropParent).Number());
  };
  if (int parent = runtimeParent(a.ID); parent != 0) {
    // Sheets are transparent: a control on a sheet is laid out in whatever
    // holds the sheet. The walk is bounded, so a parent loop cannot hang it.
    int child = a.ID;
    for (int hops = 0; parent != 0 && hops < window_->LastControl(); ++hops) {
      if (window_->GetProperty(parent, rt::PropType).Number() != kSheet) break;
      child = parent;
      parent = runtimeParent(parent);
    }
    if (ResizeControl* c = Find(child)) c->ParentID = parent;
    if (ResizeControl* p = Find(parent)) p->HasChildren = 1;
    return;
  }
  if (!IsContainer(a.Type)) return;
  for (auto& other : ControlQueue) {
    if (other.ID == a.ID || other.ID == a.ParentID) continue;
    const bool inside = other.Pos.X >= a.Pos.X && other.Pos.X <= a.Pos.X + a.Pos.Width - 1 &&
                        other.Pos.Y >= a.Pos.Y && other.Pos.Y <= a.Pos.Y + a.Pos.Height - 1;
    if (!inside) continue;
    other.ParentID = a.ID;
    a.HasChildren = 1;
  }
}

rt::Rect WindowResizer::ComputePosition(const rt::Rect& p0, const rt::Rect& p1,
                                        const ResizeControl& entry) {
  const rt::Rect& c0 = entry.Pos;
  const std::int64_t rx = Ratio(p1.Width, p0.Width), ry = Ratio(p1.Height, p0.Height);
  const int r = entry.ResizeStrategy;
  int h = entry.PositionalStrategy & 0xFF;
  int v = entry.PositionalStrategy & 0xFF00;
  const std::int64_t fx = (r & kKeepWidth) ? kRatio : rx;
  const std::int64_t fy = (r & kKeepHeight) ? kRatio : ry;
  const std::int64_t dx = c0.X - p0.X, dy = c0.Y - p0.Y;
  rt::Rect c = c0;
  if (!(r & (kStretchWidth | kHalfStretchWidth))) c.Width = Whole(c0.Width * fx * 2);
  if (!(r & (kStretchHeight | kHalfStretchHeight))) c.Height = Whole(c0.Height * fy * 2);
  if (h == kNearestX) h = dx < p0.Width - dx - c0.Width ? kAnchorLeft : kAnchorRight;
  if (v == kNearestY) v = dy < p0.Height - dy - c0.Height ? kAnchorTop : kAnchorBottom;
  c.X = NewStart(h, p0.X, p0.Width, p1.X, p1.Width, c0.X, fx, rx, kKeepX, kAnchorRight,
                 kAnchorLeft, kCentreX, kHalfGrowthX);
  c.Y = NewStart(v, p0.Y, p0.Height, p1.Y, p1.Height, c0.Y, fy, ry, kKeepY, kAnchorBottom,
                 kAnchorTop, kCentreY, kHalfGrowthY);
  // How far the far edge moves if it keeps its distance to the container's.
  const std::int64_t gx = p1.X + p1.Width - (p0.Width - dx) - c.X;
  const std::int64_t gy = p1.Y + p1.Height - (p0.Height - dy) - c.Y;
  if (r & kStretchWidth) c.Width = Whole((c0.Width + gx) * kUnit);
  if (r & kHalfStretchWidth) c.Width = Whole(c0.Width * kUnit + gx * kRatio);
  if (r & kStretchHeight) c.Height = Whole((c0.Height + gy) * kUnit);
  if (r & kHalfStretchHeight) c.Height = Whole(c0.Height * kUnit + gy * kRatio);
  return c;
}

void WindowResizer::ResizeWindow() { Resize(0); }

void WindowResizer::Resize(std::int32_t container) {
  ResizeList.clear();
  const bool whole = container == 0;
  const rt::Rect now = whole ? WindowArea() : ControlArea(container);
  if (window_->LastControl() == 0) return;
  if (whole && now.Width == PreviousWin.Width && now.Height == PreviousWin.Height) return;
  const ResizeControl* managed = whole ? nullptr : Find(container);
  if (!whole && !managed) return;
  if (whole) BeforeResize();
  std::int64_t deferred = 0;
  if (DeferMoves) {
    deferred = window_->GetProperty(0, rt::PropDeferMoves).Number();
    window_->SetProperty(0, rt::PropDeferMoves, static_cast<int>(ControlQueue.size()));
  }
  if (whole && now.Width == OrigWin.Area.Width && now.Height == OrigWin.Area.Height) {
    MoveBack();
  } else {
    const rt::Rect before =
        whole ? rt::Rect{0, 0, OrigWin.Area.Width, OrigWin.Area.Height} : managed->Pos;
    const rt::Rect after = whole ? rt::Rect{0, 0, now.Width, now.Height} : now;
    PlanChildren(container, before, after, 0);
    if (!DeferMoves) {
      // Moves made one by one go in an order that never puts a control over
      // one that has yet to move: the farthest first when the window grows.
      const bool widthChanged = now.Width != PreviousWin.Width;
      const bool heightChanged = now.Height != PreviousWin.Height;
      for (auto& move : ResizeList) {
        const std::int64_t x = move.After.X, y = move.After.Y;
        const std::int64_t priority = widthChanged && heightChanged ? x * x + y * y
                                      : widthChanged                ? x
                                                                    : y;
        move.Priority = static_cast<std::int32_t>(std::min<std::int64_t>(priority, INT32_MAX));
      }
      const std::int64_t grownTo = std::int64_t{now.Width} * now.Width + std::int64_t{now.Height} * now.Height;
      const std::int64_t grownFrom = std::int64_t{PreviousWin.Width} * PreviousWin.Width +
                                     std::int64_t{PreviousWin.Height} * PreviousWin.Height;
      std::stable_sort(ResizeList.begin(), ResizeList.end(),
                       [grows = grownTo > grownFrom](const ResizeMove& a, const ResizeMove& b) {
                         return grows ? a.Priority > b.Priority : a.Priority < b.Priority;
                       });
    }
    for (const auto& move : ResizeList)
      if (!(move.After == move.Before)) Move(move.ControlID, move.After);
  }
  if (DeferMoves) window_->SetProperty(0, rt::PropDeferMoves, deferred < 0 ? deferred : 0);
  ResizeCalled = 1;
  if (whole) {
    PreviousWin = now;
    AfterResize();
  }
}

void WindowResizer::PlanChildren(std::int32_t container, const rt::Rect& before,
                                 const rt::Rect& after, int depth) {
  // A chain of containers longer than the number of controls is a loop.
  if (depth > static_cast<int>(ControlQueue.size())) return;
  for (std::size_t i = 0; i < ControlQueue.size(); ++i) {
    const ResizeControl entry = ControlQueue[i];
    if (entry.ParentID != container || entry.ID == container) continue;
    ResizeMove move{0, entry.ID, entry.Type, ControlArea(entry.ID),
                    ComputePosition(before, after, entry)};
    ResizeList.push_back(move);
    if (entry.HasChildren &&
        (!(move.After == move.Before) ||
         window_->GetProperty(entry.ID, rt::PropLayoutChildren).Number() != 0))
      PlanChildren(entry.ID, entry.Pos, move.After, depth + 1);
  }
}

void WindowResizer::Move(std::int32_t control, const rt::Rect& to) {
  const bool keepWidth = window_->GetProperty(control, rt::PropKeepWidth).Number() != 0;
  const bool keepHeight = window_->GetProperty(control, rt::PropKeepHeight).Number() != 0;
  window_->SetPosition(control, to.X, to.Y, keepWidth ? rt::kKeepValue : to.Width,
                       keepHeight ? rt::kKeepValue : to.Height);
}

void WindowResizer::MoveBack() {
  for (const auto& entry : ControlQueue)
    window_->SetPosition(entry.ID, entry.Pos.X, entry.Pos.Y, entry.Pos.Width, entry.Pos.Height);
}

void WindowResizer::BeforeResize() {}

void WindowResizer::AfterResize() {}

void WindowResizer::RestoreWindow() {
  window_->SetProperty(0, rt::PropMaximized, OrigWin.Maximized);
  window_->SetProperty(0, rt::PropIconized, OrigWin.Iconized);
  window_->SetPosition(0, rt::kKeepValue, rt::kKeepValue, OrigWin.Area.Width, OrigWin.Area.Height);
  MoveBack();
}

}  // namespace ui
