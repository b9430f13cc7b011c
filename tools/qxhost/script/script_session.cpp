// The engine's heap for one run: bounded allocation, a fatal handler that
// ends the process with a message instead of aborting, the globals an
// untrusted script gets, compiling a file under its own name, WScript.Quit's
// way out, and the "file:line: message" report of an uncaught error.
#include "tools/qxhost/script/script_session.h"

#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/qxhost/script/dispatch_bridge.h"
#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/text/engine_text.h"

namespace qxhost {
namespace {

// Far beyond what a host script needs; a script that gets there is looping.
constexpr size_t kHeapLimit = kScriptHeapLimit;
// Each block carries its header in front, aligned for any type.
constexpr size_t kBlockHeader =
    (sizeof(ScriptSession::BlockHeader) + alignof(std::max_align_t) - 1) /
    alignof(std::max_align_t) * alignof(std::max_align_t);

ScriptSession::BlockHeader* HeaderOf(void* block) {
  return reinterpret_cast<ScriptSession::BlockHeader*>(
      static_cast<unsigned char*>(block) - kBlockHeader);
}
void* BlockOf(ScriptSession::BlockHeader* header) {
  return reinterpret_cast<unsigned char*>(header) + kBlockHeader;
}

// What an untrusted script sees of the global object: ECMAScript's globals,
// and the web platform's that the engine offers and browsers give pages too.
// The engine's own are not for pages: Duktape (heap pointers, the collector,
// finalizers, the call stack, the environment), CBOR and Node's Buffer.
// clang-format off
const char* const kStandardGlobals[] = {
    "globalThis", "NaN", "Infinity", "undefined", "Object", "Function",
    "Array", "String", "Boolean", "Number", "Date", "RegExp", "Error",
    "EvalError", "RangeError", "ReferenceError", "SyntaxError", "TypeError",
    "URIError", "Math", "JSON", "Proxy", "Reflect", "Symbol", "ArrayBuffer",
    "DataView", "Int8Array", "Uint8Array", "Uint8ClampedArray", "Int16Array",
    "Uint16Array", "Int32Array", "Uint32Array", "Float32Array",
    "Float64Array", "parseInt", "parseFloat", "eval", "isNaN", "isFinite",
    "decodeURI", "decodeURIComponent", "encodeURI", "encodeURIComponent",
    "escape", "unescape", "TextEncoder", "TextDecoder", "performance"};
// clang-format on

bool IsStandardGlobal(const char* name) {
  for (const char* standard : kStandardGlobals) {
    if (std::strcmp(standard, name) == 0) return true;
  }
  return false;
}

// Deletes every global that is not standard, and the engine's own plain
// buffer functions on Uint8Array.
duk_ret_t KeepStandardGlobals(duk_context* context, void* /*udata*/) {
  duk_push_global_object(context);
  duk_enum(context, -1,
           DUK_ENUM_OWN_PROPERTIES_ONLY | DUK_ENUM_INCLUDE_NONENUMERABLE);
  while (duk_next(context, -1, /*get_value=*/0)) {
    const char* name = duk_get_string(context, -1);
    if (name != nullptr && !IsStandardGlobal(name)) {
      duk_del_prop(context, -3);
    } else {
      duk_pop(context);
    }
  }
  duk_pop(context);
  duk_get_prop_string(context, -1, "Uint8Array");
  duk_del_prop_string(context, -1, "allocPlain");
  duk_del_prop_string(context, -1, "plainOf");
  duk_pop_2(context);
  return 0;
}

void* EngineAlloc(void* udata, duk_size_t size) {
  return static_cast<ScriptSession*>(udata)->Allocate(size);
}
void* EngineRealloc(void* udata, void* block, duk_size_t size) {
  return static_cast<ScriptSession*>(udata)->Reallocate(block, size);
}
void EngineFree(void* udata, void* block) {
  static_cast<ScriptSession*>(udata)->Free(block);
}

// The engine cannot continue after a fatal error; nothing can be released
// safely either, so the process ends here.
void EngineFatal(void* /*udata*/, const char* message) {
  std::fflush(stdout);
  std::fprintf(stderr, "qxhost: script engine failure: %s\n",
               message != nullptr ? message : "unknown");
  std::fflush(stderr);
  _exit(kExitFailure);
}

// Reads fileName, lineNumber, name and message of the error at index 0 as
// strings (or undefined). Run under duk_safe_call: a script can give its
// error object getters that throw.
duk_ret_t ReadErrorFields(duk_context* context, void* /*udata*/) {
  static const char* const kFields[] = {"fileName", "lineNumber", "name",
                                        "message"};
  for (const char* field : kFields) {
    duk_get_prop_string(context, 0, field);
    if (!duk_is_undefined(context, -1)) duk_to_string(context, -1);
  }
  return 4;
}

std::string TextAt(duk_context* context, duk_idx_t index) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(context, index, &length);
  return text == nullptr ? std::string() : EngineTextToUtf8(text, length);
}

}  // namespace

ScriptSession::ScriptSession(bool untrusted) : m_untrusted(untrusted) {}

ScriptSession::~ScriptSession() { Close(); }

bool ScriptSession::Open(std::string* error) {
  m_context = duk_create_heap(EngineAlloc, EngineRealloc, EngineFree, this,
                              EngineFatal);
  if (m_context == nullptr) {
    *error = "the script engine could not start";
    return false;
  }
  if (m_untrusted &&
      duk_safe_call(m_context, KeepStandardGlobals, /*udata=*/nullptr, 0, 1) !=
          DUK_EXEC_SUCCESS) {
    *error = "the script engine could not start";
    return false;
  }
  if (m_untrusted) duk_pop(m_context);
  return true;
}

void ScriptSession::Close() {
  if (m_context != nullptr) {
    if (m_abandoned) {
      FreeAbandonedHeap();
    } else {
      // Finalizers run here and drop what the engine still held.
      m_closing = true;
      duk_destroy_heap(m_context);
      m_closing = false;
    }
    m_context = nullptr;
  }
  for (DispatchHandle* handle : m_handles) delete handle;
  m_handles.clear();
}

int ScriptSession::Finish(int runStatus) {
  const bool quitBefore = m_quitting;
  Close();
  // A run that failed keeps its failure: the error was reported, and a
  // finalizer's Quit(0) must not make it a success.
  if (!quitBefore && m_quitting && runStatus == kExitSuccess) return m_quitCode;
  return runStatus;
}

// The heap Quit left is not entered again: its finalizers do not run, and
// the objects they would drop are released by Close with the rest.
void ScriptSession::FreeAbandonedHeap() {
  while (m_blocks != nullptr) {
    BlockHeader* header = m_blocks;
    m_blocks = header->next;
    std::free(header);
  }
  m_allocated = 0;
}

ScriptSession* ScriptSession::From(duk_context* context) {
  duk_memory_functions functions;
  duk_get_memory_functions(context, &functions);
  return static_cast<ScriptSession*>(functions.udata);
}

void ScriptSession::Drop(DispatchHandle* handle) {
  if (m_handles.erase(handle) != 0) delete handle;
}

void ScriptSession::CollectIfDue() {
  if (m_closing || m_abandoned || m_handles.size() < m_collectAt) return;
  duk_gc(m_context, /*flags=*/0);
  m_collectAt =
      m_handles.size() + std::max(kCollectAfterHandles, m_handles.size());
}

void ScriptSession::Quit(int code) {
  if (!m_quitting) {
    m_quitting = true;
    m_quitCode = code;
  }
  if (m_running) std::longjmp(m_quitJump, 1);
}

void ScriptSession::Link(BlockHeader* header) {
  header->previous = nullptr;
  header->next = m_blocks;
  if (m_blocks != nullptr) m_blocks->previous = header;
  m_blocks = header;
}

void ScriptSession::Unlink(BlockHeader* header) {
  if (header->previous != nullptr) {
    header->previous->next = header->next;
  } else {
    m_blocks = header->next;
  }
  if (header->next != nullptr) header->next->previous = header->previous;
}

void* ScriptSession::Allocate(size_t size) {
  if (size > kHeapLimit - m_allocated) return nullptr;
  auto* header = static_cast<BlockHeader*>(std::malloc(size + kBlockHeader));
  if (header == nullptr) return nullptr;
  header->size = size;
  Link(header);
  m_allocated += size;
  return BlockOf(header);
}

void* ScriptSession::Reallocate(void* block, size_t size) {
  if (block == nullptr) return Allocate(size);
  BlockHeader* header = HeaderOf(block);
  size_t old = header->size;
  if (size > old && size - old > kHeapLimit - m_allocated) return nullptr;
  // Off the list while realloc may move it; back on whatever happens.
  Unlink(header);
  auto* moved =
      static_cast<BlockHeader*>(std::realloc(header, size + kBlockHeader));
  if (moved == nullptr) {
    Link(header);
    return nullptr;
  }
  moved->size = size;
  Link(moved);
  m_allocated = m_allocated - old + size;
  return BlockOf(moved);
}

void ScriptSession::Free(void* block) {
  if (block == nullptr) return;
  BlockHeader* header = HeaderOf(block);
  m_allocated -= header->size;
  Unlink(header);
  std::free(header);
}

// Quit jumps back here from wherever the script called it. The frames in
// between are the engine's (C) and host functions that hold nothing with a
// destructor while they call back into script, as they must anyway: the
// engine's own errors unwind them with longjmp too.
duk_int_t ScriptSession::CallGuarded() {
  if (setjmp(m_quitJump) != 0) {
    m_running = false;
    m_abandoned = true;
    return DUK_EXEC_ERROR;
  }
  m_running = true;
  duk_int_t status = duk_pcall(m_context, 0);
  m_running = false;
  return status;
}

RunOutcome ScriptSession::Run(const std::string& fileName,
                              const std::string& source, int firstLine) {
  if (m_abandoned) return RunOutcome::kQuit;
  // The engine counts lines from 1 in what it compiles. Blank lines in
  // front put them where the block stands in its page, but cost each block
  // as many bytes as lines come before it: quadratic in a page of many
  // blocks. Past the padding allowed, the block gets a name of its own
  // instead, and its lines are mapped back when reported.
  size_t before = static_cast<size_t>(firstLine > 1 ? firstLine - 1 : 0);
  std::string name = fileName;
  std::string text;
  const std::string* compiled = &source;
  if (before > 0 && before <= kMaxLinePadding - m_linePadding) {
    m_linePadding += before;
    text.assign(before, '\n');
    text += source;
    compiled = &text;
  } else if (before > 0) {
    name += " (script at line " + std::to_string(firstLine) + ")";
    m_blockNames[name] = {fileName, static_cast<long>(before)};
  }
  duk_push_lstring(m_context, name.data(), name.size());
  duk_int_t status = duk_pcompile_lstring_filename(
      m_context, /*flags=*/0, compiled->data(), compiled->size());
  if (status == DUK_EXEC_SUCCESS) status = CallGuarded();
  if (m_abandoned) return RunOutcome::kQuit;
  RunOutcome outcome = RunOutcome::kCompleted;
  if (m_quitting) {
    outcome = RunOutcome::kQuit;
  } else if (status != DUK_EXEC_SUCCESS) {
    ReportUncaught(fileName);
    outcome = m_quitting ? RunOutcome::kQuit : RunOutcome::kFailed;
  }
  duk_pop(m_context);
  return outcome;
}

void ScriptSession::ReportUncaught(const std::string& fileName) {
  duk_context* context = m_context;
  if (!duk_is_error(context, -1)) {
    duk_size_t length = 0;
    const char* value = duk_safe_to_lstring(context, -1, &length);
    ReportLine(fileName +
               ": uncaught exception: " + EngineTextToUtf8(value, length));
    return;
  }
  duk_dup(context, -1);
  if (duk_safe_call(context, ReadErrorFields, /*udata=*/nullptr, 1, 4) !=
      DUK_EXEC_SUCCESS) {
    duk_pop_n(context, 4);
    ReportLine(fileName + ": uncaught exception");
    return;
  }
  std::string where = TextAt(context, -4);
  std::string line = TextAt(context, -3);
  std::string name = TextAt(context, -2);
  std::string message = TextAt(context, -1);
  duk_pop_n(context, 4);
  if (where.empty()) where = fileName;
  MapBlockLine(&where, &line);
  std::string text = name == "Error" || name.empty()
                         ? message
                         : (message.empty() ? name : name + ": " + message);
  if (line.empty() || line == "0") {
    ReportLine(where + ": " + text);
  } else {
    ReportLine(where + ":" + line + ": " + text);
  }
}

void ScriptSession::MapBlockLine(std::string* where, std::string* line) const {
  auto block = m_blockNames.find(*where);
  if (block == m_blockNames.end()) return;
  *where = block->second.first;
  char* end = nullptr;
  long number = std::strtol(line->c_str(), &end, 10);
  if (!line->empty() && *end == '\0' && number > 0)
    *line = std::to_string(number + block->second.second);
}

void ThrowIfQuitting(duk_context* context) {
  if (!ScriptSession::From(context)->quitting()) return;
  duk_push_error_object_raw(context, DUK_ERR_ERROR, /*filename=*/nullptr, 0,
                            "the script has quit");
  (void)duk_throw(context);
}

duk_ret_t ThrowOutOfMemory(duk_context* context) {
  duk_push_error_object_raw(context, DUK_ERR_RANGE_ERROR, /*filename=*/nullptr,
                            0, "out of memory");
  return duk_throw(context);
}

}  // namespace qxhost
