// Name-binding scopes: names live as long as the scope that bound them.
#include "runtime/windows/bind_scope.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/core/error_state.h"

namespace rt {
namespace {

TEST(BindScopeTest, NamesLiveAsLongAsTheirScope) {
  std::int32_t date = 5;
  std::string text = "x";
  EXPECT_EQ(Bind("LastDate", &date), kBadRequest) << "no scope open";
  PushBind(1);
  EXPECT_EQ(Bind("LastDate", &date), 0);
  PushBind(1);
  EXPECT_EQ(Bind("Title", &text), 0);
  EXPECT_EQ(std::get<std::int32_t*>(BoundName("lastdate")), &date) << "outer names stay visible";
  PopBind();
  EXPECT_FALSE(IsBound(BoundName("Title")));
  PushBind(0);
  EXPECT_FALSE(IsBound(BoundName("LastDate"))) << "a scope opened with 0 hides the outer names";
  PopBind();
  PopBind();
  PopBind();  // one too many does nothing
  EXPECT_EQ(BindDepth(), 0);
  EXPECT_EQ(Bind("", &date), kBadRequest);
}

}  // namespace
}  // namespace rt
