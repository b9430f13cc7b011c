// Root key names, value type letters and never-deleted key names, searched
// in row order; the first match without regard to case wins.
#include "registrar/script_tables.h"

namespace {

const RootKeyEntry kRootKeyTable[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

const ValueTypeEntry kValueTypeTable[] = {
    {"S", VT_BSTR},
    {"D", VT_UI4},
    {"B", VT_UI1},
};

const char* const kNeverDeleteList[] = {"CLSID", "TYPELIB"};

}  // namespace

HKEY FindRootKey(const char* name) {
  for (const RootKeyEntry& entry : kRootKeyTable) {
    if (lstrcmpiA(name, entry.name) == 0) return entry.key;
  }
  return nullptr;
}

bool FindValueType(const char* letter, VARTYPE* variantType) {
  for (const ValueTypeEntry& entry : kValueTypeTable) {
    if (lstrcmpiA(letter, entry.letter) == 0) {
      *variantType = entry.variantType;
      return true;
    }
  }
  return false;
}

bool IsOnNeverDeleteList(const char* name) {
  for (const char* listed : kNeverDeleteList) {
    if (lstrcmpiA(name, listed) == 0) return true;
  }
  return false;
}
