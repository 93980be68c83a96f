// WindowResizer on a real headless window run by a window controller: the
// operator resizes the window and the controls follow their strategies.
#include "ui/window_resizer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"
#include "tests/ui/ui_fixture.h"

namespace rt {
void PrintTo(const Rect& r, std::ostream* os) {
  *os << "{" << r.X << ", " << r.Y << ", " << r.Width << ", " << r.Height << "}";
}
}  // namespace rt

namespace {

using errors::LevelBenign;
using namespace ui_test;

// A 200 x 100 window; the group (5) holds the check box (6); the button 7
// is excluded from layout.
rt::WindowResource LayoutResource() {
  rt::WindowResource w;
  w.Name = "LAYOUT";
  w.Width = 200;
  w.Height = 100;
  w.Resizable = true;
  auto add = [&](int number, rt::ControlKind kind, rt::Rect at) {
    w.Controls.push_back(rt::MakeControl(number, "?C" + std::to_string(number), kind, at));
  };
  add(1, rt::ControlKind::Image, {10, 10, 20, 10});
  add(2, rt::ControlKind::Button, {150, 80, 40, 14});
  add(3, rt::ControlKind::Text, {100, 10, 40, 10});
  add(4, rt::ControlKind::Entry, {20, 40, 60, 10});
  add(5, rt::ControlKind::Group, {10, 60, 80, 30});
  add(6, rt::ControlKind::Check, {20, 70, 40, 10});
  add(7, rt::ControlKind::Button, {100, 40, 30, 14});
  return w;
}

// Counts the layouts that got past the unchanged-size check.
class CountingResizer : public ui::WindowResizer {
 public:
  using WindowResizer::WindowResizer;
  void BeforeResize() override { ++Layouts; }
  int Layouts = 0;
};

// A dialog laid out the way the program's cut-off dialog is.
class ResizedDialog : public ui::WindowController {
 public:
  explicit ResizedDialog(rt::Window& window) : window_(window), resizer(window) {}

  int Init() override {
    if (const int r = WindowController::Init(); r != LevelBenign) return r;
    Open(window_);
    window_.SetProperty(7, rt::PropNoResize, 1);
    resizer.Init(2, true, false);
    resizer.SetParentDefaults();
    SetResizer(resizer);
    return LevelBenign;
  }

  rt::Window& window_;
  CountingResizer resizer;
};

class ResizerTest : public UiFixture {
 protected:
  rt::Window window{LayoutResource()};
  ResizedDialog dialog{window};
};

TEST_F(ResizerTest, ControlsFollowTheirStrategiesAsTheWindowGrows) {
  // The second resize, to the size last laid out, does nothing.
  ASSERT_TRUE(backend.LoadScript("resize 300 160\nresize 300 160\nclose\n"));
  dialog.Run();
  ASSERT_TRUE(backend.Problems().empty()) << backend.Problems().front();
  struct Expected {
    int Control;
    rt::Rect At;
    const char* Why;
  };
  const Expected expected[] = {
      {1, {10, 10, 120, 70}, "an image keeps its corner and its right and bottom margins"},
      {2, {250, 140, 40, 14}, "a button keeps its size and its nearest edges' distances"},
      {3, {150, 10, 60, 10}, "a text keeps its top and height and scales across"},
      {4, {30, 40, 90, 10}, "an entry keeps its top and height and scales across"},
      {5, {10, 60, 180, 90}, "a group stretches like the image"},
      {6, {20, 130, 40, 10}, "a check box in the group follows the group's edges"},
      {7, {100, 40, 30, 14}, "an excluded control never moves"},
  };
  for (const auto& e : expected) EXPECT_EQ(window.GetPosition(e.Control), e.At) << e.Why;
  EXPECT_EQ(dialog.resizer.Layouts, 1);
}

TEST_F(ResizerTest, TheRecordedSizeIsTheSmallestAndPutsEveryControlBack) {
  ASSERT_TRUE(backend.LoadScript("resize 300 160\nresize 120 50\nclose\n"));
  dialog.Run();
  EXPECT_EQ(window.MinWidth(), 200);
  EXPECT_EQ(window.MinHeight(), 100);
  EXPECT_EQ(window.MaxWidth(), 0);
  EXPECT_EQ(window.Area().Width, 200);
  EXPECT_EQ(window.Area().Height, 100);
  for (const auto& c : LayoutResource().Controls)
    EXPECT_EQ(window.GetPosition(c.Number), c.Position) << "control " << c.Number;
}

TEST_F(ResizerTest, ContainerRecordedWithoutExtentKeepsItsChildrensSizes) {
  ui::WindowResizer resizer(window);
  ui::ResizeControl child{6, 9, 0, 0, 0, {20, 70, 40, 10}, 5};
  const rt::Rect moved = resizer.ComputePosition({10, 60, 0, 0}, {10, 60, 80, 30}, child);
  EXPECT_EQ(moved.Width, 40);
  EXPECT_EQ(moved.Height, 10);
}

}  // namespace
