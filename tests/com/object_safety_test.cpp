// IObjectSafety: both options supported for every interface the object
// hands out, one word of enabled options for the whole object, changed only
// where the mask says and only for an accepted interface.
#include "com/com_test_support.h"

namespace {

// {9A4C1C52-7D6B-4C3E-8E0F-2B1F5D6A7C81}: an interface no object has.
constexpr IID kForeignInterface = {
    0x9A4C1C52,
    0x7D6B,
    0x4C3E,
    {0x8E, 0x0F, 0x2B, 0x1F, 0x5D, 0x6A, 0x7C, 0x81}};

constexpr DWORD kCaller = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
constexpr DWORD kData = INTERFACESAFE_FOR_UNTRUSTED_DATA;

}  // namespace

class ObjectSafetyTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    m_safety = CreatePlain<IObjectSafety>(IID_IObjectSafety);
    ASSERT_NE(m_safety, nullptr);
  }
  void TearDown() override {
    m_safety->Release();
    ComTest::TearDown();
  }
  DWORD Enabled(REFIID iid = IID_IDispatch) {
    DWORD supported = 0;
    DWORD enabled = 0xFFFF;
    EXPECT_EQ(m_safety->GetInterfaceSafetyOptions(iid, &supported, &enabled),
              S_OK);
    EXPECT_EQ(supported, kCaller | kData);
    return enabled;
  }

  IObjectSafety* m_safety = nullptr;
};

TEST_F(ObjectSafetyTest, NewObjectSupportsBothAndEnablesNone) {
  for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IInstallKorvex,
                         &IID_IObjectSafety}) {
    EXPECT_EQ(Enabled(*iid), 0u);
  }
}

TEST_F(ObjectSafetyTest, MaskDecidesWhichOptionsChange) {
  EXPECT_EQ(
      m_safety->SetInterfaceSafetyOptions(IID_IDispatch, kCaller, kCaller),
      S_OK);
  // One word for the object: set through one interface, seen through all.
  EXPECT_EQ(Enabled(IID_IObjectSafety), kCaller);
  EXPECT_EQ(m_safety->SetInterfaceSafetyOptions(IID_IUnknown, kCaller | kData,
                                                kCaller | kData),
            S_OK);
  EXPECT_EQ(m_safety->SetInterfaceSafetyOptions(IID_IDispatch, kCaller, 0),
            S_OK);
  EXPECT_EQ(Enabled(), kData);
  // Enabled bits outside the mask are ignored; an empty mask changes nothing.
  EXPECT_EQ(m_safety->SetInterfaceSafetyOptions(IID_IDispatch, 0, kCaller),
            S_OK);
  EXPECT_EQ(Enabled(), kData);
}

TEST_F(ObjectSafetyTest, UnknownOptionIsRefusedAndChangesNothing) {
  EXPECT_EQ(m_safety->SetInterfaceSafetyOptions(IID_IDispatch, kCaller | 4,
                                                kCaller | 4),
            E_FAIL);
  EXPECT_EQ(Enabled(), 0u);
}

TEST_F(ObjectSafetyTest, InterfaceTheObjectLacksIsRefusedFirst) {
  EXPECT_EQ(m_safety->SetInterfaceSafetyOptions(kForeignInterface, 4, 4),
            E_NOINTERFACE);
  EXPECT_EQ(
      m_safety->SetInterfaceSafetyOptions(kForeignInterface, kCaller, kCaller),
      E_NOINTERFACE);
  DWORD supported = 7;
  DWORD enabled = 7;
  EXPECT_EQ(m_safety->GetInterfaceSafetyOptions(kForeignInterface, &supported,
                                                &enabled),
            E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(Enabled(), 0u);
}

TEST_F(ObjectSafetyTest, NullOutPointerWritesNothing) {
  DWORD enabled = 7;
  EXPECT_EQ(
      m_safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled),
      E_POINTER);
  EXPECT_EQ(enabled, 7u);
}

// Asking whether an interface is accepted must not leave a reference
// behind: the object still goes with its last release.
TEST_F(ObjectSafetyTest, AskingLeavesTheCountAsItWas) {
  Enabled();
  m_safety->SetInterfaceSafetyOptions(IID_IDispatch, kCaller, kCaller);
  EXPECT_EQ(m_safety->AddRef(), 2u);
  EXPECT_EQ(m_safety->Release(), 1u);
}
