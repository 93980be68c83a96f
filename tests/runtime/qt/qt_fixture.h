// A test fixture with the desktop backend active (Qt's offscreen platform
// unless QT_QPA_PLATFORM names another) and halts turned into an exception;
// tests give their input from a Desk (tests/support/qt_desk.h).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "runtime/core/halt.h"
#include "runtime/qt/qt_backend.h"
#include "tests/runtime/windows/headless_fixture.h"  // Halted, EventName
#include "tests/support/qt_desk.h"

namespace rt::testing {

class QtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string error;
    backend = MakeQtBackend(error);
    ASSERT_TRUE(backend) << error;
    SetBackend(backend.get());
    SetHaltHandler([](int code, const std::string& text) { throw Halted{code, text}; });
  }
  void TearDown() override {
    SetHaltHandler({});
    SetBackend(nullptr);
    backend.reset();
  }

  std::unique_ptr<QtBackend> backend;
};

}  // namespace rt::testing
