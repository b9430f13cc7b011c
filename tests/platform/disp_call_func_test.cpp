// DispCallFunc: arguments of every width reach the callee in order, results
// come back typed, and calls it cannot make are refused before they are made.
#include <oleauto.h>

#include "support/platform_fixture.h"

namespace {

class DispCallFuncTest : public PlatformTest {};

#if defined(__i386__)
// Two arguments in registers, the third on the stack, popped by the callee.
LONG __attribute__((fastcall)) Digits3Fast(LONG a, LONG b, LONG c) {
  return a * 100 + b * 10 + c;
}
LONG __attribute__((stdcall)) Digits3Std(LONG a, LONG b, LONG c) {
  return a * 100 + b * 10 + c;
}
LONG __attribute__((cdecl)) Digits3Cdecl(LONG a, LONG b, LONG c) {
  return a * 100 + b * 10 + c;
}
#endif

double Mix(SHORT a, double b, LONG c, float d, VARIANT e, BSTR f) {
  return a + b + c + d + (e.vt == VT_I4 ? e.lVal : -1000) + SysStringLen(f);
}

struct ICounter {
  virtual LONG STDMETHODCALLTYPE First() = 0;
  virtual HRESULT STDMETHODCALLTYPE Take(LONG amount, LONG* total) = 0;
};

class Counter : public ICounter {
 public:
  LONG STDMETHODCALLTYPE First() override { return -1; }
  HRESULT STDMETHODCALLTYPE Take(LONG amount, LONG* total) override {
    m_total += amount;
    *total = m_total;
    return amount < 0 ? E_INVALIDARG : S_OK;
  }

 private:
  LONG m_total = 100;
};

TEST_F(DispCallFuncTest, PlainFunctionGetsEveryArgumentInOrder) {
  VARIANT a, b, c, d, e, f;
  for (VARIANT* v : {&a, &b, &c, &d, &e, &f}) VariantInit(v);
  a.iVal = 1;
  b.dblVal = 0.5;
  c.lVal = 20;
  d.fltVal = 0.25f;
  e.vt = VT_I4;
  e.lVal = 300;
  f.bstrVal = SysAllocString(u"abcd");
  VARTYPE types[] = {VT_I2, VT_R8, VT_I4, VT_R4, VT_VARIANT, VT_BSTR};
  VARIANT* args[] = {&a, &b, &c, &d, &e, &f};
  VARIANT result;
  ASSERT_EQ(DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&Mix), CC_STDCALL,
                         VT_R8, 6, types, args, &result),
            S_OK);
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_EQ(result.dblVal, 325.75);
  SysFreeString(f.bstrVal);
}

TEST_F(DispCallFuncTest, MethodIsCalledThroughItsSlot) {
  Counter counter;
  LONG total = 0;
  VARIANT amount, out;
  VariantInit(&amount);
  VariantInit(&out);
  amount.lVal = 5;
  out.plVal = &total;
  VARTYPE types[] = {VT_I4, VT_BYREF | VT_I4};
  VARIANT* args[] = {&amount, &out};
  VARIANT result;
  ASSERT_EQ(DispCallFunc(&counter, sizeof(void*), CC_CDECL, VT_HRESULT, 2,
                         types, args, &result),
            S_OK);
  EXPECT_EQ(result.vt, VT_HRESULT);
  EXPECT_EQ(result.scode, S_OK);
  EXPECT_EQ(total, 105);
  amount.lVal = -1;
  ASSERT_EQ(DispCallFunc(&counter, sizeof(void*), CC_STDCALL, VT_HRESULT, 2,
                         types, args, &result),
            S_OK);
  EXPECT_EQ(result.scode, E_INVALIDARG);  // the callee's status, not the call's
  ASSERT_EQ(DispCallFunc(&counter, 0, CC_STDCALL, VT_I4, 0, nullptr, nullptr,
                         &result),
            S_OK);
  EXPECT_EQ(result.lVal, -1);
}

TEST_F(DispCallFuncTest, CallsThatCannotBeMadeAreRefused) {
  Counter counter;
  VARIANT arg;
  VariantInit(&arg);
  VARIANT* args[] = {&arg};
  VARTYPE bad[] = {VT_SAFEARRAY};
  VARIANT result;
  EXPECT_EQ(DispCallFunc(&counter, 0, CC_STDCALL, VT_I4, 1, bad, args, &result),
            DISP_E_BADVARTYPE);
  EXPECT_EQ(
      DispCallFunc(&counter, 0, CC_MAX, VT_I4, 0, nullptr, nullptr, &result),
      E_INVALIDARG);
  EXPECT_EQ(DispCallFunc(&counter, 3, CC_STDCALL, VT_I4, 0, nullptr, nullptr,
                         &result),
            E_INVALIDARG);
  EXPECT_EQ(
      DispCallFunc(&counter, 0, CC_STDCALL, VT_I4, 1, nullptr, args, &result),
      E_INVALIDARG);
  EXPECT_EQ(DispCallFunc(&counter, 0, CC_STDCALL, VT_I4, 0, nullptr, nullptr,
                         nullptr),
            E_INVALIDARG);
}

// On x86 the convention decides the frame: each call must reach its callee
// as the callee expects, and a convention that names no x86 frame is
// refused. On x86-64 there is one convention whatever is named.
TEST_F(DispCallFuncTest, EachX86ConventionIsItsOwnFrame) {
#if !defined(__i386__)
  GTEST_SKIP() << "one calling convention on this architecture";
#else
  VARIANT a, b, c;
  for (VARIANT* v : {&a, &b, &c}) VariantInit(v);
  a.lVal = 1;
  b.lVal = 2;
  c.lVal = 3;
  VARTYPE types[] = {VT_I4, VT_I4, VT_I4};
  VARIANT* args[] = {&a, &b, &c};
  const struct {
    CALLCONV cc;
    void* function;
  } calls[] = {{CC_FASTCALL, reinterpret_cast<void*>(&Digits3Fast)},
               {CC_STDCALL, reinterpret_cast<void*>(&Digits3Std)},
               {CC_CDECL, reinterpret_cast<void*>(&Digits3Cdecl)}};
  for (const auto& call : calls) {
    VARIANT result;
    ASSERT_EQ(DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(call.function),
                           call.cc, VT_I4, 3, types, args, &result),
              S_OK)
        << call.cc;
    EXPECT_EQ(result.lVal, 123) << call.cc;
  }
  for (CALLCONV cc :
       {CC_MACPASCAL, CC_FPFASTCALL, CC_SYSCALL, CC_MPWCDECL, CC_MPWPASCAL}) {
    VARIANT result;
    EXPECT_EQ(DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&Digits3Cdecl),
                           cc, VT_I4, 3, types, args, &result),
              E_INVALIDARG)
        << cc;
  }
#endif
}

}  // namespace
