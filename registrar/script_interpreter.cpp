// RunScript: the root blocks of an expanded script. In register mode every
// change is recorded as it is made, so that a root block that fails, or a
// whole run whose next registration step fails, is taken back exactly.
#include "registrar/script_interpreter.h"

#include "base/holders.h"
#include "base/result_macros.h"
#include "registrar/key_block_walker.h"
#include "registrar/key_path.h"
#include "registrar/recorded_changes.h"
#include "registrar/script_parser.h"
#include "registrar/script_tables.h"
#include "registrar/undo_log.h"

namespace {

// changes is null in unregister mode. keepRecords keeps the records of the
// root blocks that completed, for a step that may still want them back;
// without one they are forgotten as each block completes.
HRESULT WalkRootBlocks(ScriptParser& parser, BOOL doRegister,
                       ChangeRecorder* changes, bool keepRecords) {
  char token[kTokenBufferSize];
  // A text of white space only holds no root block and changes nothing.
  parser.SkipBlanks();
  while (*parser.Position() != '\0') {
    RETURN_IF_FAILED(parser.ReadToken(token));
    const HKEY root = FindRootKey(token);
    RETURN_REFUSED_IF(parser, kRootKey, root == nullptr);
    RETURN_IF_FAILED(parser.ReadToken(token));
    RETURN_REFUSED_IF(parser, kOpenBrace, token[0] != kOpenBrace);

    if (doRegister) {
      const UndoLog::Mark blockStart = changes->log.Here();
      changes->log.SetRoot(root);
      const HRESULT registered = WalkKeyBlock(
          parser, token, root, /*doRegister=*/TRUE, /*absent=*/FALSE, changes);
      if (FAILED(registered)) {
        // Take back what the failed block did; root blocks completed
        // before it stay.
        changes->log.UndoTo(blockStart);
        return registered;
      }
      if (!keepRecords) changes->log.ForgetTo(blockStart);
    } else {
      RETURN_IF_FAILED(WalkKeyBlock(parser, token, root,
                                    /*doRegister=*/FALSE, /*absent=*/FALSE,
                                    /*changes=*/nullptr));
    }
    parser.SkipBlanks();
  }
  return S_OK;
}

HRESULT Register(ScriptParser& parser, const Allocator& allocator,
                 const RegistrationStep* then) {
  UndoLog log(allocator);
  KeyPath path(allocator);
  ChangeRecorder changes{allocator, log, path};
  RETURN_IF_FAILED(WalkRootBlocks(parser, /*doRegister=*/TRUE, &changes,
                                  /*keepRecords=*/then != nullptr));
  const HRESULT rest = RunRegistrationStep(then);
  // The step failed after the whole script was written: all of it goes.
  if (FAILED(rest)) log.UndoTo(UndoLog::Mark{0, 0});
  return rest;
}

}  // namespace

HRESULT RunScript(ScriptParser& parser, const Allocator& allocator,
                  const char* text, BOOL doRegister,
                  const RegistrationStep* then, ScriptDiagnostic* diagnostic) {
  char* expanded = nullptr;
  const HRESULT expansion = parser.ExpandVariables(text, &expanded);
  if (FAILED(expansion)) {
    if (diagnostic != nullptr) parser.Describe(expansion, diagnostic);
    parser.Stop();
    return expansion;
  }
  UniqueTaskMem expandedText(expanded);

  parser.Start(expanded);
  const HRESULT status =
      doRegister ? Register(parser, allocator, then)
                 : WalkRootBlocks(parser, /*doRegister=*/FALSE,
                                  /*changes=*/nullptr, /*keepRecords=*/false);
  if (diagnostic != nullptr && FAILED(status))
    parser.Describe(status, diagnostic);
  parser.Stop();
  return status;
}
