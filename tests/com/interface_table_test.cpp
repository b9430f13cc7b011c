// QueryInterface from the interface tables: the rows of InstallKorvex, the
// identity rule, null and unknown requests, and the count each answer adds.
#include <stdio.h>

#include "com/com_test_support.h"
#include "com/interface_table.h"
#include "installer/install_korvex.h"

namespace {

// {9A4C1C52-7D6B-4C3E-8E0F-2B1F5D6A7C80}: an interface no object has.
constexpr IID kForeignInterface = {
    0x9A4C1C52,
    0x7D6B,
    0x4C3E,
    {0x8E, 0x0F, 0x2B, 0x1F, 0x5D, 0x6A, 0x7C, 0x80}};

// Whether address lies in a mapping of this process that cannot be written.
bool InReadOnlyMemory(const void* address) {
  FILE* maps = fopen("/proc/self/maps", "r");
  if (maps == nullptr) return false;
  const auto where = reinterpret_cast<unsigned long>(address);
  char line[512];
  bool readOnly = false;
  while (fgets(line, sizeof(line), maps) != nullptr) {
    unsigned long start = 0;
    unsigned long end = 0;
    char permissions[5] = {};
    if (sscanf(line, "%lx-%lx %4s", &start, &end, permissions) == 3 &&
        where >= start && where < end) {
      readOnly = permissions[0] == 'r' && permissions[1] == '-';
      break;
    }
  }
  fclose(maps);
  return readOnly;
}

}  // namespace

using InterfaceTableTest = ComTest;

// The tables are constant data, never written after the loader has placed
// them: nothing has to run before the first QueryInterface can be answered.
// Not visible through QueryInterface; it guards a table filled in by code
// at load, which a QueryInterface racing the library's start (or made from
// another library's start-up) would find empty.
TEST_F(InterfaceTableTest, TableIsConstantData) {
  EXPECT_TRUE(InReadOnlyMemory(InstallKorvex::Interfaces()));
}

TEST_F(InterfaceTableTest, DispatchAndInstallKorvexAreOnePointer) {
  IInstallKorvex* object = CreatePlain<IInstallKorvex>(IID_IInstallKorvex);
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IDispatch,
                                   reinterpret_cast<void**>(&dispatch)),
            S_OK);
  EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(object));
  dispatch->Release();
  object->Release();
}

TEST_F(InterfaceTableTest, IdentityIsTheSameFromEveryInterface) {
  IInstallKorvex* object = CreatePlain<IInstallKorvex>(IID_IInstallKorvex);
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety,
                                   reinterpret_cast<void**>(&safety)),
            S_OK);
  EXPECT_NE(static_cast<void*>(safety), static_cast<void*>(object));
  IUnknown* fromSafety = nullptr;
  IUnknown* fromObject = nullptr;
  ASSERT_EQ(safety->QueryInterface(IID_IUnknown,
                                   reinterpret_cast<void**>(&fromSafety)),
            S_OK);
  ASSERT_EQ(object->QueryInterface(IID_IUnknown,
                                   reinterpret_cast<void**>(&fromObject)),
            S_OK);
  EXPECT_EQ(static_cast<void*>(fromSafety), static_cast<void*>(object));
  EXPECT_EQ(fromObject, fromSafety);
  // Four references now: the creator's and three answers.
  EXPECT_EQ(safety->AddRef(), 5u);
  EXPECT_EQ(safety->Release(), 4u);
  fromSafety->Release();
  fromObject->Release();
  safety->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(InterfaceTableTest, NullOutPointerIsRefusedForEveryId) {
  IInstallKorvex* object = CreatePlain<IInstallKorvex>(IID_IInstallKorvex);
  for (const IID* iid : {&IID_IUnknown, &IID_IInstallKorvex, &IID_IDispatch,
                         &IID_IObjectSafety, &kForeignInterface}) {
    EXPECT_EQ(object->QueryInterface(*iid, nullptr), E_POINTER);
  }
  EXPECT_EQ(object->AddRef(), 2u);
  object->Release();
  object->Release();
}

TEST_F(InterfaceTableTest, UnknownInterfaceIsRefusedWithANullPointer) {
  IInstallKorvex* object = CreatePlain<IInstallKorvex>(IID_IInstallKorvex);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(kForeignInterface, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(object->Release(), 0u);
}

TEST_F(InterfaceTableTest, EachAnswerAddsOneReference) {
  IDispatch* object = CreatePlain<IDispatch>(IID_IDispatch);
  void* out = nullptr;
  ULONG expected = 1;
  for (const IID* iid : {&IID_IUnknown, &IID_IInstallKorvex, &IID_IDispatch,
                         &IID_IObjectSafety}) {
    ASSERT_EQ(object->QueryInterface(*iid, &out), S_OK);
    ++expected;
  }
  EXPECT_EQ(object->Release(), expected - 1);
  while (--expected > 1) object->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  object->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// The lookup on a table no object has, so below what a client sees: it
// guards a lookup that answers IID_IUnknown by searching the rows, which
// for a table not listing IUnknown first (or at all) would break the
// identity that the QueryInterface rules check on the real objects.
TEST_F(InterfaceTableTest, LookupAnswersIUnknownFromTheFirstRowAlone) {
  // A table whose only row names a foreign interface: IID_IUnknown still
  // gets the first row's pointer, which is the identity.
  IInstallKorvex* object = CreatePlain<IInstallKorvex>(IID_IInstallKorvex);
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety,
                                   reinterpret_cast<void**>(&safety)),
            S_OK);
  safety->Release();
  InstallKorvex* whole = static_cast<InstallKorvex*>(object);
  const InterfaceTableEntry table[] = {
      InterfaceRow<IObjectSafety, InstallKorvex>(kForeignInterface),
      kInterfaceTableEndRow,
  };
  void* out = nullptr;
  ASSERT_EQ(LookupInterface(whole, table, IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(safety));
  static_cast<IUnknown*>(out)->Release();
  EXPECT_EQ(LookupInterface(whole, table, IID_IInstallKorvex, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  object->Release();
}
