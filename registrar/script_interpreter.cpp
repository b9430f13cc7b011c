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
// without one they are forgotten as each block completes. *rollback is the
// first step the registry refused while a failed block was taken back.
HRESULT WalkRootBlocks(ScriptParser& parser, BOOL doRegister,
                       ChangeRecorder* changes, bool keepRecords,
                       HRESULT* rollback) {
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
        // before it stay. The block's failure stays the run's status: a
        // roll-back that fell short is the hook's and the diagnostic's.
        *rollback = REPORT_IF_FAILED(changes->log.UndoTo(blockStart));
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
                 const RegistrationStep* then, HRESULT* rollback) {
  UndoLog log(allocator);
  KeyPath path(allocator);
  ChangeRecorder changes{allocator, log, path};
  RETURN_IF_FAILED(WalkRootBlocks(parser, /*doRegister=*/TRUE, &changes,
                                  /*keepRecords=*/then != nullptr, rollback));
  const HRESULT rest = RunRegistrationStep(then);
  // The step failed after the whole script was written: all of it goes,
  // and the step's failure is the run's status however far that got.
  if (FAILED(rest))
    *rollback = REPORT_IF_FAILED(log.UndoTo(UndoLog::Mark{0, 0}));
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
  HRESULT rollback = S_OK;
  const HRESULT status = doRegister
                             ? Register(parser, allocator, then, &rollback)
                             : WalkRootBlocks(parser, /*doRegister=*/FALSE,
                                              /*changes=*/nullptr,
                                              /*keepRecords=*/false, &rollback);
  if (diagnostic != nullptr && FAILED(status)) {
    parser.Describe(status, diagnostic);
    diagnostic->rollback = rollback;
  }
  parser.Stop();
  return status;
}
