// The install operation and the probe at construction: provider present,
// installer started, launch failures and their statuses.
#include "com/com_test_support.h"
#include "installer/provider_probe.h"

class InstallTest : public AttachedModuleTest {
 protected:
  void TearDown() override {
    if (m_factory != nullptr) m_factory->Release();
    AttachedModuleTest::TearDown();
  }
  IClassFactory* Factory() {
    if (m_factory == nullptr) {
      EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                                  reinterpret_cast<void**>(&m_factory)),
                S_OK);
    }
    return m_factory;
  }
  IInstallKorvex* Create() {
    IInstallKorvex* object = nullptr;
    EXPECT_EQ(Factory()->CreateInstance(nullptr, IID_IInstallKorvex,
                                        reinterpret_cast<void**>(&object)),
              S_OK);
    return object;
  }
  LONG InstallOnce() {
    IInstallKorvex* object = Create();
    LONG status = 99;
    EXPECT_EQ(object->install(&status), S_OK);
    object->Release();
    return status;
  }

  IClassFactory* m_factory = nullptr;
  KorvexStandIn m_standIn;
};

TEST_F(InstallTest, ProviderPresentStartsNothing) {
  InstallProviderEntry();
  m_standIn.Write(/*executable=*/true);
  const long launches = qxplatform::ShellLaunchCount();
  IInstallKorvex* object = Create();
  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  EXPECT_EQ(status, 0);
  object->Release();
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launches);
  EXPECT_EQ(m_standIn.MarkerLines(), 0);
}

TEST_F(InstallTest, MissingProviderStartsTheInstallerAtCreationAndEachCall) {
  m_standIn.Write(/*executable=*/true);
  const long launches = qxplatform::ShellLaunchCount();
  IInstallKorvex* object = Create();
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launches + 1);
  for (int call = 1; call <= 2; ++call) {
    LONG status = 99;
    EXPECT_EQ(object->install(&status), S_OK);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(qxplatform::ShellLaunchCount(), launches + 1 + call);
  }
  object->Release();
  EXPECT_TRUE(m_standIn.WaitForMarkerLines(3));
  EXPECT_EQ(m_standIn.MarkerLines(), 3);
}

TEST_F(InstallTest, InstallerNotFoundIsMinusTwo) {
  EXPECT_EQ(InstallOnce(), -2);
}

TEST_F(InstallTest, InstallerNotExecutableIsMinusFive) {
  m_standIn.Write(/*executable=*/false);
  EXPECT_EQ(InstallOnce(), -5);
  EXPECT_EQ(m_standIn.MarkerLines(), 0);
}

TEST_F(InstallTest, LaunchResultThirtyTwoIsMinusThirtyTwo) {
  qxplatform::ForceShellExecuteResult(32);
  EXPECT_EQ(InstallOnce(), -32);
}

TEST_F(InstallTest, LaunchResultZeroIsMinusOne) {
  qxplatform::ForceShellExecuteResult(0);
  EXPECT_EQ(InstallOnce(), -1);
}

TEST_F(InstallTest, LaunchResultAboveThirtyTwoIsStarted) {
  qxplatform::ForceShellExecuteResult(33);
  EXPECT_EQ(InstallOnce(), 1);
}

TEST_F(InstallTest, StatusMappingCoversEveryLaunchResult) {
  EXPECT_EQ(StatusFromLaunchResult(0), -1);
  for (UINT_PTR result = 1; result <= 32; ++result) {
    EXPECT_EQ(StatusFromLaunchResult(result), -static_cast<LONG>(result));
  }
  EXPECT_EQ(StatusFromLaunchResult(33), 1);
  EXPECT_EQ(StatusFromLaunchResult(static_cast<UINT_PTR>(-1)), 1);
}

TEST_F(InstallTest, NullStatusPointerIsRefusedWithoutAProbe) {
  m_standIn.Write(/*executable=*/true);
  IInstallKorvex* object = Create();
  const long launches = qxplatform::ShellLaunchCount();
  EXPECT_EQ(object->install(nullptr), E_POINTER);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launches);
  object->Release();
}

TEST_F(InstallTest, AggregatedCreationProbesLikeAPlainOne) {
  m_standIn.Write(/*executable=*/true);
  const long launches = qxplatform::ShellLaunchCount();
  OuterObject outer;
  ASSERT_EQ(outer.Aggregate(Factory()), S_OK);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launches + 1);
  IInstallKorvex* object = nullptr;
  ASSERT_EQ(outer.m_inner->QueryInterface(IID_IInstallKorvex,
                                          reinterpret_cast<void**>(&object)),
            S_OK);
  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  EXPECT_EQ(status, 1);
  object->Release();
  outer.ReleaseInner();
}
