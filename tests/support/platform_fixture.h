// Base fixture: every test starts on an empty registry with every platform
// control switched off, and leaves it that way.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <qxplatform/controls.h>

#include <string>

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qxplatform::ResetControls();
    qxplatform::ResetRegistry();
  }
  void TearDown() override { qxplatform::ResetControls(); }

  // Creates (or opens) parent\path; the caller closes the key.
  static HKEY CreateKey(HKEY parent, const char* path,
                        REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, /*lpClass=*/nullptr, 0, access,
                              /*lpSecurityAttributes=*/nullptr, &key,
                              /*lpdwDisposition=*/nullptr),
              ERROR_SUCCESS)
        << path;
    return key;
  }

  // Merges .reg sections (the text after the file's header line) into the
  // registry.
  static void Import(const std::string& body) {
    std::string error;
    ASSERT_TRUE(qxplatform::ImportRegistryText(
        "Windows Registry Editor Version 5.00\r\n\r\n" + body, &error))
        << error;
  }
};
