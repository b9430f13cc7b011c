// One script run: the engine's heap, the automation objects it has handed
// to script, and how the run ended. Every object is released when the
// session closes, whether or not the engine collected it first.
#pragma once
#include <duktape.h>

#include <cstddef>
#include <string>
#include <unordered_set>

namespace qxhost {

struct DispatchHandle;

enum class RunOutcome { kCompleted, kFailed, kQuit };

class ScriptSession {
 public:
  explicit ScriptSession(bool untrusted);
  ~ScriptSession();
  ScriptSession(const ScriptSession&) = delete;
  ScriptSession& operator=(const ScriptSession&) = delete;

  // Creates the heap; false with *error when the engine cannot start.
  bool Open(std::string* error);
  // Destroys the heap, then releases whatever script still held.
  void Close();

  duk_context* context() const { return m_context; }
  bool untrusted() const { return m_untrusted; }
  static ScriptSession* From(duk_context* context);

  // Compiles source under fileName, its first line counted as firstLine, and
  // runs it. An uncaught error is reported as "file:line: message".
  RunOutcome Run(const std::string& fileName, const std::string& source,
                 int firstLine);

  // WScript.Quit: the run ends with this code, even if script catches the
  // error that unwinds it (every host call made afterwards throws again).
  void RequestQuit(int code);
  bool quitting() const { return m_quitting; }
  int quitCode() const { return m_quitCode; }

  void Adopt(DispatchHandle* handle) { m_handles.insert(handle); }
  bool Owns(DispatchHandle* handle) const {
    return m_handles.count(handle) != 0;
  }
  // Releases and frees one handle (its script object was collected).
  void Drop(DispatchHandle* handle);

  // The engine's allocations, bounded so that a runaway script gets an
  // out-of-memory error instead of taking the machine.
  void* Allocate(size_t size);
  void* Reallocate(void* block, size_t size);
  void Free(void* block);

 private:
  void ReportUncaught(const std::string& fileName);

  bool m_untrusted;
  duk_context* m_context = nullptr;
  std::unordered_set<DispatchHandle*> m_handles;
  bool m_quitting = false;
  int m_quitCode = 0;
  size_t m_allocated = 0;
};

// Throws the error that unwinds a quitting script; call at the top of every
// host function. Returns normally when the run is not quitting.
void ThrowIfQuitting(duk_context* context);

}  // namespace qxhost
