// The changes register mode makes to the registry, each recorded in the run's
// undo log before it is made: creating a key, setting a value (after reading
// what the value held), removing a key with everything below it (after
// reading, key by key, what each held). A change whose record cannot be had
// fails with E_OUTOFMEMORY and is not made; a change the registry refuses
// for what it is is passed over as the walk passes over it, and its record
// forgotten. A registry that fails (IsRegistryFailure) at any read or write
// fails the change with HRESULT_FROM_WIN32 of its status, the change not
// made and its record forgotten, so the caller takes the block back.
#pragma once
#include <windows.h>

#include "base/allocator.h"

class KeyPath;
class UndoLog;

// Where register mode keeps what it needs to take its changes back: the
// allocator for passing copies, the run's undo log, and the path of the key
// the walk is at.
struct ChangeRecorder {
  const Allocator& allocator;
  UndoLog& log;
  KeyPath& path;
};

// Creates name under parent (full access, not volatile); changes.path is
// the new key's path. *key is the key and *status the registry's answer.
// Only a key the call made is recorded; one that was there already is not
// the run's to take back.
[[nodiscard]] HRESULT CreateKeyRecorded(ChangeRecorder& changes, HKEY parent,
                                        const char* name, HKEY* key,
                                        LSTATUS* status);

// Sets valueName (null: the default value) of key, whose path is
// changes.path, to type and data; what it held, or that it was not there,
// is recorded first. A value whose present state the registry refuses to
// read is left as it is, as one it refuses to write is.
[[nodiscard]] HRESULT SetValueRecorded(ChangeRecorder& changes, HKEY key,
                                       const char* valueName, DWORD type,
                                       const BYTE* data, DWORD size);

// Removes the subkey name of parent (whose path is changes.path) and
// everything below it, depth first, each key's values recorded before the
// key goes. A key the registry refuses to open, list or delete stops the
// removal, which is not reported: what could not be removed stays, and so
// does a key whose values could not all be read.
[[nodiscard]] HRESULT RemoveKeyTreeRecorded(ChangeRecorder& changes,
                                            HKEY parent, const char* name);
