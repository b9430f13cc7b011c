// The COM runtime's activation: each way a registration can be unusable has
// its own status, a library that gives nothing out is not kept, and
// CoFreeUnusedLibraries frees exactly the libraries that agree to go.
#include <dlfcn.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "support/platform_fixture.h"

namespace {

constexpr char kBusyProbePath[] = QX_CLASS_PROBE_BUSY_PATH;
constexpr char kIdleProbePath[] = QX_CLASS_PROBE_IDLE_PATH;
constexpr char kNoServerPath[] = QX_LOADER_PROBE_PATH;
constexpr char kBusyClass[] = "{0B5D4E7A-3C11-4C84-9A51-6E0F6F2D0001}";
constexpr char kIdleClass[] = "{0B5D4E7A-3C11-4C84-9A51-6E0F6F2D0002}";

GUID ClassId(const char* text) {
  std::u16string wide(text, text + std::char_traits<char>::length(text));
  GUID guid{};
  EXPECT_EQ(CLSIDFromString(wide.c_str(), &guid), S_OK) << text;
  return guid;
}

bool IsMapped(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

class ComActivationTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_EQ(CoInitialize(/*pvReserved=*/nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    PlatformTest::TearDown();
  }

  static void RegisterServer(const char* clsid, const std::string& library) {
    Import(std::string("[HKEY_CLASSES_ROOT\\CLSID\\") + clsid +
           "\\InprocServer32]\r\n@=\"" + library + "\"\r\n");
  }

  // The server's path as a REG_EXPAND_SZ value, in the hex(2) form of a
  // registry file: UTF-16LE bytes, terminator included.
  static void RegisterExpandableServer(const char* clsid,
                                       const std::string& library) {
    std::string bytes;
    for (size_t i = 0; i <= library.size(); ++i) {
      char pair[8];
      snprintf(pair, sizeof(pair), "%s%02x,00", i == 0 ? "" : ",",
               static_cast<unsigned char>(i < library.size() ? library[i] : 0));
      bytes += pair;
    }
    Import(std::string("[HKEY_CLASSES_ROOT\\CLSID\\") + clsid +
           "\\InprocServer32]\r\n@=hex(2):" + bytes + "\r\n");
  }

  static HRESULT GetFactory(const char* clsid, IClassFactory** factory) {
    return CoGetClassObject(ClassId(clsid), CLSCTX_INPROC_SERVER,
                            /*pServerInfo=*/nullptr, IID_IClassFactory,
                            reinterpret_cast<void**>(factory));
  }

  static IUnknown* Create(const char* clsid) {
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(ClassId(clsid), /*pUnkOuter=*/nullptr,
                               CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    return object;
  }
};

TEST_F(ComActivationTest, UnusableRegistrationsHaveTheirOwnStatus) {
  IClassFactory* factory = reinterpret_cast<IClassFactory*>(1);
  EXPECT_EQ(GetFactory(kBusyClass, &factory), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(factory, nullptr);

  Import(std::string("[HKEY_CLASSES_ROOT\\CLSID\\") + kBusyClass +
         "\\InprocServer32]\r\n@=dword:00000001\r\n");
  EXPECT_EQ(GetFactory(kBusyClass, &factory), REGDB_E_READREGDB);

  RegisterServer(kBusyClass, "/nonexistent/libnothing.so");
  EXPECT_EQ(GetFactory(kBusyClass, &factory), CO_E_DLLNOTFOUND);

  // A library without DllGetClassObject is not left loaded.
  RegisterServer(kBusyClass, kNoServerPath);
  EXPECT_EQ(GetFactory(kBusyClass, &factory), CO_E_ERRORINDLL);
  EXPECT_EQ(factory, nullptr);
  EXPECT_FALSE(IsMapped(kNoServerPath));

  // Only in-process servers exist.
  RegisterServer(kBusyClass, kBusyProbePath);
  EXPECT_EQ(CoGetClassObject(ClassId(kBusyClass), CLSCTX_LOCAL_SERVER,
                             /*pServerInfo=*/nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(IsMapped(kBusyProbePath));
}

// An expandable server path names the library its expansion names; a
// variable that is not set stays as written, so that path names nothing.
TEST_F(ComActivationTest, ExpandableServerPathIsExpandedFromTheEnvironment) {
  const std::string path = kBusyProbePath;
  const size_t slash = path.rfind('/');
  ASSERT_NE(slash, std::string::npos);
  ASSERT_EQ(setenv("QX_CLASS_PROBE_DIR", path.substr(0, slash).c_str(), 1), 0);
  unsetenv("QX_CLASS_PROBE_UNSET");

  RegisterExpandableServer(kBusyClass,
                           "%QX_CLASS_PROBE_DIR%" + path.substr(slash));
  IUnknown* object = Create(kBusyClass);
  ASSERT_NE(object, nullptr);
  object->Release();
  EXPECT_TRUE(IsMapped(kBusyProbePath));

  RegisterExpandableServer(kIdleClass,
                           "%QX_CLASS_PROBE_UNSET%" + path.substr(slash));
  IClassFactory* factory = reinterpret_cast<IClassFactory*>(1);
  EXPECT_EQ(GetFactory(kIdleClass, &factory), CO_E_DLLNOTFOUND);
  EXPECT_EQ(factory, nullptr);
  unsetenv("QX_CLASS_PROBE_DIR");
}

TEST_F(ComActivationTest, ActivationNeedsInitialisation) {
  RegisterServer(kBusyClass, kBusyProbePath);
  CoUninitialize();
  IUnknown* object = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(CoCreateInstance(ClassId(kBusyClass), /*pUnkOuter=*/nullptr,
                             CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  EXPECT_FALSE(IsMapped(kBusyProbePath));
  ASSERT_EQ(CoInitializeEx(/*pvReserved=*/nullptr, COINIT_APARTMENTTHREADED),
            S_OK);
  EXPECT_EQ(CoInitializeEx(/*pvReserved=*/nullptr, COINIT_MULTITHREADED),
            RPC_E_CHANGED_MODE);
}

TEST_F(ComActivationTest, FreeUnusedLibrariesFreesOnlyThoseThatAgree) {
  RegisterServer(kBusyClass, kBusyProbePath);
  RegisterServer(kIdleClass, kIdleProbePath);
  IUnknown* busy = Create(kBusyClass);
  ASSERT_NE(busy, nullptr);
  // A second activation from a library already loaded adds no reference
  // that would keep it loaded later.
  Create(kIdleClass)->Release();
  Create(kIdleClass)->Release();
  ASSERT_TRUE(IsMapped(kBusyProbePath));
  ASSERT_TRUE(IsMapped(kIdleProbePath));

  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsMapped(kBusyProbePath));
  EXPECT_FALSE(IsMapped(kIdleProbePath));

  busy->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsMapped(kBusyProbePath));
}

TEST_F(ComActivationTest, LastUninitialiseFreesEveryLibrary) {
  RegisterServer(kBusyClass, kBusyProbePath);
  Create(kBusyClass)->Release();
  EXPECT_EQ(CoInitialize(/*pvReserved=*/nullptr), S_FALSE);
  CoUninitialize();
  EXPECT_TRUE(IsMapped(kBusyProbePath));
  CoUninitialize();
  EXPECT_FALSE(IsMapped(kBusyProbePath));
  ASSERT_EQ(CoInitialize(/*pvReserved=*/nullptr), S_OK);
}

}  // namespace
