// The built library driven as a host drives it: loaded through the platform
// loader, activated through its exports, unloaded with every heap gone.
#include <objbase.h>
#include <oleauto.h>

#include "installer/iinstall_korvex.h"
#include "installer/korvex_standin.h"
#include "support/platform_fixture.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID,
                                                        LPVOID*);
typedef HRESULT(STDAPICALLTYPE* CanUnloadNowFunction)(void);

// An export, as the function type the caller knows it by.
template <typename Function>
Function Export(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

class LibraryLifetimeTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    m_heapsBefore = qxplatform::LiveHeaps();
    m_blocksBefore = qxplatform::LiveHeapBlocks();
    m_taskBlocksBefore = qxplatform::LiveTaskBlocks();
    m_registryHandlesBefore = qxplatform::OpenRegistryHandles();
  }
  void TearDown() override {
    if (m_library != nullptr) Unload();
    EXPECT_EQ(qxplatform::LiveTaskBlocks(), m_taskBlocksBefore)
        << "task blocks and BSTRs";
    EXPECT_EQ(qxplatform::OpenRegistryHandles(), m_registryHandlesBefore)
        << "registry keys";
    PlatformTest::TearDown();
  }
  void Load() {
    m_library = LoadLibraryA(QX_LIBRARY_PATH);
    ASSERT_NE(m_library, nullptr) << "error " << GetLastError();
    m_getClassObject =
        Export<GetClassObjectFunction>(m_library, "DllGetClassObject");
    m_canUnloadNow = Export<CanUnloadNowFunction>(m_library, "DllCanUnloadNow");
    ASSERT_NE(m_getClassObject, nullptr);
    ASSERT_NE(m_canUnloadNow, nullptr);
  }
  // A host unloads only a library that agrees to go: one that does not, at
  // the end of a test, kept an object, a factory reference or a lock the
  // test let go of.
  void Unload(bool unloadable = true) {
    if (unloadable) {
      EXPECT_EQ(m_canUnloadNow(), S_OK)
          << "an object, a factory reference or a server lock is still alive";
    }
    EXPECT_TRUE(FreeLibrary(m_library));
    m_library = nullptr;
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
  }
  IClassFactory* Factory() {
    void* out = nullptr;
    EXPECT_EQ(m_getClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out),
              S_OK);
    return static_cast<IClassFactory*>(out);
  }

  HMODULE m_library = nullptr;
  GetClassObjectFunction m_getClassObject = nullptr;
  CanUnloadNowFunction m_canUnloadNow = nullptr;
  long m_heapsBefore = 0;
  long m_blocksBefore = 0;
  long m_taskBlocksBefore = 0;
  long m_registryHandlesBefore = 0;
};

TEST_F(LibraryLifetimeTest, LoadCreatesItsHeapAndUnloadGivesItBack) {
  Load();
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 1);
  EXPECT_EQ(m_canUnloadNow(), S_OK);
  Unload();
}

TEST_F(LibraryLifetimeTest, ExportsOnlyTheServerFunctions) {
  Load();
  EXPECT_EQ(GetProcAddress(m_library, "ModuleAlloc"), nullptr);
  EXPECT_EQ(GetProcAddress(m_library, "CurrentModule"), nullptr);
}

TEST_F(LibraryLifetimeTest, ActivateCallInstallReleaseAndUnload) {
  InstallProviderEntry();
  Load();
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  IInstallKorvex* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IInstallKorvex,
                                    reinterpret_cast<void**>(&object)),
            S_OK);
  EXPECT_EQ(factory->Release(), 1u);
  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(m_canUnloadNow(), S_FALSE);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(m_canUnloadNow(), S_OK);
  Unload();
}

TEST_F(LibraryLifetimeTest, MissingProviderStartsTheStandInInstaller) {
  KorvexStandIn standIn;
  standIn.Write(/*executable=*/true);
  Load();
  IClassFactory* factory = Factory();
  IInstallKorvex* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IInstallKorvex,
                                    reinterpret_cast<void**>(&object)),
            S_OK);
  factory->Release();
  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  EXPECT_EQ(status, 1);
  object->Release();
  Unload();
  EXPECT_TRUE(standIn.WaitForMarkerLines(2));
}

TEST_F(LibraryLifetimeTest, UnloadWithObjectsAliveDestroysEveryHeap) {
  InstallProviderEntry();
  qxplatform::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
  qxplatform::SetProcessorCount(2);
  Load();
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 5);
  IClassFactory* factory = Factory();
  void* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &object), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(m_canUnloadNow(), S_FALSE);
  Unload(/*unloadable=*/false);
}
