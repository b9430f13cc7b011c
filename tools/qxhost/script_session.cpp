// The engine's heap for one run: bounded allocation, a fatal handler that
// ends the process with a message instead of aborting, compiling a file
// under its own name, and the "file:line: message" report of an uncaught
// error.
#include "tools/qxhost/script_session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/qxhost/dispatch_bridge.h"
#include "tools/qxhost/engine_text.h"
#include "tools/qxhost/host_output.h"

namespace qxhost {
namespace {

// Far beyond what a host script needs; a script that gets there is looping.
constexpr size_t kHeapLimit = size_t{512} << 20;
// Each block carries its size in front, aligned for any type.
constexpr size_t kBlockHeader = alignof(std::max_align_t);

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
  return true;
}

void ScriptSession::Close() {
  if (m_context != nullptr) {
    // Finalizers run here and drop what the engine still held.
    duk_destroy_heap(m_context);
    m_context = nullptr;
  }
  for (DispatchHandle* handle : m_handles) delete handle;
  m_handles.clear();
}

ScriptSession* ScriptSession::From(duk_context* context) {
  duk_memory_functions functions;
  duk_get_memory_functions(context, &functions);
  return static_cast<ScriptSession*>(functions.udata);
}

void ScriptSession::Drop(DispatchHandle* handle) {
  if (m_handles.erase(handle) != 0) delete handle;
}

void ScriptSession::RequestQuit(int code) {
  if (m_quitting) return;
  m_quitting = true;
  m_quitCode = code;
}

void* ScriptSession::Allocate(size_t size) {
  if (size > kHeapLimit - m_allocated) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + kBlockHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  m_allocated += size;
  return block + kBlockHeader;
}

void* ScriptSession::Reallocate(void* block, size_t size) {
  if (block == nullptr) return Allocate(size);
  auto* start = static_cast<unsigned char*>(block) - kBlockHeader;
  size_t old = 0;
  std::memcpy(&old, start, sizeof old);
  if (size > old && size - old > kHeapLimit - m_allocated) return nullptr;
  auto* moved =
      static_cast<unsigned char*>(std::realloc(start, size + kBlockHeader));
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, &size, sizeof size);
  m_allocated = m_allocated - old + size;
  return moved + kBlockHeader;
}

void ScriptSession::Free(void* block) {
  if (block == nullptr) return;
  auto* start = static_cast<unsigned char*>(block) - kBlockHeader;
  size_t old = 0;
  std::memcpy(&old, start, sizeof old);
  m_allocated -= old;
  std::free(start);
}

RunOutcome ScriptSession::Run(const std::string& fileName,
                              const std::string& source, int firstLine) {
  // Blank lines in front put the engine's line numbers where the text
  // stands in its file (a script block inside a page).
  std::string text(static_cast<size_t>(firstLine > 1 ? firstLine - 1 : 0),
                   '\n');
  text += source;
  duk_push_lstring(m_context, fileName.data(), fileName.size());
  duk_int_t status = duk_pcompile_lstring_filename(m_context, /*flags=*/0,
                                                   text.data(), text.size());
  if (status == DUK_EXEC_SUCCESS) status = duk_pcall(m_context, 0);
  RunOutcome outcome = RunOutcome::kCompleted;
  if (m_quitting) {
    outcome = RunOutcome::kQuit;
  } else if (status != DUK_EXEC_SUCCESS) {
    ReportUncaught(fileName);
    outcome = RunOutcome::kFailed;
  }
  duk_pop(m_context);
  return outcome;
}

void ScriptSession::ReportUncaught(const std::string& fileName) {
  duk_context* context = m_context;
  std::fflush(stdout);
  if (!duk_is_error(context, -1)) {
    duk_size_t length = 0;
    const char* value = duk_safe_to_lstring(context, -1, &length);
    std::fprintf(stderr, "%s: uncaught exception: %s\n", fileName.c_str(),
                 EngineTextToUtf8(value, length).c_str());
    return;
  }
  duk_dup(context, -1);
  if (duk_safe_call(context, ReadErrorFields, /*udata=*/nullptr, 1, 4) !=
      DUK_EXEC_SUCCESS) {
    duk_pop_n(context, 4);
    std::fprintf(stderr, "%s: uncaught exception\n", fileName.c_str());
    return;
  }
  std::string where = TextAt(context, -4);
  std::string line = TextAt(context, -3);
  std::string name = TextAt(context, -2);
  std::string message = TextAt(context, -1);
  duk_pop_n(context, 4);
  if (where.empty()) where = fileName;
  std::string text = name == "Error" || name.empty()
                         ? message
                         : (message.empty() ? name : name + ": " + message);
  if (line.empty() || line == "0") {
    std::fprintf(stderr, "%s: %s\n", where.c_str(), text.c_str());
  } else {
    std::fprintf(stderr, "%s:%s: %s\n", where.c_str(), line.c_str(),
                 text.c_str());
  }
}

void ThrowIfQuitting(duk_context* context) {
  if (!ScriptSession::From(context)->quitting()) return;
  duk_push_error_object_raw(context, DUK_ERR_ERROR, /*filename=*/nullptr, 0,
                            "the script has quit");
  (void)duk_throw(context);
}

}  // namespace qxhost
