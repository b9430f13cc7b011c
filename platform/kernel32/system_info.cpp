// What the platform reports about the system it emulates: the version record
// of GetVersionExA and the processor information of GetSystemInfo. Both can
// be set by a host or a test; by default this is Windows 7 SP1 on the
// machine's processors.
#include <qxplatform/controls.h>
#include <string.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <mutex>

#include "kernel_internal.h"
#include "pe_format.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA is 156 bytes");

namespace {

// The build and service pack each known release reports.
struct ReleaseRow {
  DWORD platformId;
  DWORD major;
  DWORD minor;
  DWORD build;
  WORD servicePack;
  const char* servicePackText;
};

constexpr ReleaseRow kReleases[] = {
    {VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950, 0, ""},
    {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, 0, " A "},
    {VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000, 0, " "},
    {VER_PLATFORM_WIN32_NT, 4, 0, 1381, 6, "Service Pack 6"},
    {VER_PLATFORM_WIN32_NT, 5, 0, 2195, 4, "Service Pack 4"},
    {VER_PLATFORM_WIN32_NT, 5, 1, 2600, 3, "Service Pack 3"},
    {VER_PLATFORM_WIN32_NT, 5, 2, 3790, 2, "Service Pack 2"},
    {VER_PLATFORM_WIN32_NT, 6, 0, 6002, 2, "Service Pack 2"},
    {VER_PLATFORM_WIN32_NT, 6, 1, 7601, 1, "Service Pack 1"},
    {VER_PLATFORM_WIN32_NT, 6, 2, 9200, 0, ""},
    {VER_PLATFORM_WIN32_NT, 6, 3, 9600, 0, ""},
    {VER_PLATFORM_WIN32_NT, 10, 0, 19045, 0, ""},
};

constexpr DWORD kDefaultPlatformId = VER_PLATFORM_WIN32_NT;
constexpr DWORD kDefaultMajor = 6;
constexpr DWORD kDefaultMinor = 1;
constexpr BYTE kWorkstationProduct = 1;  // VER_NT_WORKSTATION

// A process reports the processor its own code runs on: a 32-bit one an
// x86 (PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_INTEL_PENTIUM), a 64-bit one
// an x64 (PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_AMD_X8664).
// The highest address of user space is the 64-bit system's in a 64-bit
// process.
#if defined(__x86_64__) || defined(_WIN64)
constexpr WORD kProcessArchitecture = 9;
constexpr DWORD kProcessProcessorType = 8664;
constexpr ULONG_PTR kHighestApplicationAddress = 0x00007FFFFFFEFFFF;
#else
constexpr WORD kProcessArchitecture = 0;
constexpr DWORD kProcessProcessorType = 586;
constexpr ULONG_PTR kHighestApplicationAddress = 0x7FFEFFFF;
#endif
constexpr DWORD kPageSize = qxplatform::internal::kWindowsPageSize;
constexpr DWORD kAllocationGranularity =
    qxplatform::internal::kWindowsAllocationGranularity;
constexpr ULONG_PTR kLowestApplicationAddress = 0x00010000;
constexpr WORD kProcessorLevel = 6;
constexpr WORD kProcessorRevision = 0x3A09;

struct Settings {
  std::mutex lock;
  DWORD platformId = kDefaultPlatformId;
  DWORD major = kDefaultMajor;
  DWORD minor = kDefaultMinor;
  DWORD processorCount = 0;  // 0: the machine's
};

Settings& Current() {
  static Settings& settings = *new Settings;
  return settings;
}

DWORD MachineProcessorCount() {
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count < 1 ? 1 : static_cast<DWORD>(count);
}

const ReleaseRow* FindRelease(DWORD platformId, DWORD major, DWORD minor) {
  for (const ReleaseRow& row : kReleases) {
    if (row.platformId == platformId && row.major == major &&
        row.minor == minor)
      return &row;
  }
  return nullptr;
}

}  // namespace

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  Settings& settings = Current();
  std::lock_guard<std::mutex> guard(settings.lock);
  const ReleaseRow* release =
      FindRelease(settings.platformId, settings.major, settings.minor);
  lpVersionInformation->dwMajorVersion = settings.major;
  lpVersionInformation->dwMinorVersion = settings.minor;
  lpVersionInformation->dwPlatformId = settings.platformId;
  DWORD build = release != nullptr ? release->build : 0;
  // The Windows 9x family keeps the version in the high word of the build.
  if (settings.platformId == VER_PLATFORM_WIN32_WINDOWS)
    build |= (settings.major << 24) | (settings.minor << 16);
  lpVersionInformation->dwBuildNumber = build;
  memset(lpVersionInformation->szCSDVersion, 0,
         sizeof(lpVersionInformation->szCSDVersion));
  if (release != nullptr)
    strncpy(lpVersionInformation->szCSDVersion, release->servicePackText,
            sizeof(lpVersionInformation->szCSDVersion) - 1);
  if (size == sizeof(OSVERSIONINFOEXA)) {
    auto* extended = reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation);
    extended->wServicePackMajor = release != nullptr ? release->servicePack : 0;
    extended->wServicePackMinor = 0;
    extended->wSuiteMask = 0;
    extended->wProductType = kWorkstationProduct;
    extended->wReserved = 0;
  }
  return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
  if (lpSystemInfo == nullptr) return;
  DWORD count;
  {
    Settings& settings = Current();
    std::lock_guard<std::mutex> guard(settings.lock);
    count = settings.processorCount;
  }
  if (count == 0) count = MachineProcessorCount();
  memset(lpSystemInfo, 0, sizeof(*lpSystemInfo));
  lpSystemInfo->wProcessorArchitecture = kProcessArchitecture;
  lpSystemInfo->dwPageSize = kPageSize;
  lpSystemInfo->lpMinimumApplicationAddress =
      reinterpret_cast<LPVOID>(kLowestApplicationAddress);
  lpSystemInfo->lpMaximumApplicationAddress =
      reinterpret_cast<LPVOID>(kHighestApplicationAddress);
  constexpr DWORD kMaskBits = sizeof(DWORD_PTR) * 8;
  lpSystemInfo->dwActiveProcessorMask =
      count >= kMaskBits ? ~DWORD_PTR{0} : (DWORD_PTR{1} << count) - 1;
  lpSystemInfo->dwNumberOfProcessors = count;
  lpSystemInfo->dwProcessorType = kProcessProcessorType;
  lpSystemInfo->dwAllocationGranularity = kAllocationGranularity;
  lpSystemInfo->wProcessorLevel = kProcessorLevel;
  lpSystemInfo->wProcessorRevision = kProcessorRevision;
}

namespace qxplatform {

void SetVersion(DWORD platformId, DWORD major, DWORD minor) {
  Settings& settings = Current();
  std::lock_guard<std::mutex> guard(settings.lock);
  settings.platformId = platformId;
  settings.major = major;
  settings.minor = minor;
}

void SetProcessorCount(DWORD count) {
  Settings& settings = Current();
  std::lock_guard<std::mutex> guard(settings.lock);
  settings.processorCount = count;
}

namespace internal {
void ResetSystemInfoControls() {
  Settings& settings = Current();
  std::lock_guard<std::mutex> guard(settings.lock);
  settings.platformId = kDefaultPlatformId;
  settings.major = kDefaultMajor;
  settings.minor = kDefaultMinor;
  settings.processorCount = 0;
}
}  // namespace internal

}  // namespace qxplatform
