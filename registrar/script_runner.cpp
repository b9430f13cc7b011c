// RunScriptWithVariables: a ReplacementMap and a ScriptParser for one run.
#include "registrar/script_runner.h"

#include "base/result_macros.h"
#include "registrar/replacement_map.h"
#include "registrar/script_interpreter.h"
#include "registrar/script_parser.h"

HRESULT RunScriptWithVariables(const Allocator& allocator,
                               const char* scriptText, const LPCOLESTR* names,
                               const LPCOLESTR* values, int count,
                               BOOL doRegister, const RegistrationStep* then,
                               ScriptDiagnostic* diagnostic) {
  if (diagnostic != nullptr) *diagnostic = ScriptDiagnostic();
  RETURN_HR_IF(E_POINTER, scriptText == nullptr);
  RETURN_HR_IF(E_POINTER, count > 0 && (names == nullptr || values == nullptr));
  RETURN_HR_IF(E_INVALIDARG, count < 0);
  for (int i = 0; i < count; ++i) {
    RETURN_HR_IF(E_POINTER, names[i] == nullptr || values[i] == nullptr);
  }

  // The map frees its pairs and array when it goes out of scope.
  ReplacementMap map(allocator);
  RETURN_IF_FAILED(map.Make());
  for (int i = 0; i < count; ++i) {
    RETURN_HR_IF(E_OUTOFMEMORY, FAILED(map.AddPair(names[i], values[i])));
  }
  ScriptParser parser(&map);
  const HRESULT status =
      RunScript(parser, allocator, scriptText, doRegister, then, diagnostic);
  map.Clear();
  return status;
}
