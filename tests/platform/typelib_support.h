// Shared by the type-library tests: where the built libraries are, and
// readers that copy a description out and release it, so a test states what
// it expects in plain values.
#pragma once
#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/holders.h"
#include "installer/iinstall_korvex.h"
#include "support/platform_fixture.h"

namespace typelib_test {

inline std::string TypelibPath(const char* name) {
  return std::string(QX_TYPELIB_DIR) + "/" + name;
}
inline std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}
inline std::string Narrow(const BSTR text) {
  std::string result;
  for (UINT i = 0; text != nullptr && i < SysStringLen(text); ++i)
    result += static_cast<char>(text[i]);
  return result;
}
inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// The product's identifiers, as its interface header gives them.
inline constexpr const GUID& kProductLibid = LIBID_QXKORVEXLib;
inline constexpr const GUID& kInstallKorvexClsid = CLSID_InstallKorvex;
inline constexpr const GUID& kIInstallKorvex = IID_IInstallKorvex;
constexpr GUID kStdole2Libid = {
    0x00020430,
    0x0000,
    0x0000,
    {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The feature fixture's GUIDs end in a distinct last byte.
constexpr GUID FeatureGuid(uint8_t last) {
  return {0x5E1AE1D0,
          0x3F41,
          0x4C69,
          {0x9B, 0x0A, 0x2B, 0x1D, 0x0E, 0x6A, 0x01, last}};
}

inline HRESULT LoadFile(const std::string& path, ITypeLib** lib) {
  return LoadTypeLibEx(Wide(path).c_str(), REGKIND_NONE, lib);
}

// A type info's attributes, copied.
inline TYPEATTR AttrOf(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  TYPEATTR copy = {};
  EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
  if (attr == nullptr) return copy;
  copy = *attr;
  copy.tdescAlias = {};
  info->ReleaseTypeAttr(attr);
  return copy;
}

// A function's shape, copied out of its FUNCDESC.
struct Func {
  MEMBERID memid = 0;
  FUNCKIND funckind = FUNC_VIRTUAL;
  INVOKEKIND invkind = INVOKE_FUNC;
  CALLCONV callconv = CC_CDECL;
  SHORT oVft = 0;
  SHORT cParamsOpt = 0;
  VARTYPE result = VT_EMPTY;
  std::vector<VARTYPE> paramTypes;  // the top VT of each parameter
  std::vector<USHORT> paramFlags;
};

inline Func FuncOf(ITypeInfo* info, UINT index) {
  FUNCDESC* desc = nullptr;
  Func func;
  EXPECT_EQ(info->GetFuncDesc(index, &desc), S_OK);
  if (desc == nullptr) return func;
  func.memid = desc->memid;
  func.funckind = desc->funckind;
  func.invkind = desc->invkind;
  func.callconv = desc->callconv;
  func.oVft = desc->oVft;
  func.cParamsOpt = desc->cParamsOpt;
  func.result = desc->elemdescFunc.tdesc.vt;
  for (SHORT i = 0; i < desc->cParams; ++i) {
    func.paramTypes.push_back(desc->lprgelemdescParam[i].tdesc.vt);
    func.paramFlags.push_back(desc->lprgelemdescParam[i].paramdesc.wParamFlags);
  }
  info->ReleaseFuncDesc(desc);
  return func;
}

inline std::string NameOf(ITypeInfo* info, MEMBERID memid = MEMBERID_NIL) {
  BSTR name = nullptr;
  EXPECT_EQ(info->GetDocumentation(memid, &name, nullptr, nullptr, nullptr),
            S_OK);
  std::string text = Narrow(name);
  SysFreeString(name);
  return text;
}

inline std::vector<std::string> NamesOf(ITypeInfo* info, MEMBERID memid) {
  BSTR names[8] = {};
  UINT count = 0;
  EXPECT_EQ(info->GetNames(memid, names, 8, &count), S_OK);
  std::vector<std::string> result;
  for (UINT i = 0; i < count; ++i) {
    result.push_back(Narrow(names[i]));
    SysFreeString(names[i]);
  }
  return result;
}

// The type info an href of info leads to.
inline HRESULT Follow(ITypeInfo* info, UINT implIndex, ITypeInfo** target) {
  HREFTYPE href = 0;
  HRESULT hr = info->GetRefTypeOfImplType(implIndex, &href);
  return FAILED(hr) ? hr : info->GetRefTypeInfo(href, target);
}

inline std::string LibraryNameOf(ITypeInfo* info) {
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  EXPECT_EQ(info->GetContainingTypeLib(lib.put(), &index), S_OK);
  BSTR name = nullptr;
  EXPECT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  std::string text = Narrow(name);
  SysFreeString(name);
  return text;
}

class TypeLibTest : public PlatformTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
    EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
    PlatformTest::TearDown();
  }
};

}  // namespace typelib_test
