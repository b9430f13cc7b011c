// The registry's clock and the conversions between FILETIMEs and the
// tick counts the rows keep.
#include "registry_time.h"

#include <cstdint>
#include <ctime>

namespace qxplatform {
namespace internal {
namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

}  // namespace

// The system clock at the tick the kernel last counted, as Windows stamps a
// key with its coarse system time: a few milliseconds apart at most, and a
// fraction of the cost of reading the clock exactly, which loading a large
// file would do for every key and value.
FILETIME CurrentFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  uint64_t ticks = static_cast<uint64_t>(now.tv_sec) * 10000000u +
                   static_cast<uint64_t>(now.tv_nsec) / 100 +
                   kUnixEpochAsFileTime;
  return FileTimeOf(static_cast<long long>(ticks));
}

long long FileTimeTicks(FILETIME time) {
  return static_cast<long long>(
      (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

FILETIME FileTimeOf(long long ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return time;
}

}  // namespace internal
}  // namespace qxplatform
