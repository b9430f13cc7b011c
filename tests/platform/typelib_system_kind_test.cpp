// Type libraries made for either system kind, read in this build: their
// vtable offsets and sizes count in the pointer size of the library's own
// kind, down through the IDispatch and IUnknown they inherit from stdole2,
// which is the one of the same kind (registered or the platform's own);
// and a call through either kind's library reaches the slot it names.
#include "install_stand_in.h"
#include "typelib_support.h"

namespace {

using namespace typelib_test;

constexpr SYSKIND kOwnKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
constexpr MEMBERID kAddRef = 0x60000001;
constexpr MEMBERID kRelease = 0x60000002;
constexpr MEMBERID kInstall = 1;

const char* KindName(SYSKIND kind) {
  return kind == SYS_WIN64 ? "win64" : "win32";
}

// The product's library as compiled for kind, with the stdole2 it imports
// beside it.
std::string KindPath(SYSKIND kind, const char* file) {
  return TypelibPath(KindName(kind)) + "/" + file;
}

SYSKIND SysKindOf(ITypeLib* lib) {
  TLIBATTR* attr = nullptr;
  EXPECT_EQ(lib->GetLibAttr(&attr), S_OK);
  if (attr == nullptr) return SYS_WIN16;
  SYSKIND kind = attr->syskind;
  lib->ReleaseTLibAttr(attr);
  return kind;
}

SYSKIND LibrarySysKindOf(ITypeInfo* info) {
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  EXPECT_EQ(info->GetContainingTypeLib(lib.put(), &index), S_OK);
  return lib ? SysKindOf(lib.get()) : SYS_WIN16;
}

std::vector<SHORT> OffsetsOf(ITypeInfo* info) {
  std::vector<SHORT> offsets;
  const WORD count = AttrOf(info).cFuncs;
  for (UINT i = 0; i < count; ++i) offsets.push_back(FuncOf(info, i).oVft);
  return offsets;
}

// Slots first to last, step bytes apart.
std::vector<SHORT> Slots(SHORT step, SHORT first, SHORT last) {
  std::vector<SHORT> offsets;
  for (SHORT slot = first; slot <= last; ++slot)
    offsets.push_back(static_cast<SHORT>(slot * step));
  return offsets;
}

// IInstallKorvex of lib and every interface under it, laid out for kind:
// IUnknown's three slots, IDispatch's four, then install.
void ExpectLayout(ITypeLib* lib, SYSKIND kind) {
  const SHORT step = kind == SYS_WIN64 ? 8 : 4;
  EXPECT_EQ(SysKindOf(lib), kind);
  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kIInstallKorvex, dispatch.put()), S_OK);
  EXPECT_EQ(AttrOf(dispatch.get()).cbSizeVft, 7 * step);
  EXPECT_EQ(OffsetsOf(dispatch.get()), Slots(step, 0, 7));

  ComPtr<ITypeInfo> vtable;
  ASSERT_EQ(Follow(dispatch.get(), static_cast<UINT>(-1), vtable.put()), S_OK);
  EXPECT_EQ(AttrOf(vtable.get()).cbSizeVft, 8 * step);
  EXPECT_EQ(OffsetsOf(vtable.get()), Slots(step, 7, 7));

  ComPtr<ITypeInfo> idispatch;
  ASSERT_EQ(Follow(vtable.get(), 0, idispatch.put()), S_OK);
  EXPECT_EQ(AttrOf(idispatch.get()).guid, IID_IDispatch);
  EXPECT_EQ(LibrarySysKindOf(idispatch.get()), kind);
  EXPECT_EQ(AttrOf(idispatch.get()).cbSizeVft, 7 * step);
  EXPECT_EQ(OffsetsOf(idispatch.get()), Slots(step, 3, 6));

  ComPtr<ITypeInfo> iunknown;
  ASSERT_EQ(Follow(idispatch.get(), 0, iunknown.put()), S_OK);
  EXPECT_EQ(AttrOf(iunknown.get()).guid, IID_IUnknown);
  EXPECT_EQ(LibrarySysKindOf(iunknown.get()), kind);
  EXPECT_EQ(AttrOf(iunknown.get()).cbSizeVft, 3 * step);
  EXPECT_EQ(OffsetsOf(iunknown.get()), Slots(step, 0, 2));
}

void RegisterStdole2(const char* platform, const std::string& path) {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\TypeLib\\{00020430-0000-0000-C000-000000000046}"
      "\\2.0\\0\\" +
          std::string(platform) + "]\r\n@=\"" + path + "\"\r\n",
      &error))
      << error;
}

class SystemKindTypeLib : public TypeLibTest,
                          public testing::WithParamInterface<SYSKIND> {
 protected:
  void TearDown() override {
    m_lib.reset();
    TypeLibTest::TearDown();
  }
  void Load(SYSKIND kind) {
    ASSERT_EQ(LoadFile(KindPath(kind, "qxKorvex.tlb"), m_lib.put()), S_OK);
  }

  ComPtr<ITypeLib> m_lib;
};

TEST_P(SystemKindTypeLib, OffsetsCountInTheLibrarysPointerSize) {
  Load(GetParam());
  ExpectLayout(m_lib.get(), GetParam());
}

// Whatever step the library counts in, the call lands in this build's
// vtable at the same slot: install in the eighth, AddRef in the second and
// Release in the third (the stand-in answers 42, 2 and 1).
TEST_P(SystemKindTypeLib, CallsReachTheSlotsTheLibraryNames) {
  Load(GetParam());
  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(m_lib->GetTypeInfoOfGuid(kIInstallKorvex, dispatch.put()), S_OK);
  ComPtr<ITypeInfo> vtable;
  ASSERT_EQ(Follow(dispatch.get(), static_cast<UINT>(-1), vtable.put()), S_OK);
  StandInInstall object;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const struct {
    MEMBERID memid;
    VARTYPE vt;
    LONG value;
  } calls[] = {
      {kInstall, VT_I4, 42}, {kAddRef, VT_UI4, 2}, {kRelease, VT_UI4, 1}};
  for (ITypeInfo* view : {dispatch.get(), vtable.get()}) {
    for (const auto& call : calls) {
      VARIANT result;
      VariantInit(&result);
      EXPECT_EQ(view->Invoke(&object, call.memid, DISPATCH_METHOD, &none,
                             &result, nullptr, nullptr),
                S_OK)
          << call.memid;
      EXPECT_EQ(result.vt, call.vt) << call.memid;
      EXPECT_EQ(result.lVal, call.value) << call.memid;
      VariantClear(&result);
    }
  }
}

// A stdole2 registered only for the other pointer size gives way to the
// platform's own of the importer's kind.
TEST_P(SystemKindTypeLib, RegisteredStdole2OfTheOtherKindGivesWay) {
  const SYSKIND other = GetParam() == SYS_WIN64 ? SYS_WIN32 : SYS_WIN64;
  RegisterStdole2(KindName(other), KindPath(other, "stdole2.tlb"));
  Load(GetParam());
  ExpectLayout(m_lib.get(), GetParam());
}

// Each import looks under its own kind's key first: with stdole2 of the
// importer's kind registered under that key and a library without
// IDispatch under the other's, the base resolves; the other way round it
// does not, since a registered library of the right kind is taken as it is.
TEST_P(SystemKindTypeLib, ImportsLookUnderTheirOwnKindFirst) {
  const SYSKIND kind = GetParam();
  const SYSKIND other = kind == SYS_WIN64 ? SYS_WIN32 : SYS_WIN64;
  RegisterStdole2(KindName(kind), KindPath(kind, "stdole2.tlb"));
  RegisterStdole2(KindName(other), KindPath(other, "qxKorvex.tlb"));
  Load(kind);
  ExpectLayout(m_lib.get(), kind);
  m_lib.reset();

  Load(other);
  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(m_lib->GetTypeInfoOfGuid(kIInstallKorvex, dispatch.put()), S_OK);
  TYPEATTR* attr = nullptr;
  EXPECT_EQ(dispatch->GetTypeAttr(&attr), TYPE_E_ELEMENTNOTFOUND);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SystemKindTypeLib,
                         testing::Values(SYS_WIN32, SYS_WIN64),
                         [](const testing::TestParamInfo<SYSKIND>& info) {
                           return std::string(KindName(info.param));
                         });

using SystemKindDefaults = TypeLibTest;

// A caller that names no library gets stdole2 of this build's own kind.
TEST_F(SystemKindDefaults, LoadRegTypeLibGivesStdole2OfThisBuildsKind) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadRegTypeLib(kStdole2Libid, 2, 0, 0, lib.put()), S_OK);
  EXPECT_EQ(SysKindOf(lib.get()), kOwnKind);
}

// The real DLL's library, made for 32-bit Windows, read as it is in this
// build whatever its pointer size.
TEST_F(SystemKindDefaults, Win32DllCountsInFourByteSlots) {
#ifndef QX_WIN32_DLL
  GTEST_SKIP()
      << "the win32 DLL was not built before this build was configured";
#else
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadFile(QX_WIN32_DLL, lib.put()), S_OK);
  ExpectLayout(lib.get(), SYS_WIN32);
  ComPtr<ITypeInfo> vtable;
  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kIInstallKorvex, dispatch.put()), S_OK);
  ASSERT_EQ(Follow(dispatch.get(), static_cast<UINT>(-1), vtable.put()), S_OK);
  Func install = FuncOf(vtable.get(), 0);
  EXPECT_EQ(install.memid, kInstall);
  EXPECT_EQ(install.oVft, 28);
  EXPECT_EQ(install.callconv, CC_STDCALL);
#endif
}

}  // namespace
