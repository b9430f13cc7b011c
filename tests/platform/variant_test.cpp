// Variants: copies own what they hold, references own nothing, and
// VariantChangeType converts exactly, in place, and leaves the destination
// alone when it fails.
#include <objbase.h>
#include <oleauto.h>

#include <string>

#include "base/holders.h"
#include "support/platform_fixture.h"

namespace {

class VariantTest : public PlatformTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
    PlatformTest::TearDown();
  }
};

VARIANT Of(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.llVal = 0;
  v.vt = vt;
  return v;
}

VARIANT Text(const char16_t* text) {
  VARIANT v = Of(VT_BSTR);
  v.bstrVal = SysAllocString(text);
  return v;
}

// The result of a conversion of source, or the failure.
struct Converted {
  HRESULT hr;
  VARIANT value;
};

Converted Convert(VARIANT source, VARTYPE vt, USHORT flags = 0) {
  Converted result{S_OK, Of(VT_EMPTY)};
  result.hr = VariantChangeType(&result.value, &source, flags, vt);
  return result;
}

std::u16string TextOf(VARIANT source, USHORT flags = 0) {
  Converted converted = Convert(source, VT_BSTR, flags);
  EXPECT_EQ(converted.hr, S_OK);
  if (FAILED(converted.hr)) return u"<failed>";
  std::u16string text(converted.value.bstrVal,
                      SysStringLen(converted.value.bstrVal));
  VariantClear(&converted.value);
  return text;
}

LONG LongOf(const char16_t* text, HRESULT expected = S_OK) {
  VARIANT source = Text(text);
  Converted converted = Convert(source, VT_I4);
  VariantClear(&source);
  EXPECT_EQ(converted.hr, expected);
  return converted.value.lVal;
}

// An object that counts its references and answers for IDispatch, whose
// value property is 7.
class Counted : public IDispatch {
 public:
  ULONG m_references = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                          DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags,
                                   DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (member != DISPID_VALUE || flags != DISPATCH_PROPERTYGET)
      return DISP_E_MEMBERNOTFOUND;
    *result = Of(VT_I2);
    result->iVal = 7;
    return S_OK;
  }
};

TEST_F(VariantTest, CopiesOwnTheirTextAndReferencesOwnNothing) {
  VARIANT source = Text(u"Korvex");
  VARIANT copy = Text(u"old");  // freed by the copy
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(std::u16string(copy.bstrVal), u"Korvex");
  EXPECT_EQ(VariantCopy(&copy, &copy), S_OK);

  VARIANT reference = Of(VT_BYREF | VT_BSTR);
  reference.pbstrVal = &source.bstrVal;
  VARIANT sameReference = Of(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&sameReference, &reference), S_OK);
  EXPECT_EQ(sameReference.pbstrVal, &source.bstrVal);
  EXPECT_EQ(VariantClear(&sameReference), S_OK);  // frees nothing
  // Indirection copies what it points at, also into the reference itself.
  ASSERT_EQ(VariantCopyInd(&reference, &reference), S_OK);
  EXPECT_EQ(reference.vt, VT_BSTR);
  EXPECT_NE(reference.bstrVal, source.bstrVal);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 3);

  Counted object;
  VARIANT held = Of(VT_DISPATCH);
  held.pdispVal = &object;
  VARIANT heldCopy = Of(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&heldCopy, &held), S_OK);
  EXPECT_EQ(object.m_references, 2u);
  VariantClear(&heldCopy);
  EXPECT_EQ(object.m_references, 1u);

  VARIANT bogus = Of(0x7F);
  EXPECT_EQ(VariantCopy(&heldCopy, &bogus), DISP_E_BADVARTYPE);
  VariantClear(&source);
  VariantClear(&copy);
  VariantClear(&reference);
}

TEST_F(VariantTest, NumbersOverflowTheirTargetAndLeaveTheDestination) {
  VARIANT big = Of(VT_I4);
  big.lVal = 40000;
  VARIANT dest = Text(u"kept");
  EXPECT_EQ(VariantChangeType(&dest, &big, 0, VT_I2), DISP_E_OVERFLOW);
  ASSERT_EQ(dest.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(dest.bstrVal), u"kept");
  VariantClear(&dest);

  big.lVal = -32768;
  EXPECT_EQ(Convert(big, VT_I2).value.iVal, -32768);
  big.lVal = -1;
  EXPECT_EQ(Convert(big, VT_UI4).hr, DISP_E_OVERFLOW);
  VARIANT huge = Of(VT_R8);
  huge.dblVal = 1e300;
  EXPECT_EQ(Convert(huge, VT_R4).hr, DISP_E_OVERFLOW);
  huge.dblVal = 2147483647.5;  // rounds to even: 2^31, one past the top
  EXPECT_EQ(Convert(huge, VT_I4).hr, DISP_E_OVERFLOW);
  huge.dblVal = -2147483648.5;
  EXPECT_EQ(Convert(huge, VT_I4).value.lVal, -2147483647 - 1);
}

TEST_F(VariantTest, TextToNumbersRoundsHalfToEvenAndRejectsWhatIsNotANumber) {
  EXPECT_EQ(LongOf(u" -3 "), -3);
  EXPECT_EQ(LongOf(u"1,234.5"), 1234);
  EXPECT_EQ(LongOf(u"3.5"), 4);
  EXPECT_EQ(LongOf(u"0.5000001"), 1);
  EXPECT_EQ(LongOf(u"1.5E3"), 1500);
  EXPECT_EQ(LongOf(u"&HFF"), 255);
  LongOf(u"abc", DISP_E_TYPEMISMATCH);
  LongOf(u"", DISP_E_TYPEMISMATCH);
  LongOf(u"12abc", DISP_E_TYPEMISMATCH);
  LongOf(u"1E", DISP_E_TYPEMISMATCH);
  LongOf(u"2147483648", DISP_E_OVERFLOW);
  LongOf(u"99999999999999999999999999", DISP_E_OVERFLOW);
  LongOf(u"1E999999999", DISP_E_OVERFLOW);
  EXPECT_EQ(LongOf(u"1E-999999999"), 0);

  VARIANT hex = Text(u"&HFFFF");
  EXPECT_EQ(Convert(hex, VT_I2).value.iVal, -1);
  VariantClear(&hex);
  VARIANT real = Text(u"0.1");
  EXPECT_EQ(Convert(real, VT_R8).value.dblVal, 0.1);
  VariantClear(&real);
}

TEST_F(VariantTest, NumbersAndBooleansAsText) {
  VARIANT v = Of(VT_R8);
  v.dblVal = 1.5;
  EXPECT_EQ(TextOf(v), u"1.5");
  v.dblVal = 1e20;
  EXPECT_EQ(TextOf(v), u"1E+20");
  v.dblVal = 1.0 / 3;
  EXPECT_EQ(TextOf(v), u"0.333333333333333");
  v.dblVal = -0.0;
  EXPECT_EQ(TextOf(v), u"0");
  VARIANT single = Of(VT_R4);
  single.fltVal = 0.1f;
  EXPECT_EQ(TextOf(single), u"0.1");
  VARIANT flag = Of(VT_BOOL);
  flag.boolVal = VARIANT_TRUE;
  EXPECT_EQ(TextOf(flag), u"-1");
  EXPECT_EQ(TextOf(flag, VARIANT_ALPHABOOL), u"True");
  flag.boolVal = VARIANT_FALSE;
  EXPECT_EQ(TextOf(flag, VARIANT_ALPHABOOL), u"False");
  EXPECT_EQ(TextOf(Of(VT_EMPTY)), u"");

  for (auto word : {u" TRUE ", u"false", u"2", u"0"}) {
    VARIANT text = Text(word);
    Converted converted = Convert(text, VT_BOOL);
    EXPECT_EQ(converted.hr, S_OK);
    bool expected = word[1] == u'T' || word[0] == u'2';
    EXPECT_EQ(converted.value.boolVal, expected ? VARIANT_TRUE : VARIANT_FALSE);
    VariantClear(&text);
  }
  VARIANT maybe = Text(u"maybe");
  EXPECT_EQ(Convert(maybe, VT_BOOL).hr, DISP_E_TYPEMISMATCH);
  VariantClear(&maybe);
}

TEST_F(VariantTest, InPlaceConversionReleasesTheOldValueOnce) {
  VARIANT v = Text(u"12");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 12);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(v.bstrVal), u"12");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);  // same type
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 1);
  VariantClear(&v);

  // A reference converted into itself: it becomes the value.
  SHORT small = 5;
  VARIANT reference = Of(VT_BYREF | VT_I2);
  reference.piVal = &small;
  ASSERT_EQ(VariantChangeType(&reference, &reference, 0, VT_R8), S_OK);
  EXPECT_EQ(reference.vt, VT_R8);
  EXPECT_EQ(reference.dblVal, 5.0);
}

TEST_F(VariantTest, ImpossibleAndUnknownTypes) {
  EXPECT_EQ(Convert(Of(VT_NULL), VT_I4).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(Of(VT_NULL), VT_BSTR).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(Of(VT_EMPTY), VT_I4).value.lVal, 0);
  VARIANT error = Of(VT_ERROR);
  error.scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(Convert(error, VT_I4).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(Of(VT_I4), VT_ERROR).hr, DISP_E_TYPEMISMATCH);
  VARIANT text = Text(u"x");
  EXPECT_EQ(Convert(text, VT_DISPATCH).hr, DISP_E_TYPEMISMATCH);
  VariantClear(&text);
  EXPECT_EQ(Convert(Of(0x7F), VT_I4).hr, DISP_E_BADVARTYPE);
  EXPECT_EQ(Convert(Of(VT_I4), 0x7F).hr, DISP_E_BADVARTYPE);
  EXPECT_EQ(Convert(Of(VT_I4), VT_BYREF | VT_I4).hr, DISP_E_BADVARTYPE);
  VARIANT nullReference = Of(VT_BYREF | VT_I4);
  EXPECT_EQ(Convert(nullReference, VT_I2).hr, E_INVALIDARG);
  VARIANT dest = Of(VT_EMPTY);
  EXPECT_EQ(VariantChangeType(&dest, nullptr, 0, VT_I4), E_INVALIDARG);
}

TEST_F(VariantTest, ObjectsConvertByInterfaceOrByTheirValue) {
  Counted object;
  VARIANT unknown = Of(VT_UNKNOWN);
  unknown.punkVal = &object;
  Converted dispatch = Convert(unknown, VT_DISPATCH);
  ASSERT_EQ(dispatch.hr, S_OK);
  EXPECT_EQ(dispatch.value.pdispVal, static_cast<IDispatch*>(&object));
  EXPECT_EQ(object.m_references, 2u);
  VariantClear(&dispatch.value);

  Converted number = Convert(unknown, VT_I4);
  ASSERT_EQ(number.hr, S_OK);
  EXPECT_EQ(number.value.lVal, 7);
  EXPECT_EQ(Convert(unknown, VT_I4, VARIANT_NOVALUEPROP).hr,
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.m_references, 1u);
}

}  // namespace
