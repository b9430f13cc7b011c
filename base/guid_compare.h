// Identifier comparison as the library does it everywhere: a GUID is equal
// to another when its four 32-bit words are.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string.h>

inline bool IsSameGuid(const GUID& left, const GUID& right) {
  static_assert(sizeof(GUID) == 4 * sizeof(DWORD), "a GUID is four words");
  DWORD leftWords[4];
  DWORD rightWords[4];
  memcpy(leftWords, &left, sizeof(leftWords));
  memcpy(rightWords, &right, sizeof(rightWords));
  return leftWords[0] == rightWords[0] && leftWords[1] == rightWords[1] &&
         leftWords[2] == rightWords[2] && leftWords[3] == rightWords[3];
}
