// RunScript: the root blocks of an expanded script, with the roll-back of a
// failed root block in register mode.
#include "registrar/script_interpreter.h"

#include "base/holders.h"
#include "base/result_macros.h"
#include "registrar/key_block_walker.h"
#include "registrar/script_parser.h"
#include "registrar/script_tables.h"

namespace {

HRESULT WalkRootBlocks(ScriptParser& parser, BOOL doRegister) {
  char token[kTokenBufferSize];
  // A text of white space only holds no root block and changes nothing.
  parser.SkipBlanks();
  while (*parser.Position() != '\0') {
    RETURN_IF_FAILED(parser.ReadToken(token));
    const HKEY root = FindRootKey(token);
    RETURN_HR_IF(DISP_E_EXCEPTION, root == nullptr);
    RETURN_IF_FAILED(parser.ReadToken(token));
    RETURN_HR_IF(DISP_E_EXCEPTION, token[0] != kOpenBrace);

    if (doRegister) {
      const char* blockStart = parser.Position();
      const HRESULT registered =
          WalkKeyBlock(parser, token, root, /*doRegister=*/TRUE,
                       /*absent=*/FALSE);
      if (FAILED(registered)) {
        // Take back what the failed block wrote; root blocks completed
        // before it stay.
        parser.SetPosition(blockStart);
        RollBackKeyBlock(parser, token, root);
        return registered;
      }
    } else {
      RETURN_IF_FAILED(WalkKeyBlock(parser, token, root,
                                    /*doRegister=*/FALSE, /*absent=*/FALSE));
    }
    parser.SkipBlanks();
  }
  return S_OK;
}

}  // namespace

HRESULT RunScript(ScriptParser& parser, const char* text, BOOL doRegister) {
  char* expanded = nullptr;
  RETURN_IF_FAILED(parser.ExpandVariables(text, &expanded));
  UniqueTaskMem expandedText(expanded);

  parser.SetPosition(expanded);
  const HRESULT status = WalkRootBlocks(parser, doRegister);
  parser.SetPosition(nullptr);
  return status;
}
