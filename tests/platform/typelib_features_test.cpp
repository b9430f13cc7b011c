// What the product's library does not use, read back from the fixture
// libraries: constants, records and arrays, default and optional values,
// lcid and vararg parameters, properties and their accessors' names,
// inherited vtable members, custom data, source interfaces, name searches
// and a plain dispatch interface.
#include <algorithm>
#include <iterator>

#include "typelib_support.h"

namespace {

using namespace typelib_test;

class FeatureTypeLib : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    ASSERT_EQ(LoadFile(TypelibPath("typelib_features.tlb"), m_lib.put()), S_OK);
  }
  void TearDown() override {
    m_lib.reset();
    TypeLibTest::TearDown();
  }
  void Type(uint8_t last, ITypeInfo** info) {
    ASSERT_EQ(m_lib->GetTypeInfoOfGuid(FeatureGuid(last), info), S_OK);
  }

  ComPtr<ITypeLib> m_lib;
};

TEST_F(FeatureTypeLib, EnumConstants) {
  ComPtr<ITypeInfo> shade;
  Type(0x01, shade.put());
  TYPEATTR attr = AttrOf(shade.get());
  EXPECT_EQ(attr.typekind, TKIND_ENUM);
  ASSERT_EQ(attr.cVars, 3);
  const LONG expected[] = {1, -3, 100000000};  // inline, and stored apart
  for (UINT i = 0; i < 3; ++i) {
    VARDESC* var = nullptr;
    ASSERT_EQ(shade->GetVarDesc(i, &var), S_OK);
    EXPECT_EQ(var->varkind, VAR_CONST);
    EXPECT_EQ(var->lpvarValue->lVal, expected[i]) << i;
    shade->ReleaseVarDesc(var);
  }
  VARDESC* var = nullptr;
  EXPECT_EQ(shade->GetVarDesc(3, &var), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(FeatureTypeLib, RecordFieldsAndFixedArrays) {
  ComPtr<ITypeInfo> extent;
  Type(0x02, extent.put());
  TYPEATTR attr = AttrOf(extent.get());
  EXPECT_EQ(attr.typekind, TKIND_RECORD);
  EXPECT_EQ(attr.cbSizeInstance, 16u);
  VARDESC* tag = nullptr;
  ASSERT_EQ(extent->GetVarDesc(2, &tag), S_OK);
  EXPECT_EQ(tag->varkind, VAR_PERINSTANCE);
  EXPECT_EQ(tag->oInst, 6u);
  ASSERT_EQ(tag->elemdescVar.tdesc.vt, VT_CARRAY);
  const ARRAYDESC* array = tag->elemdescVar.tdesc.lpadesc;
  EXPECT_EQ(array->tdescElem.vt, VT_UI1);
  ASSERT_EQ(array->cDims, 1);
  EXPECT_EQ(array->rgbounds[0].cElements, 8u);
  EXPECT_EQ(array->rgbounds[0].lLbound, 0);
  extent->ReleaseVarDesc(tag);
}

TEST_F(FeatureTypeLib, DefaultAndOptionalValues) {
  ComPtr<ITypeInfo> dual;
  Type(0x05, dual.put());
  UINT index = 0;
  ComPtr<ITypeInfo2> dual2;
  ASSERT_EQ(dual->QueryInterface(IID_ITypeInfo2,
                                 reinterpret_cast<void**>(dual2.put())),
            S_OK);
  ASSERT_EQ(dual2->GetFuncIndexOfMemId(2, INVOKE_FUNC, &index), S_OK);
  FUNCDESC* draw = nullptr;
  ASSERT_EQ(dual->GetFuncDesc(index, &draw), S_OK);
  ASSERT_EQ(draw->cParams, 4);
  EXPECT_EQ(draw->cParamsOpt, 1);
  const PARAMDESC& y = draw->lprgelemdescParam[1].paramdesc;
  ASSERT_TRUE(y.wParamFlags & PARAMFLAG_FHASDEFAULT);
  EXPECT_EQ(y.pparamdescex->varDefaultValue.vt, VT_I4);
  EXPECT_EQ(y.pparamdescex->varDefaultValue.lVal, -1);
  const PARAMDESC& label = draw->lprgelemdescParam[2].paramdesc;
  ASSERT_TRUE(label.wParamFlags & PARAMFLAG_FHASDEFAULT);
  EXPECT_EQ(label.pparamdescex->varDefaultValue.vt, VT_BSTR);
  EXPECT_EQ(Narrow(label.pparamdescex->varDefaultValue.bstrVal), "none");
  const ELEMDESC& extra = draw->lprgelemdescParam[3];
  EXPECT_EQ(extra.tdesc.vt, VT_VARIANT);
  EXPECT_EQ(extra.paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT);
  dual->ReleaseFuncDesc(draw);  // clears the BSTR: no task block stays
}

// A null string constant (length -1) is a null BSTR, not an empty one.
TEST_F(FeatureTypeLib, NullStringDefaultIsANullBstr) {
  std::vector<uint8_t> bytes = ReadBytes(TypelibPath("typelib_features.tlb"));
  // Draw's default "none": VT_BSTR, its length, its bytes.
  const uint8_t stored[] = {8, 0, 4, 0, 0, 0, 'n', 'o', 'n', 'e'};
  auto found = std::search(bytes.begin(), bytes.end(), std::begin(stored),
                           std::end(stored));
  ASSERT_NE(found, bytes.end());
  std::fill(found + 2, found + 6, 0xFF);
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(
      qxplatform::LoadTypeLibFromMemory(bytes.data(), bytes.size(), lib.put()),
      S_OK);
  ComPtr<ITypeInfo> dual;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(FeatureGuid(0x05), dual.put()), S_OK);
  FUNCDESC* draw = nullptr;
  ASSERT_EQ(dual->GetFuncDesc(7 + 2, &draw), S_OK);
  ASSERT_EQ(draw->cParams, 4);
  const PARAMDESC& label = draw->lprgelemdescParam[2].paramdesc;
  ASSERT_TRUE(label.wParamFlags & PARAMFLAG_FHASDEFAULT);
  EXPECT_EQ(label.pparamdescex->varDefaultValue.vt, VT_BSTR);
  EXPECT_EQ(label.pparamdescex->varDefaultValue.bstrVal, nullptr);
  dual->ReleaseFuncDesc(draw);
}

// The dispatch view leaves out the lcid and retval parameters that the
// vtable view shows.
TEST_F(FeatureTypeLib, LcidAndRetvalParametersByView) {
  ComPtr<ITypeInfo> dual;
  ComPtr<ITypeInfo> vtable;
  Type(0x05, dual.put());
  ASSERT_EQ(Follow(dual.get(), static_cast<UINT>(-1), vtable.put()), S_OK);
  Func dispatchLocate = FuncOf(dual.get(), 7 + 3);
  EXPECT_EQ(dispatchLocate.memid, 3);
  EXPECT_EQ(dispatchLocate.result, VT_I4);
  EXPECT_EQ(dispatchLocate.paramTypes, std::vector<VARTYPE>{VT_I4});
  Func vtableLocate = FuncOf(vtable.get(), 3);
  EXPECT_EQ(vtableLocate.result, VT_HRESULT);
  EXPECT_EQ(vtableLocate.paramFlags,
            (std::vector<USHORT>{PARAMFLAG_FIN, PARAMFLAG_FIN | PARAMFLAG_FLCID,
                                 PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}));
  Func collect = FuncOf(vtable.get(), 4);
  EXPECT_EQ(collect.cParamsOpt, -1);  // vararg
  EXPECT_EQ(collect.paramTypes, std::vector<VARTYPE>{VT_SAFEARRAY});
}

TEST_F(FeatureTypeLib, InterfacePointerResultLeadsToItsType) {
  ComPtr<ITypeInfo> dual;
  Type(0x05, dual.put());
  FUNCDESC* next = nullptr;
  ASSERT_EQ(dual->GetFuncDesc(7 + 5, &next), S_OK);
  ASSERT_EQ(next->elemdescFunc.tdesc.vt, VT_PTR);
  const TYPEDESC& pointee = *next->elemdescFunc.tdesc.lptdesc;
  ASSERT_EQ(pointee.vt, VT_USERDEFINED);
  ComPtr<ITypeInfo> derived;
  ASSERT_EQ(dual->GetRefTypeInfo(pointee.hreftype, derived.put()), S_OK);
  EXPECT_EQ(AttrOf(derived.get()).guid, FeatureGuid(0x04));
  dual->ReleaseFuncDesc(next);
}

TEST_F(FeatureTypeLib, PropertiesShareOneMemberId) {
  ComPtr<ITypeInfo> dual;
  Type(0x05, dual.put());
  ComPtr<ITypeInfo2> dual2;
  ASSERT_EQ(dual->QueryInterface(IID_ITypeInfo2,
                                 reinterpret_cast<void**>(dual2.put())),
            S_OK);
  UINT get = 0;
  UINT put = 0;
  ASSERT_EQ(dual2->GetFuncIndexOfMemId(1, INVOKE_PROPERTYGET, &get), S_OK);
  ASSERT_EQ(dual2->GetFuncIndexOfMemId(1, INVOKE_PROPERTYPUT, &put), S_OK);
  EXPECT_NE(get, put);
  EXPECT_EQ(FuncOf(dual.get(), get).result, VT_BSTR);
  EXPECT_EQ(FuncOf(dual.get(), put).paramTypes, std::vector<VARTYPE>{VT_BSTR});
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"caption")};
  MEMBERID id = 0;
  EXPECT_EQ(dual->GetIDsOfNames(names, 1, &id), S_OK);
  EXPECT_EQ(id, 1);
}

// GetNames goes by member id, which a property's accessors share, so it
// names one of them; the platform names each by its index as well.
TEST_F(FeatureTypeLib, EachAccessorNamesItsOwnParameters) {
  ComPtr<ITypeInfo> dual;
  ComPtr<ITypeInfo> vtable;
  Type(0x05, dual.put());
  ASSERT_EQ(Follow(dual.get(), static_cast<UINT>(-1), vtable.put()), S_OK);
  auto names = [](ITypeInfo* info, UINT index) {
    BSTR texts[8] = {};
    UINT count = 0;
    EXPECT_EQ(qxplatform::GetFuncNames(info, index, texts, 8, &count), S_OK);
    std::vector<std::string> result;
    for (UINT i = 0; i < count; ++i) {
      result.push_back(Narrow(texts[i]));
      SysFreeString(texts[i]);
    }
    return result;
  };
  for (ITypeInfo* info : {dual.get(), vtable.get()}) {
    ComPtr<ITypeInfo2> info2;
    ASSERT_EQ(info->QueryInterface(IID_ITypeInfo2,
                                   reinterpret_cast<void**>(info2.put())),
              S_OK);
    UINT get = 0;
    UINT put = 0;
    ASSERT_EQ(info2->GetFuncIndexOfMemId(6, INVOKE_PROPERTYGET, &get), S_OK);
    ASSERT_EQ(info2->GetFuncIndexOfMemId(6, INVOKE_PROPERTYPUT, &put), S_OK);
    const bool dispatchView = info == dual.get();
    // The retval parameter is the dispatch view's result, and the value a
    // put assigns has no name.
    EXPECT_EQ(names(info, get),
              dispatchView
                  ? (std::vector<std::string>{"Item", "index"})
                  : (std::vector<std::string>{"Item", "index", "value"}));
    EXPECT_EQ(names(info, put), (std::vector<std::string>{"Item", "position"}));
    EXPECT_EQ(NamesOf(info, 6), names(info, get));  // the first accessor's
  }
  BSTR text = nullptr;
  UINT count = 7;
  EXPECT_EQ(qxplatform::GetFuncNames(dual.get(), 99, &text, 1, &count),
            TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(count, 0u);
}

TEST_F(FeatureTypeLib, DerivedInterfaceFindsBaseMembers) {
  ComPtr<ITypeInfo> derived;
  Type(0x04, derived.put());
  TYPEATTR attr = AttrOf(derived.get());
  EXPECT_EQ(attr.cFuncs, 1);
  EXPECT_EQ(attr.cbSizeVft, 6 * sizeof(void*));
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"MEASURE"),
                      const_cast<LPOLESTR>(u"area")};
  MEMBERID ids[2] = {};
  ASSERT_EQ(derived->GetIDsOfNames(names, 2, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60010001);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(NamesOf(derived.get(), 0x60010001),
            (std::vector<std::string>{"Measure", "Extent", "area"}));
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(Follow(derived.get(), 0, base.put()), S_OK);
  EXPECT_EQ(NameOf(base.get()), "IFeatureBase");
  BSTR doc = nullptr;
  ASSERT_EQ(
      base->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(Narrow(doc), "the vtable base");
  SysFreeString(doc);
}

TEST_F(FeatureTypeLib, CustomData) {
  ComPtr<ITypeInfo> base;
  Type(0x03, base.put());
  ComPtr<ITypeInfo2> base2;
  ASSERT_EQ(base->QueryInterface(IID_ITypeInfo2,
                                 reinterpret_cast<void**>(base2.put())),
            S_OK);
  VARIANT value;
  ASSERT_EQ(base2->GetCustData(FeatureGuid(0xFF), &value), S_OK);
  EXPECT_EQ(value.vt, VT_BSTR);
  EXPECT_EQ(Narrow(value.bstrVal), "base data");
  VariantClear(&value);
  ASSERT_EQ(base2->GetCustData(FeatureGuid(0xFE), &value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);
  CUSTDATA all;
  ASSERT_EQ(base2->GetAllCustData(&all), S_OK);
  ASSERT_EQ(all.cCustData, 1u);
  EXPECT_EQ(all.prgCustData[0].guid, FeatureGuid(0xFF));
  ClearCustData(&all);
  EXPECT_EQ(all.prgCustData, nullptr);
}

TEST_F(FeatureTypeLib, ClassInterfacesAndTheirFlags) {
  ComPtr<ITypeInfo> coclass;
  Type(0x07, coclass.put());
  TYPEATTR attr = AttrOf(coclass.get());
  EXPECT_EQ(attr.wTypeFlags, 0);  // noncreatable
  ASSERT_EQ(attr.cImplTypes, 2);
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  ComPtr<ITypeInfo> events;
  ASSERT_EQ(Follow(coclass.get(), 1, events.put()), S_OK);
  EXPECT_EQ(NameOf(events.get()), "IFeatureEvents");
}

TEST_F(FeatureTypeLib, LibraryLocaleVersionAndHelpFile) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(m_lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->wMajorVerNum, 2);
  EXPECT_EQ(attr->wMinorVerNum, 5);
  m_lib->ReleaseTLibAttr(attr);
  ComPtr<ITypeInfo> coclass;
  Type(0x07, coclass.put());
  BSTR helpFile = nullptr;
  ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, nullptr, nullptr, nullptr,
                                      &helpFile),
            S_OK);
  EXPECT_EQ(Narrow(helpFile), "features.hlp");
  SysFreeString(helpFile);
}

TEST_F(FeatureTypeLib, NameSearchesGiveTheStoredSpelling) {
  char16_t name[] = u"ifeaturedual";
  BOOL found = FALSE;
  ASSERT_EQ(m_lib->IsName(name, 0, &found), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(std::u16string(name), u"IFeatureDual");
  char16_t missing[] = u"IFeatureNone";
  ASSERT_EQ(m_lib->IsName(missing, 0, &found), S_OK);
  EXPECT_FALSE(found);

  char16_t member[] = u"measure";
  ITypeInfo* infos[4] = {};
  MEMBERID ids[4] = {};
  USHORT count = 4;
  ASSERT_EQ(m_lib->FindName(member, 0, infos, ids, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(ids[0], 0x60010001);
  EXPECT_EQ(NameOf(infos[0]), "IFeatureBase");
  infos[0]->Release();
  EXPECT_EQ(std::u16string(member), u"Measure");
}

TEST_F(FeatureTypeLib, PlainDispatchInterface) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadFile(TypelibPath("typelib_dispinterface.tlb"), lib.put()),
            S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(lib->GetTypeInfo(0, info.put()), S_OK);
  TYPEATTR attr = AttrOf(info.get());
  EXPECT_EQ(attr.typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr.cFuncs, 1);  // no inherited members
  EXPECT_EQ(attr.cVars, 1);
  EXPECT_EQ(attr.cbSizeVft, 7 * sizeof(void*));
  EXPECT_EQ(FuncOf(info.get(), 0).funckind, FUNC_DISPATCH);
  VARDESC* count = nullptr;
  ASSERT_EQ(info->GetVarDesc(0, &count), S_OK);
  EXPECT_EQ(count->varkind, VAR_DISPATCH);
  EXPECT_EQ(count->memid, 1);
  info->ReleaseVarDesc(count);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"COUNT")};
  MEMBERID id = 0;
  EXPECT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK);
  EXPECT_EQ(id, 1);
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(Follow(info.get(), 0, base.put()), S_OK);
  EXPECT_EQ(AttrOf(base.get()).guid, IID_IDispatch);
  HREFTYPE href = 0;
  EXPECT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href),
            TYPE_E_ELEMENTNOTFOUND);
}

}  // namespace
