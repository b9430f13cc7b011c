// IDispatch from the type library: the type information loaded once per
// process from the registered library, names answered from the cache when
// spelt exactly, everything else by the type information, and a library
// that is not registered yet failing each call until it is.
#include <thread>

#include "base/holders.h"
#include "com/com_test_support.h"

namespace {

LPOLESTR Name(const char16_t* text) { return const_cast<LPOLESTR>(text); }

}  // namespace

class DispatchTest : public ComTest {
 protected:
  static void RegisterTypeLibrary() {
    const std::string path = QX_TYPELIB_DIR "/qxKorvex.tlb";
    const std::u16string wide(path.begin(), path.end());
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(wide.c_str(), REGKIND_REGISTER, lib.put()), S_OK);
  }
  IDispatch* Create() { return CreatePlain<IDispatch>(IID_IDispatch); }
};

TEST_F(DispatchTest, ExactNameComesFromTheCache) {
  RegisterTypeLibrary();
  IDispatch* object = Create();
  LPOLESTR names[] = {Name(u"install")};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, kDispidInstall);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(qxplatform::TypeInfoNameLookups(), 0);
  EXPECT_EQ(qxplatform::RegisteredTypeLibLoads(), 1);
  object->Release();
}

TEST_F(DispatchTest, OtherNamesGoToTheTypeInformation) {
  RegisterTypeLibrary();
  IDispatch* object = Create();
  LPOLESTR upper[] = {Name(u"INSTALL")};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, upper, 1, 0, &id), S_OK);
  EXPECT_EQ(id, kDispidInstall);
  EXPECT_EQ(qxplatform::TypeInfoNameLookups(), 1);

  LPOLESTR unknown[] = {Name(u"uninstall")};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id),
            DISP_E_UNKNOWNNAME);

  // No names: nothing to do, nothing written.
  id = 42;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknown, 0, 0, &id), S_OK);
  EXPECT_EQ(id, 42);
  object->Release();
}

// A request the name cache cannot read or write is answered by the type
// information, as an unknown name is: a null name, a null name array or a
// null id array with names to look up is its E_INVALIDARG, not a crash.
TEST_F(DispatchTest, NullNamesAndIdsGetTheTypeInformationsStatus) {
  RegisterTypeLibrary();
  IDispatch* object = Create();
  LPOLESTR none[] = {nullptr};
  LPOLESTR secondNone[] = {Name(u"install"), nullptr};
  LPOLESTR install[] = {Name(u"install")};
  DISPID ids[2] = {7, 7};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, none, 1, 0, ids), E_INVALIDARG);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, secondNone, 2, 0, ids),
            E_INVALIDARG);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nullptr, 1, 0, ids), E_INVALIDARG);
  // Once the cache holds "install" as well.
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, install, 1, 0, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, none, 1, 0, ids), E_INVALIDARG);

  // The same arguments, straight to the type information.
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, 0, info.put()), S_OK);
  EXPECT_EQ(info->GetIDsOfNames(none, 1, ids), E_INVALIDARG);
  EXPECT_EQ(info->GetIDsOfNames(install, 1, nullptr), E_INVALIDARG);

  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, install, 1, 0, ids), S_OK);
  EXPECT_EQ(ids[0], kDispidInstall);
  object->Release();
}

TEST_F(DispatchTest, EveryIndexGivesTheOneTypeInformation) {
  RegisterTypeLibrary();
  IDispatch* object = Create();
  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> first;
  ComPtr<ITypeInfo> fifth;
  EXPECT_EQ(object->GetTypeInfo(0, 0, first.put()), S_OK);
  EXPECT_EQ(object->GetTypeInfo(5, 0x409, fifth.put()), S_OK);
  EXPECT_EQ(first.get(), fifth.get());
  EXPECT_EQ(object->GetTypeInfo(0, 0, nullptr), E_POINTER);
  object->Release();
}

TEST_F(DispatchTest, UnregisteredLibraryFailsEachCallUntilRegistered) {
  IDispatch* object = Create();
  const long loadsBefore = qxplatform::RegisteredTypeLibLoads();
  const long blocksBefore = qxplatform::LiveHeapBlocks();
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(object->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(info, nullptr);
  LPOLESTR names[] = {Name(u"install")};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id),
            TYPE_E_LIBNOTREGISTERED);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(object->Invoke(kDispidInstall, IID_NULL, 0, DISPATCH_METHOD, &none,
                           nullptr, nullptr, nullptr),
            TYPE_E_LIBNOTREGISTERED);
  // Nothing failing is remembered: each call looks the library up again,
  // and each attempt registers one clean-up for the library's unload (a
  // block of its heap, given back at detach).
  EXPECT_EQ(qxplatform::RegisteredTypeLibLoads(), loadsBefore + 3);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore + 3);

  RegisterTypeLibrary();
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, kDispidInstall);
  object->Release();
}

TEST_F(DispatchTest, ThreadsLoadingAtOnceLoadOnce) {
  RegisterTypeLibrary();
  DISPID ids[2] = {};
  HRESULT results[2] = {E_FAIL, E_FAIL};
  IDispatch* objects[2] = {Create(), Create()};
  std::thread threads[2];
  for (int i = 0; i < 2; ++i) {
    threads[i] = std::thread([&, i] {
      LPOLESTR names[] = {Name(u"install")};
      results[i] = objects[i]->GetIDsOfNames(IID_NULL, names, 1, 0, &ids[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(results[i], S_OK);
    EXPECT_EQ(ids[i], kDispidInstall);
    objects[i]->Release();
  }
  EXPECT_EQ(qxplatform::RegisteredTypeLibLoads(), 1);
}

// What a script's o.install() does: a method call whose result is used.
TEST_F(DispatchTest, InvokeOfInstallGivesTheStatus) {
  RegisterTypeLibrary();
  IDispatch* object = Create();
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(object->Invoke(kDispidInstall, IID_NULL, 0,
                           DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                           &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 0);  // the provider is present
  VariantClear(&result);
  object->Release();
}

TEST_F(DispatchTest, InvokeReachesTheContainedObjectOfAnAggregate) {
  RegisterTypeLibrary();
  IClassFactory* factory = Factory();
  OuterObject outer;
  ASSERT_EQ(outer.Aggregate(factory), S_OK);
  IDispatch* contained = nullptr;
  ASSERT_EQ(outer.m_inner->QueryInterface(
                IID_IDispatch, reinterpret_cast<void**>(&contained)),
            S_OK);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(contained->Invoke(kDispidInstall, IID_NULL, 0, DISPATCH_METHOD,
                              &none, &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 0);
  contained->Release();
  outer.ReleaseInner();
  factory->Release();
}
