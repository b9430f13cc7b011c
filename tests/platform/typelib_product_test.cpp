// The product's type library as an automation client reads it: the library,
// the creatable class and its default interface, and the dual interface's
// two views down to stdole2's IDispatch and IUnknown.
#include "typelib_support.h"

namespace {

using namespace typelib_test;

// The interface's flags, in both views: dual, automation-compatible and
// dispatchable (0x1140), nothing else.
constexpr WORD kDualFlags =
    TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;

class ProductTypeLib : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    ASSERT_EQ(LoadFile(TypelibPath("qxKorvex.tlb"), m_lib.put()), S_OK);
    ASSERT_EQ(m_lib->GetTypeInfoOfGuid(kIInstallKorvex, m_dispatch.put()),
              S_OK);
    ASSERT_EQ(Follow(m_dispatch.get(), static_cast<UINT>(-1), m_vtable.put()),
              S_OK);
  }
  void TearDown() override {
    m_vtable.reset();
    m_dispatch.reset();
    m_lib.reset();
    TypeLibTest::TearDown();
  }

  ComPtr<ITypeLib> m_lib;
  ComPtr<ITypeInfo> m_dispatch;
  ComPtr<ITypeInfo> m_vtable;
};

TEST_F(ProductTypeLib, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(m_lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, kProductLibid);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0u);  // the IDL names no locale
  // Made for this build's pointer size.
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  EXPECT_EQ(attr->wLibFlags, 0);
  m_lib->ReleaseTLibAttr(attr);

  BSTR name = nullptr;
  BSTR doc = nullptr;
  BSTR helpFile = nullptr;
  ASSERT_EQ(m_lib->GetDocumentation(-1, &name, &doc, nullptr, &helpFile), S_OK);
  EXPECT_EQ(Narrow(name), "QXKORVEXLib");
  EXPECT_EQ(Narrow(doc), "qxKorvex 1.0 Type Library");
  EXPECT_EQ(helpFile, nullptr);
  SysFreeString(name);
  SysFreeString(doc);
  EXPECT_EQ(m_lib->GetTypeInfoCount(), 2u);
}

TEST_F(ProductTypeLib, ClassIsCreatableWithTheDualInterfaceAsDefault) {
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(m_lib->GetTypeInfoOfGuid(kInstallKorvexClsid, coclass.put()), S_OK);
  TYPEATTR attr = AttrOf(coclass.get());
  EXPECT_EQ(attr.typekind, TKIND_COCLASS);
  EXPECT_EQ(attr.wTypeFlags, TYPEFLAG_FCANCREATE);
  ASSERT_EQ(attr.cImplTypes, 1);
  INT flags = 0;
  EXPECT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  ComPtr<ITypeInfo> interface;
  ASSERT_EQ(Follow(coclass.get(), 0, interface.put()), S_OK);
  EXPECT_EQ(interface.get(), m_dispatch.get());  // the dispatch view
  EXPECT_EQ(coclass->GetImplTypeFlags(1, &flags), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(ProductTypeLib, DualInterfaceDispatchView) {
  TYPEATTR attr = AttrOf(m_dispatch.get());
  EXPECT_EQ(attr.typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr.wTypeFlags, kDualFlags);
  EXPECT_EQ(attr.cFuncs, 8);  // IUnknown's 3, IDispatch's 4, install
  EXPECT_EQ(attr.cbSizeVft, 7 * sizeof(void*));
  EXPECT_EQ(attr.cImplTypes, 1);

  Func queryInterface = FuncOf(m_dispatch.get(), 0);
  EXPECT_EQ(queryInterface.memid, 0x60000000);
  EXPECT_EQ(queryInterface.funckind, FUNC_DISPATCH);
  EXPECT_EQ(queryInterface.result, VT_VOID);
  EXPECT_EQ(queryInterface.paramTypes.size(), 2u);

  Func install = FuncOf(m_dispatch.get(), 7);
  EXPECT_EQ(install.memid, 1);
  EXPECT_EQ(install.funckind, FUNC_DISPATCH);
  EXPECT_EQ(install.result, VT_I4);  // the retval's pointee
  EXPECT_TRUE(install.paramTypes.empty());
  EXPECT_EQ(NamesOf(m_dispatch.get(), 1), std::vector<std::string>{"install"});

  ComPtr<ITypeInfo> base;
  ASSERT_EQ(Follow(m_dispatch.get(), 0, base.put()), S_OK);
  EXPECT_EQ(NameOf(base.get()), "IDispatch");
}

TEST_F(ProductTypeLib, GetIDsOfNamesIgnoresCase) {
  for (const char16_t* name : {u"install", u"INSTALL", u"Install"}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    MEMBERID id = 0;
    EXPECT_EQ(m_dispatch->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, 1);
  }
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"uninstall")};
  MEMBERID id = 0;
  EXPECT_EQ(m_dispatch->GetIDsOfNames(unknown, 1, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, MEMBERID_NIL);
  LPOLESTR inherited[] = {const_cast<LPOLESTR>(u"getidsofnames")};
  EXPECT_EQ(m_dispatch->GetIDsOfNames(inherited, 1, &id), S_OK);
  EXPECT_EQ(id, 0x60010002);
}

// The retval parameter exists only in the vtable view.
TEST_F(ProductTypeLib, ParameterNamesFollowTheView) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"install"),
                      const_cast<LPOLESTR>(u"VAL")};
  MEMBERID ids[2] = {};
  EXPECT_EQ(m_dispatch->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], MEMBERID_NIL);
  EXPECT_EQ(m_vtable->GetIDsOfNames(names, 2, ids), S_OK);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 0);
  EXPECT_EQ(NamesOf(m_vtable.get(), 1),
            (std::vector<std::string>{"install", "val"}));
}

TEST_F(ProductTypeLib, DualInterfaceVtableView) {
  TYPEATTR attr = AttrOf(m_vtable.get());
  EXPECT_EQ(attr.typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr.guid, kIInstallKorvex);
  EXPECT_EQ(attr.cFuncs, 1);
  EXPECT_EQ(attr.cbSizeVft, 8 * sizeof(void*));
  EXPECT_EQ(attr.wTypeFlags, kDualFlags);

  FUNCDESC* desc = nullptr;
  ASSERT_EQ(m_vtable->GetFuncDesc(0, &desc), S_OK);
  EXPECT_EQ(desc->memid, 1);
  EXPECT_EQ(desc->funckind, FUNC_PUREVIRTUAL);
  EXPECT_EQ(desc->callconv, CC_STDCALL);
  EXPECT_EQ(desc->invkind, INVOKE_FUNC);
  EXPECT_EQ(desc->oVft, static_cast<SHORT>(7 * sizeof(void*)));
  EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_HRESULT);
  ASSERT_EQ(desc->cParams, 1);
  const ELEMDESC& val = desc->lprgelemdescParam[0];
  EXPECT_EQ(val.tdesc.vt, VT_PTR);
  EXPECT_EQ(val.tdesc.lptdesc->vt, VT_I4);
  EXPECT_EQ(val.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  m_vtable->ReleaseFuncDesc(desc);

  HREFTYPE href = 0;
  EXPECT_EQ(m_vtable->GetRefTypeOfImplType(static_cast<UINT>(-1), &href),
            TYPE_E_ELEMENTNOTFOUND);
  ComPtr<ITypeInfo> back;
  ASSERT_EQ(m_vtable->GetRefTypeInfo(static_cast<HREFTYPE>(-1), back.put()),
            S_OK);
  EXPECT_EQ(back.get(), m_dispatch.get());
}

TEST_F(ProductTypeLib, BaseInterfacesComeFromStdole2) {
  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(Follow(m_vtable.get(), 0, dispatch.put()), S_OK);
  TYPEATTR attr = AttrOf(dispatch.get());
  EXPECT_EQ(attr.guid, IID_IDispatch);
  EXPECT_EQ(attr.typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr.cFuncs, 4);
  EXPECT_EQ(LibraryNameOf(dispatch.get()), "stdole");
  ComPtr<ITypeInfo> unknown;
  ASSERT_EQ(Follow(dispatch.get(), 0, unknown.put()), S_OK);
  EXPECT_EQ(AttrOf(unknown.get()).guid, IID_IUnknown);
  HREFTYPE href = 0;
  EXPECT_EQ(unknown->GetRefTypeOfImplType(0, &href), TYPE_E_ELEMENTNOTFOUND);
}

// An inherited member's types are named in stdole2; the dispatch view hands
// out hrefs of its own that still lead there.
TEST_F(ProductTypeLib, InheritedMemberTypesResolve) {
  FUNCDESC* desc = nullptr;
  ASSERT_EQ(m_dispatch->GetFuncDesc(0, &desc), S_OK);  // QueryInterface
  ASSERT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_PTR);
  const TYPEDESC& riid = *desc->lprgelemdescParam[0].tdesc.lptdesc;
  ASSERT_EQ(riid.vt, VT_USERDEFINED);
  ComPtr<ITypeInfo> guid;
  EXPECT_EQ(m_dispatch->GetRefTypeInfo(riid.hreftype, guid.put()), S_OK);
  EXPECT_EQ(AttrOf(guid.get()).typekind, TKIND_RECORD);
  EXPECT_EQ(LibraryNameOf(guid.get()), "stdole");
  m_dispatch->ReleaseFuncDesc(desc);
}

TEST_F(ProductTypeLib, Documentation) {
  BSTR name = nullptr;
  BSTR doc = nullptr;
  DWORD context = 1;
  ASSERT_EQ(m_vtable->GetDocumentation(1, &name, &doc, &context, nullptr),
            S_OK);
  EXPECT_EQ(Narrow(name), "install");
  EXPECT_EQ(Narrow(doc), "method install");
  EXPECT_EQ(context, 0u);
  SysFreeString(name);
  SysFreeString(doc);
  EXPECT_EQ(NameOf(m_dispatch.get()), "IInstallKorvex");
  EXPECT_EQ(m_dispatch->GetDocumentation(42, &name, nullptr, nullptr, nullptr),
            TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(ProductTypeLib, UnknownGuidAndIndex) {
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(m_lib->GetTypeInfoOfGuid(kProductLibid, info.put()),
            TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(m_lib->GetTypeInfo(2, info.put()), TYPE_E_ELEMENTNOTFOUND);
  TYPEKIND kind;
  EXPECT_EQ(m_lib->GetTypeInfoType(1, &kind), S_OK);
  EXPECT_EQ(kind, TKIND_DISPATCH);
  EXPECT_EQ(m_lib->GetTypeInfoType(2, &kind), TYPE_E_ELEMENTNOTFOUND);
}

// A type info holds its library: the library may go first.
TEST_F(ProductTypeLib, TypeInfoOutlivesTheCallersLibraryReference) {
  m_lib.reset();
  ComPtr<ITypeLib> lib;
  UINT index = 9;
  ASSERT_EQ(m_vtable->GetContainingTypeLib(lib.put(), &index), S_OK);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
}

TEST_F(ProductTypeLib, ITypeInfo2Views) {
  ComPtr<ITypeInfo2> info2;
  ASSERT_EQ(m_vtable->QueryInterface(IID_ITypeInfo2,
                                     reinterpret_cast<void**>(info2.put())),
            S_OK);
  TYPEKIND kind;
  EXPECT_EQ(info2->GetTypeKind(&kind), S_OK);
  EXPECT_EQ(kind, TKIND_INTERFACE);
  UINT index = 9;
  EXPECT_EQ(info2->GetFuncIndexOfMemId(1, INVOKE_FUNC, &index), S_OK);
  EXPECT_EQ(index, 0u);
  ComPtr<ITypeInfo2> dispatch2;
  ASSERT_EQ(m_dispatch->QueryInterface(
                IID_ITypeInfo2, reinterpret_cast<void**>(dispatch2.put())),
            S_OK);
  EXPECT_EQ(dispatch2->GetFuncIndexOfMemId(1, INVOKE_FUNC, &index), S_OK);
  EXPECT_EQ(index, 7u);
  EXPECT_EQ(dispatch2->GetFuncIndexOfMemId(1, INVOKE_PROPERTYGET, &index),
            TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(ProductTypeLib, ModuleAndClassCallsRefuseOtherKinds) {
  void* address = &address;
  EXPECT_EQ(m_vtable->AddressOfMember(1, INVOKE_FUNC, &address),
            TYPE_E_BADMODULEKIND);
  EXPECT_EQ(address, nullptr);
  void* object = &object;
  EXPECT_EQ(m_vtable->CreateInstance(nullptr, IID_IUnknown, &object),
            TYPE_E_WRONGTYPEKIND);
  EXPECT_EQ(object, nullptr);
}

}  // namespace
