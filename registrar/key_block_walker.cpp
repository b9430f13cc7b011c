// WalkKeyBlock: one block of entries, recursively, in register or unregister
// mode. Syntax rules that keep a bad script from doing damage:
//  - a key name is refused (DISP_E_EXCEPTION) when it is empty, is "{" alone,
//    begins with "}", holds a backslash, or would not fit the 260-byte copy
//    unregistration deletes by: an empty or cut-short name would make the
//    registry act on a different key than the script names;
//  - a block stands only behind a key entry: a "{" where an entry begins
//    (after a value entry, after another block, or after a "Delete" entry in
//    register mode) and a block behind a "Delete" entry in unregister mode
//    are syntax errors (DISP_E_EXCEPTION), never read without effect;
//  - blocks nest at most kMaxBlockDepth deep.
// In register mode every change goes through the run's undo log (the key
// path it keeps names each key there), so a failure anywhere in a root
// block can be taken back exactly, without reading the text again.
// In unregister mode a key that still has subkeys after its entry stays with
// all of them, including a subkey that happens to bear the key's own name:
// such a subkey was not named by the script at that point (had it been, its
// own entry would have removed it). Its values are deleted all the same:
// the walk holds keys for reading only in unregister mode, so that a key
// that refuses writing is still walked, and each value is deleted through a
// handle opened for just that.
// The registry's answers are told apart (IsRegistryFailure): a change it
// refuses for what it is (a key that refuses writing or deleting) is passed
// over in either mode, as the product's scripts expect, while a registry
// that fails at any read or write (locked past its time-out, full, damaged)
// ends the walk with HRESULT_FROM_WIN32 of its status: register mode's
// caller takes the block back, and unregister mode stops where it was.
#include "registrar/key_block_walker.h"

#include "base/result_macros.h"
#include "registrar/key_holder.h"
#include "registrar/key_path.h"
#include "registrar/key_tree.h"
#include "registrar/recorded_changes.h"
#include "registrar/registry_failure.h"
#include "registrar/script_parser.h"
#include "registrar/script_tables.h"
#include "registrar/value_writer.h"

namespace {

constexpr REGSAM kFullAccess = KEY_ALL_ACCESS;
constexpr REGSAM kReadAccess = KEY_READ;

constexpr char kForceRemoveKeyword[] = "ForceRemove";
constexpr char kDeleteKeyword[] = "Delete";
constexpr char kNoRemoveKeyword[] = "NoRemove";
constexpr char kValKeyword[] = "Val";

// Keywords are ASCII words, and a case-insensitive match starts with the
// same letter in either case; that test spares most key names the full
// comparison.
bool TokenIs(const char* token, const char* keyword) {
  const char first = token[0] >= 'a' && token[0] <= 'z'
                         ? static_cast<char>(token[0] - 'a' + 'A')
                         : token[0];
  if (first != keyword[0]) return false;
  return lstrcmpiA(token, keyword) == 0;
}

bool IsOpenBraceToken(const char* token) {
  return token[0] == kOpenBrace && token[1] == '\0';
}

bool IsAcceptableKeyName(const char* name) {
  if (name[0] == '\0' || name[0] == kCloseBrace) return false;
  if (IsOpenBraceToken(name)) return false;
  if (static_cast<size_t>(lstrlenA(name)) >= kNameBufferSize) return false;
  return !HasBackslash(name);
}

// Opens name into holder with access. *opened says whether the open worked;
// an open that worked but whose replaced key would not close fails, and so
// does one the registry failed, rather than take the key for missing.
HRESULT TryOpenKey(KeyHolder& holder, HKEY parent, const char* name,
                   REGSAM access, bool* opened) {
  const HKEY before = holder.Get();
  const LSTATUS status = OpenKeyInto(holder, parent, name, access);
  *opened = status == ERROR_SUCCESS || holder.Get() != before;
  RETURN_HR_IF(DISP_E_EXCEPTION, *opened && status != ERROR_SUCCESS);
  RETURN_IF_FAILED(FailureOfRegistry(status));
  return S_OK;
}

// A key that refuses setting values keeps its value, as registration leaves
// a value it cannot write; a handle that will not close fails the run, and
// so does a registry that fails. A predefined root is opened again too
// rather than used as it is, so a root that refuses writing keeps its
// values like any other key.
HRESULT DeleteValueOf(HKEY key, const char* valueName) {
  KeyHolder writable;
  const LSTATUS opened =
      OpenKeyInto(writable, key, /*name=*/nullptr, KEY_SET_VALUE);
  RETURN_IF_FAILED(FailureOfRegistry(opened));
  if (opened != ERROR_SUCCESS) return S_OK;
  RETURN_IF_FAILED(
      FailureOfRegistry(RegDeleteValueA(writable.Get(), valueName)));
  RETURN_HR_IF(DISP_E_EXCEPTION, writable.Close() != ERROR_SUCCESS);
  return S_OK;
}

// The key name in token, which the name test has found to fit name whole.
void CopyKeyName(const char* token, char (&name)[kNameBufferSize]) {
  for (size_t i = 0;; ++i) {
    name[i] = token[i];
    if (token[i] == '\0') break;
  }
}

class BlockWalker {
 public:
  // changes is null in unregister mode, which records nothing.
  BlockWalker(ScriptParser& parser, char (&token)[kTokenBufferSize],
              ChangeRecorder* changes)
      : m_parser(parser), m_token(token), m_changes(changes) {}

  HRESULT Walk(HKEY parent, bool absent, int depth);

 private:
  struct BlockState {
    HKEY parent;
    bool absentOnEntry;
    bool absent;
    bool deleteAllowed;
    int depth;
    KeyHolder current;
  };

  HRESULT ValueEntry(BlockState& block);
  HRESULT RegisterKeyEntry(BlockState& block);
  HRESULT UnregisterKeyEntry(BlockState& block, bool deleteEntry);
  // The two ways an unregister entry goes on: a key holding nothing the
  // script does not name goes before its block, which is then only read;
  // any other key, or a missing one, has its block walked first and goes
  // only when nothing is left below it.
  HRESULT RemoveKeyThenSkipBlock(BlockState& block, const char* keyName,
                                 bool deleteEntry);
  HRESULT WalkBlockThenRemoveKey(BlockState& block, const char* keyName,
                                 bool deleteEntry);
  // Closes the key the entry holds and deletes it by name, unless a
  // NoRemove entry has kept the block's keys.
  HRESULT CloseAndDeleteKey(BlockState& block, const char* keyName);
  HRESULT ReadToken() { return m_parser.ReadToken(m_token); }
  HRESULT SkipValueClause() { return m_parser.SkipValueClause(m_token); }

  bool Registering() const { return m_changes != nullptr; }

  ScriptParser& m_parser;
  char (&m_token)[kTokenBufferSize];
  ChangeRecorder* const m_changes;
};

HRESULT BlockWalker::Walk(HKEY parent, bool absent, int depth) {
  RETURN_REFUSED_IF(m_parser, kShallowerNesting, depth > kMaxBlockDepth);
  BlockState block{parent, absent, absent, /*deleteAllowed=*/true, depth, {}};
  RETURN_IF_FAILED(ReadToken());

  for (;;) {
    if (m_token[0] == kCloseBrace) {
      block.current.Close();
      return S_OK;
    }
    RETURN_REFUSED_IF(m_parser, kEntry, IsOpenBraceToken(m_token));

    bool keyNameFollows = false;
    bool deleteEntry = false;
    if (TokenIs(m_token, kForceRemoveKeyword) ||
        TokenIs(m_token, kDeleteKeyword)) {
      deleteEntry = TokenIs(m_token, kDeleteKeyword);
      RETURN_IF_FAILED(ReadToken());
      if (Registering()) {
        RETURN_REFUSED_IF(m_parser, kKeyName, !IsAcceptableKeyName(m_token));
        if (!IsOnNeverDeleteList(m_token)) {
          RETURN_IF_FAILED(
              RemoveKeyTreeRecorded(*m_changes, block.parent, m_token));
        }
        if (deleteEntry) {
          RETURN_IF_FAILED(ReadToken());
          RETURN_IF_FAILED(SkipValueClause());
          continue;
        }
      }
    }
    if (TokenIs(m_token, kNoRemoveKeyword)) {
      block.deleteAllowed = false;
      RETURN_IF_FAILED(ReadToken());
      keyNameFollows = true;
    }
    if (!keyNameFollows && TokenIs(m_token, kValKeyword)) {
      RETURN_IF_FAILED(ValueEntry(block));
      continue;
    }

    RETURN_REFUSED_IF(m_parser, kKeyName, !IsAcceptableKeyName(m_token));
    if (Registering()) {
      RETURN_IF_FAILED(RegisterKeyEntry(block));
    } else {
      RETURN_IF_FAILED(UnregisterKeyEntry(block, deleteEntry));
    }
  }
}

HRESULT BlockWalker::ValueEntry(BlockState& block) {
  char valueName[kNameBufferSize];
  RETURN_IF_FAILED(m_parser.ReadToken(valueName));
  RETURN_IF_FAILED(ReadToken());
  RETURN_REFUSED_IF(m_parser, kEquals, m_token[0] != kEquals);
  if (Registering()) {
    // The value belongs to the key of the enclosing block, which is where
    // the key path stands.
    return WriteValue(m_parser, *m_changes, block.parent, valueName, m_token);
  }
  if (!block.absent) RETURN_IF_FAILED(DeleteValueOf(block.parent, valueName));
  return SkipValueClause();
}

HRESULT BlockWalker::RegisterKeyEntry(BlockState& block) {
  // The key's own path, for what is recorded of it and below it.
  KeyPathLevel level(m_changes->path);
  RETURN_IF_FAILED(level.Push(m_token));
  bool opened = false;
  RETURN_IF_FAILED(
      TryOpenKey(block.current, block.parent, m_token, kFullAccess, &opened));
  if (!opened) {
    // A key that exists but refuses full access is still walked, read only.
    RETURN_IF_FAILED(
        TryOpenKey(block.current, block.parent, m_token, kReadAccess, &opened));
  }
  if (!opened) {
    HKEY created = nullptr;
    LSTATUS status = ERROR_SUCCESS;
    RETURN_IF_FAILED(CreateKeyRecorded(*m_changes, block.parent, m_token,
                                       &created, &status));
    // A registry that failed says so, and so does one that denies the
    // caller the right to make the key (a user without administrator
    // rights registering into the machine's classes): that is the caller's
    // to mend, not the script's. Any other refusal fails the run as a
    // script fault, as it always has.
    RETURN_IF_FAILED(FailureOfRegistry(status));
    RETURN_HR_IF(HResultFromWin32(ERROR_ACCESS_DENIED),
                 status == ERROR_ACCESS_DENIED);
    RETURN_HR_IF(DISP_E_EXCEPTION, status != ERROR_SUCCESS);
    RETURN_HR_IF(DISP_E_EXCEPTION,
                 block.current.Replace(created) != ERROR_SUCCESS);
  }

  RETURN_IF_FAILED(ReadToken());
  if (m_token[0] == kEquals) {
    RETURN_IF_FAILED(WriteValue(m_parser, *m_changes, block.current.Get(),
                                /*valueName=*/nullptr, m_token));
  }
  if (IsOpenBraceToken(m_token)) {
    RETURN_IF_FAILED(
        Walk(block.current.Get(), /*absent=*/false, block.depth + 1));
    RETURN_IF_FAILED(ReadToken());
  }
  return S_OK;
}

HRESULT BlockWalker::UnregisterKeyEntry(BlockState& block, bool deleteEntry) {
  if (!block.absent) {
    bool opened = false;
    RETURN_IF_FAILED(
        TryOpenKey(block.current, block.parent, m_token, kReadAccess, &opened));
    block.absent = !opened;
  }
  // The name is kept to delete the key by once its handle is closed; the
  // name test has made sure it fits whole.
  char keyName[kNameBufferSize];
  CopyKeyName(m_token, keyName);

  bool holdsMore = true;
  if (!block.absent) {
    RETURN_IF_FAILED(KeyHasSubkeys(block.current.Get(), &holdsMore));
    if (!holdsMore) {
      RETURN_IF_FAILED(KeyHasNamedValues(block.current.Get(), &holdsMore));
    }
  }
  if (!holdsMore) return RemoveKeyThenSkipBlock(block, keyName, deleteEntry);
  return WalkBlockThenRemoveKey(block, keyName, deleteEntry);
}

HRESULT BlockWalker::RemoveKeyThenSkipBlock(BlockState& block,
                                            const char* keyName,
                                            bool deleteEntry) {
  // Nothing the script does not name is left in it: it goes at once, and
  // its block is only read.
  RETURN_IF_FAILED(CloseAndDeleteKey(block, keyName));
  RETURN_IF_FAILED(ReadToken());
  RETURN_IF_FAILED(SkipValueClause());
  if (IsOpenBraceToken(m_token)) {
    RETURN_REFUSED_IF(m_parser, kNoBlockAfterDelete, deleteEntry);
    RETURN_IF_FAILED(Walk(nullptr, /*absent=*/true, block.depth + 1));
    RETURN_IF_FAILED(ReadToken());
  }
  return S_OK;
}

HRESULT BlockWalker::WalkBlockThenRemoveKey(BlockState& block,
                                            const char* keyName,
                                            bool deleteEntry) {
  RETURN_IF_FAILED(ReadToken());
  RETURN_IF_FAILED(SkipValueClause());
  bool walkedBlock = false;
  if (IsOpenBraceToken(m_token)) {
    RETURN_REFUSED_IF(m_parser, kNoBlockAfterDelete, deleteEntry);
    RETURN_IF_FAILED(Walk(block.current.Get(), block.absent, block.depth + 1));
    walkedBlock = true;
    if (block.absent) {
      block.absent = block.absentOnEntry;
      RETURN_IF_FAILED(ReadToken());
      return SkipValueClause();
    }
  } else if (block.absent) {
    block.absent = block.absentOnEntry;
    return S_OK;
  }

  bool hasSubkeys = false;
  RETURN_IF_FAILED(KeyHasSubkeys(block.current.Get(), &hasSubkeys));
  if (hasSubkeys) {
    // Something the script does not name is still below: the key stays.
    if (walkedBlock) RETURN_IF_FAILED(ReadToken());
    return S_OK;
  }
  RETURN_IF_FAILED(CloseAndDeleteKey(block, keyName));
  if (walkedBlock) {
    RETURN_IF_FAILED(ReadToken());
    RETURN_IF_FAILED(SkipValueClause());
  }
  return S_OK;
}

HRESULT BlockWalker::CloseAndDeleteKey(BlockState& block, const char* keyName) {
  // The walk's own handle goes first, so it does not hold the key open.
  RETURN_HR_IF(DISP_E_EXCEPTION, block.current.Close() != ERROR_SUCCESS);
  // A key the registry refuses to delete stays, as a protected one does;
  // one the registry failed to delete ends the run, which has removed what
  // it removed so far.
  if (block.deleteAllowed) {
    RETURN_IF_FAILED(FailureOfRegistry(RegDeleteKeyA(block.parent, keyName)));
  }
  return S_OK;
}

}  // namespace

HRESULT WalkKeyBlock(ScriptParser& parser, char (&token)[kTokenBufferSize],
                     HKEY parent, BOOL doRegister, BOOL absent,
                     ChangeRecorder* changes) {
  RETURN_HR_IF(E_POINTER, doRegister != FALSE && changes == nullptr);
  BlockWalker walker(parser, token, doRegister != FALSE ? changes : nullptr);
  return walker.Walk(parent, absent != FALSE, /*depth=*/1);
}
