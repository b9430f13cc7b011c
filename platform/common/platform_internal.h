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

// The exit status of a process the registry store ended on purpose right
// after a commit; the registry controls check that it is the one they
// publish (kAbortedAfterRegistryCommit).
constexpr int kRegistryCommitAbortExitCode = 86;

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
// The text in the ANSI code page; false when a character has no form there
// (*ansi then holds it with the default character in its place).
bool WideToAnsiExact(std::u16string_view text, std::string* ansi);
// ANSI text as UTF-16; false at a byte sequence the code page has no
// character for (a lead byte without its trail, say).
bool AnsiToWideExact(std::string_view text, std::u16string* wide);

// File names. The file system holds names as bytes, by convention the
// name's text in UTF-8, and the platform's functions take text: ANSI or
// UTF-16. A name given as text reaches the file whose name is that text in
// UTF-8; when no such file exists, the file whose name is the text's ANSI
// form byte for byte (for an ANSI name, the bytes as the caller gave them).
// So a file whose name is not UTF-8 (Latin-1 or Shift-JIS bytes copied from
// another system) is still reached, through the ANSI code page it was named
// in. Where both files exist, the UTF-8 one is meant.
//
// The bytes to open for a UTF-16 name, by the rule above. (An ANSI name is
// tried both ways by its caller, as the loader does: it may have to search
// for either file.)
std::string WideFileName(std::u16string_view wide);
// A file name on disk as a name that the functions above map back to it.
// A UTF-8 name is its text; in ANSI, when the code page lacks one of its
// characters, its bytes as they are. Any other name is its bytes: as they
// are in ANSI, read in the ANSI code page in UTF-16.
std::string FileNameToAnsi(std::string_view path);
std::u16string FileNameToWide(std::string_view path);

// Upper case by the Unicode simple case mapping, one UTF-16 unit at a time,
// as names are compared where the system ignores case.
char16_t SimpleUpper(char16_t unit);

// A GUID in the registry's braced form, upper-case hexadecimal.
std::string GuidText(const GUID& guid);

}  // namespace internal
}  // namespace qxplatform
