// A stand-in for the provider's installer "Korvex.exe", for demonstrations
// and tests on the native platform: it installs the provider the way a real
// installer does, by writing the provider's entry into the machine registry
// (the registry database named by QXKORVEX_REGISTRY), and exits. It has no
// provider library to put in place: its own image stands for one, so the
// entry's "Image Path" names a file that exists as long as the installer
// does, which is what the provider probe asks of it.
#include <windows.h>
#include <qxplatform/controls.h>

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kProviderKey[] =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\"
    "Selvane Korvex for RDKV CSP v1.0";
const DWORD kProviderType = 1;  // PROV_RSA_FULL

int Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "Korvex.exe: %s%s%s\n", what, detail.empty() ? "" : ": ",
               detail.c_str());
  return 1;
}

std::string OwnImagePath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : "";
}

}  // namespace

int main() {
  const char* registryFile = std::getenv("QXKORVEX_REGISTRY");
  if (registryFile == nullptr || *registryFile == '\0')
    return Fail("QXKORVEX_REGISTRY is not set", "");

  const std::string image = OwnImagePath();
  if (image.empty()) return Fail("cannot find its own image", "");

  std::string error;
  if (!qxplatform::OpenRegistryDatabase(registryFile, &error))
    return Fail("cannot open the registry", error);

  HKEY key = nullptr;
  LSTATUS result = RegCreateKeyExA(
      HKEY_LOCAL_MACHINE, kProviderKey, 0,
      /*lpClass=*/nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
      /*lpSecurityAttributes=*/nullptr, &key, /*lpdwDisposition=*/nullptr);
  if (result != ERROR_SUCCESS)
    return Fail("cannot create the provider key", std::to_string(result));
  // Each call commits on its own, as a real installer's calls do on
  // Windows: a probe that runs between them finds the entry incomplete.
  result = RegSetValueExA(key, "Image Path", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(image.c_str()),
                          static_cast<DWORD>(image.size() + 1));
  if (result == ERROR_SUCCESS)
    result = RegSetValueExA(key, "Type", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&kProviderType),
                            sizeof kProviderType);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS)
    return Fail("cannot write the provider's entry", std::to_string(result));
  std::fprintf(stderr, "Korvex.exe: provider installed\n");
  return 0;
}
