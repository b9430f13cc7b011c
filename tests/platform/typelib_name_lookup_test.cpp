// Name and member-id lookups: GetIDsOfNames finds members of every kind
// whatever the case, a type's own member before an inherited one of the
// same name unless the parameter names fit the other better, and sets every
// id it cannot find to DISPID_UNKNOWN; the by-id calls (GetNames,
// GetDocumentation, GetFuncIndexOfMemId, GetVarIndexOfMemId) agree with
// GetFuncDesc and GetVarDesc on every member, also when the first lookups
// of a type come from several threads at once; and the library's IsName
// and FindName find every type that has a name.
#include <cctype>
#include <thread>

#include "typelib_support.h"

namespace {

using namespace typelib_test;

constexpr GUID NamesGuid(uint8_t last) {
  return {0x5E1AE1D0,
          0x3F41,
          0x4C69,
          {0x9B, 0x0A, 0x2B, 0x1D, 0x0E, 0x6A, 0x03, last}};
}
constexpr uint8_t kBase = 0x01;
constexpr uint8_t kDerived = 0x02;
constexpr uint8_t kDual = 0x03;
constexpr uint8_t kDispatch = 0x04;

// The ids GetIDsOfNames gives for names, the first one the member's; ids
// start at a value no lookup gives, so that each one is seen to be set.
struct Lookup {
  HRESULT hr = E_FAIL;
  std::vector<MEMBERID> ids;
};
Lookup LookUp(ITypeInfo* info, std::vector<std::u16string> names) {
  std::vector<LPOLESTR> pointers;
  for (std::u16string& name : names) pointers.push_back(&name[0]);
  Lookup lookup;
  lookup.ids.assign(names.size(), 0x4242);
  lookup.hr = info->GetIDsOfNames(
      pointers.data(), static_cast<UINT>(pointers.size()), lookup.ids.data());
  return lookup;
}

// GetIDsOfNames for names answers hr and ids.
void ExpectIds(ITypeInfo* info, const std::vector<std::u16string>& names,
               HRESULT hr, const std::vector<MEMBERID>& ids) {
  std::string asked;
  for (const std::u16string& name : names)
    asked += " " + std::string(name.begin(), name.end());
  Lookup lookup = LookUp(info, names);
  EXPECT_EQ(lookup.hr, hr) << asked;
  EXPECT_EQ(lookup.ids, ids) << asked;
}

std::u16string Lower(const std::string& text) {
  std::u16string lower;
  for (char c : text)
    lower += static_cast<char16_t>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

class NameLookup : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    ASSERT_EQ(LoadFile(TypelibPath("typelib_names.tlb"), m_lib.put()), S_OK);
  }
  void TearDown() override {
    m_lib.reset();
    TypeLibTest::TearDown();
  }
  void Type(uint8_t last, ITypeInfo** info) {
    ASSERT_EQ(m_lib->GetTypeInfoOfGuid(NamesGuid(last), info), S_OK);
  }

  ComPtr<ITypeLib> m_lib;
};

TEST_F(NameLookup, EveryKindOfMemberIsFoundWhateverTheCase) {
  ComPtr<ITypeInfo> dual;
  ComPtr<ITypeInfo> dispatch;
  ComPtr<ITypeInfo> derived;
  Type(kDual, dual.put());
  Type(kDispatch, dispatch.put());
  Type(kDerived, derived.put());
  const struct {
    ITypeInfo* info;
    const char16_t* name;
    MEMBERID id;
  } cases[] = {
      {dual.get(), u"value", 1},  // a property's get and put
      {dual.get(), u"VALUE", 1},
      {dual.get(), u"rUn", 2},                      // a method
      {dual.get(), u"invoke", 0x60010003},          // IDispatch's
      {dual.get(), u"QUERYINTERFACE", 0x60000000},  // IUnknown's
      {dispatch.get(), u"count", 1},                // a variable
      {dispatch.get(), u"Label", 2},
      {dispatch.get(), u"FLASH", 3},
      {derived.get(), u"onlybase", 0x60010001},  // a base's method
      {derived.get(), u"size", 0x60020001},
  };
  for (const auto& c : cases) {
    Lookup lookup = LookUp(c.info, {c.name});
    const std::u16string name(c.name);
    EXPECT_EQ(lookup.hr, S_OK) << std::string(name.begin(), name.end());
    EXPECT_EQ(lookup.ids, std::vector<MEMBERID>{c.id})
        << std::string(name.begin(), name.end());
  }
}

// The derived interface's Shared hides its base's, unless the parameter
// names asked for are the base's.
TEST_F(NameLookup, OwnMemberComesBeforeTheInheritedOneOfTheSameName) {
  ComPtr<ITypeInfo> derived;
  Type(kDerived, derived.put());
  ExpectIds(derived.get(), {u"shared"}, S_OK, {0x60020000});
  ExpectIds(derived.get(), {u"SHARED", u"fromderived"}, S_OK, {0x60020000, 0});
  ExpectIds(derived.get(), {u"shared", u"FROMBASE"}, S_OK, {0x60010000, 0});
  // Neither fits: the first by that name answers, with the name it lacks.
  ExpectIds(derived.get(), {u"shared", u"other"}, DISP_E_UNKNOWNNAME,
            {0x60020000, DISPID_UNKNOWN});
  EXPECT_EQ(NamesOf(derived.get(), 0x60010000),
            (std::vector<std::string>{"Shared", "fromBase"}));
  EXPECT_EQ(NamesOf(derived.get(), 0x60020000),
            (std::vector<std::string>{"Shared", "fromDerived"}));
}

TEST_F(NameLookup, MissingNamesAreUnknownAndEveryOtherIdToo) {
  ComPtr<ITypeInfo> dual;
  ComPtr<ITypeInfo> dispatch;
  Type(kDual, dual.put());
  Type(kDispatch, dispatch.put());
  for (ITypeInfo* info : {dual.get(), dispatch.get()}) {
    ExpectIds(info, {u"nothing", u"times", u"tag"}, DISP_E_UNKNOWNNAME,
              std::vector<MEMBERID>(3, DISPID_UNKNOWN));
    // Part of a name, or more than it, is another name.
    for (const char16_t* name : {u"", u"Ru", u"Runs", u"Coun"}) {
      ExpectIds(info, {name}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN});
    }
  }
  ExpectIds(dual.get(), {u"run", u"times", u"nope"}, DISP_E_UNKNOWNNAME,
            {2, 0, DISPID_UNKNOWN});
  // A variable has no parameters to name.
  ExpectIds(dispatch.get(), {u"count", u"times"}, DISP_E_UNKNOWNNAME,
            {1, DISPID_UNKNOWN});
}

TEST_F(NameLookup, ParameterNamesInAnyOrderAndCase) {
  ComPtr<ITypeInfo> dual;
  ComPtr<ITypeInfo> vtable;
  ComPtr<ITypeInfo> derived;
  Type(kDual, dual.put());
  Type(kDerived, derived.put());
  ASSERT_EQ(Follow(dual.get(), static_cast<UINT>(-1), vtable.put()), S_OK);
  ExpectIds(dual.get(), {u"run", u"TAG", u"Times"}, S_OK, {2, 1, 0});
  // Of a property's accessors, the one whose parameters fit the most
  // names; of those that fit as many, the first.
  ExpectIds(dual.get(), {u"value", u"SLOT", u"column"}, S_OK, {1, 0, 1});
  ExpectIds(dual.get(), {u"value", u"position", u"COLUMN"}, S_OK, {1, 0, 1});
  ExpectIds(dual.get(), {u"value", u"position", u"slot"}, DISP_E_UNKNOWNNAME,
            {1, DISPID_UNKNOWN, 0});
  ExpectIds(dual.get(), {u"value", u"column", u"position"}, S_OK, {1, 1, 0});
  // The value a put assigns has no name in the library.
  ExpectIds(dual.get(), {u"value", u"newvalue"}, DISP_E_UNKNOWNNAME,
            {1, DISPID_UNKNOWN});
  // A retval parameter has its name only in the vtable view.
  ExpectIds(dual.get(), {u"run", u"done"}, DISP_E_UNKNOWNNAME,
            {2, DISPID_UNKNOWN});
  ExpectIds(vtable.get(), {u"run", u"done"}, S_OK, {2, 2});
  ExpectIds(derived.get(), {u"onlybase", u"second", u"first"}, S_OK,
            {0x60010001, 1, 0});
}

TEST_F(NameLookup, VariablesByIdAndByName) {
  ComPtr<ITypeInfo> dispatch;
  Type(kDispatch, dispatch.put());
  ComPtr<ITypeInfo2> dispatch2;
  ASSERT_EQ(dispatch->QueryInterface(IID_ITypeInfo2,
                                     reinterpret_cast<void**>(dispatch2.put())),
            S_OK);
  UINT index = 99;
  ASSERT_EQ(dispatch2->GetVarIndexOfMemId(2, &index), S_OK);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(dispatch2->GetVarIndexOfMemId(3, &index), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(NamesOf(dispatch.get(), 2), std::vector<std::string>{"Label"});
  EXPECT_EQ(NameOf(dispatch.get(), 2), "Label");
  EXPECT_EQ(NamesOf(dispatch.get(), 3),
            (std::vector<std::string>{"Flash", "times"}));
  BSTR name = nullptr;
  EXPECT_EQ(dispatch->GetDocumentation(4, &name, nullptr, nullptr, nullptr),
            TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(name, nullptr);
  UINT count = 5;
  EXPECT_EQ(dispatch->GetNames(4, &name, 1, &count), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(count, 0u);
}

// The library's searches: IsName knows parameters' names as well, FindName
// only types and members, each once, in the library's order.
TEST_F(NameLookup, LibrarySearchesFindEveryTypeWithTheName) {
  char16_t parameter[] = u"TIMES";
  BOOL isName = FALSE;
  ASSERT_EQ(m_lib->IsName(parameter, 0, &isName), S_OK);
  EXPECT_TRUE(isName);
  EXPECT_EQ(std::u16string(parameter), u"times");
  ITypeInfo* infos[4] = {};
  MEMBERID ids[4] = {};
  USHORT count = 4;
  ASSERT_EQ(m_lib->FindName(parameter, 0, infos, ids, &count), S_OK);
  EXPECT_EQ(count, 0);

  char16_t shared[] = u"SHARED";
  count = 4;
  ASSERT_EQ(m_lib->FindName(shared, 0, infos, ids, &count), S_OK);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(AttrOf(infos[0]).guid, NamesGuid(kBase));
  EXPECT_EQ(ids[0], 0x60010000);
  EXPECT_EQ(AttrOf(infos[1]).guid, NamesGuid(kDerived));
  EXPECT_EQ(ids[1], 0x60020000);
  EXPECT_EQ(std::u16string(shared), u"Shared");
  for (USHORT i = 0; i < count; ++i) infos[i]->Release();
  // As many as asked for.
  count = 1;
  ASSERT_EQ(m_lib->FindName(shared, 0, infos, ids, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(ids[0], 0x60010000);
  infos[0]->Release();
  // A property's get and put are one finding.
  char16_t value[] = u"value";
  count = 4;
  ASSERT_EQ(m_lib->FindName(value, 0, infos, ids, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(AttrOf(infos[0]).guid, NamesGuid(kDual));
  EXPECT_EQ(ids[0], 1);
  infos[0]->Release();
  char16_t missing[] = u"Nowhere";
  ASSERT_EQ(m_lib->IsName(missing, 0, &isName), S_OK);
  EXPECT_FALSE(isName);
  count = 4;
  ASSERT_EQ(m_lib->FindName(missing, 0, infos, ids, &count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(std::u16string(missing), u"Nowhere");
}

// Every member of every view of a library, as GetFuncDesc and GetVarDesc
// number them, is what the lookups by id and by name lead back to.
void ExpectLookupsAgree(ITypeInfo* info) {
  ComPtr<ITypeInfo2> info2;
  ASSERT_EQ(info->QueryInterface(IID_ITypeInfo2,
                                 reinterpret_cast<void**>(info2.put())),
            S_OK);
  TYPEATTR attr = AttrOf(info);
  const std::string type = NameOf(info);
  std::vector<std::pair<MEMBERID, INVOKEKIND>> seen;
  for (UINT i = 0; i < attr.cFuncs; ++i) {
    Func func = FuncOf(info, i);
    SCOPED_TRACE(type + " function " + std::to_string(i));
    // The first function with its id and kind.
    UINT first = 0;
    while (first < i && seen[first] != std::make_pair(func.memid, func.invkind))
      ++first;
    seen.emplace_back(func.memid, func.invkind);
    UINT index = 0;
    ASSERT_EQ(info2->GetFuncIndexOfMemId(func.memid, func.invkind, &index),
              S_OK);
    EXPECT_EQ(index, first);
    const std::string name = NameOf(info, func.memid);
    ASSERT_FALSE(NamesOf(info, func.memid).empty());
    EXPECT_EQ(NamesOf(info, func.memid)[0], name);
    // By name, a member of that name, whichever comes first.
    Lookup lookup = LookUp(info, {Lower(name)});
    ASSERT_EQ(lookup.hr, S_OK);
    EXPECT_TRUE(SameIgnoringCase(NameOf(info, lookup.ids[0]), name));
  }
  for (UINT i = 0; i < attr.cVars; ++i) {
    VARDESC* var = nullptr;
    ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
    const MEMBERID memid = var->memid;
    info->ReleaseVarDesc(var);
    UINT index = 99;
    EXPECT_EQ(info2->GetVarIndexOfMemId(memid, &index), S_OK);
    EXPECT_EQ(index, i);
    ExpectIds(info, {Lower(NameOf(info, memid))}, S_OK, {memid});
  }
}

void ExpectLibraryLookupsAgree(ITypeLib* lib) {
  for (UINT t = 0; t < lib->GetTypeInfoCount(); ++t) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(t, info.put()), S_OK);
    ExpectLookupsAgree(info.get());
    ComPtr<ITypeInfo> vtable;
    if (Follow(info.get(), static_cast<UINT>(-1), vtable.put()) == S_OK)
      ExpectLookupsAgree(vtable.get());
  }
}

TEST_F(NameLookup, EveryMemberLeadsBackToItself) {
  ExpectLibraryLookupsAgree(m_lib.get());
  for (const char* name : {"typelib_features.tlb", "typelib_dispinterface.tlb",
                           "stdole2.tlb", "qxKorvex.tlb"}) {
    SCOPED_TRACE(name);
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadFile(TypelibPath(name), lib.put()), S_OK);
    ExpectLibraryLookupsAgree(lib.get());
  }
}

// A type's first lookups, made from several threads at once on a library
// no one has looked into yet, all see every member.
TEST_F(NameLookup, FirstLookupsFromSeveralThreadsAgree) {
  ComPtr<ITypeInfo> dual;
  Type(kDual, dual.put());
  constexpr int kThreads = 4;
  std::vector<Lookup> results[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&dual, &results, t] {
      for (const char16_t* name :
           {u"run", u"value", u"invoke", u"release", u"missing"})
        results[t].push_back(LookUp(dual.get(), {name}));
      UINT index = 0;
      ComPtr<ITypeInfo2> info2;
      if (dual->QueryInterface(IID_ITypeInfo2,
                               reinterpret_cast<void**>(info2.put())) == S_OK &&
          info2->GetFuncIndexOfMemId(2, INVOKE_FUNC, &index) == S_OK)
        results[t].push_back({S_OK, {static_cast<MEMBERID>(index)}});
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::pair<HRESULT, MEMBERID>> expected = {
      {S_OK, 2},
      {S_OK, 1},
      {S_OK, 0x60010003},
      {S_OK, 0x60000002},
      {DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {S_OK, 9}};  // IUnknown's 3 and IDispatch's 4, the get and put, Run
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(results[t].size(), expected.size()) << t;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(results[t][i].hr, expected[i].first) << t << " " << i;
      EXPECT_EQ(results[t][i].ids, std::vector<MEMBERID>{expected[i].second})
          << t << " " << i;
    }
  }
}

}  // namespace
