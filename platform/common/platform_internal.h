// Shared between the platform's own source files; never included by the
// product or the host. Each area keeps its state in its own file and offers
// the others only what is declared here.
#pragma once
#include <windows.h>
#include <guiddef.h>

#include <atomic>
#include <string>
#include <string_view>

namespace qxplatform {
namespace internal {

// A "fail at n" countdown: Arm(n) sets it; each matching call asks
// ShouldFail(), which answers true exactly once, on the n-th call.
class FailureCountdown {
 public:
  void Arm(long n) { m_remaining.store(n < 0 ? 0 : n); }
  bool ShouldFail() {
    long current = m_remaining.load();
    while (current > 0) {
      if (m_remaining.compare_exchange_weak(current, current - 1))
        return current == 1;
    }
    return false;
  }

 private:
  std::atomic<long> m_remaining{0};
};

// Reset hooks called by ResetControls (kernel_controls.cpp), one per area.
void ResetKernelControls();
void ResetRegistryControls();
void ResetShellControls();
void ResetTypeLibControls();

// Text conversions for the platform's own use. Ansi = the current ANSI code
// page; unmappable characters follow the Win32 conversion rules.
std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text, bool* valid);
std::string WideToUtf8(std::u16string_view text);

// Upper case by the Unicode simple case mapping, one UTF-16 unit at a time,
// as names are compared where the system ignores case.
char16_t SimpleUpper(char16_t unit);

// A GUID in the registry's braced form, upper-case hexadecimal.
std::string GuidText(const GUID& guid);

}  // namespace internal
}  // namespace qxplatform
