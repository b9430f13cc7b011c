// Times as the registry stamps and keeps them: a key's last write time is
// a FILETIME, kept in its row as the FILETIME's 64-bit tick count.
#pragma once
#include <windows.h>

namespace qxplatform {
namespace internal {

FILETIME CurrentFileTime();
long long FileTimeTicks(FILETIME time);
FILETIME FileTimeOf(long long ticks);

}  // namespace internal
}  // namespace qxplatform
