// Owner of at most one open registry key handle, for the walk: unlike a
// plain scoped handle it reports whether closing the key it gives up worked,
// since a key that cannot be closed fails a script run.
#pragma once
#include <windows.h>

#include "base/holders.h"

class KeyHolder {
 public:
  KeyHolder() = default;
  // A key still held when the walk leaves a block, on success or failure,
  // is closed the same way as one given up on purpose, retry included, so
  // no way out leaves a handle open.
  ~KeyHolder() { Close(); }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;

  HKEY Get() const { return m_key.get(); }

  // Stores key after closing the key held before; the status of that close
  // (ERROR_SUCCESS when there was nothing to close).
  LSTATUS Replace(HKEY key);

  // Closes the held key, if any, and reports how that went (a failed close
  // is tried once more before it is reported). The holder is empty
  // afterwards either way.
  LSTATUS Close();

 private:
  UniqueRegKey m_key;
};

// Opens the subkey name under parent with the given access. On success the
// holder's previous key is closed, the new handle stored, and the status of
// that close returned; on failure the open's error is returned and the
// holder keeps what it had.
LSTATUS OpenKeyInto(KeyHolder& holder, HKEY parent, const char* name,
                    REGSAM access);
