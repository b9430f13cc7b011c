// What a host does with InstallKorvex once the library has registered
// itself: it finds the class by its ProgID, activates it through the COM
// runtime, asks its IObjectSafety before script may have it, calls install
// by name through IDispatch, aggregates it, shares it between threads, and
// lets CoFreeUnusedLibraries unload the library once the last object is
// gone. The library is the one this build drives (libqxKorvex.so, or in the
// 32-bit build the Windows DLL run by the platform's loader), and every
// expectation holds for both. A Windows image's calls into the platform are
// checked for a callee that leaves the stack unbalanced.
#include <objbase.h>
#include <objsafe.h>
#include <oleauto.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/holders.h"
#include "installer/iinstall_korvex.h"
#include "installer/korvex_standin.h"
#include "support/platform_fixture.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* ServerFunction)(void);
// A vtable slot called as install is declared.
typedef HRESULT(STDMETHODCALLTYPE* InstallSlot)(IInstallKorvex*, LONG*);

// ShellExecuteA results the launch is forced to, so that nothing starts
// and each gives a status of its own: "no association" and success.
constexpr INT_PTR kNoAssociation = 31;
constexpr LONG kNoAssociationStatus = -31;
constexpr INT_PTR kLaunched = 42;

const IID& UnknownToTheObject() { return IID_IClassFactory; }

std::string LibraryFileName() {
  return std::filesystem::path(QX_LIBRARY_PATH).filename().string();
}

// The library as the loader knows it by file name; null when unloaded.
HMODULE LoadedLibrary() { return GetModuleHandleA(LibraryFileName().c_str()); }

// The class id a page's script asks for by name.
CLSID ClassOfProgId() {
  CLSID clsid = {};
  EXPECT_EQ(CLSIDFromProgID(u"QxKorvex.InstallKorvex", &clsid), S_OK);
  return clsid;
}

// Activates the class for iid as a host activates a page's object.
template <typename Interface>
ComPtr<Interface> Activate(REFIID iid) {
  ComPtr<Interface> object;
  EXPECT_EQ(CoCreateInstance(ClassOfProgId(), /*pUnkOuter=*/nullptr,
                             CLSCTX_INPROC_SERVER, iid, object.put_void()),
            S_OK);
  return object;
}

DISPID IdOf(IDispatch* object, const char16_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 12345;
  const HRESULT hr =
      object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return hr == S_OK ? id : hr;
}

HRESULT InvokeInstall(IDispatch* object, DISPID id, WORD flags,
                      VARIANT* result) {
  DISPPARAMS noArguments = {/*rgvarg=*/nullptr, /*rgdispidNamedArgs=*/nullptr,
                            /*cArgs=*/0, /*cNamedArgs=*/0};
  EXCEPINFO exception = {};
  UINT argumentError = 0;
  VariantInit(result);
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &noArguments,
                        result, &exception, &argumentError);
}

// install's status through IDispatch as a host's proxy calls a method:
// by the id its name gives.
LONG StatusByName(IDispatch* object) {
  const DISPID id = IdOf(object, u"install");
  EXPECT_EQ(id, kDispidInstall);
  VARIANT result;
  EXPECT_EQ(InvokeInstall(object, id, DISPATCH_METHOD, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  return result.vt == VT_I4 ? result.lVal : 12345;
}

// An object that aggregates InstallKorvex as a host's wrapper does: it is
// the identity, answers IUnknown itself and passes the inner object's
// interfaces on to the inner unknown it holds. It lives on the test's
// stack, so its count only shows where AddRef and Release went.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualGUID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (m_inner != nullptr && (IsEqualGUID(iid, IID_IInstallKorvex) ||
                               IsEqualGUID(iid, IID_IDispatch) ||
                               IsEqualGUID(iid, IID_IObjectSafety)))
      return m_inner->QueryInterface(iid, out);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(++m_references);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    return static_cast<ULONG>(--m_references);
  }

  void Hold(IUnknown* inner) { m_inner = inner; }
  LONG References() const { return m_references; }

 private:
  std::atomic<LONG> m_references{1};  // the test's own
  IUnknown* m_inner = nullptr;
};

}  // namespace

class ObjectThroughComTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    // Before the library is first loaded: stubs are made for images loaded
    // from now on. A native library has no such imports and leaves the
    // count as it is.
    qxplatform::CheckImportStacks(true);
    m_mismatchesBefore = qxplatform::ImportStackMismatches();
    m_heapsBefore = qxplatform::LiveHeaps();
    m_heapBlocksBefore = qxplatform::LiveHeapBlocks();
    m_taskBlocksBefore = qxplatform::LiveTaskBlocks();
    m_registryHandlesBefore = qxplatform::OpenRegistryHandles();
    ASSERT_EQ(CoInitialize(/*pvReserved=*/nullptr), S_OK);
    m_comInitialized = true;
    RegisterLibrary();
  }
  void TearDown() override {
    // As a host does between pages: the runtime asks the library whether it
    // can go, and it must, every object and lock being gone. Checked before
    // the last uninitialisation, which frees the library whatever it says
    // and would take a leaked object's heap, and the leak, with it.
    CoFreeUnusedLibraries();
    EXPECT_EQ(LoadedLibrary(), nullptr)
        << "an object, a class object or a server lock outlived the test";
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore) << "heaps";
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_heapBlocksBefore)
        << "heap blocks";
    EXPECT_EQ(qxplatform::LiveTaskBlocks(), m_taskBlocksBefore)
        << "task blocks and BSTRs";
    EXPECT_EQ(qxplatform::OpenRegistryHandles(), m_registryHandlesBefore)
        << "registry keys";
    if (m_comInitialized) CoUninitialize();
    EXPECT_EQ(LoadedLibrary(), nullptr);
    EXPECT_EQ(qxplatform::ImportStackMismatches(), m_mismatchesBefore)
        << "a call from the library into the platform left the stack "
           "unbalanced";
    PlatformTest::TearDown();
  }

  // As regsvr32 does: the library registers itself, then is let go.
  static void RegisterLibrary() {
    HMODULE library = LoadLibraryA(QX_LIBRARY_PATH);
    ASSERT_NE(library, nullptr) << "error " << GetLastError();
    auto registerServer = reinterpret_cast<ServerFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllRegisterServer")));
    ASSERT_NE(registerServer, nullptr);
    EXPECT_EQ(registerServer(), S_OK);
    EXPECT_TRUE(FreeLibrary(library));
  }

  // Forgets the launch an object's creation made; launches stay forced and
  // imports checked.
  static void ForgetLaunches() {
    qxplatform::ResetControls();
    qxplatform::CheckImportStacks(true);
    qxplatform::ForceShellExecuteResult(kLaunched);
  }

  // What the library holds beside its heaps' own bookkeeping, measured
  // while it is loaded but serves no object.
  struct Holdings {
    long heapBlocks;
    long taskBlocks;
    long registryHandles;
  };
  static Holdings Now() {
    return {qxplatform::LiveHeapBlocks(), qxplatform::LiveTaskBlocks(),
            qxplatform::OpenRegistryHandles()};
  }
  static void ExpectSame(const Holdings& now, const Holdings& before) {
    EXPECT_EQ(now.heapBlocks, before.heapBlocks) << "module heap blocks";
    EXPECT_EQ(now.taskBlocks, before.taskBlocks) << "task blocks and BSTRs";
    EXPECT_EQ(now.registryHandles, before.registryHandles) << "registry keys";
  }

  long m_mismatchesBefore = 0;
  long m_heapsBefore = 0;
  long m_heapBlocksBefore = 0;
  long m_taskBlocksBefore = 0;
  long m_registryHandlesBefore = 0;
  bool m_comInitialized = false;
};

// ---- install
// ------------------------------------------------------------------

TEST_F(ObjectThroughComTest, InstallStartsTheInstallerUntilTheProviderIsThere) {
  KorvexStandIn standIn;
  standIn.Write(/*executable=*/true);
  const long launchesBefore = qxplatform::ShellLaunchCount();
  ComPtr<IDispatch> object = Activate<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(object);
  // Creation itself probes, and starts the installer once.
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launchesBefore + 1);

  EXPECT_EQ(StatusByName(object.get()), 1);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launchesBefore + 2);
  const qxplatform::LaunchRecord launch = qxplatform::LastLaunch();
  EXPECT_EQ(launch.verb.value_or("<none>"), "open");
  EXPECT_EQ(launch.file.value_or("<none>"), "Korvex.exe");
  EXPECT_EQ(launch.showCommand, SW_SHOWNORMAL);

  InstallProviderEntry();
  EXPECT_EQ(StatusByName(object.get()), 0);
  ComPtr<IInstallKorvex> direct;
  ASSERT_EQ(object->QueryInterface(IID_IInstallKorvex, direct.put_void()),
            S_OK);
  LONG status = 99;
  EXPECT_EQ(direct->install(&status), S_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launchesBefore + 2);
  EXPECT_TRUE(standIn.WaitForMarkerLines(2));
}

TEST_F(ObjectThroughComTest, AFailedLaunchComesBackAsTheNegatedShellError) {
  qxplatform::ForceShellExecuteResult(kNoAssociation);
  ComPtr<IDispatch> object = Activate<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(object);
  EXPECT_EQ(StatusByName(object.get()), kNoAssociationStatus);
  qxplatform::ForceShellExecuteResult(2);
  EXPECT_EQ(StatusByName(object.get()), -2);
  // A launch that reports no result at all ran out of resources.
  qxplatform::ForceShellExecuteResult(0);
  EXPECT_EQ(StatusByName(object.get()), -1);
}

TEST_F(ObjectThroughComTest, NullStatusPointerIsRefusedBeforeAnyLaunch) {
  qxplatform::ForceShellExecuteResult(kLaunched);
  ComPtr<IInstallKorvex> object = Activate<IInstallKorvex>(IID_IInstallKorvex);
  ASSERT_TRUE(object);
  ForgetLaunches();
  EXPECT_EQ(object->install(nullptr), E_POINTER);
  EXPECT_FALSE(qxplatform::LastLaunch().made);
}

// ---- dispatch
// -------------------------------------------------------------------

TEST_F(ObjectThroughComTest, InstallIsCalledByNameWithItsStatusAsTheResult) {
  qxplatform::ForceShellExecuteResult(kNoAssociation);
  ComPtr<IDispatch> object = Activate<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(object);
  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);

  EXPECT_EQ(IdOf(object.get(), u"install"), kDispidInstall);
  // Names are not case-sensitive, as a VBScript host spells them.
  EXPECT_EQ(IdOf(object.get(), u"INSTALL"), kDispidInstall);

  VARIANT result;
  ASSERT_EQ(
      InvokeInstall(object.get(), kDispidInstall, DISPATCH_METHOD, &result),
      S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, kNoAssociationStatus);
  // A script host that uses the result asks for a method or a property.
  ASSERT_EQ(InvokeInstall(object.get(), kDispidInstall,
                          DISPATCH_METHOD | DISPATCH_PROPERTYGET, &result),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, kNoAssociationStatus);
}

TEST_F(ObjectThroughComTest, UnknownNamesAndMembersAreRefused) {
  qxplatform::ForceShellExecuteResult(kLaunched);
  ComPtr<IDispatch> object = Activate<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(object);
  ForgetLaunches();

  LPOLESTR names[] = {const_cast<LPOLESTR>(u"uninstall")};
  DISPID id = 12345;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);

  VARIANT result;
  for (DISPID wrong : {DISPID(2), DISPID_VALUE, DISPID(-12345)}) {
    EXPECT_EQ(InvokeInstall(object.get(), wrong, DISPATCH_METHOD, &result),
              DISP_E_MEMBERNOTFOUND)
        << wrong;
    EXPECT_EQ(result.vt, VT_EMPTY) << wrong;
  }
  // A property read does not call a method.
  EXPECT_EQ(InvokeInstall(object.get(), kDispidInstall, DISPATCH_PROPERTYGET,
                          &result),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_FALSE(qxplatform::LastLaunch().made);
}

// What a careless host may pass: a null name, or no name or id array with
// a count above zero. The object answers as its type information does.
TEST_F(ObjectThroughComTest, NullNamesAreRefusedAsTheTypeInformationRefuses) {
  qxplatform::ForceShellExecuteResult(kLaunched);
  ComPtr<IDispatch> object = Activate<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(object);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  LPOLESTR none[] = {nullptr};
  LPOLESTR install[] = {const_cast<LPOLESTR>(u"install")};
  DISPID id = 12345;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, none, 1, LOCALE_USER_DEFAULT, &id),
            E_INVALIDARG);
  EXPECT_EQ(info->GetIDsOfNames(none, 1, &id), E_INVALIDARG);
  EXPECT_EQ(
      object->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, &id),
      E_INVALIDARG);
  EXPECT_EQ(
      object->GetIDsOfNames(IID_NULL, install, 1, LOCALE_USER_DEFAULT, nullptr),
      E_INVALIDARG);
  // The object goes on serving.
  EXPECT_EQ(IdOf(object.get(), u"install"), kDispidInstall);
}

TEST_F(ObjectThroughComTest, TypeInformationLeadsToTheVtableSlotOfInstall) {
  qxplatform::ForceShellExecuteResult(kNoAssociation);
  ComPtr<IInstallKorvex> object = Activate<IInstallKorvex>(IID_IInstallKorvex);
  ASSERT_TRUE(object);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  ASSERT_TRUE(info);
  // The dispatch view of the dual interface, as a dispatch client gets it.
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IInstallKorvex));
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  // Dual, automation-compatible and dispatchable; nothing else.
  EXPECT_EQ(attr->wTypeFlags,
            TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  const WORD functions = attr->cFuncs;
  info->ReleaseTypeAttr(attr);

  // The type library is the one the library carries, made for a system
  // whose pointers are this process's, since the library runs in it.
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(lib.put(), &index), S_OK);
  TLIBATTR* libAttr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
  EXPECT_TRUE(IsEqualGUID(libAttr->guid, LIBID_QXKORVEXLib));
  EXPECT_EQ(libAttr->syskind, sizeof(void*) == 4 ? SYS_WIN32 : SYS_WIN64);
  lib->ReleaseTLibAttr(libAttr);

  // install follows IDispatch's seven slots of that system's pointers.
  SHORT offset = -1;
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &desc), S_OK);
    if (desc->memid == kDispidInstall) {
      EXPECT_EQ(offset, -1) << "install is described twice";
      offset = desc->oVft;
      EXPECT_EQ(desc->invkind, INVOKE_FUNC);
      EXPECT_EQ(desc->cParams, 0) << "the status is the dispatch result";
      EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_I4);
    }
    info->ReleaseFuncDesc(desc);
  }
  ASSERT_EQ(offset, static_cast<SHORT>(7 * sizeof(void*)));

  // The object's vtable holds install at that offset.
  void** slots = *reinterpret_cast<void***>(object.get());
  const InstallSlot install =
      reinterpret_cast<InstallSlot>(slots[offset / sizeof(void*)]);
  LONG status = 99;
  EXPECT_EQ(install(object.get(), &status), S_OK);
  EXPECT_EQ(status, kNoAssociationStatus);
}

// ---- object safety
// ------------------------------------------------------------

TEST_F(ObjectThroughComTest, SafetyForScriptIsOfferedForWhatTheObjectHas) {
  qxplatform::ForceShellExecuteResult(kLaunched);
  ComPtr<IDispatch> object = Activate<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(object);
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety, safety.put_void()), S_OK);
  constexpr DWORD kBoth =
      INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

  DWORD supported = 99;
  DWORD enabled = 99;
  EXPECT_EQ(
      safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled),
      S_OK);
  EXPECT_EQ(supported, kBoth);
  EXPECT_EQ(enabled, 0u);

  // What a browser asks before a page with <param>s may script the object.
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, kBoth, kBoth),
            S_OK);
  EXPECT_EQ(
      safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled),
      S_OK);
  EXPECT_EQ(enabled, kBoth);
  // Only the options in the mask change.
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(
                IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_DATA, 0),
            S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IInstallKorvex, &supported,
                                              &enabled),
            S_OK);
  EXPECT_EQ(supported, kBoth);
  EXPECT_EQ(enabled, static_cast<DWORD>(INTERFACESAFE_FOR_UNTRUSTED_CALLER));
  // An option it does not support is refused and changes nothing.
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(
                IID_IDispatch, INTERFACE_USES_DISPEX, INTERFACE_USES_DISPEX),
            E_FAIL);
  EXPECT_EQ(
      safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled),
      S_OK);
  EXPECT_EQ(enabled, static_cast<DWORD>(INTERFACESAFE_FOR_UNTRUSTED_CALLER));

  // Once declared safe it is scripted as before.
  EXPECT_EQ(StatusByName(object.get()), 1);

  // A second object starts with nothing enabled.
  ComPtr<IObjectSafety> other = Activate<IObjectSafety>(IID_IObjectSafety);
  ASSERT_TRUE(other);
  EXPECT_EQ(
      other->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled),
      S_OK);
  EXPECT_EQ(enabled, 0u);
}

TEST_F(ObjectThroughComTest, SafetyForAnInterfaceTheObjectLacksIsRefused) {
  qxplatform::ForceShellExecuteResult(kLaunched);
  ComPtr<IObjectSafety> safety = Activate<IObjectSafety>(IID_IObjectSafety);
  ASSERT_TRUE(safety);
  DWORD supported = 99;
  DWORD enabled = 99;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(UnknownToTheObject(), &supported,
                                              &enabled),
            E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(
                UnknownToTheObject(), INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                INTERFACESAFE_FOR_UNTRUSTED_CALLER),
            E_NOINTERFACE);
  // The refusal enabled nothing for the interfaces it has.
  EXPECT_EQ(
      safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled),
      S_OK);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled),
            E_POINTER);
}

// ---- aggregation
// ----------------------------------------------------------------

TEST_F(ObjectThroughComTest, AggregatedObjectCountsOnItsOuterObject) {
  qxplatform::ForceShellExecuteResult(kNoAssociation);
  Outer outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ(CoCreateInstance(ClassOfProgId(), &outer, CLSCTX_INPROC_SERVER,
                             IID_IUnknown, reinterpret_cast<void**>(&inner)),
            S_OK);
  ASSERT_NE(inner, nullptr);
  outer.Hold(inner);
  // The inner object holds no reference on its outer one.
  EXPECT_EQ(outer.References(), 1);
  // Its own unknown counts itself.
  EXPECT_EQ(inner->AddRef(), 2u);
  EXPECT_EQ(inner->Release(), 1u);
  EXPECT_EQ(outer.References(), 1);

  IInstallKorvex* object = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IInstallKorvex,
                                  reinterpret_cast<void**>(&object)),
            S_OK);
  EXPECT_EQ(outer.References(), 2);
  EXPECT_EQ(object->AddRef(), 3u);
  EXPECT_EQ(outer.References(), 3);
  EXPECT_EQ(object->Release(), 2u);
  // Its identity is the outer object's.
  IUnknown* identity = nullptr;
  ASSERT_EQ(
      object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)),
      S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();

  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  EXPECT_EQ(status, kNoAssociationStatus);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(outer.QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  EXPECT_EQ(StatusByName(dispatch.get()), kNoAssociationStatus);
  dispatch.reset();

  // Safety is asked of the whole object: of its outer one, which answers.
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety, safety.put_void()), S_OK);
  DWORD supported = 0;
  DWORD enabled = 0;
  EXPECT_EQ(
      safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled),
      S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(UnknownToTheObject(), &supported,
                                              &enabled),
            E_NOINTERFACE);
  safety.reset();

  EXPECT_EQ(object->Release(), 1u);
  EXPECT_EQ(outer.References(), 1);
  outer.Hold(nullptr);
  EXPECT_EQ(inner->Release(), 0u);
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedLibrary(), nullptr) << "the inner object is still alive";
}

TEST_F(ObjectThroughComTest, AnOuterObjectMayOnlyAskForTheInnerUnknown) {
  qxplatform::ForceShellExecuteResult(kLaunched);
  Outer outer;
  for (const IID* iid :
       {&IID_IInstallKorvex, &IID_IDispatch, &IID_IObjectSafety}) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(ClassOfProgId(), &outer, CLSCTX_INPROC_SERVER,
                               *iid, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(outer.References(), 1);
  // No object was made: making one probes for the provider at once.
  EXPECT_FALSE(qxplatform::LastLaunch().made);
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedLibrary(), nullptr);
}

// ---- unloading
// ------------------------------------------------------------------

TEST_F(ObjectThroughComTest, LibraryIsUnloadedOnlyOnceEveryObjectIsGone) {
  InstallProviderEntry();
  // Registration let the library go again.
  EXPECT_EQ(LoadedLibrary(), nullptr);
  ComPtr<IDispatch> first = Activate<IDispatch>(IID_IDispatch);
  ComPtr<IInstallKorvex> second = Activate<IInstallKorvex>(IID_IInstallKorvex);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(StatusByName(first.get()), 0);
  EXPECT_NE(LoadedLibrary(), nullptr);
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 1);

  CoFreeUnusedLibraries();
  EXPECT_NE(LoadedLibrary(), nullptr);
  first.reset();
  CoFreeUnusedLibraries();
  ASSERT_NE(LoadedLibrary(), nullptr) << "unloaded under a live object";
  LONG status = 99;
  EXPECT_EQ(second->install(&status), S_OK);
  EXPECT_EQ(status, 0);
  ComPtr<IDispatch> viaSecond;
  ASSERT_EQ(second->QueryInterface(IID_IDispatch, viaSecond.put_void()), S_OK);
  EXPECT_EQ(StatusByName(viaSecond.get()), 0);
  viaSecond.reset();

  second.reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedLibrary(), nullptr);
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_heapBlocksBefore);

  // Activated again, a fresh load of the library serves as the first did.
  ComPtr<IDispatch> again = Activate<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(again);
  EXPECT_EQ(StatusByName(again.get()), 0);
  again.reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedLibrary(), nullptr);
}

TEST_F(ObjectThroughComTest, HeldClassObjectAndServerLockKeepTheLibrary) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(ClassOfProgId(), CLSCTX_INPROC_SERVER,
                             /*pServerInfo=*/nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  CoFreeUnusedLibraries();
  EXPECT_NE(LoadedLibrary(), nullptr) << "unloaded under a held class object";
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  ASSERT_NE(LoadedLibrary(), nullptr) << "unloaded under a server lock";

  ASSERT_EQ(CoGetClassObject(ClassOfProgId(), CLSCTX_INPROC_SERVER,
                             /*pServerInfo=*/nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedLibrary(), nullptr);
}

// ---- threads
// --------------------------------------------------------------------

namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 100;

// What one thread saw: calls whose status or result type was wrong, and
// the first failing HRESULT.
struct ThreadOutcome {
  int wrong = 0;
  HRESULT failure = S_OK;
};

void Check(HRESULT hr, const VARIANT& result, LONG expected,
           ThreadOutcome* outcome) {
  if (FAILED(hr)) {
    if (outcome->failure == S_OK) outcome->failure = hr;
    ++outcome->wrong;
  } else if (result.vt != VT_I4 || result.lVal != expected) {
    ++outcome->wrong;
  }
}

// A thread of a host with a page of its own: it activates its own object,
// looks install up on it and on the shared one, waits for the others, then
// calls both in turn.
void CallFromThread(IDispatch* shared, LONG expected, std::atomic<int>* ready,
                    ThreadOutcome* outcome) {
  const HRESULT init = CoInitialize(/*pvReserved=*/nullptr);
  if (FAILED(init)) {
    outcome->failure = init;
    ready->fetch_add(1);
    return;
  }
  ComPtr<IDispatch> own;
  HRESULT hr =
      CoCreateInstance(CLSID_InstallKorvex, /*pUnkOuter=*/nullptr,
                       CLSCTX_INPROC_SERVER, IID_IDispatch, own.put_void());
  ready->fetch_add(1);
  while (ready->load() < kThreads) std::this_thread::yield();
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"install")};
  DISPID ownId = 0;
  DISPID sharedId = 0;
  if (SUCCEEDED(hr))
    hr = own->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &ownId);
  if (SUCCEEDED(hr))
    hr = shared->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT,
                               &sharedId);
  if (SUCCEEDED(hr) && (ownId != kDispidInstall || sharedId != kDispidInstall))
    hr = E_UNEXPECTED;
  for (int call = 0; SUCCEEDED(hr) && call < kCallsPerThread; ++call) {
    VARIANT result;
    Check(InvokeInstall(own.get(), ownId, DISPATCH_METHOD, &result), result,
          expected, outcome);
    Check(InvokeInstall(shared, sharedId, DISPATCH_METHOD, &result), result,
          expected, outcome);
  }
  if (FAILED(hr)) outcome->failure = hr;
  own.reset();
  CoUninitialize();
}

}  // namespace

class ObjectThroughComThreadsTest : public ObjectThroughComTest {
 protected:
  // Eight threads at once, each on its own object and all on one shared
  // object, expecting status from every call.
  void RunRound(IDispatch* shared, LONG expected) {
    std::atomic<int> ready{0};
    std::vector<ThreadOutcome> outcomes(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
      threads.emplace_back(CallFromThread, shared, expected, &ready,
                           &outcomes[i]);
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < kThreads; ++i) {
      EXPECT_EQ(outcomes[i].failure, S_OK) << "thread " << i;
      EXPECT_EQ(outcomes[i].wrong, 0) << "thread " << i;
    }
  }

  // The first round also races the one-time load of the type information;
  // the second must leave the library holding what the first left.
  void RunTwoRounds() {
    qxplatform::ForceShellExecuteResult(kNoAssociation);
    ComPtr<IDispatch> shared = Activate<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(shared);
    RunRound(shared.get(), kNoAssociationStatus);
    const Holdings afterFirst = Now();

    InstallProviderEntry();
    RunRound(shared.get(), 0);
    ExpectSame(Now(), afterFirst);

    shared.reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(LoadedLibrary(), nullptr);
  }
};

TEST_F(ObjectThroughComThreadsTest, EightThreadsCallInstallAtOnce) {
  RunTwoRounds();
}

TEST_F(ObjectThroughComThreadsTest,
       EightThreadsCallInstallAtOnceOverTheExtraHeapsOfAnOlderSystem) {
  // The library rotates its allocations over several heaps here, so the
  // threads allocate and free in different heaps at once.
  qxplatform::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
  qxplatform::SetProcessorCount(4);
  RunTwoRounds();
}
