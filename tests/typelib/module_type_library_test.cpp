// A module that carries no type library of its own registers the ".tlb"
// beside it, with the folder it lies in as the help directory; a load that
// fails, with or without a reason given, is a failure.
#include <oleauto.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"
#include "typelib/module_type_library.h"

namespace fs = std::filesystem;

namespace {

constexpr char kVersionKey[] =
    "TypeLib\\{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}\\1.0";
// The product's library is made for this build's system kind, and is
// registered under its platform key.
const std::string kPlatformKey =
    std::string(kVersionKey) +
    (sizeof(void*) == 8 ? "\\0\\win64" : "\\0\\win32");

std::string DefaultValue(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != 0)
    return "<missing>";
  char value[1024] = {};
  DWORD size = sizeof(value);
  const LSTATUS status = RegQueryValueExA(
      key, /*lpValueName=*/nullptr,
      /*lpReserved=*/nullptr,
      /*lpType=*/nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return status == 0 ? value : "<unreadable>";
}

}  // namespace

class ModuleTypeLibTest : public PlatformTest {
 protected:
  void TearDown() override {
    if (m_module != nullptr) FreeLibrary(m_module);
    PlatformTest::TearDown();
  }
  // A library without resources, named name, with the product's type
  // library beside it as sibling.
  void Place(const std::string& name, const std::string& sibling) {
    fs::copy_file(QX_LOADER_PROBE_PATH, m_folder + "/" + name);
    fs::copy_file(QX_TYPELIB_DIR "/qxKorvex.tlb", m_folder + "/" + sibling);
    // A name without an extension is loaded as written only with a final
    // dot; without it the loader appends ".dll".
    const std::string load = m_folder + "/" + name +
                             (name.find('.') == std::string::npos ? "." : "");
    m_module = LoadLibraryA(load.c_str());
    ASSERT_NE(m_module, nullptr);
  }

  ScratchDirectory m_scratch{"qxtlb"};
  const std::string m_folder = m_scratch.path().string();
  HMODULE m_module = nullptr;
};

TEST_F(ModuleTypeLibTest, SiblingReplacesTheModulesExtension) {
  Place("probe.so", "probe.tlb");
  ASSERT_EQ(RegisterModuleTypeLib(m_module), S_OK);
  EXPECT_EQ(DefaultValue(kPlatformKey), m_folder + "/probe.tlb");
  EXPECT_EQ(DefaultValue(std::string(kVersionKey) + "\\HELPDIR"),
            m_folder + "/");
  EXPECT_EQ(UnregisterModuleTypeLib(m_module), S_OK);
  EXPECT_EQ(DefaultValue(kPlatformKey), "<missing>");
}

TEST_F(ModuleTypeLibTest, ModuleWithoutExtensionGetsOneAppended) {
  Place("probe", "probe.tlb");
  BSTR path = nullptr;
  ITypeLib* typeLib = nullptr;
  ASSERT_EQ(LoadModuleTypeLib(m_module, &path, &typeLib), S_OK);
  const std::u16string loaded(path, SysStringLen(path));
  EXPECT_EQ(std::string(loaded.begin(), loaded.end()), m_folder + "/probe.tlb");
  typeLib->Release();
  SysFreeString(path);
}

TEST_F(ModuleTypeLibTest, NoTypeLibraryAnywhereIsTheSecondLoadsStatus) {
  Place("probe.so", "other.tlb");
  BSTR path = reinterpret_cast<BSTR>(1);
  ITypeLib* typeLib = reinterpret_cast<ITypeLib*>(1);
  EXPECT_EQ(LoadModuleTypeLib(m_module, &path, &typeLib),
            TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(typeLib, nullptr);
  EXPECT_EQ(RegisterModuleTypeLib(m_module), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(UnregisterModuleTypeLib(m_module), TYPE_E_CANTLOADLIBRARY);
}

// A conversion of a name to load that fails with no reason given (a last
// error of 0) is a failed load all the same: the module's own name that
// does not convert sends the load on to the sibling, and a sibling's name
// that does not convert fails it, with nothing handed out.
TEST_F(ModuleTypeLibTest, ConversionThatFailsWithoutAReasonIsAFailedLoad) {
  Place("probe.so", "probe.tlb");
  BSTR path = nullptr;
  ITypeLib* typeLib = nullptr;
  qxplatform::FailMultiByteToWideCharAt(1, ERROR_SUCCESS);
  ASSERT_EQ(LoadModuleTypeLib(m_module, &path, &typeLib), S_OK);
  ASSERT_NE(path, nullptr);
  const std::u16string loaded(path, SysStringLen(path));
  EXPECT_EQ(std::string(loaded.begin(), loaded.end()), m_folder + "/probe.tlb");
  EXPECT_NE(typeLib, nullptr);
  if (typeLib != nullptr) typeLib->Release();
  SysFreeString(path);

  path = reinterpret_cast<BSTR>(1);
  typeLib = reinterpret_cast<ITypeLib*>(1);
  qxplatform::FailMultiByteToWideCharAt(2, ERROR_SUCCESS);
  EXPECT_EQ(LoadModuleTypeLib(m_module, &path, &typeLib), E_FAIL);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(typeLib, nullptr);
  qxplatform::FailMultiByteToWideCharAt(2, ERROR_SUCCESS);
  EXPECT_EQ(RegisterModuleTypeLib(m_module), E_FAIL);
  EXPECT_EQ(DefaultValue(kPlatformKey), "<missing>");
  // A reason, when there is one, is what the status says.
  qxplatform::FailMultiByteToWideCharAt(2, ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(RegisterModuleTypeLib(m_module),
            HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
}
