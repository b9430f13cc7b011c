// libFuzzer target for the registry script registrar: arbitrary bytes run as
// a script, in register mode and then in unregister mode, against a fresh
// registry.
//
// Layout of an input: the script text runs up to the first zero byte; the
// bytes behind it, taken two at a time as UTF-16 units, are the value of the
// variable "Module" (a fixed path with a doubled quote when there is no zero
// byte), so expansion sees surrogates, double-byte characters and long
// values too. The first byte's low bit picks the ANSI code page (1252 or
// 932); its next three bits pick one platform failure to inject (an
// allocation, a key create, a key close, or none) and the second byte says
// at which call it fires, so the failure paths are walked as well.
//
// Besides the sanitizers' checks, every run must end with a known status and
// give back every registry handle, task allocator block and module heap
// block it took.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <qxplatform/controls.h>

#include "registrar/script_runner.h"
#include "support/test_heap.h"

namespace {

const char16_t kDefaultModule[] = u"C:\\Program Files\\O''Brien\\qx.dll";

void Check(bool condition) {
  if (!condition) abort();
}

// The failure the input asks for, armed before each of the two runs.
void InjectFailure(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const long n = data[1];
  switch ((data[0] >> 1) & 7) {
    case 1:
      qxplatform::FailTaskAllocAt(n);
      break;
    case 2:
      qxplatform::FailHeapAllocAt(n);
      break;
    case 3:
      qxplatform::FailRegCreateAt(n);
      break;
    case 4:
      qxplatform::FailRegCloseAt(n);
      break;
    default:
      break;
  }
}

// Switches every injected failure off again (the code page stays).
void DisarmFailures() {
  qxplatform::FailTaskAllocAt(0);
  qxplatform::FailHeapAllocAt(0);
  qxplatform::FailRegCreateAt(0);
  qxplatform::FailRegCloseAt(0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The registrar's tables come from a private heap, so that its blocks are
  // counted; the heap lives as long as the process.
  static ScopedTestHeap heap;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qxplatform::ResetControls();
  qxplatform::ResetRegistry();
  qxplatform::SetAnsiCodePage(size > 0 && (data[0] & 1) != 0 ? 932 : 1252);

  const uint8_t* zero = static_cast<const uint8_t*>(memchr(data, 0, size));
  const size_t textSize = zero != nullptr ? zero - data : size;
  std::vector<char> text(data, data + textSize);
  text.push_back('\0');

  std::vector<char16_t> module;
  if (zero != nullptr) {
    for (const uint8_t* p = zero + 1; p + 1 < data + size; p += 2) {
      const char16_t unit = static_cast<char16_t>(p[0] | (p[1] << 8));
      if (unit == 0) break;
      module.push_back(unit);
    }
    module.push_back(0);
  }

  const long taskBlocks = qxplatform::LiveTaskBlocks();
  const long heapBlocks = qxplatform::LiveHeapBlocks();
  const LPCOLESTR names[] = {OLESTR("Module")};
  const LPCOLESTR values[] = {module.empty() ? kDefaultModule : module.data()};
  for (BOOL doRegister : {TRUE, FALSE}) {
    InjectFailure(data, size);
    const HRESULT hr = RunScriptWithVariables(kTestHeapAllocator, text.data(),
                                              names, values, 1, doRegister);
    DisarmFailures();
    Check(hr == S_OK || hr == DISP_E_EXCEPTION || hr == E_FAIL ||
          hr == E_OUTOFMEMORY);
    Check(qxplatform::OpenRegistryHandles() == 0);
    Check(qxplatform::LiveTaskBlocks() == taskBlocks);
    Check(qxplatform::LiveHeapBlocks() == heapBlocks);
  }
  return 0;
}
