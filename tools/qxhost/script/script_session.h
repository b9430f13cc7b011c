// One script run: the engine's heap, the automation objects it has handed
// to script, and how the run ended. Every object is released when the
// session closes, whether or not the engine collected it first.
#pragma once
#include <duktape.h>

#include <csetjmp>
#include <cstddef>
#include <exception>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace qxhost {

struct DispatchHandle;

enum class RunOutcome { kCompleted, kFailed, kQuit };

// The engine's heap is bounded by this; host-side conversions of script
// text are bounded by it too.
constexpr size_t kScriptHeapLimit = size_t{512} << 20;
// Blank lines a session compiles in front of blocks, in all: each costs the
// engine a byte to read, and a page of many blocks would ask for as many as
// its blocks times its lines.
constexpr size_t kMaxLinePadding = size_t{16} << 20;

// Live handles a session lets grow before it asks the collector, and the
// least growth it allows after a collection. Past this, it lets them double,
// so that a script holding many objects does not pay a collection every few
// objects it makes.
constexpr size_t kCollectAfterHandles = 1000;

class ScriptSession {
 public:
  // An untrusted session's global object holds the standard language only:
  // the engine's own globals (Duktape, CBOR, Buffer) are removed when it
  // opens.
  explicit ScriptSession(bool untrusted);
  ~ScriptSession();
  ScriptSession(const ScriptSession&) = delete;
  ScriptSession& operator=(const ScriptSession&) = delete;

  // Creates the heap; false with *error when the engine cannot start.
  bool Open(std::string* error);
  // Destroys the heap, then releases whatever script still held.
  void Close();
  // Closes the session and gives the run's exit status: runStatus, unless a
  // finalizer that ran as the heap went called WScript.Quit after a run
  // that completed; that code is the script's last word, as it would have
  // been had the collector reached the object while the script ran.
  [[nodiscard]] int Finish(int runStatus);

  duk_context* context() const { return m_context; }
  bool untrusted() const { return m_untrusted; }
  static ScriptSession* From(duk_context* context);

  // Compiles source under fileName, its first line counted as firstLine, and
  // runs it. An uncaught error is reported as "file:line: message". After a
  // run that quit, nothing more runs: kQuit at once. A block that does not
  // start on line 1 (a page's script) is compiled after blank lines, so
  // that script sees its lines numbered as in the file, as long as the blank
  // lines of all blocks stay within kMaxLinePadding; past that, under a name
  // of its own, "file (script at line N)", which script then sees as its
  // fileName, and the report maps its lines back to the file's.
  RunOutcome Run(const std::string& fileName, const std::string& source,
                 int firstLine);

  // WScript.Quit: the run ends here with code, whatever the script would
  // catch. The engine gives script no uncatchable error and no hook to stop
  // it, so while a run is going this does not return: it leaves the engine
  // where it stands for Run's caller (no catch, finally or finalizer runs),
  // the engine is never entered again, and Close frees its memory block by
  // block. Outside a run (a finalizer while the heap is destroyed) it
  // returns, and the caller throws.
  void Quit(int code);
  bool quitting() const { return m_quitting; }
  int quitCode() const { return m_quitCode; }

  void Adopt(DispatchHandle* handle) { m_handles.insert(handle); }
  bool Owns(DispatchHandle* handle) const {
    return m_handles.count(handle) != 0;
  }
  // Releases and frees one handle (its script object was collected).
  void Drop(DispatchHandle* handle);
  // How many objects script holds now, collected or not.
  size_t liveHandles() const { return m_handles.size(); }

  // Runs the engine's collector once the handles have grown well past what
  // it left last time. The objects they hold live outside the engine's
  // heap, so its own schedule cannot see them: a loop that makes objects
  // script drops in cycles would otherwise keep them all. Call only where
  // no frame between the engine and here holds anything with a destructor
  // (the top of a host function): a finalizer the collector runs may quit.
  void CollectIfDue();

  // The engine's allocations, bounded so that a runaway script gets an
  // out-of-memory error instead of taking the machine. Every block is kept
  // on a list, so that a heap left by Quit can be freed.
  void* Allocate(size_t size);
  void* Reallocate(void* block, size_t size);
  void Free(void* block);

  struct BlockHeader {
    size_t size;
    BlockHeader* previous;
    BlockHeader* next;
  };

 private:
  duk_int_t CallGuarded();
  void ReportUncaught(const std::string& fileName);
  // The file and line a block's name and line stand for.
  void MapBlockLine(std::string* where, std::string* line) const;
  void Link(BlockHeader* header);
  void Unlink(BlockHeader* header);
  void FreeAbandonedHeap();

  bool m_untrusted;
  duk_context* m_context = nullptr;
  std::unordered_set<DispatchHandle*> m_handles;
  size_t m_collectAt = kCollectAfterHandles;  // live handles
  bool m_closing = false;                     // the heap is being destroyed
  bool m_quitting = false;
  int m_quitCode = 0;
  bool m_running = false;    // inside CallGuarded: Quit can jump
  bool m_abandoned = false;  // left by Quit: never entered again
  std::jmp_buf m_quitJump;
  size_t m_allocated = 0;
  BlockHeader* m_blocks = nullptr;
  size_t m_linePadding = 0;  // compiled so far
  // Each block name with its file and the lines before its first.
  std::unordered_map<std::string, std::pair<std::string, long>> m_blockNames;
};

// Throws the error that unwinds a quitting script; call at the top of every
// host function. Returns normally when the run is not quitting.
void ThrowIfQuitting(duk_context* context);

// Throws a RangeError "out of memory" (for a failed host allocation).
duk_ret_t ThrowOutOfMemory(duk_context* context);

// Wraps a host function: a C++ exception (an allocation that failed) must
// not unwind through the engine's C frames, so it becomes a script error
// here. Function may throw into the engine as usual.
template <duk_ret_t (*Function)(duk_context*)>
duk_ret_t HostFunction(duk_context* context) {
  bool failed = false;
  duk_ret_t result = 0;
  try {
    result = Function(context);
  } catch (const std::exception&) {
    failed = true;
  }
  if (failed) return ThrowOutOfMemory(context);
  return result;
}

}  // namespace qxhost
