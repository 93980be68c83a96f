// WindowResizer: keeps a window's controls laid out when the window changes
// size. Init records the window and every control (rectangle, type and the
// default strategies of the application strategy); afterwards, whenever the
// window's size differs from the size it last laid out, each control gets a
// new rectangle computed from its recorded one, its container's recorded and
// new rectangles and its two strategy codes.
//
// Strategy codes (PositionalStrategy: low byte horizontal, high byte vertical)
//   horizontal  1 keep x; 2 keep the distance from the container's right edge;
//               4 keep the distance from its left edge; 8 keep the place
//               relative to its centre; 16 the nearest edge (4 or 2); 32 move
//               by half the container's growth; anything else: proportional
//   vertical    the same times 256: 256 keep y, 512 bottom, 1024 top,
//               2048 centre, 4096 nearest edge, 8192 half the growth
// ResizeStrategy bits: 1 keep the width, 2 keep the height, 4 / 8 stretch the
// width / height so the right / bottom margin stays, 16 / 32 stretch by half
// that; without any of them the size scales with the container.
//
// Containers: a control the runtime gives a parent (PropParent) is laid out
// inside it; groups, lists and the like (types 11, 13, 37, 38) contain the
// controls whose top-left corner they cover. Children are planned with their
// container's recorded and new rectangles.
//
// Events: Init registers the layout for the window's layout request (which the
// window controller posts after each EventSized), maximise, restore and
// gain-focus events; a layout at the size last laid out does nothing.
//
// A window controller holds it in its Resize field (SetResizer) and kills it
// in Kill; it may also be added as a component, which only adds that second,
// harmless Kill.
//
// Threading: the window's thread only. Ownership: the window is not owned.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/windows/window_resource.h"
#include "ui/window_component.h"
#include "ui/window_controller.h"

namespace rt {
class Window;
}

namespace ui {

// Positional codes.
inline constexpr std::uint16_t kKeepX = 1;
inline constexpr std::uint16_t kAnchorRight = 2;
inline constexpr std::uint16_t kAnchorLeft = 4;
inline constexpr std::uint16_t kCentreX = 8;
inline constexpr std::uint16_t kNearestX = 16;
inline constexpr std::uint16_t kHalfGrowthX = 32;
inline constexpr std::uint16_t kKeepY = 256;
inline constexpr std::uint16_t kAnchorBottom = 512;
inline constexpr std::uint16_t kAnchorTop = 1024;
inline constexpr std::uint16_t kCentreY = 2048;
inline constexpr std::uint16_t kNearestY = 4096;
inline constexpr std::uint16_t kHalfGrowthY = 8192;

// Resize bits.
inline constexpr std::uint16_t kKeepWidth = 1;
inline constexpr std::uint16_t kKeepHeight = 2;
inline constexpr std::uint16_t kStretchWidth = 4;
inline constexpr std::uint16_t kStretchHeight = 8;
inline constexpr std::uint16_t kHalfStretchWidth = 16;
inline constexpr std::uint16_t kHalfStretchHeight = 32;

// The window as recorded: position and inner size, and its states.
struct RecordedWindow {
  rt::Rect Area;
  std::uint8_t Maximized = 0;
  std::uint8_t Iconized = 0;
};

// One managed control.
struct ResizeControl {
  std::int32_t ID = 0;    // control number
  std::int32_t Type = 0;  // the runtime's control type
  std::uint8_t HasChildren = 0;
  std::uint16_t PositionalStrategy = 0;
  std::uint16_t ResizeStrategy = 0;
  rt::Rect Pos;             // as recorded
  std::int32_t ParentID = 0;  // the container; 0 = the window
};

// One planned move.
struct ResizeMove {
  std::int32_t Priority = 0;
  std::int32_t ControlID = 0;
  std::int32_t Type = 0;
  rt::Rect Before;
  rt::Rect After;
};

// The default strategies of application strategy 1..5 for a control type
// ({0, 0} for strategies outside 1..5).
struct ResizeDefaults {
  std::uint16_t Positional = 0;
  std::uint16_t Resize = 0;
};
ResizeDefaults DefaultStrategies(int appStrategy, int controlType);

class WindowResizer : public WindowResizerBase, public WindowComponent {
 public:
  // Lays out `window` (not owned; it must outlive the resizer's Kill).
  explicit WindowResizer(rt::Window& window) : window_(&window) {}
  virtual ~WindowResizer();

  // ---- Virtual operations, in their fixed order.

  // The container a managed control is laid out in (0: the window).
  virtual std::int32_t GetParentControl(std::int32_t control);
  // Records the window and its controls as they are now.
  virtual void CaptureLayout();
  // Lays out the whole window: Resize(0).
  virtual void ResizeWindow();
  // Lays out the children of `container` (0: the whole window) for its
  // current size.
  virtual void Resize(std::int32_t container);
  // Hooks around a whole-window layout; empty here.
  virtual void BeforeResize();
  virtual void AfterResize();
  // Gives the window its recorded size and states back and every control its
  // recorded rectangle.
  virtual void RestoreWindow();
  // Assigns every managed control its container (SetParentDefault for each).
  virtual void SetParentDefaults();
  // Assigns the container of the entry current_ (an index into ControlQueue).
  virtual void SetParentDefault();
  // The new rectangle of the control `entry` whose container went from
  // `before` to `after`.
  virtual rt::Rect ComputePosition(const rt::Rect& before, const rt::Rect& after,
                                     const ResizeControl& entry);

  // ---- Non-virtual operations.

  // Starts managing the window: application strategy 1..5 chooses the default
  // strategies; with setMinimum (setMaximum) the window cannot be made
  // smaller (larger) than it is now.
  void Init(std::uint8_t appStrategy, bool setMinimum = false, bool setMaximum = false);
  // WindowResizerBase and WindowComponent: stops managing the window;
  // idempotent.
  void Kill() override;

  // WindowComponent: the resizer works through its registered events; these
  // do nothing.
  void Reset(std::uint8_t) override {}
  std::uint8_t ResetRequired() override { return 0; }
  void SetAlerts() override {}
  int HandleEvent() override { return 0; }
  void Update() override {}
  void UpdateWindow() override {}

  // The managed control with this number, or null.
  ResizeControl* Find(std::int32_t control);

  // ---- Fields, in their fixed order.
  std::uint8_t AppStrategy = 0;
  std::uint8_t AutoTransparent = 0;  // kept for callers; not read here
  RecordedWindow OrigWin;
  std::vector<ResizeControl> ControlQueue;  // in control number order
  std::uint8_t DeferMoves = 0;
  rt::Rect PreviousWin;
  std::uint8_t ResizeCalled = 0;
  std::vector<ResizeMove> ResizeList;

 protected:
  // The index into ControlQueue that SetParentDefault works on.
  std::size_t current_ = 0;

 private:
  rt::Rect WindowArea() const;
  rt::Rect ControlArea(std::int32_t control) const;
  void PlanChildren(std::int32_t container, const rt::Rect& before, const rt::Rect& after,
                    int depth);
  void MoveBack();
  void Move(std::int32_t control, const rt::Rect& to);

  rt::Window* window_;  // not owned
  bool registered_ = false;
};

}  // namespace ui
