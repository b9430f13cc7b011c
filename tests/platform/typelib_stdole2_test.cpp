// The platform's stdole2 as the libraries that import it rely on it: the
// standard automation library's 42 types in the system library's order,
// since older compilers refer to its type n (IUnknown 3, IDispatch 4, IFont
// 30 ...) by that index alone; a library naming them by GUID, by index, or
// both, loads and resolves each to the type the system would give; and
// stdole2's own dispatch interfaces find their IDispatch in it.
#include <stdio.h>
#include <string.h>

#include <map>

#include "typelib_support.h"

namespace {

using namespace typelib_test;

struct Listed {
  TYPEKIND kind;
  const char* name;
  const char* guid;  // null: the type has none
  WORD funcs;        // the type's own members
  WORD vars;
};

// The system's stdole2 2.0 for 32-bit Windows, as measured.
const Listed kSystemStdole2[] = {
    {TKIND_RECORD, "GUID", nullptr, 0, 4},
    {TKIND_RECORD, "DISPPARAMS", nullptr, 0, 4},
    {TKIND_RECORD, "EXCEPINFO", nullptr, 0, 9},
    {TKIND_INTERFACE, "IUnknown", "00000000-0000-0000-C000-000000000046", 3, 0},
    {TKIND_INTERFACE, "IDispatch", "00020400-0000-0000-C000-000000000046", 4,
     0},
    {TKIND_INTERFACE, "IEnumVARIANT", "00020404-0000-0000-C000-000000000046", 4,
     0},
    {TKIND_ALIAS, "OLE_COLOR", "66504301-BE0F-101A-8BBB-00AA00300CAB", 0, 0},
    {TKIND_ALIAS, "OLE_XPOS_PIXELS", "66504302-BE0F-101A-8BBB-00AA00300CAB", 0,
     0},
    {TKIND_ALIAS, "OLE_YPOS_PIXELS", "66504303-BE0F-101A-8BBB-00AA00300CAB", 0,
     0},
    {TKIND_ALIAS, "OLE_XSIZE_PIXELS", "66504304-BE0F-101A-8BBB-00AA00300CAB", 0,
     0},
    {TKIND_ALIAS, "OLE_YSIZE_PIXELS", "66504305-BE0F-101A-8BBB-00AA00300CAB", 0,
     0},
    {TKIND_ALIAS, "OLE_XPOS_HIMETRIC", "66504306-BE0F-101A-8BBB-00AA00300CAB",
     0, 0},
    {TKIND_ALIAS, "OLE_YPOS_HIMETRIC", "66504307-BE0F-101A-8BBB-00AA00300CAB",
     0, 0},
    {TKIND_ALIAS, "OLE_XSIZE_HIMETRIC", "66504308-BE0F-101A-8BBB-00AA00300CAB",
     0, 0},
    {TKIND_ALIAS, "OLE_YSIZE_HIMETRIC", "66504309-BE0F-101A-8BBB-00AA00300CAB",
     0, 0},
    {TKIND_ALIAS, "OLE_XPOS_CONTAINER", "BF030640-9069-101B-AE2D-08002B2EC713",
     0, 0},
    {TKIND_ALIAS, "OLE_YPOS_CONTAINER", "BF030641-9069-101B-AE2D-08002B2EC713",
     0, 0},
    {TKIND_ALIAS, "OLE_XSIZE_CONTAINER", "BF030642-9069-101B-AE2D-08002B2EC713",
     0, 0},
    {TKIND_ALIAS, "OLE_YSIZE_CONTAINER", "BF030643-9069-101B-AE2D-08002B2EC713",
     0, 0},
    {TKIND_ALIAS, "OLE_HANDLE", "66504313-BE0F-101A-8BBB-00AA00300CAB", 0, 0},
    {TKIND_ALIAS, "OLE_OPTEXCLUSIVE", "6650430B-BE0F-101A-8BBB-00AA00300CAB", 0,
     0},
    {TKIND_ALIAS, "OLE_CANCELBOOL", "BF030644-9069-101B-AE2D-08002B2EC713", 0,
     0},
    {TKIND_ALIAS, "OLE_ENABLEDEFAULTBOOL",
     "BF030645-9069-101B-AE2D-08002B2EC713", 0, 0},
    {TKIND_ENUM, "OLE_TRISTATE", "6650430A-BE0F-101A-8BBB-00AA00300CAB", 0, 3},
    {TKIND_ALIAS, "FONTNAME", "6650430D-BE0F-101A-8BBB-00AA00300CAB", 0, 0},
    {TKIND_ALIAS, "FONTSIZE", "6650430E-BE0F-101A-8BBB-00AA00300CAB", 0, 0},
    {TKIND_ALIAS, "FONTBOLD", "6650430F-BE0F-101A-8BBB-00AA00300CAB", 0, 0},
    {TKIND_ALIAS, "FONTITALIC", "66504310-BE0F-101A-8BBB-00AA00300CAB", 0, 0},
    {TKIND_ALIAS, "FONTUNDERSCORE", "66504311-BE0F-101A-8BBB-00AA00300CAB", 0,
     0},
    {TKIND_ALIAS, "FONTSTRIKETHROUGH", "66504312-BE0F-101A-8BBB-00AA00300CAB",
     0, 0},
    {TKIND_INTERFACE, "IFont", "BEF6E002-A874-101A-8BBA-00AA00300CAB", 22, 0},
    {TKIND_DISPATCH, "Font", "BEF6E003-A874-101A-8BBA-00AA00300CAB", 0, 8},
    {TKIND_ALIAS, "IFontDisp", nullptr, 0, 0},
    {TKIND_COCLASS, "StdFont", "0BE35203-8F91-11CE-9DE3-00AA004BB851", 0, 0},
    {TKIND_INTERFACE, "IPicture", "7BF80980-BF32-101A-8BBB-00AA00300CAB", 15,
     0},
    {TKIND_DISPATCH, "Picture", "7BF80981-BF32-101A-8BBB-00AA00300CAB", 1, 5},
    {TKIND_ALIAS, "IPictureDisp", nullptr, 0, 0},
    {TKIND_COCLASS, "StdPicture", "0BE35204-8F91-11CE-9DE3-00AA004BB851", 0, 0},
    {TKIND_ENUM, "LoadPictureConstants", "E6C8FA08-BD9F-11D0-985E-00C04FC29993",
     0, 4},
    {TKIND_MODULE, "StdFunctions", "91209AC0-60F6-11CF-9C5D-00AA00C1489E", 2,
     0},
    {TKIND_DISPATCH, "FontEvents", "4EF6100A-AF88-11D0-9846-00C04FC29993", 1,
     0},
    {TKIND_ALIAS, "IFontEventsDisp", nullptr, 0, 0},
};
constexpr UINT kSystemCount =
    sizeof(kSystemStdole2) / sizeof(kSystemStdole2[0]);

std::string GuidText(const GUID& guid) {
  char text[40];
  snprintf(text, sizeof(text),
           "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1,
           guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
           guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
           guid.Data4[7]);
  return text;
}

// The index of a listed type by its GUID, as the system numbers them.
std::map<std::string, int32_t> SystemIndexes() {
  std::map<std::string, int32_t> indexes;
  for (UINT i = 0; i < kSystemCount; ++i) {
    if (kSystemStdole2[i].guid != nullptr)
      indexes[kSystemStdole2[i].guid] = static_cast<int32_t>(i);
  }
  return indexes;
}

// "library:index:name" of the type info a type leads to.
std::string Place(ITypeInfo* info) {
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  EXPECT_EQ(info->GetContainingTypeLib(lib.put(), &index), S_OK);
  return LibraryNameOf(info) + ":" + std::to_string(index) + ":" + NameOf(info);
}

std::string PlaceOf(ITypeInfo* context, const TYPEDESC& type) {
  const TYPEDESC* named = &type;
  while (named->vt == VT_PTR) named = named->lptdesc;
  if (named->vt != VT_USERDEFINED) return "vt " + std::to_string(named->vt);
  ComPtr<ITypeInfo> target;
  HRESULT hr = context->GetRefTypeInfo(named->hreftype, target.put());
  if (FAILED(hr)) return "unresolved " + std::to_string(hr);
  return Place(target.get());
}

class Stdole2Test : public TypeLibTest {
 protected:
  // stdole2 as an importer finds it: the platform's own, with nothing
  // registered.
  static ComPtr<ITypeLib> Stdole2() {
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadRegTypeLib(kStdole2Libid, 2, 0, 0, lib.put()), S_OK);
    return lib;
  }

  static void ExpectSystemList(ITypeLib* lib, const std::string& which) {
    ASSERT_EQ(lib->GetTypeInfoCount(), kSystemCount) << which;
    for (UINT i = 0; i < kSystemCount; ++i) {
      const Listed& listed = kSystemStdole2[i];
      ComPtr<ITypeInfo> info;
      ASSERT_EQ(lib->GetTypeInfo(i, info.put()), S_OK);
      const TYPEATTR attr = AttrOf(info.get());
      EXPECT_EQ(NameOf(info.get()), listed.name) << which << " " << i;
      EXPECT_EQ(attr.typekind, listed.kind) << which << " " << listed.name;
      EXPECT_EQ(GuidText(attr.guid),
                listed.guid != nullptr ? listed.guid : GuidText(GUID{}))
          << which << " " << listed.name;
      EXPECT_EQ(attr.cFuncs, listed.funcs) << which << " " << listed.name;
      EXPECT_EQ(attr.cVars, listed.vars) << which << " " << listed.name;
    }
  }
};

TEST_F(Stdole2Test, HoldsTheSystemLibrarysTypesInItsOrder) {
  ExpectSystemList(Stdole2().get(), "built in");
  // The files importers are compiled against, of each system kind.
  for (const char* kind : {"win32", "win64"}) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadFile(TypelibPath(kind) + "/stdole2.tlb", lib.put()), S_OK);
    ExpectSystemList(lib.get(), kind);
  }
}

// What the runtime's own records and root interfaces are to clients.
TEST_F(Stdole2Test, RecordsAndRootMembersAreKeptFromClients) {
  ComPtr<ITypeLib> lib = Stdole2();
  for (UINT record = 0; record < 3; ++record) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(record, info.put()), S_OK);
    EXPECT_NE(AttrOf(info.get()).wTypeFlags &
                  (TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED),
              0)
        << record;
  }
  for (UINT root : {3u, 4u}) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(root, info.put()), S_OK);
    for (UINT i = 0; i < AttrOf(info.get()).cFuncs; ++i) {
      FUNCDESC* desc = nullptr;
      ASSERT_EQ(info->GetFuncDesc(i, &desc), S_OK);
      EXPECT_EQ(desc->wFuncFlags, FUNCFLAG_FRESTRICTED) << root << " " << i;
      info->ReleaseFuncDesc(desc);
    }
  }
}

TEST_F(Stdole2Test, AliasesNameTheirTypes) {
  ComPtr<ITypeLib> lib = Stdole2();
  const std::map<std::string, std::string> expected = {
      {"OLE_COLOR", "vt 19"},
      {"OLE_XPOS_PIXELS", "vt 3"},
      {"OLE_YSIZE_HIMETRIC", "vt 3"},
      {"OLE_XPOS_CONTAINER", "vt 4"},
      {"OLE_HANDLE", "vt 22"},
      {"OLE_CANCELBOOL", "vt 11"},
      {"FONTNAME", "vt 8"},
      {"FONTSIZE", "vt 6"},
      {"FONTSTRIKETHROUGH", "vt 11"},
      {"IFontDisp", "stdole:31:Font"},
      {"IPictureDisp", "stdole:35:Picture"},
      {"IFontEventsDisp", "stdole:40:FontEvents"}};
  for (UINT i = 0; i < kSystemCount; ++i) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(i, info.put()), S_OK);
    auto wanted = expected.find(NameOf(info.get()));
    if (wanted == expected.end()) continue;
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(PlaceOf(info.get(), attr->tdescAlias), wanted->second)
        << wanted->first;
    info->ReleaseTypeAttr(attr);
  }
}

// The dispatch interfaces of stdole2 inherit IDispatch from the library
// itself, not from a second copy of it.
TEST_F(Stdole2Test, OwnDispatchInterfacesInheritItsIDispatch) {
  ComPtr<ITypeLib> lib = Stdole2();
  for (UINT index : {31u, 35u, 40u}) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(index, info.put()), S_OK);
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(Follow(info.get(), 0, base.put()), S_OK) << index;
    ComPtr<ITypeLib> owner;
    UINT baseIndex = 0;
    ASSERT_EQ(base->GetContainingTypeLib(owner.put(), &baseIndex), S_OK);
    EXPECT_EQ(owner.get(), lib.get()) << index;
    EXPECT_EQ(baseIndex, 4u) << index;
  }
}

class Stdole2ReferencesTest : public Stdole2Test {
 protected:
  static uint32_t Word(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    memcpy(&value, &bytes[at], sizeof(value));
    return value;
  }

  // The library rewritten as older compilers write it: every import that
  // names its type by GUID names it by its index in the system's stdole2.
  static std::vector<uint8_t> ByIndex(std::vector<uint8_t> bytes) {
    const uint32_t count = Word(bytes, 0x20);
    const size_t table = 0x54 + ((Word(bytes, 0x14) & 0x100) ? 4 : 0);
    const size_t directory = table + 4 * count;
    const uint32_t imports = Word(bytes, directory + 16 * 1);
    const uint32_t importsLength = Word(bytes, directory + 16 * 1 + 4);
    const uint32_t guids = Word(bytes, directory + 16 * 5);
    const std::map<std::string, int32_t> indexes = SystemIndexes();
    int rewritten = 0;
    for (size_t at = imports; at + 12 <= imports + importsLength; at += 12) {
      if ((bytes[at + 2] & 1) == 0) continue;
      GUID guid;
      memcpy(&guid, &bytes[guids + Word(bytes, at + 8)], sizeof(guid));
      auto index = indexes.find(GuidText(guid));
      EXPECT_NE(index, indexes.end()) << GuidText(guid);
      if (index == indexes.end()) continue;
      bytes[at + 2] &= ~1;
      memcpy(&bytes[at + 8], &index->second, sizeof(int32_t));
      ++rewritten;
    }
    EXPECT_EQ(rewritten, 6);  // all but the two types without a GUID
    return bytes;
  }

  // Every reference of the fixture's two interfaces, resolved.
  static void ExpectResolved(ITypeLib* lib) {
    ComPtr<ITypeInfo> painter;
    ASSERT_EQ(lib->GetTypeInfo(0, painter.put()), S_OK);
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(Follow(painter.get(), 0, base.put()), S_OK);
    EXPECT_EQ(Place(base.get()), "stdole:3:IUnknown");
    FUNCDESC* paint = nullptr;
    ASSERT_EQ(painter->GetFuncDesc(0, &paint), S_OK);
    std::vector<std::string> places;
    for (SHORT i = 0; i < paint->cParams; ++i)
      places.push_back(
          PlaceOf(painter.get(), paint->lprgelemdescParam[i].tdesc));
    painter->ReleaseFuncDesc(paint);
    EXPECT_EQ(places,
              (std::vector<std::string>{
                  "stdole:30:IFont", "stdole:34:IPicture", "stdole:6:OLE_COLOR",
                  "stdole:32:IFontDisp", "stdole:40:FontEvents",
                  "stdole:41:IFontEventsDisp"}));

    ComPtr<ITypeInfo> dual;
    ComPtr<ITypeInfo> vtable;
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(lib->GetTypeInfo(1, dual.put()), S_OK);
    ASSERT_EQ(Follow(dual.get(), static_cast<UINT>(-1), vtable.put()), S_OK);
    ASSERT_EQ(Follow(vtable.get(), 0, dispatch.put()), S_OK);
    EXPECT_EQ(Place(dispatch.get()), "stdole:4:IDispatch");
    // The dispatch view lists IUnknown's and IDispatch's members first.
    EXPECT_EQ(AttrOf(dual.get()).cFuncs, 3 + 4 + 1);
  }
};

// As the compiler here writes it: by GUID where the type has one, by
// index where it has none.
TEST_F(Stdole2ReferencesTest, ByGuidAndByIndexResolve) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadFile(TypelibPath("typelib_stdole_refs.tlb"), lib.put()), S_OK);
  ExpectResolved(lib.get());
}

TEST_F(Stdole2ReferencesTest, ByIndexAloneResolve) {
  const std::vector<uint8_t> bytes =
      ByIndex(ReadBytes(TypelibPath("typelib_stdole_refs.tlb")));
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(
      qxplatform::LoadTypeLibFromMemory(bytes.data(), bytes.size(), lib.put()),
      S_OK);
  ExpectResolved(lib.get());
}

}  // namespace
