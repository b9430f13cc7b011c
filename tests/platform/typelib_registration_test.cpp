// Registering and unregistering type libraries against the platform's
// registry, LoadRegTypeLib's version and locale lookup, and imports found
// through the registry before the built-in stdole2.
#include <stdlib.h>
#include <unistd.h>

#include "typelib_support.h"

namespace {

using namespace typelib_test;

constexpr char kLibraryKey[] =
    "TypeLib\\{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}";
constexpr char kVersionKey[] =
    "TypeLib\\{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}\\1.0";
constexpr char kInterfaceKey[] =
    "Interface\\{D561B16B-0E95-460A-819D-EF05D1A29BC1}";
constexpr char kAutomationMarshaler[] =
    "{00020424-0000-0000-C000-000000000046}";
// The libraries built here are made for this build's system kind; the
// other kind is the one they are not.
constexpr bool kWide = sizeof(void*) == 8;
constexpr SYSKIND kOwnKind = kWide ? SYS_WIN64 : SYS_WIN32;
constexpr SYSKIND kOtherKind = kWide ? SYS_WIN32 : SYS_WIN64;
const std::string kOwnPlatform = kWide ? "win64" : "win32";
const std::string kOtherPlatform = kWide ? "win32" : "win64";

class TypeLibRegistration : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    ASSERT_EQ(LoadFile(m_path, m_lib.put()), S_OK);
  }
  void TearDown() override {
    m_lib.reset();
    TypeLibTest::TearDown();
  }

  // The text of a value, or "<missing>".
  static std::string Value(const std::string& path,
                           const char* name = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
      return "<missing>";
    char data[512] = {};
    DWORD size = sizeof(data) - 1;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(data) : "<missing>";
  }
  static bool Exists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }
  HRESULT Register(const char16_t* helpDir = u"/opt/qx/help") {
    return RegisterTypeLib(m_lib.get(), Wide(m_path).c_str(), helpDir);
  }
  static HRESULT Unregister(LCID lcid = 0, SYSKIND sysKind = kOwnKind) {
    return UnRegisterTypeLib(kProductLibid, 1, 0, lcid, sysKind);
  }
  static std::string QueryPath(WORD major, WORD minor, LCID lcid,
                               HRESULT expected = S_OK) {
    BSTR path = nullptr;
    EXPECT_EQ(QueryPathOfRegTypeLib(kProductLibid, major, minor, lcid, &path),
              expected);
    std::string text = Narrow(path);
    SysFreeString(path);
    return text;
  }

  const std::string m_path = TypelibPath("qxKorvex.tlb");
  ComPtr<ITypeLib> m_lib;
};

TEST_F(TypeLibRegistration, WritesTheLibraryAndItsInterface) {
  ASSERT_EQ(Register(), S_OK);
  EXPECT_EQ(Value(kVersionKey), "qxKorvex 1.0 Type Library");
  EXPECT_EQ(Value(std::string(kVersionKey) + "\\FLAGS"), "0");
  EXPECT_EQ(Value(std::string(kVersionKey) + "\\0\\" + kOwnPlatform), m_path);
  EXPECT_EQ(Value(std::string(kVersionKey) + "\\HELPDIR"), "/opt/qx/help");
  EXPECT_EQ(Value(kInterfaceKey), "IInstallKorvex");
  EXPECT_EQ(Value(std::string(kInterfaceKey) + "\\ProxyStubClsid"),
            kAutomationMarshaler);
  EXPECT_EQ(Value(std::string(kInterfaceKey) + "\\ProxyStubClsid32"),
            kAutomationMarshaler);
  EXPECT_EQ(Value(std::string(kInterfaceKey) + "\\TypeLib"),
            "{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}");
  EXPECT_EQ(Value(std::string(kInterfaceKey) + "\\TypeLib", "Version"), "1.0");
  // Registration writes no class keys.
  EXPECT_FALSE(Exists("CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}"));
}

TEST_F(TypeLibRegistration, PlainDispatchInterfacesGetTheDispatchMarshaler) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadFile(TypelibPath("typelib_dispinterface.tlb"), lib.put()),
            S_OK);
  ASSERT_EQ(RegisterTypeLib(lib.get(), u"/x/d.tlb", nullptr), S_OK);
  const std::string key = "Interface\\{5E1AE1D0-3F41-4C69-9B0A-2B1D0E6A0201}";
  EXPECT_EQ(Value(key + "\\ProxyStubClsid32"),
            "{00020420-0000-0000-C000-000000000046}");
  EXPECT_EQ(Value("TypeLib\\{5E1AE1D0-3F41-4C69-9B0A-2B1D0E6A0200}\\1.0"),
            "DispatchOnlyLib");  // no help string: the name
  EXPECT_EQ(
      Value("TypeLib\\{5E1AE1D0-3F41-4C69-9B0A-2B1D0E6A0200}\\1.0\\HELPDIR"),
      "");
}

TEST_F(TypeLibRegistration, VersionAndLocaleAreHexadecimal) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadFile(TypelibPath("typelib_features.tlb"), lib.put()), S_OK);
  ASSERT_EQ(RegisterTypeLib(lib.get(), u"/x/f.tlb", nullptr), S_OK);
  EXPECT_EQ(
      Value("TypeLib\\{5E1AE1D0-3F41-4C69-9B0A-2B1D0E6A0100}\\2.5\\409\\" +
            kOwnPlatform),
      "/x/f.tlb");
  // Interfaces on IUnknown marked oleautomation are registered too.
  EXPECT_EQ(Value("Interface\\{5E1AE1D0-3F41-4C69-9B0A-2B1D0E6A0103}"),
            "IFeatureBase");
}

TEST_F(TypeLibRegistration, RoundTripLeavesNothing) {
  ASSERT_EQ(Register(), S_OK);
  ASSERT_EQ(Unregister(), S_OK);
  EXPECT_FALSE(Exists(kLibraryKey));
  EXPECT_FALSE(Exists(kInterfaceKey));
  EXPECT_EQ(Unregister(), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibRegistration, UnregisteringKeepsForeignEntries) {
  Import(
      std::string("[HKEY_CLASSES_ROOT\\") + kVersionKey +
      "\\409\\win32]\r\n@=\"C:\\\\qx\\\\qxKorvex.dll\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Interface\\{11111111-2222-3333-4444-555555555555}]"
      "\r\n@=\"IOther\"\r\n");
  ASSERT_EQ(Register(), S_OK);
  ASSERT_EQ(Unregister(), S_OK);
  // Another locale's registration keeps the version key, its FLAGS too.
  EXPECT_EQ(Value(std::string(kVersionKey) + "\\409\\win32"),
            "C:\\qx\\qxKorvex.dll");
  EXPECT_TRUE(Exists(std::string(kVersionKey) + "\\FLAGS"));
  EXPECT_FALSE(Exists(std::string(kVersionKey) + "\\0"));
  EXPECT_EQ(Value("Interface\\{11111111-2222-3333-4444-555555555555}"),
            "IOther");
  EXPECT_FALSE(Exists(kInterfaceKey));
}

TEST_F(TypeLibRegistration, InterfacesOwnedByAnotherLibraryStay) {
  ASSERT_EQ(Register(), S_OK);
  Import(std::string("[HKEY_CLASSES_ROOT\\") + kInterfaceKey +
         "\\TypeLib]\r\n@=\"{99999999-0000-0000-0000-000000000000}\"\r\n");
  ASSERT_EQ(Unregister(), S_OK);
  EXPECT_EQ(Value(kInterfaceKey), "IInstallKorvex");
  EXPECT_FALSE(Exists(kLibraryKey));
}

TEST_F(TypeLibRegistration, UnregisteringAnotherPlatformOrLocaleFails) {
  ASSERT_EQ(Register(), S_OK);
  EXPECT_EQ(Unregister(0, kOtherKind), TYPE_E_REGISTRYACCESS);
  EXPECT_EQ(Unregister(0x409), TYPE_E_REGISTRYACCESS);
  EXPECT_EQ(Value(kInterfaceKey), "IInstallKorvex");
}

TEST_F(TypeLibRegistration, RegistryFailureIsRegistryAccess) {
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Interface", true);
  EXPECT_EQ(Register(), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibRegistration, LoadRegTypeLibFindsTheRegisteredFile) {
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(kProductLibid, 1, 0, 0, lib.put()),
            TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(lib.get(), nullptr);
  ASSERT_EQ(Register(), S_OK);
  ASSERT_EQ(LoadRegTypeLib(kProductLibid, 1, 0, 0x409, lib.put()), S_OK);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(kIInstallKorvex, info.put()), S_OK);
  EXPECT_EQ(LoadRegTypeLib(kProductLibid, 2, 0, 0, lib.put()),
            TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(LoadRegTypeLib(kProductLibid, 1, 1, 0, lib.put()),
            TYPE_E_LIBNOTREGISTERED);
}

TEST_F(TypeLibRegistration, VersionLookupPrefersExactThenHighestMinor) {
  Import(std::string("[HKEY_CLASSES_ROOT\\") + kLibraryKey +
         "\\1.0\\0\\win64]\r\n@=\"/v/1.0\"\r\n\r\n[HKEY_CLASSES_ROOT\\" +
         kLibraryKey +
         "\\1.3\\0\\win64]\r\n@=\"/v/1.3\"\r\n\r\n[HKEY_CLASSES_ROOT\\" +
         kLibraryKey +
         "\\1.a\\0\\win64]\r\n@=\"/v/1.10\"\r\n\r\n[HKEY_CLASSES_ROOT\\" +
         kLibraryKey + "\\2.0\\0\\win64]\r\n@=\"/v/2.0\"\r\n");
  EXPECT_EQ(QueryPath(1, 0, 0), "/v/1.0");
  EXPECT_EQ(QueryPath(1, 3, 0), "/v/1.3");
  EXPECT_EQ(QueryPath(1, 1, 0), "/v/1.10");
  EXPECT_EQ(QueryPath(1, 11, 0, TYPE_E_LIBNOTREGISTERED), "");
  EXPECT_EQ(QueryPath(3, 0, 0, TYPE_E_LIBNOTREGISTERED), "");
}

// Within a locale, this build's platform key first, then the other.
TEST_F(TypeLibRegistration, LocaleLookupFallsBackToLanguageThenNeutral) {
  Import(std::string("[HKEY_CLASSES_ROOT\\") + kVersionKey + "\\407\\" +
         kOtherPlatform + "]\r\n@=\"/l/407\"\r\n\r\n[HKEY_CLASSES_ROOT\\" +
         kVersionKey + "\\9\\" + kOwnPlatform +
         "]\r\n@=\"/l/9\"\r\n\r\n[HKEY_CLASSES_ROOT\\" + kVersionKey + "\\9\\" +
         kOtherPlatform + "]\r\n@=\"/l/9-other\"\r\n");
  EXPECT_EQ(QueryPath(1, 0, 0x407), "/l/407");  // the other when no own
  EXPECT_EQ(QueryPath(1, 0, 0x809), "/l/9");    // this build's first
  EXPECT_EQ(QueryPath(1, 0, 0x40C, TYPE_E_LIBNOTREGISTERED), "");
  Import(std::string("[HKEY_CLASSES_ROOT\\") + kVersionKey + "\\0\\" +
         kOwnPlatform + "]\r\n@=\"/l/0\"\r\n");
  EXPECT_EQ(QueryPath(1, 0, 0x40C), "/l/0");
  EXPECT_EQ(QueryPath(1, 0, 0x409), "/l/9");
}

TEST_F(TypeLibRegistration, LoadTypeLibExRegistersWhenAsked) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLibEx(Wide(m_path).c_str(), REGKIND_NONE, lib.put()), S_OK);
  ASSERT_EQ(LoadTypeLib(Wide(m_path).c_str(), lib.put()), S_OK);
  EXPECT_FALSE(Exists(kLibraryKey));  // a full path does not register
  ASSERT_EQ(LoadTypeLibEx(Wide(m_path).c_str(), REGKIND_REGISTER, lib.put()),
            S_OK);
  EXPECT_EQ(Value(std::string(kVersionKey) + "\\0\\" + kOwnPlatform), m_path);
}

TEST_F(TypeLibRegistration, BareNameRegistersUnderTheFullPath) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(QX_TYPELIB_DIR), 0);
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLib(u"qxKorvex.tlb", lib.put());
  ASSERT_EQ(chdir(previous), 0);
  ASSERT_EQ(hr, S_OK);
  char resolved[4096];
  ASSERT_NE(realpath(m_path.c_str(), resolved), nullptr);
  EXPECT_EQ(Value(std::string(kVersionKey) + "\\0\\" + kOwnPlatform), resolved);
}

// The product unregisters through the loader, by the system library's name.
TEST_F(TypeLibRegistration, UnRegisterTypeLibIsAnExportOfOleaut32) {
  HMODULE oleaut32 = LoadLibraryA("oleaut32.dll");
  ASSERT_NE(oleaut32, nullptr);
  typedef HRESULT(WINAPI * Unregister)(REFGUID, WORD, WORD, LCID, SYSKIND);
  auto unregister = reinterpret_cast<Unregister>(
      reinterpret_cast<void*>(GetProcAddress(oleaut32, "UnRegisterTypeLib")));
  ASSERT_NE(unregister, nullptr);
  ASSERT_EQ(Register(), S_OK);
  EXPECT_EQ(unregister(kProductLibid, 1, 0, 0, kOwnKind), S_OK);
  EXPECT_FALSE(Exists(kLibraryKey));
  FreeLibrary(oleaut32);
}

// Imports go through the registry first: a stdole2 registered at a file
// without IDispatch leaves the base unresolved; one registered at a missing
// file gives way to the built-in one.
TEST_F(TypeLibRegistration, ImportsResolveThroughTheRegistryFirst) {
  const std::string stdole2Key =
      "[HKEY_CLASSES_ROOT\\TypeLib\\{00020430-0000-0000-C000-000000000046}"
      "\\2.0\\0\\" +
      kOwnPlatform + "]\r\n@=\"";
  Import(stdole2Key + TypelibPath("typelib_dispinterface.tlb") + "\"\r\n");
  ComPtr<ITypeInfo> dispatch;
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(m_lib->GetTypeInfoOfGuid(kIInstallKorvex, dispatch.put()), S_OK);
  TYPEATTR* attr = nullptr;
  EXPECT_EQ(dispatch->GetTypeAttr(&attr), TYPE_E_ELEMENTNOTFOUND);
  m_lib.reset();
  dispatch.reset();

  Import(stdole2Key + "/nowhere/stdole2.tlb\"\r\n");
  ASSERT_EQ(LoadFile(m_path, m_lib.put()), S_OK);
  ASSERT_EQ(m_lib->GetTypeInfoOfGuid(kIInstallKorvex, dispatch.put()), S_OK);
  ASSERT_EQ(Follow(dispatch.get(), 0, base.put()), S_OK);
  EXPECT_EQ(AttrOf(base.get()).guid, IID_IDispatch);
}

TEST_F(TypeLibRegistration, BuiltInStdole2AnswersLoadRegTypeLib) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadRegTypeLib(kStdole2Libid, 2, 0, 0, lib.put()), S_OK);
  ComPtr<ITypeInfo> dispatch;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_IDispatch, dispatch.put()), S_OK);
  EXPECT_EQ(LoadRegTypeLib(kStdole2Libid, 3, 0, 0, lib.put()),
            TYPE_E_LIBNOTREGISTERED);
  BSTR path = nullptr;
  EXPECT_EQ(QueryPathOfRegTypeLib(kStdole2Libid, 2, 0, 0, &path),
            TYPE_E_LIBNOTREGISTERED);
}

}  // namespace
