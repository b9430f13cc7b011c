// libFuzzer target for the registry script registrar: arbitrary bytes run as
// a script, in register mode and then in unregister mode, against a fresh
// registry, with the one variable "Module" bound. The first byte's low bit
// picks the ANSI code page (1252 or 932) so double-byte text is walked too.
// Besides the sanitizers' checks, every run must give back every registry
// handle, task allocator block and module heap block it took.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include <qxplatform/controls.h>

#include "module/server_module.h"
#include "registrar/script_runner.h"

namespace {

ServerModule g_module{};
ObjectMapEntry g_objectMap[1]{};

void Check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeModule(g_module, g_objectMap, /*instance=*/nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qxplatform::ResetControls();
  qxplatform::ResetRegistry();
  qxplatform::SetAnsiCodePage(size > 0 && (data[0] & 1) != 0 ? 932 : 1252);

  std::vector<char> text(data, data + size);
  text.push_back('\0');

  const long taskBlocks = qxplatform::LiveTaskBlocks();
  const long heapBlocks = qxplatform::LiveHeapBlocks();
  const LPCOLESTR names[] = {OLESTR("Module")};
  const LPCOLESTR values[] = {OLESTR("C:\\Program Files\\O''Brien\\qx.dll")};
  for (BOOL doRegister : {TRUE, FALSE}) {
    const HRESULT hr =
        RunScriptWithVariables(text.data(), names, values, 1, doRegister);
    Check(hr == S_OK || hr == DISP_E_EXCEPTION || hr == E_FAIL ||
          hr == E_OUTOFMEMORY);
    Check(qxplatform::OpenRegistryHandles() == 0);
    Check(qxplatform::LiveTaskBlocks() == taskBlocks);
    Check(qxplatform::LiveHeapBlocks() == heapBlocks);
  }
  return 0;
}
