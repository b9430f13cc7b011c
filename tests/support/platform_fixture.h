// Base fixture: every test starts on an empty registry with every platform
// control switched off, and leaves it that way.
#pragma once
#include <gtest/gtest.h>
#include <qxplatform/controls.h>

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qxplatform::ResetControls();
    qxplatform::ResetRegistry();
  }
  void TearDown() override { qxplatform::ResetControls(); }
};
