// The provider probe and the installer launch, with the fixed values they
// pass to the platform.
#include "installer/provider_probe.h"

#include <shellapi.h>
#include <wincrypt.h>

namespace {

// What the probe asks for: a verification context, so that no key container
// is opened or created.
struct ProviderProbe {
  LPCSTR providerName;
  DWORD providerType;
  DWORD acquireFlags;
};
constexpr ProviderProbe kProbe = {"Selvane Korvex for RDKV CSP v1.0",
                                  PROV_RSA_FULL, CRYPT_VERIFYCONTEXT};

// How the installer is started: a bare file name, found by the shell's usual
// search rules, shown normally.
struct InstallerLaunch {
  LPCSTR verb;
  LPCSTR file;
  INT showState;
};
constexpr InstallerLaunch kLaunch = {"open", "Korvex.exe", SW_SHOWNORMAL};

// Launch results up to this value are errors.
constexpr UINT_PTR kHighestLaunchError = 32;

bool ProviderPresent() {
  HCRYPTPROV provider = 0;
  const BOOL acquired = CryptAcquireContextA(
      &provider, /*szContainer=*/nullptr, kProbe.providerName,
      kProbe.providerType, kProbe.acquireFlags);
  // Released whether or not the acquire worked: after a failure the handle
  // is still 0 and the release is harmless, so its result does not matter.
  CryptReleaseContext(provider, /*dwFlags=*/0);
  return acquired != FALSE;
}

UINT_PTR LaunchInstaller() {
  const HINSTANCE result = ShellExecuteA(
      /*hwnd=*/nullptr, kLaunch.verb, kLaunch.file,
      /*lpParameters=*/nullptr, /*lpDirectory=*/nullptr, kLaunch.showState);
  return reinterpret_cast<UINT_PTR>(result);
}

}  // namespace

LONG StatusFromLaunchResult(UINT_PTR result) {
  if (result == 0) return kStatusLaunchOutOfResources;
  if (result <= kHighestLaunchError) return -static_cast<LONG>(result);
  return kStatusInstallerStarted;
}

LONG ProbeAndLaunch() {
  if (ProviderPresent()) return kStatusProviderPresent;
  return StatusFromLaunchResult(LaunchInstaller());
}
