// How install starts the provider's installer: the default verb on the bare
// name "Korvex.exe", no parameters or working directory, shown normally and
// owned by no window, as a host with no window of its own needs it.
#include <optional>
#include <string>

#include "com/com_test_support.h"

namespace {

class LaunchTest : public AttachedModuleTest {
 protected:
  KorvexStandIn m_standIn;
};

TEST_F(LaunchTest, InstallOpensKorvexExeShownNormallyWithoutAWindow) {
  m_standIn.Write(/*executable=*/true);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  IInstallKorvex* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IInstallKorvex,
                                    reinterpret_cast<void**>(&object)),
            S_OK);
  factory->Release();
  qxplatform::ResetControls();  // forget the launch made at creation

  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  object->Release();

  EXPECT_EQ(status, 1);
  const qxplatform::LaunchRecord launch = qxplatform::LastLaunch();
  ASSERT_TRUE(launch.made);
  EXPECT_EQ(launch.verb, std::optional<std::string>("open"));
  EXPECT_EQ(launch.file, std::optional<std::string>("Korvex.exe"));
  EXPECT_EQ(launch.parameters, std::nullopt);
  EXPECT_EQ(launch.directory, std::nullopt);
  EXPECT_EQ(launch.showCommand, SW_SHOWNORMAL);
  EXPECT_EQ(launch.window, nullptr);
}

}  // namespace
