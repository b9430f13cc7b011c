// The registrar's constant tables: the root key names a script may start a
// block with, the value type letters, and the key names that are never
// deleted by force.
#pragma once
#include <windows.h>
#include <oleauto.h>

struct RootKeyEntry {
  const char* name;
  HKEY key;
};

struct ValueTypeEntry {
  const char* letter;
  VARTYPE variantType;
};

// The predefined key the name stands for, without regard to case; null when
// the name is not a root key name.
HKEY FindRootKey(const char* name);

// The variant type a type letter stands for, without regard to case. False,
// and *variantType untouched, when the letter is not in the table.
bool FindValueType(const char* letter, VARTYPE* variantType);

// True for a key name no "ForceRemove" or "Delete" may remove, at any depth.
bool IsOnNeverDeleteList(const char* name);
