// The registry's ANSI entry points. Names and string data arrive in the ANSI
// code page and are kept as UTF-16, as Windows keeps them; paths are split on
// backslashes only after conversion, so a double-byte character whose trail
// byte is 0x5C stays one level.
//
// Choices where Windows leaves room or where the store is simpler than a
// real hive:
// - HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG and HKEY_DYN_DATA have no tree
//   here: every operation on them answers ERROR_INVALID_HANDLE (closing them
//   succeeds, as closing any predefined key does).
// - RegDeleteKeyA never deletes the key its handle names: an empty subkey
//   name is ERROR_ACCESS_DENIED (as deleting a root is), a null one
//   ERROR_INVALID_PARAMETER.
// - Creating a key requires KEY_CREATE_SUB_KEY on the handle it is created
//   through whenever a level is missing; opening an existing key through
//   RegCreateKeyExA does not.
// - RegQueryInfoKeyA reports the longest names in ANSI bytes, which is what
//   a caller of the ANSI entry points must allocate; the longest data is the
//   stored size, never smaller than what a query returns.
// - A subkey path that starts with a backslash or holds an empty level is
//   ERROR_BAD_PATHNAME (161); a trailing backslash is ignored.
// - Failures set *phkResult to null.
// - HKEY_CLASSES_ROOT is the merged view of the user's and the machine's
//   classes (registry_view.h); RegOverridePredefKey maps it (or
//   HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS) onto an open key for
//   the whole process. As a standard user (a test control) every write to
//   HKEY_LOCAL_MACHINE's tree, and every open of it for writing, is
//   ERROR_ACCESS_DENIED.
// - A key or value name .reg text could not carry (a line break or an
//   unpaired surrogate in it) is ERROR_INVALID_PARAMETER when it would be
//   made, by the rule the text writer and reader share, so that every
//   registry can be exported and imported again. Windows takes such names.
// - Each call that changes the registry is one transaction of its database,
//   durable when the call returns; one that cannot get to write within the
//   database's busy timeout fails with ERROR_LOCK_VIOLATION, and a failed
//   database step with the status StatusOfSqlite gives it.
#include <algorithm>
#include <cstring>

#include "registry_enum.h"
#include "registry_store.h"
#include "registry_text.h"
#include "registry_view.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr REGSAM kGenericExecute = 0x20000000L;
constexpr REGSAM kKnownRights = KEY_ALL_ACCESS;
constexpr DWORD kKnownCreateOptions = REG_OPTION_VOLATILE;

// The handle as the caller gave it, resolved inside the door's transaction:
// its key's row (checked to be there still) and its record, which holds the
// enumeration cursors.
struct OpenKey {
  KeyInfo key;
  REGSAM granted = 0;
  KeyHandle* record = nullptr;
  RootId tree = RootId::kLocalMachine;
  bool isView = false;
  ViewKey view;
};

// HKEY_CLASSES_ROOT's own keys are looked up afresh at each call: the
// classes keys of either tree may come or go.
LSTATUS ResolveViewRoot(RegistryReader& door, OpenKey* open) {
  LSTATUS status = ViewRoot(door.db(), &open->view);
  if (status != ERROR_SUCCESS) return status;
  open->isView = true;
  open->tree = open->view.Tree();
  open->key = open->view.Shown();
  return ERROR_SUCCESS;
}

// A root's row always exists: it is read only when the call needs what
// it holds (withRow), which also starts the transaction's snapshot before
// an enumeration checks its cursor.
LSTATUS Resolve(RegistryReader& door, HKEY handle, OpenKey* open,
                bool withRow) {
  KeyHandle* found = nullptr;
  if (const RootInfo* root = FindRootByHandle(handle)) {
    found = door.handles().Override(root->id);
    if (found == nullptr) {
      open->record = &door.handles().Root(root->id);
      open->granted = KEY_ALL_ACCESS;
      if (root->id == RootId::kClassesRoot)
        return ResolveViewRoot(door, open);
      open->tree = root->id;
      open->key = RootKey(root->id);
      return withRow ? LoadKey(door.db(), open->key.id, &open->key)
                     : ERROR_SUCCESS;
    }
  } else {
    found = door.handles().Find(handle);
  }
  if (found == nullptr) return ERROR_INVALID_HANDLE;
  if (!door.handles().IsCurrent(*found)) return ERROR_KEY_DELETED;
  open->granted = found->granted;
  open->record = found;
  if (found->isView && found->view.isRoot) return ResolveViewRoot(door, open);
  open->tree = found->tree;
  open->isView = found->isView;
  open->view = found->view;
  LSTATUS status = LoadKey(door.db(), found->key, &open->key);
  // Another call, of this process or another, deleted the key.
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_KEY_DELETED;
  return status;
}

// The door's transaction began, then the key handle names, which the call
// needs these rights on (none: whatever it was opened with).
LSTATUS OpenHandle(RegistryReader& door, HKEY handle, REGSAM needed,
                   OpenKey* open, bool withRow = false) {
  LSTATUS status = door.status();
  if (status == ERROR_SUCCESS) status = Resolve(door, handle, open, withRow);
  if (status != ERROR_SUCCESS) return status;
  return (open->granted & needed) == needed ? ERROR_SUCCESS
                                            : ERROR_ACCESS_DENIED;
}


// Generic rights mapped to key rights; *maximum tells whether the caller
// asked for whatever the key allows.
REGSAM MapRights(REGSAM desired, bool* maximum) {
  *maximum = (desired & MAXIMUM_ALLOWED) != 0;
  REGSAM rights = desired & kKnownRights;
  if (desired & GENERIC_READ) rights |= KEY_READ;
  if (desired & GENERIC_WRITE) rights |= KEY_WRITE;
  if (desired & kGenericExecute) rights |= KEY_EXECUTE;
  if (desired & GENERIC_ALL) rights |= KEY_ALL_ACCESS;
  return rights;
}

// The rights an open of an existing key of tree gets, or
// ERROR_ACCESS_DENIED.
LSTATUS GrantRights(const RegistryReader& door, KeyId key, RootId tree,
                    REGSAM desired, REGSAM* granted) {
  bool maximum = false;
  REGSAM rights = MapRights(desired, &maximum);
  bool denyWrite = door.IsDenied(key) || door.WriteDenied(tree);
  if (denyWrite && (rights & ~static_cast<REGSAM>(KEY_READ)) != 0)
    return ERROR_ACCESS_DENIED;
  if (maximum) rights |= denyWrite ? KEY_READ : KEY_ALL_ACCESS;
  *granted = rights;
  return ERROR_SUCCESS;
}

// The rights a key RegCreateKeyExA made is opened with.
REGSAM RightsOfNewKey(REGSAM desired) {
  bool maximum = false;
  REGSAM rights = MapRights(desired, &maximum);
  return maximum ? rights | KEY_ALL_ACCESS : rights;
}

// Makes the levels from `first` on below *key, which becomes the last one
// made, in the door's transaction. Everything is checked before anything is made, so a
// refused create leaves no partial path behind.
LSTATUS MakeMissingLevels(RegistryWriter& door, REGSAM parentRights,
                          RootId tree, const KeyLevels& levels, size_t first,
                          bool makeVolatile, KeyInfo* key) {
  if ((parentRights & KEY_CREATE_SUB_KEY) == 0 || door.WriteDenied(tree))
    return ERROR_ACCESS_DENIED;
  LSTATUS status =
      door.keys().CheckNewKeys(*key, levels.size() - first, makeVolatile);
  for (size_t i = first; status == ERROR_SUCCESS && i < levels.size(); ++i) {
    KeyInfo added;
    status = door.keys().AddSubkey(*key, levels[i], makeVolatile, &added);
    if (status == ERROR_SUCCESS) *key = added;
  }
  return status;
}

// Makes the levels from `first` on below a key of the classes view, in the
// tree the view sends them to (registry_view.h); *made gets the last key
// as a key of the view. The machine's classes key is made first when it is
// missing too.
LSTATUS MakeMissingViewLevels(RegistryWriter& door, REGSAM parentRights,
                              const ViewKey& deepest, const KeyLevels& levels,
                              size_t first, bool makeVolatile, ViewKey* made) {
  const RootId tree = deepest.Tree();
  KeyInfo key = deepest.Shown();
  LSTATUS status = ERROR_SUCCESS;
  if (key.id == 0) {
    // The classes key itself lasts, whatever the key asked for below it.
    KeyLevels classes;
    classes.push_back(kMachineSoftwareLevel);
    classes.push_back(kClassesLevel);
    size_t existing = 0;
    status = FindExisting(door.db(), RootKey(RootId::kLocalMachine), classes,
                          &key, &existing);
    if (status == ERROR_SUCCESS)
      status = MakeMissingLevels(door, parentRights, tree, classes, existing,
                                 /*makeVolatile=*/false, &key);
  }
  if (status == ERROR_SUCCESS && first < levels.size())
    status = MakeMissingLevels(door, parentRights, tree, levels, first,
                               makeVolatile, &key);
  if (status != ERROR_SUCCESS) return status;
  *made = ViewKey();
  (tree == RootId::kCurrentUser ? made->user : made->machine) = key;
  return ERROR_SUCCESS;
}

// The key a write to an open key's values goes to: for the view's root
// with no machine's classes yet, the machine's classes key, made now.
LSTATUS KeyForValues(RegistryWriter& door, OpenKey* open) {
  if (door.WriteDenied(open->tree)) return ERROR_ACCESS_DENIED;
  if (open->key.id != 0) return ERROR_SUCCESS;
  ViewKey made;
  LSTATUS status = MakeMissingViewLevels(door, KEY_CREATE_SUB_KEY, open->view,
                                         KeyLevels(), 0, false, &made);
  if (status == ERROR_SUCCESS) open->key = made.machine;
  return status;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Converts piece by piece between zeros, so embedded and terminating zeros
// survive whatever the code page converter does with them.
std::u16string AnsiBytesToWide(const BYTE* data, DWORD size) {
  std::u16string result;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\0', start);
    if (end == std::string_view::npos) end = text.size();
    result += AnsiToWide(text.substr(start, end - start));
    if (end == text.size()) break;
    result.push_back(u'\0');
    start = end + 1;
  }
  return result;
}

std::string WideToAnsiBytes(std::u16string_view text) {
  std::string result;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\0', start);
    if (end == std::u16string_view::npos) end = text.size();
    result += WideToAnsi(text.substr(start, end - start));
    if (end == text.size()) break;
    result.push_back('\0');
    start = end + 1;
  }
  return result;
}

// True when every unit of the stored UTF-16 bytes is ASCII, which both ANSI
// code pages carry as one byte each.
bool IsAsciiData(const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 1 < size; i += 2) {
    if (data[i] >= 0x80 || data[i + 1] != 0) return false;
  }
  return true;
}

bool IsAscii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::vector<uint8_t> WideToBytes(const std::u16string& text) {
  std::vector<uint8_t> bytes(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return bytes;
}

std::u16string BytesToWide(const uint8_t* bytes, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return text;
}

// Hands data out the way RegQueryValueExA and RegEnumValueA do: a null
// buffer asks for the size, a small one gets ERROR_MORE_DATA and the size.
LSTATUS CopyBytes(const uint8_t* data, size_t length, LPBYTE buffer,
                  LPDWORD size) {
  DWORD available = *size;
  *size = static_cast<DWORD>(length);
  if (buffer == nullptr) return ERROR_SUCCESS;
  if (length > available) return ERROR_MORE_DATA;
  if (length != 0) std::memcpy(buffer, data, length);
  return ERROR_SUCCESS;
}

// The data as the ANSI entry points hand it out. Strings are stored as
// UTF-16 and converted only as far as the caller asks: ASCII text is measured
// and narrowed in place, anything else converted once.
LSTATUS CopyExternalData(const StoredValue& value, LPBYTE buffer,
                         LPDWORD size) {
  if (size == nullptr) return ERROR_SUCCESS;
  const uint8_t* data = value.Data();
  if (!IsStringType(value.Type()))
    return CopyBytes(data, value.Size(), buffer, size);
  if (IsAsciiData(data, value.Size())) {
    size_t length = value.Size() / 2;
    DWORD available = *size;
    *size = static_cast<DWORD>(length);
    if (buffer == nullptr) return ERROR_SUCCESS;
    if (length > available) return ERROR_MORE_DATA;
    for (size_t i = 0; i < length; ++i) buffer[i] = data[2 * i];
    return ERROR_SUCCESS;
  }
  std::string ansi = WideToAnsiBytes(BytesToWide(data, value.Size()));
  return CopyBytes(reinterpret_cast<const uint8_t*>(ansi.data()), ansi.size(),
                   buffer, size);
}

// A name or path from the ANSI entry points as UTF-16. ASCII text, which
// both code pages carry unchanged and which nearly every name is, is widened
// into a buffer on the stack; anything else goes through the code page. A
// null name reads as an empty one.
class WideName {
 public:
  explicit WideName(LPCSTR text) {
    if (text == nullptr) return;
    size_t length = 0;
    for (; text[length] != '\0'; ++length) {
      auto c = static_cast<unsigned char>(text[length]);
      if (c >= 0x80 || length == kInlineUnits) {
        m_converted = AnsiToWide(text);
        m_view = m_converted;
        return;
      }
      m_inline[length] = c;
    }
    m_view = std::u16string_view(m_inline, length);
  }
  WideName(const WideName&) = delete;
  WideName& operator=(const WideName&) = delete;

  std::u16string_view View() const { return m_view; }

 private:
  static constexpr size_t kInlineUnits = 260;
  char16_t m_inline[kInlineUnits];
  std::u16string m_converted;
  std::u16string_view m_view;
};

// Copies a name into a caller's buffer of *length characters including the
// terminator; on success *length is the name's length without it. ASCII
// names, nearly all of them, are narrowed straight into the buffer.
LSTATUS CopyName(std::u16string_view name, LPSTR buffer, LPDWORD length) {
  if (IsAscii(name)) {
    if (static_cast<uint64_t>(name.size()) + 1 > *length)
      return ERROR_MORE_DATA;
    for (size_t i = 0; i < name.size(); ++i)
      buffer[i] = static_cast<char>(name[i]);
    buffer[name.size()] = '\0';
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
  }
  std::string ansi = WideToAnsi(name);
  if (static_cast<uint64_t>(ansi.size()) + 1 > *length) return ERROR_MORE_DATA;
  std::memcpy(buffer, ansi.data(), ansi.size());
  buffer[ansi.size()] = '\0';
  *length = static_cast<DWORD>(ansi.size());
  return ERROR_SUCCESS;
}

// A subkey path below the key a handle names, as the calls that take one
// begin: the handle's key, whatever rights it was opened with, and the
// levels, views into the caller's name.
struct SubkeyPath {
  OpenKey parent;
  KeyLevels levels;
};
LSTATUS OpenPath(RegistryReader& door, HKEY handle, const WideName& name,
                 SubkeyPath* path) {
  LSTATUS status = OpenHandle(door, handle, /*needed=*/0, &path->parent);
  return status == ERROR_SUCCESS ? SplitKeyPath(name.View(), &path->levels)
                                 : status;
}

}  // namespace
}  // namespace internal
}  // namespace qxplatform

using namespace qxplatform::internal;

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                             REGSAM samDesired, PHKEY phkResult) {
  (void)ulOptions;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  WideName name(lpSubKey);
  RegistryReader door;
  SubkeyPath path;
  LSTATUS status = OpenPath(door, hKey, name, &path);
  if (status != ERROR_SUCCESS) return status;
  KeyInfo key;
  RootId tree = path.parent.tree;
  ViewKey view;
  if (path.parent.isView) {
    status = ViewFindPath(door.db(), path.parent.view, path.levels, &view);
    key = view.Shown();
    tree = view.Tree();
  } else {
    status = FindPath(door.db(), path.parent.key, path.levels, &key);
  }
  if (status != ERROR_SUCCESS) return status;
  REGSAM granted = 0;
  status = GrantRights(door, key.id, tree, samDesired, &granted);
  if (status != ERROR_SUCCESS) return status;
  *phkResult = door.handles().Add(key.id, granted, tree,
                                  path.parent.isView ? &view : nullptr);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved,
                               LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition) {
  (void)Reserved;
  (void)lpClass;
  (void)lpSecurityAttributes;
  RegistryStore& store = RegistryStore::Instance();
  bool injectedFailure = store.CreateShouldFail();
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  if (injectedFailure) return ERROR_CANTWRITE;
  if ((dwOptions & ~kKnownCreateOptions) != 0) return ERROR_INVALID_PARAMETER;
  WideName name(lpSubKey);
  RegistryWriter door(store);
  SubkeyPath path;
  LSTATUS status = OpenPath(door, hKey, name, &path);
  if (status == ERROR_SUCCESS) status = door.keys().CheckNames(path.levels);
  if (status != ERROR_SUCCESS) return status;
  const KeyLevels& levels = path.levels;
  const bool makeVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
  const bool isView = path.parent.isView;
  KeyInfo key;
  RootId tree = path.parent.tree;
  ViewKey view;
  size_t existing = 0;
  status = isView ? ViewFindExisting(door.db(), path.parent.view, levels,
                                     &view, &existing)
                  : FindExisting(door.db(), path.parent.key, levels, &key,
                                 &existing);
  if (status != ERROR_SUCCESS) return status;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  REGSAM granted = 0;
  if (existing == levels.size()) {
    if (isView) {
      key = view.Shown();
      tree = view.Tree();
    }
    status = GrantRights(door, key.id, tree, samDesired, &granted);
  } else {
    disposition = REG_CREATED_NEW_KEY;
    granted = RightsOfNewKey(samDesired);
    if (isView) {
      status = MakeMissingViewLevels(door, path.parent.granted, view, levels,
                                     existing, makeVolatile, &view);
      key = view.Shown();
      tree = view.Tree();
    } else {
      status = MakeMissingLevels(door, path.parent.granted, tree, levels,
                                 existing, makeVolatile, &key);
    }
    if (status == ERROR_SUCCESS) status = door.Commit();
  }
  if (status != ERROR_SUCCESS) return status;
  if (lpdwDisposition != nullptr) *lpdwDisposition = disposition;
  *phkResult = door.handles().Add(key.id, granted, tree,
                                  isView ? &view : nullptr);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (FindRootByHandle(hKey) != nullptr || hKey == HKEY_PERFORMANCE_DATA ||
      hKey == HKEY_CURRENT_CONFIG || hKey == HKEY_DYN_DATA)
    return ERROR_SUCCESS;
  return RegistryStore::Instance().CloseHandle(hKey);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  WideName name(lpSubKey);
  RegistryWriter door;
  SubkeyPath path;
  LSTATUS status = OpenPath(door, hKey, name, &path);
  if (status != ERROR_SUCCESS) return status;
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  if (path.levels.empty()) return ERROR_ACCESS_DENIED;
  std::u16string_view last = path.levels.back();
  path.levels.pop_back();
  KeyInfo owner;
  KeyInfo key;
  RootId tree = path.parent.tree;
  if (path.parent.isView) {
    // The key the view shows goes, from the tree it lies in.
    ViewKey viewOwner;
    ViewKey target;
    status = ViewFindPath(door.db(), path.parent.view, path.levels,
                          &viewOwner);
    if (status == ERROR_SUCCESS)
      status = ViewSubkey(door.db(), viewOwner, last, &target);
    if (status != ERROR_SUCCESS) return status;
    tree = target.Tree();
    key = target.Shown();
    owner = tree == RootId::kCurrentUser ? viewOwner.user : viewOwner.machine;
  } else {
    status = FindPath(door.db(), path.parent.key, path.levels, &owner);
    if (status == ERROR_SUCCESS)
      status = FindSubkey(door.db(), owner, last, &key);
    if (status != ERROR_SUCCESS) return status;
  }
  if (door.WriteDenied(tree)) return ERROR_ACCESS_DENIED;
  bool hasSubkeys = false;
  status = HasSubkeys(door.db(), key.id, &hasSubkeys);
  if (status != ERROR_SUCCESS) return status;
  if (hasSubkeys) return ERROR_ACCESS_DENIED;
  status = door.keys().DeleteTree(key.id);
  if (status == ERROR_SUCCESS) status = TouchKey(door.db(), owner.id);
  if (status != ERROR_SUCCESS) return status;
  return door.Commit();
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  WideName name(lpValueName);
  RegistryWriter door;
  OpenKey open;
  LSTATUS status = OpenHandle(door, hKey, KEY_SET_VALUE, &open);
  if (status != ERROR_SUCCESS) return status;
  if (door.WriteDenied(open.tree)) return ERROR_ACCESS_DENIED;
  status = DeleteValue(door.db(), open.key.id, name.View());
  if (status != ERROR_SUCCESS) return status;
  return door.Commit();
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName,
                             LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime) {
  RegistryReader door;
  OpenKey open;
  LSTATUS status =
      OpenHandle(door, hKey, KEY_ENUMERATE_SUB_KEYS, &open, /*withRow=*/true);
  if (status != ERROR_SUCCESS) return status;
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr ||
      (lpClass != nullptr && lpcchClass == nullptr))
    return ERROR_INVALID_PARAMETER;
  SubkeyEntry subkey;
  status = open.isView ? ViewSubkeyAt(door, open.view, dwIndex,
                                      &open.record->subkeys, &subkey)
                       : SubkeyAt(door, open.key.id, dwIndex,
                                  &open.record->subkeys, &subkey);
  if (status != ERROR_SUCCESS) return status;
  if (lpClass != nullptr && *lpcchClass < 1) return ERROR_MORE_DATA;
  status = CopyName(subkey.name, lpName, lpcchName);
  if (status != ERROR_SUCCESS) return status;
  if (lpClass != nullptr) {
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = subkey.lastWrite;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                             LPDWORD lpcchValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  RegistryReader door;
  OpenKey open;
  LSTATUS status =
      OpenHandle(door, hKey, KEY_QUERY_VALUE, &open, /*withRow=*/true);
  if (status != ERROR_SUCCESS) return status;
  if (lpValueName == nullptr || lpcchValueName == nullptr ||
      lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
    return ERROR_INVALID_PARAMETER;
  RegValue found;
  status = ValueAt(door, open.key.id, dwIndex, &open.record->values, &found);
  if (status != ERROR_SUCCESS) return status;
  StoredValue value(found.name, found.type, found.data.data(),
                    found.data.size());
  status = CopyName(value.Name(), lpValueName, lpcchValueName);
  if (status != ERROR_SUCCESS) return status;
  if (lpType != nullptr) *lpType = value.Type();
  return CopyExternalData(value, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryInfoKeyA(
    HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
    LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  RegistryReader door;
  OpenKey open;
  LSTATUS status =
      OpenHandle(door, hKey, KEY_QUERY_VALUE, &open, /*withRow=*/true);
  if (status != ERROR_SUCCESS) return status;
  if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr))
    return ERROR_INVALID_PARAMETER;
  if (lpClass != nullptr && *lpcchClass < 1) return ERROR_MORE_DATA;
  KeyCounts counts;
  status = open.isView ? CountViewKey(door.db(), open.view, &counts)
                       : CountKey(door.db(), open.key.id, &counts);
  if (status != ERROR_SUCCESS) return status;
  if (lpClass != nullptr) lpClass[0] = '\0';
  if (lpcchClass != nullptr) *lpcchClass = 0;
  if (lpcSubKeys != nullptr) *lpcSubKeys = counts.subkeys;
  if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = counts.longestSubkeyName;
  if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
  if (lpcValues != nullptr) *lpcValues = counts.values;
  if (lpcbMaxValueNameLen != nullptr)
    *lpcbMaxValueNameLen = counts.longestValueName;
  if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = counts.longestData;
  if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = open.key.lastWrite;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName,
                                LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  WideName name(lpValueName);
  RegistryReader door;
  OpenKey open;
  LSTATUS status = OpenHandle(door, hKey, KEY_QUERY_VALUE, &open);
  if (status != ERROR_SUCCESS) return status;
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
    return ERROR_INVALID_PARAMETER;
  RegValue found;
  status = ReadValue(door.db(), open.key.id, name.View(), &found);
  if (status != ERROR_SUCCESS) return status;
  StoredValue value(found.name, found.type, found.data.data(),
                    found.data.size());
  if (lpType != nullptr) *lpType = value.Type();
  return CopyExternalData(value, lpData, lpcbData);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved,
                              DWORD dwType, const BYTE* lpData, DWORD cbData) {
  (void)Reserved;
  WideName name(lpValueName);
  RegistryWriter door;
  OpenKey open;
  LSTATUS status = OpenHandle(door, hKey, KEY_SET_VALUE, &open);
  if (status != ERROR_SUCCESS) return status;
  if ((lpData == nullptr && cbData != 0) ||
      name.View().size() > kMaxValueNameLength || !IsWritableName(name.View()))
    return ERROR_INVALID_PARAMETER;
  status = KeyForValues(door, &open);
  if (status != ERROR_SUCCESS) return status;
  if (IsStringType(dwType)) {
    std::vector<uint8_t> bytes = WideToBytes(AnsiBytesToWide(lpData, cbData));
    status = SetValue(door.db(), open.key.id, name.View(), dwType,
                      bytes.data(), bytes.size());
  } else {
    status =
        SetValue(door.db(), open.key.id, name.View(), dwType, lpData, cbData);
  }
  if (status != ERROR_SUCCESS) return status;
  return door.Commit();
}

LSTATUS WINAPI RegOverridePredefKey(HKEY hKey, HKEY hNewHKey) {
  const RootInfo* root = FindRootByHandle(hKey);
  if (root == nullptr) return ERROR_INVALID_HANDLE;
  RegistryReader door;
  LSTATUS status = door.status();
  if (status != ERROR_SUCCESS) return status;
  if (hNewHKey == nullptr) {
    door.handles().SetOverride(root->id, nullptr);
    return ERROR_SUCCESS;
  }
  // What hNewHKey stands for now is kept, as a handle of its own: closing
  // hNewHKey afterwards leaves the mapping as it is.
  OpenKey open;
  status = OpenHandle(door, hNewHKey, /*needed=*/0, &open);
  if (status != ERROR_SUCCESS) return status;
  KeyHandle target;
  target.key = open.key.id;
  target.granted = open.granted;
  target.tree = open.tree;
  target.isView = open.isView;
  target.view = open.view;
  door.handles().SetOverride(root->id, &target);
  return ERROR_SUCCESS;
}
