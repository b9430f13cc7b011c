// The real DLL's type library, read back here from the PE file as a 32-bit
// automation client would see it: the class, and the dual interface whose
// vtable has eight four-byte slots, IDispatch's (inherited from a stdole2
// made for 32-bit Windows too) then install, returning its status through
// an out and retval pointer to a 32-bit integer.
#include <objbase.h>
#include <oleauto.h>

#include <string>

#include "base/holders.h"
#include "installer/iinstall_korvex.h"
#include "support/platform_fixture.h"

using DllTypeLibTest = PlatformTest;

TEST_F(DllTypeLibTest, DescribesTheClassAndItsDualInterface) {
#ifndef QX_WIN32_DLL
  GTEST_SKIP()
      << "the win32 DLL was not built before this build was configured";
#else
  const std::string narrow = QX_WIN32_DLL;
  const std::u16string path(narrow.begin(), narrow.end());
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()), S_OK);
  TLIBATTR* libAttr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
  EXPECT_TRUE(IsEqualGUID(libAttr->guid, LIBID_QXKORVEXLib));
  EXPECT_EQ(libAttr->syskind, SYS_WIN32);
  EXPECT_EQ(libAttr->wMajorVerNum, 1);
  EXPECT_EQ(libAttr->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(libAttr);

  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_InstallKorvex, coclass.put()), S_OK);
  TYPEATTR* classAttr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&classAttr), S_OK);
  EXPECT_EQ(classAttr->typekind, TKIND_COCLASS);
  EXPECT_EQ(classAttr->wTypeFlags, TYPEFLAG_FCANCREATE);
  coclass->ReleaseTypeAttr(classAttr);

  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IInstallKorvex, dispatch.put()), S_OK);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"install")};
  MEMBERID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(names, 1, &id), S_OK);
  EXPECT_EQ(id, kDispidInstall);

  HREFTYPE vtableRef = 0;
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef),
            S_OK);
  ComPtr<ITypeInfo> vtable;
  ASSERT_EQ(dispatch->GetRefTypeInfo(vtableRef, vtable.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr->cbSizeVft, 8 * 4);
  EXPECT_EQ(attr->wTypeFlags,
            TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  ASSERT_EQ(attr->cFuncs, 1);
  vtable->ReleaseTypeAttr(attr);

  FUNCDESC* install = nullptr;
  ASSERT_EQ(vtable->GetFuncDesc(0, &install), S_OK);
  EXPECT_EQ(install->memid, kDispidInstall);
  EXPECT_EQ(install->oVft, 7 * 4);
  EXPECT_EQ(install->invkind, INVOKE_FUNC);
  EXPECT_EQ(install->elemdescFunc.tdesc.vt, VT_HRESULT);
  ASSERT_EQ(install->cParams, 1);
  const ELEMDESC& val = install->lprgelemdescParam[0];
  EXPECT_EQ(val.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  ASSERT_EQ(val.tdesc.vt, VT_PTR);
  EXPECT_EQ(val.tdesc.lptdesc->vt, VT_I4);
  vtable->ReleaseFuncDesc(install);

  HREFTYPE baseRef = 0;
  ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &baseRef), S_OK);
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(vtable->GetRefTypeInfo(baseRef, base.put()), S_OK);
  TYPEATTR* baseAttr = nullptr;
  ASSERT_EQ(base->GetTypeAttr(&baseAttr), S_OK);
  EXPECT_TRUE(IsEqualGUID(baseAttr->guid, IID_IDispatch));
  EXPECT_EQ(baseAttr->cbSizeVft, 7 * 4);
  const WORD baseFuncs = baseAttr->cFuncs;
  base->ReleaseTypeAttr(baseAttr);
  ASSERT_EQ(baseFuncs, 4);
  for (UINT i = 0; i < baseFuncs; ++i) {
    FUNCDESC* inherited = nullptr;
    ASSERT_EQ(base->GetFuncDesc(i, &inherited), S_OK);
    EXPECT_EQ(inherited->oVft, static_cast<SHORT>((3 + i) * 4)) << i;
    base->ReleaseFuncDesc(inherited);
  }
#endif
}
