// Fixture for the registrar's tests: a fresh registry and platform controls
// (PlatformTest), a private heap for the registrar's tables, the 1252 code
// page, and helpers that run a script and read
// the registry back through the ANSI entry points.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <memory>

#include "registrar/script_runner.h"
#include "support/platform_fixture.h"
#include "support/test_heap.h"

class RegistrarTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_TRUE(qxplatform::SetAnsiCodePage(1252));
    m_heap = std::make_unique<ScopedTestHeap>();
    m_taskBlocksBefore = qxplatform::LiveTaskBlocks();
    m_heapBlocksBefore = qxplatform::LiveHeapBlocks();
  }
  void TearDown() override {
    m_heap.reset();
    qxplatform::SetAnsiCodePage(1252);
    PlatformTest::TearDown();
  }

  // Runs text with the variable "Module" bound to module (when given).
  HRESULT Run(const std::string& text, bool doRegister,
              const char16_t* module = nullptr) {
    const LPCOLESTR names[] = {OLESTR("Module")};
    const LPCOLESTR values[] = {module};
    return RunScriptWithVariables(kTestHeapAllocator, text.c_str(), names,
                                  values, module != nullptr ? 1 : 0,
                                  doRegister ? TRUE : FALSE, /*then=*/nullptr,
                                  &m_where);
  }
  HRESULT Register(const std::string& text, const char16_t* module = nullptr) {
    return Run(text, true, module);
  }
  HRESULT Unregister(const std::string& text,
                     const char16_t* module = nullptr) {
    return Run(text, false, module);
  }

  // Nothing the registrar took is still held: no registry handle, no task
  // allocator block, no module heap block.
  void ExpectNothingHeld() {
    EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
    EXPECT_EQ(qxplatform::LiveTaskBlocks(), m_taskBlocksBefore);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_heapBlocksBefore);
  }

  static bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != 0) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  // Type and data of a value; false when the key or value is missing.
  static bool ReadValue(HKEY root, const std::string& path,
                        const char* valueName, DWORD* type,
                        std::vector<BYTE>* data) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != 0) {
      return false;
    }
    DWORD size = 0;
    LSTATUS status =
        RegQueryValueExA(key, valueName, nullptr, type, nullptr, &size);
    if (status == 0) {
      data->assign(size, 0);
      status = RegQueryValueExA(key, valueName, nullptr, type,
                                size != 0 ? data->data() : nullptr, &size);
      data->resize(size);
    }
    RegCloseKey(key);
    return status == 0;
  }

  // A REG_SZ value without its terminating zero; "<missing>" or "<type n>"
  // when it is not there or not text.
  static std::string ReadString(HKEY root, const std::string& path,
                                const char* valueName = nullptr) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(root, path, valueName, &type, &data)) return "<missing>";
    if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
    if (data.empty() || data.back() != 0) return "<unterminated>";
    return std::string(data.begin(), data.end() - 1);
  }

  static std::string Export(const char* key = nullptr) {
    std::string text;
    std::string error;
    if (!qxplatform::ExportRegistryText(key, &text, &error)) {
      return "<export failed: " + error + ">";
    }
    return text;
  }

  static std::string LibraryScript() {
    std::ifstream file(QX_SOURCE_DIR "/installer/resources/qxKorvex.rgs",
                       std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  // Where the last run stopped.
  ScriptDiagnostic m_where;
  std::unique_ptr<ScopedTestHeap> m_heap;
  long m_taskBlocksBefore = 0;
  long m_heapBlocksBefore = 0;
};
