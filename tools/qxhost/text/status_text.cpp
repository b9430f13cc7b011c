// A status as eight hex digits, the form the system's own tools print.
#include "tools/qxhost/text/status_text.h"

#include <cstdio>

namespace qxhost {

std::string StatusText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

const char* RegistryFailureWords(HRESULT hr) {
  if (HRESULT_FACILITY(hr) != FACILITY_WIN32 || SUCCEEDED(hr)) return nullptr;
  switch (HRESULT_CODE(hr)) {
    case ERROR_LOCK_VIOLATION:
      return "another program holds the registry's write lock and did not "
             "let go within the registry's wait";
    case ERROR_BADDB:
    case ERROR_REGISTRY_CORRUPT:
      return "the registry database is damaged";
    case ERROR_DISK_FULL:
      return "the disk holding the registry is full";
    case ERROR_REGISTRY_IO_FAILED:
    case ERROR_CANTREAD:
    case ERROR_CANTWRITE:
    case ERROR_CANTOPEN:
      return "the registry database could not be read or written";
    default:
      return nullptr;
  }
}

}  // namespace qxhost
