// What the platform's test controls (platform/controls) may do to the
// registry store: arm its failures, mark keys to refuse write access, empty
// it, stand in for the kernel's boot, and look at what it counts. Only the
// controls include this; the store never includes the controls.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace qxplatform {
namespace internal {

class RegistryTestHooks {
 public:
  // The n-th RegCreateKeyExA from now fails with ERROR_CANTWRITE.
  static void FailCreateAt(long n);
  // The n-th RegCloseKey of an open handle fails and leaves it open.
  static void FailCloseAt(long n);
  // The n-th transaction of the store, read or write, fails to begin with
  // status, as a database that another process holds locked or a damaged
  // one does.
  static void FailTransactionAt(long n, LSTATUS status);
  // The process ends with _exit right after the n-th commit from now.
  static void AbortAfterCommit(long n);
  // Marks root\path (made, as a non-volatile key, when missing) to refuse
  // write access, or lifts the mark. Made keys obey the key writer's rules.
  static LSTATUS DenyWriteAccess(HKEY root, std::u16string_view path,
                                 bool deny);
  // Whether HKEY_LOCAL_MACHINE's tree refuses this process's writes.
  static void SetStandardUser(bool standard);
  // Empties all four trees.
  static LSTATUS Clear();
  // The boot this process reports for the volatile keys; empty: the
  // kernel's.
  static void SetBoot(std::string boot);
  // How long a write waits for another process's lock before it fails
  // with ERROR_LOCK_VIOLATION, instead of kRegistryBusyTimeoutMs.
  static void SetBusyTimeout(int ms);
  // Every failure and mark above off, an administrator again, no root
  // overridden, the kernel's boot and the usual busy timeout again.
  static void ResetFaults();
  static long OpenHandles();
  static bool Changed();
};

}  // namespace internal
}  // namespace qxplatform
