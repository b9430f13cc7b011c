// ITypeInfo::Invoke on a dual interface, through its dispatch view, its
// vtable view and the object's own IDispatch: binding (reverse order,
// named, defaults (null objects among them), optional), coercion and its
// failures, properties, references, results, failures as exceptions; and
// the product's install.
#include <atomic>
#include <thread>
#include <vector>

#include "install_stand_in.h"
#include "invoke_target.h"

namespace {

using namespace invoke_test;
using namespace typelib_test;

VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT Double(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

// A BSTR variant the caller owns: the test clears it.
VARIANT Text(const char16_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

// Arguments as a caller writes them, first to last; held reversed as
// DISPPARAMS wants them, named ones (with their ids) at the front.
class Args {
 public:
  Args(std::vector<VARIANT> positional,
       std::vector<std::pair<DISPID, VARIANT>> named = {}) {
    for (auto& entry : named) {
      m_values.push_back(entry.second);
      m_ids.push_back(entry.first);
    }
    for (auto it = positional.rbegin(); it != positional.rend(); ++it)
      m_values.push_back(*it);
    m_params = {m_values.data(), m_ids.data(),
                static_cast<UINT>(m_values.size()),
                static_cast<UINT>(m_ids.size())};
  }
  ~Args() {
    for (VARIANT& value : m_values) VariantClear(&value);
  }
  DISPPARAMS* get() { return &m_params; }
  VARIANT& at(size_t rgvargIndex) { return m_values[rgvargIndex]; }

 private:
  std::vector<VARIANT> m_values;
  std::vector<DISPID> m_ids;
  DISPPARAMS m_params;
};

class InvokeTest : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    ASSERT_EQ(LoadFile(TypelibPath("invoke_target.tlb"), m_lib.put()), S_OK);
    ASSERT_EQ(m_lib->GetTypeInfoOfGuid(kIInvokeTarget, m_dispatch.put()), S_OK);
    ASSERT_EQ(Follow(m_dispatch.get(), static_cast<UINT>(-1), m_vtable.put()),
              S_OK);
    m_target = new InvokeTarget(m_dispatch.get());
    VariantInit(&m_result);
  }
  void TearDown() override {
    VariantClear(&m_result);
    // Null when the library did not load.
    if (m_target != nullptr) {
      EXPECT_EQ(m_target->m_references, 1u);
    }
    delete m_target;
    m_vtable.reset();
    m_dispatch.reset();
    m_lib.reset();
    TypeLibTest::TearDown();
  }

  HRESULT Call(ITypeInfo* info, DISPID member, WORD flags, Args& args) {
    VariantClear(&m_result);
    m_argErr = 99;
    return info->Invoke(static_cast<IInvokeTarget*>(m_target), member, flags,
                        args.get(), &m_result, /*pExcepInfo=*/nullptr,
                        &m_argErr);
  }
  HRESULT Call(DISPID member, WORD flags, Args& args) {
    return Call(m_dispatch.get(), member, flags, args);
  }

  ComPtr<ITypeLib> m_lib;
  ComPtr<ITypeInfo> m_dispatch;
  ComPtr<ITypeInfo> m_vtable;
  InvokeTarget* m_target = nullptr;
  VARIANT m_result;
  UINT m_argErr = 99;
};

TEST_F(InvokeTest, BothViewsAndTheObjectCallTheVtableWithCoercedArguments) {
  Args args({Text(u" 12 "), Double(2.5)});  // a = "12", b = 2.5 -> 2
  for (ITypeInfo* info : {m_dispatch.get(), m_vtable.get()}) {
    ASSERT_EQ(Call(info, 1, DISPATCH_METHOD, args), S_OK);
    EXPECT_EQ(m_result.vt, VT_I4);
    EXPECT_EQ(m_result.lVal, 14);
  }
  VariantClear(&m_result);
  ASSERT_EQ(m_target->Invoke(1, GUID{}, 0, DISPATCH_METHOD, args.get(),
                             &m_result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(m_result.lVal, 14);
  // The arguments are the caller's still, unchanged.
  EXPECT_EQ(args.at(1).vt, VT_BSTR);
  EXPECT_EQ(args.at(0).dblVal, 2.5);
}

TEST_F(InvokeTest, CoercionFailureNamesTheArgumentInRgvarg) {
  Args mismatch({Text(u"abc"), Long(1)});
  EXPECT_EQ(Call(1, DISPATCH_METHOD, mismatch), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(m_argErr, 1u);
  Args overflow({Long(1), Double(3e10)});
  EXPECT_EQ(Call(1, DISPATCH_METHOD, overflow), DISP_E_OVERFLOW);
  EXPECT_EQ(m_argErr, 0u);
  Args shortOverflow({Long(40000), Long(1)});
  EXPECT_EQ(Call(1, DISPATCH_METHOD, shortOverflow), DISP_E_OVERFLOW);
  EXPECT_EQ(m_argErr, 1u);
  EXPECT_EQ(m_result.vt, VT_EMPTY);
}

TEST_F(InvokeTest, ArgumentCountExcludesTheResult) {
  Args tooMany({Long(1), Long(2), Long(3)});
  EXPECT_EQ(Call(1, DISPATCH_METHOD, tooMany), DISP_E_BADPARAMCOUNT);
  Args tooFew({Long(1)});
  EXPECT_EQ(Call(1, DISPATCH_METHOD, tooFew), DISP_E_BADPARAMCOUNT);
  Args none({});
  EXPECT_EQ(Call(5, DISPATCH_METHOD, none), DISP_E_BADPARAMCOUNT);
}

// A function that cannot be called still binds its arguments in order: the
// caller hears about its own mistakes first, then why the call cannot be
// made, on every call alike.
TEST_F(InvokeTest, UncallableFunctionReportsArgumentErrorsFirst) {
  for (int round = 0; round < 2; ++round) {
    Args badFirst({Text(u"abc"), Long(2)});
    EXPECT_EQ(Call(11, DISPATCH_METHOD, badFirst), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(m_argErr, 1u);
    Args tooFew({Long(1)});
    EXPECT_EQ(Call(11, DISPATCH_METHOD, tooFew), DISP_E_BADPARAMCOUNT);
    Args tooMany({Long(1), Long(2), Long(3)});
    EXPECT_EQ(Call(11, DISPATCH_METHOD, tooMany), DISP_E_BADPARAMCOUNT);
    Args arrayNamed({Long(1)}, {{2, Long(2)}});
    EXPECT_EQ(Call(11, DISPATCH_METHOD, arrayNamed), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(m_argErr, 0u);
    Args sound({Long(1), Long(2)});
    EXPECT_EQ(Call(11, DISPATCH_METHOD, sound), DISP_E_BADVARTYPE);
    EXPECT_EQ(m_argErr, 0u);
    EXPECT_EQ(m_result.vt, VT_EMPTY);
  }
}

TEST_F(InvokeTest, FlagsMustNameTheMembersKind) {
  Args args({Long(1), Long(2)});
  EXPECT_EQ(Call(99, DISPATCH_METHOD, args), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYGET, args), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, args), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args), S_OK);
  EXPECT_EQ(m_result.lVal, 3);
  Args none({});
  EXPECT_EQ(Call(6, DISPATCH_METHOD, none), DISP_E_MEMBERNOTFOUND);
}

TEST_F(InvokeTest, PropertyPutTakesTheNamedValueAndGetReturnsIt) {
  Args put({}, {{DISPID_PROPERTYPUT, Text(u"5")}});
  ASSERT_EQ(Call(6, DISPATCH_PROPERTYPUT, put), S_OK);
  EXPECT_EQ(m_target->m_level, 5);
  EXPECT_EQ(m_result.vt, VT_EMPTY);
  Args get({});
  ASSERT_EQ(Call(6, DISPATCH_PROPERTYGET, get), S_OK);
  EXPECT_EQ(m_result.vt, VT_I4);
  EXPECT_EQ(m_result.lVal, 5);
  // DISPID_PROPERTYPUT names nothing of a method.
  Args misnamed({Long(1)}, {{DISPID_PROPERTYPUT, Long(2)}});
  EXPECT_EQ(Call(1, DISPATCH_METHOD, misnamed), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(m_argErr, 0u);
}

TEST_F(InvokeTest, NamedArgumentsDefaultsAndOptionalParameters) {
  Args defaults({Long(3)});
  ASSERT_EQ(Call(5, DISPATCH_METHOD, defaults), S_OK);
  EXPECT_EQ(m_result.lVal, 307);
  EXPECT_EQ(m_target->m_lastThird, VT_ERROR);
  EXPECT_EQ(m_target->m_lastThirdCode, DISP_E_PARAMNOTFOUND);

  Args third({Long(3)}, {{2, Text(u"x")}});
  ASSERT_EQ(Call(5, DISPATCH_METHOD, third), S_OK);
  EXPECT_EQ(m_result.lVal, 307);
  EXPECT_EQ(m_target->m_lastThird, VT_BSTR);

  // A left-out marker takes the default too.
  VARIANT missing;
  VariantInit(&missing);
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  Args marked({Long(4), missing});
  ASSERT_EQ(Call(5, DISPATCH_METHOD, marked), S_OK);
  EXPECT_EQ(m_result.lVal, 407);

  Args byName({}, {{1, Long(9)}, {0, Long(2)}});
  ASSERT_EQ(Call(5, DISPATCH_METHOD, byName), S_OK);
  EXPECT_EQ(m_result.lVal, 209);

  Args unknownName({Long(1)}, {{5, Long(9)}});
  EXPECT_EQ(Call(5, DISPATCH_METHOD, unknownName), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(m_argErr, 0u);
  Args twice({Long(1)}, {{0, Long(9)}});
  EXPECT_EQ(Call(5, DISPATCH_METHOD, twice), DISP_E_PARAMNOTFOUND);
  Args requiredSkipped({}, {{1, Long(9)}});
  EXPECT_EQ(Call(5, DISPATCH_METHOD, requiredSkipped), DISP_E_PARAMNOTOPTIONAL);
}

// defaultvalue(0) on an object parameter is stored as a null object
// constant: the library loads, describes the default, and a call that
// leaves the objects out passes null for them.
TEST_F(InvokeTest, NullObjectDefaultsAreDescribedAndPassed) {
  UINT index = 0;
  ComPtr<ITypeInfo2> dispatch2;
  ASSERT_EQ(m_dispatch->QueryInterface(
                IID_ITypeInfo2, reinterpret_cast<void**>(dispatch2.put())),
            S_OK);
  ASSERT_EQ(dispatch2->GetFuncIndexOfMemId(10, INVOKE_FUNC, &index), S_OK);
  FUNCDESC* count = nullptr;
  ASSERT_EQ(m_dispatch->GetFuncDesc(index, &count), S_OK);
  ASSERT_EQ(count->cParams, 2);
  const VARTYPE kinds[] = {VT_DISPATCH, VT_UNKNOWN};
  for (SHORT i = 0; i < 2; ++i) {
    const PARAMDESC& param = count->lprgelemdescParam[i].paramdesc;
    EXPECT_EQ(param.wParamFlags,
              PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
    ASSERT_NE(param.pparamdescex, nullptr);
    EXPECT_EQ(param.pparamdescex->varDefaultValue.vt, kinds[i]);
    EXPECT_EQ(param.pparamdescex->varDefaultValue.punkVal, nullptr);
  }
  m_dispatch->ReleaseFuncDesc(count);

  Args none({});
  ASSERT_EQ(Call(10, DISPATCH_METHOD, none), S_OK);
  EXPECT_EQ(m_result.vt, VT_I4);
  EXPECT_EQ(m_result.lVal, 0);
  VARIANT object;
  VariantInit(&object);
  object.vt = VT_DISPATCH;
  object.pdispVal = static_cast<IInvokeTarget*>(m_target);
  m_target->AddRef();
  Args one({object});
  ASSERT_EQ(Call(10, DISPATCH_METHOD, one), S_OK);
  EXPECT_EQ(m_result.lVal, 1);
}

TEST_F(InvokeTest, FailingMethodBecomesAnException) {
  Args args({Long(E_ACCESSDENIED)});
  EXCEPINFO info;
  memset(&info, 0xCC, sizeof(info));
  EXPECT_EQ(m_dispatch->Invoke(static_cast<IInvokeTarget*>(m_target), 7,
                               DISPATCH_METHOD, args.get(), &m_result, &info,
                               nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, E_ACCESSDENIED);
  EXPECT_EQ(info.wCode, 0);
  EXPECT_EQ(info.bstrSource, nullptr);
  EXPECT_EQ(info.bstrDescription, nullptr);
  EXPECT_EQ(info.pfnDeferredFillIn, nullptr);
  EXPECT_EQ(Call(7, DISPATCH_METHOD, args), DISP_E_EXCEPTION);
  Args success({Long(S_FALSE)});
  EXPECT_EQ(Call(7, DISPATCH_METHOD, success), S_OK);
}

TEST_F(InvokeTest, TextBooleansAndObjectsReachTheirParameters) {
  Args greet({Long(42)});
  ASSERT_EQ(Call(3, DISPATCH_METHOD, greet), S_OK);
  ASSERT_EQ(m_result.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(m_result.bstrVal), u"Hello, 42");

  Args scale({Text(u"1.5"), Text(u"True")});
  ASSERT_EQ(Call(2, DISPATCH_METHOD, scale), S_OK);
  EXPECT_EQ(m_target->m_lastNegate, VARIANT_TRUE);
  EXPECT_EQ(m_result.vt, VT_R8);
  EXPECT_EQ(m_result.dblVal, -1.5);

  VARIANT object;
  VariantInit(&object);
  object.vt = VT_UNKNOWN;
  object.punkVal = static_cast<IInvokeTarget*>(m_target);
  m_target->AddRef();
  Args hold({object});
  ASSERT_EQ(Call(4, DISPATCH_METHOD, hold), S_OK);
  EXPECT_EQ(m_result.lVal, 1);
  EXPECT_EQ(m_target->m_lastHeld, static_cast<IDispatch*>(m_target));
  Args notObject({Text(u"x")});
  EXPECT_EQ(Call(4, DISPATCH_METHOD, notObject), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(m_argErr, 0u);
}

TEST_F(InvokeTest, ReferencesWriteThroughAndObjectResultsAreCounted) {
  LONG value = 21;
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_I4;
  reference.plVal = &value;
  Args byRef({reference});
  ASSERT_EQ(Call(8, DISPATCH_METHOD, byRef), S_OK);
  EXPECT_EQ(value, 42);
  Args byValue({Text(u"5")});
  ASSERT_EQ(Call(8, DISPATCH_METHOD, byValue), S_OK);
  EXPECT_EQ(byValue.at(0).vt, VT_BSTR);
  VARIANT wrong;
  VariantInit(&wrong);
  wrong.vt = VT_BYREF | VT_I2;
  SHORT shortValue = 1;
  wrong.piVal = &shortValue;
  Args wrongRef({wrong});
  EXPECT_EQ(Call(8, DISPATCH_METHOD, wrongRef), DISP_E_TYPEMISMATCH);

  Args none({});
  ASSERT_EQ(Call(9, DISPATCH_METHOD, none), S_OK);
  ASSERT_EQ(m_result.vt, VT_DISPATCH);
  EXPECT_EQ(m_result.pdispVal, static_cast<IDispatch*>(m_target));
  EXPECT_EQ(m_target->m_references, 2u);
  VariantClear(&m_result);
  // Without a place for the result it is released.
  EXPECT_EQ(m_dispatch->Invoke(static_cast<IInvokeTarget*>(m_target), 9,
                               DISPATCH_METHOD, none.get(), nullptr, nullptr,
                               nullptr),
            S_OK);
}

TEST_F(InvokeTest, MalformedCallsAreRejected) {
  Args args({Long(1), Long(2)});
  void* instance = static_cast<IInvokeTarget*>(m_target);
  EXPECT_EQ(m_dispatch->Invoke(instance, 1, DISPATCH_METHOD, nullptr, &m_result,
                               nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(m_dispatch->Invoke(nullptr, 1, DISPATCH_METHOD, args.get(),
                               &m_result, nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS moreNamesThanArgs = {nullptr, nullptr, 0, 1};
  EXPECT_EQ(m_dispatch->Invoke(instance, 1, DISPATCH_METHOD, &moreNamesThanArgs,
                               &m_result, nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS noArray = {nullptr, nullptr, 2, 0};
  EXPECT_EQ(m_dispatch->Invoke(instance, 1, DISPATCH_METHOD, &noArray,
                               &m_result, nullptr, nullptr),
            E_INVALIDARG);
}

// Threads that make a member's first calls together share one prepared
// call, and every call binds its own arguments.
TEST_F(InvokeTest, ThreadsCallingTogetherEachGetTheirOwnResult) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
  std::atomic<int> ready{0};
  std::atomic<int> wrong{0};
  void* instance = static_cast<IInvokeTarget*>(m_target);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kCalls; ++i) {
        ITypeInfo* info = (i + t) % 2 == 0 ? m_dispatch.get() : m_vtable.get();
        Args add({Long(t), Long(i)});
        VARIANT sum;
        VariantInit(&sum);
        if (info->Invoke(instance, 1, DISPATCH_METHOD, add.get(), &sum, nullptr,
                         nullptr) != S_OK ||
            sum.vt != VT_I4 || sum.lVal != t + i)
          ++wrong;
        Args greet({Long(t)});
        VARIANT text;
        VariantInit(&text);
        if (info->Invoke(instance, 3, DISPATCH_METHOD, greet.get(), &text,
                         nullptr, nullptr) != S_OK ||
            text.vt != VT_BSTR ||
            std::u16string(text.bstrVal) !=
                u"Hello, " + std::u16string(1, u'0' + t))
          ++wrong;
        VariantClear(&text);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(InvokeTest, ProductInstallReturnsItsStatusAsTheResult) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadFile(TypelibPath("qxKorvex.tlb"), lib.put()), S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kIInstallKorvex, info.put()), S_OK);
  StandInInstall object;
  Args none({});
  EXPECT_EQ(info->Invoke(&object, 1, DISPATCH_METHOD, none.get(), &m_result,
                         nullptr, nullptr),
            S_OK);
  EXPECT_EQ(m_result.vt, VT_I4);
  EXPECT_EQ(m_result.lVal, 42);
}

}  // namespace
